#include "FolderOps.h"

#include "FileDescriptor.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace vantari {

namespace {

struct TDirCloser {
  void operator()(DIR *dir) const { ::closedir(dir); }
};
using TDir = std::unique_ptr<DIR, TDirCloser>;

using TFileKey = std::pair<dev_t, ino_t>;

TEntryKind KindOf(mode_t mode) {
  return S_ISREG(mode)   ? TEntryKind::ekFile
         : S_ISDIR(mode) ? TEntryKind::ekFolder
         : S_ISLNK(mode) ? TEntryKind::ekLink
                         : TEntryKind::ekOther;
}

// Device and inode of every regular file directly in folder (links not followed).
std::set<TFileKey> RegularFilesOf(const std::string &folder) {
  std::set<TFileKey> files;
  TDir dir(::opendir(folder.c_str()));
  if (!dir)
    return files;
  while (const dirent *entry = ::readdir(dir.get())) {
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode))
      files.insert({st.st_dev, st.st_ino});
  }
  return files;
}

bool IsNumber(const char *name) {
  if (!*name)
    return false;
  for (; *name; ++name)
    if (!std::isdigit(static_cast<unsigned char>(*name)))
      return false;
  return true;
}

// Whether one of the open descriptors of the process in procDir names one of files.
bool HoldsOneOf(int procDir, const char *pid, const std::set<TFileKey> &files) {
  const int fdDir =
      ::openat(procDir, (std::string(pid) + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fdDir < 0)
    return false;
  TDir fds(::fdopendir(fdDir));
  if (!fds) {
    ::close(fdDir);
    return false;
  }
  while (const dirent *entry = ::readdir(fds.get())) {
    if (!IsNumber(entry->d_name))
      continue;
    // The open file itself, through the descriptor's link, as the kernel has it cached: a
    // file on a network drive whose server went away must not make the check wait for it.
    struct statx st {};
    if (::statx(fdDir, entry->d_name, AT_STATX_DONT_SYNC, STATX_TYPE | STATX_INO, &st) == 0 &&
        S_ISREG(st.stx_mode) &&
        files.count({makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino}))
      return true;
  }
  return false;
}

std::string ProgramOf(int procDir, const std::string &pid) {
  char target[4096];
  const ssize_t n = ::readlinkat(procDir, (pid + "/exe").c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// Calls found with the process folder of each process other than this one that holds one of
// the regular files directly in folder open, until found returns false.
template <typename TFound> void ForEachHolder(const std::string &folder, TFound found) {
  const std::set<TFileKey> files = RegularFilesOf(folder);
  if (files.empty())
    return;
  TDir proc(::opendir("/proc"));
  if (!proc)
    return;
  const std::string self = std::to_string(::getpid());
  while (const dirent *entry = ::readdir(proc.get()))
    if (IsNumber(entry->d_name) && self != entry->d_name &&
        HoldsOneOf(::dirfd(proc.get()), entry->d_name, files) &&
        !found(::dirfd(proc.get()), std::string(entry->d_name)))
      return;
}

bool SyncOpened(const std::string &path, int flags) {
  TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | flags));
  return fd.Valid() && ::fsync(fd.Get()) == 0;
}

} // namespace

std::vector<TFolderEntry> ListFolder(const std::string &folder) {
  std::vector<TFolderEntry> entries;
  TDir dir(::opendir(folder.c_str()));
  if (!dir)
    return entries;
  while (const dirent *entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    struct stat st {};
    if (name == "." || name == ".." ||
        ::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    TFolderEntry item{name, KindOf(st.st_mode)};
    struct stat target {};
    item.LinksToFolder = item.Kind == TEntryKind::ekLink &&
                         ::fstatat(::dirfd(dir.get()), entry->d_name, &target, 0) == 0 &&
                         S_ISDIR(target.st_mode);
    entries.push_back(std::move(item));
  }
  std::sort(entries.begin(), entries.end(),
            [](const TFolderEntry &a, const TFolderEntry &b) { return a.Name < b.Name; });
  return entries;
}

std::optional<TEntryKind> EntryKindOf(const std::string &path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return std::nullopt;
  return KindOf(st.st_mode);
}

TOsResult MakeFolder(const std::string &path) {
  return OsResult(::mkdir(path.c_str(), 0700) == 0);
}

TOsResult MoveNoReplace(const std::string &from, const std::string &to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return {};
  if (errno != EINVAL && errno != ENOSYS)
    return LastOsError();
  // A file system without the flag: nothing but this program writes there meanwhile.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0)
    return OsError(EEXIST);
  return errno != ENOENT ? LastOsError() : OsResult(::rename(from.c_str(), to.c_str()) == 0);
}

TOsResult MoveReplacing(const std::string &from, const std::string &to) {
  if (::rename(from.c_str(), to.c_str()) != 0)
    return LastOsError();
  const auto slash = to.rfind('/');
  SyncFolder(slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash));
  return {};
}

