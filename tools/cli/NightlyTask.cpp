#include "NightlyTask.h"

#include "WindowsNames.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#ifdef _WIN32
#include "DurableFile.h"
#include "FileSystem.h"
#include "win/WinHandle.h"
#include "win/WinText.h"
// The platform's own calls, not the system's macros of the same names.
#undef DeleteFile
#undef GetTempFileName
#endif

namespace vantari {

const char *const NightlyTaskName = "vantari-backup";

namespace {

// Text content of an element: the three characters XML reserves there escaped.
std::string Escaped(const std::string &text) {
  std::string out;
  for (const char c : text)
    out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
  return out;
}

// Why text cannot stand in the task's command line, or empty.
std::string Unsafe(const std::string &text) {
  if (text.empty())
    return "it is empty";
  for (const char c : text) {
    if (c == '"')
      return "it holds a quote";
    if (c == '%')
      return "it holds '%'";
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return "it holds a line end or another control character";
  }
  return IsUtf8(text) ? std::string() : "it is not UTF-8 text";
}

void Check(const std::string &name, const std::string &value) {
  const std::string problem = Unsafe(value);
  if (!problem.empty())
    throw ENightlyTaskValue("the nightly task cannot carry " + name + ": " + problem);
}

std::string Quoted(const std::string &path) {
  return "\"" + path + "\"";
}

} // namespace

std::string NightlyProgramIn(const std::string &folder) {
#ifdef _WIN32
  return folder + "vantari-nightly.exe";
#else
  return folder + "vantari-cli";
#endif
}

bool ParseNightlyTime(const std::string &text, TNightlyTask &task) {
  int hour = 0;
  int minute = 0;
  char end = 0;
  if (text.size() != 5 || text[2] != ':' ||
      std::sscanf(text.c_str(), "%2d:%2d%c", &hour, &minute, &end) != 2 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59)
    return false;
  task.Hour = hour;
  task.Minute = minute;
  return true;
}

std::string WindowsArgument(const std::string &name, const std::string &value) {
  Check(name, value);
  if (value.find(' ') == std::string::npos)
    return value; // backslashes not before a quote are taken as they are
  // Inside quotes only the backslashes before the closing one are special: doubled, each pair
  // gives back one.
  const size_t trailing = value.size() - 1 - value.find_last_not_of('\\');
  return "\"" + value + std::string(trailing, '\\') + "\"";
}

std::vector<std::string> NightlyTaskArguments(const TNightlyTask &task) {
  std::vector<std::string> arguments = {"upload", "--yes", "--nightly"};
  const std::pair<const char *, std::string> optional[] = {
      {"--user", task.User},
      {"--host", task.Host},
      {"--port", task.Port > 0 ? std::to_string(task.Port) : std::string()},
      {"--ping-target", task.PingTarget}};
  for (const auto &[option, value] : optional)
    if (!value.empty())
      arguments.insert(arguments.end(), {option, value});
  return arguments;
}

std::string NightlyTaskXml(const TNightlyTask &task) {
  char start[32];
  std::snprintf(start, sizeof start, "2024-01-01T%02d:%02d:00", task.Hour, task.Minute);
  Check("the program's path", task.Program);
  const std::vector<std::string> values = NightlyTaskArguments(task);
  std::string arguments;
  for (size_t i = 0; i < values.size(); ++i) {
    const bool option = i > 0 && values[i - 1].rfind("--", 0) == 0;
    if (i > 0)
      arguments += ' ';
    arguments += WindowsArgument(option ? values[i - 1] : "an argument", values[i]);
  }
  // StartWhenAvailable makes up for a night the computer was off; priority 7 is below normal,
  // so packing does not slow the user's work; a stuck run ends after three hours.
  return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
         "<Task version=\"1.2\" "
         "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
         "  <RegistrationInfo>\r\n"
         "    <Description>" +
         Escaped(NightlyTaskDescription) +
         "</Description>\r\n"
         "  </RegistrationInfo>\r\n"
         "  <Triggers>\r\n"
         "    <CalendarTrigger>\r\n"
         "      <StartBoundary>" +
         std::string(start) +
         "</StartBoundary>\r\n"
         "      <RandomDelay>PT5M</RandomDelay>\r\n"
         "      <ScheduleByDay>\r\n"
         "        <DaysInterval>1</DaysInterval>\r\n"
         "      </ScheduleByDay>\r\n"
         "    </CalendarTrigger>\r\n"
         "  </Triggers>\r\n"
         "  <Principals>\r\n"
         "    <Principal id=\"Author\">\r\n"
         "      <LogonType>InteractiveToken</LogonType>\r\n"
         "      <RunLevel>LeastPrivilege</RunLevel>\r\n"
         "    </Principal>\r\n"
         "  </Principals>\r\n"
         "  <Settings>\r\n"
         "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\r\n"
         "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n"
         "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n"
         "    <StartWhenAvailable>true</StartWhenAvailable>\r\n"
         "    <ExecutionTimeLimit>PT3H</ExecutionTimeLimit>\r\n"
         "    <Priority>7</Priority>\r\n"
         "    <Enabled>true</Enabled>\r\n"
         "  </Settings>\r\n"
         "  <Actions Context=\"Author\">\r\n"
         "    <Exec>\r\n"
         "      <Command>" +
         Escaped(Quoted(task.Program)) +
         "</Command>\r\n"
         "      <Arguments>" +
         Escaped(arguments) +
         "</Arguments>\r\n"
         "    </Exec>\r\n"
         "  </Actions>\r\n"
         "</Task>\r\n";
}

#ifdef _WIN32

namespace {

// Runs the system folder's schtasks.exe with arguments, without a window; the failure's text,
// or empty. Never found through the search path: one in the current folder must not run.
std::string RunSchtasks(const std::string &arguments) {
  wchar_t system[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH)
    return "cannot find the system folder";
  const std::wstring program = std::wstring(system, length) + L"\\schtasks.exe";
  std::wstring line = L"schtasks.exe " + win::Widen(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process))
    return "cannot start " + win::Narrow(program) + ": " + win::SystemMessage(::GetLastError());
  const win::TWinHandle thread(process.hThread);
  const win::TWinHandle child(process.hProcess);
  if (::WaitForSingleObject(child.Get(), 120000) != WAIT_OBJECT_0) {
    ::TerminateProcess(child.Get(), 1);
    return "schtasks.exe did not finish within two minutes";
  }
  DWORD status = 1;
  ::GetExitCodeProcess(child.Get(), &status);
  return status == 0 ? std::string() : "schtasks.exe ended with status " + std::to_string(status);
}

// Writes text as UTF-16 with its byte order mark, as the task file's declaration says, to a
// new file in the temporary folder; its name, or empty on failure.
std::string WriteTemporary(const std::string &text) {
  const std::wstring wide = L"\xFEFF" + win::Widen(text);
  const std::string name = GetTempFileName(GetTempDir(), "vnt");
  if (name.empty())
    return {};
  const std::string_view bytes(reinterpret_cast<const char *>(wide.data()),
                               wide.size() * sizeof(wchar_t));
  if (!ReplaceFileDurably(name, bytes, 0600)) {
    DeleteFile(name);
    return {};
  }
  return name;
}

} // namespace

std::string RegisterNightlyTask(const TNightlyTask &task) {
  const std::string file = WriteTemporary(NightlyTaskXml(task));
  if (file.empty())
    return "cannot write the task file in the temporary folder";
  const std::string failure = RunSchtasks("/Create /XML " + WindowsArgument("the task file", file) +
                                          " /TN " + NightlyTaskName + " /F");
  DeleteFile(file);
  return failure;
}

std::string RemoveNightlyTask() {
  return RunSchtasks(std::string("/Delete /TN ") + NightlyTaskName + " /F");
}

#else

std::string RegisterNightlyTask(const TNightlyTask &) {
  return "the nightly backup is the systemd user timer here: systemctl --user enable --now "
         "vantari-backup.timer";
}

std::string RemoveNightlyTask() {
  return "the nightly backup is the systemd user timer here: systemctl --user disable --now "
         "vantari-backup.timer";
}

#endif

} // namespace vantari
