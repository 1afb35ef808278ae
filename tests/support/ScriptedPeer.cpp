#include "ScriptedPeer.h"

#include "SocketCompat.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace vantari::test {

namespace {

constexpr int kStepTimeoutMs = 10000;

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

void CloseFd(int &fd) {
  if (fd >= 0)
    sockets::Close(fd);
  fd = -1;
}

// A listening socket on 127.0.0.1 with a system-chosen port.
int ListenOnLoopback(int &port) {
  int fd = sockets::Socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
      ::listen(fd, 1) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    CloseFd(fd);
    throw std::runtime_error("scripted peer cannot listen on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

} // namespace

TScriptedPeer::TScriptedPeer() {
  FListenFd = ListenOnLoopback(FPort);
}

TScriptedPeer::~TScriptedPeer() {
  FStop = true;
  if (FThread.joinable())
    FThread.join();
  CloseFd(FClientFd);
  CloseFd(FListenFd);
  CloseFd(FDataListenFd);
}

TScriptedPeer &TScriptedPeer::Send(const std::string &bytes) {
  FSteps.push_back([this, bytes] {
    SendAll(FClientFd, bytes);
    return true;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::Reply(const std::string &line) {
  return Send(line + "\r\n");
}

TScriptedPeer &TScriptedPeer::Expect(const std::string &start) {
  FSteps.push_back([this, start] {
    std::string line;
    if (!ReadLine(line, kStepTimeoutMs)) {
      Fail("expected \"" + start + "\", got nothing");
      return false;
    }
    if (line.rfind(start, 0) != 0) {
      Fail("expected \"" + start + "\", got \"" + line + "\"");
      return false;
    }
    if (line.rfind("PORT ", 0) == 0)
      FLastPort = line.substr(5);
    return true;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::ConnectData(const std::string &bytes) {
  FSteps.push_back([this, bytes] {
    OpenDataConnection(bytes);
    return true;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::ReplyPassive(bool parentheses, const std::string &named) {
  FSteps.push_back([this, parentheses, named] {
    int port = 0;
    CloseFd(FDataListenFd);
    FDataListenFd = ListenOnLoopback(port);
    const std::string address =
        named + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
    SendAll(FClientFd, parentheses ? "227 Entering Passive Mode (" + address + ").\r\n"
                                   : "227 Entering Passive Mode " + address + "\r\n");
    return true;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::ReplyExtendedPassive() {
  FSteps.push_back([this] {
    int port = 0;
    CloseFd(FDataListenFd);
    FDataListenFd = ListenOnLoopback(port);
    SendAll(FClientFd, "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n");
    return true;
  });
  return *this;
}

int TScriptedPeer::AcceptPassive() {
  pollfd p = sockets::Watch(FDataListenFd, POLLIN);
  int fd = sockets::Poll(&p, 1, kStepTimeoutMs) > 0 ? sockets::Accept(FDataListenFd) : -1;
  CloseFd(FDataListenFd);
  return fd;
}

TScriptedPeer &TScriptedPeer::AcceptUpload() {
  FSteps.push_back([this] {
    int fd = AcceptPassive();
    if (fd < 0) {
      Fail("the client did not open the passive data connection");
      return false;
    }
    std::string received;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepTimeoutMs);
    while (!FStop && std::chrono::steady_clock::now() < deadline) {
      pollfd p = sockets::Watch(fd, POLLIN);
      if (sockets::Poll(&p, 1, 50) <= 0)
        continue;
      char buffer[4096];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0)
        break;
      received.append(buffer, static_cast<size_t>(n));
    }
    CloseFd(fd);
    std::lock_guard<std::mutex> lock(FMutex);
    FUploaded = received;
    return true;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::AcceptDataAndStall(const std::string &bytes) {
  FSteps.push_back([this, bytes] {
    int fd = AcceptPassive();
    if (fd < 0) {
      Fail("the client did not open the passive data connection");
      return false;
    }
    SendAll(fd, bytes);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepTimeoutMs);
    while (!FStop && std::chrono::steady_clock::now() < deadline) {
      pollfd p = sockets::Watch(fd, POLLIN);
      char buffer[256];
      if (sockets::Poll(&p, 1, 50) > 0 && ::recv(fd, buffer, sizeof buffer, 0) <= 0)
        break;
    }
    CloseFd(fd);
    return true;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::AcceptDataWithoutReading() {
  FSteps.push_back([this] {
    int fd = AcceptPassive();
    if (fd < 0) {
      Fail("the client did not open the passive data connection");
      return false;
    }
    const int small = 4096; // a small window, so the client's sends stop soon
    sockets::SetOption(fd, SOL_SOCKET, SO_RCVBUF, small);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepTimeoutMs);
    while (!FStop && std::chrono::steady_clock::now() < deadline) {
      pollfd p = sockets::Watch(fd, POLLRDHUP);
      if (sockets::Poll(&p, 1, 50) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)))
        break;
    }
    CloseFd(fd);
    return true;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::ConnectDataFrom(const std::string &sourceIp,
                                              const std::string &bytes) {
  FSteps.push_back([this, sourceIp, bytes] {
    int fd = ConnectToClientPort(sourceIp);
    if (fd < 0)
      return true; // refused outright also keeps the intruder out
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    // The client must close this connection without waiting for the end of the data.
    bool closed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(3000);
    while (!closed && std::chrono::steady_clock::now() < deadline) {
      pollfd p = sockets::Watch(fd, POLLIN);
      if (sockets::Poll(&p, 1, 50) <= 0)
        continue;
      char buffer[256];
      closed = ::recv(fd, buffer, sizeof buffer, 0) <= 0;
    }
    CloseFd(fd);
    std::lock_guard<std::mutex> lock(FMutex);
    FIntruderRefused = closed;
    return true;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::AcceptNextClient() {
  FSteps.push_back([this] {
    CloseFd(FClientFd);
    FPending.clear();
    pollfd p = sockets::Watch(FListenFd, POLLIN);
    if (sockets::Poll(&p, 1, kStepTimeoutMs) <= 0) {
      Fail("the client did not connect again");
      return false;
    }
    FClientFd = sockets::Accept(FListenFd);
    return FClientFd >= 0;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::Trickle(const std::string &bytes, int pauseMs) {
  FSteps.push_back([this, bytes, pauseMs] {
    for (char c : bytes) {
      if (FStop)
        return false;
      if (::send(FClientFd, &c, 1, MSG_NOSIGNAL) != 1)
        return true; // the client gave up: that is what the test looks for
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return true;
  });
  return *this;
}

std::string TScriptedPeer::Uploaded() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FUploaded;
}

bool TScriptedPeer::IntruderRefused() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FIntruderRefused;
}

TScriptedPeer &TScriptedPeer::AcceptData(const std::string &bytes) {
  FSteps.push_back([this, bytes] {
    int fd = AcceptPassive();
    if (fd < 0) {
      Fail("the client did not open the passive data connection");
      return false;
    }
    SendAll(fd, bytes);
    CloseFd(fd);
    return true;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::Pause(int ms) {
  FSteps.push_back([ms] {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::Close() {
  FSteps.push_back([this] {
    CloseFd(FClientFd);
    return false;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::Reset() {
  FSteps.push_back([this] {
    const linger abort{1, 0};
    sockets::SetOption(FClientFd, SOL_SOCKET, SO_LINGER, abort);
    CloseFd(FClientFd);
    return false;
  });
  return *this;
}

TScriptedPeer &TScriptedPeer::Login() {
  return Reply("220 Scripted peer ready")
      .Expect("USER ")
      .Reply("331 Password required")
      .Expect("PASS ")
      .Reply("230 Logged in")
      .Expect("TYPE I")
      .Reply("200 Type set to I")
      .Expect("SYST")
      .Reply("215 UNIX Type: L8");
}

void TScriptedPeer::Start() {
  FThread = std::thread([this] { Run(); });
}

void TScriptedPeer::Run() {
  pollfd p = sockets::Watch(FListenFd, POLLIN);
  if (sockets::Poll(&p, 1, kStepTimeoutMs) <= 0) {
    Fail("no client connected");
    return;
  }
  FClientFd = sockets::Accept(FListenFd);
  for (const auto &step : FSteps) {
    if (FStop || !step())
      return;
  }
  // Record what the client still sends until it closes.
  std::string line;
  while (!FStop && ReadLine(line, kStepTimeoutMs)) {
  }
}

void TScriptedPeer::Fail(const std::string &why) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FFailure.empty())
    FFailure = why;
}

std::string TScriptedPeer::Failure() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FFailure;
}

std::vector<std::string> TScriptedPeer::Finish() {
  if (FThread.joinable())
    FThread.join();
  CloseFd(FClientFd);
  return FReceived;
}

// One line without its CR LF; false when the client closed or stayed silent.
bool TScriptedPeer::ReadLine(std::string &line, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t end = FPending.find('\n');
    if (end != std::string::npos) {
      line = FPending.substr(0, end);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      FPending.erase(0, end + 1);
      FReceived.push_back(line);
      return true;
    }
    if (FStop || FClientFd < 0 || std::chrono::steady_clock::now() >= deadline)
      return false;
    pollfd p = sockets::Watch(FClientFd, POLLIN);
    if (sockets::Poll(&p, 1, 50) <= 0)
      continue;
    char buffer[4096];
    const ssize_t n = ::recv(FClientFd, buffer, sizeof buffer, 0);
    if (n <= 0)
      return false;
    FPending.append(buffer, static_cast<size_t>(n));
  }
}

void TScriptedPeer::SendAll(int fd, const std::string &bytes) {
  size_t sent = 0;
  while (fd >= 0 && sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      Fail("send failed");
      return;
    }
    sent += static_cast<size_t>(n);
  }
}

// A connection to the address of the client's last PORT command; -1 when refused.
int TScriptedPeer::ConnectToClientPort(const std::string &sourceIp) {
  unsigned h[4] = {0, 0, 0, 0};
  unsigned p1 = 0;
  unsigned p2 = 0;
  if (std::sscanf(FLastPort.c_str(), "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p1, &p2) !=
          6 ||
      h[0] != 127) {
    Fail("no usable PORT address: " + FLastPort);
    return -1;
  }
  int fd = sockets::Socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && !sourceIp.empty()) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    ::inet_pton(AF_INET, sourceIp.c_str(), &source.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&source), sizeof source) != 0)
      CloseFd(fd);
  }
  sockaddr_in address = Loopback(static_cast<int>(p1 * 256 + p2));
  address.sin_addr.s_addr = htonl(h[0] << 24 | h[1] << 16 | h[2] << 8 | h[3]);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
    CloseFd(fd);
  return fd;
}

void TScriptedPeer::OpenDataConnection(const std::string &bytes, const std::string &sourceIp) {
  int fd = ConnectToClientPort(sourceIp);
  if (fd < 0) {
    Fail("cannot connect to the client's data port");
    return;
  }
  SendAll(fd, bytes);
  CloseFd(fd);
}

} // namespace vantari::test
