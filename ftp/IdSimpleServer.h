#pragma once

#include "IdStack.h"
#include "IdTCPConnection.h"

#include <functional>
#include <string>

namespace vantari {

class TIdIOHandlerSocket;
class TIdSocketHandle;

// The peer did not connect to the listening socket in time.
class EIdAcceptTimeout : public EIdException {
public:
  EIdAcceptTimeout() : EIdException("The data connection was not opened by the server.") {}
};

// A one-connection listener that becomes the connection once the peer connected
// (the data connection of active-mode FTP).
class TIdSimpleServer : public TIdTCPConnection {
public:
  TIdSimpleServer();
  ~TIdSimpleServer() override;

  virtual void RequestAbort() { FAbortRequested = true; }
  // Opens, binds and listens (backlog 15) on BoundIP:BoundPort.
  virtual void StartListening();
  virtual void BindListener();
  virtual void ResetConnection() { ResetReadState(); }
  // Waits for the peer in slices of AcceptPollInterval ms, at most AcceptTimeout ms
  // in all, then accepts it; the listening socket is closed in every case.
  // Raises EIdAcceptTimeout when the limit passes; false only after RequestAbort.
  virtual bool WaitForPeer();
  void ResetReadState() override;

  const std::string &BoundIP() const { return FBoundIP; }
  void SetBoundIP(const std::string &value) { FBoundIP = value; }
  int32_t BoundPort() const { return FBoundPort; }
  void SetBoundPort(int32_t value) { FBoundPort = value; }
  TIdStackSocketHandle ListenSocketId() const { return FListenSocketId; }
  bool IsListening() const { return FIsListening; }
  bool AbortRequested() const { return FAbortRequested; }
  int32_t AcceptPollInterval() const { return FAcceptPollInterval; }
  void SetAcceptPollInterval(int32_t ms) { FAcceptPollInterval = ms; }
  // 0 waits without limit.
  int32_t AcceptTimeout() const { return FAcceptTimeout; }
  void SetAcceptTimeout(int32_t ms) { FAcceptTimeout = ms; }
  // The listening socket's handle before the accept, the connection's after it.
  TIdSocketHandle *Binding() const;

  // Called between the slices of WaitForPeer; may raise to end the wait.
  std::function<void(TIdSimpleServer *Sender)> OnAcceptWait;

private:
  TIdIOHandlerSocket *Transport() const;
  bool AcceptPeer();
  void CloseListener(bool accepted);

  std::string FBoundIP;
  int32_t FBoundPort = 0;
  TIdStackSocketHandle FListenSocketId = Id_INVALID_SOCKET;
  bool FIsListening = false;
  bool FAbortRequested = false;
  int32_t FAcceptPollInterval = 100;
  int32_t FAcceptTimeout = 60000;
};

} // namespace vantari
