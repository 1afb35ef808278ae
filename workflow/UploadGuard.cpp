#include "UploadGuard.h"

#include "BackupFile.h"
#include "FileSystem.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace vantari {

namespace {

// Windows keeps one file whatever the letter case of its name.
std::string Folded(const std::string &name) {
  std::string folded = name;
  std::transform(folded.begin(), folded.end(), folded.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return folded;
}

double Share(const TTableStat &table) {
  return table.Size > 0 ? static_cast<double>(table.Packed) / static_cast<double>(table.Size) : 1;
}

int64_t Total(const std::vector<TTableStat> &tables) {
  int64_t total = 0;
  for (const TTableStat &table : tables)
    total += table.Size;
  return total;
}

} // namespace

TGuardVerdict WeighUpload(const std::vector<TTableStat> &previous,
                          const std::vector<TTableStat> &current, const TGuardLimits &limits) {
  TGuardVerdict verdict;
  std::map<std::string, const TTableStat *> now;
  for (const TTableStat &table : current)
    now[Folded(table.Name)] = &table;
  int weighed = 0, damaged = 0;
  int64_t weighedBytes = 0, damagedBytes = 0;
  for (const TTableStat &before : previous) {
    if (before.Size < limits.SmallFile)
      continue;
    ++weighed;
    weighedBytes += before.Size;
    const auto found = now.find(Folded(before.Name));
    const bool gone = found == now.end();
    const bool scrambled = !gone && Share(before) <= limits.CompressedWell &&
                           found->second->Size > 0 &&
                           Share(*found->second) >= limits.Incompressible;
    if (!gone && !scrambled)
      continue;
    ++damaged;
    damagedBytes += before.Size;
    verdict.Tables.push_back(before.Name);
  }
  const int64_t before = Total(previous), after = Total(current);
  const bool shrunk =
      before > 0 && static_cast<double>(after) < static_cast<double>(before) * limits.ShrunkTo;
  verdict.Suspicious = damaged * 2 > weighed || damagedBytes * 2 > weighedBytes || shrunk;
  if (shrunk && verdict.Tables.empty())
    for (const TTableStat &table : previous)
      if (now.count(Folded(table.Name)) &&
          now[Folded(table.Name)]->Size < table.Size * limits.ShrunkTo)
        verdict.Tables.push_back(table.Name);
  return verdict;
}

std::vector<TTableStat> TableStatsOf(const std::vector<TPackedMember> &members) {
  std::vector<TTableStat> tables;
  for (const TPackedMember &member : members)
    tables.push_back({ExtractFileName(member.Path), member.Size, member.Stored});
  return tables;
}

} // namespace vantari
