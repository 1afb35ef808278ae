#pragma once

#include <cstdint>
#include <memory>

namespace vantari {

// One zlib deflate state for a whole run, reset before every chunk: each block is an
// independent zlib stream, byte for byte what a fresh state would write, without the
// cost of allocating and freeing the state per chunk.
class TBlockDeflater {
public:
  // level is a zlib level (0 to 9, or -1 for the library default).
  explicit TBlockDeflater(int level);
  ~TBlockDeflater();
  TBlockDeflater(const TBlockDeflater &) = delete;
  TBlockDeflater &operator=(const TBlockDeflater &) = delete;

  // False when zlib could not set up the state.
  bool Ready() const { return FReady; }
  // Compresses count bytes into out (capacity bytes) as one complete stream. Returns the
  // stream length, 0 when the stream does not fit (the chunk is then stored), -1 on a
  // zlib failure.
  int32_t Compress(const uint8_t *in, int32_t count, uint8_t *out, int32_t capacity);

private:
  struct TState;
  std::unique_ptr<TState> FState;
  bool FReady = false;
  bool FFresh = true;
};

} // namespace vantari
