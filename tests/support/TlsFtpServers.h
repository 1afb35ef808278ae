#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace vantari::test {

// A certificate and its key, made by the openssl command in a folder the caller owns.
struct TTestCertificate {
  std::string CertFile;
  std::string KeyFile;
  // SHA-256 of the certificate, upper-case hex pairs joined by ':'.
  std::string Fingerprint;

  // Self-signed, for 127.0.0.1 and localhost.
  static TTestCertificate SelfSigned(const std::string &folder, const std::string &name);
  // A root (its certificate alone, to be trusted) and a leaf for 127.0.0.1 and localhost
  // signed by it; the root's certificate lands in CAFile.
  static TTestCertificate SignedByTestRoot(const std::string &folder, std::string &CAFile);
};

// A folder under /tmp removed with everything in it when the object goes.
class TTempFolder {
public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder &) = delete;
  TTempFolder &operator=(const TTempFolder &) = delete;
  const std::string &Path() const { return FPath; }

private:
  std::string FPath;
};

// A child process in its own process group that dies with the test process: its group is
// killed when the object goes or when the test process ends (the lifeline pipe closes).
class TServerProcess {
public:
  TServerProcess() = default;
  ~TServerProcess() { Stop(); }
  TServerProcess(const TServerProcess &) = delete;
  TServerProcess &operator=(const TServerProcess &) = delete;

  // Runs argv under a small shell guard; standard output and error go to logFile.
  void Start(const std::vector<std::string> &argv, const std::string &logFile);
  void Stop();
  bool Running() const { return FLifeline >= 0; }

private:
  pid_t FPid = -1;    // POSIX: the guard's process group
  int FLifeline = -1; // POSIX: a pipe's write end; Windows: a loopback socket to the guard
};

struct TTlsFtpServerOptions {
  std::string User = "vantari";
  std::string Password = "s3cret-pass";
  bool OfferTls = true;     // false: a plain server that answers AUTH with 500
  bool RequireReuse = true; // refuse a data connection that did not resume the session
  int MinVersion = 0x0303;  // TLS numbers: 0x0303 is 1.2, 0x0304 is 1.3
  int MaxVersion = 0;       // 0: the newest
  std::string CertFile;     // empty: a self-signed certificate made at start
  std::string KeyFile;
  int Port = 0; // 0: a free one
  // Misbehaviour on demand: verbs answered with 502; verbs after which the server reads nothing
  // more on that control connection; data connections whose TLS handshake is never answered.
  std::vector<std::string> RefuseCommands;
  std::vector<std::string> HangOnCommands;
  bool StallDataTls = false;
  bool StallDataReading = false; // data connections read nothing after their handshake
  // Each PORT address is first tried from 127.0.0.2; the event log says "intruder connected",
  // and "intruder refused" at the next command once the client closed that connection.
  bool Intruder = false;
  int PassivePortLow = 0; // 0: any free port
  int PassivePortHigh = 0;
};

// pyftpdlib with TLS (pyOpenSSL) on 127.0.0.1, run by /usr/bin/python3. The event log has a
// line for every command received ("cmd USER", the verb only) and for every data connection:
// "data tls version=TLSv1.3 reused=1" after its handshake, "data end close_notify=1" at the
// end of an upload.
class TPyTlsFtpServer {
public:
  explicit TPyTlsFtpServer(TTlsFtpServerOptions options = {});
  TPyTlsFtpServer(const TPyTlsFtpServer &) = delete;
  TPyTlsFtpServer &operator=(const TPyTlsFtpServer &) = delete;

  std::string Host() const { return "127.0.0.1"; }
  int Port() const { return FPort; }
  const std::string &User() const { return FOptions.User; }
  const std::string &Password() const { return FOptions.Password; }
  const std::string &Home() const { return FHome; }
  std::string PathOf(const std::string &name) const { return FHome + "/" + name; }
  const TTestCertificate &Certificate() const { return FCertificate; }
  // Lines of the event log so far.
  std::vector<std::string> Events() const;
  // The command verbs received so far, in order ("AUTH", "USER", ...).
  std::vector<std::string> Commands() const;
  // Data connections that resumed the session, and uploads ended by close_notify.
  int ResumedDataConnections() const;
  int UploadsEndedByCloseNotify() const;
  std::string ServerLog() const;
  void Stop() { FProcess.Stop(); }

private:
  TTlsFtpServerOptions FOptions;
  TTempFolder FRoot;
  std::string FHome;
  TTestCertificate FCertificate;
  TServerProcess FProcess;
  int FPort = 0;
};

// vsftpd with ssl_enable=YES and its default require_ssl_reuse=YES, in a configuration of
// the test's own, standalone on 127.0.0.1 and a free port, anonymous login (any password),
// TLS forced for login and data, active mode and passive mode (ports from a range of 100). The
// login folder is not writable (vsftpd refuses that); files go to "pub/". Needs root: see
// SkipReason.
class TVsftpdServer {
public:
  // Why vsftpd cannot run here, or empty when it can.
  static std::string SkipReason();

  // tls false: plain FTP (no AUTH TLS), no certificate.
  explicit TVsftpdServer(const std::string &certFile = {}, const std::string &keyFile = {},
                         bool tls = true);
  TVsftpdServer(const TVsftpdServer &) = delete;
  TVsftpdServer &operator=(const TVsftpdServer &) = delete;

  std::string Host() const { return "127.0.0.1"; }
  int Port() const { return FPort; }
  std::string User() const { return "anonymous"; }
  std::string Password() const { return "guest@"; }
  // The writable folder "pub" on disk.
  const std::string &Pub() const { return FPub; }
  const TTestCertificate &Certificate() const { return FCertificate; }
  // The server's log (protocol, transfers and the TLS diagnostics of every connection).
  std::string Log() const;
  // How many data connections the server reports as resumed / not resumed.
  int ResumedDataConnections() const;
  int FreshTlsConnections() const;

private:
  TTempFolder FRoot;
  std::string FPub;
  TTestCertificate FCertificate;
  TServerProcess FProcess;
  int FPort = 0;
};

// A new folder named prefix and a random suffix (prefix "/tmp/..." is Linux's /tmp under Wine too,
// whose current drive is the root folder's).
std::string MakeTempFolder(const std::string &prefix);
// A port on 127.0.0.1 free at the time of the call.
int FreeLoopbackPort();
// Waits up to timeoutMs for 127.0.0.1:port to accept a connection.
bool WaitForListener(int port, int timeoutMs);
// Runs a command and waits; its exit status (127 when it could not run). Output to logFile.
int RunCommand(const std::vector<std::string> &argv, const std::string &logFile = "/dev/null");

} // namespace vantari::test
