#include "RestoreTransaction.h"

#include "FileSystem.h"
#include "RestoreJournal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace vantari {

namespace {

constexpr size_t KeptSnapshots = 3;

TRestoreStopHook &StopHook() {
  static TRestoreStopHook hook;
  return hook;
}

struct TDirCloser {
  void operator()(DIR *dir) const { ::closedir(dir); }
};
using TDir = std::unique_ptr<DIR, TDirCloser>;

bool SyncPath(const std::string &path, int flags) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | flags);
  if (fd < 0)
    return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

bool SyncFolder(const std::string &folder) {
  return SyncPath(folder, O_DIRECTORY);
}

// Moves a file within one file system, never over an existing name.
bool Move(const std::string &from, const std::string &to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS)
    return false;
  // A file system without the flag: nothing but this program writes there meanwhile.
  struct stat st {};
  return ::lstat(to.c_str(), &st) != 0 && errno == ENOENT &&
         ::rename(from.c_str(), to.c_str()) == 0;
}

void RemoveTree(const std::string &path) {
  std::error_code error; // whatever stays is removed by the next run
  std::filesystem::remove_all(path, error);
}

// Snapshot names: "<kind>-YYYYMMDD-HHMMSS" with "-N" for a second one in the same second.
const std::regex &SnapshotPattern() {
  static const std::regex pattern(R"(before-[a-z]+-(\d{8}-\d{6})(?:-(\d+))?)");
  return pattern;
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
  TDir dir(::opendir(folder.c_str()));
  if (!dir)
    return names;
  while (const dirent *entry = ::readdir(dir.get())) {
    if (entry->d_name[0] == '.')
      continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    // A link moves as a link; one to a folder counts as a folder, as a listing shows it.
    struct stat target {};
    if (S_ISREG(st.st_mode) ||
        (S_ISLNK(st.st_mode) && !(::fstatat(::dirfd(dir.get()), entry->d_name, &target, 0) == 0 &&
                                  S_ISDIR(target.st_mode))))
      names.push_back(entry->d_name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool SyncFolderFiles(const std::string &folder) {
  TDir dir(::opendir(folder.c_str()));
  if (!dir)
    return false;
  while (const dirent *entry = ::readdir(dir.get())) {
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && !SyncPath(folder + "/" + entry->d_name, 0))
      return false;
  }
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
  if (!Recover() || !ForceDirectories(FBackupFolder))
    return false;
  const std::string staging = StagingFolder();
  if (!TRestoreJournal::Write(FBackupFolder, {TRestoreStep::rsStaging, {}, consumed}))
    return false;
  RestoreStopPoint("begun");
  RemoveTree(staging);
  bool staged = false;
  try {
    staged = ::mkdir(staging.c_str(), 0700) == 0 && stage(staging);
    RestoreStopPoint("unpacked");
    staged = staged && SyncFolderFiles(staging);
  } catch (...) {
    RollBack(TRestoreStep::rsStaging, {});
    throw;
  }
  if (!staged) {
    RollBack(TRestoreStep::rsStaging, {});
    return false;
  }
  RestoreStopPoint("staged");
  if (OnStaged)
    OnStaged();
  const std::string snapshot = NewSnapshotName(kind);
  TRestoreStep reached = TRestoreStep::rsStaging;
  if (!Swap(snapshot, consumed, reached)) {
    RollBack(reached, snapshot);
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
  if (::mkdir(snapshotFolder.c_str(), 0700) != 0)
    return false;
  for (const std::string &name : PlainFilesOf(FDataFolder)) {
    if (!Move(FDataFolder + "/" + name, snapshotFolder + "/" + name))
      return false;
    RestoreStopPoint("snapshot-moving");
  }
  if (!SyncFolder(snapshotFolder) || !SyncFolder(FDataFolder))
    return false;

  if (!TRestoreJournal::Write(FBackupFolder, {TRestoreStep::rsInstall, snapshot, consumed}))
    return false;
  reached = TRestoreStep::rsInstall;
  RestoreStopPoint("install");
  for (const std::string &name : PlainFilesOf(staging)) {
    if (!Move(staging + "/" + name, FDataFolder + "/" + name))
      return false;
    RestoreStopPoint("installing");
  }
  if (!SyncFolder(FDataFolder) || !SyncFolder(staging))
    return false;

  if (!TRestoreJournal::Write(FBackupFolder, {TRestoreStep::rsCommitted, snapshot, consumed}))
    return false;
  reached = TRestoreStep::rsCommitted;
  RestoreStopPoint("committed");
  return true;
}

// Puts the data folder back as it was before the run; the journal stays when that fails, so
// that the next start tries again.
bool TRestoreTransaction::RollBack(TRestoreStep step, const std::string &snapshot) {
  const std::string staging = StagingFolder();
  bool ok = true;
  if (step == TRestoreStep::rsInstall) {
    // Every plain file in the data folder now is a staged one: the old ones are all in the
    // snapshot.
    for (const std::string &name : PlainFilesOf(FDataFolder))
      ok = Move(FDataFolder + "/" + name, staging + "/" + name) && ok;
  }
  const std::string snapshotFolder = FBackupFolder + "/" + snapshot;
  if (ok && step != TRestoreStep::rsStaging && !snapshot.empty() &&
      DirectoryExists(snapshotFolder)) {
    for (const std::string &name : PlainFilesOf(snapshotFolder))
      ok = Move(snapshotFolder + "/" + name, FDataFolder + "/" + name) && ok;
    ok = ok && SyncFolder(FDataFolder) && ::rmdir(snapshotFolder.c_str()) == 0;
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
  const auto journal = TRestoreJournal::Read(FBackupFolder);
  if (!journal) {
    RemoveTree(StagingFolder()); // a run killed while tidying up
    return true;
  }
  if (journal->Step == TRestoreStep::rsCommitted)
    return Finish(journal->Consumed, journal->Snapshot);
  return RollBack(journal->Step, journal->Snapshot);
}

std::vector<std::string> TRestoreTransaction::Snapshots() const {
  struct TEntry {
    std::string Stamp;
    int Number;
    std::string Name;
  };
  std::vector<TEntry> entries;
  TDir dir(::opendir(FBackupFolder.c_str()));
  if (!dir)
    return {};
  while (const dirent *entry = ::readdir(dir.get())) {
    std::cmatch match;
    struct stat st {};
    if (std::regex_match(entry->d_name, match, SnapshotPattern()) &&
        ::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode))
      entries.push_back(
          {match[1].str(), match[2].matched ? std::stoi(match[2].str()) : 1, entry->d_name});
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
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = kind + "-" + stamp;
  std::string name = base;
  for (int number = 2; std::filesystem::exists(FBackupFolder + "/" + name); ++number)
    name = base + "-" + std::to_string(number);
  return name;
}

bool CopyPlainFiles(const std::string &from, const std::string &to) {
  namespace fs = std::filesystem;
  for (const std::string &name : PlainFilesOf(from)) {
    const std::string source = from + "/" + name;
    const std::string target = to + "/" + name;
    std::error_code error;
    fs::copy_file(source, target, fs::copy_options::none, error);
    struct stat st {};
    if (error || ::stat(source.c_str(), &st) != 0)
      return false;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::utimensat(AT_FDCWD, target.c_str(), times, 0) != 0)
      return false;
    RestoreStopPoint("copying");
  }
  return true;
}

} // namespace vantari
