#pragma once

#include <cstdint>
#include <memory>

namespace vantari {

// Inflates blocks, each one whole zlib stream. A sound block is decoded by libdeflate,
// which is faster; a damaged one again by zlib, so that what a damaged block produces
// is exactly what zlib's inflate call gives.
class TBlockInflater {
public:
  TBlockInflater();
  ~TBlockInflater();
  TBlockInflater(const TBlockInflater &) = delete;
  TBlockInflater &operator=(const TBlockInflater &) = delete;

  bool Ready() const { return FReady; }
  // Inflates one block of count bytes into out (capacity bytes). produced receives the
  // bytes written to out, also on failure. True only when the block is exactly one
  // complete zlib stream whose content fits into out.
  bool Inflate(const uint8_t *in, int32_t count, uint8_t *out, int32_t capacity, int32_t &produced);

private:
  bool InflateWithZlib(const uint8_t *in, int32_t count, uint8_t *out, int32_t capacity,
                       int32_t &produced);

  struct TState;
  std::unique_ptr<TState> FState;
  bool FReady = false;
  bool FFresh = true;
};

} // namespace vantari
