// Search by name mask, by a date range on one of the three times, and by size, below one
// folder, with the hits in batches.
#include <set>

#include "CorrandTestSupport.h"
#include "Time.h"

using namespace corrandtest;

namespace {

SYSTEMTIME Fields(WORD wYear, WORD wMonth, WORD wDay, WORD wHour = 0, WORD wMinute = 0)
{
    SYSTEMTIME st{};
    st.wYear = wYear;
    st.wMonth = wMonth;
    st.wDay = wDay;
    st.wHour = wHour;
    st.wMinute = wMinute;
    return st;
}

uint64_t Ticks(WORD wYear, WORD wMonth, WORD wDay, WORD wHour = 0, WORD wMinute = 0)
{
    FILETIME ft{};
    EXPECT_TRUE(rvd::SystemTimeToFileTime(Fields(wYear, wMonth, wDay, wHour, wMinute), ft));
    return ft.qwTicks;
}

class CorrandSearch : public CStoreTest {
protected:
    void SetUp() override
    {
        CStoreTest::SetUp();
        CFileNode* pDocs = m_Tree.Folder(m_Tree.Root(), "Docs");
        CFileNode* pSub = m_Tree.Folder(pDocs, "Sub");
        CFileNode* pPhotos = m_Tree.Folder(m_Tree.Root(), "Photos");
        // NTFS times are UTC; the tests run at UTC-5.
        Times(m_Tree.File(pDocs, "Report.DOC", 5000), Ticks(2019, 1, 5), Ticks(2020, 6, 1, 12), Ticks(2021, 3, 1));
        Times(m_Tree.File(pDocs, "notes.txt", 100), Ticks(2021, 1, 1), Ticks(2021, 1, 1), Ticks(2021, 1, 1));
        // 03:00 UTC on 2 June is 22:00 local on 1 June.
        Times(m_Tree.File(pDocs, "late.txt", 10), Ticks(2020, 6, 2, 3), Ticks(2020, 6, 2, 3), Ticks(2020, 6, 2, 3));
        // FAT times are the local clock as recorded.
        Times(m_Tree.File(pDocs, "LOCAL.TXT", 20, PROPERTIES_KIND_FAT), Ticks(2020, 6, 1, 23, 30),
              Ticks(2020, 6, 1, 23, 30), Ticks(2020, 6, 1, 23, 30));
        Times(m_Tree.File(pDocs, "EARLY.TXT", 30, PROPERTIES_KIND_FAT), Ticks(2020, 6, 2, 1), Ticks(2020, 6, 2, 1),
              Ticks(2020, 6, 2, 1));
        Times(m_Tree.File(pSub, "report-old.doc", 300000), Ticks(2018, 1, 1), Ticks(2018, 1, 1), Ticks(2018, 1, 1));
        Times(m_Tree.File(pPhotos, "IMG_0001.JPG", 2000000), Ticks(2020, 6, 1, 6), Ticks(2020, 7, 1), Ticks(2020, 7, 1));
        m_Tree.File(m_Tree.Root(), "readme", 0);
        ASSERT_EQ(0, HandOver(UserRecord(0), m_Tree));
        m_dwRoot = FindPath(Store(), 0, {"Deleted Files"});
    }

    static void Times(CFileNode* pNode, uint64_t ullCreation, uint64_t ullModification, uint64_t ullAccess)
    {
        CTestTree::Props(pNode)->SetTimes(ullCreation, ullModification, ullAccess);
    }

    SEARCH_CONDITION Condition(const char16_t* pszMask, DWORD dwFolder = 0xFFFFFFFFu) const
    {
        SEARCH_CONDITION condition{};
        condition.dwCriteria = SEARCH_BY_NAME;
        condition.dwFolderRecord = dwFolder == 0xFFFFFFFFu ? m_dwRoot : dwFolder;
        std::u16string_view strMask(pszMask);
        std::copy(strMask.begin(), strMask.end(), condition.szNameMask);
        return condition;
    }

