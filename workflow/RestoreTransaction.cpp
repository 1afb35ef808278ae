#include "RestoreTransaction.h"

#include "ArchivePreview.h"
#include "DataTables.h"
#include "DosDate.h"
#include "Exception.h"
#include "FileSystem.h"
#include "FilesInUse.h"
#include "FolderOps.h"
#include "RestoreJournal.h"

#include "DurableFile.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <regex>

namespace vantari {

namespace {

constexpr size_t KeptSnapshots = 3;
// Snapshot names of one second beyond this many are refused rather than searched for ever.
constexpr int MaxSnapshotsPerSecond = 1000;

TRestoreStopHook &StopHook() {
  static TRestoreStopHook hook;
  return hook;
}

void RemoveTreeQuietly(const std::string &path) {
  (void)RemoveTree(path); // whatever stays is removed by the next run
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
  const std::optional<TEntryKind> kind = EntryKindOf(path);
  if (!kind)
    return TPathKind::pkNone;
  return *kind == TEntryKind::ekFolder ? TPathKind::pkFolder : TPathKind::pkOther;
}

bool IsPlainFile(const TFolderEntry &entry) {
  // A link moves as a link; one to a folder counts as a folder, as a listing shows it.
  return entry.Name[0] != '.' && (entry.Kind == TEntryKind::ekFile ||
                                  (entry.Kind == TEntryKind::ekLink && !entry.LinksToFolder));
}

// The count and total size of the plain files of folder (a link counts, without a size).
TStagedFiles StagedFilesOf(const std::string &folder) {
  TStagedFiles files;
  for (const TFolderEntry &entry : ListFolder(folder))
    if (IsPlainFile(entry)) {
      ++files.Count;
      if (entry.Kind == TEntryKind::ekFile)
        files.Bytes += std::max<int64_t>(FileSize(folder + "/" + entry.Name), 0);
    }
  return files;
}

bool WriteToken(const std::string &folder, const std::string &token) {
  return static_cast<bool>(
      ReplaceFileDurably(folder + "/" + TRestoreJournal::TokenName, token, 0600));
}

// Whether folder carries the run's token.
bool CarriesToken(const std::string &folder, const std::string &token) {
  std::string content;
  return !token.empty() &&
         ReadSmallFile(folder + "/" + TRestoreJournal::TokenName, 256, content) ==
             TSmallRead::srRead &&
         content == token;
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
    if (IsPlainFile(entry))
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
        !EntryKindOf(staging + "/" + *match))
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
  TRestoreJournal journal{TRestoreStep::rsStaging, {}, TRestoreJournal::NewToken(), {}};
  RestoreStopPoint("begun");
  RemoveTreeQuietly(staging);
  bool staged = false;
  try {
    staged = MakeFolder(staging) && stage(staging);
    RestoreStopPoint("unpacked");
    // The token comes after the stage: a member of its name is overwritten, never trusted.
    staged = staged && WriteToken(staging, journal.Token) && SyncFolderFiles(staging);
  } catch (...) {
    RollBack(journal);
    throw;
  }
  if (!staged) {
    RollBack(journal);
    return false;
  }
  RestoreStopPoint("staged");
  // Unpacking takes a while; the accounting program may have been started meanwhile. Files it
  // holds must not be moved from under it: what it saved would go into the snapshot.
  if (FilesInUse(FDataFolder)) {
    RollBack(journal);
    return false;
  }
  if (OnStaged)
    OnStaged();
  journal.Snapshot = NewSnapshotName(kind);
  journal.Staged = StagedFilesOf(staging);
  if (journal.Snapshot.empty() || !Swap(journal)) {
    RollBack(journal);
    return false;
  }
  FSnapshotFolder = FBackupFolder + "/" + journal.Snapshot;
  // The snapshot an undo restored from is used up; it is never named in the journal, so a
  // run cut short here leaves it as one more snapshot.
  if (!consumed.empty() && consumed != journal.Snapshot && IsSnapshotName(consumed))
    RemoveTreeQuietly(FBackupFolder + "/" + consumed);
  Finish(journal);
  return true;
}

// The data folder's files go into the snapshot, then the staged ones come in; journal.Step says
// how far it got.
bool TRestoreTransaction::Swap(TRestoreJournal &journal) {
  const std::string snapshotFolder = FBackupFolder + "/" + journal.Snapshot;
  const std::string staging = StagingFolder();
  const auto reach = [&](TRestoreStep step, const std::vector<std::string> &syncFirst) {
    TRestoreJournal next = journal;
    next.Step = step;
    if (!TRestoreJournal::Write(FBackupFolder, next, syncFirst))
      return false;
    journal.Step = step;
    return true;
  };
  if (!reach(TRestoreStep::rsSnapshot, {}))
    return false;
  RestoreStopPoint("snapshot");
  if (!MakeFolder(snapshotFolder) || !WriteToken(snapshotFolder, journal.Token))
    return false;
  for (const std::string &name : PlainFilesOf(FDataFolder)) {
    if (!MoveNoReplace(FDataFolder + "/" + name, snapshotFolder + "/" + name))
      return false;
    RestoreStopPoint("snapshot-moving");
  }
  if (!reach(TRestoreStep::rsInstall, {snapshotFolder, FDataFolder}))
    return false;
  RestoreStopPoint("install");
  for (const std::string &name : PlainFilesOf(staging)) {
    if (!MoveNoReplace(staging + "/" + name, FDataFolder + "/" + name))
      return false;
    RestoreStopPoint("installing");
  }
  if (!reach(TRestoreStep::rsCommitted, {FDataFolder, staging}))
    return false;
  RestoreStopPoint("committed");
  return true;
}

// Puts the data folder back as it was before the run; the journal stays when that fails, so
// that the next start tries again.
bool TRestoreTransaction::RollBack(const TRestoreJournal &journal) {
  const std::string staging = StagingFolder();
  bool ok = true;
  if (journal.Step == TRestoreStep::rsInstall) {
    // Every plain file in the data folder now is a staged one: the old ones are all in the
    // snapshot.
    for (const std::string &name : PlainFilesOf(FDataFolder))
      ok = MoveNoReplace(FDataFolder + "/" + name, staging + "/" + name) && ok;
    // From here on the data folder fills with old files again: a rollback cut short now must
    // go on moving them back, not take them for staged ones. On a full disk the journal may
    // not change; the old files come back all the same.
    if (ok && SyncFolder(FDataFolder) && SyncFolder(staging)) {
      TRestoreJournal back = journal;
      back.Step = TRestoreStep::rsSnapshot;
      TRestoreJournal::Write(FBackupFolder, back);
    }
  }
  const std::string snapshotFolder = FBackupFolder + "/" + journal.Snapshot;
  if (ok && journal.Step != TRestoreStep::rsStaging && !journal.Snapshot.empty() &&
      DirectoryExists(snapshotFolder)) {
    for (const std::string &name : PlainFilesOf(snapshotFolder)) {
      ok = MoveNoReplace(snapshotFolder + "/" + name, FDataFolder + "/" + name) && ok;
      RestoreStopPoint("rolling-back");
    }
    ok = ok && SyncFolder(FDataFolder) &&
         RemoveEntry(snapshotFolder + "/" + TRestoreJournal::TokenName) &&
         RemoveEntry(snapshotFolder);
  }
  if (!ok)
    return false;
  RestoreStopPoint("rolled-back");
  RemoveTreeQuietly(staging);
  return TRestoreJournal::Remove(FBackupFolder);
}

bool TRestoreTransaction::Finish(const TRestoreJournal &journal) {
  RemoveTreeQuietly(StagingFolder());
  const std::string &keep = journal.Snapshot;
  std::vector<std::string> snapshots = Snapshots();
  std::erase(snapshots, keep);
  const size_t older = keep.empty() ? KeptSnapshots : KeptSnapshots - 1;
  for (size_t i = 0; i + older < snapshots.size(); ++i)
    RemoveTreeQuietly(FBackupFolder + "/" + snapshots[i]);
  if (!TRestoreJournal::Remove(FBackupFolder))
    return false;
  // Only once the journal is gone: a token left by a run cut short here is never read again.
  if (!keep.empty())
    (void)RemoveEntry(FBackupFolder + "/" + keep + "/" + TRestoreJournal::TokenName);
  return true;
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
    RemoveTreeQuietly(StagingFolder()); // a run killed while tidying up
    return true;
  }
  // The Backup folder may sit on a shared drive that others write: a journal is acted on only
  // where it describes a state a run of this program leaves.
  if (!Credible(*journal))
    throw EUntrustedJournal("Cannot trust the restore journal " +
                            TRestoreJournal::PathIn(FBackupFolder));
  if (journal->Step == TRestoreStep::rsCommitted)
    return Finish(*journal);
  return RollBack(*journal);
}

