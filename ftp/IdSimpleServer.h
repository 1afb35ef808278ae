#pragma once

#include "IdStack.h"
#include "IdTCPConnection.h"

#include <string>

namespace vantari {

class TIdIOHandlerSocket;
class TIdSocketHandle;

// The peer did not connect to the listening socket in time.
class EIdAcceptTimeout : public EIdException {
public:
  EIdAcceptTimeout() : EIdException("The data connection was not opened by the server.") {}
};

// How a wait for the peer ended.
enum TIdPeerWait { pwAccepted, pwWatchedReady, pwAborted };

// A one-connection listener that becomes the connection once the peer connected
// (the data connection of active-mode FTP). With AllowedPeerIP set, a connection from
// any other address is closed at once and the wait goes on.
class TIdSimpleServer : public TIdTCPConnection {
public:
  TIdSimpleServer();
  ~TIdSimpleServer() override;

  virtual void RequestAbort() { FAbortRequested = true; }
  // Opens, binds and listens (backlog 15) on BoundIP:BoundPort.
  virtual void StartListening();
  virtual void BindListener();
  // Waits at most AcceptTimeout ms for the peer and accepts it; the listening socket is
  // closed in every case. Raises EIdAcceptTimeout when the limit passes; false only
  // after RequestAbort.
  virtual bool WaitForPeer();
  // Waits for the peer until the deadline while watching another socket in the same wait
  // (Id_INVALID_SOCKET: none). pwWatchedReady leaves the listener listening, so the caller
  // can look at the other socket and wait again; pwAccepted closes it. The deadline
  // passing closes it and raises EIdAcceptTimeout.
  TIdPeerWait AwaitPeer(TIdStackSocketHandle watched, const TIdDeadline &deadline);
  void ResetReadState() override;

  const std::string &BoundIP() const { return FBoundIP; }
  void SetBoundIP(const std::string &value) { FBoundIP = value; }
  int32_t BoundPort() const { return FBoundPort; }
  void SetBoundPort(int32_t value) { FBoundPort = value; }
  TIdStackSocketHandle ListenSocketId() const { return FListenSocketId; }
  bool IsListening() const { return FIsListening; }
  bool AbortRequested() const { return FAbortRequested; }
  // Kept for callers that set it; the wait now sleeps in the kernel until the peer comes.
  int32_t AcceptPollInterval() const { return FAcceptPollInterval; }
  void SetAcceptPollInterval(int32_t ms) { FAcceptPollInterval = ms; }
  // The only address a peer may connect from; empty accepts any.
  const std::string &AllowedPeerIP() const { return FAllowedPeerIP; }
  void SetAllowedPeerIP(const std::string &ip) { FAllowedPeerIP = ip; }
  // 0 waits without limit.
  int32_t AcceptTimeout() const { return FAcceptTimeout; }
  void SetAcceptTimeout(int32_t ms) { FAcceptTimeout = ms; }
  // The listening socket's handle before the accept, the connection's after it.
  TIdSocketHandle *Binding() const;

private:
  TIdIOHandlerSocket *Transport() const;
  bool AcceptTrustedPeer();
  void CloseListener(bool accepted);

  std::string FBoundIP;
  int32_t FBoundPort = 0;
  TIdStackSocketHandle FListenSocketId = Id_INVALID_SOCKET;
  bool FIsListening = false;
  bool FAbortRequested = false;
  int32_t FAcceptPollInterval = 100;
  int32_t FAcceptTimeout = 60000;
  std::string FAllowedPeerIP;
};

} // namespace vantari
