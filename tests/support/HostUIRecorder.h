#pragma once

#include "HostUI.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace vantari::test {

// Installs itself as the host UI for its lifetime, keeps every text shown and
// answers prompts from a queue (OK when the queue is empty, unless told otherwise) and
// questions from another (No when it is empty, unless told otherwise), lists from a third
// (cancelled when it is empty).
class THostUIRecorder : public THostUI {
public:
  struct TShown {
    std::string Kind; // "engine-error", "volume", "message", "failure", "question", "choice"
    std::string Text;
  };

  THostUIRecorder();
  ~THostUIRecorder() override;
  THostUIRecorder(const THostUIRecorder &) = delete;
  THostUIRecorder &operator=(const THostUIRecorder &) = delete;

  void ProcessMessages() override;
  void ProcessPaintEvents() override { ++PaintPumps; }
  void ShowEngineError(const std::string &text) override {
    Shown.push_back({"engine-error", text});
  }
  bool ConfirmVolume(const std::string &text) override;
  void ShowMessage(const std::string &text) override { Shown.push_back({"message", text}); }
  void ShowFailure(const std::string &text) override { Shown.push_back({"failure", text}); }
  // Keeps the report's parts, then shows its headline alone through ShowFailure or
  // ShowMessage, so that a test sees the established text where it always stood.
  void ShowFailureReport(const TFailureReport &report) override;
  bool AskYesNo(const std::string &text) override;
  // Recorded as the title and the lines, one per line; answered from ChoiceAnswers, else -1.
  int ChooseOne(const std::string &title, const std::vector<std::string> &lines) override;
  void SetCursor(TCursor cursor) override { Cursors.push_back(cursor); }

  std::vector<std::string> Texts(const std::string &kind) const;

  std::vector<TShown> Shown;
  std::vector<TCursor> Cursors;
  std::vector<TFailureReport> Reports;
  std::deque<bool> VolumeAnswers;
  bool DefaultVolumeAnswer = true;
  std::deque<bool> YesNoAnswers;
  bool DefaultYesNoAnswer = false;
  std::deque<int> ChoiceAnswers;
  int MessagePumps = 0;
  // Runs once at the next ProcessMessages (the engine calls it after every block, a workflow
  // before each transfer).
  std::function<void()> DuringRun;
  int PaintPumps = 0;
};

} // namespace vantari::test
