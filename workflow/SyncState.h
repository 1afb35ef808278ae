#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace vantari {

// What the server's archive looked like when this computer last uploaded or downloaded it.
struct TServerArchiveState {
  int64_t Size = -1; // bytes; -1 when unknown
  std::string
      Time; // the server's modification time as MDTM gives it ("YYYYMMDDHHMMSS"); may be empty

  bool Known() const { return Size >= 0 || !Time.empty(); }
  bool operator==(const TServerArchiveState &) const = default;
};

enum class TFailureCause;

// How the last nightly upload went: when it ran, whether it uploaded, and if not why (the
// cause's name and the sentence the person would have read).
struct TNightlyResult {
  std::time_t When = 0;
  bool Succeeded = false;
  std::string Cause; // CauseName(); empty after a success
  std::string Text;  // the failure box's cause line
};

// One table file of an upload: its size and what the archive stored of it (bytes).
struct TTableStat {
  std::string Name; // the file's name in the data folder
  int64_t Size = 0;
  int64_t Packed = 0;

  bool operator==(const TTableStat &) const = default;
};

// Small facts the client keeps between runs in SyncState.ini of the per-computer state folder
// (StateFolder: what this computer saw never roams to another; INI text, mode 0600, written
// durably):
//   [User:<user ID>]   ServerSize, ServerTime, LastUpload, LastDownload (seconds since 1970, UTC),
//                      PartSize, PartTime (the server's archive a kept .part download came from),
//                      NightlyTime, NightlyResult ("ok", "failed", "refused"), NightlyCause,
//                      NightlyText (the last nightly upload),
//                      UploadedArchive ("<size> <MDTM> <seconds>": when this computer made the
//                      server's archive), Tables, Tables1... (the last upload's table files,
//                      "<name> <size> <packed>" joined by '/', in values of bounded length)
//   [Server:<host>]    Passive (1 when only passive data connections worked)
// A missing or unreadable file reads as "nothing known"; so does a symbolic link, which is
// replaced by a file of its own at the next write, never written through. A write that fails
// (a read-only file, a folder or a fifo in its place) raises nothing: the work it records is
// done, and WriteFailure tells the caller what could not be kept.
class TSyncState {
public:
  explicit TSyncState(std::string path = DefaultPath());
  static std::string DefaultPath();
  const std::string &Path() const { return FPath; }

  TServerArchiveState ServerArchive(const std::string &userID) const;
  void SetServerArchive(const std::string &userID, const TServerArchiveState &state);

  std::optional<std::time_t> LastUpload(const std::string &userID) const;
  void SetLastUpload(const std::string &userID, std::time_t when);
  std::optional<std::time_t> LastDownload(const std::string &userID) const;
  void SetLastDownload(const std::string &userID, std::time_t when);

  // The server's archive that a partly downloaded "<id>.bck.part" is a beginning of.
  TServerArchiveState PartialOrigin(const std::string &userID) const;
  void SetPartialOrigin(const std::string &userID, const TServerArchiveState &state);

  // When this computer uploaded the server's archive, while the server still holds that one.
  std::optional<std::time_t> UploadedAt(const std::string &userID,
                                        const TServerArchiveState &now) const;
  void SetUploadedAt(const std::string &userID, const TServerArchiveState &state, std::time_t when);

  // The table files of the last successful upload (empty when none is known).
  std::vector<TTableStat> TableStats(const std::string &userID) const;
  void SetTableStats(const std::string &userID, const std::vector<TTableStat> &tables);

  bool PassiveWorks(const std::string &host) const;
  void SetPassiveWorks(const std::string &host, bool passive);

  // The first write failure since the last call ("Unable to write to ..."), then cleared;
  // empty when every write succeeded.
  std::string TakeWriteFailure();

  std::optional<TNightlyResult> LastNightly(const std::string &userID) const;
  void SetLastNightly(const std::string &userID, std::time_t when, bool succeeded,
                      TFailureCause cause, const std::string &causeText);
  // For a box at the window's next start: "지난밤 자동 백업을 하지 못했습니다: ..." with the
  // cause and what to do, when the last nightly upload failed or was refused and nothing was
  // uploaded since; empty otherwise.
  std::string NightlyNotice(const std::string &userID) const;

  // Whole days from then to now (never negative).
  static int DaysBetween(std::time_t then, std::time_t now);
  // "마지막 백업: N일 전" when the user's last upload is more than a week before now, for the
  // window's status bar until the next workflow; empty otherwise.
  std::string BackupAgeNotice(const std::string &userID, std::time_t now) const;

private:
  std::string Read(const std::string &section, const std::string &key) const;
  void Write(const std::string &section, const std::string &key, const std::string &value);

  std::string FPath;
  std::string FWriteFailure;
};

} // namespace vantari
