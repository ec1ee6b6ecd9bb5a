// The module's lists against the partition tables as sfdisk reads them, the fixture script's
// own record of each image, and the engine's collection, which must hold every listed volume
// under the same disk number, start sector and sector count.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DiskDevice.h"
#include "OmbrelTestSupport.h"
#include "TestSupport.h"
#include "VolumeCollection.h"
#include "WideText.h"

using namespace ombreltest;

namespace {

struct SFDISK_PARTITION {
    uint64_t ullStart;
    uint64_t ullSize;
    std::string strType;
    bool bBootable;
};

std::vector<SFDISK_PARTITION> SfdiskDump(const std::string& strImage)
{
    std::vector<SFDISK_PARTITION> partitions;
    std::istringstream lines(RunCommand("sfdisk --dump '" + strImage + "'"));
    const std::regex line("start=\\s*(\\d+), size=\\s*(\\d+), type=([0-9A-Fa-f-]+)(.*)");
    std::string strLine;
    while (std::getline(lines, strLine)) {
        std::smatch match;
        if (std::regex_search(strLine, match, line))
            partitions.push_back({std::stoull(match[1].str()), std::stoull(match[2].str()), match[3].str(),
                                  match[4].str().find("bootable") != std::string::npos});
    }
    return partitions;
}

bool IsExtendedType(const std::string& strType)
{
    return strType == "5" || strType == "f" || strType == "85";
}

DWORD KindOf(const std::string& strFileSystem)
{
    static const std::map<std::string, DWORD> kinds = {{"fat12", 0}, {"fat16", 1}, {"fat32", 2},
                                                       {"ntfs", 3},  {"ext2", 4},  {"ext3", 5}};
    auto it = kinds.find(strFileSystem);
    return it != kinds.end() ? it->second : FILE_SYSTEM_UNKNOWN;
}

const PARTITION_INFO_EX* FindAt(const std::vector<PARTITION_INFO_EX>& records, DWORD dwDisk, uint64_t ullStart,
                                uint64_t ullCount)
{
    for (const PARTITION_INFO_EX& record : records) {
        if (record.dwDiskNumber == dwDisk && record.ullStartSector == ullStart && record.ullTotalSectors == ullCount)
            return &record;
    }
    return nullptr;
}

// Entries of a disk follow each other by start and never overlap.
void ExpectOrderedAndDisjoint(const std::vector<PARTITION_INFO_EX>& records)
{
    for (size_t i = 1; i < records.size(); ++i)
        EXPECT_GE(records[i].ullStartSector, records[i - 1].ullStartSector + records[i - 1].ullTotalSectors)
            << "entry " << i;
}

} // namespace

TEST(OmbrelListing, DisksInNumberOrderWithSizesFlagsAndNames)
{
    const std::vector<DISK_INFO_EX> disks = Disks();
    ASSERT_EQ(static_cast<size_t>(kDiskCount), disks.size());
    for (DWORD n = 0; n < static_cast<DWORD>(kDiskCount); ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(n, disks[n].dwDiskNumber);
        EXPECT_EQ(512u, disks[n].dwBytesPerSector);
        EXPECT_EQ(std::filesystem::file_size(DiskImage(n)) / 512, disks[n].ullTotalSectors);
        // A boot sector whose boot code holds 0x42 where a table would lie is no dynamic disk.
        EXPECT_EQ(IsDynamicDiskNumber(n) ? 1u : 0u, disks[n].dwFlags & DISK_FLAG_DYNAMIC);
        // An image file without a storage descriptor is named by its file name.
        const std::string strImage = DiskImage(n);
        EXPECT_EQ(strImage.substr(strImage.rfind('/') + 1), rvd::ReadNarrowText(disks[n].szDescription));
    }
}

