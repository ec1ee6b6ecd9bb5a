// Found-file tree: links, inherited partition facts, check-state toggling with the root's
// statistics, and the root's persisted record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "MemoryDataStream.h"
#include "ModelTestSupport.h"

namespace {

// root (FS) -> folder A -> files a1 (100), a2 (200, compressed), a3 (300, encrypted)
//           -> folder B -> file b1 (1000)
//           -> file c (5)
struct SampleTree {
    CFileSystemNode* pRoot;
    CFileNode *pA, *pA1, *pA2, *pA3, *pB, *pB1, *pC;

    SampleTree()
    {
        pRoot = CreateFileSystemNode();
        pRoot->SetProperties(new CTestFileProperties("root", 0, 0x10));
        pRoot->SetPartitionInfo(2048, 8);
        pRoot->SetFileSystemKind(FILE_SYSTEM_NTFS);
        pC = AddTestFile(pRoot, "c", 5);
        pB = AddTestFolder(pRoot, "B");
        pB1 = AddTestFile(pB, "b1", 1000);
        pA = AddTestFolder(pRoot, "A");
        pA3 = AddTestFile(pA, "a3", 300, 0x20 | 0x4000);
        pA2 = AddTestFile(pA, "a2", 200, 0x20 | 0x800);
        pA1 = AddTestFile(pA, "a1", 100);
        pRoot->RecountStatistics();
    }
    ~SampleTree() { FreeTestTree(pRoot); }

    FILE_STATISTICS Stats() const
    {
        FILE_STATISTICS s;
        pRoot->GetStatistics(&s);
        return s;
    }
};

uint8_t State(CFileNode* p)
{
    return p->GetProperties()->GetCheckState();
}

} // namespace

TEST(TreeTestLinks, AddChildLinksAtTheFrontAndRemoveChildUnlinks)
{
    CFileNode* pParent = CreateFileNode();
    CFileNode* pFirst = CreateFileNode();
    CFileNode* pSecond = CreateFileNode();
    CFileNode* pThird = CreateFileNode();
    EXPECT_EQ(pParent->AddChild(pFirst), pFirst);
    pParent->AddChild(pSecond);
    pParent->AddChild(pThird);
    // Added in order first, second, third: listed in reverse.
    EXPECT_EQ(pParent->GetFirstChild(), pThird);
    EXPECT_EQ(pThird->GetNextSibling(), pSecond);
    EXPECT_EQ(pSecond->GetNextSibling(), pFirst);
    EXPECT_EQ(pFirst->GetParent(), pParent);

    CFileNode* pStranger = CreateFileNode();
    EXPECT_FALSE(pParent->RemoveChild(pStranger));
    EXPECT_FALSE(pParent->RemoveChild(nullptr));

    EXPECT_TRUE(pParent->RemoveChild(pSecond));
    EXPECT_EQ(pThird->GetNextSibling(), pFirst);
    EXPECT_EQ(pSecond->GetParent(), nullptr);
    EXPECT_EQ(pSecond->GetNextSibling(), nullptr);
    EXPECT_FALSE(pParent->RemoveChild(pSecond));
    EXPECT_TRUE(pParent->RemoveChild(pThird));
    EXPECT_EQ(pParent->GetFirstChild(), pFirst);

    for (CFileNode* p : {pParent, pFirst, pSecond, pThird, pStranger})
        DestroyFileNode(p);
    DestroyFileNode(nullptr);
    DestroyFileSystemNode(nullptr);
}

