#include "Workflow.h"

#include "BackupFile.h"
#include "Cp949.h"
#include "DataTables.h"
#include "DosDate.h"
#include "FileSystem.h"
#include "FolderOps.h"
#include "HostUI.h"
#include "IdFTP.h"
#include "IdWait.h"
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
    IdResetCancel();
  }
  ~TRun() {
    try {
      if (FWorkflow.FSession->IsOpen())
        FWorkflow.DisconnectServer();
    } catch (const std::exception &) {
      // The connection is gone either way; the step that failed has been reported.
    }
    IdResetCancel();
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
  FBackupFile->SetVersion("5.10");
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

void TWorkflow::SetLogin(const std::string &userID, const std::string &password) {
  FUserID = TrimmedUserID(userID);
  FPassword = password;
}

bool TWorkflow::Upload() {
  if (FRunning)
    return false;
  TRun run(*this);
  FSucceeded = false;
  try {
    UploadSteps();
  } catch (const EIdCancelled &) {
    ShowCancelled(TextUploadFailed);
  }
  return FSucceeded;
}

bool TWorkflow::Download() {
  if (FRunning)
    return false;
  TRun run(*this);
  try {
    return DownloadSteps();
  } catch (const EIdCancelled &) {
    ShowCancelled(TextDownloadFailed);
    return false;
  }
}

// A cancel that no step turned into its own failure message.
void TWorkflow::ShowCancelled(const char *failure) {
  try {
    FSession->Close();
  } catch (const Exception &) {
  }
  HostUI().ShowMessage(failure);
}

// Before any network step: a user ID or password that would break the command stream.
bool TWorkflow::LoginIsUsable() {
  if (!HasCommandBreak(FUserID) && !HasCommandBreak(FPassword))
    return true;
  HostUI().ShowMessage(TextBadLogin);
  return false;
}

// Another computer uploaded since this one last uploaded or downloaded: replacing its data
// needs a Yes; No (the default) sends nothing.
bool TWorkflow::ConfirmReplacingServerArchive() {
  // An upload cut off between its renames left its archive without the name: it is another
  // computer's newest data, and after a Yes it is kept as the previous version.
  if (!StrandedArchives(*FIdFTP1, RemoteArchiveName()).empty()) {
    if (!HostUI().AskYesNo(TextNewerOnServer))
      return false;
    PutStrandedArchiveInPlace(*FIdFTP1, RemoteArchiveName());
    return true;
  }
  const TServerArchiveState now = ReadServerArchive(*FIdFTP1, RemoteArchiveName());
  if (!ServerArchiveChanged(FSyncState.ServerArchive(FUserID), now))
    return true;
  return HostUI().AskYesNo(TextNewerOnServer);
}

bool TWorkflow::UndoDownload() {
  if (FRunning)
    return false;
  TRun run(*this);
  return UndoSteps();
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
  } catch (const std::exception &) {
    // The connection went while the server was asked.
    HostUI().ShowMessage(TTlsTrust::FailureMessage(trNone));
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
    HostUI().ShowMessage(TextNoDataFolder);
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
    HostUI().ShowMessage(TextAllDone);
    ReportSyncStateFailure();
  }
  DisconnectServer();
}

bool TWorkflow::CheckInternet() {
  if (!FSession->CheckInternet()) {
    HostUI().ShowMessage(TextNoInternet);
    return false;
  }
  Status("인터넷 사용가능");
  return true;
}

bool TWorkflow::ConnectServer() {
  try {
    FSession->Open(FUserID, FPassword);
    Status("서버 접속 완료");
    FSettings.WriteSetting(FSession->Host(), "FTPHOST");
    FSettings.WriteSetting(FUserID, "HOSTID");
    FSettings.WriteSetting(FPassword, "HOSTPASS");
    return true;
  } catch (const std::exception &) {
    // A changed certificate, or a server no longer offering TLS, has a message of its own.
    HostUI().ShowMessage(TTlsTrust::FailureMessage(FSession->Refusal()));
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
  FBackupFile->SetBackupTitle(Utf8ToCp949(MinuteStamp() + "에 만든 백업파일"));
  FBackupFile->SetBackupMode(bmAll);
  FBackupFile->SetCompressionLevel(clFastest);
  FBackupFile->SetSaveFileID(false);

  HostUI().SetCursor(TCursor::crAppStart);
  ProgressShow(100);
  bool result = false;
  {
    TScopeExit done([this] {
      ProgressHide();
      Status("백업을 완료했습니다.");
      HostUI().SetCursor(TCursor::crDefault);
    });
    // An archive without a single data file would replace the good copy on the server and
    // the last good local one, and the next download would restore it over good data.
    result = HasDataTableFiles(masks) && FBackupFile->Backup(masks, archivePath) &&
             FBackupFile->FilesProcessed() > 0;
  }
  if (!result)
    HostUI().ShowFailure(TextBackupFailed);
  return result;
}

bool TWorkflow::UploadArchive() {
  if (!FIdFTP1->IsConnected())
    return false;
  ProgressShow(100);
  Status("파일을 올리는 중...");
  HostUI().ProcessMessages();
  try {
    FIdFTP1->SetTransferType(ftBinary);
    // A dropped connection looks like a finished one: the new archive is checked under a
    // temporary name before it replaces the last good one.
    SafeUpload(*FIdFTP1, LocalArchivePath(), RemoteArchiveName(), HistoryPlan());
    FSession->RememberPassiveMode();
    const TServerArchiveState uploaded = ReadServerArchive(*FIdFTP1, RemoteArchiveName());
    FSyncState.SetServerArchive(FUserID, uploaded);
    FSyncState.SetUploadedAt(FUserID, uploaded, FConfig.WallNow());
    return true;
  } catch (const std::exception &) {
    FSession->RememberPassiveMode();
    HostUI().ShowMessage(TextUploadFailed);
    return false;
  }
}

void TWorkflow::ReportSyncStateFailure() {
  const std::string failure = FSyncState.TakeWriteFailure();
  if (!failure.empty())
    HostUI().ShowMessage(std::string(TextSyncStateNotSaved) + "\n" + failure);
}

void TWorkflow::DisconnectServer() {
  FSession->Close();
  Status("서버 단절");
}

void TWorkflow::Status(const std::string &text) {
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
  Status("전송을 완료했습니다.");
  FRemoteSize = 0;
  ProgressPosition(0);
  ProgressHide();
}

} // namespace vantari
