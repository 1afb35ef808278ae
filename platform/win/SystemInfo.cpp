#include "SystemInfo.h"

#include "Paths.h"
#include "WinText.h"

namespace vantari {

namespace {

// The version the system really runs: GetVersionEx answers what the manifest declares.
using TRtlGetVersion = LONG(WINAPI *)(OSVERSIONINFOW *);

} // namespace

std::string LocalStateFolder() {
  // GetEnvironmentVariableW, not the C library's copy: what was set since the start counts.
  std::wstring local(::GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0), L'\0');
  if (!local.empty())
    local.resize(
        ::GetEnvironmentVariableW(L"LOCALAPPDATA", local.data(), static_cast<DWORD>(local.size())));
  std::string base = win::NarrowPath(local);
  if (base.empty())
    base = HomeFolder() + "AppData/Local";
  if (base.back() != '/' && base.back() != '\\')
    base += '/';
  const std::string folder = base + "Vantari/";
  ::CreateDirectoryW(win::WidePath(base).c_str(), nullptr);
  ::CreateDirectoryW(win::WidePath(folder).c_str(), nullptr);
  return folder;
}

std::string OperatingSystemVersion() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto get = ntdll ? reinterpret_cast<TRtlGetVersion>(
                               reinterpret_cast<void *>(::GetProcAddress(ntdll, "RtlGetVersion")))
                         : nullptr;
  if (get == nullptr || get(&info) != 0)
    return "Windows";
  return "Windows " + std::to_string(info.dwMajorVersion) + "." +
         std::to_string(info.dwMinorVersion) + "." + std::to_string(info.dwBuildNumber);
}

int64_t FreeDiskBytes(const std::string &path) {
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(win::WidePath(path).c_str(), &available, nullptr, nullptr))
    return -1;
  return static_cast<int64_t>(available.QuadPart);
}

// The Windows notification belongs to the nightly program of Windows; this one shows none.
bool ShowDesktopNotice(const std::string &, const std::string &) {
  return false;
}

} // namespace vantari
