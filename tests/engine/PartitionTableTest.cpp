// Partition table analysis: the fixture disks against sfdisk, sgdisk and blkid; hand-built tables
// for what no tool writes (looping extended chains, GPT entries past the disk, untrusted GPT
// headers, damaged boot records); the gap rules; the type and kind tables.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BasicPartitionDevice.h"
#include "DeviceTestSupport.h"
#include "DiskDevice.h"
#include "GptPartitionType.h"
#include "MbrSector.h"
#include "PartitionTableAnalyze.h"
#include "PartitionTestSupport.h"
#include "TestSupport.h"

using devtest::CDeviceTable;
using parttest::CMemoryDisk;
using parttest::PutSlot;
using parttest::TOOL_PARTITION;

namespace {

bool IsGap(const PARTITION_ENTRY* p)
{
    return p->nPartitionType == 0 && p->u64FreeSectors == p->u64SectorCount && p->nFileSystemKind == 7;
}

// The analysis of one disk, its entries split into partitions and gaps; frees everything.
class CAnalysis {
public:
    CAnalysis(IStorageDevice* pDisk, const rvdplat::DISK_GEOMETRY& geometry)
    {
        CPartitionTableAnalyze analyze;
        m_nResult = analyze.AnalyzePartitionTable(pDisk, m_List, geometry);
        for (PARTITION_ENTRY* p : m_List)
            (IsGap(p) ? m_Gaps : m_Parts).push_back(p);
    }
    ~CAnalysis() { FreePartitionEntries(m_List, true); }

    int m_nResult = 0;
    CPartitionEntryList m_List;
    std::vector<PARTITION_ENTRY*> m_Parts;
    std::vector<PARTITION_ENTRY*> m_Gaps;
};

rvdplat::DISK_GEOMETRY Geometry(uint32_t nHeads, uint32_t nSectorsPerTrack)
{
    rvdplat::DISK_GEOMETRY geometry;
    memset(&geometry, 0, sizeof(geometry));
    geometry.Cylinders = 100;
    geometry.MediaType = 12;
    geometry.TracksPerCylinder = nHeads;
    geometry.SectorsPerTrack = nSectorsPerTrack;
    geometry.BytesPerSector = 512;
    return geometry;
}

struct RANGE {
    uint64_t u64Start;
    uint64_t u64Count;
    bool operator==(const RANGE& o) const { return u64Start == o.u64Start && u64Count == o.u64Count; }
};

std::ostream& operator<<(std::ostream& out, const RANGE& r)
{
    return out << "[" << r.u64Start << " +" << r.u64Count << "]";
}

std::vector<RANGE> Ranges(const std::vector<PARTITION_ENTRY*>& vec)
{
    std::vector<RANGE> ranges;
    for (const PARTITION_ENTRY* p : vec)
        ranges.push_back(RANGE{p->u64StartSector, p->u64SectorCount});
    return ranges;
}

// Every listed entry has a device over exactly its sectors, and the list is sorted by start.
void ExpectSoundList(const CPartitionEntryList& list, uint64_t u64DiskSectors)
{
    uint64_t u64Previous = 0;
    for (const PARTITION_ENTRY* p : list) {
        ASSERT_NE(nullptr, p->pDevice);
        const auto* pDevice = dynamic_cast<const CBasicPartitionDevice*>(p->pDevice);
        ASSERT_NE(nullptr, pDevice);
        EXPECT_EQ(p->u64StartSector, pDevice->GetStartSector());
        EXPECT_EQ(p->u64SectorCount, p->pDevice->GetTotalSectors());
        EXPECT_GT(p->u64SectorCount, 0u);
        EXPECT_LE(p->u64StartSector + p->u64SectorCount, u64DiskSectors);
        EXPECT_GE(p->u64StartSector, u64Previous);
        u64Previous = p->u64StartSector;
    }
}

// ------------------------------------------------------------------------------------------
// Fixture disks against the reference tools
// ------------------------------------------------------------------------------------------

struct FixtureDisk {
    const char* pszImage;
    bool bGpt;
    std::vector<RANGE> gaps;    // unallocated runs of at least one cylinder (255 x 63)
};

void PrintTo(const FixtureDisk& c, std::ostream* pOut) { *pOut << c.pszImage; }

class PartitionTableFixture : public ::testing::TestWithParam<FixtureDisk> {};

TEST_P(PartitionTableFixture, MatchesTheTools)
{
    const FixtureDisk& c = GetParam();
    const std::string strImage = rvdtest::FixturePath(c.pszImage);
    rvdtest::CTempDir scratch;
    CDeviceTable table;
    table.Load("disk " + strImage + "\n");
    CDiskDevice disk(0);
    ASSERT_TRUE(disk.IsOpen());
    rvdplat::DISK_GEOMETRY geometry;
    ASSERT_TRUE(disk.GetGeometry(&geometry));
    const uint64_t u64DiskSectors = disk.GetTotalSectors();

    CAnalysis analysis(&disk, geometry);
    EXPECT_EQ(static_cast<int>(analysis.m_List.size()), analysis.m_nResult);
    ExpectSoundList(analysis.m_List, u64DiskSectors);

    // What the tools list: the table's partitions without the extended container, and the
    // file system that fills a disk without a table.
    std::vector<TOOL_PARTITION> expected;
    const uint32_t nWholeDiskKind = parttest::BlkidKind(strImage, 0);
    if (!c.bGpt && nWholeDiskKind != 7) {
        const parttest::TOOL_VOLUME volume = parttest::ToolVolume(strImage, 0, u64DiskSectors, "");
        expected.push_back(TOOL_PARTITION{0, volume.u64TotalSectors, "whole", 0});
    }
    for (const TOOL_PARTITION& part : c.bGpt ? parttest::SgdiskPartitions(strImage) : parttest::SfdiskPartitions(strImage)) {
        if (part.strType != "5" && part.strType != "f")
            expected.push_back(part);
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const TOOL_PARTITION& a, const TOOL_PARTITION& b) { return a.u64Start < b.u64Start; });
    ASSERT_EQ(expected.size(), analysis.m_Parts.size());

