// The copy-out module as the program reaches it: libTessary.so loaded by name, reaching the one
// result store of libCorrand.so; whole recoveries of the fixture images: a quick scan through
// the engine module into the real store, every deleted file ticked, copied out, and each
// recoverable one compared with the manifest; and the rows such a scan stores, compared with a
// listing kept beside this file.
#include <dlfcn.h>
#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>

#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"
#include "ICorrand.h"
#include "IDelvar.h"
#include "SafeName.h"
#include "ext2/Ext2Layout.h"
#include "TessaryTestSupport.h"
#include "DiskTable.h"
#include "TestModules.h"

namespace {

using namespace tessarytest;

// Ticks the whole "Deleted Files" tree of a volume of a store.
void TickDeletedFiles(ICorrand* pStore, DWORD dwVolume)
{
    const DWORD dwTop = corrandtest::FindPath(pStore, dwVolume, {"Deleted Files"});
    ASSERT_NE(0xFFFFFFFFu, dwTop);
    ASSERT_EQ(0, pStore->SetCheckState(dwTop, 1, 1, 1, dwVolume));
}

// ----- the module by name -------------------------------------------------------------------------

class TessaryModule : public CTessaryTest {};

TEST_F(TessaryModule, LoadedByNameReachesTheStoreModule)
{
    CScopedEnv moduleDir("RAVENDO_MODULE_DIR", rvdtest::OutputDir());
    ITessary* pTessary = ModuleObject<ITessary>("Tessary", "CreateInstance");
    ASSERT_NE(nullptr, pTessary);
    EXPECT_EQ(pTessary, ModuleObject<ITessary>("Tessary", "CreateInstance"));
    ICorrand* pStore = ModuleStore();
    ASSERT_NE(nullptr, pStore);

    CTestTree tree;
    CFileNode* pDocs = tree.Folder(tree.Root(), "Docs");
    CTestTree::Props(tree.File(pDocs, "a.txt", 3000))->SetRuns({{4, 1}});
    CTestTree::Props(tree.File(pDocs, "b.txt", 5000))->SetRuns({{9, 2}});
    const PARTITION_INFO_EX record = corrandtest::UserRecord(kPartitionStart);
    ASSERT_EQ(0, pStore->AddPartition(&record, 0, 1));
    ASSERT_EQ(0, pStore->AddFileTree(tree.Root()));
    TickDeletedFiles(pStore, 0);

    // The progress page's calls.
    MESSAGES messages;
    const COPY_OUTCOME outcome = Copy(*pTessary, &messages);
    EXPECT_EQ(TESSARY_OK, outcome.nResult) << messages.All();
    EXPECT_EQ(PROGRESS_STATE_FINISHED, outcome.Progress.dwState);
    ASSERT_EQ(0u, outcome.strRecoveryPath.find(m_strTarget + "/Recovered ")) << outcome.strRecoveryPath;
    EXPECT_EQ((std::map<std::string, std::vector<uint8_t>>{
                  {"Deleted Files/Docs/a.txt", ImageBytes(ClusterOffset(4), 3000)},
                  {"Deleted Files/Docs/b.txt", ImageBytes(ClusterOffset(9), 5000)}}),
              RegularFiles(outcome.strRecoveryPath));

    // The preview's calls.
    const std::string strPreview = m_Dir.File("~@!A1.tmp");
    WCHAR szPath[MAX_PATH] = {};
    rvd::CopyWideText(szPath, rvd::Utf8ToUtf16(strPreview));
    pTessary->SetTarget(szPath, 5000, 0);
    pTessary->SetSingleFile(0, corrandtest::FindPath(pStore, 0, {"Deleted Files", "Docs", "b.txt"}));
    EXPECT_EQ(TESSARY_OK, pTessary->Run(TESSARY_RUN_PREVIEW) & 0xFFFF);
    EXPECT_EQ(ImageBytes(ClusterOffset(9), 5000), FileBytes(strPreview));
}

// ----- fixture images end to end ------------------------------------------------------------------

struct E2E_CASE {
    const char* pszName;
    const char* pszImage;
    int nPartition;  // 0: the image is the volume
    DWORD dwFileSystem;
};

void PrintTo(const E2E_CASE& c, std::ostream* pOut)
{
    *pOut << c.pszName;
}

const std::vector<E2E_CASE>& EndToEndCases()
{
    static const std::vector<E2E_CASE> cases = {
        {"Fat12", "fat12.img", 0, FILE_SYSTEM_FAT12},
        {"Fat16", "fat16.img", 0, FILE_SYSTEM_FAT16},
        {"Fat32", "fat32.img", 0, FILE_SYSTEM_FAT32},
        {"Fat16Sectors4k", "fat16-4k-sectors.img", 0, FILE_SYSTEM_FAT16},
        {"Ntfs", "ntfs.img", 0, FILE_SYSTEM_NTFS},
        {"NtfsC512", "ntfs-c512.img", 0, FILE_SYSTEM_NTFS},
        {"NtfsC64k", "ntfs-c64k.img", 0, FILE_SYSTEM_NTFS},
        {"NtfsC128k", "ntfs-c128k.img", 0, FILE_SYSTEM_NTFS},
        {"Hostile", "hostile.img", 0, FILE_SYSTEM_NTFS},
        {"NtfsCompressed", "ntfs-compressed.img", 0, FILE_SYSTEM_NTFS},
        {"NtfsShapesC1k", "ntfs-shapes-c1k.img", 0, FILE_SYSTEM_NTFS},
        {"NtfsShapesC2k", "ntfs-shapes-c2k.img", 0, FILE_SYSTEM_NTFS},
        {"NtfsShapesC8k", "ntfs-shapes-c8k.img", 0, FILE_SYSTEM_NTFS},
        {"NtfsShapesC16k", "ntfs-shapes-c16k.img", 0, FILE_SYSTEM_NTFS},
        {"NtfsShapesC32k", "ntfs-shapes-c32k.img", 0, FILE_SYSTEM_NTFS},
        {"NtfsMftList", "ntfs-mft-list.img", 0, FILE_SYSTEM_NTFS},
        {"Ext2_1k_128", "ext2-1k-128.img", 0, FILE_SYSTEM_EXT2},
        {"Ext2_1k_256", "ext2-1k-256.img", 0, FILE_SYSTEM_EXT2},
        {"Ext2_4k_128", "ext2-4k-128.img", 0, FILE_SYSTEM_EXT2},
        {"Ext2_4k_256", "ext2-4k-256.img", 0, FILE_SYSTEM_EXT2},
        {"Ext3_1k_128", "ext3-1k-128.img", 0, FILE_SYSTEM_EXT3},
        {"Ext3_1k_256", "ext3-1k-256.img", 0, FILE_SYSTEM_EXT3},
        {"Ext3_4k_128", "ext3-4k-128.img", 0, FILE_SYSTEM_EXT3},
        {"Ext3_4k_256", "ext3-4k-256.img", 0, FILE_SYSTEM_EXT3},
        {"Ext3Big", "ext3-big.img", 0, FILE_SYSTEM_EXT3},
        {"Ext4_1k", "ext4-1k.img", 0, FILE_SYSTEM_EXT3},
        {"Ext4Default", "ext4-default.img", 0, FILE_SYSTEM_EXT3},
        {"Ext4Inline", "ext4-inline.img", 0, FILE_SYSTEM_EXT3},
        {"Ext4MetaGroups", "ext4-meta-bg.img", 0, FILE_SYSTEM_EXT3},
        {"MbrFat16", "mbr.img", 1, FILE_SYSTEM_FAT16},
        {"MbrExt2", "mbr.img", 2, FILE_SYSTEM_EXT2},
        {"MbrNtfs", "mbr.img", 5, FILE_SYSTEM_NTFS},
        {"MbrFat32", "mbr.img", 6, FILE_SYSTEM_FAT32},
        {"GptFat32", "gpt.img", 1, FILE_SYSTEM_FAT32},
        {"GptNtfs", "gpt.img", 2, FILE_SYSTEM_NTFS},
    };
    return cases;
}

// The engine module, loaded from the output folder; its disk table is its own, read again when
// a test has written a new one.
class CEngineModule {
public:
    static CEngineModule& Get()
    {
        static CEngineModule module;
        return module;
    }
    IDelvar* Engine() const { return m_pEngine; }
    bool ReloadDiskTable() const
    {
        std::string strError;
        return m_pfnReload != nullptr && m_pfnReload(&strError);
    }

private:
    typedef bool (*PFN_RELOAD)(std::string*);
    CEngineModule()
    {
        void* hModule = LoadModule("Delvar");
        if (hModule == nullptr)
            return;
        if (auto pfn = reinterpret_cast<PFN_DELVAR_CREATE_INSTANCE>(dlsym(hModule, "CreateInstance")))
            m_pEngine = pfn();
        m_pfnReload = &rvdplat::ReloadDiskTable;
    }
    IDelvar* m_pEngine = nullptr;
    PFN_RELOAD m_pfnReload = nullptr;
};

class TessaryEndToEnd : public ::testing::TestWithParam<E2E_CASE> {
protected:
    void SetUp() override
    {
        m_nOldFileSystemType = GetEngineSettings()->m_nFileSystemType;
        m_nOldScanRaw = GetEngineSettings()->m_bScanRaw;
        GetEngineSettings()->m_nFileSystemType = 0;
        GetEngineSettings()->m_bScanRaw = 0;
    }
    void TearDown() override
    {
        GetEngineSettings()->m_nFileSystemType = m_nOldFileSystemType;
        GetEngineSettings()->m_bScanRaw = m_nOldScanRaw;
    }

