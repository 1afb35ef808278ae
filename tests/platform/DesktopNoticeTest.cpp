// The nightly upload's failure notice reaches the desktop session's bus as a notification,
// its Korean words, quotes and line breaks intact. A private session bus of the test's own
// carries it; the bus's monitor shows what was sent.
#include "SystemInfo.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace vantari::test {
namespace {

// A program of the test's own, its output in a file; killed and reaped at the end.
class TChild {
public:
  TChild(std::vector<std::string> argv, const std::string &output) {
    std::vector<char *> args;
    for (std::string &arg : argv)
      args.push_back(arg.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&FPid, args[0], &actions, nullptr, args.data(), environ) != 0)
      FPid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~TChild() {
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
    }
  }
  TChild(const TChild &) = delete;
  TChild &operator=(const TChild &) = delete;
  bool Started() const { return FPid > 0; }

private:
  pid_t FPid = -1;
};

// Waits (bounded) until the file holds text.
bool Holds(const std::string &file, const std::string &text) {
  for (int i = 0; i < 250; ++i) {
    if (ReadText(file).find(text) != std::string::npos)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST(DesktopNoticeTest, FailureNoticeReachesTheSessionBusWordForWord) {
  TTempFolder folder;
  const std::string address = "unix:path=" + folder / "bus";
  TChild bus({"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + address,
              "--print-address=1"},
             folder / "bus.out");
  ASSERT_TRUE(bus.Started());
  ASSERT_TRUE(Holds(folder / "bus.out", address)) << "the bus did not start";
  TChild monitor(
      {"/usr/bin/dbus-monitor", "--address", address, "interface='org.freedesktop.Notifications'"},
      folder / "monitor.out");
  ASSERT_TRUE(monitor.Started());
  ASSERT_TRUE(Holds(folder / "monitor.out", "NameLost")) << "the monitor did not attach";

  const std::string title = "반타리 자동 백업을 하지 못했습니다";
  const std::string body = "아이디 또는 비밀번호가 맞지 않습니다.\n지금 '자료 올리기'를 눌러 "
                           "주세요. \\ \"끝\"";
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  ShowDesktopNotice(title, body); // no notification service here: nobody answers yes
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");

  EXPECT_TRUE(Holds(folder / "monitor.out", "member=Notify")) << ReadText(folder / "monitor.out");
  const std::string seen = ReadText(folder / "monitor.out");
  // Notify's arguments, each of its own type: app name, replaced ID, icon, summary, body,
  // actions, hints, timeout.
  const std::string call = seen.substr(seen.find("member=Notify"));
  const std::vector<std::string> arguments = {
      "string \"Vantari\"",      "uint32 0", "string \"\"", "string \"" + title + "\"",
      "string \"" + body + "\"", "array [",  "array [",     "int32 -1"};
  size_t at = 0;
  for (const std::string &argument : arguments) {
    at = call.find("\n   " + argument, at);
    ASSERT_NE(at, std::string::npos) << argument << " in\n" << call;
    ++at;
  }

  ::unsetenv("DBUS_SESSION_BUS_ADDRESS"); // no session: no notice, and no wait
  EXPECT_FALSE(ShowDesktopNotice(title, body));
}

} // namespace
} // namespace vantari::test
