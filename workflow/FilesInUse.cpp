#include "FilesInUse.h"

#include <cctype>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sys/stat.h>
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
    struct stat st {}; // the open file itself, through the descriptor's link
    if (::fstatat(fdDir, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode) &&
        files.count({st.st_dev, st.st_ino}))
      return true;
  }
  return false;
}

} // namespace

bool FilesInUse(const std::string &folder) {
  const std::set<TFileKey> files = RegularFilesOf(folder);
  if (files.empty())
    return false;
  TDir proc(::opendir("/proc"));
  if (!proc)
    return false;
  const std::string self = std::to_string(::getpid());
  while (const dirent *entry = ::readdir(proc.get()))
    if (IsNumber(entry->d_name) && self != entry->d_name &&
        HoldsOneOf(::dirfd(proc.get()), entry->d_name, files))
      return true;
  return false;
}

} // namespace vantari