    rvdtest::CTempDir m_Dir;
    CDeviceTable m_Table{m_Dir};
    CScopedEnv m_ModuleDir{"RAVENDO_MODULE_DIR", rvdtest::OutputDir()};
    // FAT keeps local clock readings; the fixtures were written with the clock at UTC.
    rvdtest::CScopedTimeZone m_Zone{"UTC"};
    int32_t m_nOldFileSystemType = 0;
    int32_t m_nOldScanRaw = 0;
};

// The names by which the scan may list a deleted file of the manifest: its own path; for a FAT
// entry without a long name, its 8.3 name whose lost first character reads '#' (as written when
// the case flags keep it lower case, else in upper case); for an EXT file whose name went with
// its directory entry, its inode number.
std::vector<std::vector<std::string>> CandidateNames(const rvdtest::ManifestEntry& entry)
{
    std::vector<std::string> vecPath = {"Deleted Files"};
    vecPath.insert(vecPath.end(), entry.vecNames.begin(), entry.vecNames.end());
    std::vector<std::vector<std::string>> vecCandidates = {vecPath};
    std::string strShort = vecPath.back();
    if (!strShort.empty()) {
        std::vector<std::string> vecLower = vecPath;
        vecLower.back()[0] = '#';
        vecCandidates.push_back(vecLower);
        for (char& ch : strShort)
            ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
        strShort[0] = '#';
        std::vector<std::string> vecShort = vecPath;
        vecShort.back() = strShort;
        vecCandidates.push_back(vecShort);
    }
    vecCandidates.push_back({"Deleted Files", "Inode_" + std::to_string(entry.nId)});
    return vecCandidates;
}

// Where the quick scan lists a deleted file of an NTFS manifest; empty when it does not. The
// names are in the POSIX name space, where only '/' is forbidden: a FILE record whose name holds
// one (hostile.img's helper writes it into the name itself) counts as damaged, so that file is
// not listed and the files of such a folder are gathered in LostFiles1.
std::vector<std::string> NtfsListedNames(const rvdtest::ManifestEntry& entry)
{
    std::vector<std::string> vecNames = entry.vecNames;
    if (vecNames.empty() || vecNames.back().find('/') != std::string::npos)
        return {};
    for (size_t i = vecNames.size() - 1; i-- > 0;)
        if (vecNames[i].find('/') != std::string::npos) {
            vecNames.erase(vecNames.begin(), vecNames.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            vecNames.insert(vecNames.begin(), "LostFiles1");
            break;
        }
    vecNames.insert(vecNames.begin(), "Deleted Files");
    return vecNames;
}

// Where the copy-out writes a file listed under these names (before any clash numbering).
std::string CopyPath(const std::vector<std::string>& vecNames)
{
    std::string strPath;
    for (const std::string& strName : vecNames)
        strPath += (strPath.empty() ? "" : "/") + tessary::SanitiseComponent(rvd::Utf8ToUtf16(strName));
    return strPath;
}

// A live file of the manifest was copied into the run folder strRun at its path, whole: its size,
// its bytes, and no message that the copy is short of any of them.
void ExpectCopiedWholeAtItsPath(const rvdtest::ManifestEntry& entry, const std::string& strRun, MESSAGES& messages)
{
    std::vector<std::string> vecPath = {"Deleted Files"};
    vecPath.insert(vecPath.end(), entry.vecNames.begin(), entry.vecNames.end());
    const std::string strCopy = strRun + "/" + CopyPath(vecPath);
    struct stat st{};
    ASSERT_EQ(0, stat(strCopy.c_str(), &st)) << strCopy;
    EXPECT_EQ(entry.nSize, static_cast<uint64_t>(st.st_size));
    EXPECT_EQ(entry.strSha256, rvdtest::Sha256Hex(FileBytes(strCopy)));
    EXPECT_FALSE(messages.Has(entry.vecNames.back() + "\": its")) << messages.All();
}

// Sectors of the one volume of a disk that is a file system without a table: the file system's
// own size, for NTFS its boot sector's count, which leaves out the backup boot sector in the
// disk's last sector.
uint64_t WholeDiskVolumeSectors(const std::vector<uint8_t>& vecDisk, DWORD dwFileSystem)
{
    if (dwFileSystem != FILE_SYSTEM_NTFS || vecDisk.size() < kSector)
        return vecDisk.size() / kSector;
    uint64_t ullSectors = 0;
    for (int i = 7; i >= 0; --i)
        ullSectors = (ullSectors << 8) | vecDisk[40 + i];
    return ullSectors;
}

// Quick-scans (or with nMode scans otherwise) the one volume of image c into the store module
// (strImage: the fixture, or a copy of it).
void ScanIntoStore(CDeviceTable& table, const E2E_CASE& c, const std::string& strImage, int32_t nMode = SCAN_MODE_QUICK)
{
    const std::vector<uint8_t> vecDisk = rvdtest::ReadFileBytes(strImage);
    const uint64_t ullDiskSectors = vecDisk.size() / kSector;
    uint64_t ullStart = 0, ullCount = WholeDiskVolumeSectors(vecDisk, c.dwFileSystem);
    if (c.nPartition != 0) {
        bool bFound = false;
        for (const rvdtest::PartitionEntry& p : rvdtest::ReadPartitions(c.pszImage))
            if (p.nIndex == c.nPartition) {
                ullStart = p.nStart;
                ullCount = p.nCount;
                bFound = true;
            }
        ASSERT_TRUE(bFound);
    }
    table.Load("disk " + strImage + "\nvolume disk=0 start=" + std::to_string(ullStart) +
               " count=" + std::to_string(ullCount) + " fs=" + TableFileSystemName(c.dwFileSystem) + "\n");
    CEngineModule& engine = CEngineModule::Get();
    ASSERT_NE(nullptr, engine.Engine());
    ASSERT_TRUE(engine.ReloadDiskTable());

    const rvdtest::SCAN_RECORDS records = rvdtest::VolumeScanRecords(ullDiskSectors, c.dwFileSystem, ullStart, ullCount);
    ASSERT_EQ(0, engine.Engine()->Init(&records.Disk, &records.Volume, nMode, 0));
    const int32_t nStatus = engine.Engine()->Search();
    ASSERT_EQ(DELVAR_SUCCESS, nStatus);

    ICorrand* pStore = ModuleStore();
    IResultStoreAccess* pAccess = ModuleStoreAccess();
    ASSERT_NE(nullptr, pStore);
    ASSERT_NE(nullptr, pAccess);
    int32_t nVolumes = 0;
    pStore->GetPartitionCount(&nVolumes);
    ASSERT_EQ(1, nVolumes);
}

// Scans image c into the store (as ScanIntoStore), ticks every file of its "Deleted Files" tree
// and copies them under strTarget; the copy-out must end without error. The caller checks
// HasFatalFailure() before using the result.
TICKED_COPY ScanAndCopyDeletedFiles(CDeviceTable& table, const E2E_CASE& c, const std::string& strImage,
                                    const std::string& strTarget, MESSAGES* pMessages, int32_t nMode = SCAN_MODE_QUICK)
{
    ScanIntoStore(table, c, strImage, nMode);
    if (::testing::Test::HasFatalFailure())
        return {};
    TickDeletedFiles(ModuleStore(), 0);
    TICKED_COPY ticked = CopyTickedFiles(ModuleStoreAccess(), strTarget, pMessages);
    EXPECT_EQ(TESSARY_OK, ticked.nResult) << pMessages->All();
    return ticked;
}

TEST_P(TessaryEndToEnd, RecoversEveryRecoverableDeletedFile)
{
    const E2E_CASE& c = GetParam();
    ScanIntoStore(m_Table, c, rvdtest::FixturePath(c.pszImage));
    if (HasFatalFailure())
        return;
    ICorrand* pStore = ModuleStore();
    TickDeletedFiles(pStore, 0);
    const std::string strTarget = m_Dir.File("target");
    MESSAGES messages;
    const TICKED_COPY ticked = CopyTickedFiles(ModuleStoreAccess(), strTarget, &messages);
    EXPECT_EQ(TESSARY_OK, ticked.nResult) << messages.All();
    EXPECT_EQ(PROGRESS_STATE_FINISHED, ticked.Progress.dwState);
    EXPECT_EQ(ticked.ullTicked, ticked.Progress.ullFilesFound);
    EXPECT_EQ((std::set<std::string>{"Run"}), [&] {
        std::set<std::string> names;
        for (const auto& entry : Snapshot(strTarget))
            names.insert(entry.first.substr(0, entry.first.find('/')));
        return names;
    }());

    const std::string& strRun = ticked.strRun;
    const auto copies = RegularFiles(strRun);
    EXPECT_EQ(ticked.ullTicked, copies.size());
    std::multiset<std::string> setCopiedHashes;
    for (const auto& copy : copies)
        setCopiedHashes.insert(rvdtest::Sha256Hex(copy.second));
    const std::set<std::vector<std::string>> setStored = tessarytest::StoredFiles(pStore, 0);
    EXPECT_EQ(setStored.size(), copies.size());
    int nRecovered = 0;
    std::vector<std::string> vecNotListed;
    for (const rvdtest::ManifestEntry& entry : rvdtest::ReadManifest(c.pszImage, c.nPartition)) {
        if (!entry.bDeleted || entry.bDirectory || !entry.bRecoverable)
            continue;
        SCOPED_TRACE(entry.strPath);
        std::vector<std::string> vecListedAs;
        if (c.dwFileSystem == FILE_SYSTEM_NTFS) {
            // Every recoverable deleted file of an NTFS volume is listed under its own name,
            // whatever characters Windows would refuse in it.
            vecListedAs = NtfsListedNames(entry);
            if (vecListedAs.empty())
                continue;
            if (setStored.count(vecListedAs) == 0) {
                ADD_FAILURE() << "not listed as " << CopyPath(vecListedAs);
                continue;
            }
        } else {
            for (const auto& vecCandidate : CandidateNames(entry))
                if (setStored.count(vecCandidate) != 0) {
                    vecListedAs = vecCandidate;
                    break;
                }
        }
        if (vecListedAs.empty()) {
            // What the scan did not list is no matter of the copy-out.
            vecNotListed.push_back(entry.strPath);
            continue;
        }
        ++nRecovered;
        const std::string strCopy = CopyPath(vecListedAs);
        const auto it = copies.find(strCopy);
        if (it == copies.end() || rvdtest::Sha256Hex(it->second) != entry.strSha256) {
            // A name that clashed after sanitising is numbered: the bytes are elsewhere.
            EXPECT_EQ(1u, setCopiedHashes.count(entry.strSha256)) << strCopy << ": no copy with the manifest's bytes";
            continue;
        }
        struct stat st{};
        ASSERT_EQ(0, stat((strRun + "/" + strCopy).c_str(), &st));
        EXPECT_EQ(entry.nSize, static_cast<uint64_t>(st.st_size));
        if (c.dwFileSystem <= FILE_SYSTEM_NTFS) {
            EXPECT_EQ(entry.nMtime, static_cast<int64_t>(st.st_mtim.tv_sec)) << strCopy;
        }
    }
    EXPECT_GT(nRecovered, 0);
    for (const std::string& strPath : vecNotListed)
        std::cout << "  (the scan does not list " << strPath << ")\n";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TessaryEndToEnd, ::testing::ValuesIn(EndToEndCases()),
                         [](const ::testing::TestParamInfo<E2E_CASE>& info) { return info.param.pszName; });

// ----- live EXT files, which a quick scan lists too ---------------------------------------------

// Every live file of the manifest comes back at its path with its bytes: holes of sparse files
// as zeros (the copy's size is the file's), files past the double and triple indirect blocks,
// names from hashed folders. Symbolic links have no bytes to compare and are left out.
class TessaryExtLiveFiles : public TessaryEndToEnd {};

TEST_P(TessaryExtLiveFiles, ComeBackWholeAtTheirPaths)
{
    const E2E_CASE& c = GetParam();
    MESSAGES messages;
    const TICKED_COPY ticked =
        ScanAndCopyDeletedFiles(m_Table, c, rvdtest::FixturePath(c.pszImage), m_Dir.File("target"), &messages);
    if (HasFatalFailure())
        return;
    int nLive = 0;
    for (const rvdtest::ManifestEntry& entry : rvdtest::ReadManifest(c.pszImage, c.nPartition)) {
        if (entry.bDeleted || entry.bDirectory)
            continue;
        SCOPED_TRACE(entry.strPath);
        ASSERT_NO_FATAL_FAILURE(ExpectCopiedWholeAtItsPath(entry, ticked.strRun, messages));
        ++nLive;
    }
    EXPECT_GT(nLive, 10);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TessaryExtLiveFiles,
                         ::testing::Values(E2E_CASE{"Ext3Big", "ext3-big.img", 0, FILE_SYSTEM_EXT3},
                                           E2E_CASE{"Ext2_1k_128", "ext2-1k-128.img", 0, FILE_SYSTEM_EXT2},
                                           E2E_CASE{"Ext4_1k", "ext4-1k.img", 0, FILE_SYSTEM_EXT3},
                                           E2E_CASE{"Ext4Default", "ext4-default.img", 0, FILE_SYSTEM_EXT3},
                                           E2E_CASE{"Ext4Inline", "ext4-inline.img", 0, FILE_SYSTEM_EXT3},
                                           E2E_CASE{"Ext4MetaGroups", "ext4-meta-bg.img", 0, FILE_SYSTEM_EXT3}),
                         [](const ::testing::TestParamInfo<E2E_CASE>& info) { return info.param.pszName; });

// A symbolic link comes back as its target's text, as the file system's own tools read it: a
// fast link's from where the block pointers would be, a slow link's from its block (ext3-big.img).
TEST_F(TessaryExtLiveFiles, SymbolicLinksComeBackAsTheirTargetText)
{
    const E2E_CASE c = {"Ext3Big", "ext3-big.img", 0, FILE_SYSTEM_EXT3};
    MESSAGES messages;
    const TICKED_COPY ticked =
        ScanAndCopyDeletedFiles(m_Table, c, rvdtest::FixturePath(c.pszImage), m_Dir.File("target"), &messages);
    if (HasFatalFailure())
        return;
    std::string strSlow = "Sparse/";
    for (int i = 0; i < 20; ++i)
        strSlow += "long name ";
    const std::pair<const char*, std::string> links[] = {{"fast link", "Sparse/double indirect.bin"},
                                                         {"slow link", strSlow}};
    for (const auto& link : links) {
        SCOPED_TRACE(link.first);
        const std::vector<uint8_t> vecCopy = FileBytes(ticked.strRun + "/Deleted Files/" + link.first);
        EXPECT_EQ(link.second, std::string(vecCopy.begin(), vecCopy.end()));
        EXPECT_FALSE(messages.Has(link.first)) << messages.All();
    }
}

// EXT names are bytes in whatever encoding their system wrote. Two folders whose Latin-1 names
// differ only in a byte that is not UTF-8 stay two folders, named as written, and each gives
// back its own file (mke2fs copies the tree, names as they are, into a fresh EXT3 image).
TEST_F(TessaryExtLiveFiles, NamesThatAreNotUtf8StayApart)
{
    const std::string strSource = m_Dir.File("latin1");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"dir\xE9", "one\n"}, {"dir\xE8", "two\n"}, {"f\xE9\xE9x", "three\n"}};
    for (const auto& file : files) {
        const std::string strFolder = strSource + "/" + file.first;
        ASSERT_EQ(0, system(("mkdir -p '" + strFolder + "'").c_str()));
        std::ofstream(strFolder + "/a.txt", std::ios::binary) << file.second;
    }
    const std::string strImage = m_Dir.File("latin1.img");
    ASSERT_EQ(0, system(("mke2fs -q -t ext3 -d '" + strSource + "' '" + strImage + "' 4M >/dev/null 2>&1").c_str()));
    const E2E_CASE c = {"Latin1", "latin1.img", 0, FILE_SYSTEM_EXT3};
    MESSAGES messages;
    const TICKED_COPY ticked = ScanAndCopyDeletedFiles(m_Table, c, strImage, m_Dir.File("target"), &messages);
    if (HasFatalFailure())
        return;
    const std::string kNames[] = {"dir\u00E9", "dir\u00E8", "f\u00E9\u00E9x"};
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(kNames[i]);
        const std::vector<uint8_t> vecCopy = FileBytes(ticked.strRun + "/Deleted Files/" + kNames[i] + "/a.txt");
        EXPECT_EQ(files[i].second, std::string(vecCopy.begin(), vecCopy.end()));
    }
}

