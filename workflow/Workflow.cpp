#include "Workflow.h"

#include "BackgroundFlush.h"
#include "BackupFile.h"
#include "Cp949.h"
#include "DataTables.h"
#include "FileSystem.h"
#include "FilesInUse.h"
#include "HostUI.h"
#include "IdFTP.h"
#include "IdIcmpClient.h"
#include "IdWait.h"
#include "RestoreTransaction.h"
#include "SafeUpload.h"
#include "ServerProbe.h"
#include "TlsTrust.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>

namespace vantari {

namespace {

constexpr int32_t PingTimeout = 10000;
constexpr int32_t FloppyVolumeSize = 1400000;

const char *const TextNoDataFolder =
    "루모라재고 세금계산서관리 프로그램의 자료 폴더를 찾을 수 없습니다.";
const char *const TextAllDone = "모든 작업을 정상적으로 완료하였습니다.";
const char *const TextBackupFailed = "백업에 실패하였습니다.";
const char *const TextRestoreFailed = "복원에 실패하였습니다.";
const char *const TextUploadFailed = "파일 올리기를 실패하였습니다.";
const char *const TextDownloadFailed = "파일 받기에 실패하였습니다.";
const char *const TextBadLogin = "사용자 아이디나 비밀번호에 쓸 수 없는 글자가 있습니다.";
const char *const TextNewerOnServer = "다른 컴퓨터에서 더 최근에 올린 자료가 서버에 "
                                      "있습니다.\n그래도 이 컴퓨터의 자료로 바꾸시겠습니까?";
const char *const TextNoInternet = "인터넷 연결이 되어있지 않습니다.";

// How long the connectivity check's TCP try may take when no echo came back.
constexpr int32_t ServerProbeTimeout = 10000;

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
const char *const TextNoTables = "받은 백업파일에 회계 자료가 없어 복원하지 않았습니다.";
const char *const TextLocalNewer = "이 컴퓨터에 서버의 백업보다 나중에 작업한 자료가 있습니다.\n"
                                   "그래도 서버의 자료로 바꾸시겠습니까?";
const char *const TextInUse = "루모라재고 세금계산서관리 프로그램이 자료를 사용하고 있습니다.\n"
                              "프로그램을 종료한 뒤 다시 시도하십시오.";
const char *const TextRecoveryFailed =
    "지난번에 끝나지 못한 복원을 되돌리지 못했습니다.\n백업 폴더를 확인하십시오.";
const char *const TextNothingToUndo = "되돌릴 이전 자료가 없습니다.";
const char *const TextUndoFailed = "이전 자료로 되돌리지 못했습니다.";
const char *const StatusUndone = "되돌리기를 완료했습니다.";

// Runs its action when the scope ends, also when an exception passes.
template <class F> class TScopeExit {
public:
  explicit TScopeExit(F action) : FAction(std::move(action)) {}
  ~TScopeExit() { FAction(); }
  TScopeExit(const TScopeExit &) = delete;
  TScopeExit &operator=(const TScopeExit &) = delete;

private:
  F FAction;
};

// "2026-12-08 14:05", local time, as the archive's title begins.
std::string MinuteStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
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
// is closed so that the next workflow can log in again.
class TWorkflow::TRun {
public:
  explicit TRun(TWorkflow &workflow) : FWorkflow(workflow) { FWorkflow.FRunning = true; }
  ~TRun() {
    try {
      if (FWorkflow.FIdFTP1->IsConnected())
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

  FIdFTP1 = std::make_unique<TIdFTP>();
  FIdFTP1->SetMaxLineAction(maException);
  FIdFTP1->SetReadTimeout(0);
  FIdFTP1->SetRecvBufferSize(8192);
  FIdFTP1->SetSendBufferSize(1024);
  FIdFTP1->SetPort(FConfig.FtpPort);
  FIdFTP1->SetPassive(false);
  FIdFTP1->SetPassword("anonymous@");
  FIdFTP1->OnWorkBegin = [this](TIdComponent *, TWorkMode mode, int32_t max) {
    WorkBegin(mode, max);
  };
  FIdFTP1->OnWork = [this](TIdComponent *, TWorkMode mode, int32_t count) {
    if (OnWork)
      OnWork(mode, count);
  };
  FIdFTP1->OnWorkEnd = [this](TIdComponent *, TWorkMode mode) { WorkEnd(mode); };
  // FTP over TLS as the build chose; whom to trust is TTlsTrust's decision.
  FTlsTrust = std::make_unique<TTlsTrust>(FConfig.TlsPolicy);
  FIdFTP1->SetTlsPolicy(FConfig.TlsPolicy);
  FIdFTP1->OnTlsPeer = [this](TIdFTP *, const TTlsSession &session) {
    return FTlsTrust->AcceptPeer(FFtpHost, session);
  };
  FIdFTP1->OnTlsNotOffered = [this](TIdFTP *) { return FTlsTrust->AcceptPlainText(FFtpHost); };

  FPing = std::make_unique<TIdIcmpClient>();
  FPing->SetWaitCeiling(FConfig.PingWaitCeiling);
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
  IdResetCancel();
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
  IdResetCancel();
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
    FIdFTP1->CloseSession();
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
  const TServerArchiveState now = ReadServerArchive(*FIdFTP1, RemoteArchiveName());
  if (!ServerArchiveChanged(FSyncState.ServerArchive(FUserID), now))
    return true;
  return HostUI().AskYesNo(TextNewerOnServer);
}

// A server where only passive mode worked starts in passive mode next time.
void TWorkflow::RememberPassiveMode() {
  if (FIdFTP1->Passive() && !FSyncState.PassiveWorks(FFtpHost))
    FSyncState.SetPassiveWorks(FFtpHost, true);
}

bool TWorkflow::UndoDownload() {
  if (FRunning)
    return false;
  TRun run(*this);
  return UndoSteps();
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
  if (!BackupData(LocalArchivePath())) {
    DisconnectServer();
    return;
  }
  if (UploadArchive()) {
    FSucceeded = true;
    FSyncState.SetLastUpload(FUserID, std::time(nullptr));
    HostUI().ShowMessage(TextAllDone);
  }
  DisconnectServer();
}

bool TWorkflow::DownloadSteps() {
  if (!FSettings.HasDataFolder()) {
    HostUI().ShowMessage(TextNoDataFolder);
    return false;
  }
  if (!RecoverUnfinishedRestore() || DataInUse())
    return false;
  if (!LoginIsUsable() || !CheckInternet() || !ConnectServer())
    return false;
  const bool downloaded = DownloadArchive();
  const bool restored = downloaded && RestoreData(PartialArchivePath());
  DisconnectServer();
  if (downloaded && restored) {
    FSyncState.SetLastDownload(FUserID, std::time(nullptr));
    FSyncState.SetServerArchive(FUserID, FFetched);
    HostUI().ShowMessage(TextAllDone);
  }
  return downloaded && restored;
}

bool TWorkflow::CheckInternet() {
  FPing->SetReceiveTimeout(PingTimeout);
  FPing->SetHost(FConfig.PingTarget);
  bool reachable = true;
  try {
    for (int echo = 0; echo < 3; ++echo) {
      FPing->SendPing(std::string(), 0);
      if (FPing->LastEcho().SenderAddress == "0.0.0.0")
        reachable = false;
    }
  } catch (const EIdCancelled &) {
    throw;
  } catch (const EIdException &) {
    reachable = false; // no echo to be had here (e.g. no right to ICMP sockets)
  }
  // A network that filters ICMP still lets the service through: ask the server itself.
  if (!reachable && !ServerAnswers(FConfig.FtpHost, FConfig.FtpPort, ServerProbeTimeout)) {
    HostUI().ShowMessage(TextNoInternet);
    return false;
  }
  Status("인터넷 사용가능");
  FFtpHost = FConfig.FtpHost;
  return true;
}

bool TWorkflow::ConnectServer() {
  try {
    FIdFTP1->SetUsername(FUserID);
    FIdFTP1->SetPassword(FPassword);
    FIdFTP1->SetHost(FFtpHost);
    FTlsTrust->ClearRefusal();
    FIdFTP1->SetPassive(FSyncState.PassiveWorks(FFtpHost));
    FIdFTP1->OpenSession(true, -1);
    Status("서버 접속 완료");
    FSettings.WriteSetting(FFtpHost, "FTPHOST");
    FSettings.WriteSetting(FUserID, "HOSTID");
    FSettings.WriteSetting(FPassword, "HOSTPASS");
    return true;
  } catch (const std::exception &) {
    // A changed certificate, or a server no longer offering TLS, has a message of its own.
    HostUI().ShowMessage(TTlsTrust::FailureMessage(FTlsTrust->Refusal()));
    return false;
  }
}

bool TWorkflow::BackupData(const std::string &archivePath) {
  const std::vector<std::string> masks = DataTableMasks(FSettings.DataFolder());
  const std::string folder = ExtractFileDir(archivePath);
  if (!DirectoryExists(folder))
    mkdir(folder.c_str(), 0777); // a failure shows as the engine's write error

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
    SafeUpload(*FIdFTP1, LocalArchivePath(), RemoteArchiveName());
    RememberPassiveMode();
    FSyncState.SetServerArchive(FUserID, ReadServerArchive(*FIdFTP1, RemoteArchiveName()));
    return true;
  } catch (const std::exception &) {
    RememberPassiveMode();
    HostUI().ShowMessage(TextUploadFailed);
    return false;
  }
}

// The archive comes in beside the last good local copy, which stays until the new one has
// been received whole and checked.
bool TWorkflow::DownloadArchive() {
  if (!FIdFTP1->IsConnected())
    return false;
  const std::string part = PartialArchivePath();
  try {
    ProgressShow(100);
    Status("파일을 받는 중...");
    HostUI().ProcessMessages();
    // A first download on a new computer has no Backup folder yet.
    ForceDirectories(FSettings.BackupFolder());
    FIdFTP1->SetTransferType(ftBinary);
    FFetched = ReadServerArchive(*FIdFTP1, RemoteArchiveName());
    FRemoteSize = static_cast<int32_t>(FFetched.Size);
    const bool resume = CanResume(part);
    if (FFetched.Size >= 0 && !FFetched.Time.empty())
      FSyncState.SetPartialOrigin(FUserID, FFetched);
    // Fewer bytes than SIZE announced is a cut-off download, never one to restore.
    FIdFTP1->DownloadFile(RemoteArchiveName(), part, !resume, resume, FFetched.Size);
    return true;
  } catch (const std::exception &) {
    if (!KeepForResume(part))
      DeleteFile(part);
    HostUI().ShowMessage(TextDownloadFailed);
    return false;
  }
}

// A .part left by a download cut off midway goes on with REST where it stopped, when the
// server's archive is still the one (size and time) it is the beginning of.
bool TWorkflow::CanResume(const std::string &part) {
  if (FFetched.Size <= 0 || FFetched.Time.empty() || !FileExists(part))
    return false;
  const int64_t have = FileSize(part);
  return have > 0 && have < FFetched.Size && FSyncState.PartialOrigin(FUserID) == FFetched &&
         FIdFTP1->ServerSupportsRestart();
}

// What a failed download received stays for the next try only when it can be resumed.
bool TWorkflow::KeepForResume(const std::string &part) const {
  if (FFetched.Size <= 0 || FFetched.Time.empty() || !FileExists(part))
    return false;
  const int64_t have = FileSize(part);
  return have > 0 && have < FFetched.Size;
}

// archivePath is a new download (".part") or the local archive itself. The data folder is
// replaced as one transaction: it ends up as the archive says or stays as it was, and the data
// it held is kept as a snapshot. A download replaces the local archive only once it unpacked
// whole; otherwise it is dropped and the last good local archive stays.
bool TWorkflow::RestoreData(const std::string &archivePath) {
  const std::string local = LocalArchivePath();
  const std::string part = PartialArchivePath();
  TScopeExit discard([&] {
    if (archivePath == part && archivePath != local)
      DeleteFile(part);
  });
  if (!FSettings.HasDataFolder() || !RecoverUnfinishedRestore() || DataInUse())
    return false;
  const std::string &dataFolder = FSettings.DataFolder();

  FLastPreview = TArchivePreview::Read(archivePath);
  if (FLastPreview.Readable && !FLastPreview.HasTables) {
    // Restoring it would empty the data folder.
    Status("복원을 완료했습니다.");
    HostUI().ShowFailure(TextNoTables);
    return false;
  }
  // Work done here since that backup was made would be replaced.
  if (FLastPreview.Readable && TablesNewerThan(dataFolder, FLastPreview.NewestMemberDate) &&
      !HostUI().AskYesNo(TextLocalNewer))
    return false;

  HostUI().SetCursor(TCursor::crHourGlass);
  ProgressShow(100);
  bool ok = false;
  {
    TScopeExit done([this] {
      Status("복원을 완료했습니다.");
      HostUI().SetCursor(TCursor::crDefault);
    });
    if (FLastPreview.Readable) {
      TRestoreTransaction transaction(dataFolder, FSettings.BackupFolder());
      transaction.OnStaged = [&] {
        if (archivePath != local)
          std::rename(archivePath.c_str(), local.c_str());
      };
      bool secondMissing = false;
      ok = transaction.Run("before-download", [&](const std::string &staging) {
        return StageArchives(archivePath, staging, secondMissing);
      });
      // The data came in, but without the second archive the set is not complete.
      ok = ok && !secondMissing;
    }
  }
  if (!ok)
    HostUI().ShowFailure(TextRestoreFailed);
  return ok;
}

// Unpacking is the check: a member that does not inflate or an archive cut short fails here,
// before the data folder changes. The second archive goes into the same staging folder, after
// the first, so that the swap brings in both or neither.
bool TWorkflow::StageArchives(const std::string &archivePath, const std::string &staging,
                              bool &secondMissing) {
  FBackupFile->SetRestoreMode(rmAll);
  FBackupFile->SetRestoreFullPath(false);
  TFileRestoredEvent saved = std::move(FBackupFile->OnFileRestored);
  TScopeExit putBack([&] { FBackupFile->OnFileRestored = std::move(saved); });
  // Each file is written out while the next one unpacks, so that the flush before the swap
  // finds little left to do. A file is handed over once the next one begins: by then the
  // engine has set its date and closed it, so that nothing of it is left dirty.
  TBackgroundFlush flush;
  std::string previous;
  FBackupFile->OnFileRestored = [&](TBackupFile &, std::string &file, std::unique_ptr<TStream> &) {
    if (!previous.empty() && previous != file)
      flush.Add(previous);
    previous = file;
    RestoreStopPoint("unpacking");
  };
  const bool restored = FBackupFile->Restore(archivePath, staging);
  flush.Add(previous);
  if (!restored)
    return false;
  const std::string second = TSettingsStore::SecondArchivePath(FConfig.SecondArchive);
  secondMissing = !FileExists(second);
  return secondMissing || FBackupFile->Restore(second, staging);
}

bool TWorkflow::UndoSteps() {
  if (!FSettings.HasDataFolder()) {
    HostUI().ShowMessage(TextNoDataFolder);
    return false;
  }
  if (!RecoverUnfinishedRestore() || DataInUse())
    return false;
  TRestoreTransaction transaction(FSettings.DataFolder(), FSettings.BackupFolder());
  const std::vector<std::string> snapshots = transaction.Snapshots();
  if (snapshots.empty()) {
    HostUI().ShowMessage(TextNothingToUndo);
    return false;
  }
  const std::string newest = snapshots.back();
  const std::string from = FSettings.BackupFolder() + "/" + newest;
  HostUI().SetCursor(TCursor::crHourGlass);
  bool ok = false;
  {
    TScopeExit done([this] {
      Status(StatusUndone);
      HostUI().SetCursor(TCursor::crDefault);
    });
    ok = transaction.Run(
        "before-undo", [&](const std::string &staging) { return CopyPlainFiles(from, staging); },
        newest);
  }
  if (ok)
    HostUI().ShowMessage(TextAllDone);
  else
    HostUI().ShowFailure(TextUndoFailed);
  return ok;
}

// A restore that a kill or a power cut stopped halfway is rolled back before anything else
// reads or changes the data folder.
bool TWorkflow::RecoverUnfinishedRestore() {
  bool recovered = false;
  try {
    recovered = TRestoreTransaction(FSettings.DataFolder(), FSettings.BackupFolder()).Recover();
  } catch (const Exception &) {
    recovered = false;
  }
  if (!recovered)
    HostUI().ShowFailure(TextRecoveryFailed);
  return recovered;
}

bool TWorkflow::DataInUse() {
  if (!FilesInUse(FSettings.DataFolder()))
    return false;
  HostUI().ShowMessage(TextInUse);
  return true;
}

bool TWorkflow::DeleteDataFiles() {
  if (!FSettings.HasDataFolder())
    return false; // never anywhere but in a real data folder
  if (DataInUse())
    return false;
  const std::string &folder = FSettings.DataFolder();
  for (const TSearchRec &entry : FindFiles(folder + "/*.*", 0))
    if (!DeleteFile(folder + "/" + entry.Name))
      return false;
  return true;
}

void TWorkflow::DisconnectServer() {
  FIdFTP1->CloseSession();
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
