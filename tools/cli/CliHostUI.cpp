#include "CliHostUI.h"
#include "Paths.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#ifdef _WIN32
#include <windows.h>

#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vantari {

namespace {

// The journal's priority prefix of a line (sd-daemon(3)): 3 error, 6 information.
const char *const JournalError = "<3>";

// Display columns of a UTF-8 text: Hangul and other wide characters take two.
size_t Columns(const std::string &text) {
  size_t columns = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) == 0x80)
      continue;
    columns += byte >= 0xE0 ? 2 : 1;
  }
  return columns;
}

} // namespace

TCliHostUI::TCliHostUI(std::string program, bool quiet, bool yes)
    : FProgram(std::move(program)), FQuiet(quiet), FYes(yes),
      FProgressLine(!quiet && ErrorIsTerminal()), FJournal(ErrorIsJournal()) {
#ifdef _WIN32
  // The texts are UTF-8; a console shows them as such only when told.
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCP(CP_UTF8);
#endif
}

#ifdef _WIN32
namespace {

// A console, not a file or a pipe (the C library counts the NUL device as a terminal too).
bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

} // namespace

bool TCliHostUI::InputIsTerminal() {
  return IsConsole(STD_INPUT_HANDLE);
}

bool TCliHostUI::ErrorIsTerminal() {
  return IsConsole(STD_ERROR_HANDLE);
}

// The journal is systemd's; a scheduled task's output goes nowhere.
bool TCliHostUI::ErrorIsJournal() {
  return false;
}

#else
bool TCliHostUI::InputIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

bool TCliHostUI::ErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

bool TCliHostUI::ErrorIsJournal() {
  const char *stream = std::getenv("JOURNAL_STREAM");
  struct stat st {};
  if (!stream || ::fstat(STDERR_FILENO, &st) != 0)
    return false;
  unsigned long long device = 0, inode = 0;
  if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2)
    return false;
  return device == st.st_dev && inode == st.st_ino;
}
#endif

std::vector<std::string> TCliHostUI::Arguments(int argc, char **argv) {
  return CommandLineArguments(argc, argv);
}

void TCliHostUI::Line(const std::string &text, bool failure) {
  EndProgress();
  std::cerr << (failure && FJournal ? JournalError : "") << text << std::endl;
}

void TCliHostUI::Complain(const std::string &text) {
  Line(FProgram + ": " + text, true);
}

void TCliHostUI::ShowEngineError(const std::string &text) {
  Complain(text);
}

// The workflows' plain messages report failures, all but the one that ends a good run.
void TCliHostUI::ShowMessage(const std::string &text) {
  FLastMessage = text;
  Line(text, true);
}

void TCliHostUI::ShowSuccess(const std::string &text) {
  FLastMessage = text;
  Line(text, false);
}

void TCliHostUI::ShowFailure(const std::string &text) {
  FLastMessage = text;
  Line(text, true);
}

void TCliHostUI::ShowFailureReport(const TFailureReport &report) {
  FLastMessage = report.Headline;
  Line(report.Text(), true);
  if (!report.Details.empty())
    Line(report.Details, true);
}

// A volume prompt only comes for a data folder on a floppy drive; going on writes the next
// volume and replaces nothing, so --yes answers it.
bool TCliHostUI::ConfirmVolume(const std::string &text) {
  if (InputIsTerminal())
    return Ask(text, "[Enter = OK, q = Cancel]", true);
  Line(text, false);
  return FYes;
}

// Asked on a terminal. Without one the answer is No, which changes nothing: the workflows'
// questions (today: replace work done here after the server's backup) are ones whose Yes
// replaces data, and --yes never gives that answer on anyone's behalf.
bool TCliHostUI::AskYesNo(const std::string &text) {
  if (InputIsTerminal())
    return Ask(text, "[y/N]", false);
  Line(text + " -> no", false);
  return false;
}

bool TCliHostUI::Ask(const std::string &text, const char *choices, bool enterMeansYes) {
  EndProgress();
  std::cerr << text << ' ' << choices << ' ' << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer))
    return false;
  return (enterMeansYes && answer.empty()) || answer == "y" || answer == "Y" || answer == "yes";
}

void TCliHostUI::SetLogin(const std::string &userID, const std::string &password) {
  FUserID = userID;
  FPassword = password;
}

// Status texts are lines of their own: in a journal they tell how far a run got. A status
// bar emptied for the next run is no line.
void TCliHostUI::ShowStatus(const std::string &text) {
  FStatus = text;
  if (!FQuiet && !text.empty())
    Line(text, false);
}

void TCliHostUI::ShowProgress(int32_t maximum) {
  FProgressVisible = true;
  FMaximum = maximum;
  FPosition = 0;
  DrawProgress();
}

void TCliHostUI::SetProgressPosition(int32_t position) {
  FPosition = position;
  DrawProgress();
}

void TCliHostUI::HideProgress() {
  FProgressVisible = false;
  EndProgress();
}

// The speed goes into the progress line, never into a line of its own.
void TCliHostUI::ShowTransfer(const std::string &speed, int32_t count) {
  FSpeed = speed;
  SetProgressPosition(count);
}

void TCliHostUI::DrawProgress() {
  if (!FProgressLine || !FProgressVisible)
    return;
  char percent[8] = "   ";
  if (FMaximum > 0)
    std::snprintf(percent, sizeof percent, "%3d%%",
                  static_cast<int>(static_cast<int64_t>(FPosition) * 100 / FMaximum));
  std::string line = std::string(percent) + "  " + (FTransferring ? FSpeed : FStatus);
  if (line == FDrawn)
    return;
  // Blanks over what is left of a longer previous line.
  const size_t columns = Columns(line), before = Columns(FDrawn);
  const std::string pad(before > columns ? before - columns : 0, ' ');
  std::cerr << '\r' << line << pad << std::flush;
  FDrawn = line;
}

void TCliHostUI::EndProgress() {
  if (FDrawn.empty())
    return;
  std::cerr << '\r' << std::string(Columns(FDrawn), ' ') << '\r' << std::flush;
  FDrawn.clear();
}

} // namespace vantari
