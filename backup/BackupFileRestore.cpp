// The restore side of TBackupFile: a consumer of the archive walk that writes members.
#include "BackupFile.h"

#include "ArchiveFormat.h"
#include "ArchiveWalk.h"
#include "Cp949.h"
#include "DosDate.h"
#include "FileSystem.h"
#include "HostUI.h"
#include "MemberWriter.h"
#include "TargetFolder.h"

#include <algorithm>
#include <cctype>

namespace vantari {

using namespace archive;

namespace {

// The parts of a relative '/' path; false when it would leave the folder it is taken
// from or names no file.
bool SplitInside(const std::string &path, std::vector<std::string> &parts) {
  parts.clear();
  if (path.find('\0') != std::string::npos)
    return false;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find('/', start);
    const std::string part =
        path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part == "..")
      return false;
    if (!part.empty() && part != ".")
      parts.push_back(part);
    if (end == std::string::npos)
      return !part.empty() && part != ".";
    start = end + 1;
  }
}

std::string ToLocalPath(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return Cp949ToUtf8(name);
}

bool HasDrive(const std::string &name) {
  return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
}

// The stored folder of a member: its name up to the last separator. Only a drive's colon
// counts besides '\' and '/': Windows never writes another, and a Linux name may hold one.
std::string StoredFolder(const std::string &name) {
  const size_t cut = name.find_last_of("\\/");
  if (cut != std::string::npos)
    return name.substr(0, cut + 1);
  return HasDrive(name) ? name.substr(0, 2) : std::string();
}

std::string JoinPath(const std::string &base, const std::vector<std::string> &parts) {
  std::string path = base == "." ? std::string() : IncludeTrailingPathDelimiter(base);
  for (size_t i = 0; i < parts.size(); ++i)
    path += (i ? "/" : "") + parts[i];
  return path;
}

} // namespace

// Hands the walk's events to the engine.
class TBackupFile::TRestorer : public TArchiveConsumer {
public:
  explicit TRestorer(TBackupFile &owner) : FOwner(owner) {}

  void Header(const std::string &, int32_t totalSize, int32_t fileCount) override {
    FOwner.FTotalSize = totalSize;
    FOwner.FFileCount = fileCount;
    FOwner.FBytesProcessed = 0;
  }
  bool Member(const std::string &name, int32_t fileDate) override {
    FOwner.RestoreMember(name, fileDate);
    return FOwner.FOutput != nullptr;
  }
  void Block(const uint8_t *data, int32_t count) override {
    if (data && FOwner.FOutput)
      FOwner.WriteOutput(data, count);
    HostUI().ProcessMessages();
    if (FOwner.FDoRestore)
      FOwner.RaiseProgress(FOwner.FCurrentFile, FOwner.PercentDone());
  }
  void SegmentEnd() override {
    HostUI().ProcessMessages();
    if (FOwner.FDoRestore) {
      FOwner.RaiseProgress(FOwner.FCurrentFile, FOwner.PercentDone());
      FOwner.SegmentWritten();
    }
  }
  void MemberEnd() override { FOwner.CommitOutput(); }
  bool NextVolume(uint16_t disk, const std::string &path) override {
    return FOwner.NextRestoreVolume(disk, path);
  }
  bool Continue() override { return FOwner.FContinue; }

private:
  TBackupFile &FOwner;
};

bool TBackupFile::Restore(const std::string &ArchivePath, const std::string &DestFolder) {
  TRunScope scope(*this);
  FDest = DestFolder.empty() ? std::string() : IncludeTrailingPathDelimiter(DestFolder);
  FStreamMode = ArchivePath == kStreamPath;
  FArchivePath = ArchivePath;
  FErrorCode = 0;
  FErrorCause = {};
  FFailedFile.clear();
  FFilesProcessed = 0;
  FContinue = true;
  FDoRestore = true;
  FSegmentOpen = FContinuation = false;
  FUnsafeNames.clear();
  FClashingNames.clear();
  FWritten.clear();
  std::unique_ptr<TFileStream> file;
  TStream *source = FRestoreStream;
  if (!FStreamMode) {
    if (!FileExists(ArchivePath))
      return false;
    file = std::make_unique<TFileStream>(ArchivePath, fmOpenRead);
    source = file.get();
  } else if (!source) {
    return false;
  }
  FBusy = true;
  FMemberWriter = std::make_unique<TMemberWriter>();
  TRestorer restorer(*this);
  TArchiveWalk walk;
  try {
    walk.Read(*source, FStreamMode ? std::string() : ArchivePath, restorer);
  } catch (const EArchiveFault &fault) {
    // Damage inside a member being written stops the run with a code; anywhere else it
    // is the run's failure.
    if (fault.Fault() == afHeader)
      FBusy = false;
    if (FSegmentOpen && fault.Fault() == afInflate)
      Fail(beCompression);
    else if (FSegmentOpen && !FContinuation && fault.Fault() != afHeader)
      Fail(beReadFile);
    else
      throw;
  }
  FMemberWriter.reset();
  FOutput.reset(); // a member the run did not complete is removed
  FMemberFile = nullptr;
  const bool result = FErrorCode == 0 && FContinue;
  RaiseProgress(std::string(), 100);
  FBusy = false;
  if (FErrorCode != 0)
    ReportError(FErrorCode);
  return result;
}

