// Bad-sector handling of the disk and volume devices over injected unreadable areas: without the
// ignore option a read fails with zeros; with it the read answers zeros, the area is measured by
// probe reads and remembered, and later reads of it are answered without the disk.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BasicPartitionDevice.h"
#include "DeviceTestSupport.h"
#include "DiskDevice.h"
#include "Veskel.h"
#include "VolumeDevice.h"

using devtest::CDeviceTable;
using devtest::CIgnoreBadSectors;
using devtest::HoldsUnits;
using devtest::IsZero;
using devtest::kUnit;

namespace {

// Large enough that every probe after a failure at sector 1000 lies on the disk (sparse).
const uint64_t kDiskUnits = 256 * 1024;

// Points the log at a scratch file for one scope so that a test can read what was reported.
class CLogCapture {
public:
    explicit CLogCapture(const std::string& strPath) : m_strPath(strPath)
    {
        setenv("RAVENDO_LOG_FILE", strPath.c_str(), 1);
        CloseLog();
    }
    ~CLogCapture()
    {
        unsetenv("RAVENDO_LOG_FILE");
        CloseLog();
    }
    std::string Text() const
    {
        CloseLog();
        std::ifstream file(m_strPath);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

private:
    std::string m_strPath;
};

struct BadRange {
    int64_t i64Start;
    int64_t i64End;
};

std::vector<BadRange> Ranges(CSectorReader& reader)
{
    std::vector<BadRange> vecRanges;
    for (const BAD_SECTOR_RANGE& r : reader.GetBadSectorRanges())
        vecRanges.push_back({r.i64StartOffset, r.i64EndOffset});
    return vecRanges;
}

TEST(BadSectors, NotIgnoredFailsWithZerosAndIsReported)
{
    CDeviceTable table;
    const std::string strImage = table.MakeImage("disk.img", 4 << 20);
    CDeviceTable::Stamp(strImage, 0, 8192);
    table.Load("disk " + strImage + "\nbad 0 1000 1001\n");
    CLogCapture log(table.File("log.txt"));
    CIgnoreBadSectors ignore(0);
    CDiskDevice disk(0);
    ASSERT_TRUE(disk.IsOpen());

    std::vector<uint8_t> vecBuffer(64 * kUnit, 0xCC);
    EXPECT_EQ(0, disk.ReadSectors(vecBuffer.data(), 996, 8));
    // Never the stale bytes of the caller's buffer.
    EXPECT_TRUE(IsZero(vecBuffer.data(), 8));
    EXPECT_TRUE(disk.GetSectorReader().GetBadSectorRanges().empty());
    EXPECT_NE(std::string::npos, log.Text().find("ReadSector find bad sector , not ignored"));

    // Reads that only touch the area's edges hold good sectors.
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 992, 8));
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), 992, 8));
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 1001, 8));
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), 1001, 8));
    EXPECT_EQ(0, disk.ReadSectors(vecBuffer.data(), 1000, 1));
}

struct ProbeCase {
    const char* pszName;
    const char* pszExtraBad;   // further injected areas (table lines)
    uint64_t u64DiskUnits;
    int64_t i64RecordedEnd;    // end of the area remembered after a failed read at 1000
};

