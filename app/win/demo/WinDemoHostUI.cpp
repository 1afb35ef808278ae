#include "WinDemoHostUI.h"

#include "../../WindowTexts.h"

#include <cstdio>

namespace vantari::win {

namespace {

// A box's lines on one line, as the old trace showed them.
std::string OneLine(std::string text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
    text.replace(at, 1, " / ");
  return text;
}

} // namespace

void TWinDemoHostUI::Print(const std::string &caption, const std::string &text,
                           const char *answer) {
  if (BeforeBox)
    BeforeBox();
  Messages.push_back(text);
  std::printf("  message [%s]: %s%s\n", caption.c_str(), OneLine(text).c_str(), answer);
  std::fflush(stdout);
}

void TWinDemoHostUI::ShowEngineError(const std::string &text) {
  Print(TextProgramTitle, text, "");
}

bool TWinDemoHostUI::ConfirmVolume(const std::string &text) {
  Print(TextProgramTitle, text, "  -> OK");
  return true;
}

void TWinDemoHostUI::ShowMessage(const std::string &text) {
  Print(TextProgramTitle, text, "");
}

void TWinDemoHostUI::ShowFailure(const std::string &text) {
  Print("자료백업/복원", text, "");
}

bool TWinDemoHostUI::AskYesNo(const std::string &text) {
  Print(TextProgramTitle, text, "  -> 예 (yes)");
  return true;
}

} // namespace vantari::win
