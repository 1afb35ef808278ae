#include "FileDescriptor.h"

#include "WinText.h"

#include <utility>

namespace vantari {

TFileDescriptor::~TFileDescriptor() {
  if (Valid())
    ::CloseHandle(FFd);
}

TFileDescriptor &TFileDescriptor::operator=(TFileDescriptor &&other) noexcept {
  if (this != &other) {
    if (Valid())
      ::CloseHandle(FFd);
    FFd = other.Release();
  }
  return *this;
}

TNativeHandle TFileDescriptor::Release() {
  return std::exchange(FFd, InvalidNativeHandle);
}

bool TFileDescriptor::Close() {
  return Valid() && ::CloseHandle(Release()) != 0;
}

bool WriteAll(TNativeHandle fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(fd, bytes.data(), chunk, &written, nullptr) || written == 0)
      return false;
    bytes.remove_prefix(written);
  }
  return true;
}

} // namespace vantari
