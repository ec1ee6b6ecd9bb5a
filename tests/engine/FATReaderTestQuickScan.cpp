// The quick scan of FAT volumes end to end: IDelvar::Search in mode 0 through the Delvar module,
// with the fake store, on the fixture volumes and on damaged copies of them.
//
// What the FAT layout cannot give back: a deleted file's chain is freed on delete, so its data is
// taken to lie in the free clusters from its first cluster upwards. The fixtures' fragmented
// deleted file ("Deleted fragmented photo.jpg", its second part placed after a live file) comes
// back whole that way; the deleted files whose clusters a later file took over ("Hole one.bin",
// "Hole two.bin") are listed with their names, sizes and times but their bytes are not the
// original ones (nor the later file's); the manifests mark them not recoverable and their
// contents are not compared.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "FATReaderTestSupport.h"
#include "fat/FATTreeBuilder.h"

namespace {

using namespace fattest;

class FatQuickScan : public ::testing::TestWithParam<FAT_VOLUME_CASE> {
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

    // Scans the volume of an image (the fixture or a damaged copy) and checks the result against
    // the fixture's manifest.
    void ScanAndCheck(const FAT_VOLUME_CASE& c, const std::string& strImage, const std::string& strContext)
    {
        uint64_t ullStart = 0, ullCount = 0;
        VolumeExtent(c, strImage, &ullStart, &ullCount);
        const QUICK_SCAN_RESULT result = QuickScan(m_Table, strImage, ullStart, ullCount, c.dwFileSystem);
        ASSERT_EQ(DELVAR_SUCCESS, result.nStatus) << strContext;
        ASSERT_EQ(1u, result.Trees.size());
        ASSERT_EQ(1u, result.Partitions.size());
        const FAKE_TREE& tree = result.Trees[0];
        // The layout of the undamaged fixture (a test may have zeroed the copy's boot sector).
        const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath(c.pszImage));
        const FAT_LAYOUT layout = ReadLayout(image.data(), ullStart, static_cast<int>(c.dwFileSystem));
        EXPECT_EQ(static_cast<int32_t>(c.dwFileSystem), tree.nFileSystemKind);
        // The root carries the sector of cluster 2 (within the volume) and the cluster size.
        EXPECT_EQ(layout.ullCluster2 - ullStart, tree.ullStartSector);
        EXPECT_EQ(static_cast<int32_t>(layout.nSectorsPerCluster), tree.nSecondValue);
        EXPECT_EQ(layout.strLabel, tree.strDescription);
        const int nRecovered = CheckDeletedFilesTree(tree, rvdtest::ReadManifest(c.pszImage, c.nPartition), strImage,
                                                     ullStart, strContext);
        EXPECT_GT(nRecovered, 0);
    }
};

TEST_P(FatQuickScan, ListsTheDeletedFilesAndGivesBackTheirBytes)
{
    const FAT_VOLUME_CASE& c = GetParam();
    if (c.nPartition == 0) {
        // The deleted file whose two pieces lie around a live file is one of those given back.
        const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest(c.pszImage);
        const rvdtest::ManifestEntry* pPhoto = rvdtest::FindManifestEntry(manifest, "/Photos/Deleted fragmented photo.jpg");
        ASSERT_NE(nullptr, pPhoto);
        EXPECT_TRUE(pPhoto->bDeleted && pPhoto->bFragmented && pPhoto->bRecoverable);
    }
    ScanAndCheck(c, rvdtest::FixturePath(c.pszImage), "fixture");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FatQuickScan, ::testing::ValuesIn(FatVolumeCases()),
                         [](const ::testing::TestParamInfo<FAT_VOLUME_CASE>& info) { return info.param.pszName; });

// ----- damaged volumes -----------------------------------------------------------------------

class FatQuickScanDamaged : public FatQuickScan {
protected:
    static const FAT_VOLUME_CASE& Case(const char* pszImage, int nPartition = 0)
    {
        for (const FAT_VOLUME_CASE& c : FatVolumeCases())
            if (c.nPartition == nPartition && strcmp(c.pszImage, pszImage) == 0)
                return c;
        // A mistyped case fails the test (the exception is reported) instead of testing another
        // volume.
        throw std::invalid_argument(std::string("no fixture case ") + pszImage + " partition " +
                                    std::to_string(nPartition));
    }

