#pragma once

#include "BackupFile.h"
#include "Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vantari {

class TArchiveReader;
class TBlockInflater;

// What a consumer of the archive walk is told, in archive order. Restoring, verifying and
// listing are consumers; the walk is the only code that reads the format.
class TArchiveConsumer {
public:
  virtual ~TArchiveConsumer() = default;

  virtual void Header(const std::string &title, int32_t totalSize, int32_t fileCount) {
    (void)title, (void)totalSize, (void)fileCount;
  }
  // A member record. True when its blocks are wanted (inflated and handed to Block); false
  // steps over them by their lengths.
  virtual bool Member(const std::string &name, int32_t fileDate) = 0;
  // One block of the current member: its decoded bytes when wanted, else data is null
  // and count the stored length. Also called with the bytes a damaged block produced,
  // just before the walk raises afInflate.
  virtual void Block(const uint8_t *data, int32_t count) { (void)data, (void)count; }
  // The terminator of one segment of the current member.
  virtual void SegmentEnd() {}
  // The current member has no further segment (the next record or the end marker came).
  virtual void MemberEnd() {}
  // The archive continues in volume disk at path (already checked to be a later volume
  // than the current one). True to go on (the walk then requires the file), false to
  // stop the walk quietly.
  virtual bool NextVolume(uint16_t disk, const std::string &path) {
    (void)disk, (void)path;
    return true;
  }
  // Polled before every record and every block; false stops the walk quietly.
  virtual bool Continue() { return true; }
};

// The archive format reader. Walks an archive strictly front to back, following the
// volume chain (only to strictly increasing volume numbers), checking every length
// against the data left before using it; damage raises EArchiveFault.
class TArchiveWalk {
public:
  TArchiveWalk();
  ~TArchiveWalk();
  TArchiveWalk(const TArchiveWalk &) = delete;
  TArchiveWalk &operator=(const TArchiveWalk &) = delete;

  // Walks the archive whose first volume is open as first, from its current position.
  // path names that first volume (later volumes are found beside it); an empty path
  // means a single-volume stream, which is left positioned just after the last field
  // read. True when the end marker was reached, false when the consumer stopped the walk.
  bool Read(TStream &first, const std::string &path, TArchiveConsumer &consumer);

  // Verification: everything a restore would meet, every block inflated; never raises
  // for damage (false, and a description in Failure()). Later volumes must be present.
  bool Run(const std::string &path);
  // The same over a single-volume stream, which is left where it was found.
  bool Run(TStream &source);
  // Raised by Run for every member once its last segment has been walked.
  std::function<void(const TArchiveMember &)> OnMember;
  // Run steps over blocks instead of inflating them (member sizes are then 0).
  bool SkipContent = false;

  const std::string &Failure() const { return FFailure; }
  TArchiveFault Fault() const { return FFault; }
  const std::string &Title() const { return FTitle; }
  int32_t TotalSize() const { return FTotalSize; }
  int32_t FileCount() const { return FFileCount; }
  int Volumes() const { return FVolumes; }

private:
  class TVerifier;

  int32_t ReadInt32(const char *missing);
  void ReadHeader();
  bool ReadRecords();
  bool ReadSegment(bool wanted);
  bool NextVolume(const std::string &name);
  bool RunChecked(TStream &first, const std::string &path);
  [[noreturn]] void Damaged(TArchiveFault fault, const std::string &what);

  TArchiveConsumer *FConsumer = nullptr;
  std::string FVolumePath; // empty for a stream
  unsigned FVolumeNumber = 1;
  std::unique_ptr<TStream> FVolume; // a later volume this walk opened
  std::unique_ptr<TArchiveReader> FReader;
  std::unique_ptr<TBlockInflater> FInflater;
  bool FInMember = false;
  bool FWanted = false;
  std::string FFailure;
  TArchiveFault FFault = afNone;
  std::string FTitle;
  int32_t FTotalSize = 0;
  int32_t FFileCount = 0;
  int FVolumes = 0;
};

} // namespace vantari
