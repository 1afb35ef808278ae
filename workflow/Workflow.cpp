#include "Workflow.h"

#include "BackupFile.h"
#include "Cp949.h"
#include "DataTables.h"
#include "DosDate.h"
#include "Exception.h"
#include "FailureTexts.h"
#include "FileSystem.h"
#include "FolderOps.h"
#include "HostUI.h"
#include "IdFTP.h"
#include "IdWait.h"
#include "Log.h"
#include "NightlyCredential.h"
#include "RestoreTransaction.h"
#include "SafeUpload.h"
#include "ScopeExit.h"
#include "ServerSession.h"
#include "Stream.h"
#include "TlsTrust.h"
#include "WorkflowTexts.h"

#include <cctype>
#include <ctime>

namespace vantari {

namespace {

constexpr int32_t FloppyVolumeSize = 1400000;

// Blanks around a typed user ID are never part of it.
std::string TrimmedUserID(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos)
    return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// CR, LF or NUL would end the FTP command they travel in.
bool HasCommandBreak(const std::string &text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// "2026-12-08 14:05", local time, as the archive's title begins.
std::string MinuteStamp() {
  const std::time_t now = std::time(nullptr);
  const std::tm local = LocalTime(now);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

// Whether any of the masks matches a file; the engine would write an empty archive for none.
bool HasDataTableFiles(const std::vector<std::string> &masks) {
  for (const std::string &mask : masks)
    if (!FindFiles(mask, 0).empty())
      return true;
  return false;
}

} // namespace

// One workflow at a time. On every exit, an exception's included, an FTP session left open
// is closed so that the next workflow can log in again. A cancel belongs to the run it was
// asked in: each run starts without one and leaves none behind.
class TWorkflow::TRun {
public:
  explicit TRun(TWorkflow &workflow) : FWorkflow(workflow) {
    FWorkflow.FRunning = true;
    FWorkflow.FLastFailure = TFailureReport();
    FWorkflow.FLastCause = TFailureCause::fcUnknown;
    IdResetCancel();
  }
  ~TRun() {
    IdResetCancel(); // a cancelled run still closes its session
    try {
      if (FWorkflow.FSession->IsOpen())
        FWorkflow.DisconnectServer();
    } catch (const std::exception &) {
      // The connection is gone either way; the step that failed has been reported.
    }
    FWorkflow.FRunning = false;
  }
  TRun(const TRun &) = delete;
  TRun &operator=(const TRun &) = delete;

private:
  TWorkflow &FWorkflow;
};

TWorkflow::TWorkflow(TWorkflowConfig config) : FConfig(std::move(config)) {
  CreateComponents();
  // A restore cut short by a kill or a power cut is rolled back as the program starts, before
  // the accounting program opens the data folder again.
  try {
    FSettings.ReadDataFolder();
    if (FSettings.HasDataFolder())
      TRestoreTransaction(FSettings.DataFolder(), FSettings.BackupFolder()).Recover();
  } catch (const Exception &) {
    // The next workflow tries again and says so when it cannot.
  }
}

TWorkflow::~TWorkflow() = default;

void TWorkflow::CreateComponents() {
  FBackupFile = std::make_unique<TBackupFile>();
  FBackupFile->SetBackupMode(bmAll);
  FBackupFile->SetCompressionLevel(clFastest);
  FBackupFile->SetRestoreMode(rmAll);
  FBackupFile->SetMaxSize(0);
  FBackupFile->SetSetArchiveFlag(false);
  FBackupFile->SetRestoreFullPath(false);
  FBackupFile->SetSaveFileID(false);
  FBackupFile->OnProgress = [this](TBackupFile &, const std::string &, TPercentage percent,
                                   bool &proceed) {
    if (FProgressVisible)
      ProgressPosition(percent);
    // The window was closed and the person chose to cancel.
    if (IdCancelRequested())
      proceed = false;
  };

  FSession = std::make_unique<TServerSession>(FConfig, FSyncState);
  FIdFTP1 = &FSession->FTP();
  FIdFTP1->OnWorkBegin = [this](TIdComponent *, TWorkMode mode, int32_t max) {
    WorkBegin(mode, max);
  };
  FIdFTP1->OnWork = [this](TIdComponent *, TWorkMode mode, int32_t count) {
    if (OnWork)
      OnWork(mode, count);
  };
  FIdFTP1->OnWorkEnd = [this](TIdComponent *, TWorkMode mode) { WorkEnd(mode); };
}

void TWorkflow::RequestCancel() {
  IdRequestCancel();
}

void TWorkflow::SetLogin(const std::string &userID, const std::string &password) {
  FUserID = TrimmedUserID(userID);
  FPassword = password;
  TLog::Hide(password);
}

bool TWorkflow::Upload() {
  if (FRunning)
    return false;
  TRun run(*this);
  FSucceeded = false;
  WriteLog("upload: start (user " + FUserID + ")");
  try {
    UploadSteps();
  } catch (const EIdCancelled &) {
    ShowCancelled(TextUploadFailed);
  }
  WriteLog(FSucceeded ? "upload: done" : "upload: not done");
  return FSucceeded;
}

bool TWorkflow::Download() {
  if (FRunning)
    return false;
  TRun run(*this);
  WriteLog("download: start (user " + FUserID + ")");
  bool done = false;
  try {
    done = DownloadSteps();
  } catch (const EIdCancelled &) {
    ShowCancelled(TextDownloadFailed);
  }
  WriteLog(done ? "download: done" : "download: not done");
  return done;
}

// A cancel that no step turned into its own failure message.
void TWorkflow::ShowCancelled(const char *failure) {
  try {
    FSession->Close();
  } catch (const Exception &) {
  }
  // A step that saw the cancel first (a transfer) has said so already.
  if (FLastFailure.Headline.empty())
    Fail(failure, TFailureCause::fcCancelled);
}

void TWorkflow::Fail(const std::string &headline, TFailureCause cause, const std::string &subject,
                     const std::exception *e, bool failureBox) {
  FLastCause = cause;
  FLastFailure = MakeFailureReport(headline, cause, subject, e, failureBox);
  WriteLog("failure: " + headline + " | " + CauseName(cause) + " | " + FLastFailure.Details);
  HostUI().ShowFailureReport(FLastFailure);
}

void TWorkflow::FailLocal(const std::string &headline, const std::string &folder, int64_t need,
                          const TOsResult &said) {
  if (IdCancelRequested()) {
    Fail(headline, TFailureCause::fcCancelled, {}, nullptr, true);
    return;
  }
  const Exception system(said.Text + " (" + std::to_string(said.Code) + ")");
  Fail(headline, LocalStepCause(said, folder, need), {}, said ? nullptr : &system, true);
}

// Before any network step: a user ID or password that would break the command stream.
bool TWorkflow::LoginIsUsable() {
  if (!HasCommandBreak(FUserID) && !HasCommandBreak(FPassword))
    return true;
  Fail(TextBadLogin, TFailureCause::fcBadLogin);
  return false;
}

// Another computer uploaded since this one last uploaded or downloaded: replacing its data
// needs a Yes; No (the default) sends nothing.
bool TWorkflow::ConfirmReplacingServerArchive() {
  // An upload cut off between its renames left its archive without the name: it is another
  // computer's newest data, and after a Yes it is kept as the previous version.
  if (!StrandedArchives(*FIdFTP1, RemoteArchiveName()).empty()) {
    if (!HostUI().AskYesNo(TextNewerOnServer)) {
      Fail(HeadlineNewerKept, TFailureCause::fcNewerKept);
      return false;
    }
    PutStrandedArchiveInPlace(*FIdFTP1, RemoteArchiveName());
    return true;
  }
  const TServerArchiveState now = ReadServerArchive(*FIdFTP1, RemoteArchiveName());
  if (!ServerArchiveChanged(FSyncState.ServerArchive(FUserID), now))
    return true;
  if (HostUI().AskYesNo(TextNewerOnServer))
    return true;
  Fail(HeadlineNewerKept, TFailureCause::fcNewerKept);
  return false;
}

bool TWorkflow::UndoDownload() {
  if (FRunning)
    return false;
  TRun run(*this);
  return UndoSteps();
}

bool TWorkflow::CheckLogin() {
  if (FRunning)
    return false;
  TRun run(*this);
  const bool ok = LoginIsUsable() && CheckInternet() && ConnectServer();
  DisconnectServer();
  return ok;
}

bool TWorkflow::QueryServerArchive(TServerArchiveState &archive, std::string &name) {
  if (FRunning)
    return false;
  TRun run(*this);
  return AskServer([&] {
    name = RemoteArchiveName();
    archive = ReadServerArchive(*FIdFTP1, name);
    if (!archive.Known())
      for (const std::string &stranded : StrandedArchives(*FIdFTP1, RemoteArchiveName())) {
        TMemoryStream bytes;
        if (FetchWholeArchive(*FIdFTP1, stranded, bytes)) {
          name = stranded;
          archive = ReadServerArchive(*FIdFTP1, name);
          break;
        }
      }
  });
}

// A question to the server through the same session as an upload; shows its own failure.
bool TWorkflow::AskServer(const std::function<void()> &ask) {
  try {
    if (!LoginIsUsable() || !CheckInternet() || !ConnectServer())
      return false;
    FIdFTP1->SetTransferType(ftBinary); // SIZE counts bytes only in image mode
    ask();
    DisconnectServer();
    return true;
  } catch (const EIdCancelled &) {
    ShowCancelled(TTlsTrust::FailureMessage(trNone).c_str());
    return false;
  } catch (const std::exception &e) {
    // The connection went while the server was asked.
    Fail(TTlsTrust::FailureMessage(trNone), TransferFailureCause(e), {}, &e);
    return false;
  }
}

bool TWorkflow::QueryServerHistory(std::vector<THistoryEntry> &history) {
  if (FRunning)
    return false;
  TRun run(*this);
  return AskServer([&] {
    history = ReadServerHistory(*FIdFTP1, RemoteArchiveName(),
                                ArchiveMade(ReadServerArchive(*FIdFTP1, RemoteArchiveName())));
  });
}

bool TWorkflow::DownloadFromHistory() {
  return DownloadFromHistory(std::string(), false);
}

bool TWorkflow::DownloadFromHistory(const std::string &day, bool replaceNewer) {
  if (FRunning)
    return false;
  TRun run(*this);
  return HistorySteps(day, replaceNewer);
}

void TWorkflow::UploadSteps() {
  if (!FSettings.HasDataFolder()) {
    Fail(TextNoDataFolder, TFailureCause::fcNoDataFolder, FSettings.DataFolder());
    return;
  }
  if (!RecoverUnfinishedRestore() || DataInUse())
    return;
  if (!LoginIsUsable() || !CheckInternet() || !ConnectServer())
    return;
  if (!ConfirmReplacingServerArchive()) {
    DisconnectServer();
    return;
  }
  if (!BackupData(LocalArchivePath()) || !DataLooksSound()) {
    DisconnectServer();
    return;
  }
  if (UploadArchive()) {
    FSucceeded = true;
    FSyncState.SetLastUpload(FUserID, FConfig.WallNow());
    FSyncState.SetTableStats(FUserID, FPackedTables);
    HostUI().ShowSuccess(TextAllDone);
    ReportSyncStateFailure();
  }
  DisconnectServer();
}

bool TWorkflow::CheckInternet() {
  if (!FSession->CheckInternet()) {
    Fail(TextNoInternet, TFailureCause::fcNoInternet);
    return false;
  }
  Status(StatusInternetOk);
  return true;
}

// The nightly upload uses the password of the last login here; one that found none kept
// takes this one.
void TWorkflow::KeepNightlyPassword() {
  const auto nightly = FSyncState.LastNightly(FUserID);
  if (nightly && !nightly->Succeeded &&
      CauseNamed(nightly->Cause) == TFailureCause::fcNoNightlyPassword && !HasNightlyCredential())
    SaveNightlyCredential(FPassword);
  else
    RefreshNightlyCredential(FPassword);
}

bool TWorkflow::ConnectServer() {
  try {
    FSession->Open(FUserID, FPassword);
    Status(StatusConnected);
    FSettings.WriteSetting(FSession->Host(), "FTPHOST");
    FSettings.WriteSetting(FUserID, "HOSTID");
    FSettings.WriteSetting(FPassword, "HOSTPASS");
    KeepNightlyPassword();
    return true;
  } catch (const std::exception &e) {
    // A changed certificate, or a server no longer offering TLS, has a message of its own.
    const TTlsRefusal refusal = FSession->Refusal();
    Fail(TTlsTrust::FailureMessage(refusal), LoginFailureCause(e, refusal), {}, &e);
    return false;
  }
}

bool TWorkflow::BackupData(const std::string &archivePath) {
  const std::vector<std::string> masks = DataTableMasks(FSettings.DataFolder());
  const std::string folder = ExtractFileDir(archivePath);
  if (!DirectoryExists(folder))
    MakeFolder(folder); // a failure shows as the engine's write error

  const bool floppy = !archivePath.empty() && std::toupper(archivePath[0]) == 'A';
  FBackupFile->SetMaxSize(floppy ? FloppyVolumeSize : 0);
  FBackupFile->SetBackupTitle(Utf8ToCp949(Format(TextArchiveTitle, MinuteStamp().c_str())));
  FBackupFile->SetBackupMode(bmAll);
  FBackupFile->SetCompressionLevel(clFastest);
  FBackupFile->SetSaveFileID(false);

  HostUI().SetCursor(TCursor::crAppStart);
  ProgressShow(100);
  bool result = false;
  {
    TScopeExit done([this] {
      ProgressHide();
      Status(StatusBackupDone);
      HostUI().SetCursor(TCursor::crDefault);
    });
    // An archive without a single data file would replace the good copy on the server and
    // the last good local one, and the next download would restore it over good data.
    result = HasDataTableFiles(masks) && FBackupFile->Backup(masks, archivePath) &&
             FBackupFile->FilesProcessed() > 0;
  }
  if (!result) {
    int64_t need = 0; // the archive is never larger than what it packs, by much
    for (const std::string &mask : masks)
      for (const TSearchRec &file : FindFiles(mask, 0))
        need += file.Size;
    FailLocal(TextBackupFailed, folder, need, FBackupFile->ErrorCause());
  }
  return result;
}

bool TWorkflow::UploadArchive() {
  if (!FIdFTP1->IsConnected())
    return false;
  ProgressShow(100);
  Status(StatusUploading);
  HostUI().ProcessMessages();
  try {
    FIdFTP1->SetTransferType(ftBinary);
    // A dropped connection looks like a finished one: the new archive is checked under a
    // temporary name before it replaces the last good one.
    SafeUpload(*FIdFTP1, LocalArchivePath(), RemoteArchiveName(), HistoryPlan());
    Status(StatusTransferDone); // the server has answered and the archive has its name
    FSession->RememberPassiveMode();
    const TServerArchiveState uploaded = ReadServerArchive(*FIdFTP1, RemoteArchiveName());
    FSyncState.SetServerArchive(FUserID, uploaded);
    FSyncState.SetUploadedAt(FUserID, uploaded, FConfig.WallNow());
    return true;
  } catch (const std::exception &e) {
    FSession->RememberPassiveMode();
    Fail(TextUploadFailed, TransferFailureCause(e), {}, &e);
    return false;
  }
}

void TWorkflow::ReportSyncStateFailure() {
  const std::string failure = FSyncState.TakeWriteFailure();
  if (failure.empty())
    return;
  // The run itself succeeded: told, logged, but never kept as its failure.
  const Exception said(failure);
  const TFailureReport report =
      MakeFailureReport(TextSyncStateNotSaved, TFailureCause::fcStateNotSaved, {}, &said, false);
  WriteLog("warning: " + report.Headline + " | " + report.Details);
  HostUI().ShowFailureReport(report);
}

void TWorkflow::DisconnectServer() {
  try {
    FSession->Close();
  } catch (const EIdCancelled &) {
    // A cancel that a step has already reported as its failure only cuts the goodbye short.
  }
  Status(StatusDisconnected);
}

void TWorkflow::Status(const std::string &text) {
  WriteLog(text);
  if (OnStatus)
    OnStatus(text);
}

void TWorkflow::ProgressShow(int32_t maximum) {
  FProgressVisible = true;
  if (OnProgressShow)
    OnProgressShow(maximum);
}

void TWorkflow::ProgressPosition(int32_t position) {
  if (OnProgressPosition)
    OnProgressPosition(position);
}

void TWorkflow::ProgressHide() {
  FProgressVisible = false;
  if (OnProgressHide)
    OnProgressHide();
}

// A download of unknown length (no size from the server) shows a busy bar.
void TWorkflow::WorkBegin(TWorkMode mode, int32_t maximum) {
  if (maximum <= 0)
    maximum = FRemoteSize > 0 ? FRemoteSize : 0;
  if (OnWorkBegin)
    OnWorkBegin(mode, maximum);
  ProgressShow(maximum);
}

void TWorkflow::WorkEnd(TWorkMode mode) {
  if (OnWorkEnd)
    OnWorkEnd(mode);
  FRemoteSize = 0;
  ProgressPosition(0);
  ProgressHide();
}

} // namespace vantari
