#include "FolderOps.h"

#include "FileDescriptor.h"
#include "WinText.h"

#include <restartmanager.h>

#include <algorithm>

namespace vantari {

namespace {

using win::Narrow;
using win::WidePath;

std::string Joined(const std::string &folder, const std::string &name) {
  return (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) ? folder + name
                                                                              : folder + "/" + name;
}

TEntryKind KindOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return TEntryKind::ekLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    return TEntryKind::ekFolder;
  return (attributes & FILE_ATTRIBUTE_DEVICE) ? TEntryKind::ekOther : TEntryKind::ekFile;
}

// Owns one Restart Manager session.
class TRmSession {
public:
  TRmSession() {
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    FOpen = ::RmStartSession(&FSession, 0, key) == ERROR_SUCCESS;
  }
  ~TRmSession() {
    if (FOpen)
      ::RmEndSession(FSession);
  }
  TRmSession(const TRmSession &) = delete;
  TRmSession &operator=(const TRmSession &) = delete;

  // The processes other than this one that hold one of files, as the Restart Manager knows.
  std::vector<DWORD> Holders(const std::vector<std::wstring> &files) {
    std::vector<LPCWSTR> names;
    for (const auto &file : files)
      names.push_back(file.c_str());
    if (!FOpen || ::RmRegisterResources(FSession, static_cast<UINT>(names.size()), names.data(), 0,
                                        nullptr, 0, nullptr) != ERROR_SUCCESS)
      return {};
    std::vector<RM_PROCESS_INFO> holders(16);
    UINT needed = 0;
    UINT count = static_cast<UINT>(holders.size());
    DWORD reasons = 0;
    DWORD result = ::RmGetList(FSession, &needed, &count, holders.data(), &reasons);
    if (result == ERROR_MORE_DATA) {
      holders.resize(needed);
      count = needed;
      result = ::RmGetList(FSession, &needed, &count, holders.data(), &reasons);
    }
    std::vector<DWORD> others;
    if (result != ERROR_SUCCESS)
      return others;
    for (UINT i = 0; i < count; ++i)
      if (holders[i].Process.dwProcessId != ::GetCurrentProcessId())
        others.push_back(holders[i].Process.dwProcessId);
    return others;
  }

private:
  DWORD FSession = 0;
  bool FOpen = false;
};

// Whether the file cannot be opened for exclusive access: somebody holds it open.
bool HeldOpen(const std::wstring &path) {
  TFileDescriptor file(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return !file.Valid() && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// The regular files directly in folder, as Win32 paths.
std::vector<std::wstring> FilesOf(const std::string &folder) {
  std::vector<std::wstring> files;
  for (const TFolderEntry &entry : ListFolder(folder))
    if (entry.Kind == TEntryKind::ekFile)
      files.push_back(WidePath(Joined(folder, entry.Name)));
  return files;
}

// The program file of a running process, "" when it cannot be asked.
std::string ProgramOf(DWORD process) {
  win::TWinHandle handle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process));
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!handle.Valid() || !::QueryFullProcessImageNameW(handle.Get(), 0, path.data(), &size))
    return {};
  path.resize(size);
  return win::NarrowPath(path);
}

} // namespace

std::vector<TFolderEntry> ListFolder(const std::string &folder) {
  std::vector<TFolderEntry> entries;
  WIN32_FIND_DATAW data{};
  win::TFind find(WidePath(Joined(folder, "*")), data);
  if (!find.Valid())
    return entries;
  do {
    const std::string name = Narrow(data.cFileName);
    if (name == "." || name == "..")
      continue;
    TFolderEntry entry{name, KindOf(data.dwFileAttributes)};
    entry.LinksToFolder =
        entry.Kind == TEntryKind::ekLink && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    entries.push_back(std::move(entry));
  } while (find.Next(data));
  std::sort(entries.begin(), entries.end(),
            [](const TFolderEntry &a, const TFolderEntry &b) { return a.Name < b.Name; });
  return entries;
}

std::optional<TEntryKind> EntryKindOf(const std::string &path) {
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return std::nullopt;
  return KindOf(attributes);
}

TOsResult MakeFolder(const std::string &path) {
  // The folders made here lie below the user's own (the data folder's Backup, the profile):
  // they inherit an ACL that is the user's.
  return OsResult(::CreateDirectoryW(WidePath(path).c_str(), nullptr) != 0);
}

TOsResult MoveNoReplace(const std::string &from, const std::string &to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists, atomically: the
  // guarantee the POSIX side gets from RENAME_NOREPLACE. WRITE_THROUGH: on disk on return.
  return OsResult(
      ::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0);
}

TOsResult MoveReplacing(const std::string &from, const std::string &to) {
  return OsResult(::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0);
}

