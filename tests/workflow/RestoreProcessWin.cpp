// The restore tests' other processes on Windows: the test program starts itself again, as the
// program holding a table open or as the run ended at a step, and its own user environment
// (the real HKCU key of the accounting program, %APPDATA%).
#include "RestoreFixture.h"

#include "Paths.h"
#include "TlsFtpServers.h"
#include "WinCommandLine.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

namespace vantari::test {

namespace {

const wchar_t *const DatabaseKey = L"Software\\Corvex\\LumoraBC\\Database";
constexpr UINT StoppedExitCode = 42;

std::wstring Wide(const std::string &text) {
  return fs::path(std::u8string(text.begin(), text.end())).wstring();
}

// This test program started again with arguments; its process handle.
HANDLE StartSelf(const std::vector<std::string> &arguments) {
  wchar_t exe[MAX_PATH];
  if (::GetModuleFileNameW(nullptr, exe, MAX_PATH) == 0)
    throw std::runtime_error("no program file");
  std::wstring command = QuotedArgument(exe);
  for (const std::string &arg : arguments)
    command += L" " + QuotedArgument(Wide(arg));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
    throw std::runtime_error("cannot start the test program again");
  ::CloseHandle(process.hThread);
  return process.hProcess;
}

void EndProcess(HANDLE process) {
  ::TerminateProcess(process, 1);
  ::WaitForSingleObject(process, 10000);
  ::CloseHandle(process);
}

// A run as arguments: step, run, archive, second archive, user, password.
std::vector<std::string> Arguments(const char *mode, const std::string &step,
                                   const TStoppedRun &run) {
  return {mode,
          step,
          std::to_string(static_cast<int>(run.Run)),
          run.Archive,
          run.SecondArchive,
          run.User,
          run.Password};
}

TStoppedRun ParseRun(const std::vector<std::string> &args) {
  return {static_cast<TRun>(std::stoi(args.at(2))), args.at(3), args.at(4), args.at(5), args.at(6)};
}

// The holder's side: opens the file as the accounting program does (others may read and
// write), says so, and keeps it open until the test program that started it ends.
int HoldFile(const std::vector<std::string> &args) {
  const HANDLE file = ::CreateFileW(Wide(args.at(1)).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  const HANDLE opened = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, Wide(args.at(2)).c_str());
  const HANDLE parent = ::OpenProcess(SYNCHRONIZE, FALSE, std::stoul(args.at(3)));
  if (file == INVALID_HANDLE_VALUE || opened == nullptr || parent == nullptr)
    return 1;
  ::SetEvent(opened);
  ::WaitForSingleObject(parent, 600000);
  return 0;
}

// The stopped run's side: the run ends itself the moment it reaches the step, as a process
// ended from outside would: no destructor, no flush.
int RunUntil(const std::vector<std::string> &args) {
  const std::string step = args.at(1);
  const TStoppedRun run = ParseRun(args);
  THostUIRecorder quiet; // no message box in a process nobody looks at
  SetRestoreStopHook([&](const char *reached) {
    if (step == reached)
      ::TerminateProcess(::GetCurrentProcess(), StoppedExitCode);
  });
  return RunHere(run) ? 0 : 1;
}

// The paused run's side: at the step it says so and waits until it may go on.
int RunPaused(const std::vector<std::string> &args) {
  const std::string step = args.at(1);
  const HANDLE reached = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, Wide(args.at(7)).c_str());
  const HANDLE resume = ::OpenEventW(SYNCHRONIZE, FALSE, Wide(args.at(8)).c_str());
  if (reached == nullptr || resume == nullptr)
    return 1;
  THostUIRecorder quiet;
  SetRestoreStopHook([&](const char *at) {
    if (step == at) {
      ::SetEvent(reached);
      ::WaitForSingleObject(resume, 120000);
      SetRestoreStopHook({});
    }
  });
  return RunHere(ParseRun(args)) ? 0 : 1;
}

std::string NewEventName(const char *what) {
  static std::atomic<int> events{0};
  return std::string("vantari-test-") + what + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
         std::to_string(++events);
}

} // namespace

TFileHolder::TFileHolder(const fs::path &file) {
  const std::string name = NewEventName("holder");
  const HANDLE opened = ::CreateEventW(nullptr, TRUE, FALSE, Wide(name).c_str());
  if (opened == nullptr)
    throw std::runtime_error("no event for the holder");
  const HANDLE process =
      StartSelf({"--hold-file", U8(file), name, std::to_string(::GetCurrentProcessId())});
  FProcess = reinterpret_cast<intptr_t>(process);
  const HANDLE either[2] = {opened, process};
  const DWORD woken = ::WaitForMultipleObjects(2, either, FALSE, 10000);
  ::CloseHandle(opened);
  if (woken != WAIT_OBJECT_0) {
    Stop();
    throw std::runtime_error("the holder could not open " + U8(file));
  }
}

