#include "SystemInfo.h"

#include "Paths.h"
#include "WinText.h"

namespace vantari {

namespace {

// The version the system really runs: GetVersionEx answers what the manifest declares.
using TRtlGetVersion = LONG(WINAPI *)(OSVERSIONINFOW *);

} // namespace

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