TEST(TreeTestLinks, KindAndPartitionInfoComeFromTheNearestFileSystemNode)
{
    // Without a file-system node anywhere.
    CFileNode* pLoose = CreateFileNode();
    CFileNode* pLooseChild = pLoose->AddChild(CreateFileNode());
    uint64_t ullStart = 77;
    int32_t nSpc = 77;
    EXPECT_EQ(pLooseChild->GetFileSystemKind(), FILE_SYSTEM_UNKNOWN);
    EXPECT_FALSE(pLooseChild->GetPartitionInfo(&ullStart, &nSpc));
    EXPECT_EQ(ullStart, 0u);
    EXPECT_EQ(nSpc, 0);
    DestroyFileNode(pLooseChild);
    DestroyFileNode(pLoose);

    // An NTFS root with a carved-files root hung below it.
    CFileSystemNode* pRoot = CreateFileSystemNode();
    EXPECT_EQ(pRoot->GetFileSystemKind(), FILE_SYSTEM_UNKNOWN);
    pRoot->SetFileSystemKind(FILE_SYSTEM_NTFS);
    pRoot->SetPartitionInfo(63, 8);
    CFileNode* pFolder = pRoot->AddChild(CreateFileNode());
    CFileSystemNode* pRaw = CreateFileSystemNode();
    pRaw->SetFileSystemKind(FILE_SYSTEM_CARVED);
    pRaw->SetPartitionInfo(0, 1);
    pFolder->AddChild(pRaw);
    CFileNode* pCarved = pRaw->AddChild(CreateFileNode());

    EXPECT_EQ(pFolder->GetFileSystemKind(), FILE_SYSTEM_NTFS);
    EXPECT_TRUE(pFolder->GetPartitionInfo(&ullStart, &nSpc));
    EXPECT_EQ(ullStart, 63u);
    EXPECT_EQ(nSpc, 8);
    EXPECT_EQ(pCarved->GetFileSystemKind(), FILE_SYSTEM_CARVED);
    EXPECT_TRUE(pCarved->GetPartitionInfo(&ullStart, &nSpc));
    EXPECT_EQ(ullStart, 0u);
    EXPECT_EQ(nSpc, 1);
    EXPECT_TRUE(pRaw->IsFileSystemNode());
    EXPECT_FALSE(pCarved->IsFileSystemNode());
    EXPECT_FALSE(pCarved->Save(nullptr));

    DestroyFileNode(pCarved);
    DestroyFileSystemNode(pRaw);
    DestroyFileNode(pFolder);
    DestroyFileSystemNode(pRoot);
}

TEST(TreeTestSelection, RecountCountsFilesNotFolders)
{
    SampleTree t;
    FILE_STATISTICS s = t.Stats();
    EXPECT_EQ(s.nFiles, 5u);
    EXPECT_EQ(s.ullTotalSize, 1605u);
    EXPECT_EQ(s.nCompressed, 1u);
    EXPECT_EQ(s.nEncrypted, 1u);
    EXPECT_EQ(s.nSelectedFiles, 0u);
    EXPECT_EQ(s.ullSelectedSize, 0u);
}

TEST(TreeTestSelection, ToggleSelectsAndClearsWholeSubtrees)
{
    SampleTree t;
    // A folder in state 1 is selected with everything below it.
    t.pA->GetProperties()->SetCheckState(CHECK_STATE_PARTIAL);
    EXPECT_TRUE(t.pRoot->ToggleNodeCheckState(t.pA, FALSE));
    for (CFileNode* p : {t.pA, t.pA1, t.pA2, t.pA3})
        EXPECT_EQ(State(p), CHECK_STATE_SELECTED);
    FILE_STATISTICS s = t.Stats();
    EXPECT_EQ(s.nSelectedFiles, 3u);
    EXPECT_EQ(s.ullSelectedSize, 600u);
    EXPECT_EQ(s.nSelectedCompressed, 1u);
    EXPECT_EQ(s.nSelectedEncrypted, 1u);
    EXPECT_EQ(State(t.pRoot), CHECK_STATE_PARTIAL);

    // Toggling it again (state 2) clears them all.
    t.pRoot->ToggleNodeCheckState(t.pA, FALSE);
    for (CFileNode* p : {t.pA, t.pA1, t.pA2, t.pA3})
        EXPECT_EQ(State(p), CHECK_STATE_NONE);
    s = t.Stats();
    EXPECT_EQ(s.nSelectedFiles, 0u);
    EXPECT_EQ(s.ullSelectedSize, 0u);
    EXPECT_EQ(s.nSelectedCompressed, 0u);
    EXPECT_EQ(s.nSelectedEncrypted, 0u);
    EXPECT_EQ(State(t.pRoot), CHECK_STATE_NONE);
    // Totals never move.
    EXPECT_EQ(s.nFiles, 5u);
    EXPECT_EQ(s.ullTotalSize, 1605u);
}

