#include "IdStackWin.h"

#include "IdException.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

namespace vantari {

static_assert(Id_SOCK_STREAM == SOCK_STREAM && Id_SOCK_DGRAM == SOCK_DGRAM &&
              Id_SOCK_RAW == SOCK_RAW);
static_assert(Id_IPPROTO_IP == IPPROTO_IP && Id_IPPROTO_ICMP == IPPROTO_ICMP &&
              Id_IPPROTO_TCP == IPPROTO_TCP && Id_TCP_NODELAY == TCP_NODELAY);
static_assert(Id_WSAECONNREFUSED == WSAECONNREFUSED && Id_WSAHOST_NOT_FOUND == WSAHOST_NOT_FOUND);

namespace {

// Handles of this program's sockets fit the 32 bits the layers above keep them in.
SOCKET Os(TIdStackSocketHandle s) {
  return s == Id_INVALID_SOCKET ? INVALID_SOCKET : static_cast<SOCKET>(s);
}

TIdStackSocketHandle Id(SOCKET s) {
  return s == INVALID_SOCKET ? Id_INVALID_SOCKET : static_cast<TIdStackSocketHandle>(s);
}

int32_t Fail(int32_t code) {
  ::WSASetLastError(code);
  return Id_SOCKET_ERROR;
}

sockaddr_in MakeAddress(const std::string &ip, int32_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = ip.empty() ? htonl(INADDR_ANY) : TIdStack::TextToAddress(ip);
  return address;
}

void ReadAddress(const sockaddr_in &address, std::string &ip, int32_t &port) {
  ip = TIdStack::AddressToText(reinterpret_cast<const uint8_t *>(&address.sin_addr.s_addr));
  port = ntohs(address.sin_port);
}

int32_t ReadEndpoint(int(WSAAPI *call)(SOCKET, sockaddr *, int *), TIdStackSocketHandle s,
                     int32_t &family, std::string &ip, int32_t &port) {
  sockaddr_in address{};
  int length = sizeof address;
  const int result = call(Os(s), reinterpret_cast<sockaddr *>(&address), &length);
  family = address.sin_family;
  ReadAddress(address, ip, port);
  return result;
}

int32_t SetBlocking(TIdStackSocketHandle s, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ::ioctlsocket(Os(s), FIONBIO, &nonBlocking);
}

// The outcome of a connect in progress: 0, its code, or 10060 when the limit passed.
int AwaitConnected(TIdStackSocketHandle s, TIdTimeout timeout) {
  if (IdWait({s, weWritable}, TIdDeadline(timeout)).TimedOut())
    return WSAETIMEDOUT;
  int error = 0;
  int length = sizeof error;
  if (::getsockopt(Os(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length) != 0)
    return ::WSAGetLastError();
  return error;
}

// The longest a host lookup may take before the connect gives up on it, and how often
// the caller looks whether it ended (each look also repaints and obeys cancel).
constexpr int64_t LookupTimeoutMs = 30000;
constexpr int64_t LookupPollMs = 20;

// What a lookup thread and its caller share; a caller that stopped waiting (time-out,
// cancel) leaves the thread to finish alone with its own reference.
struct TLookupState {
  explicit TLookupState(std::string name) : Name(std::move(name)) {}
  ~TLookupState() {
    if (Answer)
      ::freeaddrinfo(Answer);
  }
  TLookupState(const TLookupState &) = delete;
  TLookupState &operator=(const TLookupState &) = delete;

  void Run() {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    Result = ::getaddrinfo(Name.c_str(), nullptr, &hints, &Answer);
    Done.store(true);
  }

  std::string Name;
  std::atomic<bool> Done{false};
  int Result = 0;
  addrinfo *Answer = nullptr;
};

// Runs the lookup on a thread of its own, so that an unanswering name server neither
// freezes the window nor holds the caller past the limit.
bool LookUp(const std::shared_ptr<TLookupState> &state) {
  std::thread worker;
  try {
    worker = std::thread([state] { state->Run(); });
  } catch (const std::system_error &) {
    state->Run(); // no thread to spare: a plain blocking lookup
    return true;
  }
  const TIdDeadline deadline{TIdTimeout::Ms(LookupTimeoutMs)};
  try {
    while (!state->Done.load() && !deadline.Passed())
      IdWait(TIdWaitSocket{},
             TIdDeadline::Sooner(deadline, TIdDeadline(TIdTimeout::Ms(LookupPollMs))));
  } catch (...) {
    worker.detach();
    throw;
  }
  const bool done = state->Done.load();
  if (done)
    worker.join();
  else
    worker.detach();
  return done;
}

} // namespace

TIdStackWin::TIdStackWin() {
  WSADATA data{};
  FStarted = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

TIdStackWin::~TIdStackWin() {
  if (FStarted)
    ::WSACleanup();
}

TIdStackSocketHandle TIdStackWin::Accept(TIdStackSocketHandle s, std::string &ip, int32_t &port) {
  sockaddr_in address{};
  int length = sizeof address;
  IdWait({s, weReadable}, TIdDeadline());
  const SOCKET result = ::accept(Os(s), reinterpret_cast<sockaddr *>(&address), &length);
  ReadAddress(address, ip, port);
  return Id(result);
}

int32_t TIdStackWin::Bind(TIdStackSocketHandle s, const std::string &ip, int32_t port) {
  const sockaddr_in address = MakeAddress(ip, port);
  return ::bind(Os(s), reinterpret_cast<const sockaddr *>(&address), sizeof address);
}

int32_t TIdStackWin::CloseSocket(TIdStackSocketHandle s) {
  return ::closesocket(Os(s));
}

int32_t TIdStackWin::Connect(TIdStackSocketHandle s, const std::string &ip, int32_t port,
                             TIdTimeout timeout) {
  const sockaddr_in address = MakeAddress(ip, port);
  if (SetBlocking(s, false) != 0)
    return Id_SOCKET_ERROR;
  int error = 0;
  if (::connect(Os(s), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
    error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      try {
        error = AwaitConnected(s, timeout);
      } catch (...) {
        SetBlocking(s, true);
        throw;
      }
    }
  }
  // Windows cannot tell a socket's mode; the stack's sockets are all blocking.
  SetBlocking(s, true);
  return error == 0 ? 0 : Fail(error);
}

std::string TIdStackWin::GetHostByName(const std::string &name) {
  const auto state = std::make_shared<TLookupState>(name);
  if (!LookUp(state)) {
    Fail(Id_WSAETIMEDOUT);
    CheckResult(Id_SOCKET_ERROR);
  }
  if (state->Result != 0 || state->Answer == nullptr) {
    // No such name, no address, no answer from any name server: the name is not found.
    Fail(state->Result == WSA_NOT_ENOUGH_MEMORY ? Id_WSAENOBUFS : Id_WSAHOST_NOT_FOUND);
    CheckResult(Id_SOCKET_ERROR);
  }
  std::string ip;
  int32_t port = 0;
  ReadAddress(*reinterpret_cast<const sockaddr_in *>(state->Answer->ai_addr), ip, port);
  return ip;
}

std::string TIdStackWin::GetHostName() {
  char buffer[250] = {};
  ::gethostname(buffer, sizeof buffer - 1);
  return buffer;
}

std::string TIdStackWin::GetHostByAddr(const std::string &ip) {
  const sockaddr_in address = MakeAddress(ip, 0);
  char host[NI_MAXHOST] = {};
  const int rc = ::getnameinfo(reinterpret_cast<const sockaddr *>(&address), sizeof address, host,
                               sizeof host, nullptr, 0, NI_NAMEREQD);
  if (rc != 0) {
    Fail(rc == WSA_NOT_ENOUGH_MEMORY ? Id_WSAENOBUFS : Id_WSAHOST_NOT_FOUND);
    CheckResult(Id_SOCKET_ERROR);
  }
  return host;
}

int32_t TIdStackWin::GetServByName(const std::string &name) {
  if (const servent *found = ::getservbyname(name.c_str(), "tcp"))
    return ntohs(static_cast<uint16_t>(found->s_port));
  try {
    size_t used = 0;
    const int port = std::stoi(name, &used);
    if (used == name.size())
      return port;
  } catch (const std::exception &) {
  }
  throw EIdInvalidServiceName(name);
}

int32_t TIdStackWin::Listen(TIdStackSocketHandle s, int32_t backlog) {
  return ::listen(Os(s), backlog);
}

int32_t TIdStackWin::Recv(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags) {
  return ::recv(Os(s), static_cast<char *>(buf), len, flags);
}

int32_t TIdStackWin::RecvFrom(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags,
                              std::string &ip, int32_t &port) {
  sockaddr_in address{};
  int length = sizeof address;
  const int result = ::recvfrom(Os(s), static_cast<char *>(buf), len, flags,
                                reinterpret_cast<sockaddr *>(&address), &length);
  const int error = ::WSAGetLastError();
  ReadAddress(address, ip, port);
  ::WSASetLastError(error);
  return result;
}

int32_t TIdStackWin::RecvDatagram(TIdStackSocketHandle s, void *buf, int32_t len, std::string &ip,
                                  uint8_t &ttl) {
  int32_t port = 0;
  ttl = 0; // Windows Sockets gives no receive TTL on an ordinary receive
  return RecvFrom(s, buf, len, 0, ip, port);
}

int32_t TIdStackWin::RecvErrorReport(TIdStackSocketHandle, void *, int32_t, uint8_t &type,
                                     uint8_t &code, std::string &reporter, uint8_t &ttl) {
  type = code = ttl = 0;
  reporter = "0.0.0.0";
  return Fail(Id_WSAEWOULDBLOCK); // no error queue on sockets here
}

int32_t TIdStackWin::Select(TIdStackSocketHandle s, TIdTimeout timeout) {
  const TIdWaitResult ready = IdWait({s, weReadable}, TIdDeadline(timeout));
  if (ready.Closed)
    return Fail(Id_WSAENOTSOCK);
  return ready.First ? 1 : 0;
}

// A blocking send on Windows takes everything it is given before it returns, so a send
// waits for room through the one wait and hands over no more than a socket buffer holds:
// the window repaints and a stalled peer ends the send once the limit passes.
int32_t TIdStackWin::Send(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags,
                          TIdTimeout timeout) {
  constexpr int32_t Slice = 64 * 1024;
  const TIdWaitResult ready = IdWait({s, weWritable}, TIdDeadline(timeout));
  if (ready.TimedOut())
    return Fail(Id_WSAETIMEDOUT);
  return ::send(Os(s), static_cast<const char *>(buf), std::min(len, Slice), flags);
}

int32_t TIdStackWin::SendTo(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags,
                            const std::string &ip, int32_t port) {
  const sockaddr_in address = MakeAddress(ip, port);
  return ::sendto(Os(s), static_cast<const char *>(buf), len, flags,
                  reinterpret_cast<const sockaddr *>(&address), sizeof address);
}

int32_t TIdStackWin::SetSockOpt(TIdStackSocketHandle s, int32_t level, int32_t name,
                                const void *value, int32_t len) {
  // The layers above name a few options by their Linux numbers; the rest are the OS's own.
  if (level == Id_SOL_SOCKET) {
    level = SOL_SOCKET;
    if (name == Id_SO_REUSEADDR) {
      // Windows binds a port still in TIME_WAIT without it; with it another program could
      // take over the bound port.
      return 0;
    }
  } else if (level == Id_IPPROTO_IP && name == Id_IP_TTL) {
    name = IP_TTL;
  }
  return ::setsockopt(Os(s), level, name, static_cast<const char *>(value), len);
}

TIdStackSocketHandle TIdStackWin::Socket(int32_t family, int32_t type, int32_t protocol) {
  // Not inherited: a program started meanwhile must not keep the connection open.
  return Id(::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
}

int32_t TIdStackWin::Shutdown(TIdStackSocketHandle s, int32_t how) {
  return ::shutdown(Os(s), how);
}

std::string TIdStackWin::ErrorText(int32_t code) {
  if (code == Id_WSAHOST_NOT_FOUND)
    return "Host not found.";
  return TIdStack::ErrorText(code);
}

int32_t TIdStackWin::WSAGetLastError() {
  return ::WSAGetLastError();
}

void TIdStackWin::GetPeerName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                              int32_t &port) {
  CheckResult(ReadEndpoint(::getpeername, s, family, ip, port));
}

void TIdStackWin::GetSockName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                              int32_t &port) {
  CheckResult(ReadEndpoint(::getsockname, s, family, ip, port));
}

} // namespace vantari
