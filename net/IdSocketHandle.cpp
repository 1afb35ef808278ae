#include "IdSocketHandle.h"

#include "IdException.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace vantari {

namespace {
constexpr int32_t ShutSending = 1; // SHUT_WR, SD_SEND
} // namespace

TIdSocketHandle::~TIdSocketHandle() {
  TIdSocketHandle::ShutAndClose();
}

void TIdSocketHandle::OpenSocket(int32_t type, int32_t protocol) {
  ShutAndClose();
  FSocketId = SharedStack().OpenSocketId(type, protocol);
  FHasSocket = true;
}

void TIdSocketHandle::ShutAndClose() {
  if (!FHasSocket) {
    return;
  }
  FHasSocket = false;
  TIdStack &stack = SharedStack();
  stack.Shutdown(FSocketId, ShutSending);
  stack.CloseSocket(FSocketId);
}

void TIdSocketHandle::ResetAndClose() {
  if (!FHasSocket) {
    return;
  }
  const linger abortive{1, 0};
  SharedStack().SetSockOpt(FSocketId, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  FHasSocket = false;
  SharedStack().CloseSocket(FSocketId);
}

bool TIdSocketHandle::TryBind(int32_t port) {
  TIdStack &stack = SharedStack();
  return !stack.CheckResult(stack.Bind(FSocketId, FIP, port), {Id_WSAEADDRINUSE});
}

void TIdSocketHandle::BindLocal() {
  if (FPort != 0 || FClientPortMin == 0 || FClientPortMax == 0) {
    if (!TryBind(FPort)) {
      throw EIdCouldNotBindSocket();
    }
    RefreshLocal();
    return;
  }
  if (FClientPortMax < FClientPortMin) {
    throw EIdInvalidPortRange(FClientPortMin, FClientPortMax);
  }
  for (int32_t port = FClientPortMax; port >= FClientPortMin; --port) {
    FPort = port;
    if (TryBind(port)) {
      RefreshLocal();
      return;
    }
  }
  throw EIdCanNotBindPortInRange(FClientPortMin, FClientPortMax);
}

void TIdSocketHandle::StartListen(int32_t backlog) {
  TIdStack &stack = SharedStack();
  stack.CheckResult(stack.Listen(FSocketId, backlog));
}

bool TIdSocketHandle::AcceptOn(TIdStackSocketHandle listeningSocket) {
  ClearState(true);
  TIdStack &stack = SharedStack();
  const TIdStackSocketHandle accepted = stack.Accept(listeningSocket, FIP, FPort);
  if (stack.CheckResult(accepted, {Id_WSAEINTR, Id_WSAENOTSOCK})) {
    return false;
  }
  FSocketId = accepted;
  FHasSocket = true;
  RefreshLocal();
  RefreshRemote();
  return true;
}

int32_t TIdSocketHandle::ConnectToPeer(TIdTimeout timeout) {
  const int32_t result = SharedStack().Connect(FSocketId, FRemoteIP, FRemotePort, timeout);
  if (result != Id_SOCKET_ERROR) {
    RefreshLocal();
    RefreshRemote();
  }
  return result;
}

int32_t TIdSocketHandle::SendBytes(const void *buffer, int32_t length, TIdTimeout timeout) {
  return SharedStack().Send(FSocketId, buffer, length, 0, timeout);
}

int32_t TIdSocketHandle::ReceiveBytes(void *buffer, int32_t length) {
  return SharedStack().Recv(FSocketId, buffer, length, 0);
}

void TIdSocketHandle::SendDatagram(const std::string &ip, int32_t port, const void *buffer,
                                   int32_t length) {
  TIdStack &stack = SharedStack();
  const int32_t sent = stack.SendTo(FSocketId, buffer, length, 0, ip, port);
  if (stack.CheckResult(sent, {Id_WSAEMSGSIZE})) {
    throw EIdPackageSizeTooBig();
  }
  if (sent != length) {
    throw EIdNotAllBytesSent();
  }
}

void TIdSocketHandle::SetOption(int32_t level, int32_t name, int32_t value) {
  TIdStack &stack = SharedStack();
  stack.CheckResult(stack.SetSockOpt(FSocketId, level, name, &value, sizeof value));
}

bool TIdSocketHandle::WaitReadable(TIdTimeout timeout) {
  if (!FHasSocket) {
    throw EIdConnClosedGracefully();
  }
  return SharedStack().Select(FSocketId, timeout) == 1;
}

void TIdSocketHandle::SetRemote(const std::string &ip, int32_t port) {
  FRemoteIP = ip;
  FRemotePort = port;
}

void TIdSocketHandle::ClearState(bool alsoLocal) {
  FHasSocket = false;
  FSocketId = Id_INVALID_SOCKET;
  FRemoteIP.clear();
  FRemotePort = 0;
  if (alsoLocal) {
    FIP.clear();
    FPort = 0;
  }
}

void TIdSocketHandle::RefreshLocal() {
  int32_t family = 0;
  SharedStack().GetSockName(FSocketId, family, FIP, FPort);
}

void TIdSocketHandle::RefreshRemote() {
  int32_t family = 0;
  SharedStack().GetPeerName(FSocketId, family, FRemoteIP, FRemotePort);
}

} // namespace vantari
