#include "IdStackPosix.h"
#include "IdSystemStack.h"

#include "IdException.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantari {

static_assert(Id_SOCK_STREAM == SOCK_STREAM && Id_SOCK_DGRAM == SOCK_DGRAM &&
              Id_SOCK_RAW == SOCK_RAW);
static_assert(Id_IPPROTO_IP == IPPROTO_IP && Id_IPPROTO_ICMP == IPPROTO_ICMP &&
              Id_IPPROTO_TCP == IPPROTO_TCP);
static_assert(Id_IP_TTL == IP_TTL && Id_TCP_NODELAY == TCP_NODELAY && Id_SOL_SOCKET == SOL_SOCKET &&
              Id_SO_REUSEADDR == SO_REUSEADDR);

static_assert(Id_AF_INET == AF_INET && INADDR_ANY == 0);

namespace {

// Like the per-thread error of Windows Sockets: the code of this thread's last failure.
thread_local int32_t lastError = 0;

// Records the errno of a failed call (-1) as its Windows Sockets code.
int32_t Checked(long result, int error) {
  if (result < 0) {
    lastError = WSACodeOfErrno(error);
    return Id_SOCKET_ERROR;
  }
  return static_cast<int32_t>(result);
}

// errno is read here, after the call that set it has returned.
int32_t Checked(long result) {
  return Checked(result, errno);
}

template <typename Call> long RetryOnInterrupt(Call call) {
  long result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

// One end of a socket through getsockname or getpeername.
int32_t ReadEndpoint(int (*call)(int, sockaddr *, socklen_t *), TIdStackSocketHandle s,
                     int32_t &family, std::string &ip, int32_t &port) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  const int32_t result = Checked(call(s, reinterpret_cast<sockaddr *>(&address), &length));
  family = address.sin_family;
  ReadAddress(address, ip, port);
  return result;
}

// The outcome of a connect in progress: 0, its errno, or ETIMEDOUT when the limit passed.
int AwaitConnected(TIdStackSocketHandle s, TIdTimeout timeout) {
  if (IdWait({s, weWritable}, TIdDeadline(timeout)).TimedOut())
    return ETIMEDOUT;
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) == 0 ? error : errno;
}

} // namespace

int32_t WSACodeOfErrno(int error) {
  switch (error) {
  case EINTR:
    return Id_WSAEINTR;
  case EBADF:
    return Id_WSAEBADF;
  case EACCES:
  case EPERM:
    return Id_WSAEACCES;
  case EFAULT:
    return Id_WSAEFAULT;
  case EINVAL:
    return Id_WSAEINVAL;
  case EMFILE:
  case ENFILE:
    return Id_WSAEMFILE;
  case EAGAIN:
    return Id_WSAEWOULDBLOCK;
  case EINPROGRESS:
    return Id_WSAEINPROGRESS;
  case EALREADY:
    return Id_WSAEALREADY;
  case ENOTSOCK:
    return Id_WSAENOTSOCK;
  case EDESTADDRREQ:
    return Id_WSAEDESTADDRREQ;
  case EMSGSIZE:
    return Id_WSAEMSGSIZE;
  case EPROTOTYPE:
    return Id_WSAEPROTOTYPE;
  case ENOPROTOOPT:
    return Id_WSAENOPROTOOPT;
  case EPROTONOSUPPORT:
    return Id_WSAEPROTONOSUPPORT;
  case ESOCKTNOSUPPORT:
    return Id_WSAESOCKTNOSUPPORT;
  case EOPNOTSUPP:
    return Id_WSAEOPNOTSUPP;
  case EPFNOSUPPORT:
    return Id_WSAEPFNOSUPPORT;
  case EAFNOSUPPORT:
    return Id_WSAEAFNOSUPPORT;
  case EADDRINUSE:
    return Id_WSAEADDRINUSE;
  case EADDRNOTAVAIL:
    return Id_WSAEADDRNOTAVAIL;
  case ENETDOWN:
    return Id_WSAENETDOWN;
  case ENETUNREACH:
    return Id_WSAENETUNREACH;
  case ENETRESET:
    return Id_WSAENETRESET;
  case ECONNABORTED:
    return Id_WSAECONNABORTED;
  case ECONNRESET:
    return Id_WSAECONNRESET;
  case ENOBUFS:
  case ENOMEM:
    return Id_WSAENOBUFS;
  case EISCONN:
    return Id_WSAEISCONN;
  case ENOTCONN:
    return Id_WSAENOTCONN;
  case EPIPE:
  case ESHUTDOWN:
    return Id_WSAESHUTDOWN;
  case ETOOMANYREFS:
    return Id_WSAETOOMANYREFS;
  case ETIMEDOUT:
    return Id_WSAETIMEDOUT;
  case ECONNREFUSED:
    return Id_WSAECONNREFUSED;
  case ELOOP:
    return Id_WSAELOOP;
  case ENAMETOOLONG:
    return Id_WSAENAMETOOLONG;
  case EHOSTDOWN:
    return Id_WSAEHOSTDOWN;
  case EHOSTUNREACH:
    return Id_WSAEHOSTUNREACH;
  case ENOTEMPTY:
    return Id_WSAENOTEMPTY;
  default:
    // Small errno values never collide with the 10000 range.
    return error;
  }
}

