#include "HostUI.h"

namespace vantari {

namespace {
TSilentHostUI silentHost;
THostUI *currentHost = &silentHost;
} // namespace

std::string TFailureReport::Text() const {
  std::string text = Headline;
  if (!Cause.empty() || !NextStep.empty())
    text += "\n";
  if (!Cause.empty())
    text += "\n" + Cause;
  if (!NextStep.empty())
    text += "\n" + NextStep;
  return text;
}

void THostUI::ShowFailureReport(const TFailureReport &report) {
  if (report.FailureBox)
    ShowFailure(report.Text());
  else
    ShowMessage(report.Text());
}

THostUI &HostUI() {
  return *currentHost;
}

void SetHostUI(THostUI *host) {
  currentHost = host ? host : &silentHost;
}

} // namespace vantari