TEST(OmbrelListing, BasicDisksMatchSfdiskAndTheFixtureRecord)
{
    for (DWORD dwDisk : {kMbrDisk, kGptDisk}) {
        const std::string strImage = DiskImage(dwDisk);
        SCOPED_TRACE(strImage);
        const std::vector<PARTITION_INFO_EX> records = Partitions(dwDisk);
        const std::vector<SFDISK_PARTITION> dump = SfdiskDump(strImage);
        const std::vector<rvdtest::PartitionEntry> fixture =
            rvdtest::ReadPartitions(strImage.substr(strImage.rfind('/') + 1));
        ASSERT_FALSE(dump.empty());
        size_t nListed = 0;
        for (const SFDISK_PARTITION& partition : dump) {
            if (IsExtendedType(partition.strType))
                continue;
            ++nListed;
            const PARTITION_INFO_EX* pRecord = FindAt(records, dwDisk, partition.ullStart, partition.ullSize);
            ASSERT_NE(nullptr, pRecord) << "partition at " << partition.ullStart;
            EXPECT_EQ(partition.bBootable ? 1u : 0u, pRecord->dwActive);
            EXPECT_EQ(512u, pRecord->dwBytesPerSector);
            const rvdtest::PartitionEntry* pFixture = nullptr;
            for (const rvdtest::PartitionEntry& entry : fixture)
                if (entry.nStart == partition.ullStart)
                    pFixture = &entry;
            ASSERT_NE(nullptr, pFixture);
            EXPECT_EQ(KindOf(pFixture->strFileSystem), pRecord->dwFileSystem);
            EXPECT_EQ(pFixture->strLabel, Utf8(pRecord->szVolumeLabel, 100));
            EXPECT_EQ(pFixture->strRole == "logical" ? 0u : 1u, pRecord->dwPrimary);
            EXPECT_GT(pRecord->ullFreeSectors, 0u);
            EXPECT_LT(pRecord->ullFreeSectors, pRecord->ullTotalSectors);
        }
        // Nothing but the table's partitions: the free stretches of these disks are below the
        // one-cylinder minimum.
        EXPECT_EQ(nListed, records.size());
        ExpectOrderedAndDisjoint(records);
    }
}

TEST(OmbrelListing, FileSystemWithoutTableIsOneWholeDiskEntry)
{
    struct CASE {
        DWORD dwDisk;
        uint64_t ullSectors;  // the file system's own size
        DWORD dwKind;
    };
    for (const CASE& c : {CASE{kFat32Disk, 81920, FILE_SYSTEM_FAT32},  // fsck.fat
                          CASE{kNtfsDisk, NtfsBootSectorSectors(DiskImage(kNtfsDisk)), FILE_SYSTEM_NTFS},
                          CASE{kBootCodeDisk, NtfsBootSectorSectors(DiskImage(kBootCodeDisk)), FILE_SYSTEM_NTFS}}) {
        SCOPED_TRACE(DiskImage(c.dwDisk));
        const std::vector<PARTITION_INFO_EX> records = Partitions(c.dwDisk);
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ(0u, records[0].ullStartSector);
        EXPECT_EQ(c.ullSectors, records[0].ullTotalSectors);
        EXPECT_EQ(c.dwKind, records[0].dwFileSystem);
        EXPECT_EQ(1u, records[0].dwPrimary);
    }
}

TEST(OmbrelListing, UnpartitionedSpaceIsListedAsUnallocated)
{
    const std::vector<PARTITION_INFO_EX> records = Partitions(kGapDisk);
    ASSERT_EQ(2u, records.size());
    // The partition holds no file system the recognisers know.
    EXPECT_EQ(kGapPartitionStart, records[0].ullStartSector);
    EXPECT_EQ(kGapPartitionSectors, records[0].ullTotalSectors);
    EXPECT_EQ(static_cast<DWORD>(FILE_SYSTEM_UNKNOWN), records[0].dwFileSystem);
    EXPECT_EQ(0u, records[0].ullFreeSectors);
    // The rest of the disk; the 2048 sectors before the partition are less than a cylinder.
    const uint64_t ullGapStart = kGapPartitionStart + kGapPartitionSectors;
    EXPECT_EQ(ullGapStart, records[1].ullStartSector);
    EXPECT_EQ(kGapDiskSectors - ullGapStart, records[1].ullTotalSectors);
    EXPECT_EQ(static_cast<DWORD>(FILE_SYSTEM_UNALLOCATED), records[1].dwFileSystem);
    EXPECT_EQ(records[1].ullTotalSectors, records[1].ullFreeSectors);
    EXPECT_EQ(0u, records[1].dwPrimary);
    EXPECT_EQ(0, records[1].szVolumeLabel[0]);
}

