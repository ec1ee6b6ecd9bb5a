// The FAT tree builder driven directly: the complete build from a directory-sector map made the
// way the sector scan makes it (every sector of the data area classified), its lost folders,
// lost clusters and directory fixing, the cluster-use bitmap it hands to the carving, the
// quick build's refusals and damaged chains, and cancellation.
#include <gtest/gtest.h>

#include <regex>

#include "ClusterUseBitMap.h"
#include "fat/FATDirSectorInfo.h"
#include "FATReaderTestSupport.h"
#include "FileTypeStore.h"
#include "MemoryDataStream.h"
#include "Pubic.h"
#include "fat/FATFileProperties.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "fat/FATTreeBuilder.h"

namespace {

using namespace fattest;

// Every directory sector of the data area, as the FAT search controller records them: the
// first sector of a directory with its "." and ".." clusters, the others without.
CFATDirSectorMap ScanDirectorySectors(fstest::CImageDevice& device, const FAT_LAYOUT& layout)
{
    CFATDirSectorMap map;
    const uint64_t ullEnd = layout.ullStart + layout.ullTotal;
    std::vector<uint8_t> block(1024 * kSector);
    for (uint64_t s = layout.ullCluster2; s < ullEnd; s += 1024) {
        const uint64_t n = std::min<uint64_t>(1024, ullEnd - s);
        device.ReadSectors(block.data(), s, n);
        for (uint64_t i = 0; i < n; ++i) {
            const uint8_t* p = block.data() + i * kSector;
            CFATDirSectorInfo info;
            if (p[0] == 0 || !info.Classify(p, kSector))
                continue;
            FAT_DIR_SECTOR record;
            record.ullSector = s + i;
            const bool bFirst = info.m_nKind == FAT_DIR_SECTOR_FIRST;
            record.nDotCluster = bFirst ? info.m_nDotCluster : FAT_DIR_SECTOR_NO_CLUSTER;
            record.nDotDotCluster = bFirst ? info.m_nDotDotCluster : FAT_DIR_SECTOR_NO_CLUSTER;
            map.emplace(record.ullSector, record);
        }
    }
    return map;
}

// A candidate as the controller makes it from a boot sector (flags give the evidence).
CFATSearchedPartitionInfo* Candidate(const FAT_LAYOUT& layout, uint32_t nFlags)
{
    CFATSearchedPartitionInfo* pInfo = CreateFATSearchedPartitionInfo();
    pInfo->m_nFileSystemKind = layout.nType;
    pInfo->m_bySectorsPerCluster = static_cast<uint8_t>(layout.nSectorsPerCluster);
    pInfo->m_ullEvidenceSector = layout.ullCluster2;
    pInfo->m_ullStartSector = layout.ullStart;
    pInfo->m_ullSectorCount = layout.ullTotal;
    pInfo->m_wReservedSectors = static_cast<uint16_t>(layout.ullFAT1 - layout.ullStart);
    pInfo->m_nSectorsPerFAT = layout.nSectorsPerFAT;
    pInfo->m_nRootInfo = layout.nType == 2 ? layout.nRootCluster : layout.nRootSectors;
    pInfo->AddFlags(nFlags);
    return pInfo;
}

const uint32_t kBothFATs = FAT_EVIDENCE_FAT1_SEEN | FAT_EVIDENCE_FAT1_USABLE | FAT_EVIDENCE_FAT2_SEEN |
                           FAT_EVIDENCE_FAT2_USABLE;

uint32_t BootFlag(int nType)
{
    return nType == 0 ? FAT_EVIDENCE_BOOT_FAT12 : nType == 1 ? FAT_EVIDENCE_BOOT_FAT16 : FAT_EVIDENCE_BOOT_FAT32;
}

// The quick build of the volume on the device, as the engine runs it (nType 2: FAT32, else
// FAT12/16); null when it builds no tree.
CFileSystemNode* QuickBuild(IStorageDevice* pDevice, int nType)
{
    CFATTreeBuilder builder;
    CFATSearchedPartitionInfo* pInfo = CreateFATSearchedPartitionInfo();
    pInfo->AddFlags(nType == 2 ? FAT_QUICK_SCAN_FLAGS_FAT32 : FAT_QUICK_SCAN_FLAGS_FAT12_16);
    CFileSystemNode* pRoot = builder.BuildTree(0, pInfo, pDevice, 0);
    DeleteFATSearchedPartitionInfo(pInfo);
    return pRoot;
}

// Lays both FATs of the changed image bytes over the device's sectors.
void PatchFATs(fstest::CImageDevice& device, const std::vector<uint8_t>& image, const FAT_LAYOUT& layout)
{
    for (uint64_t s = layout.ullFAT1; s < layout.ullFAT1 + 2 * layout.nSectorsPerFAT; ++s)
        device.Patch(s, std::vector<uint8_t>(image.begin() + s * kSector, image.begin() + (s + 1) * kSector));
}

// A builder whose carving step records what the cluster-use bitmap answers.
class CRecordingBuilder : public CFATTreeBuilder {
public:
    std::vector<uint64_t> Sectors;
    std::vector<bool> Answers;
    int nCalls = 0;

protected:
    CFileSystemNode* BuildRawFileTree(int32_t, CRawFileInfoContainer*, IStorageDevice*, IIsClusterUsed* pUse) override
    {
        ++nCalls;
        for (uint64_t s : Sectors)
            Answers.push_back(pUse->IsClusterUsed(s));
        return nullptr;
    }
};

class FatTreeBuilder : public ::testing::Test {
protected:
    delvartest::CScopedSettings m_Settings;
    rvdtest::CTempDir m_Dir;

    void SetUp() override { m_Settings->m_bScanRaw = 0; }

    static FAT_LAYOUT Layout(const char* pszImage, int nType)
    {
        const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath(pszImage));
        return ReadLayout(image.data(), 0, nType);
    }

    // Paths whose first name is a made-up "DIR<n>" folder, by the rest of the path.
    static std::map<std::string, size_t> PathsUnderTemporaryFolders(const FAKE_TREE& tree, const std::string& strPrefix)
    {
        static const std::regex kTemporary("DIR[0-9]+");
        std::map<std::string, size_t> paths;
        for (const auto& p : TreePaths(tree)) {
            if (p.first.compare(0, strPrefix.size(), strPrefix) != 0)
                continue;
            const std::string strRest = p.first.substr(strPrefix.size());
            const size_t nSlash = strRest.find('/');
            if (nSlash != std::string::npos && std::regex_match(strRest.substr(0, nSlash), kTemporary))
                paths[strRest.substr(nSlash + 1)] = p.second;
        }
        return paths;
    }
};

