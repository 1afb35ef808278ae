#include "IdWait.h"

#include "IdWaitPlatform.h"

#include <algorithm>
#include <atomic>

namespace vantari {

namespace {

std::atomic<bool> cancelRequested{false};

} // namespace

TIdDeadline::TIdDeadline(TIdTimeout timeout) : FLimited(timeout.Limited()) {
  if (FLimited)
    FAt = TClock::now() + std::chrono::milliseconds(timeout.Milliseconds());
}

bool TIdDeadline::Passed() const {
  return FLimited && TClock::now() >= FAt;
}

TIdTimeout TIdDeadline::Remaining() const {
  if (!FLimited)
    return TIdTimeout::None();
  // Rounded up, so a wait on what is left never ends before the deadline.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(FAt - TClock::now());
  return TIdTimeout::Ms(std::max<int64_t>(left.count(), 0));
}

TIdDeadline TIdDeadline::Sooner(const TIdDeadline &a, const TIdDeadline &b) {
  if (!a.FLimited)
    return b;
  if (!b.FLimited)
    return a;
  return a.FAt <= b.FAt ? a : b;
}

void IdRequestCancel() {
  cancelRequested.store(true);
  IdWakeWaits();
}

void IdResetCancel() {
  cancelRequested.store(false);
}

bool IdCancelRequested() {
  return cancelRequested.load();
}

} // namespace vantari