void PrintTo(const ProbeCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class BadSectorProbes : public ::testing::TestWithParam<ProbeCase> {};

// After a failed read at S the area is measured by probes 102400, 51200 and 24576 sectors on;
// the first probe that fails (or lies past the disk's end) bounds it, else it is 20480 long.
TEST_P(BadSectorProbes, MeasureTheArea)
{
    const ProbeCase& c = GetParam();
    CDeviceTable table;
    const std::string strImage = table.MakeImage("disk.img", c.u64DiskUnits * kUnit);
    CDeviceTable::Stamp(strImage, 900, 100);
    CDeviceTable::Stamp(strImage, static_cast<uint64_t>(c.i64RecordedEnd) - 8, 24);
    table.Load("disk " + strImage + "\nbad 0 1003 1004\n" + c.pszExtraBad);
    CIgnoreBadSectors ignore(1);
    CDiskDevice disk(0);
    ASSERT_TRUE(disk.IsOpen());

    std::vector<uint8_t> vecBuffer(16 * kUnit, 0xCC);
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 1000, 16));
    EXPECT_TRUE(IsZero(vecBuffer.data(), 16));
    const std::vector<BadRange> vecRanges = Ranges(disk.GetSectorReader());
    ASSERT_EQ(1u, vecRanges.size());
    EXPECT_EQ(1000, vecRanges[0].i64Start);
    EXPECT_EQ(c.i64RecordedEnd, vecRanges[0].i64End);

    // Inside the remembered area everything reads as zeros at once, even sectors the disk could read.
    memset(vecBuffer.data(), 0xCC, vecBuffer.size());
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), static_cast<uint64_t>(c.i64RecordedEnd) - 8, 8));
    EXPECT_TRUE(IsZero(vecBuffer.data(), 8));
    // Its edges are not part of it: the sectors on either side read as they are.
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 992, 8));
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), 992, 8));
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), static_cast<uint64_t>(c.i64RecordedEnd), 16));
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), static_cast<uint64_t>(c.i64RecordedEnd), 16));
    EXPECT_EQ(1u, disk.GetSectorReader().GetBadSectorRanges().size());
}

INSTANTIATE_TEST_SUITE_P(
    BadSectors, BadSectorProbes,
    ::testing::Values(ProbeCase{"AllProbesRead", "", kDiskUnits, 1000 + 20480},
                      ProbeCase{"FirstProbeFails", "bad 0 104000 104001\n", kDiskUnits, 1000 + 102400},
                      ProbeCase{"SecondProbeFails", "bad 0 53000 53001\n", kDiskUnits, 1000 + 51200},
                      ProbeCase{"ThirdProbeFails", "bad 0 26000 26001\n", kDiskUnits, 1000 + 24576},
                      // The disk ends before the first probe: the area reaches the probe.
                      ProbeCase{"ProbePastTheEnd", "", 1000 + 102400 + 1024, 1000 + 102400}),
    [](const ::testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.pszName); });

TEST(BadSectors, OptionIsReadAtEveryCall)
{
    CDeviceTable table;
    const std::string strImage = table.MakeImage("disk.img", kDiskUnits * kUnit);
    CDeviceTable::Stamp(strImage, 0, 8192);
    table.Load("disk " + strImage + "\nbad 0 1003 1004\n");
    CIgnoreBadSectors ignore(1);
    CDiskDevice disk(0);
    std::vector<uint8_t> vecBuffer(16 * kUnit, 0xCC);
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 1000, 8));
    ASSERT_EQ(1u, disk.GetSectorReader().GetBadSectorRanges().size());

    // Switched off, the remembered area is no longer skipped: good sectors in it read from the
    // disk and the injected one fails; no new area is recorded.
    ignore.Set(0);
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 2000, 8));
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), 2000, 8));
    EXPECT_EQ(0, disk.ReadSectors(vecBuffer.data(), 1000, 8));
    EXPECT_EQ(1u, disk.GetSectorReader().GetBadSectorRanges().size());

    ignore.Set(1);
    memset(vecBuffer.data(), 0xCC, vecBuffer.size());
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 2000, 8));
    EXPECT_TRUE(IsZero(vecBuffer.data(), 8));
}

class BadSectors4096 : public ::testing::TestWithParam<int> {};

