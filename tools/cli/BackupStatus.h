#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace vantari {

// How old the backup is: the newest change among the accounting program's table files here
// (the server's side comes from the workflow's session).
struct TLocalData {
  std::optional<std::time_t> Newest; // none: no table file
  std::string NewestFile;
  int Files = 0;
};

class TBackupStatus {
public:
  static TLocalData ScanDataFolder(const std::string &folder);
  // "20261208113000" or with a fraction (RFC 3659, UTC); empty when it is no such time.
  static std::optional<std::time_t> ParseMdtm(const std::string &text);
  // "2026-12-08 20:30:00", local time.
  static std::string LocalTime(std::time_t time);
};

} // namespace vantari
