// The quick scan of EXT2/EXT3 volumes as the GUI program runs it: the Delvar module loaded by name,
// a device table naming a fixture image and its volume, IDelvar::Init and Search, and the fake
// result store recording the "Deleted Files" tree it is handed. Every file of the manifest must be
// there (live files by path, deleted ones, whose directory entries are gone, as "Inode_<inode>"
// under the root), nothing else, and the runs of every live or recoverable deleted file must give
// back its bytes.
#include <dlfcn.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "DelvarTestSupport.h"
#include "Ext2ReaderTestSupport.h"
#include "IDelvar.h"
#include "ScanRecords.h"
#include "TestSupport.h"
#include "DiskTable.h"
#include "TestModules.h"

using namespace delvartest;
using namespace ext2reader;

namespace {

// The Delvar module, loaded once for the process as the GUI program loads it. Its disk table is
// its own copy of the platform layer's, read on first use: each test makes it read the table again.
class CDelvarModule {
public:
    static CDelvarModule& Get()
    {
        static CDelvarModule s_Module;
        return s_Module;
    }
    IDelvar* Engine() const { return m_pEngine; }
    bool ReloadDiskTable() const
    {
        return m_pfnReload != nullptr && m_pfnReload(nullptr);
    }
    std::string Error() const { return m_strError; }

private:
    CDelvarModule()
    {
        m_hModule = rvdtest::OpenModule("Delvar");
        if (m_hModule == nullptr) {
            m_strError = dlerror();
            return;
        }
        auto pfnCreate = reinterpret_cast<PFN_DELVAR_CREATE_INSTANCE>(dlsym(m_hModule, "CreateInstance"));
        m_pEngine = pfnCreate != nullptr ? pfnCreate() : nullptr;
        m_pfnReload = &rvdplat::ReloadDiskTable;
        if (m_pEngine == nullptr || m_pfnReload == nullptr)
            m_strError = "libDelvar.so lacks CreateInstance or the disk table's reload";
    }

