// The dynamic volume devices over hand-placed extents on stamped disks (every unit of a disk
// holds its own unit number, so a read shows which disk units it returned): stripe and parity
// placement, the range rules, missing and failing members, and the bound of each extent.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeviceTestSupport.h"
#include "DiskDevice.h"
#include "DynamicVolumeDevice.h"

using devtest::CDeviceTable;
using devtest::CIgnoreBadSectors;
using devtest::HoldsUnits;
using devtest::IsZero;
using devtest::kUnit;

namespace {

const uint64_t kDiskUnits = 8192;

LDM_EXTENT Extent(IStorageDevice* pDisk, uint64_t u64DiskStart, uint64_t u64VolumeOffset, uint64_t u64Length,
                  uint32_t nIndex = 0, const char* pszDiskId = "disk")
{
    LDM_EXTENT extent;
    memset(&extent, 0, sizeof(extent));
    extent.nPartitionIndex = nIndex;
    snprintf(extent.szDiskId, sizeof(extent.szDiskId), "%s", pszDiskId);
    extent.u64DiskStart = pDisk != nullptr ? u64DiskStart : 0;
    extent.u64VolumeOffset = u64VolumeOffset;
    extent.u64Length = u64Length;
    extent.pDisk = pDisk;
    return extent;
}

DYNAMIC_VOLUME_DESC Desc(uint64_t u64Sectors)
{
    DYNAMIC_VOLUME_DESC desc;
    memset(&desc, 0, sizeof(desc));
    snprintf(desc.szDiskGroupName, sizeof(desc.szDiskGroupName), "TestDg0");
    snprintf(desc.szVolumeName, sizeof(desc.szVolumeName), "Volume1");
    desc.nFileSystemKind = 7;
    desc.u64VolumeSectors = u64Sectors;
    return desc;
}

CLdmExtentList List(std::vector<LDM_EXTENT>& extents)
{
    CLdmExtentList list;
    for (LDM_EXTENT& e : extents)
        list.push_back(&e);
    return list;
}

// Three stamped disks of 8192 units, drives 0 to 2, plus whatever extra table lines a test needs.
class CThreeDisks {
public:
    explicit CThreeDisks(const std::string& strExtra = "")
    {
        std::string strTable;
        for (int i = 0; i < 3; ++i) {
            const std::string strImage = m_Table.MakeImage("disk" + std::to_string(i) + ".img", kDiskUnits * kUnit);
            CDeviceTable::Stamp(strImage, 0, kDiskUnits);
            strTable += "disk " + strImage + "\n";
        }
        m_Table.Load(strTable + strExtra);
        for (int i = 0; i < 3; ++i)
            m_Disks.emplace_back(new CDiskDevice(i));
    }
    CDiskDevice* operator[](size_t i) { return m_Disks[i].get(); }

private:
    CDeviceTable m_Table;
    std::vector<std::unique_ptr<CDiskDevice>> m_Disks;
};

std::vector<uint8_t> Read(IStorageDevice* pDevice, uint64_t u64Start, uint64_t u64Count, int* pnResult)
{
    std::vector<uint8_t> vecBuffer(u64Count * kUnit, 0xCC);
    *pnResult = pDevice->ReadSectors(vecBuffer.data(), u64Start, u64Count);
    return vecBuffer;
}

TEST(DynamicVolumeDevice, StripedDealsStripesToColumnsRowByRow)
{
    CThreeDisks disks;
    std::vector<LDM_EXTENT> extents = {Extent(disks[0], 1000, 0, 512, 0), Extent(disks[1], 3000, 0, 512, 1)};
    std::unique_ptr<IDynamicDevice> device(CreateStripedVolumeDevice(DYNAMIC_KIND_STRIPED, Desc(1024), List(extents)));
    ASSERT_NE(nullptr, device);
    int nResult = 0;
    const std::vector<uint8_t> v = Read(device.get(), 0, 384, &nResult);
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(HoldsUnits(v.data(), 1000, 128));                 // 0..127: member 0
    EXPECT_TRUE(HoldsUnits(v.data() + 128 * kUnit, 3000, 128));   // 128..255: member 1
    EXPECT_TRUE(HoldsUnits(v.data() + 256 * kUnit, 1128, 128));   // 256..383: member 0 at 128
    // A read that starts inside a stripe and crosses into the next column.
    const std::vector<uint8_t> w = Read(device.get(), 100, 60, &nResult);
    EXPECT_TRUE(HoldsUnits(w.data(), 1100, 28));
    EXPECT_TRUE(HoldsUnits(w.data() + 28 * kUnit, 3000, 32));
}

TEST(DynamicVolumeDevice, Raid5ParityRotatesFromTheLastColumn)
{
    CThreeDisks disks;
    std::vector<LDM_EXTENT> extents = {Extent(disks[0], 100, 0, 512, 0), Extent(disks[1], 1000, 0, 512, 1),
                                       Extent(disks[2], 2000, 0, 512, 2)};
    std::unique_ptr<IDynamicDevice> device(CreateRaid5VolumeDevice(DYNAMIC_KIND_RAID5, Desc(1024), List(extents)));
    ASSERT_NE(nullptr, device);
    int nResult = 0;
    const std::vector<uint8_t> v = Read(device.get(), 0, 1024, &nResult);
    ASSERT_EQ(1, nResult);
    const uint64_t aStart[3] = {100, 1000, 2000};
    // Row r: {column of the first data stripe, column of the second}; data at member sector r x 128.
    const int aRows[4][2] = {{0, 1}, {2, 0}, {1, 2}, {0, 1}};
    for (int r = 0; r < 4; ++r) {
        for (int k = 0; k < 2; ++k) {
            const uint64_t u64Volume = static_cast<uint64_t>(r) * 256 + static_cast<uint64_t>(k) * 128;
            EXPECT_TRUE(HoldsUnits(v.data() + u64Volume * kUnit, aStart[aRows[r][k]] + r * 128, 128))
                << "row " << r << " stripe " << k;
        }
    }
}

TEST(DynamicVolumeDevice, Raid5RebuildsAMissingColumnFromTheOthers)
{
    CThreeDisks disks;
    std::vector<LDM_EXTENT> extents = {Extent(disks[0], 100, 0, 512, 0), Extent(nullptr, 0, 0, 512, 1),
                                       Extent(disks[2], 2000, 0, 512, 2)};
    std::unique_ptr<IDynamicDevice> device(CreateRaid5VolumeDevice(DYNAMIC_KIND_RAID5, Desc(1024), List(extents)));
    ASSERT_NE(nullptr, device);
    // Volume sectors 128..255 lie in column 1 of row 0: the exclusive-or of columns 0 and 2 there.
    int nResult = 0;
    const std::vector<uint8_t> v = Read(device.get(), 130, 10, &nResult);
    EXPECT_EQ(1, nResult);
    for (uint64_t i = 0; i < 10; ++i) {
        uint8_t a[kUnit], b[kUnit];
        CDeviceTable::StampUnit(a, 100 + 2 + i);
        CDeviceTable::StampUnit(b, 2000 + 2 + i);
        for (size_t j = 0; j < kUnit; ++j)
            a[j] ^= b[j];
        EXPECT_EQ(0, memcmp(a, v.data() + i * kUnit, kUnit)) << "sector " << i;
    }
    // Stripes of the present columns are read as they are.
    const std::vector<uint8_t> w = Read(device.get(), 0, 128, &nResult);
    EXPECT_TRUE(HoldsUnits(w.data(), 100, 128));
}

TEST(DynamicVolumeDevice, Raid5NeedsThreeColumnsAndAtMostOneMissing)
{
    CThreeDisks disks;
    std::vector<LDM_EXTENT> two = {Extent(disks[0], 100, 0, 512, 0), Extent(disks[1], 1000, 0, 512, 1)};
    EXPECT_EQ(nullptr, CreateRaid5VolumeDevice(DYNAMIC_KIND_RAID5, Desc(512), List(two)));
    std::vector<LDM_EXTENT> one = {Extent(disks[0], 100, 0, 512, 0)};
    EXPECT_EQ(nullptr, CreateRaid5VolumeDevice(DYNAMIC_KIND_RAID5, Desc(512), List(one)));
    std::vector<LDM_EXTENT> twoMissing = {Extent(disks[0], 100, 0, 512, 0), Extent(nullptr, 0, 0, 512, 1),
                                          Extent(nullptr, 0, 0, 512, 2)};
    EXPECT_EQ(nullptr, CreateRaid5VolumeDevice(DYNAMIC_KIND_RAID5, Desc(1024), List(twoMissing)));
}

TEST(DynamicVolumeDevice, RangeRules)
{
    CThreeDisks disks;
    std::vector<LDM_EXTENT> extents = {Extent(disks[0], 500, 0, 100)};
    std::unique_ptr<IDynamicDevice> device(CreateSimpleVolumeDevice(DYNAMIC_KIND_SIMPLE, Desc(100), List(extents)));
    ASSERT_NE(nullptr, device);
    int nResult = 0;
    // Ten sectors at size - 4: the last four, then zeros.
    std::vector<uint8_t> v = Read(device.get(), 96, 10, &nResult);
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(HoldsUnits(v.data(), 596, 4));
    EXPECT_TRUE(IsZero(v.data() + 4 * kUnit, 6));
    // At the very end: accepted, nothing read.
    v = Read(device.get(), 100, 3, &nResult);
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(IsZero(v.data(), 3));
    // Past the end, or more sectors than the volume has: refused with a zeroed buffer.
    v = Read(device.get(), 101, 1, &nResult);
    EXPECT_EQ(0, nResult);
    EXPECT_TRUE(IsZero(v.data(), 1));
    v = Read(device.get(), 0, 101, &nResult);
    EXPECT_EQ(0, nResult);
    EXPECT_TRUE(IsZero(v.data(), 101));
    EXPECT_EQ(100u, device->GetTotalSectors());
    EXPECT_EQ(512, device->GetSectorSize());
}

TEST(DynamicVolumeDevice, ReadsStopAtTheEndOfEachExtent)
{
    CThreeDisks disks;
    int nResult = 0;
    // The database claims a larger volume than the extent: what follows the extent on the disk
    // is not the volume's.
    std::vector<LDM_EXTENT> simple = {Extent(disks[0], 500, 0, 100)};
    std::unique_ptr<IDynamicDevice> device(CreateSimpleVolumeDevice(DYNAMIC_KIND_SIMPLE, Desc(150), List(simple)));
    std::vector<uint8_t> v = Read(device.get(), 90, 60, &nResult);
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(HoldsUnits(v.data(), 590, 10));
    EXPECT_TRUE(IsZero(v.data() + 10 * kUnit, 50));

    // Columns of 200 sectors, not a whole number of stripes: row 1 of column 0 holds sectors
    // 128..199 only.
    std::vector<LDM_EXTENT> striped = {Extent(disks[0], 1000, 0, 200, 0), Extent(disks[1], 3000, 0, 200, 1)};
    device.reset(CreateStripedVolumeDevice(DYNAMIC_KIND_STRIPED, Desc(400), List(striped)));
    v = Read(device.get(), 256, 128, &nResult);
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(HoldsUnits(v.data(), 1128, 72));
    EXPECT_TRUE(IsZero(v.data() + 72 * kUnit, 56));
}

TEST(DynamicVolumeDevice, SpannedWalksExtentsByVolumeOffset)
{
    CThreeDisks disks;
    std::vector<LDM_EXTENT> extents = {Extent(disks[0], 100, 0, 50, 0), Extent(nullptr, 0, 50, 30, 1),
                                       Extent(disks[2], 4000, 80, 70, 2)};
    std::unique_ptr<IDynamicDevice> device(CreateSpannedVolumeDevice(DYNAMIC_KIND_SPANNED, Desc(150), List(extents)));
    ASSERT_NE(nullptr, device);
    int nResult = 0;
    const std::vector<uint8_t> v = Read(device.get(), 40, 60, &nResult);
    // A missing member leaves zeros and does not fail the read.
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(HoldsUnits(v.data(), 140, 10));
    EXPECT_TRUE(IsZero(v.data() + 10 * kUnit, 30));
    EXPECT_TRUE(HoldsUnits(v.data() + 40 * kUnit, 4000, 20));

    // A volume whose extents leave a hole: a read that reaches it fails.
    std::vector<LDM_EXTENT> holed = {Extent(disks[0], 100, 0, 50, 0), Extent(disks[2], 4000, 80, 70, 1)};
    device.reset(CreateSpannedVolumeDevice(DYNAMIC_KIND_SPANNED, Desc(150), List(holed)));
    Read(device.get(), 40, 20, &nResult);
    EXPECT_EQ(0, nResult);
}

TEST(DynamicVolumeDevice, LargeReadsAreSplitForTheDisk)
{
    CThreeDisks disks;
    std::vector<LDM_EXTENT> extents = {Extent(disks[0], 0, 0, kDiskUnits)};
    std::unique_ptr<IDynamicDevice> device(
        CreateSimpleVolumeDevice(DYNAMIC_KIND_SIMPLE, Desc(kDiskUnits), List(extents)));
    int nResult = 0;
    // More than the disk takes in one read (8192 sectors) would otherwise fail as a whole.
    const std::vector<uint8_t> v = Read(device.get(), 0, kDiskUnits, &nResult);
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(HoldsUnits(v.data(), 0, kDiskUnits));
}

TEST(DynamicVolumeDevice, FactoriesRefuseVolumesWithoutDisks)
{
    CThreeDisks disks;
    std::vector<LDM_EXTENT> none = {Extent(nullptr, 0, 0, 100)};
    EXPECT_EQ(nullptr, CreateSimpleVolumeDevice(DYNAMIC_KIND_SIMPLE, Desc(100), List(none)));
    EXPECT_EQ(nullptr, CreateSpannedVolumeDevice(DYNAMIC_KIND_SPANNED, Desc(100), List(none)));
    EXPECT_EQ(nullptr, CreateStripedVolumeDevice(DYNAMIC_KIND_STRIPED, Desc(100), List(none)));
    std::vector<LDM_EXTENT> two = {Extent(disks[0], 0, 0, 50), Extent(disks[1], 0, 50, 50)};
    EXPECT_EQ(nullptr, CreateSimpleVolumeDevice(DYNAMIC_KIND_SIMPLE, Desc(100), List(two)));
    EXPECT_EQ(nullptr, CreateMirrorVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(100), nullptr, nullptr));
    // Missing striped columns read as zeros.
    std::vector<LDM_EXTENT> striped = {Extent(nullptr, 0, 0, 256, 0), Extent(disks[1], 3000, 0, 256, 1)};
    std::unique_ptr<IDynamicDevice> device(CreateStripedVolumeDevice(DYNAMIC_KIND_STRIPED, Desc(512), List(striped)));
    int nResult = 0;
    const std::vector<uint8_t> v = Read(device.get(), 0, 256, &nResult);
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(IsZero(v.data(), 128));
    EXPECT_TRUE(HoldsUnits(v.data() + 128 * kUnit, 3000, 128));
}

