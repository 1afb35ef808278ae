#include "FtpServer.h"
#include "FtpTestKit.h"
#include "HostUIRecorder.h"
#include "IdFTP.h"
#include "IdSimpleServer.h"
#include "ScriptedPeer.h"
#include "TlsFtpServers.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vantari {
namespace {

using test::FileBytes;
using test::PatternBytes;
using test::PutFile;
using test::TFtpServer;
using test::TScratchDir;

// A logged-in client of a real server, with the application's buffer sizes.
class IdFTPTransfer : public ::testing::Test {
protected:
  void Open(bool passive) {
    test::PointAt(Ftp, Server);
    Ftp.SetRecvBufferSize(8192);
    Ftp.SetSendBufferSize(1024);
    Ftp.SetPassive(passive);
    Ftp.OpenSession(true, -1);
  }
  void TearDown() override { Ftp.CloseSession(); }

  test::TWorkLog Log;
  std::vector<std::string> Statuses;
  TFtpServer Server;
  TScratchDir Local;
  TIdFTP Ftp;
};

struct TRoundTrip {
  bool Passive;
  size_t Size;
  friend void PrintTo(const TRoundTrip &trip, std::ostream *out) {
    *out << (trip.Passive ? "passive, " : "active, ") << trip.Size << " bytes";
  }
};

class IdFTPRoundTrip : public IdFTPTransfer, public ::testing::WithParamInterface<TRoundTrip> {};

TEST_P(IdFTPRoundTrip, UploadThenDownloadGivesTheSameBytes) {
  const std::string data = PatternBytes(GetParam().Size, 7);
  PutFile(Local.PathOf("out.bck"), data);
  Open(GetParam().Passive);
  Ftp.UploadFile(Local.PathOf("out.bck"), "member.bck", false);
  EXPECT_TRUE(Server.ReadFile("member.bck") == data) << "server copy differs";
  EXPECT_EQ(Ftp.RemoteFileSize("member.bck"), static_cast<int32_t>(data.size()));
  Ftp.DownloadFile("member.bck", Local.PathOf("in.bck"), true, false);
  EXPECT_TRUE(FileBytes(Local.PathOf("in.bck")) == data) << "downloaded copy differs";
  EXPECT_EQ(Ftp.DataChannel(), nullptr);
  EXPECT_TRUE(Ftp.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(ModesAndSizes, IdFTPRoundTrip,
                         ::testing::Values(TRoundTrip{false, 0}, TRoundTrip{false, 1000},
                                           TRoundTrip{false, 50u << 20}, TRoundTrip{true, 0},
                                           TRoundTrip{true, 1000}, TRoundTrip{true, 50u << 20}),
                         [](const auto &info) {
                           return std::string(info.param.Passive ? "Passive" : "Active") +
                                  std::to_string(info.param.Size);
                         });

TEST_F(IdFTPTransfer, OverwriteReplacesALongerLocalFileAndNoFlagKeepsIt) {
  Server.WriteFile("member.bck", "12345");
  PutFile(Local.PathOf("member.bck"), "old content");
  Open(false);
  Ftp.DownloadFile("member.bck", Local.PathOf("member.bck"), true, false);
  EXPECT_EQ(FileBytes(Local.PathOf("member.bck")), "12345");
  EXPECT_FALSE(Ftp.RestartTested()) << "no restart probe without resume";
  PutFile(Local.PathOf("member.bck"), "kept");
  EXPECT_THROW(Ftp.DownloadFile("member.bck", Local.PathOf("member.bck"), false, false),
               EIdFTPFileAlreadyExists);
  EXPECT_EQ(FileBytes(Local.PathOf("member.bck")), "kept");
}

TEST_F(IdFTPTransfer, ResumeAppendsTheMissingPartAfterProbingOnce) {
  const std::string data = PatternBytes(3000, 3);
  Server.WriteFile("member.bck", data);
  PutFile(Local.PathOf("member.bck"), data.substr(0, 1000));
  Open(false);
  Ftp.DownloadFile("member.bck", Local.PathOf("member.bck"), false, true);
  EXPECT_TRUE(Ftp.RestartSupported());
  EXPECT_TRUE(FileBytes(Local.PathOf("member.bck")) == data);

  PutFile(Local.PathOf("part.bck"), data.substr(0, 2999));
  Ftp.SetPassive(true);
  Ftp.DownloadFile("member.bck", Local.PathOf("part.bck"), false, true);
  EXPECT_TRUE(FileBytes(Local.PathOf("part.bck")) == data);
}

TEST_F(IdFTPTransfer, AppendAddsToTheServerFile) {
  Server.WriteFile("member.bck", "abc");
  Open(true);
  TMemoryStream tail(std::vector<uint8_t>{'d', 'e', 'f'});
  Ftp.UploadFromStream(tail, "member.bck", true);
  EXPECT_EQ(Server.ReadFile("member.bck"), "abcdef");
}

TEST_F(IdFTPTransfer, RefusedDownloadLeavesTheSessionUsable) {
  Open(false);
  try {
    Ftp.DownloadFile("absent.bck", Local.PathOf("absent.bck"), true, false);
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError &e) {
    EXPECT_EQ(e.ReplyErrorCode(), 550);
  }
  EXPECT_EQ(FileBytes(Local.PathOf("absent.bck")), "");
  Server.WriteFile("member.bck", "abc");
  EXPECT_EQ(Ftp.RemoteFileSize("member.bck"), 3);
}

TEST_F(IdFTPTransfer, DownloadWorkIsCountedPerChunkConsumedByTheDataConnection) {
  Server.WriteFile("member.bck", PatternBytes(100000));
  Open(false);
  Log.Attach(Ftp);
  Ftp.OnStatus = [this](TIdComponent *, TIdStatus, const std::string &text) {
    Statuses.push_back(text);
  };
  Ftp.DownloadFile("member.bck", Local.PathOf("member.bck"), true, false);
  ASSERT_GE(Log.Entries.size(), 2u);
  EXPECT_EQ(Log.Entries.front().Kind, "begin");
  EXPECT_EQ(Log.Entries.front().Mode, wmRead);
  EXPECT_EQ(Log.Entries.front().Value, 0);
  EXPECT_NE(Log.Entries.front().Sender, &Ftp) << "the data connection raises the events";
  std::vector<int32_t> expected;
  for (int32_t n = 8192; n <= 100000; n += 8192)
    expected.push_back(n);
  EXPECT_EQ(Log.Counts(), expected);
  EXPECT_EQ(Log.Entries.back().Kind, "end");
  EXPECT_EQ(Statuses, (std::vector<std::string>{"Starting FTP transfer", "Transfer complete"}));
}

TEST_F(IdFTPTransfer, UploadWorkIsCountedAfterEverySend) {
  PutFile(Local.PathOf("member.bck"), PatternBytes(100000));
  Open(false);
  Log.Attach(Ftp);
  Ftp.UploadFile(Local.PathOf("member.bck"), "member.bck", false);
  EXPECT_EQ(Log.Entries.front().Kind, "begin");
  EXPECT_EQ(Log.Entries.front().Mode, wmWrite);
  EXPECT_EQ(Log.Entries.front().Value, 100000);
  const std::vector<int32_t> counts = Log.Counts();
  ASSERT_GE(counts.size(), 98u) << "one count per send of at most 1024 bytes";
  int32_t previous = 0;
  for (int32_t count : counts) {
    EXPECT_GT(count, previous);
    EXPECT_LE(count - previous, 1024);
    previous = count;
  }
  EXPECT_EQ(counts.back(), 100000);
  EXPECT_EQ(Log.Entries.back().Kind, "end");
}

TEST(IdFTPTransferNames, KoreanRemoteNamesTravelAsCp949) {
  test::TFtpServerOptions options;
  options.Encoding = "cp949";
  TFtpServer server(options);
  TScratchDir local;
  PutFile(local.PathOf("out.bck"), "data");
  TIdFTP ftp;
  test::PointAt(ftp, server);
  ftp.OpenSession(true, -1);
  ftp.UploadFile(local.PathOf("out.bck"), "홍길동.bck", false);
  EXPECT_EQ(server.ReadFile("홍길동.bck"), "data");
  EXPECT_EQ(ftp.RemoteFileSize("홍길동.bck"), 4);
  ftp.CloseSession();
}

// A second real server, with its own reply texts, passive reply and active-mode rules.
TEST(IdFTPTransferVsftpd, PlainRoundTripInBothModes) {
  if (const std::string why = test::TVsftpdServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  const std::string data = PatternBytes(300000, 5);
  for (bool passive : {false, true}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    test::TVsftpdServer server({}, {}, false);
    TScratchDir local;
    PutFile(local.PathOf("out.bck"), data);
    TIdFTP ftp;
    test::PointAt(ftp, server);
    ftp.SetPassive(passive);
    try {
      ftp.OpenSession(true, -1);
      ftp.UploadFile(local.PathOf("out.bck"), "pub/member.bck", false);
      EXPECT_EQ(ftp.RemoteFileSize("pub/member.bck"), static_cast<int32_t>(data.size()));
      ftp.DownloadFile("pub/member.bck", local.PathOf("in.bck"), true, false);
      ftp.CloseSession();
    } catch (const std::exception &e) {
      ADD_FAILURE() << e.what() << "\n" << server.Log();
    }
    EXPECT_TRUE(FileBytes(server.Pub() + "/member.bck") == data) << "server copy differs";
    EXPECT_TRUE(FileBytes(local.PathOf("in.bck")) == data) << "downloaded copy differs";
  }
}

// Replies a real server will not give.
class IdFTPScriptedTransfer : public test::TScriptedFtpTest {
protected:
  // What the client sent after logging in.
  std::vector<std::string> Finish() {
    const std::vector<std::string> lines = TScriptedFtpTest::Finish();
    return std::vector<std::string>(lines.begin() + std::min<size_t>(lines.size(), 4), lines.end());
  }

  TScratchDir Local;
};

TEST_F(IdFTPScriptedTransfer, AbortedTransferIsAFailureAndTheSessionStaysInStep) {
  Peer.Login()
      .Expect("PORT 127,0,0,1,")
      .Reply("200 PORT ok")
      .Expect("RETR member.bck")
      .Reply("150 Opening")
      .ConnectData("partial")
      .Reply("426 Connection closed; transfer aborted.")
      .Reply("226 Closing data connection.")
      .Expect("SIZE member.bck")
      .Reply("213 100");
  Open();
  std::vector<TIdStatus> statuses;
  Ftp.OnStatus = [&](TIdComponent *, TIdStatus status, const std::string &) {
    statuses.push_back(status);
  };
  try {
    Ftp.DownloadFile("member.bck", Local.PathOf("member.bck"), true, false);
    FAIL() << "a 426 passed for a complete download";
  } catch (const EIdProtocolReplyError &e) {
    EXPECT_EQ(e.ReplyErrorCode(), 426);
  }
  EXPECT_EQ(statuses.back(), ftpAborted);
  // The 226 after the 426 was read with it: the next command gets its own reply.
  EXPECT_EQ(Ftp.RemoteFileSize("member.bck"), 100);
  EXPECT_EQ(Finish().back(), "QUIT");
}

TEST_F(IdFTPScriptedTransfer, PassiveModeConnectsToTheServerWhateverTheReplyNames) {
  Peer.Login()
      .Expect("EPSV")
      .Reply("500 EPSV not understood")
      .Expect("PASV")
      .ReplyPassive(true, "10,9,8,7")
      .Expect("RETR member.bck")
      .Reply("150 Opening")
      .AcceptData("first")
      .Reply("226 Done")
      .Expect("PASV") // EPSV is not asked again once refused
      .ReplyPassive(false)
      .Expect("RETR member.bck")
      .Reply("150 Opening")
      .AcceptData("second")
      .Reply("226 Done");
  Open();
  Ftp.SetPassive(true);
  for (const char *expected : {"first", "second"}) {
    TMemoryStream stream;
    Ftp.DownloadToStream("member.bck", stream, false);
    EXPECT_EQ(std::string(stream.Bytes().begin(), stream.Bytes().end()), expected);
  }
  Finish();
}

TEST_F(IdFTPScriptedTransfer, ExtendedPassiveModeIsAskedFirst) {
  Peer.Login()
      .Expect("EPSV")
      .ReplyExtendedPassive()
      .Expect("STOR member.bck")
      .Reply("150 Opening")
      .AcceptUpload()
      .Reply("226 Done");
  Open();
  Ftp.SetPassive(true);
  TMemoryStream stream(std::vector<uint8_t>{'a', 'b', 'c'});
  Ftp.UploadFromStream(stream, "member.bck", false);
  Finish();
  EXPECT_EQ(Peer.Uploaded(), "abc");
}

TEST_F(IdFTPScriptedTransfer, PassiveNumbersOutOfRangeAreRefused) {
  Peer.Login()
      .Expect("EPSV")
      .Reply("502 Not implemented")
      .Expect("PASV")
      .Reply("227 Entering Passive Mode (127,0,0,1,300,5).");
  Open();
  Ftp.SetPassive(true);
  TMemoryStream stream;
  EXPECT_THROW(Ftp.DownloadToStream("member.bck", stream, false), EIdFTPPassiveReply);
  Ftp.CloseSession();
  const std::vector<std::string> lines = Peer.Finish();
  EXPECT_EQ(lines.back(), "QUIT");
  EXPECT_EQ(stream.Size(), 0);
}

TEST_F(IdFTPScriptedTransfer, DataConnectionNeverOpenedFallsBackToPassive) {
  Peer.Login()
      .Expect("PORT ")
      .Reply("200 PORT ok")
      .Expect("RETR member.bck")
      .Reply("150 Opening")
      .Expect("ABOR")
      .Reply("226 Abort successful")
      .Expect("PWD")
      .Reply("257 \"/\" is the current directory")
      .Expect("EPSV")
      .ReplyExtendedPassive()
      .Expect("RETR member.bck")
      .Reply("150 Opening")
      .AcceptData("hello")
      .Reply("226 Done")
      .Expect("SIZE member.bck")
      .Reply("213 5");
  Open();
  Ftp.SetDataConnectionTimeout(300);
  test::THostUIRecorder window;
  TMemoryStream stream;
  Ftp.DownloadToStream("member.bck", stream, false);
  EXPECT_EQ(std::string(stream.Bytes().begin(), stream.Bytes().end()), "hello");
  EXPECT_TRUE(Ftp.Passive()) << "the caller learns that passive mode works";
  EXPECT_GE(window.PaintPumps, 2) << "the window is repainted while waiting";
  EXPECT_EQ(Ftp.DataChannel(), nullptr);
  EXPECT_EQ(Ftp.RemoteFileSize("member.bck"), 5);
  Finish();
}

TEST_F(IdFTPScriptedTransfer, ServerStuckConnectingIsLeftForANewSessionInPassiveMode) {
  Peer.Login()
      .Expect("PORT ")
      .Reply("200 PORT ok")
      .Expect("RETR member.bck") // the server hangs in its connect and reads nothing more
      .Expect("ABOR")
      .Expect("PWD")
      .AcceptNextClient()
      .Login()
      .Expect("EPSV")
      .ReplyExtendedPassive()
      .Expect("RETR member.bck")
      .Reply("150 Opening")
      .AcceptData("hello")
      .Reply("226 Done");
  Open();
  Ftp.SetDataConnectionTimeout(300);
  Ftp.SetRecoveryTimeout(300);
  TMemoryStream stream;
  Ftp.DownloadToStream("member.bck", stream, false);
  EXPECT_EQ(std::string(stream.Bytes().begin(), stream.Bytes().end()), "hello");
  EXPECT_TRUE(Ftp.Passive());
  EXPECT_TRUE(Ftp.IsConnected());
  Finish();
}

TEST_F(IdFTPScriptedTransfer, RefusalAfter150EndsTheWaitAndFallsBackToPassive) {
  Peer.Login()
      .Expect("PORT ")
      .Reply("200 PORT ok")
      .Expect("STOR member.bck")
      .Reply("150 Opening")
      .Pause(200)
      .Reply("425 Can't open data connection.")
      .Expect("EPSV")
      .ReplyExtendedPassive()
      .Expect("STOR member.bck")
      .Reply("150 Opening")
      .AcceptUpload()
      .Reply("226 Done");
  Open();
  TMemoryStream stream(std::vector<uint8_t>(10, 'x'));
  const auto started = std::chrono::steady_clock::now();
  Ftp.UploadFromStream(stream, "member.bck", false);
  // The refusal ended the wait: the data-connection limit (10 s) never came into play.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
  Finish();
  EXPECT_EQ(Peer.Uploaded(), std::string(10, 'x'));
}

TEST_F(IdFTPScriptedTransfer, OnlyTheServerMayOpenTheActiveDataConnection) {
  Peer.Login()
      .Expect("PORT 127,0,0,1,")
      .Reply("200 PORT ok")
      .Expect("RETR member.bck")
      .ConnectDataFrom("127.0.0.2", "forged archive")
      .Reply("150 Opening")
      .ConnectData("real archive")
      .Reply("226 Done");
  Open();
  TMemoryStream stream;
  Ftp.DownloadToStream("member.bck", stream, false);
  EXPECT_EQ(std::string(stream.Bytes().begin(), stream.Bytes().end()), "real archive");
  Finish();
  EXPECT_TRUE(Peer.IntruderRefused());
}

TEST_F(IdFTPScriptedTransfer, DownloadShorterThanAnnouncedFails) {
  Peer.Login()
      .Expect("PORT ")
      .Reply("200 PORT ok")
      .Expect("RETR member.bck")
      .Reply("150 Opening")
      .ConnectData("half")
      .Reply("226 Done");
  Open();
  PutFile(Local.PathOf("member.bck"), "");
  EXPECT_THROW(Ftp.DownloadFile("member.bck", Local.PathOf("member.bck"), true, false, 8),
               EIdFTPTransferIncomplete);
  Finish();
}

TEST_F(IdFTPScriptedTransfer, ExistingLocalFileWithoutOverwriteOrResumeSendsNothing) {
  Peer.Login();
  Open();
  PutFile(Local.PathOf("member.bck"), "keep me");
  try {
    Ftp.DownloadFile("member.bck", Local.PathOf("member.bck"), false, false);
    FAIL() << "no exception";
  } catch (const EIdFTPFileAlreadyExists &e) {
    EXPECT_EQ(e.Message(), "Destination file already exists.");
  }
  EXPECT_EQ(FileBytes(Local.PathOf("member.bck")), "keep me");
  EXPECT_EQ(Finish(), std::vector<std::string>{"QUIT"});
}

TEST_F(IdFTPScriptedTransfer, EmptyUploadUnderAServerChosenName) {
  Peer.Login()
      .Expect("PORT ")
      .Reply("200 PORT ok")
      .Expect("STOU")
      .Reply("150 FILE: unique.1")
      .ConnectData("")
      .Reply("226 Transfer complete.");
  Open();
  test::TWorkLog log;
  log.Attach(Ftp);
  TMemoryStream empty;
  Ftp.UploadFromStream(empty, "", false);
  const std::vector<std::string> lines = Finish();
  EXPECT_EQ(lines.at(1), "STOU ");
  ASSERT_EQ(log.Entries.size(), 2u);
  EXPECT_EQ(log.Entries[0].Kind, "begin");
  EXPECT_EQ(log.Entries[0].Value, 0);
  EXPECT_EQ(log.Entries[1].Kind, "end");
}

} // namespace
} // namespace vantari
