#pragma once

#include "MainWindowPresenter.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vantari::test {

// The main window as the presenter draws it, kept as values instead of widgets; every status
// text also goes into Log ("status: ...") when the test gives one. The repaint timer never
// fires by itself: a test ends it with TMainWindowPresenter::RepaintTimerElapsed.
class TWorkflowView : public TMainWindowView {
public:
  void ShowStatus(const std::string &text) override {
    Status = text;
    if (Log)
      Log->push_back("status: " + text);
  }
  void ShowProgress(int32_t maximum) override {
    Maximum = maximum;
    ProgressVisible = true;
  }
  void SetProgressRange(int32_t maximum) override { Maximum = maximum; }
  void SetProgressPosition(int32_t position) override { Position = position; }
  void HideProgress() override { ProgressVisible = false; }
  void StartRepaintTimer(std::chrono::milliseconds) override { TimerRunning = true; }
  void StopRepaintTimer() override { TimerRunning = false; }
  void SetRunning(bool running) override { Running = running; }
  std::string UserIDText() const override { return UserID; }
  std::string PasswordText() const override { return Password; }
  void ShowLogin(const std::string &userID) override {
    UserID = userID;
    Password.clear();
  }
  void CloseNow() override { Closed = true; }

  std::vector<std::string> *Log = nullptr;
  std::string Status;
  std::string UserID;
  std::string Password;
  int32_t Maximum = 100;
  int32_t Position = 0;
  bool ProgressVisible = true;
  bool TimerRunning = false;
  bool Running = false; // the buttons, the undo item and the login boxes are locked
  bool Closed = false;
};

} // namespace vantari::test
