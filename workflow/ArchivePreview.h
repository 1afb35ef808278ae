#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantari {

// What an archive holds, read before anything is restored from it: every record and block
// bound is walked, but no block is decompressed, so it costs little beside the restore.
struct TArchivePreview {
  bool Readable = false;                // the walk reached the end marker
  std::string Title;                    // UTF-8
  int32_t MemberCount = 0;              // members a restore would write
  int32_t NewestMemberDate = 0;         // MS-DOS date of the newest of them; 0 without members
  bool HasTables = false;               // at least one of them is an accounting table
  std::vector<std::string> MemberNames; // bare names, as a restore would write them

  // Counts one member a restore writes (its stored name and MS-DOS date).
  void Add(const std::string &storedName, int32_t date);
  // The archive's title, UTF-8; empty when it is not believable, raises when unreadable.
  static std::string ReadTitle(const std::string &path);
  // Reads a single-volume archive, or one whose later volumes lie beside it; never asks
  // for a volume, never raises for damage.
  static TArchivePreview Read(const std::string &path);
};

// Whether a table file directly in folder was last written after fileDate (MS-DOS dates,
// compared as the archive compares them).
bool TablesNewerThan(const std::string &folder, int32_t fileDate);

// Whether two file names are the same without regard to the case of Latin letters, as the
// file systems of Windows compare them.
bool SameNameIgnoringCase(const std::string &a, const std::string &b);

// How many table files directly in folder have no member of that name, without regard to case:
// the tables a restore of the archive would take out of the folder.
int TablesMissingFrom(const std::string &folder, const std::vector<std::string> &memberNames);

} // namespace vantari
