#include "SupportReport.h"

#include "DosDate.h"
#include "FailureCause.h"
#include "FailureTexts.h"
#include "Log.h"
#include "Paths.h"
#include "SystemInfo.h"
#include "TlsTrust.h"
#include "Workflow.h"

#include <ctime>
#include <optional>

#ifndef VANTARI_VERSION
#error "the build names the version"
#endif

namespace vantari {

namespace {

constexpr size_t ReportLogLines = 100;

std::string When(const std::optional<std::time_t> &when) {
  if (!when)
    return ReportNone;
  const std::tm local = LocalTime(*when);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

const char *PolicyName(TTlsPolicy policy) {
  return policy == tpOff ? "off" : policy == tpRequired ? "required" : "preferred";
}

std::string ServerArchive(const TServerArchiveState &state) {
  if (!state.Known())
    return ReportNone;
  return std::to_string(state.Size) + " bytes, " + (state.Time.empty() ? "-" : state.Time);
}

std::string Nightly(const std::optional<TNightlyResult> &nightly) {
  if (!nightly)
    return ReportNone;
  std::string text = When(nightly->When) + ", ";
  if (nightly->Succeeded)
    return text + ReportNightlyOk;
  return text + ReportNightlyFailed + nightly->Cause + " " + nightly->Text;
}

void RecordNightly(TSyncState &state, const std::string &userID, bool succeeded,
                   TFailureCause cause, const std::string &why) {
  state.SetLastNightly(userID, std::time(nullptr), succeeded, cause, why);
  WriteLog(succeeded ? "nightly upload: done"
                     : std::string("nightly upload: not done | ") + CauseName(cause));
  if (succeeded)
    return;
  ShowDesktopNotice(NoticeNightlyTitle,
                    (why.empty() ? CauseText(cause) : why) + "\n" + NextStepText(cause));
}

} // namespace

void RecordNightlyRun(TWorkflow &workflow, const std::string &userID, bool succeeded) {
  RecordNightly(workflow.SyncState(), userID, succeeded, workflow.LastFailureCause(),
                workflow.LastFailure().Cause);
}

void RecordNightlyFailure(TSyncState &state, const std::string &userID, TFailureCause cause) {
  RecordNightly(state, userID, false, cause, CauseText(cause));
}

const char *ProgramVersion() {
  return VANTARI_VERSION;
}

std::string SupportReport(const TWorkflow &workflow, const std::string &userID) {
  const TWorkflowConfig &config = workflow.Config();
  const TSettingsStore &settings = workflow.Settings();
  const std::string &user = userID;
  const TSyncState &state = workflow.SyncState();
  const TTlsTrust trust(config.TlsPolicy);
  const std::string pin = trust.PinnedCertificate(config.FtpHost);

  std::string report = std::string(ReportTitle) + "\n";
  report += ReportVersion + std::string(ProgramVersion()) + "\n";
  report += ReportSystem + OperatingSystemVersion() + "\n";
  report += ReportDataFolder + settings.DataFolder() +
            (settings.HasDataFolder() ? "" : ReportMissing) + "\n";
  report += ReportConfigFolder + ConfigFolder() + "\n";
  report += ReportServer + config.FtpHost + ":" + std::to_string(config.FtpPort) + "\n";
  report += ReportUser + user + "\n";
  report += ReportTls + std::string(PolicyName(config.TlsPolicy)) +
            (trust.OfferedBefore(config.FtpHost) ? ReportTlsOffered : "") + "\n";
  report += ReportPin + (pin.empty() ? std::string(ReportNone) : pin) + "\n";
  report += ReportLastUpload + When(state.LastUpload(user)) + "\n";
  report += ReportLastDownload + When(state.LastDownload(user)) + "\n";
  report += ReportServerArchive + ServerArchive(state.ServerArchive(user)) + "\n";
  report += ReportNightly + Nightly(state.LastNightly(user)) + "\n";
  report += std::string("\n") + ReportLog + "\n";
  for (const std::string &line : ProgramLog().Tail(ReportLogLines))
    report += line + "\n";
  return TLog::Masked(report);
}

} // namespace vantari
