#include "SystemInfo.h"

#include "Paths.h"
#include "WinText.h"

#include <shellapi.h>

#include <algorithm>
#include <chrono>

namespace vantari {

namespace {

// Copies text into a fixed field of the notification, cut to fit with its terminating zero.
template <size_t N> void CopyInto(wchar_t (&field)[N], const std::string &text) {
  const std::wstring wide = win::Widen(text);
  const size_t length = std::min(wide.size(), N - 1);
  std::copy_n(wide.data(), length, field);
  field[length] = L'\0';
}

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

// The nightly program has no window: a notification-area icon of a hidden window carries the
// balloon (a toast on newer Windows), and goes once it has stood for a while.
bool ShowDesktopNotice(const std::string &title, const std::string &body,
                       std::chrono::milliseconds shownFor) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSW type{};
  type.lpfnWndProc = ::DefWindowProcW;
  type.hInstance = instance;
  type.lpszClassName = L"VantariNotice";
  ::RegisterClassW(&type); // a second notice finds the class registered
  HWND window = ::CreateWindowExW(0, type.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, instance, nullptr);
  if (window == nullptr)
    return false;
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  icon.uID = 1;
  icon.uFlags = NIF_ICON | NIF_TIP | NIF_INFO;
  icon.hIcon = ::LoadIconW(nullptr, IDI_WARNING);
  icon.dwInfoFlags = NIIF_WARNING;
  CopyInto(icon.szTip, title);
  CopyInto(icon.szInfoTitle, title);
  CopyInto(icon.szInfo, body);
  const bool shown = ::Shell_NotifyIconW(NIM_ADD, &icon) != FALSE;
  if (shown) {
    const auto until = std::chrono::steady_clock::now() + shownFor;
    while (std::chrono::steady_clock::now() < until) {
      MSG message;
      while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageW(&message);
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 200, QS_ALLINPUT);
    }
    ::Shell_NotifyIconW(NIM_DELETE, &icon);
  }
  ::DestroyWindow(window);
  return shown;
}

} // namespace vantari