    std::set<std::u16string> Names(const SEARCH_CONDITION& condition, int32_t* pnStatus = nullptr)
    {
        std::set<std::u16string> names;
        for (const FILE_INFO_EX& info : SearchAll(Store(), condition, pnStatus))
            names.insert(NameOf(info));
        return names;
    }

    CTestTree m_Tree;
    DWORD m_dwRoot = 0;
};

TEST_F(CorrandSearch, ByNameMaskOrPartOfAName)
{
    const std::set<std::u16string> all = {u"Docs", u"Sub", u"Photos", u"Report.DOC", u"notes.txt", u"late.txt",
                                          u"LOCAL.TXT", u"EARLY.TXT", u"report-old.doc", u"IMG_0001.JPG", u"readme"};
    struct CASE {
        const char16_t* pszMask;
        std::set<std::u16string> expected;
    } cases[] = {
        {u"*", all},
        {u"", all},
        {u"*.*", all},
        {u"report", {u"Report.DOC", u"report-old.doc"}},
        {u"*.doc", {u"Report.DOC", u"report-old.doc"}},
        {u"*.TXT", {u"notes.txt", u"late.txt", u"LOCAL.TXT", u"EARLY.TXT"}},
        {u"r?adme", {u"readme"}},
        {u"img_*1.jpg", {u"IMG_0001.JPG"}},
        {u"*e*o*", {u"Report.DOC", u"report-old.doc"}},
        {u"nothing-like-it", {}},
    };
    for (const CASE& c : cases)
        EXPECT_EQ(c.expected, Names(Condition(c.pszMask))) << std::string(c.pszMask, c.pszMask + std::u16string_view(c.pszMask).size());
}

TEST_F(CorrandSearch, BelowTheGivenFolderOnly)
{
    const DWORD dwSub = FindPath(Store(), 0, {"Deleted Files", "Docs", "Sub"});
    EXPECT_EQ((std::set<std::u16string>{u"report-old.doc"}), Names(Condition(u"*.doc", dwSub)));
    // Before any folder was opened the page sends no folder: the whole volume.
    SEARCH_CONDITION condition = Condition(u"*.jpg");
    condition.dwFolderRecord = 0xFFFFFFFFu;
    EXPECT_EQ((std::set<std::u16string>{u"IMG_0001.JPG"}), Names(condition));
    // A file has nothing below it.
    const DWORD dwFile = FindPath(Store(), 0, {"Deleted Files", "readme"});
    int32_t nStatus = -1;
    EXPECT_TRUE(Names(Condition(u"*", dwFile), &nStatus).empty());
    EXPECT_EQ(0, nStatus);

    for (DWORD dwVolume : {0u, 3u}) {
        condition = Condition(u"*", dwVolume == 0 ? 987654u : m_dwRoot);
        condition.dwVolume = dwVolume;
        Names(condition, &nStatus);
        EXPECT_NE(0, nStatus & 0xFFFF) << "no such folder or volume";
    }
}

TEST_F(CorrandSearch, BySize)
{
    SEARCH_CONDITION condition = Condition(u"*.*");
    condition.dwCriteria |= SEARCH_BY_SIZE;
    condition.dwSizeMode = SEARCH_SIZE_MORE_THAN;
    condition.ullSizeBound = 4999;
    EXPECT_EQ((std::set<std::u16string>{u"Report.DOC", u"report-old.doc", u"IMG_0001.JPG"}), Names(condition));
    condition.ullSizeBound = 5000;
    EXPECT_EQ((std::set<std::u16string>{u"report-old.doc", u"IMG_0001.JPG"}), Names(condition)) << "more than, not at least";

    condition = Condition(u"*.txt");
    condition.dwCriteria |= SEARCH_BY_SIZE;
    condition.dwSizeMode = SEARCH_SIZE_LESS_THAN;
    condition.ullSizeBound = 20;
    EXPECT_EQ((std::set<std::u16string>{u"late.txt"}), Names(condition));

    condition.dwSizeMode = 7;
    int32_t nStatus = 0;
    Names(condition, &nStatus);
    EXPECT_NE(0, nStatus & 0xFFFF) << "a size mode that is neither";
}

TEST_F(CorrandSearch, ByDateOnEachTimeInLocalTime)
{
    struct CASE {
        DWORD dwKind;
        SYSTEMTIME stFrom, stTo;
        std::set<std::u16string> expected;
    } cases[] = {
        // 1 June, local: Report.DOC (07:00 local), late.txt (22:00 local), LOCAL.TXT (23:30 as
        // recorded); EARLY.TXT reads 01:00 on 2 June; readme has no times at all.
        {SEARCH_DATE_MODIFIED, Fields(2020, 6, 1), Fields(2020, 6, 1, 23, 59),
         {u"Report.DOC", u"late.txt", u"LOCAL.TXT"}},
        {SEARCH_DATE_CREATED, Fields(2020, 6, 1), Fields(2020, 6, 1, 23, 59),
         {u"late.txt", u"LOCAL.TXT", u"IMG_0001.JPG"}},
        // notes.txt was read at midnight UTC, 19:00 local on 31 December 2020.
        {SEARCH_DATE_ACCESSED, Fields(2021, 1, 1), Fields(2021, 12, 31), {u"Report.DOC"}},
        // A bound that is no date leaves that side open.
        {SEARCH_DATE_MODIFIED, SYSTEMTIME{}, Fields(2019, 1, 1), {u"report-old.doc"}},
        {SEARCH_DATE_MODIFIED, Fields(2020, 7, 1), Fields(2020, 6, 1), {}},
    };
    for (const CASE& c : cases) {
        SEARCH_CONDITION condition = Condition(u"*");
        condition.dwCriteria |= SEARCH_BY_DATE;
        condition.dwDateKind = c.dwKind;
        condition.stDateFrom = c.stFrom;
        condition.stDateTo = c.stTo;
        EXPECT_EQ(c.expected, Names(condition)) << c.dwKind << " " << c.stFrom.wYear;
    }
}

TEST_F(CorrandSearch, AllCriteriaTogether)
{
    SEARCH_CONDITION condition = Condition(u"*.txt");
    condition.dwCriteria = SEARCH_BY_NAME | SEARCH_BY_DATE | SEARCH_BY_SIZE;
    condition.dwDateKind = SEARCH_DATE_MODIFIED;
    condition.stDateFrom = Fields(2020, 6, 1);
    condition.stDateTo = Fields(2020, 6, 2, 23, 59);
    condition.dwSizeMode = SEARCH_SIZE_MORE_THAN;
    condition.ullSizeBound = 15;
    EXPECT_EQ((std::set<std::u16string>{u"LOCAL.TXT", u"EARLY.TXT"}), Names(condition));
}

TEST_F(CorrandSearch, ManyHitsComeInBatchesWithTheirVolume)
{
    CTestTree tree;
    CFileNode* pFolder = tree.Folder(tree.Root(), "many");
    for (int i = 0; i < 700; ++i)
        tree.File(pFolder, "hit" + std::to_string(i) + (i % 2 ? ".log" : ".dat"), i);
    const PARTITION_INFO_EX second = UserRecord(4096);
    ASSERT_EQ(0, Store()->AddPartition(&second, 1, 0));
    ASSERT_EQ(0, Store()->AddFileTree(tree.Root()));
    int32_t nCount = 0;
    Store()->GetPartitionCount(&nCount);
    ASSERT_EQ(1, nCount) << "a read came between the two hand-overs: a new scan";
    SEARCH_CONDITION condition = Condition(u"*.log", 0);
    condition.dwVolume = 0;

    FILE_INFO_EX* pFiles = nullptr;
    ASSERT_EQ(0, Store()->BeginSearchFiles(&condition, &pFiles, &nCount, 0));
    EXPECT_EQ(corrand::CResultStore::BATCH_SIZE, nCount);
    Store()->EndEnumFiles();
    const std::vector<FILE_INFO_EX> hits = SearchAll(Store(), condition);
    ASSERT_EQ(350u, hits.size());
    for (const FILE_INFO_EX& hit : hits)
        EXPECT_EQ(0u, hit.dwStoreReserved);
}

} // namespace
