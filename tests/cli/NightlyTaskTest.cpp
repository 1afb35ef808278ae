// The nightly task's XML with ordinary, awkward and hostile values: the task holds exactly the
// intended arguments, and what its command line cannot carry is refused. Under Wine the task is
// also registered through the system's schtasks.exe and its stored file read back.
#include "NightlyTask.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
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
  task.Program = "C:\\Program Files\\Vantari\\vantari-cli.exe";
  task.PasswordFile = "C:\\Users\\Kim & Lee\\AppData\\Roaming\\Vantari\\password";
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
  korean.PasswordFile = "C:\\Users\\김철수\\AppData\\Local\\Vantari\\비밀 번호\\";
  korean.User = "김철수";
  korean.Host = "ftp.example.test";
  korean.Port = 2121;
  korean.PingTarget = "127.0.0.1";
  const Case cases[] = {
      {"the settings' server and user",
       Ordinary(),
       "upload --yes --password-file \"C:\\Users\\Kim & Lee\\AppData\\Roaming\\Vantari\\password\"",
       {"upload", "--yes", "--password-file",
        "C:\\Users\\Kim & Lee\\AppData\\Roaming\\Vantari\\password"}},
      {"another user and server, a folder with a trailing backslash",
       korean,
       "upload --yes --password-file \"C:\\Users\\김철수\\AppData\\Local\\Vantari\\비밀 번호\\\\\" "
       "--user 김철수 --host ftp.example.test --port 2121 --ping-target 127.0.0.1",
       {"upload", "--yes", "--password-file",
        "C:\\Users\\김철수\\AppData\\Local\\Vantari\\비밀 번호\\", "--user", "김철수", "--host",
        "ftp.example.test", "--port", "2121", "--ping-target", "127.0.0.1"}},
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
  std::string TNightlyTask::*fields[] = {&TNightlyTask::Program, &TNightlyTask::PasswordFile,
                                         &TNightlyTask::User, &TNightlyTask::Host,
                                         &TNightlyTask::PingTarget};
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

} // namespace
} // namespace vantari::test
