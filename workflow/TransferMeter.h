#pragma once

#include "IdComponent.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace vantari {

// The speed of one transfer, as the status bar shows it: the average since the transfer
// began, with a redraw at most every 100 ms so that a text for every small piece does not
// cost the transfer its speed.
class TTransferMeter {
public:
  using TTime = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::milliseconds RepaintInterval{100};

  void Begin(TTime now);
  // Counts the running total; true when the view should be redrawn now.
  bool Update(TWorkMode mode, int32_t count, TTime now);
  // Marks the view as redrawn now.
  void Shown(TTime now);

  double Speed() const { return FSpeed; } // KB/s
  int32_t Count() const { return FCount; }
  TWorkMode Mode() const { return FMode; }
  // "Uploade speed 12.35 KB/s" or "Download speed ...": two decimals, a point in any locale.
  std::string StatusText() const;

private:
  TTime FStart{};
  TTime FLastShown{};
  bool FShownSinceBegin = false;
  TWorkMode FMode = wmRead;
  int32_t FCount = 0;
  double FSpeed = 0;
};

} // namespace vantari