TEST(TreeTestSelection, AncestorStatesFollowTheirChildren)
{
    SampleTree t;
    // One file of A: A is partly selected, and so is the root.
    t.pRoot->ToggleNodeCheckState(t.pA1, FALSE);
    EXPECT_EQ(State(t.pA), CHECK_STATE_PARTIAL);
    EXPECT_EQ(State(t.pRoot), CHECK_STATE_PARTIAL);
    // All three files of A: A is selected.
    t.pRoot->ToggleNodeCheckState(t.pA2, FALSE);
    t.pRoot->ToggleNodeCheckState(t.pA3, FALSE);
    EXPECT_EQ(State(t.pA), CHECK_STATE_SELECTED);
    // Everything: the root is selected too.
    t.pRoot->ToggleNodeCheckState(t.pB, FALSE);
    t.pRoot->ToggleNodeCheckState(t.pC, FALSE);
    EXPECT_EQ(State(t.pRoot), CHECK_STATE_SELECTED);
    EXPECT_EQ(t.Stats().ullSelectedSize, 1605u);
    // Clearing the last selected file of B leaves B at 0 and the root partly selected.
    t.pRoot->ToggleNodeCheckState(t.pB1, FALSE);
    EXPECT_EQ(State(t.pB), CHECK_STATE_NONE);
    EXPECT_EQ(State(t.pRoot), CHECK_STATE_PARTIAL);
    EXPECT_EQ(t.Stats().ullSelectedSize, 605u);
}

TEST(TreeTestSelection, AChildInStatePartialAloneMakesTheParentPartial)
{
    SampleTree t;
    // Only a nested folder's own state is set (no statistics), then a sibling toggle makes
    // the root recount from its children: B partial, A and c none.
    t.pB->GetProperties()->SetCheckState(CHECK_STATE_PARTIAL);
    t.pRoot->ToggleNodeCheckState(t.pA1, TRUE);
    EXPECT_EQ(State(t.pA1), CHECK_STATE_SELECTED);
    EXPECT_EQ(State(t.pA), CHECK_STATE_NONE) << "only-this-node touches no ancestor";
    EXPECT_EQ(t.Stats().nSelectedFiles, 0u) << "only-this-node touches no statistics";
    t.pRoot->ToggleNodeCheckState(t.pC, FALSE);
    t.pRoot->ToggleNodeCheckState(t.pC, FALSE);
    EXPECT_EQ(State(t.pRoot), CHECK_STATE_PARTIAL);
}

TEST(TreeTestSelection, ToggleOfAPartlySelectedFolderAddsOnlyWhatWasNotSelected)
{
    SampleTree t;
    t.pRoot->ToggleNodeCheckState(t.pA2, FALSE); // 200 selected
    EXPECT_EQ(t.Stats().ullSelectedSize, 200u);
    t.pRoot->ToggleNodeCheckState(t.pA, FALSE); // A was partial: selects the rest
    FILE_STATISTICS s = t.Stats();
    EXPECT_EQ(s.ullSelectedSize, 600u);
    EXPECT_EQ(s.nSelectedFiles, 3u);
    EXPECT_EQ(s.nSelectedCompressed, 1u);
}

TEST(TreeTestSelection, ClearingNeverWrapsBelowZero)
{
    // Files selected before the root's statistics were ever counted.
    CFileSystemNode* pRoot = CreateFileSystemNode();
    pRoot->SetProperties(new CTestFileProperties("root", 0, 0x10));
    CFileNode* pFile = AddTestFile(pRoot, "f", 4096);
    pFile->GetProperties()->SetCheckState(CHECK_STATE_SELECTED);
    pRoot->ToggleNodeCheckState(pFile, FALSE);
    FILE_STATISTICS s;
    pRoot->GetStatistics(&s);
    EXPECT_EQ(s.nSelectedFiles, 0u);
    EXPECT_EQ(s.ullSelectedSize, 0u);
    FreeTestTree(pRoot);
}

TEST(TreeTestSelection, NodesWithoutPropertiesAreWalkedPastSafely)
{
    CFileSystemNode* pRoot = CreateFileSystemNode();
    CFileNode* pBare = pRoot->AddChild(CreateFileNode());
    AddTestFile(pBare, "inner", 10);
    pRoot->RecountStatistics();
    FILE_STATISTICS s;
    pRoot->GetStatistics(&s);
    EXPECT_EQ(s.nFiles, 1u);
    EXPECT_TRUE(pRoot->ToggleNodeCheckState(pBare, FALSE));
    pRoot->GetStatistics(&s);
    EXPECT_EQ(s.ullSelectedSize, 10u);
    EXPECT_FALSE(pRoot->ToggleNodeCheckState(nullptr, FALSE));
    EXPECT_FALSE(pRoot->SetNodeFlag(pBare, 1));
    FreeTestTree(pRoot);
}