// With the boot sector known the complete build lists every file and folder of the volume, live
// and deleted, under the names, sizes and times of the manifest; live files' chains give back
// their bytes (the fragmented live file included), and so do the recoverable deleted files.
TEST_F(FatTreeBuilder, CompleteBuildListsEveryFileOfTheVolume)
{
    const struct {
        const char* pszImage;
        int nType;
        const char* pszRoot;
        uint32_t nFATFlags;
    } cases[] = {{"fat12.img", 0, "3 FAT12", kBothFATs},
                 {"fat16.img", 1, "3 FAT16", kBothFATs},
                 {"fat32.img", 2, "3 FAT32", kBothFATs},
                 // Media byte 0xF0 and the FAT of a volume not cleanly unmounted: its chains count.
                 {"fat32-dirty.img", 2, "3 FAT32", kBothFATs},
                 // The root folder right after the only FAT, where a second one would lie.
                 {"fat16-one-fat.img", 1, "3 FAT16", FAT_EVIDENCE_FAT1_SEEN | FAT_EVIDENCE_FAT1_USABLE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszImage);
        fstest::CImageDevice device(rvdtest::FixturePath(c.pszImage));
        const FAT_LAYOUT layout = Layout(c.pszImage, c.nType);
        const CFATDirSectorMap dirSectors = ScanDirectorySectors(device, layout);
        CFATSearchedPartitionInfo* pInfo = Candidate(layout, BootFlag(c.nType) | FAT_EVIDENCE_DIRECTORY | c.nFATFlags);
        CFATTreeBuilder builder;
        CFileSystemNode* pRoot = builder.BuildTreeFromSearch(0, dirSectors, pInfo, nullptr, &device, 2);
        DeleteFATSearchedPartitionInfo(pInfo);
        ASSERT_NE(nullptr, pRoot);
        const FAKE_TREE tree = TreeOf(pRoot);
        EXPECT_EQ(c.pszRoot, tree.Nodes[0].strName);
        EXPECT_EQ(c.nType, tree.nFileSystemKind);
        EXPECT_EQ(layout.ullCluster2, tree.ullStartSector);
        EXPECT_EQ(layout.strLabel, tree.strDescription);
        const std::map<std::string, size_t> paths = TreePaths(tree);
        // Nothing was lost, so "Lost Folders" was pruned.
        EXPECT_EQ(0u, paths.count("Lost Folders"));
        int nFiles = 0;
        for (const rvdtest::ManifestEntry& e : rvdtest::ReadManifest(c.pszImage)) {
            const FAKE_TREE_NODE* pNode = FindManifestNode(tree, paths, e.strPath);
            if (e.strPath == "/empty.txt") {
                // Its first cluster 0 is the root's own: an entry naming its folder's cluster is
                // not listed.
                EXPECT_EQ(nullptr, pNode);
                continue;
            }
            ASSERT_NE(nullptr, pNode) << e.strPath;
            EXPECT_EQ(e.bDeleted ? 1 : 0, pNode->nStatus & 1) << e.strPath;
            EXPECT_EQ(FileTimeOf(e.nMtime), pNode->ullModificationTime) << e.strPath;
            if (e.bDirectory) {
                EXPECT_NE(0, pNode->nAttributes & 0x10) << e.strPath;
                continue;
            }
            EXPECT_EQ(e.nSize, pNode->ullSize) << e.strPath;
            if (!e.bDeleted || e.bRecoverable) {
                const std::vector<uint8_t> bytes =
                    ReadRuns(device, 0, layout.ullCluster2, layout.nSectorsPerCluster, pNode->Runs, e.nSize);
                EXPECT_EQ(e.strSha256, fstest::Sha256Hex(bytes.data(), bytes.size())) << e.strPath;
                ++nFiles;
            }
        }
        EXPECT_GT(nFiles, 50);
        DeleteFileTree(pRoot);
    }
}

// The bitmap handed to the carving marks the clusters of every file whose chain was followed
// and counts everything outside the data area as used.
TEST_F(FatTreeBuilder, CompleteBuildHandsTheCarvingAClusterUseBitmap)
{
    fstest::CImageDevice device(rvdtest::FixturePath("fat16.img"));
    const FAT_LAYOUT layout = Layout("fat16.img", 1);
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("fat16.img"));
    const uint8_t* pBig = FindEntry(const_cast<uint8_t*>(image.data()), layout, 0, "IGFIL~1BIN");
    ASSERT_NE(nullptr, pBig);
    const std::vector<uint32_t> big = Chain(image.data(), layout, EntryCluster(pBig));
    const uint64_t ullClusters = (layout.ullTotal - layout.ullCluster2) / layout.nSectorsPerCluster;
    const uint32_t nLastCluster = static_cast<uint32_t>(ullClusters + 1);
    ASSERT_EQ(0u, FatEntry(image.data(), layout, nLastCluster)) << "the last cluster is expected free";

    CRecordingBuilder builder;
    builder.Sectors = {layout.ClusterSector(big.front()), layout.ClusterSector(big.back()) + 3,
                       layout.ClusterSector(nLastCluster), layout.ullCluster2 - 1, layout.ullTotal + 100};
    const CFATDirSectorMap dirSectors = ScanDirectorySectors(device, layout);
    CFATSearchedPartitionInfo* pInfo = Candidate(layout, FAT_EVIDENCE_BOOT_FAT16 | kBothFATs);

    // Without carving the carving's builder is not asked.
    CFileSystemNode* pRoot = builder.BuildTreeFromSearch(0, dirSectors, pInfo, nullptr, &device, 0);
    ASSERT_NE(nullptr, pRoot);
    DeleteFileTree(pRoot);
    EXPECT_EQ(0, builder.nCalls);

    m_Settings->m_bScanRaw = 1;
    pRoot = builder.BuildTreeFromSearch(0, dirSectors, pInfo, nullptr, &device, 0);
    ASSERT_NE(nullptr, pRoot);
    DeleteFileTree(pRoot);
    DeleteFATSearchedPartitionInfo(pInfo);
    ASSERT_EQ(1, builder.nCalls);
    EXPECT_EQ((std::vector<bool>{true, true, false, true, true}), builder.Answers);
}