TEST(OmbrelListing, QuickScanVolumesLetteredFirstWithoutUnallocatedSpace)
{
    const std::vector<PARTITION_INFO_EX> volumes = Volumes();
    // A: (the floppy), E: (the mounted NTFS), then mbr 4, gpt 1, fat32 1, gap.img's partition,
    // the two bare NTFS disks.
    ASSERT_EQ(11u, volumes.size());
    EXPECT_EQ('A', volumes[0].chDriveLetter);
    EXPECT_EQ(OMBREL_NO_DISK, volumes[0].dwDiskNumber);
    EXPECT_EQ(static_cast<DWORD>(FILE_SYSTEM_FAT12), volumes[0].dwFileSystem);
    EXPECT_EQ(2880u, volumes[0].ullTotalSectors);
    EXPECT_EQ('E', volumes[1].chDriveLetter);
    EXPECT_EQ(kGptDisk, volumes[1].dwDiskNumber);
    EXPECT_EQ(kMountedStart, volumes[1].ullStartSector);
    EXPECT_EQ(u"GPT NTFS", rvd::ReadWideText(volumes[1].szVolumeLabel));
    // The free space the system reports for a mounted volume wins over the file system's count.
    EXPECT_EQ(kMountedFreeBytes / 512, volumes[1].ullFreeSectors);
    std::vector<DWORD> disks;
    for (size_t i = 2; i < volumes.size(); ++i) {
        EXPECT_EQ(0, volumes[i].chDriveLetter);
        EXPECT_NE(static_cast<DWORD>(FILE_SYSTEM_UNALLOCATED), volumes[i].dwFileSystem);
        disks.push_back(volumes[i].dwDiskNumber);
    }
    EXPECT_EQ((std::vector<DWORD>{kMbrDisk, kMbrDisk, kMbrDisk, kMbrDisk, kGptDisk, kFat32Disk, kGapDisk, kNtfsDisk,
                                  kBootCodeDisk}),
              disks);
    // The same records as in the disk lists.
    for (size_t i = 1; i < volumes.size(); ++i) {
        const std::vector<PARTITION_INFO_EX> partitions = Partitions(volumes[i].dwDiskNumber);
        const PARTITION_INFO_EX* pSame =
            FindAt(partitions, volumes[i].dwDiskNumber, volumes[i].ullStartSector, volumes[i].ullTotalSectors);
        ASSERT_NE(nullptr, pSame);
        EXPECT_EQ(0, memcmp(pSame, &volumes[i], sizeof(PARTITION_INFO_EX)));
    }
}

