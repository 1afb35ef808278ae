#pragma once

#include "ArchiveFormat.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vantari {

class TBlockDeflater;

// One chunk of a source and the block it becomes.
struct TPackedChunk {
  uint8_t Input[archive::kChunkSize];
  uint8_t Output[archive::kChunkSize];
  int32_t Count = 0;  // source bytes in Input
  int32_t Packed = 0; // compressed length in Output; 0: store the chunk; -1: zlib failed
};

// Compresses a batch of chunks on a fixed number of threads (the caller's and threads - 1
// helpers), each with its own deflate state. Every chunk is compressed on its own, so the
// blocks are the same bytes whichever thread made them and however many there are.
// Memory is the batch the caller owns plus one deflate state per thread.
class TPackPipeline {
public:
  TPackPipeline(int level, int threads);
  ~TPackPipeline();
  TPackPipeline(const TPackPipeline &) = delete;
  TPackPipeline &operator=(const TPackPipeline &) = delete;

  bool Ready() const { return FReady; }
  // Compresses chunks[0, count); returns when all are done.
  void Compress(TPackedChunk *chunks, size_t count);

private:
  void Work(size_t helper);
  static void Pack(TBlockDeflater &deflater, TPackedChunk &chunk);

  std::vector<std::unique_ptr<TBlockDeflater>> FDeflaters; // [0] is the caller's
  std::vector<std::thread> FHelpers;
  std::mutex FMutex;
  std::condition_variable FWake;
  std::condition_variable FDone;
  TPackedChunk *FChunks = nullptr;
  size_t FCount = 0;
  uint64_t FGeneration = 0;
  size_t FPending = 0;
  bool FStop = false;
  bool FReady = true;
};

} // namespace vantari