TEST(DynamicVolumeDevice, MirrorTakesAPieceTheFirstMemberFailsFromTheSecond)
{
    // Unit 1030 of disk 0 is unreadable. Ignoring bad sectors (the default) must not turn it
    // into zeros while the second member holds the data.
    for (int nIgnore : {1, 0}) {
        SCOPED_TRACE("ignore bad sectors " + std::to_string(nIgnore));
        CThreeDisks disks("bad 0 1030 1031\n");
        CIgnoreBadSectors ignore(nIgnore);
        std::vector<LDM_EXTENT> first = {Extent(disks[0], 1000, 0, 200)};
        std::vector<LDM_EXTENT> second = {Extent(disks[1], 5000, 0, 200)};
        std::unique_ptr<IDynamicDevice> device(CreateMirrorVolumeDevice(
            DYNAMIC_KIND_MIRROR, Desc(200),
            CreateSimpleVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(200), List(first)),
            CreateSimpleVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(200), List(second))));
        ASSERT_NE(nullptr, device);
        int nResult = 0;
        const std::vector<uint8_t> v = Read(device.get(), 0, 126, &nResult);
        EXPECT_EQ(1, nResult);
        // The piece 0..62 holds the bad sector 30 and comes whole from the second member; the
        // next piece from the first again.
        EXPECT_TRUE(HoldsUnits(v.data(), 5000, 63));
        EXPECT_TRUE(HoldsUnits(v.data() + 63 * kUnit, 1063, 63));
    }
}

