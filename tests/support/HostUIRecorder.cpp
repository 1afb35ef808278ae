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

std::vector<std::string> THostUIRecorder::Texts(const std::string &kind) const {
  std::vector<std::string> out;
  for (const auto &shown : Shown)
    if (shown.Kind == kind)
      out.push_back(shown.Text);
  return out;
}

} // namespace vantari::test