    QUICK_SCAN_RESULT ScanCopy(CImageCopy& copy, const FAT_VOLUME_CASE& c)
    {
        copy.Save();
        uint64_t ullStart = 0, ullCount = 0;
        VolumeExtent(c, copy.Path(), &ullStart, &ullCount);
        return QuickScan(m_Table, copy.Path(), ullStart, ullCount, c.dwFileSystem);
    }

    static uint64_t PartitionStart(const FAT_VOLUME_CASE& c)
    {
        uint64_t ullStart = 0, ullCount = 0;
        VolumeExtent(c, rvdtest::FixturePath(c.pszImage), &ullStart, &ullCount);
        return ullStart;
    }
};

// Boot sectors are damaged inside the partitioned disk, so that the partition is still found
// through its table entry whatever its first sector holds.

// A FAT32 volume whose primary boot sector is zeroed is read through the backup at sector 6.
TEST_F(FatQuickScanDamaged, Fat32ZeroedBootSectorUsesTheBackup)
{
    const FAT_VOLUME_CASE& c = Case("mbr.img", 6);
    CImageCopy copy(m_Dir, "mbr.img");
    memset(copy.At(PartitionStart(c)), 0, kSector);
    copy.Save();
    ScanAndCheck(c, copy.Path(), "zeroed primary boot sector");
}

// A FAT16 volume has no backup boot sector: the scan ends with the reader's error.
TEST_F(FatQuickScanDamaged, Fat16ZeroedBootSectorIsReported)
{
    const FAT_VOLUME_CASE& c = Case("mbr.img", 1);
    CImageCopy copy(m_Dir, "mbr.img");
    memset(copy.At(PartitionStart(c)), 0, kSector);
    const QUICK_SCAN_RESULT result = ScanCopy(copy, c);
    EXPECT_EQ(DELVAR_NOTHING_FOUND, result.nStatus);
    EXPECT_TRUE(result.Trees.empty());
    EXPECT_EQ(FAT_BUILD_ERROR_NO_BOOT_SECTOR, result.Progress.dwStatus);
    EXPECT_EQ(u"Failed to read DBR information!", std::u16string(result.Progress.szDetail));
}

// A root-entry count that is not a multiple of 16 still takes whole sectors, so cluster 2 stays
// where it is; only the claimed entries are read.
TEST_F(FatQuickScanDamaged, Fat16RootEntryCountNotAMultipleOf16)
{
    CImageCopy copy(m_Dir, "fat16.img");
    PutLe16(copy.At(0) + 17, 500);
    copy.Save();
    ScanAndCheck(Case("fat16.img"), copy.Path(), "500 root entries");
}

// Absurd counts shift cluster 2 far from the directories, or read much of the volume as root:
// the scan still ends, with whatever it could make of the volume.
TEST_F(FatQuickScanDamaged, AbsurdRootEntryCounts)
{
    for (uint16_t nEntries : {uint16_t(1), uint16_t(0xFFFF)}) {
        CImageCopy copy(m_Dir, "fat16.img");
        PutLe16(copy.At(0) + 17, nEntries);
        const QUICK_SCAN_RESULT result = ScanCopy(copy, Case("fat16.img"));
        EXPECT_TRUE(result.nStatus == DELVAR_SUCCESS || result.nStatus == DELVAR_NOTHING_FOUND)
            << nEntries << ": " << result.nStatus;
    }
}

