#include "Stream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantari {

TFileStream::TFileStream(const std::string &path, unsigned mode) : FPath(path) {
  if (mode == fmCreate) {
    FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FFd < 0) {
      const TOsResult cause = LastOsError();
      throw EFCreateError(Format("Cannot create file \"%s\". %s", path.c_str(), cause.Text.c_str()),
                          cause);
    }
    return;
  }
  int flags = O_RDONLY;
  if ((mode & 3) == fmOpenWrite)
    flags = O_WRONLY;
  else if ((mode & 3) == fmOpenReadWrite)
    flags = O_RDWR;
  FFd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (FFd >= 0) {
    struct stat st {};
    if (::fstat(FFd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(FFd);
      FFd = -1;
      errno = EISDIR;
    }
  }
  if (FFd < 0) {
    const TOsResult cause = LastOsError();
    throw EFOpenError(Format("Cannot open file \"%s\". %s", path.c_str(), cause.Text.c_str()),
                      cause);
  }
}

TFileStream::~TFileStream() {
  if (FFd >= 0)
    ::close(FFd);
}

int64_t ReadHandle(TNativeHandle handle, void *buffer, int64_t count) {
  for (;;) {
    const ssize_t n = ::read(handle, buffer, static_cast<size_t>(count));
    if (n >= 0 || errno != EINTR)
      return n < 0 ? 0 : n;
  }
}

int64_t WriteHandle(TNativeHandle handle, const void *buffer, int64_t count) {
  for (;;) {
    const ssize_t n = ::write(handle, buffer, static_cast<size_t>(count));
    if (n >= 0)
      return n;
    if (errno != EINTR)
      RaiseWriteError(LastOsError()); // a full disk, a denied write: the caller tells them apart
  }
}

int64_t SeekHandle(TNativeHandle handle, const std::string &name, int64_t offset,
                   TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  const off_t result = ::lseek(handle, offset, whence);
  if (result < 0)
    throw EStreamError(Format("Seek failed on \"%s\". %s", name.c_str(), std::strerror(errno)));
  return result;
}

bool TruncateHandle(TNativeHandle handle, int64_t newSize) {
  return ::ftruncate(handle, newSize) == 0;
}

int64_t HandleSize(TNativeHandle handle) {
  struct stat st {};
  return ::fstat(handle, &st) == 0 ? st.st_size : -1;
}

} // namespace vantari
