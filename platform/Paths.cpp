#include "Paths.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantari {

namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/')
    folder += '/';
  return folder;
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
  const std::string exe = ProgramFile();
  if (exe.empty())
    return "./";
  return WithSlash(std::filesystem::path(exe).parent_path().string());
}

std::string ProgramFile() {
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : exe.string();
}

namespace {

// $variable/vantari/ when it holds an absolute path, else the home's fallback/vantari/;
// made private to the user when missing.
std::string XdgFolder(const char *variable, const char *fallback) {
  std::string base;
  if (const char *xdg = std::getenv(variable); xdg != nullptr && xdg[0] == '/')
    base = xdg;
  else
    base = HomeFolder() + fallback;
  const std::string folder = WithSlash(base) + "vantari/";
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    std::filesystem::create_directories(folder, error);
    ::chmod(folder.c_str(), 0700);
  }
  return folder;
}

} // namespace

std::string ConfigFolder() {
  return XdgFolder("XDG_CONFIG_HOME", ".config");
}

std::string StateFolder() {
  return XdgFolder("XDG_STATE_HOME", ".local/state");
}

std::vector<std::string> CommandLineArguments(int argc, char **argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

} // namespace vantari
