#include "OsError.h"

#include "WinText.h"

#include <utility>

namespace vantari {

TOsErrorKind TOsResult::OsErrorKind(int code) {
  static const std::pair<DWORD, TOsErrorKind> kinds[] = {
      {ERROR_SUCCESS, TOsErrorKind::okNone},
      {ERROR_DISK_FULL, TOsErrorKind::okDiskFull},
      {ERROR_HANDLE_DISK_FULL, TOsErrorKind::okDiskFull},
      {ERROR_ACCESS_DENIED, TOsErrorKind::okDenied},
      {ERROR_WRITE_PROTECT, TOsErrorKind::okDenied},
      {ERROR_SHARING_VIOLATION, TOsErrorKind::okInUse},
      {ERROR_LOCK_VIOLATION, TOsErrorKind::okInUse},
      {ERROR_FILE_NOT_FOUND, TOsErrorKind::okMissing},
      {ERROR_PATH_NOT_FOUND, TOsErrorKind::okMissing}};
  for (const auto &[known, kind] : kinds)
    if (static_cast<DWORD>(code) == known)
      return kind;
  return TOsErrorKind::okOther;
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
