// The EXT search controller over real images: primary and backup superblocks with their
// descriptor tables (of 32 or 64 bytes) make one confirmed candidate per file system, in blocks
// of any size; a file
// system formatted again leaves its old backup superblock, whose candidate rebuilds the old tree.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "Delvar.h"
#include "FileNode.h"
#include "FileProperties.h"
#include "FileSystemNode.h"
#include "IStorageDevice.h"
#include "MemoryDevice.h"
#include "TestSupport.h"
#include "ext2/Ext2SearchController.h"

namespace {

struct SCAN {
    CSearchedPartitionInfoList Candidates;
    ~SCAN()
    {
        for (CSearchedPartitionInfo* p : Candidates)
            delete p;
    }
};

void Scan(CEXT2SearchController& controller, rvdtest::CMemoryDevice& device, SCAN& scan, uint64_t ullBlock)
{
    controller.SetStorageDevice(&device);
    controller.BeginSearch();
    const uint64_t ullTotal = device.GetTotalSectors();
    for (uint64_t s = 0; s < ullTotal; s += ullBlock)
        controller.SearchSectors(s, std::min<uint64_t>(ullBlock, ullTotal - s), nullptr);
    controller.EndSearch();
    controller.CollectSearchedPartitions(&scan.Candidates);
}

// Names of every node of a tree.
void Names(CFileNode* pNode, std::vector<std::string>& names)
{
    for (CFileNode* p = pNode; p != nullptr; p = p->GetNextSibling()) {
        if (p->GetProperties() != nullptr && p->GetProperties()->GetName() != nullptr)
            names.push_back(p->GetProperties()->GetName());
        Names(p->GetFirstChild(), names);
    }
}

} // namespace

TEST(EXT2SearchController, PrimaryAndBackupMakeOneConfirmedCandidateWhateverTheBlockSplit)
{
    // EXT4 with 32-byte descriptors, and as mke2fs makes it by default: 64-byte descriptors with
    // the upper halves of the block numbers, and flexible groups whose tables lie in group 0.
    for (const char* pszImage : {"ext2-1k-128.img", "ext2-4k-256.img", "ext3-1k-256.img", "ext3-4k-128.img",
                                 "ext4-1k.img", "ext4-default.img"}) {
        // Blocks of 8192 sectors as the block scan reads them, and odd small ones that cut
        // superblocks and descriptor tables in two.
        for (uint64_t ullBlock : {8192ull, 5ull, 1ull}) {
            SCOPED_TRACE(std::string(pszImage) + " block " + std::to_string(ullBlock));
            rvdtest::CMemoryDevice device(rvdtest::ReadFileBytes(rvdtest::FixturePath(pszImage)));
            CEXT2SearchController controller;
            SCAN scan;
            Scan(controller, device, scan, ullBlock);
            ASSERT_EQ(1u, scan.Candidates.size());
            CSearchedPartitionInfo* p = scan.Candidates[0];
            EXPECT_EQ(2, p->GetType());
            EXPECT_EQ(pszImage[3] == '2' ? 4 : 5, p->m_nFileSystemKind);
            EXPECT_EQ(0u, p->m_ullStartSector);
            EXPECT_EQ(2u, p->m_ullEvidenceSector);
            EXPECT_EQ(device.GetTotalSectors(), p->m_ullSectorCount);
            EXPECT_EQ(100u, p->m_ullConfidence) << "primary and backup agree";
        }
    }
}

TEST(EXT2SearchController, AnOldBackupSuperblockRebuildsTheTreeFormattedOver)
{
    const std::vector<uint8_t> disk = rvdtest::ReadFileBytes(rvdtest::FixturePath("reformatted.img"));
    const std::vector<rvdtest::PartitionEntry> partitions = rvdtest::ReadPartitions("reformatted.img");
    const rvdtest::PartitionEntry& part = partitions[1];
    ASSERT_EQ("ext2", part.strFileSystem);
    rvdtest::CMemoryDevice device(std::vector<uint8_t>(disk.begin() + part.nStart * 512,
                                             disk.begin() + (part.nStart + part.nCount) * 512));
    CEXT2SearchController controller;
    SCAN scan;
    Scan(controller, device, scan, 8192);
    ASSERT_EQ(2u, scan.Candidates.size());
    // The new file system, found at its start, and the old one, through its group 1 backup.
    CSearchedPartitionInfo* pOld = nullptr;
    for (CSearchedPartitionInfo* p : scan.Candidates) {
        EXPECT_EQ(0u, p->m_ullStartSector);
        if (p->m_ullEvidenceSector != 2)
            pOld = p;
    }
    ASSERT_NE(nullptr, pOld);
    EXPECT_EQ(16386u, pOld->m_ullEvidenceSector);
    EXPECT_EQ(45u, pOld->m_ullConfidence);
    CFileSystemNode* pRoot = controller.BuildFileTree(pOld, &device, 1, 0);
    ASSERT_NE(nullptr, pRoot);
    std::vector<std::string> names;
    Names(pRoot, names);
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "Quarterly report for the board.txt"));
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "Archive 2019"));
    DeleteFileTree(pRoot);
}

TEST(EXT2SearchController, AnUpperHalfPastTheVolumeRefusesThatDescriptorTable)
{
    // ext4-default.img (1 KiB blocks): the primary table's 64-byte descriptors start at block 2;
    // group 1's inode table gets an upper half, which puts it past the volume's blocks.
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("ext4-default.img"));
    ASSERT_GT(image.size(), 2048u + 64 + 44);
    ASSERT_EQ(0u, image[2048 + 64 + 40]);
    image[2048 + 64 + 40] = 1;
    rvdtest::CMemoryDevice device(image);
    CEXT2SearchController controller;
    SCAN scan;
    Scan(controller, device, scan, 8192);
    // Only the backup's find is left: group 1's superblock and table.
    ASSERT_EQ(1u, scan.Candidates.size());
    CSearchedPartitionInfo* p = scan.Candidates[0];
    EXPECT_EQ(0u, p->m_ullStartSector);
    EXPECT_NE(2u, p->m_ullEvidenceSector);
    CFileSystemNode* pRoot = controller.BuildFileTree(p, &device, 0, 0);
    ASSERT_NE(nullptr, pRoot);
    std::vector<std::string> names;
    Names(pRoot, names);
    EXPECT_GT(names.size(), 10u);
    DeleteFileTree(pRoot);
}
