// The quick scan of NTFS volumes end to end: IDelvar::Search in mode 0 through the Delvar module
// (loaded by name, as the GUI program loads it), the volume given by the disk table, and the
// fake store, which keeps what it saw of the "Deleted Files" tree during AddFileTree.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <set>

#include "DelvarTestSupport.h"
#include "IDelvar.h"
#include "NTFSReaderTestSupport.h"
#include "ScanRecords.h"
#include "DiskTable.h"
#include "TestModules.h"
#include "ntfs/NTFSFileProperties.h"

using namespace ntfstest;

namespace {

typedef IDelvar* (*PFN_CREATE_ENGINE)();
typedef bool (*PFN_RELOAD_TABLE)(std::string*);

// The engine of the Delvar module and the module's own disk-table reload (the module carries its
// own copy of the platform layer, so the test's reload does not reach it).
class CNtfsEngineModule {
public:
    static CNtfsEngineModule& Get()
    {
        static CNtfsEngineModule module;
        return module;
    }
    IDelvar* Engine() const { return m_pEngine; }
    bool ReloadTable() const
    {
        std::string strError;
        return m_pfnReload != nullptr && m_pfnReload(&strError);
    }

private:
    CNtfsEngineModule()
    {
        void* hModule = rvdtest::OpenModule("Delvar");
        if (hModule == nullptr)
            return;
        if (auto pfn = reinterpret_cast<PFN_CREATE_ENGINE>(dlsym(hModule, "CreateInstance")))
            m_pEngine = pfn();
        m_pfnReload = &rvdplat::ReloadDiskTable;
    }
    IDelvar* m_pEngine = nullptr;
    PFN_RELOAD_TABLE m_pfnReload = nullptr;
};

// Sectors of the volume as the engine's collection sees it: a partition's table entry, or for an
// image that is one whole volume, the sectors its boot sector counts (NTFS leaves the last
// sector, its backup boot sector, out).
uint64_t ScannedSectors(const NTFS_FIXTURE& fixture, const std::string& strImage, uint64_t ullCount)
{
    if (fixture.nPartition != 0)
        return ullCount;
    fstest::CImageDevice device(strImage);
    const std::vector<uint8_t> boot = device.Sector(0);
    uint64_t ullTotal = 0;
    for (int i = 7; i >= 0; --i)
        ullTotal = (ullTotal << 8) | boot[40 + i];
    return ullTotal;
}

struct SCAN_RESULT {
    int32_t nStatus = -1;
    std::vector<FAKE_TREE> Trees;
};

class NtfsQuickScan : public ::testing::Test {
protected:
    devtest::CDeviceTable m_Table;
    delvartest::CScopedEnv m_ModuleDir{"RAVENDO_MODULE_DIR", delvartest::FakeStoreDir()};
    delvartest::CScopedSettings m_Settings;
    rvdtest::CTempDir m_Dir;

    void SetUp() override
    {
        m_Settings->m_nFileSystemType = 0;
        m_Settings->m_bScanRaw = 0;
    }

    // Search in mode 0 over the volume [ullStart, ullStart + ullCount) of an image that is
    // physical drive 0.
    SCAN_RESULT Scan(const std::string& strImage, uint64_t ullStart, uint64_t ullCount)
    {
        SCAN_RESULT result;
        m_Table.Load("disk " + strImage + "\nvolume disk=0 start=" + std::to_string(ullStart) +
                     " count=" + std::to_string(ullCount) + " fs=NTFS\n");
        CNtfsEngineModule& module = CNtfsEngineModule::Get();
        if (module.Engine() == nullptr || !module.ReloadTable()) {
            ADD_FAILURE() << "the Delvar module or its disk table is not usable: " << dlerror();
            return result;
        }
        FAKE_CORRAND_STATE* pStore = delvartest::FakeStore();
        if (pStore == nullptr) {
            ADD_FAILURE() << "no fake store";
            return result;
        }
        pStore->Clear();
        const rvdtest::SCAN_RECORDS records = rvdtest::VolumeScanRecords(std::filesystem::file_size(strImage) / 512,
                                                                         FILE_SYSTEM_NTFS, ullStart, ullCount);
        EXPECT_EQ(0, module.Engine()->Init(&records.Disk, &records.Volume, 0, 0));
        result.nStatus = module.Engine()->Search();
        result.Trees = pStore->Trees;
        pStore->Clear();
        return result;
    }