TEST(DynamicVolumeDevice, MirrorMembersReadPastAreasTheDiskRemembers)
{
    CThreeDisks disks("bad 0 1030 1031\n");
    CIgnoreBadSectors ignore(1);
    // A plain read of the bad unit remembers an area from it to far past the extent; plain
    // reads of that area are answered with zeros from then on, without touching the disk.
    std::vector<uint8_t> vecSector(kUnit, 0xCC);
    ASSERT_EQ(1, disks[0]->ReadSectors(vecSector.data(), 1030, 1));
    ASSERT_FALSE(disks[0]->GetSectorReader().GetBadSectorRanges().empty());
    vecSector.assign(kUnit, 0xCC);
    EXPECT_EQ(1, disks[0]->ReadSectors(vecSector.data(), 1100, 1));
    EXPECT_TRUE(IsZero(vecSector.data(), 1));

    // The mirror still reads the good sectors of that area from the first member.
    std::vector<LDM_EXTENT> first = {Extent(disks[0], 1000, 0, 200)};
    std::vector<LDM_EXTENT> second = {Extent(disks[1], 5000, 0, 200)};
    std::unique_ptr<IDynamicDevice> device(CreateMirrorVolumeDevice(
        DYNAMIC_KIND_MIRROR, Desc(200), CreateSimpleVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(200), List(first)),
        CreateSimpleVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(200), List(second))));
    int nResult = 0;
    const std::vector<uint8_t> v = Read(device.get(), 0, 200, &nResult);
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(HoldsUnits(v.data(), 5000, 63));
    EXPECT_TRUE(HoldsUnits(v.data() + 63 * kUnit, 1063, 137));
    // Member reads leave the remembered areas as they were.
    EXPECT_EQ(1u, disks[0]->GetSectorReader().GetBadSectorRanges().size());
}

