// The scan's inode-time converter gives exactly what the full local-time conversion gives, in
// zones with daylight saving, half-hour and quarter-hour offsets, a rule change that falls off
// the hour, and (where the system has it) a zone that counts leap seconds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "ext2/Ext2Inode.h"
#include "ext2/Ext2TimeConverter.h"
#include "ScopedEnv.h"

namespace {

// Every 7th second of the two days around each moment, and some moments on their own.
void ExpectSameAsFullConversion(const std::vector<uint32_t>& around)
{
    CExt2TimeConverter converter;
    std::vector<uint32_t> moments = {0, 1, 3599, 3600, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
    for (const uint32_t nCentre : around)
        for (int64_t d = -86400; d <= 86400; d += 7)
            if (static_cast<int64_t>(nCentre) + d > 0)
                moments.push_back(static_cast<uint32_t>(nCentre + d));
    // Twice over, the second time from the converter's remembered hours.
    for (int nPass = 0; nPass < 2; ++nPass)
        for (const uint32_t n : moments)
            ASSERT_EQ(converter.Convert(n).qwTicks, CExt2Inode::TimeToFileTime(n).qwTicks) << n << " pass " << nPass;
}

} // namespace

TEST(Ext2TimeConverter, GivesTheFullConversionInEveryKindOfZone)
{
    struct CASE {
        const char* pszZone;
        std::vector<uint32_t> around;
    };
    const CASE cases[] = {
        {"UTC0", {1700000000u}},
        // Spring and autumn changes of 2023 (12 March, 5 November).
        {"EST5EDT,M3.2.0,M11.1.0", {1678604400u, 1699164000u}},
        // Half-hour summer shift.
        {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", {1696089600u, 1712419200u}},
        // Quarter-hour offset, no summer time.
        {"<+0545>-5:45", {1600000000u}},
        // Changes at one minute past midnight local time, off the hour.
        {"NST3:30NDT,M3.2.0/0:01,M11.1.0/0:01", {1678598460u, 1699159860u}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszZone);
        rvdtest::CScopedTimeZone zone(c.pszZone);
        ExpectSameAsFullConversion(c.around);
    }
}

TEST(Ext2TimeConverter, FoldsLeapSecondsAsTheFullConversionDoes)
{
    // A zone from the system's database that counts leap seconds (the end of 2016 had one).
    const char* pszDir = std::getenv("TZDIR");
    if (!std::ifstream(std::string(pszDir != nullptr ? pszDir : "/usr/share/zoneinfo") + "/right/UTC").good())
        GTEST_SKIP() << "no leap-second zone on this system";
    rvdtest::CScopedTimeZone zone("right/UTC");
    ExpectSameAsFullConversion({1483228800u + 26u, 1230768000u + 23u});
}
