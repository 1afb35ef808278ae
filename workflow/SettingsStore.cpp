#include "SettingsStore.h"

#include "Exception.h"
#include "FileSystem.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "UserRegistry.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vantari {

namespace {

const char *const SettingsSection = "Server";
const char *const DatabaseKey = "Software\\Corvex\\LumoraBC\\Database";

// The registry value may end in a separator of either platform ("C:\Data\", "/srv/data/").
std::string WithoutTrailingSeparator(std::string folder) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
    folder.pop_back();
  return folder;
}

// A relative folder would depend on where the program was started.
bool IsAbsoluteFolder(const std::string &folder) {
#ifdef _WIN32
  const auto separator = [&](size_t i) { return folder[i] == '\\' || folder[i] == '/'; };
  if (folder.size() >= 2 && separator(0) && separator(1))
    return true; // a share: \\server\name
  return folder.size() >= 3 && std::isalpha(static_cast<unsigned char>(folder[0])) &&
         folder[1] == ':' && separator(2);
#else
  return !folder.empty() && folder.front() == '/';
#endif
}

// A schedule number: more than ten years of days is a typing error, not a wish.
int ScheduleNumber(const char *key, int fallback) {
  const std::string text =
      GetPrivateProfileString("History", key, "", TSettingsStore::SettingsFile());
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0 ||
      value > 4000)
    return fallback;
  return value;
}

} // namespace

std::string TSettingsStore::SettingsFile() {
  return ConfigFolder() + "FtpHost.ini";
}

void TSettingsStore::WriteSetting(const std::string &value, const std::string &key) {
  WritePrivateProfileString(SettingsSection, key, value, SettingsFile());
}

std::string TSettingsStore::ReadSetting(const std::string &key) const {
  return GetPrivateProfileString(SettingsSection, key, key, SettingsFile());
}

THistorySchedule TSettingsStore::ReadHistorySchedule() {
  const THistorySchedule defaults;
  try {
    return {ScheduleNumber("Days", defaults.Days), ScheduleNumber("Weeks", defaults.Weeks),
            ScheduleNumber("Months", defaults.Months)};
  } catch (const Exception &) {
    return defaults; // an unreadable file: the settings' other readers say so
  }
}

void TSettingsStore::ReadDataFolder() {
  FDataFolder.clear();
  FBackupFolder.clear();
  TUserRegistry registry;
  std::string folder;
  if (registry.OpenKey(DatabaseKey, true)) {
    folder = registry.ReadString("DefaultDatabase");
    registry.CloseKey();
  }
  FDataFolder = WithoutTrailingSeparator(folder);
  FBackupFolder = FDataFolder + "/Backup";
}

bool TSettingsStore::HasDataFolder() const {
  return IsAbsoluteFolder(FDataFolder) && DirectoryExists(FDataFolder);
}

std::string TSettingsStore::RemoteArchiveName(const std::string &userID) {
  return userID + ".bck";
}

// An ID such as "../x" would otherwise put the archive into the data folder, where a
// restore would replace it before it is unpacked.
std::string TSettingsStore::LocalArchivePath(const std::string &userID) const {
  std::string name = RemoteArchiveName(userID);
  std::replace(name.begin(), name.end(), '/', '_');
  return FBackupFolder + "/" + name;
}

std::string TSettingsStore::SecondArchivePath(const std::string &configured) {
  if (!configured.empty())
    return configured;
  const std::string beside = ProgramFolder() + "zipcode.bck";
  if (FileExists(beside))
    return beside;
  return ExpandFileName(ProgramFolder() + "../share/vantari/zipcode.bck");
}

} // namespace vantari
