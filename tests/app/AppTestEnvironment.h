#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace vantari::test {

// A path as the program takes it, UTF-8 (string() gives the ANSI code page on Windows), and a
// path from UTF-8 text.
std::string U8(const std::filesystem::path &path);
std::filesystem::path U8Path(const std::string &text);

// A private home for one test: $XDG_CONFIG_HOME points into a fresh temporary folder
// (settings file and registry stand-in), $WINEPREFIX at a folder that does not exist.
class TUserHome {
public:
  TUserHome();
  ~TUserHome();
  TUserHome(const TUserHome &) = delete;
  TUserHome &operator=(const TUserHome &) = delete;

  const std::filesystem::path &Root() const { return FRoot; }
#ifdef _WIN32 // %APPDATA%\Vantari, %APPDATA% in Hangul as a Korean user name makes it
  std::filesystem::path ConfigFolder() const {
    return FRoot / U8Path("설정") / "Vantari";
  }
#else
  std::filesystem::path ConfigFolder() const {
    return FRoot / "config" / "vantari";
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

using TContents = std::map<std::string, std::string>; // file name -> bytes
// The plain files directly in folder.
TContents Contents(const std::filesystem::path &folder);

} // namespace vantari::test
