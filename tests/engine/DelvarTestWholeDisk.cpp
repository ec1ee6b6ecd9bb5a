// The whole-disk scan: the disk and its description, partitions found by the partition search,
// the block scan of the whole disk when none are found, and the carved files of the disk.
#include <cstring>

#include "BasicPartitionDevice.h"
#include "DelvarTestSupport.h"

using namespace delvartest;

namespace {

class DelvarWholeDisk : public CDelvarTest {
protected:
    void Start(CTestDelvar& engine, DWORD dwDisk = 0, DWORD dwFlags = 1)
    {
        DISK_INFO_EX disk = DiskRecord(dwDisk);
        disk.dwFlags = dwFlags;
        // The partition record plays no part in a whole-disk scan.
        PARTITION_INFO_EX record{};
        record.ullStartSector = 999;
        ASSERT_EQ(DELVAR_SUCCESS, engine.Init(&disk, &record, SCAN_MODE_WHOLE_DISK, 0));
    }

    static void AddFound(CFoundPartitionList& list, IStorageDevice* pDisk, uint64_t ullStart, uint64_t ullCount,
                         uint32_t nKind)
    {
        FOUND_PARTITION* p = new FOUND_PARTITION();
        p->ullStartSector = ullStart;
        p->ullSectorCount = ullCount;
        p->nFileSystemKind = nKind;
        p->pDevice = new CBasicPartitionDevice(pDisk, ullStart, ullCount);
        list.push_back(p);
    }
};

TEST_F(DelvarWholeDisk, UnknownDiskIsReportedAsDeviceNotFound)
{
    CTestDelvar engine;
    bool bSearched = false;
    engine.PartitionSearch = [&](SEARCH_DEVICE_CONTEXT*, CFoundPartitionList&) { bSearched = true; };
    Start(engine, 3);
    EXPECT_EQ(DELVAR_DEVICE_NOT_FOUND, engine.Search());
    EXPECT_FALSE(bSearched);
}

TEST_F(DelvarWholeDisk, SearchContextDescribesTheDisk)
{
    LoadTable("", "bus=7 vendor=ACME product=\"Big Disk\" geometry=100/240/63");
    CTestDelvar engine;
    SEARCH_DEVICE_CONTEXT seen;
    memset(&seen, 0xFF, sizeof(seen));
    engine.PartitionSearch = [&](SEARCH_DEVICE_CONTEXT* pContext, CFoundPartitionList&) { seen = *pContext; };
    m_Settings->m_nDiskFullScan = 0;
    Start(engine);
    EXPECT_EQ(DELVAR_NOTHING_FOUND, engine.Search());
    EXPECT_EQ(0, seen.m_nReserved);
    EXPECT_EQ(1, seen.m_bUsb);
    EXPECT_EQ(240, seen.m_nHeads);
    ASSERT_NE(nullptr, seen.m_pDevice);
    EXPECT_EQ(seen.m_pDevice, seen.m_pDevice2);
    EXPECT_EQ(u"ACME  Big Disk  USB Devi", rvd::ReadWideText(seen.m_szDescription));
}

TEST_F(DelvarWholeDisk, PlaceholderVendorIsLeftOutOfTheDescription)
{
    LoadTable("", "bus=3 vendor=(Standard) product=Disk");
    CTestDelvar engine;
    std::u16string strDescription;
    int32_t bUsb = -1;
    engine.PartitionSearch = [&](SEARCH_DEVICE_CONTEXT* pContext, CFoundPartitionList&) {
        strDescription = rvd::ReadWideText(pContext->m_szDescription);
        bUsb = pContext->m_bUsb;
    };
    m_Settings->m_nDiskFullScan = 0;
    Start(engine);
    engine.Search();
    EXPECT_EQ(u"Disk  ATA Bus", strDescription);
    EXPECT_EQ(0, bUsb);
}

TEST_F(DelvarWholeDisk, NothingFoundWithoutFullScanRunsNoBlockScan)
{
    m_Settings->m_nDiskFullScan = 0;
    CTestDelvar engine;
    Start(engine);
    EXPECT_EQ(DELVAR_NOTHING_FOUND, engine.Search());
    EXPECT_EQ(0, engine.nWholeDiskFactoryCalls);
}

TEST_F(DelvarWholeDisk, FoundPartitionsBecomeResultsUpToTheLimit)
{
    m_Settings->m_nPartitionMaxlimit = 2;
    CTestDelvar engine;
    engine.PartitionSearch = [&](SEARCH_DEVICE_CONTEXT* pContext, CFoundPartitionList& list) {
        AddFound(list, pContext->m_pDevice, 63, 1000, 2);
        AddFound(list, pContext->m_pDevice, 2048, 4000, 3);
        AddFound(list, pContext->m_pDevice, 8000, 100, 1);
    };
    engine.FatReader = [](IStorageDevice*, bool bFat32) { return MakeRoot(bFat32 ? 2 : 1, 0, 16); };
    engine.NtfsReader = [](IStorageDevice*) {
        CFileSystemNode* pRoot = MakeRoot(3, 0, 8);
        AddFile(pRoot, "gone.doc");
        return pRoot;
    };
    Start(engine, 0, 1);
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search());
    EXPECT_EQ(0, engine.nWholeDiskFactoryCalls);
    EXPECT_EQ((std::vector<uint64_t>{1000, 4000}), engine.ReaderDeviceSectors);
    const auto& calls = FakeStore()->Partitions;
    ASSERT_EQ(2u, calls.size());
    const DWORD adwKind[] = {2, 3};
    const uint64_t aullStart[] = {63, 2048};
    const WORD awSecond[] = {16, 8};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const PARTITION_INFO_EX& r = calls[i].Record;
        EXPECT_EQ(static_cast<int32_t>(i), calls[i].nIndex);
        EXPECT_EQ(i == 0 ? 1 : 0, calls[i].bIsFirst);
        EXPECT_EQ(0u, r.dwDiskNumber);
        EXPECT_EQ(adwKind[i], r.dwFileSystem);
        EXPECT_EQ(aullStart[i], r.ullStartSector);
        EXPECT_EQ(awSecond[i], r.wSectorsPerCluster);
        EXPECT_EQ(512u, r.dwBytesPerSector);
        EXPECT_EQ(1u, r.dwFoundByScan);
        EXPECT_EQ(PARTITION_SCANNED_WHOLE_DISK, r.ullScannedStart);
        EXPECT_EQ(kDiskSectors, r.ullScannedSectors);
        EXPECT_EQ(1u, r.dwWholeDisk) << "bit 0 of the disk record's flags";
    }
}

