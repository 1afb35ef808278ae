#include "NightlyTask.h"

#include <cstdio>

#ifdef _WIN32
#include "win/WinText.h"
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

std::string Quoted(const std::string &path) {
  return "\"" + path + "\"";
}

} // namespace

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

std::string NightlyTaskXml(const TNightlyTask &task) {
  char start[32];
  std::snprintf(start, sizeof start, "2024-01-01T%02d:%02d:00", task.Hour, task.Minute);
  const std::string arguments = "upload --yes --password-file " + Quoted(task.PasswordFile);
  // StartWhenAvailable makes up for a night the computer was off; priority 7 is below normal,
  // so packing does not slow the user's work; a stuck run ends after three hours.
  return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
         "<Task version=\"1.2\" "
         "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
         "  <RegistrationInfo>\r\n"
         "    <Description>Vantari backup every night</Description>\r\n"
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

// Runs schtasks with arguments, without a window; the failure's text, or empty.
std::string RunSchtasks(const std::string &arguments) {
  std::wstring line = L"schtasks.exe " + win::Widen(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
    return "cannot start schtasks.exe";
  ::CloseHandle(process.hThread);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  ::GetExitCodeProcess(process.hProcess, &status);
  ::CloseHandle(process.hProcess);
  return status == 0 ? std::string() : "schtasks.exe ended with status " + std::to_string(status);
}

// Writes bytes to a new file in the temporary folder; its name, or empty on failure.
std::wstring WriteTemporary(const std::wstring &bytes) {
  wchar_t folder[MAX_PATH + 1] = {};
  wchar_t name[MAX_PATH + 1] = {};
  if (::GetTempPathW(MAX_PATH + 1, folder) == 0 || ::GetTempFileNameW(folder, L"vnt", 0, name) == 0)
    return {};
  const HANDLE file = ::CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY, nullptr);
  const DWORD size = static_cast<DWORD>(bytes.size() * sizeof(wchar_t));
  DWORD written = 0;
  const bool ok = file != INVALID_HANDLE_VALUE &&
                  ::WriteFile(file, bytes.data(), size, &written, nullptr) && written == size;
  if (file != INVALID_HANDLE_VALUE)
    ::CloseHandle(file);
  if (!ok)
    ::DeleteFileW(name);
  return ok ? std::wstring(name) : std::wstring();
}

} // namespace

std::string RegisterNightlyTask(const TNightlyTask &task) {
  // schtasks reads the file as UTF-16 with its byte order mark, as the declaration says.
  const std::wstring file = WriteTemporary(L"\xFEFF" + win::Widen(NightlyTaskXml(task)));
  if (file.empty())
    return "cannot write the task file in the temporary folder";
  const std::string failure =
      RunSchtasks("/Create /XML " + Quoted(win::Narrow(file)) + " /TN " + NightlyTaskName + " /F");
  ::DeleteFileW(file.c_str());
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
