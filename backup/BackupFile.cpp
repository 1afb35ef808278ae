#include "BackupFile.h"

#include "ArchiveFormat.h"
#include "ArchiveWalk.h"
#include "ArchiveWriter.h"
#include "BlockDeflater.h"
#include "FileSystem.h"
#include "HostUI.h"
#include "MemberWriter.h"
#include "PackPipeline.h"
#include "TargetFolder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <limits>

namespace vantari {

using namespace archive;

namespace {

// A listed file as its user knows it: on Windows, with the system's backslash separators.
std::string ShownPath(std::string path) {
#ifdef _WIN32
  std::replace(path.begin(), path.end(), '/', '\\');
#endif
  return path;
}

std::string Trim(const std::string &text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos)
    return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The recursion switch is a "/s" word (any case) after a space: Linux paths themselves
// contain "/s" (/srv, /home/sales), so a bare "/s" cannot be taken as the switch.
size_t FindRecursionSwitch(const std::string &mask) {
  for (size_t at = mask.find('/'); at != std::string::npos; at = mask.find('/', at + 1)) {
    const bool word = (at == 0 || mask[at - 1] == ' ') && at + 1 < mask.size() &&
                      std::tolower(static_cast<unsigned char>(mask[at + 1])) == 's' &&
                      (at + 2 == mask.size() || mask[at + 2] == ' ');
    if (word)
      return at;
  }
  return std::string::npos;
}

int32_t Clamp32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

} // namespace

TBackupFile::TRunScope::~TRunScope() {
  FOwner.FWriter.reset();
  FOwner.FVolumes.clear(); // removes the temporary files of an archive not completed
  FOwner.FArchiveFolder.reset();
  FOwner.FPipeline.reset();
  FOwner.FMemberWriter.reset(); // the member's writes end before its file goes
  FOwner.FOutput.reset();       // removes the temporary file of a member not completed
  FOwner.FMemberFile = nullptr;
  FOwner.FFileList.clear();
  FOwner.FListed.clear();
  if (!FOwner.FFileIdPath.empty())
    DeleteFile(FOwner.FFileIdPath);
  FOwner.FFileIdPath.clear();
}

TBackupFile::TBackupFile() = default;
TBackupFile::~TBackupFile() = default;

void TBackupFile::SetBackupMode(TBackupMode value) {
  if (value != FBackupMode && value == bmIncremental)
    FSetArchiveFlag = true;
  FBackupMode = value;
}

std::string TBackupFile::ErrorMessage(int32_t Error, const std::string &FileName) {
  static const char *const messages[] = {"Cannot read file",
                                         "Overwriting file failed",
                                         "Cannot read archive",
                                         "Cannot write to archive",
                                         "Invalid archive type",
                                         "Compression error",
                                         "Cannot create temporary file to save the file IDs"};
  if (Error == beWriteFile)
    return "Cannot write file " + FileName;
  return (Error >= 1 && Error <= 7) ? messages[Error - 1] : std::string();
}

void TBackupFile::ReportError(int32_t Error) {
  const std::string message = ErrorMessage(Error, FFailedFile);
  if (OnError)
    OnError(*this, Error, message);
  else
    HostUI().ShowEngineError(message);
}

// 100 * done / total rounded to nearest, ties to even; a total of 0 or less (sources
// that grew from empty, a damaged header) counts as complete, and the value never leaves
// 0..100.
TPercentage TBackupFile::PercentDone() const {
  if (FTotalSize <= 0)
    return 100;
  const double percent = std::nearbyint(100.0 * static_cast<double>(FBytesProcessed) /
                                        static_cast<double>(FTotalSize));
  return static_cast<TPercentage>(std::clamp(percent, 0.0, 100.0));
}

void TBackupFile::RaiseProgress(const std::string &filename, TPercentage percent) {
  if (OnProgress)
    OnProgress(*this, filename, percent, FContinue);
}

void TBackupFile::AskForDisk(uint16_t disk) {
  if (OnNeedDisk) {
    OnNeedDisk(*this, disk, FContinue);
    return;
  }
  FContinue = HostUI().ConfirmVolume(
      Format("Please insert disk %s and click OK to continue.", std::to_string(disk).c_str()));
}

bool TBackupFile::Verify(const std::string &ArchivePath) {
  TArchiveWalk walk;
  if (ArchivePath == kStreamPath)
    return FRestoreStream && walk.Run(*FRestoreStream);
  return walk.Run(ArchivePath);
}

bool TBackupFile::ListMembers(const std::string &ArchivePath, TArchiveContents &Contents,
                              bool Decode) {
  Contents = TArchiveContents();
  TArchiveWalk walk;
  walk.SkipContent = !Decode;
  walk.OnMember = [&](const TArchiveMember &member) { Contents.Members.push_back(member); };
  bool sound = false;
  if (ArchivePath != kStreamPath)
    sound = walk.Run(ArchivePath);
  else if (FRestoreStream)
    sound = walk.Run(*FRestoreStream);
  Contents.Title = walk.Title();
  Contents.TotalSize = walk.TotalSize();
  Contents.FileCount = walk.FileCount();
  Contents.Volumes = walk.Volumes();
  Contents.Failure = sound ? std::string() : walk.Failure();
  if (!sound && Contents.Failure.empty())
    Contents.Failure = "no archive to read";
  return sound;
}

bool TBackupFile::Backup(const std::vector<std::string> &Masks, const std::string &ArchivePath) {
  TRunScope scope(*this);
  FStreamMode = ArchivePath == kStreamPath;
  FArchivePath = ArchivePath;
  FErrorCode = 0;
  FErrorCause = {};
  FBusy = true;
  FFileList.clear();
  FListed.clear();
  FFileIdPath.clear();
  FFailedFile.clear();
  FPackedMembers.clear();
  const std::string archiveFull = FStreamMode ? std::string() : ExpandFileName(ArchivePath);
  for (const auto &mask : Masks)
    AddMaskFiles(mask, archiveFull);

  bool result = false;
  FContinue = true;
  RaiseProgress(std::string(), 0);
  const std::string listText = MeasureSources();
  if (FSaveFileID)
    SaveFileIdList(listText);
  OpenArchive();
  for (size_t i = 0; i < FFileList.size() && FContinue; ++i)
    if (FileExists(FFileList[i]))
      PackEntry(i);
  if (FContinue) {
    try {
      FWriter->WriteInt32(0);
      FWriter->Flush();
      result = true;
    } catch (const Exception &) {
      Fail(beWriteArchive);
    }
  }
  CloseArchive(result);
  result = result && FErrorCode == 0;
  if (!FFileIdPath.empty() && DeleteFile(FFileIdPath))
    FFileIdPath.clear();
  RaiseProgress(std::string(), 100);
  FBusy = false;
  if (FErrorCode != 0)
    ReportError(FErrorCode);
  return result;
}

void TBackupFile::Fail(int32_t code) {
  FErrorCode = code;
  FContinue = false;
  // Called from the handler of the failure that ended the run, if any.
  if (const std::exception_ptr failure = std::current_exception()) {
    try {
      std::rethrow_exception(failure);
    } catch (const EStreamError &e) {
      FErrorCause = e.Cause();
    } catch (...) {
    }
  }
}

void TBackupFile::AddMaskFiles(const std::string &mask, const std::string &archiveFull) {
  const size_t recursion = FindRecursionSwitch(mask);
  const std::string dir = ExtractFilePath(Trim(mask.substr(0, recursion)));
  const std::string name = ExtractFileName(Trim(mask.substr(0, recursion)));
  if (recursion != std::string::npos) {
    // Links to folders are not followed: they could lead back into the tree.
    for (const auto &entry : FindFiles(dir + "*", faDirectory))
      if ((entry.Attr & faDirectory) && !(entry.Attr & faSymLink))
        AddMaskFiles(ExpandFileName(dir + entry.Name) + "/" + name + " /s", archiveFull);
  }
  // System entries (fifos, sockets, devices) are never opened, so never listed.
  for (const auto &entry : FindFiles(dir + name, faReadOnly | faHidden | faArchive)) {
    if (entry.Attr & faDirectory)
      continue;
    const std::string path = ExpandFileName(dir + entry.Name);
    if (path == archiveFull || FListed.count(path))
      continue;
    if (FBackupMode == bmIncremental && !(entry.Attr & faArchive))
      continue;
    FListed.insert(path);
    FFileList.push_back(ShownPath(path));
  }
}

// Adds every existing source's size to TotalSize and returns the file-ID list text.
std::string TBackupFile::MeasureSources() {
  FTotalSize = 0;
  FFilesProcessed = 0;
  std::string listText;
  for (const auto &entry : FFileList) {
    if (!FileExists(entry))
      continue;
    TFileStream source(entry, fmOpenRead);
    const int64_t size = source.Size();
    FTotalSize += size;
    if (FSaveFileID)
      listText += MemberName(entry) + "\t" + std::to_string(FileGetDate(source.Handle())) + "=" +
                  std::to_string(size) + "\r\n";
  }
  return listText;
}

void TBackupFile::SaveFileIdList(const std::string &listText) {
  try {
    const std::string path = GetTempFileName(GetTempDir(), "FID");
    if (path.empty())
      throw EFCreateError("Cannot create temporary file");
    FFileIdPath = path;
    TFileStream file(path, fmCreate);
    file.WriteBuffer(listText.data(), static_cast<int64_t>(listText.size()));
    FFileList.insert(FFileList.begin(), path);
    FTotalSize += static_cast<int64_t>(listText.size());
  } catch (const Exception &) {
    Fail(beFileIDs);
  }
}

bool TBackupFile::IsFileIdEntry(size_t index) const {
  return index == 0 && !FFileIdPath.empty() && FFileList[0] == FFileIdPath;
}

void TBackupFile::OpenArchive() {
  FVolumeNumber = 1;
  const bool listed = !FFileList.empty() && IsFileIdEntry(0);
  FFileCount = static_cast<int32_t>(FFileList.size()) - (listed ? 1 : 0);
  try {
    FPipeline = std::make_unique<TPackPipeline>(TBlockDeflater::LibraryLevel(FCompressionLevel),
                                                FPackThreads);
    TStream *target = FBackupStream;
    if (!FStreamMode) {
      FArchiveFolder = std::make_unique<TTargetFolder>(
          TTargetFolder::Open(ExtractFileDir(ExpandFileName(FArchivePath)), false));
      // A run that was killed (a shutdown in the middle of a backup) left its partial
      // archive behind; each would keep its disk space for ever.
      TReplacementFile::RemoveAbandoned(*FArchiveFolder);
      OpenVolume(FArchivePath);
      target = FVolumes.back().get();
    }
    if (!target)
      throw EWriteError("Stream write error");
    FWriter = std::make_unique<TArchiveWriter>(*target);
    FWriter->WriteText(FBackupTitle);
    FWriter->WriteInt32(Clamp32(FTotalSize));
    FWriter->WriteInt32(FFileCount);
    FWriter->Flush();
  } catch (const Exception &) {
    FWriter.reset();
    Fail(beWriteArchive);
  }
  FBytesProcessed = 0;
}

// A volume is written under a temporary name; CloseArchive puts every volume in place.
void TBackupFile::OpenVolume(const std::string &path) {
  FVolumes.push_back(std::make_unique<TReplacementFile>(*FArchiveFolder, ExtractFileName(path)));
}

void TBackupFile::PackEntry(size_t index) {
  const bool listEntry = IsFileIdEntry(index);
  // The list holds names as found on disk: "Item.db " is a file of its own.
  const std::string &entry = FFileList[index];
  // A failed write of the name leaves the run as the failure itself.
  FWriter->WriteText(listEntry ? std::string(kFileList) : MemberName(entry));
  FCurrentFile = entry;
  bool packed = false;
  try {
    TFileStream source(entry, fmOpenRead);
    const int32_t date = FileGetDate(source.Handle());
    FWriter->WriteInt32(date);
    int64_t remaining = source.Size();
    FPackingMember = !listEntry;
    if (FPackingMember)
      FPackedMembers.push_back({entry, 0, 0});
    PackContent(source, remaining);
    FPackingMember = false;
    // A source written to while it was packed (grown, cut, touched) is in the archive
    // only in part: it keeps its flag for the next incremental run.
    packed = remaining == 0 && FErrorCode == 0 && source.Position() == source.Size() &&
             FileGetDate(source.Handle()) == date;
    if (!listEntry)
      ++FFilesProcessed;
  } catch (const Exception &) {
    FPackingMember = false;
    Fail(beReadFile);
  }
  // Only a file whose whole content went into the archive loses its archive attribute,
  // so a failed run never hides a file from the next incremental backup.
  if (FSetArchiveFlag && packed)
    FileClearArchiveAttr(entry);
}

// The member's data segments, streamed: chunks are read ahead into the pipeline while
// earlier ones are compressed, and written back in order, one block each, starting a new
// volume wherever the current one is full. The source is read ahead by at most the ring.
void TBackupFile::PackContent(TStream &source, int64_t &remaining) {
  try {
    FWriter->WriteBytes(kMagic, sizeof kMagic);
    for (;;) {
      ReadAhead(source, remaining);
      if (!FContinue || FPipeline->Empty())
        break;
      if (FMaxSize != 0 && !FStreamMode &&
          FWriter->Position() >= static_cast<int64_t>(FMaxSize) - kVolumeReserve) {
        FWriter->WriteInt32(0);
        FWriter->Flush();
        if (!ChangeBackupVolume()) {
          FPipeline->Discard();
          return;
        }
        FWriter->WriteBytes(kMagic, sizeof kMagic);
      }
      WriteBlock(FPipeline->Oldest());
      FPipeline->Release();
      HostUI().ProcessMessages();
      RaiseProgress(FCurrentFile, PercentDone());
    }
    FPipeline->Discard();
    FWriter->WriteInt32(0);
    FWriter->Flush();
  } catch (const Exception &) {
    FPipeline->Discard();
    Fail(beWriteArchive);
  }
}

// Reads chunks into the pipeline's free slots while the source has bytes left.
void TBackupFile::ReadAhead(TStream &source, int64_t &remaining) {
  while (remaining > 0 && FContinue) {
    TPackedChunk *chunk = FPipeline->Free();
    if (!chunk)
      return;
    const int64_t n = source.Read(chunk->Input, std::min<int64_t>(kChunkSize, remaining));
    if (n <= 0) {
      // The source shrank after it was measured: its member ends here. A read that
      // failed with data still in the file is a source that cannot be read.
      if (source.Size() > source.Position())
        Fail(beReadFile);
      remaining = 0;
      return;
    }
    chunk->Count = static_cast<int32_t>(n);
    remaining -= n;
    FPipeline->Submit();
  }
}

void TBackupFile::WriteBlock(const TPackedChunk &chunk) {
  FBytesProcessed += chunk.Count;
  if (FPackingMember) {
    FPackedMembers.back().Size += chunk.Count;
    FPackedMembers.back().Stored += 4 + (chunk.Packed > 0 ? chunk.Packed : chunk.Count);
  }
  if (chunk.Packed < 0) {
    Fail(beCompression);
  } else if (chunk.Packed > 0) {
    FWriter->WriteInt32(chunk.Packed);
    FWriter->WriteBytes(chunk.Output, static_cast<size_t>(chunk.Packed));
  } else {
    FWriter->WriteInt32(-chunk.Count);
    FWriter->WriteBytes(chunk.Input, static_cast<size_t>(chunk.Count));
  }
}

// Ends the current volume with its continuation record and begins the next; false when
// the run stops here (cancelled at the prompt).
bool TBackupFile::ChangeBackupVolume() {
  ++FVolumeNumber;
  const std::string digits = VolumeDigits(FVolumeNumber);
  FWriter->WriteText(kNextDisk + digits);
  FWriter->Flush();
  FVolumes.back()->Finish(-1);
  AskForDisk(FVolumeNumber);
  if (!FContinue) {
    FWriter.reset(); // its volume is closed and no other follows
    return false;
  }
  FArchivePath = VolumePath(FArchivePath, digits);
  OpenVolume(FArchivePath);
  FWriter->Attach(*FVolumes.back());
  return true;
}

// Puts a complete archive in place, the last volume first, so that the first volume
// replaces the previous archive only once its whole chain is there. An incomplete one
// is removed with its temporary files.
void TBackupFile::CloseArchive(bool complete) {
  try {
    if (FWriter)
      FWriter->Flush();
  } catch (const Exception &) {
    complete = false;
  }
  FWriter.reset();
  if (!complete) {
    FVolumes.clear();
    return;
  }
  try {
    for (auto volume = FVolumes.rbegin(); volume != FVolumes.rend(); ++volume)
      (*volume)->Commit();
    if (!FVolumes.empty())
      FVolumes.front()->SyncFolder();
  } catch (const Exception &) {
    Fail(beWriteArchive);
  }
  FVolumes.clear();
}

} // namespace vantari
