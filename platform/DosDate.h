#pragma once

#include <cstdint>
#include <ctime>

namespace vantari {

// MS-DOS date and time: local time, two-second resolution, packed into 32 bits
// (bits 31-25 year - 1980, 24-21 month, 20-16 day, 15-11 hour, 10-5 minute,
// 4-0 seconds / 2). It is the only file date an archive keeps.

// Local time t as an MS-DOS date; times before 1980 give 1980-01-01 00:00:00,
// times after 2107 the last representable moment.
int32_t DateTimeToFileDate(time_t t);
// The moment an MS-DOS date names in local time; fields out of range (a damaged
// archive) are normalised the way mktime normalises them.
time_t FileDateToDateTime(int32_t fileDate);
// t broken down in local time (all fields zero when it cannot be); thread-safe on both systems.
std::tm LocalTime(time_t t);
// MS-DOS date from calendar fields (local time), for callers that build dates by hand.
int32_t EncodeFileDate(int year, int month, int day, int hour, int minute, int second);
// Whether date a is earlier than date b. The year sits in the top bits: from 2044 on a date
// is negative as a signed number, so dates compare only as unsigned ones.
inline bool FileDateBefore(int32_t a, int32_t b) {
  return static_cast<uint32_t>(a) < static_cast<uint32_t>(b);
}

} // namespace vantari
