#include "SyncState.h"

#include "DurableFile.h"
#include "Exception.h"
#include "FailureCause.h"
#include "FailureTexts.h"
#include "FileSystem.h"
#include "FolderOps.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "TextSplit.h"
#include "WorkflowTexts.h"

#include <charconv>
#include <utility>

namespace vantari {

namespace {

std::string UserSection(const std::string &userID) {
  return "User:" + userID;
}

std::string ServerSection(const std::string &host) {
  return "Server:" + host;
}

// A whole number, or nothing for an empty or malformed text.
std::optional<int64_t> Number(const std::string &text) {
  int64_t value = 0;
  const char *end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end)
    return std::nullopt;
  return value;
}

// A profile value holds at most 2047 characters: the table list goes in pieces below that.
constexpr size_t TablePieceLength = 1800;
constexpr int MaxTablePieces = 64;

std::string TablePieceKey(int piece) {
  return piece == 0 ? std::string("Tables") : "Tables" + std::to_string(piece);
}

// A name with the list's separators in it cannot be read back: it is left out.
bool Listable(const std::string &name) {
  return !name.empty() && name.find_first_of(" /") == std::string::npos;
}

} // namespace

TSyncState::TSyncState(std::string path) : FPath(std::move(path)) {}

// What this computer saw stays on it (StateFolder). A file from before, in the settings folder
// that may roam to other computers, is moved over once; a failed move leaves it where it was and
// this computer starts with nothing known, as after a first install.
std::string TSyncState::DefaultPath() {
  const std::string path = StateFolder() + "SyncState.ini";
  const std::string old = ConfigFolder() + "SyncState.ini";
  if (!FileExists(path) && !IsSymbolicLink(path) && FileExists(old))
    MoveNoReplace(old, path);
  return path;
}

std::string TSyncState::Read(const std::string &section, const std::string &key) const {
  if (IsSymbolicLink(FPath))
    return std::string();
  try {
    return GetPrivateProfileString(section, key, "", FPath);
  } catch (const Exception &) {
    return std::string(); // a folder, a fifo or a huge file: nothing known
  }
}

// The INI writer follows links (FtpHost.ini may be one on purpose); this file never does:
// a link put in its place would carry the writes to a file of somebody else's choosing.
void TSyncState::Write(const std::string &section, const std::string &key,
                       const std::string &value) {
  if (IsSymbolicLink(FPath))
    RemoveEntry(FPath);
  try {
    WritePrivateProfileString(section, key, value, FPath);
  } catch (const Exception &e) {
    if (FWriteFailure.empty())
      FWriteFailure = e.Message();
  }
}

std::string TSyncState::TakeWriteFailure() {
  return std::exchange(FWriteFailure, std::string());
}

TServerArchiveState TSyncState::ServerArchive(const std::string &userID) const {
  TServerArchiveState state;
  state.Size = Number(Read(UserSection(userID), "ServerSize")).value_or(-1);
  state.Time = Read(UserSection(userID), "ServerTime");
  return state;
}

void TSyncState::SetServerArchive(const std::string &userID, const TServerArchiveState &state) {
  Write(UserSection(userID), "ServerSize", std::to_string(state.Size));
  Write(UserSection(userID), "ServerTime", state.Time);
}

std::optional<std::time_t> TSyncState::LastUpload(const std::string &userID) const {
  return Number(Read(UserSection(userID), "LastUpload"));
}

void TSyncState::SetLastUpload(const std::string &userID, std::time_t when) {
  Write(UserSection(userID), "LastUpload", std::to_string(static_cast<int64_t>(when)));
}

std::optional<std::time_t> TSyncState::LastDownload(const std::string &userID) const {
  return Number(Read(UserSection(userID), "LastDownload"));
}

void TSyncState::SetLastDownload(const std::string &userID, std::time_t when) {
  Write(UserSection(userID), "LastDownload", std::to_string(static_cast<int64_t>(when)));
}

TServerArchiveState TSyncState::PartialOrigin(const std::string &userID) const {
  TServerArchiveState state;
  state.Size = Number(Read(UserSection(userID), "PartSize")).value_or(-1);
  state.Time = Read(UserSection(userID), "PartTime");
  return state;
}

void TSyncState::SetPartialOrigin(const std::string &userID, const TServerArchiveState &state) {
  Write(UserSection(userID), "PartSize", std::to_string(state.Size));
  Write(UserSection(userID), "PartTime", state.Time);
}

std::optional<std::time_t> TSyncState::UploadedAt(const std::string &userID,
                                                  const TServerArchiveState &now) const {
  const std::string text = Read(UserSection(userID), "UploadedArchive");
  const size_t first = text.find(' '), second = text.find(' ', first + 1);
  if (!now.Known() || first == std::string::npos || second == std::string::npos)
    return std::nullopt;
  const auto size = Number(text.substr(0, first));
  const auto when = Number(text.substr(second + 1));
  if (!size || !when || *size != now.Size || text.substr(first + 1, second - first - 1) != now.Time)
    return std::nullopt;
  return static_cast<std::time_t>(*when);
}

