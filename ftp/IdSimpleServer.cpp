#include "IdSimpleServer.h"

#include "IdIOHandlerTls.h"

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
      AdoptIOHandler(std::make_unique<TIdIOHandlerTls>());
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
  return AwaitPeer(Id_INVALID_SOCKET, TIdDeadline(TIdTimeout::FromSetting(FAcceptTimeout))) ==
         pwAccepted;
}

TIdPeerWait TIdSimpleServer::AwaitPeer(TIdStackSocketHandle watched, const TIdDeadline &deadline) {
  if (!FIsListening)
    StartListening();
  try {
    while (!FAbortRequested) {
      // One wait for both: a reply on the other socket ends it at once, without polling.
      const TIdWaitResult ready =
          IdWait({FListenSocketId, weReadable}, {watched, weReadable}, deadline);
      if (ready.First && AcceptTrustedPeer()) {
        CloseListener(true);
        return pwAccepted;
      }
      if (ready.Second)
        return pwWatchedReady;
      if (ready.Closed)
        throw EIdConnClosedGracefully();
      if (ready.TimedOut() && deadline.Passed())
        throw EIdAcceptTimeout();
    }
  } catch (...) {
    CloseListener(false);
    throw;
  }
  CloseListener(false);
  return pwAborted;
}

// Takes one connection; one from an address other than AllowedPeerIP is closed at once
// (false), so that nobody but the server can feed a download or receive an upload.
bool TIdSimpleServer::AcceptTrustedPeer() {
  TIdSocketHandle &handle = *Binding();
  SharedStack().Listen(FListenSocketId, 1);
  if (!handle.AcceptOn(FListenSocketId))
    return false;
  if (FAllowedPeerIP.empty() || handle.RemoteIP() == FAllowedPeerIP)
    return true;
  handle.ResetAndClose();
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