// Without a boot sector the root is unknown: the folders of the root appear under made-up names
// through their own directory sectors, with their contents under the real names; the root's
// own files are not found.
TEST_F(FatTreeBuilder, CompleteBuildWithoutABootSector)
{
    fstest::CImageDevice device(rvdtest::FixturePath("fat16.img"));
    const FAT_LAYOUT layout = Layout("fat16.img", 1);
    CFATSearchedPartitionInfo* pInfo = Candidate(layout, FAT_EVIDENCE_DIRECTORY | kBothFATs);
    CFATTreeBuilder builder;
    CFileSystemNode* pRoot = builder.BuildTreeFromSearch(0, ScanDirectorySectors(device, layout), pInfo, nullptr,
                                                         &device, 0);
    DeleteFATSearchedPartitionInfo(pInfo);
    ASSERT_NE(nullptr, pRoot);
    const FAKE_TREE tree = TreeOf(pRoot);
    const std::map<std::string, size_t> underTemporary = PathsUnderTemporaryFolders(tree, "");
    for (const rvdtest::ManifestEntry& e : rvdtest::ReadManifest("fat16.img")) {
        const std::string strRest = e.strPath.substr(e.strPath.find('/', 1) == std::string::npos ? e.strPath.size()
                                                                                                 : e.strPath.find('/', 1));
        const FAKE_TREE_NODE* pNode = strRest.empty() ? nullptr : FindManifestNode(tree, underTemporary, strRest);
        if (e.vecNames.size() == 1) {
            EXPECT_EQ(nullptr, FindManifestNode(tree, TreePaths(tree), e.strPath)) << e.strPath;
            continue;
        }
        ASSERT_NE(nullptr, pNode) << e.strPath;
        EXPECT_EQ(e.nSize, e.bDirectory ? e.nSize : pNode->ullSize) << e.strPath;
        // Everything inside a made-up folder counts as deleted.
        EXPECT_EQ(FAT_STATUS_DELETED, pNode->nStatus & FAT_STATUS_DELETED) << e.strPath;
    }
    DeleteFileTree(pRoot);
}

// A folder whose parent's directory sectors were not found goes to "Lost Folders"; directory
// clusters no chain reached are read as lost clusters under "Lost Folders" too.
TEST_F(FatTreeBuilder, CompleteBuildLostFoldersAndLostClusters)
{
    fstest::CImageDevice device(rvdtest::FixturePath("fat16.img"));
    const FAT_LAYOUT layout = Layout("fat16.img", 1);
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("fat16.img"));
    uint8_t* pImage = const_cast<uint8_t*>(image.data());
    const uint32_t nDocuments = EntryCluster(FindEntry(pImage, layout, 0, "OCUME~1   "));
    const uint32_t nMany = EntryCluster(FindEntry(pImage, layout, 0, "ANYFI~1   "));
    ASSERT_GT(Chain(image.data(), layout, nMany).size(), 1u);

    CFATDirSectorMap dirSectors = ScanDirectorySectors(device, layout);
    ASSERT_EQ(1u, dirSectors.erase(layout.ClusterSector(nDocuments)));
    ASSERT_EQ(1u, dirSectors.erase(layout.ClusterSector(nMany)));
    {
        // Root unknown: "Letters" names the lost "Documents" as its parent.
        CFATSearchedPartitionInfo* pInfo = Candidate(layout, FAT_EVIDENCE_DIRECTORY | kBothFATs);
        CFATTreeBuilder builder;
        CFileSystemNode* pRoot = builder.BuildTreeFromSearch(0, dirSectors, pInfo, nullptr, &device, 0);
        DeleteFATSearchedPartitionInfo(pInfo);
        ASSERT_NE(nullptr, pRoot);
        const FAKE_TREE tree = TreeOf(pRoot);
        const std::map<std::string, size_t> lost = PathsUnderTemporaryFolders(tree, "Lost Folders/");
        for (const char* pszPath : {"/letter to the bank.txt", "/Archive 2019/Deep Folder/leaf note.txt"})
            EXPECT_NE(nullptr, FindManifestNode(tree, lost, pszPath)) << pszPath;
        DeleteFileTree(pRoot);
    }
    {
        // Root known: "Many Files" is known by its entry, but its first directory sector was not
        // found; its later clusters are read as lost clusters.
        CFATSearchedPartitionInfo* pInfo = Candidate(layout, FAT_EVIDENCE_BOOT_FAT16 | kBothFATs);
        CFATTreeBuilder builder;
        CFileSystemNode* pRoot = builder.BuildTreeFromSearch(0, dirSectors, pInfo, nullptr, &device, 0);
        DeleteFATSearchedPartitionInfo(pInfo);
        ASSERT_NE(nullptr, pRoot);
        const FAKE_TREE tree = TreeOf(pRoot);
        const std::map<std::string, size_t> lost = PathsUnderTemporaryFolders(tree, "Lost Folders/");
        for (const char* pszName : {"/Entry number 23 of many.txt", "/Entry number 30 of many.txt"}) {
            const FAKE_TREE_NODE* pNode = FindManifestNode(tree, lost, pszName);
            ASSERT_NE(nullptr, pNode) << pszName;
            EXPECT_EQ(FAT_STATUS_DELETED, pNode->nStatus) << pszName;
        }
        // "Letters", read from its own directory sectors under a made-up name, is linked under
        // "Documents", known by its entry in the root.
        EXPECT_NE(nullptr, FindManifestNode(tree, PathsUnderTemporaryFolders(tree, "Documents/"),
                                            "/letter to the bank.txt"));
        DeleteFileTree(pRoot);
    }
}

// A deleted folder whose entry names a wrong first cluster (its high word damaged) finds
// nothing there; the folder read from its own directory sectors takes its name.
TEST_F(FatTreeBuilder, CompleteBuildGivesAnEmptyDeletedFolderTheContentsOfItsDirectory)
{
    fstest::CImageDevice device(rvdtest::FixturePath("fat32.img"));
    const FAT_LAYOUT layout = Layout("fat32.img", 2);
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("fat32.img"));
    uint8_t* pEntry = FindEntry(image.data(), layout, 0, "LDPRO~1   ");
    ASSERT_NE(nullptr, pEntry);
    const uint32_t nOld = EntryCluster(pEntry);
    ASSERT_LT(nOld + 0x10000u, (layout.ullTotal - layout.ullCluster2) / layout.nSectorsPerCluster);
    PutLe16(pEntry + 20, 1);
    const uint64_t ullSector = static_cast<uint64_t>(pEntry - image.data()) / kSector;
    device.Patch(ullSector, std::vector<uint8_t>(image.begin() + ullSector * kSector,
                                                 image.begin() + (ullSector + 1) * kSector));

    CFATSearchedPartitionInfo* pInfo = Candidate(layout, FAT_EVIDENCE_BOOT_FAT32 | kBothFATs);
    CFATTreeBuilder builder;
    CFileSystemNode* pRoot =
        builder.BuildTreeFromSearch(0, ScanDirectorySectors(device, layout), pInfo, nullptr, &device, 0);
    DeleteFATSearchedPartitionInfo(pInfo);
    ASSERT_NE(nullptr, pRoot);
    const FAKE_TREE tree = TreeOf(pRoot);
    const std::map<std::string, size_t> paths = TreePaths(tree);
    const FAKE_TREE_NODE* pFolder = FindManifestNode(tree, paths, "/Old Projects");
    ASSERT_NE(nullptr, pFolder);
    EXPECT_EQ(nOld, static_cast<CFATFileProperties*>(const_cast<IFileProperties*>(pFolder->pProperties))->GetFirstCluster());
    EXPECT_NE(nullptr, FindManifestNode(tree, paths, "/Old Projects/Project plan.txt"));
    EXPECT_NE(nullptr, FindManifestNode(tree, paths, "/Old Projects/Sub Folder/budget sheet.xls"));
    // The made-up folder that held them is gone.
    EXPECT_TRUE(PathsUnderTemporaryFolders(tree, "").empty());
    DeleteFileTree(pRoot);
}

