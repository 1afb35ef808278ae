#include "BackgroundFlush.h"

#include "FolderOps.h"

namespace vantari {

TBackgroundFlush::TBackgroundFlush() : FThread([this] { Run(); }) {}

TBackgroundFlush::~TBackgroundFlush() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStop = true;
  }
  FWake.notify_one();
  FThread.join();
}

void TBackgroundFlush::Add(std::string path) {
  if (path.empty())
    return;
  {
    std::lock_guard<std::mutex> lock(FLock);
    FQueue.push_back(std::move(path));
  }
  FWake.notify_one();
}

void TBackgroundFlush::Run() {
  for (;;) {
    std::string path;
    {
      std::unique_lock<std::mutex> lock(FLock);
      FWake.wait(lock, [this] { return FStop || !FQueue.empty(); });
      if (FQueue.empty())
        return; // stopped, and everything handed over is done
      path = std::move(FQueue.front());
      FQueue.pop_front();
    }
    // Only starts the write-out: the caller's fsync afterwards finds the data on disk, and one
    // commit of the file system's journal covers every file instead of one commit per file.
    StartWriteBack(path); // a failure shows in the caller's sync
  }
}

} // namespace vantari