TEST_F(DelvarWholeDisk, CancelWithPartitionsFoundStillBuildsTheirTrees)
{
    CTestDelvar engine;
    engine.PartitionSearch = [&](SEARCH_DEVICE_CONTEXT* pContext, CFoundPartitionList& list) {
        AddFound(list, pContext->m_pDevice, 63, 1000, 1);
        engine.Cancel();
    };
    engine.FatReader = [&](IStorageDevice*, bool) {
        EXPECT_EQ(1, engine.CancelWord()) << "the flag stays set for the readers";
        return MakeRoot(1);
    };
    Start(engine);
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search());
    EXPECT_EQ(1u, FakeStore()->Partitions.size());
    EXPECT_EQ(0, engine.nWholeDiskFactoryCalls);
}

TEST_F(DelvarWholeDisk, BlockScanOfTheDiskWhenNoPartitionIsFound)
{
    CTestDelvar engine;
    std::vector<uint64_t> seen;
    uint64_t ullScannedSectors = 0;
    engine.PartitionSearch = [&](SEARCH_DEVICE_CONTEXT*, CFoundPartitionList&) {
        // A cancel of the partition search alone is dropped when the block scan follows.
        engine.Cancel();
    };
    engine.MakeControllers = [&](CSearchControllerList& list) {
        CFakeController* p = new CFakeController();
        p->SupportedKinds = {3};
        p->Candidates = {{3, 4096, 8000, 30}};
        p->OnBlock = [&, p](uint64_t ullFirst, uint64_t) {
            seen.push_back(ullFirst);
            ullScannedSectors = p->pDevice->GetTotalSectors();
        };
        p->BuildTree = [](CSearchedPartitionInfo* pCandidate, int32_t) { return MakeRoot(3, pCandidate->m_ullStartSector, 8); };
        list.push_back(p);
    };
    Start(engine, 0, 0);
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search());
    EXPECT_EQ(1, engine.nWholeDiskFactoryCalls);
    EXPECT_EQ((std::vector<uint64_t>{0, 8192, 16384, 24576}), seen);
    EXPECT_EQ(kDiskSectors, ullScannedSectors);
    ASSERT_EQ(1u, FakeStore()->Partitions.size());
    const PARTITION_INFO_EX& r = FakeStore()->Partitions[0].Record;
    EXPECT_EQ(4096u, r.ullStartSector);
    EXPECT_EQ(3u, r.dwFileSystem);
    EXPECT_EQ(8u, r.wSectorsPerCluster);
    EXPECT_EQ(1u, r.dwFoundByScan);
    EXPECT_EQ(PARTITION_SCANNED_WHOLE_DISK, r.ullScannedStart);
    EXPECT_EQ(kDiskSectors, r.ullScannedSectors);
    EXPECT_EQ(0u, r.dwWholeDisk);
}