// ----- EXT4 volumes found by the complete scan ----------------------------------------------------

// The block scan finds the volume by its superblocks and descriptor tables (64-byte descriptors
// on ext4-default.img; on ext4-meta-bg.img the first meta group's block after the superblock, the
// others read from their groups) and rebuilds its tree: every live file comes back at its path,
// and every recoverable deleted file with its bytes, as the quick scan gives them.
class TessaryExtCompleteScan : public TessaryEndToEnd {};

TEST_P(TessaryExtCompleteScan, GivesBackLiveAndDeletedFilesAsTheQuickScanDoes)
{
    const E2E_CASE& c = GetParam();
    MESSAGES messages;
    const TICKED_COPY ticked =
        ScanAndCopyDeletedFiles(m_Table, c, rvdtest::FixturePath(c.pszImage), m_Dir.File("target"), &messages, SCAN_MODE_COMPLETE);
    if (HasFatalFailure())
        return;

    std::multiset<std::string> setCopiedHashes;
    for (const auto& copy : RegularFiles(ticked.strRun))
        setCopiedHashes.insert(rvdtest::Sha256Hex(copy.second));
    int nLive = 0, nDeleted = 0;
    for (const rvdtest::ManifestEntry& entry : rvdtest::ReadManifest(c.pszImage, c.nPartition)) {
        if (entry.bDirectory)
            continue;
        SCOPED_TRACE(entry.strPath);
        if (entry.bDeleted) {
            if (!entry.bRecoverable)
                continue;
            EXPECT_NE(0u, setCopiedHashes.count(entry.strSha256)) << "no copy with the manifest's bytes";
            ++nDeleted;
            continue;
        }
        ASSERT_NO_FATAL_FAILURE(ExpectCopiedWholeAtItsPath(entry, ticked.strRun, messages));
        ++nLive;
    }
    EXPECT_GT(nLive, 10);
    EXPECT_GT(nDeleted, 0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TessaryExtCompleteScan,
                         ::testing::Values(E2E_CASE{"Ext4_1k", "ext4-1k.img", 0, FILE_SYSTEM_EXT3},
                                           E2E_CASE{"Ext4Default", "ext4-default.img", 0, FILE_SYSTEM_EXT3},
                                           E2E_CASE{"Ext4Inline", "ext4-inline.img", 0, FILE_SYSTEM_EXT3},
                                           E2E_CASE{"Ext4MetaGroups", "ext4-meta-bg.img", 0, FILE_SYSTEM_EXT3}),
                         [](const ::testing::TestParamInfo<E2E_CASE>& info) { return info.param.pszName; });

// ----- EXT4 inline data read back from the inode ---------------------------------------------------

// ext4-inline.img's Small/Inner/b.txt: 90 bytes kept in its 256-byte inode, 60 in the block area
// and 30 in the "system.data" attribute, whose entry is the record's first (byte 164).
const E2E_CASE kInlineCase = {"Ext4Inline", "ext4-inline.img", 0, FILE_SYSTEM_EXT3};

class TessaryExtInlineData : public TessaryEndToEnd {};

TEST_F(TessaryExtInlineData, PreviewAndCopyReadTheInodeAndSayWhatItNoLongerHolds)
{
    const std::string strImage = m_Dir.File("inline.img");
    std::vector<uint8_t> vecImage = rvdtest::ReadFileBytes(rvdtest::FixturePath(kInlineCase.pszImage));
    rvdtest::WriteFileBytes(strImage, vecImage);
    ScanIntoStore(m_Table, kInlineCase, strImage);
    if (HasFatalFailure())
        return;
    ICorrand* pStore = ModuleStore();
    const std::vector<rvdtest::ManifestEntry> vecManifest = rvdtest::ReadManifest(kInlineCase.pszImage);
    const rvdtest::ManifestEntry* pEntry = rvdtest::FindManifestEntry(vecManifest, "/Small/Inner/b.txt");
    ASSERT_NE(nullptr, pEntry);
    const DWORD dwRecord = corrandtest::FindPath(pStore, 0, {"Deleted Files", "Small", "Inner", "b.txt"});
    ASSERT_NE(0xFFFFFFFFu, dwRecord);
    STORED_FILE file;
    ASSERT_EQ(0, ModuleStoreAccess()->GetStoredFile(0, dwRecord, &file));
    ASSERT_NE(0u, file.dwFlags & STORED_FILE_RESIDENT);
    ASSERT_EQ(256u, file.dwResidentOffset >> 16);
    EXPECT_EQ(90u, file.ullSize);
    const uint64_t ullInode = file.ullResidentSector * kSector + (file.dwResidentOffset & 0xFFFF) - 40;

    // The preview takes the same path as the copy.
    const std::string strPreview = m_Dir.File("~@!E1.tmp");
    CTestTessary preview(ModuleStoreAccess());
    preview.SetTarget(rvd::Utf8ToUtf16(strPreview).c_str(), 90, 0);
    preview.SetSingleFile(0, dwRecord);
    EXPECT_EQ(TESSARY_OK, preview.Run(TESSARY_RUN_PREVIEW) & 0xFFFF);
    EXPECT_EQ(pEntry->strSha256, rvdtest::Sha256Hex(FileBytes(strPreview)));

    // The medium changed after the scan: the attribute's value shrank to 10 bytes, then the
    // inode no longer keeps its data in itself. The copy keeps what is there and says so.
    ASSERT_EQ(0, pStore->SetCheckState(dwRecord, 1, 0, 1, 0));
    struct DAMAGE {
        const char* pszTarget;
        size_t nField;
        uint32_t nValue;
        const char* pszNote;
        size_t nBytes;
    };
    const DAMAGE damages[] = {
        {"shrunk", 164 + 8, 10, "its inode holds only 70 of its 90 bytes", 70},
        {"flag", ext2::kInFlags, 0, "its inode no longer keeps its data in itself", 0},
    };
    for (const DAMAGE& d : damages) {
        SCOPED_TRACE(d.pszTarget);
        ext2::SetLe32(vecImage.data() + ullInode + d.nField, d.nValue);
        rvdtest::WriteFileBytes(strImage, vecImage);
        MESSAGES messages;
        const TICKED_COPY ticked = CopyTickedFiles(ModuleStoreAccess(), m_Dir.File(d.pszTarget), &messages);
        EXPECT_TRUE(messages.Has(d.pszNote)) << messages.All();
        const std::vector<uint8_t> vecCopy = FileBytes(ticked.strRun + "/Deleted Files/Small/Inner/b.txt");
        ASSERT_EQ(90u, vecCopy.size());
        const std::vector<uint8_t> vecGood = FileBytes(strPreview);
        EXPECT_TRUE(std::equal(vecCopy.begin(), vecCopy.begin() + d.nBytes, vecGood.begin()));
        EXPECT_TRUE(std::all_of(vecCopy.begin() + d.nBytes, vecCopy.end(), [](uint8_t b) { return b == 0; }));
    }
}

// ----- NTFS data that is not plain clusters -----------------------------------------------------

// ntfs-compressed.img: deleted files of a compressed folder (units that shrink, units stored as
// they are, a unit that is all hole, resident data), a sparse file, and a file whose valid data
// length stops short of its size.
const E2E_CASE kCompressedCase = {"NtfsCompressed", "ntfs-compressed.img", 0, FILE_SYSTEM_NTFS};

class TessaryNtfsDataLayout : public TessaryEndToEnd {
protected:
    // Copies the ticked files of the store into a new folder strName of the test folder; the
    // run's result, its messages in *pMessages, and where the files went in *pstrRun.
    int32_t CopyTicked(const std::string& strName, MESSAGES* pMessages, std::string* pstrRun)
    {
        const TICKED_COPY ticked = CopyTickedFiles(ModuleStoreAccess(), m_Dir.File(strName), pMessages);
        EXPECT_EQ(PROGRESS_STATE_FINISHED, ticked.Progress.dwState);
        *pstrRun = ticked.strRun;
        return ticked.nResult;
    }
};

TEST_F(TessaryNtfsDataLayout, DecompressedZeroedPastTheValidLengthAndHolesKept)
{
    ScanIntoStore(m_Table, kCompressedCase, rvdtest::FixturePath(kCompressedCase.pszImage));
    if (HasFatalFailure())
        return;
    ICorrand* pStore = ModuleStore();
    TickDeletedFiles(pStore, 0);
    MESSAGES messages;
    std::string strRun;
    EXPECT_EQ(TESSARY_OK, CopyTicked("target", &messages, &strRun)) << messages.All();
    // Compressed data is no fault of a file: nothing is reported, resident data included.
    EXPECT_EQ(0u, messages.Count(TESSARY_MESSAGE_WARNING)) << messages.All();
    EXPECT_EQ(0u, messages.Count(TESSARY_MESSAGE_ERROR)) << messages.All();

    const auto copies = RegularFiles(strRun);
    int nDeleted = 0;
    const std::vector<rvdtest::ManifestEntry> vecManifest = rvdtest::ReadManifest(kCompressedCase.pszImage);
    for (const rvdtest::ManifestEntry& entry : vecManifest) {
        if (!entry.bDeleted || entry.bDirectory)
            continue;
        SCOPED_TRACE(entry.strPath);
        ++nDeleted;
        const std::string strCopy = CopyPath(NtfsListedNames(entry));
        const auto it = copies.find(strCopy);
        ASSERT_NE(copies.end(), it);
        EXPECT_EQ(entry.strSha256, rvdtest::Sha256Hex(it->second));
    }
    EXPECT_EQ(6, nDeleted);
    // Holes stay holes: a 2 MiB file of 12 KiB data, and a compressed file whose middle unit
    // (64 KiB) is all hole, take no room for them.
    struct stat st{};
    ASSERT_EQ(0, stat((strRun + "/Deleted Files/Sparse plain.bin").c_str(), &st));
    EXPECT_EQ(2101248, st.st_size);
    EXPECT_LE(static_cast<uint64_t>(st.st_blocks) * 512, 256u * 1024);
    ASSERT_EQ(0, stat((strRun + "/Deleted Files/Compressed/sparse.bin").c_str(), &st));
    EXPECT_EQ(161072, st.st_size);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 2u * 65536u);

    // The preview file holds the same bytes as the copy.
    const rvdtest::ManifestEntry* pReport = rvdtest::FindManifestEntry(vecManifest, "/Compressed/report.txt");
    ASSERT_NE(nullptr, pReport);
    const std::string strPreview = m_Dir.File("~@!C1.tmp");
    CTestTessary preview(ModuleStoreAccess());
    preview.SetTarget(rvd::Utf8ToUtf16(strPreview).c_str(), static_cast<DWORD>(pReport->nSize), 0);
    preview.SetSingleFile(0, corrandtest::FindPath(pStore, 0, {"Deleted Files", "Compressed", "report.txt"}));
    EXPECT_EQ(TESSARY_OK, preview.Run(TESSARY_RUN_PREVIEW) & 0xFFFF);
    EXPECT_EQ(pReport->strSha256, rvdtest::Sha256Hex(FileBytes(strPreview)));
}