    void* m_hModule = nullptr;
    IDelvar* m_pEngine = nullptr;
    bool (*m_pfnReload)(std::string*) = nullptr;
    std::string m_strError;
};

struct SCAN_CASE {
    std::string strImage;    // disk image
    int nPartition;          // 0: the image is the file system; else its partition number
};

void PrintTo(const SCAN_CASE& scan, std::ostream* pStream)
{
    *pStream << scan.strImage;
    if (scan.nPartition != 0)
        *pStream << " partition " << scan.nPartition;
}

std::string CaseName(const ::testing::TestParamInfo<SCAN_CASE>& info)
{
    std::string strName = info.param.strImage.substr(0, info.param.strImage.find('.'));
    if (info.param.nPartition != 0)
        strName += "_p" + std::to_string(info.param.nPartition);
    for (char& c : strName)
        if (c == '-')
            c = '_';
    return strName;
}

std::vector<SCAN_CASE> ScanCases()
{
    std::vector<SCAN_CASE> cases;
    for (const char* pszImage : kExtImages)
        cases.push_back({pszImage, 0});
    cases.push_back({"mbr.img", 2});
    return cases;
}

class Ext2QuickScan : public ::testing::TestWithParam<SCAN_CASE> {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, CDelvarModule::Get().Engine()) << CDelvarModule::Get().Error();
        ASSERT_NE(nullptr, FakeStore()) << dlerror();
        FakeStore()->Clear();
        m_Settings->m_nFileSystemType = 0;
        m_Settings->m_bScanRaw = 0;
    }
    void TearDown() override
    {
        if (FakeStore() != nullptr)
            FakeStore()->Clear();
    }

    // Installs a table with the image as disk 0 and the file system as its volume, and fills the
    // records the GUI program would pass.
    void LoadVolume(const SCAN_CASE& scan)
    {
        m_strImagePath = rvdtest::FixturePath(scan.strImage);
        m_Image = rvdtest::ReadFileBytes(m_strImagePath);
        m_nStart = 0;
        m_nCount = m_Image.size() / 512;
        m_Manifest = rvdtest::ReadManifest(scan.strImage, scan.nPartition);
        bool bExt3 = scan.strImage.rfind("ext3", 0) == 0;
        if (scan.nPartition != 0) {
            bool bFound = false;
            for (const rvdtest::PartitionEntry& p : rvdtest::ReadPartitions(scan.strImage)) {
                if (p.nIndex == scan.nPartition) {
                    m_nStart = p.nStart;
                    m_nCount = p.nCount;
                    bExt3 = p.strFileSystem == "ext3";
                    bFound = true;
                }
            }
            ASSERT_TRUE(bFound);
        }
        m_Table.Load("disk " + m_strImagePath + "\nvolume disk=0 start=" + std::to_string(m_nStart) +
                     " count=" + std::to_string(m_nCount) + " fs=" + (bExt3 ? "EXT3" : "EXT2") + "\n");
        ASSERT_TRUE(CDelvarModule::Get().ReloadDiskTable());
        m_Disk = DISK_INFO_EX{};
        m_Disk.dwDiskNumber = 0;
        m_Disk.dwBytesPerSector = 512;
        m_Disk.ullTotalSectors = m_Image.size() / 512;
        m_Partition = PARTITION_INFO_EX{};
        m_Partition.dwDiskNumber = 0;
        m_Partition.dwFileSystem = bExt3 ? FILE_SYSTEM_EXT3 : FILE_SYSTEM_EXT2;
        m_Partition.ullStartSector = m_nStart;
        m_Partition.ullTotalSectors = m_nCount;
        m_Partition.dwBytesPerSector = 512;
    }

    // Checks the one tree the store was handed against the manifest.
    void CheckStoredTree()
    {
        FAKE_CORRAND_STATE* pStore = FakeStore();
        ASSERT_EQ(1u, pStore->Partitions.size());
        ASSERT_EQ(1u, pStore->Trees.size());
        EXPECT_EQ(m_Partition.dwFileSystem, pStore->Partitions[0].Record.dwFileSystem);
        EXPECT_EQ(m_nStart, pStore->Partitions[0].Record.ullStartSector);
        const FAKE_TREE& tree = pStore->Trees[0];
        EXPECT_EQ(static_cast<int32_t>(m_Partition.dwFileSystem), tree.nFileSystemKind);
        // Block 0 is the volume's first sector; runs count in blocks of that many sectors.
        EXPECT_EQ(0u, tree.ullStartSector);
        ASSERT_TRUE(tree.nSecondValue == 2 || tree.nSecondValue == 8) << tree.nSecondValue;
        const uint64_t nBlockSize = static_cast<uint64_t>(tree.nSecondValue) * 512;

        // Paths below "Deleted Files" of the files the store was given.
        std::map<std::string, const FAKE_TREE_NODE*> files;
        for (size_t i = 1; i < tree.Nodes.size(); ++i) {
            if (tree.Nodes[i].nAttributes & FILE_ATTR_DIRECTORY)
                continue;
            const std::string strPath = FakeNodePath(tree, i);
            files[strPath.substr(strPath.find('/') + 1)] = &tree.Nodes[i];
        }

        size_t nExpected = 0;
        for (const rvdtest::ManifestEntry& entry : m_Manifest) {
            if (entry.bDirectory)
                continue;
            ++nExpected;
            const std::string strPath = entry.bDeleted ? "Inode_" + std::to_string(entry.nId) : JoinedNames(entry);
            SCOPED_TRACE(entry.strPath + " as " + strPath);
            const auto it = files.find(strPath);
            ASSERT_NE(files.end(), it);
            const FAKE_TREE_NODE& node = *it->second;
            EXPECT_EQ(2, node.nPropertiesKind);
            EXPECT_EQ(entry.bDeleted ? 1 : 0, node.nStatus);
            if (entry.bDeleted && !entry.bRecoverable)
                continue;
            EXPECT_EQ(entry.nSize, node.ullSize);
            if (entry.nSize != 0) {
                EXPECT_NE(-1, node.nRunListType) << "no runs";
            }
            const std::vector<uint8_t> data = ReadRuns(m_Image, m_nStart * 512, nBlockSize, node.Runs, node.ullSize);
            EXPECT_EQ(entry.strSha256, rvdtest::Sha256Hex(data));
        }
        EXPECT_EQ(nExpected, files.size()) << "files the manifest does not know";
    }

    devtest::CDeviceTable m_Table;
    CScopedEnv m_ModuleDir{"RAVENDO_MODULE_DIR", FakeStoreDir()};
    CScopedSettings m_Settings;
    std::string m_strImagePath;
    std::vector<uint8_t> m_Image;
    uint64_t m_nStart = 0;
    uint64_t m_nCount = 0;
    std::vector<rvdtest::ManifestEntry> m_Manifest;
    DISK_INFO_EX m_Disk{};
    PARTITION_INFO_EX m_Partition{};
};

