#pragma once

#include "ServerHistory.h"

#include <string>

namespace vantari {

// What the client keeps between runs: sections "Server" and "History" of FtpHost.ini in the
// per-user config folder (host, user ID, password), the accounting program's data folder from the
// per-user registry, and the places of the archives derived from them.
class TSettingsStore {
public:
  static std::string SettingsFile();

  void WriteSetting(const std::string &value, const std::string &key);
  // The key's own name when the file or the key is missing.
  std::string ReadSetting(const std::string &key) const;

  // Section "History" of FtpHost.ini: Days, Weeks, Months (whole numbers from 0); a key that
  // is missing or not such a number has its default (7, 4, 6).
  static THistorySchedule ReadHistorySchedule();

  // Reads the data folder from the registry (one trailing separator of either kind dropped);
  // the Backup folder lies inside it.
  void ReadDataFolder();
  const std::string &DataFolder() const { return FDataFolder; }
  const std::string &BackupFolder() const { return FBackupFolder; }
  // An absolute path to a folder that exists.
  bool HasDataFolder() const;

  // "<user ID>.bck", the archive's name on the server.
  static std::string RemoteArchiveName(const std::string &userID);
  // The archive's place in the Backup folder: the user ID names a file, never a folder.
  std::string LocalArchivePath(const std::string &userID) const;
  // zipcode.bck: the configured one, else beside the program, else in the installed data folder.
  static std::string SecondArchivePath(const std::string &configured);

private:
  std::string FDataFolder;
  std::string FBackupFolder;
};

} // namespace vantari
