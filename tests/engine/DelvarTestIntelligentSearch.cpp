// The block scan shared by the complete and whole-disk scans: blocks and progress, the start
// override, cancel, faulty controllers, and the scoring, ordering and selection of candidates.
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "DelvarTestSupport.h"
#include "IntelligentSearchController.h"
#include "TestSupport.h"

using namespace delvartest;

namespace {

// A device of a given length that is never read: the controllers of these tests look only at
// the sector numbers they are given.
class CLengthOnlyDevice : public IStorageDevice {
public:
    explicit CLengthOnlyDevice(uint64_t ullSectors) : m_ullSectors(ullSectors) {}
    int ReadSectors(void*, uint64_t, uint64_t) override { return 0; }
    uint64_t GetTotalSectors() override { return m_ullSectors; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    uint64_t m_ullSectors;
};

struct BLOCK_SEEN {
    uint64_t ullFirst;
    uint64_t ullCount;
    std::u16string strDetail;  // the detail line when the block arrived
    DWORD dwPercent;
};

TEST(IntelligentSearch, ScansTheAreaInBlocksAndReportsProgress)
{
    CLengthOnlyDevice device(8193);
    SEARCH_PROGRESS progress{};
    CFakeController controller;
    std::vector<BLOCK_SEEN> seen;
    controller.OnBlock = [&](uint64_t ullFirst, uint64_t ullCount) {
        seen.push_back({ullFirst, ullCount, rvd::ReadWideText(progress.szDetail), progress.dwPercent});
        EXPECT_EQ(1u, progress.dwPhase);
        EXPECT_EQ(u"Complete searching partitions...", rvd::ReadWideText(progress.szTitle));
    };
    progress.dwStatus = 99;
    CIntelligentSearchController search;
    search.SetDevice(&device);
    search.AddController(&controller);
    EXPECT_EQ(1, search.Run(&progress, nullptr));
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(0u, seen[0].ullFirst);
    EXPECT_EQ(8192u, seen[0].ullCount);
    EXPECT_EQ(u"Analyzing blocks..", seen[0].strDetail);
    EXPECT_EQ(8192u, seen[1].ullFirst);
    EXPECT_EQ(1u, seen[1].ullCount);
    EXPECT_EQ(u"0 of 2 blocks", seen[1].strDetail);
    EXPECT_EQ(0u, seen[1].dwPercent);
    EXPECT_EQ(u"1 of 2 blocks", rvd::ReadWideText(progress.szDetail));
    EXPECT_EQ(100u, progress.dwPercent) << "a finished block scan ends at 100";
    EXPECT_EQ(0u, progress.dwStatus);
    EXPECT_EQ(1, controller.nBeginCalls);
    EXPECT_EQ(1, controller.nEndCalls);
    // The controllers read through the read-ahead cache, which answers for the device.
    // (The cache lives only as long as the search, so its size is taken when it is handed over.)
    ASSERT_NE(nullptr, controller.pDevice);
    EXPECT_EQ(8193u, controller.ullDeviceSectors);
}

TEST(IntelligentSearch, StartOverrideBeginsAtItsBlock)
{
    rvdtest::CTempDir dir;
    const std::string strIni = dir.File("config.ini");
    FILE* pFile = fopen(strIni.c_str(), "w");
    ASSERT_NE(nullptr, pFile);
    fputs("[main]\npos=20000\n", pFile);
    fclose(pFile);
    CScopedEnv config("RAVENDO_DEBUG_CONFIG", strIni);

    CLengthOnlyDevice device(5 * 8192);
    CFakeController controller;
    CIntelligentSearchController search;
    search.SetDevice(&device);
    search.AddController(&controller);
    search.Run(nullptr, nullptr);
    EXPECT_EQ((std::vector<uint64_t>{16384, 24576, 32768}), controller.BlocksSeen);

    // An override past the device's end is kept inside it: the last block is still scanned.
    pFile = fopen(strIni.c_str(), "w");
    ASSERT_NE(nullptr, pFile);
    fputs("[main]\npos=999999\n", pFile);
    fclose(pFile);
    CFakeController late;
    CIntelligentSearchController lateSearch;
    lateSearch.SetDevice(&device);
    lateSearch.AddController(&late);
    lateSearch.Run(nullptr, nullptr);
    EXPECT_EQ((std::vector<uint64_t>{32768}), late.BlocksSeen);
}

TEST(IntelligentSearch, CancelEndsTheLoopButNotTheEndOfTheSearch)
{
    CLengthOnlyDevice device(10 * 8192);
    SEARCH_PROGRESS progress{};
    CANCEL_FLAG nCancel(0);
    CFakeController controller;
    controller.OnBlock = [&](uint64_t ullFirst, uint64_t) {
        if (ullFirst == 8192)
            nCancel = 1;
    };
    CIntelligentSearchController search;
    search.SetDevice(&device);
    search.AddController(&controller);
    search.Run(&progress, &nCancel);
    EXPECT_EQ((std::vector<uint64_t>{0, 8192}), controller.BlocksSeen);
    EXPECT_EQ(u"Canceling...", rvd::ReadWideText(progress.szTitle));
    EXPECT_EQ(1, controller.nEndCalls);
}

class CThrowingController : public CFakeController {
public:
    int32_t SearchSectors(uint64_t ullFirst, uint64_t ullCount, SEARCH_STATISTICS* p) override
    {
        if (ullFirst == 8192)
            throw std::runtime_error("damaged block");
        return CFakeController::SearchSectors(ullFirst, ullCount, p);
    }
    void EndSearch() override
    {
        CFakeController::EndSearch();
        throw std::runtime_error("end failed");
    }
};

TEST(IntelligentSearch, AControllerThatFailsOnABlockCostsThatBlockOnly)
{
    CLengthOnlyDevice device(3 * 8192);
    CThrowingController first;
    CFakeController second;
    CIntelligentSearchController search;
    search.SetDevice(&device);
    search.AddController(&first);
    search.AddController(&second);
    EXPECT_EQ(1, search.Run(nullptr, nullptr));
    EXPECT_EQ((std::vector<uint64_t>{0, 16384}), first.BlocksSeen);
    EXPECT_EQ((std::vector<uint64_t>{0, 8192, 16384}), second.BlocksSeen)
        << "one controller's failure does not cost the others the block";
    EXPECT_EQ(1, first.nEndCalls);
    EXPECT_EQ(1, second.nEndCalls) << "a failing EndSearch does not stop the others'";
}

TEST(IntelligentSearch, TotalFilesFoundIsMirroredIntoTheProgress)
{
    CLengthOnlyDevice device(2 * 8192);
    SEARCH_PROGRESS progress{};
    class CCountingController : public CFakeController {
    public:
        int32_t SearchSectors(uint64_t, uint64_t, SEARCH_STATISTICS* p) override
        {
            p->TotalFilesFound += 3;
            p->ullBlockCounter9 += 1;
            EXPECT_EQ(1u, p->ullBlockCounter9) << "per-block counters start each block at 0";
            return 1;
        }
    } controller;
    CIntelligentSearchController search;
    search.SetDevice(&device);
    search.AddController(&controller);
    search.Run(&progress, nullptr);
    EXPECT_EQ(6u, progress.ullFilesFound);
    EXPECT_EQ(6u, search.GetStatistics().TotalFilesFound);
}

// ----- scoring, ordering, selection ------------------------------------------------------------

struct CCandidates {
    CSearchedPartitionInfoList List;
    ~CCandidates() { DeleteSearchedPartitions(List); }
    CSearchedPartitionInfo* Add(uint64_t ullConfidence, uint64_t ullStart = 0, uint64_t ullCount = 0,
                                uint64_t ullRecords = 0, uint64_t ullRaw = 0)
    {
        CSearchedPartitionInfo* p = new CSearchedPartitionInfo();
        p->m_ullConfidence = ullConfidence;
        p->m_ullStartSector = ullStart;
        p->m_ullSectorCount = ullCount;
        p->m_ullRecordMatches = ullRecords;
        p->m_ullRawFileMatches = ullRaw;
        List.push_back(p);
        return p;
    }
};

TEST(CandidateScoring, LogarithmicScaleRelativeToTheBest)
{
    CCandidates c;
    CSearchedPartitionInfo* pOne = c.Add(1);
    CSearchedPartitionInfo* pTen = c.Add(4, 0, 0, 0, 6);
    CSearchedPartitionInfo* pTwo = c.Add(2);
    CSearchedPartitionInfo* pZero = c.Add(0);
    CSearchedPartitionInfo* pRecords = c.Add(0, 0, 0, 1);  // 50 points
    ScoreCandidates(c.List);
    const double dLn50 = std::log(50.0);
    EXPECT_DOUBLE_EQ(1.0 / dLn50, pOne->m_dScore);
    EXPECT_DOUBLE_EQ(std::log(10.0) / dLn50, pTen->m_dScore);
    EXPECT_DOUBLE_EQ(std::log(2.0) / dLn50, pTwo->m_dScore);
    EXPECT_LT(pTwo->m_dScore, pOne->m_dScore) << "ln 2 < 1";
    EXPECT_EQ(0.0, pZero->m_dScore);
    EXPECT_DOUBLE_EQ(1.0, pRecords->m_dScore);

    SortCandidatesByScore(c.List);
    EXPECT_EQ((CSearchedPartitionInfoList{pRecords, pTen, pOne, pTwo, pZero}), c.List);
}

TEST(CandidateScoring, OneBesideTenScoresOneOverLnTenAndTenScoresOne)
{
    CCandidates c;
    CSearchedPartitionInfo* pOne = c.Add(1);
    CSearchedPartitionInfo* pTen = c.Add(10);
    ScoreCandidates(c.List);
    EXPECT_NEAR(0.434, pOne->m_dScore, 0.001);
    EXPECT_DOUBLE_EQ(1.0, pTen->m_dScore);
}

TEST(CandidateScoring, HugeInputsSaturateInsteadOfWrapping)
{
    CCandidates c;
    CSearchedPartitionInfo* pHuge = c.Add(UINT64_MAX, 0, 0, UINT64_MAX / 10, UINT64_MAX);
    CSearchedPartitionInfo* pSmall = c.Add(5);
    ScoreCandidates(c.List);
    EXPECT_DOUBLE_EQ(1.0, pHuge->m_dScore);
    EXPECT_GT(pSmall->m_dScore, 0.0);
    EXPECT_LT(pSmall->m_dScore, 1.0);
}

TEST(CandidateScoring, EqualScoresKeepTheirCollectionOrder)
{
    CCandidates c;
    CSearchedPartitionInfo* pA = c.Add(5);
    CSearchedPartitionInfo* pB = c.Add(9);
    CSearchedPartitionInfo* pC = c.Add(5);
    ScoreCandidates(c.List);
    SortCandidatesByScore(c.List);
    EXPECT_EQ((CSearchedPartitionInfoList{pB, pA, pC}), c.List);
}

TEST(CandidateSelection, MarksTheBestOfOverlappingAndNeverWhatCannotFit)
{
    CCandidates c;
    CSearchedPartitionInfo* pBest = c.Add(100, 1000, 500);
    CSearchedPartitionInfo* pOverlap = c.Add(50, 1200, 500);
    CSearchedPartitionInfo* pBeside = c.Add(20, 2000, 100);
    CSearchedPartitionInfo* pBeyond = c.Add(200, 9000, 2000);   // runs past the device's end
    CSearchedPartitionInfo* pZero = c.Add(0, 5000, 10);
    CSearchedPartitionInfo* pWraps = c.Add(300, 100, UINT64_MAX - 50);  // start + count wraps
    ScoreCandidates(c.List);
    const CSearchedPartitionInfoList before = c.List;
    SelectCandidates(c.List, 10000);
    EXPECT_EQ(before, c.List) << "selection does not reorder the list";
    EXPECT_EQ(1, pBest->m_nSelected);
    EXPECT_EQ(0, pOverlap->m_nSelected);
    EXPECT_EQ(1, pBeside->m_nSelected);
    EXPECT_EQ(0, pBeyond->m_nSelected);
    EXPECT_EQ(0, pZero->m_nSelected);
    EXPECT_EQ(0, pWraps->m_nSelected);
}

TEST(SectorRanges, ContainsAndRemove)
{
    const SECTOR_RANGE whole{100, 1000};
    EXPECT_TRUE(whole.Contains({100, 1000}));
    EXPECT_TRUE(whole.Contains({500, 600}));
    EXPECT_FALSE(whole.Contains({500, 601}));
    EXPECT_FALSE(whole.Contains({99, 10}));
    EXPECT_FALSE(whole.Contains({200, UINT64_MAX - 100}));
    EXPECT_FALSE((SECTOR_RANGE{UINT64_MAX - 10, 20}).Contains({UINT64_MAX - 5, 20}));

    CFreeSectorRanges free(whole);
    free.Remove({400, 100});
    ASSERT_EQ(2u, free.GetRanges().size());
    EXPECT_EQ(100u, free.GetRanges()[0].ullStartSector);
    EXPECT_EQ(300u, free.GetRanges()[0].ullSectorCount);
    EXPECT_EQ(500u, free.GetRanges()[1].ullStartSector);
    EXPECT_EQ(600u, free.GetRanges()[1].ullSectorCount);
    EXPECT_FALSE(free.IsFree({350, 100}));
    EXPECT_TRUE(free.IsFree({500, 600}));
    free.Remove({100, 300});
    ASSERT_EQ(1u, free.GetRanges().size());
    free.Remove({350, 100});  // not free: nothing happens
    EXPECT_EQ(1u, free.GetRanges().size());
}

TEST(CandidateTrees, OnlyTheFirstControllerThatSupportsTheKindBuilds)
{
    CFakeController raw;  // supports nothing, like the carving's controller
    CFakeController first;
    first.SupportedKinds = {3};
    first.BuildTree = [](CSearchedPartitionInfo*, int32_t) { return MakeRoot(3); };
    CFakeController second;
    second.SupportedKinds = {3};
    const CSearchControllerList controllers = {&raw, &first, &second};
    CSearchedPartitionInfo candidate;
    candidate.m_nFileSystemKind = 3;
    SEARCH_PROGRESS progress{};
    CANCEL_FLAG nCancel(0);
    CFileSystemNode* pRoot = BuildCandidateTree(controllers, &candidate, nullptr, 4, 0, &progress, &nCancel);
    ASSERT_NE(nullptr, pRoot);
    DeleteFileTree(pRoot);
    EXPECT_EQ(std::vector<int32_t>{4}, first.TreeIndexes);
    EXPECT_EQ(&progress, first.pProgress);
    EXPECT_EQ(&nCancel, first.pCancel);
    EXPECT_TRUE(second.TreeIndexes.empty());
    EXPECT_TRUE(raw.TreeIndexes.empty());
    candidate.m_nFileSystemKind = 7;
    EXPECT_EQ(nullptr, BuildCandidateTree(controllers, &candidate, nullptr, 5, 0, &progress, &nCancel));
}

TEST(ControllerKinds, CompleteScanTable)
{
    const SEARCH_CONTROLLER_KIND F = CONTROLLER_KIND_FAT, N = CONTROLLER_KIND_NTFS, E = CONTROLLER_KIND_EXT2,
                                 R = CONTROLLER_KIND_RAW;
    struct ROW {
        int32_t nType;
        DWORD dwCode;
        CControllerKindList expected;
    } rows[] = {
        {0, 0, {F}}, {0, 1, {F}}, {0, 2, {F}}, {0, 3, {N}}, {0, 4, {E}}, {0, 5, {E}},
        {0, 6, {F, N, E}}, {0, 99, {F, N, E}}, {1, 2, {N}}, {2, 3, {F}}, {3, 0, {E}},
        {4, 3, {F, N, E}}, {5, 3, {}}, {-1, 0, {}},
    };
    for (const ROW& row : rows) {
        SCOPED_TRACE(::testing::Message() << "type " << row.nType << " code " << row.dwCode);
        EXPECT_EQ(row.expected, SelectSearchControllerKinds(row.nType, row.dwCode, 0));
        CControllerKindList withRaw = row.expected;
        withRaw.push_back(R);
        EXPECT_EQ(withRaw, SelectSearchControllerKinds(row.nType, row.dwCode, 1)) << "carving always comes last";
    }
    EXPECT_EQ((CControllerKindList{F, N, E}), SelectAllSearchControllerKinds(0));
    EXPECT_EQ((CControllerKindList{F, N, E, R}), SelectAllSearchControllerKinds(1));
}

} // namespace
