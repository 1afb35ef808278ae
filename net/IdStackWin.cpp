#include "IdSystemStack.h"

#include "IdException.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <memory>

namespace vantari {

static_assert(Id_SOCK_STREAM == SOCK_STREAM && Id_SOCK_DGRAM == SOCK_DGRAM &&
              Id_SOCK_RAW == SOCK_RAW);
static_assert(Id_IPPROTO_IP == IPPROTO_IP && Id_IPPROTO_ICMP == IPPROTO_ICMP &&
              Id_IPPROTO_TCP == IPPROTO_TCP && Id_TCP_NODELAY == TCP_NODELAY);
static_assert(Id_WSAECONNREFUSED == WSAECONNREFUSED && Id_WSAHOST_NOT_FOUND == WSAHOST_NOT_FOUND);

static_assert(Id_AF_INET == AF_INET && INADDR_ANY == 0);

namespace {

// Handles of this program's sockets fit the 32 bits the layers above keep them in.
SOCKET Os(TIdStackSocketHandle s) {
  return s == Id_INVALID_SOCKET ? INVALID_SOCKET : static_cast<SOCKET>(s);
}

TIdStackSocketHandle Id(SOCKET s) {
  return s == INVALID_SOCKET ? Id_INVALID_SOCKET : static_cast<TIdStackSocketHandle>(s);
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

} // namespace

std::unique_ptr<TIdStack> CreateSystemStack() {
  return std::make_unique<TIdSystemStack>();
}

TIdSystemStack::TIdSystemStack() {
  WSADATA data{};
  FStarted = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

TIdSystemStack::~TIdSystemStack() {
  if (FStarted)
    ::WSACleanup();
}

TIdStackSocketHandle TIdSystemStack::Accept(TIdStackSocketHandle s, std::string &ip,
                                            int32_t &port) {
  sockaddr_in address{};
  int length = sizeof address;
  IdWait({s, weReadable}, TIdDeadline());
  const SOCKET result = ::accept(Os(s), reinterpret_cast<sockaddr *>(&address), &length);
  ReadAddress(address, ip, port);
  return Id(result);
}

int32_t TIdSystemStack::Bind(TIdStackSocketHandle s, const std::string &ip, int32_t port) {
  const sockaddr_in address = MakeAddress<sockaddr_in>(ip, port);
  return ::bind(Os(s), reinterpret_cast<const sockaddr *>(&address), sizeof address);
}

int32_t TIdSystemStack::CloseSocket(TIdStackSocketHandle s) {
  return ::closesocket(Os(s));
}

int32_t TIdSystemStack::Connect(TIdStackSocketHandle s, const std::string &ip, int32_t port,
                                TIdTimeout timeout) {
  const sockaddr_in address = MakeAddress<sockaddr_in>(ip, port);
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

int32_t TIdSystemStack::Listen(TIdStackSocketHandle s, int32_t backlog) {
  return ::listen(Os(s), backlog);
}

int32_t TIdSystemStack::Recv(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags) {
  return ::recv(Os(s), static_cast<char *>(buf), len, flags);
}

int32_t TIdSystemStack::RecvFrom(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags,
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

int32_t TIdSystemStack::RecvDatagram(TIdStackSocketHandle s, void *buf, int32_t len,
                                     std::string &ip, uint8_t &ttl) {
  int32_t port = 0;
  ttl = 0; // Windows Sockets gives no receive TTL on an ordinary receive
  return RecvFrom(s, buf, len, 0, ip, port);
}

int32_t TIdSystemStack::RecvErrorReport(TIdStackSocketHandle, void *, int32_t, uint8_t &type,
                                        uint8_t &code, std::string &reporter, uint8_t &ttl) {
  type = code = ttl = 0;
  reporter = "0.0.0.0";
  return Fail(Id_WSAEWOULDBLOCK); // no error queue on sockets here
}

// A blocking send on Windows takes everything it is given before it returns, so a send
// waits for room through the one wait and hands over no more than a socket buffer holds:
// the window repaints and a stalled peer ends the send once the limit passes.
int32_t TIdSystemStack::Send(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags,
                             TIdTimeout timeout) {
  constexpr int32_t Slice = 64 * 1024;
  const TIdWaitResult ready = IdWait({s, weWritable}, TIdDeadline(timeout));
  if (ready.TimedOut())
    return Fail(Id_WSAETIMEDOUT);
  return ::send(Os(s), static_cast<const char *>(buf), std::min(len, Slice), flags);
}

int32_t TIdSystemStack::SendTo(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags,
                               const std::string &ip, int32_t port) {
  const sockaddr_in address = MakeAddress<sockaddr_in>(ip, port);
  return ::sendto(Os(s), static_cast<const char *>(buf), len, flags,
                  reinterpret_cast<const sockaddr *>(&address), sizeof address);
}

int32_t TIdSystemStack::SetSockOpt(TIdStackSocketHandle s, int32_t level, int32_t name,
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

TIdStackSocketHandle TIdSystemStack::Socket(int32_t family, int32_t type, int32_t protocol) {
  // Not inherited: a program started meanwhile must not keep the connection open.
  return Id(::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
}

int32_t TIdSystemStack::Shutdown(TIdStackSocketHandle s, int32_t how) {
  return ::shutdown(Os(s), how);
}

int32_t TIdSystemStack::Fail(int32_t code) {
  ::WSASetLastError(code);
  return Id_SOCKET_ERROR;
}

int32_t TIdSystemStack::WSAGetLastError() {
  return ::WSAGetLastError();
}

void TIdSystemStack::GetPeerName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                                 int32_t &port) {
  CheckResult(ReadEndpoint(::getpeername, s, family, ip, port));
}

void TIdSystemStack::GetSockName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                                 int32_t &port) {
  CheckResult(ReadEndpoint(::getsockname, s, family, ip, port));
}

} // namespace vantari
