// FTP over TLS against real servers on loopback: pyftpdlib with pyOpenSSL and vsftpd with its
// default require_ssl_reuse=YES (and strict_ssl_read_eof=YES, so an upload must end with
// close_notify). What the server saw is checked from its own side.
#include "FtpTestKit.h"
#include "TlsFtpServers.h"
#include "TlsSession.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vantari::test {
namespace {

const char *ModeName(bool passive) {
  return passive ? "passive" : "active";
}

struct TVersionCase {
  const char *Name;
  int Version;
};
const TVersionCase kVersions[] = {{"TLSv1.2", TlsVersion12}, {"TLSv1.3", TlsVersion13}};

// A client that takes the test server's self-signed certificate when it is the one expected.
void TrustOnly(TIdFTP &ftp, const std::string &fingerprint, int version) {
  ftp.SetTlsPolicy(tpRequired);
  ftp.TlsOptions().MinVersion = ftp.TlsOptions().MaxVersion = version;
  ftp.OnTlsPeer = [fingerprint](TIdFTP *, const TTlsSession &session) {
    return session.PeerFingerprint() == fingerprint;
  };
}

// Login, upload, SIZE, download and back, in one session; both copies byte-identical.
void RoundTrip(TIdFTP &ftp, const std::string &remote, const std::string &serverFile,
               const char *version) {
  TScratchDir local;
  const std::string payload = PatternBytes(2 * 1024 * 1024 + 333, 7);
  PutFile(local.PathOf("up.bin"), payload);
  ftp.OpenSession(true, -1);
  ASSERT_NE(ftp.ControlTls(), nullptr);
  EXPECT_EQ(ftp.ControlTls()->Version(), version);
  ftp.UploadFile(local.PathOf("up.bin"), remote, false);
  EXPECT_TRUE(FileBytes(serverFile) == payload);
  EXPECT_EQ(ftp.RemoteFileSize(remote), static_cast<int32_t>(payload.size()));
  ftp.DownloadFile(remote, local.PathOf("down.bin"), true, false);
  EXPECT_TRUE(FileBytes(local.PathOf("down.bin")) == payload);
  ftp.CloseSession();
}

TEST(IdFTPTls, PyftpdlibEveryDataConnectionResumesTheLoginSession) {
  for (const TVersionCase &version : kVersions) {
    for (bool passive : {false, true}) {
      SCOPED_TRACE(std::string(version.Name) + " " + ModeName(passive));
      TPyTlsFtpServer server; // refuses a data connection that does not resume
      TIdFTP ftp;
      PointAt(ftp, server);
      ftp.SetPassive(passive);
      TrustOnly(ftp, server.Certificate().Fingerprint, version.Version);
      RoundTrip(ftp, "archive.bck", server.PathOf("archive.bck"), version.Name);
      EXPECT_EQ(server.ResumedDataConnections(), 2);
      EXPECT_EQ(server.UploadsEndedByCloseNotify(), 1);
      const std::vector<std::string> commands = server.Commands();
      ASSERT_GE(commands.size(), 6u);
      EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 5),
                (std::vector<std::string>{"AUTH", "USER", "PASS", "PBSZ", "PROT"}));
    }
  }
}

// Wine's SChannel never resumes a session, so there every data connection is checked for
// TLS 1.2 alone; Linux runs the resuming case above instead.
TEST(IdFTPTls, PyftpdlibTls12SessionTransfersInBothModes) {
  for (bool passive : {false, true}) {
    SCOPED_TRACE(ModeName(passive));
    TTlsFtpServerOptions options;
    options.RequireReuse = false;
    TPyTlsFtpServer server(options);
    TIdFTP ftp;
    PointAt(ftp, server);
    ftp.SetPassive(passive);
    TrustOnly(ftp, server.Certificate().Fingerprint, TlsVersion12);
    RoundTrip(ftp, "archive.bck", server.PathOf("archive.bck"), "TLSv1.2");
    const std::vector<std::string> events = server.Events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string &event) {
                              return event.starts_with("data tls version=TLSv1.2 ");
                            }),
              2);
    EXPECT_EQ(server.UploadsEndedByCloseNotify(), 1);
  }
}

TEST(IdFTPTls, VsftpdEveryDataConnectionResumesTheLoginSession) {
  const std::string skip = TVsftpdServer::SkipReason();
  if (!skip.empty())
    GTEST_SKIP() << skip;
  for (const TVersionCase &version : kVersions) {
    for (bool passive : {false, true}) {
      SCOPED_TRACE(std::string(version.Name) + " " + ModeName(passive));
      TVsftpdServer server;
      TIdFTP ftp;
      PointAt(ftp, server);
      ftp.SetPassive(passive);
      TrustOnly(ftp, server.Certificate().Fingerprint, version.Version);
      try {
        RoundTrip(ftp, "pub/archive.bck", server.Pub() + "/archive.bck", version.Name);
      } catch (const std::exception &e) {
        ADD_FAILURE() << e.what() << "\n" << server.Log();
      }
      EXPECT_EQ(server.ResumedDataConnections(), 2) << server.Log();
      EXPECT_EQ(server.FreshTlsConnections(), 1) << server.Log();
    }
  }
}

