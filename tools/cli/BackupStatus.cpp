#include "BackupStatus.h"

#include "DataTables.h"
#include "DosDate.h"
#include "FileSystem.h"

#include <cctype>

namespace vantari {

TLocalData TBackupStatus::ScanDataFolder(const std::string &folder) {
  TLocalData data;
  for (const TSearchRec &entry : FindFiles(folder + "/*.*", 0)) {
    if (!IsDataTableFile(entry.Name))
      continue;
    ++data.Files;
    const auto written = static_cast<std::time_t>(entry.WriteTime);
    if (!data.Newest || written > *data.Newest) {
      data.Newest = written;
      data.NewestFile = entry.Name;
    }
  }
  return data;
}

std::optional<std::time_t> TBackupStatus::ParseMdtm(const std::string &text) {
  size_t start = 0;
  while (start < text.size() && text[start] == ' ')
    ++start;
  if (text.size() < start + 14)
    return std::nullopt;
  for (size_t i = start; i < start + 14; ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i])))
      return std::nullopt;
  if (text.size() > start + 14 && text[start + 14] != '.' && text[start + 14] != ' ')
    return std::nullopt;
  const auto number = [&](size_t from, size_t count) {
    return std::stoi(text.substr(start + from, count));
  };
  std::tm utc{};
  utc.tm_year = number(0, 4) - 1900;
  utc.tm_mon = number(4, 2) - 1;
  utc.tm_mday = number(6, 2);
  utc.tm_hour = number(8, 2);
  utc.tm_min = number(10, 2);
  utc.tm_sec = number(12, 2);
  if (utc.tm_mon < 0 || utc.tm_mon > 11 || utc.tm_mday < 1 || utc.tm_mday > 31 ||
      utc.tm_hour > 23 || utc.tm_min > 59 || utc.tm_sec > 60)
    return std::nullopt;
#ifdef _WIN32
  return _mkgmtime(&utc);
#else
  return timegm(&utc);
#endif
}

std::string TBackupStatus::LocalTime(std::time_t time) {
  const std::tm local = vantari::LocalTime(time);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

} // namespace vantari
