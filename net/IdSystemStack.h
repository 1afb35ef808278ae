#pragma once

// The stack of the system the program is built for.
#ifdef _WIN32
#include "IdStackWin.h"
namespace vantari {
using TIdSystemStack = TIdStackWin;
}
#else
#include "IdStackPosix.h"
namespace vantari {
using TIdSystemStack = TIdStackPosix;
}
#endif
