// The block scan reads ahead on several threads, and each controller looks only at the sectors
// that its filter marked while the block was read. It must find exactly what the controllers find
// when they look at every sector themselves: the fixture volumes of every file system, laid one
// after the other on one device at odd offsets (so that boot sectors, FILE records, INDX blocks,
// log pages and superblock windows straddle the blocks), with noise between them, are scanned
// both ways and every candidate, every kept list and every counter is compared.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "IntelligentSearchController.h"
#include "MemoryDataStream.h"
#include "RawFileInfo.h"
#include "SearchStatistics.h"
#include "StorageDeviceWithCache.h"
#include "MemoryDevice.h"
#include "TestSupport.h"
#include "ext2/Ext2SearchController.h"
#include "fat/FATSearchController.h"
#include "ntfs/NTFSSearchController.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    EXPECT_TRUE(file.good()) << strPath;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The fixture volumes one after the other, each after a few sectors of random bytes (an odd
// number, so that no volume starts on a block or cluster boundary of the one before).
std::vector<uint8_t> MixedDisk()
{
    std::mt19937 random(20261211);
    std::vector<uint8_t> disk;
    const char* apszImages[] = {"fat12.img", "fat16.img", "ntfs.img", "ext2-1k-128.img", "fat32.img",
                                "ntfs-damaged.img", "ext3-4k-256.img", "ntfs-c512.img"};
    uint32_t nNoise = 3;
    for (const char* pszImage : apszImages) {
        for (uint32_t i = 0; i < nNoise * 512; ++i)
            disk.push_back(static_cast<uint8_t>(random()));
        nNoise += 2;
        std::vector<uint8_t> image = ReadFile(rvdtest::FixturePath(pszImage));
        // One NTFS boot sector names its file system in lower case, which the scan accepts too.
        if (strcmp(pszImage, "ntfs-c512.img") == 0 && image.size() >= 512)
            memcpy(image.data() + 3, "ntfs    ", 8);
        disk.insert(disk.end(), image.begin(), image.end());
    }
    disk.resize(disk.size() / 512 * 512 + 512 * 5, 0);
    return disk;
}

struct SCAN_RESULT {
    std::vector<std::vector<uint8_t>> Candidates;  // each candidate's saved form
    std::vector<uint8_t> FATState;
    std::vector<uint8_t> NTFSState;
    SEARCH_STATISTICS Statistics{};
};

void Collect(CFATSearchController& fat, CNTFSSearchController& ntfs, CEXT2SearchController& ext2, SCAN_RESULT& result)
{
    CSearchedPartitionInfoList candidates;
    fat.CollectSearchedPartitions(&candidates);
    ntfs.CollectSearchedPartitions(&candidates);
    ext2.CollectSearchedPartitions(&candidates);
    for (CSearchedPartitionInfo* p : candidates) {
        CMemoryDataStream saved;
        EXPECT_TRUE(p->Save(&saved));
        std::vector<uint8_t> bytes = saved.GetData();
        bytes.push_back(static_cast<uint8_t>(p->GetType()));
        result.Candidates.push_back(bytes);
        delete p;
    }
    CMemoryDataStream fatState, ntfsState;
    EXPECT_TRUE(fat.SaveState(&fatState));
    EXPECT_TRUE(ntfs.SaveState(&ntfsState));
    result.FATState = fatState.GetData();
    result.NTFSState = ntfsState.GetData();
}

// Through the block scan: the read-ahead cache, its threads and the sector marks.
SCAN_RESULT ScanThroughBlockScan(IStorageDevice& device)
{
    CRawFileInfoContainer raw;
    CFATSearchController fat;
    CNTFSSearchController ntfs;
    CEXT2SearchController ext2;
    CIntelligentSearchController search;
    search.SetDevice(&device);
    for (IFileSystemSearchController* p : {static_cast<IFileSystemSearchController*>(&fat),
                                           static_cast<IFileSystemSearchController*>(&ntfs),
                                           static_cast<IFileSystemSearchController*>(&ext2)}) {
        p->SetRawFileInfoContainer(&raw);
        search.AddController(p);
    }
    EXPECT_EQ(1, search.Run(nullptr, nullptr));
    SCAN_RESULT result;
    result.Statistics = search.GetStatistics();
    Collect(fat, ntfs, ext2, result);
    return result;
}

