#pragma once

namespace vantari {

// What the operating system hands out for an open file: a descriptor on POSIX, a HANDLE on
// Windows (kept as void* so that no header needs <windows.h>).
#ifdef _WIN32
using TNativeHandle = void *;
inline TNativeHandle const InvalidNativeHandle = reinterpret_cast<void *>(-1);
#else
using TNativeHandle = int;
constexpr TNativeHandle InvalidNativeHandle = -1;
#endif

} // namespace vantari
