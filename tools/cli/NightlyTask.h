#pragma once

#include <string>

namespace vantari {

// The nightly backup on Windows: a daily task of the Task Scheduler for the current user, the
// counterpart of the systemd user timer on Linux (same name, same time, same command line).

struct TNightlyTask {
  std::string Program;      // vantari-cli.exe, a full path
  std::string PasswordFile; // the password the upload reads, a full path
  int Hour = 21;
  int Minute = 0;
};

// The task's name in the Task Scheduler, as the systemd units are named.
extern const char *const NightlyTaskName;

// Parses "HH:MM" (24 hours) into task; false when it is no such time.
bool ParseNightlyTime(const std::string &text, TNightlyTask &task);

// The task as Task Scheduler XML (UTF-8 text declaring UTF-16, as schtasks wants the file
// converted): a daily start at the time, made up for when the computer was off, running
// `upload` unattended in the user's own session without raised rights.
std::string NightlyTaskXml(const TNightlyTask &task);

// Registers (replacing) or removes the task through schtasks; the failure's text, or empty.
// Windows only: elsewhere they say the systemd timer is the way.
std::string RegisterNightlyTask(const TNightlyTask &task);
std::string RemoveNightlyTask();

} // namespace vantari
