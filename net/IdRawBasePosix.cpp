#include "IdRawBase.h"

#include "IdException.h"

#include <cstring>
#include <linux/icmp.h>
#include <netinet/in.h>

namespace vantari {

namespace {

constexpr int32_t Ipv4HeaderSize = 20;
constexpr uint8_t IcmpEchoRequest = 8;

} // namespace

// Sockets here hear the echo themselves.
struct TIdRawBase::TEcho {};

TIdRawBase::TIdRawBase() : FRawHandle(std::make_unique<TIdSocketHandle>()), FBuffer(8192) {}

TIdRawBase::~TIdRawBase() = default;

void TIdRawBase::OpenSocket(TIdSocketHandle &handle) {
  try {
    handle.OpenSocket(Id_SOCK_RAW, FProtocol);
    FPingSocket = false;
    if (FProtocol == Id_IPPROTO_ICMP) {
      // A raw socket also sees the echo requests it sends to a local address; taken
      // for answers, they would make a local ping succeed when nothing replies.
      handle.SetOption(SOL_RAW, ICMP_FILTER, 1 << IcmpEchoRequest);
    }
    return;
  } catch (const EIdInvalidSocket &) {
    if (FProtocol != Id_IPPROTO_ICMP) {
      throw;
    }
  }
  handle.OpenSocket(Id_SOCK_DGRAM, Id_IPPROTO_ICMP);
  FPingSocket = true;
  handle.SetOption(IPPROTO_IP, IP_RECVTTL, 1);
  // Without it a router's unreachable or time-exceeded report is dropped and reads as silence.
  handle.SetOption(IPPROTO_IP, IP_RECVERR, 1);
}

TIdSocketHandle &TIdRawBase::RawHandle() {
  if (!FRawHandle->HasSocket()) {
    OpenSocket(*FRawHandle);
  }
  FRawHandle->SetOption(Id_IPPROTO_IP, Id_IP_TTL, FSendTtl);
  return *FRawHandle;
}

int32_t TIdRawBase::ReceiveInto(uint8_t *buffer, int32_t length, int32_t timeout) {
  if (length <= 0 || buffer == nullptr) {
    return 0;
  }
  timeout = WaitLimit(timeout);
  TIdSocketHandle &handle = RawHandle();
  if (!handle.WaitReadable(timeout)) {
    return 0;
  }
  if (FPingSocket) {
    const int32_t report = ReceivePingError(handle, buffer, length);
    return report != 0 ? report : ReceivePingDatagram(handle, buffer, length);
  }
  return handle.ReceiveBytes(buffer, length);
}

// The datagram socket gives the ICMP message alone; the IPv4 header in front of it is
// rebuilt from what the kernel reports (sender, time-to-live), so decoding stays one path.
int32_t TIdRawBase::ReceivePingDatagram(TIdSocketHandle &handle, uint8_t *buffer, int32_t length) {
  if (length <= Ipv4HeaderSize) {
    return 0;
  }
  std::string sender;
  uint8_t ttl = 0;
  const int32_t n = SharedStack().RecvDatagram(handle.SocketId(), buffer + Ipv4HeaderSize,
                                               length - Ipv4HeaderSize, sender, ttl);
  if (n < 0) {
    return n;
  }
  const int32_t total = n + Ipv4HeaderSize;
  std::memset(buffer, 0, Ipv4HeaderSize);
  buffer[0] = 0x45; // version 4, five 32-bit words
  buffer[2] = static_cast<uint8_t>(total >> 8);
  buffer[3] = static_cast<uint8_t>(total & 0xFF);
  buffer[8] = ttl;
  buffer[9] = static_cast<uint8_t>(Id_IPPROTO_ICMP);
  const uint32_t source = TIdStack::TextToAddress(sender);
  std::memcpy(buffer + 12, &source, 4);
  return total;
}

// 0 when no router's report is queued.
int32_t TIdRawBase::ReceivePingError(TIdSocketHandle &handle, uint8_t *buffer, int32_t length) {
  uint8_t request[1024];
  uint8_t type = 0;
  uint8_t code = 0;
  uint8_t ttl = 0;
  std::string reporter;
  const int32_t n = SharedStack().RecvErrorReport(handle.SocketId(), request, sizeof request, type,
                                                  code, reporter, ttl);
  if (n < 0) {
    return 0;
  }
  return BuildErrorDatagram(buffer, length, type, code, reporter, ttl, request, n);
}

void TIdRawBase::TransmitTo(const std::string &host, int32_t port, const void *buffer,
                            int32_t length) {
  const std::string ip = SharedStack().LookupHost(host);
  RawHandle().SendDatagram(ip, port, buffer, length);
}

} // namespace vantari
