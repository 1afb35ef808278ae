#pragma once

#include "Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vantari {

class TArchiveReader;
class TBlockInflater;

struct TArchiveMember {
  std::string Name; // as stored (CP949)
  int32_t FileDate = 0;
  int64_t Size = 0; // decoded content length over all its segments
};

// A read-only walk over a whole archive that meets everything a restore would meet:
// header, records, magics, block bounds, every compressed block inflating to one whole
// stream within 16384 bytes, the volume chain and the end marker. Nothing is written and
// nothing is raised: a damaged archive gives false and a description in Failure().
class TArchiveWalk {
public:
  TArchiveWalk();
  ~TArchiveWalk();
  TArchiveWalk(const TArchiveWalk &) = delete;
  TArchiveWalk &operator=(const TArchiveWalk &) = delete;

  // The archive whose first volume is path; later volumes must be present beside it.
  bool Run(const std::string &path);
  // A single-volume archive from the stream's current position; the stream is left where
  // it was found.
  bool Run(TStream &source);

  // Raised for every member once its last segment has been walked.
  std::function<void(const TArchiveMember &)> OnMember;

  const std::string &Failure() const { return FFailure; }
  const std::string &Title() const { return FTitle; }
  int32_t TotalSize() const { return FTotalSize; }
  int32_t FileCount() const { return FFileCount; }
  int Volumes() const { return FVolumes; }

private:
  bool Walk(TStream &first);
  int32_t ReadInt32(const char *missing);
  void ReadHeader();
  void ReadRecords();
  void ReadSegment();
  void NextVolume(const std::string &name);
  void EndMember();
  [[noreturn]] void Damaged(const std::string &what);

  std::string FPath; // first volume, empty for a stream
  std::string FVolumePath;
  std::unique_ptr<TStream> FVolume;
  std::unique_ptr<TArchiveReader> FReader;
  std::unique_ptr<TBlockInflater> FInflater;
  std::unique_ptr<TArchiveMember> FMember;
  std::string FFailure;
  std::string FTitle;
  int32_t FTotalSize = 0;
  int32_t FFileCount = 0;
  int FVolumes = 0;
};

} // namespace vantari
