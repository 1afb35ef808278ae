#pragma once

#include "NativeHandle.h"
#include "OsError.h"

#include <optional>
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

// What stands at path, a link not followed; nothing when nothing does (or it cannot be asked).
std::optional<TEntryKind> EntryKindOf(const std::string &path);

// Makes one folder (not its parents) private to the user; fails when it exists.
TOsResult MakeFolder(const std::string &path);

// Renames a file or folder within one volume, never over an existing name.
TOsResult MoveNoReplace(const std::string &from, const std::string &to);

// Renames a file within one volume, replacing a file of the target name; on disk on return.
TOsResult MoveReplacing(const std::string &from, const std::string &to);

// Copies the file from to the new name to (never over an existing one) with its last-write
// time; a link is copied as a link, also when its target is gone.
TOsResult CopyEntry(const std::string &from, const std::string &to);

// Removes path and, for a folder, everything below it, a link removed as itself and never
// followed. One pass, at most MaxTreeDepth folders deep; on Windows also names the system
// otherwise cannot open (a trailing dot or blank). Succeeds when nothing of that name is left.
constexpr int MaxTreeDepth = 64;
TOsResult RemoveTree(const std::string &path);

// Makes the entries of a folder (new names, renames, removals) durable; never follows a link.
bool SyncFolder(const std::string &folder);

// Flushes a file's content to disk; false when it cannot be opened (never through a link).
bool SyncFile(const std::string &path);

// Removes a file or an empty folder; succeeds when nothing of that name is left.
TOsResult RemoveEntry(const std::string &path);

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
