#pragma once

#include "Exception.h"

#include <string>
#include <vector>

namespace vantari {

// The nightly backup on Windows: a daily task of the Task Scheduler for the current user, the
// counterpart of the systemd user timer on Linux (same name, same time, same command line).

struct TNightlyTask {
  // A full path: on Windows vantari-nightly.exe, the window-less build of vantari-cli. The
  // upload reads the password kept for the nightly backup, so the task names none.
  std::string Program;
  // Given to the upload only when not empty (0: the program's own port).
  std::string User;
  std::string Host;
  int Port = 0;
  std::string PingTarget;
  int Hour = 21;
  int Minute = 0;
};

// A value the task's command line cannot carry as it is; the message names which.
class ENightlyTaskValue : public Exception {
  using Exception::Exception;
};

// The task's name in the Task Scheduler, as the systemd units are named.
extern const char *const NightlyTaskName;
// What the Task Scheduler shows the person about it.
inline constexpr const char *NightlyTaskDescription =
    "반타리서비스 자동 백업: 컴퓨터가 켜져 있으면 매일 밤 회계 자료를 서버에 올립니다.";

// The program the task runs, from the folder of vantari-cli (ending in '/'): on Windows the
// window-less build vantari-nightly.exe, so that no console window opens at night; elsewhere
// vantari-cli itself.
std::string NightlyProgramIn(const std::string &folder);

// Parses "HH:MM" (24 hours) into task; false when it is no such time.
bool ParseNightlyTime(const std::string &text, TNightlyTask &task);

// The arguments the task gives the program, one element each, as the program will receive them.
std::vector<std::string> NightlyTaskArguments(const TNightlyTask &task);

// One argument as Windows' command-line parser (CommandLineToArgvW, the C runtime) splits it
// back out: quoted when it holds a blank, backslashes before the closing quote doubled.
// Raises ENightlyTaskValue for a quote, a control character (line ends among them), '%' (the
// Task Scheduler expands variables) or text that is not UTF-8: no quoting carries those safely.
std::string WindowsArgument(const std::string &name, const std::string &value);

// The task as Task Scheduler XML (UTF-8 text declaring UTF-16, as schtasks wants the file
// converted): a daily start at the time, made up for when the computer was off, running
// `upload` unattended in the user's own session without raised rights. Raises
// ENightlyTaskValue when a path or value cannot be carried (see WindowsArgument).
std::string NightlyTaskXml(const TNightlyTask &task);

// Registers (replacing) or removes the task through the system folder's schtasks.exe; the
// failure's text, or empty. Windows only: elsewhere they say the systemd timer is the way.
std::string RegisterNightlyTask(const TNightlyTask &task);
std::string RemoveNightlyTask();

} // namespace vantari
