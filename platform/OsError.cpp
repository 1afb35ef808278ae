#include "OsError.h"

#include <cerrno>
#include <cstring>

namespace vantari {

TOsErrorKind TOsResult::OsErrorKind(int code) {
  switch (code) {
  case 0:
    return TOsErrorKind::okNone;
  case ENOSPC:
  case EDQUOT:
    return TOsErrorKind::okDiskFull;
  case EACCES:
  case EPERM:
  case EROFS:
    return TOsErrorKind::okDenied;
  case EBUSY:
  case ETXTBSY:
    return TOsErrorKind::okInUse;
  case ENOENT:
  case ENOTDIR:
    return TOsErrorKind::okMissing;
  default:
    return TOsErrorKind::okOther;
  }
}

TOsResult OsError(int code) {
  if (code == 0)
    return {};
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be in buffer.
  return {code, ::strerror_r(code, buffer, sizeof buffer)};
}

TOsResult LastOsError() {
  return errno != 0 ? OsError(errno) : TOsResult{-1, "unknown error"};
}

} // namespace vantari
