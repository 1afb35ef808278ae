#pragma once

#include <cstdint>

namespace vantari {

// The longest the window goes without a repaint while a wait blocks.
constexpr int64_t WaitSliceMs = 100;

// Ends every wait blocked right now, so that a cancel request is seen at once.
void IdWakeWaits();

} // namespace vantari
