#include "FilesInUse.h"

#include <cctype>
#include <cerrno>
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

// Whether another process, of this program when sameProgram is set, holds one of the
// regular files directly in folder open.
bool HeldByAnother(const std::string &folder, bool sameProgram) {
  const std::set<TFileKey> files = RegularFilesOf(folder);
  if (files.empty())
    return false;
  TDir proc(::opendir("/proc"));
  if (!proc)
    return false;
  const std::string self = std::to_string(::getpid());
  const std::string program = ProgramOf(::dirfd(proc.get()), "self");
  for (const dirent *entry; (entry = ::readdir(proc.get()));) {
    if (!IsNumber(entry->d_name) || self == entry->d_name)
      continue;
    if (sameProgram) {
      const std::string other = ProgramOf(::dirfd(proc.get()), entry->d_name);
      const std::string name = other.substr(other.rfind('/') + 1);
      if (other != program && name.rfind("vantari", 0) != 0)
        continue;
    }
    if (HoldsOneOf(::dirfd(proc.get()), entry->d_name, files))
      return true;
  }
  return false;
}

} // namespace

bool FilesInUse(const std::string &folder) {
  return HeldByAnother(folder, false);
}

bool OtherVantariRuns(const std::string &dataFolder, const std::string &backupFolder) {
  const int fd = ::open(backupFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    // A shared lock only asks: it never keeps a transaction from taking the folder for long.
    const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    if (locked)
      return true;
  }
  return HeldByAnother(dataFolder, true);
}

} // namespace vantari