TEST_P(Ext2QuickScan, HandsTheStoreEveryFileWithRunsThatGiveBackItsBytes)
{
    LoadVolume(GetParam());
    IDelvar* pEngine = CDelvarModule::Get().Engine();
    ASSERT_EQ(DELVAR_SUCCESS, pEngine->Init(&m_Disk, &m_Partition, SCAN_MODE_QUICK, 0));
    ASSERT_EQ(DELVAR_SUCCESS, pEngine->Search());
    CheckStoredTree();
    SEARCH_PROGRESS progress;
    int32_t anStatus[2] = {-1, -1};
    pEngine->GetProgress(&progress, anStatus);
    EXPECT_EQ(0, anStatus[0]);
    EXPECT_EQ(u"Phase 2 of 2", std::u16string(progress.szTitle));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Ext2QuickScan, ::testing::ValuesIn(ScanCases()), CaseName);

// The GUI program runs the scan on a worker thread, which the garbage collector does not know
// until the reader registers it for the build.
TEST_F(Ext2QuickScan, RunsOnAWorkerThread)
{
    LoadVolume({"ext2-4k-256.img", 0});
    IDelvar* pEngine = CDelvarModule::Get().Engine();
    ASSERT_EQ(DELVAR_SUCCESS, pEngine->Init(&m_Disk, &m_Partition, SCAN_MODE_QUICK, 0));
    int32_t nStatus = -1;
    std::thread worker([&] { nStatus = pEngine->Search(); });
    worker.join();
    EXPECT_EQ(DELVAR_SUCCESS, nStatus);
    CheckStoredTree();
}

// A volume recorded as EXT2 whose bytes hold another file system: the reader finds no superblock
// and the scan ends with nothing found.
TEST_F(Ext2QuickScan, VolumeThatIsNoFileSystemGivesNothingFound)
{
    // The EXT2 volume's record placed over the FAT16 partition of the same disk.
    m_strImagePath = rvdtest::FixturePath("mbr.img");
    m_Table.Load("disk " + m_strImagePath + "\nvolume disk=0 start=2048 count=32768 fs=EXT2\n");
    ASSERT_TRUE(CDelvarModule::Get().ReloadDiskTable());
    const rvdtest::SCAN_RECORDS records = rvdtest::VolumeScanRecords(0, FILE_SYSTEM_EXT2, 2048, 32768);
    IDelvar* pEngine = CDelvarModule::Get().Engine();
    ASSERT_EQ(DELVAR_SUCCESS, pEngine->Init(&records.Disk, &records.Volume, SCAN_MODE_QUICK, 0));
    EXPECT_EQ(DELVAR_NOTHING_FOUND, pEngine->Search());
    EXPECT_TRUE(FakeStore()->Trees.empty());
}

} // namespace
