#include "TransferMeter.h"

#include <charconv>

namespace vantari {

void TTransferMeter::Begin(TTime now) {
  FStart = now;
  FShownSinceBegin = false;
  FCount = 0;
  FSpeed = 0;
}

bool TTransferMeter::Update(TWorkMode mode, int32_t count, TTime now) {
  const double seconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - FStart).count() / 1000.0;
  if (seconds > 0)
    FSpeed = count / 1024.0 / seconds;
  FMode = mode;
  FCount = count;
  return !FShownSinceBegin || now - FLastShown >= RepaintInterval;
}

void TTransferMeter::Shown(TTime now) {
  FShownSinceBegin = true;
  FLastShown = now;
}

std::string TTransferMeter::StatusText() const {
  char digits[32];
  const auto end =
      std::to_chars(digits, digits + sizeof digits, FSpeed, std::chars_format::fixed, 2);
  const char *label = FMode == wmRead ? "Download speed " : "Uploade speed ";
  return label + std::string(digits, end.ptr) + " KB/s";
}

} // namespace vantari
