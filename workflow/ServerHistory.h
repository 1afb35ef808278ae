#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vantari {

class TIdFTP;

// How many earlier archives the server keeps besides "<id>.bck": the last upload of each of the
// last Days days that had one, the last of each of the last Weeks weeks (Monday to Sunday) and
// of the last Months calendar months that had one. All three 0: no dated history (the two
// numbered versions ".1" and ".2" of before).
struct THistorySchedule {
  int Days = 7;
  int Weeks = 4;
  int Months = 6;

  bool Off() const { return Days <= 0 && Weeks <= 0 && Months <= 0; }
};

// Which of the given upload times the schedule keeps (true at the same index). Times are
// seconds since 1970 (UTC); days, weeks and months are those of a clock utcOffset seconds
// ahead of UTC. Pure: no clock, no time zone database.
std::vector<bool> HistoryKeeps(const std::vector<std::time_t> &times,
                               const THistorySchedule &schedule, int utcOffset);

// Runs a server command whose refusal is expected and harmless (a file that is not there, a
// server that does not rename); false when it was refused.
bool Tolerated(const std::function<void()> &command);

// The dated name of an earlier archive: "<name>.YYYYMMDD-HHMMSS" in UTC. It keeps the archive's
// name in front (a listing groups and sorts them by date) and ends in no ".bck", so that
// nothing takes it for the archive itself.
std::string HistoryName(const std::string &remoteName, std::time_t made);
// The upload time a dated name of remoteName's carries; nothing for any other name (another
// user's, a name this client does not write, a date that does not exist).
std::optional<std::time_t> ParseHistoryName(const std::string &remoteName, const std::string &name);
// "YYYYMMDDHHMMSS" (MDTM, UTC) as seconds since 1970.
std::optional<std::time_t> ParseMdtmTime(const std::string &text);
// The clock's offset from UTC at t (local time minus UTC), in seconds.
int LocalUtcOffset(std::time_t t);

// One archive of the user's on the server, the current one included.
struct THistoryEntry {
  std::string Name; // as given to the server (the folder of remoteName included)
  std::time_t Made = 0;
  int64_t Size = -1;
  bool Current = false; // "<id>.bck" itself
};

// The user's archives on the server, newest first: "<id>.bck" (made at currentMade when it is
// known, else at its MDTM time), the dated ones and the numbered ".1"/".2" of before (dated by
// MDTM). Found with the server's listing; a server that lists nothing gives "<id>.bck" alone.
std::vector<THistoryEntry> ReadServerHistory(TIdFTP &ftp, const std::string &remoteName,
                                             std::optional<std::time_t> currentMade);

// After a checked upload under the temporary name, before it is renamed into place: the
// numbered versions of before and then "<id>.bck" (made at replacedMade) move to dated names.
// Every refusal is tolerated: it costs the history, never the upload. Gives the folder's file
// names after the moves, from one listing (none when there was nothing to move or no listing).
std::set<std::string> MoveCurrentIntoHistory(TIdFTP &ftp, const std::string &remoteName,
                                             std::time_t replacedMade);
// Deletes those of the dated archives among names that the schedule no longer keeps; nothing
// else is ever deleted. Refusals leave the history as it is.
void ThinHistory(TIdFTP &ftp, const std::string &remoteName, const std::set<std::string> &names,
                 const THistorySchedule &schedule, int utcOffset);

// The newest archive made on the given local day ("YYYY-MM-DD") or before it; nullptr when
// there is none or the date does not parse.
const THistoryEntry *ArchiveOfDay(const std::vector<THistoryEntry> &history, const std::string &day,
                                  int utcOffset);
// "2026-12-08 21:30" in the clock utcOffset seconds ahead of UTC.
std::string HistoryTimeText(std::time_t made, int utcOffset);

} // namespace vantari
