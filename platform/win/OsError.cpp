#include "OsError.h"

#include "WinText.h"

namespace vantari {

TOsErrorKind TOsResult::OsErrorKind(int code) {
  switch (static_cast<DWORD>(code)) {
  case ERROR_SUCCESS:
    return TOsErrorKind::okNone;
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    return TOsErrorKind::okDiskFull;
  case ERROR_ACCESS_DENIED:
  case ERROR_WRITE_PROTECT:
    return TOsErrorKind::okDenied;
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
    return TOsErrorKind::okInUse;
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
    return TOsErrorKind::okMissing;
  default:
    return TOsErrorKind::okOther;
  }
}

TOsResult OsError(int code) {
  if (code == 0)
    return {};
  return {code, win::SystemMessage(static_cast<DWORD>(code))};
}

TOsResult LastOsError() {
  const DWORD code = ::GetLastError();
  return code != ERROR_SUCCESS ? OsError(static_cast<int>(code)) : TOsResult{-1, "unknown error"};
}

} // namespace vantari
