#include "SettingsFile.h"

#include "Exception.h"
#include "FileDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantari {

namespace {

std::string FolderOf(const std::string &path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A new file beside path with content and mode, on disk; its name, or empty on failure.
std::string WriteTemporary(const std::string &path, const std::string &content, mode_t mode) {
  std::string name = path + ".XXXXXX";
  TFileDescriptor fd(::mkstemp(name.data())); // O_EXCL: never an existing name, never a link
  if (!fd.Valid())
    return {};
  if (::fchmod(fd.Get(), mode) == 0 && WriteAll(fd.Get(), content) && ::fsync(fd.Get()) == 0)
    return name;
  ::unlink(name.c_str());
  return {};
}

[[noreturn]] void Refuse(const std::string &path, const char *why) {
  throw Exception(Format("Cannot read %s: %s", path.c_str(), why));
}

} // namespace

bool ReadSettingsFile(const std::string &path, std::string &content, size_t maxBytes) {
  // O_NONBLOCK: opening a fifo must not wait for a writer.
  TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) {
    if (errno == ENOENT || errno == ENOTDIR)
      return false;
    if (errno == ELOOP)
      Refuse(path, "it is a symbolic link, which is not followed");
    Refuse(path, "it cannot be opened");
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0)
    Refuse(path, "it cannot be opened");
  if (!S_ISREG(st.st_mode))
    Refuse(path, "it is not a regular file");
  if (static_cast<uint64_t>(st.st_size) > maxBytes)
    Refuse(path, "it is larger than a settings file can be");
  content.clear();
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      Refuse(path, "it cannot be read");
    if (n == 0)
      return true;
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > maxBytes) // it grew while it was read
      Refuse(path, "it is larger than a settings file can be");
  }
}

void WriteSettingsFile(const std::string &path, const std::string &content, mode_t mode) {
  struct stat st {};
  const bool exists = ::lstat(path.c_str(), &st) == 0;
  // A read-only file (no owner write bit) stays as it is, as it would on the original
  // platform, for root too; a link or a device in its place is not the program's file.
  const bool replaceable = !exists || (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) != 0 &&
                                       ::access(path.c_str(), W_OK) == 0);
  const std::string temporary = replaceable ? WriteTemporary(path, content, mode) : std::string();
  if (temporary.empty() || ::rename(temporary.c_str(), path.c_str()) != 0) {
    if (!temporary.empty())
      ::unlink(temporary.c_str());
    throw Exception(Format("Unable to write to %s", path.c_str()));
  }
  SyncFolder(FolderOf(path));
}

bool CreateSettingsFile(const std::string &path, const std::string &content, mode_t mode) {
  const std::string temporary = WriteTemporary(path, content, mode);
  if (temporary.empty())
    return false;
  // link() never replaces: whatever appeared under the name meanwhile stays.
  const bool created = ::link(temporary.c_str(), path.c_str()) == 0;
  ::unlink(temporary.c_str());
  if (created)
    SyncFolder(FolderOf(path));
  return created;
}

} // namespace vantari