TEST_F(TessaryNtfsDataLayout, AUnitThatDoesNotDecompressIsReportedAndTheOthersKept)
{
    const std::string strFixture = rvdtest::FixturePath(kCompressedCase.pszImage);
    ScanIntoStore(m_Table, kCompressedCase, strFixture);
    if (HasFatalFailure())
        return;
    ICorrand* pStore = ModuleStore();
    DWORD dwRecord = corrandtest::FindPath(pStore, 0, {"Deleted Files", "Compressed", "report.txt"});
    ASSERT_NE(0xFFFFFFFFu, dwRecord);
    STORED_FILE file;
    ASSERT_EQ(0, ModuleStoreAccess()->GetStoredFile(0, dwRecord, &file));
    ASSERT_NE(0u, file.dwCompressionUnitSectors);
    ASSERT_FALSE(file.vecRuns.empty());
    ASSERT_NE(STORED_RUN_SPARSE, file.vecRuns[0].ullSector);
    ASSERT_EQ(0, pStore->SetCheckState(dwRecord, 1, 0, 1, 0));
    MESSAGES good;
    std::string strGoodRun;
    EXPECT_EQ(TESSARY_OK, CopyTicked("good", &good, &strGoodRun)) << good.All();
    const std::vector<uint8_t> vecOriginal = FileBytes(strGoodRun + "/Deleted Files/Compressed/report.txt");
    ASSERT_EQ(200000u, vecOriginal.size());

    // The first unit is compressed (two clusters, the rest sparse); its first chunk is made to
    // start with a back reference, which no chunk can.
    std::vector<uint8_t> vecImage = rvdtest::ReadFileBytes(strFixture);
    const uint64_t ullChunk = file.vecRuns[0].ullSector * kSector;
    ASSERT_LT(ullChunk + 5, vecImage.size());
    ASSERT_NE(0, vecImage[ullChunk + 1] & 0x80) << "the first chunk is not compressed";
    vecImage[ullChunk + 2] = 0x01;
    vecImage[ullChunk + 3] = 0x00;
    vecImage[ullChunk + 4] = 0x10;
    const std::string strDamaged = m_Dir.File("damaged.img");
    rvdtest::WriteFileBytes(strDamaged, vecImage);
    ScanIntoStore(m_Table, kCompressedCase, strDamaged);
    if (HasFatalFailure())
        return;
    dwRecord = corrandtest::FindPath(pStore, 0, {"Deleted Files", "Compressed", "report.txt"});
    ASSERT_NE(0xFFFFFFFFu, dwRecord);
    ASSERT_EQ(0, pStore->SetCheckState(dwRecord, 1, 0, 1, 0));
    MESSAGES messages;
    std::string strRun;
    CopyTicked("damaged", &messages, &strRun);
    EXPECT_EQ(1u, messages.Count(TESSARY_MESSAGE_WARNING)) << messages.All();
    EXPECT_TRUE(messages.Has("could not be decompressed")) << messages.All();
    EXPECT_TRUE(messages.Has("1 of them is not wholly the original bytes")) << messages.All();
    const std::vector<uint8_t> vecCopy = FileBytes(strRun + "/Deleted Files/Compressed/report.txt");
    ASSERT_EQ(vecOriginal.size(), vecCopy.size());
    const size_t nUnit = file.dwCompressionUnitSectors * kSector;
    EXPECT_EQ(std::vector<uint8_t>(nUnit, 0), std::vector<uint8_t>(vecCopy.begin(), vecCopy.begin() + nUnit));
    EXPECT_TRUE(std::equal(vecCopy.begin() + nUnit, vecCopy.end(), vecOriginal.begin() + nUnit));
}

