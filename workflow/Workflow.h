#pragma once

#include "ArchivePreview.h"
#include "FailureCause.h"
#include "IdComponent.h"
#include "SafeUpload.h"
#include "SettingsStore.h"
#include "SyncState.h"
#include "WorkflowConfig.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantari {

class TBackupFile;
class TIdFTP;
class TServerSession;

// The two workflows of the client, "자료 올리기" (pack the data folder and upload it) and
// "자료 내려받기" (download the archive and restore it), step by step. Talks to the person only
// through the host-UI interface; what a window shows (status texts, the progress bar, the
// transfer's counts) comes out through the events below, in the order the user sees it.
// Every call blocks until done. An exception no step catches leaves Upload or Download after
// the FTP session was closed.
class TWorkflow {
public:
  // Reads the data folder and rolls back a restore that was cut short there.
  explicit TWorkflow(TWorkflowConfig config = TWorkflowConfig::BuiltIn());
  ~TWorkflow();
  TWorkflow(const TWorkflow &) = delete;
  TWorkflow &operator=(const TWorkflow &) = delete;

  // The login of the next workflow (UTF-8, as typed; blanks around the user ID are dropped).
  void SetLogin(const std::string &userID, const std::string &password);
  const std::string &UserID() const { return FUserID; }

  // Whole workflows. Each shows its own messages and returns whether every step succeeded.
  // A cancel (RequestCancel, e.g. when the window is closed) ends the step in progress,
  // leaves the data folder and the server's archive as they were and shows the workflow's
  // failure message.
  bool Upload();
  bool Download();
  // Brings back the data folder as it was before the last download (or undo): the newest
  // snapshot in the Backup folder replaces it through the same transaction, and the data it
  // replaces becomes a snapshot in turn. Shows its own messages.
  bool UndoDownload();
  // What the server holds under the user's archive name, through the same connectivity check,
  // trust checks and login as an upload; shows its own failure. Nothing local changes. When
  // an upload cut off between its renames left no archive under that name, name is the file
  // the last whole archive lies under (read through before it is named), else the archive's.
  bool QueryServerArchive(TServerArchiveState &archive, std::string &name);
  // The connectivity check and the login of an upload, then the goodbye: whether the login
  // works now. Shows its own failure; nothing local or on the server changes.
  bool CheckLogin();
  // The user's archives on the server, newest first, through the same session as an upload;
  // shows its own failure.
  bool QueryServerHistory(std::vector<THistoryEntry> &history);
  // A download of an earlier archive through the same transaction (snapshot, undo). The
  // person chooses from the list and confirms with the date in the question (No the default),
  // which answers the questions about newer local data too.
  bool DownloadFromHistory();
  // The same for the last archive of day ("YYYY-MM-DD") or before it; replaceNewer answers
  // the questions about newer local data Yes.
  bool DownloadFromHistory(const std::string &day, bool replaceNewer);
  bool Running() const { return FRunning; }
  // Asks the running workflow to stop at its next wait or block; the next run starts without it.
  void RequestCancel();
  // Rolls back a restore or undo that was cut short (a kill, a power cut), without a
  // question; every workflow does this first. Shows a failure and returns false when the
  // data folder could not be put back.
  bool RecoverUnfinishedRestore();
  // Restores a local archive into the data folder through the download's transaction (the
  // download's last step, driven alone by the transaction's tests and benchmark); shows its
  // own failure.
  bool RestoreData(const std::string &archivePath);

  TSettingsStore &Settings() { return FSettings; }
  TSyncState &SyncState() { return FSyncState; }
  const TSettingsStore &Settings() const { return FSettings; }
  const TSyncState &SyncState() const { return FSyncState; }
  const TWorkflowConfig &Config() const { return FConfig; }
  std::string LocalArchivePath() const { return FSettings.LocalArchivePath(FUserID); }
  std::string RemoteArchiveName() const { return TSettingsStore::RemoteArchiveName(FUserID); }
  // Where a download arrives before it replaces the local archive.
  std::string PartialArchivePath() const { return LocalArchivePath() + ".part"; }
  // What the last restore found in its archive, read before anything changed.
  const TArchivePreview &LastPreview() const { return FLastPreview; }
  // The server session as it stands (host, passive mode, its component's events).
  const TServerSession &Session() const { return *FSession; }
  // What the last failure box of this workflow said and why (its Cause empty when none was
  // shown since the last whole workflow began).
  const TFailureReport &LastFailure() const { return FLastFailure; }
  TFailureCause LastFailureCause() const { return FLastCause; }

