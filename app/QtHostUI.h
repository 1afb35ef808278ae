#pragma once

#include "HostUI.h"

#include <chrono>

namespace vantari {

// The desktop services of the running program, shown with Qt message boxes.
class TQtHostUI : public THostUI {
public:
  void ProcessMessages() override;
  // Paints, runs timers and lets the window's close through, at most every 100 ms; what the
  // person clicks or types meanwhile is dropped (the workflow's controls are locked anyway).
  void ProcessPaintEvents() override;
  void ShowEngineError(const std::string &text) override;
  bool ConfirmVolume(const std::string &text) override;
  void ShowMessage(const std::string &text) override;
  void ShowFailure(const std::string &text) override;
  // The box of the headline (caption, icon and OK as ShowFailure or ShowMessage), with the
  // details behind the box's own "Show Details..." button.
  void ShowFailureReport(const TFailureReport &report) override;
  bool AskYesNo(const std::string &text) override;
  // A small dialog with the lines in a list, OK and Cancel.
  int ChooseOne(const std::string &title, const std::vector<std::string> &lines) override;
  void SetCursor(TCursor cursor) override;

private:
  std::chrono::steady_clock::time_point FLastPaint{};
};

} // namespace vantari
