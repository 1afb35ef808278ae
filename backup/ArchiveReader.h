#pragma once

#include "Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantari {

// Buffered, bounds-checked input of archive fields from a stream, starting at its
// current position. Nothing is trusted: every length is checked against the bytes left
// before anything is allocated or skipped. Running short raises EReadError
// "Stream read error", as a plain stream read would.
class TArchiveReader {
public:
  explicit TArchiveReader(TStream &source);
  TArchiveReader(const TArchiveReader &) = delete;
  TArchiveReader &operator=(const TArchiveReader &) = delete;

  int32_t ReadInt32();
  void ReadBytes(void *out, size_t count);
  // A text of length bytes (the length already read).
  std::string ReadText(int32_t length);
  // count bytes, valid until the next call; count is at most 64 KiB.
  const uint8_t *ReadBlock(int32_t count);
  // Steps over count bytes without reading them.
  void Skip(int64_t count);
  // Bytes left in the source after the current position.
  int64_t Remaining() const { return FSize - Position(); }
  int64_t Position() const { return FOffset - static_cast<int64_t>(FEnd - FPos); }
  // Leaves the source positioned just after the last field read.
  void Release();

private:
  void Require(int64_t count) const;
  void Fill(size_t count);

  TStream &FSource;
  int64_t FSize;
  int64_t FOffset; // source position of the end of the buffered bytes
  std::vector<uint8_t> FBuffer;
  size_t FPos = 0;
  size_t FEnd = 0;
};

} // namespace vantari
