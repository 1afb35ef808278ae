#pragma once

#include "Exception.h"
#include "Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace vantari {

class TArchiveReader;
class TArchiveWriter;
class TBlockDeflater;
class TBlockInflater;

enum TBackupMode : uint8_t { bmAll, bmIncremental };
enum TRestoreMode : uint8_t { rmAll, rmNoOverwrite, rmNewer, rmExisting, rmExistingNewer };
enum TCompressionLevel : uint8_t { clFastest, clNone, clDefault, clMax };
using TPercentage = uint8_t;

class TBackupFile;
using TProgressEvent = std::function<void(TBackupFile &Sender, const std::string &Filename,
                                          TPercentage Percent, bool &Continue)>;
using TNeedDiskEvent = std::function<void(TBackupFile &Sender, uint16_t DiskID, bool &Continue)>;
using TRestoreFileEvent =
    std::function<void(TBackupFile &Sender, std::string &Filename, int32_t FA, bool &DoRestore)>;
// Stream is the open output file; a handler may replace it (the date is set on, and the
// close applied to, whatever it leaves).
using TFileRestoredEvent = std::function<void(TBackupFile &Sender, std::string &Filename,
                                              std::unique_ptr<TStream> &Stream)>;
using TBackupErrorEvent =
    std::function<void(TBackupFile &Sender, int32_t Error, const std::string &ErrString)>;

// Failures the engine raises instead of turning them into an error code
// ("Cannot read archive", "Invalid archive type").
class EBackupError : public Exception {
  using Exception::Exception;
};

// The archive engine: packs the files that wildcard masks select into a backup archive
// (optionally cut into volumes) and restores such an archive into a folder. Runs
// synchronously; pending window messages are processed after every block. Local paths
// use '/'; member names are stored as CP949 "z:\..." paths.
class TBackupFile {
public:
  TBackupFile();
  ~TBackupFile();
  TBackupFile(const TBackupFile &) = delete;
  TBackupFile &operator=(const TBackupFile &) = delete;

  // Packs the files of Masks into ArchivePath (or BackupStream for ":STREAM"). True only
  // when the end marker was written; false with ErrorCode 0 means cancelled.
  bool Backup(const std::vector<std::string> &Masks, const std::string &ArchivePath);
  // Restores ArchivePath (or RestoreStream for ":STREAM") into DestFolder (may be empty).
  // Raises EBackupError "Cannot read archive" when the header is unreadable.
  bool Restore(const std::string &ArchivePath, const std::string &DestFolder);
  // Read-only walk over everything a restore would meet (header, records, magics, block
  // bounds, every block inflating cleanly, the volume chain, the end marker). Follows
  // volumes that are present without asking; never writes, never raises for damage.
  bool Verify(const std::string &ArchivePath);
  // Shows the message of Error through OnError, or the engine's error box.
  void ReportError(int32_t Error);
  static std::string ErrorMessage(int32_t Error);

  // Properties.
  std::string Version() const { return "5.10"; }
  void SetVersion(const std::string &) {}
  const std::string &BackupTitle() const { return FBackupTitle; }
  void SetBackupTitle(const std::string &value) { FBackupTitle = value; }
  TBackupMode BackupMode() const { return FBackupMode; }
  void SetBackupMode(TBackupMode value);
  TCompressionLevel CompressionLevel() const { return FCompressionLevel; }
  void SetCompressionLevel(TCompressionLevel value) { FCompressionLevel = value; }
  TRestoreMode RestoreMode() const { return FRestoreMode; }
  void SetRestoreMode(TRestoreMode value) { FRestoreMode = value; }
  int32_t MaxSize() const { return FMaxSize; }
  void SetMaxSize(int32_t value) { FMaxSize = value; }
  bool SetArchiveFlag() const { return FSetArchiveFlag; }
  void SetSetArchiveFlag(bool value) { FSetArchiveFlag = value; }
  bool RestoreFullPath() const { return FRestoreFullPath; }
  void SetRestoreFullPath(bool value) { FRestoreFullPath = value; }
  bool SaveFileID() const { return FSaveFileID; }
  void SetSaveFileID(bool value) { FSaveFileID = value; }

