#pragma once

#include "WinHostUI.h"

#include <functional>
#include <string>
#include <vector>

namespace vantari::win {

// The window's host UI with the boxes answered instead of shown: each message is printed as
// the user would have read it ("message [caption]: text"), OK and Yes are pressed. Repaints
// and cursors are the real window's.
class TWinDemoHostUI : public TWinHostUI {
public:
  void ShowEngineError(const std::string &text) override;
  bool ConfirmVolume(const std::string &text) override;
  void ShowMessage(const std::string &text) override;
  void ShowFailure(const std::string &text) override;
  bool AskYesNo(const std::string &text) override;

  // Called before each box is printed (the driver prints the server's log up to then).
  std::function<void()> BeforeBox;
  std::vector<std::string> Messages; // every text shown, in order

private:
  void Print(const std::string &caption, const std::string &text, const char *answer);
};

} // namespace vantari::win