// Every sector looked at by every controller, read block by block from the device itself.
SCAN_RESULT ScanEverySector(IStorageDevice& device)
{
    CRawFileInfoContainer raw;
    CFATSearchController fat;
    CNTFSSearchController ntfs;
    CEXT2SearchController ext2;
    std::vector<IFileSystemSearchController*> controllers = {&fat, &ntfs, &ext2};
    for (IFileSystemSearchController* p : controllers) {
        p->SetRawFileInfoContainer(&raw);
        p->SetStorageDevice(&device);
        p->SetSectorsPerRead(static_cast<int32_t>(INTELLIGENT_SEARCH_BLOCK_SECTORS));
        p->BeginSearch();
    }
    SCAN_RESULT result;
    const uint64_t ullTotal = device.GetTotalSectors();
    for (uint64_t s = 0; s < ullTotal; s += INTELLIGENT_SEARCH_BLOCK_SECTORS) {
        // The per-block counters start at zero for every block, as in the block scan.
        result.Statistics.ullBlockCounter9 = result.Statistics.ullBlockCounter10 = 0;
        result.Statistics.ullBlockCounter12 = result.Statistics.ullBlockCounter15 = 0;
        result.Statistics.ullBlockCounter16 = 0;
        for (IFileSystemSearchController* p : controllers)
            p->SearchSectors(s, std::min<uint64_t>(INTELLIGENT_SEARCH_BLOCK_SECTORS, ullTotal - s),
                             &result.Statistics);
    }
    for (IFileSystemSearchController* p : controllers)
        p->EndSearch();
    Collect(fat, ntfs, ext2, result);
    return result;
}

} // namespace

TEST(BlockScanMarks, MarkedSectorsFindWhatEverySectorFinds)
{
    rvdtest::CMemoryDevice device(MixedDisk(), true);
    const SCAN_RESULT direct = ScanEverySector(device);
    const SCAN_RESULT marked = ScanThroughBlockScan(device);
    // The mixed disk holds volumes of every kind: the comparison is not between two empty scans.
    EXPECT_GE(direct.Candidates.size(), 6u);
    EXPECT_GT(direct.FATState.size(), 4u);
    EXPECT_GT(direct.NTFSState.size(), 16u);
    ASSERT_EQ(direct.Candidates.size(), marked.Candidates.size());
    for (size_t i = 0; i < direct.Candidates.size(); ++i)
        EXPECT_EQ(direct.Candidates[i], marked.Candidates[i]) << "candidate " << i;
    EXPECT_EQ(direct.FATState, marked.FATState);
    EXPECT_EQ(direct.NTFSState, marked.NTFSState);
    EXPECT_EQ(0, memcmp(&direct.Statistics, &marked.Statistics, sizeof(SEARCH_STATISTICS)));
}

TEST(BlockScanMarks, EachFilterMarksItsOwnBitAndLateFiltersAreRefused)
{
    // Sector 3 passes the first filter, sector 5 both; the last block is short.
    std::vector<uint8_t> data(20 * 512, 0);
    data[3 * 512] = 1;
    data[5 * 512] = 1;
    data[5 * 512 + 1] = 2;
    rvdtest::CMemoryDevice device(data, true);
    CStorageDeviceWithCache cache(&device);
    cache.SetCacheSize(8);
    const int nFirst = cache.AddSectorFilter([](const uint8_t* p) { return p[0] == 1; });
    const int nSecond = cache.AddSectorFilter([](const uint8_t* p) { return p[1] == 2; });
    ASSERT_EQ(0, nFirst);
    ASSERT_EQ(1, nSecond);
    EXPECT_EQ(-1, cache.AddSectorFilter(nullptr));
    EXPECT_EQ(nullptr, cache.PeekSectorMarks(0, 8)); // no block loaded yet
    ASSERT_TRUE(cache.StartPrefetch(0));
    EXPECT_EQ(-1, cache.AddSectorFilter([](const uint8_t*) { return true; }));
    ASSERT_EQ(1, cache.LoadBlock(0));
    const uint8_t* pMarks = cache.PeekSectorMarks(0, 8);
    ASSERT_NE(nullptr, pMarks);
    const uint8_t abyExpected[8] = {0, 0, 0, 1, 0, 3, 0, 0};
    EXPECT_EQ(0, memcmp(abyExpected, pMarks, 8));
    EXPECT_EQ(5u, FindMarkedSector(pMarks, 0, 8, 2));
    EXPECT_EQ(3u, FindMarkedSector(pMarks, 0, 8, 1));
    EXPECT_EQ(8u, FindMarkedSector(pMarks, 6, 8, 3));
    EXPECT_EQ(nullptr, cache.PeekSectorMarks(4, 8)); // reaches past the window
    ASSERT_EQ(1, cache.LoadBlock(2));
    EXPECT_EQ(2u, FindMarkedSector(cache.PeekSectorMarks(16, 4), 0, 2, 3)); // nothing marked: none found
}
