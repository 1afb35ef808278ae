#include "IdStackPosix.h"

#include "HostUI.h"
#include "IdException.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace vantari {

static_assert(Id_SOCK_STREAM == SOCK_STREAM && Id_SOCK_DGRAM == SOCK_DGRAM &&
              Id_SOCK_RAW == SOCK_RAW);
static_assert(Id_IPPROTO_IP == IPPROTO_IP && Id_IPPROTO_ICMP == IPPROTO_ICMP &&
              Id_IPPROTO_TCP == IPPROTO_TCP);
static_assert(Id_IP_TTL == IP_TTL && Id_TCP_NODELAY == TCP_NODELAY && Id_SOL_SOCKET == SOL_SOCKET &&
              Id_SO_REUSEADDR == SO_REUSEADDR);

namespace {

// Like the per-thread error of Windows Sockets: the code of this thread's last failure.
thread_local int32_t lastError = 0;

// The longest a wait blocks before the host UI may repaint.
constexpr int WaitSliceMs = 100;

int32_t Fail(int32_t code) {
  lastError = code;
  return Id_SOCKET_ERROR;
}

// Records the errno of a failed call (-1) as its Windows Sockets code.
int32_t Checked(long result, int error) {
  if (result < 0) {
    return Fail(WSACodeOfErrno(error));
  }
  return static_cast<int32_t>(result);
}

// errno is read here, after the call that set it has returned.
int32_t Checked(long result) {
  return Checked(result, errno);
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

// Waits until s is ready for events (or has failed), letting the window repaint between slices.
void AwaitReady(TIdStackSocketHandle s, short events) {
  for (;;) {
    pollfd entry{s, events, 0};
    const int result = poll(&entry, 1, WaitSliceMs);
    if (result > 0 || (result < 0 && errno != EINTR)) {
      return;
    }
    HostUI().ProcessPaintEvents();
  }
}

// The outcome of a connect in progress: 0 or its errno.
int AwaitConnected(TIdStackSocketHandle s) {
  AwaitReady(s, POLLOUT);
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

TIdStackSocketHandle TIdStackPosix::Accept(TIdStackSocketHandle s, std::string &ip, int32_t &port) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  AwaitReady(s, POLLIN);
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

int32_t TIdStackPosix::Bind(TIdStackSocketHandle s, const std::string &ip, int32_t port) {
  const sockaddr_in address = MakeAddress(ip, port);
  return Checked(bind(s, reinterpret_cast<const sockaddr *>(&address), sizeof address));
}

int32_t TIdStackPosix::CloseSocket(TIdStackSocketHandle s) {
  // close() alone does not wake an accept() blocked on the socket in another thread.
  int listening = 0;
  socklen_t length = sizeof listening;
  if (getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening) {
    shutdown(s, SHUT_RDWR);
  }
  return Checked(close(s));
}

// Still a plain connect without a time limit; it only waits in slices.
int32_t TIdStackPosix::Connect(TIdStackSocketHandle s, const std::string &ip, int32_t port) {
  const sockaddr_in address = MakeAddress(ip, port);
  const int flags = fcntl(s, F_GETFL);
  if (flags < 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) {
    return Checked(-1);
  }
  int error = 0;
  if (connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0) {
    error = errno;
    if (error == EINPROGRESS || error == EINTR) {
      error = AwaitConnected(s);
    }
  }
  fcntl(s, F_SETFL, flags);
  return error == 0 ? 0 : Fail(WSACodeOfErrno(error));
}

namespace {

// A name lookup run on a thread of its own while the caller waits in slices, so that
// an unanswering name server does not freeze the window for its whole time-out. The
// thread is made by the caller (it resolves in the caller's network namespace) and is
// always joined before the lookup is left.
class TPendingLookup {
public:
  explicit TPendingLookup(const std::string &name) : FName(name) {
    try {
      FWorker = std::thread([this] { Run(); });
    } catch (const std::system_error &) {
      Run(); // no thread to spare: look up in place, as a plain blocking call
    }
  }
  ~TPendingLookup() {
    if (FWorker.joinable()) {
      FWorker.join();
    }
    if (FAnswer) {
      freeaddrinfo(FAnswer);
    }
  }
  TPendingLookup(const TPendingLookup &) = delete;
  TPendingLookup &operator=(const TPendingLookup &) = delete;

  // The getaddrinfo result code once the lookup ended.
  int Await() {
    std::unique_lock<std::mutex> lock(FLock);
    while (
        !FEnded.wait_for(lock, std::chrono::milliseconds(WaitSliceMs), [this] { return FDone; })) {
      lock.unlock();
      HostUI().ProcessPaintEvents();
      lock.lock();
    }
    return FResult;
  }
  const addrinfo *Answer() const { return FAnswer; }
  int Error() const { return FError; }

private:
  void Run() {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *answer = nullptr;
    const int rc = getaddrinfo(FName.c_str(), nullptr, &hints, &answer);
    const int error = errno;
    std::lock_guard<std::mutex> guard(FLock);
    FResult = rc;
    FError = error;
    FAnswer = answer;
    FDone = true;
    FEnded.notify_one();
  }

  std::string FName;
  std::mutex FLock;
  std::condition_variable FEnded;
  bool FDone = false;
  int FResult = 0;
  int FError = 0;
  addrinfo *FAnswer = nullptr;
  std::thread FWorker;
};

} // namespace

std::string TIdStackPosix::GetHostByName(const std::string &name) {
  TPendingLookup lookup(name);
  const int rc = lookup.Await();
  const addrinfo *answer = lookup.Answer();
  if (rc != 0 || answer == nullptr) {
    Fail(WSACodeOfResolverError(rc, lookup.Error()));
    CheckResult(Id_SOCKET_ERROR);
  }
  std::string ip;
  int32_t port = 0;
  ReadAddress(*reinterpret_cast<const sockaddr_in *>(answer->ai_addr), ip, port);
  return ip;
}

std::string TIdStackPosix::GetHostName() {
  char buffer[250] = {};
  gethostname(buffer, sizeof buffer - 1);
  return buffer;
}

std::string TIdStackPosix::GetHostByAddr(const std::string &ip) {
  const sockaddr_in address = MakeAddress(ip, 0);
  char host[NI_MAXHOST] = {};
  const int rc = getnameinfo(reinterpret_cast<const sockaddr *>(&address), sizeof address, host,
                             sizeof host, nullptr, 0, NI_NAMEREQD);
  if (rc != 0) {
    Fail(WSACodeOfResolverError(rc, errno));
    CheckResult(Id_SOCKET_ERROR);
  }
  return host;
}

int32_t TIdStackPosix::GetServByName(const std::string &name) {
  servent entry{};
  servent *found = nullptr;
  char buffer[1024];
  if (getservbyname_r(name.c_str(), "tcp", &entry, buffer, sizeof buffer, &found) == 0 && found) {
    return ntohs(static_cast<uint16_t>(found->s_port));
  }
  try {
    size_t used = 0;
    const int port = std::stoi(name, &used);
    if (used == name.size()) {
      return port;
    }
  } catch (const std::exception &) {
  }
  throw EIdInvalidServiceName(name);
}

int32_t TIdStackPosix::Listen(TIdStackSocketHandle s, int32_t backlog) {
  return Checked(listen(s, backlog));
}

int32_t TIdStackPosix::Recv(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags) {
  return Checked(RetryOnInterrupt([&] { return recv(s, buf, static_cast<size_t>(len), flags); }));
}

int32_t TIdStackPosix::RecvFrom(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags,
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

int32_t TIdStackPosix::RecvDatagram(TIdStackSocketHandle s, void *buf, int32_t len, std::string &ip,
                                    uint8_t &ttl) {
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

int32_t TIdStackPosix::Select(TIdStackSocketHandle s, int32_t ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0);
  for (;;) {
    int slice = WaitSliceMs;
    if (ms != -2) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      slice = static_cast<int>(std::clamp<long long>(left, 0, WaitSliceMs));
    }
    pollfd entry{s, POLLIN, 0};
    const int result = poll(&entry, 1, slice);
    if (result < 0 && errno != EINTR) {
      return Checked(result);
    }
    if (result > 0) {
      // A line or chunk made of many short waits blocks as long as one long wait: the
      // window gets its turn at the end of each (the host paces itself).
      HostUI().ProcessPaintEvents();
      // Readable, or an error or hang-up that the next receive reports, as select has it.
      return (entry.revents & POLLNVAL) ? Fail(Id_WSAENOTSOCK) : 1;
    }
    if (ms != -2 && Clock::now() >= deadline) {
      return 0;
    }
    HostUI().ProcessPaintEvents();
  }
}

// Blocks like a plain send, but waits for buffer space in slices so the window can repaint.
int32_t TIdStackPosix::Send(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags) {
  for (;;) {
    const long result = send(s, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL | MSG_DONTWAIT);
    if (result >= 0 || (errno != EAGAIN && errno != EINTR)) {
      return Checked(result);
    }
    if (errno == EAGAIN) {
      AwaitReady(s, POLLOUT);
    }
  }
}

int32_t TIdStackPosix::SendTo(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags,
                              const std::string &ip, int32_t port) {
  const sockaddr_in address = MakeAddress(ip, port);
  return Checked(RetryOnInterrupt([&] {
    return sendto(s, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr *>(&address), sizeof address);
  }));
}

int32_t TIdStackPosix::SetSockOpt(TIdStackSocketHandle s, int32_t level, int32_t name,
                                  const void *value, int32_t len) {
  return Checked(setsockopt(s, level, name, value, static_cast<socklen_t>(len)));
}

TIdStackSocketHandle TIdStackPosix::Socket(int32_t family, int32_t type, int32_t protocol) {
  return Checked(socket(family, type | SOCK_CLOEXEC, protocol));
}

int32_t TIdStackPosix::Shutdown(TIdStackSocketHandle s, int32_t how) {
  return Checked(shutdown(s, how));
}

std::string TIdStackPosix::ErrorText(int32_t code) {
  if (code == Id_WSAHOST_NOT_FOUND) {
    return "Host not found.";
  }
  return TIdStack::ErrorText(code);
}

int32_t TIdStackPosix::WSAGetLastError() {
  return lastError;
}

void TIdStackPosix::GetPeerName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                                int32_t &port) {
  CheckResult(ReadEndpoint(getpeername, s, family, ip, port));
}

void TIdStackPosix::GetSockName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                                int32_t &port) {
  CheckResult(ReadEndpoint(getsockname, s, family, ip, port));
}

} // namespace vantari
