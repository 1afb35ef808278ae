#include "FtpServer.h"
#include "FtpTestKit.h"
#include "IdFTP.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

namespace vantari {
namespace {

using test::PointAt;
using test::TFtpServer;
using test::TFtpServerOptions;

TEST(IdFTPSession, LoginReadsGreetingAndSystemAndQuitCloses) {
  TFtpServer server;
  TIdFTP ftp;
  PointAt(ftp, server);
  std::vector<std::string> statuses;
  ftp.OnStatus = [&](TIdComponent *, TIdStatus, const std::string &text) {
    statuses.push_back(text);
  };
  ftp.OpenSession(true, -1);
  EXPECT_TRUE(ftp.IsConnected());
  EXPECT_EQ(ftp.GreetingReply().NumericCode(), 220);
  EXPECT_EQ(ftp.LoginReply().NumericCode(), 230);
  EXPECT_EQ(ftp.SystemType(), "UNIX Type: L8");
  EXPECT_EQ(statuses.back(), "Connection established");
  ftp.CloseSession();
  EXPECT_FALSE(ftp.IsConnected());
  EXPECT_EQ(statuses.back(), "Disconnected.");
  EXPECT_NO_THROW(ftp.CloseSession());
}

TEST(IdFTPSession, WrongPasswordRaisesTheServersRefusalAndLeavesTheClientClosed) {
  TFtpServer server;
  TIdFTP ftp;
  PointAt(ftp, server);
  ftp.SetPassword("wrong");
  try {
    ftp.OpenSession(true, -1);
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError &e) {
    EXPECT_EQ(e.ReplyErrorCode(), 530);
    EXPECT_EQ(e.Message(), "Authentication failed.\r\n");
  }
  EXPECT_FALSE(ftp.IsConnected());
  ftp.SetPassword(server.Password());
  ftp.OpenSession(true, -1);
  EXPECT_TRUE(ftp.IsConnected());
  ftp.CloseSession();
}

TEST(IdFTPSession, OpeningAnOpenSessionRaisesAndClosesIt) {
  TFtpServer server;
  TIdFTP ftp;
  PointAt(ftp, server);
  ftp.OpenSession(true, -1);
  try {
    ftp.OpenSession(true, -1);
    FAIL() << "no exception";
  } catch (const EIdAlreadyConnected &e) {
    EXPECT_EQ(e.Message(), "Already connected.");
  }
  EXPECT_FALSE(ftp.IsConnected());
}

TEST(IdFTPSession, RemoteFileSizeOfPresentAndMissingFiles) {
  TFtpServer server;
  server.WriteFile("member.bck", std::string(1048576, 'z'));
  TIdFTP ftp;
  PointAt(ftp, server);
  ftp.OpenSession(true, -1);
  EXPECT_EQ(ftp.RemoteFileSize("member.bck"), 1048576);
  EXPECT_EQ(ftp.RemoteFileSize("absent.bck"), -1);
  EXPECT_TRUE(ftp.IsConnected());
  ftp.CloseSession();
}

TEST(IdFTPSession, ServerClosingTheControlConnectionIsNoticedByTheNextCall) {
  TFtpServer server;
  TIdFTP ftp;
  PointAt(ftp, server);
  ftp.OpenSession(true, -1);
  server.Stop();
  EXPECT_THROW(ftp.SetTransferType(ftASCII), EIdConnClosedGracefully);
  EXPECT_FALSE(ftp.IsConnected());
  EXPECT_NO_THROW(ftp.CloseSession());
}

using IdFTPScripted = test::TScriptedFtpTest;

TEST_F(IdFTPScripted, OnlyA220GreetingIsAccepted) {
  Peer.Reply("120 Service ready in 10 minutes");
  try {
    Open();
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError &e) {
    EXPECT_EQ(e.ReplyErrorCode(), 120);
    EXPECT_EQ(e.Message(), "Service ready in 10 minutes\r\n");
  }
  EXPECT_FALSE(Ftp.IsConnected());
  EXPECT_TRUE(Finish().empty()) << "nothing is sent after a refused greeting";
}

TEST_F(IdFTPScripted, UserAcceptedAloneAndUnknownSystem) {
  Peer.Send("220-Welcome to\r\n220 the service\r\n")
      .Expect("USER member")
      .Reply("230 No password needed")
      .Expect("TYPE I")
      .Reply("200 Binary")
      .Expect("SYST")
      .Reply("500 SYST not understood");
  Open();
  EXPECT_EQ(Ftp.GreetingReply().Text(), (std::vector<std::string>{"Welcome to", "the service"}));
  EXPECT_EQ(Ftp.SystemType(), "Unknown");
  EXPECT_EQ(Ftp.LoginReply().NumericCode(), 230);
  EXPECT_EQ(Finish(), (std::vector<std::string>{"USER member", "TYPE I", "SYST", "QUIT"}));
}

// A reply whose code is not exactly three digits is a broken server, never a login.
TEST(IdFTPScriptedLogin, OddlyWrittenCodesAreRefusedBeforeThePassword) {
  for (const char *odd : {"+230 Logged in", " 230 Logged in", "23a Logged in"}) {
    test::TScriptedPeer peer;
    peer.Reply("220 Ready").Expect("USER member").Reply(odd);
    peer.Start();
    TIdFTP ftp;
    ftp.SetHost("127.0.0.1");
    ftp.SetPort(peer.Port());
    ftp.SetUsername("member");
    ftp.SetPassword("pw");
    ftp.SetReplyTimeout(2000); // a client that goes on waits for an answer that never comes
    EXPECT_THROW(ftp.OpenSession(true, -1), EIdProtocolReplyError) << odd;
    EXPECT_FALSE(ftp.IsConnected());
    EXPECT_EQ(peer.Finish(), std::vector<std::string>{"USER member"}) << odd;
  }
}

TEST_F(IdFTPScripted, SizeRepliesOutsideThirtyTwoBitsOrNot213GiveMinusOne) {
  Peer.Login()
      .Expect("SIZE big.bck")
      .Reply("213 2147483648")
      .Expect("SIZE ok.bck")
      .Reply("213 2147483647")
      .Expect("SIZE odd.bck")
      .Reply("213 12ab")
      .Expect("SIZE none.bck")
      .Reply("550 No such file");
  Open();
  EXPECT_EQ(Ftp.RemoteFileSize("big.bck"), -1);
  EXPECT_EQ(Ftp.RemoteFileSize("ok.bck"), 2147483647);
  EXPECT_EQ(Ftp.RemoteFileSize("odd.bck"), -1);
  EXPECT_EQ(Ftp.RemoteFileSize("none.bck"), -1);
  Finish();
}

TEST_F(IdFTPScripted, TransferTypeIsSentOnlyWhenItChanges) {
  Peer.Login().Expect("TYPE A").Reply("200 ASCII");
  Open();
  Ftp.SetTransferType(ftBinary);
  Ftp.SetTransferType(ftASCII);
  Ftp.SetTransferType(ftASCII);
  const std::vector<std::string> lines = Finish();
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.end()),
            (std::vector<std::string>{"TYPE A", "QUIT"}));
}

TEST_F(IdFTPScripted, KoreanUserNameGoesOutAsCp949) {
  Peer.Login();
  Peer.Start();
  Ftp.SetHost("127.0.0.1");
  Ftp.SetPort(Peer.Port());
  Ftp.SetUsername("홍길동");
  Ftp.SetPassword("pw");
  Ftp.OpenSession(true, -1);
  EXPECT_EQ(Finish().front(), "USER \xC8\xAB\xB1\xE6\xB5\xBF");
}

} // namespace
} // namespace vantari