// The quick build refuses a boot sector the checks reject, with the reader's error in the
// progress record.
TEST_F(FatTreeBuilder, QuickBuildWithoutAUsableBootSector)
{
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("fat12.img"));
    fstest::CImageDevice device(rvdtest::FixturePath("fat12.img"));
    // A FAT12 root-entry count that is not a multiple of 16 is not a FAT12 boot sector.
    PutLe16(image.data() + 17, 220);
    device.Patch(0, std::vector<uint8_t>(image.begin(), image.begin() + kSector));
    SEARCH_PROGRESS progress{};
    CANCEL_FLAG nCancel(0);
    CFATTreeBuilder builder;
    builder.SetProgress(&progress, &nCancel);
    CFATSearchedPartitionInfo* pInfo = CreateFATSearchedPartitionInfo();
    pInfo->AddFlags(FAT_QUICK_SCAN_FLAGS_FAT12_16);
    EXPECT_EQ(nullptr, builder.BuildTree(0, pInfo, &device, 0));
    EXPECT_EQ(FAT_BUILD_ERROR_NO_BOOT_SECTOR, progress.dwStatus);
    EXPECT_EQ(100u, progress.dwPercent);
    // The FAT32 flags do not look at a FAT16 volume's sector 6 (its backup is FAT32's only).
    fstest::CImageDevice fat16(rvdtest::FixturePath("fat16.img"));
    fat16.Patch(0, std::vector<uint8_t>(kSector, 0));
    EXPECT_EQ(nullptr, builder.BuildTree(0, pInfo, &fat16, 0));
    DeleteFATSearchedPartitionInfo(pInfo);
}

// A file chain that loops (FAT12 copies are not checked for loops) and claims an absurd size
// ends; whatever runs a listed file gets lie inside the volume.
TEST_F(FatTreeBuilder, QuickBuildLoopingFileChain)
{
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("fat12.img"));
    const FAT_LAYOUT layout = ReadLayout(image.data(), 0, 0);
    uint8_t* pBig = FindEntry(image.data(), layout, 0, "IGFIL~1BIN");
    ASSERT_NE(nullptr, pBig);
    const std::vector<uint32_t> big = Chain(image.data(), layout, EntryCluster(pBig));
    ASSERT_GT(big.size(), 3u);
    fstest::CImageDevice device(rvdtest::FixturePath("fat12.img"));
    for (uint32_t nSize : {300000u, 0xFFFFFF00u}) {
        for (int n = 0; n < 2; ++n)
            SetFatEntry(image.data(), layout, big[2], big[0], n);
        PutLe16(pBig + 28, static_cast<uint16_t>(nSize));
        PutLe16(pBig + 30, static_cast<uint16_t>(nSize >> 16));
        for (uint64_t s = 0; s < layout.ullCluster2; ++s)
            device.Patch(s, std::vector<uint8_t>(image.begin() + s * kSector, image.begin() + (s + 1) * kSector));
        CFATTreeBuilder builder;
        CFATSearchedPartitionInfo* pInfo = CreateFATSearchedPartitionInfo();
        pInfo->AddFlags(FAT_QUICK_SCAN_FLAGS_FAT12_16);
        CFileSystemNode* pRoot = builder.BuildTree(0, pInfo, &device, 1);
        DeleteFATSearchedPartitionInfo(pInfo);
        ASSERT_NE(nullptr, pRoot);
        const FAKE_TREE tree = TreeOf(pRoot);
        const uint64_t ullClusters = (layout.ullTotal - layout.ullCluster2) / layout.nSectorsPerCluster;
        for (const FAKE_TREE_NODE& node : tree.Nodes)
            for (const auto& run : node.Runs)
                EXPECT_LE(run.first + run.second, ullClusters) << node.strName;
        // With the real size the loop gives the file its first three clusters again and again
        // until its size is reached; with the absurd one the file cannot be placed and is left out.
        const std::map<std::string, size_t> paths = TreePaths(tree);
        auto it = paths.find("Big File.bin");
        if (nSize == 300000u) {
            ASSERT_NE(paths.end(), it);
            const auto& runs = tree.Nodes[it->second].Runs;
            ASSERT_FALSE(runs.empty());
            EXPECT_EQ(std::make_pair(uint64_t(big[0] - 2), uint64_t(3)), runs.front());
        } else {
            EXPECT_EQ(paths.end(), it);
        }
        DeleteFileTree(pRoot);
    }
}

