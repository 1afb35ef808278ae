#include "DurableFile.h"

#include "FileDescriptor.h"
#include "WinText.h"

#include <random>

namespace vantari {

namespace {

using win::WidePath;

std::string FolderOf(const std::string &path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

std::string RandomSuffix() {
  static std::mt19937_64 generator(std::random_device{}() ^ ::GetCurrentProcessId());
  static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string text(8, '0');
  for (auto &c : text)
    c = digits[generator() % 36];
  return text;
}

// A new file beside path with content, on disk and closed; its name, or empty with failure set.
std::string WriteTemporary(const std::string &path, std::string_view content, TOsResult &failure) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = path + "." + RandomSuffix();
    // CREATE_NEW: never an existing name; no sharing while it is written.
    TFileDescriptor file(::CreateFileW(WidePath(name).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
      if (::GetLastError() == ERROR_FILE_EXISTS)
        continue;
      failure = LastOsError();
      return {};
    }
    if (WriteAll(file.Get(), content) && ::FlushFileBuffers(file.Get()) && file.Close())
      return name;
    failure = LastOsError();
    file.Close();
    ::DeleteFileW(WidePath(name).c_str());
    return {};
  }
  failure = OsError(ERROR_FILE_EXISTS);
  return {};
}

// Moves the finished temporary file to path; replace says whether an existing path may go.
TOsResult PutInPlace(const std::string &temporary, const std::string &path, unsigned mode,
                     bool replace) {
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (!::MoveFileExW(WidePath(temporary).c_str(), WidePath(path).c_str(), flags)) {
    const TOsResult failure = LastOsError();
    ::DeleteFileW(WidePath(temporary).c_str());
    return failure;
  }
  if ((mode & 0200) == 0) // no owner write bit: read-only, as the file system shows it
    ::SetFileAttributesW(WidePath(path).c_str(), FILE_ATTRIBUTE_READONLY);
  return OsResult(SyncFolder(FolderOf(path)));
}

// Writes content beside path and puts it in place.
TOsResult WriteInPlace(const std::string &path, std::string_view content, unsigned mode,
                       bool replace) {
  TOsResult failure;
  const std::string temporary = WriteTemporary(path, content, failure);
  return temporary.empty() ? failure : PutInPlace(temporary, path, mode, replace);
}

} // namespace

TSmallRead ReadSmallFile(const std::string &path, size_t maxBytes, std::string &content) {
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TSmallRead::srMissing
                                                                          : TSmallRead::srFailed;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return TSmallRead::srLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    return TSmallRead::srNotRegular;
  TFileDescriptor file(::CreateFileW(
      WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid())
    return TSmallRead::srFailed;
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) // a pipe or a device under a file's name
    return TSmallRead::srNotRegular;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size))
    return TSmallRead::srFailed;
  if (static_cast<uint64_t>(size.QuadPart) > maxBytes)
    return TSmallRead::srTooLarge;
  content.clear();
  char buffer[8192];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr))
      return TSmallRead::srFailed;
    if (n == 0)
      return TSmallRead::srRead;
    content.append(buffer, n);
    if (content.size() > maxBytes) // it grew while it was read
      return TSmallRead::srTooLarge;
  }
}

TOsResult ReplaceFileDurably(const std::string &path, std::string_view content, unsigned mode) {
  return WriteInPlace(path, content, mode, true);
}

TOsResult CreateFileDurably(const std::string &path, std::string_view content, unsigned mode) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name exists: never replaced.
  return WriteInPlace(path, content, mode, false);
}

bool IsSymbolicLink(const std::string &path) {
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsWritableFile(const std::string &path) {
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY))
    return false;
  TFileDescriptor file(::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.Valid();
}

} // namespace vantari
