#include "IdRawBase.h"

#include "IdException.h"

#include <algorithm>
#include <cstring>

namespace vantari {

namespace {

constexpr int32_t Ipv4HeaderSize = 20;

} // namespace

int32_t TIdRawBase::WaitLimit(int32_t timeout) const {
  if (timeout < 0) {
    timeout = FReceiveTimeout;
  }
  if (FWaitCeiling > 0 && (timeout < 0 || timeout > FWaitCeiling)) {
    timeout = FWaitCeiling;
  }
  return timeout;
}

void TIdRawBase::SetBufferSize(int32_t size) {
  FBuffer.assign(static_cast<size_t>(std::max(size, 0)), 0);
}

int32_t TIdRawBase::BuildErrorDatagram(uint8_t *buffer, int32_t length, uint8_t type, uint8_t code,
                                       const std::string &reporter, uint8_t ttl,
                                       const uint8_t *request, int32_t requestLength) {
  // An ICMP error quotes the offending IPv4 header and at least 8 bytes of what followed it.
  const int32_t quoted = std::min(requestLength, length - 2 * Ipv4HeaderSize - 8);
  if (quoted < 8) {
    return 0;
  }
  const int32_t total = 2 * Ipv4HeaderSize + 8 + quoted;
  std::memset(buffer, 0, static_cast<size_t>(2 * Ipv4HeaderSize + 8));
  buffer[0] = 0x45;
  buffer[2] = static_cast<uint8_t>(total >> 8);
  buffer[3] = static_cast<uint8_t>(total & 0xFF);
  buffer[8] = ttl;
  buffer[9] = static_cast<uint8_t>(Id_IPPROTO_ICMP);
  const uint32_t source = TIdStack::TextToAddress(reporter);
  std::memcpy(buffer + 12, &source, 4);
  uint8_t *message = buffer + Ipv4HeaderSize;
  message[0] = type;
  message[1] = code;
  uint8_t *inner = message + 8;
  inner[0] = 0x45;
  inner[2] = static_cast<uint8_t>((Ipv4HeaderSize + quoted) >> 8);
  inner[3] = static_cast<uint8_t>((Ipv4HeaderSize + quoted) & 0xFF);
  inner[9] = static_cast<uint8_t>(Id_IPPROTO_ICMP);
  std::memcpy(inner + Ipv4HeaderSize, request, static_cast<size_t>(quoted));
  return total;
}

} // namespace vantari
