#include "PackPipeline.h"

#include "BlockDeflater.h"

namespace vantari {

TPackPipeline::TPackPipeline(int level, int threads) {
  const size_t count = threads < 1 ? 1 : static_cast<size_t>(threads);
  for (size_t i = 0; i < count; ++i) {
    FDeflaters.push_back(std::make_unique<TBlockDeflater>(level));
    FReady = FReady && FDeflaters.back()->Ready();
  }
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

void TPackPipeline::Pack(TBlockDeflater &deflater, TPackedChunk &chunk) {
  chunk.Packed = deflater.Compress(chunk.Input, chunk.Count, chunk.Output, archive::kChunkSize);
}

// Thread t of n packs chunks t, t + n, t + 2n, ... of each batch.
void TPackPipeline::Compress(TPackedChunk *chunks, size_t count) {
  const size_t threads = FDeflaters.size();
  // Without helpers (a state that could not be set up) every chunk is the caller's: none may
  // keep what an earlier batch left in it.
  if (threads == 1 || count < 2 || FHelpers.empty()) {
    for (size_t i = 0; i < count; ++i)
      Pack(*FDeflaters[0], chunks[i]);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FChunks = chunks;
    FCount = count;
    FPending = FHelpers.size();
    ++FGeneration;
  }
  FWake.notify_all();
  for (size_t i = 0; i < count; i += threads)
    Pack(*FDeflaters[0], chunks[i]);
  std::unique_lock<std::mutex> lock(FMutex);
  FDone.wait(lock, [this] { return FPending == 0; });
}

void TPackPipeline::Work(size_t helper) {
  uint64_t seen = 0;
  const size_t threads = FDeflaters.size();
  for (;;) {
    TPackedChunk *chunks = nullptr;
    size_t count = 0;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FWake.wait(lock, [&] { return FStop || FGeneration != seen; });
      if (FStop)
        return;
      seen = FGeneration;
      chunks = FChunks;
      count = FCount;
    }
    for (size_t i = helper; i < count; i += threads)
      Pack(*FDeflaters[helper], chunks[i]);
    {
      std::lock_guard<std::mutex> lock(FMutex);
      --FPending;
    }
    FDone.notify_one();
  }
}

} // namespace vantari
