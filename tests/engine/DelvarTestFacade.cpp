// The engine facade: Init, Search status codes of the quick scan, volume matching, the loader of
// the result store, and the exported factory of the Delvar module.
#include <dlfcn.h>

#include <cstring>

#include "DelvarTestSupport.h"
#include "ICorrand.h"
#include "IDelvar.h"
#include "ResultStoreModule.h"
#include "fat/FATTreeBuilder.h"
#include "TestSupport.h"

using namespace delvartest;

namespace {

class DelvarFacade : public CDelvarTest {};

TEST_F(DelvarFacade, SearchBeforeInitReturnsNotInitializedAndTouchesNothing)
{
    CTestDelvar engine;
    int nReaderCalls = 0;
    engine.FatReader = [&](IStorageDevice*, bool) {
        ++nReaderCalls;
        return nullptr;
    };
    engine.Cancel();
    EXPECT_EQ(DELVAR_NOT_INITIALIZED, engine.Search());
    EXPECT_EQ(0, nReaderCalls);
    EXPECT_TRUE(FakeStore()->Partitions.empty());
    EXPECT_EQ(1, engine.CancelWord()) << "Search before Init must not reset the cancel flag either";
    const SEARCH_PROGRESS progress = engine.Progress();
    SEARCH_PROGRESS zero{};
    EXPECT_EQ(0, memcmp(&zero, &progress, sizeof(progress)));
    EXPECT_FALSE(IsResultStoreModuleLoaded());
}

TEST_F(DelvarFacade, InitFailsWithoutTheStoreModuleAndRecoversWhenItAppears)
{
    rvdtest::CTempDir emptyDir;
    CTestDelvar engine;
    const PARTITION_INFO_EX record = VolumeRecord();
    const DISK_INFO_EX disk = DiskRecord();
    {
        CScopedEnv noModules("RAVENDO_MODULE_DIR", emptyDir.Path());
        EXPECT_EQ(DELVAR_NOT_INITIALIZED, engine.Init(&disk, &record, SCAN_MODE_QUICK, 0));
        EXPECT_EQ(DELVAR_NOT_INITIALIZED, engine.Search());
    }
    engine.FatReader = [](IStorageDevice*, bool) { return MakeRoot(1); };
    EXPECT_EQ(DELVAR_SUCCESS, engine.Init(&disk, &record, SCAN_MODE_QUICK, 0));
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search());
    // A later failing Init makes the engine uninitialised again.
    CScopedEnv noModules("RAVENDO_MODULE_DIR", emptyDir.Path());
    UnloadResultStoreModule();
    EXPECT_EQ(DELVAR_NOT_INITIALIZED, engine.Init(&disk, &record, SCAN_MODE_QUICK, 0));
    EXPECT_EQ(DELVAR_NOT_INITIALIZED, engine.Search());
}

TEST_F(DelvarFacade, InitWithNullRecordsKeepsTheEarlierCopiesAndChangesTheMode)
{
    CTestDelvar engine;
    const PARTITION_INFO_EX record = VolumeRecord();
    const DISK_INFO_EX disk = DiskRecord();
    ASSERT_EQ(DELVAR_SUCCESS, engine.Init(&disk, &record, SCAN_MODE_QUICK, 0));
    ASSERT_EQ(DELVAR_SUCCESS, engine.Init(nullptr, nullptr, SCAN_MODE_COMPLETE, 0));
    engine.MakeControllers = [](CSearchControllerList& list) {
        CFakeController* p = new CFakeController();
        p->SupportedKinds = {2};
        p->Candidates = {{2, 100, 1000, 10}};
        p->BuildTree = [](CSearchedPartitionInfo*, int32_t) { return MakeRoot(2, 100); };
        list.push_back(p);
    };
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search());
    EXPECT_EQ(1, engine.nCompleteFactoryCalls);
    ASSERT_EQ(1u, FakeStore()->Partitions.size());
    // The partition found is placed by the kept record.
    EXPECT_EQ(kVolumeStart, FakeStore()->Partitions[0].Record.ullScannedStart);
    EXPECT_EQ(kVolumeSectors, FakeStore()->Partitions[0].Record.ullScannedSectors);
}

// One quick scan: which reader runs for a partition record, and what Search reports.
struct QUICK_CASE {
    const char* pszName;
    DWORD dwFileSystem;
    uint64_t ullStart;
    uint64_t ullSectors;
    DWORD dwWholeDisk;
    DWORD dwDisk;
    bool bReaderGivesTree;
    const char* pszReader;  // "fat16", "fat32", "ntfs", "ext2" or "" for none
    int32_t nStatus;
};