// Snapshot names are of the form this program makes, and name real folders of the Backup folder
// (never links) or, where a step may have removed it, nothing. A folder the journal acts on
// carries the run's token; one that does not is acted on only when there is nothing in it to
// act on (a run cut short before it wrote the token). Rolling back an install moves the data
// folder's files out: only when they and what is left in staging are the staged files, by
// count and size.
bool TRestoreTransaction::Credible(const TRestoreJournal &journal) const {
  if (journal.Step == TRestoreStep::rsStaging)
    return journal.Snapshot.empty();
  if (!IsSnapshotName(journal.Snapshot))
    return false;
  const std::string snapshotFolder = FBackupFolder + "/" + journal.Snapshot;
  const TPathKind snapshot = KindOf(snapshotFolder);
  const std::vector<std::string> snapshots = Snapshots();
  const bool newest = !snapshots.empty() && snapshots.back() == journal.Snapshot;
  const bool marked =
      snapshot == TPathKind::pkFolder && CarriesToken(snapshotFolder, journal.Token);
  switch (journal.Step) {
  case TRestoreStep::rsSnapshot:
    return snapshot == TPathKind::pkNone || (snapshot == TPathKind::pkFolder && newest &&
                                             (marked || ListFolder(snapshotFolder).empty()));
  case TRestoreStep::rsInstall: {
    if (!marked || !newest || !CarriesToken(StagingFolder(), journal.Token))
      return false;
    const TStagedFiles installed = StagedFilesOf(FDataFolder);
    const TStagedFiles left = StagedFilesOf(StagingFolder());
    return TStagedFiles{installed.Count + left.Count, installed.Bytes + left.Bytes} ==
           journal.Staged;
  }
  default:
    return marked;
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

// Empty when every number of this second up to MaxSnapshotsPerSecond is taken.
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
  for (; number <= MaxSnapshotsPerSecond; ++number) {
    const std::string name = number == 1 ? base : base + "-" + std::to_string(number);
    if (!EntryKindOf(FBackupFolder + "/" + name))
      return name;
  }
  return {};
}

bool CopyPlainFiles(const std::string &from, const std::string &to) {
  for (const std::string &name : PlainFilesOf(from)) {
    if (!CopyEntry(from + "/" + name, to + "/" + name))
      return false;
    RestoreStopPoint("copying");
  }
  return true;
}

} // namespace vantari
