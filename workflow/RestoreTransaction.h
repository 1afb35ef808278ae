#pragma once

#include "RestoreJournal.h"

#include <functional>
#include <string>
#include <vector>

namespace vantari {

// Replaces the plain files of the data folder as one transaction: the new files are staged
// in the Backup folder (same file system), flushed, the current files move into a snapshot
// folder "Backup/<kind>-YYYYMMDD-HHMMSS/", and the staged files move in, all by rename. A
// journal in the Backup folder records the step, so that a run cut short anywhere is rolled
// back by Recover to the data as it was. The last three snapshots are kept.
class TRestoreTransaction {
public:
  // Fills the (empty) staging folder; false or an exception abandons the transaction.
  using TStage = std::function<bool(const std::string &staging)>;

  TRestoreTransaction(std::string dataFolder, std::string backupFolder);

  // Runs the whole transaction. kind names the snapshot ("before-download"); consumed names a
  // snapshot folder to remove once the new data is in place (the one an undo restored; never
  // written in the journal, so that no journal can name a snapshot to remove). True
  // when the data folder holds the staged files; false, or the stage's exception, with the data
  // folder as it was and the staging folder gone; also when another process holds a file of the
  // data folder open once the staging is done. False at once while another process runs a
  // transaction over the same Backup folder.
  bool Run(const std::string &kind, const TStage &stage, const std::string &consumed = {});
  // Called once the staging folder is complete and on disk, before the data folder changes.
  std::function<void()> OnStaged;
  // The snapshot the last successful Run made.
  const std::string &SnapshotFolder() const { return FSnapshotFolder; }

  // Rolls back (or, once committed, finishes) a run that was cut short; true when the data
  // folder is as a finished or abandoned run leaves it. False, touching nothing, while another
  // process runs a transaction over the same Backup folder. Raises, touching nothing, for a
  // journal that cannot be read or names what a run of this program never leaves.
  bool Recover();

  // Snapshot folder names in the Backup folder, oldest first.
  std::vector<std::string> Snapshots() const;
  // "<backup folder>/staging".
  std::string StagingFolder() const;

private:
  bool RecoverHeld();
  bool Credible(const TRestoreJournal &journal) const;
  bool Swap(TRestoreJournal &journal);
  bool RollBack(const TRestoreJournal &journal);
  bool Finish(const TRestoreJournal &journal);
  std::string NewSnapshotName(const std::string &kind) const;

  std::string FDataFolder;
  std::string FBackupFolder;
  std::string FSnapshotFolder;
};

// Plain files of folder (not hidden, no folders, links or devices), by name.
std::vector<std::string> PlainFilesOf(const std::string &folder);
// Copies the plain files of one folder into another with their dates (links as links); false
// on any failure.
bool CopyPlainFiles(const std::string &from, const std::string &to);
// Renames each table file of staging that folder holds under another case ("sale.db" from an
// archive written on Windows, "Sale.DB" in the data folder) to the folder's name, so that the
// swap replaces the table instead of adding a second one. False when a rename fails.
bool TakeExistingNames(const std::string &staging, const std::string &folder);
// Flushes every plain file of folder and the folder itself to disk.
bool SyncFolderFiles(const std::string &folder);

// Test hook: called with the name of each step a transaction reaches ("staged", "snapshot",
// "snapshot-moving", "install", "installing", "committed", "rolling-back", ...); a test's hook may
// end the process there to show that the next start rolls back. Empty in the program.
using TRestoreStopHook = std::function<void(const char *step)>;
void SetRestoreStopHook(TRestoreStopHook hook);
void RestoreStopPoint(const char *step);

} // namespace vantari
