#pragma once

#include <cstdint>
#include <string>

namespace vantari {

// What an archive holds, read before anything is restored from it: every record and block
// bound is walked, but no block is decompressed, so it costs little beside the restore.
struct TArchivePreview {
  bool Readable = false;        // the walk reached the end marker
  std::string Title;            // UTF-8
  int32_t MemberCount = 0;      // members a restore would write
  int32_t NewestMemberDate = 0; // MS-DOS date of the newest of them; 0 without members
  bool HasTables = false;       // at least one of them is an accounting table

  // Reads a single-volume archive, or one whose later volumes lie beside it; never asks
  // for a volume, never raises for damage.
  static TArchivePreview Read(const std::string &path);
};

// Whether a table file directly in folder was last written after fileDate (MS-DOS dates,
// compared as the archive compares them).
bool TablesNewerThan(const std::string &folder, int32_t fileDate);

} // namespace vantari
