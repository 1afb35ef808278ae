#pragma once

#include "TlsFtpServers.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace vantari::test {

struct TFtpServerOptions {
  std::string User = "vantari";
  std::string Password = "s3cret-pass";
  std::string Permissions = "elradfmwMT";
  // How the server decodes command arguments ("utf8" or "cp949").
  std::string Encoding = "utf8";
  // Commands the server answers with 500, as one without them would (e.g. "PORT", "SIZE").
  std::vector<std::string> DisabledCommands = {};
  // The ports passive mode uses (0, 0: any), so that a test's firewall can let them in.
  int PassivePortLow = 0;
  int PassivePortHigh = 0;
};

// A real FTP server (pyftpdlib run by /usr/bin/python3) on 127.0.0.1 and a free
// port, with one user whose home is a fresh temporary folder. Started by the
// constructor, stopped and removed by the destructor.
class TFtpServer {
public:
  explicit TFtpServer(TFtpServerOptions options = {});
  ~TFtpServer();
  TFtpServer(const TFtpServer &) = delete;
  TFtpServer &operator=(const TFtpServer &) = delete;

  std::string Host() const { return "127.0.0.1"; }
  int Port() const { return FPort; }
  const std::string &User() const { return FOptions.User; }
  const std::string &Password() const { return FOptions.Password; }
  // The user's home folder on disk.
  const std::string &Home() const { return FHome; }
  std::string PathOf(const std::string &name) const { return FHome + "/" + name; }
  void WriteFile(const std::string &name, const std::string &bytes) const;
  std::string ReadFile(const std::string &name) const;
  // Kills the server at once; its connections close.
  void Stop();

  // Whole-file helpers for tests (binary, no conversion).
  static std::string FileBytes(const std::string &path);
  static void PutFile(const std::string &path, const std::string &bytes);

private:
  void Launch();
  std::string ServerLog() const;

  TFtpServerOptions FOptions;
  std::string FRoot; // temporary folder: script, log and home
  std::string FHome;
  pid_t FPid = -1;
  int FLifeline = -1;      // write end of the server's standard input
  TServerProcess FProcess; // Windows: the server under its guard (see TestProcessWin.cpp)
  int FPort = 0;
};

} // namespace vantari::test
