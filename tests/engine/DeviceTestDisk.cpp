// The physical-disk device over the disk table: how the total is found from the geometry, the
// length and the SCSI capacities, sector sizes 512 and 4096, the read contract, the storage
// descriptor texts, the drive layout and the dynamic-disk test.
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeviceTestSupport.h"
#include "DiskDevice.h"

using devtest::CDeviceTable;
using devtest::CIgnoreBadSectors;
using devtest::HoldsUnits;
using devtest::IsZero;
using devtest::kUnit;

namespace {

// 255 heads x 63 sectors: one cylinder of the default geometry.
const uint64_t kCylinder = 255 * 63;

struct TotalCase {
    const char* pszName;
    uint32_t nSectorSize;
    uint64_t u64ImageSectors;  // in the disk's own sectors
    const char* pszKeys;       // table keys of the disk line
    uint64_t u64Expected;      // 512-byte units
};

void PrintTo(const TotalCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class DiskTotalSectors : public ::testing::TestWithParam<TotalCase> {};

TEST_P(DiskTotalSectors, FollowsGeometryLengthAndCapacity)
{
    const TotalCase& c = GetParam();
    CDeviceTable table;
    const std::string strImage = table.MakeImage("disk.img", c.u64ImageSectors * c.nSectorSize);
    table.Load("disk " + strImage + " sector=" + std::to_string(c.nSectorSize) + " " + c.pszKeys + "\n");
    CDiskDevice disk(0);
    ASSERT_TRUE(disk.IsOpen());
    EXPECT_EQ(c.u64Expected, disk.GetTotalSectors());
    EXPECT_EQ(static_cast<int>(c.nSectorSize), disk.GetSectorSize());
}

// Image of three cylinders and 1000 sectors: the geometry rounds down to 3 x 16065 sectors.
const uint64_t kImage = 3 * kCylinder + 1000;
const uint64_t kGeometry = 3 * kCylinder;

INSTANTIATE_TEST_SUITE_P(
    DiskDevice, DiskTotalSectors,
    ::testing::Values(
        TotalCase{"LengthWins", 512, kImage, "", kImage},
        TotalCase{"LengthFailsCapacityWithinCylinder", 512, kImage, "length=fail", kImage},
        TotalCase{"LengthFailsNoCapacity", 512, kImage, "length=fail readcap0=fail readcap1=fail", kGeometry},
        // A length below the geometry's total sends the device to the capacities.
        TotalCase{"ShortLengthCapacityBelieved", 512, kImage,
                  "length=512000 readcap0=48999 readcap1=fail", 49000},
        TotalCase{"ShortLengthCapacityAboveCylinderIgnored", 512, kImage,
                  "length=512000 readcap0=70000 readcap1=70000", kGeometry},
        TotalCase{"CapacityEqualToGeometryIgnored", 512, kImage,
                  "length=fail readcap0=48194 readcap1=48194", kGeometry},
        TotalCase{"SecondTargetWhenFirstTooFar", 512, kImage,
                  "length=fail readcap0=90000 readcap1=48999", 49000},
        TotalCase{"FirstTargetPreferred", 512, kImage,
                  "length=fail readcap0=48499 readcap1=48999", 48500},
        TotalCase{"GeometryGivenSmallerThanLength", 512, kImage, "geometry=2/255/63", kImage},
        TotalCase{"GeometryFailsGivesZero", 512, kImage, "geometry=fail", 0},
        // 4096-byte sectors: the geometry and the capacity count 4096-byte sectors, the device 512-byte units.
        TotalCase{"Sector4096LengthWins", 4096, 2 * kCylinder + 100, "", (2 * kCylinder + 100) * 8},
        TotalCase{"Sector4096GeometryOnly", 4096, 2 * kCylinder + 100,
                  "length=fail readcap0=fail readcap1=fail", 2 * kCylinder * 8},
        TotalCase{"Sector4096Capacity", 4096, 2 * kCylinder + 100, "length=fail", (2 * kCylinder + 100) * 8}),
    [](const ::testing::TestParamInfo<TotalCase>& info) { return std::string(info.param.pszName); });

TEST(DiskDevice, NumbersOutsideTheDrivesDoNotOpen)
{
    CDeviceTable table;
    const std::string strImage = table.MakeImage("disk.img", 1 << 20);
    table.Load("disk " + strImage + "\n");
    for (int nNumber : {-1, 64, 1}) {
        CDiskDevice disk(nNumber);
        EXPECT_FALSE(disk.IsOpen()) << nNumber;
        EXPECT_EQ(0, disk.Open()) << nNumber;
        EXPECT_EQ(0u, disk.GetTotalSectors()) << nNumber;
        EXPECT_EQ(512, disk.GetSectorSize()) << nNumber;
        std::vector<uint8_t> vecBuffer(8 * kUnit, 0xCC);
        EXPECT_EQ(0, disk.ReadSectors(vecBuffer.data(), 0, 8)) << nNumber;
        EXPECT_TRUE(IsZero(vecBuffer.data(), 8)) << nNumber;
    }
    EXPECT_EQ(-1, CDiskDevice(-1).GetDiskNumber());
    EXPECT_EQ(0, CDiskDevice(0).GetDiskNumber());
}

TEST(DiskDevice, RefusedOpenLeavesTheDeviceClosed)
{
    CDeviceTable table;
    const std::string strImage = table.MakeImage("disk.img", 1 << 20);
    table.Load("disk " + strImage + " open=fail\n");
    CDiskDevice disk(0);
    EXPECT_FALSE(disk.IsOpen());
    EXPECT_EQ(0u, disk.GetTotalSectors());
}

TEST(DiskDevice, SectorSizeFromGeometry)
{
    EXPECT_EQ(512, SectorSizeFromGeometry(512));
    EXPECT_EQ(4096, SectorSizeFromGeometry(4096));
    EXPECT_EQ(512, SectorSizeFromGeometry(520));
    // A geometry that reports no sector size is damaged, not a disk of zero-byte sectors.
    EXPECT_EQ(512, SectorSizeFromGeometry(0));
}

TEST(DiskDevice, SectorSizeWhenGeometryFails)
{
    CDeviceTable table;
    const std::string strImage = table.MakeImage("disk.img", 1 << 20);
    table.Load("disk " + strImage + " sector=4096 geometry=fail\n");
    CDiskDevice disk(0);
    ASSERT_TRUE(disk.IsOpen());
    EXPECT_EQ(512, disk.GetSectorSize());
}

class DiskReads : public ::testing::TestWithParam<uint32_t> {};

// Reads address 512-byte units whatever the sector size; the end of the medium is no bad area.
TEST_P(DiskReads, AddressUnitsAndStopAtTheEnd)
{
    const uint32_t nSectorSize = GetParam();
    CDeviceTable table;
    const uint64_t u64Units = 20000;
    const std::string strImage = table.MakeImage("disk.img", u64Units * kUnit);
    CDeviceTable::Stamp(strImage, 0, u64Units);
    table.Load("disk " + strImage + " sector=" + std::to_string(nSectorSize) + "\n");
    CDiskDevice disk(0);
    ASSERT_TRUE(disk.IsOpen());
    ASSERT_EQ(u64Units, disk.GetTotalSectors());

    CIgnoreBadSectors ignore(1);
    std::vector<uint8_t> vecBuffer((8192 + 1) * kUnit, 0xCC);
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 3, 5));
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), 3, 5));
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), 100, 8192));
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), 100, 8192));
    EXPECT_EQ(1, disk.ReadSectors(nullptr, 100, 0));

    // More than one block is refused before any disk access, the buffer left alone.
    memset(vecBuffer.data(), 0xCC, vecBuffer.size());
    EXPECT_EQ(0, disk.ReadSectors(vecBuffer.data(), 0, 8193));
    EXPECT_EQ(0xCC, vecBuffer[0]);
    EXPECT_EQ(0, disk.ReadSectors(vecBuffer.data(), 0, UINT64_MAX));

    for (int nIgnore : {1, 0}) {
        ignore.Set(nIgnore);
        memset(vecBuffer.data(), 0xCC, vecBuffer.size());
        EXPECT_EQ(nIgnore, disk.ReadSectors(vecBuffer.data(), u64Units - 4, 8)) << nIgnore;
        EXPECT_TRUE(HoldsUnits(vecBuffer.data(), u64Units - 4, 4)) << nIgnore;
        EXPECT_TRUE(IsZero(vecBuffer.data() + 4 * kUnit, 4)) << nIgnore;
        memset(vecBuffer.data(), 0xCC, vecBuffer.size());
        EXPECT_EQ(nIgnore, disk.ReadSectors(vecBuffer.data(), u64Units + 100, 8)) << nIgnore;
        EXPECT_TRUE(IsZero(vecBuffer.data(), 8)) << nIgnore;
    }
    EXPECT_TRUE(disk.GetSectorReader().GetBadSectorRanges().empty());
    // The sectors before the end still read after reads past it.
    EXPECT_EQ(1, disk.ReadSectors(vecBuffer.data(), u64Units - 8, 8));
    EXPECT_TRUE(HoldsUnits(vecBuffer.data(), u64Units - 8, 8));
}