  // Events; empty means unassigned.
  TProgressEvent OnProgress;
  TNeedDiskEvent OnNeedDisk;
  TRestoreFileEvent OnRestoreFile;
  TFileRestoredEvent OnFileRestored;
  TBackupErrorEvent OnError;

  // Run state, readable after a run. Sizes are 64-bit; the archive header carries them
  // clamped to 32 bits.
  int32_t FileCount() const { return FFileCount; }
  int32_t FilesProcessed() const { return FFilesProcessed; }
  int64_t TotalSize() const { return FTotalSize; }
  int64_t BytesProcessed() const { return FBytesProcessed; }
  const std::string &CurrentFile() const { return FCurrentFile; }
  bool Busy() const { return FBusy; }
  bool Continue() const { return FContinue; }
  int32_t ErrorCode() const { return FErrorCode; }
  TStream *BackupStream() const { return FBackupStream; }
  void SetBackupStream(TStream *stream) { FBackupStream = stream; }
  TStream *RestoreStream() const { return FRestoreStream; }
  void SetRestoreStream(TStream *stream) { FRestoreStream = stream; }
  // Stored names (UTF-8) of members the last Restore refused because their path would
  // leave the destination folder or names no file; they were stepped over.
  const std::vector<std::string> &UnsafeNames() const { return FUnsafeNames; }

private:
  // Releases what a run holds on every way out of it, exceptions included.
  class TRunScope {
  public:
    explicit TRunScope(TBackupFile &owner) : FOwner(owner) {}
    ~TRunScope();
    TRunScope(const TRunScope &) = delete;
    TRunScope &operator=(const TRunScope &) = delete;

  private:
    TBackupFile &FOwner;
  };

  // Backup steps.
  void AddMaskFiles(const std::string &mask, const std::string &archiveFull);
  std::string MeasureSources();
  void SaveFileIdList(const std::string &listText);
  bool IsFileIdEntry(size_t index) const;
  void OpenArchive();
  void PackEntry(size_t index);
  void WriteMemberData(TStream &source, int64_t &remaining);
  bool PackChunk(TStream &source, int64_t &remaining);
  void ChangeBackupVolume();
  void CloseArchive();

  // Restore steps.
  void ReadHeader(TStream &source);
  void RestoreRecords();
  void RestoreMember(const std::string &name);
  bool TargetFor(const std::string &name, std::string &target) const;
  bool DecideRestore() const;
  void FinishTarget(std::unique_ptr<TStream> &target);
  void ChangeRestoreVolume(const std::string &name);
  void ReadMemberData(TStream *target);
  int64_t InflateBlock(const uint8_t *data, int32_t length, TStream &target);

  void Fail(int32_t code);
  TPercentage PercentDone() const;
  void RaiseProgress(const std::string &filename, TPercentage percent);
  void AskForDisk(uint16_t disk);

  std::string FBackupTitle;
  TBackupMode FBackupMode = bmAll;
  TCompressionLevel FCompressionLevel = clFastest;
  TRestoreMode FRestoreMode = rmAll;
  int32_t FMaxSize = 0;
  bool FSetArchiveFlag = false;
  bool FRestoreFullPath = false;
  bool FSaveFileID = false;

  int32_t FFileCount = 0;
  int32_t FFilesProcessed = 0;
  int64_t FTotalSize = 0;
  int64_t FBytesProcessed = 0;
  std::string FCurrentFile;
  bool FBusy = false;
  bool FContinue = false;
  int32_t FErrorCode = 0;
  TStream *FBackupStream = nullptr;
  TStream *FRestoreStream = nullptr;
  std::vector<std::string> FUnsafeNames;

  // Per-run working state.
  bool FStreamMode = false;
  std::string FArchivePath;
  std::string FDest;
  std::vector<std::string> FFileList;
  std::unordered_set<std::string> FListed;
  std::string FFileIdPath;
  uint16_t FVolumeNumber = 0;
  std::unique_ptr<TStream> FVolume; // the open archive file (not used with ":STREAM")
  std::unique_ptr<TArchiveWriter> FWriter;
  std::unique_ptr<TArchiveReader> FReader;
  std::unique_ptr<TBlockDeflater> FDeflater;
  std::unique_ptr<TBlockInflater> FInflater;
  int32_t FFileDate = 0;
  bool FDoRestore = false;
};

} // namespace vantari
