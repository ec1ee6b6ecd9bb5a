// The whole-disk scan's search for partitions the table no longer lists: cylinder-boundary
// candidates, the three boot-sector checkers, and the drop of partitions the table still lists.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "IStorageDevice.h"
#include "QuickPartitionSearch.h"
#include "MemoryDevice.h"
#include "TestSupport.h"

namespace {

std::vector<FOUND_PARTITION> Search(IStorageDevice* pDisk, int nHeads, CANCEL_FLAG* pnCancel = nullptr)
{
    SEARCH_DEVICE_CONTEXT context{};
    context.m_pDevice = pDisk;
    context.m_nHeads = nHeads;
    rvdplat::DISK_GEOMETRY geometry{};
    CFoundPartitionList found;
    CQuickPartitionSearch search;
    SEARCH_PROGRESS progress{};
    search.SetProgress(&progress, pnCancel);
    search.Search(&context, found, geometry);
    std::vector<FOUND_PARTITION> copies;
    for (FOUND_PARTITION* p : found) {
        copies.push_back(*p);
        EXPECT_NE(nullptr, p->pDevice);
        if (p->pDevice != nullptr) {
            EXPECT_EQ(p->ullSectorCount, p->pDevice->GetTotalSectors());
        }
        copies.back().pDevice = nullptr;
    }
    DeleteFoundPartitions(found);
    return copies;
}

} // namespace

TEST(LostPartitionSearch, FindsTheWipedPartitionsAndNotTheListedOne)
{
    rvdtest::CMemoryDevice disk(rvdtest::ReadFileBytes(rvdtest::FixturePath("lost.img")));
    const std::vector<FOUND_PARTITION> found = Search(&disk, 255);
    // The NTFS partition starts right where the table's gap after the FAT16 partition starts: a
    // gap is no partition, so the find stays. The FAT16 partition the table lists is dropped.
    ASSERT_EQ(2u, found.size());
    EXPECT_EQ(2u * 16065, found[0].ullStartSector);
    EXPECT_EQ(3u, found[0].nFileSystemKind);
    EXPECT_STREQ("LOST NTFS", found[0].szLabel);
    EXPECT_EQ(2u * 16065 - 1, found[0].ullSectorCount) << "NTFS counts without its backup boot sector";
    EXPECT_EQ(4u * 16065 + 63, found[1].ullStartSector);
    EXPECT_EQ(4u, found[1].nFileSystemKind);
    EXPECT_STREQ("lost-ext2", found[1].szLabel);
}

TEST(LostPartitionSearch, AWholeTableWipedGivesEveryFileSystemOnACylinderBoundary)
{
    // lost.img with its MBR zeroed: the FAT16 partition at sector 63 is found too.
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("lost.img"));
    std::fill(image.begin() + 446, image.begin() + 510, 0);
    rvdtest::CMemoryDevice disk(image);
    const std::vector<FOUND_PARTITION> found = Search(&disk, 255);
    ASSERT_EQ(3u, found.size());
    EXPECT_EQ(63u, found[0].ullStartSector);
    EXPECT_EQ(1u, found[0].nFileSystemKind);
    EXPECT_STREQ("LIVE FAT16", found[0].szLabel);

    // A FAT boot sector that claims more than the disk holds gets a window that ends with it.
    std::vector<uint8_t> cut(image.begin(), image.begin() + (16065 + 63) * 512);
    rvdtest::CMemoryDevice small(cut);
    const std::vector<FOUND_PARTITION> one = Search(&small, 255);
    ASSERT_EQ(1u, one.size());
    EXPECT_EQ(16065u, one[0].ullSectorCount);

    // Cancelled before the first candidate: nothing.
    CANCEL_FLAG nCancel(1);
    EXPECT_TRUE(Search(&disk, 255, &nCancel).empty());
}

TEST(LostPartitionSearch, CandidateCountsFollowTheGeometry)
{
    CPartitionSearchAccordingTo255Head below(16064), at(16065);
    EXPECT_EQ(0u, below.GetCount());
    EXPECT_EQ(1u, at.GetCount());
    EXPECT_EQ(0u, at.GetNext());
    EXPECT_EQ(16065u, at.GetNext());
    CPartitionSearchAccordingTo240Head heads240(240 * 63 * 20);
    EXPECT_EQ(20u, heads240.GetCount());
    EXPECT_EQ(0u, heads240.GetNext());
    EXPECT_EQ(15120u, heads240.GetNext());
}