// Where a member goes: a base folder and the parts below it. False when the name would
// leave the destination folder or names no file.
bool TBackupFile::TargetFor(const std::string &name, std::string &base,
                            std::vector<std::string> &parts) const {
  std::string relative;
  if (FDest.empty())
    relative = ToLocalPath(HasDrive(name) ? name.substr(2) : name);
  else if (FRestoreFullPath)
    relative = ToLocalPath(name.size() > 3 ? name.substr(3) : std::string());
  else
    relative = ToLocalPath(name.substr(StoredFolder(name).size()));
  // Whole strings, not literals, are assigned to base: MinGW's GCC 12 warns falsely
  // (-Wrestrict) on a literal's assignment here.
  if (FDest.empty())
    base = std::string(!relative.empty() && relative[0] == '/' ? "/" : ".");
  else
    base = FDest;
  return SplitInside(relative, parts);
}

// Replaces each part by the existing entry it matches without regard to letter case, as
// far as the folders exist; tells whether a file (or link) stands at the target and its
// date.
void TBackupFile::ResolveTarget(const std::string &base, std::vector<std::string> &parts,
                                bool &exists, int32_t &date) {
  exists = false;
  date = 0;
  TTargetFolder folder = TTargetFolder::Open(base, false);
  for (size_t i = 0; i < parts.size() && folder.IsOpen(); ++i) {
    const bool last = i + 1 == parts.size();
    const std::string found = folder.Match(parts[i], !last);
    if (found.empty())
      return;
    parts[i] = found;
    if (!last) {
      folder = folder.Sub(found, false);
      continue;
    }
    TTargetEntry entry;
    if (folder.Entry(found, entry) && !entry.Folder) {
      exists = true;
      date = entry.FileDate;
    }
  }
}

bool TBackupFile::DecideRestore(bool exists, int32_t date) const {
  const bool older = exists && FileDateBefore(date, FFileDate);
  switch (FRestoreMode) {
  case rmAll:
    return true;
  case rmNoOverwrite:
    return !exists;
  case rmNewer:
    return !exists || older;
  case rmExisting:
    return exists;
  case rmExistingNewer:
    return older;
  }
  return false;
}

void TBackupFile::RestoreMember(const std::string &name, int32_t fileDate) {
  FFileDate = fileDate;
  FDoRestore = false;
  FSegmentOpen = FContinuation = false;
  std::string base;
  std::vector<std::string> parts;
  const bool safe = TargetFor(name, base, parts);
  if (name == kFileList || !safe) {
    if (name != kFileList)
      FUnsafeNames.push_back(Cp949ToUtf8(name));
    return;
  }
  bool exists = false;
  int32_t date = 0;
  ResolveTarget(base, parts, exists, date);
  FCurrentFile = JoinPath(base, parts);
  const std::string proposed = FCurrentFile;
  if (ClashesWithEarlierMember(name, exists, date))
    return;
  FDoRestore = DecideRestore(exists, date);
  if (OnRestoreFile)
    OnRestoreFile(*this, FCurrentFile, FFileDate, FDoRestore);
  if (!FDoRestore)
    return;
  if (FCurrentFile != proposed) {
    // The host named the target itself: its folder is the host's to choose.
    base = ExtractFileDir(FCurrentFile);
    parts = {ExtractFileName(FCurrentFile)};
    if (base.empty())
      base = std::string(".");
  }
  OpenOutput(base, parts);
}

