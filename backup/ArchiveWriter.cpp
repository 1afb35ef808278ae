#include "ArchiveWriter.h"

namespace vantari {

namespace {
constexpr size_t kBufferSize = 128 * 1024;
} // namespace

TArchiveWriter::TArchiveWriter(TStream &target) : FTarget(&target), FBase(target.Position()) {
  FBuffer.reserve(kBufferSize);
}

void TArchiveWriter::Attach(TStream &target) {
  FBuffer.clear();
  FTarget = &target;
  FBase = target.Position();
}

void TArchiveWriter::WriteInt32(int32_t value) {
  const auto bits = static_cast<uint32_t>(value);
  const uint8_t bytes[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                            static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
  WriteBytes(bytes, sizeof bytes);
}

void TArchiveWriter::WriteText(const std::string &text) {
  WriteInt32(static_cast<int32_t>(text.size()));
  WriteBytes(text.data(), text.size());
}

void TArchiveWriter::WriteBytes(const void *data, size_t count) {
  if (FBuffer.size() + count > kBufferSize)
    Flush();
  if (count >= kBufferSize) {
    FTarget->WriteBuffer(data, static_cast<int64_t>(count));
    FBase += static_cast<int64_t>(count);
    return;
  }
  const auto *bytes = static_cast<const uint8_t *>(data);
  FBuffer.insert(FBuffer.end(), bytes, bytes + count);
}

void TArchiveWriter::Flush() {
  if (FBuffer.empty())
    return;
  const auto count = static_cast<int64_t>(FBuffer.size());
  try {
    FTarget->WriteBuffer(FBuffer.data(), count);
  } catch (...) {
    FBuffer.clear(); // a failed write is not retried: the run stops on it
    throw;
  }
  FBuffer.clear();
  FBase += count;
}

} // namespace vantari
