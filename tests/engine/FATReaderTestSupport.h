// Helpers for the FAT reader tests: the fixture FAT volumes with their manifests, copies of them
// that a test damages on purpose, a small reader of the images' own directories and FATs (to
// find the bytes to damage), the Delvar module loaded by name as the GUI loads it, and the check
// of a found tree against a manifest.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DelvarTestSupport.h"
#include "DeviceTestSupport.h"
#include "FSStructTestSupport.h"
#include "IDelvar.h"
#include "ScanRecords.h"
#include "TestSupport.h"
#include "DiskTable.h"
#include "TestModules.h"

namespace fattest {

const uint64_t kSector = 512;
// Seconds from 1601 to 1970.
const int64_t kUnixEpochSeconds = 11644473600LL;

inline uint64_t FileTimeOf(int64_t nUnixSeconds)
{
    return static_cast<uint64_t>(nUnixSeconds + kUnixEpochSeconds) * 10000000ULL;
}

inline uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline void PutLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// One FAT volume of the fixtures: a whole image, or a partition of mbr.img.
struct FAT_VOLUME_CASE {
    const char* pszImage;
    int nPartition;          // 0: the image is the volume
    DWORD dwFileSystem;      // 0 FAT12, 1 FAT16, 2 FAT32
    const char* pszName;
};

inline void PrintTo(const FAT_VOLUME_CASE& c, std::ostream* pOut)
{
    *pOut << c.pszName;
}

inline const std::vector<FAT_VOLUME_CASE>& FatVolumeCases()
{
    static const std::vector<FAT_VOLUME_CASE> cases = {
        {"fat12.img", 0, 0, "Fat12Floppy"},
        {"fat16.img", 0, 1, "Fat16"},
        {"fat32.img", 0, 2, "Fat32"},
        {"mbr.img", 1, 1, "MbrPrimaryFat16"},
        {"mbr.img", 6, 2, "MbrLogicalFat32"},
    };
    return cases;
}

// Where the volume lies in its image.
inline void VolumeExtent(const FAT_VOLUME_CASE& c, const std::string& strImage, uint64_t* pullStart, uint64_t* pullCount)
{
    if (c.nPartition == 0) {
        *pullStart = 0;
        *pullCount = rvdtest::ReadFileBytes(strImage).size() / kSector;
        return;
    }
    for (const rvdtest::PartitionEntry& p : rvdtest::ReadPartitions(c.pszImage)) {
        if (p.nIndex == c.nPartition) {
            *pullStart = p.nStart;
            *pullCount = p.nCount;
            return;
        }
    }
    ADD_FAILURE() << "no partition " << c.nPartition << " in " << c.pszImage;
}

// A writable copy of a fixture image in a scratch folder, with byte access for damaging it.
class CImageCopy {
public:
    CImageCopy(const rvdtest::CTempDir& dir, const std::string& strImage)
        : m_strPath(dir.File("copy-" + strImage)), m_Bytes(rvdtest::ReadFileBytes(rvdtest::FixturePath(strImage)))
    {
    }
    uint8_t* At(uint64_t ullSector) { return m_Bytes.data() + ullSector * kSector; }
    std::vector<uint8_t>& Bytes() { return m_Bytes; }
    const std::string& Path() const { return m_strPath; }
    void Save() { rvdtest::WriteFileBytes(m_strPath, m_Bytes); }

private:
    std::string m_strPath;
    std::vector<uint8_t> m_Bytes;
};

// The layout of a FAT volume read straight from its boot sector, and the few walks the tests
// need to find what to damage.
struct FAT_LAYOUT {
    int nType = -1;
    uint64_t ullStart = 0;     // volume start in the image
    uint32_t nSectorsPerCluster = 0;
    uint64_t ullFAT1 = 0;      // absolute sectors
    uint32_t nSectorsPerFAT = 0;
    uint32_t nFATs = 0;
    uint64_t ullRoot = 0;      // FAT12/16 root area
    uint32_t nRootSectors = 0;
    uint32_t nRootCluster = 0; // FAT32
    uint64_t ullCluster2 = 0;
    uint64_t ullTotal = 0;
    std::string strLabel;

