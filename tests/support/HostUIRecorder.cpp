#include "HostUIRecorder.h"

#include <utility>

namespace vantari::test {

THostUIRecorder::THostUIRecorder() {
  SetHostUI(this);
}

THostUIRecorder::~THostUIRecorder() {
  SetHostUI(nullptr);
}

void THostUIRecorder::ProcessMessages() {
  ++MessagePumps;
  if (DuringRun)
    std::exchange(DuringRun, nullptr)();
}

bool THostUIRecorder::ConfirmVolume(const std::string &text) {
  Shown.push_back({"volume", text});
  if (VolumeAnswers.empty())
    return DefaultVolumeAnswer;
  const bool answer = VolumeAnswers.front();
  VolumeAnswers.pop_front();
  return answer;
}

bool THostUIRecorder::AskYesNo(const std::string &text) {
  Shown.push_back({"question", text});
  if (YesNoAnswers.empty())
    return DefaultYesNoAnswer;
  const bool answer = YesNoAnswers.front();
  YesNoAnswers.pop_front();
  return answer;
}

void THostUIRecorder::ShowFailureReport(const TFailureReport &report) {
  Reports.push_back(report);
  if (report.FailureBox)
    ShowFailure(report.Headline);
  else
    ShowMessage(report.Headline);
}

int THostUIRecorder::ChooseOne(const std::string &title, const std::vector<std::string> &lines) {
  std::string shown = title;
  for (const std::string &line : lines)
    shown += "\n" + line;
  Shown.push_back({"choice", shown});
  if (ChoiceAnswers.empty())
    return -1;
  const int answer = ChoiceAnswers.front();
  ChoiceAnswers.pop_front();
  return answer;
}

std::vector<std::string> THostUIRecorder::Texts(const std::string &kind) const {
  std::vector<std::string> out;
  for (const auto &shown : Shown)
    if (shown.Kind == kind)
      out.push_back(shown.Text);
  return out;
}

} // namespace vantari::test
