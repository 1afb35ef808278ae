#include "SystemInfo.h"

#include "Paths.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace vantari {

namespace {

// A string as GVariant text: in single quotes, with backslashes and quotes escaped.
std::string VariantString(const std::string &text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\\' || c == '\'')
      quoted += '\\';
    quoted += c;
  }
  return quoted + "'";
}

// Starts program (a full path) with arguments as given, no shell between, and waits at most
// about timeoutMs for its end; true when it ran and exited with status 0.
bool RunProgram(const std::string &program, const std::vector<std::string> &arguments,
                int timeoutMs) {
  std::vector<char *> argv{const_cast<char *>(program.c_str())};
  for (const std::string &argument : arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  // What it prints (a notification's number) is nobody's business on our output.
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  const int spawned =
      ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
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

} // namespace

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

// Every argument carries its type: a notification service that cannot be asked for its
// methods' signatures still gets (susssasa{sv}i).
bool ShowDesktopNotice(const std::string &title, const std::string &body,
                       std::chrono::milliseconds) {
  const char *bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (bus == nullptr || bus[0] == '\0')
    return false;
  return RunProgram("/usr/bin/gdbus",
                    {"call", "--session", "--dest", "org.freedesktop.Notifications",
                     "--object-path", "/org/freedesktop/Notifications", "--method",
                     "org.freedesktop.Notifications.Notify", "--", "'Vantari'", "uint32 0", "''",
                     VariantString(title), VariantString(body), "@as []", "@a{sv} {}", "int32 -1"},
                    10000);
}

} // namespace vantari
