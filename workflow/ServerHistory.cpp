#include "ServerHistory.h"

#include "DosDate.h"
#include "IdFTP.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <set>

namespace vantari {

namespace {

constexpr int64_t SecondsPerDay = 86400;
// Another archive of the same second is never overwritten: the name moves on by a second.
constexpr int FreeNameTries = 3600;

struct TCivil {
  int64_t Year;
  int Month; // 1..12
  int Day;   // 1..31
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

TCivil CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (m <= 2), m, d};
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// "YYYYMMDD" + separator + "HHMMSS" of t, UTC.
std::string Stamp(std::time_t t, const char *separator) {
  const int64_t days = FloorDiv(t, SecondsPerDay);
  const int64_t second = t - days * SecondsPerDay;
  const TCivil c = CivilFromDays(days);
  char text[40];
  std::snprintf(text, sizeof text, "%04lld%02d%02d%s%02d%02d%02d", static_cast<long long>(c.Year),
                c.Month, c.Day, separator, static_cast<int>(second / 3600),
                static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
  return text;
}

bool AllDigits(const std::string &text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "YYYYMMDD" + separator + "HHMMSS" back to a time; only a real moment written the same way.
std::optional<std::time_t> ParseStamp(const std::string &text, const std::string &separator) {
  if (text.size() != 14 + separator.size() || text.compare(8, separator.size(), separator) != 0)
    return std::nullopt;
  const std::string date = text.substr(0, 8), time = text.substr(8 + separator.size());
  if (!AllDigits(date) || !AllDigits(time))
    return std::nullopt;
  const int year = std::stoi(date.substr(0, 4)), month = std::stoi(date.substr(4, 2)),
            day = std::stoi(date.substr(6, 2));
  const int hour = std::stoi(time.substr(0, 2)), minute = std::stoi(time.substr(2, 2)),
            second = std::stoi(time.substr(4, 2));
  const std::time_t t = static_cast<std::time_t>(DaysFromCivil(year, month, day) * SecondsPerDay +
                                                 hour * 3600 + minute * 60 + second);
  // 20261331 or 256161 would name another moment when written back.
  if (Stamp(t, separator.c_str()) != text)
    return std::nullopt;
  return t;
}

std::string FolderOf(const std::string &remoteName) {
  const size_t slash = remoteName.rfind('/');
  return slash == std::string::npos ? std::string() : remoteName.substr(0, slash + 1);
}

std::string BaseOf(const std::string &remoteName) {
  return remoteName.substr(FolderOf(remoteName).size());
}

// The folder's files; nothing when the server lists nothing (no listing is no history work).
std::vector<TIdFTPListItem> ListFiles(TIdFTP &ftp, const std::string &remoteName) {
  std::string folder = FolderOf(remoteName);
  if (!folder.empty())
    folder.pop_back();
  std::vector<TIdFTPListItem> files;
  try {
    for (const TIdFTPListItem &item : ftp.ListFolder(folder))
      if (item.IsFile)
        files.push_back(item);
  } catch (const EIdProtocolReplyError &) {
  } catch (const EIdFTPListingTooLong &) {
  }
  return files;
}

// The dated name for made that no file of the folder has yet.
std::string FreeHistoryName(TIdFTP &ftp, const std::string &remoteName, std::time_t made,
                            const std::set<std::string> &taken) {
  for (int i = 0; i < FreeNameTries; ++i) {
    const std::string name = HistoryName(remoteName, made + i);
    if (!taken.count(BaseOf(name)) && ftp.RemoteFileSize(name) < 0)
      return name;
  }
  return std::string();
}

// Renames from to a free dated name; the folder's names follow what the server did.
void MoveToHistory(TIdFTP &ftp, const std::string &from, const std::string &remoteName,
                   std::time_t made, std::set<std::string> &names) {
  const std::string to = FreeHistoryName(ftp, remoteName, made, names);
  if (!to.empty() && Tolerated([&] { ftp.Rename(from, to); })) {
    names.erase(BaseOf(from));
    names.insert(BaseOf(to));
  }
}

} // namespace

bool Tolerated(const std::function<void()> &command) {
  try {
    command();
    return true;
  } catch (const EIdProtocolReplyError &) {
    return false;
  }
}

std::vector<bool> HistoryKeeps(const std::vector<std::time_t> &times,
                               const THistorySchedule &schedule, int utcOffset) {
  std::vector<size_t> order(times.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return times[a] > times[b]; });
  const auto day = [&](size_t i) { return FloorDiv(times[i] + utcOffset, SecondsPerDay); };
  // 1970-01-01 was a Thursday: three days on, weeks begin on Mondays.
  const auto week = [&](size_t i) { return FloorDiv(day(i) + 3, 7); };
  const auto month = [&](size_t i) {
    const TCivil c = CivilFromDays(day(i));
    return c.Year * 12 + c.Month;
  };
  std::vector<bool> keep(times.size(), false);
  const auto rule = [&](auto period, int count) {
    int taken = 0;
    std::optional<int64_t> last;
    for (size_t i : order) {
      if (taken >= count)
        break;
      // Newest first: the first of a period is its last upload.
      if (last == period(i))
        continue;
      last = period(i);
      keep[i] = true;
      ++taken;
    }
  };
  rule(day, schedule.Days);
  rule(week, schedule.Weeks);
  rule(month, schedule.Months);
  return keep;
}

std::string HistoryName(const std::string &remoteName, std::time_t made) {
  return remoteName + "." + Stamp(made, "-");
}

std::optional<std::time_t> ParseHistoryName(const std::string &remoteName,
                                            const std::string &name) {
  const std::string prefix = BaseOf(remoteName) + ".";
  const std::string base = BaseOf(name);
  if (base.size() <= prefix.size() || base.compare(0, prefix.size(), prefix) != 0)
    return std::nullopt;
  return ParseStamp(base.substr(prefix.size()), "-");
}

std::optional<std::time_t> ParseMdtmTime(const std::string &text) {
  return ParseStamp(text, "");
}

int LocalUtcOffset(std::time_t t) {
  const std::tm local = LocalTime(t);
  const int64_t seconds =
      DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * SecondsPerDay +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return static_cast<int>(seconds - t);
}

std::vector<THistoryEntry> ReadServerHistory(TIdFTP &ftp, const std::string &remoteName,
                                             std::optional<std::time_t> currentMade) {
  std::vector<THistoryEntry> history;
  const std::string folder = FolderOf(remoteName);
  const int32_t size = ftp.RemoteFileSize(remoteName);
  if (size >= 0) {
    const auto made = currentMade ? currentMade : ParseMdtmTime(ftp.RemoteFileTime(remoteName));
    history.push_back({remoteName, made.value_or(0), size, true});
  }
  const std::string base = BaseOf(remoteName);
  for (const TIdFTPListItem &item : ListFiles(ftp, remoteName)) {
    THistoryEntry entry{folder + item.Name, 0, item.Size, false};
    if (const auto made = ParseHistoryName(remoteName, item.Name)) {
      entry.Made = *made;
    } else if (item.Name == base + ".1" || item.Name == base + ".2") {
      entry.Made = ParseMdtmTime(ftp.RemoteFileTime(entry.Name)).value_or(0);
    } else {
      continue;
    }
    if (entry.Size < 0)
      entry.Size = ftp.RemoteFileSize(entry.Name);
    if (entry.Size >= 0) // NLST names folders too; they have no size
      history.push_back(entry);
  }
  std::stable_sort(history.begin(), history.end(),
                   [](const THistoryEntry &a, const THistoryEntry &b) {
                     return a.Made != b.Made ? a.Made > b.Made : a.Current > b.Current;
                   });
  return history;
}

std::set<std::string> MoveCurrentIntoHistory(TIdFTP &ftp, const std::string &remoteName,
                                             std::time_t replacedMade) {
  // The numbered versions of before become the first dated ones, as old as the server says.
  std::vector<std::pair<std::string, std::time_t>> moves;
  for (const char *suffix : {".2", ".1"})
    if (const auto made = ParseMdtmTime(ftp.RemoteFileTime(remoteName + suffix)))
      moves.emplace_back(remoteName + suffix, *made);
  if (ftp.RemoteFileSize(remoteName) >= 0)
    moves.emplace_back(remoteName, replacedMade);
  std::set<std::string> names;
  if (moves.empty())
    return names; // a first upload: nothing to move, nothing to thin
  for (const TIdFTPListItem &item : ListFiles(ftp, remoteName))
    names.insert(item.Name);
  for (const auto &[from, made] : moves)
    MoveToHistory(ftp, from, remoteName, made, names);
  return names;
}

void ThinHistory(TIdFTP &ftp, const std::string &remoteName, const std::set<std::string> &names,
                 const THistorySchedule &schedule, int utcOffset) {
  std::vector<std::string> dated;
  std::vector<std::time_t> times;
  for (const std::string &name : names)
    if (const auto made = ParseHistoryName(remoteName, name)) {
      dated.push_back(FolderOf(remoteName) + name);
      times.push_back(*made);
    }
  const std::vector<bool> keep = HistoryKeeps(times, schedule, utcOffset);
  for (size_t i = 0; i < dated.size(); ++i)
    if (!keep[i])
      Tolerated([&] { ftp.Delete(dated[i]); });
}

const THistoryEntry *ArchiveOfDay(const std::vector<THistoryEntry> &history, const std::string &day,
                                  int utcOffset) {
  if (day.size() != 10 || day[4] != '-' || day[7] != '-')
    return nullptr;
  const auto start =
      ParseStamp(day.substr(0, 4) + day.substr(5, 2) + day.substr(8, 2) + "000000", "");
  if (!start)
    return nullptr;
  const std::time_t end = *start + SecondsPerDay - utcOffset;
  for (const THistoryEntry &entry : history)
    if (entry.Made > 0 && entry.Made < end)
      return &entry;
  return nullptr;
}

std::string HistoryTimeText(std::time_t made, int utcOffset) {
  const std::string stamp = Stamp(made + utcOffset, " ");
  return stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + " " +
         stamp.substr(9, 2) + ":" + stamp.substr(11, 2);
}

} // namespace vantari
