#include "IdWait.h"

#include "HostUI.h"
#include "IdWaitPlatform.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace vantari {

namespace {

short PollEvents(uint8_t events) {
  short result = 0;
  if (events & weReadable)
    result |= POLLIN;
  if (events & weWritable)
    result |= POLLOUT;
  return result;
}

void CheckCancel() {
  if (IdCancelRequested())
    throw EIdCancelled();
}

} // namespace

// A wait looks at the cancel request at least every slice, so nothing needs waking.
void IdWakeWaits() {}

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

} // namespace vantari
