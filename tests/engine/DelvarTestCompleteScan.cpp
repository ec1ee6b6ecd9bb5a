// The complete scan of one partition: controllers, candidates up to the partition limit, the
// records of found partitions, cancel during the block scan (also from another thread), and the
// carved-file tree when nothing else is found.
#include <chrono>
#include <cstring>
#include <thread>

#include "DelvarTestSupport.h"

using namespace delvartest;

namespace {

class DelvarCompleteScan : public CDelvarTest {
protected:
    void Start(CTestDelvar& engine)
    {
        const PARTITION_INFO_EX record = VolumeRecord();
        const DISK_INFO_EX disk = DiskRecord();
        ASSERT_EQ(DELVAR_SUCCESS, engine.Init(&disk, &record, SCAN_MODE_COMPLETE, 0));
    }
};

TEST_F(DelvarCompleteScan, HandsOverAtMostTheLimitAndAFailedTreeKeepsItsPosition)
{
    CTestDelvar engine;
    m_Settings->m_nPartitionMaxlimit = 4;
    std::vector<uint64_t> treeStarts;
    std::vector<int32_t> treeIndexes;
    engine.MakeControllers = [&](CSearchControllerList& list) {
        CFakeController* pController = new CFakeController();
        pController->SupportedKinds = {1, 3};
        // Collected lowest score first; ordered by score, the last comes first.
        for (uint64_t i = 0; i < 6; ++i)
            pController->Candidates.push_back({i % 2 == 0 ? 1 : 3, 1000 * (i + 1), 500, 10 * (i + 1)});
        pController->BuildTree = [&](CSearchedPartitionInfo* pCandidate, int32_t nIndex) -> CFileSystemNode* {
            treeStarts.push_back(pCandidate->m_ullStartSector);
            treeIndexes.push_back(nIndex);
            if (nIndex == 1)
                return nullptr;
            CFileSystemNode* pRoot =
                MakeRoot(pCandidate->m_nFileSystemKind, pCandidate->m_ullStartSector, 8 + nIndex);
            AddFile(pRoot, "kept.txt");
            return pRoot;
        };
        list.push_back(pController);
    };
    Start(engine);
    ASSERT_EQ(DELVAR_SUCCESS, engine.Search());

    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3}), treeIndexes);
    EXPECT_EQ((std::vector<uint64_t>{6000, 5000, 4000, 3000}), treeStarts);
    const auto& calls = FakeStore()->Partitions;
    ASSERT_EQ(3u, calls.size());
    const int32_t anIndex[] = {0, 2, 3};
    for (size_t i = 0; i < calls.size(); ++i) {
        const PARTITION_INFO_EX& r = calls[i].Record;
        const uint64_t ullStart = treeStarts[static_cast<size_t>(anIndex[i])];
        SCOPED_TRACE(i);
        EXPECT_EQ(anIndex[i], calls[i].nIndex);
        EXPECT_EQ(i == 0 ? 1 : 0, calls[i].bIsFirst);
        EXPECT_EQ(0u, r.dwDiskNumber);
        EXPECT_EQ(ullStart / 1000 % 2 == 0 ? 3u : 1u, r.dwFileSystem);
        EXPECT_EQ(ullStart, r.ullStartSector) << "relative to the scanned partition";
        EXPECT_EQ(8 + anIndex[i], r.wSectorsPerCluster);
        EXPECT_EQ(512u, r.dwBytesPerSector);
        EXPECT_EQ(0u, r.ullTotalSectors);
        EXPECT_EQ(1u, r.dwFoundByScan);
        EXPECT_EQ(kVolumeStart, r.ullScannedStart);
        EXPECT_EQ(kVolumeSectors, r.ullScannedSectors);
        EXPECT_EQ(0u, r.dwWholeDisk);
    }
    ASSERT_EQ(3u, FakeStore()->Trees.size());
    EXPECT_EQ(0, FakeStore()->nTreesWithoutPartition);
}

