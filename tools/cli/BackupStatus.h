#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace vantari {

class TIdFTP;

// How old the backup is: the server's archive (SIZE and MDTM) and the newest change among
// the accounting program's table files here.
struct TServerArchive {
  // The file the last whole archive lies under: the archive's name, or what an upload cut off
  // between its renames left (read through as an archive before it is named here).
  std::string Name;
  bool Exists = false;
  int64_t Size = -1;
  std::optional<std::time_t> Modified; // when the server gives no MDTM
};

struct TLocalData {
  std::optional<std::time_t> Newest; // none: no table file
  std::string NewestFile;
  int Files = 0;
};

class TBackupStatus {
public:
  // Logs in, asks, logs out. Raises on a failed login or a lost connection.
  static TServerArchive QueryServer(TIdFTP &ftp, const std::string &host, const std::string &user,
                                    const std::string &password, const std::string &remoteName);
  // The same over a session already logged in.
  static TServerArchive DescribeArchive(TIdFTP &ftp, const std::string &remoteName);
  static TLocalData ScanDataFolder(const std::string &folder);
  // "20261208113000" or with a fraction (RFC 3659, UTC); empty when it is no such time.
  static std::optional<std::time_t> ParseMdtm(const std::string &text);
  // "2026-12-08 20:30:00", local time.
  static std::string LocalTime(std::time_t time);
};

} // namespace vantari
