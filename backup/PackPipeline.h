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
  int32_t Packed = 0; // compressed length in Output; 0: store the chunk; -1: compression failed
};

// A ring of chunks in flight between the reader and the writer, both on the caller's thread:
// the caller reads a chunk into Free(), submits it, and takes packed chunks back in the order
// they were submitted with Oldest(); helper threads compress what is queued meanwhile, and the
// caller compresses the next queued chunk itself rather than wait. Every chunk is compressed on
// its own, so the blocks are the same bytes whichever thread made them and however many there
// are. Memory is the ring (two chunk buffers per slot) and one compressor per thread.
class TPackPipeline {
public:
  // threads counts the caller: threads - 1 helpers are started.
  TPackPipeline(int level, int threads);
  ~TPackPipeline();
  TPackPipeline(const TPackPipeline &) = delete;
  TPackPipeline &operator=(const TPackPipeline &) = delete;

  // False when a compressor could not be set up; every chunk then fails (Packed -1).
  bool Ready() const { return FReady; }
  // The slot to read the next chunk into, or nullptr when the ring is full.
  TPackedChunk *Free();
  // Queues the chunk last given by Free for compression.
  void Submit();
  // True when no submitted chunk is waiting to be taken.
  bool Empty() const { return FTaken == FSubmitted; }
  // The oldest submitted chunk, packed; blocks until it is. The ring must not be empty.
  TPackedChunk &Oldest();
  // The oldest chunk was written: its slot is free again.
  void Release();
  // Drops every chunk in flight (a run that stops), waiting for helpers still packing one.
  void Discard();

private:
  enum TSlotState : uint8_t { ssFree, ssQueued, ssPacking, ssPacked };
  struct TSlot {
    TPackedChunk Chunk;
    TSlotState State = ssFree;
  };

  void Work(size_t helper);
  // Claims the oldest queued chunk under the lock; nullptr when none is queued.
  TSlot *ClaimQueued();
  void Pack(TBlockDeflater &deflater, TSlot &slot);
  TSlot &At(uint64_t sequence) { return FRing[sequence % FRing.size()]; }

  std::vector<std::unique_ptr<TBlockDeflater>> FDeflaters; // [0] is the caller's
  std::vector<TSlot> FRing;
  std::vector<std::thread> FHelpers;
  std::mutex FMutex;
  std::condition_variable FWake;   // a chunk was queued, or the pipeline stops
  std::condition_variable FPacked; // a chunk was packed
  uint64_t FTaken = 0;             // chunks released
  uint64_t FSubmitted = 0;         // chunks submitted
  uint64_t FNextQueued = 0;        // the oldest chunk not yet claimed by a thread
  bool FStop = false;
  bool FReady = true;
};

} // namespace vantari