// A deleted file's data is taken from the free clusters from its first cluster upwards, passing
// over every cluster whose entry is not free: one that ends a chain, a bad one, or a link of a
// longer chain (a live file took them), whatever width the FAT has and whichever mark it holds.
// The first cluster is passed over the same way when a later file took it: what comes back then
// starts with the free clusters after it, never with the other file's bytes.
TEST_F(FatTreeBuilder, DeletedFilePassesOverClustersInUse)
{
    // The first cluster's entry links it to the cluster after it (a live file starts there).
    const uint32_t kLink = 1;
    const struct {
        const char* pszImage;
        int nType;
        uint32_t nMark;     // the entry of the last cluster passed over
        uint32_t nSkipped;  // clusters in use right after the first one
        uint32_t nFirst;    // the first cluster's own entry: 0 free, kLink, or a mark
    } cases[] = {{"fat12.img", 0, 0xFFF, 1, 0},         {"fat12.img", 0, 0xFF7, 2, 0},
                 {"fat16.img", 1, 0xFFFF, 1, 0},        {"fat16.img", 1, 0xFFF8, 1, 0},
                 {"fat16.img", 1, 0xFFF7, 1, 0},        {"fat16.img", 1, 0xFFFF, 2, 0},
                 {"fat32.img", 2, 0x0FFFFFFF, 1, 0},    {"fat32.img", 2, 0x0FFFFFF8, 1, 0},
                 {"fat32.img", 2, 0xFFFFFFFF, 1, 0},    {"fat32.img", 2, 0x0FFFFFF7, 1, 0},
                 // The first cluster in use: by a chain going on, ending there, or marked bad.
                 {"fat12.img", 0, 0xFFF, 1, kLink},     {"fat12.img", 0, 0xFF7, 0, 0xFF7},
                 {"fat16.img", 1, 0xFFFF, 1, 0xFFFF},   {"fat16.img", 1, 0xFFFF, 2, kLink},
                 {"fat16.img", 1, 0xFFF8, 0, 0xFFF8},   {"fat16.img", 1, 0xFFF7, 0, 0xFFF7},
                 {"fat32.img", 2, 0x0FFFFFFF, 3, 0x0FFFFFFF}, {"fat32.img", 2, 0x0FFFFFFF, 1, kLink},
                 {"fat32.img", 2, 0xFFFFFFFF, 0, 0xFFFFFFFF}, {"fat32.img", 2, 0x0FFFFFF7, 0, 0x0FFFFFF7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pszImage) + " " + std::to_string(c.nMark) + " skipped " +
                     std::to_string(c.nSkipped) + " first " + std::to_string(c.nFirst));
        std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath(c.pszImage));
        const FAT_LAYOUT layout = ReadLayout(image.data(), 0, c.nType);
        const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest(c.pszImage);
        const rvdtest::ManifestEntry* pDraft = rvdtest::FindManifestEntry(manifest, "/Documents/Deleted Report Draft.doc");
        ASSERT_NE(nullptr, pDraft);
        ASSERT_TRUE(pDraft->bRecoverable);
        const uint32_t nFirst = static_cast<uint32_t>(pDraft->nId);
        const uint64_t ullClusterBytes = layout.nSectorsPerCluster * kSector;
        const uint64_t ullClusters = (pDraft->nSize + ullClusterBytes - 1) / ullClusterBytes;
        const bool bFirstInUse = c.nFirst != 0;
        // The clusters the walk takes, and those it passes over, are free in the fixture.
        for (uint64_t n = nFirst; n < nFirst + c.nSkipped + ullClusters + (bFirstInUse ? 1 : 0); ++n)
            ASSERT_EQ(0u, FatEntry(image.data(), layout, static_cast<uint32_t>(n))) << n;
        for (int n = 0; n < 2; ++n) {
            for (uint32_t k = 1; k < c.nSkipped; ++k)
                SetFatEntry(image.data(), layout, nFirst + k, nFirst + k + 1, n);
            if (c.nSkipped > 0)
                SetFatEntry(image.data(), layout, nFirst + c.nSkipped, c.nMark, n);
            if (bFirstInUse)
                SetFatEntry(image.data(), layout, nFirst, c.nFirst == kLink ? nFirst + 1 : c.nFirst, n);
        }
        fstest::CImageDevice device(rvdtest::FixturePath(c.pszImage));
        PatchFATs(device, image, layout);
        CFileSystemNode* pRoot = QuickBuild(&device, c.nType);
        ASSERT_NE(nullptr, pRoot);
        const FAKE_TREE tree = TreeOf(pRoot);
        const FAKE_TREE_NODE* pNode = FindManifestNode(tree, TreePaths(tree), pDraft->strPath);
        ASSERT_NE(nullptr, pNode);
        // Runs count clusters from cluster 2.
        const uint64_t ullAfter = nFirst - 1 + c.nSkipped;
        const std::vector<std::pair<uint64_t, uint64_t>> expected =
            bFirstInUse ? std::vector<std::pair<uint64_t, uint64_t>>{{ullAfter, ullClusters}}
                        : std::vector<std::pair<uint64_t, uint64_t>>{{nFirst - 2, 1}, {ullAfter, ullClusters - 1}};
        EXPECT_EQ(expected, pNode->Runs);
        DeleteFileTree(pRoot);
    }
}

// The walks pass thousands of clusters in use (a whole block of the 4,096 they pass at once),
// started from the first cluster or from inside the stretch, and all go on at the first free
// cluster after it, the first of a block: every free cluster of fat32.img from the report draft's
// second cluster up to index 8,192 is marked bad, which also takes the first clusters of the
// deleted files that lie there.
TEST_F(FatTreeBuilder, DeletedFileWalksPassLongStretchesInUse)
{
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("fat32.img"));
    const FAT_LAYOUT layout = ReadLayout(image.data(), 0, 2);
    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest("fat32.img");
    const rvdtest::ManifestEntry* pDraft = rvdtest::FindManifestEntry(manifest, "/Documents/Deleted Report Draft.doc");
    ASSERT_NE(nullptr, pDraft);
    const uint32_t nFirst = static_cast<uint32_t>(pDraft->nId);
    ASSERT_LT(nFirst + 1, 4096u + 2);
    const uint32_t nEnd = 8192 + 2;  // the first cluster after the stretch
    const uint64_t ullClusterBytes = layout.nSectorsPerCluster * kSector;
    for (uint32_t n = nEnd; n < nEnd + 100; ++n)
        ASSERT_EQ(0u, FatEntry(image.data(), layout, n)) << n;
    for (uint32_t n = nFirst + 1; n < nEnd; ++n)
        if (FatEntry(image.data(), layout, n) == 0)
            for (int nCopy = 0; nCopy < 2; ++nCopy)
                SetFatEntry(image.data(), layout, n, 0x0FFFFFF7, nCopy);
    fstest::CImageDevice device(rvdtest::FixturePath("fat32.img"));
    PatchFATs(device, image, layout);
    CFileSystemNode* pRoot = QuickBuild(&device, 2);
    ASSERT_NE(nullptr, pRoot);
    const FAKE_TREE tree = TreeOf(pRoot);
    const std::map<std::string, size_t> paths = TreePaths(tree);
    int nInside = 0;
    for (const rvdtest::ManifestEntry& e : manifest) {
        if (!e.bDeleted || e.bDirectory || e.nId < nFirst || e.nId >= nEnd)
            continue;
        SCOPED_TRACE(e.strPath);
        const FAKE_TREE_NODE* pNode = FindManifestNode(tree, paths, e.strPath);
        ASSERT_NE(nullptr, pNode);
        const uint64_t ullClusters = (e.nSize + ullClusterBytes - 1) / ullClusterBytes;
        // Runs count clusters from cluster 2; the draft's own first cluster is still free.
        const std::vector<std::pair<uint64_t, uint64_t>> expected =
            e.nId == nFirst ? std::vector<std::pair<uint64_t, uint64_t>>{{nFirst - 2, 1}, {nEnd - 2, ullClusters - 1}}
                            : std::vector<std::pair<uint64_t, uint64_t>>{{nEnd - 2, ullClusters}};
        EXPECT_EQ(expected, pNode->Runs);
        ++nInside;
    }
    EXPECT_GE(nInside, 5);
    DeleteFileTree(pRoot);
}

