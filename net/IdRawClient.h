#pragma once

#include "IdRawBase.h"

namespace vantari {

// A raw component whose receive time-out is part of its published settings (default 0).
class TIdRawClient : public TIdRawBase {};

} // namespace vantari