// On a disk of 4096-byte sectors, an injected area of one sector covers eight 512-byte units.
TEST_P(BadSectors4096, AreaCoversEightUnits)
{
    const int nIgnore = GetParam();
    CDeviceTable table;
    const std::string strImage = table.MakeImage("disk.img", kDiskUnits * kUnit);
    CDeviceTable::Stamp(strImage, 0, 8192);
    table.Load("disk " + strImage + " sector=4096\nbad 0 250 251\n");   // units [2000, 2008)
    CIgnoreBadSectors ignore(nIgnore);
    CDiskDevice disk(0);
    ASSERT_EQ(4096, disk.GetSectorSize());
    std::vector<uint8_t> vecBuffer(8 * kUnit, 0xCC);
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 1992, 8));
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), 1992, 8));
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 2008, 8));
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), 2008, 8));
    memset(vecBuffer.data(), 0xCC, vecBuffer.size());
    EXPECT_EQ(nIgnore, disk.ReadSectors(vecBuffer.data(), 2007, 1));
    EXPECT_TRUE(IsZero(vecBuffer.data(), 1));
    const std::vector<BadRange> vecRanges = Ranges(disk.GetSectorReader());
    if (nIgnore) {
        ASSERT_EQ(1u, vecRanges.size());
        EXPECT_EQ(2007, vecRanges[0].i64Start);
        EXPECT_EQ(2007 + 20480, vecRanges[0].i64End);
    } else {
        EXPECT_TRUE(vecRanges.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(BadSectors, BadSectors4096, ::testing::Values(0, 1));

TEST(BadSectors, PartitionWindowSharesTheDiskList)
{
    CDeviceTable table;
    const std::string strImage = table.MakeImage("disk.img", kDiskUnits * kUnit);
    CDeviceTable::Stamp(strImage, 4000, 8192);
    table.Load("disk " + strImage + "\nbad 0 5003 5004\n");
    CIgnoreBadSectors ignore(1);
    CDiskDevice disk(0);
    CBasicPartitionDevice partition(&disk, 4000, 100000);
    std::vector<uint8_t> vecBuffer(16 * kUnit, 0xCC);
    EXPECT_EQ(1, partition.ReadSectors(vecBuffer.data(), 1000, 16));
    EXPECT_TRUE(IsZero(vecBuffer.data(), 16));
    const std::vector<BadRange> vecRanges = Ranges(disk.GetSectorReader());
    ASSERT_EQ(1u, vecRanges.size());
    EXPECT_EQ(5000, vecRanges[0].i64Start);
    // The disk itself now skips the area the window met.
    memset(vecBuffer.data(), 0xCC, vecBuffer.size());
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 6000, 8));
    EXPECT_TRUE(IsZero(vecBuffer.data(), 8));
    EXPECT_EQ(1, partition.ReadSectors(vecBuffer.data(), 992, 8));
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), 4992, 8));
}

TEST(BadSectors, FloppyVolumeHasItsOwnList)
{
    CDeviceTable table;
    const std::string strFloppy = table.MakeImage("floppy.img", 1474560);
    CDeviceTable::Stamp(strFloppy, 0, 2880);
    table.Load("floppy A " + strFloppy + "\nbad A: 100 101\n");
    CVolumeDevice volume('A');
    ASSERT_TRUE(volume.IsOpen());
    std::vector<uint8_t> vecBuffer(8 * kUnit, 0xCC);
    {
        CIgnoreBadSectors ignore(0);
        EXPECT_EQ(0, volume.ReadSectors(vecBuffer.data(), 96, 8));
        EXPECT_TRUE(IsZero(vecBuffer.data(), 8));
        EXPECT_EQ(1, volume.ReadSectors(vecBuffer.data(), 101, 8));
        EXPECT_TRUE(HoldsUnits(vecBuffer.data(), 101, 8));
    }
    CIgnoreBadSectors ignore(1);
    EXPECT_EQ(1, volume.ReadSectors(vecBuffer.data(), 96, 8));
    EXPECT_TRUE(IsZero(vecBuffer.data(), 8));
    // A floppy ends long before the first probe.
    const std::vector<BadRange> vecRanges = Ranges(volume.GetSectorReader());
    ASSERT_EQ(1u, vecRanges.size());
    EXPECT_EQ(96, vecRanges[0].i64Start);
    EXPECT_EQ(96 + 102400, vecRanges[0].i64End);
}

} // namespace