TEST(DynamicVolumeDevice, MirrorReadsAPieceNoMemberReadsWholeSectorBySector)
{
    // Sector 11 is bad on both members: zeros, and a failed read unless bad sectors are ignored.
    for (int nIgnore : {1, 0}) {
        SCOPED_TRACE("ignore bad sectors " + std::to_string(nIgnore));
        CThreeDisks disks("bad 0 1010 1012\nbad 1 5011 5013\n");
        CIgnoreBadSectors ignore(nIgnore);
        std::vector<LDM_EXTENT> first = {Extent(disks[0], 1000, 0, 126)};
        std::vector<LDM_EXTENT> second = {Extent(disks[1], 5000, 0, 126)};
        std::unique_ptr<IDynamicDevice> device(CreateMirrorVolumeDevice(
            DYNAMIC_KIND_MIRROR, Desc(126), CreateSimpleVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(126), List(first)),
            CreateSimpleVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(126), List(second))));
        int nResult = 0;
        const std::vector<uint8_t> v = Read(device.get(), 0, 126, &nResult);
        EXPECT_EQ(nIgnore, nResult);
        EXPECT_TRUE(HoldsUnits(v.data(), 1000, 10));
        EXPECT_TRUE(HoldsUnits(v.data() + 10 * kUnit, 5010, 1));   // bad on the first member only
        EXPECT_TRUE(IsZero(v.data() + 11 * kUnit, 1));              // bad on both
        EXPECT_TRUE(HoldsUnits(v.data() + 12 * kUnit, 1012, 51));
        // The piece after the lost sector is read all the same.
        EXPECT_TRUE(HoldsUnits(v.data() + 63 * kUnit, 1063, 63));
    }
}