// fat12-reused.img: a deleted five-cluster text file whose first two clusters a later, live
// file took. Both builds give it back from its three clusters that are still free, where they
// lie, then the free clusters after the file behind it; none of the later file's bytes.
TEST_F(FatTreeBuilder, DeletedFileWhoseStartALaterFileTook)
{
    const char* const pszImage = "fat12-reused.img";
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath(pszImage));
    const FAT_LAYOUT layout = ReadLayout(image.data(), 0, 0);
    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest(pszImage);
    const rvdtest::ManifestEntry* pDeleted = rvdtest::FindManifestEntry(manifest, "/Start written over.txt");
    const rvdtest::ManifestEntry* pLater = rvdtest::FindManifestEntry(manifest, "/Written over the deleted start.txt");
    const rvdtest::ManifestEntry* pBehind = rvdtest::FindManifestEntry(manifest, "/Stays after.bin");
    ASSERT_TRUE(pDeleted != nullptr && pLater != nullptr && pBehind != nullptr);
    const uint64_t ullClusterBytes = layout.nSectorsPerCluster * kSector;
    ASSERT_EQ(4 * ullClusterBytes + 300, pDeleted->nSize);
    ASSERT_EQ(pDeleted->nId, pLater->nId);
    ASSERT_EQ(pDeleted->nId + 5, pBehind->nId);
    const uint64_t ullFirst = static_cast<uint64_t>(pDeleted->nId);

    // The file as it was written (the fixture's text: numbered lines that name the file).
    std::string strOriginal;
    for (int nLine = 0; strOriginal.size() < pDeleted->nSize; ++nLine) {
        char szLine[160];
        snprintf(szLine, sizeof(szLine), "%s - line %05d: the quick brown fox jumps over the lazy dog.\n",
                 pDeleted->strPath.c_str(), nLine);
        strOriginal += szLine;
    }
    strOriginal.resize(pDeleted->nSize);
    ASSERT_EQ(pDeleted->strSha256, fstest::Sha256Hex(reinterpret_cast<const uint8_t*>(strOriginal.data()),
                                                     strOriginal.size()));

    fstest::CImageDevice device(rvdtest::FixturePath(pszImage));
    for (bool bComplete : {false, true}) {
        SCOPED_TRACE(bComplete ? "complete build" : "quick build");
        CFATTreeBuilder builder;
        CFileSystemNode* pRoot = nullptr;
        if (bComplete) {
            CFATSearchedPartitionInfo* pInfo =
                Candidate(layout, FAT_EVIDENCE_BOOT_FAT12 | FAT_EVIDENCE_DIRECTORY | kBothFATs);
            pRoot = builder.BuildTreeFromSearch(0, ScanDirectorySectors(device, layout), pInfo, nullptr, &device, 0);
            DeleteFATSearchedPartitionInfo(pInfo);
        } else {
            pRoot = QuickBuild(&device, 0);
        }
        ASSERT_NE(nullptr, pRoot);
        const FAKE_TREE tree = TreeOf(pRoot);
        const FAKE_TREE_NODE* pNode = FindManifestNode(tree, TreePaths(tree), pDeleted->strPath);
        ASSERT_NE(nullptr, pNode);
        EXPECT_EQ(1, pNode->nStatus & 1);
        EXPECT_EQ(pDeleted->nSize, pNode->ullSize);
        // Runs count clusters from cluster 2: the file's own third to fifth clusters, then the two
        // free ones after the file behind it.
        const std::vector<std::pair<uint64_t, uint64_t>> expected = {{ullFirst, 3}, {ullFirst + 4, 2}};
        EXPECT_EQ(expected, pNode->Runs);
        const std::vector<uint8_t> bytes =
            ReadRuns(device, 0, layout.ullCluster2, layout.nSectorsPerCluster, pNode->Runs, pDeleted->nSize);
        ASSERT_EQ(pDeleted->nSize, bytes.size());
        const std::string strGot(bytes.begin(), bytes.end());
        const uint64_t ullSurviving = pDeleted->nSize - 2 * ullClusterBytes;
        EXPECT_TRUE(strGot.compare(0, ullSurviving, strOriginal, 2 * ullClusterBytes, ullSurviving) == 0)
            << "does not start with the file's third cluster: " << strGot.substr(0, 60);
        // Every line of the later file names it.
        EXPECT_EQ(std::string::npos, strGot.find(pLater->strPath.substr(1)));
        DeleteFileTree(pRoot);
    }
}

// A FAT whose every entry inside the volume is garbage (FAT12 copies are not checked for
// chains) gives a deleted file no free cluster: its walk ends at the volume's last cluster and
// the file is left out, though the table's own entries past the volume read as free.
TEST_F(FatTreeBuilder, DeletedFileWalkEndsAtTheVolumeEnd)
{
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("fat12.img"));
    const FAT_LAYOUT layout = ReadLayout(image.data(), 0, 0);
    const uint32_t nClusters = static_cast<uint32_t>((layout.ullTotal - layout.ullCluster2) / layout.nSectorsPerCluster);
    const uint32_t nEntries = layout.nSectorsPerFAT * kSector * 2 / 3;
    ASSERT_LT(nClusters + 2, nEntries);
    for (int n = 0; n < 2; ++n)
        for (uint32_t k = 2; k < nEntries; ++k)
            SetFatEntry(image.data(), layout, k, k < nClusters + 2 ? ((k * 2654435761u) >> 20) | 1 : 0, n);
    fstest::CImageDevice device(rvdtest::FixturePath("fat12.img"));
    PatchFATs(device, image, layout);
    CFileSystemNode* pRoot = QuickBuild(&device, 0);
    ASSERT_NE(nullptr, pRoot);
    const FAKE_TREE tree = TreeOf(pRoot);
    const std::map<std::string, size_t> paths = TreePaths(tree);
    // The root directory lies outside the clusters, so its deleted entries are read whatever
    // the FAT holds.
    for (const char* pszPath : {"/deleted note.txt", "/Deleted without truncation.bin"})
        EXPECT_EQ(nullptr, FindManifestNode(tree, paths, pszPath)) << pszPath;
    for (const FAKE_TREE_NODE& node : tree.Nodes)
        for (const auto& run : node.Runs)
            EXPECT_LE(run.first + run.second, nClusters) << node.strName;
    DeleteFileTree(pRoot);
}