TEST(IdFTPTls, ARefusedCertificateEndsTheSessionBeforeTheLogin) {
  TPyTlsFtpServer server;
  TIdFTP ftp;
  PointAt(ftp, server);
  ftp.SetTlsPolicy(tpPreferred);
  int asked = 0;
  ftp.OnTlsPeer = [&asked](TIdFTP *, const TTlsSession &session) {
    ++asked;
    EXPECT_TRUE(session.PeerSelfSigned());
    return false;
  };
  EXPECT_THROW(ftp.OpenSession(true, -1), EIdException);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(ftp.IsConnected());
  EXPECT_EQ(server.Commands(), std::vector<std::string>{"AUTH"});
  // Without a judge only a certificate the system's roots vouch for would do.
  ftp.OnTlsPeer = nullptr;
  EXPECT_THROW(ftp.OpenSession(true, -1), EIdException);
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"AUTH", "AUTH"}));
}

TEST(IdFTPTls, APlainServerIsRefusedWhenTlsIsRequiredAndAskedAboutWhenPreferred) {
  TTlsFtpServerOptions plain;
  plain.OfferTls = false;
  TPyTlsFtpServer server(plain);
  TIdFTP ftp;
  PointAt(ftp, server);

  ftp.SetTlsPolicy(tpRequired);
  EXPECT_THROW(ftp.OpenSession(true, -1), EIdException);
  EXPECT_FALSE(ftp.IsConnected());
  EXPECT_EQ(server.Commands(), std::vector<std::string>{"AUTH"}); // no password in clear

  ftp.SetTlsPolicy(tpPreferred);
  ftp.OnTlsNotOffered = [](TIdFTP *) { return false; };
  EXPECT_THROW(ftp.OpenSession(true, -1), EIdException);
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"AUTH", "AUTH"}));

  ftp.OnTlsNotOffered = [](TIdFTP *) { return true; };
  ftp.OpenSession(true, -1);
  EXPECT_EQ(ftp.ControlTls(), nullptr);
  ftp.CloseSession();
  const std::vector<std::string> commands = server.Commands();
  ASSERT_GE(commands.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(commands.begin() + 2, commands.begin() + 5),
            (std::vector<std::string>{"AUTH", "USER", "PASS"}));
}

// The exchange with a server that offers no TLS, line by line: with TLS off exactly the
// established one; with TLS preferred the same after one refused AUTH TLS.
class IdFTPTlsScripted : public TScriptedFtpTest {
protected:
  std::vector<std::string> DownloadOnce(TTlsPolicy policy, bool offerAuth) {
    if (offerAuth)
      Peer.Reply("220 Service ready").Expect("AUTH TLS").Reply("500 Unknown command.");
    else
      Peer.Reply("220 Service ready");
    Peer.Expect("USER member")
        .Reply("331 Password")
        .Expect("PASS pw")
        .Reply("230 Logged in")
        .Expect("TYPE I")
        .Reply("200 Binary")
        .Expect("SYST")
        .Reply("215 UNIX Type: L8")
        .Expect("PORT 127,0,0,1,")
        .Reply("200 PORT ok")
        .Expect("RETR member.bck")
        .Reply("150 Opening")
        .ConnectData("the archive")
        .Reply("226 Done");
    Ftp.SetTlsPolicy(policy);
    Open();
    TScratchDir local;
    Ftp.DownloadFile("member.bck", local.PathOf("member.bck"), true, false);
    EXPECT_EQ(FileBytes(local.PathOf("member.bck")), "the archive");
    std::vector<std::string> lines = Finish();
    // The port differs from run to run; everything else is compared whole.
    for (std::string &line : lines)
      if (line.starts_with("PORT 127,0,0,1,"))
        line = "PORT 127,0,0,1,*";
    return lines;
  }
};

const std::vector<std::string> kPlainExchange = {
    "USER member", "PASS pw", "TYPE I", "SYST", "PORT 127,0,0,1,*", "RETR member.bck", "QUIT"};

TEST_F(IdFTPTlsScripted, OffSpeaksExactlyTheEstablishedExchange) {
  EXPECT_EQ(DownloadOnce(tpOff, false), kPlainExchange);
}

TEST_F(IdFTPTlsScripted, PreferredAsksOnceThenSpeaksTheSameExchange) {
  std::vector<std::string> expected = kPlainExchange;
  expected.insert(expected.begin(), "AUTH TLS");
  EXPECT_EQ(DownloadOnce(tpPreferred, true), expected);
}

} // namespace
} // namespace vantari::test
