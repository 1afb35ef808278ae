#include "IdIcmpClient.h"

#include "IdException.h"

#include <chrono>
#include <unistd.h>

namespace vantari {

namespace {

constexpr uint8_t IcmpEchoReply = 0;
constexpr uint8_t IcmpDestinationUnreachable = 3;
constexpr uint8_t IcmpEchoRequest = 8;
constexpr uint8_t IcmpTimeExceeded = 11;
constexpr int32_t PayloadOffset = 20;
constexpr int32_t PayloadSize = 32;

// Multi-byte fields of the request travel in the machine's (little-endian) order.
void PutLE16(uint8_t *at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value & 0xFF);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLE32(uint8_t *at, uint32_t value) {
  PutLE16(at, static_cast<uint16_t>(value & 0xFFFF));
  PutLE16(at + 2, static_cast<uint16_t>(value >> 16));
}

uint16_t GetLE16(const uint8_t *at) {
  return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

// RFC 1071 over little-endian words; stored little-endian it is the standard checksum.
uint16_t Checksum(const uint8_t *data, int32_t length) {
  uint32_t sum = 0;
  for (int32_t i = 0; i + 1 < length; i += 2) {
    sum += GetLE16(data + i);
  }
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return static_cast<uint16_t>(~sum & 0xFFFF);
}

} // namespace

TIdIcmpClient::TIdIcmpClient() {
  SetProtocol(Id_IPPROTO_ICMP);
  SetReceiveTimeout(5000);
}

uint32_t TIdIcmpClient::Ticks() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

uint32_t TIdIcmpClient::TickSpan(uint32_t start, uint32_t end) {
  return end >= start ? end - start : 0xFFFFFFFFu - start + end;
}

void TIdIcmpClient::BuildRequest(const std::string &payload) {
  FRequestLength = RequestSize;
  uint8_t *request = FRequestBuffer.data();
  std::fill_n(request, RequestSize, 0);
  request[0] = IcmpEchoRequest;
  request[1] = 0;
  PutLE16(request + 4, static_cast<uint16_t>(getpid() & 0xFFFF));
  PutLE16(request + 6, FSequenceCounter);
  PutLE32(request + 8, Ticks());
  for (int32_t i = 0; i < PayloadSize; ++i) {
    request[PayloadOffset + i] =
        i < static_cast<int32_t>(payload.size()) ? static_cast<uint8_t>(payload[i]) : 'E';
  }
  PutLE16(request + 2, Checksum(request, RequestSize));
}

void TIdIcmpClient::SendPing(const std::string &payload, uint16_t sequence) {
  if (sequence != 0) {
    FSequenceCounter = sequence;
  }
  BuildRequest(payload);
  const uint32_t start = Ticks();
  TransmitTo(Host(), Port(), FRequestBuffer.data(), FRequestLength);
  TReplyStatus reply;
  AwaitReply(ReceiveTimeout(), reply);
  FLastEcho = reply;
  const uint32_t roundTrip = TickSpan(start, Ticks());
  // Every ping closes its socket; the next one opens a new one.
  RawHandle().ShutAndClose();
  FLastEcho.RoundTripMs = roundTrip;
  if (OnReply) {
    OnReply(this, FLastEcho);
  }
  ++FSequenceCounter;
}

void TIdIcmpClient::AwaitReply(int32_t timeout, TReplyStatus &reply) {
  FReceiveArea.fill(0);
  const uint32_t began = Ticks();
  int64_t remaining = timeout;
  for (;;) {
    const int32_t n = ReceiveInto(FReceiveArea.data(), AreaSize, static_cast<int32_t>(remaining));
    SharedStack().CheckResult(n);
    if (DecodeReply(n, reply)) {
      return;
    }
    // The whole time since the wait began is taken off after every packet that does not match.
    remaining -= TickSpan(began, Ticks());
    if (remaining <= 0) {
      return;
    }
  }
}

bool TIdIcmpClient::DecodeReply(int32_t n, TReplyStatus &reply) {
  if (n == 0) {
    reply.ByteCount = 0;
    reply.SenderAddress = "0.0.0.0";
    reply.IcmpType = 0;
    reply.SequenceNumber = FSequenceCounter;
    reply.TtlValue = 0;
    reply.Outcome = roTimedOut;
    return true;
  }
  reply.Outcome = roError;
  const uint8_t *area = FReceiveArea.data();
  const int32_t h = (area[0] & 0x0F) * 4;
  if (h + 8 > n) {
    throw EIdIcmpException("Not enough bytes received");
  }
  const uint8_t type = area[h];
  switch (type) {
  case IcmpEchoReply:
  case IcmpEchoRequest:
    reply.Outcome = roEcho;
    FReplyPayload.assign(reinterpret_cast<const char *>(area + h + PayloadOffset),
                         static_cast<size_t>(AreaSize - h - PayloadOffset));
    break;
  case IcmpDestinationUnreachable:
    reply.Outcome = roUnreachable;
    break;
  case IcmpTimeExceeded:
    reply.Outcome = roTtlExceeded;
    break;
  default:
    throw EIdIcmpException("Non-echo type response received");
  }
  // An error message quotes the request after its own 8 bytes and the quoted IPv4 header.
  const uint16_t sequence =
      reply.Outcome == roEcho ? GetLE16(area + h + 6) : GetLE16(area + h + 8 + h + 6);
  if (sequence != FSequenceCounter) {
    return false;
  }
  reply.ByteCount = n;
  reply.SenderAddress = TIdStack::AddressToText(area + 12);
  reply.IcmpType = type;
  reply.SequenceNumber = sequence;
  reply.TtlValue = area[8];
  return true;
}

} // namespace vantari
