#pragma once

// The few socket calls the test peers make, alike on POSIX and Winsock. Winsock's handles fit an
// int in practice, and INVALID_SOCKET becomes -1, so the peers keep their int descriptors.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstddef>

#ifndef POLLRDHUP
#define POLLRDHUP 0 // Winsock reports a peer's close as POLLHUP
#endif
#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0 // no SIGPIPE to suppress
#endif
#ifndef SOCK_CLOEXEC
#define SOCK_CLOEXEC 0
#endif

namespace vantari::test::sockets {

inline void Startup() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}
inline int Socket(int family, int type, int protocol) {
  Startup();
  return static_cast<int>(::socket(family, type, protocol));
}
inline int Accept(int fd) {
  return static_cast<int>(::accept(static_cast<SOCKET>(fd), nullptr, nullptr));
}
inline int Close(int fd) {
  return ::closesocket(static_cast<SOCKET>(fd));
}
inline pollfd Watch(int fd, short events) {
  return pollfd{static_cast<SOCKET>(fd), events, 0};
}
inline int Poll(pollfd *fds, unsigned long count, int timeoutMs) {
  if (fds->events == 0) // Winsock refuses an empty wish; reading still shows a close
    fds->events = POLLRDNORM;
  return ::WSAPoll(fds, count, timeoutMs);
}
template <class T> int SetOption(int fd, int level, int name, const T &value) {
  return ::setsockopt(static_cast<SOCKET>(fd), level, name, reinterpret_cast<const char *>(&value),
                      sizeof value);
}

} // namespace vantari::test::sockets

#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantari::test::sockets {

inline void Startup() {}
inline int Socket(int family, int type, int protocol) {
  return ::socket(family, type, protocol);
}
inline int Accept(int fd) {
  return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
}
inline int Close(int fd) {
  return ::close(fd);
}
inline pollfd Watch(int fd, short events) {
  return pollfd{fd, events, 0};
}
inline int Poll(pollfd *fds, nfds_t count, int timeoutMs) {
  return ::poll(fds, count, timeoutMs);
}
template <class T> int SetOption(int fd, int level, int name, const T &value) {
  return ::setsockopt(fd, level, name, &value, sizeof value);
}

} // namespace vantari::test::sockets
#endif
