#include "FileSystem.h"

#include "DosDate.h"
#include "FileDescriptor.h"
#include "WinText.h"

#include <algorithm>
#include <random>

// <windows.h> maps these names onto its own functions; here they are the program's.
#undef DeleteFile
#undef GetTempFileName

namespace vantari {

namespace {

using win::Narrow;
using win::NarrowPath;
using win::WidePath;

// The Windows attribute bits are the TFileAttr bits.
constexpr DWORD kAttrBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                            FILE_ATTRIBUTE_ARCHIVE;

DWORD Attributes(const std::string &path) {
  return ::GetFileAttributesW(WidePath(path).c_str());
}

int32_t DosDateOf(const FILETIME &utc) {
  SYSTEMTIME universal{}, local{};
  if (!::FileTimeToSystemTime(&utc, &universal) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
    return -1;
  return EncodeFileDate(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute,
                        local.wSecond);
}

bool FileTimeOf(int32_t fileDate, FILETIME &utc) {
  const auto bits = static_cast<uint32_t>(fileDate);
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>((bits >> 25) + 1980);
  local.wMonth = static_cast<WORD>((bits >> 21) & 0x0F);
  local.wDay = static_cast<WORD>((bits >> 16) & 0x1F);
  local.wHour = static_cast<WORD>((bits >> 11) & 0x1F);
  local.wMinute = static_cast<WORD>((bits >> 5) & 0x3F);
  local.wSecond = static_cast<WORD>((bits & 0x1F) * 2);
  SYSTEMTIME universal{};
  if (::TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) &&
      ::SystemTimeToFileTime(&universal, &utc))
    return true;
  // Windows refuses fields out of range (a damaged archive, e.g. hour 25); they are
  // normalised as everywhere else, so such a member is restored, not failed.
  const time_t t = FileDateToDateTime(fileDate);
  if (t == -1)
    return false;
  constexpr uint64_t kEpochTo1601 = 11644473600ull; // seconds from 1601-01-01 to 1970-01-01
  const uint64_t ticks = (static_cast<uint64_t>(t) + kEpochTo1601) * 10000000ull;
  utc.dwLowDateTime = static_cast<DWORD>(ticks);
  utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return true;
}

bool SetAttribute(const std::string &path, DWORD bit, bool on) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return false;
  const DWORD wanted = on ? (attributes | bit) : (attributes & ~bit);
  // No bit left is written as FILE_ATTRIBUTE_NORMAL; 0 would mean "leave as it is".
  return wanted == attributes ||
         ::SetFileAttributesW(WidePath(path).c_str(), wanted ? wanted : FILE_ATTRIBUTE_NORMAL) != 0;
}

std::string RandomName() {
  static std::mt19937_64 generator(std::random_device{}() ^ ::GetCurrentProcessId());
  static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string text(6, '0');
  for (auto &c : text)
    c = digits[generator() % 36];
  return text;
}

} // namespace

std::vector<TSearchRec> FindFiles(const std::string &pattern, int attr) {
  std::vector<TSearchRec> found;
  const std::string dir = ExtractFilePath(pattern);
  const std::string mask = ExtractFileName(pattern);
  WIN32_FIND_DATAW data{};
  // Every name, matched here: the system's own matching also tries the short 8.3 names.
  win::TFind find(WidePath(dir + "*"), data);
  if (!find.Valid())
    return found;
  const int excluded = (faHidden | faSysFile | faDirectory) & ~attr;
  do {
    TSearchRec rec;
    rec.Name = Narrow(data.cFileName);
    if (rec.Name == "." || rec.Name == ".." || !MatchesMask(rec.Name, mask))
      continue;
    rec.Attr = static_cast<int>(data.dwFileAttributes & kAttrBits) |
               ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? faSymLink : 0);
    if (rec.Attr & excluded)
      continue;
    rec.Size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    rec.Time = DosDateOf(data.ftLastWriteTime);
    constexpr int64_t kTicksTo1970 = 116444736000000000; // 100 ns ticks from 1601 to 1970
    const int64_t ticks = (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                          data.ftLastWriteTime.dwLowDateTime;
    rec.WriteTime = (ticks - kTicksTo1970) / 10000000;
    found.push_back(std::move(rec));
  } while (find.Next(data));
  SortByName(found);
  return found;
}

bool FileExists(const std::string &path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string &path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::string &path) {
  std::string dir = path;
  while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\'))
    dir.pop_back();
  if (dir.empty() || DirectoryExists(dir))
    return !dir.empty();
  if (dir.size() == 2 && dir[1] == ':')
    return false; // a drive that is not there
  const std::string parent = ExtractFileDir(dir);
  if (!parent.empty() && parent != dir && !ForceDirectories(parent))
    return false;
  return ::CreateDirectoryW(WidePath(dir).c_str(), nullptr) != 0 || DirectoryExists(dir);
}

bool DeleteFile(const std::string &path) {
  // Fails for a folder, a missing file, a read-only file and a file another program holds.
  return ::DeleteFileW(WidePath(path).c_str()) != 0;
}

int64_t FileSize(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data))
    return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int FileGetAttr(const std::string &path) {
  const DWORD attributes = Attributes(path);
  return attributes == INVALID_FILE_ATTRIBUTES ? -1 : static_cast<int>(attributes & kAttrBits);
}

bool FileSetReadOnly(const std::string &path, bool readOnly) {
  return SetAttribute(path, FILE_ATTRIBUTE_READONLY, readOnly);
}

bool FileHasArchiveAttr(const std::string &path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_ARCHIVE);
}

bool FileClearArchiveAttr(const std::string &path) {
  return FileExists(path) && SetAttribute(path, FILE_ATTRIBUTE_ARCHIVE, false);
}

bool FileSetArchiveAttr(const std::string &path) {
  return SetAttribute(path, FILE_ATTRIBUTE_ARCHIVE, true);
}

int32_t FileGetDate(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data))
    return -1;
  return DosDateOf(data.ftLastWriteTime);
}

int32_t FileGetDate(TNativeHandle fd) {
  FILETIME written{};
  return ::GetFileTime(fd, nullptr, nullptr, &written) ? DosDateOf(written) : -1;
}

bool FileSetDate(const std::string &path, int32_t fileDate) {
  TFileDescriptor file(::CreateFileW(WidePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.Valid() && FileSetDate(file.Get(), fileDate);
}

bool FileSetDate(TNativeHandle fd, int32_t fileDate) {
  FILETIME utc{};
  return FileTimeOf(fileDate, utc) && ::SetFileTime(fd, nullptr, &utc, &utc);
}

std::string GetTempDir() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  return IncludeTrailingPathDelimiter(NarrowPath(std::wstring(buffer, n)));
}

std::string GetTempFileName(const std::string &dir, const std::string &prefix) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = IncludeTrailingPathDelimiter(dir) + prefix + RandomName();
    TFileDescriptor file(::CreateFileW(WidePath(name).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid())
      return name;
    if (::GetLastError() != ERROR_FILE_EXISTS)
      break;
  }
  return std::string();
}

std::string GetCurrentDir() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  std::wstring buffer(n, L'\0');
  const DWORD written = ::GetCurrentDirectoryW(n, buffer.data());
  buffer.resize(written);
  return NarrowPath(buffer);
}

} // namespace vantari
