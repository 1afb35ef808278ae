#include "TargetFolder.h"

#include "FileSystem.h"
#include "FolderOps.h"
#include "TargetFolderNames.h"
#include "WinText.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace vantari {

using targetfolder::EqualIgnoringCase;
using targetfolder::IsTempName;
using win::TWinHandle;
using win::WidePath;

namespace {

// A live writer's claim on its temporary file: one byte locked far past any content (a lock on
// Windows also bars reads and writes of its range, so it must lie where nobody reads).
constexpr DWORD kClaimLow = 0xFFFFFFFF;
constexpr DWORD kClaimHigh = 0x7FFFFFFF;

bool Claim(HANDLE file, bool wait) {
  OVERLAPPED at{};
  at.Offset = kClaimLow;
  at.OffsetHigh = kClaimHigh;
  const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  return ::LockFileEx(file, flags, 0, 1, 0, &at) != 0;
}

bool MarkForDeletion(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// Whether another handle already removed the file (it goes once the last handle closes).
bool DeletePending(HANDLE file) {
  FILE_STANDARD_INFO info{};
  return ::GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) &&
         info.DeletePending;
}

DWORD AttributesOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(file, &info) ? info.dwFileAttributes
                                                   : INVALID_FILE_ATTRIBUTES;
}

// Opens a folder without delete sharing, so that while it is open nobody renames it, removes it
// or puts a link in its place. follow: whether a reparse point at path is followed.
TWinHandle OpenFolder(const std::string &path, bool follow) {
  TWinHandle folder(::CreateFileW(
      WidePath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
  if (!folder.Valid())
    return folder;
  const DWORD attributes = AttributesOf(folder.Get());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return TWinHandle();
  return folder;
}

// Closes a handle the shared header keeps as a plain one, once.
void CloseOwned(HANDLE &handle) {
  TWinHandle owned(std::exchange(handle, InvalidNativeHandle));
}

// The folder's own path as the file system knows it, links resolved.
std::string FinalPath(HANDLE folder) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetFinalPathNameByHandleW(folder, path.data(), static_cast<DWORD>(path.size()), 0);
    if (n == 0)
      return {};
    if (n < path.size()) {
      path.resize(n);
      return win::NarrowPath(path);
    }
    path.resize(n + 1);
  }
}

std::vector<std::string> NamesIn(const std::string &folder, const std::string &pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data{};
  win::TFind find(WidePath(folder + "/" + pattern), data);
  if (!find.Valid())
    return names;
  do {
    const std::string name = win::Narrow(data.cFileName);
    if (name != "." && name != "..")
      names.push_back(name);
  } while (find.Next(data));
  return names;
}

// A name for one entry of a folder: no delimiter, no drive or stream (':'), not "." or "..".
bool IsPlainName(const std::string &name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\:") == std::string::npos;
}

} // namespace

TTargetFolder::~TTargetFolder() {
  CloseOwned(FFd);
}

TTargetFolder::TTargetFolder(TTargetFolder &&other) noexcept
    : FFd(std::exchange(other.FFd, InvalidNativeHandle)), FPath(std::move(other.FPath)) {}

TTargetFolder &TTargetFolder::operator=(TTargetFolder &&other) noexcept {
  if (this != &other) {
    CloseOwned(FFd);
    FFd = std::exchange(other.FFd, InvalidNativeHandle);
    FPath = std::move(other.FPath);
  }
  return *this;
}

TTargetFolder TTargetFolder::Open(const std::string &path, bool create) {
  const std::string dir = path.empty() ? std::string(".") : path;
  if (create && !DirectoryExists(dir) && !ForceDirectories(dir))
    return TTargetFolder();
  TWinHandle folder = OpenFolder(dir, true);
  std::string final = folder.Valid() ? FinalPath(folder.Get()) : std::string();
  if (final.empty())
    return TTargetFolder();
  return TTargetFolder(folder.Release(), std::move(final));
}

TTargetFolder TTargetFolder::Sub(const std::string &name, bool create) const {
  if (!IsOpen() || !IsPlainName(name))
    return TTargetFolder();
  const std::string path = FPath + "/" + name;
  TWinHandle folder = OpenFolder(path, false);
  if (!folder.Valid() && create &&
      (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND) &&
      (::CreateDirectoryW(WidePath(path).c_str(), nullptr) ||
       ::GetLastError() == ERROR_ALREADY_EXISTS))
    folder = OpenFolder(path, false);
  if (!folder.Valid())
    return TTargetFolder();
  return TTargetFolder(folder.Release(), path);
}

bool TTargetFolder::Entry(const std::string &name, TTargetEntry &entry) const {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!IsOpen() || !IsPlainName(name) ||
      !::GetFileAttributesExW(WidePath(FPath + "/" + name).c_str(), GetFileExInfoStandard, &data))
    return false;
  entry.Folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                 !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  entry.FileDate = FileGetDate(FPath + "/" + name);
  return true;
}

