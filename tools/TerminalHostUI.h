#pragma once

#include "HostUI.h"

#include <string>
#include <vector>

namespace vantari {

// The host UI of a command-line tool: messages go to standard error, prompts are asked
// on the terminal (Enter for OK, q for Cancel). Without a terminal on standard input a
// prompt is answered OK and a Yes/No question No.
class TTerminalHostUI : public THostUI {
public:
  explicit TTerminalHostUI(std::string program);

  void ProcessMessages() override {}
  void ProcessPaintEvents() override {}
  void ShowEngineError(const std::string &text) override;
  bool ConfirmVolume(const std::string &text) override;
  void ShowMessage(const std::string &text) override;
  void ShowFailure(const std::string &text) override;
  bool AskYesNo(const std::string &text) override;
  // The lines numbered from 1 on standard error, a number read back; -1 without a terminal.
  int ChooseOne(const std::string &title, const std::vector<std::string> &lines) override;
  void SetCursor(TCursor) override {}

  static bool InputIsTerminal();
  static bool OutputIsTerminal();
  // The program's arguments after its name, as UTF-8 (on Windows argv is in the ANSI code
  // page, so they are taken from the wide command line).
  static std::vector<std::string> Arguments(int argc, char **argv);
  // Shows text and waits for a line: true for an empty answer or "y", false for "q", "n"
  // or the end of input.
  static bool AskOk(const std::string &text);
  // Shows text and waits for a line: true only for "y" or "yes" (any case); an empty
  // answer or the end of input is No.
  static bool AskYes(const std::string &text);
  // Shows title and the lines numbered from 1, waits for a number: its index, else -1 (an
  // empty answer, anything else, or the end of input).
  static int AskChoice(const std::string &title, const std::vector<std::string> &lines);
  // Progress line on standard error, rewritten in place; Done() ends it.
  void ShowProgress(const std::string &file, unsigned percent);
  void EndProgress();

private:
  std::string FProgram;
  std::string FLastLine;
};

} // namespace vantari
