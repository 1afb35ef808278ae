#pragma once

#include "Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantari {

// Buffered little-endian output of archive fields into a stream (a volume file or the
// host's stream), starting at the stream's current position. Nothing reaches the stream
// before Flush or a full buffer; write failures raise EWriteError from there.
class TArchiveWriter {
public:
  explicit TArchiveWriter(TStream &target);
  TArchiveWriter(const TArchiveWriter &) = delete;
  TArchiveWriter &operator=(const TArchiveWriter &) = delete;

  // Continues on another stream (the next volume); the buffer must have been flushed.
  void Attach(TStream &target);
  void WriteInt32(int32_t value);
  // A length-prefixed text field.
  void WriteText(const std::string &text);
  void WriteBytes(const void *data, size_t count);
  void Flush();
  // Position in the current stream, buffered bytes included.
  int64_t Position() const { return FBase + static_cast<int64_t>(FBuffer.size()); }

private:
  TStream *FTarget;
  int64_t FBase;
  std::vector<uint8_t> FBuffer;
};

} // namespace vantari
