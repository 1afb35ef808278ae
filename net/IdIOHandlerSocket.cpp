#include "IdIOHandlerSocket.h"

#include "IdException.h"

namespace vantari {

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  TIdIOHandlerSocket::Shut();
}

void TIdIOHandlerSocket::Shut() {
  if (FSocketHandle) {
    FSocketHandle->ShutAndClose();
  }
}

void TIdIOHandlerSocket::Prepare() {
  if (!FSocketHandle) {
    FSocketHandle = std::make_unique<TIdSocketHandle>();
  } else {
    FSocketHandle->ClearState(true);
  }
}

TIdSocketHandle &TIdIOHandlerSocket::OpenHandle() {
  if (!FSocketHandle) {
    Prepare();
  }
  return *FSocketHandle;
}

void TIdIOHandlerSocket::ConnectTo(const std::string &host, int32_t port, TIdTimeout timeout,
                                   int32_t boundPortMax, int32_t boundPortMin, int32_t boundPort,
                                   const std::string &boundIP) {
  // The lookup and the connect share one limit.
  const TIdDeadline deadline(timeout);
  TIdSocketHandle &handle = OpenHandle();
  TIdStack &stack = SharedStack();
  handle.OpenSocket(Id_SOCK_STREAM, 0);
  handle.SetIP(boundIP);
  handle.SetPort(boundPort);
  handle.SetClientPortMin(boundPortMin);
  handle.SetClientPortMax(boundPortMax);
  handle.BindLocal();
  if (!TIdStack::IsDottedQuad(host)) {
    ReportStatus(hsResolving, host);
  }
  handle.SetRemote(stack.LookupHost(host), port);
  if (!FUseNagle) {
    handle.SetOption(Id_IPPROTO_TCP, Id_TCP_NODELAY, 1);
  }
  ReportStatus(hsConnecting, handle.RemoteIP());
  stack.CheckResult(handle.ConnectToPeer(deadline.Remaining()));
}

bool TIdIOHandlerSocket::IsOpen() {
  return FSocketHandle && FSocketHandle->HasSocket();
}

bool TIdIOHandlerSocket::WaitReadable(TIdTimeout timeout) {
  if (!FSocketHandle) {
    throw EIdConnClosedGracefully();
  }
  return FSocketHandle->WaitReadable(timeout);
}

int32_t TIdIOHandlerSocket::ReceiveSome(void *buffer, int32_t length) {
  if (!IsOpen()) {
    throw EIdClosedSocket();
  }
  return FSocketHandle->ReceiveBytes(buffer, length);
}

int32_t TIdIOHandlerSocket::SendSome(const void *buffer, int32_t length, TIdTimeout timeout) {
  if (!IsOpen()) {
    throw EIdClosedSocket();
  }
  return FSocketHandle->SendBytes(buffer, length, timeout);
}

TIdStackSocketHandle TIdIOHandlerSocket::WaitSocket() const {
  return FSocketHandle && FSocketHandle->HasSocket() ? FSocketHandle->SocketId()
                                                     : Id_INVALID_SOCKET;
}

} // namespace vantari
