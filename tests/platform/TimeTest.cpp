#include "Time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "ScopedEnv.h"

namespace {

SYSTEMTIME MakeSystemTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(ms);
    return st;
}

void ExpectFields(const SYSTEMTIME& st, int y, int mo, int d, int h, int mi, int s, int ms)
{
    EXPECT_EQ(st.wYear, y);
    EXPECT_EQ(st.wMonth, mo);
    EXPECT_EQ(st.wDay, d);
    EXPECT_EQ(st.wHour, h);
    EXPECT_EQ(st.wMinute, mi);
    EXPECT_EQ(st.wSecond, s);
    EXPECT_EQ(st.wMilliseconds, ms);
}

WORD DosDate(int y, int m, int d) { return static_cast<WORD>(((y - 1980) << 9) | (m << 5) | d); }
WORD DosTime(int h, int m, int s) { return static_cast<WORD>((h << 11) | (m << 5) | (s / 2)); }

TEST(Time, FileTimeAndSystemTimeAtTheirEdges)
{
    const struct {
        const char* pszName;
        SYSTEMTIME st;
        uint64_t qwTicks;
        int nDayOfWeek;
    } kCases[] = {
        {"epoch 1601", MakeSystemTime(1601, 1, 1), 0, 1},
        {"unix epoch", MakeSystemTime(1970, 1, 1), 116444736000000000ULL, 4},
        {"DOS epoch", MakeSystemTime(1980, 1, 1), 119600064000000000ULL, 2},
        {"leap day 2000", MakeSystemTime(2000, 2, 29, 12, 34, 56), 125963012960000000ULL, 2},
        {"last DOS moment", MakeSystemTime(2107, 12, 31, 23, 59, 58), 159992927980000000ULL, 6},
        {"milliseconds", MakeSystemTime(1601, 1, 1, 0, 0, 0, 999), 9990000ULL, 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszName);
        FILETIME ft{12345};
        ASSERT_TRUE(rvd::SystemTimeToFileTime(c.st, ft));
        EXPECT_EQ(ft.qwTicks, c.qwTicks);
        SYSTEMTIME st{};
        ASSERT_TRUE(rvd::FileTimeToSystemTime(ft, st));
        ExpectFields(st, c.st.wYear, c.st.wMonth, c.st.wDay, c.st.wHour, c.st.wMinute, c.st.wSecond,
                     c.st.wMilliseconds);
        EXPECT_EQ(st.wDayOfWeek, c.nDayOfWeek);
    }

    // The top of the range the Windows calls accept, and one tick past it.
    SYSTEMTIME st{};
    ASSERT_TRUE(rvd::FileTimeToSystemTime(FILETIME{0x7FFFFFFFFFFFFFFFULL}, st));
    ExpectFields(st, 30828, 9, 14, 2, 48, 5, 477);
    EXPECT_EQ(st.wDayOfWeek, 4);
    EXPECT_FALSE(rvd::FileTimeToSystemTime(FILETIME{0x8000000000000000ULL}, st));
}

TEST(Time, SystemTimeRejectsFieldsOutOfRange)
{
    const struct {
        const char* pszName;
        SYSTEMTIME st;
    } kCases[] = {
        {"year 1600", MakeSystemTime(1600, 12, 31)},
        {"year 30828", MakeSystemTime(30828, 1, 1)},
        {"month 0", MakeSystemTime(2000, 0, 1)},
        {"month 13", MakeSystemTime(2000, 13, 1)},
        {"day 0", MakeSystemTime(2000, 1, 0)},
        {"April 31", MakeSystemTime(2001, 4, 31)},
        {"29 Feb 1900", MakeSystemTime(1900, 2, 29)},
        {"hour 24", MakeSystemTime(2000, 1, 1, 24)},
        {"minute 60", MakeSystemTime(2000, 1, 1, 0, 60)},
        {"second 60", MakeSystemTime(2000, 1, 1, 0, 0, 60)},
        {"ms 1000", MakeSystemTime(2000, 1, 1, 0, 0, 0, 1000)},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszName);
        FILETIME ft{777};
        EXPECT_FALSE(rvd::SystemTimeToFileTime(c.st, ft));
        EXPECT_EQ(ft.qwTicks, 777u);
    }
}

