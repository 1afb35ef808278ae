#pragma once

#include "IdException.h"
#include "IdStack.h"

#include <chrono>
#include <cstdint>

namespace vantari {

// How long a wait may last: without limit, or a number of milliseconds (0 = look once).
class TIdTimeout {
public:
  constexpr TIdTimeout() = default;
  static constexpr TIdTimeout None() { return TIdTimeout(); }
  static constexpr TIdTimeout Ms(int64_t ms) { return TIdTimeout(ms < 0 ? 0 : ms); }
  // A limit property where 0 means "no limit" (ReadTimeout, ReplyTimeout, ...).
  static constexpr TIdTimeout FromSetting(int32_t ms) { return ms > 0 ? Ms(ms) : None(); }
  // The established form of readiness waits: -2 (any negative) no limit, 0 look once.
  static constexpr TIdTimeout FromWaitMs(int32_t ms) { return ms < 0 ? None() : Ms(ms); }

  constexpr bool Limited() const { return FMs >= 0; }
  constexpr int64_t Milliseconds() const { return FMs; }

private:
  constexpr explicit TIdTimeout(int64_t ms) : FMs(ms) {}
  int64_t FMs = -1; // -1: no limit
};

// The moment a wait gives up, fixed when the wait (or a group of waits) begins.
class TIdDeadline {
public:
  using TClock = std::chrono::steady_clock;

  TIdDeadline() = default; // never passes
  explicit TIdDeadline(TIdTimeout timeout);

  bool Limited() const { return FLimited; }
  bool Passed() const;
  // What is left as a limit of its own (None when unlimited, 0 once passed).
  TIdTimeout Remaining() const;
  // The earlier of the two.
  static TIdDeadline Sooner(const TIdDeadline &a, const TIdDeadline &b);

private:
  bool FLimited = false;
  TClock::time_point FAt{};
};

// What a wait watches on one socket.
enum TIdWaitEvent : uint8_t { weReadable = 1, weWritable = 2 };

struct TIdWaitSocket {
  TIdStackSocketHandle Socket = Id_INVALID_SOCKET; // Id_INVALID_SOCKET: nothing watched
  uint8_t Events = weReadable;
};

struct TIdWaitResult {
  bool First = false;  // ready, or failed or hung up (the next call on it tells which)
  bool Second = false; // likewise
  bool Closed = false; // a watched descriptor is not open at all
  bool TimedOut() const { return !First && !Second && !Closed; }
};

// The one blocking wait of the network layers: blocks until the first (or the
// second) socket is ready, or the deadline passes; never raises for a socket.
// Owns the repaint: the host UI may repaint every 100 ms and once when the wait
// ends. Raises EIdCancelled when a cancel is requested before or during the wait.
TIdWaitResult IdWait(TIdWaitSocket first, TIdWaitSocket second, const TIdDeadline &deadline);
inline TIdWaitResult IdWait(TIdWaitSocket first, const TIdDeadline &deadline) {
  return IdWait(first, TIdWaitSocket{}, deadline);
}

// The user asked to stop: every wait of the network layers ends with this until
// the request is withdrawn.
class EIdCancelled : public EIdSilentException {
public:
  EIdCancelled() : EIdSilentException("Operation cancelled by the user.") {}
};

// Cancel requests, process-wide; set from the window (during a repaint), read by the waits.
void IdRequestCancel();
void IdResetCancel();
bool IdCancelRequested();

} // namespace vantari
