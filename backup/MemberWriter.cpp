#include "MemberWriter.h"

#include <system_error>

namespace vantari {

namespace {

// The bytes of one write: a few system calls per member instead of one per 16 KiB block.
constexpr size_t kPieceSize = 128 * 1024;

} // namespace

TMemberWriter::TMemberWriter() {
  FFilling.reserve(kPieceSize);
  FWriting.reserve(kPieceSize);
  try {
    FThread = std::thread([this] { Run(); });
  } catch (const std::system_error &) {
    // no thread to spare: Hand writes in place
  }
}

TMemberWriter::~TMemberWriter() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  if (FThread.joinable())
    FThread.join();
}

void TMemberWriter::Start(TStream *target) {
  std::lock_guard<std::mutex> guard(FLock);
  FTarget = target;
  FFilling.clear();
  FFailure = nullptr;
}

void TMemberWriter::Write(const uint8_t *data, size_t count) {
  std::unique_lock<std::mutex> lock(FLock);
  RaiseFailure(lock);
  while (count > 0) {
    const size_t taken = std::min(count, kPieceSize - FFilling.size());
    FFilling.insert(FFilling.end(), data, data + taken);
    data += taken;
    count -= taken;
    if (FFilling.size() == kPieceSize)
      Hand(lock);
  }
}

void TMemberWriter::Drain() {
  std::unique_lock<std::mutex> lock(FLock);
  if (!FFilling.empty())
    Hand(lock);
  AwaitIdle(lock);
  RaiseFailure(lock);
}

void TMemberWriter::Drop() {
  std::unique_lock<std::mutex> lock(FLock);
  AwaitIdle(lock);
  FFilling.clear();
  FFailure = nullptr;
  FTarget = nullptr;
}

void TMemberWriter::Hand(std::unique_lock<std::mutex> &lock) {
  AwaitIdle(lock);
  if (FFailure) {
    FFilling.clear(); // the member is lost already; its rest is not written
    return;
  }
  FFilling.swap(FWriting);
  FFilling.clear();
  FHanded = true;
  if (FThread.joinable()) {
    FChanged.notify_all();
    return;
  }
  lock.unlock();
  try {
    FTarget->WriteBuffer(FWriting.data(), static_cast<int64_t>(FWriting.size()));
  } catch (...) {
    lock.lock();
    FFailure = std::current_exception();
    FHanded = false;
    return;
  }
  lock.lock();
  FHanded = false;
}

void TMemberWriter::AwaitIdle(std::unique_lock<std::mutex> &lock) {
  FChanged.wait(lock, [this] { return !FHanded; });
}

void TMemberWriter::RaiseFailure(std::unique_lock<std::mutex> &lock) {
  if (!FFailure)
    return;
  const std::exception_ptr failure = FFailure;
  FFailure = nullptr;
  FFilling.clear();
  lock.unlock();
  std::rethrow_exception(failure);
}

void TMemberWriter::Run() {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    FChanged.wait(lock, [this] { return FHanded || FStop; });
    if (!FHanded)
      return; // stopped with nothing to write
    TStream *target = FTarget;
    lock.unlock();
    std::exception_ptr failure;
    try {
      target->WriteBuffer(FWriting.data(), static_cast<int64_t>(FWriting.size()));
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    if (failure)
      FFailure = failure;
    FHanded = false;
    FChanged.notify_all();
  }
}

} // namespace vantari
