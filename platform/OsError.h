#pragma once

#include <string>

namespace vantari {

// What a failed file or folder call tells the person, told apart by the system's code and never
// by its text.
enum class TOsErrorKind {
  okNone,     // no failure
  okDiskFull, // ENOSPC, EDQUOT; ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL
  okDenied,   // EACCES, EPERM, EROFS; ERROR_ACCESS_DENIED, ERROR_WRITE_PROTECT
  okInUse,    // EBUSY, ETXTBSY; ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION
  okMissing,  // ENOENT, ENOTDIR; ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND
  okOther,
};

// The outcome of a file or folder call: success, or the system's code (errno; GetLastError on
// Windows) with the system's own text for it (UTF-8).
struct TOsResult {
  int Code = 0;
  std::string Text;

  explicit operator bool() const { return Code == 0; }
  TOsErrorKind Kind() const { return OsErrorKind(Code); }
  static TOsErrorKind OsErrorKind(int code);
};

// The calling thread's last system error (errno; GetLastError on Windows) as a result; a failure
// without a code still fails (code -1, "unknown error").
TOsResult LastOsError();
// The result for a system code; 0 is success.
TOsResult OsError(int code);
// A result from a call's success and, on failure, the last system error.
inline TOsResult OsResult(bool succeeded) {
  return succeeded ? TOsResult{} : LastOsError();
}

} // namespace vantari
