// The restore side of TBackupFile.
#include "BackupFile.h"

#include "ArchiveFormat.h"
#include "ArchiveReader.h"
#include "BlockInflater.h"
#include "Cp949.h"
#include "FileSystem.h"
#include "HostUI.h"

#include <algorithm>
#include <cctype>

namespace vantari {

using namespace archive;

namespace {

// A relative '/' path that stays below the folder it is appended to and names a file.
bool StaysInside(const std::string &path) {
  if (path.find('\0') != std::string::npos)
    return false;
  size_t start = 0;
  std::string segment;
  for (;;) {
    const size_t end = path.find('/', start);
    segment = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (segment == "..")
      return false;
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return !segment.empty() && segment != ".";
}

std::string ToLocalPath(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return Cp949ToUtf8(name);
}

bool HasDrive(const std::string &name) {
  return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
}

} // namespace

bool TBackupFile::Restore(const std::string &ArchivePath, const std::string &DestFolder) {
  TRunScope scope(*this);
  FDest = DestFolder.empty() ? std::string() : IncludeTrailingPathDelimiter(DestFolder);
  FStreamMode = ArchivePath == kStreamPath;
  FArchivePath = ArchivePath;
  FErrorCode = 0;
  FFilesProcessed = 0;
  FContinue = true;
  FUnsafeNames.clear();
  TStream *source = FRestoreStream;
  if (!FStreamMode) {
    if (!FileExists(ArchivePath))
      return false;
    FVolume = std::make_unique<TFileStream>(ArchivePath, fmOpenRead);
    source = FVolume.get();
  } else if (!source) {
    return false;
  }
  FBusy = true;
  ReadHeader(*source);
  RestoreRecords();
  if (!FStreamMode) {
    FReader.reset();
    FVolume.reset();
  }
  const bool result = FErrorCode == 0 && FContinue;
  RaiseProgress(std::string(), 100);
  FBusy = false;
  if (FErrorCode != 0)
    ReportError(FErrorCode);
  return result;
}

void TBackupFile::ReadHeader(TStream &source) {
  try {
    FReader = std::make_unique<TArchiveReader>(source);
    const int32_t titleLength = FReader->ReadInt32();
    if (titleLength < 0)
      throw EReadError("Stream read error");
    FReader->Skip(titleLength);
    FTotalSize = FReader->ReadInt32();
    FFileCount = FReader->ReadInt32();
  } catch (const Exception &) {
    FBusy = false;
    FReader.reset();
    FVolume.reset();
    throw EBackupError("Cannot read archive");
  }
  FBytesProcessed = 0;
}

void TBackupFile::RestoreRecords() {
  FDoRestore = true;
  bool memberBegun = false;
  while (FContinue) {
    const int32_t length = FReader->ReadInt32();
    if (length == 0)
      break;
    if (length < 0)
      continue;
    const std::string name = FReader->ReadText(length);
    if (!IsContinuation(name)) {
      memberBegun = true;
      RestoreMember(name);
    } else if (memberBegun) {
      ChangeRestoreVolume(name);
    } else {
      // A continuation continues no member of this run: writing it would append to
      // whatever file an earlier run left in CurrentFile.
      throw EBackupError("Cannot read archive");
    }
  }
}

// The local path a member is restored to; false when it would leave the destination
// folder or names no file.
bool TBackupFile::TargetFor(const std::string &name, std::string &target) const {
  std::string relative;
  if (FDest.empty())
    relative = ToLocalPath(HasDrive(name) ? name.substr(2) : name);
  else if (FRestoreFullPath)
    relative = ToLocalPath(name.size() > 3 ? name.substr(3) : std::string());
  else
    relative = ToLocalPath(name.substr(name.find_last_of("\\/:") + 1));
  if (!StaysInside(FDest.empty() && !relative.empty() && relative[0] == '/' ? relative.substr(1)
                                                                            : relative))
    return false;
  target = FDest + relative;
  return true;
}

bool TBackupFile::DecideRestore() const {
  const bool exists = FileExists(FCurrentFile);
  const bool older = exists && FileGetDate(FCurrentFile) < FFileDate;
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

void TBackupFile::RestoreMember(const std::string &name) {
  FFileDate = FReader->ReadInt32();
  FDoRestore = false;
  std::string target;
  const bool safe = TargetFor(name, target);
  if (safe)
    FCurrentFile = target;
  if (name != kFileList) {
    if (!safe) {
      FUnsafeNames.push_back(Cp949ToUtf8(name));
    } else {
      FDoRestore = DecideRestore();
      if (OnRestoreFile)
        OnRestoreFile(*this, FCurrentFile, FFileDate, FDoRestore);
    }
  }
  if (FDoRestore) {
    const std::string dir = ExtractFileDir(FCurrentFile);
    FDoRestore = dir.empty() || ForceDirectories(dir);
  }
  if (!FDoRestore) {
    ReadMemberData(nullptr);
    return;
  }
  std::unique_ptr<TStream> output;
  try {
    output = std::make_unique<TFileStream>(FCurrentFile, fmCreate);
    ReadMemberData(output.get());
    ++FFilesProcessed;
  } catch (const Exception &) {
    Fail(1);
  }
  if (output)
    FinishTarget(output);
}

void TBackupFile::FinishTarget(std::unique_ptr<TStream> &target) {
  if (OnFileRestored)
    OnFileRestored(*this, FCurrentFile, target);
  if (auto *file = dynamic_cast<TFileStream *>(target.get()))
    FileSetDate(file->Handle(), FFileDate);
  target.reset();
}

void TBackupFile::ChangeRestoreVolume(const std::string &name) {
  const std::string digits = ContinuationDigits(name);
  // A stream holds one volume only; and a continuation must name a volume by its digits.
  if (FStreamMode || digits.empty())
    throw EBackupError("Cannot read archive");
  FReader.reset();
  FVolume.reset();
  const auto disk = static_cast<uint16_t>(std::stoi(digits));
  std::string path;
  do {
    AskForDisk(disk);
    path = VolumePath(FArchivePath, digits);
  } while (FContinue && !FileExists(path));
  if (!FContinue)
    return;
  FArchivePath = path;
  FVolume = std::make_unique<TFileStream>(path, fmOpenRead);
  FReader = std::make_unique<TArchiveReader>(*FVolume);
  if (!FDoRestore) {
    ReadMemberData(nullptr);
    return;
  }
  std::unique_ptr<TStream> output = std::make_unique<TFileStream>(FCurrentFile, fmOpenWrite);
  output->Seek(0, TSeekOrigin::soEnd);
  ReadMemberData(output.get());
  FinishTarget(output);
}

void TBackupFile::ReadMemberData(TStream *target) {
  uint8_t magic[4];
  FReader->ReadBytes(magic, sizeof magic);
  if (!MagicIsValid(magic))
    throw EBackupError("Invalid archive type");
  while (FContinue) {
    const int32_t length = FReader->ReadInt32();
    int64_t written = 0;
    if (length != 0) {
      const int64_t size = length < 0 ? -static_cast<int64_t>(length) : length;
      if (size > kChunkSize)
        throw EBackupError("Cannot read archive");
      if (!target) {
        FReader->Skip(size);
      } else if (length < 0) {
        target->WriteBuffer(FReader->ReadBlock(static_cast<int32_t>(size)), size);
        written = size;
      } else {
        written = InflateBlock(FReader->ReadBlock(length), length, *target);
      }
    }
    HostUI().ProcessMessages();
    if (target) {
      FBytesProcessed += written;
      RaiseProgress(FCurrentFile, PercentDone());
    }
    if (length == 0)
      break;
  }
}

int64_t TBackupFile::InflateBlock(const uint8_t *data, int32_t length, TStream &target) {
  if (!FInflater)
    FInflater = std::make_unique<TBlockInflater>();
  if (!FInflater->Ready()) {
    Fail(6);
    return 0;
  }
  uint8_t output[kChunkSize];
  int32_t produced = 0;
  const bool sound = FInflater->Inflate(data, length, output, kChunkSize, produced);
  target.WriteBuffer(output, produced);
  if (!sound)
    Fail(6);
  return produced;
}

} // namespace vantari
