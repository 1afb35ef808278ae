#include "DemoScenario.h"

#include "WorkflowTexts.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vantari::demo {

namespace fs = std::filesystem;

std::optional<TDemoOptions> ParseDemoOptions(std::vector<std::string> args, bool portOption) {
  TDemoOptions options;
  while (!args.empty() && args[0].starts_with("--")) {
    if (args[0] == "--picture-only") {
      options.PictureOnly = true;
    } else if (portOption && args[0] == "--port" && args.size() > 1) {
      options.Port = std::atoi(args[1].c_str());
      args.erase(args.begin());
    } else {
      return std::nullopt;
    }
    args.erase(args.begin());
  }
  if (args.size() != 5)
    return std::nullopt;
  options.Screenshot = args[0];
  options.User = args[1];
  options.Password = args[2];
  options.ServerHome = args[3];
  options.ServerLog = args[4];
  if (options.Password == "-") {
    const char *password = std::getenv("DEMO_PASSWORD");
    options.Password = password ? password : "";
  }
  return options;
}

fs::path PathOf(const std::string &utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const fs::path &path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string FileBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TFolder Snapshot(const fs::path &folder) {
  TFolder files;
  for (const auto &entry : fs::directory_iterator(folder))
    if (entry.is_regular_file())
      files[Utf8Of(entry.path().filename())] = FileBytes(entry.path());
  return files;
}

void Say(const std::string &line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

namespace {

// A box's lines on one line, as the old trace showed them.
std::string OneLine(std::string text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
    text.replace(at, 1, " / ");
  return text;
}

} // namespace

void PrintBox(const std::string &caption, const std::string &text, const char *answer) {
  std::printf("  message [%s]: %s%s\n", caption.c_str(), OneLine(text).c_str(), answer);
  std::fflush(stdout);
}

TServerLog::TServerLog(const std::string &path, const std::string &home)
    : FPath(PathOf(path)), FHome(home + "/") {}

void TServerLog::PrintNew() {
  std::ifstream in(FPath);
  in.seekg(FRead);
  std::string line;
  while (std::getline(in, line)) {
    if (in.eof())
      break; // a line still being written: read it whole next time
    FRead = in.tellg();
    const size_t tag = line.find("] ");
    if (tag != std::string::npos && line.find("-[") != std::string::npos)
      line.erase(0, tag + 2);
    for (size_t at = line.find(FHome); at != std::string::npos; at = line.find(FHome))
      line.erase(at, FHome.size());
    if (line.find("logged in") != std::string::npos ||
        line.find("completed=") != std::string::npos ||
        line.find("session closed") != std::string::npos)
      Say("  server: " + line);
  }
}

TDemoScenario::TDemoScenario(TDemoOptions options, std::vector<std::string> &messages,
                             const std::string &logHome)
    : FOptions(std::move(options)), FMessages(messages), FServer(FOptions.ServerLog, logHome) {}

int TDemoScenario::Scenario(const std::string &where, const std::string &dataFolder,
                            const std::string &backupFolder) {
  const fs::path data = PathOf(dataFolder);
  Say("Window open" + where + "; data folder " + dataFolder + " (" +
      std::to_string(Snapshot(data).size()) + " files)");
  const TFolder uploaded = Snapshot(data);

  Say("Typing user ID '" + FOptions.User + "' and its password");
  Type(TBox::UserID, FOptions.User);
  Type(TBox::Password, FOptions.Password);

  Say("Pressing 자료 올리기 (upload)");
  if (!Press(TButton::Upload))
    return Fail("the upload did not succeed");
  const std::string archive = FOptions.User + ".bck";
  const fs::path remote = PathOf(FOptions.ServerHome) / PathOf(archive);
  const fs::path local = PathOf(backupFolder) / PathOf(archive);
  if (!fs::exists(remote))
    return Fail("the server holds no " + archive);
  if (FileBytes(remote) != FileBytes(local))
    return Fail("the server's archive differs from the local one");
  Say("The server holds " + archive + ", " + std::to_string(fs::file_size(remote)) +
      " bytes, equal to the local archive");

  Say("Changing the data folder: one table deleted, one overwritten, one stray file");
  fs::remove(data / "Note.DB");
  std::ofstream(data / "Sale.DB", std::ios::trunc) << "changed after the upload\n";
  std::ofstream(data / "Stray.tmp") << "stray\n";

  Say("Pressing 자료 내려받기 (download)");
  if (!Press(TButton::Download))
    return Fail("the download did not succeed");
  const TFolder restored = Snapshot(data);
  if (restored != uploaded)
    return Fail("the data folder differs from the uploaded data");
  Say("The data folder equals the uploaded data (" + std::to_string(restored.size()) + " files)");

  if (!SaveScreenshot(FOptions.Screenshot))
    return Fail("no picture of the window could be saved");
  Say("Screenshot: " + FOptions.Screenshot);
  Say("Demo passed.");
  return 0;
}

int TDemoScenario::Picture() {
  Type(TBox::Password, FOptions.Password);
  Settle();
  if (!SaveScreenshot(FOptions.Screenshot))
    return Fail("no picture of the window could be saved");
  Say("Screenshot: " + FOptions.Screenshot);
  return 0;
}

int TDemoScenario::Fail(const std::string &why) {
  FServer.PrintNew();
  std::fprintf(stderr, "FAILED: %s\n", why.c_str());
  if (HasWindow() && !FOptions.Screenshot.empty()) {
    std::string picture = FOptions.Screenshot;
    picture.replace(picture.find_last_of("\\/") + 1, std::string::npos, "failure.png");
    if (SaveScreenshot(picture))
      std::fprintf(stderr, "A picture of the window is in %s\n", picture.c_str());
  }
  return 1;
}

void TDemoScenario::StatusShown(const std::string &line) {
  if (line.empty())
    return;
  const std::string shown = line.substr(0, line.find('.'));
  const bool speed = line.find(" speed ") != std::string::npos;
  if (speed && shown == FLastSpeed)
    return;
  FLastSpeed = speed ? shown : std::string();
  FServer.PrintNew();
  Say("  status: " + line);
}

bool TDemoScenario::Press(TButton button) {
  FMessages.clear();
  Click(button);
  FServer.PrintNew();
  return !FMessages.empty() && FMessages.back() == TextAllDone;
}

} // namespace vantari::demo
