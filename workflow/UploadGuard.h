#pragma once

#include "SyncState.h"

#include <string>
#include <vector>

namespace vantari {

// The limits the guard works with, chosen from measured table files (bench/workflow/
// guard_bench): record tables store 8-13 % (bench corpus) or 43-50 % (demo data) of their size,
// random bytes 100.0-100.3 % (blocks that do not shrink are stored as they are); a year-end
// clean-up that drops two thirds of every table leaves a third of the folder.
struct TGuardLimits {
  int64_t SmallFile = 4096;     // files below this, before, are not weighed: too few blocks
  double CompressedWell = 0.80; // a stored share at or below this compressed well
  double Incompressible = 0.97; // a stored share at or above this does not compress
  double ShrunkTo = 0.20;       // a data folder below this share of its size has shrunk
};

// What the guard concludes about the data about to replace the server's backup.
struct TGuardVerdict {
  bool Suspicious = false;
  std::vector<std::string> Tables; // the files that look damaged, gone or emptied
};

// Compares the table files of the last successful upload with those just packed. A file looks
// damaged when it compressed well and now does not compress at all (encrypted data does not),
// or when it is gone (a rename that adds an extension looks so too). Suspicious when most of
// the weighed files, or most of their bytes, look damaged, or when the data folder shrank below
// ShrunkTo of its size. Nothing known before is never suspicious. Pure.
TGuardVerdict WeighUpload(const std::vector<TTableStat> &previous,
                          const std::vector<TTableStat> &current, const TGuardLimits &limits = {});

// The table files of an archive just packed: names and sizes as the engine met them.
struct TPackedMember;
std::vector<TTableStat> TableStatsOf(const std::vector<TPackedMember> &members);

} // namespace vantari