void TSyncState::SetUploadedAt(const std::string &userID, const TServerArchiveState &state,
                               std::time_t when) {
  Write(UserSection(userID), "UploadedArchive",
        std::to_string(state.Size) + " " + state.Time + " " +
            std::to_string(static_cast<int64_t>(when)));
}

std::vector<TTableStat> TSyncState::TableStats(const std::string &userID) const {
  std::vector<TTableStat> tables;
  for (int piece = 0; piece < MaxTablePieces; ++piece) {
    const std::string text = Read(UserSection(userID), TablePieceKey(piece));
    if (text.empty())
      break;
    for (const std::string &item : SplitText(text, '/')) {
      const size_t a = item.find(' '), b = item.find(' ', a + 1);
      if (a == std::string::npos || b == std::string::npos)
        continue;
      const auto size = Number(item.substr(a + 1, b - a - 1));
      const auto packed = Number(item.substr(b + 1));
      if (size && packed)
        tables.push_back({item.substr(0, a), *size, *packed});
    }
  }
  return tables;
}

void TSyncState::SetTableStats(const std::string &userID, const std::vector<TTableStat> &tables) {
  std::vector<std::string> pieces(1);
  for (const TTableStat &table : tables) {
    if (!Listable(table.Name))
      continue;
    const std::string item =
        table.Name + " " + std::to_string(table.Size) + " " + std::to_string(table.Packed);
    if (pieces.back().size() + item.size() + 1 > TablePieceLength) {
      if (static_cast<int>(pieces.size()) == MaxTablePieces - 1)
        break;
      pieces.emplace_back();
    }
    pieces.back() += (pieces.back().empty() ? "" : "/") + item;
  }
  // An empty piece after the last ends the list, whatever longer one was there before.
  pieces.emplace_back();
  for (size_t piece = 0; piece < pieces.size(); ++piece)
    Write(UserSection(userID), TablePieceKey(static_cast<int>(piece)), pieces[piece]);
}

bool TSyncState::PassiveWorks(const std::string &host) const {
  return Read(ServerSection(host), "Passive") == "1";
}

void TSyncState::SetPassiveWorks(const std::string &host, bool passive) {
  Write(ServerSection(host), "Passive", passive ? "1" : "0");
}

std::optional<TNightlyResult> TSyncState::LastNightly(const std::string &userID) const {
  const auto when = Number(Read(UserSection(userID), "NightlyTime"));
  if (!when)
    return std::nullopt;
  TNightlyResult result;
  result.When = *when;
  result.Succeeded = Read(UserSection(userID), "NightlyResult") == "ok";
  result.Cause = Read(UserSection(userID), "NightlyCause");
  result.Text = Read(UserSection(userID), "NightlyText");
  return result;
}

void TSyncState::SetLastNightly(const std::string &userID, std::time_t when, bool succeeded,
                                TFailureCause cause, const std::string &causeText) {
  const std::string section = UserSection(userID);
  const bool refused =
      cause == TFailureCause::fcNewerKept || cause == TFailureCause::fcDataLooksDamaged;
  Write(section, "NightlyTime", std::to_string(static_cast<int64_t>(when)));
  Write(section, "NightlyResult", succeeded ? "ok" : refused ? "refused" : "failed");
  Write(section, "NightlyCause", succeeded ? "" : CauseName(cause));
  Write(section, "NightlyText", succeeded ? "" : causeText);
}

std::string TSyncState::NightlyNotice(const std::string &userID) const {
  const auto nightly = LastNightly(userID);
  const auto lastUpload = LastUpload(userID);
  if (!nightly || nightly->Succeeded || (lastUpload && *lastUpload >= nightly->When))
    return {};
  const TFailureCause cause = CauseNamed(nightly->Cause);
  std::string notice = NoticeNightlyFailed;
  notice += nightly->Text.empty() ? CauseText(cause) : nightly->Text;
  notice += '\n';
  notice += NextStepText(cause);
  if (cause != TFailureCause::fcNewerKept && cause != TFailureCause::fcDataLooksDamaged &&
      cause != TFailureCause::fcNoNightlyPassword) {
    notice += '\n';
    notice += NoticeUploadNow;
  }
  return notice;
}

int TSyncState::DaysBetween(std::time_t then, std::time_t now) {
  return now > then ? static_cast<int>((now - then) / 86400) : 0;
}

std::string TSyncState::BackupAgeNotice(const std::string &userID, std::time_t now) const {
  const auto lastUpload = LastUpload(userID);
  if (!lastUpload || now - *lastUpload <= 7 * 24 * 60 * 60)
    return {};
  return TextBackupAgeBefore + std::to_string(DaysBetween(*lastUpload, now)) + TextBackupAgeAfter;
}

} // namespace vantari
