#include "DemoHostUI.h"

#include "Application.h"

#include <cstdio>

namespace vantari {

namespace {

// A box's lines on one line, as the old trace showed them.
std::string OneLine(std::string text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
    text.replace(at, 1, " / ");
  return text;
}

} // namespace

void TDemoHostUI::Print(const std::string &caption, const std::string &text, const char *answer) {
  if (BeforeBox)
    BeforeBox();
  Messages.push_back(text);
  std::printf("  message [%s]: %s%s\n", caption.c_str(), OneLine(text).c_str(), answer);
  std::fflush(stdout);
}

void TDemoHostUI::ShowEngineError(const std::string &text) {
  Print(Application().Title(), text, "");
}

bool TDemoHostUI::ConfirmVolume(const std::string &text) {
  Print(Application().Title(), text, "  -> OK");
  return true;
}

void TDemoHostUI::ShowMessage(const std::string &text) {
  Print(Application().Title(), text, "");
}

void TDemoHostUI::ShowFailure(const std::string &text) {
  Print("자료백업/복원", text, "");
}

bool TDemoHostUI::AskYesNo(const std::string &text) {
  Print(Application().Title(), text, "  -> 예 (yes)");
  return true;
}

} // namespace vantari