TEST(DynamicVolumeDevice, MirrorOfStripedMembersSeesABadSectorWhenIgnoring)
{
    CThreeDisks disks("bad 1 3005 3006\n");
    CIgnoreBadSectors ignore(1);
    // First member: striped over disks 0 and 1 (volume 128..255 is unit 3000.. of disk 1).
    std::vector<LDM_EXTENT> first = {Extent(disks[0], 1000, 0, 128, 0), Extent(disks[1], 3000, 0, 128, 1)};
    std::vector<LDM_EXTENT> second = {Extent(disks[2], 6000, 0, 256)};
    std::unique_ptr<IDynamicDevice> device(CreateMirrorVolumeDevice(
        DYNAMIC_KIND_MIRROR, Desc(256), CreateStripedVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(256), List(first)),
        CreateSimpleVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(256), List(second))));
    int nResult = 0;
    const std::vector<uint8_t> v = Read(device.get(), 0, 256, &nResult);
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(HoldsUnits(v.data(), 1000, 126));
    EXPECT_TRUE(HoldsUnits(v.data() + 126 * kUnit, 6126, 63));   // the piece that holds volume sector 133
    EXPECT_TRUE(HoldsUnits(v.data() + 189 * kUnit, 3061, 67));
}

TEST(DynamicVolumeDevice, VolumesWithoutRedundancyKeepTheBadSectorSetting)
{
    // A plain volume has no other copy: ignoring answers the bad sector with zeros and success,
    // as the disk does; without ignoring a simple volume fails.
    for (int nIgnore : {1, 0}) {
        SCOPED_TRACE("ignore bad sectors " + std::to_string(nIgnore));
        CThreeDisks disks("bad 0 1005 1006\n");
        CIgnoreBadSectors ignore(nIgnore);
        std::vector<LDM_EXTENT> extents = {Extent(disks[0], 1000, 0, 100)};
        std::unique_ptr<IDynamicDevice> device(
            CreateSimpleVolumeDevice(DYNAMIC_KIND_SIMPLE, Desc(100), List(extents)));
        int nResult = 0;
        const std::vector<uint8_t> v = Read(device.get(), 0, 10, &nResult);
        EXPECT_EQ(nIgnore, nResult);
        EXPECT_TRUE(IsZero(v.data(), 10));
        EXPECT_EQ(nIgnore != 0, !disks[0]->GetSectorReader().GetBadSectorRanges().empty());
    }
}