// Two chains that meet in one cluster make a FAT16 copy unsound. With FAT2 sound the scan reads
// FAT2 and nothing changes; with both copies cross-linked there is no FAT, every directory is
// read as its first cluster and every deleted file as contiguous: what is listed is still right,
// and so are the bytes of every recoverable deleted file that lies in one piece.
TEST_F(FatQuickScanDamaged, Fat16CrossLinkedChains)
{
    const FAT_VOLUME_CASE& c = Case("fat16.img");
    for (int nCopies : {1, 2}) {
        CImageCopy copy(m_Dir, "fat16.img");
        const FAT_LAYOUT layout = ReadLayout(copy.Bytes().data(), 0, 1);
        // "Big File.bin" (a live file of many clusters) is made to run into the second cluster of
        // "Many Files"' directory (a chain that runs into another chain's first cluster is just
        // a longer chain to the FAT).
        const uint8_t* pBig = FindEntry(copy.Bytes().data(), layout, 0, "IGFIL~1BIN");
        const uint8_t* pMany = FindEntry(copy.Bytes().data(), layout, 0, "ANYFI~1   ");
        ASSERT_NE(nullptr, pBig);
        ASSERT_NE(nullptr, pMany);
        const std::vector<uint32_t> big = Chain(copy.Bytes().data(), layout, EntryCluster(pBig));
        const std::vector<uint32_t> many = Chain(copy.Bytes().data(), layout, EntryCluster(pMany));
        ASSERT_GT(big.size(), 3u);
        ASSERT_GT(many.size(), 1u);
        for (int n = 0; n < nCopies; ++n)
            SetFatEntry(copy.Bytes().data(), layout, big[1], many[1], n);
        copy.Save();
        if (nCopies == 1) {
            ScanAndCheck(c, copy.Path(), "FAT1 cross-linked");
            continue;
        }
        const QUICK_SCAN_RESULT result = ScanCopy(copy, c);
        ASSERT_EQ(DELVAR_SUCCESS, result.nStatus);
        ASSERT_EQ(1u, result.Trees.size());
        const FAKE_TREE& tree = result.Trees[0];
        const std::map<std::string, size_t> paths = TreePaths(tree);
        fstest::CImageDevice device(copy.Path());
        int nListed = 0;
        for (const rvdtest::ManifestEntry& e : rvdtest::ReadManifest("fat16.img")) {
            const FAKE_TREE_NODE* pNode = FindManifestNode(tree, paths, e.strPath);
            if (e.bDirectory || pNode == nullptr)
                continue;
            ++nListed;
            EXPECT_TRUE(e.bDeleted) << e.strPath;
            if (e.bRecoverable && !e.bFragmented) {
                const std::vector<uint8_t> bytes =
                    ReadRuns(device, 0, tree.ullStartSector, tree.nSecondValue, pNode->Runs, e.nSize);
                EXPECT_EQ(e.strSha256, fstest::Sha256Hex(bytes.data(), bytes.size())) << e.strPath;
            }
        }
        // The deleted files of the root and of one-cluster folders are all still there.
        EXPECT_GE(nListed, 10);
    }
}

// A directory chain that loops back to its first cluster (a FAT12 copy is never checked for
// loops) is read once and ends there.
TEST_F(FatQuickScanDamaged, Fat12LoopingDirectoryChain)
{
    CImageCopy copy(m_Dir, "fat12.img");
    const FAT_LAYOUT layout = ReadLayout(copy.Bytes().data(), 0, 0);
    const uint8_t* pMany = FindEntry(copy.Bytes().data(), layout, 0, "ANYFI~1   ");
    ASSERT_NE(nullptr, pMany);
    const std::vector<uint32_t> chain = Chain(copy.Bytes().data(), layout, EntryCluster(pMany));
    ASSERT_GT(chain.size(), 2u);
    for (int n = 0; n < 2; ++n)
        SetFatEntry(copy.Bytes().data(), layout, chain.back(), chain.front(), n);
    copy.Save();
    ScanAndCheck(Case("fat12.img"), copy.Path(), "looping directory chain");
}