int32_t WSACodeOfResolverError(int error, int savedErrno) {
  switch (error) {
  case EAI_MEMORY:
    return Id_WSAENOBUFS;
  case EAI_SYSTEM:
    return WSACodeOfErrno(savedErrno);
  default:
    // No such name, no address, no answer from any name server: the name is not found.
    return Id_WSAHOST_NOT_FOUND;
  }
}

std::unique_ptr<TIdStack> CreateSystemStack() {
  return std::make_unique<TIdSystemStack>();
}

// Nothing to start: the sockets are the kernel's own.
TIdSystemStack::TIdSystemStack() = default;
TIdSystemStack::~TIdSystemStack() = default;

int32_t TIdSystemStack::Fail(int32_t code) {
  lastError = code;
  return Id_SOCKET_ERROR;
}

TIdStackSocketHandle TIdSystemStack::Accept(TIdStackSocketHandle s, std::string &ip,
                                            int32_t &port) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  IdWait({s, weReadable}, TIdDeadline());
  const long result = RetryOnInterrupt(
      [&] { return accept4(s, reinterpret_cast<sockaddr *>(&address), &length, SOCK_CLOEXEC); });
  const int error = errno;
  ReadAddress(address, ip, port);
  if (result >= 0) {
    return static_cast<TIdStackSocketHandle>(result);
  }
  // A listening socket closed (or shut down by CloseSocket) under a waiting accept reads as
  // Windows reports it: interrupted, or no longer a socket.
  if (error == EINVAL) {
    return Fail(Id_WSAEINTR);
  }
  if (error == EBADF) {
    return Fail(Id_WSAENOTSOCK);
  }
  return Checked(result, error);
}

int32_t TIdSystemStack::Bind(TIdStackSocketHandle s, const std::string &ip, int32_t port) {
  const sockaddr_in address = MakeAddress<sockaddr_in>(ip, port);
  return Checked(bind(s, reinterpret_cast<const sockaddr *>(&address), sizeof address));
}

int32_t TIdSystemStack::CloseSocket(TIdStackSocketHandle s) {
  // close() alone does not wake an accept() blocked on the socket in another thread.
  int listening = 0;
  socklen_t length = sizeof listening;
  if (getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening) {
    shutdown(s, SHUT_RDWR);
  }
  return Checked(close(s));
}

int32_t TIdSystemStack::Connect(TIdStackSocketHandle s, const std::string &ip, int32_t port,
                                TIdTimeout timeout) {
  const sockaddr_in address = MakeAddress<sockaddr_in>(ip, port);
  const int flags = fcntl(s, F_GETFL);
  if (flags < 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) {
    return Checked(-1);
  }
  int error = 0;
  if (connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0) {
    error = errno;
    if (error == EINPROGRESS || error == EINTR) {
      try {
        error = AwaitConnected(s, timeout);
      } catch (...) {
        fcntl(s, F_SETFL, flags);
        throw;
      }
    }
  }
  fcntl(s, F_SETFL, flags);
  return error == 0 ? 0 : Fail(WSACodeOfErrno(error));
}

int32_t TIdSystemStack::Listen(TIdStackSocketHandle s, int32_t backlog) {
  return Checked(listen(s, backlog));
}

int32_t TIdSystemStack::Recv(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags) {
  return Checked(RetryOnInterrupt([&] { return recv(s, buf, static_cast<size_t>(len), flags); }));
}

int32_t TIdSystemStack::RecvFrom(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags,
                                 std::string &ip, int32_t &port) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  const long result = RetryOnInterrupt([&] {
    return recvfrom(s, buf, static_cast<size_t>(len), flags, reinterpret_cast<sockaddr *>(&address),
                    &length);
  });
  const int error = errno;
  ReadAddress(address, ip, port);
  return Checked(result, error);
}