std::string TTargetFolder::Match(const std::string &name, bool folder) const {
  TTargetEntry entry;
  if (!IsOpen())
    return std::string();
  if (Entry(name, entry))
    return name;
  std::string best;
  for (const std::string &candidate : NamesIn(FPath, "*"))
    if (EqualIgnoringCase(candidate, name) && Entry(candidate, entry) && entry.Folder == folder &&
        (best.empty() || candidate < best))
      best = candidate;
  return best;
}

TReplacementFile::TReplacementFile(const TTargetFolder &folder, const std::string &name)
    : FFolderPath(folder.Path()), FName(name) {
  // A duplicate of the folder's handle keeps the folder in place while the file is written.
  if (folder.IsOpen() && IsPlainName(name))
    ::DuplicateHandle(::GetCurrentProcess(), folder.Handle(), ::GetCurrentProcess(), &FFolder, 0,
                      FALSE, DUPLICATE_SAME_ACCESS);
  DWORD error = ERROR_INVALID_NAME;
  for (int attempt = 0;
       FFolder != InvalidNativeHandle && FFd == InvalidNativeHandle && attempt < 100; ++attempt) {
    FTempName = targetfolder::TempName(::GetCurrentProcessId());
    // Every sharing allowed, the rename into place included: the claim below is what keeps
    // another run's clean-up away.
    FFd = ::CreateFileW(WidePath(FFolderPath + "/" + FTempName).c_str(),
                        GENERIC_READ | GENERIC_WRITE | DELETE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FFd == InvalidNativeHandle) {
      error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS)
        break;
      continue;
    }
    // Between the create and the claim another run may have taken it for abandoned and
    // removed it: then a new one.
    if (!Claim(FFd, true) || DeletePending(FFd)) {
      CloseOwned(FFd);
      error = ERROR_FILE_EXISTS;
    }
  }
  if (FFd == InvalidNativeHandle) {
    CloseOwned(FFolder);
    const TOsResult cause = OsError(static_cast<int>(error));
    throw EFCreateError(Format("Cannot create file \"%s\". %s", name.c_str(), cause.Text.c_str()),
                        cause);
  }
}

TReplacementFile::~TReplacementFile() {
  Discard();
  CloseOwned(FFolder);
}

void TReplacementFile::Discard() {
  const TWinHandle file(
      std::exchange(FFd != InvalidNativeHandle ? FFd : FLock, InvalidNativeHandle));
  FFd = FLock = InvalidNativeHandle;
  if (file.Valid() && !FCommitted)
    MarkForDeletion(file.Get()); // by the handle: whatever name it has now
  FTempName.clear();
}

bool TReplacementFile::ReplacesExisting() const {
  const DWORD attributes = ::GetFileAttributesW(WidePath(FFolderPath + "/" + FName).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT));
}

void TReplacementFile::SyncFolder() const {
  // The renames were written through already; this is the courtesy flush.
  if (FFolder != InvalidNativeHandle)
    vantari::SyncFolder(FFolderPath);
}

void TReplacementFile::RemoveAbandoned(const TTargetFolder &folder) {
  if (!folder.IsOpen())
    return;
  for (const std::string &name : NamesIn(folder.Path(), ".vantari-*.tmp")) {
    if (!IsTempName(name))
      continue;
    win::TWinHandle file(::CreateFileW(
        WidePath(folder.Path() + "/" + name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // Only a plain file nobody claims; the claim is kept until the handle closes, so that a
    // writer that claims it afterwards sees it gone.
    const DWORD attributes = file.Valid() ? AttributesOf(file.Get()) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        Claim(file.Get(), false))
      MarkForDeletion(file.Get());
  }
}

void TReplacementFile::Finish(int32_t fileDate, bool durable) {
  if (FFd == InvalidNativeHandle)
    RaiseWriteError({});
  TOsResult outcome = OsResult(fileDate == -1 || FileSetDate(FFd, fileDate));
  if (durable && !::FlushFileBuffers(FFd) && outcome)
    outcome = LastOsError();
  // The handle stays open as the claim (and the way to remove the file if it is not put in
  // place); no more reading or writing through it.
  FLock = std::exchange(FFd, InvalidNativeHandle);
  if (!outcome)
    RaiseWriteError(outcome);
}

void TReplacementFile::Commit() {
  if (FFd != InvalidNativeHandle)
    Finish(-1);
  // The claimed handle shares deletion, so the move goes ahead while it still bars clean-up.
  if (FTempName.empty() || FLock == InvalidNativeHandle ||
      !::MoveFileExW(WidePath(FFolderPath + "/" + FTempName).c_str(),
                     WidePath(FFolderPath + "/" + FName).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const TOsResult cause = LastOsError();
    Discard();
    RaiseWriteError(cause);
  }
  FCommitted = true;
  FTempName.clear();
  CloseOwned(FLock);
}

} // namespace vantari
