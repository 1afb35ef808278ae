#include "Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantari {

int64_t TStream::Size() {
  const int64_t here = Position();
  const int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(here, TSeekOrigin::soBeginning);
  return end;
}

void TStream::ReadBuffer(void *buffer, int64_t count) {
  auto *out = static_cast<uint8_t *>(buffer);
  while (count > 0) {
    const int64_t n = Read(out, count);
    if (n <= 0)
      throw EReadError("Stream read error");
    out += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void *buffer, int64_t count) {
  const auto *in = static_cast<const uint8_t *>(buffer);
  while (count > 0) {
    const int64_t n = Write(in, count);
    if (n <= 0)
      throw EWriteError("Stream write error");
    in += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream &source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, 65536)));
  int64_t left = count;
  while (left > 0) {
    const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

TFileStream::TFileStream(const std::string &path, unsigned mode) : FPath(path) {
  if (mode == fmCreate) {
    FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FFd < 0)
      throw EFCreateError(
          Format("Cannot create file \"%s\". %s", path.c_str(), std::strerror(errno)));
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
  if (FFd < 0)
    throw EFOpenError(Format("Cannot open file \"%s\". %s", path.c_str(), std::strerror(errno)));
}

TFileStream::~TFileStream() {
  if (FFd >= 0)
    ::close(FFd);
}

int64_t TFileStream::Read(void *buffer, int64_t count) {
  for (;;) {
    const ssize_t n = ::read(FFd, buffer, static_cast<size_t>(count));
    if (n >= 0)
      return n;
    if (errno != EINTR)
      return 0;
  }
}

int64_t TFileStream::Write(const void *buffer, int64_t count) {
  for (;;) {
    const ssize_t n = ::write(FFd, buffer, static_cast<size_t>(count));
    if (n >= 0)
      return n;
    if (errno != EINTR)
      return 0;
  }
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  const off_t result = ::lseek(FFd, offset, whence);
  if (result < 0)
    throw EStreamError(Format("Seek failed on \"%s\". %s", FPath.c_str(), std::strerror(errno)));
  return result;
}

void TFileStream::SetSize(int64_t newSize) {
  if (::ftruncate(FFd, newSize) != 0)
    throw EWriteError("Stream write error");
  if (Position() > newSize)
    Seek(newSize, TSeekOrigin::soBeginning);
}

int64_t TFileStream::Size() {
  struct stat st {};
  if (::fstat(FFd, &st) != 0)
    return TStream::Size();
  return st.st_size;
}

int64_t TMemoryStream::Read(void *buffer, int64_t count) {
  const int64_t available = std::max<int64_t>(0, Size() - FPosition);
  const int64_t n = std::min(count, available);
  if (n > 0)
    std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void *buffer, int64_t count) {
  if (count <= 0)
    return 0;
  if (FPosition + count > Size())
    FData.resize(static_cast<size_t>(FPosition + count));
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                       : origin == TSeekOrigin::soCurrent ? FPosition
                                                          : Size();
  FPosition = std::max<int64_t>(0, base + offset);
  return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
  FData.resize(static_cast<size_t>(std::max<int64_t>(0, newSize)));
  FPosition = std::min(FPosition, newSize);
}

} // namespace vantari