    for (size_t i = 0; i < expected.size(); ++i) {
        const PARTITION_ENTRY* p = analysis.m_Parts[i];
        const TOOL_PARTITION& want = expected[i];
        SCOPED_TRACE("partition at " + std::to_string(want.u64Start));
        const parttest::TOOL_VOLUME volume =
            parttest::ToolVolume(strImage, want.u64Start, want.u64Count, scratch.File("part.img"));
        EXPECT_EQ(want.u64Start, p->u64StartSector);
        EXPECT_EQ(volume.nKind, p->nFileSystemKind);
        EXPECT_STREQ(volume.strLabel.c_str(), p->szLabel);
        EXPECT_EQ(volume.nSectorsPerCluster, p->nSectorsPerCluster);
        if (want.strType == "whole") {
            // NTFS counts its sectors without the backup boot sector; the tool counts clusters.
            if (p->nFileSystemKind == 3) {
                EXPECT_GE(p->u64SectorCount, volume.u64TotalSectors);
                EXPECT_LT(p->u64SectorCount, volume.u64TotalSectors + volume.nSectorsPerCluster);
            } else {
                EXPECT_EQ(volume.u64TotalSectors, p->u64SectorCount);
            }
            EXPECT_EQ(p->u64SectorCount, p->u64FileSystemSectors);
            EXPECT_EQ(KindToPartitionType(p->nFileSystemKind), p->nPartitionType);
            EXPECT_EQ(1u, p->bPrimary);
            EXPECT_EQ(volume.nBytesPerSector, p->nBytesPerSector);
        } else if (c.bGpt) {
            EXPECT_EQ(want.u64Count, p->u64SectorCount);
            EXPECT_EQ("0700", want.strType);
            EXPECT_EQ(KindToPartitionType(p->nFileSystemKind), p->nPartitionType);
            EXPECT_EQ(1u, p->bPrimary);
            EXPECT_EQ(geometry.BytesPerSector, p->nBytesPerSector);
        } else {
            EXPECT_EQ(want.u64Count, p->u64SectorCount);
            EXPECT_EQ(strtoul(want.strType.c_str(), nullptr, 16), p->nPartitionType);
            const bool bLogical = want.nIndex >= 5;
            EXPECT_EQ(bLogical ? 0u : 1u, p->bPrimary);
            EXPECT_EQ(bLogical ? geometry.SectorsPerTrack : 0u, p->nSectorsBefore);
            EXPECT_EQ(volume.nBytesPerSector, p->nBytesPerSector);
        }
        EXPECT_EQ(0u, p->bActive);
        // The size the file system records, also for the partition that ends at the disk's end.
        if (p->nFileSystemKind != 3 && p->nFileSystemKind != 7) {
            EXPECT_EQ(volume.u64TotalSectors, p->u64FileSystemSectors);
        }
    }
    EXPECT_EQ(c.gaps, Ranges(analysis.m_Gaps));
    for (const PARTITION_ENTRY* pGap : analysis.m_Gaps)
        EXPECT_EQ(0u, pGap->bPrimary);
}

const uint64_t kCylinder = 255 * 63;

INSTANTIATE_TEST_SUITE_P(
    PartitionTable, PartitionTableFixture,
    ::testing::Values(
        FixtureDisk{"mbr.img", false, {}},
        FixtureDisk{"gpt.img", true, {}},
        // The NTFS and extended entries were wiped: their sectors are one gap after the FAT16.
        FixtureDisk{"lost.img", false, {RANGE{2 * kCylinder, 4 * kCylinder}}},
        FixtureDisk{"fat12.img", false, {}}, FixtureDisk{"fat16.img", false, {}},
        FixtureDisk{"fat32.img", false, {}}, FixtureDisk{"ntfs.img", false, {}},
        FixtureDisk{"ntfs-c512.img", false, {}}, FixtureDisk{"ntfs-c64k.img", false, {}},
        FixtureDisk{"ntfs-c128k.img", false, {}},
        FixtureDisk{"hostile.img", false, {}},
        FixtureDisk{"ext2-1k-128.img", false, {}}, FixtureDisk{"ext2-1k-256.img", false, {}},
        FixtureDisk{"ext2-4k-128.img", false, {}}, FixtureDisk{"ext2-4k-256.img", false, {}},
        FixtureDisk{"ext3-1k-128.img", false, {}}, FixtureDisk{"ext3-1k-256.img", false, {}},
        FixtureDisk{"ext3-4k-128.img", false, {}}, FixtureDisk{"ext3-4k-256.img", false, {}}),
    [](const ::testing::TestParamInfo<FixtureDisk>& info) {
        std::string strName = info.param.pszImage;
        std::replace_if(strName.begin(), strName.end(), [](char ch) { return !isalnum(static_cast<unsigned char>(ch)); }, '_');
        return strName;
    });

// ------------------------------------------------------------------------------------------
// Hand-built tables
// ------------------------------------------------------------------------------------------

