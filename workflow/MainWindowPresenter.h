#pragma once

#include "TransferMeter.h"
#include "Workflow.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace vantari {

// What the main window draws and what it is asked, in toolkit-free terms: the Qt window, the
// Windows window and vantari-cli each draw these their own way and decide nothing.
class TMainWindowView {
public:
  virtual ~TMainWindowView() = default;

  // The status bar's message panel.
  virtual void ShowStatus(const std::string &text) = 0;
  // The progress bar: shown with the range 0..maximum (0: length unknown), a new range alone,
  // moved, hidden.
  virtual void ShowProgress(int32_t maximum) = 0;
  virtual void SetProgressRange(int32_t maximum) = 0;
  virtual void SetProgressPosition(int32_t position) = 0;
  virtual void HideProgress() = 0;
  // A transfer's speed text and count, at most every repaint interval.
  virtual void ShowTransfer(const std::string &speed, int32_t count) {
    ShowStatus(speed);
    SetProgressPosition(count);
  }
  // A transfer began or ended (a view that draws the speed apart from the status may care).
  virtual void TransferStarted() {}
  virtual void TransferEnded() {}
  // A one-shot timer that calls TMainWindowPresenter::RepaintTimerElapsed once it is over.
  virtual void StartRepaintTimer(std::chrono::milliseconds interval) = 0;
  virtual void StopRepaintTimer() = 0;
  // While a workflow runs, the buttons and the undo item start nothing and the ID and password
  // boxes cannot be changed.
  virtual void SetRunning(bool running) = 0;
  // The ID and password as they stand in their boxes.
  virtual std::string UserIDText() const = 0;
  virtual std::string PasswordText() const = 0;
  // The start's user ID; the password box starts empty.
  virtual void ShowLogin(const std::string &userID) = 0;
  // Closes the window without asking (a close that cancelled the run goes through).
  virtual void CloseNow() = 0;
};

// What the main window's buttons do, once for every front-end: one workflow at a time with
// the login as it stands in the view, the workflow's status texts and progress in the order
// it reports them (each run from an empty status bar, and one that does not succeed leaves a
// status that says so), the transfer's speed redrawn at most every 100 ms, a close during a run
// that asks to cancel it, and the start's notices.
class TMainWindowPresenter {
public:
  TMainWindowPresenter(TMainWindowView &view, TWorkflowConfig config);
  ~TMainWindowPresenter();
  TMainWindowPresenter(const TMainWindowPresenter &) = delete;
  TMainWindowPresenter &operator=(const TMainWindowPresenter &) = delete;

  // The window's start: the saved user ID and the backup-age notice. An FtpHost.ini that
  // cannot be read does not stop it: the view starts as on a first start, and the failure is
  // raised once it is complete.
  void FormCreate();
  // Once the window stands: a nightly upload that did not happen is told in a box.
  void ShowStartNotices();
  // The text of "문제 신고용 정보 복사", for the login as it stands in the view.
  std::string SupportReportText() const;

  // The buttons and the undo item: the workflow with the view's login, unless one runs.
  void Upload();
  void Download();
  void UndoDownload();
  // The context menu's restore from an earlier archive, chosen by the person; the CLI's
  // restore of the last archive of day ("YYYY-MM-DD") or before it.
  void RestoreFromHistory();
  void DownloadFrom(const std::string &day, bool replaceNewer);

  // The FTP component's work events, as the workflow passes them on.
  void IdFTP1WorkBegin(TIdComponent *Sender, TWorkMode AWorkMode, int32_t AWorkCountMax);
  void IdFTP1Work(TIdComponent *Sender, TWorkMode AWorkMode, int32_t AWorkCount);
  void IdFTP1WorkEnd(TIdComponent *Sender, TWorkMode AWorkMode);
  // The view's repaint timer is over: the last count of a burst is shown.
  void RepaintTimerElapsed();

  // The view is asked to close: true when it may close now. During a run the person is asked
  // whether to cancel it; Yes ends the step in progress, the workflow puts things back and
  // reports its failure, and the view is then closed.
  bool CloseQuery();

  bool Running() const { return FRunning; }
  // Whether the last workflow run succeeded in every step.
  bool Succeeded() const { return FSucceeded; }
  TWorkflow &Workflow() { return FWorkflow; }

private:
  class TRun;

  void CreateComponents();
  void RunWorkflow(const std::function<bool(TWorkflow &)> &workflow);
  void ShowTransfer();
  void StopRepaintTimer();

  TMainWindowView &FView;
  TWorkflow FWorkflow;
  TTransferMeter FTransfer;
  bool FRunning = false;
  bool FSucceeded = false;
  bool FProgressVisible = true; // the start shows an empty bar
  bool FRepaintPending = false;
  bool FCancelled = false;     // the person chose to cancel the run
  bool FCloseWhenDone = false; // closed during a run and the person chose to cancel
};

} // namespace vantari
