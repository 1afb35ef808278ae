// The workflows' side of the server's dated history: how an upload names the archive it
// replaces, the guard before an upload replaces the server's backup, and the restore from an
// earlier archive.
#include "Workflow.h"

#include "BackupFile.h"
#include "Exception.h"
#include "FileSystem.h"
#include "HostUI.h"
#include "IdFTP.h"
#include "IdWait.h"
#include "ScopeExit.h"
#include "UploadGuard.h"
#include "WorkflowTexts.h"

namespace vantari {

namespace {

// The question names this many files at most, then how many more.
constexpr size_t NamedTables = 12;

std::string GroupedDigits(int64_t number) {
  const std::string digits = std::to_string(number);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-')
      grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string DamagedTablesLine(const std::vector<std::string> &tables) {
  std::string names;
  for (size_t i = 0; i < tables.size() && i < NamedTables; ++i)
    names += (i ? ", " : "") + tables[i];
  if (tables.size() > NamedTables)
    names += Format(TextMoreTables, static_cast<int>(tables.size() - NamedTables));
  return Format(TextDamagedTables, names.c_str());
}

} // namespace

// When the server's archive was made: this computer's own record of its upload where the
// server still holds that one, else the server's modification time, else now.
std::time_t TWorkflow::ArchiveMade(const TServerArchiveState &state) const {
  if (const auto uploaded = FSyncState.UploadedAt(FUserID, state))
    return *uploaded;
  if (const auto modified = ParseMdtmTime(state.Time))
    return *modified;
  return FConfig.WallNow();
}

THistoryPlan TWorkflow::HistoryPlan() {
  THistoryPlan plan;
  plan.Schedule = TSettingsStore::ReadHistorySchedule();
  plan.ReplacedMade = ArchiveMade(ReadServerArchive(*FIdFTP1, RemoteArchiveName()));
  plan.UtcOffset = LocalUtcOffset(FConfig.WallNow());
  return plan;
}

// The archive just packed against the last one uploaded: data that looks encrypted, damaged
// or gone replaces the server's backup only on the person's Yes (No the default; unattended
// nobody says Yes).
bool TWorkflow::DataLooksSound() {
  FPackedTables = TableStatsOf(FBackupFile->PackedMembers());
  const TGuardVerdict verdict = WeighUpload(FSyncState.TableStats(FUserID), FPackedTables);
  if (!verdict.Suspicious)
    return true;
  HostUI().SetCursor(TCursor::crDefault);
  if (HostUI().AskYesNo(std::string(TextDataLooksDamaged) + "\n\n" +
                        DamagedTablesLine(verdict.Tables)))
    return true;
  Fail(TextServerBackupKept, TFailureCause::fcDataLooksDamaged, {}, nullptr, false);
  return false;
}

bool TWorkflow::HistorySteps(const std::string &day, bool replaceNewer) {
  FNewerConfirmed = replaceNewer;
  TScopeExit reset([this] { FNewerConfirmed = false; });
  try {
    return HistoryDownloadSteps(day);
  } catch (const EIdCancelled &) {
    ShowCancelled(TextDownloadFailed);
    return false;
  }
}

// The person picks one, newest first, and confirms it with its date in the question.
const THistoryEntry *TWorkflow::ChooseFromHistory(const std::vector<THistoryEntry> &history) {
  const int offset = LocalUtcOffset(FConfig.WallNow());
  std::vector<std::string> lines;
  for (const THistoryEntry &entry : history)
    lines.push_back(Format(TextHistoryLine, HistoryTimeText(entry.Made, offset).c_str(),
                           GroupedDigits(entry.Size).c_str(),
                           entry.Current ? TextHistoryCurrent : ""));
  const int chosen = HostUI().ChooseOne(TextChooseHistory, lines);
  if (chosen < 0 || chosen >= static_cast<int>(history.size()))
    return nullptr;
  const THistoryEntry &entry = history[static_cast<size_t>(chosen)];
  if (!HostUI().AskYesNo(
          Format(TextRestoreFromQuestion, HistoryTimeText(entry.Made, offset).c_str())))
    return nullptr;
  // The date in the question was the answer to newer local data too.
  FNewerConfirmed = true;
  return &entry;
}

bool TWorkflow::HistoryDownloadSteps(const std::string &day) {
  if (!ReadyToDownload())
    return false;
  const std::string part = PartialArchivePath();
  const THistoryEntry *chosen = nullptr;
  std::vector<THistoryEntry> history;
  try {
    FIdFTP1->SetTransferType(ftBinary);
    history = ReadServerHistory(*FIdFTP1, RemoteArchiveName(),
                                ArchiveMade(ReadServerArchive(*FIdFTP1, RemoteArchiveName())));
    if (history.empty()) {
      Fail(TextNoHistory, TFailureCause::fcNoServerArchive);
    } else if (day.empty()) {
      chosen = ChooseFromHistory(history);
    } else {
      const int offset = LocalUtcOffset(FConfig.WallNow());
      chosen = ArchiveOfDay(history, day, offset);
      if (!chosen)
        Fail(Format(TextNoArchiveOfDay, day.c_str()), TFailureCause::fcNoArchiveOfDay,
             HistoryTimeText(history.back().Made, offset)); // newest first
    }
    if (!chosen) {
      DisconnectServer();
      return false;
    }
    ProgressShow(100);
    Status(StatusDownloading);
    ForceDirectories(FSettings.BackupFolder());
    FRemoteSize = static_cast<int32_t>(chosen->Size);
    FIdFTP1->DownloadFile(chosen->Name, part, true, false, chosen->Size);
  } catch (const EIdCancelled &) {
    throw;
  } catch (const std::exception &e) {
    DeleteFile(part);
    Fail(TextDownloadFailed, ReceiveFailureCause(e, chosen ? chosen->Size : 0), {}, &e);
    DisconnectServer();
    return false;
  }
  DisconnectServer();
  const bool restored = RestoreData(part);
  if (FDataReplaced)
    FSyncState.SetLastDownload(FUserID, std::time(nullptr));
  if (restored) {
    HostUI().ShowSuccess(TextAllDone);
    ReportSyncStateFailure();
  }
  return restored;
}

} // namespace vantari
