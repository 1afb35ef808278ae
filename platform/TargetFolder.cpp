#include "TargetFolder.h"

#include "DosDate.h"
#include "FileSystem.h"
#include "TargetFolderNames.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vantari {

using targetfolder::EqualIgnoringCase;
using targetfolder::IsTempName;

TTargetFolder::~TTargetFolder() {
  if (FFd >= 0)
    ::close(FFd);
}

TTargetFolder::TTargetFolder(TTargetFolder &&other) noexcept
    : FFd(std::exchange(other.FFd, -1)), FPath(std::move(other.FPath)) {}

TTargetFolder &TTargetFolder::operator=(TTargetFolder &&other) noexcept {
  if (this != &other) {
    if (FFd >= 0)
      ::close(FFd);
    FFd = std::exchange(other.FFd, -1);
    FPath = std::move(other.FPath);
  }
  return *this;
}

TTargetFolder TTargetFolder::Open(const std::string &path, bool create) {
  const std::string dir = path.empty() ? std::string(".") : path;
  if (create && !DirectoryExists(dir) && !ForceDirectories(dir))
    return TTargetFolder();
  return TTargetFolder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), dir);
}

TTargetFolder TTargetFolder::Sub(const std::string &name, bool create) const {
  if (FFd < 0 || name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    return TTargetFolder();
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(FFd, name.c_str(), flags);
  if (fd < 0 && errno == ENOENT && create &&
      (::mkdirat(FFd, name.c_str(), 0777) == 0 || errno == EEXIST))
    fd = ::openat(FFd, name.c_str(), flags);
  return TTargetFolder(fd, FPath + "/" + name);
}

bool TTargetFolder::Entry(const std::string &name, TTargetEntry &entry) const {
  struct stat st {};
  if (FFd < 0 || ::fstatat(FFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  entry.Folder = S_ISDIR(st.st_mode);
  entry.FileDate = DateTimeToFileDate(st.st_mtim.tv_sec);
  return true;
}

std::string TTargetFolder::Match(const std::string &name, bool folder) const {
  TTargetEntry entry;
  if (Entry(name, entry))
    return name;
  if (FFd < 0)
    return std::string();
  const int copy = ::openat(FFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR *dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
  if (!dir) {
    if (copy >= 0)
      ::close(copy);
    return std::string();
  }
  std::vector<std::string> found;
  while (const dirent *entry = ::readdir(dir)) {
    const std::string candidate = entry->d_name;
    if (candidate != "." && candidate != ".." && EqualIgnoringCase(candidate, name))
      found.push_back(candidate);
  }
  ::closedir(dir);
  std::string best;
  for (const auto &candidate : found)
    if (Entry(candidate, entry) && entry.Folder == folder && (best.empty() || candidate < best))
      best = candidate;
  return best;
}

TReplacementFile::TReplacementFile(const TTargetFolder &folder, const std::string &name)
    : FFolderPath(folder.Path()), FName(name) {
  if (folder.IsOpen())
    FFolder = ::fcntl(folder.Handle(), F_DUPFD_CLOEXEC, 0);
  for (int attempt = 0; FFolder >= 0 && FFd < 0 && attempt < 100; ++attempt) {
    FTempName = targetfolder::TempName(static_cast<uint64_t>(::getpid()));
    FFd = ::openat(FFolder, FTempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   0666);
    if (FFd < 0 && errno != EEXIST)
      break;
    // Held until the file is in place or removed (a duplicate keeps it past Finish's close): a
    // run that finds such a file unlocked knows its writer is gone. Between the create and
    // the lock another run may have taken it for abandoned and removed it: then a new one.
    struct stat st {};
    if (FFd >= 0 && ::flock(FFd, LOCK_EX) == 0) {
      if (::fstat(FFd, &st) == 0 && st.st_nlink == 0) {
        ::close(FFd);
        FFd = -1;
        continue;
      }
      FLock = ::fcntl(FFd, F_DUPFD_CLOEXEC, 0);
    }
  }
  // The new file keeps the permissions of the one it replaces.
  struct stat st {};
  if (FFd >= 0 && ::fstatat(FFolder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(st.st_mode))
    ::fchmod(FFd, st.st_mode & 07777);
  if (FFd < 0) {
    const TOsResult cause = LastOsError();
    if (FFolder >= 0)
      ::close(FFolder);
    throw EFCreateError(Format("Cannot create file \"%s\". %s", name.c_str(), cause.Text.c_str()),
                        cause);
  }
}

TReplacementFile::~TReplacementFile() {
  Discard();
  if (FFolder >= 0)
    ::close(FFolder);
}

void TReplacementFile::Discard() {
  if (FFd >= 0)
    ::close(FFd);
  FFd = -1;
  if (!FCommitted && !FTempName.empty())
    ::unlinkat(FFolder, FTempName.c_str(), 0);
  FTempName.clear();
  if (FLock >= 0)
    ::close(FLock);
  FLock = -1;
}

bool TReplacementFile::ReplacesExisting() const {
  struct stat st {};
  return ::fstatat(FFolder, FName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode);
}

void TReplacementFile::SyncFolder() const {
  if (FFolder >= 0)
    ::fsync(FFolder);
}

void TReplacementFile::RemoveAbandoned(const TTargetFolder &folder) {
  if (!folder.IsOpen())
    return;
  const int copy = ::openat(folder.Handle(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR *dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
  if (!dir) {
    if (copy >= 0)
      ::close(copy);
    return;
  }
  std::vector<std::string> names;
  while (const dirent *entry = ::readdir(dir))
    if (IsTempName(entry->d_name))
      names.push_back(entry->d_name);
  ::closedir(dir);
  for (const std::string &name : names) {
    const int fd =
        ::openat(folder.Handle(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      continue;
    struct stat st {};
    // Only a file nobody holds; where locks are not supported, nothing is removed. The lock
    // is kept over the unlink, so that a writer that locks it afterwards sees it gone.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(folder.Handle(), name.c_str(), 0);
    ::close(fd);
  }
}

void TReplacementFile::Finish(int32_t fileDate, bool durable) {
  if (FFd < 0)
    RaiseWriteError({});
  TOsResult outcome; // the first failure
  if (fileDate != -1) {
    const time_t t = FileDateToDateTime(fileDate);
    const struct timespec times[2] = {{t, 0}, {t, 0}};
    if (t == static_cast<time_t>(-1))
      outcome = OsError(EINVAL);
    else if (::futimens(FFd, times) != 0)
      outcome = LastOsError();
  }
  if (durable && ::fsync(FFd) != 0 && outcome)
    outcome = LastOsError();
  if (::close(FFd) != 0 && outcome)
    outcome = LastOsError();
  FFd = -1;
  if (!outcome)
    RaiseWriteError(outcome);
}

void TReplacementFile::Commit() {
  if (FFd >= 0)
    Finish(-1);
  if (FTempName.empty() || ::renameat(FFolder, FTempName.c_str(), FFolder, FName.c_str()) != 0) {
    const TOsResult cause = FTempName.empty() ? TOsResult{} : LastOsError();
    Discard();
    RaiseWriteError(cause);
  }
  FCommitted = true;
  FTempName.clear();
  if (FLock >= 0)
    ::close(FLock);
  FLock = -1;
}

} // namespace vantari