TEST_F(DelvarWholeDisk, CancelOfTheBlockScanWithNothingFoundReportsCancelled)
{
    CTestDelvar engine;
    engine.MakeControllers = [&](CSearchControllerList& list) {
        CFakeController* p = new CFakeController();
        p->OnBlock = [&](uint64_t, uint64_t) { engine.Cancel(); };
        list.push_back(p);
    };
    Start(engine);
    EXPECT_EQ(DELVAR_CANCELLED, engine.Search());
    EXPECT_EQ(u"Canceling", rvd::ReadWideText(engine.Progress().szTitle));
}

// A whole-disk scan that finds no partition but carved files hands the carved tree over as the
// disk's own result (the complete scan of one partition does the same with the user's record).
TEST_F(DelvarWholeDisk, CarvedFilesAloneAreHandedOverAsTheDisksResult)
{
    m_Settings->m_bScanRaw = 1;
    CTestDelvar engine;
    engine.MakeControllers = [](CSearchControllerList& list) { list.push_back(new CFakeController()); };
    uint64_t ullRawDeviceSectors = 0;
    engine.RawTreeBuilder = [&](CRawFileInfoContainer*, IStorageDevice* pDevice) {
        ullRawDeviceSectors = pDevice->GetTotalSectors();
        CFileSystemNode* pRoot = MakeRoot(6, 0, 1, "Raw Files");
        CFileNode* pJpg = AddFolder(pRoot, "jpg");
        AddFile(pJpg, "FILE001.jpg");
        AddFile(pJpg, "FILE002.jpg");
        return pRoot;
    };
    Start(engine, 0, 1);
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search());
    EXPECT_EQ(kDiskSectors, ullRawDeviceSectors);
    ASSERT_EQ(1u, FakeStore()->Partitions.size());
    const FAKE_PARTITION_CALL& call = FakeStore()->Partitions[0];
    EXPECT_EQ(0, call.nIndex);
    EXPECT_EQ(1, call.bIsFirst);
    const PARTITION_INFO_EX& r = call.Record;
    EXPECT_EQ(0u, r.dwDiskNumber);
    EXPECT_EQ(6u, r.dwFileSystem);
    EXPECT_EQ(0u, r.ullStartSector);
    EXPECT_EQ(kDiskSectors, r.ullTotalSectors);
    EXPECT_EQ(512u, r.dwBytesPerSector);
    EXPECT_EQ(0u, r.dwFoundByScan);
    EXPECT_EQ(0u, r.ullScannedStart);
    EXPECT_EQ(0u, r.ullScannedSectors);
    EXPECT_EQ(1u, r.dwWholeDisk);
    ASSERT_EQ(1u, FakeStore()->Trees.size());
    const FAKE_TREE& tree = FakeStore()->Trees[0];
    ASSERT_EQ(4u, tree.Nodes.size());
    EXPECT_EQ("Deleted Files/jpg/FILE001.jpg", FakeNodePath(tree, 2));
}

} // namespace
