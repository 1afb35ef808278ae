#include "ArchivePreview.h"

#include "BackupFile.h"
#include "Cp949.h"
#include "DataTables.h"
#include "DosDate.h"
#include "FileSystem.h"
#include "Stream.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace vantari {

namespace {

// Longer titles are not believed; a real one is a short line of text.
constexpr int32_t MaxTitleBytes = 4096;

} // namespace

std::string TArchivePreview::ReadTitle(const std::string &path) {
  TFileStream file(path, fmOpenRead);
  uint8_t length[4];
  file.ReadBuffer(length, sizeof length);
  const int32_t bytes = static_cast<int32_t>(length[0] | length[1] << 8 | length[2] << 16 |
                                             static_cast<uint32_t>(length[3]) << 24);
  if (bytes < 0 || bytes > MaxTitleBytes)
    return std::string();
  std::string title(static_cast<size_t>(bytes), '\0');
  file.ReadBuffer(title.data(), bytes);
  return Cp949ToUtf8(title);
}

void TArchivePreview::Add(const std::string &storedName, int32_t date) {
  if (MemberCount == 0 || FileDateBefore(NewestMemberDate, date))
    NewestMemberDate = date;
  ++MemberCount;
  MemberNames.push_back(ExtractFileName(storedName));
  if (IsDataTableFile(MemberNames.back()))
    HasTables = true;
}

bool SameNameIgnoringCase(const std::string &a, const std::string &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

TArchivePreview TArchivePreview::Read(const std::string &path) {
  TArchivePreview preview;
  if (!FileExists(path))
    return preview;
  // A restore that writes nothing: every member is stepped over by its block lengths.
  TBackupFile walker;
  walker.SetRestoreMode(rmAll);
  walker.SetRestoreFullPath(false);
  walker.OnRestoreFile = [&](TBackupFile &, std::string &file, int32_t date, bool &restore) {
    restore = false;
    preview.Add(file, date);
  };
  walker.OnNeedDisk = [&](TBackupFile &, uint16_t disk, bool &go) {
    char digits[8];
    std::snprintf(digits, sizeof digits, ".%03u", static_cast<unsigned>(disk));
    go = FileExists(ChangeFileExt(path, digits));
  };
  walker.OnError = [](TBackupFile &, int32_t, const std::string &) {};
  try {
    preview.Title = ReadTitle(path);
    preview.Readable = walker.Restore(path, GetTempDir());
  } catch (const Exception &) {
    preview.Readable = false;
  }
  return preview;
}

bool TablesNewerThan(const std::string &folder, int32_t fileDate) {
  for (const TSearchRec &entry : FindFiles(folder + "/*.*", 0))
    if (IsDataTableFile(entry.Name) && FileDateBefore(fileDate, entry.Time))
      return true;
  return false;
}

int TablesMissingFrom(const std::string &folder, const std::vector<std::string> &memberNames) {
  int missing = 0;
  for (const TSearchRec &entry : FindFiles(folder + "/*.*", 0))
    if (IsDataTableFile(entry.Name) &&
        std::none_of(memberNames.begin(), memberNames.end(), [&](const std::string &member) {
          return SameNameIgnoringCase(member, entry.Name);
        }))
      ++missing;
  return missing;
}

} // namespace vantari
