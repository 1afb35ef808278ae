// The nightly task's XML with ordinary, awkward and hostile values: the task holds exactly the
// intended arguments, and what its command line cannot carry is refused. Under Wine the task is
// also registered through the system's schtasks.exe and its stored file read back.
#include "NightlyTask.h"
#include "NightlyCredential.h"
#include "Paths.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#ifdef _WIN32
#include "ScopeExit.h"

#include <windows.h>

#include <shellapi.h>
#endif

namespace vantari::test {
namespace {

namespace fs = std::filesystem;

// The text of the first element named tag, its five XML entities resolved.
std::string ElementText(const std::string &xml, const std::string &tag) {
  const size_t open = xml.find("<" + tag + ">");
  const size_t close = xml.find("</" + tag + ">");
  if (open == std::string::npos || close == std::string::npos)
    return "<no " + tag + ">";
  std::string text = xml.substr(open + tag.size() + 2, close - open - tag.size() - 2);
  const std::pair<const char *, const char *> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto &[entity, c] : entities)
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
      text.replace(at, std::string(entity).size(), c);
  return text;
}

TNightlyTask Ordinary() {
  TNightlyTask task;
  task.Program = "C:\\Program Files\\Vantari\\vantari-nightly.exe";
  return task;
}

#ifdef _WIN32
// How Windows itself splits a command line into arguments.
std::vector<std::string> SplitByWindows(const std::string &arguments) {
  int count = 0;
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, arguments.data(), int(arguments.size()), nullptr, 0);
  std::wstring wide(size_t(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, arguments.data(), int(arguments.size()), wide.data(), n);
  wchar_t **argv = ::CommandLineToArgvW((L"program.exe " + wide).c_str(), &count);
  std::vector<std::string> out;
  for (int i = 1; argv != nullptr && i < count; ++i) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(size_t(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, narrow.data(), size, nullptr, nullptr);
    narrow.pop_back(); // the terminating NUL
    out.push_back(narrow);
  }
  ::LocalFree(argv);
  return out;
}

// The task as the Task Scheduler stored it (UTF-16 with a byte order mark, or UTF-8); empty
// when there is none.
std::string RegisteredTask() {
  wchar_t system[MAX_PATH + 1] = {};
  ::GetSystemDirectoryW(system, MAX_PATH + 1);
  std::ifstream in(fs::path(system) / L"Tasks" / L"vantari-backup", std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::string raw = bytes.str();
  if (raw.size() < 2 || raw[0] != '\xFF' || raw[1] != '\xFE')
    return raw;
  std::wstring wide((raw.size() - 2) / 2, L'\0');
  std::memcpy(wide.data(), raw.data() + 2, wide.size() * 2);
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string text(size_t(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), text.data(), n, nullptr,
                        nullptr);
  return text;
}
#endif

// Awkward but honest values: blanks, a trailing backslash, '&', Hangul. The task's command
// line, split again, gives back exactly these.
TEST(NightlyTaskTest, XmlHoldsExactlyTheIntendedArguments) {
  struct Case {
    const char *What;
    TNightlyTask Task;
    std::string Arguments; // the Arguments element as Windows' rules want it
    std::vector<std::string> Intended;
  };
  TNightlyTask korean = Ordinary();
  korean.User = "김철수";
  korean.Host = "ftp.example.test";
  korean.Port = 2121;
  korean.PingTarget = "127.0.0.1";
  TNightlyTask awkward = Ordinary();
  awkward.User = "kim & lee\\";
  const Case cases[] = {
      {"the settings' server and user",
       Ordinary(),
       "upload --yes --nightly",
       {"upload", "--yes", "--nightly"}},
      {"another user and server",
       korean,
       "upload --yes --nightly --user 김철수 --host ftp.example.test --port 2121 --ping-target "
       "127.0.0.1",
       {"upload", "--yes", "--nightly", "--user", "김철수", "--host", "ftp.example.test", "--port",
        "2121", "--ping-target", "127.0.0.1"}},
      {"a blank, '&' and a trailing backslash",
       awkward,
       "upload --yes --nightly --user \"kim & lee\\\\\"",
       {"upload", "--yes", "--nightly", "--user", "kim & lee\\"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.What);
    TNightlyTask task = c.Task;
    ASSERT_TRUE(ParseNightlyTime("23:05", task));
    const std::string xml = NightlyTaskXml(task);
    EXPECT_EQ(ElementText(xml, "StartBoundary"), "2024-01-01T23:05:00");
    EXPECT_EQ(ElementText(xml, "DaysInterval"), "1");
    EXPECT_EQ(ElementText(xml, "LogonType"), "InteractiveToken");
    EXPECT_EQ(ElementText(xml, "RunLevel"), "LeastPrivilege");
    EXPECT_EQ(ElementText(xml, "Command"), "\"" + task.Program + "\"");
    EXPECT_EQ(ElementText(xml, "Arguments"), c.Arguments);
#ifdef _WIN32
    EXPECT_EQ(SplitByWindows(ElementText(xml, "Arguments")), c.Intended);
    // Registered through the system's schtasks.exe: the Task Scheduler parsed the XML. (Wine
    // keeps neither the triggers nor the action of an XML task, so only the text is compared.)
    ASSERT_EQ(RegisterNightlyTask(task), "");
    const TScopeExit remove([] { RemoveNightlyTask(); });
    const std::string stored = RegisteredTask();
    EXPECT_EQ(ElementText(stored, "Description"), ElementText(xml, "Description")) << stored;
#endif
  }
  TNightlyTask task;
  EXPECT_FALSE(ParseNightlyTime("24:00", task));
  EXPECT_FALSE(ParseNightlyTime("7:5", task));
  EXPECT_FALSE(ParseNightlyTime("12:60", task));
}

// A value that would add arguments, end the line, expand a variable or is no text is refused
// in every field, the program's path among them; nothing is registered.
TEST(NightlyTaskTest, HostileValuesAreRefused) {
  const std::string hostile[] = {
      "C:\\pw\" --host evil.invalid --port 2121 --user mallory \"x",
      "mallory\r\nupload --host evil.invalid",
      "C:\\pw\n",
      "%APPDATA%\\..\\pw",
      "kim\tlee",
      std::string("\xB1\xE8", 2), // CP949 bytes, not UTF-8
      std::string("a\0b", 3),
  };
  std::string TNightlyTask::*fields[] = {&TNightlyTask::Program, &TNightlyTask::User,
                                         &TNightlyTask::Host, &TNightlyTask::PingTarget};
  for (auto field : fields)
    for (const std::string &value : hostile) {
      TNightlyTask task = Ordinary();
      task.*field = value;
      SCOPED_TRACE(value);
      EXPECT_THROW(NightlyTaskXml(task), ENightlyTaskValue);
#ifdef _WIN32
      EXPECT_THROW(RegisterNightlyTask(task), ENightlyTaskValue);
      EXPECT_EQ(RegisteredTask(), "");
#endif
    }
}

// The nightly backup's one password: an earlier version's plain file is taken over, a login
// refreshes it only while the backup is on, and on Windows it is kept only in protected form.
TEST(NightlyCredentialTest, TakenOverRefreshedWhileOnAndNeverPlainOnWindows) {
  const fs::path home =
      fs::temp_directory_path() / ("vantari-credential-" + std::to_string(std::random_device()()));
  fs::create_directories(home);
#ifdef _WIN32
  ::SetEnvironmentVariableW(L"APPDATA", home.wstring().c_str());
#else
  ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
#endif
  const fs::path config = fs::u8path(ConfigFolder());
  ASSERT_TRUE(fs::equivalent(config.parent_path().parent_path(), home)) << config;
  const auto bytesOf = [&](const char *name) {
    std::ifstream in(config / name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  };
  EXPECT_FALSE(HasNightlyCredential());
  RefreshNightlyCredential("로그인 비밀번호");
  EXPECT_FALSE(HasNightlyCredential()) << "the backup is off: a login keeps nothing";

  std::ofstream(config / "password", std::ios::binary) << "옛 비밀번호\r\nsecond line\r\n";
  EXPECT_EQ(LoadNightlyCredential(), "옛 비밀번호");
  RefreshNightlyCredential("새 비밀번호");
  EXPECT_EQ(LoadNightlyCredential(), "새 비밀번호");
#ifdef _WIN32
  EXPECT_FALSE(fs::exists(config / "password")) << "the plain file was taken over and removed";
  const std::string kept = bytesOf("nightly.dat");
  EXPECT_FALSE(kept.empty());
  EXPECT_EQ(kept.find("비밀번호"), std::string::npos) << "kept in plain text";
#else
  EXPECT_EQ(bytesOf("password"), "새 비밀번호\n");
  struct stat st {};
  ASSERT_EQ(::stat((config / "password").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
  EXPECT_FALSE(SaveNightlyCredential("two\nlines"));
  EXPECT_EQ(LoadNightlyCredential(), "새 비밀번호");
  EXPECT_TRUE(RemoveNightlyCredential());
  EXPECT_FALSE(HasNightlyCredential());
  EXPECT_FALSE(LoadNightlyCredential().has_value());
  std::error_code ignored;
  fs::remove_all(home, ignored);
}

#ifdef _WIN32
// The PE optional header's Subsystem of a program: 2 for the window subsystem, 3 for a console.
int Subsystem(const std::string &program) {
  std::ifstream in(fs::u8path(program), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 0x40)
    return -1;
  uint32_t header = 0;
  std::memcpy(&header, bytes.data() + 0x3C, 4);
  const size_t at = size_t(header) + 4 + 20 + 68; // signature, file header, Subsystem's offset
  if (bytes.size() < at + 2 || bytes.compare(header, 4, std::string("PE\0\0", 4)) != 0)
    return -1;
  uint16_t subsystem = 0;
  std::memcpy(&subsystem, bytes.data() + at, 2);
  return subsystem;
}

// The task runs the window-less build, so no console window opens at night.
TEST(NightlyTaskTest, TheTaskRunsAWindowSubsystemProgram) {
  const std::string folder = ProgramFolder() + "../../tools/cli/";
  TNightlyTask task;
  task.Program = NightlyProgramIn(folder);
  std::string command = ElementText(NightlyTaskXml(task), "Command");
  ASSERT_GE(command.size(), 2u);
  command = command.substr(1, command.size() - 2); // unquoted
  EXPECT_EQ(Subsystem(command), IMAGE_SUBSYSTEM_WINDOWS_GUI) << command;
  EXPECT_EQ(Subsystem(folder + "vantari-cli.exe"), IMAGE_SUBSYSTEM_WINDOWS_CUI);
}
// Every shipped program names the product, its version and the company, as Explorer's Details
// tab and the support desk read them.
TEST(WindowsProgramsTest, EveryProgramCarriesItsVersion) {
  const std::string build = ProgramFolder() + "../../";
  for (const char *program : {"app/win/vantari.exe", "tools/cli/vantari-cli.exe",
                              "tools/cli/vantari-nightly.exe", "tools/bcktool.exe"}) {
    SCOPED_TRACE(program);
    const std::wstring path = fs::u8path(build + program).wstring();
    DWORD ignored = 0;
    std::string info(::GetFileVersionInfoSizeW(path.c_str(), &ignored), '\0');
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, DWORD(info.size()), info.data()));
    const auto value = [&](const wchar_t *name) {
      wchar_t *text = nullptr;
      UINT length = 0;
      const std::wstring key = std::wstring(L"\\StringFileInfo\\041204B0\\") + name;
      if (!::VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void **>(&text), &length))
        return std::wstring();
      return std::wstring(text, length > 0 ? length - 1 : 0);
    };
    EXPECT_EQ(value(L"ProductName"), L"반타리서비스");
    EXPECT_EQ(value(L"ProductVersion"), L"" VANTARI_VERSION);
    EXPECT_FALSE(value(L"CompanyName").empty());
    EXPECT_FALSE(value(L"FileDescription").empty());
  }
}
#endif

} // namespace
} // namespace vantari::test