TEST(TreeTestSelection, SetNodeFlagActsOnTheGivenNode)
{
    SampleTree t;
    EXPECT_EQ(t.pRoot->SetNodeFlag(t.pB1, 7), 0); // the test properties return the old flag
    EXPECT_EQ(t.pB1->GetProperties()->GetFlag(), 7);
    EXPECT_EQ(t.pRoot->SetNodeFlag(t.pB1, 1), 7);
    EXPECT_EQ(t.pRoot->GetProperties()->GetFlag(), 0);
    EXPECT_FALSE(t.pRoot->SetNodeFlag(nullptr, 1));
}

TEST(TreeTestSelection, DeepTreesNeedNoRecursion)
{
    // A directory chain as deep as a damaged disk can produce.
    const int kDepth = 300000;
    CFileSystemNode* pRoot = CreateFileSystemNode();
    pRoot->SetProperties(new CTestFileProperties("root", 0, 0x10));
    pRoot->SetFileSystemKind(FILE_SYSTEM_EXT3);
    CFileNode* pNode = pRoot;
    for (int i = 0; i < kDepth; ++i)
        pNode = AddTestFolder(pNode, "d");
    CFileNode* pLeaf = AddTestFile(pNode, "leaf", 42);
    pRoot->RecountStatistics();
    EXPECT_EQ(pLeaf->GetFileSystemKind(), FILE_SYSTEM_EXT3);
    pRoot->ToggleNodeCheckState(pLeaf, FALSE);
    EXPECT_EQ(State(pRoot), CHECK_STATE_SELECTED);
    FILE_STATISTICS s;
    pRoot->GetStatistics(&s);
    EXPECT_EQ(s.ullSelectedSize, 42u);
    pRoot->ToggleNodeCheckState(pRoot, FALSE);
    EXPECT_EQ(State(pLeaf), CHECK_STATE_NONE);
    FreeTestTree(pRoot);
}

TEST(TreeTestRecord, DescriptionIsCutAtFortyAndSurvivesSaveAndLoad)
{
    CFileSystemNode root;
    const std::string strLong(50, 'x');
    root.SetDescription((std::string(40, 'L') + std::string(10, 'x')).c_str());
    EXPECT_EQ(std::string(root.GetDescription()), std::string(40, 'L'));
    root.SetDescription("Data");
    EXPECT_STREQ(root.GetDescription(), "Data");
    root.SetDescription(nullptr);
    EXPECT_EQ(root.GetDescription(), nullptr);

    root.SetDescription(strLong.c_str());
    CMemoryDataStream stream;
    ASSERT_TRUE(root.Save(&stream));
    EXPECT_EQ(stream.GetSize(), 60u + 40u);
    CFileSystemNode loaded;
    loaded.SetDescription("old");
    ASSERT_TRUE(loaded.Load(&stream));
    EXPECT_EQ(std::string(loaded.GetDescription()), std::string(40, 'x'));
}

