#include "FtpServer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#endif

namespace vantari::test {

namespace {

// Listens on 127.0.0.1 with a system-chosen port and prints that port once ready.
constexpr const char *kServerScript = R"PY(
import logging, os, sys, threading
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

user, password, home, perm, encoding, disabled, passive = sys.argv[1:8]
logging.basicConfig(level=logging.ERROR)
logging.getLogger("pyftpdlib").setLevel(logging.ERROR)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, home, perm=perm)

class Handler(FTPHandler):
    def decode(self, data):
        return data.decode(encoding, self.unicode_errors)

Handler.authorizer = authorizer
Handler.proto_cmds = {name: info for name, info in FTPHandler.proto_cmds.items()
                      if name not in disabled.split(",")}
if passive:
    low, high = passive.split("-")
    Handler.passive_ports = range(int(low), int(high) + 1)
Handler.auth_failed_timeout = 0.05
# Standard input is a pipe from the test process: its end (even a crash) ends the server.
def watch_parent():
    sys.stdin.buffer.read()
    os._exit(0)

threading.Thread(target=watch_parent, daemon=True).start()
server = FTPServer(("127.0.0.1", 0), Handler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()
)PY";

#ifndef _WIN32
// Reads the first line the child prints, waiting at most timeoutMs.
std::string ReadFirstLine(int fd, int timeoutMs) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
      break;
    char buffer[64];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0)
      break;
    line.append(buffer, static_cast<size_t>(n));
  }
  return line;
}
#endif

} // namespace

TFtpServer::TFtpServer(TFtpServerOptions options) : FOptions(std::move(options)) {
#ifdef _WIN32
  FRoot = MakeTempFolder("/tmp/vantari-ftpd-"); // the same folder for the Linux server
#else
  FRoot = MakeTempFolder((std::filesystem::temp_directory_path() / "vantari-ftpd-").string());
#endif
  FHome = FRoot + "/home";
  std::filesystem::create_directory(FHome);
  try {
    Launch();
  } catch (...) {
    Stop();
    std::filesystem::remove_all(FRoot);
    throw;
  }
}

TFtpServer::~TFtpServer() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(FRoot, ignored);
}

void TFtpServer::Launch() {
  PutFile(FRoot + "/server.py", kServerScript);
  const std::string script = FRoot + "/server.py";
  std::string disabled;
  for (const std::string &command : FOptions.DisabledCommands)
    disabled += (disabled.empty() ? "" : ",") + command;
  const std::string passive =
      FOptions.PassivePortLow > 0
          ? std::to_string(FOptions.PassivePortLow) + "-" + std::to_string(FOptions.PassivePortHigh)
          : std::string();
#ifdef _WIN32
  FProcess.Start({"/usr/bin/python3", script, FOptions.User, FOptions.Password, FHome,
                  FOptions.Permissions, FOptions.Encoding, disabled, passive},
                 FRoot + "/server.log");
  // The port is the first line of its output.
  for (int i = 0; i < 750 && FPort == 0; ++i) {
    const std::string output = ServerLog();
    if (output.find('\n') != std::string::npos)
      FPort = std::atoi(output.c_str());
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (FPort <= 0)
    throw std::runtime_error("FTP server did not start: " + ServerLog());
}
#else
  int out[2];
  int in[2];
  if (::pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
  if (::pipe2(in, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
  }
  FLifeline = in[1];
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (FRoot + "/server.log").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<const char *> argv{"/usr/bin/python3",
                                 script.c_str(),
                                 FOptions.User.c_str(),
                                 FOptions.Password.c_str(),
                                 FHome.c_str(),
                                 FOptions.Permissions.c_str(),
                                 FOptions.Encoding.c_str(),
                                 disabled.c_str(),
                                 passive.c_str(),
                                 nullptr};
  const int rc = ::posix_spawn(&FPid, argv[0], &actions, nullptr,
                               const_cast<char *const *>(argv.data()), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(in[0]);
  if (rc != 0) {
    ::close(out[0]);
    FPid = -1;
    throw std::runtime_error("cannot run /usr/bin/python3: " + std::string(std::strerror(rc)));
  }
  const std::string line = ReadFirstLine(out[0], 15000);
  ::close(out[0]);
  FPort = std::atoi(line.c_str());
  if (FPort <= 0)
    throw std::runtime_error("FTP server did not start: " + ServerLog());
}
#endif

void TFtpServer::Stop() {
  FProcess.Stop();
#ifndef _WIN32
  if (FLifeline >= 0)
    ::close(FLifeline);
  FLifeline = -1;
  if (FPid <= 0)
    return;
  ::kill(FPid, SIGKILL);
  int status = 0;
  while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
  }
  FPid = -1;
#endif
}

std::string TFtpServer::ServerLog() const {
  return FileBytes(FRoot + "/server.log");
}

void TFtpServer::WriteFile(const std::string &name, const std::string &bytes) const {
  PutFile(PathOf(name), bytes);
}

std::string TFtpServer::ReadFile(const std::string &name) const {
  return FileBytes(PathOf(name));
}

namespace {
// Names are UTF-8 (a Korean file name on the server, too); Windows' narrow paths are not.
std::filesystem::path Utf8Path(const std::string &path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}
} // namespace

std::string TFtpServer::FileBytes(const std::string &path) {
  std::ifstream in(Utf8Path(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void TFtpServer::PutFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

} // namespace vantari::test