TEST(PartitionTable, DynamicDiskGivesNothing)
{
    // Type 0x42 in any slot, signature or not: the disk belongs to the dynamic-disk reader.
    CMemoryDisk mbr(100000);
    std::vector<uint8_t>& sector = mbr.Sector(0);
    PutSlot(sector, 0, 0x07, 2048, 10000);
    PutSlot(sector, 2, 0x42, 20000, 10000);
    sector[510] = 0;
    CPartitionEntryList list;
    list.push_back(new PARTITION_ENTRY);
    CPartitionTableAnalyze analyze;
    EXPECT_EQ(0, analyze.AnalyzePartitionTable(&mbr, list, Geometry(255, 63)));
    EXPECT_EQ(1u, list.size());
    FreePartitionEntries(list, true);

    // A GPT whose entries are the two LDM partitions.
    CMemoryDisk gpt(100000);
    PutSlot(gpt.Sector(0), 0, 0xEE, 1, 99999);
    std::vector<uint8_t>& entries = gpt.Sector(2);
    const char* aNames[] = {"LDM metadata partition", "LDM data partition"};
    for (int i = 0; i < 2; ++i) {
        for (size_t c = 0; aNames[i][c] != 0; ++c)
            entries[i * 128 + 56 + 2 * c] = static_cast<uint8_t>(aNames[i][c]);
    }
    CAnalysis analysis(&gpt, Geometry(255, 63));
    EXPECT_EQ(0, analysis.m_nResult);
    EXPECT_TRUE(analysis.m_List.empty());
}

// Extended chains that come back on themselves end, with each logical partition listed once.
struct ChainCase {
    const char* pszName;
    // Records: {sector, slots {type, first, count}}
    std::vector<std::pair<uint64_t, std::vector<std::vector<uint32_t>>>> records;
    std::vector<uint64_t> logicalStarts;
};

void PrintTo(const ChainCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class ExtendedChain : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ExtendedChain, EndsAndListsEachLogicalOnce)
{
    const ChainCase& c = GetParam();
    CMemoryDisk disk(4000000);
    PutSlot(disk.Sector(0), 0, 0x0F, 2048, 3000000);
    for (const auto& record : c.records) {
        std::vector<uint8_t>& sector = disk.Sector(record.first);
        for (size_t i = 0; i < record.second.size(); ++i)
            PutSlot(sector, static_cast<int>(i), static_cast<uint8_t>(record.second[i][0]), record.second[i][1], record.second[i][2]);
    }
    CAnalysis analysis(&disk, Geometry(255, 63));
    std::vector<uint64_t> starts;
    for (const PARTITION_ENTRY* p : analysis.m_Parts) {
        EXPECT_EQ(0u, p->bPrimary);
        EXPECT_EQ(63u, p->nSectorsBefore);
        starts.push_back(p->u64StartSector);
    }
    EXPECT_EQ(c.logicalStarts, starts);
    EXPECT_LT(disk.Reads(), 20000);
    ExpectSoundList(analysis.m_List, disk.GetTotalSectors());
}

INSTANTIATE_TEST_SUITE_P(
    PartitionTable, ExtendedChain,
    ::testing::Values(
        ChainCase{"Sound", {{2048, {{0x07, 63, 1000}, {0x05, 4096, 2000}}}, {6144, {{0x83, 63, 1000}}}},
                  {2111, 6207}},
        ChainCase{"LinksToItself", {{2048, {{0x07, 63, 1000}, {0x05, 0, 2000}}}}, {2111}},
        ChainCase{"LinksBackToTheFirstRecord",
                  {{2048, {{0x07, 63, 1000}, {0x05, 2048, 2000}}}, {4096, {{0x07, 63, 1000}, {0x05, 0, 2000}}}},
                  {2111, 4159}},
        // Records that hold only links, round and round: no logical partition ever repeats, so
        // only the records already read stop the walk.
        ChainCase{"LinksOnly", {{2048, {{0x05, 2048, 2000}}}, {4096, {{0x05, 0, 2000}}}}, {}},
        ChainCase{"LinksOnlyTwoPerRecord",
                  {{2048, {{0x05, 2048, 10}, {0x0F, 4096, 10}}}, {4096, {{0x05, 0, 10}, {0x05, 4096, 10}}},
                   {6144, {{0x05, 0, 10}, {0x0F, 2048, 10}, {0x07, 100, 50}}}},
                  {6244}},
        // Slots after a link are read once the linked record is done, as a recursion would.
        ChainCase{"LinkBeforeLogical",
                  {{2048, {{0x05, 4096, 2000}, {0x07, 63, 1000}}}, {6144, {{0x07, 63, 1000}}}},
                  {2111, 6207}},
        // A record without its signature ends its branch.
        ChainCase{"UnsignedRecord", {{2048, {{0x07, 63, 1000}, {0x05, 4096, 2000}}}}, {2111}}),
    [](const ::testing::TestParamInfo<ChainCase>& info) { return std::string(info.param.pszName); });

// A Linux extended partition (type 0x85) and its links hold their logical partitions as the
// other extended types do (they were listed as one partition of an unknown kind).
TEST(PartitionTable, LinuxExtendedPartitionIsWalked)
{
    CMemoryDisk disk(4000000);
    PutSlot(disk.Sector(0), 0, 0x83, 63, 1000);
    PutSlot(disk.Sector(0), 1, 0x85, 2048, 3000000);
    PutSlot(disk.Sector(2048), 0, 0x83, 63, 1000);
    PutSlot(disk.Sector(2048), 1, 0x85, 4096, 2000);
    PutSlot(disk.Sector(6144), 0, 0x83, 63, 1000);
    CAnalysis analysis(&disk, Geometry(255, 63));
    EXPECT_EQ((std::vector<RANGE>{{63, 1000}, {2111, 1000}, {6207, 1000}}), Ranges(analysis.m_Parts));
    ExpectSoundList(analysis.m_List, disk.GetTotalSectors());
}