    // The store's tree holds exactly the deleted files a quick scan lists, each with its size,
    // and the runs of each recoverable one give back its bytes. Returns the files recovered.
    int CheckDeletedFiles(const FAKE_TREE& tree, const std::vector<rvdtest::ManifestEntry>& manifest,
                          const std::string& strImage, uint64_t ullStart, const std::string& strContext)
    {
        fstest::CImageDevice device(strImage);
        const NTFS_GEOMETRY geometry = ReadGeometry(device, ullStart);
        std::map<std::string, size_t> files;
        for (size_t i = 1; i < tree.Nodes.size(); ++i) {
            if ((tree.Nodes[i].nAttributes & FILE_ATTR_DIRECTORY) != 0)
                continue;
            const std::string strPath = FakeNodePath(tree, i);
            EXPECT_EQ(0u, files.count(strPath)) << strContext << ": listed twice: " << strPath;
            files[strPath] = i;
        }
        const std::string strRoot = tree.Nodes.empty() ? std::string() : tree.Nodes[0].strName;
        std::set<std::string> expected;
        int nRecovered = 0;
        for (const rvdtest::ManifestEntry& entry : manifest) {
            const std::vector<std::string> names = QuickScanPath(entry);
            if (entry.bDirectory || names.empty())
                continue;
            const std::string strPath = strRoot + JoinPath(names);
            expected.insert(strPath);
            auto it = files.find(strPath);
            if (it == files.end()) {
                ADD_FAILURE() << strContext << ": missing " << strPath;
                continue;
            }
            const FAKE_TREE_NODE& node = tree.Nodes[it->second];
            EXPECT_EQ(NTFS_STATUS_DELETED, node.nStatus) << strPath;
            EXPECT_EQ(PROPERTIES_KIND_NTFS, node.nPropertiesKind) << strPath;
            if (!entry.bRecoverable) {
                // Cut to the clusters left when some of its runs are gone.
                EXPECT_LE(node.ullSize, entry.nSize) << strPath;
                continue;
            }
            EXPECT_EQ(entry.nSize, node.ullSize) << strPath;
            const std::vector<uint8_t> data =
                ReadThroughRuns(device, ullStart, ullStart, geometry.nSectorsPerCluster, geometry.nRecordBytes,
                                node.ullSize, node.nRunListType == DATA_RUN_LIST_NTFS_RESIDENT, node.nResidentValue,
                                node.Runs);
            EXPECT_EQ(entry.strSha256, rvdtest::Sha256Hex(data)) << strContext << ": " << strPath;
            ++nRecovered;
        }
        for (const auto& file : files)
            EXPECT_TRUE(expected.count(file.first)) << strContext << ": unexpected " << file.first;
        return nRecovered;
    }
};

} // namespace

TEST_F(NtfsQuickScan, EveryFixtureHandsOverItsDeletedFilesWithTheirBytes)
{
    for (const NTFS_FIXTURE& fixture : AllFixtures()) {
        SCOPED_TRACE(FixtureName(fixture));
        uint64_t ullStart = 0, ullCount = 0;
        VolumeExtent(fixture, &ullStart, &ullCount);
        const std::string strImage = rvdtest::FixturePath(fixture.pszImage);
        const SCAN_RESULT result = Scan(strImage, ullStart, ScannedSectors(fixture, strImage, ullCount));
        ASSERT_EQ(DELVAR_SUCCESS, result.nStatus);
        ASSERT_EQ(1u, result.Trees.size());
        const FAKE_TREE& tree = result.Trees[0];
        EXPECT_EQ(FILE_SYSTEM_NTFS, tree.nFileSystemKind);
        EXPECT_EQ(fixture.pszLabel, tree.strDescription);
        // The volume's own device: clusters count from its sector 0.
        EXPECT_EQ(0u, tree.ullStartSector);
        fstest::CImageDevice device(strImage);
        EXPECT_EQ(static_cast<int32_t>(ReadGeometry(device, ullStart).nSectorsPerCluster), tree.nSecondValue);
        const int nRecovered = CheckDeletedFiles(tree, rvdtest::ReadManifest(fixture.pszImage, fixture.nPartition),
                                                 strImage, ullStart, FixtureName(fixture));
        EXPECT_GT(nRecovered, 0);
    }
}