// Unit u of a stamped disk exclusive-ored with unit w of another: what parity rebuilds.
std::vector<uint8_t> XorUnits(uint64_t u, uint64_t w)
{
    std::vector<uint8_t> a(kUnit), b(kUnit);
    CDeviceTable::StampUnit(a.data(), u);
    CDeviceTable::StampUnit(b.data(), w);
    for (size_t j = 0; j < kUnit; ++j)
        a[j] ^= b[j];
    return a;
}

TEST(DynamicVolumeDevice, Raid5RebuildsBadSectorsOfAColumnWhenIgnoring)
{
    // Row 0: data in columns 0 (volume 0..127, disk 0 from 100) and 1, parity in column 2 (disk 2
    // from 2000). Each case: the bad areas, whether the read succeeds with and without ignoring,
    // the volume sectors of 0..127 rebuilt through parity, and those lost (zero).
    struct RAID_CASE {
        const char* pszBad;
        int aResult[2];  // ignore off, ignore on
        uint64_t u64RebuiltFirst, u64RebuiltEnd;
        uint64_t u64LostFirst, u64LostEnd;
    };
    const RAID_CASE aCases[] = {
        // One column bad: the piece is rebuilt whole (the stamped disks hold no true parity, so
        // rebuilt sectors show as the exclusive-or of the other columns).
        {"bad 0 110 116\n", {1, 1}, 0, 128, 0, 0},
        // The data and the parity column bad at 12..13: lost; the piece is taken sector by
        // sector, rebuilding only the other bad sectors of the data column.
        {"bad 0 110 116\nbad 2 2012 2014\n", {0, 1}, 10, 16, 12, 14},
        // Bad on two columns at different sectors of one piece: every sector comes back.
        {"bad 0 110 111\nbad 2 2100 2101\n", {1, 1}, 10, 11, 0, 0},
    };
    for (const RAID_CASE& c : aCases) {
        for (int nIgnore : {1, 0}) {
            SCOPED_TRACE(std::string(c.pszBad) + "ignore bad sectors " + std::to_string(nIgnore));
            CThreeDisks disks(c.pszBad);
            CIgnoreBadSectors ignore(nIgnore);
            std::vector<LDM_EXTENT> extents = {Extent(disks[0], 100, 0, 512, 0), Extent(disks[1], 1000, 0, 512, 1),
                                               Extent(disks[2], 2000, 0, 512, 2)};
            std::unique_ptr<IDynamicDevice> device(
                CreateRaid5VolumeDevice(DYNAMIC_KIND_RAID5, Desc(1024), List(extents)));
            int nResult = 0;
            const std::vector<uint8_t> v = Read(device.get(), 0, 256, &nResult);
            EXPECT_EQ(c.aResult[nIgnore], nResult);
            for (uint64_t s = 0; s < 128; ++s) {
                const uint8_t* p = v.data() + s * kUnit;
                if (s >= c.u64LostFirst && s < c.u64LostEnd) {
                    EXPECT_TRUE(IsZero(p, 1)) << "sector " << s;
                } else if (s >= c.u64RebuiltFirst && s < c.u64RebuiltEnd) {
                    EXPECT_EQ(0, memcmp(XorUnits(1000 + s, 2000 + s).data(), p, kUnit)) << "sector " << s;
                } else {
                    EXPECT_TRUE(HoldsUnits(p, 100 + s, 1)) << "sector " << s;
                }
            }
            // Column 1 follows; without ignoring a lost sector ends the read before it.
            if (nResult) {
                EXPECT_TRUE(HoldsUnits(v.data() + 128 * kUnit, 1000, 128));
            } else {
                EXPECT_TRUE(IsZero(v.data() + 128 * kUnit, 128));
            }
        }
    }
}