TEST(Time, DosDateTimeConvertsValidFieldsAndRejectsOthers)
{
    const struct {
        const char* pszName;
        WORD wDate, wTime;
        bool bValid;
        uint64_t qwTicks;
    } kCases[] = {
        {"DOS epoch", DosDate(1980, 1, 1), 0, true, 119600064000000000ULL},
        {"last moment", 0xFF9F, 0xBF7D, true, 159992927980000000ULL},
        {"leap day 2000", DosDate(2000, 2, 29), DosTime(12, 34, 56), true, 125963012960000000ULL},
        {"leap day 1980", DosDate(1980, 2, 29), 0, true, 119600064000000000ULL + 59ULL * 86400 * 10000000},
        {"29 Feb 2100", DosDate(2100, 2, 29), 0, false, 0},
        {"29 Feb 2001", DosDate(2001, 2, 29), 0, false, 0},
        {"30 Feb 2000", DosDate(2000, 2, 30), 0, false, 0},
        {"31 June", DosDate(2010, 6, 31), 0, false, 0},
        {"day 0 (a zeroed entry)", 0, 0, false, 0},
        {"month 0", DosDate(2000, 0, 1), 0, false, 0},
        {"month 13", DosDate(2000, 13, 1), 0, false, 0},
        {"month 15", DosDate(2000, 15, 1), 0, false, 0},
        {"hour 24", DosDate(2000, 1, 1), static_cast<WORD>(24 << 11), false, 0},
        {"minute 60", DosDate(2000, 1, 1), static_cast<WORD>(60 << 5), false, 0},
        {"seconds field 30", DosDate(2000, 1, 1), 30, false, 0},
        {"all ones", 0xFFFF, 0xFFFF, false, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszName);
        FILETIME ft{99};
        EXPECT_EQ(rvd::DosDateTimeToFileTime(c.wDate, c.wTime, ft), c.bValid);
        EXPECT_EQ(ft.qwTicks, c.bValid ? c.qwTicks : 99u);
    }
}

TEST(Time, UnixTimeConversions)
{
    FILETIME ft{};
    ASSERT_TRUE(rvd::UnixTimeToFileTime(0, ft));
    EXPECT_EQ(ft.qwTicks, rvd::kFileTimeUnixEpoch);
    ASSERT_TRUE(rvd::UnixTimeToFileTime(-1, ft));
    EXPECT_EQ(ft.qwTicks, rvd::kFileTimeUnixEpoch - 10000000);
    EXPECT_EQ(rvd::FileTimeToUnixTime(ft), -1);
    // 2038 overflows a signed 32-bit time_t; the 64-bit path must carry on.
    ASSERT_TRUE(rvd::UnixTimeToFileTime(0x80000000LL, ft));
    EXPECT_EQ(rvd::FileTimeToUnixTime(ft), 0x80000000LL);
    ASSERT_TRUE(rvd::UnixTimeToFileTime(-11644473600LL, ft));  // 1601-01-01
    EXPECT_EQ(ft.qwTicks, 0u);
    EXPECT_FALSE(rvd::UnixTimeToFileTime(-11644473601LL, ft));
    EXPECT_FALSE(rvd::UnixTimeToFileTime(INT64_MAX, ft));
    EXPECT_EQ(rvd::FileTimeToUnixTime(FILETIME{rvd::kFileTimeUnixEpoch + 9999999}), 0);
}