TEST_F(DelvarCompleteScan, BlockScanFeedsEveryControllerEveryBlockOfThePartition)
{
    CTestDelvar engine;
    std::vector<uint64_t> firstBlocks, secondBlocks;
    engine.MakeControllers = [&](CSearchControllerList& list) {
        for (int n = 0; n < 2; ++n) {
            CFakeController* p = new CFakeController();
            std::vector<uint64_t>& seen = n == 0 ? firstBlocks : secondBlocks;
            p->OnBlock = [&seen, p](uint64_t ullFirst, uint64_t) {
                // Each controller is set up before the first block.
                EXPECT_EQ(1, p->nBeginCalls);
                EXPECT_EQ(8192, p->nSectorsPerRead);
                ASSERT_NE(nullptr, p->pDevice);
                EXPECT_EQ(kVolumeSectors, p->pDevice->GetTotalSectors());
                EXPECT_NE(nullptr, p->pContainer);
                seen.push_back(ullFirst);
            };
            list.push_back(p);
        }
    };
    Start(engine);
    EXPECT_EQ(DELVAR_NOTHING_FOUND, engine.Search());
    const std::vector<uint64_t> expected = {0, 8192, 16384, 24576};
    EXPECT_EQ(expected, firstBlocks);
    EXPECT_EQ(expected, secondBlocks);
    const SEARCH_PROGRESS progress = engine.Progress();
    EXPECT_EQ(100u, progress.dwPercent);
    EXPECT_EQ(u"3 of 4 blocks", rvd::ReadWideText(progress.szDetail));
}

TEST_F(DelvarCompleteScan, CancelDuringTheBlockScanStillBuildsTheCandidatesFound)
{
    CTestDelvar engine;
    CFakeController* pController = nullptr;
    std::vector<uint64_t> seen;
    engine.MakeControllers = [&](CSearchControllerList& list) {
        pController = new CFakeController();
        pController->SupportedKinds = {2};
        pController->Candidates = {{2, 0, 100, 5}, {2, 200, 100, 50}};
        pController->OnBlock = [&](uint64_t ullFirst, uint64_t) {
            seen.push_back(ullFirst);
            if (ullFirst == 8192)
                engine.Cancel();
        };
        pController->BuildTree = [&](CSearchedPartitionInfo* pCandidate, int32_t) {
            // The cancel of the block scan is not carried into the trees.
            EXPECT_EQ(0, pController->pCancel->load());
            return MakeRoot(2, pCandidate->m_ullStartSector);
        };
        list.push_back(pController);
    };
    Start(engine);
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search());
    EXPECT_EQ((std::vector<uint64_t>{0, 8192}), seen) << "the cancel ends the block scan before the next block";
    ASSERT_EQ(2u, FakeStore()->Partitions.size());
    EXPECT_EQ(200u, FakeStore()->Partitions[0].Record.ullStartSector);
    EXPECT_EQ(0u, FakeStore()->Partitions[1].Record.ullStartSector);
    EXPECT_EQ(0, engine.CancelWord());
}

TEST_F(DelvarCompleteScan, CancelWithNothingFoundReportsCancelled)
{
    CTestDelvar engine;
    std::vector<uint64_t> seen;
    engine.MakeControllers = [&](CSearchControllerList& list) {
        CFakeController* p = new CFakeController();
        p->OnBlock = [&](uint64_t ullFirst, uint64_t) {
            seen.push_back(ullFirst);
            if (ullFirst == 0)
                engine.Cancel();
        };
        list.push_back(p);
    };
    Start(engine);
    EXPECT_EQ(DELVAR_CANCELLED, engine.Search());
    EXPECT_EQ(std::vector<uint64_t>{0}, seen);
    EXPECT_EQ(u"Canceling", rvd::ReadWideText(engine.Progress().szTitle));
    EXPECT_EQ(1, engine.CancelWord());
    EXPECT_TRUE(FakeStore()->Partitions.empty());
}

