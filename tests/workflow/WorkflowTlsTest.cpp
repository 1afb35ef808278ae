// The workflows over FTP with TLS: a self-signed certificate pinned on first use, a changed
// certificate and a server that stops offering TLS refused before any password is sent, the
// required policy against a plain server.
#include "FailureTexts.h"
#include "PrivateProfile.h"
#include "SyncState.h"
#include "TlsFtpServers.h"
#include "Workflow.h"
#include "WorkflowFixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vantari::test {
namespace {

namespace fs = std::filesystem;

const std::string AllDone = "message: 모든 작업을 정상적으로 완료하였습니다.";
const std::string LoginFailed = "message: 서버 접속에 실패하였습니다.";
const std::string CertificateChanged =
    "message: 서버의 보안 인증서가 바뀌었습니다. 안전을 위해 접속하지 않았습니다.";

class WorkflowTlsTest : public WorkflowTest {
protected:
  // Points the window at a pyftpdlib server with TLS (or without, see options).
  void Serve(TTlsFtpServerOptions options = {}) {
    if (TlsServer)
      options.Port = TlsServer->Port(); // the same host and port, a different server
    TlsServer.reset();
    TlsServer = std::make_unique<TPyTlsFtpServer>(options);
    Config.FtpHost = TlsServer->Host();
    Config.FtpPort = TlsServer->Port();
  }
  std::string Remembered(const std::string &key) const {
    return GetPrivateProfileString("TLS:127.0.0.1", key, "", Home.SettingsFile().string());
  }
  bool SawLogin() const {
    for (const std::string &verb : TlsServer->Commands()) {
      if (verb == "USER" || verb == "PASS")
        return true;
    }
    return false;
  }

  std::unique_ptr<TPyTlsFtpServer> TlsServer;
};

TEST_F(WorkflowTlsTest, ASelfSignedServerIsPinnedOnFirstUseAndCarriesTheDataEncrypted) {
  Config.TlsPolicy = tpPreferred;
  Serve();
  Upload();
  EXPECT_EQ(Boxes(), std::vector<std::string>{AllDone});
  EXPECT_EQ(Remembered("Certificate"), TlsServer->Certificate().Fingerprint);
  EXPECT_EQ(Remembered("Offered"), "1");
  EXPECT_EQ(TlsServer->ResumedDataConnections(), 1);
  EXPECT_EQ(TlsServer->UploadsEndedByCloseNotify(), 1);
  fs::remove(DataFolder / "Sale.DB");
  Download();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{AllDone, AllDone}));
  EXPECT_EQ(Contents(DataFolder), Sample);
  EXPECT_EQ(TlsServer->ResumedDataConnections(), 2);
}

TEST_F(WorkflowTlsTest, AChangedCertificateIsRefusedBeforeTheLogin) {
  Config.TlsPolicy = tpPreferred;
  Serve();
  Upload();
  const std::string archive = TlsServer->PathOf(Server->User() + ".bck");
  const std::string uploaded = TFtpServer::FileBytes(archive);
  const std::string pinned = Remembered("Certificate");
  Serve(); // same address, a new self-signed certificate
  Download();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{AllDone, CertificateChanged}));
  ASSERT_FALSE(Recorder.Reports.empty());
  EXPECT_EQ(Recorder.Reports.back().Cause, CauseServerChanged);
  EXPECT_EQ(Recorder.Reports.back().NextStep, StepServerChanged);
  EXPECT_FALSE(SawLogin());
  EXPECT_EQ(Remembered("Certificate"), pinned); // the pin stays
  EXPECT_EQ(Contents(DataFolder), Sample);
  // The new server holds no archive and got no login; the old upload's bytes are untouched.
  EXPECT_FALSE(fs::exists(TlsServer->PathOf(Server->User() + ".bck")));
  EXPECT_FALSE(uploaded.empty());
}

TEST_F(WorkflowTlsTest, AServerThatNoLongerOffersTlsIsRefusedLikeAChangedCertificate) {
  Config.TlsPolicy = tpPreferred;
  Serve();
  Upload();
  TTlsFtpServerOptions plain;
  plain.OfferTls = false;
  Serve(plain);
  Upload();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{AllDone, CertificateChanged}));
  EXPECT_EQ(TlsServer->Commands(), std::vector<std::string>{"AUTH"}); // no password in clear
}

