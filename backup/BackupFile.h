#pragma once

#include "Exception.h"
#include "Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vantari {

class TArchiveWriter;
class TMemberWriter;
class TPackPipeline;
class TReplacementFile;
class TTargetFolder;
struct TPackedChunk;

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

// Error codes of a run (ErrorCode(), OnError); 0 is success.
enum TBackupError : int32_t {
  beNone = 0,
  beReadFile = 1,     // "Cannot read file"
  beOverwrite = 2,    // "Overwriting file failed" (not produced)
  beReadArchive = 3,  // "Cannot read archive"
  beWriteArchive = 4, // "Cannot write to archive"
  beArchiveType = 5,  // "Invalid archive type"
  beCompression = 6,  // "Compression error"
  beFileIDs = 7,      // "Cannot create temporary file to save the file IDs"
  beWriteFile = 8,    // "Cannot write file NAME": a restored member could not be written
};

// What is wrong with a damaged archive.
enum TArchiveFault : uint8_t {
  afNone,
  afHeader,        // the header cannot be read
  afCutShort,      // the archive ends inside a field, or a length runs past its end
  afArchiveType,   // a segment's magic is wrong
  afBlockLength,   // a block longer than 16384 bytes
  afInflate,       // a compressed block is not one whole zlib stream of at most 16384 bytes
  afContinuation,  // a continuation record that continues nothing or names no volume
  afVolumeOrder,   // a continuation to a volume that is not after the current one
  afVolumeMissing, // the next volume is not there
};

// Failures the engine raises instead of turning them into an error code
// ("Cannot read archive", "Invalid archive type", "Stream read error").
class EBackupError : public Exception {
  using Exception::Exception;
};

// A damaged archive: Message() is the established text, Detail() says what and where.
class EArchiveFault : public EBackupError {
public:
  EArchiveFault(TArchiveFault fault, const std::string &message, std::string detail)
      : EBackupError(message), FFault(fault), FDetail(std::move(detail)) {}
  TArchiveFault Fault() const { return FFault; }
  const std::string &Detail() const { return FDetail; }

private:
  TArchiveFault FFault;
  std::string FDetail;
};

// A member as a listing shows it.
struct TArchiveMember {
  std::string Name; // as stored (CP949), "FILE:LIST" included
  int32_t FileDate = 0;
  int64_t Size = 0; // decoded content length over all its segments (when decoded)
};

// A file the last Backup packed: its length and the bytes its blocks took in the archive
// (block headers included), which tells how well it compressed.
struct TPackedMember {
  std::string Path; // the local file, as found
  int64_t Size = 0;
  int64_t Stored = 0;
};

// What ListMembers reads from an archive.
struct TArchiveContents {
  std::string Title; // as stored (CP949)
  int32_t TotalSize = 0;
  int32_t FileCount = 0;
  std::vector<TArchiveMember> Members; // in archive order
  int Volumes = 0;
  std::string Failure; // what is wrong with a damaged archive, else empty
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
  // when the end marker was written; false with ErrorCode 0 means cancelled. The archive
  // (and each further volume) is written under a temporary name beside it and renamed
  // over the previous one only when the whole run succeeded; a failed or cancelled run
  // leaves the previous archive as it was.
  bool Backup(const std::vector<std::string> &Masks, const std::string &ArchivePath);

