#include "Paths.h"

#include "Exception.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vantari {

namespace {

// Owns one descriptor; closes it once.
class TFd {
public:
  explicit TFd(int fd) : FFd(fd) {}
  TFd(const TFd &) = delete;
  TFd &operator=(const TFd &) = delete;
  ~TFd() {
    if (FFd >= 0)
      ::close(FFd);
  }
  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  // Closes now and reports whether the close succeeded (a deferred write error shows here).
  bool Close() { return ::close(std::exchange(FFd, -1)) == 0; }

private:
  int FFd;
};

bool WriteAll(int fd, const std::string &content) {
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/')
    folder += '/';
  return folder;
}

std::string DirectoryOf(const std::string &path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes content into a new temporary file in folder and syncs it; its name on success.
std::string WriteTemporary(const std::string &target, const std::string &content, mode_t mode) {
  std::string name = target + ".XXXXXX";
  TFd fd(::mkstemp(name.data()));
  if (!fd.Valid())
    return {};
  const bool ok = ::fchmod(fd.Get(), mode) == 0 && WriteAll(fd.Get(), content) &&
                  ::fsync(fd.Get()) == 0 && fd.Close();
  if (!ok) {
    ::unlink(name.c_str());
    return {};
  }
  return name;
}

} // namespace

std::string HomeFolder() {
  if (const char *home = std::getenv("HOME"); home != nullptr && home[0] == '/')
    return WithSlash(home);
  // No HOME (a service, a stripped environment): the account's own home.
  const passwd *account = ::getpwuid(::getuid());
  return WithSlash(account != nullptr && account->pw_dir != nullptr ? account->pw_dir : "/");
}

std::string ProgramFolder() {
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error)
    return "./";
  return WithSlash(exe.parent_path().string());
}

std::string ConfigFolder() {
  std::string base;
  if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
    base = xdg;
  else
    base = HomeFolder() + ".config";
  const std::string folder = WithSlash(base) + "vantari/";
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    std::filesystem::create_directories(folder, error);
    ::chmod(folder.c_str(), 0700);
  }
  return folder;
}

bool ReadWholeFile(const std::string &path, std::string &content) {
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid())
    return false;
  content.clear();
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return false;
    if (n == 0)
      return true;
    content.append(buffer, static_cast<size_t>(n));
  }
}

void WriteWholeFile(const std::string &path, const std::string &content, mode_t newMode) {
  // Replace the file a link points at, not the link.
  std::error_code error;
  std::string target = path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    target = std::filesystem::canonical(path, error).string();
  const bool exists = ::stat(target.c_str(), &st) == 0;
  const mode_t mode = exists ? (st.st_mode & 07777) : newMode;
  // A read-only file stays as it is, as it would on the original platform.
  const bool writable = !error && (!exists || ::access(target.c_str(), W_OK) == 0);
  const std::string temporary = writable ? WriteTemporary(target, content, mode) : std::string();
  if (temporary.empty() || ::rename(temporary.c_str(), target.c_str()) != 0) {
    if (!temporary.empty())
      ::unlink(temporary.c_str());
    throw Exception(Format("Unable to write to %s", path.c_str()));
  }
  // The new name is durable only once the folder is synced too.
  TFd folder(::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Valid())
    ::fsync(folder.Get());
}

} // namespace vantari
