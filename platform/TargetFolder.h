#pragma once

#include "NativeHandle.h"
#include "Stream.h"

#include <cstdint>
#include <string>
#include <utility>

namespace vantari {

// What stands under a name in a folder, a link not followed.
struct TTargetEntry {
  bool Folder = false;  // a folder itself (a link to one is not)
  int32_t FileDate = 0; // its last-write time as an MS-DOS date
};

// An open folder. Below the folder it was opened on, nothing is ever reached through a
// symbolic link (on Windows: a reparse point): sub-folders are opened without following
// one, files are only ever created under new names and renamed into place (a rename
// replaces a link, it never writes through it). On Windows an open folder cannot be
// renamed or removed (it is held without delete sharing), so its path stays its own.
class TTargetFolder {
public:
  TTargetFolder() = default;
  ~TTargetFolder();
  TTargetFolder(TTargetFolder &&other) noexcept;
  TTargetFolder &operator=(TTargetFolder &&other) noexcept;
  TTargetFolder(const TTargetFolder &) = delete;
  TTargetFolder &operator=(const TTargetFolder &) = delete;

  // The folder path as the caller names it (links followed: it is the caller's choice),
  // made with its parents when create is set. Not open when that fails.
  static TTargetFolder Open(const std::string &path, bool create);
  // The sub-folder name, never through a link; made when missing and create is set.
  TTargetFolder Sub(const std::string &name, bool create) const;
  // The entry that is name, or else the first (by byte order) whose name equals it
  // without regard to ASCII letter case and is a folder (folder true) or not (false);
  // empty when there is none.
  std::string Match(const std::string &name, bool folder) const;
  // What stands under name; false when there is nothing.
  bool Entry(const std::string &name, TTargetEntry &entry) const;

  bool IsOpen() const { return FFd != InvalidNativeHandle; }
  TNativeHandle Handle() const { return FFd; }
  // The folder's path (Windows names entries through it; POSIX through the descriptor).
  const std::string &Path() const { return FPath; }

private:
  TTargetFolder(TNativeHandle fd, std::string path) : FFd(fd), FPath(std::move(path)) {}
  TNativeHandle FFd = InvalidNativeHandle;
  std::string FPath;
};

// A file written under a temporary name beside its target and put in place by rename
// only once complete, so the target is either what it was or the whole new file. The
// temporary file (".vantari-XXXXXXXX.tmp") is removed unless Commit succeeded.
class TReplacementFile : public TStream {
public:
  // Raises EFCreateError "Cannot create file ..." when the temporary file cannot be made.
  TReplacementFile(const TTargetFolder &folder, const std::string &name);
  ~TReplacementFile() override;
  TReplacementFile(const TReplacementFile &) = delete;
  TReplacementFile &operator=(const TReplacementFile &) = delete;

  int64_t Read(void *buffer, int64_t count) override;
  int64_t Write(const void *buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int64_t Size() override;

  // Sets the last-write time (an MS-DOS date; -1 keeps the present one), flushes the
  // content to disk when durable is set, and closes the file; raises EWriteError when
  // any of it fails.
  void Finish(int32_t fileDate, bool durable = true);
  // Renames the finished file over its target; raises EWriteError on failure (the
  // temporary file is then removed). The folder entry is not flushed: see SyncFolder.
  void Commit();
  // Whether a file (or anything but a folder) stands at the target now.
  bool ReplacesExisting() const;
  // Flushes the folder's entries (the renames) to disk.
  void SyncFolder() const;
  const std::string &Name() const { return FName; }
  // Removes the temporary files a killed run left in folder: those of its naming that no
  // living writer holds (a writer keeps its file locked from the moment it made it).
  static void RemoveAbandoned(const TTargetFolder &folder);

private:
  void Discard();

  TNativeHandle FFolder = InvalidNativeHandle; // a duplicate of the folder's own
  TNativeHandle FFd = InvalidNativeHandle;
  // Keeps the file claimed after Finish: a locked duplicate of FFd on POSIX, on Windows the
  // handle itself (no delete sharing), through which it is renamed or removed.
  TNativeHandle FLock = InvalidNativeHandle;
  std::string FFolderPath;
  std::string FName;
  std::string FTempName;
  bool FCommitted = false;
};

} // namespace vantari
