#pragma once

#include <cstdint>
#include <memory>

namespace vantari {

enum TCompressionLevel : uint8_t;

// One compressor for a whole run, used for chunk after chunk: each block is an independent
// zlib stream (deflate, 32 KiB window, the zlib wrapper with its Adler-32), whatever
// library the build chose to write it (libdeflate, or zlib where libdeflate is missing).
// Not shared between threads: a pipeline gives each thread its own.
class TBlockDeflater {
public:
  // level is the library's own (see LibraryLevel).
  explicit TBlockDeflater(int level);
  ~TBlockDeflater();
  TBlockDeflater(const TBlockDeflater &) = delete;
  TBlockDeflater &operator=(const TBlockDeflater &) = delete;

  // False when the library could not set up its state.
  bool Ready() const { return FReady; }
  // Compresses count bytes into out (capacity bytes) as one complete stream. Returns the
  // stream length, 0 when the stream does not fit (the chunk is then stored), -1 on a
  // library failure.
  int32_t Compress(const uint8_t *in, int32_t count, uint8_t *out, int32_t capacity);
  // The library level a TCompressionLevel stands for in this build.
  static int LibraryLevel(TCompressionLevel level);
  // The library that writes the blocks in this build: "libdeflate" or "zlib".
  static const char *LibraryName();

private:
  struct TState;
  std::unique_ptr<TState> FState;
  bool FReady = false;
};

} // namespace vantari