    uint64_t ClusterSector(uint32_t nCluster) const { return ullCluster2 + uint64_t(nCluster - 2) * nSectorsPerCluster; }
};

inline FAT_LAYOUT ReadLayout(const uint8_t* pImage, uint64_t ullStart, int nType)
{
    FAT_LAYOUT l;
    const uint8_t* b = pImage + ullStart * kSector;
    l.nType = nType;
    l.ullStart = ullStart;
    l.nSectorsPerCluster = b[13];
    l.nFATs = b[16];
    l.ullFAT1 = ullStart + Le16(b + 14);
    l.nSectorsPerFAT = nType == 2 ? Le32(b + 36) : Le16(b + 22);
    l.ullTotal = Le16(b + 19) != 0 ? Le16(b + 19) : Le32(b + 32);
    const uint64_t ullAfterFATs = l.ullFAT1 + uint64_t(l.nFATs) * l.nSectorsPerFAT;
    if (nType == 2) {
        l.nRootCluster = Le32(b + 44);
        l.ullCluster2 = ullAfterFATs;
        l.strLabel.assign(reinterpret_cast<const char*>(b + 71), 11);
    } else {
        l.ullRoot = ullAfterFATs;
        l.nRootSectors = (Le16(b + 17) * 32 + 511) / 512;
        l.ullCluster2 = ullAfterFATs + l.nRootSectors;
        l.strLabel.assign(reinterpret_cast<const char*>(b + 43), 11);
    }
    while (!l.strLabel.empty() && l.strLabel.back() == ' ')
        l.strLabel.pop_back();
    return l;
}

// Entry n of a FAT copy (copy 0 = FAT1), unnormalised.
inline uint32_t FatEntry(const uint8_t* pImage, const FAT_LAYOUT& l, uint32_t n, int nCopy = 0)
{
    const uint8_t* pFAT = pImage + (l.ullFAT1 + uint64_t(nCopy) * l.nSectorsPerFAT) * kSector;
    switch (l.nType) {
    case 0: {
        const uint16_t w = Le16(pFAT + n * 3 / 2);
        return (n & 1) ? (w >> 4) : (w & 0x0FFF);
    }
    case 1:
        return Le16(pFAT + n * 2);
    default:
        return Le32(pFAT + n * 4) & 0x0FFFFFFF;
    }
}

inline void SetFatEntry(uint8_t* pImage, const FAT_LAYOUT& l, uint32_t n, uint32_t v, int nCopy)
{
    uint8_t* pFAT = pImage + (l.ullFAT1 + uint64_t(nCopy) * l.nSectorsPerFAT) * kSector;
    switch (l.nType) {
    case 0: {
        uint8_t* p = pFAT + n * 3 / 2;
        uint16_t w = Le16(p);
        w = (n & 1) ? static_cast<uint16_t>((w & 0x000F) | (v << 4)) : static_cast<uint16_t>((w & 0xF000) | (v & 0x0FFF));
        PutLe16(p, w);
        break;
    }
    case 1:
        PutLe16(pFAT + n * 2, static_cast<uint16_t>(v));
        break;
    default:
        PutLe16(pFAT + n * 4, static_cast<uint16_t>(v));
        PutLe16(pFAT + n * 4 + 2, static_cast<uint16_t>(v >> 16));
        break;
    }
}

inline bool IsChainEnd(const FAT_LAYOUT& l, uint32_t v)
{
    return v < 2 || v >= (l.nType == 0 ? 0xFF8u : l.nType == 1 ? 0xFFF8u : 0x0FFFFFF8u);
}

inline std::vector<uint32_t> Chain(const uint8_t* pImage, const FAT_LAYOUT& l, uint32_t nFirst)
{
    std::vector<uint32_t> clusters;
    for (uint32_t c = nFirst; !IsChainEnd(l, c) && clusters.size() < 100000; c = FatEntry(pImage, l, c))
        clusters.push_back(c);
    return clusters;
}

// Sectors of a directory: the FAT12/16 root area (cluster 0) or a cluster chain.
inline std::vector<uint64_t> DirectorySectors(const uint8_t* pImage, const FAT_LAYOUT& l, uint32_t nCluster)
{
    std::vector<uint64_t> sectors;
    if (nCluster == 0 && l.nType != 2) {
        for (uint32_t i = 0; i < l.nRootSectors; ++i)
            sectors.push_back(l.ullRoot + i);
        return sectors;
    }
    for (uint32_t c : Chain(pImage, l, nCluster == 0 ? l.nRootCluster : nCluster))
        for (uint32_t i = 0; i < l.nSectorsPerCluster; ++i)
            sectors.push_back(l.ClusterSector(c) + i);
    return sectors;
}

// The 8.3 entry of a folder whose name bytes 1..10 are pszTail (the first byte may be 0xE5), in
// the directory starting at nCluster; null when absent.
inline uint8_t* FindEntry(uint8_t* pImage, const FAT_LAYOUT& l, uint32_t nDirCluster, const char* pszTail10)
{
    for (uint64_t s : DirectorySectors(pImage, l, nDirCluster)) {
        for (int i = 0; i < 16; ++i) {
            uint8_t* e = pImage + s * kSector + i * 32;
            if (e[11] != 0x0F && memcmp(e + 1, pszTail10, 10) == 0)
                return e;
        }
    }
    return nullptr;
}

inline uint32_t EntryCluster(const uint8_t* e)
{
    return (static_cast<uint32_t>(Le16(e + 20)) << 16) | Le16(e + 26);
}

// The first unused (all-zero) slot of a directory.
inline uint8_t* FreeSlot(uint8_t* pImage, const FAT_LAYOUT& l, uint32_t nDirCluster)
{
    static const uint8_t kZero[32] = {};
    for (uint64_t s : DirectorySectors(pImage, l, nDirCluster))
        for (int i = 0; i < 16; ++i)
            if (memcmp(pImage + s * kSector + i * 32, kZero, 32) == 0)
                return pImage + s * kSector + i * 32;
    return nullptr;
}

// Writes an 8.3 folder entry (no long name) with a first cluster and a modification date.
inline void WriteFolderEntry(uint8_t* e, const char* pszName11, uint32_t nCluster, uint16_t wDate = 0x4AEE)
{
    memset(e, 0, 32);
    memcpy(e, pszName11, 11);
    e[11] = 0x10;
    PutLe16(e + 16, wDate);
    PutLe16(e + 20, static_cast<uint16_t>(nCluster >> 16));
    PutLe16(e + 24, wDate);
    PutLe16(e + 26, static_cast<uint16_t>(nCluster));
}

// ----- the Delvar module, loaded by name ------------------------------------------------------

typedef IDelvar* (*PFN_CREATE_DELVAR)();
typedef bool (*PFN_RELOAD_DISK_TABLE)(std::string*);

// The engine as the GUI program reaches it. The module keeps a disk table of its own (it links
// its own copy of the platform layer), so every scan first makes it read the test's table.
class CDelvarModule {
public:
    static CDelvarModule& Get()
    {
        static CDelvarModule module;
        return module;
    }
    IDelvar* Engine() const { return m_pEngine; }
    bool ReloadTable()
    {
        std::string strError;
        return m_pfnReload != nullptr && m_pfnReload(&strError);
    }

private:
    CDelvarModule()
    {
        m_hModule = rvdtest::OpenModule("Delvar");
        if (m_hModule == nullptr)
            return;
        if (auto pfn = reinterpret_cast<PFN_CREATE_DELVAR>(dlsym(m_hModule, "CreateInstance")))
            m_pEngine = pfn();
        m_pfnReload = &rvdplat::ReloadDiskTable;
    }
    void* m_hModule = nullptr;
    IDelvar* m_pEngine = nullptr;
    PFN_RELOAD_DISK_TABLE m_pfnReload = nullptr;
};

// What a quick scan handed to the store.
struct QUICK_SCAN_RESULT {
    int32_t nStatus = -1;
    SEARCH_PROGRESS Progress{};
    std::vector<FAKE_TREE> Trees;
    std::vector<FAKE_PARTITION_CALL> Partitions;
};

// Runs IDelvar::Search in mode 0 on the volume [ullStart, ullStart + ullCount) of an image that
// is physical drive 0, with the fake store.
inline QUICK_SCAN_RESULT QuickScan(devtest::CDeviceTable& table, const std::string& strImage, uint64_t ullStart,
                                   uint64_t ullCount, DWORD dwFileSystem)
{
    QUICK_SCAN_RESULT result;
    static const char* const kFs[] = {"FAT12", "FAT16", "FAT32"};
    table.Load("disk " + strImage + "\nvolume disk=0 start=" + std::to_string(ullStart) +
               " count=" + std::to_string(ullCount) + " fs=" + kFs[dwFileSystem] + "\n");
    CDelvarModule& module = CDelvarModule::Get();
    EXPECT_NE(nullptr, module.Engine()) << dlerror();
    if (module.Engine() == nullptr || !module.ReloadTable()) {
        ADD_FAILURE() << "the Delvar module or its disk table is not usable";
        return result;
    }
    FAKE_CORRAND_STATE* pStore = delvartest::FakeStore();
    EXPECT_NE(nullptr, pStore);
    if (pStore == nullptr)
        return result;
    pStore->Clear();
    const rvdtest::SCAN_RECORDS records = rvdtest::VolumeScanRecords(
        rvdtest::ReadFileBytes(strImage).size() / kSector, dwFileSystem, ullStart, ullCount);
    EXPECT_EQ(0, module.Engine()->Init(&records.Disk, &records.Volume, 0, 0));
    result.nStatus = module.Engine()->Search();
    int32_t anStatus[2];
    module.Engine()->GetProgress(&result.Progress, anStatus);
    result.Trees = pStore->Trees;
    result.Partitions = pStore->Partitions;
    pStore->Clear();
    return result;
}

// ----- checking a tree against a manifest ----------------------------------------------------------

// A tree the builder returned, seen as the fake store sees one (pre-order, the root first).
inline FAKE_TREE TreeOf(CFileSystemNode* pRoot)
{
    FAKE_TREE tree;
    if (pRoot == nullptr)
        return tree;
    tree.strDescription = pRoot->GetDescription() != nullptr ? pRoot->GetDescription() : "";
    tree.nFileSystemKind = pRoot->GetFileSystemKind();
    pRoot->GetPartitionInfo(&tree.ullStartSector, &tree.nSecondValue);
    std::vector<std::pair<CFileNode*, int64_t>> stack = {{pRoot, -1}};
    while (!stack.empty()) {
        CFileNode* pNode = stack.back().first;
        const int64_t nParent = stack.back().second;
        stack.pop_back();
        FAKE_TREE_NODE node;
        IFileProperties* pProps = pNode->GetProperties();
        node.strName = pProps != nullptr && pProps->GetName() != nullptr ? pProps->GetName() : "";
        node.nParent = nParent;
        node.pProperties = pProps;
        node.nAttributes = pProps != nullptr ? pProps->GetAttributes() : 0;
        if (pProps != nullptr) {
            node.ullSize = pProps->GetSize();
            node.nStatus = pProps->GetStatus();
            node.nPropertiesKind = pProps->GetPropertiesKind();
            FILETIME ft{0};
            pProps->GetModificationTime(&ft);
            node.ullModificationTime = ft.qwTicks;
            if (IDataRunList* pRuns = pProps->GetDataRunList()) {
                node.nRunListType = pRuns->GetType();
                for (size_t i = 0; i < pRuns->GetRunCount(); ++i)
                    node.Runs.emplace_back(pRuns->GetRun(i).ullStart, pRuns->GetRun(i).ullLength);
                delete pRuns;
            }
        }
        tree.Nodes.push_back(node);
        const int64_t nSelf = static_cast<int64_t>(tree.Nodes.size() - 1);
        std::vector<CFileNode*> children;
        for (CFileNode* pChild = pNode->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling())
            children.push_back(pChild);
        for (size_t i = children.size(); i-- > 0;)
            stack.push_back({children[i], nSelf});
    }
    return tree;
}

// Paths of a stored tree below its root ("Documents/x.txt"), node index by path.
inline std::map<std::string, size_t> TreePaths(const FAKE_TREE& tree)
{
    std::map<std::string, size_t> paths;
    for (size_t i = 1; i < tree.Nodes.size(); ++i) {
        const std::string strFull = FakeNodePath(tree, i);
        paths[strFull.substr(strFull.find('/') + 1)] = i;
    }
    return paths;
}

// The node of a manifest path: the path itself, or, for an entry without a long name, its 8.3
// name, whose first character is '#' when the entry was deleted (the first character is gone on
// disk). The name is tried as written (a lower-case short name is kept through the case flags)
// and in upper case.
inline const FAKE_TREE_NODE* FindManifestNode(const FAKE_TREE& tree, const std::map<std::string, size_t>& paths,
                                              const std::string& strManifestPath, std::string* pstrFound = nullptr)
{
    const std::string strPath = strManifestPath.substr(1);
    auto it = paths.find(strPath);
    const size_t nSlash = strPath.rfind('/');
    const size_t nFirst = nSlash == std::string::npos ? 0 : nSlash + 1;
    if (it == paths.end() && nFirst < strPath.size()) {
        std::string strDeleted = strPath;
        strDeleted[nFirst] = '#';
        it = paths.find(strDeleted);
    }
    if (it == paths.end() && nFirst < strPath.size()) {
        std::string strShort = strPath;
        for (size_t i = nFirst; i < strShort.size(); ++i)
            if (strShort[i] >= 'a' && strShort[i] <= 'z')
                strShort[i] = static_cast<char>(strShort[i] - 'a' + 'A');
        it = paths.find(strShort);
        if (it == paths.end()) {
            strShort[nFirst] = '#';
            it = paths.find(strShort);
        }
    }
    if (it == paths.end())
        return nullptr;
    if (pstrFound != nullptr)
        *pstrFound = it->first;
    return &tree.Nodes[it->second];
}

// Bytes of a file through a device: runs are data-area cluster indexes, cluster 2 at
// ullCluster2 (sectors of the volume, which starts at ullVolumeStart of the device).
inline std::vector<uint8_t> ReadRuns(IStorageDevice& device, uint64_t ullVolumeStart, uint64_t ullCluster2,
                                     uint32_t nSectorsPerCluster, const std::vector<std::pair<uint64_t, uint64_t>>& runs,
                                     uint64_t ullSize)
{
    std::vector<uint8_t> bytes;
    for (const auto& run : runs) {
        std::vector<uint8_t> piece(run.second * nSectorsPerCluster * kSector);
        if (!piece.empty() &&
            !device.ReadSectors(piece.data(), ullVolumeStart + ullCluster2 + run.first * nSectorsPerCluster,
                                run.second * nSectorsPerCluster))
            return {};
        bytes.insert(bytes.end(), piece.begin(), piece.end());
    }
    if (bytes.size() < ullSize)
        return {};
    bytes.resize(ullSize);
    return bytes;
}

// Checks that a quick scan's "Deleted Files" tree holds exactly the deleted files of the
// manifest (and the folders leading to them), with their names, sizes and times, and that the
// runs of every recoverable one give back its bytes. Returns the number of files recovered.
inline int CheckDeletedFilesTree(const FAKE_TREE& tree, const std::vector<rvdtest::ManifestEntry>& manifest,
                                 const std::string& strImage, uint64_t ullVolumeStart, const std::string& strContext)
{
    SCOPED_TRACE(strContext);
    const std::map<std::string, size_t> paths = TreePaths(tree);
    fstest::CImageDevice device(strImage);
    std::set<std::string> expected;
    int nRecovered = 0;
    for (const rvdtest::ManifestEntry& e : manifest) {
        if (!e.bDeleted)
            continue;
        std::string strFound;
        const FAKE_TREE_NODE* pNode = FindManifestNode(tree, paths, e.strPath, &strFound);
        if (e.bDirectory) {
            // A deleted folder appears when it holds deleted files (the fixtures' all do).
            if (pNode == nullptr)
                continue;
            expected.insert(strFound);
            EXPECT_NE(0, pNode->nAttributes & 0x10) << e.strPath;
            EXPECT_EQ(1, pNode->nStatus & 1) << e.strPath;
            EXPECT_EQ(FileTimeOf(e.nMtime), pNode->ullModificationTime) << e.strPath;
            continue;
        }
        if (pNode == nullptr) {
            ADD_FAILURE() << "deleted file not listed: " << e.strPath;
            continue;
        }
        expected.insert(strFound);
        EXPECT_EQ(1, pNode->nStatus) << e.strPath;
        EXPECT_EQ(1, pNode->nPropertiesKind) << e.strPath;
        EXPECT_EQ(e.nSize, pNode->ullSize) << e.strPath;
        EXPECT_EQ(FileTimeOf(e.nMtime), pNode->ullModificationTime) << e.strPath;
        EXPECT_FALSE(pNode->Runs.empty()) << e.strPath;
        if (!e.bRecoverable)
            continue;
        const std::vector<uint8_t> bytes = ReadRuns(device, ullVolumeStart, tree.ullStartSector,
                                                    static_cast<uint32_t>(tree.nSecondValue), pNode->Runs, e.nSize);
        EXPECT_EQ(e.strSha256, fstest::Sha256Hex(bytes.data(), bytes.size())) << e.strPath;
        ++nRecovered;
    }
    // Nothing else: every file of the tree is a deleted file of the manifest, and every folder
    // leads to one.
    for (const auto& p : paths) {
        const FAKE_TREE_NODE& node = tree.Nodes[p.second];
        if (node.nAttributes & 0x10)
            continue;
        EXPECT_EQ(1u, expected.count(p.first)) << "unexpected file in the tree: " << p.first;
    }
    return nRecovered;
}

} // namespace fattest
