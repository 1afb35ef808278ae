#include "PackPipeline.h"

#include "BlockDeflater.h"

namespace vantari {

namespace {
// Slots per thread: enough that a helper always finds a chunk queued while the caller reads
// and writes, few enough to keep memory flat (a slot is 32 KiB).
constexpr size_t kSlotsPerThread = 4;
} // namespace

TPackPipeline::TPackPipeline(int level, int threads) {
  const size_t count = threads < 1 ? 1 : static_cast<size_t>(threads);
  for (size_t i = 0; i < count; ++i) {
    FDeflaters.push_back(std::make_unique<TBlockDeflater>(level));
    FReady = FReady && FDeflaters.back()->Ready();
  }
  FRing = std::vector<TSlot>(kSlotsPerThread * count);
  // Without a compressor for each, helpers would only fail chunks: the caller fails them all.
  if (!FReady)
    return;
  for (size_t i = 1; i < count; ++i)
    FHelpers.emplace_back([this, i] { Work(i); });
}

TPackPipeline::~TPackPipeline() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FStop = true;
  }
  FWake.notify_all();
  for (auto &helper : FHelpers)
    helper.join();
}

TPackedChunk *TPackPipeline::Free() {
  return FSubmitted - FTaken < FRing.size() ? &At(FSubmitted).Chunk : nullptr;
}

void TPackPipeline::Submit() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    At(FSubmitted).State = ssQueued;
    ++FSubmitted;
  }
  FWake.notify_one();
}

TPackPipeline::TSlot *TPackPipeline::ClaimQueued() {
  if (FNextQueued == FSubmitted)
    return nullptr;
  TSlot &slot = At(FNextQueued++);
  slot.State = ssPacking;
  return &slot;
}

// Compresses a claimed slot outside the lock and marks it packed.
void TPackPipeline::Pack(TBlockDeflater &deflater, TSlot &slot) {
  TPackedChunk &chunk = slot.Chunk;
  chunk.Packed = deflater.Compress(chunk.Input, chunk.Count, chunk.Output, archive::kChunkSize);
  {
    std::lock_guard<std::mutex> lock(FMutex);
    slot.State = ssPacked;
  }
  FPacked.notify_all();
}

TPackedChunk &TPackPipeline::Oldest() {
  TSlot &oldest = At(FTaken);
  std::unique_lock<std::mutex> lock(FMutex);
  while (oldest.State != ssPacked) {
    if (TSlot *queued = ClaimQueued()) {
      lock.unlock();
      Pack(*FDeflaters[0], *queued);
      lock.lock();
    } else {
      FPacked.wait(lock);
    }
  }
  return oldest.Chunk;
}

void TPackPipeline::Release() {
  std::lock_guard<std::mutex> lock(FMutex);
  At(FTaken).State = ssFree;
  ++FTaken;
}

void TPackPipeline::Discard() {
  std::unique_lock<std::mutex> lock(FMutex);
  FNextQueued = FSubmitted; // what no thread has claimed is never packed
  FPacked.wait(lock, [this] {
    for (const auto &slot : FRing)
      if (slot.State == ssPacking)
        return false;
    return true;
  });
  for (auto &slot : FRing)
    slot.State = ssFree;
  FTaken = FSubmitted;
}

void TPackPipeline::Work(size_t helper) {
  for (;;) {
    TSlot *slot = nullptr;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FWake.wait(lock, [this] { return FStop || FNextQueued != FSubmitted; });
      if (FStop)
        return;
      slot = ClaimQueued();
    }
    Pack(*FDeflaters[helper], *slot);
  }
}

} // namespace vantari
