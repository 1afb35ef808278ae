#include "BlockInflater.h"

#if VANTARI_DEFLATE_LIBDEFLATE
#include <libdeflate.h>
#endif
#include <zlib.h>

namespace vantari {

namespace {
constexpr const char *kZlibVersion = "1.1.3";
} // namespace

struct TBlockInflater::TState {
  z_stream Stream{};
#if VANTARI_DEFLATE_LIBDEFLATE
  libdeflate_decompressor *Fast = nullptr;
  ~TState() {
    if (Fast)
      libdeflate_free_decompressor(Fast);
  }
#endif
};

TBlockInflater::TBlockInflater() : FState(std::make_unique<TState>()) {
  FReady =
      inflateInit2_(&FState->Stream, 15, kZlibVersion, static_cast<int>(sizeof(z_stream))) == Z_OK;
#if VANTARI_DEFLATE_LIBDEFLATE
  FState->Fast = libdeflate_alloc_decompressor();
#endif
}

TBlockInflater::~TBlockInflater() {
  if (FReady)
    inflateEnd(&FState->Stream);
}

bool TBlockInflater::Inflate(const uint8_t *in, int32_t count, uint8_t *out, int32_t capacity,
                             int32_t &produced) {
  produced = 0;
  if (!FReady)
    return false;
#if VANTARI_DEFLATE_LIBDEFLATE
  if (FState->Fast) {
    size_t used = 0;
    size_t made = 0;
    const auto result =
        libdeflate_zlib_decompress_ex(FState->Fast, in, static_cast<size_t>(count), out,
                                      static_cast<size_t>(capacity), &used, &made);
    if (result == LIBDEFLATE_SUCCESS && used == static_cast<size_t>(count)) {
      produced = static_cast<int32_t>(made);
      return true;
    }
  }
#endif
  return InflateWithZlib(in, count, out, capacity, produced);
}

bool TBlockInflater::InflateWithZlib(const uint8_t *in, int32_t count, uint8_t *out,
                                     int32_t capacity, int32_t &produced) {
  z_stream &s = FState->Stream;
  if (!FFresh && inflateReset(&s) != Z_OK)
    return false;
  FFresh = false;
  s.next_in = const_cast<Bytef *>(in);
  s.avail_in = static_cast<uInt>(count);
  s.next_out = out;
  s.avail_out = static_cast<uInt>(capacity);
  const int result = inflate(&s, Z_NO_FLUSH);
  produced = capacity - static_cast<int32_t>(s.avail_out);
  // Anything but one stream ending exactly at the block's end is damage: a stream cut
  // short, one that would inflate past the buffer, or bytes trailing it.
  return result == Z_STREAM_END && s.avail_in == 0;
}

} // namespace vantari