// ntfs-shapes-c1k.img, made the way Windows leaves a volume: a torn FILE record, records and an
// extension record that later files took, and long names with 8.3 names beside them.
const E2E_CASE kShapesCase = {"NtfsShapesC1k", "ntfs-shapes-c1k.img", 0, FILE_SYSTEM_NTFS};

TEST_F(TessaryNtfsDataLayout, TornAndReusedRecordsAndShortNames)
{
    const std::string strFixture = rvdtest::FixturePath(kShapesCase.pszImage);
    ScanIntoStore(m_Table, kShapesCase, strFixture);
    if (HasFatalFailure())
        return;
    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest(kShapesCase.pszImage);
    ICorrand* pStore = ModuleStore();
    IResultStoreAccess* pAccess = ModuleStoreAccess();

    // One entry per file: a long name's 8.3 twin is not listed, nor is a file whose record a
    // later file took.
    for (const std::vector<std::string>& vecPath : tessarytest::StoredFiles(pStore, 0)) {
        EXPECT_EQ(std::string::npos, vecPath.back().find('~')) << CopyPath(vecPath);
        EXPECT_NE("Record reused, old.txt", vecPath.back());
    }

    // The torn record: listed, copied with its bytes, and the copy is said to be doubtful.
    const rvdtest::ManifestEntry* pTorn = rvdtest::FindManifestEntry(manifest, "/Shapes/Torn record.txt");
    ASSERT_NE(nullptr, pTorn);
    DWORD dwTorn = corrandtest::FindPath(pStore, 0, {"Deleted Files", "Shapes", "Torn record.txt"});
    ASSERT_NE(0xFFFFFFFFu, dwTorn);
    ASSERT_EQ(0, pStore->SetCheckState(dwTorn, 1, 0, 1, 0));
    MESSAGES torn;
    std::string strTornRun;
    CopyTicked("torn", &torn, &strTornRun);
    EXPECT_TRUE(torn.Has("not written whole")) << torn.All();
    EXPECT_EQ(pTorn->strSha256, rvdtest::Sha256Hex(FileBytes(strTornRun + "/Deleted Files/Shapes/Torn record.txt")));
    ASSERT_EQ(0, pStore->SetCheckState(dwTorn, 0, 0, 1, 0));

    // A deleted file whose last extension record a later file took: what its own records give,
    // through its own runs, with nothing of the later file (whose data is all valid bytes).
    const DWORD dwCut = corrandtest::FindPath(pStore, 0, {"Deleted Files", "Shapes", "Attribute list, extension reused.bin"});
    ASSERT_NE(0xFFFFFFFFu, dwCut);
    STORED_FILE cut;
    ASSERT_EQ(0, pAccess->GetStoredFile(0, dwCut, &cut));
    EXPECT_GE(cut.ullValidSize, cut.ullSize);
    std::vector<uint8_t> vecThroughRuns;
    const std::vector<uint8_t> vecImage = rvdtest::ReadFileBytes(strFixture);
    for (const STORED_RUN& run : cut.vecRuns) {
        ASSERT_NE(STORED_RUN_SPARSE, run.ullSector);
        ASSERT_LE((run.ullSector + run.ullSectors) * kSector, vecImage.size());
        vecThroughRuns.insert(vecThroughRuns.end(), vecImage.begin() + run.ullSector * kSector,
                              vecImage.begin() + (run.ullSector + run.ullSectors) * kSector);
    }
    ASSERT_GE(vecThroughRuns.size(), cut.ullSize);
    vecThroughRuns.resize(cut.ullSize);
    ASSERT_EQ(0, pStore->SetCheckState(dwCut, 1, 0, 1, 0));
    MESSAGES messages;
    std::string strRun;
    EXPECT_EQ(TESSARY_OK, CopyTicked("cut", &messages, &strRun)) << messages.All();
    EXPECT_EQ(rvdtest::Sha256Hex(vecThroughRuns),
              rvdtest::Sha256Hex(FileBytes(strRun + "/Deleted Files/Shapes/Attribute list, extension reused.bin")));
}