TEST(TreeTestRecord, SavedRootHasTheGivenLayoutAndComesBackWithoutSelection)
{
    SampleTree t;
    t.pRoot->ToggleNodeCheckState(t.pA, FALSE);
    t.pRoot->SetDescription("Vol");
    CMemoryDataStream stream;
    ASSERT_TRUE(t.pRoot->Save(&stream));
    const std::vector<uint8_t>& b = stream.GetData();
    ASSERT_EQ(b.size(), 63u);
    auto u32 = [&](size_t o) { return uint32_t(b[o]) | uint32_t(b[o + 1]) << 8 | uint32_t(b[o + 2]) << 16 | uint32_t(b[o + 3]) << 24; };
    auto u64 = [&](size_t o) { return uint64_t(u32(o)) | uint64_t(u32(o + 4)) << 32; };
    EXPECT_EQ(u32(0), 5u);      // files
    EXPECT_EQ(u32(4), 0u);      // selected files, not saved
    EXPECT_EQ(u64(8), 1605u);   // total size
    EXPECT_EQ(u64(16), 0u);     // selected size, not saved
    EXPECT_EQ(u32(24), 1u);     // compressed
    EXPECT_EQ(u32(28), 0u);
    EXPECT_EQ(u32(32), 1u);     // encrypted
    EXPECT_EQ(u32(36), 0u);
    EXPECT_EQ(u64(40), 2048u);  // start sector
    EXPECT_EQ(u32(48), 8u);     // sectors per cluster
    EXPECT_EQ(u32(52), 3u);     // NTFS
    EXPECT_EQ(u32(56), 3u);     // description length
    EXPECT_EQ(std::string(b.begin() + 60, b.end()), "Vol");

    CFileSystemNode loaded;
    ASSERT_TRUE(loaded.Load(&stream));
    FILE_STATISTICS s;
    loaded.GetStatistics(&s);
    EXPECT_EQ(s.nFiles, 5u);
    EXPECT_EQ(s.ullTotalSize, 1605u);
    EXPECT_EQ(s.nSelectedFiles, 0u);
    EXPECT_EQ(s.ullSelectedSize, 0u);
    EXPECT_EQ(loaded.GetFileSystemKind(), FILE_SYSTEM_NTFS);
    uint64_t ullStart = 0;
    int32_t nSpc = 0;
    loaded.GetPartitionInfo(&ullStart, &nSpc);
    EXPECT_EQ(ullStart, 2048u);
    EXPECT_EQ(nSpc, 8);
    EXPECT_STREQ(loaded.GetDescription(), "Vol");
}

TEST(TreeTestRecord, DamagedRecordsFailAndLeaveTheRootAlone)
{
    CFileSystemNode root;
    root.SetPartitionInfo(99, 4);
    root.SetFileSystemKind(FILE_SYSTEM_FAT32);
    root.SetDescription("LABEL");
    CMemoryDataStream good;
    ASSERT_TRUE(root.Save(&good));
    const std::vector<uint8_t> bytes = good.GetData();

    // Every truncation, the description cut included.
    for (size_t n = 0; n < bytes.size(); ++n) {
        CFileSystemNode target;
        target.SetDescription("keep");
        CMemoryDataStream cut(bytes.data(), n);
        EXPECT_FALSE(target.Load(&cut)) << "length " << n;
        EXPECT_STREQ(target.GetDescription(), "keep");
        EXPECT_EQ(target.GetFileSystemKind(), FILE_SYSTEM_UNKNOWN);
    }
    // Description lengths that Save never writes.
    for (int32_t nBad : {41, -1, 0x7FFFFFFF}) {
        std::vector<uint8_t> damaged = bytes;
        std::memcpy(&damaged[56], &nBad, 4);
        CMemoryDataStream stream(damaged);
        CFileSystemNode target;
        EXPECT_FALSE(target.Load(&stream)) << nBad;
        EXPECT_EQ(target.GetDescription(), nullptr);
    }
    // No description at all loads as none.
    CFileSystemNode plain;
    CMemoryDataStream stream;
    plain.Save(&stream);
    EXPECT_EQ(stream.GetSize(), 60u);
    CFileSystemNode target;
    target.SetDescription("gone");
    ASSERT_TRUE(target.Load(&stream));
    EXPECT_EQ(target.GetDescription(), nullptr);
    EXPECT_FALSE(target.Load(nullptr));
}

TEST(TreeTestRecord, ExtraBlockIsCopiedWhole)
{
    CFileSystemNode root;
    uint8_t block[FILE_SYSTEM_EXTRA_BLOCK_SIZE];
    ASSERT_TRUE(root.GetExtraBlock(block));
    for (uint8_t c : block)
        ASSERT_EQ(c, 0);
    for (int i = 0; i < FILE_SYSTEM_EXTRA_BLOCK_SIZE; ++i)
        block[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(root.SetExtraBlock(block));
    uint8_t back[FILE_SYSTEM_EXTRA_BLOCK_SIZE] = {};
    root.GetExtraBlock(back);
    EXPECT_EQ(std::memcmp(block, back, sizeof(block)), 0);
    // The block is not part of the saved record.
    CMemoryDataStream stream;
    root.Save(&stream);
    EXPECT_EQ(stream.GetSize(), 60u);
}