  // Restores ArchivePath (or RestoreStream for ":STREAM") into DestFolder.
  //  - Whole files or none: each member is written to a temporary file beside its target
  //    (".vantari-XXXXXXXX.tmp"), dated, flushed to disk when it replaces a file, and
  //    renamed over the target only when its last segment is complete (folder entries
  //    are not flushed: a host that needs the restore durable syncs the folder). Whatever stops the
  //    run (damage, a full disk, Continue set to false in OnProgress or OnNeedDisk, an exception)
  //    removes the temporary file of the member in progress: its target is left as it was. Members
  //    completed before the stop stay restored.
  //  - Confined: names from the archive are created below DestFolder only, relative to
  //    an open handle of it; no symbolic link below DestFolder is followed (a link where
  //    a member goes is replaced by the member; a link where a folder of a member goes
  //    makes the member be stepped over, like a folder that cannot be made). Names that
  //    would leave the folder are stepped over and kept in UnsafeNames. With an empty
  //    DestFolder the stored paths are used as they are (from "/").
  //  - A member whose name matches an existing file's without regard to letter case is
  //    restored onto that file, keeping its name; the restore modes see that file.
  //  - Failures: false with ErrorCode beReadFile (damage inside a member being written),
  //    beCompression, or beWriteFile (FailedFile() names the target that could not be
  //    written: "Cannot write file NAME"); false with ErrorCode 0 when cancelled. Damage
  //    met anywhere else raises EArchiveFault (an EBackupError) with the established
  //    text, "Cannot read archive" for an unreadable header or a volume chain that does
  //    not go forward.
  bool Restore(const std::string &ArchivePath, const std::string &DestFolder);
  // Read-only walk over everything a restore would meet (header, records, magics, block
  // bounds, every block inflating cleanly, the volume chain, the end marker). Follows
  // volumes that are present without asking; never writes, never raises for damage.
  bool Verify(const std::string &ArchivePath);
  // Reads the title, the header totals and every member's stored name and date (for a
  // preview) without writing anything and without asking for volumes (later volumes
  // must be present). Blocks are stepped over unless Decode is set, which also checks
  // them and fills in each member's Size. True when the archive is sound as far as read;
  // otherwise Contents.Failure says what is wrong (the members read so far are kept).
  // ArchivePath ":STREAM" reads RestoreStream (left where it was).
  bool ListMembers(const std::string &ArchivePath, TArchiveContents &Contents, bool Decode = false);
  // Shows the message of Error through OnError, or the engine's error box.
  void ReportError(int32_t Error);
  // The message of an error code; beWriteFile names FileName.
  static std::string ErrorMessage(int32_t Error, const std::string &FileName = std::string());

  // Properties.
  std::string Version() const { return "5.10"; }
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
  // Threads that compress blocks during Backup (1 or more, default 2). The archive's
  // bytes do not depend on it.
  int PackThreads() const { return FPackThreads; }
  void SetPackThreads(int value) { FPackThreads = value < 1 ? 1 : value; }

  // Events; empty means unassigned. Setting Continue to false in OnProgress or
  // OnNeedDisk stops the running Backup or Restore (see there for what it leaves).
  TProgressEvent OnProgress;
  TNeedDiskEvent OnNeedDisk;
  TRestoreFileEvent OnRestoreFile;
  // Raised after each segment a restore wrote, with the member's temporary file (its
  // content so far). A handler that replaces the stream takes the member over: the
  // engine dates and closes the replacement and writes nothing more of that member.
  TFileRestoredEvent OnFileRestored;
  TBackupErrorEvent OnError;

