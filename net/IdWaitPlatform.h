#pragma once

#include "IdWait.h"

#include <cstdint>
#include <functional>

namespace vantari {

// The longest the window goes without a repaint while a wait blocks.
constexpr int64_t WaitSliceMs = 100;

// Ends every wait blocked right now, so that a cancel request is seen at once.
void IdWakeWaits();

// The system's part of IdWait: blocks up to ms for the first or the second socket.
// > 0: something is ready or not open (result says which); 0: nothing in time, or the
// wait was woken; < 0: the system refused the wait.
int IdWaitSlice(const TIdWaitSocket &first, const TIdWaitSocket &second, int64_t ms,
                TIdWaitResult &result);

// One slice of a wait: blocks up to ms for what the wait watches, with IdWaitSlice's result.
using TIdWaitSliceCall = std::function<int(int64_t ms, TIdWaitResult &result)>;
// The slice loop of every wait: slices of at most WaitSliceMs until one reports something or
// the deadline passes, with the repaint after each and the cancel request seen before and
// after each (raises EIdCancelled).
TIdWaitResult IdWaitInSlices(const TIdDeadline &deadline, const TIdWaitSliceCall &slice);

} // namespace vantari
