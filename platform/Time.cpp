#include "Time.h"

#include <ctime>
#include <initializer_list>
#include <time.h>

namespace rvd {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
// 30827-12-31 is the last day SYSTEMTIME conversions accept; 2^63 ticks fall in 30828.
constexpr uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;

constexpr bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, int m)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
constexpr int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

constexpr int64_t kDays1601 = DaysFromCivil(1601, 1, 1);  // negative: days before 1970

bool FieldsToTicks(int64_t y, int mon, int d, int h, int min, int s, int ms, uint64_t& qwTicks)
{
    if (y < 1601 || y > 30827 || mon < 1 || mon > 12 || d < 1 || d > DaysInMonth(y, mon) ||
        h < 0 || h > 23 || min < 0 || min > 59 || s < 0 || s > 59 || ms < 0 || ms > 999)
        return false;
    const int64_t nDays = DaysFromCivil(y, mon, d) - kDays1601;
    const int64_t nSeconds = nDays * kSecondsPerDay + h * 3600 + min * 60 + s;
    qwTicks = static_cast<uint64_t>(nSeconds) * kFileTimeTicksPerSecond +
              static_cast<uint64_t>(ms) * kFileTimeTicksPerMilli;
    return true;
}

void TicksToFields(uint64_t qwTicks, SYSTEMTIME& st)
{
    const uint64_t qwSeconds = qwTicks / kFileTimeTicksPerSecond;
    const int64_t nDays = static_cast<int64_t>(qwSeconds / kSecondsPerDay);
    const int64_t nSecOfDay = static_cast<int64_t>(qwSeconds % kSecondsPerDay);
    int64_t y;
    int m, d;
    CivilFromDays(nDays + kDays1601, y, m, d);
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wDayOfWeek = static_cast<WORD>((nDays + 1) % 7);  // 1601-01-01 was a Monday
    st.wHour = static_cast<WORD>(nSecOfDay / 3600);
    st.wMinute = static_cast<WORD>(nSecOfDay / 60 % 60);
    st.wSecond = static_cast<WORD>(nSecOfDay % 60);
    st.wMilliseconds = static_cast<WORD>(qwTicks % kFileTimeTicksPerSecond / kFileTimeTicksPerMilli);
}

// Seconds since 1970 of a tick count, rounded towards the past, and the ticks left over.
int64_t TicksToUnix(uint64_t qwTicks, uint64_t& qwRemainder)
{
    const uint64_t qwSeconds = qwTicks / kFileTimeTicksPerSecond;
    qwRemainder = qwTicks % kFileTimeTicksPerSecond;
    return static_cast<int64_t>(qwSeconds) - static_cast<int64_t>(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
}

bool UnixToTicks(int64_t i64Seconds, uint64_t qwRemainder, uint64_t& qwTicks)
{
    const int64_t nEpoch = static_cast<int64_t>(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
    if (i64Seconds < -nEpoch || i64Seconds > static_cast<int64_t>(kMaxFileTime / kFileTimeTicksPerSecond) - nEpoch)
        return false;
    const uint64_t qwValue =
        static_cast<uint64_t>(i64Seconds + nEpoch) * kFileTimeTicksPerSecond + qwRemainder;
    if (qwValue > kMaxFileTime)
        return false;
    qwTicks = qwValue;
    return true;
}

bool LocalTm(int64_t i64Seconds, struct tm& tmOut)
{
    const time_t t = static_cast<time_t>(i64Seconds);
    if (static_cast<int64_t>(t) != i64Seconds)
        return false;
    return localtime_r(&t, &tmOut) != nullptr;
}

bool UtcOffsetAt(int64_t i64Seconds, int64_t& nOffset)
{
    struct tm tmLocal;
    if (!LocalTm(i64Seconds, tmLocal))
        return false;
    nOffset = tmLocal.tm_gmtoff;
    return true;
}

bool TmToSystemTime(const struct tm& tmIn, int nMillis, SYSTEMTIME& st)
{
    const int64_t y = static_cast<int64_t>(tmIn.tm_year) + 1900;
    if (y < 1601 || y > 30827)
        return false;
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(tmIn.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(tmIn.tm_wday);
    st.wDay = static_cast<WORD>(tmIn.tm_mday);
    st.wHour = static_cast<WORD>(tmIn.tm_hour);
    st.wMinute = static_cast<WORD>(tmIn.tm_min);
    // A leap second (tm_sec 60) from a right/ zone is folded into the minute's last second.
    st.wSecond = static_cast<WORD>(tmIn.tm_sec > 59 ? 59 : tmIn.tm_sec);
    st.wMilliseconds = static_cast<WORD>(nMillis);
    return true;
}

} // namespace

bool SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME& ftOut)
{
    uint64_t qwTicks;
    if (!FieldsToTicks(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                       st.wMilliseconds, qwTicks))
        return false;
    ftOut.qwTicks = qwTicks;
    return true;
}

bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME& stOut)
{
    if (ft.qwTicks > kMaxFileTime)
        return false;
    TicksToFields(ft.qwTicks, stOut);
    return true;
}

