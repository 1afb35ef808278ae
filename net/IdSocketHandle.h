#pragma once

#include "IdStack.h"
#include "IdWait.h"

#include <cstdint>
#include <string>

namespace vantari {

// One OS socket with its local and remote address. The handle owns its socket:
// destroying it closes the socket. All calls block.
class TIdSocketHandle {
public:
  TIdSocketHandle() = default;
  virtual ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle &) = delete;
  TIdSocketHandle &operator=(const TIdSocketHandle &) = delete;

  // Closes a socket still held, then opens a new AF_INET one (raises EIdInvalidSocket).
  void OpenSocket(int32_t type, int32_t protocol);
  // Shuts down sending and closes; results ignored; SocketId keeps its old value.
  virtual void ShutAndClose();
  // Closes with a reset instead of an orderly end, so the peer cannot take what it got
  // for a complete transfer.
  void ResetAndClose();
  // Binds to IP/Port, or to the highest free port of ClientPortMin..ClientPortMax when Port is 0.
  void BindLocal();
  void StartListen(int32_t backlog);
  // Takes one connection from a listening socket held by somebody else; false when that
  // socket was closed under the call (the handle then has no socket).
  bool AcceptOn(TIdStackSocketHandle listeningSocket);
  // Blocking connect to RemoteIP:RemotePort within the limit; returns the OS result
  // (-1 with 10060 when the limit passed), raises only EIdCancelled.
  virtual int32_t ConnectToPeer(TIdTimeout timeout = TIdTimeout::None());
  // One send / recv; the OS result unchanged (bytes, 0 = peer closed, -1 = error). A send
  // that finds no room within the limit gives -1 with 10060.
  int32_t SendBytes(const void *buffer, int32_t length, TIdTimeout timeout = TIdTimeout::None());
  int32_t ReceiveBytes(void *buffer, int32_t length);
  // One sendto of all bytes, or EIdPackageSizeTooBig / EIdNotAllBytesSent / EIdSocketError.
  void SendDatagram(const std::string &ip, int32_t port, const void *buffer, int32_t length);
  void SetOption(int32_t level, int32_t name, int32_t value);
  // Raises EIdConnClosedGracefully without a socket; time-out and error both give false.
  bool WaitReadable(TIdTimeout timeout);
  // ms: -2 no limit, 0 poll once, > 0 longest wait.
  bool WaitReadable(int32_t ms) { return WaitReadable(TIdTimeout::FromWaitMs(ms)); }
  void SetRemote(const std::string &ip, int32_t port);
  // Forgets the socket without closing it.
  void ClearState(bool alsoLocal);
  void RefreshLocal();
  void RefreshRemote();

  TIdStackSocketHandle SocketId() const { return FSocketId; }
  bool HasSocket() const { return FHasSocket; }
  const std::string &IP() const { return FIP; }
  void SetIP(const std::string &ip) { FIP = ip; }
  int32_t Port() const { return FPort; }
  void SetPort(int32_t port) { FPort = port; }
  const std::string &RemoteIP() const { return FRemoteIP; }
  int32_t RemotePort() const { return FRemotePort; }
  int32_t ClientPortMin() const { return FClientPortMin; }
  void SetClientPortMin(int32_t port) { FClientPortMin = port; }
  int32_t ClientPortMax() const { return FClientPortMax; }
  void SetClientPortMax(int32_t port) { FClientPortMax = port; }

private:
  bool TryBind(int32_t port);

  TIdStackSocketHandle FSocketId = Id_INVALID_SOCKET;
  bool FHasSocket = false;
  std::string FIP;
  std::string FRemoteIP;
  int32_t FPort = 0;
  int32_t FRemotePort = 0;
  int32_t FClientPortMin = 0;
  int32_t FClientPortMax = 0;
};

} // namespace vantari
