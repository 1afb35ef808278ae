#include "DosDate.h"

namespace vantari {

namespace {
constexpr int32_t kFirstDate = (1 << 21) | (1 << 16);            // 1980-01-01 00:00:00
constexpr int32_t kLastDate = static_cast<int32_t>(0xFF9FBF7Du); // 2107-12-31 23:59:58
} // namespace

int32_t EncodeFileDate(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980)
    return kFirstDate;
  if (year > 2107)
    return kLastDate;
  const uint32_t packed = (static_cast<uint32_t>(year - 1980) << 25) |
                          (static_cast<uint32_t>(month) << 21) |
                          (static_cast<uint32_t>(day) << 16) | (static_cast<uint32_t>(hour) << 11) |
                          (static_cast<uint32_t>(minute) << 5) | static_cast<uint32_t>(second / 2);
  return static_cast<int32_t>(packed);
}

std::tm LocalTime(time_t t) {
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &t) != 0)
#else
  if (localtime_r(&t, &local) == nullptr)
#endif
    local = std::tm{};
  return local;
}

int32_t DateTimeToFileDate(time_t t) {
  struct tm local {};
#ifdef _WIN32
  if (localtime_s(&local, &t) != 0)
#else
  if (localtime_r(&t, &local) == nullptr)
#endif
    return kFirstDate;
  return EncodeFileDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec);
}

time_t FileDateToDateTime(int32_t fileDate) {
  const auto bits = static_cast<uint32_t>(fileDate);
  struct tm local {};
  local.tm_year = static_cast<int>(bits >> 25) + 80;
  local.tm_mon = static_cast<int>((bits >> 21) & 0x0F) - 1;
  local.tm_mday = static_cast<int>((bits >> 16) & 0x1F);
  local.tm_hour = static_cast<int>((bits >> 11) & 0x1F);
  local.tm_min = static_cast<int>((bits >> 5) & 0x3F);
  local.tm_sec = static_cast<int>(bits & 0x1F) * 2;
  local.tm_isdst = -1;
  return mktime(&local);
}

} // namespace vantari
