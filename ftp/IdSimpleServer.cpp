#include "IdSimpleServer.h"

#include "HostUI.h"
#include "IdIOHandlerSocket.h"

#include <algorithm>
#include <chrono>

namespace vantari {

TIdSimpleServer::TIdSimpleServer() = default;

TIdSimpleServer::~TIdSimpleServer() {
  if (FListenSocketId != Id_INVALID_SOCKET && Binding())
    CloseListener(false);
}

TIdIOHandlerSocket *TIdSimpleServer::Transport() const {
  return static_cast<TIdIOHandlerSocket *>(IOHandler());
}

TIdSocketHandle *TIdSimpleServer::Binding() const {
  return IOHandler() ? Transport()->SocketHandle() : nullptr;
}

void TIdSimpleServer::ResetReadState() {
  TIdTCPConnection::ResetReadState();
  FAbortRequested = false;
  FIsListening = false;
  FreeIOHandler();
}

void TIdSimpleServer::StartListening() {
  try {
    if (!Binding()) {
      ResetReadState();
      AdoptIOHandler(std::make_unique<TIdIOHandlerSocket>());
      IOHandler()->Prepare();
    }
    if (FListenSocketId == Id_INVALID_SOCKET)
      BindListener();
    Binding()->StartListen(15);
    FIsListening = true;
  } catch (...) {
    FListenSocketId = Id_INVALID_SOCKET;
    FreeIOHandler();
    throw;
  }
}

void TIdSimpleServer::BindListener() {
  TIdSocketHandle &handle = *Binding();
  try {
    handle.OpenSocket(Id_SOCK_STREAM, Id_IPPROTO_IP);
    FListenSocketId = handle.SocketId();
    handle.SetIP(FBoundIP);
    handle.SetPort(FBoundPort);
    handle.BindLocal();
  } catch (...) {
    FListenSocketId = Id_INVALID_SOCKET;
    throw;
  }
}

bool TIdSimpleServer::WaitForPeer() {
  if (!FIsListening)
    StartListening();
  bool accepted = false;
  try {
    accepted = AcceptPeer();
  } catch (...) {
    CloseListener(false);
    throw;
  }
  CloseListener(accepted);
  return accepted;
}

// Waits without spinning: each readiness check may block for one slice, and the
// caller's OnAcceptWait gets its turn between slices.
bool TIdSimpleServer::AcceptPeer() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  while (!FAbortRequested) {
    int32_t slice = std::max(FAcceptPollInterval, 0);
    if (FAcceptTimeout > 0) {
      const auto waited =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      if (waited >= FAcceptTimeout)
        throw EIdAcceptTimeout();
      slice = static_cast<int32_t>(std::min<int64_t>(slice, FAcceptTimeout - waited));
    }
    if (Binding()->WaitReadable(slice)) {
      Binding()->StartListen(1);
      return Binding()->AcceptOn(FListenSocketId);
    }
    if (OnAcceptWait)
      OnAcceptWait(this);
    // The window stays painted while the server takes its time, as in every other wait.
    HostUI().ProcessPaintEvents();
  }
  return false;
}

// After an accept the handle holds the data socket and the listening one is closed
// by its id; otherwise the handle still holds the listening socket and closes it.
void TIdSimpleServer::CloseListener(bool accepted) {
  if (FListenSocketId == Id_INVALID_SOCKET)
    return;
  if (accepted || !Binding()->HasSocket() || Binding()->SocketId() != FListenSocketId)
    SharedStack().CloseSocket(FListenSocketId);
  else
    Binding()->ShutAndClose();
  FListenSocketId = Id_INVALID_SOCKET;
}

} // namespace vantari