// ntfs-shapes-s4k.img: NTFS made for 4096-byte sectors (4096-byte FILE records). The engine reads
// NTFS only at 512 bytes per sector: the boot sector is refused and no FILE record is taken, so
// neither scan hands over anything read with the wrong geometry.
TEST_F(TessaryNtfsDataLayout, VolumeOf4KiBSectorsIsNotMisread)
{
    const std::string strImage = rvdtest::FixturePath("ntfs-shapes-s4k.img");
    const uint64_t ullSectors = rvdtest::ReadFileBytes(strImage).size() / kSector;
    m_Table.Load("disk " + strImage + "\nvolume disk=0 start=0 count=" + std::to_string(ullSectors) + " fs=NTFS\n");
    CEngineModule& engine = CEngineModule::Get();
    ASSERT_NE(nullptr, engine.Engine());
    ASSERT_TRUE(engine.ReloadDiskTable());
    const rvdtest::SCAN_RECORDS records = rvdtest::VolumeScanRecords(ullSectors, FILE_SYSTEM_NTFS, 0, ullSectors);
    for (int32_t nMode : {SCAN_MODE_QUICK, SCAN_MODE_COMPLETE}) {
        SCOPED_TRACE(nMode);
        ASSERT_EQ(0, engine.Engine()->Init(&records.Disk, &records.Volume, nMode, 0));
        EXPECT_EQ(DELVAR_NOTHING_FOUND, engine.Engine()->Search());
    }
}

