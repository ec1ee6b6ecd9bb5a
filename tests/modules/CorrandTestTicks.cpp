// Tick states: files ticked one by one, folders ticked fully or cleared with everything below
// them, the folder states and ticked sizes that follow, and the ticked files as the copy-out
// module reads them.
#include <map>
#include <set>

#include "CorrandTestSupport.h"

using namespace corrandtest;

namespace {

class CorrandTicks : public CStoreTest {
protected:
    void SetUp() override
    {
        CStoreTest::SetUp();
        CFileNode* pA = m_Tree.Folder(m_Tree.Root(), "A");
        m_Tree.File(pA, "a1", 100);
        m_Tree.File(pA, "a2", 200);
        CFileNode* pB = m_Tree.Folder(pA, "B");
        m_Tree.File(pB, "b1", 1000);
        m_Tree.Folder(pA, "Empty");
        m_Tree.File(m_Tree.Root(), "c1", 5);
        ASSERT_EQ(0, HandOver(UserRecord(0), m_Tree));
        m_dwRoot = Record({"Deleted Files"});
        m_dwA = Record({"Deleted Files", "A"});
        m_dwB = Record({"Deleted Files", "A", "B"});
        m_dwEmpty = Record({"Deleted Files", "A", "Empty"});
        m_dwA1 = Record({"Deleted Files", "A", "a1"});
        m_dwA2 = Record({"Deleted Files", "A", "a2"});
        m_dwB1 = Record({"Deleted Files", "A", "B", "b1"});
        m_dwC1 = Record({"Deleted Files", "c1"});
    }

    DWORD Record(std::initializer_list<const char*> path)
    {
        const DWORD dwRecord = FindPath(Store(), 0, path);
        EXPECT_NE(0xFFFFFFFFu, dwRecord);
        return dwRecord;
    }

    // "none", "part" or "full", as the listing reports the record under its parent.
    std::string State(DWORD dwParent, DWORD dwRecord, DWORD dwVolume = 0)
    {
        for (int32_t nKind : {ENUM_KIND_FOLDERS, ENUM_KIND_FILES})
            for (const FILE_INFO_EX& info : ListAll(Store(), dwVolume, dwParent, nKind)) {
                if (info.dwRecordNumber != dwRecord)
                    continue;
                if (info.dwFolder == 0)
                    return info.dwChecked != 0 ? "full" : "none";
                if ((info.dwChecked & FILE_INFO_CHECKED) == 0)
                    return "none";
                return (info.byFullyChecked & FILE_INFO_FULLY_CHECKED) != 0 ? "full" : "part";
            }
        return "missing";
    }

    uint64_t Size(DWORD dwRecord) { return Store()->GetCheckedSize(dwRecord, 0, 0); }