// A flat restore puts members of different folders side by side. Where two land on one
// file and one's folder lies inside the other's, the deeper one is a name that only looks
// like a path (a Linux "Sale.old\Item.DB" beside "Item.DB"): it never replaces the other,
// whichever comes first. Otherwise the later one wins. True when the member is stepped over;
// exists and date become what stood at the target before the run.
bool TBackupFile::ClashesWithEarlierMember(const std::string &name, bool &exists, int32_t &date) {
  if (FDest.empty() || FRestoreFullPath)
    return false;
  const auto earlier = FWritten.find(FCurrentFile);
  if (earlier == FWritten.end()) {
    FWritten[FCurrentFile] = {name, exists, date};
    return false;
  }
  const std::string folder = StoredFolder(name);
  const std::string earlierFolder = StoredFolder(earlier->second.Member);
  if (folder != earlierFolder && folder.compare(0, earlierFolder.size(), earlierFolder) == 0) {
    FClashingNames.push_back(Cp949ToUtf8(name));
    return true;
  }
  if (folder != earlierFolder && earlierFolder.compare(0, folder.size(), folder) == 0) {
    FClashingNames.push_back(Cp949ToUtf8(earlier->second.Member));
    exists = earlier->second.Existed;
    date = earlier->second.Date;
  }
  earlier->second.Member = name;
  return false;
}

// Makes the member's folders (never through a link) and its temporary file. A folder
// that cannot be made steps the member over without a word; a file that cannot be
// made stops the run.
void TBackupFile::OpenOutput(const std::string &base, const std::vector<std::string> &parts) {
  TTargetFolder folder = TTargetFolder::Open(base, true);
  for (size_t i = 0; i + 1 < parts.size() && folder.IsOpen(); ++i)
    folder = folder.Sub(parts[i], true);
  if (!folder.IsOpen() || parts.empty() || parts.back().empty()) {
    FDoRestore = false;
    return;
  }
  try {
    auto file = std::make_unique<TReplacementFile>(folder, parts.back());
    FMemberFile = file.get();
    FOutput = std::move(file);
    FMemberWriter->Start(FOutput.get());
    FSegmentOpen = true;
  } catch (const Exception &) {
    WriteFailed();
  }
}

void TBackupFile::WriteFailed() {
  FFailedFile = FCurrentFile;
  FMemberWriter->Drop();
  FOutput.reset();
  FMemberFile = nullptr;
  FSegmentOpen = false;
  Fail(beWriteFile);
}

void TBackupFile::WriteOutput(const uint8_t *data, int32_t count) {
  try {
    FMemberWriter->Write(data, static_cast<size_t>(count));
    FBytesProcessed += count;
  } catch (const Exception &) {
    WriteFailed();
  }
}

// After each segment written: the host sees the output; one it replaced is dated and
// closed here and takes the member over.
void TBackupFile::SegmentWritten() {
  FSegmentOpen = false;
  if (!FOutput)
    return;
  try {
    FMemberWriter->Drain();
  } catch (const Exception &) {
    WriteFailed();
    return;
  }
  if (OnFileRestored)
    OnFileRestored(*this, FCurrentFile, FOutput);
  if (FOutput.get() == FMemberFile)
    return;
  FMemberFile = nullptr;
  if (auto *file = dynamic_cast<TFileStream *>(FOutput.get()))
    FileSetDate(file->Handle(), FFileDate);
  FOutput.reset();
  FDoRestore = false;
}

// The member is complete: dated, flushed and put in place.
void TBackupFile::CommitOutput() {
  FDoRestore = false;
  if (!FOutput || !FMemberFile)
    return;
  try {
    FMemberWriter->Drain();
    // Flushed to disk first where it replaces a file, so that even a power cut leaves
    // the old file or the whole new one.
    FMemberFile->Finish(FFileDate, FMemberFile->ReplacesExisting());
    FMemberFile->Commit();
    ++FFilesProcessed;
  } catch (const Exception &) {
    WriteFailed();
  }
  FOutput.reset();
  FMemberFile = nullptr;
}

bool TBackupFile::NextRestoreVolume(uint16_t disk, const std::string &path) {
  do
    AskForDisk(disk);
  while (FContinue && !FileExists(path));
  if (!FContinue)
    return false;
  FArchivePath = path;
  FContinuation = true;
  FSegmentOpen = FOutput != nullptr;
  return true;
}

} // namespace vantari
