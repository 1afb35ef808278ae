#include "BackgroundFlush.h"

#include <fcntl.h>
#include <unistd.h>

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
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      ::fsync(fd); // a failure shows again in the caller's own sync
      ::close(fd);
    }
  }
}

} // namespace vantari
