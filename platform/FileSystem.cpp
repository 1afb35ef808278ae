#include "FileSystem.h"

#include "DosDate.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vantari {

namespace {

// Records the state a file had when its archive attribute was cleared.
constexpr const char *kArchiveXattr = "user.vantari.archive-cleared";

bool StatPath(const std::string &path, struct stat &st) {
  return ::stat(path.c_str(), &st) == 0;
}

std::string ArchiveStamp(const struct stat &st) {
  return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + ":" +
         std::to_string(st.st_size);
}

int AttrOf(const std::string &name, const struct stat &st, const std::string &path) {
  int attr = 0;
  if (!name.empty() && name[0] == '.')
    attr |= faHidden;
  if (S_ISDIR(st.st_mode))
    attr |= faDirectory;
  else if (!S_ISREG(st.st_mode))
    attr |= faSysFile;
  if ((st.st_mode & S_IWUSR) == 0)
    attr |= faReadOnly;
  if (!S_ISDIR(st.st_mode) && FileHasArchiveAttr(path))
    attr |= faArchive;
  return attr;
}

struct TDirCloser {
  void operator()(DIR *dir) const { ::closedir(dir); }
};

struct TFd {
  int Fd;
  explicit TFd(int fd) : Fd(fd) {}
  ~TFd() {
    if (Fd >= 0)
      ::close(Fd);
  }
  TFd(const TFd &) = delete;
  TFd &operator=(const TFd &) = delete;
};

bool SetTimes(const struct timespec (&times)[2], int fd, const std::string *path) {
  if (path)
    return ::utimensat(AT_FDCWD, path->c_str(), times, 0) == 0;
  return ::futimens(fd, times) == 0;
}

bool SetDate(int32_t fileDate, int fd, const std::string *path) {
  const time_t t = FileDateToDateTime(fileDate);
  if (t == static_cast<time_t>(-1))
    return false;
  const struct timespec times[2] = {{t, 0}, {t, 0}};
  return SetTimes(times, fd, path);
}

} // namespace

std::vector<TSearchRec> FindFiles(const std::string &pattern, int attr) {
  std::vector<TSearchRec> found;
  const std::string dir = ExtractFilePath(pattern);
  const std::string mask = ExtractFileName(pattern);
  std::unique_ptr<DIR, TDirCloser> handle(::opendir(dir.empty() ? "." : dir.c_str()));
  if (!handle)
    return found;
  const int excluded = (faHidden | faSysFile | faDirectory) & ~attr;
  while (const dirent *entry = ::readdir(handle.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || !MatchesMask(name, mask))
      continue;
    struct stat st {};
    const std::string path = dir + name;
    if (::lstat(path.c_str(), &st) != 0)
      continue;
    const bool link = S_ISLNK(st.st_mode);
    if (link && !StatPath(path, st))
      continue; // dangling link
    TSearchRec rec;
    rec.Name = name;
    rec.Attr = AttrOf(name, st, path) | (link ? faSymLink : 0);
    if (rec.Attr & excluded)
      continue;
    rec.Size = st.st_size;
    rec.Time = DateTimeToFileDate(st.st_mtim.tv_sec);
    rec.WriteTime = st.st_mtim.tv_sec;
    found.push_back(std::move(rec));
  }
  SortByName(found);
  return found;
}

bool FileExists(const std::string &path) {
  struct stat st {};
  return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string &path) {
  struct stat st {};
  return StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string &path) {
  std::string dir = path;
  while (dir.size() > 1 && dir.back() == '/')
    dir.pop_back();
  if (dir.empty() || DirectoryExists(dir))
    return !dir.empty();
  const std::string parent = ExtractFileDir(dir);
  if (!parent.empty() && parent != dir && !ForceDirectories(parent))
    return false;
  return ::mkdir(dir.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(dir));
}

bool DeleteFile(const std::string &path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    return false;
  if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
    return false;
  return ::unlink(path.c_str()) == 0;
}

int64_t FileSize(const std::string &path) {
  struct stat st {};
  return StatPath(path, st) ? static_cast<int64_t>(st.st_size) : -1;
}

int FileGetAttr(const std::string &path) {
  struct stat st {};
  if (!StatPath(path, st))
    return -1;
  return AttrOf(ExtractFileName(path), st, path);
}

bool FileSetReadOnly(const std::string &path, bool readOnly) {
  struct stat st {};
  if (!StatPath(path, st))
    return false;
  const mode_t mode =
      readOnly ? (st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (st.st_mode | S_IWUSR);
  return ::chmod(path.c_str(), mode & 07777) == 0;
}

bool FileHasArchiveAttr(const std::string &path) {
  struct stat st {};
  if (!StatPath(path, st))
    return false;
  char value[96];
  const ssize_t n = ::getxattr(path.c_str(), kArchiveXattr, value, sizeof value);
  if (n < 0)
    return true;
  return std::string(value, static_cast<size_t>(n)) != ArchiveStamp(st);
}

bool FileClearArchiveAttr(const std::string &path) {
  struct stat st {};
  if (!StatPath(path, st) || !S_ISREG(st.st_mode))
    return false;
  const std::string stamp = ArchiveStamp(st);
  return ::setxattr(path.c_str(), kArchiveXattr, stamp.data(), stamp.size(), 0) == 0;
}

bool FileSetArchiveAttr(const std::string &path) {
  if (::removexattr(path.c_str(), kArchiveXattr) == 0)
    return true;
  return errno == ENODATA || errno == ENOTSUP;
}

int32_t FileGetDate(const std::string &path) {
  struct stat st {};
  return StatPath(path, st) ? DateTimeToFileDate(st.st_mtim.tv_sec) : -1;
}

int32_t FileGetDate(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? DateTimeToFileDate(st.st_mtim.tv_sec) : -1;
}

bool FileSetDate(const std::string &path, int32_t fileDate) {
  return SetDate(fileDate, -1, &path);
}

bool FileSetDate(int fd, int32_t fileDate) {
  return SetDate(fileDate, fd, nullptr);
}

std::string GetTempDir() {
  const char *env = std::getenv("TMPDIR");
  std::string dir = (env && *env) ? env : "/tmp";
  return IncludeTrailingPathDelimiter(dir);
}

std::string GetTempFileName(const std::string &dir, const std::string &prefix) {
  std::string name = IncludeTrailingPathDelimiter(dir) + prefix + "XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  TFd fd(::mkostemp(buffer.data(), O_CLOEXEC));
  return fd.Fd >= 0 ? std::string(buffer.data()) : std::string();
}

std::string GetCurrentDir() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE)
      return "/";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

} // namespace vantari