INSTANTIATE_TEST_SUITE_P(DiskDevice, DiskReads, ::testing::Values(512u, 4096u));

TEST(DiskDevice, GeometryAndHeads)
{
    CDeviceTable table;
    const std::string strA = table.MakeImage("a.img", 4 << 20);
    const std::string strB = table.MakeImage("b.img", 4 << 20);
    table.Load("disk " + strA + " geometry=10/16/63\ndisk " + strB + " geometry=fail\n");
    CDiskDevice diskA(0);
    CDiskDevice diskB(1);
    DISK_GEOMETRY geometry;
    ASSERT_TRUE(diskA.GetGeometry(&geometry));
    EXPECT_EQ(10, geometry.Cylinders);
    EXPECT_EQ(16, diskA.GetTracksPerCylinder());
    EXPECT_FALSE(diskB.GetGeometry(&geometry));
    EXPECT_EQ(255, diskB.GetTracksPerCylinder());
}

struct TrimCase {
    const char* pszRaw;
    const char* pszShown;
};

TEST(DiskDevice, DescriptorTextsAreTrimmed)
{
    const TrimCase cases[] = {
        {"ABC     ", "ABC "},        // padding after the text keeps one space
        {" ABC  DEF", "ABC "},       // the first double space ends the text
        {"  ABC", ""},               // a text that begins with two spaces is empty
        {"Disk Model 7", "Disk Model 7"},
        {"", ""},
    };
    for (const TrimCase& c : cases) {
        char szOut[260];
        TrimDescriptorText(c.pszRaw, szOut, sizeof(szOut));
        EXPECT_STREQ(c.pszShown, szOut) << '"' << c.pszRaw << '"';
    }
}

