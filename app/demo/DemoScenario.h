#pragma once

// The demo of the service as both demo drivers run it: the options, the data folder before and
// after, the server's view of each session, the steps and the lines they print. Each driver
// supplies what depends on its toolkit (finding controls, clicking, the picture). No toolkit
// and no system headers here: it builds for every system the window runs on.
#include "../WindowTexts.h"

#include <filesystem>
#include <functional>
#include <ios>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantari::demo {

struct TDemoOptions {
  bool PictureOnly = false;
  int Port = 0; // 0: the built-in service; else the demo service on 127.0.0.1
  std::string Screenshot, User, Password, ServerHome, ServerLog;
};

// The command line without the program name; nothing when it is not one the driver takes.
// "--port PORT" only where portOption is set. A password '-' is read from DEMO_PASSWORD.
std::optional<TDemoOptions> ParseDemoOptions(std::vector<std::string> args, bool portOption);

// The file system's path for a UTF-8 text, and back.
std::filesystem::path PathOf(const std::string &utf8);
std::string Utf8Of(const std::filesystem::path &path);

std::string FileBytes(const std::filesystem::path &path);
using TFolder = std::map<std::string, std::string>;
// The plain files directly in the folder, by name: what the accounting program reads.
TFolder Snapshot(const std::filesystem::path &folder);

void Say(const std::string &line);

// One box as the user would have read it ("message [caption]: text"), with the answer given.
void PrintBox(const std::string &caption, const std::string &text, const char *answer);

// The window's host UI with the boxes answered instead of shown: each message is printed, OK
// and Yes are pressed. Repaints and cursors are the real window's (TWindowHostUI).
template <class TWindowHostUI> class TAnsweringHostUI : public TWindowHostUI {
public:
  explicit TAnsweringHostUI(std::string title) : FTitle(std::move(title)) {}

  void ShowEngineError(const std::string &text) override { Print(FTitle, text, ""); }
  bool ConfirmVolume(const std::string &text) override {
    Print(FTitle, text, "  -> OK");
    return true;
  }
  void ShowMessage(const std::string &text) override { Print(FTitle, text, ""); }
  void ShowFailure(const std::string &text) override { Print(TextFailureCaption, text, ""); }
  bool AskYesNo(const std::string &text) override {
    Print(FTitle, text, "  -> 예 (yes)");
    return true;
  }

  // Called before each box is printed (the driver prints the server's log up to then).
  std::function<void()> BeforeBox;
  std::vector<std::string> Messages; // every text shown, in order

private:
  void Print(const std::string &caption, const std::string &text, const char *answer) {
    if (BeforeBox)
      BeforeBox();
    Messages.push_back(text);
    PrintBox(caption, text, answer);
  }

  std::string FTitle;
};

// The server's log from where it was last read: logins, transfers, logouts. home is the
// server's folder as the log writes it; it is left out of the printed lines.
class TServerLog {
public:
  TServerLog(const std::string &path, const std::string &home);
  void PrintNew();

private:
  std::filesystem::path FPath;
  std::string FHome;
  std::streampos FRead = 0;
};

// The steps of the demo on an open window.
class TDemoScenario {
public:
  virtual ~TDemoScenario() = default;

protected:
  enum class TBox { UserID, Password };
  enum class TButton { Upload, Download };

  // messages: the host UI's texts; logHome: the server's folder as its log writes it.
  TDemoScenario(TDemoOptions options, std::vector<std::string> &messages,
                const std::string &logHome);

  // Types, uploads, changes the data folder, downloads and compares; 0 when the demo passed.
  // where: what follows "Window open" (the display, if any).
  int Scenario(const std::string &where, const std::string &dataFolder,
               const std::string &backupFolder);
  // The window as it opens, with a password typed so that the masked box shows.
  int Picture();
  int Fail(const std::string &why);
  // A text of the status bar's message panel; the speed only when its whole number changes,
  // so that the trace stays readable.
  void StatusShown(const std::string &line);

  const TDemoOptions &Options() const { return FOptions; }
  TServerLog &Server() { return FServer; }

  virtual void Type(TBox box, const std::string &text) = 0;
  // Clicks and runs the button's whole workflow.
  virtual void Click(TButton button) = 0;
  virtual bool SaveScreenshot(const std::string &path) = 0;
  virtual bool HasWindow() const = 0;
  // Before the picture of the opened window.
  virtual void Settle() {}

private:
  // True when the button's workflow ended with the success message.
  bool Press(TButton button);

  TDemoOptions FOptions;
  std::vector<std::string> &FMessages;
  TServerLog FServer;
  std::string FLastSpeed;
};

} // namespace vantari::demo
