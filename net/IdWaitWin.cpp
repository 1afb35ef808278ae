#include "IdWaitPlatform.h"

#include <winsock2.h>

namespace vantari {

namespace {

// A loopback datagram socket sent to itself: every wait watches it too, so a cancel
// request ends a blocked wait at once. Made on first use, kept for the process.
class TWakeUp {
public:
  TWakeUp() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
      return;
    FSocket =
        ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    u_long nonBlocking = 1;
    if (FSocket == INVALID_SOCKET ||
        ::bind(FSocket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::getsockname(FSocket, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
        ::connect(FSocket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::ioctlsocket(FSocket, FIONBIO, &nonBlocking) != 0) {
      Close();
    }
  }
  ~TWakeUp() { Close(); }
  TWakeUp(const TWakeUp &) = delete;
  TWakeUp &operator=(const TWakeUp &) = delete;

  SOCKET Socket() const { return FSocket; }
  void Ring() const {
    if (FSocket != INVALID_SOCKET)
      ::send(FSocket, "!", 1, 0);
  }
  void Drain() const {
    char byte = 0;
    while (FSocket != INVALID_SOCKET && ::recv(FSocket, &byte, 1, 0) > 0) {
    }
  }

private:
  void Close() {
    if (FSocket != INVALID_SOCKET)
      ::closesocket(FSocket);
    FSocket = INVALID_SOCKET;
  }
  SOCKET FSocket = INVALID_SOCKET;
};

TWakeUp &WakeUp() {
  static TWakeUp wakeUp;
  return wakeUp;
}

void Watch(const TIdWaitSocket &watched, fd_set &readable, fd_set &writable, fd_set &failed) {
  if (watched.Socket == Id_INVALID_SOCKET)
    return;
  const SOCKET s = static_cast<SOCKET>(watched.Socket);
  if (watched.Events & weReadable)
    FD_SET(s, &readable);
  if (watched.Events & weWritable) {
    FD_SET(s, &writable);
    FD_SET(s, &failed); // where a failed connect shows
  }
}

bool Ready(const TIdWaitSocket &watched, fd_set &readable, fd_set &writable, fd_set &failed) {
  if (watched.Socket == Id_INVALID_SOCKET)
    return false;
  const SOCKET s = static_cast<SOCKET>(watched.Socket);
  return FD_ISSET(s, &readable) || FD_ISSET(s, &writable) || FD_ISSET(s, &failed);
}

} // namespace

void IdWakeWaits() {
  WakeUp().Ring();
}

// select, not WSAPoll: WSAPoll of older Windows never reports a connect that failed.
int IdWaitSlice(const TIdWaitSocket &first, const TIdWaitSocket &second, int64_t ms,
                TIdWaitResult &result) {
  const TWakeUp &wakeUp = WakeUp();
  fd_set readable, writable, failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  Watch(first, readable, writable, failed);
  Watch(second, readable, writable, failed);
  if (wakeUp.Socket() != INVALID_SOCKET)
    FD_SET(wakeUp.Socket(), &readable);
  timeval limit{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000 * 1000)};
  if (readable.fd_count == 0) {
    ::Sleep(static_cast<DWORD>(ms)); // select refuses empty sets
    return 0;
  }
  int n = ::select(0, &readable, &writable, &failed, &limit);
  if (n == SOCKET_ERROR)
    return -1; // a watched socket is not open (10038), or the set was refused
  if (wakeUp.Socket() != INVALID_SOCKET && FD_ISSET(wakeUp.Socket(), &readable)) {
    wakeUp.Drain();
    --n;
  }
  if (n > 0) {
    result.First = Ready(first, readable, writable, failed);
    result.Second = Ready(second, readable, writable, failed);
  }
  return n;
}

} // namespace vantari
