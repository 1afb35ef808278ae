#include "OsError.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace vantari {

TOsErrorKind TOsResult::OsErrorKind(int code) {
  static const std::pair<int, TOsErrorKind> kinds[] = {
      {0, TOsErrorKind::okNone},          {ENOSPC, TOsErrorKind::okDiskFull},
      {EDQUOT, TOsErrorKind::okDiskFull}, {EACCES, TOsErrorKind::okDenied},
      {EPERM, TOsErrorKind::okDenied},    {EROFS, TOsErrorKind::okDenied},
      {EBUSY, TOsErrorKind::okInUse},     {ETXTBSY, TOsErrorKind::okInUse},
      {ENOENT, TOsErrorKind::okMissing},  {ENOTDIR, TOsErrorKind::okMissing}};
  for (const auto &[known, kind] : kinds)
    if (code == known)
      return kind;
  return TOsErrorKind::okOther;
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
