// The download's side of the workflows: the transfer into the .part file, the restore
// transaction, undo and the recovery of a restore cut short.
#include "Workflow.h"

#include "BackgroundFlush.h"
#include "BackupFile.h"
#include "Exception.h"
#include "FileSystem.h"
#include "FilesInUse.h"
#include "FolderOps.h"
#include "HostUI.h"
#include "IdFTP.h"
#include "IdTCPConnection.h"
#include "RestoreTransaction.h"
#include "SafeUpload.h"
#include "ScopeExit.h"
#include "WindowsNames.h"
#include "WorkflowTexts.h"

#include <algorithm>
#include <ctime>

namespace vantari {

namespace {

// How much of a kept .part, at its start and at its end, is compared with the server's file
// before the download is resumed.
constexpr int64_t ResumeCheckBytes = 65536;

const char *NameProblemWords(TNameProblem problem) {
  switch (problem) {
  case TNameProblem::npTrailingDotOrBlank:
    return TextNameEndsInDot;
  case TNameProblem::npDeviceName:
    return TextNameIsDevice;
  case TNameProblem::npBadCharacter:
    return TextNameBadCharacter;
  case TNameProblem::npNotInCodePage:
    return TextNameNotInCodePage;
  default:
    return TextNameCollides;
  }
}

} // namespace

// A data folder to restore into, nothing in the way, and a session on the server.
bool TWorkflow::ReadyToDownload() {
  if (!FSettings.HasDataFolder()) {
    Fail(TextNoDataFolder, TFailureCause::fcNoDataFolder, FSettings.DataFolder());
    return false;
  }
  if (!RecoverUnfinishedRestore() || DataInUse())
    return false;
  return LoginIsUsable() && CheckInternet() && ConnectServer();
}

bool TWorkflow::DownloadSteps() {
  if (!ReadyToDownload())
    return false;
  const bool downloaded = DownloadArchive();
  const bool restored = downloaded && RestoreData(PartialArchivePath());
  DisconnectServer();
  // The data folder holds the server's archive even when a later step failed (no zipcode.bck):
  // the next upload must not take it for another computer's.
  if (downloaded && FDataReplaced) {
    FSyncState.SetLastDownload(FUserID, std::time(nullptr));
    FSyncState.SetServerArchive(FUserID, FFetched);
  }
  if (downloaded && restored) {
    HostUI().ShowSuccess(TextAllDone);
    ReportSyncStateFailure();
  }
  return downloaded && restored;
}

// The archive comes in beside the last good local copy, which stays until the new one has
// been received whole and checked.
bool TWorkflow::DownloadArchive() {
  if (!FIdFTP1->IsConnected())
    return false;
  const std::string part = PartialArchivePath();
  try {
    ProgressShow(100);
    Status(StatusDownloading);
    HostUI().ProcessMessages();
    // A first download on a new computer has no Backup folder yet.
    ForceDirectories(FSettings.BackupFolder());
    FIdFTP1->SetTransferType(ftBinary);
    FFetched = ReadServerArchive(*FIdFTP1, RemoteArchiveName());
    if (FFetched.Size < 0) {
      const std::vector<std::string> stranded = StrandedArchives(*FIdFTP1, RemoteArchiveName());
      if (!stranded.empty())
        return DownloadStrandedArchive(stranded, part);
    }
    FRemoteSize = static_cast<int32_t>(FFetched.Size);
    const bool resume = CanResume(part);
    if (FFetched.Size >= 0 && !FFetched.Time.empty())
      FSyncState.SetPartialOrigin(FUserID, FFetched);
    // Fewer bytes than SIZE announced is a cut-off download, never one to restore.
    FIdFTP1->DownloadFile(RemoteArchiveName(), part, !resume, resume, FFetched.Size);
    Status(StatusTransferDone);
    return true;
  } catch (const std::exception &e) {
    if (!KeepForResume(part))
      DeleteFile(part);
    Fail(TextDownloadFailed, DownloadFailureCause(e), {}, &e);
    return false;
  }
}

// A RETR refused for a name the server knows nothing of: nothing was ever uploaded.
TFailureCause TWorkflow::DownloadFailureCause(const std::exception &e) const {
  const auto *reply = dynamic_cast<const EIdProtocolReplyError *>(&e);
  if (reply != nullptr && reply->ReplyErrorCode() == 550 && !FFetched.Known())
    return TFailureCause::fcNoServerArchive;
  return ReceiveFailureCause(e, FFetched.Size);
}

// A transfer into the Backup folder raised e: the server's side, or this disk's.
TFailureCause TWorkflow::ReceiveFailureCause(const std::exception &e, int64_t need) const {
  const TFailureCause cause = TransferFailureCause(e);
  const auto *local = dynamic_cast<const EStreamError *>(&e);
  if (cause != TFailureCause::fcUnknown || local == nullptr)
    return cause;
  if (IdCancelRequested())
    return TFailureCause::fcCancelled;
  return LocalStepCause(local->Cause(), FSettings.BackupFolder(), std::max<int64_t>(need, 0));
}

// An upload cut off between its renames left no archive under its name: the newest of the
// files it left that reads through as an archive is the last whole one. The upload's own file
// is renamed into place for it, so that every computer finds it under its name again.
bool TWorkflow::DownloadStrandedArchive(const std::vector<std::string> &names,
                                        const std::string &part) {
  for (const std::string &name : names) {
    FRemoteSize = FIdFTP1->RemoteFileSize(name);
    bool whole = false;
    {
      TFileStream file(part, fmCreate);
      whole = FetchWholeArchive(*FIdFTP1, name, file);
    }
    if (!whole)
      continue;
    if (name == UploadTemporaryName(RemoteArchiveName()))
      PutStrandedArchiveInPlace(*FIdFTP1, RemoteArchiveName());
    FFetched = ReadServerArchive(*FIdFTP1, RemoteArchiveName());
    return true;
  }
  DeleteFile(part);
  Fail(TextDownloadFailed, TFailureCause::fcServerArchiveDamaged);
  return false;
}

// A .part left by a download cut off midway goes on with REST where it stopped, when the
// server's archive is still the one (size and time) it is the beginning of, and the server's
// file still holds the part's first bytes (the title, with the minute the archive was made,
// and the first blocks) and its last ones: an archive replaced by one of the same size within
// the same second would otherwise be joined onto the other's beginning, every block sound.
bool TWorkflow::CanResume(const std::string &part) {
  if (FFetched.Size <= 0 || FFetched.Time.empty() || !FileExists(part))
    return false;
  const int64_t have = FileSize(part);
  if (have <= 0 || have >= FFetched.Size || FSyncState.PartialOrigin(FUserID) != FFetched ||
      !FIdFTP1->ServerSupportsRestart())
    return false;
  const int64_t window = std::min<int64_t>(have, ResumeCheckBytes);
  TFileStream file(part, fmOpenRead);
  std::vector<int64_t> offsets{0};
  if (have > window)
    offsets.push_back(have - window);
  for (const int64_t offset : offsets) {
    std::string bytes(static_cast<size_t>(window), '\0');
    file.SetPosition(offset);
    file.ReadBuffer(bytes.data(), window);
    if (!ServerFileHolds(*FIdFTP1, RemoteArchiveName(), offset, bytes))
      return false;
  }
  return true;
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
  FDataReplaced = false;
  const std::string local = LocalArchivePath();
  const std::string part = PartialArchivePath();
  TScopeExit discard([&] {
    if (archivePath == part && archivePath != local)
      DeleteFile(part);
  });
  if (!FSettings.HasDataFolder() || !RecoverUnfinishedRestore() || DataInUse())
    return false;
  const std::string &dataFolder = FSettings.DataFolder();

  HostUI().SetCursor(TCursor::crHourGlass);
  ProgressShow(100);
  TArchiveVerdict verdict = TArchiveVerdict::avFailed;
  std::string refusal;
  bool ok = false;
  {
    TScopeExit done([this] {
      Status(StatusRestoreDone);
      HostUI().SetCursor(TCursor::crDefault);
    });
    TRestoreTransaction transaction(dataFolder, FSettings.BackupFolder());
    transaction.OnStaged = [&] {
      if (archivePath != local)
        (void)MoveReplacing(archivePath, local); // a failure keeps the last local archive
    };
    bool secondMissing = false;
    // The unpack is the archive's check and its preview at once: what it holds is weighed
    // before the data folder changes, and a No leaves nothing but a removed staging folder.
    ok = transaction.Run("before-download", [&](const std::string &staging) {
      verdict = StageArchives(archivePath, staging, secondMissing, refusal)
                    ? WeighArchive(dataFolder)
                    : TArchiveVerdict::avFailed;
      return verdict == TArchiveVerdict::avRestore;
    });
    FDataReplaced = ok;
    // The data came in, but without the second archive the set is not complete.
    ok = ok && !secondMissing;
  }
  if (!refusal.empty())
    Fail(refusal, TFailureCause::fcNameNotAllowed, {}, nullptr, true);
  else if (verdict == TArchiveVerdict::avNoTables)
    Fail(TextNoTables, TFailureCause::fcArchiveWithoutTables, {}, nullptr, true);
  else if (!ok && verdict != TArchiveVerdict::avDeclined && ArchiveWasDamaged())
    Fail(TextRestoreFailed, TFailureCause::fcArchiveDamaged, {}, nullptr, true);
  else if (!ok && verdict != TArchiveVerdict::avDeclined)
    FailLocal(TextRestoreFailed, dataFolder, FileSize(local), FBackupFile->ErrorCause());
  return ok;
}

// The archive itself would not unpack: no file call of this computer failed, nothing was
// cancelled, and the engine stopped before writing the first archive's last member.
bool TWorkflow::ArchiveWasDamaged() const {
  return !FLastPreview.Readable && !IdCancelRequested() &&
         FBackupFile->ErrorCode() != beWriteFile && FBackupFile->ErrorCause().Code == 0;
}

// Whether the unpacked archive may replace the data folder: one without tables would empty
// it; work done here since it was made, or tables it lacks, go only on the person's Yes.
TWorkflow::TArchiveVerdict TWorkflow::WeighArchive(const std::string &dataFolder) {
  if (!FLastPreview.HasTables)
    return TArchiveVerdict::avNoTables;
  const auto ask = [this](const std::string &question) {
    if (FNewerConfirmed)
      return true;
    HostUI().SetCursor(TCursor::crDefault);
    const bool yes = HostUI().AskYesNo(question);
    HostUI().SetCursor(TCursor::crHourGlass);
    return yes;
  };
  if (TablesNewerThan(dataFolder, FLastPreview.NewestMemberDate) && !ask(TextLocalNewer))
    return TArchiveVerdict::avDeclined;
  // They would stay only in the snapshot.
  const int leaving = TablesMissingFrom(dataFolder, FLastPreview.MemberNames);
  if (leaving > 0 && !ask(Format(TextTablesLeave, leaving)))
    return TArchiveVerdict::avDeclined;
  return TArchiveVerdict::avRestore;
}

// Unpacking is the check: a member that does not inflate or an archive cut short fails here,
// before the data folder changes. The second archive goes into the same staging folder, after
// the first, so that the swap brings in both or neither. Where the folder takes only the names
// Windows takes, a member it cannot hold under its own name is never written: the restore
// fails with refusal naming it.
bool TWorkflow::StageArchives(const std::string &archivePath, const std::string &staging,
                              bool &secondMissing, std::string &refusal) {
  FBackupFile->SetRestoreMode(rmAll);
  FBackupFile->SetRestoreFullPath(false);
  TFileRestoredEvent saved = std::move(FBackupFile->OnFileRestored);
  TRestoreFileEvent savedNames = std::move(FBackupFile->OnRestoreFile);
  TScopeExit putBack([&] {
    FBackupFile->OnFileRestored = std::move(saved);
    FBackupFile->OnRestoreFile = std::move(savedNames);
  });
  // What the first archive holds, as the restore meets it.
  FLastPreview = TArchivePreview();
  TWindowsNameSet names;
  const auto checkName = [&](const std::string &file, bool &restore) {
    const TNameProblem problem = names.Add(ExtractFileName(file));
    if (!kWindowsNames || problem == TNameProblem::npNone)
      return;
    restore = false;
    if (refusal.empty())
      refusal = Format(TextNameNotHeld, ExtractFileName(file).c_str(), NameProblemWords(problem));
  };
  FBackupFile->OnRestoreFile = [&](TBackupFile &, std::string &file, int32_t date, bool &restore) {
    FLastPreview.Add(file, date);
    checkName(file, restore);
  };
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
  bool restored = false;
  try {
    FLastPreview.Title = TArchivePreview::ReadTitle(archivePath);
    restored = FBackupFile->Restore(archivePath, staging);
  } catch (const Exception &) {
    restored = false; // damage outside the members: a download never to restore
  }
  flush.Add(previous);
  FLastPreview.Readable = restored;
  FBackupFile->OnRestoreFile = [&](TBackupFile &, std::string &file, int32_t, bool &restore) {
    checkName(file, restore);
  };
  if (!restored || !refusal.empty())
    return false;
  const std::string second = TSettingsStore::SecondArchivePath(FConfig.SecondArchive);
  secondMissing = !FileExists(second);
  return (secondMissing || FBackupFile->Restore(second, staging)) && refusal.empty() &&
         TakeExistingNames(staging, FSettings.DataFolder());
}

bool TWorkflow::UndoSteps() {
  if (!FSettings.HasDataFolder()) {
    Fail(TextNoDataFolder, TFailureCause::fcNoDataFolder, FSettings.DataFolder());
    return false;
  }
  if (!RecoverUnfinishedRestore() || DataInUse())
    return false;
  TRestoreTransaction transaction(FSettings.DataFolder(), FSettings.BackupFolder());
  const std::vector<std::string> snapshots = transaction.Snapshots();
  if (snapshots.empty()) {
    Fail(TextNothingToUndo, TFailureCause::fcNothingToUndo);
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
    HostUI().ShowSuccess(TextAllDone);
  else
    FailLocal(TextUndoFailed, FSettings.DataFolder(), 0, {});
  return ok;
}

// A restore that a kill or a power cut stopped halfway is rolled back before anything else
// reads or changes the data folder.
bool TWorkflow::RecoverUnfinishedRestore() {
  bool recovered = false;
  try {
    recovered = TRestoreTransaction(FSettings.DataFolder(), FSettings.BackupFolder()).Recover();
  } catch (const EUntrustedJournal &e) {
    // Left as it is for a person to look at.
    Fail(Format(TextJournalUntrusted, TRestoreJournal::PathIn(FSettings.BackupFolder()).c_str()),
         TFailureCause::fcRestoreUnfinished, {}, &e, true);
    return false;
  } catch (const Exception &e) {
    Fail(TextRecoveryFailed, TFailureCause::fcRestoreUnfinished, {}, &e, true);
    return false;
  }
  if (recovered)
    return true;
  if (OtherVantariRuns(FSettings.DataFolder(), FSettings.BackupFolder()))
    Fail(TextOtherInstance, TFailureCause::fcOtherInstance);
  else
    Fail(TextRecoveryFailed, TFailureCause::fcRestoreUnfinished, {}, nullptr, true);
  return false;
}

bool TWorkflow::DataInUse() {
  if (!FilesInUse(FSettings.DataFolder()))
    return false;
  if (OtherVantariRuns(FSettings.DataFolder(), FSettings.BackupFolder())) {
    Fail(TextOtherInstance, TFailureCause::fcOtherInstance);
    return true;
  }
  const std::vector<std::string> holders = ProgramsHoldingFiles(FSettings.DataFolder());
  Fail(TextInUse, TFailureCause::fcTableInUse,
       holders.empty() ? std::string() : ExtractFileName(holders.front()));
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

} // namespace vantari