TOsResult CopyEntry(const std::string &from, const std::string &to) {
  // CopyFile keeps the last-write time; a link goes as a link.
  return OsResult(::CopyFileExW(WidePath(from).c_str(), WidePath(to).c_str(), nullptr, nullptr,
                                nullptr, COPY_FILE_FAIL_IF_EXISTS | COPY_FILE_COPY_SYMLINK) != 0);
}

namespace {

// Removes what stands at path, a name in the "\\?\" form so that it is taken as it is
// written (a trailing dot or blank kept), depth folders below the tree's top; a folder with
// what it holds when tree is set (read-only files too), else only an empty one.
TOsResult RemoveLongPath(const std::wstring &path, int depth, bool tree) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? TOsResult{}
               : OsError(static_cast<int>(error));
  }
  if (tree && (attributes & FILE_ATTRIBUTE_READONLY))
    ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return OsResult(::DeleteFileW(path.c_str()) != 0);
  if (tree && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) { // a link goes as itself
    if (depth >= MaxTreeDepth)
      return OsError(ERROR_FILENAME_EXCED_RANGE);
    // Names first: removing while listing a folder may skip or repeat entries.
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    win::TFind find(path + L"\\*", data);
    if (find.Valid())
      do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
          names.push_back(name);
      } while (find.Next(data));
    for (const std::wstring &name : names)
      if (TOsResult removed = RemoveLongPath(path + L"\\" + name, depth + 1, true); !removed)
        return removed;
  }
  return OsResult(::RemoveDirectoryW(path.c_str()) != 0);
}

} // namespace

TOsResult RemoveTree(const std::string &path) {
  return RemoveLongPath(win::LongPath(path), 1, true);
}

bool SyncFolder(const std::string &folder) {
  // Every rename here is MOVEFILE_WRITE_THROUGH, so the entries are on disk already; flushing
  // the folder itself needs rights a user may not have and is tried only as a courtesy.
  TFileDescriptor handle(
      ::CreateFileW(WidePath(folder).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (handle.Valid()) {
    ::FlushFileBuffers(handle.Get());
    return true;
  }
  const DWORD attributes = ::GetFileAttributesW(WidePath(folder).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SyncFile(const std::string &path) {
  TFileDescriptor file(::CreateFileW(
      WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return file.Valid() && ::FlushFileBuffers(file.Get());
}

TOsResult RemoveEntry(const std::string &path) {
  return RemoveLongPath(win::LongPath(path), 1, false);
}

bool AnyFileInUse(const std::string &folder) {
  return !ProgramsHoldingFiles(folder).empty();
}

std::vector<std::string> ProgramsHoldingFiles(const std::string &folder) {
  const std::vector<std::wstring> files = FilesOf(folder);
  std::vector<std::string> programs;
  if (files.empty())
    return programs;
  // The Restart Manager knows the holder on Windows; where it names none (Wine's is a stub), a
  // file that cannot be opened without sharing is held by somebody it cannot name.
  TRmSession session;
  for (const DWORD process : session.Holders(files))
    programs.push_back(ProgramOf(process));
  if (programs.empty() && std::any_of(files.begin(), files.end(), HeldOpen))
    programs.emplace_back();
  return programs;
}

bool FolderLockTaken(const std::string &folder) {
  win::TWinHandle lock(::CreateFileW(WidePath(Joined(folder, ".lock")).c_str(),
                                     GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_HIDDEN, nullptr));
  OVERLAPPED whole{};
  if (!lock.Valid())
    return false; // never locked: TFolderLock makes the file
  // A shared lock only asks: it is let go at once, and only a held exclusive one refuses it.
  if (::LockFileEx(lock.Get(), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
    ::UnlockFileEx(lock.Get(), 0, 1, 0, &whole);
    return false;
  }
  return ::GetLastError() == ERROR_LOCK_VIOLATION;
}

void StartWriteBack(const std::string &) {
  // Windows has no call that only starts the write-out; the later FlushFileBuffers does it all.
}

// Windows cannot lock a folder itself: the lock is on a small hidden file inside it, which
// stays (an empty file; a lock dies with its process).
TFolderLock::TFolderLock(const std::string &folder)
    : FFolder(::CreateFileW(WidePath(Joined(folder, ".lock")).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr)) {
  OVERLAPPED whole{};
  FHeld = FFolder != InvalidNativeHandle &&
          (::LockFileEx(FFolder, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                        &whole) ||
           ::GetLastError() != ERROR_LOCK_VIOLATION);
}

TFolderLock::~TFolderLock() {
  if (FFolder != InvalidNativeHandle)
    ::CloseHandle(FFolder); // releases the lock
}

} // namespace vantari
