#pragma once

#include "HostUI.h"
#include "MainWindowPresenter.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vantari {

// The host UI of vantari-cli and its view of the main window's presenter: the workflows'
// messages and status texts as lines on standard error, a progress line rewritten in place
// when standard error is a terminal, and prompts asked on the terminal. Without a terminal nobody
// can answer: a question gets the answer that changes nothing; --yes answers only prompts whose OK
// keeps the data (the next volume).
class TCliHostUI : public THostUI, public TMainWindowView {
public:
  TCliHostUI(std::string program, bool quiet, bool yes);

  void ProcessMessages() override {}
  void ProcessPaintEvents() override {}
  void ShowEngineError(const std::string &text) override;
  bool ConfirmVolume(const std::string &text) override;
  void ShowMessage(const std::string &text) override;
  void ShowSuccess(const std::string &text) override;
  void ShowFailure(const std::string &text) override;
  // The box's text, then its technical part (the server's reply, the time) for the journal;
  // the closing line names the headline alone.
  void ShowFailureReport(const TFailureReport &report) override;
  bool AskYesNo(const std::string &text) override;
  // The command line names an earlier archive by its date (download --from): no list to
  // choose from, -1.
  int ChooseOne(const std::string &, const std::vector<std::string> &) override { return -1; }
  void SetCursor(TCursor) override {}

  // The login the presenter's workflows run with (what the window's boxes hold).
  void SetLogin(const std::string &userID, const std::string &password);

  void ShowStatus(const std::string &text) override;
  void ShowProgress(int32_t maximum) override;
  void SetProgressRange(int32_t maximum) override { FMaximum = maximum; }
  void SetProgressPosition(int32_t position) override;
  void HideProgress() override;
  void ShowTransfer(const std::string &speed, int32_t count) override;
  void TransferStarted() override {
    FTransferring = true;
    FSpeed.clear();
  }
  void TransferEnded() override { FTransferring = false; }
  // A terminal has no event loop to repaint from: the next count draws the line.
  void StartRepaintTimer(std::chrono::milliseconds) override {}
  void StopRepaintTimer() override {}
  void SetRunning(bool) override {}
  std::string UserIDText() const override { return FUserID; }
  std::string PasswordText() const override { return FPassword; }
  void ShowLogin(const std::string &) override {}
  void CloseNow() override {}
  // A line of the program's own (English diagnostics), prefixed with its name.
  void Complain(const std::string &text);
  // The last message or failure box text; the summary line of a failed run repeats it.
  const std::string &LastMessage() const { return FLastMessage; }
  void EndProgress();

  static bool InputIsTerminal();
  static bool ErrorIsTerminal();
  // Whether standard error goes to the system journal (a systemd service): failure lines
  // then carry the journal's error priority.
  static bool ErrorIsJournal();
  // The command line's arguments after the program name, in UTF-8 (on Windows from the wide
  // command line: argv there is in the ANSI code page and loses Hangul).
  static std::vector<std::string> Arguments(int argc, char **argv);

private:
  void Line(const std::string &text, bool failure);
  void DrawProgress();
  bool Ask(const std::string &text, const char *choices, bool enterMeansYes);

  std::string FProgram;
  bool FQuiet;
  bool FYes;
  bool FProgressLine; // a terminal: the progress line is drawn
  bool FJournal;
  std::string FLastMessage;
  std::string FStatus;
  bool FProgressVisible = false;
  int32_t FMaximum = 0;
  int32_t FPosition = 0;
  std::string FDrawn;
  std::string FSpeed; // the transfer's speed text
  bool FTransferring = false;
  std::string FUserID;
  std::string FPassword;
};

} // namespace vantari
