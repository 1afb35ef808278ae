// FTP over TLS where the network path's safeguards act: the passive fallback (PORT refused, a
// server stuck in its own connect, a firewall in front of the client), the limits of the TLS
// handshakes and cancel during them. Real TLS servers; a scripted peer only for a server that
// falls silent in the middle of the control connection's handshake.
#include "FtpTestKit.h"
#include "HostUIRecorder.h"
#include "IdWait.h"
#include "NetNamespace.h"
#include "TlsFtpServers.h"
#include "TlsSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>

namespace vantari::test {
namespace {

struct TVersionCase {
  const char *Name;
  int Version;
};
const TVersionCase kVersions[] = {{"TLSv1.2", TlsVersion12}, {"TLSv1.3", TlsVersion13}};

// The client of the test server, trusting its self-signed certificate only; counts the checks.
void PointAt(TIdFTP &ftp, const TPyTlsFtpServer &server, int version, int *checks = nullptr) {
  PointAt(ftp, server);
  ftp.SetTlsPolicy(tpRequired);
  ftp.TlsOptions().MinVersion = ftp.TlsOptions().MaxVersion = version;
  const std::string fingerprint = server.Certificate().Fingerprint;
  ftp.OnTlsPeer = [fingerprint, checks](TIdFTP *, const TTlsSession &session) {
    if (checks)
      ++*checks;
    return session.PeerFingerprint() == fingerprint;
  };
}

int CountOf(const std::vector<std::string> &verbs, const std::string &verb) {
  return static_cast<int>(std::count(verbs.begin(), verbs.end(), verb));
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Up, down and up again: three data connections, each resuming the login's session (with
// TLS 1.3 more than the two tickets the login brought).
void ThreeTransfers(TIdFTP &ftp, const TPyTlsFtpServer &server) {
  TScratchDir local;
  const std::string first = PatternBytes(300000, 11);
  const std::string second = PatternBytes(200001, 12);
  PutFile(local.PathOf("first.bck"), first);
  PutFile(local.PathOf("second.bck"), second);
  ftp.UploadFile(local.PathOf("first.bck"), "member.bck", false);
  EXPECT_TRUE(ftp.Passive());
  ftp.DownloadFile("member.bck", local.PathOf("in.bck"), true, false, 300000);
  ftp.UploadFile(local.PathOf("second.bck"), "member.bck.new", false);
  EXPECT_TRUE(FileBytes(local.PathOf("in.bck")) == first);
  EXPECT_TRUE(FileBytes(server.PathOf("member.bck")) == first);
  EXPECT_TRUE(FileBytes(server.PathOf("member.bck.new")) == second);
  EXPECT_EQ(server.ResumedDataConnections(), 3);
}

TEST(IdFTPTlsFallback, PortRefusedGivesPassiveTransfersThatResumeTheLoginSession) {
  for (const TVersionCase &version : kVersions) {
    SCOPED_TRACE(version.Name);
    TTlsFtpServerOptions options;
    options.RefuseCommands = {"PORT", "EPRT"};
    TPyTlsFtpServer server(options);
    TIdFTP ftp;
    PointAt(ftp, server, version.Version);
    ftp.OpenSession(true, -1);
    ThreeTransfers(ftp, server);
    ftp.CloseSession();
    EXPECT_EQ(CountOf(server.Commands(), "PORT"), 1); // passive from then on
  }
}

// The server reads nothing more after PORT, as one blocked in its own connect: the session is
// left within the limits and a new one is opened: AUTH TLS, the certificate check, PBSZ and
// PROT again, then the transfer in passive mode.
TEST(IdFTPTlsFallback, ServerStuckAfterPortIsLeftForANewProtectedSession) {
  for (const TVersionCase &version : kVersions) {
    SCOPED_TRACE(version.Name);
    TTlsFtpServerOptions options;
    options.HangOnCommands = {"PORT"};
    TPyTlsFtpServer server(options);
    TIdFTP ftp;
    int checks = 0;
    PointAt(ftp, server, version.Version, &checks);
    ftp.SetDataConnectionTimeout(300);
    ftp.SetRecoveryTimeout(300);
    ftp.OpenSession(true, -1);
    TScratchDir local;
    const std::string data = PatternBytes(150000, 4);
    PutFile(local.PathOf("out.bck"), data);
    const auto start = std::chrono::steady_clock::now();
    ftp.UploadFile(local.PathOf("out.bck"), "member.bck", false);
    // The two limits and a new login; not the ten seconds a polite TLS close would wait for a
    // server that reads nothing.
    EXPECT_LT(SecondsSince(start), 4.0);
    EXPECT_TRUE(ftp.Passive());
    EXPECT_TRUE(FileBytes(server.PathOf("member.bck")) == data);
    EXPECT_EQ(checks, 2);
    const std::vector<std::string> commands = server.Commands();
    for (const char *verb : {"AUTH", "PBSZ", "PROT", "USER"})
      EXPECT_EQ(CountOf(commands, verb), 2) << verb;
    EXPECT_EQ(server.ResumedDataConnections(), 1);
    ftp.CloseSession();
  }
}

// vsftpd behind a firewall that drops its active data connection is stuck in its own connect
// and reads nothing: the client leaves that session, opens a new protected one and goes on in
// passive mode, each data connection resuming the new login's session.
TEST(IdFTPTlsFallback, VsftpdStuckInItsOwnConnectIsLeftForANewProtectedSession) {
  if (const std::string why = TVsftpdServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  ASSERT_EQ(std::system("iptables -V >/dev/null 2>&1"), 0)
      << "iptables is missing (scripts/deps.sh build installs it)";
  TNetNamespace space;
  TVsftpdServer server;
  // Connections the server makes (its session runs as an unprivileged user) get no answer.
  ASSERT_EQ(std::system("iptables -A OUTPUT -p tcp --syn -m owner ! --uid-owner 0 -j DROP "
                        ">/dev/null 2>&1"),
            0);
  TIdFTP ftp;
  PointAt(ftp, server);
  ftp.SetTlsPolicy(tpRequired);
  ftp.TlsOptions().MinVersion = TlsVersion13;
  const std::string fingerprint = server.Certificate().Fingerprint;
  int checks = 0;
  ftp.OnTlsPeer = [fingerprint, &checks](TIdFTP *, const TTlsSession &session) {
    ++checks;
    return session.PeerFingerprint() == fingerprint;
  };
  ftp.SetDataConnectionTimeout(500);
  ftp.SetRecoveryTimeout(500);
  ftp.OpenSession(true, -1);
  TScratchDir local;
  const std::string data = PatternBytes(180000, 3);
  PutFile(server.Pub() + "/member.bck", data);
  PutFile(local.PathOf("out.bck"), data);
  const auto start = std::chrono::steady_clock::now();
  // The download first: the stuck session still holds vsftpd's lock on a file it was to
  // receive, so an upload retried under the same name would wait for that connect to give up.
  try {
    ftp.DownloadFile("pub/member.bck", local.PathOf("in.bck"), true, false, 180000);
    ftp.UploadFile(local.PathOf("out.bck"), "pub/member.bck.new", false);
  } catch (const std::exception &e) {
    ADD_FAILURE() << e.what() << "\n" << server.Log();
  }
  EXPECT_LT(SecondsSince(start), 5.0) << server.Log();
  EXPECT_TRUE(ftp.Passive());
  EXPECT_EQ(checks, 2);
  EXPECT_TRUE(FileBytes(local.PathOf("in.bck")) == data);
  EXPECT_TRUE(FileBytes(server.Pub() + "/member.bck.new") == data);
  EXPECT_EQ(server.ResumedDataConnections(), 2) << server.Log();
  ftp.CloseSession();
}

// A firewall in front of the client turns away the server's data connection (rejected: the
// server says 425; dropped: nothing comes, the session is brought back in step over TLS).
class IdFTPTlsFirewall : public ::testing::TestWithParam<const char *> {};

TEST_P(IdFTPTlsFirewall, TransfersFallBackToPassiveOverTls) {
  if (const std::string why = RootSkipReason(); !why.empty())
    GTEST_SKIP() << why;
  ASSERT_EQ(std::system("iptables -V >/dev/null 2>&1"), 0)
      << "iptables is missing (scripts/deps.sh build installs it)";
  TNetNamespace space;
  TTlsFtpServerOptions options;
  options.PassivePortLow = 40100;
  options.PassivePortHigh = 40109;
  TPyTlsFtpServer server(options);
  const std::string rule = "iptables -A INPUT -p tcp --syn -m multiport ! --dports " +
                           std::to_string(server.Port()) + ",40100:40109 -j " + GetParam() +
                           " >/dev/null 2>&1";
  ASSERT_EQ(std::system(rule.c_str()), 0);
  TIdFTP ftp;
  PointAt(ftp, server, TlsVersion13);
  ftp.SetDataConnectionTimeout(500);
  ftp.SetRecoveryTimeout(2000);
  ftp.OpenSession(true, -1);
  ThreeTransfers(ftp, server);
  EXPECT_EQ(CountOf(server.Commands(), "AUTH"), 1); // the session stayed in step
  ftp.CloseSession();
}

INSTANTIATE_TEST_SUITE_P(RejectedOrDropped, IdFTPTlsFirewall,
                         ::testing::Values("REJECT --reject-with tcp-reset", "DROP"),
                         [](const auto &info) {
                           return std::string(info.index == 0 ? "Rejected" : "Dropped");
                         });

// In active mode a connection from another local address is closed and the server's own is
// taken: the download is whole and its TLS resumed the login's session.
TEST(IdFTPTlsActive, AConnectionFromAnotherAddressIsRefusedAndTheServersTaken) {
  TTlsFtpServerOptions options;
  options.Intruder = true;
  TPyTlsFtpServer server(options);
  const std::string archive = PatternBytes(250000, 8);
  PutFile(server.PathOf("member.bck"), archive);
  TIdFTP ftp;
  PointAt(ftp, server, TlsVersion13);
  ftp.OpenSession(true, -1);
  TScratchDir local;
  ftp.DownloadFile("member.bck", local.PathOf("in.bck"), true, false, 250000);
  EXPECT_FALSE(ftp.Passive());
  EXPECT_TRUE(FileBytes(local.PathOf("in.bck")) == archive);
  EXPECT_EQ(ftp.RemoteFileSize("member.bck"), 250000); // the server looks at its intruder
  ftp.CloseSession();
  const std::vector<std::string> events = server.Events();
  EXPECT_EQ(CountOf(events, "intruder connected"), 1);
  EXPECT_EQ(CountOf(events, "intruder refused"), 1);
  EXPECT_EQ(server.ResumedDataConnections(), 1);
}

// Cancel (the window closed) while TLS data moves, up and down, in both modes: the call ends
// with EIdCancelled, the session is closed, the server's archive is as it was and the next
// session works.
TEST(IdFTPTlsCancel, CancelWhileDataMovesEndsTheSessionAndChangesNothing) {
  TPyTlsFtpServer server;
  const std::string archive = PatternBytes(3000000, 6);
  PutFile(server.PathOf("member.bck"), archive);
  TScratchDir local;
  PutFile(local.PathOf("out.bck"), PatternBytes(3000000, 5));
  for (bool passive : {false, true}) {
    for (bool upload : {false, true}) {
      SCOPED_TRACE(std::string(passive ? "passive " : "active ") + (upload ? "up" : "down"));
      TIdFTP ftp;
      PointAt(ftp, server, TlsVersion13);
      ftp.SetPassive(passive);
      ftp.OpenSession(true, -1);
      int64_t moved = 0;
      ftp.OnWork = [&moved](TIdComponent *, TWorkMode, int32_t count) {
        moved = count;
        if (count > 200000)
          IdRequestCancel();
      };
      try {
        if (upload)
          ftp.UploadFile(local.PathOf("out.bck"), "member.bck.new", false);
        else
          ftp.DownloadFile("member.bck", local.PathOf("in.bck"), true, false, 3000000);
        ADD_FAILURE() << "the transfer was not cancelled";
      } catch (const EIdCancelled &) {
      }
      IdResetCancel();
      EXPECT_GT(moved, 200000);
      // A send that never has to wait only sees the cancel at the next wait (on loopback
      // perhaps the final reply); a download waits for every piece.
      if (!upload) {
        EXPECT_LT(moved, 3000000);
      }
      EXPECT_FALSE(ftp.IsConnected());
      EXPECT_EQ(ftp.DataChannel(), nullptr);
      EXPECT_TRUE(FileBytes(server.PathOf("member.bck")) == archive);
      ftp.OnWork = nullptr;
      ftp.OpenSession(true, -1);
      EXPECT_EQ(ftp.RemoteFileSize("member.bck"), 3000000);
      ftp.CloseSession();
    }
  }
}

// A server that stops answering after the TLS handshake: the login ends at the reply limit,
// without a further wait for a close_notify that server will never send.
TEST(IdFTPTlsLimits, ServerSilentAfterTheHandshakeEndsTheLoginAtTheReplyLimit) {
  TTlsFtpServerOptions options;
  options.HangOnCommands = {"USER"};
  TPyTlsFtpServer server(options);
  TIdFTP ftp;
  PointAt(ftp, server, TlsVersion13);
  ftp.SetReplyTimeout(2500);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(ftp.OpenSession(true, -1), EIdReadTimeout);
  EXPECT_LT(SecondsSince(start), 4.0);
  EXPECT_FALSE(ftp.IsConnected());
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"AUTH", "USER"}));
}

// A server that takes the protected upload's connection and then reads nothing: the writes
// stall inside TLS and end as a stalled read does, the session brought back in step.
TEST(IdFTPTlsLimits, StalledProtectedUploadEndsLikeAStalledRead) {
  TTlsFtpServerOptions options;
  options.StallDataReading = true;
  TPyTlsFtpServer server(options);
  PutFile(server.PathOf("member.bck"), "old");
  TIdFTP ftp;
  PointAt(ftp, server, TlsVersion13);
  ftp.SetPassive(true);
  ftp.OpenSession(true, -1);
  ftp.SetTransferTimeout(400);
  TMemoryStream stream(std::vector<uint8_t>(32 << 20, 'x'));
  EXPECT_THROW(ftp.UploadFromStream(stream, "member.bck.new", false), EIdReadTimeout);
  EXPECT_TRUE(ftp.IsConnected());
  EXPECT_EQ(ftp.RemoteFileSize("member.bck"), 3);
  ftp.CloseSession();
}

// A window that asks to cancel after it has repainted a few times.
class TCancellingWindow : public THostUIRecorder {
public:
  void ProcessPaintEvents() override {
    if (++PaintPumps == 3)
      IdRequestCancel();
  }
  ~TCancellingWindow() override { IdResetCancel(); }
};

// The server takes the data connection and never answers its TLS handshake.
class IdFTPTlsDataHandshake : public ::testing::TestWithParam<bool> {
protected:
  IdFTPTlsDataHandshake() : Server(Stalling()) {
    PutFile(Server.PathOf("member.bck"), Archive);
    PointAt(Ftp, Server, TlsVersion13);
    Ftp.SetPassive(GetParam());
    Ftp.OpenSession(true, -1);
  }
  static TTlsFtpServerOptions Stalling() {
    TTlsFtpServerOptions options;
    options.StallDataTls = true;
    return options;
  }

