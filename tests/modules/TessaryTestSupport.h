// The copy-out module's tests: a small disk image written by the test (every byte a function of
// its position, so any copied stretch can be checked), a device table that makes it physical
// drive 0, a result store on its own file filled with the engine's tree classes, and a copy-out
// object whose run folder has a fixed name.
#pragma once

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Charset.h"
#include "CorrandTestSupport.h"
#include "DiskTable.h"
#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"
#include "ICorrand.h"
#include "IDelvar.h"
#include "ITessary.h"
#include "ScanRecords.h"
#include "ScopedEnv.h"
#include "SourceReader.h"
#include "Tessary.h"
#include "TestSupport.h"
#include "WideText.h"
#include "TestModules.h"

namespace tessarytest {

using corrandtest::CTestTree;

constexpr uint64_t kSector = 512;
// The scanned partition begins 1 MiB into the image, as partitioning tools place it.
constexpr uint64_t kPartitionStart = 2048;
// Clusters of the test trees: 8 sectors (4 KiB), counted from the partition's first sector.
constexpr int32_t kSectorsPerCluster = 8;
constexpr uint64_t kClusterBytes = kSectorsPerCluster * kSector;

// The byte every image holds at absolute position ullOffset (never constant over a sector, so a
// misplaced or zeroed stretch is always seen).
inline uint8_t ImageByte(uint64_t ullOffset)
{
    return static_cast<uint8_t>((ullOffset * 2654435761ULL >> 13) ^ (ullOffset >> 9) ^ ullOffset);
}

inline std::vector<uint8_t> ImageBytes(uint64_t ullOffset, uint64_t ullCount)
{
    std::vector<uint8_t> vec(ullCount);
    for (uint64_t i = 0; i < ullCount; ++i)
        vec[i] = ImageByte(ullOffset + i);
    return vec;
}

// Byte offset of a cluster of the test partition.
inline uint64_t ClusterOffset(uint64_t ullCluster)
{
    return (kPartitionStart + ullCluster * kSectorsPerCluster) * kSector;
}

// A physical drive read whole, as the copy-out reads the results of a whole-disk scan.
inline tessary::VOLUME_SOURCE WholeDisk(DWORD dwDisk)
{
    tessary::VOLUME_SOURCE source;
    source.nKind = tessary::SOURCE_DISK_WINDOW;
    source.dwDisk = dwDisk;
    source.strName = tessary::DiskName(dwDisk);
    return source;
}

using rvdtest::CScopedEnv;

// The modules keep the store's database file for the rest of the process: it lives in a folder
// of its own that outlasts every test.
inline const std::string& ModuleStoreFolder()
{
    static rvdtest::CTempDir dir;
    return dir.Path();
}

// A module of the output folder, loaded once the way the program loads it (a second dlopen of
// the same file gives the same module).
inline void* LoadModule(const char* pszName)
{
    static CScopedEnv* pDatabase = new CScopedEnv("RAVENDO_RESULT_DB", ModuleStoreFolder() + "/Corrand.db");
    (void)pDatabase;
    std::string strError;
    void* hModule = rvdtest::OpenModule(pszName, std::string(), &strError);
    EXPECT_NE(nullptr, hModule) << strError;
    return hModule;
}

template <typename T>
T* ModuleObject(const char* pszModule, const char* pszExport)
{
    void* hModule = LoadModule(pszModule);
    if (hModule == nullptr)
        return nullptr;
    auto pfn = reinterpret_cast<void* (*)()>(dlsym(hModule, pszExport));
    EXPECT_NE(nullptr, pfn) << pszExport;
    return pfn != nullptr ? static_cast<T*>(pfn()) : nullptr;
}

// The one result store of the store module, and its side the copy-out reads.
inline ICorrand* ModuleStore()
{
    return ModuleObject<ICorrand>("Corrand", "CreateInstance");
}

inline IResultStoreAccess* ModuleStoreAccess()
{
    return ModuleObject<IResultStoreAccess>("Corrand", "GetResultStoreAccess");
}

// The engine module's one engine.
inline IDelvar* EngineModule()
{
    static IDelvar* s_pEngine = [] {
        void* hModule = LoadModule("Delvar");
        auto pfn = hModule != nullptr
                       ? reinterpret_cast<PFN_DELVAR_CREATE_INSTANCE>(dlsym(hModule, "CreateInstance"))
                       : nullptr;
        return pfn != nullptr ? pfn() : nullptr;
    }();
    return s_pEngine;
}

// A device table for the test, loaded into this process's disk table; the old one comes back
// at the end.
class CDeviceTable {
public:
    explicit CDeviceTable(const rvdtest::CTempDir& dir) : m_strFile(dir.File("devices.table")) {}
    ~CDeviceTable()
    {
        m_pEnv.reset();
        rvdplat::ReloadDiskTable();
    }
    void Load(const std::string& strText)
    {
        std::ofstream(m_strFile) << strText;
        if (m_pEnv == nullptr)
            m_pEnv = std::make_unique<CScopedEnv>("RAVENDO_DEVICE_TABLE", m_strFile);
        std::string strError;
        ASSERT_TRUE(rvdplat::ReloadDiskTable(&strError)) << strError;
    }

private:
    std::string m_strFile;
    std::unique_ptr<CScopedEnv> m_pEnv;
};

// The copy-out object with a fixed run folder name.
class CTestTessary : public tessary::CTessary {
public:
    explicit CTestTessary(IResultStoreAccess* pAccess, const std::string& strRunName = "Run")
        : tessary::CTessary(pAccess), m_strRunName(strRunName)
    {
    }

protected:
    std::string RunFolderName() override { return m_strRunName; }

private:
    std::string m_strRunName;
};

// What the message callback received.
struct MESSAGES {
    std::mutex Lock;
    std::vector<std::pair<int32_t, std::string>> Lines;
    // Set from the callback: raise the cancel flag once a line containing this text arrives.
    std::string strCancelOn;
    DWORD* pdwFlags = nullptr;

