#pragma once

#include "HostUI.h"

#include <chrono>

namespace vantari {

// The desktop services of the running program, shown with Qt message boxes.
class TQtHostUI : public THostUI {
public:
  void ProcessMessages() override;
  // Paints and runs timers at most every 100 ms; clicks and keys wait in the queue.
  void ProcessPaintEvents() override;
  void ShowEngineError(const std::string &text) override;
  bool ConfirmVolume(const std::string &text) override;
  void ShowMessage(const std::string &text) override;
  void ShowFailure(const std::string &text) override;
  bool AskYesNo(const std::string &text) override;
  void SetCursor(TCursor cursor) override;

private:
  std::chrono::steady_clock::time_point FLastPaint{};
};

} // namespace vantari