void PrintTo(const QUICK_CASE& c, std::ostream* pOut)
{
    *pOut << c.pszName;
}

const QUICK_CASE kQuickCases[] = {
    {"Fat16", 1, kVolumeStart, kVolumeSectors, 0, 0, true, "fat16", 0},
    {"Fat12", 0, kVolumeStart, kVolumeSectors, 0, 0, true, "fat16", 0},
    {"Fat32", 2, kVolumeStart, kVolumeSectors, 0, 0, true, "fat32", 0},
    {"Ntfs", 3, kVolumeStart, kVolumeSectors, 0, 0, true, "ntfs", 0},
    {"Ext2", 4, kVolumeStart, kVolumeSectors, 0, 0, true, "ext2", 0},
    {"Ext3", 5, kVolumeStart, kVolumeSectors, 0, 0, true, "ext2", 0},
    {"ReaderFindsNothing", 1, kVolumeStart, kVolumeSectors, 0, 0, false, "fat16", DELVAR_NOTHING_FOUND},
    {"Unallocated", 6, kVolumeStart, kVolumeSectors, 0, 0, true, "", DELVAR_NOTHING_FOUND},
    {"UnknownFileSystem", 7, kVolumeStart, kVolumeSectors, 0, 0, true, "", DELVAR_NOTHING_FOUND},
    {"OtherStart", 1, kVolumeStart + 1, kVolumeSectors, 0, 0, true, "", DELVAR_PARTITION_NOT_FOUND},
    {"OtherCount", 1, kVolumeStart, kVolumeSectors - 1, 0, 0, true, "", DELVAR_PARTITION_NOT_FOUND},
    {"OtherCountWholeDiskFlag", 1, kVolumeStart, 12345, 1, 0, true, "fat16", 0},
    {"OtherStartWholeDiskFlag", 1, kVolumeStart + 8, kVolumeSectors, 1, 0, true, "", DELVAR_PARTITION_NOT_FOUND},
    {"OtherDisk", 1, kVolumeStart, kVolumeSectors, 0, 1, true, "", DELVAR_PARTITION_NOT_FOUND},
};

class DelvarQuickScan : public CDelvarTest, public ::testing::WithParamInterface<QUICK_CASE> {};

TEST_P(DelvarQuickScan, RunsTheRightReaderAndReports)
{
    const QUICK_CASE& c = GetParam();
    CTestDelvar engine;
    std::string strReader;
    auto Tree = [&](const char* pszReader) -> CFileSystemNode* {
        strReader = pszReader;
        return c.bReaderGivesTree ? MakeRoot(static_cast<int32_t>(c.dwFileSystem), 0, 4) : nullptr;
    };
    engine.FatReader = [&](IStorageDevice*, bool bFat32) { return Tree(bFat32 ? "fat32" : "fat16"); };
    engine.NtfsReader = [&](IStorageDevice*) { return Tree("ntfs"); };
    engine.Ext2Reader = [&](IStorageDevice*) { return Tree("ext2"); };

    PARTITION_INFO_EX record = VolumeRecord(c.dwFileSystem);
    record.ullStartSector = c.ullStart;
    record.ullTotalSectors = c.ullSectors;
    record.dwWholeDisk = c.dwWholeDisk;
    record.dwDiskNumber = c.dwDisk;
    // Fields that only records of found partitions carry; the user's record goes back without.
    record.dwFoundByScan = 1;
    record.ullScannedStart = 77;
    record.ullScannedSectors = 88;
    const DISK_INFO_EX disk = DiskRecord();
    ASSERT_EQ(DELVAR_SUCCESS, engine.Init(&disk, &record, SCAN_MODE_QUICK, 0));

    EXPECT_EQ(c.nStatus, engine.Search());
    EXPECT_EQ(std::string(c.pszReader), strReader);
    if (!strReader.empty()) {
        ASSERT_EQ(1u, engine.ReaderDeviceSectors.size());
        EXPECT_EQ(kVolumeSectors, engine.ReaderDeviceSectors[0]) << "the reader reads the volume's own device";
    }
    if (c.nStatus == 0) {
        ASSERT_EQ(1u, FakeStore()->Partitions.size());
        ASSERT_EQ(1u, FakeStore()->Trees.size());
        const FAKE_PARTITION_CALL& call = FakeStore()->Partitions[0];
        EXPECT_EQ(0, call.nIndex);
        EXPECT_EQ(1, call.bIsFirst);
        PARTITION_INFO_EX expected = record;
        expected.dwFoundByScan = 0;
        expected.ullScannedStart = 0;
        expected.ullScannedSectors = 0;
        EXPECT_EQ(0, memcmp(&expected, &call.Record, sizeof(expected)));
    } else {
        EXPECT_TRUE(FakeStore()->Partitions.empty());
    }
    EXPECT_EQ(0, FakeStore()->nTreesWithoutPartition);
}

