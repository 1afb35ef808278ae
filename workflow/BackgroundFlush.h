#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace vantari {

// Starts writing files out to disk on a helper thread while the caller goes on unpacking the
// next ones, so that flushing a staged restore overlaps with decompressing it. Only an
// accelerator: the caller still syncs everything itself before relying on it (a file already
// written syncs at once).
class TBackgroundFlush {
public:
  TBackgroundFlush();
  // Waits for what was handed over, then ends the thread.
  ~TBackgroundFlush();
  TBackgroundFlush(const TBackgroundFlush &) = delete;
  TBackgroundFlush &operator=(const TBackgroundFlush &) = delete;

  // Queues a file that is complete; never blocks on the disk. Empty paths are ignored.
  void Add(std::string path);

private:
  void Run();

  std::mutex FLock;
  std::condition_variable FWake;
  std::deque<std::string> FQueue;
  bool FStop = false;
  std::thread FThread;
};

} // namespace vantari