  // Run state, readable after a run. Sizes are 64-bit; the archive header carries them
  // clamped to 32 bits.
  int32_t FileCount() const { return FFileCount; }
  int32_t FilesProcessed() const { return FFilesProcessed; }
  int64_t TotalSize() const { return FTotalSize; }
  int64_t BytesProcessed() const { return FBytesProcessed; }
  // The files the last Backup packed, in archive order (the file-ID list not among them).
  const std::vector<TPackedMember> &PackedMembers() const { return FPackedMembers; }
  const std::string &CurrentFile() const { return FCurrentFile; }
  bool Busy() const { return FBusy; }
  bool Continue() const { return FContinue; }
  int32_t ErrorCode() const { return FErrorCode; }
  // The target a restore could not write (ErrorCode beWriteFile), else empty.
  const std::string &FailedFile() const { return FFailedFile; }
  // What the system said when a file call ended the run (a full disk, a denied write), else
  // success: the caller tells the person why, not only that.
  const TOsResult &ErrorCause() const { return FErrorCause; }
  TStream *BackupStream() const { return FBackupStream; }
  void SetBackupStream(TStream *stream) { FBackupStream = stream; }
  TStream *RestoreStream() const { return FRestoreStream; }
  void SetRestoreStream(TStream *stream) { FRestoreStream = stream; }
  // Stored names (UTF-8) of members the last Restore refused because their path would
  // leave the destination folder or names no file; they were stepped over.
  const std::vector<std::string> &UnsafeNames() const { return FUnsafeNames; }
  // Stored names (UTF-8) of members the last flat Restore did not keep because another
  // member of the run, stored one folder up, has the same target: a Linux name holding '\'
  // ("Sale.old\Item.DB") reads as a file in a folder and must never replace that file.
  const std::vector<std::string> &ClashingNames() const { return FClashingNames; }

private:
  class TRestorer;
  friend class TRestorer;

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
  void OpenVolume(const std::string &path);
  void PackEntry(size_t index);
  void PackContent(TStream &source, int64_t &remaining);
  void ReadAhead(TStream &source, int64_t &remaining);
  void WriteBlock(const TPackedChunk &chunk);
  bool ChangeBackupVolume();
  void CloseArchive(bool complete);

  // Restore steps.
  void RestoreMember(const std::string &name, int32_t fileDate);
  bool TargetFor(const std::string &name, std::string &base, std::vector<std::string> &parts) const;
  void ResolveTarget(const std::string &base, std::vector<std::string> &parts, bool &exists,
                     int32_t &date);
  bool DecideRestore(bool exists, int32_t date) const;
  bool ClashesWithEarlierMember(const std::string &name, bool &exists, int32_t &date);
  void OpenOutput(const std::string &base, const std::vector<std::string> &parts);
  void WriteOutput(const uint8_t *data, int32_t count);
  void SegmentWritten();
  void CommitOutput();
  bool NextRestoreVolume(uint16_t disk, const std::string &path);
  void WriteFailed();

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
  int FPackThreads = 2;

  int32_t FFileCount = 0;
  int32_t FFilesProcessed = 0;
  int64_t FTotalSize = 0;
  int64_t FBytesProcessed = 0;
  std::string FCurrentFile;
  bool FBusy = false;
  bool FContinue = false;
  int32_t FErrorCode = 0;
  TOsResult FErrorCause;
  std::string FFailedFile;
  TStream *FBackupStream = nullptr;
  TStream *FRestoreStream = nullptr;
  std::vector<std::string> FUnsafeNames;
  std::vector<std::string> FClashingNames;
  std::vector<TPackedMember> FPackedMembers;
  bool FPackingMember = false; // the blocks being written belong to the last packed member

  // Per-run working state.
  bool FStreamMode = false;
  std::string FArchivePath;
  std::string FDest;
  std::vector<std::string> FFileList;
  std::unordered_set<std::string> FListed;
  std::string FFileIdPath;
  uint16_t FVolumeNumber = 0;
  std::unique_ptr<TTargetFolder> FArchiveFolder;           // folder of the archive being written
  std::vector<std::unique_ptr<TReplacementFile>> FVolumes; // volumes written, last one open
  std::unique_ptr<TArchiveWriter> FWriter;
  std::unique_ptr<TPackPipeline> FPipeline;
  int32_t FFileDate = 0;
  bool FDoRestore = false;
  std::unique_ptr<TStream> FOutput;             // the member being restored
  std::unique_ptr<TMemberWriter> FMemberWriter; // writes FOutput while a restore runs
  TReplacementFile *FMemberFile = nullptr;      // FOutput while it is the engine's own file
  bool FSegmentOpen = false;                    // inside a segment of a member being written
  bool FContinuation = false;                   // that segment is in a later volume
  // A flat restore's targets so far: the member that went there and what stood there before.
  struct TWrittenTarget {
    std::string Member;
    bool Existed = false;
    int32_t Date = 0;
  };
  std::unordered_map<std::string, TWrittenTarget> FWritten;
};

} // namespace vantari