    std::string All()
    {
        std::lock_guard<std::mutex> lock(Lock);
        std::string str;
        for (const auto& line : Lines)
            str += std::to_string(line.first) + ": " + line.second + "\n";
        return str;
    }
    size_t Count(int32_t nLevel)
    {
        std::lock_guard<std::mutex> lock(Lock);
        size_t n = 0;
        for (const auto& line : Lines)
            n += line.first == nLevel ? 1 : 0;
        return n;
    }
    bool Has(const std::string& strPart) { return All().find(strPart) != std::string::npos; }
};

inline int32_t CollectMessage(const WCHAR* pszText, int32_t nLevel, void* pContext)
{
    MESSAGES* p = static_cast<MESSAGES*>(pContext);
    std::lock_guard<std::mutex> lock(p->Lock);
    const std::string strLine = rvd::Utf16ToUtf8(pszText);
    p->Lines.emplace_back(nLevel, strLine);
    if (!p->strCancelOn.empty() && p->pdwFlags != nullptr && strLine.find(p->strCancelOn) != std::string::npos)
        p->pdwFlags[TESSARY_FLAG_CANCEL] = 1;
    return 0;
}

// Everything the progress page sees of one copy-out.
struct COPY_OUTCOME {
    int32_t nResult = -1;
    SEARCH_PROGRESS Progress{};
    std::string strRecoveryPath;
};

// What a copy-out of the files ticked in a store gave.
struct TICKED_COPY {
    int32_t nResult = -1;
    uint64_t ullTicked = 0;  // files ticked, as the store counts them
    SEARCH_PROGRESS Progress{};
    std::string strRun;      // the run folder the copies went to
};

// Copies the files ticked in the store into the folder strTarget as the progress page starts a
// copy-out: told the bytes ticked, its progress taken, its messages collected into *pMessages.
inline TICKED_COPY CopyTickedFiles(IResultStoreAccess* pAccess, const std::string& strTarget, MESSAGES* pMessages)
{
    TICKED_COPY copy;
    uint64_t ullBytes = 0;
    EXPECT_EQ(0, pAccess->GetCheckedTotals(&copy.ullTicked, &ullBytes));
    CTestTessary tessary(pAccess);
    DWORD adwFlags[2] = {0, 0};
    tessary.SetTarget(rvd::Utf8ToUtf16(strTarget).c_str(), static_cast<DWORD>(ullBytes),
                      static_cast<DWORD>(ullBytes >> 32));
    tessary.SetProgressSink(&copy.Progress, adwFlags);
    tessary.SetMessageCallback(pMessages != nullptr ? CollectMessage : nullptr, pMessages);
    copy.nResult = tessary.Run(TESSARY_RUN_COPY);
    copy.strRun = strTarget + "/Run";
    return copy;
}

// A scratch folder with a disk image (physical drive 0) and a result store of its own.
class CTessaryTest : public ::testing::Test {
protected:
    static constexpr uint64_t kImageBytes = 8ULL << 20;

