#pragma once

#include "HostUI.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vantari::win {

// The desktop services of the Windows program: message boxes over the active window, the
// busy cursors, and the message pumps the workflow's waits call.
class TWinHostUI : public THostUI {
public:
  void ProcessMessages() override;
  // Paints, runs timers and lets the window's close through, at most every 100 ms; what the
  // person clicks or types meanwhile is dropped (the workflow's controls are locked anyway).
  void ProcessPaintEvents() override;
  void ShowEngineError(const std::string &text) override;
  bool ConfirmVolume(const std::string &text) override;
  void ShowMessage(const std::string &text) override;
  void ShowFailure(const std::string &text) override;
  // A task dialog with the caption, icon and OK button of the headline's box, and the details
  // in its expandable part.
  void ShowFailureReport(const TFailureReport &report) override;
  bool AskYesNo(const std::string &text) override;
  // A small modal dialog with the lines in a list box, OK and Cancel.
  int ChooseOne(const std::string &title, const std::vector<std::string> &lines) override;
  void SetCursor(TCursor cursor) override;

private:
  std::chrono::steady_clock::time_point FLastPaint{};
};

// Puts text (UTF-8) on the clipboard as Unicode text; false when the clipboard was busy.
bool CopyToClipboard(HWND owner, const std::string &text);

// The cursor a workflow set (the hourglass or the app-start arrow); null when none is set.
HCURSOR BusyCursor();

// Runs an event handler; an exception it lets out is shown in an error box captioned with the
// program's title, or handed to OnUncaught when that is set (the demo prints it).
void Guard(const std::function<void()> &handler);
std::function<void(const std::string &text)> &OnUncaught();

} // namespace vantari::win
