#include "SettingsFile.h"

#include "DurableFile.h"
#include "Exception.h"
#include "FileSystem.h"

namespace vantari {

namespace {

[[noreturn]] void Refuse(const std::string &path, const char *why) {
  throw Exception(Format("Cannot read %s: %s", path.c_str(), why));
}

} // namespace

bool ReadSettingsFile(const std::string &path, std::string &content, size_t maxBytes) {
  switch (ReadSmallFile(path, maxBytes, content)) {
  case TSmallRead::srRead:
    return true;
  case TSmallRead::srMissing:
    return false;
  case TSmallRead::srLink:
    Refuse(path, "it is a symbolic link, which is not followed");
  case TSmallRead::srNotRegular:
    Refuse(path, "it is not a regular file");
  case TSmallRead::srTooLarge:
    Refuse(path, "it is larger than a settings file can be");
  case TSmallRead::srFailed:
    break;
  }
  Refuse(path, "it cannot be read");
}

void WriteSettingsFile(const std::string &path, const std::string &content, unsigned mode) {
  // A read-only file stays as it is, as it would on the original platform, for root too; a
  // link or a device in its place is not the program's file.
  const int attr = IsSymbolicLink(path) ? faSysFile : FileGetAttr(path);
  const bool replaceable =
      attr == -1 || ((attr & (faDirectory | faSysFile | faReadOnly)) == 0 && IsWritableFile(path));
  if (!replaceable || !ReplaceFileDurably(path, content, mode))
    throw Exception(Format("Unable to write to %s", path.c_str()));
}

bool CreateSettingsFile(const std::string &path, const std::string &content, unsigned mode) {
  return static_cast<bool>(CreateFileDurably(path, content, mode));
}

} // namespace vantari
