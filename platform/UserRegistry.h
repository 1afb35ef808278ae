#pragma once

#include <string>

namespace vantari {

// The per-user registry: a file in the Wine registry text format, ConfigFolder() + "user.reg",
// holding the current user's keys (paths like "Software\Corvex\LumoraBC\Database", compared
// case-insensitively). When a value is missing there and a Wine prefix exists ($WINEPREFIX, else
// ~/.wine), it is read from that prefix's user.reg, which is never written; a drive path found
// there ("C:\Data\") is given as the Linux path the prefix's dosdevices links map it to.
// On Windows it is the real HKEY_CURRENT_USER; the stand-in file and the prefix play no part.
class TUserRegistry {
public:
  // The user's own stand-in and Wine prefix.
  TUserRegistry();
  // An explicit stand-in file and Wine prefix folder (empty: none).
  TUserRegistry(std::string fileName, std::string winePrefix);

  // Opens key; when it is missing and canCreate is true it opens all the same (without values).
  // An existing file is never rewritten for it; only a missing file is created (mode 0600),
  // where it can be.
  // False when the key is missing and canCreate is false. Like every read here, raises
  // Exception("Cannot read <path>: <why>") when the stand-in is a symbolic link, not a regular
  // file, or over 1 MB.
  bool OpenKey(const std::string &key, bool canCreate);
  void CloseKey();
  bool ValueExists(const std::string &name) const;
  // The text of a string ("...") or expandable string (str(2):"...") value of the open key;
  // empty when the key is not open or the value is missing. Any other type raises
  // Exception("Invalid data type for '<name>'").
  std::string ReadString(const std::string &name) const;

  const std::string &FileName() const { return FFileName; }
  const std::string &WinePrefix() const { return FWinePrefix; }

private:
  std::string FFileName;
  std::string FWinePrefix;
  std::string FCurrentKey;
};

} // namespace vantari
