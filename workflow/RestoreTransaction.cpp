#include "RestoreTransaction.h"

#include "ArchivePreview.h"
#include "DataTables.h"
#include "DosDate.h"
#include "Exception.h"
#include "FileSystem.h"
#include "FilesInUse.h"
#include "FolderOps.h"
#include "RestoreJournal.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <regex>

namespace vantari {

namespace {

constexpr size_t KeptSnapshots = 3;

TRestoreStopHook &StopHook() {
  static TRestoreStopHook hook;
  return hook;
}

void RemoveTree(const std::string &path) {
  std::error_code error; // whatever stays is removed by the next run
  std::filesystem::remove_all(path, error);
}

// Snapshot names: "<kind>-YYYYMMDD-HHMMSS" with "-N" for a second one in the same second.
const std::regex &SnapshotPattern() {
  static const std::regex pattern(R"(before-[a-z]+-(\d{8}-\d{6})(?:-(\d{1,6}))?)");
  return pattern;
}

bool IsSnapshotName(const std::string &name) {
  return std::regex_match(name, SnapshotPattern());
}

// What stands at path, a link not followed: a real folder, nothing, or something else.
enum class TPathKind { pkFolder, pkNone, pkOther };
TPathKind KindOf(const std::string &path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (status.type() == fs::file_type::not_found)
    return TPathKind::pkNone;
  return !error && status.type() == fs::file_type::directory ? TPathKind::pkFolder
                                                             : TPathKind::pkOther;
}

bool Exists(const std::string &path) {
  return KindOf(path) != TPathKind::pkNone;
}

} // namespace

void SetRestoreStopHook(TRestoreStopHook hook) {
  StopHook() = std::move(hook);
}

void RestoreStopPoint(const char *step) {
  if (StopHook())
    StopHook()(step);
}

std::vector<std::string> PlainFilesOf(const std::string &folder) {
  std::vector<std::string> names;
  for (const TFolderEntry &entry : ListFolder(folder))
    // A link moves as a link; one to a folder counts as a folder, as a listing shows it.
    if (entry.Name[0] != '.' && (entry.Kind == TEntryKind::ekFile ||
                                 (entry.Kind == TEntryKind::ekLink && !entry.LinksToFolder)))
      names.push_back(entry.Name);
  return names;
}

bool TakeExistingNames(const std::string &staging, const std::string &folder) {
  const std::vector<std::string> staged = PlainFilesOf(staging);
  const std::vector<std::string> existing = PlainFilesOf(folder);
  const auto holds = [](const std::vector<std::string> &names, const std::string &name) {
    return std::binary_search(names.begin(), names.end(), name);
  };
  for (const std::string &name : staged) {
    if (!IsDataTableFile(name) || holds(existing, name))
      continue;
    const auto match = std::find_if(existing.begin(), existing.end(), [&](const std::string &old) {
      return SameNameIgnoringCase(old, name) && !holds(staged, old);
    });
    // Two staged names for one table: the second keeps its own.
    if (match != existing.end() && !MoveNoReplace(staging + "/" + name, staging + "/" + *match) &&
        !Exists(staging + "/" + *match))
      return false;
  }
  return true;
}

bool SyncFolderFiles(const std::string &folder) {
  if (!DirectoryExists(folder))
    return false;
  for (const TFolderEntry &entry : ListFolder(folder))
    if (entry.Kind == TEntryKind::ekFile && !SyncFile(folder + "/" + entry.Name))
      return false;
  return SyncFolder(folder);
}

TRestoreTransaction::TRestoreTransaction(std::string dataFolder, std::string backupFolder)
    : FDataFolder(std::move(dataFolder)), FBackupFolder(std::move(backupFolder)) {}

std::string TRestoreTransaction::StagingFolder() const {
  return FBackupFolder + "/staging";
}

bool TRestoreTransaction::Run(const std::string &kind, const TStage &stage,
                              const std::string &consumed) {
  FSnapshotFolder.clear();
  if (!ForceDirectories(FBackupFolder))
    return false;
  // One transaction at a time over a Backup folder, whatever process runs it (the window and a
  // timer's command line, or the program started twice).
  const TFolderLock lock(FBackupFolder);
  if (!lock.Held() || !RecoverHeld())
    return false;
  // No journal yet: a run cut short while staging leaves only the staging folder, which the
  // next start removes as it finds no journal.
  const std::string staging = StagingFolder();
  RestoreStopPoint("begun");
  RemoveTree(staging);
  bool staged = false;
  try {
    staged = MakeFolder(staging) && stage(staging);
    RestoreStopPoint("unpacked");
    staged = staged && SyncFolderFiles(staging);
  } catch (...) {
    RollBack(TRestoreStep::rsStaging, {}, consumed);
    throw;
  }
  if (!staged) {
    RollBack(TRestoreStep::rsStaging, {}, consumed);
    return false;
  }
  RestoreStopPoint("staged");
  // Unpacking takes a while; the accounting program may have been started meanwhile. Files it
  // holds must not be moved from under it: what it saved would go into the snapshot.
  if (FilesInUse(FDataFolder)) {
    RollBack(TRestoreStep::rsStaging, {}, consumed);
    return false;
  }
  if (OnStaged)
    OnStaged();
  const std::string snapshot = NewSnapshotName(kind);
  TRestoreStep reached = TRestoreStep::rsStaging;
  if (!Swap(snapshot, consumed, reached)) {
    RollBack(reached, snapshot, consumed);
    return false;
  }
  FSnapshotFolder = FBackupFolder + "/" + snapshot;
  Finish(consumed, snapshot);
  return true;
}

// The data folder's files go into the snapshot, then the staged ones come in; reached says how
// far it got.
bool TRestoreTransaction::Swap(const std::string &snapshot, const std::string &consumed,
                               TRestoreStep &reached) {
  const std::string snapshotFolder = FBackupFolder + "/" + snapshot;
  const std::string staging = StagingFolder();
  if (!TRestoreJournal::Write(FBackupFolder, {TRestoreStep::rsSnapshot, snapshot, consumed}))
    return false;
  reached = TRestoreStep::rsSnapshot;
  RestoreStopPoint("snapshot");
  if (!MakeFolder(snapshotFolder))
    return false;
  for (const std::string &name : PlainFilesOf(FDataFolder)) {
    if (!MoveNoReplace(FDataFolder + "/" + name, snapshotFolder + "/" + name))
      return false;
    RestoreStopPoint("snapshot-moving");
  }
  if (!TRestoreJournal::Write(FBackupFolder, {TRestoreStep::rsInstall, snapshot, consumed},
                              {snapshotFolder, FDataFolder}))
    return false;
  reached = TRestoreStep::rsInstall;
  RestoreStopPoint("install");
  for (const std::string &name : PlainFilesOf(staging)) {
    if (!MoveNoReplace(staging + "/" + name, FDataFolder + "/" + name))
      return false;
    RestoreStopPoint("installing");
  }
  if (!TRestoreJournal::Write(FBackupFolder, {TRestoreStep::rsCommitted, snapshot, consumed},
                              {FDataFolder, staging}))
    return false;
  reached = TRestoreStep::rsCommitted;
  RestoreStopPoint("committed");
  return true;
}

// Puts the data folder back as it was before the run; the journal stays when that fails, so
// that the next start tries again.
bool TRestoreTransaction::RollBack(TRestoreStep step, const std::string &snapshot,
                                   const std::string &consumed) {
  const std::string staging = StagingFolder();
  bool ok = true;
  if (step == TRestoreStep::rsInstall) {
    // Every plain file in the data folder now is a staged one: the old ones are all in the
    // snapshot.
    for (const std::string &name : PlainFilesOf(FDataFolder))
      ok = MoveNoReplace(FDataFolder + "/" + name, staging + "/" + name) && ok;
    // From here on the data folder fills with old files again: a rollback cut short now must
    // go on moving them back, not take them for staged ones. On a full disk the journal may
    // not change; the old files come back all the same.
    if (ok && SyncFolder(FDataFolder) && SyncFolder(staging))
      TRestoreJournal::Write(FBackupFolder, {TRestoreStep::rsSnapshot, snapshot, consumed});
  }
  const std::string snapshotFolder = FBackupFolder + "/" + snapshot;
  if (ok && step != TRestoreStep::rsStaging && !snapshot.empty() &&
      DirectoryExists(snapshotFolder)) {
    for (const std::string &name : PlainFilesOf(snapshotFolder)) {
      ok = MoveNoReplace(snapshotFolder + "/" + name, FDataFolder + "/" + name) && ok;
      RestoreStopPoint("rolling-back");
    }
    ok = ok && SyncFolder(FDataFolder) && RemoveEntry(snapshotFolder);
  }
  if (!ok)
    return false;
  RestoreStopPoint("rolled-back");
  RemoveTree(staging);
  return TRestoreJournal::Remove(FBackupFolder);
}

bool TRestoreTransaction::Finish(const std::string &consumed, const std::string &keep) {
  RemoveTree(StagingFolder());
  if (!consumed.empty() && consumed != keep)
    RemoveTree(FBackupFolder + "/" + consumed);
  std::vector<std::string> snapshots = Snapshots();
  std::erase(snapshots, keep);
  const size_t older = keep.empty() ? KeptSnapshots : KeptSnapshots - 1;
  for (size_t i = 0; i + older < snapshots.size(); ++i)
    RemoveTree(FBackupFolder + "/" + snapshots[i]);
  return TRestoreJournal::Remove(FBackupFolder);
}

bool TRestoreTransaction::Recover() {
  if (!DirectoryExists(FBackupFolder))
    return true; // no journal, no staging
  const TFolderLock lock(FBackupFolder);
  return lock.Held() && RecoverHeld();
}

bool TRestoreTransaction::RecoverHeld() {
  const auto journal = TRestoreJournal::Read(FBackupFolder);
  if (!journal) {
    RemoveTree(StagingFolder()); // a run killed while tidying up
    return true;
  }
  // The Backup folder may sit on a shared drive that others write: a journal is acted on only
  // where it describes a state a run of this program leaves.
  if (!Credible(*journal))
    throw EUntrustedJournal("Cannot trust the restore journal " +
                            TRestoreJournal::PathIn(FBackupFolder));
  if (journal->Step == TRestoreStep::rsCommitted)
    return Finish(journal->Consumed, journal->Snapshot);
  return RollBack(journal->Step, journal->Snapshot, journal->Consumed);
}

// Snapshot names are of the form this program makes, and name real folders of the Backup folder
// (never links) or, where a step may have removed it, nothing. Rolling back an install moves the
// data folder's files out: only when they can be the staged ones, the run's snapshot being the
// newest and the staging folder there.
bool TRestoreTransaction::Credible(const TRestoreJournal &journal) const {
  const auto kind = [this](const std::string &name) { return KindOf(FBackupFolder + "/" + name); };
  if (!journal.Consumed.empty() &&
      (!IsSnapshotName(journal.Consumed) || kind(journal.Consumed) == TPathKind::pkOther))
    return false;
  if (journal.Step == TRestoreStep::rsStaging)
    return journal.Snapshot.empty();
  if (!IsSnapshotName(journal.Snapshot))
    return false;
  const TPathKind snapshot = kind(journal.Snapshot);
  const std::vector<std::string> snapshots = Snapshots();
  const bool newest = !snapshots.empty() && snapshots.back() == journal.Snapshot;
  switch (journal.Step) {
  case TRestoreStep::rsSnapshot:
    return snapshot == TPathKind::pkNone || (snapshot == TPathKind::pkFolder && newest);
  case TRestoreStep::rsInstall:
    return snapshot == TPathKind::pkFolder && newest &&
           KindOf(StagingFolder()) == TPathKind::pkFolder;
  default:
    return snapshot == TPathKind::pkFolder;
  }
}

std::vector<std::string> TRestoreTransaction::Snapshots() const {
  struct TEntry {
    std::string Stamp;
    int Number;
    std::string Name;
  };
  std::vector<TEntry> entries;
  for (const TFolderEntry &entry : ListFolder(FBackupFolder)) {
    std::smatch match;
    if (entry.Kind == TEntryKind::ekFolder &&
        std::regex_match(entry.Name, match, SnapshotPattern()))
      entries.push_back(
          {match[1].str(), match[2].matched ? std::stoi(match[2].str()) : 1, entry.Name});
  }
  std::sort(entries.begin(), entries.end(), [](const TEntry &a, const TEntry &b) {
    return a.Stamp != b.Stamp ? a.Stamp < b.Stamp : a.Number < b.Number;
  });
  std::vector<std::string> names;
  for (const TEntry &entry : entries)
    names.push_back(entry.Name);
  return names;
}

std::string TRestoreTransaction::NewSnapshotName(const std::string &kind) const {
  const std::time_t now = std::time(nullptr);
  const std::tm local = LocalTime(now);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  // Numbered after every snapshot of the same second, whatever its kind: the order of the
  // names is the order they were made in.
  int number = 1;
  for (const std::string &existing : Snapshots()) {
    std::smatch match;
    if (std::regex_match(existing, match, SnapshotPattern()) && match[1].str() == stamp)
      number = std::max(number, (match[2].matched ? std::stoi(match[2].str()) : 1) + 1);
  }
  const std::string base = kind + "-" + stamp;
  std::string name = number == 1 ? base : base + "-" + std::to_string(number);
  std::error_code error;
  while (std::filesystem::exists(FBackupFolder + "/" + name, error))
    name = base + "-" + std::to_string(++number);
  return name;
}

bool CopyPlainFiles(const std::string &from, const std::string &to) {
  namespace fs = std::filesystem;
  for (const std::string &name : PlainFilesOf(from)) {
    const std::string source = from + "/" + name;
    const std::string target = to + "/" + name;
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(source, error))) {
      // A link moved in as a link goes back as one, also when its target is gone.
      fs::copy_symlink(source, target, error);
      if (error)
        return false;
      RestoreStopPoint("copying");
      continue;
    }
    fs::copy_file(source, target, fs::copy_options::none, error);
    if (error)
      return false;
    const fs::file_time_type written = fs::last_write_time(source, error);
    if (error)
      return false;
    fs::last_write_time(target, written, error);
    if (error)
      return false;
    RestoreStopPoint("copying");
  }
  return true;
}

} // namespace vantari