    void SetUp() override
    {
        m_strImage = m_Dir.File("disk.img");
        WriteImage(m_strImage, kImageBytes);
        m_strTarget = m_Dir.File("target");
        ASSERT_EQ(0, mkdir(m_strTarget.c_str(), 0755));
        m_pStore.reset(new corrand::CResultStore(m_Dir.File("results.db")));
        LoadTable("");
    }

    // The image as drive 0 plus any further table lines.
    void LoadTable(const std::string& strMore) { m_Table.Load("disk " + m_strImage + "\n" + strMore); }

    static void WriteImage(const std::string& strPath, uint64_t ullBytes)
    {
        rvdtest::WriteFileBytes(strPath, ImageBytes(0, ullBytes));
    }

    // Hands a tree over as the engine does after a quick scan of the partition, as result
    // nIndex of one scan (which is also its volume number).
    void HandOver(CTestTree& tree, int32_t nIndex = 0, DWORD dwDisk = 0)
    {
        const PARTITION_INFO_EX record = corrandtest::UserRecord(kPartitionStart, FILE_SYSTEM_NTFS, dwDisk);
        EXPECT_EQ(0, Store()->AddPartition(&record, nIndex, nIndex == 0 ? 1 : 0));
        EXPECT_EQ(0, Store()->AddFileTree(tree.Root()));
    }

    DWORD Record(DWORD dwVolume, std::initializer_list<const char*> path)
    {
        const DWORD dwRecord = corrandtest::FindPath(Store(), dwVolume, path);
        EXPECT_NE(0xFFFFFFFFu, dwRecord);
        return dwRecord;
    }
    void Tick(DWORD dwVolume, std::initializer_list<const char*> path, bool bFolder = false)
    {
        EXPECT_EQ(0, Store()->SetCheckState(Record(dwVolume, path), 1, bFolder ? 1 : 0, bFolder ? 1 : 0, dwVolume));
    }
    // Ticks the whole "Deleted Files" tree of a volume.
    void TickAll(DWORD dwVolume = 0) { Tick(dwVolume, {"Deleted Files"}, true); }

    // Runs a copy-out as the progress page does.
    COPY_OUTCOME Copy(ITessary& tessary, MESSAGES* pMessages, const std::string& strTarget = std::string())
    {
        COPY_OUTCOME outcome;
        DWORD adwFlags[2] = {0, 0};
        if (pMessages != nullptr)
            pMessages->pdwFlags = adwFlags;
        const std::u16string strWide = rvd::Utf8ToUtf16(strTarget.empty() ? m_strTarget : strTarget);
        WCHAR szTarget[MAX_PATH] = {};
        rvd::CopyWideText(szTarget, strWide);
        tessary.SetTarget(szTarget, 0, 0);
        tessary.SetProgressSink(&outcome.Progress, adwFlags);
        tessary.SetMessageCallback(pMessages != nullptr ? CollectMessage : nullptr, pMessages);
        outcome.nResult = tessary.Run(TESSARY_RUN_COPY);
        WCHAR szPath[TESSARY_RECOVERY_PATH_CHARS] = {};
        tessary.GetRecoveryPath(szPath);
        outcome.strRecoveryPath = rvd::Utf16ToUtf8(szPath);
        if (pMessages != nullptr)
            pMessages->pdwFlags = nullptr;
        return outcome;
    }

    std::string RunPath(const std::string& strRelative = std::string()) const
    {
        return m_strTarget + "/Run" + (strRelative.empty() ? "" : "/" + strRelative);
    }

