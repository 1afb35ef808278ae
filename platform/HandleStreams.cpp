// The stream operations of the streams over an open file, the same on every system: the
// system's part is the handle I/O of FileStream.cpp.
#include "Stream.h"
#include "TargetFolder.h"

namespace vantari {

int64_t TFileStream::Read(void *buffer, int64_t count) {
  return ReadHandle(FFd, buffer, count);
}

int64_t TFileStream::Write(const void *buffer, int64_t count) {
  return WriteHandle(FFd, buffer, count);
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  return SeekHandle(FFd, FPath, offset, origin);
}

void TFileStream::SetSize(int64_t newSize) {
  if (!TruncateHandle(FFd, newSize))
    RaiseWriteError(LastOsError());
  if (Position() > newSize)
    Seek(newSize, TSeekOrigin::soBeginning);
}

int64_t TFileStream::Size() {
  const int64_t size = HandleSize(FFd);
  return size >= 0 ? size : TStream::Size();
}

int64_t TReplacementFile::Read(void *buffer, int64_t count) {
  return ReadHandle(FFd, buffer, count);
}

int64_t TReplacementFile::Write(const void *buffer, int64_t count) {
  return WriteHandle(FFd, buffer, count);
}

int64_t TReplacementFile::Seek(int64_t offset, TSeekOrigin origin) {
  return SeekHandle(FFd, FName, offset, origin);
}

void TReplacementFile::SetSize(int64_t newSize) {
  if (!TruncateHandle(FFd, newSize))
    RaiseWriteError(LastOsError());
}

int64_t TReplacementFile::Size() {
  const int64_t size = HandleSize(FFd);
  return size >= 0 ? size : TStream::Size();
}

} // namespace vantari
