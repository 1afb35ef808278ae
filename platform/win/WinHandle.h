#pragma once

// The one owner of a Windows HANDLE; other code includes it as "win/WinHandle.h".
#include <windows.h>

#include <utility>

namespace vantari::win {

// Owns one HANDLE (a file, process or thread): empty when null or INVALID_HANDLE_VALUE, taken
// over by a move, closed once.
class TWinHandle {
public:
  explicit TWinHandle(HANDLE handle = INVALID_HANDLE_VALUE) : FHandle(handle) {}
  ~TWinHandle() { Close(); }
  TWinHandle(TWinHandle &&other) noexcept : FHandle(other.Release()) {}
  TWinHandle &operator=(TWinHandle &&other) noexcept {
    if (this != &other) {
      Close();
      FHandle = other.Release();
    }
    return *this;
  }
  TWinHandle(const TWinHandle &) = delete;
  TWinHandle &operator=(const TWinHandle &) = delete;
  HANDLE Get() const { return FHandle; }
  bool Valid() const { return FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr; }
  HANDLE Release() { return std::exchange(FHandle, INVALID_HANDLE_VALUE); }
  // Closes now; false when the close failed (or there was nothing to close).
  bool Close() { return Valid() && ::CloseHandle(Release()) != 0; }

private:
  HANDLE FHandle;
};

} // namespace vantari::win
