// Partition windows over a disk and drive-letter volumes: reads clipped to the window, reads
// beyond it refused, sector size and totals.
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BasicPartitionDevice.h"
#include "DeviceTestSupport.h"
#include "DiskDevice.h"
#include "VolumeDevice.h"

using devtest::CDeviceTable;
using devtest::CIgnoreBadSectors;
using devtest::HoldsUnits;
using devtest::IsZero;
using devtest::kUnit;

namespace {

const uint64_t kWindowStart = 5000;
const uint64_t kWindowSectors = 1000;

struct WindowCase {
    const char* pszName;
    uint64_t u64Start;
    uint64_t u64Count;
    int nResult;
    uint64_t u64FromDisk;   // sectors that come from the disk; the rest of the request is zero
};

void PrintTo(const WindowCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class PartitionWindow : public ::testing::TestWithParam<WindowCase> {};

TEST_P(PartitionWindow, ClipsReadsToTheWindow)
{
    const WindowCase& c = GetParam();
    CDeviceTable table;
    const std::string strImage = table.MakeImage("disk.img", 16 << 20);
    CDeviceTable::Stamp(strImage, 0, 16384);
    table.Load("disk " + strImage + "\n");
    CIgnoreBadSectors ignore(0);
    CDiskDevice disk(0);
    CBasicPartitionDevice partition(&disk, kWindowStart, kWindowSectors);
    EXPECT_EQ(kWindowSectors, partition.GetTotalSectors());
    EXPECT_EQ(kWindowStart, partition.GetStartSector());

    std::vector<uint8_t> vecBuffer((c.u64Count + 1) * kUnit, 0xCC);
    EXPECT_EQ(c.nResult, partition.ReadSectors(vecBuffer.data(), c.u64Start, c.u64Count));
    if (c.nResult == 0) {
        EXPECT_EQ(0xCC, vecBuffer[0]) << "a refused read leaves the buffer alone";
        return;
    }
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), kWindowStart + c.u64Start, c.u64FromDisk));
    EXPECT_TRUE(IsZero(vecBuffer.data() + c.u64FromDisk * kUnit, c.u64Count - c.u64FromDisk));
    EXPECT_EQ(0xCC, vecBuffer[c.u64Count * kUnit]) << "nothing is written past the request";
}

INSTANTIATE_TEST_SUITE_P(
    PartitionWindow, PartitionWindow,
    ::testing::Values(WindowCase{"Inside", 10, 8, 1, 8},
                      WindowCase{"WholeWindow", 0, 1000, 1, 1000},
                      WindowCase{"LastSector", 999, 1, 1, 1},
                      WindowCase{"RunsPastTheEnd", 996, 8, 1, 4},
                      WindowCase{"MostPastTheEnd", 999, 1000, 1, 1},
                      WindowCase{"NothingRequested", 10, 0, 1, 0},
                      WindowCase{"StartsAtTheEnd", 1000, 1, 0, 0},
                      WindowCase{"StartsFarBeyond", UINT64_MAX - 4, 8, 0, 0},
                      WindowCase{"MoreThanTheWindow", 0, 1001, 0, 0}),
    [](const ::testing::TestParamInfo<WindowCase>& info) { return std::string(info.param.pszName); });

TEST(PartitionWindow, WindowPastTheDiskEnd)
{
    // A found partition whose recorded size runs past the disk: the sectors that exist are read,
    // the rest are zeros; the read reports failure unless bad sectors are ignored.
    CDeviceTable table;
    const uint64_t u64DiskUnits = 8192;
    const std::string strImage = table.MakeImage("disk.img", u64DiskUnits * kUnit);
    CDeviceTable::Stamp(strImage, 0, u64DiskUnits);
    table.Load("disk " + strImage + "\n");
    CDiskDevice disk(0);
    CBasicPartitionDevice partition(&disk, u64DiskUnits - 4, 100);
    std::vector<uint8_t> vecBuffer(8 * kUnit, 0xCC);
    for (int nIgnore : {0, 1}) {
        CIgnoreBadSectors ignore(nIgnore);
        memset(vecBuffer.data(), 0xCC, vecBuffer.size());
        EXPECT_EQ(nIgnore, partition.ReadSectors(vecBuffer.data(), 0, 8));
        EXPECT_TRUE(HoldsUnits(vecBuffer.data(), u64DiskUnits - 4, 4));
        EXPECT_TRUE(IsZero(vecBuffer.data() + 4 * kUnit, 4));
    }
}

TEST(PartitionWindow, SectorSizeOfTheParent)
{
    CDeviceTable table;
    const std::string strImage = table.MakeImage("disk.img", 16 << 20);
    table.Load("disk " + strImage + " sector=4096\n");
    CDiskDevice disk(0);
    CBasicPartitionDevice partition(&disk, 2048, 4096);
    EXPECT_EQ(4096, partition.GetSectorSize());
    EXPECT_EQ(1, partition.Open());
    EXPECT_EQ(1, partition.Close());

    CBasicPartitionDevice orphan(nullptr, 0, 16);
    EXPECT_EQ(512, orphan.GetSectorSize());
    std::vector<uint8_t> vecBuffer(8 * kUnit, 0xCC);
    EXPECT_EQ(0, orphan.ReadSectors(vecBuffer.data(), 0, 8));
    EXPECT_TRUE(IsZero(vecBuffer.data(), 8));
}

TEST(VolumeDevice, FloppyByLetter)
{
    CDeviceTable table;
    const std::string strFloppy = table.MakeImage("floppy.img", 1474560);
    CDeviceTable::Stamp(strFloppy, 0, 2880);
    table.Load("floppy A " + strFloppy + "\n");
    CIgnoreBadSectors ignore(1);

    for (char chLetter : {'A', 'a'}) {
        CVolumeDevice volume(chLetter);
        ASSERT_TRUE(volume.IsOpen()) << chLetter;
        EXPECT_EQ(2880u, volume.GetTotalSectors());
        EXPECT_EQ(2, volume.GetMediaType());   // 3.5" 1.44 MB
        EXPECT_EQ(512, volume.GetSectorSize());
        std::vector<uint8_t> vecBuffer(8 * kUnit);
        EXPECT_EQ(1, volume.ReadSectors(vecBuffer.data(), 2872, 8));
        EXPECT_TRUE(HoldsUnits(vecBuffer.data(), 2872, 8));
        EXPECT_EQ(1, volume.Close());
        EXPECT_FALSE(volume.IsOpen());
        EXPECT_EQ(0u, volume.GetTotalSectors());
        EXPECT_EQ(0, volume.GetMediaType());
        EXPECT_EQ(0, volume.ReadSectors(vecBuffer.data(), 0, 1));
        EXPECT_EQ(1, volume.Open());
    }
    for (char chLetter : {'B', '1', '\0'}) {
        CVolumeDevice volume(chLetter);
        EXPECT_FALSE(volume.IsOpen()) << static_cast<int>(chLetter);
        EXPECT_EQ(0, volume.GetMediaType());
    }
}

TEST(VolumeDevice, GeometryFailureGivesNoSize)
{
    CDeviceTable table;
    const std::string strFloppy = table.MakeImage("floppy.img", 1474560);
    table.Load("floppy B " + strFloppy + " geometry=fail\n");
    CVolumeDevice volume('B');
    ASSERT_TRUE(volume.IsOpen());
    EXPECT_EQ(0u, volume.GetTotalSectors());
    EXPECT_EQ(0, volume.GetMediaType());
    EXPECT_EQ(512, volume.GetSectorSize());
}

} // namespace