TEST(PartitionTable, LongChainIsBounded)
{
    // Far more records than any disk holds, each with a logical partition and a link onward.
    const uint32_t nRecords = 3000;
    CMemoryDisk disk(2 * nRecords * 128 + 10000);
    PutSlot(disk.Sector(0), 0, 0x05, 2048, 2 * nRecords * 128);
    for (uint32_t i = 0; i < nRecords; ++i) {
        std::vector<uint8_t>& sector = disk.Sector(2048 + static_cast<uint64_t>(i) * 128);
        PutSlot(sector, 0, 0x07, 1, 100);
        PutSlot(sector, 1, 0x05, (i + 1) * 128, 128);
    }
    CAnalysis analysis(&disk, Geometry(255, 63));
    EXPECT_EQ(MAX_EXTENDED_BOOT_RECORDS, analysis.m_Parts.size());
}

TEST(PartitionTable, GapsFollowTheMinimumAndTheFurthestEnd)
{
    // One head of 63 sectors: a cylinder is below 206 sectors, so 206 is the minimum.
    CMemoryDisk disk(30000);
    std::vector<uint8_t>& mbr = disk.Sector(0);
    PutSlot(mbr, 0, 0x07, 205, 1000);       // 205 free sectors before it: no gap
    PutSlot(mbr, 1, 0x07, 1411, 8000);      // 206 free sectors after the first: a gap
    PutSlot(mbr, 2, 0x07, 1500, 100);       // nested in the second; must not pull the end back
    PutSlot(mbr, 3, 0x05, 9411, 20000);
    // The logical partition sits one track after its record: that track is no gap.
    PutSlot(disk.Sector(9411), 0, 0x07, 63, 20321);   // ends 205 sectors before the disk: no gap
    CAnalysis analysis(&disk, Geometry(1, 63));
    EXPECT_EQ((std::vector<RANGE>{{1205, 206}}), Ranges(analysis.m_Gaps));
    EXPECT_EQ((std::vector<RANGE>{{205, 1000}, {1411, 8000}, {1500, 100}, {9474, 20321}}), Ranges(analysis.m_Parts));
    for (const PARTITION_ENTRY* pGap : analysis.m_Gaps)
        EXPECT_EQ(pGap->u64SectorCount, pGap->u64FreeSectors);
    ExpectSoundList(analysis.m_List, disk.GetTotalSectors());
}

TEST(PartitionTable, GapMinimumIsOneCylinder)
{
    CMemoryDisk disk(100000);
    PutSlot(disk.Sector(0), 0, 0x07, 16064, 10000);
    PutSlot(disk.Sector(0), 1, 0x07, 16064 + 10000 + 16065, 10000);
    CAnalysis analysis(&disk, Geometry(255, 63));
    const uint64_t u64SecondEnd = 16064 + 10000 + 16065 + 10000;
    EXPECT_EQ((std::vector<RANGE>{{26064, 16065}, {u64SecondEnd, 100000 - u64SecondEnd}}), Ranges(analysis.m_Gaps));
}

TEST(PartitionTable, EntriesAreClampedToTheDisk)
{
    CMemoryDisk disk(50000);
    std::vector<uint8_t>& mbr = disk.Sector(0);
    PutSlot(mbr, 0, 0x83, 2048, 100000, 0x80);   // runs past the end: cut at the last sector
    PutSlot(mbr, 1, 0x07, 50000, 100);           // starts at the end: dropped
    PutSlot(mbr, 2, 0x07, 0xFFFFFFFF, 0xFFFFFFFF); // far beyond: dropped
    PutSlot(mbr, 3, 0x0C, 40000, 0);             // no size: runs to the end
    CAnalysis analysis(&disk, Geometry(255, 63));
    EXPECT_EQ((std::vector<RANGE>{{2048, 47952}, {40000, 10000}}), Ranges(analysis.m_Parts));
    ASSERT_EQ(2u, analysis.m_Parts.size());
    EXPECT_EQ(1u, analysis.m_Parts[0]->bActive);
    EXPECT_EQ(0x83u, analysis.m_Parts[0]->nPartitionType);
    EXPECT_EQ(7u, analysis.m_Parts[0]->nFileSystemKind);
    EXPECT_EQ(0u, analysis.m_Parts[0]->u64FileSystemSectors);
    ExpectSoundList(analysis.m_List, disk.GetTotalSectors());
}