void TFileHolder::Stop() {
  if (FProcess != -1)
    EndProcess(reinterpret_cast<HANDLE>(FProcess));
  FProcess = -1;
}

bool StoppedAt(const std::string &step, const TStoppedRun &run) {
  const HANDLE child = StartSelf(Arguments("--stop-at", step, run));
  if (::WaitForSingleObject(child, 120000) != WAIT_OBJECT_0) {
    EndProcess(child);
    return false;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(child, &code);
  ::CloseHandle(child);
  return code == StoppedExitCode;
}

TPausedRun::TPausedRun(const std::string &step, const TStoppedRun &run) {
  const std::string reachedName = NewEventName("reached");
  const std::string resumeName = NewEventName("resume");
  const HANDLE reached = ::CreateEventW(nullptr, TRUE, FALSE, Wide(reachedName).c_str());
  const HANDLE resume = ::CreateEventW(nullptr, TRUE, FALSE, Wide(resumeName).c_str());
  FResume = reinterpret_cast<intptr_t>(resume);
  if (reached == nullptr || resume == nullptr) {
    if (reached != nullptr)
      ::CloseHandle(reached);
    Stop();
    throw std::runtime_error("no events for the paused run");
  }
  std::vector<std::string> arguments = Arguments("--pause-at", step, run);
  arguments.push_back(reachedName);
  arguments.push_back(resumeName);
  const HANDLE process = StartSelf(arguments);
  FProcess = reinterpret_cast<intptr_t>(process);
  const HANDLE either[2] = {reached, process};
  const DWORD woken = ::WaitForMultipleObjects(2, either, FALSE, 60000);
  ::CloseHandle(reached);
  if (woken != WAIT_OBJECT_0) {
    Stop();
    throw std::runtime_error("the run never reached " + step);
  }
}

void TPausedRun::Stop() {
  if (FProcess != -1)
    EndProcess(reinterpret_cast<HANDLE>(FProcess));
  FProcess = -1;
  if (FResume != -1 && FResume != 0)
    ::CloseHandle(reinterpret_cast<HANDLE>(FResume));
  FResume = -1;
}

bool TPausedRun::Finish() {
  const HANDLE process = reinterpret_cast<HANDLE>(FProcess);
  ::SetEvent(reinterpret_cast<HANDLE>(FResume));
  if (::WaitForSingleObject(process, 60000) != WAIT_OBJECT_0)
    return false;
  DWORD code = 1;
  ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  FProcess = -1;
  return code == 0;
}

// A private home: %APPDATA% and %LOCALAPPDATA% in a fresh folder, and the accounting program's
// key in this user's registry, whose value goes when the test ends.
TUserHome::TUserHome() {
  FRoot = fs::absolute(MakeTempFolder("/tmp/vantari-home-")).make_preferred();
  // A Korean user's profile: the roaming and the local application data in Hangul.
  ::SetEnvironmentVariableW(L"APPDATA", (FRoot / U8Path("설정")).wstring().c_str());
  ::SetEnvironmentVariableW(L"LOCALAPPDATA", (FRoot / U8Path("로컬 설정")).wstring().c_str());
}

TUserHome::~TUserHome() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, DatabaseKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    ::RegDeleteValueW(key, L"DefaultDatabase");
    ::RegCloseKey(key);
  }
  ::SetEnvironmentVariableW(L"APPDATA", nullptr);
  ::SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
  std::error_code ignored;
  fs::remove_all(FRoot, ignored);
}

void TUserHome::SetDataFolder(const fs::path &folder) const {
  HKEY key = nullptr;
  const std::wstring value = folder.wstring();
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, DatabaseKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS ||
      ::RegSetValueExW(key, L"DefaultDatabase", 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
    throw std::runtime_error("cannot write the accounting program's registry key");
  ::RegCloseKey(key);
}

} // namespace vantari::test

int main(int argc, char **argv) {
  using namespace vantari;
  const std::vector<std::string> args = CommandLineArguments(argc, argv);
  if (!args.empty() && args[0] == "--hold-file")
    return test::HoldFile(args);
  if (!args.empty() && args[0] == "--stop-at")
    return test::RunUntil(args);
  if (!args.empty() && args[0] == "--pause-at")
    return test::RunPaused(args);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