INSTANTIATE_TEST_SUITE_P(Cases, DelvarQuickScan, ::testing::ValuesIn(kQuickCases),
                         [](const ::testing::TestParamInfo<QUICK_CASE>& info) { return std::string(info.param.pszName); });

// A floppy lies on no physical disk: its record carries the no-disk number and names the floppy
// by its drive letter; start and length are compared as for any volume. A record of a disk never
// reaches the floppy, whatever its letter.
TEST_F(DelvarFacade, FloppyIsFoundByItsDriveLetter)
{
    LoadTable("floppy A " + rvdtest::FixturePath("fat12.img") + "\n");
    const uint64_t ullFloppySectors = 2880;
    struct CASE {
        const char* pszName;
        DWORD dwDisk;
        CHAR chLetter;
        uint64_t ullStart;
        uint64_t ullSectors;
        DWORD dwWholeDisk;
        int32_t nStatus;
    };
    const CASE cases[] = {
        {"its letter", 0xFFFFFFFF, 'A', 0, ullFloppySectors, 0, DELVAR_SUCCESS},
        {"its letter in lower case", 0xFFFFFFFF, 'a', 0, ullFloppySectors, 0, DELVAR_SUCCESS},
        {"another letter", 0xFFFFFFFF, 'B', 0, ullFloppySectors, 0, DELVAR_PARTITION_NOT_FOUND},
        {"no letter", 0xFFFFFFFF, 0, 0, ullFloppySectors, 0, DELVAR_PARTITION_NOT_FOUND},
        {"another length", 0xFFFFFFFF, 'A', 0, ullFloppySectors - 1, 0, DELVAR_PARTITION_NOT_FOUND},
        {"another length, whole-disk flag", 0xFFFFFFFF, 'A', 0, 1, 1, DELVAR_SUCCESS},
        {"another start", 0xFFFFFFFF, 'A', 1, ullFloppySectors, 0, DELVAR_PARTITION_NOT_FOUND},
        {"a disk's record with the floppy's letter", 0, 'A', 0, ullFloppySectors, 0, DELVAR_PARTITION_NOT_FOUND},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        FakeStore()->Clear();
        CTestDelvar engine;
        engine.FatReader = [](IStorageDevice*, bool) { return MakeRoot(0, 0, 1); };
        PARTITION_INFO_EX record = VolumeRecord(0);
        record.dwDiskNumber = c.dwDisk;
        record.chDriveLetter = c.chLetter;
        record.ullStartSector = c.ullStart;
        record.ullTotalSectors = c.ullSectors;
        record.dwWholeDisk = c.dwWholeDisk;
        ASSERT_EQ(DELVAR_SUCCESS, engine.Init(nullptr, &record, SCAN_MODE_QUICK, 0));
        EXPECT_EQ(c.nStatus, engine.Search());
        if (c.nStatus == 0) {
            EXPECT_EQ(std::vector<uint64_t>{ullFloppySectors}, engine.ReaderDeviceSectors);
            EXPECT_EQ(1u, FakeStore()->Partitions.size());
            if (!FakeStore()->Partitions.empty()) {
                EXPECT_EQ(0xFFFFFFFFu, FakeStore()->Partitions[0].Record.dwDiskNumber);
            }
        } else {
            EXPECT_TRUE(engine.ReaderDeviceSectors.empty());
        }
    }
}

TEST_F(DelvarFacade, ModeOutsideTheThreeRunsNothing)
{
    CTestDelvar engine;
    int nReaderCalls = 0;
    engine.FatReader = [&](IStorageDevice*, bool) {
        ++nReaderCalls;
        return MakeRoot(1);
    };
    const PARTITION_INFO_EX record = VolumeRecord();
    const DISK_INFO_EX disk = DiskRecord();
    ASSERT_EQ(DELVAR_SUCCESS, engine.Init(&disk, &record, 3, 0));
    EXPECT_EQ(DELVAR_NOTHING_FOUND, engine.Search());
    EXPECT_EQ(0, nReaderCalls);
    EXPECT_EQ(0, engine.nCompleteFactoryCalls + engine.nWholeDiskFactoryCalls);
}

