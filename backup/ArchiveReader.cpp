#include "ArchiveReader.h"

#include <algorithm>
#include <cstring>

namespace vantari {

namespace {
constexpr size_t kBufferSize = 128 * 1024;
constexpr size_t kLargestBlock = 64 * 1024;
} // namespace

TArchiveReader::TArchiveReader(TStream &source)
    : FSource(source), FSize(source.Size()), FOffset(source.Position()), FBuffer(kBufferSize) {}

void TArchiveReader::Require(int64_t count) const {
  if (count < 0 || count > Remaining())
    throw EReadError("Stream read error");
}

// Makes at least count bytes available from FPos on (count <= kLargestBlock).
void TArchiveReader::Fill(size_t count) {
  if (FEnd - FPos >= count)
    return;
  std::memmove(FBuffer.data(), FBuffer.data() + FPos, FEnd - FPos);
  FEnd -= FPos;
  FPos = 0;
  while (FEnd < count) {
    const int64_t n =
        FSource.Read(FBuffer.data() + FEnd, static_cast<int64_t>(FBuffer.size() - FEnd));
    if (n <= 0)
      throw EReadError("Stream read error");
    FEnd += static_cast<size_t>(n);
    FOffset += n;
  }
}

int32_t TArchiveReader::ReadInt32() {
  uint8_t bytes[4];
  ReadBytes(bytes, sizeof bytes);
  return static_cast<int32_t>(
      static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
      static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24);
}

void TArchiveReader::ReadBytes(void *out, size_t count) {
  std::memcpy(out, ReadBlock(static_cast<int32_t>(count)), count);
}

std::string TArchiveReader::ReadText(int32_t length) {
  Require(length);
  std::string text;
  text.reserve(static_cast<size_t>(length));
  while (text.size() < static_cast<size_t>(length)) {
    const size_t part = std::min(kLargestBlock, static_cast<size_t>(length) - text.size());
    const auto *bytes = ReadBlock(static_cast<int32_t>(part));
    text.append(reinterpret_cast<const char *>(bytes), part);
  }
  return text;
}

const uint8_t *TArchiveReader::ReadBlock(int32_t count) {
  Require(count);
  const auto n = static_cast<size_t>(count);
  if (n > kLargestBlock)
    throw EReadError("Stream read error");
  Fill(n);
  const uint8_t *data = FBuffer.data() + FPos;
  FPos += n;
  return data;
}

void TArchiveReader::Skip(int64_t count) {
  Require(count);
  const auto buffered = static_cast<int64_t>(FEnd - FPos);
  if (count <= buffered) {
    FPos += static_cast<size_t>(count);
    return;
  }
  FOffset += count - buffered;
  FPos = FEnd = 0;
  FSource.SetPosition(FOffset);
}

void TArchiveReader::Release() {
  try {
    FSource.SetPosition(Position());
  } catch (const Exception &) {
    // A stream that cannot seek back stays where reading left it.
  }
  FOffset = Position();
  FPos = FEnd = 0;
}

} // namespace vantari