  // The status bar's text.
  std::function<void(const std::string &text)> OnStatus;
  // The progress bar: shown with the range 0..maximum (0: length unknown), moved, hidden.
  std::function<void(int32_t maximum)> OnProgressShow;
  std::function<void(int32_t position)> OnProgressPosition;
  std::function<void()> OnProgressHide;
  // A file transfer's counts (bytes); maximum is the announced size, 0 when unknown.
  std::function<void(TWorkMode mode, int32_t maximum)> OnWorkBegin;
  std::function<void(TWorkMode mode, int32_t count)> OnWork;
  std::function<void(TWorkMode mode)> OnWorkEnd;

private:
  class TRun;

  // Workflow steps; each blocks until done and shows its own failure.
  bool CheckInternet();
  bool ConnectServer();
  bool BackupData(const std::string &archivePath);
  bool UploadArchive();
  bool DownloadArchive();
  bool DeleteDataFiles();
  void DisconnectServer();
  // After a success: a sync state that could not be saved is worth a word, never a failure.
  void ReportSyncStateFailure();

  void CreateComponents();
  bool LoginIsUsable();
  void KeepNightlyPassword();
  bool ConfirmReplacingServerArchive();
  void ShowCancelled(const char *failure);
  // Shows a failure box with its cause and next step, keeps it as the last failure and logs it.
  void Fail(const std::string &headline, TFailureCause cause, const std::string &subject = {},
            const std::exception *e = nullptr, bool failureBox = false);
  // A local step failed (said is what the system answered, success when unknown): a cancel,
  // a full disk with need bytes still to write in folder, or a cause unknown.
  void FailLocal(const std::string &headline, const std::string &folder, int64_t need,
                 const TOsResult &said);
  bool DownloadStrandedArchive(const std::vector<std::string> &names, const std::string &part);
  bool CanResume(const std::string &part);
  TFailureCause DownloadFailureCause(const std::exception &e) const;
  TFailureCause ReceiveFailureCause(const std::exception &e, int64_t need) const;
  bool ArchiveWasDamaged() const;
  bool KeepForResume(const std::string &part) const;
  void UploadSteps();
  bool DownloadSteps();
  bool AskServer(const std::function<void()> &ask);
  bool ReadyToDownload();
  bool HistorySteps(const std::string &day, bool replaceNewer);
  bool HistoryDownloadSteps(const std::string &day);
  const THistoryEntry *ChooseFromHistory(const std::vector<THistoryEntry> &history);
  std::time_t ArchiveMade(const TServerArchiveState &state) const;
  THistoryPlan HistoryPlan();
  bool DataLooksSound();
  bool UndoSteps();
  bool DataInUse();
  bool StageArchives(const std::string &archivePath, const std::string &staging,
                     bool &secondMissing, std::string &refusal);
  enum class TArchiveVerdict { avRestore, avNoTables, avDeclined, avFailed };
  TArchiveVerdict WeighArchive(const std::string &dataFolder);
  void Status(const std::string &text);
  void ProgressShow(int32_t maximum);
  void ProgressPosition(int32_t position);
  void ProgressHide();
  void WorkBegin(TWorkMode mode, int32_t maximum);
  void WorkEnd(TWorkMode mode);

  TWorkflowConfig FConfig;
  TSettingsStore FSettings;
  TSyncState FSyncState;
  std::unique_ptr<TBackupFile> FBackupFile;
  std::unique_ptr<TServerSession> FSession;
  TIdFTP *FIdFTP1 = nullptr; // the session's component, for the transfer steps
  std::string FUserID;
  std::string FPassword;
  TArchivePreview FLastPreview;
  TFailureReport FLastFailure;
  TFailureCause FLastCause = TFailureCause::fcUnknown;
  int32_t FRemoteSize = 0;
  TServerArchiveState FFetched; // the server's archive the last download received
  bool FProgressVisible = false;
  bool FRunning = false;
  bool FSucceeded = false;
  bool FDataReplaced = false;            // the last RestoreData swapped the data folder
  bool FNewerConfirmed = false;          // the questions about newer local data are answered Yes
  std::vector<TTableStat> FPackedTables; // the table files of the archive just packed
};

} // namespace vantari
