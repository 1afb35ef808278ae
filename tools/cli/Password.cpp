#include "Password.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "NightlyCredential.h"
#ifdef _WIN32
#include "DurableFile.h"
#else
#include "FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vantari {

namespace {

constexpr size_t MaxPasswordFile = 4096;

std::string FirstLine(const std::string &text) {
  const size_t end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

} // namespace

std::string TPasswordSource::Read(const std::string &file, bool nightly) {
  if (!file.empty())
    return ReadFile(file);
  if (nightly) {
    if (const auto kept = LoadNightlyCredential())
      return *kept;
    throw ENoPassword("no password kept for the nightly backup: run vantari-cli save-login");
  }
  if (const char *value = std::getenv(EnvironmentName)) {
    std::string password = value;
    // Children of this process (none today) need not see it.
#ifdef _WIN32
    ::_putenv_s(EnvironmentName, "");
#else
    ::unsetenv(EnvironmentName);
#endif
    return password;
  }
  throw ENoPassword(std::string("no password: set ") + EnvironmentName +
                    " or use --password-file FILE");
}

#ifdef _WIN32
// No owner or mode bits to check here: the folder's access list guards the file. A link is
// still refused, so the file read is the one named.
static std::string ReadText(const std::string &file) {
  std::string text;
  switch (ReadSmallFile(file, MaxPasswordFile, text)) {
  case TSmallRead::srRead:
    return text;
  case TSmallRead::srMissing:
    throw Exception(file + ": " + std::strerror(ENOENT));
  case TSmallRead::srLink:
  case TSmallRead::srNotRegular:
    throw Exception(file + ": not a regular file");
  case TSmallRead::srTooLarge:
    throw Exception(file + ": too large for a password file");
  case TSmallRead::srFailed:
    break;
  }
  throw Exception(file + ": " + std::strerror(EACCES));
}
#else
static std::string ReadText(const std::string &file) {
  // O_NOFOLLOW and the checks on the open descriptor: what is checked is what is read.
  TFileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0)
    throw Exception(file + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0)
    throw Exception(file + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode))
    throw Exception(file + ": not a regular file");
  if (st.st_uid != ::geteuid())
    throw Exception(file + ": owned by another user; the password file must be your own");
  if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
    throw Exception(file +
                    ": others can read or change it; make it readable by its owner only "
                    "(chmod 600 " +
                    file + ")");
  if (static_cast<size_t>(st.st_size) > MaxPasswordFile)
    throw Exception(file + ": too large for a password file");
  std::string text(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd.Get(), text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      throw Exception(file + ": " + std::strerror(errno));
    if (n == 0)
      break;
    got += static_cast<size_t>(n);
  }
  text.resize(got);
  return text;
}
#endif

std::string TPasswordSource::ReadFile(const std::string &file) {
  const std::string password = FirstLine(ReadText(file));
  if (password.empty())
    throw Exception(file + ": the first line is empty");
  return password;
}

} // namespace vantari