TEST_F(DelvarCompleteScan, CancelFromAnotherThreadStopsALongScanPromptly)
{
    // 64 GiB (a sparse image): 16384 blocks at 2 ms each would take over half a minute.
    const uint64_t ullSectors = 64ull << 21;
    const std::string strBig = m_Table.MakeImage("big.img", (ullSectors + 2048) * 512);
    PartitionImage(strBig, 2048, ullSectors, "7");
    m_Table.Load("disk " + strBig + "\nvolume disk=0 start=2048 count=" + std::to_string(ullSectors) + " fs=NTFS\n");
    CTestDelvar engine;
    std::atomic<uint64_t> nBlocks(0);
    engine.MakeControllers = [&](CSearchControllerList& list) {
        CFakeController* p = new CFakeController();
        p->OnBlock = [&](uint64_t, uint64_t) {
            ++nBlocks;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        };
        list.push_back(p);
    };
    PARTITION_INFO_EX record = VolumeRecord(3);
    record.ullTotalSectors = ullSectors;
    ASSERT_EQ(DELVAR_SUCCESS, engine.Init(nullptr, &record, SCAN_MODE_COMPLETE, 0));

    std::atomic<bool> bDone(false);
    std::chrono::steady_clock::time_point tCancel;
    std::thread gui([&] {
        // The GUI polls progress while the scan runs, then presses Cancel.
        SEARCH_PROGRESS progress;
        int32_t anStatus[2];
        while (nBlocks.load() < 20 && !bDone.load()) {
            engine.GetProgress(&progress, anStatus);
            EXPECT_LE(progress.dwPercent, 100u);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        tCancel = std::chrono::steady_clock::now();
        engine.Cancel();
        engine.GetProgress(&progress, anStatus);
        EXPECT_EQ(1, anStatus[0]);
    });
    const int32_t nStatus = engine.Search();
    const auto tEnd = std::chrono::steady_clock::now();
    bDone = true;
    gui.join();
    EXPECT_EQ(DELVAR_CANCELLED, nStatus);
    EXPECT_LT(nBlocks.load(), 1000u);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(tEnd - tCancel).count(), 1000);
}

TEST_F(DelvarCompleteScan, CarvedFilesAloneAreHandedOverWithTheUsersRecord)
{
    m_Settings->m_bScanRaw = 1;
    CTestDelvar engine;
    uint64_t ullRawDeviceSectors = 0;
    engine.MakeControllers = [](CSearchControllerList& list) { list.push_back(new CFakeController()); };
    engine.RawTreeBuilder = [&](CRawFileInfoContainer* pContainer, IStorageDevice* pDevice) {
        EXPECT_NE(nullptr, pContainer);
        ullRawDeviceSectors = pDevice->GetTotalSectors();
        CFileSystemNode* pRoot = MakeRoot(6, 0, 1, "Raw Files");
        AddFile(AddFolder(pRoot, "jpg"), "FILE001.jpg");
        return pRoot;
    };
    PARTITION_INFO_EX record = VolumeRecord();
    record.dwFoundByScan = 1;
    record.ullScannedStart = 9;
    ASSERT_EQ(DELVAR_SUCCESS, engine.Init(nullptr, &record, SCAN_MODE_COMPLETE, 0));
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search());
    EXPECT_EQ(kVolumeSectors, ullRawDeviceSectors);
    ASSERT_EQ(1u, FakeStore()->Partitions.size());
    const PARTITION_INFO_EX& r = FakeStore()->Partitions[0].Record;
    EXPECT_EQ(kVolumeStart, r.ullStartSector);
    EXPECT_EQ(kVolumeSectors, r.ullTotalSectors);
    EXPECT_EQ(0u, r.dwFoundByScan);
    EXPECT_EQ(0u, r.ullScannedStart);
    ASSERT_EQ(1u, FakeStore()->Trees.size());
    EXPECT_EQ(6, FakeStore()->Trees[0].nFileSystemKind);
}

TEST_F(DelvarCompleteScan, CandidateThatNoControllerSupportsGetsNoTree)
{
    CTestDelvar engine;
    engine.MakeControllers = [&](CSearchControllerList& list) {
        CFakeController* pFinder = new CFakeController();
        pFinder->Candidates = {{7, 0, 10, 100}, {1, 100, 10, 10}};
        CFakeController* pFat = new CFakeController();
        pFat->SupportedKinds = {0, 1, 2};
        pFat->BuildTree = [](CSearchedPartitionInfo* p, int32_t) { return MakeRoot(p->m_nFileSystemKind, 100); };
        list.push_back(pFinder);
        list.push_back(pFat);
    };
    Start(engine);
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search());
    ASSERT_EQ(1u, FakeStore()->Partitions.size());
    EXPECT_EQ(1, FakeStore()->Partitions[0].nIndex) << "the unknown candidate used up position 0";
    EXPECT_EQ(0, FakeStore()->Partitions[0].bIsFirst);
}

} // namespace