    ICorrand* Store() const { return m_pStore.get(); }
    IResultStoreAccess* Access() const { return m_pStore.get(); }

    rvdtest::CTempDir m_Dir;
    CDeviceTable m_Table{m_Dir};
    std::string m_strImage;
    std::string m_strTarget;
    std::unique_ptr<corrand::CResultStore> m_pStore;
};

// ----- looking at what was written ------------------------------------------------------------

inline bool Exists(const std::string& strPath)
{
    struct stat st;
    return lstat(strPath.c_str(), &st) == 0;
}

inline std::vector<uint8_t> FileBytes(const std::string& strPath)
{
    return rvdtest::ReadFileBytes(strPath);
}

// Every entry below strRoot (relative path -> type, size, modification time, content hash or
// link target), links not followed.
inline std::map<std::string, std::string> Snapshot(const std::string& strRoot, const std::string& strSkip = "")
{
    std::map<std::string, std::string> map;
    std::vector<std::string> vecStack = {""};
    while (!vecStack.empty()) {
        const std::string strRel = vecStack.back();
        vecStack.pop_back();
        const std::string strFull = strRel.empty() ? strRoot : strRoot + "/" + strRel;
        DIR* pDir = opendir(strFull.c_str());
        if (pDir == nullptr)
            continue;
        while (dirent* pEntry = readdir(pDir)) {
            const std::string strName = pEntry->d_name;
            if (strName == "." || strName == "..")
                continue;
            const std::string strChild = strRel.empty() ? strName : strRel + "/" + strName;
            if (strChild == strSkip)
                continue;
            const std::string strPath = strRoot + "/" + strChild;
            struct stat st;
            if (lstat(strPath.c_str(), &st) != 0)
                continue;
            std::string strWhat = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                                  std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
            if (S_ISDIR(st.st_mode)) {
                vecStack.push_back(strChild);
            } else if (S_ISLNK(st.st_mode)) {
                char szLink[4096];
                const ssize_t n = readlink(strPath.c_str(), szLink, sizeof(szLink));
                strWhat += " -> " + std::string(szLink, n > 0 ? static_cast<size_t>(n) : 0);
            } else if (S_ISREG(st.st_mode)) {
                strWhat += " " + rvdtest::Sha256Hex(rvdtest::ReadFileBytes(strPath));
            }
            map[strChild] = strWhat;
        }
        closedir(pDir);
    }
    return map;
}

// Regular files below strRoot (relative path -> bytes).
inline std::map<std::string, std::vector<uint8_t>> RegularFiles(const std::string& strRoot)
{
    std::map<std::string, std::vector<uint8_t>> map;
    for (const auto& entry : Snapshot(strRoot)) {
        struct stat st;
        const std::string strPath = strRoot + "/" + entry.first;
        if (lstat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            map[entry.first] = rvdtest::ReadFileBytes(strPath);
    }
    return map;
}

// Every file of a volume of the store, by the names along its path as found.
inline std::set<std::vector<std::string>> StoredFiles(ICorrand* pStore, DWORD dwVolume)
{
    std::set<std::vector<std::string>> setFiles;
    std::vector<std::pair<DWORD, std::vector<std::string>>> vecStack = {{0, {}}};
    while (!vecStack.empty()) {
        const auto folder = vecStack.back();
        vecStack.pop_back();
        for (int32_t nKind : {ENUM_KIND_FOLDERS, ENUM_KIND_FILES})
            for (const FILE_INFO_EX& info : corrandtest::ListAll(pStore, dwVolume, folder.first, nKind)) {
                std::vector<std::string> vecPath = folder.second;
                vecPath.push_back(rvd::Utf16ToUtf8(corrandtest::NameOf(info)));
                if (nKind == ENUM_KIND_FOLDERS)
                    vecStack.emplace_back(info.dwRecordNumber, vecPath);
                else
                    setFiles.insert(vecPath);
            }
    }
    return setFiles;
}

// Ticks the "Deleted Files" tree of every volume of the store that has one, and gives the files
// of all of them by the names along their paths. A store without volumes fails the test.
inline void TickEveryVolume(ICorrand* pStore, std::set<std::vector<std::string>>* pStored)
{
    int32_t nVolumes = 0;
    pStore->GetPartitionCount(&nVolumes);
    ASSERT_GE(nVolumes, 1);
    for (int32_t v = 0; v < nVolumes; ++v) {
        const DWORD dwTop = corrandtest::FindPath(pStore, static_cast<DWORD>(v), {"Deleted Files"});
        if (dwTop == 0xFFFFFFFFu)
            continue;
        ASSERT_EQ(0, pStore->SetCheckState(dwTop, 1, 1, 1, static_cast<DWORD>(v)));
        for (const auto& path : StoredFiles(pStore, static_cast<DWORD>(v)))
            pStored->insert(path);
    }
}

// ----- fixture images scanned through the engine module ---------------------------------------------

// How the device table names a file system.
inline const char* TableFileSystemName(DWORD dwFileSystem)
{
    static const char* const kNames[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3"};
    return dwFileSystem < 6 ? kNames[dwFileSystem] : "";
}

// What was written to a partition of a fixture image before it was damaged: its own manifest
// where the fixture script kept one apart, else the image's.
inline std::vector<rvdtest::ManifestEntry> WrittenFiles(const std::string& strImage, int nPartition)
{
    const std::string strExpect = rvdtest::FixturePath(strImage + ".p" + std::to_string(nPartition) + ".expect");
    if (Exists(strExpect))
        return rvdtest::ReadManifestFile(strExpect);
    return rvdtest::ReadManifest(strImage, nPartition);
}

// A recovery after a complete scan, one fixture case each: controllers by each partition's own
// file system, no carving, the whole disk scanned block by block when the partition search finds
// nothing, up to 8 found partitions made trees; the settings before come back after the test.
template <typename CASE>
class CCompleteScanTest : public ::testing::TestWithParam<CASE> {
protected:
    void SetUp() override
    {
        CGlobalAdvanceSettingData* pSettings = GetEngineSettings();
        m_Saved = *pSettings;
        pSettings->m_nFileSystemType = 0;
        pSettings->m_bScanRaw = 0;
        pSettings->m_nDiskFullScan = 1;
        pSettings->m_nPartitionMaxlimit = 8;
    }
    void TearDown() override { *GetEngineSettings() = m_Saved; }

    rvdtest::CTempDir m_Dir;
    CDeviceTable m_Table{m_Dir};
    CScopedEnv m_ModuleDir{"RAVENDO_MODULE_DIR", rvdtest::OutputDir()};
    CGlobalAdvanceSettingData m_Saved{};
};

// Scans the disk image strImage of ullDiskSectors through the engine module into the store
// module: with pVolume the complete scan of that partition, a volume of dwFileSystem in the
// device table; without it the whole-disk scan.
inline void ScanDiskImage(CDeviceTable& table, const std::string& strImage, uint64_t ullDiskSectors,
                          const rvdtest::PartitionEntry* pVolume, DWORD dwFileSystem)
{
    std::string strTable = "disk " + strImage + "\n";
    // The whole-disk scan is told no volume.
    rvdtest::SCAN_RECORDS records = rvdtest::VolumeScanRecords(ullDiskSectors, 0, 0, 0);
    if (pVolume != nullptr) {
        strTable += "volume disk=0 start=" + std::to_string(pVolume->nStart) + " count=" +
                    std::to_string(pVolume->nCount) + " fs=" + TableFileSystemName(dwFileSystem) + "\n";
        records = rvdtest::VolumeScanRecords(ullDiskSectors, dwFileSystem, pVolume->nStart, pVolume->nCount);
    }
    table.Load(strTable);
    IDelvar* pEngine = EngineModule();
    ASSERT_NE(nullptr, pEngine);
    ASSERT_EQ(DELVAR_SUCCESS, pEngine->Init(&records.Disk, &records.Volume,
                                            pVolume != nullptr ? SCAN_MODE_COMPLETE : SCAN_MODE_WHOLE_DISK, 0));
    ASSERT_EQ(DELVAR_SUCCESS, pEngine->Search());
}

} // namespace tessarytest
