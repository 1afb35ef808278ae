// Waits that end, replies that stay bounded, the passive fallback against a real server
// behind a real firewall, and the commands of the safe upload.
#include "FtpServer.h"
#include "FtpTestKit.h"
#include "HostUIRecorder.h"
#include "IdFTP.h"
#include "IdWait.h"
#include "NetNamespace.h"
#include "SafeUpload.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace vantari {
namespace {

using test::FileBytes;
using test::PatternBytes;
using test::PutFile;
using test::TFtpServer;
using test::TScratchDir;

class IdFTPLimits : public test::TScriptedFtpTest {
protected:
  // Opens without logging in: these scripts misbehave from the greeting on.
  void Connect() {
    Peer.Start();
    Ftp.SetHost("127.0.0.1");
    Ftp.SetPort(Peer.Port());
    Ftp.OpenSession(false, -1);
  }
};

TEST_F(IdFTPLimits, SilentServerEndsWithinTheReplyLimit) {
  Ftp.SetReplyTimeout(300);
  EXPECT_THROW(Connect(), EIdReadTimeout);
  EXPECT_FALSE(Ftp.IsConnected());
  Peer.Finish();
}

TEST_F(IdFTPLimits, ReplyTricklingInEndsAtItsDeadline) {
  // Every byte comes well within any per-read limit; the reply as a whole does not.
  Peer.Trickle("220 a greeting that takes its time to arrive\r\n", 60);
  Ftp.SetReplyTimeout(500);
  EXPECT_THROW(Connect(), EIdReadTimeout);
  EXPECT_FALSE(Ftp.IsConnected());
  Peer.Finish();
}

TEST_F(IdFTPLimits, EndlessMultiLineReplyIsCutOff) {
  std::string lines;
  for (int i = 0; i < 600; ++i)
    lines += "220-and another line\r\n";
  Peer.Send(lines);
  EXPECT_THROW(Connect(), EIdReplyTooLong);
  Peer.Finish();
}

TEST_F(IdFTPLimits, MultiLineReplyOfTooManyBytesIsCutOff) {
  const std::string line = "220-" + std::string(2000, 'x') + "\r\n";
  std::string lines;
  for (int i = 0; i < 40; ++i)
    lines += line;
  Peer.Send(lines);
  EXPECT_THROW(Connect(), EIdReplyTooLong);
  Peer.Finish();
}

TEST_F(IdFTPLimits, ReplyWithinTheBoundsIsRead) {
  Peer.Send("220-Welcome\r\n\r\n220-to the\r\n220 server\r\n").Expect("QUIT");
  Connect();
  EXPECT_EQ(Ftp.GreetingReply().Text().size(), 3u); // the blank line is skipped
  Ftp.CloseSession();
  Peer.Finish();
  EXPECT_EQ(Peer.Failure(), "");
}

TEST_F(IdFTPLimits, LoneAbortReplyIsAFailureAndTheSessionGoesOn) {
  Peer.Login()
      .Expect("PORT ")
      .Reply("200 PORT ok")
      .Expect("RETR member.bck")
      .Reply("150 Opening")
      .ConnectData("part")
      .Reply("426 Connection closed; transfer aborted.")
      .Expect("SIZE member.bck")
      .Reply("213 9");
  Open();
  Ftp.SetRecoveryTimeout(300);
  TMemoryStream stream;
  try {
    Ftp.DownloadToStream("member.bck", stream, false);
    FAIL() << "a lone 426 passed for success";
  } catch (const EIdProtocolReplyError &e) {
    EXPECT_EQ(e.ReplyErrorCode(), 426);
  }
  EXPECT_EQ(Ftp.RemoteFileSize("member.bck"), 9);
  Finish();
}

TEST_F(IdFTPLimits, StalledDataConnectionFailsAndTheSessionIsBroughtBackInStep) {
  Peer.Login()
      .Expect("EPSV")
      .ReplyExtendedPassive()
      .Expect("RETR member.bck")
      .Reply("150 Opening")
      .AcceptDataAndStall("the first bytes")
      .Expect("ABOR")
      .Reply("426 Transfer aborted")
      .Reply("226 Abort successful")
      .Expect("PWD")
      .Reply("257 \"/\"")
      .Expect("SIZE member.bck")
      .Reply("213 1000");
  Open();
  Ftp.SetPassive(true);
  Ftp.SetTransferTimeout(300);
  TMemoryStream stream;
  EXPECT_THROW(Ftp.DownloadToStream("member.bck", stream, false), EIdReadTimeout);
  EXPECT_TRUE(Ftp.IsConnected());
  EXPECT_EQ(Ftp.RemoteFileSize("member.bck"), 1000);
  Finish();
}

TEST_F(IdFTPLimits, UploadThatCannotMoveFailsWithinTheTransferLimit) {
  Peer.Login()
      .Expect("EPSV")
      .ReplyExtendedPassive()
      .Expect("STOR member.bck")
      .Reply("150 Opening")
      .AcceptDataWithoutReading()
      .Expect("ABOR")
      .Reply("426 Transfer aborted")
      .Reply("226 Abort successful")
      .Expect("PWD")
      .Reply("257 \"/\"");
  Open();
  Ftp.SetPassive(true);
  Ftp.SetTransferTimeout(300);
  TMemoryStream stream(std::vector<uint8_t>(64 << 20, 'x'));
  try {
    Ftp.UploadFromStream(stream, "member.bck", false);
    FAIL() << "an upload nobody takes passed";
  } catch (const EIdSocketError &e) {
    EXPECT_EQ(e.SocketErrorCode(), 10060);
  }
  EXPECT_TRUE(Ftp.IsConnected());
  Finish();
}

// A window that asks to cancel after it has repainted a few times.
class TCancellingWindow : public test::THostUIRecorder {
public:
  void ProcessPaintEvents() override {
    if (++PaintPumps == 3)
      IdRequestCancel();
  }
  ~TCancellingWindow() override { IdResetCancel(); }
};

TEST_F(IdFTPLimits, CancelDuringATransferAbortsAndEndsTheSession) {
  Peer.Login().Expect("PORT ").Reply("200 PORT ok").Expect("STOR member.bck").Reply("150 Opening");
  Open();
  TCancellingWindow window;
  TMemoryStream stream(std::vector<uint8_t>(100, 'x'));
  EXPECT_THROW(Ftp.UploadFromStream(stream, "member.bck", false), EIdCancelled);
  EXPECT_FALSE(Ftp.IsConnected());
  EXPECT_EQ(Ftp.DataChannel(), nullptr);
  const std::vector<std::string> lines = Peer.Finish();
  EXPECT_EQ(lines.back(), "ABOR");
}

TEST(IdFTPCommands, CommandArgumentsCannotCarryAnotherCommand) {
  TFtpServer server;
  server.WriteFile("keep.bck", "keep");
  TIdFTP ftp;
  test::PointAt(ftp, server);
  ftp.OpenSession(true, -1);
  EXPECT_THROW(ftp.Delete("x.bck\r\nDELE keep.bck"), EIdFTPIllegalArgument);
  EXPECT_THROW(ftp.RemoteFileSize(std::string("keep.bck\0x", 10)), EIdFTPIllegalArgument);
  EXPECT_EQ(ftp.RemoteFileSize("keep.bck"), 4) << "the session is still in step";
  ftp.CloseSession();
  EXPECT_EQ(server.ReadFile("keep.bck"), "keep");

  ftp.SetPassword("pw\r\nDELE keep.bck");
  EXPECT_THROW(ftp.OpenSession(true, -1), EIdFTPIllegalArgument);
  EXPECT_FALSE(ftp.IsConnected());
  EXPECT_EQ(server.ReadFile("keep.bck"), "keep");
}

TEST(IdFTPCommands, RenameDeleteAndModificationTime) {
  TFtpServer server;
  server.WriteFile("new.tmp", "new");
  server.WriteFile("member.bck", "old");
  TIdFTP ftp;
  test::PointAt(ftp, server);
  ftp.OpenSession(true, -1);
  const std::string time = ftp.RemoteFileTime("member.bck");
  EXPECT_EQ(time.size(), 14u);
  EXPECT_EQ(ftp.RemoteFileTime("missing.bck"), "");
  ftp.Rename("member.bck", "member.bck.1");
  ftp.Rename("new.tmp", "member.bck");
  EXPECT_EQ(server.ReadFile("member.bck"), "new");
  EXPECT_EQ(server.ReadFile("member.bck.1"), "old");
  EXPECT_THROW(ftp.Rename("missing.bck", "other.bck"), EIdProtocolReplyError);
  ftp.Delete("member.bck.1");
  EXPECT_THROW(ftp.Delete("member.bck.1"), EIdProtocolReplyError);
  ftp.CloseSession();
}

TEST(IdFTPCommands, UploadIsVerifiedBySizeOrElseByItsFinalReply) {
  TScratchDir local;
  PutFile(local.PathOf("out.bck"), PatternBytes(5000));
  for (bool sizeRefused : {false, true}) {
    test::TFtpServerOptions options;
    if (sizeRefused)
      options.DisabledCommands = {"SIZE"};
    TFtpServer server(options);
    TIdFTP ftp;
    test::PointAt(ftp, server);
    ftp.OpenSession(true, -1);
    ftp.UploadFile(local.PathOf("out.bck"), "member.bck", false);
    EXPECT_EQ(ftp.LastTransferCode(), 226);
    ftp.VerifyUpload("member.bck", 5000);
    if (!sizeRefused) {
      EXPECT_THROW(ftp.VerifyUpload("member.bck", 4999), EIdFTPTransferIncomplete);
    }
    ftp.CloseSession();
  }
}

// RFC 959 lets STOR end with 250; without SIZE that reply is the only word on the upload.
TEST_F(IdFTPLimits, UploadEndedBy250WithoutSizeIsKeptAndRenamedIntoPlace) {
  TScratchDir local;
  PutFile(local.PathOf("out.bck"), PatternBytes(3000));
  Peer.Login()
      .Expect("EPSV")
      .ReplyExtendedPassive()
      .Expect("STOR member.bck.new")
      .Reply("150 Opening")
      .AcceptUpload()
      .Reply("250 Requested file action okay, completed.")
      .Expect("SIZE member.bck.new")
      .Reply("502 Command not implemented.")
      .Expect("DELE member.bck.2")
      .Reply("550 No such file")
      .Expect("RNFR member.bck.1")
      .Reply("550 No such file")
      .Expect("RNFR member.bck")
      .Reply("550 No such file")
      .Expect("RNFR member.bck.new")
      .Reply("350 Ready")
      .Expect("RNTO member.bck")
      .Reply("250 Renamed");
  Open();
  Ftp.SetPassive(true);
  Ftp.SetReplyTimeout(2000); // off the script, the peer says nothing more
  SafeUpload(Ftp, local.PathOf("out.bck"), "member.bck");
  EXPECT_EQ(Ftp.LastTransferCode(), 250);
  EXPECT_EQ(Peer.Uploaded(), FileBytes(local.PathOf("out.bck")));
  Finish();
  EXPECT_EQ(Peer.Failure(), "");
}

// A real server that does not take PORT: every transfer falls back, once.
TEST(IdFTPFallback, ServerWithoutActiveModeGetsPassiveTransfers) {
  test::TFtpServerOptions options;
  options.DisabledCommands = {"PORT", "EPRT"};
  TFtpServer server(options);
  TScratchDir local;
  const std::string data = PatternBytes(200000, 3);
  PutFile(local.PathOf("out.bck"), data);
  TIdFTP ftp;
  test::PointAt(ftp, server);
  ftp.OpenSession(true, -1);
  ftp.UploadFile(local.PathOf("out.bck"), "member.bck", false);
  EXPECT_TRUE(ftp.Passive());
  ftp.DownloadFile("member.bck", local.PathOf("in.bck"), true, false, 200000);
  EXPECT_TRUE(server.ReadFile("member.bck") == data);
  EXPECT_TRUE(FileBytes(local.PathOf("in.bck")) == data);
  ftp.CloseSession();
}

// A firewall in front of the client that turns away the server's data connection
// (rejected: the server says 425; dropped: nothing comes).
class IdFTPFirewall : public ::testing::TestWithParam<const char *> {
protected:
  void SetUp() override {
    if (const std::string why = test::RootSkipReason(); !why.empty())
      GTEST_SKIP() << why;
    ASSERT_EQ(std::system("iptables -V >/dev/null 2>&1"), 0)
        << "iptables is missing (scripts/deps.sh build installs it)";
    Namespace = std::make_unique<test::TNetNamespace>();
    test::TFtpServerOptions options;
    options.PassivePortLow = 40000;
    options.PassivePortHigh = 40009;
    Server = std::make_unique<TFtpServer>(options);
    // Only connections to the server's own ports come in.
    const std::string rule = "iptables -A INPUT -p tcp --syn -m multiport ! --dports " +
                             std::to_string(Server->Port()) + ",40000:40009 -j " + GetParam() +
                             " >/dev/null 2>&1";
    ASSERT_EQ(std::system(rule.c_str()), 0);
  }
  void TearDown() override {
    Server.reset();
    Namespace.reset();
  }

