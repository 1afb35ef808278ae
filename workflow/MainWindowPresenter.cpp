#include "MainWindowPresenter.h"

#include "Exception.h"
#include "HostUI.h"
#include "SupportReport.h"
#include "WorkflowTexts.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <utility>

namespace vantari {

// One workflow at a time: while it runs the view starts nothing and the ID and password stay
// as they were read.
class TMainWindowPresenter::TRun {
public:
  explicit TRun(TMainWindowPresenter &presenter) : FPresenter(presenter) {
    Lock(true);
    FPresenter.FSucceeded = FPresenter.FCancelled = false;
    FPresenter.FView.ShowStatus(""); // nothing of the previous run, nor the start's notice
  }
  ~TRun() {
    // Clicks that queued up while the steps only repainted land on locked controls.
    HostUI().ProcessMessages();
    if (!FPresenter.FSucceeded) // never the success text of a step
      FPresenter.FView.ShowStatus(FPresenter.FCancelled ? StatusCancelled : StatusNotDone);
    Lock(false);
    // The close that cancelled the run goes through now that the run has put things back.
    if (std::exchange(FPresenter.FCloseWhenDone, false))
      FPresenter.FView.CloseNow();
  }
  TRun(const TRun &) = delete;
  TRun &operator=(const TRun &) = delete;

private:
  void Lock(bool running) {
    FPresenter.FRunning = running;
    FPresenter.FView.SetRunning(running);
  }

  TMainWindowPresenter &FPresenter;
};

TMainWindowPresenter::TMainWindowPresenter(TMainWindowView &view, TWorkflowConfig config)
    : FView(view), FWorkflow(std::move(config)) {
  CreateComponents();
}

TMainWindowPresenter::~TMainWindowPresenter() = default;

// The workflow layer's reports drive the status bar and the progress bar.
void TMainWindowPresenter::CreateComponents() {
  FWorkflow.OnStatus = [this](const std::string &text) { FView.ShowStatus(text); };
  FWorkflow.OnProgressShow = [this](int32_t maximum) {
    FProgressVisible = true;
    FView.ShowProgress(std::max(maximum, 0));
  };
  FWorkflow.OnProgressPosition = [this](int32_t position) {
    if (FProgressVisible)
      FView.SetProgressPosition(position);
  };
  FWorkflow.OnProgressHide = [this] {
    FProgressVisible = false;
    FView.HideProgress();
  };
  FWorkflow.OnWorkBegin = [this](TWorkMode mode, int32_t maximum) {
    IdFTP1WorkBegin(nullptr, mode, maximum);
  };
  FWorkflow.OnWork = [this](TWorkMode mode, int32_t count) { IdFTP1Work(nullptr, mode, count); };
  FWorkflow.OnWorkEnd = [this](TWorkMode mode) { IdFTP1WorkEnd(nullptr, mode); };
}

void TMainWindowPresenter::FormCreate() {
  std::exception_ptr unreadable;
  std::string user;
  try {
    user = FWorkflow.Settings().ReadSetting("HOSTID");
  } catch (const Exception &) {
    unreadable = std::current_exception();
    user = "HOSTID";
  }
  FView.ShowLogin(user);
  FWorkflow.Settings().ReadDataFolder();
  // A backup that nobody made for a week is worth a word until the next workflow.
  const std::string notice = FWorkflow.SyncState().BackupAgeNotice(user, std::time(nullptr));
  if (!notice.empty())
    FView.ShowStatus(notice);
  if (unreadable)
    std::rethrow_exception(unreadable);
}

void TMainWindowPresenter::ShowStartNotices() {
  const std::string nightly = FWorkflow.SyncState().NightlyNotice(FView.UserIDText());
  if (!nightly.empty())
    HostUI().ShowMessage(nightly);
}

std::string TMainWindowPresenter::SupportReportText() const {
  // Blanks around the ID are dropped, as the workflows' login does.
  const std::string typed = FView.UserIDText();
  const size_t first = typed.find_first_not_of(' ');
  if (first == std::string::npos)
    return SupportReport(FWorkflow, std::string());
  return SupportReport(FWorkflow, typed.substr(first, typed.find_last_not_of(' ') - first + 1));
}

void TMainWindowPresenter::Upload() {
  RunWorkflow(&TWorkflow::Upload);
}

void TMainWindowPresenter::Download() {
  RunWorkflow(&TWorkflow::Download);
}

void TMainWindowPresenter::UndoDownload() {
  RunWorkflow(&TWorkflow::UndoDownload);
}

void TMainWindowPresenter::RestoreFromHistory() {
  RunWorkflow([](TWorkflow &workflow) { return workflow.DownloadFromHistory(); });
}

void TMainWindowPresenter::DownloadFrom(const std::string &day, bool replaceNewer) {
  RunWorkflow([&](TWorkflow &workflow) { return workflow.DownloadFromHistory(day, replaceNewer); });
}

void TMainWindowPresenter::RunWorkflow(const std::function<bool(TWorkflow &)> &workflow) {
  if (FRunning)
    return;
  TRun run(*this);
  FWorkflow.SetLogin(FView.UserIDText(), FView.PasswordText());
  FSucceeded = workflow(FWorkflow);
}

void TMainWindowPresenter::IdFTP1WorkBegin(TIdComponent *, TWorkMode, int32_t AWorkCountMax) {
  StopRepaintTimer();
  FTransfer.Begin(FWorkflow.Config().Now());
  FView.TransferStarted();
  FView.SetProgressRange(std::max(AWorkCountMax, 0));
}

void TMainWindowPresenter::IdFTP1Work(TIdComponent *, TWorkMode AWorkMode, int32_t AWorkCount) {
  if (!FTransfer.Update(AWorkMode, AWorkCount, FWorkflow.Config().Now())) {
    // The last count of a burst is shown once the interval is over, even when the next piece
    // is slow to come.
    if (!FRepaintPending) {
      FRepaintPending = true;
      FView.StartRepaintTimer(TTransferMeter::RepaintInterval);
    }
    return;
  }
  ShowTransfer();
  HostUI().ProcessPaintEvents();
}

void TMainWindowPresenter::RepaintTimerElapsed() {
  FRepaintPending = false;
  ShowTransfer();
}

void TMainWindowPresenter::ShowTransfer() {
  StopRepaintTimer();
  FTransfer.Shown(FWorkflow.Config().Now());
  FView.ShowTransfer(FTransfer.StatusText(), FTransfer.Count());
}

void TMainWindowPresenter::IdFTP1WorkEnd(TIdComponent *, TWorkMode) {
  StopRepaintTimer();
  FView.TransferEnded();
}

void TMainWindowPresenter::StopRepaintTimer() {
  FRepaintPending = false;
  FView.StopRepaintTimer();
}

bool TMainWindowPresenter::CloseQuery() {
  if (!FRunning)
    return true;
  if (HostUI().AskYesNo(TextCancelQuestion)) {
    FCancelled = FCloseWhenDone = true;
    FWorkflow.RequestCancel();
  }
  return false;
}

} // namespace vantari
