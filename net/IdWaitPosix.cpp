#include "IdWaitPlatform.h"

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

} // namespace

// A wait looks at the cancel request at least every slice, so nothing needs waking.
void IdWakeWaits() {}

int IdWaitSlice(const TIdWaitSocket &first, const TIdWaitSocket &second, int64_t ms,
                TIdWaitResult &result) {
  // poll skips negative descriptors, so an unwatched second socket costs nothing.
  pollfd entries[2] = {{first.Socket, PollEvents(first.Events), 0},
                       {second.Socket, PollEvents(second.Events), 0}};
  const int n = poll(entries, 2, static_cast<int>(ms));
  if (n > 0) {
    result.First = entries[0].revents != 0 && !(entries[0].revents & POLLNVAL);
    result.Second = entries[1].revents != 0 && !(entries[1].revents & POLLNVAL);
    result.Closed = ((entries[0].revents | entries[1].revents) & POLLNVAL) != 0;
  }
  // An interrupted poll is a slice in which nothing happened.
  return n < 0 && errno == EINTR ? 0 : n;
}

} // namespace vantari