// Folder entries that lead back into the folders they lie in. A deleted folder whose deleted
// subfolder holds a live entry naming the outer folder, a later deleted entry naming it, and a
// live folder naming a live ancestor: none of them may make the tree contain itself; the
// folders higher up stay, and the result is the fixture's.
TEST_F(FatQuickScanDamaged, DirectoryLoops)
{
    for (const FAT_VOLUME_CASE& c : {Case("fat16.img"), Case("fat32.img")}) {
        CImageCopy copy(m_Dir, c.pszImage);
        uint8_t* pImage = copy.Bytes().data();
        const FAT_LAYOUT layout = ReadLayout(pImage, 0, static_cast<int>(c.dwFileSystem));
        const uint8_t* pOld = FindEntry(pImage, layout, 0, "LDPRO~1   ");
        const uint8_t* pDocuments = FindEntry(pImage, layout, 0, "OCUME~1   ");
        ASSERT_NE(nullptr, pOld);
        ASSERT_NE(nullptr, pDocuments);
        const uint32_t nOld = EntryCluster(pOld);
        const uint32_t nDocuments = EntryCluster(pDocuments);
        const uint8_t* pSub = FindEntry(pImage, layout, nOld, "UBFOL~1   ");
        const uint8_t* pLetters = FindEntry(pImage, layout, nDocuments, "ETTERS    ");
        ASSERT_NE(nullptr, pSub);
        ASSERT_NE(nullptr, pLetters);
        const uint32_t nSub = EntryCluster(pSub);
        const uint32_t nLetters = EntryCluster(pLetters);

        uint8_t* pSlot = FreeSlot(pImage, layout, nSub);
        ASSERT_NE(nullptr, pSlot);
        WriteFolderEntry(pSlot, "BACKUP     ", nOld);
        pSlot = FreeSlot(pImage, layout, nSub);
        ASSERT_NE(nullptr, pSlot);
        // Deleted, and younger than the folder it names.
        WriteFolderEntry(pSlot, "\xE5" "ATER      ", nOld, 0x5AEE);
        pSlot = FreeSlot(pImage, layout, nSub);
        ASSERT_NE(nullptr, pSlot);
        WriteFolderEntry(pSlot, "SELF       ", nSub);
        pSlot = FreeSlot(pImage, layout, nLetters);
        ASSERT_NE(nullptr, pSlot);
        WriteFolderEntry(pSlot, "UP         ", nDocuments);
        copy.Save();
        ScanAndCheck(c, copy.Path(), std::string("directory loops in ") + c.pszImage);
    }
}

// A folder whose entry alone was marked deleted: its files' entries are not deleted and their
// chains are still allocated, so the chains are followed, not guessed from the free clusters
// (which would give a fragmented file other bytes). Documents/Fragmented File.bin of both volumes.
TEST_F(FatQuickScanDamaged, LiveFileInAFolderMarkedDeletedKeepsItsChain)
{
    for (const FAT_VOLUME_CASE& c : {Case("fat16.img"), Case("fat32.img")}) {
        SCOPED_TRACE(c.pszImage);
        CImageCopy copy(m_Dir, c.pszImage);
        uint8_t* pImage = copy.Bytes().data();
        const FAT_LAYOUT layout = ReadLayout(pImage, 0, static_cast<int>(c.dwFileSystem));
        uint8_t* pDocuments = FindEntry(pImage, layout, 0, "OCUME~1   ");
        ASSERT_NE(nullptr, pDocuments);
        pDocuments[0] = 0xE5;
        const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest(c.pszImage);
        const rvdtest::ManifestEntry* pFile = rvdtest::FindManifestEntry(manifest, "/Documents/Fragmented File.bin");
        ASSERT_NE(nullptr, pFile);
        ASSERT_TRUE(!pFile->bDeleted && pFile->bFragmented);
        const QUICK_SCAN_RESULT result = ScanCopy(copy, c);
        ASSERT_EQ(1u, result.Trees.size());
        const FAKE_TREE& tree = result.Trees[0];
        const FAKE_TREE_NODE* pNode = nullptr;
        for (const auto& path : TreePaths(tree))
            if (path.first.size() > 9 && path.first.substr(1, 9) == "ocuments/" &&
                path.first.substr(10) == "Fragmented File.bin")
                pNode = &tree.Nodes[path.second];
        ASSERT_NE(nullptr, pNode);
        EXPECT_EQ(1, pNode->nStatus & 1);
        fstest::CImageDevice device(copy.Path());
        const std::vector<uint8_t> bytes = ReadRuns(device, 0, tree.ullStartSector,
                                                    static_cast<uint32_t>(tree.nSecondValue), pNode->Runs, pFile->nSize);
        EXPECT_EQ(pFile->strSha256, fstest::Sha256Hex(bytes.data(), bytes.size()));
    }
}

} // namespace
