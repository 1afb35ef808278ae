#include "IdWait.h"

#include "HostUI.h"
#include "IdWaitPlatform.h"

#include <algorithm>
#include <atomic>

namespace vantari {

namespace {

std::atomic<bool> cancelRequested{false};

void CheckCancel() {
  if (IdCancelRequested())
    throw EIdCancelled();
}

} // namespace

TIdWaitResult IdWait(TIdWaitSocket first, TIdWaitSocket second, const TIdDeadline &deadline) {
  return IdWaitInSlices(deadline, [&first, &second](int64_t ms, TIdWaitResult &result) {
    return IdWaitSlice(first, second, ms, result);
  });
}

TIdWaitResult IdWaitInSlices(const TIdDeadline &deadline, const TIdWaitSliceCall &sliceCall) {
  for (;;) {
    CheckCancel();
    const TIdTimeout left = deadline.Remaining();
    const int64_t slice = left.Limited() ? std::min(left.Milliseconds(), WaitSliceMs) : WaitSliceMs;
    TIdWaitResult result;
    const int n = sliceCall(slice, result);
    if (n < 0) {
      result.Closed = true;
      return result;
    }
    // A line or chunk made of many short waits blocks as long as one long wait: the window
    // gets its turn at the end of each (the host paces itself).
    HostUI().ProcessPaintEvents();
    if (n > 0)
      return result;
    // The window may have asked to cancel while it repainted.
    CheckCancel();
    if (deadline.Passed())
      return result;
  }
}

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