TEST(OmbrelListing, DynamicVolumesMatchTheDiskGroupDatabase)
{
    // The fixture's own description of the group: each volume and its member extents.
    struct VOLUME {
        uint64_t ullSectors;
        DWORD dwKind;
        std::string strLabel;
        std::vector<std::pair<DWORD, uint64_t>> Extents;  // (member disk, start)
    };
    std::map<std::string, VOLUME> expected;
    std::vector<std::string> order;
    std::ifstream description(rvdtest::FixturePath("dyn-mbr.dynamic"));
    ASSERT_TRUE(description.good());
    std::string strLine;
    while (std::getline(description, strLine)) {
        std::vector<std::string> fields;
        std::istringstream parts(strLine);
        std::string strField;
        while (std::getline(parts, strField, '\t'))
            fields.push_back(strField);
        if (fields.size() >= 8 && fields[0] == "volume") {
            expected[fields[1]] = VOLUME{std::stoull(fields[4]), KindOf(fields[6]), fields[7] == "-" ? "" : fields[7], {}};
            order.push_back(fields[1]);
        } else if (fields.size() >= 7 && fields[0] == "extent") {
            expected[fields[1]].Extents.emplace_back(kFirstDynamicDisk + std::stoul(fields[4]) - 1,
                                                     std::stoull(fields[5]));
        }
    }
    ASSERT_FALSE(order.empty());

    const std::vector<PARTITION_INFO_EX> volumes = DynamicVolumes();
    ASSERT_EQ(order.size(), volumes.size());
    std::map<DWORD, size_t> perDisk;
    for (const std::string& strName : order) {
        const VOLUME& volume = expected[strName];
        SCOPED_TRACE(strName);
        ASSERT_FALSE(volume.Extents.empty());
        const PARTITION_INFO_EX* pRecord = nullptr;
        for (const PARTITION_INFO_EX& record : volumes)
            if (record.dwFileSystem == volume.dwKind && record.ullTotalSectors == volume.ullSectors)
                pRecord = &record;
        ASSERT_NE(nullptr, pRecord);
        EXPECT_EQ(volume.strLabel, Utf8(pRecord->szVolumeLabel, 100));
        // Keyed by one of its member extents (the engine's first member), through which the
        // engine finds the volume again.
        bool bExtentIsKey = false;
        for (const auto& extent : volume.Extents)
            bExtentIsKey |= extent.first == pRecord->dwDiskNumber && extent.second == pRecord->ullStartSector;
        EXPECT_TRUE(bExtentIsKey);
        // Listed under every disk that holds a member of it.
        std::vector<DWORD> memberDisks;
        for (const auto& extent : volume.Extents)
            if (std::find(memberDisks.begin(), memberDisks.end(), extent.first) == memberDisks.end())
                memberDisks.push_back(extent.first);
        for (DWORD dwDisk : memberDisks) {
            ++perDisk[dwDisk];
            const std::vector<PARTITION_INFO_EX> partitions = Partitions(dwDisk);
            EXPECT_NE(nullptr, FindAt(partitions, pRecord->dwDiskNumber, pRecord->ullStartSector,
                                      pRecord->ullTotalSectors))
                << "not under disk " << dwDisk;
        }
    }
    for (DWORD dwDisk = kFirstDynamicDisk; IsDynamicDiskNumber(dwDisk); ++dwDisk)
        EXPECT_EQ(perDisk[dwDisk], Partitions(dwDisk).size()) << "disk " << dwDisk;
}

// Both directions: every volume the engine collects is listed (in the quick scan's volumes, the
// dynamic volumes, or as unallocated space of its disk), and every listed record is a volume the
// engine collects.
TEST(OmbrelListing, RecordsAreTheEnginesCollection)
{
    const std::vector<PARTITION_INFO_EX> volumes = Volumes();
    const std::vector<PARTITION_INFO_EX> dynamicVolumes = DynamicVolumes();
    std::vector<PARTITION_INFO_EX> all = volumes;
    all.insert(all.end(), dynamicVolumes.begin(), dynamicVolumes.end());
    for (DWORD dwDisk = 0; dwDisk < static_cast<DWORD>(kDiskCount); ++dwDisk)
        for (const PARTITION_INFO_EX& record : Partitions(dwDisk))
            if (record.dwFileSystem == FILE_SYSTEM_UNALLOCATED)
                all.push_back(record);

    CDeviceCollection collection;
    collection.Collect();
    size_t nMatched = 0;
    std::vector<const PARTITION_INFO_EX*> seen;
    for (const COLLECTED_VOLUME& volume : collection.GetVolumes()) {
        if (volume.bFloppy != 0) {
            EXPECT_EQ('A', volume.chDriveLetter);
            continue;
        }
        DWORD dwDisk = OMBREL_NO_DISK;
        for (CDiskDevice* pDisk : collection.GetDisks())
            if (static_cast<IStorageDevice*>(pDisk) == volume.Members[0].pDisk)
                dwDisk = static_cast<DWORD>(pDisk->GetDiskNumber());
        const PARTITION_INFO_EX* pRecord =
            FindAt(all, dwDisk, volume.Members[0].ullStartSector, volume.pDevice->GetTotalSectors());
        ASSERT_NE(nullptr, pRecord) << "collected volume at " << volume.Members[0].ullStartSector << " of disk "
                                    << dwDisk;
        if (pRecord->dwFileSystem != FILE_SYSTEM_UNALLOCATED) {
            EXPECT_EQ(volume.nFileSystemKind, pRecord->dwFileSystem);
        }
        EXPECT_EQ(volume.chDriveLetter, pRecord->chDriveLetter);
        seen.push_back(pRecord);
        ++nMatched;
    }
    EXPECT_EQ(all.size(), nMatched + 1);  // + the floppy
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen.end(), std::adjacent_find(seen.begin(), seen.end())) << "two volumes share one record";
}