TEST(DiskDevice, DeviceDescriptionFromTheStorageDescriptor)
{
    CDeviceTable table;
    const std::string strA = table.MakeImage("a.img", 1 << 20);
    const std::string strB = table.MakeImage("b.img", 1 << 20);
    const std::string strC = table.MakeImage("c.img", 1 << 20);
    table.Load("disk " + strA + " bus=7 vendor=\"ABC     \" product=\" Stick  Extra\" revision=\"  1.0\" serial=0042\n"
               "disk " + strB + " bus=17 product=\"NVMe Disk\"\n"
               "disk " + strC + " descriptor=fail\n");
    DISK_DEVICE_DESCRIPTION description;
    ASSERT_TRUE(CDiskDevice(0).GetDeviceDescription(&description));
    EXPECT_EQ(7u, description.nBusType);
    EXPECT_STREQ("USB Device", description.szBusTypeName);
    EXPECT_STREQ("ABC ", description.szVendorId);
    EXPECT_STREQ("Stick ", description.szProductId);
    EXPECT_STREQ("", description.szProductRevision);
    EXPECT_STREQ("0042", description.szSerialNumber);

    ASSERT_TRUE(CDiskDevice(1).GetDeviceDescription(&description));
    EXPECT_EQ(17u, description.nBusType);
    EXPECT_STREQ("", description.szBusTypeName);
    EXPECT_STREQ("", description.szVendorId);
    EXPECT_STREQ("NVMe Disk", description.szProductId);

    memset(&description, 0x41, sizeof(description));
    EXPECT_FALSE(CDiskDevice(2).GetDeviceDescription(&description));
    EXPECT_STREQ("", description.szProductId);
}

