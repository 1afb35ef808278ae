#include "DurableFile.h"

#include "FileDescriptor.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantari {

namespace {

std::string FolderOf(const std::string &path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A new file beside path with content and mode, on disk; its name, or empty with failure set.
std::string WriteTemporary(const std::string &path, std::string_view content, unsigned mode,
                           TOsResult &failure) {
  std::string name = path + ".XXXXXX";
  TFileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC)); // never an existing name, never a link
  if (!fd.Valid()) {
    failure = LastOsError();
    return {};
  }
  if (::fchmod(fd.Get(), static_cast<mode_t>(mode)) == 0 && WriteAll(fd.Get(), content) &&
      ::fsync(fd.Get()) == 0 && fd.Close())
    return name;
  failure = LastOsError();
  ::unlink(name.c_str());
  return {};
}

} // namespace

TSmallRead ReadSmallFile(const std::string &path, size_t maxBytes, std::string &content) {
  // O_NONBLOCK: opening a fifo must not wait for a writer.
  TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid())
    return errno == ENOENT || errno == ENOTDIR ? TSmallRead::srMissing
           : errno == ELOOP                    ? TSmallRead::srLink
                                               : TSmallRead::srFailed;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0)
    return TSmallRead::srFailed;
  if (!S_ISREG(st.st_mode))
    return TSmallRead::srNotRegular;
  if (static_cast<uint64_t>(st.st_size) > maxBytes)
    return TSmallRead::srTooLarge;
  content.clear();
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return TSmallRead::srFailed;
    if (n == 0)
      return TSmallRead::srRead;
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > maxBytes) // it grew while it was read
      return TSmallRead::srTooLarge;
  }
}

TOsResult ReplaceFileDurably(const std::string &path, std::string_view content, unsigned mode) {
  TOsResult failure;
  const std::string temporary = WriteTemporary(path, content, mode, failure);
  if (temporary.empty())
    return failure;
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    failure = LastOsError();
    ::unlink(temporary.c_str());
    return failure;
  }
  return OsResult(SyncFolder(FolderOf(path)));
}

TOsResult CreateFileDurably(const std::string &path, std::string_view content, unsigned mode) {
  TOsResult failure;
  const std::string temporary = WriteTemporary(path, content, mode, failure);
  if (temporary.empty())
    return failure;
  // link() never replaces: whatever appeared under the name meanwhile stays.
  const TOsResult linked = OsResult(::link(temporary.c_str(), path.c_str()) == 0);
  ::unlink(temporary.c_str());
  return linked ? OsResult(SyncFolder(FolderOf(path))) : linked;
}

bool IsSymbolicLink(const std::string &path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsWritableFile(const std::string &path) {
  return ::access(path.c_str(), W_OK) == 0;
}

} // namespace vantari