TEST(OmbrelListing, ArraysNeverOverrunTheirCapacity)
{
    IOmbrel* pOmbrel = Ombrel();
    ASSERT_NE(nullptr, pOmbrel);
    pOmbrel->Refresh();
    const int32_t nVolumes = pOmbrel->GetVolumeCount();
    ASSERT_GT(nVolumes, 2);

    // A short array is filled and the rest reported; the record past it is not touched.
    std::vector<PARTITION_INFO_EX> volumes(3);
    memset(&volumes[2], 0xAB, sizeof(PARTITION_INFO_EX));
    int32_t nCount = 2;
    EXPECT_EQ(OMBREL_MORE_DATA, pOmbrel->GetAllVolumeInfo(volumes.data(), &nCount));
    EXPECT_EQ(2, nCount);
    EXPECT_EQ(0xAB, reinterpret_cast<const uint8_t*>(&volumes[2])[0]);

    struct CASE {
        const char* pszName;
        int32_t nResult;
    };
    DISK_INFO_EX disk{};
    PARTITION_INFO_EX partition{};
    int32_t nNegative = -1;
    int32_t nOne = 1;
    for (const CASE& c : {CASE{"null disk array", pOmbrel->GetAllDiskInfo(nullptr, &nOne)},
                          CASE{"null disk count", pOmbrel->GetAllDiskInfo(&disk, nullptr)},
                          CASE{"negative volume capacity", pOmbrel->GetAllVolumeInfo(&partition, &nNegative)},
                          CASE{"null partition array", pOmbrel->GetAllPartitionInfo(kMbrDisk, nullptr, &nOne)},
                          CASE{"null dynamic count", pOmbrel->GetAllDynamicVolumeInfo(&partition, nullptr)}})
        EXPECT_EQ(OMBREL_INVALID_PARAMETER, c.nResult) << c.pszName;

    // A disk that is not there has no partitions.
    EXPECT_EQ(0, pOmbrel->GetPartitionCount(kDiskCount + 10));
    nCount = 1;
    EXPECT_EQ(OMBREL_SUCCESS, pOmbrel->GetAllPartitionInfo(kDiskCount + 10, &partition, &nCount));
    EXPECT_EQ(0, nCount);
    pOmbrel->EndEnum();

    // A count without a Refresh takes stock first; the same stock answers again after EndEnum.
    EXPECT_EQ(nVolumes, pOmbrel->GetVolumeCount());
    pOmbrel->EndEnum();
    EXPECT_EQ(kDiskCount, pOmbrel->GetDiskCount());
    pOmbrel->EndEnum();
}

TEST(OmbrelListing, ModuleHandsOutOneObjectAndExportsOnlyItsFactory)
{
    const std::string strModule = rvdtest::OutputDir() + "/libOmbrel.so";
    EXPECT_EQ(Ombrel(), Ombrel());
    // The engine code inside stays private: one defined dynamic symbol of our own.
    const std::string strSymbols = RunCommand("nm -D --defined-only '" + strModule + "' | awk '{print $3}'");
    std::istringstream lines(strSymbols);
    std::string strSymbol;
    std::vector<std::string> symbols;
    while (std::getline(lines, strSymbol))
        if (!strSymbol.empty() && strSymbol[0] != '_')
            symbols.push_back(strSymbol);
    EXPECT_EQ(std::vector<std::string>{"CreateInstance"}, symbols);
}