// A directory read that fails gives no entries: the bytes of the stretch read before it are not
// taken for the directory's next cluster.
TEST_F(FatTreeBuilder, FailedDirectoryReadsAreNotParsedAgain)
{
    // Fails the reads of given sectors and leaves the caller's buffer as it was.
    class CFailingDevice : public fstest::CImageDevice {
    public:
        using CImageDevice::CImageDevice;
        std::set<uint64_t> Failing;
        int ReadSectors(void* p, uint64_t s, uint64_t n) override
        {
            for (uint64_t i = 0; i < n; ++i)
                if (Failing.count(s + i))
                    return 0;
            return CImageDevice::ReadSectors(p, s, n);
        }
    };
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("fat16.img"));
    const FAT_LAYOUT layout = ReadLayout(image.data(), 0, 1);
    const std::vector<uint32_t> many =
        Chain(image.data(), layout, EntryCluster(FindEntry(const_cast<uint8_t*>(image.data()), layout, 0, "ANYFI~1   ")));
    ASSERT_EQ(3u, many.size());
    ASSERT_NE(many[0] + 1, many[1]) << "the folder's clusters are expected apart, read one by one";
    CFailingDevice device(rvdtest::FixturePath("fat16.img"));
    for (uint32_t i = 0; i < layout.nSectorsPerCluster; ++i)
        device.Failing.insert(layout.ClusterSector(many[1]) + i);
    CFATTreeBuilder builder;
    CFATSearchedPartitionInfo* pInfo = CreateFATSearchedPartitionInfo();
    pInfo->AddFlags(FAT_QUICK_SCAN_FLAGS_FAT12_16);
    CFileSystemNode* pRoot = builder.BuildTree(0, pInfo, &device, 0);
    DeleteFATSearchedPartitionInfo(pInfo);
    ASSERT_NE(nullptr, pRoot);
    const FAKE_TREE tree = TreeOf(pRoot);
    int nSeven = 0, nTwentyThree = 0;
    for (const FAKE_TREE_NODE& node : tree.Nodes) {
        nSeven += node.strName == "Entry number 07 of many.txt";
        nTwentyThree += node.strName == "Entry number 23 of many.txt";
    }
    EXPECT_EQ(1, nSeven);
    EXPECT_EQ(0, nTwentyThree);
    DeleteFileTree(pRoot);
}

// A cancel before or during a build gives no tree.
TEST_F(FatTreeBuilder, CancelGivesNoTree)
{
    fstest::CImageDevice device(rvdtest::FixturePath("fat16.img"));
    const FAT_LAYOUT layout = Layout("fat16.img", 1);
    SEARCH_PROGRESS progress{};
    CANCEL_FLAG nCancel(1);
    CFATTreeBuilder builder;
    builder.SetProgress(&progress, &nCancel);
    CFATSearchedPartitionInfo* pInfo = Candidate(layout, FAT_QUICK_SCAN_FLAGS_FAT12_16);
    EXPECT_EQ(nullptr, builder.BuildTree(0, pInfo, &device, 0));
    EXPECT_EQ(u"Canceling...", std::u16string(progress.szTitle));
    EXPECT_EQ(nullptr, builder.BuildTreeFromSearch(0, ScanDirectorySectors(device, layout), pInfo, nullptr, &device, 0));
    DeleteFATSearchedPartitionInfo(pInfo);

    // A cancel that comes while the folders are walked.
    class CCancellingDevice : public fstest::CImageDevice {
    public:
        CCancellingDevice(const std::string& strPath, CANCEL_FLAG* pCancel) : CImageDevice(strPath), m_pCancel(pCancel) {}
        int ReadSectors(void* p, uint64_t s, uint64_t n) override
        {
            if (++m_nReads == 8)
                *m_pCancel = 1;
            return CImageDevice::ReadSectors(p, s, n);
        }

    private:
        CANCEL_FLAG* m_pCancel;
        int m_nReads = 0;
    };
    nCancel = 0;
    CCancellingDevice cancelling(rvdtest::FixturePath("fat16.img"), &nCancel);
    pInfo = CreateFATSearchedPartitionInfo();
    pInfo->AddFlags(FAT_QUICK_SCAN_FLAGS_FAT12_16);
    EXPECT_EQ(nullptr, builder.BuildTree(0, pInfo, &cancelling, 0));
    DeleteFATSearchedPartitionInfo(pInfo);
}

// ----- properties, candidate, bitmap ----------------------------------------------------------

TEST(FatFileProperties, FromADeletedEntryAndThroughTheStream)
{
    uint8_t entry[32] = {};
    memcpy(entry, "\xE5" "ILE    TXT", 11);
    entry[11] = 0x20;
    PutLe16(entry + 14, (13 << 11) | (30 << 5) | 5);   // 13:30:10
    PutLe16(entry + 16, (37 << 9) | (7 << 5) | 14);    // 2017-07-14
    PutLe16(entry + 18, (38 << 9) | (2 << 5) | 29);    // 2018-02-29: no such day
    PutLe16(entry + 22, (2 << 11) | (40 << 5));        // 02:40:00
    PutLe16(entry + 24, (37 << 9) | (7 << 5) | 14);
    PutLe16(entry + 26, 9);
    PutLe16(entry + 28, 1000);
    CFATFileProperties* pProps = CreatePropertiesFromEntries(entry, 32);
    ASSERT_NE(nullptr, pProps);
    EXPECT_STREQ("#ILE.TXT", pProps->GetName());
    EXPECT_EQ(8, pProps->GetNameLength());
    EXPECT_EQ(1000u, pProps->GetSize());
    EXPECT_EQ(0x20, pProps->GetAttributes());
    EXPECT_EQ(FAT_STATUS_DELETED, pProps->GetStatus());
    FILETIME ft;
    pProps->GetModificationTime(&ft);
    EXPECT_EQ(FileTimeOf(1500000000), ft.qwTicks);
    pProps->GetCreationTime(&ft);
    EXPECT_EQ(FileTimeOf(1499990400 + 13 * 3600 + 30 * 60 + 10), ft.qwTicks);
    pProps->GetAccessTime(&ft);
    EXPECT_EQ(0u, ft.qwTicks);
    EXPECT_EQ(0xFF, pProps->GetValidPropertyMask());
    EXPECT_EQ(1, pProps->GetPropertiesKind());

    CFATDataRunList* pList = new CFATDataRunList();
    pList->AddRun(DATA_RUN(7, 2));
    pList->AddRun(DATA_RUN(9, 1));
    pList->AddRun(DATA_RUN(40, 3));
    pProps->SetDataRunList(pList);
    pProps->SetFirstCluster(9);
    pProps->SetParentCluster(4);
    CMemoryDataStream stream;
    ASSERT_TRUE(pProps->Save(&stream));
    CFATFileProperties* pLoaded = CFATFileProperties::Create();
    CMemoryDataStream reader(stream.GetData());
    ASSERT_TRUE(pLoaded->Load(&reader));
    EXPECT_STREQ("#ILE.TXT", pLoaded->GetName());
    EXPECT_EQ(9u, pLoaded->GetFirstCluster());
    EXPECT_EQ(4u, pLoaded->GetParentCluster());
    pLoaded->GetModificationTime(&ft);
    EXPECT_EQ(FileTimeOf(1500000000), ft.qwTicks);
    IDataRunList* pRuns = pLoaded->GetDataRunList();
    ASSERT_NE(nullptr, pRuns);
    ASSERT_EQ(2u, pRuns->GetRunCount());
    EXPECT_EQ(DATA_RUN(7, 3), pRuns->GetRun(0));
    EXPECT_EQ(DATA_RUN(40, 3), pRuns->GetRun(1));
    delete pRuns;
    // A record cut anywhere is refused and leaves the properties as they were.
    const std::vector<uint8_t>& bytes = stream.GetData();
    for (size_t n = 0; n < bytes.size(); ++n) {
        CMemoryDataStream cut(bytes.data(), n);
        ASSERT_FALSE(pLoaded->Load(&cut)) << n;
    }
    EXPECT_STREQ("#ILE.TXT", pLoaded->GetName());
    delete pLoaded;
    delete pProps;
}

