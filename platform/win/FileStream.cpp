#include "Stream.h"

#include "WinText.h"

namespace vantari {

using win::SystemMessage;
using win::WidePath;

TFileStream::TFileStream(const std::string &path, unsigned mode) : FPath(path) {
  // Others may read and write the file meanwhile, as the program always let them.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (mode == fmCreate) {
    FFd = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FFd == InvalidNativeHandle) {
      const TOsResult cause = LastOsError();
      throw EFCreateError(Format("Cannot create file \"%s\". %s", path.c_str(), cause.Text.c_str()),
                          cause);
    }
    return;
  }
  DWORD access = GENERIC_READ;
  if ((mode & 3) == fmOpenWrite)
    access = GENERIC_WRITE;
  else if ((mode & 3) == fmOpenReadWrite)
    access = GENERIC_READ | GENERIC_WRITE;
  FFd = ::CreateFileW(WidePath(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (FFd == InvalidNativeHandle) {
    const TOsResult cause = LastOsError();
    throw EFOpenError(Format("Cannot open file \"%s\". %s", path.c_str(), cause.Text.c_str()),
                      cause);
  }
}

TFileStream::~TFileStream() {
  if (FFd != InvalidNativeHandle)
    ::CloseHandle(FFd);
}

int64_t ReadHandle(TNativeHandle handle, void *buffer, int64_t count) {
  DWORD n = 0;
  const auto chunk = static_cast<DWORD>(std::min<int64_t>(count, 1 << 30));
  return handle != InvalidNativeHandle && ::ReadFile(handle, buffer, chunk, &n, nullptr) ? n : 0;
}

int64_t WriteHandle(TNativeHandle handle, const void *buffer, int64_t count) {
  DWORD n = 0;
  const auto chunk = static_cast<DWORD>(std::min<int64_t>(count, 1 << 30));
  if (handle == InvalidNativeHandle)
    return 0;
  if (!::WriteFile(handle, buffer, chunk, &n, nullptr))
    RaiseWriteError(LastOsError()); // a full disk, a denied write, a locked range
  return n;
}

int64_t SeekHandle(TNativeHandle handle, const std::string &name, int64_t offset,
                   TSeekOrigin origin) {
  const DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                       : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                          : FILE_END;
  LARGE_INTEGER distance{}, result{};
  distance.QuadPart = offset;
  if (!::SetFilePointerEx(handle, distance, &result, method))
    throw EStreamError(
        Format("Seek failed on \"%s\". %s", name.c_str(), SystemMessage(::GetLastError()).c_str()));
  return result.QuadPart;
}

// Windows cuts a file at its position: there and back again.
bool TruncateHandle(TNativeHandle handle, int64_t newSize) {
  LARGE_INTEGER zero{}, here{}, size{};
  size.QuadPart = newSize;
  if (!::SetFilePointerEx(handle, zero, &here, FILE_CURRENT) ||
      !::SetFilePointerEx(handle, size, nullptr, FILE_BEGIN))
    return false;
  const bool cut = ::SetEndOfFile(handle) != 0;
  return ::SetFilePointerEx(handle, here, nullptr, FILE_BEGIN) && cut;
}

int64_t HandleSize(TNativeHandle handle) {
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(handle, &size) ? size.QuadPart : -1;
}

} // namespace vantari
