// Calendar and clock services in the Windows forms that the records and the readers keep:
// FILETIME (100 ns ticks since 1601-01-01 00:00 UTC, proleptic Gregorian calendar), SYSTEMTIME
// (split fields), the FAT directory entry's DOS date and time, and a millisecond tick counter.
//
// A FILETIME does not say whether it holds UTC or local time; the conversions below say which
// they expect. Every conversion checks its fields and fails rather than producing a wrong date.
#pragma once

#include <cstdint>

#include "WinTypes.h"

namespace rvd {

inline constexpr uint64_t kFileTimeTicksPerSecond = 10000000ULL;
inline constexpr uint64_t kFileTimeTicksPerMilli = 10000ULL;
// Ticks from 1601-01-01 to 1970-01-01.
inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

// Fields -> ticks. Fails (and leaves ftOut alone) unless the year is 1601..30827, the month
// 1..12, the day valid for that month (leap years counted), hour < 24, minute < 60,
// second < 60 and milliseconds < 1000. The day of the week is ignored.
bool SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME& ftOut);

// Ticks -> fields, with the day of the week (0 = Sunday). Fails for ticks at or past 2^63,
// the range the Windows calls accept.
bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME& stOut);

// The date and time words of a FAT directory entry:
//   date: bits 0-4 day (1-31), 5-8 month (1-12), 9-15 years since 1980 (0-127, up to 2107);
//   time: bits 0-4 seconds / 2 (0-29), 5-10 minute (0-59), 11-15 hour (0-23).
// Any field out of range, or a day the month does not have (30 February, 29 February of
// 2100), fails. No time-zone conversion: the result carries the entry's own clock reading.
bool DosDateTimeToFileTime(WORD wFATDate, WORD wFATTime, FILETIME& ftOut);

// Seconds since 1970-01-01 00:00 UTC -> FILETIME (UTC). Fails for moments before 1601 or
// beyond the FILETIME range.
bool UnixTimeToFileTime(int64_t i64Seconds, FILETIME& ftOut);

// FILETIME (UTC) -> seconds since 1970 (rounded towards the past).
int64_t FileTimeToUnixTime(const FILETIME& ft);

// Seconds since 1970 (UTC) -> local calendar fields under the process's time zone (TZ), with
// the daylight-saving rule in force at that moment. Milliseconds are 0.
bool UnixTimeToLocalSystemTime(int64_t i64Seconds, SYSTEMTIME& stOut);

// Milliseconds since 1970 (UTC) -> local calendar fields, milliseconds kept.
bool UnixMillisToLocalSystemTime(int64_t i64Millis, SYSTEMTIME& stOut);

// UTC <-> local FILETIME with the time zone's rule at that moment (unlike Windows, which
// applies today's offset to every date; a file written in summer then shows its summer time).
// Local -> UTC picks the earlier moment for a time that occurs twice in the autumn hour and
// moves forward a time skipped in the spring hour.
bool FileTimeToLocalFileTime(const FILETIME& ftUtc, FILETIME& ftLocalOut);
bool LocalFileTimeToFileTime(const FILETIME& ftLocal, FILETIME& ftUtcOut);

// The current moment.
void GetSystemTime(SYSTEMTIME& stOut);  // UTC
void GetLocalTime(SYSTEMTIME& stOut);   // local
FILETIME GetSystemTimeAsFileTime();     // UTC

// Milliseconds from a monotonic clock (never set back with the wall clock). The 32-bit form
// wraps after 49.7 days like GetTickCount, so callers subtract in 32-bit unsigned arithmetic.
DWORD GetTickCount();
uint64_t GetTickCount64();

} // namespace rvd