TEST(FatFileProperties, TheScanTypeFilterDecides)
{
    uint8_t entry[32] = {};
    memcpy(entry, "PHOTO   JPG", 11);
    PutLe16(entry + 26, 5);
    PutLe16(entry + 28, 10);
    CFileTypeStore& filter = CPubic::GetScanTypeFilter();
    filter.SaveTypeInfo(".doc");
    EXPECT_EQ(nullptr, CreateFATFileProperties("PHOTO.JPG", entry));
    entry[11] = 0x10;
    CFATFileProperties* pFolder = CreateFATFileProperties("PHOTO.JPG", entry);
    filter.EmptyTypeInfo();
    ASSERT_NE(nullptr, pFolder);
    delete pFolder;
    EXPECT_EQ(nullptr, CreateFATFileProperties(nullptr, entry));
    EXPECT_EQ(nullptr, CreatePropertiesFromEntries(entry, 16));
}

TEST(FatSearchedPartitionInfo, SaveLoadAndDelete)
{
    CFATSearchedPartitionInfo* pInfo = CreateFATSearchedPartitionInfo();
    EXPECT_EQ(1, pInfo->GetType());
    CMemoryDataStream stream;
    ASSERT_TRUE(pInfo->Save(&stream));
    CSearchedPartitionInfo base;
    CMemoryDataStream baseStream;
    ASSERT_TRUE(base.Save(&baseStream));
    std::vector<uint8_t> expected = baseStream.GetData();
    expected.resize(expected.size() + 18, 0);
    EXPECT_EQ(expected, stream.GetData());

    pInfo->m_nFileSystemKind = 2;
    pInfo->m_ullEvidenceSector = 1234;
    pInfo->m_wReservedSectors = 32;
    pInfo->m_nSectorsPerFAT = 630;
    pInfo->m_nClusterCount = 80000;
    pInfo->m_nRootInfo = 2;
    pInfo->AddFlags(0x4);
    pInfo->AddFlags(0x8);
    CMemoryDataStream full;
    ASSERT_TRUE(pInfo->Save(&full));
    CFATSearchedPartitionInfo loaded;
    CMemoryDataStream reader(full.GetData());
    ASSERT_TRUE(loaded.Load(&reader));
    EXPECT_EQ(1234u, loaded.m_ullEvidenceSector);
    EXPECT_EQ(32, loaded.m_wReservedSectors);
    EXPECT_EQ(630u, loaded.m_nSectorsPerFAT);
    EXPECT_EQ(80000u, loaded.m_nClusterCount);
    EXPECT_EQ(2u, loaded.m_nRootInfo);
    EXPECT_EQ(0xCu, loaded.m_nFlags);
    CMemoryDataStream cut(full.GetData().data(), full.GetData().size() - 1);
    CFATSearchedPartitionInfo untouched;
    EXPECT_FALSE(untouched.Load(&cut));
    EXPECT_EQ(0u, untouched.m_ullEvidenceSector);
    DeleteFATSearchedPartitionInfo(pInfo);
    DeleteFATSearchedPartitionInfo(nullptr);
}

TEST(ClusterUseBitMap, AnswersForSectors)
{
    uint8_t bits[2] = {0x01, 0x80};   // clusters 0 and 15 in use
    CLUSTER_BITMAP_INFO info{bits, 2048, 8, 16};
    CClusterUseBitMap map(info);
    const struct {
        uint64_t ullSector;
        bool bUsed;
    } cases[] = {
        {2047, true},              // before the partition
        {2048, true}, {2055, true},  // cluster 0
        {2056, false},             // cluster 1
        {2048 + 15 * 8, true},     // cluster 15
        {2048 + 16 * 8, true},     // beyond the covered clusters
        {~0ull, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.bUsed, map.IsClusterUsed(c.ullSector)) << c.ullSector;
    // Without a cluster size nothing is known: everything is used (and nothing is divided by 0).
    CLUSTER_BITMAP_INFO none{bits, 2048, 0, 16};
    EXPECT_TRUE(CClusterUseBitMap(none).IsClusterUsed(2056));
    CLUSTER_BITMAP_INFO empty{bits, 2048, 8, 0};
    EXPECT_TRUE(CClusterUseBitMap(empty).IsClusterUsed(2056));
}

TEST(ClusterUseBitMap, MarkUsedClustersWalksTheTree)
{
    CFileSystemNode* pRoot = CreateFileSystemNode();
    CFATFileProperties* pRootProps = CFATFileProperties::Create();
    pRoot->SetProperties(pRootProps);
    auto addFile = [](CFileNode* pParent, uint64_t ullSize, std::vector<DATA_RUN> runs) {
        CFATFileProperties* pProps = CFATFileProperties::Create();
        pProps->SetSize(ullSize);
        CFATDataRunList* pList = new CFATDataRunList();
        for (const DATA_RUN& r : runs)
            pList->AddRun(r);
        pProps->SetDataRunList(pList);
        CFileNode* pNode = CreateFileNode();
        pNode->SetProperties(pProps);
        return pParent->AddChild(pNode);
    };
    CFileNode* pFolder = addFile(pRoot, 0, {});
    // Three clusters of 1024 bytes cover 2500 bytes: the fourth cluster of the run stays free.
    addFile(pFolder, 2500, {DATA_RUN(3, 4)});
    // A damaged run far beyond the vector marks nothing and costs nothing.
    addFile(pFolder, ~0ull, {DATA_RUN(10, 2), DATA_RUN(1ull << 40, 1ull << 40)});
    std::vector<uint8_t> bits(4, 0);
    USED_CLUSTER_MARKER marker{bits.data(), 0, 2, 20};
    MarkUsedClusters(pRoot, marker);
    EXPECT_EQ((std::vector<uint8_t>{0x38, 0x0C, 0x00, 0x00}), bits);
    MarkUsedClusters(nullptr, marker);
    DeleteFileTree(pRoot);
}

} // namespace
