#pragma once

#include "NativeHandle.h"

#include <string>
#include <vector>

namespace vantari {

// Folders as the restore transaction and the extractor use them: listed without following
// links, locked against a second run, changed only by renames that never replace and made
// durable before the next step. POSIX and Windows implementations behind one interface.

enum class TEntryKind { ekFile, ekFolder, ekLink, ekOther };

struct TFolderEntry {
  std::string Name;
  TEntryKind Kind = TEntryKind::ekOther; // of the entry itself, a link not followed
  bool LinksToFolder = false;            // for ekLink: its target is a folder
};

// Entries of folder in name order, "." and ".." left out; empty when it cannot be read.
std::vector<TFolderEntry> ListFolder(const std::string &folder);

// Makes one folder (not its parents) private to the user; false when it exists or fails.
bool MakeFolder(const std::string &path);

// Renames a file or folder within one volume, never over an existing name; false otherwise.
bool MoveNoReplace(const std::string &from, const std::string &to);

// Makes the entries of a folder (new names, renames, removals) durable; never follows a link.
bool SyncFolder(const std::string &folder);

// Flushes a file's content to disk; false when it cannot be opened (never through a link).
bool SyncFile(const std::string &path);

// Removes a file or an empty folder; true when nothing of that name is left.
bool RemoveEntry(const std::string &path);

// Whether a process other than this one holds a regular file directly in folder open, so
// that moving or deleting it would lose what that process saves next.
bool AnyFileInUse(const std::string &folder);

// The program files of the processes other than this one that hold a regular file directly in
// folder open, one entry per process; "" for a holder whose program cannot be told (another
// user's process; on Windows a file that only shows as held). Empty when nothing is held.
std::vector<std::string> ProgramsHoldingFiles(const std::string &folder);

// Whether a TFolderLock over folder is held now, by this process or another; only asks, never
// keeping a holder-to-be waiting. False when the folder has no lock or cannot be opened.
bool FolderLockTaken(const std::string &folder);

// Starts writing a file's data out to disk and returns at once: a hint that lets a later
// SyncFile find the work done. Never follows a link; failures show in that later sync.
void StartWriteBack(const std::string &path);

// One holder at a time over a folder, across processes; released when destroyed. Where the
// file system cannot lock, Held() is true and nothing waits.
class TFolderLock {
public:
  explicit TFolderLock(const std::string &folder);
  ~TFolderLock();
  TFolderLock(const TFolderLock &) = delete;
  TFolderLock &operator=(const TFolderLock &) = delete;
  // False while another holder has the folder (or it cannot be opened).
  bool Held() const { return FHeld; }

private:
  TNativeHandle FFolder = InvalidNativeHandle;
  bool FHeld = false;
};

} // namespace vantari
