#pragma once

#include "IdComponent.h"
#include "IdSocketHandle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantari {

// Owns one raw IPv4 socket and sends and receives whole datagrams.
// Where the system refuses raw sockets, an ICMP component falls back to the
// unprivileged ICMP datagram socket, whose datagrams are handed on with an IPv4
// header put in front (real source address and time-to-live), as a raw socket gives them;
// routers' error reports (unreachable, time exceeded) reach it through the socket's
// error queue and are handed on the same way. On Windows an ICMP component asks the
// system's echo service instead (no administrator rights needed) and hands its answer on
// the same way too.
class TIdRawBase : public TIdComponent {
public:
  TIdRawBase();
  ~TIdRawBase() override;

  // Opens the socket when there is none (raw, else the ICMP datagram socket; raises
  // EIdInvalidSocket "Cannot allocate socket." when both are refused), then sets the TTL.
  TIdSocketHandle &RawHandle();
  // Waits up to timeout ms (negative = ReceiveTimeout) and receives one datagram, IPv4
  // header first; 0 when nothing arrived, -1 on a receive error.
  virtual int32_t ReceiveInto(uint8_t *buffer, int32_t length, int32_t timeout = -1);
  // Resolves host and sends one datagram (EIdSocketError, EIdPackageSizeTooBig,
  // EIdNotAllBytesSent).
  void TransmitTo(const std::string &host, int32_t port, const void *buffer, int32_t length);
  // The datagram a raw socket would have received for a router's ICMP error report about
  // a request we sent: IPv4 header from the reporter, the ICMP type and code, then the
  // request quoted behind an IPv4 header of its own. Returns the length written (0 when
  // the buffer is too small).
  static int32_t BuildErrorDatagram(uint8_t *buffer, int32_t length, uint8_t type, uint8_t code,
                                    const std::string &reporter, uint8_t ttl,
                                    const uint8_t *request, int32_t requestLength);
  // True when the last socket opened was the unprivileged ICMP datagram socket.
  bool UsesPingSocket() const { return FPingSocket; }

  int32_t BufferSize() const { return static_cast<int32_t>(FBuffer.size()); }
  void SetBufferSize(int32_t size);
  const std::string &Host() const { return FHost; }
  void SetHost(const std::string &host) { FHost = host; }
  int32_t Port() const { return FPort; }
  void SetPort(int32_t port) { FPort = port; }
  int32_t Protocol() const { return FProtocol; }
  void SetProtocol(int32_t protocol) { FProtocol = protocol; }
  int32_t ReceiveTimeout() const { return FReceiveTimeout; }
  void SetReceiveTimeout(int32_t ms) { FReceiveTimeout = ms; }
  int32_t SendTtl() const { return FSendTtl; }
  void SetSendTtl(int32_t ttl) { FSendTtl = ttl; }
  // The longest one receive wait may last, whatever time-out is asked for; 0 = none.
  // Lets tests shorten the program's long waits; the program itself never sets it.
  int32_t WaitCeiling() const { return FWaitCeiling; }
  void SetWaitCeiling(int32_t ms) { FWaitCeiling = ms; }

private:
  struct TEcho; // a request in the system's echo service (Windows)

  // timeout (negative = ReceiveTimeout) bounded by WaitCeiling.
  int32_t WaitLimit(int32_t timeout) const;
  void OpenSocket(TIdSocketHandle &handle);
  int32_t ReceivePingDatagram(TIdSocketHandle &handle, uint8_t *buffer, int32_t length);
  int32_t ReceivePingError(TIdSocketHandle &handle, uint8_t *buffer, int32_t length);

  std::unique_ptr<TIdSocketHandle> FRawHandle;
  std::unique_ptr<TEcho> FEcho;
  std::vector<uint8_t> FBuffer;
  std::string FHost;
  int32_t FPort = 0;
  int32_t FReceiveTimeout = 0;
  int32_t FProtocol = 255;
  int32_t FSendTtl = 128;
  int32_t FWaitCeiling = 0;
  bool FPingSocket = false;
};

} // namespace vantari
