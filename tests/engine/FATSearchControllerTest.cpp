// The FAT search controller over real images: boot sectors, FAT starts and directory sectors
// become scored candidates; lone directories are dropped; a boot sector that claims more than the
// device is cut; the directory sectors survive a save and load.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "IStorageDevice.h"
#include "MemoryDataStream.h"
#include "SearchStatistics.h"
#include "MemoryDevice.h"
#include "TestSupport.h"
#include "fat/FATSearchController.h"

namespace {

struct SCAN {
    CSearchedPartitionInfoList Candidates;
    SEARCH_STATISTICS Statistics{};
    ~SCAN()
    {
        for (CSearchedPartitionInfo* p : Candidates)
            delete p;
    }
};

void Scan(CFATSearchController& controller, rvdtest::CMemoryDevice& device, SCAN& scan)
{
    controller.SetStorageDevice(&device);
    controller.SetSectorsPerRead(8192);
    controller.BeginSearch();
    const uint64_t ullTotal = device.GetTotalSectors();
    for (uint64_t s = 0; s < ullTotal; s += 8192)
        controller.SearchSectors(s, std::min<uint64_t>(8192, ullTotal - s), &scan.Statistics);
    controller.EndSearch();
    controller.CollectSearchedPartitions(&scan.Candidates);
}

} // namespace

TEST(FATSearchController, FindsEachFixtureVolumeWithItsEvidence)
{
    const struct {
        const char* pszImage;
        int nKind;
        uint32_t nBootFlags;
        uint64_t ullConfidence;
    } cases[] = {
        {"fat12.img", 0, 0x1, 100},
        {"fat16.img", 1, 0x2, 100},
        {"fat32.img", 2, 0x4 | 0x8, 100}, // primary and backup boot sector
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszImage);
        rvdtest::CMemoryDevice device(rvdtest::ReadFileBytes(rvdtest::FixturePath(c.pszImage)));
        CFATSearchController controller;
        SCAN scan;
        Scan(controller, device, scan);
        // Only the real volume survives collection: interpretations without a FAT or a further
        // directory start behind them are dropped.
        ASSERT_EQ(1u, scan.Candidates.size());
        auto* p = static_cast<CFATSearchedPartitionInfo*>(scan.Candidates[0]);
        EXPECT_EQ(c.nKind, p->m_nFileSystemKind);
        EXPECT_EQ(0u, p->m_ullStartSector);
        EXPECT_EQ(device.GetTotalSectors(), p->m_ullSectorCount);
        EXPECT_EQ(c.nBootFlags, p->m_nFlags & 0xF);
        EXPECT_EQ(0x3C0u, p->m_nFlags & 0x3C0) << "both FAT starts seen";
        EXPECT_EQ(c.ullConfidence, p->m_ullConfidence);
        EXPECT_GT(p->m_ullRecordMatches, 3u) << "the folders confirm the geometry";
        EXPECT_GE(scan.Statistics.FATBootRecords, 1u);
        EXPECT_GT(scan.Statistics.FATFolders, 3u);
        EXPECT_GT(controller.GetDirSectors().size(), 5u);
    }
}

TEST(FATSearchController, LoneDirectoryIsDroppedAndASecondOneKeepsTheMatchingLayout)
{
    // Only the folders of fat16.img: the boot sector, FATs and root area are wiped.
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("fat16.img"));
    const uint16_t wReserved = image[14] | (image[15] << 8);
    const uint16_t wPerFAT = image[22] | (image[23] << 8);
    const uint16_t wRootEntries = image[17] | (image[18] << 8);
    const size_t nMeta = (wReserved + 2u * wPerFAT + wRootEntries * 32u / 512u) * 512u;
    std::fill(image.begin(), image.begin() + nMeta, 0);
    rvdtest::CMemoryDevice device(image);

    CFATSearchController controller;
    SCAN scan;
    Scan(controller, device, scan);
    ASSERT_GE(scan.Candidates.size(), 1u);
    // The best-confirmed candidate has the volume's cluster size and sector of cluster 2.
    CSearchedPartitionInfo* pBest = scan.Candidates[0];
    for (CSearchedPartitionInfo* p : scan.Candidates)
        if (p->m_ullRecordMatches > pBest->m_ullRecordMatches)
            pBest = p;
    EXPECT_EQ(nMeta / 512, pBest->m_ullEvidenceSector);
    EXPECT_EQ(0x10u, static_cast<CFATSearchedPartitionInfo*>(pBest)->m_nFlags);
    EXPECT_EQ(20u, pBest->m_ullConfidence) << "no boot sector, no FAT: 10 + 10";

    // One directory start sector alone proposes layouts for several cluster sizes; none is kept.
    std::vector<uint8_t> lone(image.size(), 0);
    for (const auto& item : controller.GetDirSectors()) {
        if (item.second.nDotCluster != FAT_DIR_SECTOR_NO_CLUSTER) {
            memcpy(lone.data() + item.first * 512, image.data() + item.first * 512, 512);
            break;
        }
    }
    rvdtest::CMemoryDevice loneDevice(lone);
    CFATSearchController loneController;
    SCAN loneScan;
    Scan(loneController, loneDevice, loneScan);
    EXPECT_TRUE(loneScan.Candidates.empty());
    EXPECT_EQ(1u, loneScan.Statistics.FATFolders);
}

TEST(FATSearchController, BootSectorClaimingMoreThanTheDeviceIsCutAtItsEnd)
{
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("fat32.img"));
    // Keep the image but drop its last 1000 sectors: the boot sector still claims them.
    image.resize(image.size() - 1000 * 512);
    rvdtest::CMemoryDevice device(image);
    CFATSearchController controller;
    SCAN scan;
    Scan(controller, device, scan);
    ASSERT_EQ(1u, scan.Candidates.size());
    EXPECT_EQ(device.GetTotalSectors(), scan.Candidates[0]->m_ullSectorCount);
}

TEST(FATSearchController, DirectorySectorsSurviveSaveAndLoad)
{
    rvdtest::CMemoryDevice device(rvdtest::ReadFileBytes(rvdtest::FixturePath("fat16.img")));
    CFATSearchController controller;
    SCAN scan;
    Scan(controller, device, scan);
    CMemoryDataStream stream;
    ASSERT_TRUE(controller.SaveState(&stream));
    EXPECT_EQ(4u + 16u * controller.GetDirSectors().size(), stream.GetData().size());
    CFATSearchController loaded;
    ASSERT_TRUE(loaded.LoadState(&stream));
    ASSERT_EQ(controller.GetDirSectors().size(), loaded.GetDirSectors().size());
    for (const auto& item : controller.GetDirSectors()) {
        const auto it = loaded.GetDirSectors().find(item.first);
        ASSERT_NE(it, loaded.GetDirSectors().end());
        EXPECT_EQ(item.second.nDotCluster, it->second.nDotCluster);
        EXPECT_EQ(item.second.nDotDotCluster, it->second.nDotDotCluster);
    }
    // A record cut short ends the load with an error.
    const std::vector<uint8_t>& bytes = stream.GetData();
    CMemoryDataStream cut(bytes.data(), bytes.size() - 3);
    CFATSearchController partial;
    EXPECT_FALSE(partial.LoadState(&cut));
}