// A damaged copy: a deleted file's FILE record whose update sequence count is out of range (the
// record is refused), another whose update sequence number no longer matches its sectors (it is
// read without fix-ups), and the "Many Files" folder naming itself as its parent (it is found in
// LostFiles1 with its deleted entries). The scan ends with everything else in place.
TEST_F(NtfsQuickScan, DamagedRecordsGiveResultsNotCrashes)
{
    const std::string strSource = rvdtest::FixturePath("ntfs.img");
    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest("ntfs.img");
    fstest::CImageDevice device(strSource);
    const NTFS_GEOMETRY geometry = ReadGeometry(device, 0);
    auto idOf = [&](const char* pszPath) {
        const rvdtest::ManifestEntry* pEntry = rvdtest::FindManifestEntry(manifest, pszPath);
        EXPECT_NE(nullptr, pEntry) << pszPath;
        return pEntry != nullptr ? static_cast<uint64_t>(pEntry->nId) : 0;
    };
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(strSource);
    auto recordAt = [&](uint64_t ullNumber) { return image.data() + RecordSector(geometry, 0, ullNumber) * 512; };

    uint8_t* pCount = recordAt(idOf("/deleted note.txt"));
    pCount[6] = 17;
    pCount[7] = 0;
    uint8_t* pNumber = recordAt(idOf("/Documents/OLDMEMO.TXT"));
    pNumber[1022] ^= 0xFF;
    {
        CRecordEditor many(device, RecordSector(geometry, 0, idOf("/Many Files")), geometry.nRecordBytes);
        const size_t nName = many.Find(0x30);
        ASSERT_NE(0u, nName);
        const size_t nValue = nName + fstest::GetU16(many.Bytes(), nName + 20);
        fstest::PutU32(many.Bytes(), nValue, static_cast<uint32_t>(idOf("/Many Files")));
        many.Store();
        const std::vector<uint8_t> sectors =
            device.Sectors(RecordSector(geometry, 0, idOf("/Many Files")), geometry.nRecordBytes / 512);
        memcpy(recordAt(idOf("/Many Files")), sectors.data(), sectors.size());
    }
    const std::string strCopy = m_Dir.File("damaged.img");
    rvdtest::WriteFileBytes(strCopy, image);

    const SCAN_RESULT result = Scan(strCopy, 0, ScannedSectors(AllFixtures()[0], strCopy, 0));
    ASSERT_EQ(DELVAR_SUCCESS, result.nStatus);
    ASSERT_EQ(1u, result.Trees.size());
    const FAKE_TREE& tree = result.Trees[0];
    std::set<std::string> paths;
    for (size_t i = 1; i < tree.Nodes.size(); ++i)
        paths.insert(FakeNodePath(tree, i));
    const std::string strRoot = tree.Nodes[0].strName;
    EXPECT_FALSE(paths.count(strRoot + "/deleted note.txt"));
    EXPECT_TRUE(paths.count(strRoot + "/Documents/OLDMEMO.TXT"));
    EXPECT_TRUE(paths.count(strRoot + "/LostFiles1/Many Files/Entry number 07 of many.txt"));
    EXPECT_TRUE(paths.count(strRoot + "/LostFiles1/Many Files/Entry number 23 of many.txt"));
    EXPECT_TRUE(paths.count(strRoot + "/Photos/Deleted fragmented photo.jpg"));
    EXPECT_TRUE(paths.count(strRoot + "/Old Projects/Sub Folder/budget sheet.xls"));
}
