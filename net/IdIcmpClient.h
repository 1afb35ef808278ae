#pragma once

#include "IdRawClient.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace vantari {

enum TReplyOutcome : uint8_t { roEcho, roError, roTimedOut, roUnreachable, roTtlExceeded };

// The outcome of one ping.
struct TReplyStatus {
  int32_t ByteCount = 0;     // bytes of the matched datagram, IPv4 header included
  std::string SenderAddress; // "0.0.0.0" after a time-out
  uint8_t IcmpType = 0;
  uint16_t SequenceNumber = 0;
  uint32_t RoundTripMs = 0; // from building the request to the end of the wait
  uint8_t TtlValue = 0;
  TReplyOutcome Outcome = roEcho;
};

using TOnReplyEvent = std::function<void(TIdComponent *ASender, const TReplyStatus &AReplyStatus)>;

// Sends one ICMP echo request and waits for the reply with its sequence number.
class TIdIcmpClient : public TIdRawClient {
public:
  static constexpr int32_t AreaSize = 1024;
  static constexpr int32_t RequestSize = 52;

  TIdIcmpClient();

  // One complete ping; blocks up to ReceiveTimeout. sequence 0 keeps SequenceCounter.
  // The outcome is in LastEcho; failures raise and leave LastEcho as it was.
  void SendPing(const std::string &payload = std::string(), uint16_t sequence = 0);

  const TReplyStatus &LastEcho() const { return FLastEcho; }
  const std::string &ReplyPayload() const { return FReplyPayload; }
  uint16_t SequenceCounter() const { return FSequenceCounter; }

  // Milliseconds from start to end of the 32-bit tick counter, across its wrap.
  static uint32_t TickSpan(uint32_t start, uint32_t end);

  TOnReplyEvent OnReply;

protected:
  void BuildRequest(const std::string &payload);
  // Receives until a datagram matches or the time is used up.
  void AwaitReply(int32_t timeout, TReplyStatus &reply);
  // Decodes the n bytes in the receive area; true when they answer the current request.
  bool DecodeReply(int32_t n, TReplyStatus &reply);
  // The system's 32-bit millisecond tick counter.
  virtual uint32_t Ticks();

  const std::array<uint8_t, AreaSize> &RequestBuffer() const { return FRequestBuffer; }
  int32_t RequestLength() const { return FRequestLength; }
  std::array<uint8_t, AreaSize> &ReceiveArea() { return FReceiveArea; }

private:
  std::array<uint8_t, AreaSize> FReceiveArea{};
  std::array<uint8_t, AreaSize> FRequestBuffer{};
  uint16_t FSequenceCounter = 3489;
  int32_t FRequestLength = 0;
  TReplyStatus FLastEcho;
  std::string FReplyPayload;
};

} // namespace vantari
