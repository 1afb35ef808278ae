#include "SystemInfo.h"

#include "Paths.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace vantari {

std::string LocalStateFolder() {
  std::string base;
  if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/')
    base = xdg;
  else
    base = HomeFolder() + ".local/state";
  if (base.back() != '/')
    base += '/';
  const std::string folder = base + "vantari/";
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    std::filesystem::create_directories(folder, error);
    ::chmod(folder.c_str(), 0700);
  }
  return folder;
}

std::string OperatingSystemVersion() {
  utsname name{};
  if (::uname(&name) != 0)
    return "Linux";
  return std::string(name.sysname) + " " + name.release + " " + name.machine;
}

int64_t FreeDiskBytes(const std::string &path) {
  struct statvfs volume {};
  if (::statvfs(path.c_str(), &volume) != 0)
    return -1;
  return static_cast<int64_t>(volume.f_bavail) * static_cast<int64_t>(volume.f_frsize);
}

bool RunProgram(const std::string &program, const std::vector<std::string> &arguments,
                int timeoutMs) {
  std::vector<char *> argv{const_cast<char *>(program.c_str())};
  for (const std::string &argument : arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = -1;
  if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
    return false;
  int status = 0;
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    if (::waitpid(child, &status, WNOHANG) == child)
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, &status, 0);
  return false;
}

} // namespace vantari