  std::unique_ptr<test::TNetNamespace> Namespace;
  std::unique_ptr<TFtpServer> Server;
};

TEST_P(IdFTPFirewall, TransfersFallBackToPassiveAndSayItWorked) {
  TScratchDir local;
  const std::string data = PatternBytes(100000, 5);
  PutFile(local.PathOf("out.bck"), data);
  TIdFTP ftp;
  test::PointAt(ftp, *Server);
  ftp.SetDataConnectionTimeout(500);
  ftp.SetRecoveryTimeout(2000);
  ftp.OpenSession(true, -1);
  ftp.UploadFile(local.PathOf("out.bck"), "member.bck", false);
  EXPECT_TRUE(ftp.Passive());
  EXPECT_TRUE(Server->ReadFile("member.bck") == data);
  // A new session that starts in active mode falls back for the download too.
  ftp.CloseSession();
  ftp.SetPassive(false);
  ftp.OpenSession(true, -1);
  ftp.DownloadFile("member.bck", local.PathOf("in.bck"), true, false, 100000);
  EXPECT_TRUE(ftp.Passive());
  EXPECT_TRUE(FileBytes(local.PathOf("in.bck")) == data);
  EXPECT_EQ(ftp.RemoteFileSize("member.bck"), 100000);
  ftp.CloseSession();
}

INSTANTIATE_TEST_SUITE_P(RejectedOrDropped, IdFTPFirewall,
                         ::testing::Values("REJECT --reject-with tcp-reset", "DROP"),
                         [](const auto &info) {
                           return std::string(info.index == 0 ? "Rejected" : "Dropped");
                         });

} // namespace
} // namespace vantari