uint32_t GetLE32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

TEST(DiskDevice, DriveLayoutForms)
{
    CDeviceTable table;
    const std::string strA = table.MakeImage("a.img", 8 << 20);
    const std::string strB = table.MakeImage("b.img", 8 << 20);
    const std::string strC = table.MakeImage("c.img", 8 << 20);
    // 45 partitions on the first disk: more than the first answer buffer holds, so it must grow.
    std::string strTable = "disk " + strA + "\ndisk " + strB + " layout=legacy\ndisk " + strC + " layout=none\n"
                           "volume disk=1 start=2048 count=4096\n";
    const int kPartitions = 45;
    for (int i = 0; i < kPartitions; ++i)
        strTable += "volume disk=0 start=" + std::to_string(2048 + 100 * i) + " count=100\n";
    table.Load(strTable);
    CDiskDevice diskA(0);
    void* pLayout = nullptr;
    ASSERT_TRUE(diskA.QueryDriveLayout(&pLayout, rvdplat::kIoctlDiskGetDriveLayoutEx));
    const uint8_t* p = static_cast<const uint8_t*>(pLayout);
    EXPECT_EQ(static_cast<uint32_t>(kPartitions), GetLE32(p + 4));
    // StartingOffset of the last entry, in bytes.
    EXPECT_EQ((2048u + 100 * (kPartitions - 1)) * 512, GetLE32(p + 48 + 144 * (kPartitions - 1) + 8));
    FreeBuffer(pLayout);

    CDiskDevice diskB(1);
    pLayout = nullptr;
    EXPECT_FALSE(diskB.QueryDriveLayout(&pLayout, rvdplat::kIoctlDiskGetDriveLayoutEx));
    EXPECT_EQ(nullptr, pLayout);
    ASSERT_TRUE(diskB.QueryDriveLayout(&pLayout, rvdplat::kIoctlDiskGetDriveLayout));
    EXPECT_EQ(1u, GetLE32(static_cast<const uint8_t*>(pLayout)));
    FreeBuffer(pLayout);

    CDiskDevice diskC(2);
    EXPECT_FALSE(diskC.QueryDriveLayout(&pLayout, rvdplat::kIoctlDiskGetDriveLayoutEx));
    EXPECT_FALSE(diskC.QueryDriveLayout(&pLayout, rvdplat::kIoctlDiskGetDriveLayout));
}

// ----- dynamic-disk test -----------------------------------------------------------------------------

// Runs a partitioning tool on an image; the script goes to its standard input.
void RunTool(const std::string& strCommand, const std::string& strInput = "")
{
    const std::string strLine = "printf '" + strInput + "' | " + strCommand + " >/dev/null 2>&1";
    ASSERT_EQ(0, system(strLine.c_str())) << strCommand;
}

