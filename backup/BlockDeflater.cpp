#include "BlockDeflater.h"

#include "BackupFile.h"

#if VANTARI_DEFLATE_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

namespace vantari {

#if VANTARI_DEFLATE_LIBDEFLATE

namespace {
// Indexed by TCompressionLevel. Measured per 16 KiB block on the accounting-shaped corpus
// (bench/backup/levels.sh): each level is both smaller and faster than zlib's of the same
// number (1 is 7% smaller than zlib's 1 at about twice its speed). Beyond 9 the archive
// shrinks by under 2% for many times the time, which a slow uplink never earns back.
constexpr int kLevels[] = {1, 0, 6, 9};
} // namespace

struct TBlockDeflater::TState {
  libdeflate_compressor *Compressor = nullptr;
  ~TState() {
    if (Compressor)
      libdeflate_free_compressor(Compressor);
  }
};

TBlockDeflater::TBlockDeflater(int level) : FState(std::make_unique<TState>()) {
  FState->Compressor = libdeflate_alloc_compressor(level);
  FReady = FState->Compressor != nullptr;
}

TBlockDeflater::~TBlockDeflater() = default;

int32_t TBlockDeflater::Compress(const uint8_t *in, int32_t count, uint8_t *out, int32_t capacity) {
  if (!FReady)
    return -1;
  // 0 means the stream did not fit: the chunk is stored.
  return static_cast<int32_t>(libdeflate_zlib_compress(
      FState->Compressor, in, static_cast<size_t>(count), out, static_cast<size_t>(capacity)));
}

const char *TBlockDeflater::LibraryName() {
  return "libdeflate";
}

#else

namespace {
constexpr int kLevels[] = {1, 0, -1, 9}; // indexed by TCompressionLevel
// The version the archive format was defined with; zlib accepts any 1.x request.
constexpr const char *kZlibVersion = "1.1.3";
} // namespace

// One deflate state reset per chunk writes what a fresh state writes, without allocating
// and freeing it per chunk.
struct TBlockDeflater::TState {
  z_stream Stream{};
  bool Fresh = true;
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
  if (!FReady || (!FState->Fresh && deflateReset(&s) != Z_OK))
    return -1;
  FState->Fresh = false;
  s.next_in = const_cast<Bytef *>(in);
  s.avail_in = static_cast<uInt>(count);
  s.next_out = out;
  s.avail_out = static_cast<uInt>(capacity);
  const int result = deflate(&s, Z_FINISH);
  if (result == Z_STREAM_END)
    return capacity - static_cast<int32_t>(s.avail_out);
  return (result == Z_OK || result == Z_BUF_ERROR) ? 0 : -1;
}

const char *TBlockDeflater::LibraryName() {
  return "zlib";
}

#endif

int TBlockDeflater::LibraryLevel(TCompressionLevel level) {
  return kLevels[level & 3];
}

} // namespace vantari
