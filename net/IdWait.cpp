#include "IdWait.h"

#include "HostUI.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <poll.h>

namespace vantari {

namespace {

// The longest the window goes without a repaint while a wait blocks.
constexpr int64_t WaitSliceMs = 100;

std::atomic<bool> cancelRequested{false};

short PollEvents(uint8_t events) {
  short result = 0;
  if (events & weReadable)
    result |= POLLIN;
  if (events & weWritable)
    result |= POLLOUT;
  return result;
}

void CheckCancel() {
  if (cancelRequested.load())
    throw EIdCancelled();
}

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

TIdWaitResult IdWait(TIdWaitSocket first, TIdWaitSocket second, const TIdDeadline &deadline) {
  pollfd entries[2] = {{first.Socket, PollEvents(first.Events), 0},
                       {second.Socket, PollEvents(second.Events), 0}};
  // poll skips negative descriptors, so an unwatched second socket costs nothing.
  TIdWaitResult result;
  for (;;) {
    CheckCancel();
    const TIdTimeout left = deadline.Remaining();
    const int64_t slice = left.Limited() ? std::min(left.Milliseconds(), WaitSliceMs) : WaitSliceMs;
    entries[0].revents = entries[1].revents = 0;
    const int n = poll(entries, 2, static_cast<int>(slice));
    if (n > 0) {
      result.First = entries[0].revents != 0 && !(entries[0].revents & POLLNVAL);
      result.Second = entries[1].revents != 0 && !(entries[1].revents & POLLNVAL);
      result.Closed = ((entries[0].revents | entries[1].revents) & POLLNVAL) != 0;
      // A line or chunk made of many short waits blocks as long as one long wait: the
      // window gets its turn at the end of each (the host paces itself).
      HostUI().ProcessPaintEvents();
      return result;
    }
    if (n < 0 && errno != EINTR) {
      result.Closed = true;
      return result;
    }
    HostUI().ProcessPaintEvents();
    // The window may have asked to cancel while it repainted.
    CheckCancel();
    if (deadline.Passed())
      return result;
  }
}

void IdRequestCancel() {
  cancelRequested.store(true);
}

void IdResetCancel() {
  cancelRequested.store(false);
}

bool IdCancelRequested() {
  return cancelRequested.load();
}

} // namespace vantari
