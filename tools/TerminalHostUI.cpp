#include "TerminalHostUI.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace vantari {

TTerminalHostUI::TTerminalHostUI(std::string program) : FProgram(std::move(program)) {}

bool TTerminalHostUI::InputIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}
bool TTerminalHostUI::OutputIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

void TTerminalHostUI::ShowEngineError(const std::string &text) {
  EndProgress();
  std::cerr << FProgram << ": " << text << std::endl;
}

bool TTerminalHostUI::ConfirmVolume(const std::string &text) {
  EndProgress();
  return !InputIsTerminal() || AskOk(text);
}

void TTerminalHostUI::ShowMessage(const std::string &text) {
  EndProgress();
  std::cerr << text << std::endl;
}

void TTerminalHostUI::ShowFailure(const std::string &text) {
  ShowEngineError(text);
}

bool TTerminalHostUI::AskOk(const std::string &text) {
  std::cerr << text << " [Enter = OK, q = Cancel] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer))
    return false;
  return answer.empty() || answer == "y" || answer == "Y";
}

bool TTerminalHostUI::AskYesNo(const std::string &text) {
  EndProgress();
  return InputIsTerminal() && AskYes(text);
}

bool TTerminalHostUI::AskYes(const std::string &text) {
  std::cerr << text << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer))
    return false;
  for (char &c : answer)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return answer == "y" || answer == "yes";
}

void TTerminalHostUI::ShowProgress(const std::string &file, unsigned percent) {
  std::string name = file;
  if (name.size() > 60)
    name = "..." + name.substr(name.size() - 57);
  char line[96];
  std::snprintf(line, sizeof line, "\r%3u%%  %-60s", percent, name.c_str());
  if (FLastLine == line)
    return;
  FLastLine = line;
  std::cerr << line << std::flush;
}

void TTerminalHostUI::EndProgress() {
  if (FLastLine.empty())
    return;
  std::cerr << '\r' << std::string(FLastLine.size(), ' ') << '\r' << std::flush;
  FLastLine.clear();
}

} // namespace vantari