TEST(PartitionTable, DamagedMbrGivesOnlyTheGap)
{
    struct Case {
        const char* pszName;
        void (*damage)(CMemoryDisk&);
    };
    const Case cases[] = {
        {"no signature", [](CMemoryDisk& d) { d.Sector(0)[511] = 0; }},
        {"boot indicator 0x01", [](CMemoryDisk& d) { d.Sector(0)[446 + 16 * 3] = 0x01; }},
        {"unreadable sector 0", [](CMemoryDisk& d) { d.MarkBad(0); }},
        {"all zero", [](CMemoryDisk& d) { d.Sector(0).assign(512, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CMemoryDisk disk(100000);
        PutSlot(disk.Sector(0), 0, 0x07, 2048, 10000);
        c.damage(disk);
        CAnalysis analysis(&disk, Geometry(255, 63));
        EXPECT_TRUE(analysis.m_Parts.empty());
        EXPECT_EQ((std::vector<RANGE>{{0, 100000}}), Ranges(analysis.m_Gaps));
    }
}

// Fills a GPT entry: type GUID text, first and last LBA.
void PutGptEntry(CMemoryDisk& disk, int nIndex, const char* pszGuid, uint64_t u64First, uint64_t u64Last)
{
    std::vector<uint8_t> entry(128, 0);
    unsigned a[11] = {0};
    ASSERT_EQ(11, sscanf(pszGuid, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &a[0], &a[1], &a[2], &a[3], &a[4],
                         &a[5], &a[6], &a[7], &a[8], &a[9], &a[10]));
    for (int i = 0; i < 4; ++i)
        entry[i] = static_cast<uint8_t>(a[0] >> (8 * i));
    entry[4] = static_cast<uint8_t>(a[1]);
    entry[5] = static_cast<uint8_t>(a[1] >> 8);
    entry[6] = static_cast<uint8_t>(a[2]);
    entry[7] = static_cast<uint8_t>(a[2] >> 8);
    for (int i = 0; i < 8; ++i)
        entry[8 + i] = static_cast<uint8_t>(a[3 + i]);
    for (int i = 0; i < 8; ++i) {
        entry[32 + i] = static_cast<uint8_t>(u64First >> (8 * i));
        entry[40 + i] = static_cast<uint8_t>(u64Last >> (8 * i));
    }
    const uint64_t u64Offset = 2 * 512 + static_cast<uint64_t>(nIndex) * 128;
    memcpy(disk.Sector(u64Offset / 512).data() + u64Offset % 512, entry.data(), 128);
}

const char* const kBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
const char* const kLinuxData = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";

TEST(PartitionTable, GptEntries)
{
    CMemoryDisk disk(100000);
    PutSlot(disk.Sector(0), 0, 0xEE, 1, 99999);
    PutGptEntry(disk, 0, kBasicData, 2048, 4095);                                 // last LBA counts
    PutGptEntry(disk, 1, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", 5000, 6000);     // EFI system
    PutGptEntry(disk, 2, "E3C9E316-0B5C-4DB8-817D-F92DF00215AE", 7000, 8000);     // Microsoft reserved
    PutGptEntry(disk, 3, "01234567-89AB-CDEF-0123-456789ABCDEF", 9000, 9999);     // unknown
    PutGptEntry(disk, 4, "00000000-0000-0000-0000-000000000000", 10000, 11000);   // unused slot
    PutGptEntry(disk, 5, kLinuxData, 90000, 200000);                              // cut at the disk's end
    PutGptEntry(disk, 6, kBasicData, 100000, 100100);                             // starts at the end
    PutGptEntry(disk, 7, kBasicData, 1ull << 63, UINT64_MAX);                     // far beyond
    PutGptEntry(disk, 127, "6A898CC3-1DD2-11B2-99A6-080020736631", 20000, 29999); // last slot, listed twice in the table
    CAnalysis analysis(&disk, Geometry(255, 63));
    EXPECT_EQ((std::vector<RANGE>{{2048, 2048}, {20000, 10000}, {90000, 10000}}), Ranges(analysis.m_Parts));
    for (const PARTITION_ENTRY* p : analysis.m_Parts) {
        EXPECT_EQ(0xEEu, p->nPartitionType);
        EXPECT_EQ(1u, p->bPrimary);
        EXPECT_EQ(0u, p->bActive);
        EXPECT_EQ(512u, p->nBytesPerSector);
    }
    EXPECT_EQ((std::vector<RANGE>{{30000, 60000}}), Ranges(analysis.m_Gaps));
    ExpectSoundList(analysis.m_List, disk.GetTotalSectors());

    // An unreadable entry array lists no GPT partition; the disk is one gap.
    disk.MarkBad(20);
    CAnalysis unreadable(&disk, Geometry(255, 63));
    EXPECT_TRUE(unreadable.m_Parts.empty());
    EXPECT_EQ((std::vector<RANGE>{{0, 100000}}), Ranges(unreadable.m_Gaps));
}

// Writes little-endian bytes into an image file.
void Poke(const std::string& strPath, uint64_t u64Offset, const std::vector<uint8_t>& vecBytes)
{
    FILE* pFile = fopen(strPath.c_str(), "r+b");
    ASSERT_NE(nullptr, pFile);
    ASSERT_EQ(0, fseeko(pFile, static_cast<off_t>(u64Offset), SEEK_SET));
    ASSERT_EQ(vecBytes.size(), fwrite(vecBytes.data(), 1, vecBytes.size(), pFile));
    fclose(pFile);
}

TEST(PartitionTable, GptHeaderIsNotTrusted)
{
    // The entries are read from where every tool puts them; a header claiming an absurd entry
    // count or size, or failing its checksums, changes nothing and sizes nothing.
    CDeviceTable table;
    const std::string strImage = table.MakeImage("gpt.img", 16 << 20);
    parttest::Capture("sgdisk -n 1:2048:8191 -t 1:0700 -n 2:8192:20479 -t 2:8300 " + parttest::Quote(strImage));
    table.Load("disk " + strImage + "\n");
    std::vector<RANGE> intact;
    {
        CDiskDevice disk(0);
        rvdplat::DISK_GEOMETRY geometry;
        ASSERT_TRUE(disk.GetGeometry(&geometry));
        CAnalysis analysis(&disk, geometry);
        intact = Ranges(analysis.m_Parts);
    }
    EXPECT_EQ((std::vector<RANGE>{{2048, 6144}, {8192, 12288}}), intact);

    const uint64_t u64Backup = (16 << 20) - 512;
    for (uint64_t u64Header : {static_cast<uint64_t>(512), u64Backup}) {
        Poke(strImage, u64Header + 16, {0xDE, 0xAD, 0xBE, 0xEF});   // header checksum
        Poke(strImage, u64Header + 72, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});   // entry array LBA
        Poke(strImage, u64Header + 80, {0xFF, 0xFF, 0xFF, 0xFF});   // entry count
        Poke(strImage, u64Header + 84, {0xFF, 0xFF, 0xFF, 0xFF});   // entry size
        Poke(strImage, u64Header + 88, {0x01, 0x02, 0x03, 0x04});   // entry array checksum
    }
    CDiskDevice disk(0);
    rvdplat::DISK_GEOMETRY geometry;
    ASSERT_TRUE(disk.GetGeometry(&geometry));
    CAnalysis analysis(&disk, geometry);
    EXPECT_EQ(intact, Ranges(analysis.m_Parts));
}

// A type GUID the table does not name (the Linux x86-64 root and home types here) lists its
// partition when a file system the readers know starts there, and not otherwise.
TEST(PartitionTable, GptTypeNotInTheTableIsListedWhenItHoldsAFileSystem)
{
    CDeviceTable table;
    const std::string strImage = table.MakeImage("gpt.img", 16 << 20);
    parttest::Capture("sgdisk -n 1:2048:22527 -t 1:8304 -n 2:22528:30719 -t 2:8302 " + parttest::Quote(strImage));
    parttest::Capture("mkfs.fat -F 16 --offset 2048 " + parttest::Quote(strImage) + " 10240 2>&1");
    table.Load("disk " + strImage + "\n");
    CDiskDevice disk(0);
    rvdplat::DISK_GEOMETRY geometry;
    ASSERT_TRUE(disk.GetGeometry(&geometry));
    CAnalysis analysis(&disk, geometry);
    ASSERT_EQ((std::vector<RANGE>{{2048, 20480}}), Ranges(analysis.m_Parts));
    EXPECT_EQ(1u, analysis.m_Parts[0]->nFileSystemKind);   // FAT16
    EXPECT_EQ(20480u, analysis.m_Parts[0]->u64FileSystemSectors);
    EXPECT_EQ(KindToPartitionType(1), analysis.m_Parts[0]->nPartitionType);
}

TEST(PartitionTable, BackupGptServesWhenThePrimaryIsGone)
{
    CDeviceTable table;
    const uint64_t u64DiskBytes = 16 << 20;
    const std::string strImage = table.MakeImage("gpt.img", u64DiskBytes);
    parttest::Capture("sgdisk -n 1:2048:8191 -t 1:0700 -n 2:8192:20479 -t 2:8300 " + parttest::Quote(strImage));
    table.Load("disk " + strImage + "\n");
    auto ranges = [] {
        CDiskDevice disk(0);
        rvdplat::DISK_GEOMETRY geometry;
        EXPECT_TRUE(disk.GetGeometry(&geometry));
        CAnalysis analysis(&disk, geometry);
        return Ranges(analysis.m_Parts);
    };
    // The primary header and entry array wiped; the protective MBR stays.
    Poke(strImage, 512, std::vector<uint8_t>(33 * 512, 0));
    EXPECT_EQ((std::vector<RANGE>{{2048, 6144}, {8192, 12288}}), ranges());

    // A backup array whose checksum no longer holds is not trusted.
    Poke(strImage, u64DiskBytes - 33 * 512 + 32, {0x01});
    EXPECT_TRUE(ranges().empty());
}

TEST(PartitionTable, ZeroedBootSectorLeavesThePartitionUnknown)
{
    rvdtest::CTempDir dir;
    const std::string strImage = dir.File("mbr.img");
    parttest::Capture("cp --sparse=always " + parttest::Quote(rvdtest::FixturePath("mbr.img")) + " " + parttest::Quote(strImage));
    Poke(strImage, 2048 * 512, std::vector<uint8_t>(512, 0));          // FAT16 boot sector
    Poke(strImage, (53248 + 0) * 512, std::vector<uint8_t>(512, 0));   // NTFS boot sector
    CDeviceTable table;
    table.Load("disk " + strImage + "\n");
    CDiskDevice disk(0);
    rvdplat::DISK_GEOMETRY geometry;
    ASSERT_TRUE(disk.GetGeometry(&geometry));
    CAnalysis analysis(&disk, geometry);
    ASSERT_EQ(4u, analysis.m_Parts.size());
    const uint32_t aKinds[] = {7, 4, 7, 2};
    const uint32_t aTypes[] = {0x0E, 0x83, 0x07, 0x0C};
    for (size_t i = 0; i < 4; ++i) {
        const PARTITION_ENTRY* p = analysis.m_Parts[i];
        EXPECT_EQ(aKinds[i], p->nFileSystemKind) << i;
        EXPECT_EQ(aTypes[i], p->nPartitionType) << i;
        if (aKinds[i] == 7) {
            EXPECT_STREQ("", p->szLabel);
            EXPECT_EQ(0u, p->u64FileSystemSectors);
            EXPECT_EQ(0u, p->nSectorsPerCluster);
        }
    }
}

TEST(PartitionTable, BootSectorAndTableInOneSectorGiveBoth)
{
    rvdtest::CTempDir dir;
    const std::string strImage = dir.File("fat16.img");
    parttest::Capture("cp --sparse=always " + parttest::Quote(rvdtest::FixturePath("fat16.img")) + " " + parttest::Quote(strImage));
    std::vector<uint8_t> sector = rvdtest::ReadFileBytes(strImage);
    sector.resize(512);
    PutSlot(sector, 1, 0x83, 20000, 5000);
    Poke(strImage, 0, sector);
    CDeviceTable table;
    table.Load("disk " + strImage + "\n");
    CDiskDevice disk(0);
    rvdplat::DISK_GEOMETRY geometry;
    ASSERT_TRUE(disk.GetGeometry(&geometry));
    CAnalysis analysis(&disk, geometry);
    EXPECT_EQ((std::vector<RANGE>{{0, 32768}, {20000, 5000}}), Ranges(analysis.m_Parts));
    ASSERT_EQ(2u, analysis.m_Parts.size());
    EXPECT_EQ(1u, analysis.m_Parts[0]->nFileSystemKind);
    EXPECT_EQ(0x06u, analysis.m_Parts[0]->nPartitionType);
    EXPECT_STREQ("FAT16VOL", analysis.m_Parts[0]->szLabel);
    EXPECT_EQ(7u, analysis.m_Parts[1]->nFileSystemKind);
}

// The boot code of a FAT or NTFS boot sector may run through bytes 446-509, where an MBR keeps
// its table: other formatters than the fixtures' put message texts there. Whatever those bytes
// hold, such a disk is the one file system it begins with, as the untouched image is.
TEST(PartitionTable, BootCodeWhereATableWouldLieIsNoTable)
{
    struct Case {
        const char* pszName;
        const char* pszImage;
        uint32_t nKind;
        size_t nOffset;     // in the sector
        uint8_t byValue;
    };
    const Case cases[] = {
        {"NTFS, 'B' of a message under the third type byte", "ntfs.img", 3, 446 + 32 + 4, 'B'},
        {"NTFS, 0xEE under the first type byte", "ntfs-c512.img", 3, 446 + 4, 0xEE},
        {"FAT16, 'B' of a message under the first type byte", "fat16.img", 1, 446 + 4, 'B'},
        {"FAT32, 0xEE under the first type byte", "fat32.img", 2, 446 + 4, 0xEE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        rvdtest::CTempDir dir;
        const std::string strImage = dir.File("disk.img");
        parttest::Capture("cp --sparse=always " + parttest::Quote(rvdtest::FixturePath(c.pszImage)) + " " +
                          parttest::Quote(strImage));
        CDeviceTable table;
        table.Load("disk " + strImage + "\n");
        std::vector<RANGE> untouched;
        {
            CDiskDevice disk(0);
            rvdplat::DISK_GEOMETRY geometry;
            ASSERT_TRUE(disk.GetGeometry(&geometry));
            CAnalysis analysis(&disk, geometry);
            untouched = Ranges(analysis.m_Parts);
            ASSERT_EQ(1u, untouched.size());
            EXPECT_EQ(0u, untouched[0].u64Start);
        }
        std::string strText = "\r\nA disk read error occurred\r\nBOOT loader missing\r\nPress any key";
        strText.resize(64, ' ');
        std::vector<uint8_t> vecBootCode(strText.begin(), strText.end());
        vecBootCode[c.nOffset - 446] = c.byValue;
        Poke(strImage, 446, vecBootCode);

        CDiskDevice disk(0);
        EXPECT_EQ(0, disk.IsDynamic());
        rvdplat::DISK_GEOMETRY geometry;
        ASSERT_TRUE(disk.GetGeometry(&geometry));
        CAnalysis analysis(&disk, geometry);
        EXPECT_EQ(untouched, Ranges(analysis.m_Parts));
        if (analysis.m_Parts.size() == 1) {
            EXPECT_EQ(c.nKind, analysis.m_Parts[0]->nFileSystemKind);
            EXPECT_EQ(KindToPartitionType(c.nKind), analysis.m_Parts[0]->nPartitionType);
        }
    }
}

// ------------------------------------------------------------------------------------------
// Tables and names
// ------------------------------------------------------------------------------------------

TEST(PartitionTableNames, TypeAndKindTables)
{
    const std::pair<uint32_t, uint32_t> types[] = {
        {0x01, 0}, {0x11, 0}, {0x04, 1}, {0x06, 1}, {0x0E, 1}, {0x14, 1}, {0x16, 1}, {0x1E, 1},
        {0x0B, 2}, {0x0C, 2}, {0x1B, 2}, {0x07, 3}, {0x17, 3}, {0x82, 4}, {0x83, 4}, {0x85, 4},
        {0x8E, 4}, {0x92, 4}, {0x93, 4}, {0x00, 7}, {0x05, 7}, {0x0F, 7}, {0x42, 7}, {0xEE, 7}, {0x183, 7}};
    for (const auto& t : types)
        EXPECT_EQ(t.second, PartitionTypeToFileSystemKind(t.first)) << std::hex << t.first;
    const uint32_t aKindTypes[] = {0x01, 0x06, 0x0B, 0x07, 0x83, 0x83, 0xEE, 0xEE};
    for (uint32_t nKind = 0; nKind < 8; ++nKind)
        EXPECT_EQ(aKindTypes[nKind], KindToPartitionType(nKind)) << nKind;

    char szName[16];
    const char* aKindNames[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3", "UNKNOWN", "UNKNOWN"};
    for (uint32_t nKind = 0; nKind < 8; ++nKind) {
        GetFileSystemKindName(nKind, szName, sizeof(szName));
        EXPECT_STREQ(aKindNames[nKind], szName);
    }
    GetFileSystemKindName(0xFFFFFFFF, szName, sizeof(szName));
    EXPECT_STREQ("UNKNOWN", szName);
    const char* aDynamicNames[] = {"UNKNOWN", "UNKNOWN", "SIMPLE", "MIRROR", "SPANNED", "STRIPPED", "RAID5", "UNKNOWN"};
    for (uint32_t nKind = 0; nKind < 8; ++nKind) {
        GetDynamicVolumeKindName(nKind, szName, sizeof(szName));
        EXPECT_STREQ(aDynamicNames[nKind], szName);
    }
    char szShort[4];
    GetDynamicVolumeKindName(5, szShort, sizeof(szShort));
    EXPECT_STREQ("STR", szShort);
}

TEST(PartitionTableNames, GuidTextAndKnownTypes)
{
    const uint8_t aEntry[128] = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11, 0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
    GPT_ENTRY entry;
    ASSERT_TRUE(ReadGptEntry(aEntry, sizeof(aEntry), &entry));
    EXPECT_FALSE(ReadGptEntry(aEntry, 127, &entry));
    ASSERT_TRUE(ReadGptEntry(aEntry, sizeof(aEntry), &entry));
    char szGuid[37];
    GuidToString(entry.typeGuid, szGuid);
    EXPECT_STREQ("C12A7328-F81F-11D2-BA4B-00A0C93EC93B", szGuid);
    EXPECT_FALSE(IsKnownGptType(entry));   // EFI system: row 2

    // Every row's GUID reads back as itself; rows 1 to 4 make no partition.
    for (const GPT_PARTITION_TYPE& row : g_GptPartitionTypes) {
        unsigned a[11] = {0};
        ASSERT_EQ(11, sscanf(row.szGuid, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &a[0], &a[1], &a[2], &a[3],
                             &a[4], &a[5], &a[6], &a[7], &a[8], &a[9], &a[10]));
        GPT_ENTRY e;
        memset(&e, 0, sizeof(e));
        e.typeGuid.Data1 = a[0];
        e.typeGuid.Data2 = static_cast<uint16_t>(a[1]);
        e.typeGuid.Data3 = static_cast<uint16_t>(a[2]);
        for (int i = 0; i < 8; ++i)
            e.typeGuid.Data4[i] = static_cast<uint8_t>(a[3 + i]);
        GuidToString(e.typeGuid, szGuid);
        EXPECT_STREQ(row.szGuid, szGuid);
        EXPECT_EQ(row.nId > 4, IsKnownGptType(e)) << row.nId;
    }
    EXPECT_EQ(52u, GPT_PARTITION_TYPE_COUNT);
    EXPECT_EQ(1, g_GptPartitionTypes[0].nId);
    EXPECT_EQ(52, g_GptPartitionTypes[51].nId);
}

TEST(PartitionTableNames, MbrSectorParser)
{
    std::vector<uint8_t> sector(512, 0);
    PutSlot(sector, 0, 0x07, 2048, 4096, 0x80);
    MBR_ENTRY aEntries[4];
    EXPECT_TRUE(ReadMbrSector(sector.data(), sector.size(), aEntries));
    EXPECT_FALSE(aEntries[0].bEmpty);
    EXPECT_EQ(0x80, aEntries[0].byBootIndicator);
    EXPECT_EQ(2048u, aEntries[0].nFirstSector);
    EXPECT_EQ(4096u, aEntries[0].nSectorCount);
    EXPECT_TRUE(aEntries[1].bEmpty);
    // A slot with only CHS bytes set is not empty.
    sector[446 + 16 + 1] = 1;
    EXPECT_TRUE(ReadMbrSector(sector.data(), sector.size(), aEntries));
    EXPECT_FALSE(aEntries[1].bEmpty);
    EXPECT_FALSE(ReadMbrSector(sector.data(), 511, aEntries));
    EXPECT_TRUE(aEntries[0].bEmpty);
    EXPECT_FALSE(ReadMbrSector(nullptr, 512, aEntries));
}

TEST(PartitionTableNames, BootSectorKindAndLabelByKind)
{
    struct Case {
        const char* pszImage;
        uint32_t nKind;
    };
    const Case cases[] = {{"fat12.img", 0}, {"fat16.img", 1}, {"fat32.img", 2}, {"ntfs.img", 3},
                          {"ext2-1k-128.img", 7}, {"ext3-4k-256.img", 7}};
    for (const Case& c : cases) {
        std::vector<uint8_t> data = rvdtest::ReadFileBytes(rvdtest::FixturePath(c.pszImage));
        EXPECT_EQ(c.nKind, GetBootSectorFileSystemKind(data.data(), 512)) << c.pszImage;
        EXPECT_EQ(7u, GetBootSectorFileSystemKind(data.data(), 511)) << c.pszImage;
    }
    EXPECT_EQ(7u, GetBootSectorFileSystemKind(nullptr, 512));

    CDeviceTable table;
    table.Load("disk " + rvdtest::FixturePath("mbr.img") + "\n");
    CDiskDevice disk(0);
    CBasicPartitionDevice fat(&disk, 2048, 32768);
    CBasicPartitionDevice ntfs(&disk, 53248, 32768);
    char szLabel[100];
    EXPECT_TRUE(ReadVolumeLabelByKind(&fat, 1, szLabel, sizeof(szLabel)));
    EXPECT_STREQ("MBR FAT16", szLabel);
    EXPECT_TRUE(ReadVolumeLabelByKind(&ntfs, 3, szLabel, sizeof(szLabel)));
    EXPECT_STREQ("MBR NTFS", szLabel);
    char szSmall[4];
    EXPECT_TRUE(ReadVolumeLabelByKind(&ntfs, 3, szSmall, sizeof(szSmall)));
    EXPECT_STREQ("MBR", szSmall);
    EXPECT_FALSE(ReadVolumeLabelByKind(&fat, 3, szLabel, sizeof(szLabel)));
    EXPECT_FALSE(ReadVolumeLabelByKind(&ntfs, 2, szLabel, sizeof(szLabel)));
    EXPECT_FALSE(ReadVolumeLabelByKind(&fat, 4, szLabel, sizeof(szLabel)));
    EXPECT_FALSE(ReadVolumeLabelByKind(&fat, static_cast<uint32_t>(-1), szLabel, sizeof(szLabel)));
    EXPECT_FALSE(ReadVolumeLabelByKind(nullptr, 1, szLabel, sizeof(szLabel)));
}

} // namespace