TOsResult CopyEntry(const std::string &from, const std::string &to) {
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0)
    return LastOsError();
  if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    const ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size())
      return n < 0 ? LastOsError() : OsError(ENAMETOOLONG);
    target.resize(static_cast<size_t>(n));
    return OsResult(::symlink(target.c_str(), to.c_str()) == 0);
  }
  TFileDescriptor source(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!source.Valid())
    return LastOsError();
  TFileDescriptor target(
      ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, st.st_mode & 07777));
  if (!target.Valid())
    return LastOsError();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(source.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 ||
        (n > 0 && !WriteAll(target.Get(), std::string_view(buffer, static_cast<size_t>(n))))) {
      const TOsResult failed = LastOsError();
      ::unlink(to.c_str());
      return failed;
    }
    if (n == 0)
      break;
  }
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (::futimens(target.Get(), times) != 0 || !target.Close()) {
    const TOsResult failed = LastOsError();
    ::unlink(to.c_str());
    return failed;
  }
  return {};
}

namespace {

// Empties the folder open as fd, depth folders below the tree's top.
TOsResult EmptyFolder(int fd, int depth) {
  TDir dir(::fdopendir(fd));
  if (!dir) {
    const TOsResult failed = LastOsError();
    ::close(fd);
    return failed;
  }
  // Names first: removing while reading a folder may skip or repeat entries.
  std::vector<std::string> names;
  while (const dirent *entry = ::readdir(dir.get()))
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  for (const std::string &name : names) {
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT)
        continue;
      return LastOsError();
    }
    if (S_ISDIR(st.st_mode)) {
      if (depth >= MaxTreeDepth)
        return OsError(ELOOP);
      const int sub = ::openat(::dirfd(dir.get()), name.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0)
        return LastOsError();
      if (TOsResult emptied = EmptyFolder(sub, depth + 1); !emptied)
        return emptied;
    }
    if (::unlinkat(::dirfd(dir.get()), name.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) != 0 &&
        errno != ENOENT)
      return LastOsError();
  }
  return {};
}

} // namespace

TOsResult RemoveTree(const std::string &path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return errno == ENOENT ? TOsResult{} : LastOsError();
  if (S_ISDIR(st.st_mode)) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
      return LastOsError();
    if (TOsResult emptied = EmptyFolder(fd, 1); !emptied)
      return emptied;
  }
  return RemoveEntry(path);
}

bool SyncFolder(const std::string &folder) {
  return SyncOpened(folder, O_DIRECTORY);
}

bool SyncFile(const std::string &path) {
  return SyncOpened(path, 0);
}

TOsResult RemoveEntry(const std::string &path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return errno == ENOENT ? TOsResult{} : LastOsError();
  if ((S_ISDIR(st.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) == 0 ||
      errno == ENOENT)
    return {};
  return LastOsError();
}

bool AnyFileInUse(const std::string &folder) {
  bool held = false;
  ForEachHolder(folder, [&held](int, const std::string &) {
    held = true;
    return false; // one is enough
  });
  return held;
}

std::vector<std::string> ProgramsHoldingFiles(const std::string &folder) {
  std::vector<std::string> programs;
  ForEachHolder(folder, [&programs](int procDir, const std::string &pid) {
    programs.push_back(ProgramOf(procDir, pid));
    return true;
  });
  return programs;
}

bool FolderLockTaken(const std::string &folder) {
  TFileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // A shared lock only asks: it is let go at once, and only a held exclusive one refuses it.
  return fd.Valid() && ::flock(fd.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

void StartWriteBack(const std::string &path) {
  TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Valid())
    ::sync_file_range(fd.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
}

TFolderLock::TFolderLock(const std::string &folder)
    : FFolder(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  FHeld = FFolder >= 0 && (::flock(FFolder, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK);
}

TFolderLock::~TFolderLock() {
  if (FFolder >= 0)
    ::close(FFolder);
}

} // namespace vantari
