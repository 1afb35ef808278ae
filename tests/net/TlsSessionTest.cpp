// TTlsSession against real TLS servers on loopback: pyftpdlib (pyOpenSSL) and vsftpd.
// The FTP exchange here is the least that gets a TLS control connection and its data
// connections going; the FTP client proper is tested in tests/ftp.
#include "TlsSession.h"
#include "TlsFtpServers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace vantari::test {
namespace {

// A connected or listening loopback socket, closed once.
class TFd {
public:
  explicit TFd(int fd = -1) : FFd(fd) {}
  ~TFd() {
    if (FFd >= 0)
      ::close(FFd);
  }
  TFd(TFd &&other) noexcept : FFd(other.FFd) { other.FFd = -1; }
  TFd &operator=(TFd &&other) noexcept {
    std::swap(FFd, other.FFd);
    return *this;
  }
  int Get() const { return FFd; }

private:
  int FFd;
};

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

TFd Connect(int port) {
  TFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = Loopback(port);
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
    throw std::runtime_error("connect failed");
  return fd;
}

TFd Listen(int &port) {
  TFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  ::bind(fd.Get(), reinterpret_cast<sockaddr *>(&address), sizeof address);
  ::listen(fd.Get(), 1);
  ::getsockname(fd.Get(), reinterpret_cast<sockaddr *>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

// A connection whose server has just answered AUTH TLS with 234.
TFd StartTls(int port) {
  TFd fd = Connect(port);
  auto readLine = [&fd] {
    std::string line;
    char c;
    while (line.find('\n') == std::string::npos && ::recv(fd.Get(), &c, 1, 0) == 1)
      line += c;
    return line;
  };
  readLine();
  ::send(fd.Get(), "AUTH TLS\r\n", 10, MSG_NOSIGNAL);
  if (readLine().substr(0, 3) != "234")
    throw std::runtime_error("AUTH TLS refused");
  return fd;
}

std::string RandomBytes(size_t size) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::string bytes(size, '\0');
  for (char &c : bytes)
    c = static_cast<char>(random());
  return bytes;
}

std::string FileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// The control connection: plain until AUTH TLS, then through the TLS session.
class TFtpsControl {
public:
  TFtpsControl(int port, TTlsContext &context) : FFd(Connect(port)), FContext(context) {}

  std::string Reply() {
    for (;;) {
      const size_t end = FBuffer.find("\r\n");
      if (end != std::string::npos) {
        std::string line = FBuffer.substr(0, end);
        FBuffer.erase(0, end + 2);
        if (line.size() >= 4 && line[3] == ' ')
          return line;
        continue;
      }
      char chunk[4096];
      const int n = FTls ? FTls->Read(chunk, sizeof chunk)
                         : static_cast<int>(::recv(FFd.Get(), chunk, sizeof chunk, 0));
      if (n <= 0)
        throw std::runtime_error("control connection closed");
      FBuffer.append(chunk, static_cast<size_t>(n));
    }
  }
  std::string Command(const std::string &line) {
    const std::string text = line + "\r\n";
    if (FTls)
      FTls->Write(text.data(), static_cast<int32_t>(text.size()));
    else
      ::send(FFd.Get(), text.data(), text.size(), MSG_NOSIGNAL);
    return Reply();
  }
  // Greeting, AUTH TLS, handshake, login, PBSZ 0, PROT P, TYPE I.
  void Open(const std::string &user, const std::string &password) {
    ASSERT_EQ(Reply().substr(0, 3), "220");
    ASSERT_EQ(Command("AUTH TLS").substr(0, 3), "234");
    FTls = std::make_unique<TTlsSession>(FContext, FFd.Get());
    FTls->SetTimeout(10000);
    FTls->Connect("127.0.0.1");
    ASSERT_EQ(Command("USER " + user).substr(0, 3), "331");
    ASSERT_EQ(Command("PASS " + password).substr(0, 3), "230");
    ASSERT_EQ(Command("PBSZ 0").substr(0, 3), "200");
    ASSERT_EQ(Command("PROT P").substr(0, 3), "200");
    ASSERT_EQ(Command("TYPE I").substr(0, 3), "200");
  }
  TTlsSession &Tls() { return *FTls; }

  // One transfer over a TLS data connection resuming the control session; returns what
  // was received (download) and the data session's reuse flag.
  std::string Transfer(bool passive, const std::string &command, const std::string &upload,
                       bool &reused) {
    TFd data;
    TFd listener;
    if (passive) {
      const std::string reply = Command("PASV");
      EXPECT_EQ(reply.substr(0, 3), "227");
      int h1, h2, h3, h4, p1, p2;
      sscanf(reply.c_str() + reply.find('(') + 1, "%d,%d,%d,%d,%d,%d", &h1, &h2, &h3, &h4, &p1,
             &p2);
      data = Connect(p1 * 256 + p2);
    } else {
      int port = 0;
      listener = Listen(port);
      EXPECT_EQ(
          Command("PORT 127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256))
              .substr(0, 3),
          "200");
    }
    const std::string preliminary = Command(command);
    EXPECT_TRUE(preliminary.starts_with("150") || preliminary.starts_with("125")) << preliminary;
    if (!passive)
      data = TFd(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    std::string received;
    {
      TTlsSession session(FContext, data.Get());
      session.SetTimeout(10000);
      // Active mode too: the server connected, but we are the TLS client.
      session.Connect("127.0.0.1", FTls.get());
      reused = session.SessionReused();
      EXPECT_EQ(session.PeerFingerprint(), FTls->PeerFingerprint());
      if (upload.empty()) {
        char chunk[65536];
        for (int n; (n = session.Read(chunk, sizeof chunk)) > 0;)
          received.append(chunk, static_cast<size_t>(n));
        EXPECT_TRUE(session.PeerClosedCleanly());
        session.Shutdown(false);
      } else {
        session.Write(upload.data(), static_cast<int32_t>(upload.size()));
        session.Shutdown(true);
      }
    }
    data = TFd();
    const std::string final = Reply();
    EXPECT_EQ(final.substr(0, 3), "226") << final;
    return received;
  }

private:
  TFd FFd;
  TTlsContext &FContext;
  std::unique_ptr<TTlsSession> FTls;
  std::string FBuffer;
};

struct TVersionCase {
  const char *Name;
  int Version;
};
const TVersionCase kVersions[] = {{"TLSv1.2", TlsVersion12}, {"TLSv1.3", TlsVersion13}};

TTlsOptions OnlyVersion(int version) {
  TTlsOptions options;
  options.MinVersion = options.MaxVersion = version;
  return options;
}

// Three data connections (download, upload, download) in one mode, all resuming.
void RunTransfers(TFtpsControl &control, bool passive, const std::string &folder,
                  const std::string &diskFolder, std::vector<bool> &reuse) {
  const std::string payload = RandomBytes(3 * 1024 * 1024 + 17);
  const std::string remote = folder + (passive ? "passive.bin" : "active.bin");
  bool reused = false;
  control.Transfer(passive, "STOR " + remote, payload, reused);
  reuse.push_back(reused);
  EXPECT_TRUE(FileBytes(diskFolder + "/" + (passive ? "passive.bin" : "active.bin")) == payload);
  EXPECT_EQ(control.Command("SIZE " + remote), "213 " + std::to_string(payload.size()));
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(control.Transfer(passive, "RETR " + remote, {}, reused) == payload);
    reuse.push_back(reused);
  }
}

TEST(TlsSessionTest, ASelfSignedServerIsNotVerifiedButShowsItsFingerprint) {
  for (const TVersionCase &version : kVersions) {
    SCOPED_TRACE(version.Name);
    TPyTlsFtpServer server;
    TTlsContext context(OnlyVersion(version.Version));
    TFtpsControl control(server.Port(), context);
    control.Open(server.User(), server.Password());
    EXPECT_EQ(control.Tls().Version(), version.Name);
    EXPECT_FALSE(control.Tls().PeerVerified());
    EXPECT_TRUE(control.Tls().PeerSelfSigned());
    EXPECT_FALSE(control.Tls().VerifyErrorText().empty());
    EXPECT_EQ(control.Tls().PeerFingerprint(), server.Certificate().Fingerprint);
    EXPECT_FALSE(control.Tls().SessionReused());
  }
}

TEST(TlsSessionTest, ACertificateFromATrustedRootIsVerifiedForItsNamesOnly) {
  TTempFolder folder;
  std::string rootFile;
  const TTestCertificate leaf = TTestCertificate::SignedByTestRoot(folder.Path(), rootFile);
  TTlsFtpServerOptions options;
  options.CertFile = leaf.CertFile;
  options.KeyFile = leaf.KeyFile;
  TPyTlsFtpServer server(options);
  TTlsOptions trusting;
  trusting.CAFile = rootFile;
  TTlsContext context(trusting);
  struct {
    const char *Host;
    bool Verified;
  } cases[] = {{"127.0.0.1", true}, {"localhost", true}, {"backup.example.org", false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Host);
    TFd fd = StartTls(server.Port());
    TTlsSession session(context, fd.Get());
    session.SetTimeout(10000);
    session.Connect(c.Host);
    EXPECT_EQ(session.PeerVerified(), c.Verified) << session.VerifyErrorText();
    EXPECT_FALSE(session.PeerSelfSigned());
    EXPECT_EQ(session.PeerFingerprint(), leaf.Fingerprint);
  }
  // The system's roots do not include the test's own.
  TTlsContext system;
  TFd fd = StartTls(server.Port());
  TTlsSession session(system, fd.Get());
  session.SetTimeout(10000);
  session.Connect("localhost");
  EXPECT_FALSE(session.PeerVerified());
}

TEST(TlsSessionTest, DataConnectionsResumeTheControlSessionWithPyftpdlib) {
  for (const TVersionCase &version : kVersions) {
    SCOPED_TRACE(version.Name);
    TPyTlsFtpServer server; // refuses data connections that do not resume
    TTlsContext context(OnlyVersion(version.Version));
    TFtpsControl control(server.Port(), context);
    control.Open(server.User(), server.Password());
    std::vector<bool> reuse;
    RunTransfers(control, true, "", server.Home(), reuse);
    RunTransfers(control, false, "", server.Home(), reuse);
    for (size_t i = 0; i < reuse.size(); ++i)
      EXPECT_TRUE(reuse[i]) << "data connection " << i;
    // The server's view: every data connection resumed, each upload ended by close_notify.
    int resumed = 0, closeNotify = 0;
    for (const std::string &event : server.Events()) {
      resumed += event == std::string("data tls version=") + version.Name + " reused=1";
      closeNotify += event == "data end close_notify=1";
    }
    EXPECT_EQ(resumed, 6);
    EXPECT_EQ(closeNotify, 2);
  }
}

TEST(TlsSessionTest, DataConnectionsResumeTheControlSessionWithVsftpd) {
  const std::string skip = TVsftpdServer::SkipReason();
  if (!skip.empty())
    GTEST_SKIP() << skip;
  for (const TVersionCase &version : kVersions) {
    SCOPED_TRACE(version.Name);
    TVsftpdServer server; // require_ssl_reuse=YES, strict_ssl_read_eof=YES
    TTlsContext context(OnlyVersion(version.Version));
    TFtpsControl control(server.Port(), context);
    control.Open(server.User(), server.Password());
    std::vector<bool> reuse;
    RunTransfers(control, true, "pub/", server.Pub(), reuse);
    RunTransfers(control, false, "pub/", server.Pub(), reuse);
    for (size_t i = 0; i < reuse.size(); ++i)
      EXPECT_TRUE(reuse[i]) << "data connection " << i;
    EXPECT_EQ(server.ResumedDataConnections(), 6) << server.Log();
    EXPECT_EQ(server.FreshTlsConnections(), 1) << server.Log();
    EXPECT_NE(server.Log().find("SSL version: " + std::string(version.Name)), std::string::npos);
  }
}

TEST(TlsSessionTest, VersionsOutsideTheLimitsAreRefused) {
  TTlsFtpServerOptions options;
  options.MinVersion = TlsVersion13;
  TPyTlsFtpServer server(options);
  TTlsContext context(OnlyVersion(TlsVersion12));
  TFd fd = StartTls(server.Port());
  TTlsSession session(context, fd.Get());
  session.SetTimeout(10000);
  EXPECT_THROW(session.Connect("127.0.0.1"), ETlsError);
}

TEST(TlsSessionTest, ASilentPeerEndsTheHandshakeAtTheLimit) {
  int port = 0;
  TFd listener = Listen(port);
  TFd fd = Connect(port);
  TFd accepted(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  TTlsContext context;
  TTlsSession session(context, fd.Get());
  session.SetTimeout(300);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(session.Connect("127.0.0.1"), ETlsTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(TlsSessionTest, APeerThatClosesMidHandshakeIsATlsFailureNotACrash) {
  int port = 0;
  TFd listener = Listen(port);
  TFd fd = Connect(port);
  {
    TFd accepted(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    ::send(accepted.Get(), "220 not TLS at all\r\n", 20, MSG_NOSIGNAL);
  }
  TTlsContext context;
  TTlsSession session(context, fd.Get());
  session.SetTimeout(2000);
  EXPECT_THROW(session.Connect("127.0.0.1"), ETlsError);
  EXPECT_TRUE(session.PeerFingerprint().empty());
}

} // namespace
} // namespace vantari::test
