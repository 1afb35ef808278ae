#include "BlockDeflater.h"

#include <zlib.h>

namespace vantari {

namespace {
// The version the archive format was defined with; zlib accepts any 1.x request.
constexpr const char *kZlibVersion = "1.1.3";
} // namespace

struct TBlockDeflater::TState {
  z_stream Stream{};
};

TBlockDeflater::TBlockDeflater(int level) : FState(std::make_unique<TState>()) {
  FReady = deflateInit2_(&FState->Stream, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY,
                         kZlibVersion, static_cast<int>(sizeof(z_stream))) == Z_OK;
}

TBlockDeflater::~TBlockDeflater() {
  if (FReady)
    deflateEnd(&FState->Stream);
}

int32_t TBlockDeflater::Compress(const uint8_t *in, int32_t count, uint8_t *out, int32_t capacity) {
  z_stream &s = FState->Stream;
  if (!FReady || (!FFresh && deflateReset(&s) != Z_OK))
    return -1;
  FFresh = false;
  s.next_in = const_cast<Bytef *>(in);
  s.avail_in = static_cast<uInt>(count);
  s.next_out = out;
  s.avail_out = static_cast<uInt>(capacity);
  const int result = deflate(&s, Z_FINISH);
  if (result == Z_STREAM_END)
    return capacity - static_cast<int32_t>(s.avail_out);
  return (result == Z_OK || result == Z_BUF_ERROR) ? 0 : -1;
}

} // namespace vantari
