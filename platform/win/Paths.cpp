#include "Paths.h"

#include "WinText.h"

#include <shellapi.h>

namespace vantari {

namespace {

using win::NarrowPath;
using win::WidePath;

std::string WithSlash(std::string folder) {
  if (folder.empty() || (folder.back() != '/' && folder.back() != '\\'))
    folder += '/';
  return folder;
}

std::string Environment(const wchar_t *name) {
  const DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0)
    return {};
  std::wstring value(n, L'\0');
  value.resize(::GetEnvironmentVariableW(name, value.data(), n));
  return NarrowPath(value);
}

} // namespace

std::string HomeFolder() {
  const std::string profile = Environment(L"USERPROFILE");
  return WithSlash(profile.empty() ? std::string("C:/") : profile);
}

std::string ProgramFile() {
  std::wstring exe(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
    if (n == 0)
      return {};
    if (n < exe.size()) {
      exe.resize(n);
      return NarrowPath(exe);
    }
    exe.resize(exe.size() * 2);
  }
}

std::string ProgramFolder() {
  const std::string path = ProgramFile();
  return path.empty() ? "./" : path.substr(0, path.rfind('/') + 1);
}

namespace {

// %variable%\Vantari\ (else the profile's fallback\Vantari\), created when missing.
std::string VantariFolderIn(const wchar_t *variable, const char *fallback) {
  std::string base = Environment(variable);
  if (base.empty())
    base = HomeFolder() + fallback;
  const std::string folder = WithSlash(base) + "Vantari/";
  ::CreateDirectoryW(WidePath(base).c_str(), nullptr);
  ::CreateDirectoryW(WidePath(folder).c_str(), nullptr);
  return folder;
}

} // namespace

// %APPDATA%\Vantari\: FtpHost.ini holds a password, and the program's own folder (under
// Program Files) is readable by every user of the computer and writable by none.
std::string ConfigFolder() {
  const std::string folder = VantariFolderIn(L"APPDATA", "AppData/Roaming");
  // A customer coming from the old client kept FtpHost.ini beside the program: taken over
  // once; from then on the copy here is the one.
  const std::string old = ProgramFolder() + "FtpHost.ini";
  ::CopyFileW(WidePath(old).c_str(), WidePath(folder + "FtpHost.ini").c_str(), TRUE);
  return folder;
}

// %LOCALAPPDATA%\Vantari\: stays on this computer when the profile roams.
std::string StateFolder() {
  return VantariFolderIn(L"LOCALAPPDATA", "AppData/Local");
}

std::vector<std::string> CommandLineArguments(int argc, char **argv) {
  int count = 0;
  LPWSTR *wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr)
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i)
    arguments.push_back(win::Narrow(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

} // namespace vantari