TEST_F(WorkflowTlsTest, RequiredRefusesAPlainServerWithTheLoginFailure) {
  Config.TlsPolicy = tpRequired;
  TTlsFtpServerOptions plain;
  plain.OfferTls = false;
  Serve(plain);
  Upload();
  EXPECT_EQ(Boxes(), std::vector<std::string>{LoginFailed});
  EXPECT_EQ(TlsServer->Commands(), std::vector<std::string>{"AUTH"});
}

TEST_F(WorkflowTlsTest, PreferredTalksToAPlainServerThatNeverOfferedTls) {
  Config.TlsPolicy = tpPreferred;
  TTlsFtpServerOptions plain;
  plain.OfferTls = false;
  Serve(plain);
  Upload();
  EXPECT_EQ(Boxes(), std::vector<std::string>{AllDone});
  EXPECT_EQ(Remembered("Offered"), "");
}

TEST_F(WorkflowTlsTest, OffNeverAsksForTlsAndRemembersNothing) {
  Config.TlsPolicy = tpOff;
  Serve(); // a server that would take AUTH TLS
  Upload();
  EXPECT_EQ(Boxes(), std::vector<std::string>{AllDone});
  const std::vector<std::string> commands = TlsServer->Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.front(), "USER");
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "AUTH"), 0);
  EXPECT_EQ(Remembered("Offered"), "");
}

TEST_F(WorkflowTlsTest, ACertificateNobodyVouchesForIsALoginFailure) {
  Config.TlsPolicy = tpPreferred;
  TTempFolder folder;
  std::string unknownRoot;
  const TTestCertificate leaf = TTestCertificate::SignedByTestRoot(folder.Path(), unknownRoot);
  TTlsFtpServerOptions options;
  options.CertFile = leaf.CertFile;
  options.KeyFile = leaf.KeyFile;
  Serve(options);
  Upload();
  EXPECT_EQ(Boxes(), std::vector<std::string>{LoginFailed});
  EXPECT_FALSE(SawLogin());
  EXPECT_EQ(Remembered("Certificate"), "");
  // It did offer TLS, so the same address in clear text later is refused too.
  TTlsFtpServerOptions plain;
  plain.OfferTls = false;
  Serve(plain);
  Upload();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{LoginFailed, CertificateChanged}));
  EXPECT_FALSE(SawLogin());
}

// The log with the measured speeds ("Uploade speed 0.00 KB/s") cut off after "speed".
std::vector<std::string> WithoutSpeeds(std::vector<std::string> log) {
  for (std::string &line : log) {
    if (const size_t at = line.find(" speed "); at != std::string::npos)
      line.erase(at + 6);
  }
  return log;
}

// With TLS preferred, a plain server (the one most workflow tests use) sees one refused AUTH
// TLS and the person sees exactly what TLS off shows: the same status texts and boxes.
TEST_F(WorkflowTlsTest, PreferredAgainstAPlainServerShowsWhatOffShows) {
  Config.TlsPolicy = tpOff;
  Upload();
  Download();
  const std::vector<std::string> off = Recorder.Log;
  ASSERT_GE(off.size(), 10u);
  ASSERT_TRUE(Logged(AllDone));
  TearDown();
  SetUp();
  Config.TlsPolicy = tpPreferred;
  Recorder.Log.clear();
  Upload();
  Download();
  EXPECT_EQ(WithoutSpeeds(Recorder.Log), WithoutSpeeds(off));
  EXPECT_EQ(Remembered("Offered"), "");
}

// Active mode refused: the upload falls back to passive mode over TLS, the next run starts
// passive, and every data connection resumes the login's session.
TEST_F(WorkflowTlsTest, PassiveModeLearntOverTlsIsRememberedForTheNextRun) {
  Config.TlsPolicy = tpPreferred;
  TTlsFtpServerOptions options;
  options.RefuseCommands = {"PORT", "EPRT"};
  Serve(options);
  Upload();
  ASSERT_EQ(Boxes(), std::vector<std::string>{AllDone});
  EXPECT_TRUE(Presenter().Workflow().SyncState().PassiveWorks(TlsServer->Host()));
  fs::remove(DataFolder / "Sale.DB");
  Download();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{AllDone, AllDone}));
  EXPECT_EQ(Contents(DataFolder), Sample);
  const std::vector<std::string> commands = TlsServer->Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "PORT"), 1);
  EXPECT_EQ(TlsServer->ResumedDataConnections(), 2);
}

} // namespace
} // namespace vantari::test