bool DosDateTimeToFileTime(WORD wFATDate, WORD wFATTime, FILETIME& ftOut)
{
    const int nDay = wFATDate & 0x1F;
    const int nMonth = (wFATDate >> 5) & 0x0F;
    const int nYear = 1980 + (wFATDate >> 9);
    const int nSecond = (wFATTime & 0x1F) * 2;
    const int nMinute = (wFATTime >> 5) & 0x3F;
    const int nHour = wFATTime >> 11;
    uint64_t qwTicks;
    if (!FieldsToTicks(nYear, nMonth, nDay, nHour, nMinute, nSecond, 0, qwTicks))
        return false;
    ftOut.qwTicks = qwTicks;
    return true;
}

bool UnixTimeToFileTime(int64_t i64Seconds, FILETIME& ftOut)
{
    uint64_t qwTicks;
    if (!UnixToTicks(i64Seconds, 0, qwTicks))
        return false;
    ftOut.qwTicks = qwTicks;
    return true;
}

int64_t FileTimeToUnixTime(const FILETIME& ft)
{
    uint64_t qwRemainder;
    return TicksToUnix(ft.qwTicks, qwRemainder);
}

bool UnixTimeToLocalSystemTime(int64_t i64Seconds, SYSTEMTIME& stOut)
{
    struct tm tmLocal;
    if (!LocalTm(i64Seconds, tmLocal))
        return false;
    return TmToSystemTime(tmLocal, 0, stOut);
}

bool UnixMillisToLocalSystemTime(int64_t i64Millis, SYSTEMTIME& stOut)
{
    int64_t nSeconds = i64Millis / 1000;
    int64_t nMillis = i64Millis % 1000;
    if (nMillis < 0) {
        nMillis += 1000;
        --nSeconds;
    }
    struct tm tmLocal;
    if (!LocalTm(nSeconds, tmLocal))
        return false;
    return TmToSystemTime(tmLocal, static_cast<int>(nMillis), stOut);
}

bool FileTimeToLocalFileTime(const FILETIME& ftUtc, FILETIME& ftLocalOut)
{
    if (ftUtc.qwTicks > kMaxFileTime)
        return false;
    uint64_t qwRemainder;
    const int64_t nUtc = TicksToUnix(ftUtc.qwTicks, qwRemainder);
    int64_t nOffset;
    if (!UtcOffsetAt(nUtc, nOffset))
        return false;
    uint64_t qwTicks;
    if (!UnixToTicks(nUtc + nOffset, qwRemainder, qwTicks))
        return false;
    ftLocalOut.qwTicks = qwTicks;
    return true;
}

bool LocalFileTimeToFileTime(const FILETIME& ftLocal, FILETIME& ftUtcOut)
{
    if (ftLocal.qwTicks > kMaxFileTime)
        return false;
    uint64_t qwRemainder;
    const int64_t nLocal = TicksToUnix(ftLocal.qwTicks, qwRemainder);
    // The offsets in force a day either side cover every rule change near the moment. A local
    // reading u is right for an offset o when the zone's offset at u - o is o.
    int64_t nBefore, nAfter;
    if (!UtcOffsetAt(nLocal - kSecondsPerDay, nBefore) || !UtcOffsetAt(nLocal + kSecondsPerDay, nAfter))
        return false;
    bool bFound = false;
    int64_t nUtc = 0;
    for (int64_t nOffset : {nBefore, nAfter}) {
        int64_t nActual;
        if (UtcOffsetAt(nLocal - nOffset, nActual) && nActual == nOffset &&
            (!bFound || nLocal - nOffset < nUtc)) {
            nUtc = nLocal - nOffset;
            bFound = true;
        }
    }
    if (!bFound)
        nUtc = nLocal - nBefore;  // a reading inside the skipped hour
    uint64_t qwTicks;
    if (!UnixToTicks(nUtc, qwRemainder, qwTicks))
        return false;
    ftUtcOut.qwTicks = qwTicks;
    return true;
}

void GetSystemTime(SYSTEMTIME& stOut)
{
    FileTimeToSystemTime(GetSystemTimeAsFileTime(), stOut);
}

void GetLocalTime(SYSTEMTIME& stOut)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    UnixMillisToLocalSystemTime(static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000, stOut);
}

FILETIME GetSystemTimeAsFileTime()
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    FILETIME ft{0};
    UnixToTicks(ts.tv_sec, static_cast<uint64_t>(ts.tv_nsec) / 100, ft.qwTicks);
    return ft;
}

uint64_t GetTickCount64()
{
    struct timespec ts;
    // Boot time keeps counting while the machine sleeps, as the Windows tick count does.
    if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0)
        clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

DWORD GetTickCount()
{
    return static_cast<DWORD>(GetTickCount64());
}

} // namespace rvd
