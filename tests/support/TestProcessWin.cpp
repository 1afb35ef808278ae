// Under Wine a test starts the Linux servers and tools as Unix processes: CreateProcessW runs a
// Linux executable, but hands back no handle to wait on or to end it by. So every one is started
// by a small guard that calls back over loopback TCP: the guard reports the command's exit
// status, or that a server runs, and kills the server's process group when the connection
// closes (the object goes, or the test process dies).
#include "SocketCompat.h"
#include "TlsFtpServers.h"

#include "FtpServer.h"
#include "WinCommandLine.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace vantari::test {

namespace {

constexpr const char *kGuardScript = R"PY(
import os, signal, socket, subprocess, sys
lifeline = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
mode, log, argv = sys.argv[2], sys.argv[3], sys.argv[4:]
os.environ["PATH"] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
try:
    with open(log, "wb" if mode == "run" else "ab") as out:
        child = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=out,
                                 stderr=subprocess.STDOUT, start_new_session=True)
except OSError:
    sys.exit(127)  # the connection closes without a word
if mode == "run":
    code = child.wait()
    lifeline.sendall(b"%d\n" % (code if code >= 0 else 128))
    sys.exit(0)
lifeline.sendall(b"started\n")
while lifeline.recv(64):
    pass
os.killpg(child.pid, signal.SIGKILL)
child.wait()
)PY";

constexpr int kStartTimeoutMs = 15000;

const std::string &GuardScript() {
  static const TTempFolder folder;
  static const std::string path = [] {
    const std::string file = folder.Path() + "/guard.py";
    std::ofstream(file, std::ios::binary) << kGuardScript;
    return file;
  }();
  return path;
}

void SetReadTimeout(int fd, int ms) {
  const DWORD timeout = static_cast<DWORD>(ms);
  sockets::SetOption(fd, SOL_SOCKET, SO_RCVTIMEO, timeout);
}

// Starts the guard in the given mode and returns the connection it made back.
int StartGuarded(const std::string &mode, const std::vector<std::string> &argv,
                 const std::string &logFile) {
  const int listener = sockets::Socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    sockets::Close(listener);
    throw std::runtime_error("no lifeline socket on 127.0.0.1");
  }
  std::vector<std::string> line{"/usr/bin/python3", GuardScript(),
                                std::to_string(ntohs(address.sin_port)), mode, logFile};
  line.insert(line.end(), argv.begin(), argv.end());
  std::wstring command;
  for (const std::string &arg : line) {
    const std::wstring wide(arg.begin(), arg.end()); // the arguments are ASCII
    command += (command.empty() ? L"" : L" ") + QuotedArgument(wide);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    sockets::Close(listener);
    throw std::runtime_error("cannot start " + argv.front());
  }
  // For a Linux program Wine gives no process handle and leaves a stale value in the thread's
  // field, often the handle of the listener above: closing it would close the listener.
  if (process.hProcess != nullptr) {
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  pollfd wait = sockets::Watch(listener, POLLRDNORM);
  const int fd = sockets::Poll(&wait, 1, kStartTimeoutMs) > 0 ? sockets::Accept(listener) : -1;
  sockets::Close(listener);
  if (fd < 0)
    throw std::runtime_error("no guard called back for " + argv.front());
  return fd;
}

// The guard's one line, empty when it closed without one.
std::string ReadReport(int fd, int timeoutMs) {
  SetReadTimeout(fd, timeoutMs);
  std::string line;
  char c = 0;
  while (::recv(static_cast<SOCKET>(fd), &c, 1, 0) == 1 && c != '\n')
    line += c;
  return line;
}

} // namespace

std::string MakeTempFolder(const std::string &prefix) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[9];
    std::snprintf(suffix, sizeof suffix, "%08x", random());
    const std::string path = prefix + suffix;
    if (std::filesystem::create_directory(path))
      return path;
  }
  throw std::runtime_error("cannot make a folder " + prefix + "...");
}

int RunCommand(const std::vector<std::string> &argv, const std::string &logFile) {
  const int fd = StartGuarded("run", argv, logFile);
  const std::string report = ReadReport(fd, 60000);
  sockets::Close(fd);
  return report.empty() ? 127 : std::atoi(report.c_str());
}

void TServerProcess::Start(const std::vector<std::string> &argv, const std::string &logFile) {
  Stop();
  const int fd = StartGuarded("serve", argv, logFile);
  if (ReadReport(fd, kStartTimeoutMs) != "started") {
    sockets::Close(fd);
    throw std::runtime_error("cannot start " + argv.front());
  }
  FLifeline = fd;
}

void TServerProcess::Stop() {
  if (FLifeline < 0)
    return;
  // The guard kills the server's group and then ends, which closes its side: once that is
  // seen, the server's sockets are gone too.
  ::shutdown(static_cast<SOCKET>(FLifeline), SD_SEND);
  SetReadTimeout(FLifeline, 10000);
  char buffer[64];
  while (::recv(static_cast<SOCKET>(FLifeline), buffer, sizeof buffer, 0) > 0) {
  }
  sockets::Close(FLifeline);
  FLifeline = -1;
}

std::string TVsftpdServer::SkipReason() {
  // The servers run as the Unix user Wine runs as.
  const TTempFolder folder;
  if (RunCommand({"id", "-u"}, folder.Path() + "/uid") != 0 ||
      std::atoi(TFtpServer::FileBytes(folder.Path() + "/uid").c_str()) != 0)
    return "vsftpd runs only as root (it changes to the ftp user and chroots)";
  return {};
}

} // namespace vantari::test