TEST(DynamicVolumeDevice, MirrorOfSpannedMembersTurnsToTheOtherForAMissingDisk)
{
    CThreeDisks disks;
    std::vector<LDM_EXTENT> first = {Extent(disks[0], 1000, 0, 100, 0), Extent(nullptr, 0, 100, 100, 1)};
    std::vector<LDM_EXTENT> second = {Extent(disks[1], 5000, 0, 150, 0), Extent(disks[2], 7000, 150, 50, 1)};
    std::unique_ptr<IDynamicDevice> device(CreateMirrorVolumeDevice(
        DYNAMIC_KIND_MIRROR, Desc(200), CreateSpannedVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(200), List(first)),
        CreateSpannedVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(200), List(second))));
    int nResult = 0;
    const std::vector<uint8_t> v = Read(device.get(), 0, 200, &nResult);
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(HoldsUnits(v.data(), 1000, 63));                // piece 0..62 from the first member
    EXPECT_TRUE(HoldsUnits(v.data() + 63 * kUnit, 5063, 87));   // pieces reaching the missing disk
    EXPECT_TRUE(HoldsUnits(v.data() + 150 * kUnit, 7000, 50));
}

TEST(DynamicVolumeDevice, MembersAndSameVolume)
{
    CThreeDisks disks;
    std::vector<LDM_EXTENT> extents = {Extent(disks[0], 100, 0, 512, 0, "a"), Extent(disks[1], 1000, 0, 512, 1, "b"),
                                       Extent(disks[2], 2000, 0, 512, 2, "c")};
    std::unique_ptr<IDynamicDevice> striped(CreateStripedVolumeDevice(DYNAMIC_KIND_STRIPED, Desc(1536), List(extents)));
    std::unique_ptr<IDynamicDevice> stripedAgain(
        CreateStripedVolumeDevice(DYNAMIC_KIND_STRIPED, Desc(1536), List(extents)));
    std::unique_ptr<IDynamicDevice> raid(CreateRaid5VolumeDevice(DYNAMIC_KIND_RAID5, Desc(1024), List(extents)));
    EXPECT_TRUE(striped->IsSameVolume(stripedAgain.get()));
    EXPECT_FALSE(striped->IsSameVolume(raid.get()));            // the kinds differ
    extents[2].u64DiskStart = 2001;
    std::unique_ptr<IDynamicDevice> moved(CreateStripedVolumeDevice(DYNAMIC_KIND_STRIPED, Desc(1536), List(extents)));
    EXPECT_FALSE(striped->IsSameVolume(moved.get()));

    // A plain device inserts its extents at the front, in its order; a mirror appends each member's.
    CLdmExtentList members;
    LDM_EXTENT marker = Extent(nullptr, 0, 0, 1);
    members.push_back(&marker);
    striped->GetMembers(members);
    ASSERT_EQ(4u, members.size());
    EXPECT_STREQ("a", members.front()->szDiskId);
    EXPECT_EQ(&marker, members.back());

    std::vector<LDM_EXTENT> first = {Extent(disks[0], 100, 0, 64, 0, "m1")};
    std::vector<LDM_EXTENT> second = {Extent(disks[1], 900, 0, 64, 0, "m2")};
    std::unique_ptr<IDynamicDevice> mirror(CreateMirrorVolumeDevice(
        DYNAMIC_KIND_MIRROR, Desc(64), CreateSimpleVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(64), List(first)),
        CreateSimpleVolumeDevice(DYNAMIC_KIND_MIRROR, Desc(64), List(second))));
    members.clear();
    members.push_back(&marker);
    mirror->GetMembers(members);
    ASSERT_EQ(3u, members.size());
    EXPECT_EQ(&marker, members.front());
    EXPECT_STREQ("m1", (*std::next(members.begin()))->szDiskId);
    EXPECT_STREQ("m2", members.back()->szDiskId);
    EXPECT_EQ(DYNAMIC_KIND_MIRROR, mirror->GetDynamicKind());
}

} // namespace
