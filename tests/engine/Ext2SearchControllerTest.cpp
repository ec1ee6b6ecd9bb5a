// The EXT2 search controller over real images: primary and backup superblocks with their
// descriptor tables make one confirmed candidate per file system, in blocks of any size; a file
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
    for (const char* pszImage : {"ext2-1k-128.img", "ext2-4k-256.img", "ext3-1k-256.img", "ext3-4k-128.img"}) {
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
            EXPECT_EQ(pszImage[3] == '3' ? 5 : 4, p->m_nFileSystemKind);
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
