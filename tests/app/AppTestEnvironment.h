#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace vantari::test {

// A path as the program takes it, UTF-8 (string() gives the ANSI code page on Windows), and a
// path from UTF-8 text.
std::string U8(const std::filesystem::path &path);
std::filesystem::path U8Path(const std::string &text);

// A private home for one test: $XDG_CONFIG_HOME (settings file and registry stand-in) and
// $XDG_STATE_HOME (what this computer saw) point into a fresh temporary folder, $WINEPREFIX at
// a folder that does not exist. On Windows %APPDATA% and %LOCALAPPDATA% are Hangul folders
// there, as a Korean user name makes them.
class TUserHome {
public:
  TUserHome();
  ~TUserHome();
  TUserHome(const TUserHome &) = delete;
  TUserHome &operator=(const TUserHome &) = delete;

  const std::filesystem::path &Root() const { return FRoot; }
#ifdef _WIN32
  std::filesystem::path ConfigFolder() const {
    return FRoot / U8Path("설정") / "Vantari";
  }
  std::filesystem::path StateFolder() const {
    return FRoot / U8Path("로컬 설정") / "Vantari";
  }
#else
  std::filesystem::path ConfigFolder() const {
    return FRoot / "config" / "vantari";
  }
  std::filesystem::path StateFolder() const {
    return FRoot / "state" / "vantari";
  }
#endif
  std::filesystem::path SettingsFile() const {
    return ConfigFolder() / "FtpHost.ini";
  }
  // Writes the registry stand-in with one value line under the accounting program's key,
  // e.g. "\"DefaultDatabase\"=\"/data/\"".
  void WriteRegistry(const std::string &valueLine) const;
  // Points the registry's data folder at folder.
  void SetDataFolder(const std::filesystem::path &folder) const;

private:
  std::filesystem::path FRoot;
};

std::string ReadFile(const std::filesystem::path &path);
void WriteFile(const std::filesystem::path &path, const std::string &content);
// Bytes that do not compress, as encrypted tables are; the same for the same seed.
std::string Noise(size_t size, unsigned seed);

using TContents = std::map<std::string, std::string>; // file name -> bytes
// The plain files directly in folder.
TContents Contents(const std::filesystem::path &folder);

} // namespace vantari::test