int32_t TIdSystemStack::RecvDatagram(TIdStackSocketHandle s, void *buf, int32_t len,
                                     std::string &ip, uint8_t &ttl) {
  sockaddr_in address{};
  iovec data{buf, static_cast<size_t>(len)};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  msghdr message{};
  message.msg_name = &address;
  message.msg_namelen = sizeof address;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const long result = RetryOnInterrupt([&] { return recvmsg(s, &message, 0); });
  const int error = errno;
  int32_t port = 0;
  ReadAddress(address, ip, port);
  ttl = 0;
  if (result >= 0) {
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
        int value = 0;
        std::memcpy(&value, CMSG_DATA(c), sizeof value);
        ttl = static_cast<uint8_t>(value);
      }
    }
  }
  return Checked(result, error);
}

int32_t TIdSystemStack::RecvErrorReport(TIdStackSocketHandle s, void *buf, int32_t len,
                                        uint8_t &type, uint8_t &code, std::string &reporter,
                                        uint8_t &ttl) {
  sockaddr_in address{};
  iovec data{buf, static_cast<size_t>(len)};
  alignas(cmsghdr) char control[512];
  msghdr message{};
  message.msg_name = &address;
  message.msg_namelen = sizeof address;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const long result =
      RetryOnInterrupt([&] { return recvmsg(s, &message, MSG_ERRQUEUE | MSG_DONTWAIT); });
  const int error = errno;
  type = code = ttl = 0;
  reporter = "0.0.0.0";
  bool reported = false;
  for (cmsghdr *c = result >= 0 ? CMSG_FIRSTHDR(&message) : nullptr; c;
       c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != IPPROTO_IP) {
      continue;
    }
    if (c->cmsg_type == IP_TTL) {
      int value = 0;
      std::memcpy(&value, CMSG_DATA(c), sizeof value);
      ttl = static_cast<uint8_t>(value);
    } else if (c->cmsg_type == IP_RECVERR) {
      sock_extended_err report{};
      std::memcpy(&report, CMSG_DATA(c), sizeof report);
      if (report.ee_origin != SO_EE_ORIGIN_ICMP) {
        continue;
      }
      reported = true;
      type = report.ee_type;
      code = report.ee_code;
      sockaddr_in from{};
      std::memcpy(&from, CMSG_DATA(c) + sizeof report, sizeof from);
      int32_t port = 0;
      ReadAddress(from, reporter, port);
    }
  }
  if (result >= 0 && !reported) {
    return Fail(Id_WSAEWOULDBLOCK); // a local error, not a router's report
  }
  return Checked(result, error);
}

// Blocks like a plain send, but waits for buffer space through the one wait, so the
// window repaints and a stalled peer ends the send once the limit passes.
int32_t TIdSystemStack::Send(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags,
                             TIdTimeout timeout) {
  for (;;) {
    const long result = send(s, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL | MSG_DONTWAIT);
    if (result >= 0 || (errno != EAGAIN && errno != EINTR)) {
      return Checked(result);
    }
    if (errno == EAGAIN && IdWait({s, weWritable}, TIdDeadline(timeout)).TimedOut()) {
      return Fail(Id_WSAETIMEDOUT);
    }
  }
}

int32_t TIdSystemStack::SendTo(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags,
                               const std::string &ip, int32_t port) {
  const sockaddr_in address = MakeAddress<sockaddr_in>(ip, port);
  return Checked(RetryOnInterrupt([&] {
    return sendto(s, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr *>(&address), sizeof address);
  }));
}

int32_t TIdSystemStack::SetSockOpt(TIdStackSocketHandle s, int32_t level, int32_t name,
                                   const void *value, int32_t len) {
  return Checked(setsockopt(s, level, name, value, static_cast<socklen_t>(len)));
}

TIdStackSocketHandle TIdSystemStack::Socket(int32_t family, int32_t type, int32_t protocol) {
  return Checked(socket(family, type | SOCK_CLOEXEC, protocol));
}

int32_t TIdSystemStack::Shutdown(TIdStackSocketHandle s, int32_t how) {
  return Checked(shutdown(s, how));
}

int32_t TIdSystemStack::WSAGetLastError() {
  return lastError;
}

void TIdSystemStack::GetPeerName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                                 int32_t &port) {
  CheckResult(ReadEndpoint(getpeername, s, family, ip, port));
}

void TIdSystemStack::GetSockName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                                 int32_t &port) {
  CheckResult(ReadEndpoint(getsockname, s, family, ip, port));
}

} // namespace vantari
