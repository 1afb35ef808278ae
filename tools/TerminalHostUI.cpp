#include "TerminalHostUI.h"
#include "Paths.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vantari {

#ifdef _WIN32
TTerminalHostUI::TTerminalHostUI(std::string program) : FProgram(std::move(program)) {
  // The texts are UTF-8; a console shows them as such only when told.
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCP(CP_UTF8);
}

// A console, not a file or a pipe (the C library counts the NUL device as a terminal too).
static bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}
bool TTerminalHostUI::InputIsTerminal() {
  return IsConsole(STD_INPUT_HANDLE);
}
bool TTerminalHostUI::OutputIsTerminal() {
  return IsConsole(STD_ERROR_HANDLE);
}

#else
TTerminalHostUI::TTerminalHostUI(std::string program) : FProgram(std::move(program)) {}

bool TTerminalHostUI::InputIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}
bool TTerminalHostUI::OutputIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

#endif

std::vector<std::string> TTerminalHostUI::Arguments(int argc, char **argv) {
  return CommandLineArguments(argc, argv);
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

int TTerminalHostUI::ChooseOne(const std::string &title, const std::vector<std::string> &lines) {
  EndProgress();
  return InputIsTerminal() ? AskChoice(title, lines) : -1;
}

int TTerminalHostUI::AskChoice(const std::string &title, const std::vector<std::string> &lines) {
  std::cerr << title << "\n";
  for (size_t i = 0; i < lines.size(); ++i)
    std::cerr << "  " << i + 1 << ") " << lines[i] << "\n";
  std::cerr << "[1-" << lines.size() << ", Enter = cancel] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer) || answer.empty() || answer.size() > 6 ||
      answer.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  const size_t number = std::stoul(answer);
  return number >= 1 && number <= lines.size() ? static_cast<int>(number - 1) : -1;
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
