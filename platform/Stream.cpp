#include "Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

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

void RaiseWriteError(const TOsResult &cause) {
  const std::string message = "Stream write error";
  throw EWriteError(cause ? message : message + ": " + cause.Text, cause);
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