TEST_F(DelvarFacade, CancelIsReportedUntilTheNextSearchStarts)
{
    CTestDelvar engine;
    const PARTITION_INFO_EX record = VolumeRecord();
    const DISK_INFO_EX disk = DiskRecord();
    ASSERT_EQ(DELVAR_SUCCESS, engine.Init(&disk, &record, SCAN_MODE_QUICK, 0));
    EXPECT_EQ(0, engine.Cancel());
    int32_t anStatus[2] = {-1, -1};
    engine.GetProgress(nullptr, anStatus);
    EXPECT_EQ(1, anStatus[0]);
    EXPECT_EQ(0, anStatus[1]);
    // A cancel requested before the scan starts is not carried into it.
    engine.FatReader = [](IStorageDevice*, bool) { return MakeRoot(1); };
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search());
    EXPECT_EQ(0, engine.CancelWord());
    const SEARCH_PROGRESS progress = engine.Progress();
    EXPECT_EQ(1u, progress.dwPercent);
}

TEST_F(DelvarFacade, ResultStoreModuleIsLoadedOnceAndUnloadedWithTheEngine)
{
    {
        CTestDelvar engine;
        const PARTITION_INFO_EX record = VolumeRecord();
        ASSERT_EQ(DELVAR_SUCCESS, engine.Init(nullptr, &record, SCAN_MODE_QUICK, 0));
        const int nCalls = FakeStore()->nCreateInstanceCalls;
        ASSERT_EQ(DELVAR_SUCCESS, engine.Init(nullptr, &record, SCAN_MODE_QUICK, 0));
        EXPECT_EQ(nCalls + 1, FakeStore()->nCreateInstanceCalls);
        EXPECT_TRUE(IsResultStoreModuleLoaded());
    }
    EXPECT_FALSE(IsResultStoreModuleLoaded());
}

TEST(DelvarModuleFolders, EnvironmentOverridesTheModulesOwnFolder)
{
    {
        CScopedEnv dir("RAVENDO_MODULE_DIR", "/some/where");
        const std::vector<std::string> folders = GetEngineModuleFolders();
        ASSERT_EQ(1u, folders.size());
        EXPECT_EQ("/some/where/", folders[0]);
    }
    unsetenv("RAVENDO_MODULE_DIR");
    const std::vector<std::string> folders = GetEngineModuleFolders();
    ASSERT_FALSE(folders.empty());
    // Linked into this test program, the engine's own folder is the program's.
    char szExe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", szExe, sizeof(szExe) - 1), 0);
    std::string strExe = szExe;
    EXPECT_EQ(strExe.substr(0, strExe.rfind('/') + 1), folders[0]);
}

// The Delvar module as the GUI program loads it: by name, through its one export.
TEST_F(DelvarFacade, ModuleExportsOneProcessWideEngine)
{
    const std::string strPath = rvdtest::OutputDir() + "/libDelvar.so";
    void* hModule = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, hModule) << dlerror();
    auto pfnCreate = reinterpret_cast<PFN_DELVAR_CREATE_INSTANCE>(dlsym(hModule, "CreateInstance"));
    ASSERT_NE(nullptr, pfnCreate);
    IDelvar* pEngine = pfnCreate();
    ASSERT_NE(nullptr, pEngine);
    EXPECT_EQ(pEngine, pfnCreate());
    EXPECT_EQ(DELVAR_NOT_INITIALIZED, pEngine->Search());
    const PARTITION_INFO_EX record = VolumeRecord();
    const DISK_INFO_EX disk = DiskRecord();
    EXPECT_EQ(DELVAR_SUCCESS, pEngine->Init(&disk, &record, SCAN_MODE_QUICK, 0));
    // The volume holds no FAT boot sector: the FAT reader says so and the scan finds nothing.
    EXPECT_EQ(DELVAR_NOTHING_FOUND, pEngine->Search());
    int32_t anStatus[2] = {-1, -1};
    SEARCH_PROGRESS progress;
    pEngine->GetProgress(&progress, anStatus);
    EXPECT_EQ(100u, progress.dwPercent);
    EXPECT_EQ(FAT_BUILD_ERROR_NO_BOOT_SECTOR, progress.dwStatus);
    EXPECT_EQ(0, anStatus[0]);
    EXPECT_EQ(0, anStatus[1]);
    // The engine object lives until the process ends; the module stays loaded with it.
}

} // namespace