  const std::string Archive = PatternBytes(70000, 9);
  TPyTlsFtpServer Server;
  TIdFTP Ftp;
};

TEST_P(IdFTPTlsDataHandshake, EndsAtTheTransferLimitWithTheSessionInStep) {
  Ftp.SetTransferTimeout(400);
  TMemoryStream stream;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(Ftp.DownloadToStream("member.bck", stream, false), EIdReadTimeout);
  EXPECT_LT(SecondsSince(start), 4.0);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_TRUE(Ftp.IsConnected());
  EXPECT_EQ(Ftp.RemoteFileSize("member.bck"), 70000);
  Ftp.CloseSession();
}

TEST_P(IdFTPTlsDataHandshake, CancelEndsPromptlyAndLeavesTheServerFileAlone) {
  TScratchDir local;
  PutFile(local.PathOf("out.bck"), PatternBytes(90000, 2));
  const auto start = std::chrono::steady_clock::now();
  {
    TCancellingWindow window;
    EXPECT_THROW(Ftp.UploadFile(local.PathOf("out.bck"), "member.bck.new", false), EIdCancelled);
  }
  EXPECT_LT(SecondsSince(start), 4.0);
  EXPECT_FALSE(Ftp.IsConnected());
  EXPECT_TRUE(FileBytes(Server.PathOf("member.bck")) == Archive);
  // The next session works.
  Ftp.OpenSession(true, -1);
  EXPECT_EQ(Ftp.RemoteFileSize("member.bck"), 70000);
  Ftp.CloseSession();
}

INSTANTIATE_TEST_SUITE_P(ActiveOrPassive, IdFTPTlsDataHandshake, ::testing::Bool(),
                         [](const auto &info) {
                           return std::string(info.param ? "Passive" : "Active");
                         });

// A server that answers AUTH TLS and then says nothing more.
class IdFTPTlsControlHandshake : public TScriptedFtpTest {
protected:
  void Start() {
    Peer.Reply("220 Service ready").Expect("AUTH TLS").Reply("234 Go ahead").Pause(1000);
    Peer.Start();
    Ftp.SetHost("127.0.0.1");
    Ftp.SetPort(Peer.Port());
    Ftp.SetUsername("member");
    Ftp.SetPassword("pw");
    Ftp.SetTlsPolicy(tpPreferred);
  }
};

TEST_F(IdFTPTlsControlHandshake, EndsAtTheReplyLimit) {
  Start();
  Ftp.SetReplyTimeout(300);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(Ftp.OpenSession(true, -1), EIdException);
  EXPECT_LT(SecondsSince(start), 0.9);
  EXPECT_FALSE(Ftp.IsConnected());
  EXPECT_EQ(Peer.Finish().front(), "AUTH TLS"); // then the client's hello, unanswered
}

TEST_F(IdFTPTlsControlHandshake, CancelEndsIt) {
  Start();
  const auto start = std::chrono::steady_clock::now();
  {
    TCancellingWindow window;
    EXPECT_THROW(Ftp.OpenSession(true, -1), EIdCancelled);
  }
  EXPECT_LT(SecondsSince(start), 0.9);
  EXPECT_FALSE(Ftp.IsConnected());
  EXPECT_EQ(Peer.Finish().front(), "AUTH TLS"); // then the client's hello, unanswered
}

} // namespace
} // namespace vantari::test