    CTestTree m_Tree;
    DWORD m_dwRoot = 0, m_dwA = 0, m_dwB = 0, m_dwEmpty = 0, m_dwA1 = 0, m_dwA2 = 0, m_dwB1 = 0, m_dwC1 = 0;
};

TEST_F(CorrandTicks, FilesTickedOneByOneMakeTheirFoldersPartlyThenFullyTicked)
{
    ASSERT_EQ(0, Store()->SetCheckState(m_dwA1, 1, 0, 1, 0));
    EXPECT_EQ("full", State(m_dwA, m_dwA1));
    EXPECT_EQ("none", State(m_dwA, m_dwA2));
    EXPECT_EQ("part", State(m_dwRoot, m_dwA));
    EXPECT_EQ("part", State(0, m_dwRoot));
    EXPECT_EQ(100u, Size(m_dwA1));
    EXPECT_EQ(0u, Size(m_dwA2));
    EXPECT_EQ(100u, Size(m_dwA));
    EXPECT_EQ(100u, Size(0)) << "the volume's top";

    Store()->SetCheckState(m_dwA2, 1, 0, 1, 0);
    EXPECT_EQ("part", State(m_dwRoot, m_dwA)) << "b1 below B is not ticked yet";
    Store()->SetCheckState(m_dwB1, 1, 0, 1, 0);
    EXPECT_EQ("full", State(m_dwA, m_dwB));
    EXPECT_EQ("full", State(m_dwRoot, m_dwA)) << "a folder without files does not hold it back";
    EXPECT_EQ("none", State(m_dwA, m_dwEmpty));
    EXPECT_EQ("part", State(0, m_dwRoot));
    EXPECT_EQ(1300u, Size(m_dwA));
    EXPECT_EQ(1300u, Size(m_dwRoot));

    // Ticking again changes nothing; unticking takes the bytes away again.
    Store()->SetCheckState(m_dwB1, 1, 0, 1, 0);
    EXPECT_EQ(1300u, Size(m_dwRoot));
    Store()->SetCheckState(m_dwA1, 0, 0, 0, 0);
    EXPECT_EQ(1200u, Size(0));
    EXPECT_EQ("part", State(m_dwRoot, m_dwA));
}

TEST_F(CorrandTicks, AFolderTickedFullyOrClearedTakesEverythingBelowIt)
{
    ASSERT_EQ(0, Store()->SetCheckState(m_dwA, 1, 1, 1, 0));
    EXPECT_EQ("full", State(m_dwA, m_dwA1));
    EXPECT_EQ("full", State(m_dwB, m_dwB1));
    EXPECT_EQ("full", State(m_dwA, m_dwEmpty));
    EXPECT_EQ("full", State(m_dwRoot, m_dwA));
    EXPECT_EQ(1300u, Size(m_dwA));
    EXPECT_EQ(1000u, Size(m_dwB));
    EXPECT_EQ(1300u, Size(0));

    // The page unticks one file, then marks the folder as partly ticked: the other files stay.
    Store()->SetCheckState(m_dwB1, 0, 0, 0, 0);
    Store()->SetCheckState(m_dwA, 1, 1, 0, 0);
    EXPECT_EQ("part", State(m_dwRoot, m_dwA));
    EXPECT_EQ("none", State(m_dwA, m_dwB));
    EXPECT_EQ("full", State(m_dwA, m_dwA2));
    EXPECT_EQ(300u, Size(m_dwA));

    ASSERT_EQ(0, Store()->SetCheckState(m_dwA, 0, 1, 0, 0));
    for (DWORD dwRecord : {m_dwA1, m_dwA2})
        EXPECT_EQ("none", State(m_dwA, dwRecord));
    EXPECT_EQ("none", State(m_dwA, m_dwEmpty));
    EXPECT_EQ("none", State(m_dwRoot, m_dwA));
    EXPECT_EQ(0u, Size(0));

    // What the record is decides, not the flag that came with it.
    Store()->SetCheckState(m_dwB, 1, 0, 1, 0);
    EXPECT_EQ("full", State(m_dwB, m_dwB1));
    // The partition node ticks its whole volume.
    Store()->SetCheckState(0, 1, 1, 1, 0);
    EXPECT_EQ(1305u, Size(0));
    EXPECT_EQ("full", State(0, m_dwRoot));
}

TEST_F(CorrandTicks, ClearingAndRefusals)
{
    CTestTree other;
    other.File(other.Root(), "x", 77);
    const PARTITION_INFO_EX second = UserRecord(9000);
    // Two results of one scan: the first again (SetUp's lookups ended its scan), the second
    // right after it.
    ASSERT_EQ(0, HandOver(UserRecord(0), m_Tree, 0));
    ASSERT_EQ(0, Store()->AddPartition(&second, 1, 0));
    ASSERT_EQ(0, Store()->AddFileTree(other.Root()));
    Store()->SetCheckState(0, 1, 1, 1, 0);
    Store()->SetCheckState(0, 1, 1, 1, 1);
    uint64_t ullFiles = 0, ullBytes = 0;
    ASSERT_EQ(0, Access()->GetCheckedTotals(&ullFiles, &ullBytes));
    EXPECT_EQ(5u, ullFiles);
    EXPECT_EQ(1382u, ullBytes);

    ASSERT_EQ(0, Store()->ClearCheckStates());
    ASSERT_EQ(0, Access()->GetCheckedTotals(&ullFiles, &ullBytes));
    EXPECT_EQ(0u, ullFiles);
    EXPECT_EQ(0u, ullBytes);
    EXPECT_EQ("none", State(m_dwA, m_dwEmpty));
    EXPECT_EQ(0u, Store()->GetCheckedSize(0, 0, 1));

    EXPECT_NE(0, Store()->SetCheckState(424242, 1, 0, 1, 0) & 0xFFFF);
    EXPECT_NE(0, Store()->SetCheckState(0, 1, 1, 1, 5) & 0xFFFF);
    EXPECT_EQ(0u, Store()->GetCheckedSize(424242, 0, 0));
    EXPECT_EQ(0u, Store()->GetCheckedSize(0, 0, 9));
}

TEST_F(CorrandTicks, TheCopyOutModuleReadsTheTickedFilesWithTheirFolders)
{
    Store()->SetCheckState(m_dwA1, 1, 0, 1, 0);
    Store()->SetCheckState(m_dwB1, 1, 0, 1, 0);
    Store()->SetCheckState(m_dwC1, 1, 0, 1, 0);
    uint64_t ullFiles = 0, ullBytes = 0;
    ASSERT_EQ(0, Access()->GetCheckedTotals(&ullFiles, &ullBytes));
    EXPECT_EQ(3u, ullFiles);
    EXPECT_EQ(1105u, ullBytes);

    const std::map<std::u16string, std::vector<std::u16string>> expected = {
        {u"a1", {u"Deleted Files", u"A"}},
        {u"b1", {u"Deleted Files", u"A", u"B"}},
        {u"c1", {u"Deleted Files"}},
    };
    // In one go, and one file per call (each call resumes where the last one stopped).
    for (size_t nMax : {size_t(100), size_t(1)}) {
        SCOPED_TRACE(nMax);
        CHECKED_FILE_CURSOR cursor;
        std::vector<STORED_FILE> files;
        int nCalls = 0;
        while (Access()->GetNextCheckedFiles(&cursor, &files, nMax) == 0)
            ++nCalls;
        EXPECT_TRUE(cursor.bDone);
        EXPECT_EQ(nMax == 1 ? 3 : 1, nCalls);
        std::map<std::u16string, std::vector<std::u16string>> found;
        for (const STORED_FILE& file : files) {
            found[file.strName] = file.vecFolders;
            EXPECT_EQ(0u, file.dwFlags & STORED_FILE_FOLDER);
        }
        EXPECT_EQ(expected, found);
        EXPECT_EQ(3u, files.size());
    }

    STORED_VOLUME volume;
    ASSERT_EQ(0, Access()->GetVolume(0, &volume));
    EXPECT_EQ(0u, volume.dwDiskNumber);
    EXPECT_NE(0, Access()->GetVolume(1, &volume) & 0xFFFF);
}

} // namespace
