#pragma once

#include "Stream.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace vantari {

// Writes a member's inflated bytes on a thread of its own, in pieces far larger than a
// block, while the walk inflates the next piece: an extract then uses both cores and makes
// few large writes. A failed write is raised, in the caller's thread, by the next Write or
// by Drain; bytes queued after it are dropped. Without a thread to spare it writes in place.
class TMemberWriter {
public:
  TMemberWriter();
  ~TMemberWriter(); // the piece being written is finished; the rest is dropped
  TMemberWriter(const TMemberWriter &) = delete;
  TMemberWriter &operator=(const TMemberWriter &) = delete;

  // Bytes from now on go to target (the previous one drained or dropped).
  void Start(TStream *target);
  // Queues count bytes; raises the failure of an earlier write.
  void Write(const uint8_t *data, size_t count);
  // Returns once every queued byte is written, or raises the first failure; either way the
  // target is then the caller's alone.
  void Drain();
  // Forgets what is queued and any failure; returns once the target is the caller's alone.
  void Drop();

private:
  void Hand(std::unique_lock<std::mutex> &lock); // the filled piece goes to the thread
  void AwaitIdle(std::unique_lock<std::mutex> &lock);
  void RaiseFailure(std::unique_lock<std::mutex> &lock);
  void Run();

  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<uint8_t> FFilling; // the caller's piece
  std::vector<uint8_t> FWriting; // the thread's piece, while FHanded
  bool FHanded = false;
  bool FStop = false;
  TStream *FTarget = nullptr;
  std::exception_ptr FFailure;
  std::thread FThread; // not joinable: writes happen in place
};

} // namespace vantari