// ----- what the store keeps of a fixture ----------------------------------------------------------

// Every row the store holds, one line each, in key order: the volume rows, then the records
// with their runs in hex; the tick columns, which follow the user's clicks, are left out.
std::string StoredRows(const std::string& strDatabase)
{
    sqlite3* pDb = nullptr;
    if (sqlite3_open_v2(strDatabase.c_str(), &pDb, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(pDb);
        ADD_FAILURE() << "cannot open " << strDatabase;
        return std::string();
    }
    std::string strRows;
    for (const char* pszSql :
         {"SELECT 'volume',vol,scan_index,device_start,root_start,sectors_per_unit,has_tree,records FROM volume "
          "ORDER BY vol",
          "SELECT key>>32,key&4294967295,pkey,kind,last,name,size,attr,status,flags,ctime,mtime,atime,nfiles,"
          "nbytes,hex(runs),res_sector,res_offset,valid,cunit FROM node ORDER BY key"}) {
        sqlite3_stmt* pStatement = nullptr;
        if (sqlite3_prepare_v2(pDb, pszSql, -1, &pStatement, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(pDb);
            break;
        }
        while (sqlite3_step(pStatement) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(pStatement); ++i) {
                const unsigned char* pText = sqlite3_column_text(pStatement, i);
                strRows += (i == 0 ? "" : "\t");
                strRows += pText != nullptr ? reinterpret_cast<const char*>(pText) : "NULL";
            }
            strRows += "\n";
        }
        sqlite3_finalize(pStatement);
    }
    sqlite3_close(pDb);
    return strRows;
}

// A quick scan of a fixture stores exactly the rows it stored when the listing beside this
// file was written: a change of the tree builder, the "Deleted Files" derivation or the store's
// import that alters a name, time, size, flag, run or record number shows here. A change meant
// to alter them writes the listings anew with RVD_WRITE_STORE_LISTINGS=1 and shows the
// difference in its commit.
class TessaryStoredRows : public TessaryEndToEnd {};

TEST_P(TessaryStoredRows, MatchTheListingOfTheFixture)
{
    const E2E_CASE& c = GetParam();
    ScanIntoStore(m_Table, c, rvdtest::FixturePath(c.pszImage));
    if (HasFatalFailure())
        return;
    const std::string strRows = StoredRows(ModuleStoreFolder() + "/Corrand.db");
    ASSERT_FALSE(strRows.empty());
    const std::string strListing = rvdtest::SourceDir() + "/tests/modules/listings/" + c.pszName + ".rows";
    const char* pszWrite = getenv("RVD_WRITE_STORE_LISTINGS");
    if (pszWrite != nullptr && std::string(pszWrite) == "1") {
        std::ofstream(strListing, std::ios::binary) << strRows;
        return;
    }
    std::ifstream listing(strListing, std::ios::binary);
    ASSERT_TRUE(listing.good()) << strListing << " is missing; RVD_WRITE_STORE_LISTINGS=1 writes it";
    const std::string strExpected((std::istreambuf_iterator<char>(listing)), std::istreambuf_iterator<char>());
    // Line by line, so that a failure names the first row that differs.
    std::istringstream expected(strExpected), actual(strRows);
    std::string strWant, strGot;
    for (size_t nLine = 1;; ++nLine) {
        const bool bWant = static_cast<bool>(std::getline(expected, strWant));
        const bool bGot = static_cast<bool>(std::getline(actual, strGot));
        if (!bWant && !bGot)
            break;
        ASSERT_EQ(bWant ? strWant : "(end)", bGot ? strGot : "(end)") << "row " << nLine << " of " << strListing;
    }
}

const std::vector<E2E_CASE>& StoredRowsCases()
{
    static const std::vector<E2E_CASE> cases = {
        {"Ext2_4k_256", "ext2-4k-256.img", 0, FILE_SYSTEM_EXT2},
        {"Ext3_1k_128", "ext3-1k-128.img", 0, FILE_SYSTEM_EXT3},
        {"MbrExt2", "mbr.img", 2, FILE_SYSTEM_EXT2},
        {"Fat32", "fat32.img", 0, FILE_SYSTEM_FAT32},
        {"Ntfs", "ntfs.img", 0, FILE_SYSTEM_NTFS},
    };
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TessaryStoredRows, ::testing::ValuesIn(StoredRowsCases()),
                         [](const ::testing::TestParamInfo<E2E_CASE>& info) { return std::string(info.param.pszName); });

} // namespace
