#pragma once

#include <string>
#include <vector>

namespace vantari {

enum class TCursor { crDefault, crAppStart, crHourGlass };

// A failure as the person reads it: the established text first, then what happened and what
// to do, and for the support desk the technical details (server reply, system error, time).
struct TFailureReport {
  std::string Headline; // the established text, unchanged
  std::string Cause;
  std::string NextStep;
  std::string Details;
  // The workflows' failure box; false for the plain message box the headline always had.
  bool FailureBox = true;

  // Headline, an empty line, then the cause and the next step, each on its own line.
  std::string Text() const;
};

// What the engines and the workflows need from a desktop. The Qt program installs
// the real one, tests install a recorder, command-line tools a terminal one.
// Texts are UTF-8.
class THostUI {
public:
  virtual ~THostUI() = default;

  // Process pending window messages (user input included), as after every archive block.
  virtual void ProcessMessages() = 0;
  // Repaint and run timers only, never user input; called from blocking waits.
  // Cheap to call often: implementations throttle themselves.
  virtual void ProcessPaintEvents() = 0;
  // The archive engine's modal error box (English text, OK button).
  virtual void ShowEngineError(const std::string &text) = 0;
  // The archive engine's volume prompt (information icon, OK and Cancel); true for OK.
  virtual bool ConfirmVolume(const std::string &text) = 0;
  // A plain message: caption is the application title, OK button.
  virtual void ShowMessage(const std::string &text) = 0;
  // The plain message that ends a run in which every step succeeded; by default ShowMessage.
  virtual void ShowSuccess(const std::string &text) { ShowMessage(text); }
  // The workflows' failure box: caption "자료백업/복원", information icon, OK button.
  virtual void ShowFailure(const std::string &text) = 0;
  // A failure with its cause, next step and details, in the box its headline always had.
  // Hosts that can show the details in an expandable part override this; by default the
  // text goes to ShowFailure or ShowMessage.
  virtual void ShowFailureReport(const TFailureReport &report);
  // A question with Yes and No buttons, No the default (Enter or closing the box answers No);
  // true for Yes.
  virtual bool AskYesNo(const std::string &text) = 0;
  // A small modal list under title, the first line selected; the index of the line chosen,
  // -1 when cancelled (Escape, closing the box, or nobody there to choose).
  virtual int ChooseOne(const std::string &title, const std::vector<std::string> &lines) = 0;
  virtual void SetCursor(TCursor cursor) = 0;
};

// A host that shows nothing and answers Cancel and No (and chooses nothing); in force until one is
// installed.
class TSilentHostUI : public THostUI {
public:
  void ProcessMessages() override {}
  void ProcessPaintEvents() override {}
  void ShowEngineError(const std::string &) override {}
  bool ConfirmVolume(const std::string &) override { return false; }
  void ShowMessage(const std::string &) override {}
  void ShowFailure(const std::string &) override {}
  bool AskYesNo(const std::string &) override { return false; }
  int ChooseOne(const std::string &, const std::vector<std::string> &) override { return -1; }
  void SetCursor(TCursor) override {}
};

// The process-wide host. Never null.
THostUI &HostUI();
// Installs host (not owned); nullptr puts the silent host back.
void SetHostUI(THostUI *host);

} // namespace vantari