bool OpensAsDynamic(CDeviceTable& table, const std::string& strImage)
{
    table.Load("disk " + strImage + "\n");
    CDiskDevice disk(0);
    EXPECT_TRUE(disk.IsOpen());
    return disk.IsDynamic() != 0;
}

TEST(DiskDevice, MbrChainWithLdmPartitionIsDynamic)
{
    CDeviceTable table;
    const std::string strImage = table.MakeImage("mbr.img", 64 << 20);
    // Two logical partitions; the second one has the dynamic-disk type 0x42.
    RunTool("sfdisk --no-reread --no-tell-kernel " + strImage,
            "label: dos\\n2048,8192,83\\n,,5\\n,8192,83\\n,8192,42\\n");
    EXPECT_TRUE(OpensAsDynamic(table, strImage));

    const std::string strPlain = table.MakeImage("plain.img", 64 << 20);
    RunTool("sfdisk --no-reread --no-tell-kernel " + strPlain,
            "label: dos\\n2048,8192,83\\n,,5\\n,8192,83\\n,8192,7\\n");
    EXPECT_FALSE(OpensAsDynamic(table, strPlain));
}

TEST(DiskDevice, GptIsDynamicOnlyWithBothLdmPartitions)
{
    CDeviceTable table;
    const std::string strBoth = table.MakeImage("both.img", 16 << 20);
    RunTool("sgdisk -n 1:2048:4095 -c '1:LDM metadata partition' -n 2:4096:0 -c '2:LDM data partition' " + strBoth);
    EXPECT_TRUE(OpensAsDynamic(table, strBoth));

    const std::string strOne = table.MakeImage("one.img", 16 << 20);
    RunTool("sgdisk -n 1:2048:4095 -c '1:LDM metadata partition' -n 2:4096:0 -c '2:Basic data partition' " + strOne);
    EXPECT_FALSE(OpensAsDynamic(table, strOne));
}

// Writes a 16-byte MBR entry (type, relative start, count) and the boot signature.
void PutEntry(std::vector<uint8_t>& vecSector, int nIndex, uint8_t byType, uint32_t nStart, uint32_t nCount)
{
    uint8_t* p = vecSector.data() + 446 + 16 * nIndex;
    p[4] = byType;
    for (int i = 0; i < 4; ++i) {
        p[8 + i] = static_cast<uint8_t>(nStart >> (8 * i));
        p[12 + i] = static_cast<uint8_t>(nCount >> (8 * i));
    }
    vecSector[510] = 0x55;
    vecSector[511] = 0xAA;
}

TEST(DiskDevice, ExtendedChainThatLoopsEnds)
{
    // No tool writes a damaged chain: the MBR points at an extended partition at 2048 whose boot
    // record links back to itself, and a second image whose link goes back to the first record.
    CDeviceTable table;
    for (uint32_t nLink : {0u, 4096u}) {
        const std::string strImage = table.MakeImage("loop" + std::to_string(nLink) + ".img", 8 << 20);
        std::vector<uint8_t> vecMbr(512, 0), vecEbr(512, 0), vecEbr2(512, 0);
        PutEntry(vecMbr, 0, 0x05, 2048, 8192);
        PutEntry(vecEbr, 0, 0x07, 63, 1000);
        PutEntry(vecEbr, 1, 0x05, nLink == 0 ? 0 : 2048, 2048);   // 2048 + base lands on 4096
        PutEntry(vecEbr2, 0, 0x07, 63, 1000);
        PutEntry(vecEbr2, 1, 0x05, 0, 2048);                       // back to the first record
        const int fd = open(strImage.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(512, pwrite(fd, vecMbr.data(), 512, 0));
        ASSERT_EQ(512, pwrite(fd, vecEbr.data(), 512, 2048 * 512));
        ASSERT_EQ(512, pwrite(fd, vecEbr2.data(), 512, 4096 * 512));
        close(fd);
        EXPECT_FALSE(OpensAsDynamic(table, strImage)) << nLink;
    }
}

} // namespace