TEST(Time, LocalTimeFollowsTheZoneRuleOfTheMoment)
{
    rvdtest::CScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
    SYSTEMTIME st{};
    ASSERT_TRUE(rvd::UnixTimeToLocalSystemTime(1700000000, st));  // 2023-11-14 22:13:20 UTC
    ExpectFields(st, 2023, 11, 14, 17, 13, 20, 0);
    EXPECT_EQ(st.wDayOfWeek, 2);
    ASSERT_TRUE(rvd::UnixTimeToLocalSystemTime(1690000000, st));  // 2023-07-22 04:26:40 UTC
    ExpectFields(st, 2023, 7, 22, 0, 26, 40, 0);
    ASSERT_TRUE(rvd::UnixMillisToLocalSystemTime(-1, st));        // 1 ms before 1970 UTC
    ExpectFields(st, 1969, 12, 31, 18, 59, 59, 999);

    FILETIME ftUtc{}, ftLocal{}, ftBack{};
    ASSERT_TRUE(rvd::UnixTimeToFileTime(1690000000, ftUtc));
    ASSERT_TRUE(rvd::FileTimeToLocalFileTime(ftUtc, ftLocal));
    EXPECT_EQ(ftUtc.qwTicks - ftLocal.qwTicks, 4ULL * 3600 * 10000000);
    ASSERT_TRUE(rvd::LocalFileTimeToFileTime(ftLocal, ftBack));
    EXPECT_EQ(ftBack.qwTicks, ftUtc.qwTicks);

    // 01:30 on 5 Nov 2023 happens twice; the earlier (daylight) moment is 05:30 UTC.
    FILETIME ftAmbiguous{};
    ASSERT_TRUE(rvd::SystemTimeToFileTime(MakeSystemTime(2023, 11, 5, 1, 30), ftAmbiguous));
    ASSERT_TRUE(rvd::LocalFileTimeToFileTime(ftAmbiguous, ftBack));
    EXPECT_EQ(ftBack.qwTicks, 133436358000000000ULL);
    // 02:30 on 12 Mar 2023 never happens; it is read with the standard offset, 07:30 UTC.
    FILETIME ftSkipped{};
    ASSERT_TRUE(rvd::SystemTimeToFileTime(MakeSystemTime(2023, 3, 12, 2, 30), ftSkipped));
    ASSERT_TRUE(rvd::LocalFileTimeToFileTime(ftSkipped, ftBack));
    EXPECT_EQ(ftBack.qwTicks, 133230798000000000ULL);
}

TEST(Time, CurrentTimeAgreesAcrossForms)
{
    rvdtest::CScopedTimeZone zone("UTC0");
    const FILETIME ftNow = rvd::GetSystemTimeAsFileTime();
    SYSTEMTIME stUtc{}, stLocal{};
    rvd::GetSystemTime(stUtc);
    rvd::GetLocalTime(stLocal);
    FILETIME ftUtc{}, ftLocal{};
    ASSERT_TRUE(rvd::SystemTimeToFileTime(stUtc, ftUtc));
    ASSERT_TRUE(rvd::SystemTimeToFileTime(stLocal, ftLocal));
    const uint64_t qwSlack = 5ULL * 10000000;
    EXPECT_LT(ftUtc.qwTicks - ftNow.qwTicks + qwSlack / 2, qwSlack);
    EXPECT_LT(ftLocal.qwTicks - ftNow.qwTicks + qwSlack / 2, qwSlack);
    EXPECT_GT(ftNow.qwTicks, 133000000000000000ULL);  // after 2022
}

TEST(Time, TickCounterIsMonotonicMilliseconds)
{
    const uint64_t qwStart = rvd::GetTickCount64();
    const DWORD dwStart = rvd::GetTickCount();
    uint64_t qwLast = qwStart;
    for (int i = 0; i < 1000; ++i) {
        const uint64_t qwNow = rvd::GetTickCount64();
        ASSERT_GE(qwNow, qwLast);
        qwLast = qwNow;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const DWORD dwElapsed = rvd::GetTickCount() - dwStart;
    EXPECT_GE(dwElapsed, 29u);
    EXPECT_LT(dwElapsed, 5000u);
    EXPECT_GE(rvd::GetTickCount64() - qwStart, 29u);
}

} // namespace
