// The EXT2/EXT3 tree builder on the fixture images, directly: the tree against the manifest
// (folders, deleted folders and the "Inode_<n>" names included), the candidate entry with its
// block bits, the file-type filter on final names, cancelling at every point where the builder
// looks at the flag, and damaged images (a ".." naming its own directory, two directories naming
// each other, wild block pointers and counts, unreadable blocks); then the properties' record.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Delvar.h"
#include "Ext2ReaderTestSupport.h"
#include "FileSystemNode.h"
#include "MemoryDataStream.h"
#include "ProgressRecord.h"
#include "Pubic.h"
#include "ext2/Ext2DirIterator.h"
#include "ext2/Ext2FileProperties.h"
#include "ext2/Ext2TreeBuilder.h"

using namespace ext2reader;
using ext2::GetLe16;
using ext2::GetLe32;
using ext2::SetLe32;

namespace {

// Inode numbers the fixture script's plan gives on every EXT image.
const uint32_t kDocuments = 12;
const uint32_t kLetters = 13;
const uint32_t kArchive = 14;
const uint32_t kManyFiles = 17;
const uint32_t kOldProjects = 19;
const uint32_t kSubFolder = 20;
const uint32_t kReadme = 22;
const uint32_t kBigFile = 25;

struct CTree {
    CFileSystemNode* pRoot = nullptr;
    std::map<std::string, CFileNode*> Nodes;

    CTree() = default;
    explicit CTree(CFileSystemNode* p) : pRoot(p)
    {
        if (pRoot != nullptr)
            Nodes = TreeByPath(pRoot);
    }
    CTree(const CTree&) = delete;
    CTree& operator=(const CTree&) = delete;
    ~CTree() { DeleteFileTree(pRoot); }

    IFileProperties* Find(const std::string& strPath) const
    {
        const auto it = Nodes.find(strPath);
        return it != Nodes.end() ? it->second->GetProperties() : nullptr;
    }
    // The path of the node named strName, wherever it is; empty when there is none.
    std::string PathOf(const std::string& strName) const
    {
        for (const auto& node : Nodes)
            if (node.first == strName || (node.first.size() > strName.size() &&
                                          node.first.compare(node.first.size() - strName.size() - 1, std::string::npos,
                                                             "/" + strName) == 0))
                return node.first;
        return "";
    }
};

CFileSystemNode* BuildQuick(CImageDevice& device, SEARCH_PROGRESS* pProgress = nullptr, CANCEL_FLAG* pCancel = nullptr)
{
    CExt2TreeBuilder builder;
    builder.SetProgress(pProgress, pCancel);
    return builder.BuildTree(&device, 0, 2, 0);
}

// Sets the scan's file-type filter for one scope.
class CScopedFilter {
public:
    explicit CScopedFilter(const char* pszTypes) : m_strOld(CPubic::GetScanTypeFilter().m_strTypes)
    {
        CPubic::GetScanTypeFilter().SaveTypeInfo(pszTypes);
    }
    ~CScopedFilter() { CPubic::GetScanTypeFilter().SaveTypeInfo(m_strOld); }

private:
    std::string m_strOld;
};

// A builder that is cancelled at its nAt-th look at the flag (never for 0) and counts the looks.
class CCancelAt : public CExt2TreeBuilder {
public:
    explicit CCancelAt(int nAt) : m_nAt(nAt) {}
    mutable int m_nLooks = 0;

protected:
    bool CancelRequested() const override { return ++m_nLooks == m_nAt || (m_nAt != 0 && m_nLooks > m_nAt); }

private:
    int m_nAt;
};

// ----- the tree of each image ------------------------------------------------------------------

class Ext2Tree : public ::testing::TestWithParam<const char*> {};

TEST_P(Ext2Tree, HoldsEveryFolderAndFileOfTheManifest)
{
    const std::string strImage = GetParam();
    const bool bExt3 = strImage.rfind("ext3", 0) == 0;
    CImageDevice device(ReadImage(strImage));
    SEARCH_PROGRESS progress{};
    CANCEL_FLAG nCancel(0);
    CTree tree(BuildQuick(device, &progress, &nCancel));
    ASSERT_NE(nullptr, tree.pRoot);

    // The root: "Ext2" or "Ext3" and the label with every byte but letters and digits replaced.
    std::string strLabel = strImage.substr(0, strImage.find('.'));
    for (char& c : strLabel)
        if (c == '-')
            c = '_';
    IFileProperties* pRootProperties = tree.pRoot->GetProperties();
    EXPECT_EQ(std::string(bExt3 ? "Ext3(" : "Ext2(") + strLabel + ")", pRootProperties->GetName());
    EXPECT_EQ(FILE_ATTR_DIRECTORY, pRootProperties->GetAttributes());
    EXPECT_EQ(2, pRootProperties->GetPropertiesKind());
    EXPECT_EQ(bExt3 ? FILE_SYSTEM_EXT3 : FILE_SYSTEM_EXT2, tree.pRoot->GetFileSystemKind());
    uint64_t ullStart = 99;
    int32_t nSectorsPerBlock = 0;
    tree.pRoot->GetPartitionInfo(&ullStart, &nSectorsPerBlock);
    EXPECT_EQ(0u, ullStart);
    EXPECT_EQ(strImage.find("-1k-") != std::string::npos ? 2 : 8, nSectorsPerBlock);

    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest(strImage);
    uint32_t nFiles = 0;
    for (const rvdtest::ManifestEntry& entry : manifest) {
        SCOPED_TRACE(entry.strPath);
        nFiles += entry.bDirectory ? 0 : 1;
        if (entry.bDeleted) {
            // Gone from its directory: found by its inode, under the root or, for a deleted folder
            // whose ".." survives, under that folder's node.
            const std::string strPath = tree.PathOf("Inode_" + std::to_string(entry.nId));
            ASSERT_FALSE(strPath.empty());
            IFileProperties* p = tree.Find(strPath);
            EXPECT_EQ(EXT2_STATUS_DELETED, p->GetStatus());
            EXPECT_EQ(entry.bDirectory, (p->GetAttributes() & FILE_ATTR_DIRECTORY) != 0);
            if (!entry.bDirectory) {
                EXPECT_EQ(std::string::npos, strPath.find('/'));
            }
            continue;
        }
        IFileProperties* p = tree.Find(JoinedNames(entry));
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(EXT2_STATUS_LIVE, p->GetStatus());
        EXPECT_EQ(entry.bDirectory ? FILE_ATTR_DIRECTORY : 0, p->GetAttributes());
        FILETIME modification{1};
        p->GetModificationTime(&modification);
        EXPECT_EQ(CExt2Inode::TimeToFileTime(static_cast<uint32_t>(entry.nMtime)).qwTicks, modification.qwTicks);
        if (!entry.bDirectory) {
            EXPECT_EQ(entry.nSize, p->GetSize());
        }
    }
    EXPECT_EQ(manifest.size(), tree.Nodes.size()) << "nodes the manifest does not know";

    // A deleted folder keeps its ".." on EXT2; on EXT3 its blocks were released with it.
    const std::string strSubFolder = tree.PathOf("Inode_" + std::to_string(kSubFolder));
    EXPECT_EQ(bExt3 ? "Inode_20" : "Inode_19/Inode_20", strSubFolder);

    FILE_STATISTICS statistics{};
    tree.pRoot->GetStatistics(&statistics);
    EXPECT_EQ(nFiles, statistics.nFiles);
    EXPECT_EQ(u"Phase 2 of 2", std::u16string(progress.szTitle));
    EXPECT_EQ(u"Building directory tree", std::u16string(progress.szDetail));
    EXPECT_EQ(100u, progress.dwPercent);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Ext2Tree, ::testing::ValuesIn(kExtImages),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string s = info.param;
                             s = s.substr(0, s.find('.'));
                             for (char& c : s)
                                 if (c == '-')
                                     c = '_';
                             return s;
                         });

// ----- candidate entry -------------------------------------------------------------------------

TEST(Ext2TreeCandidate, NamesTheRootByPositionAndMarksTheBlocksOfEveryFile)
{
    CImageDevice device(ReadImage("ext2-1k-128.img"));
    CExt2FileSystem fs(&device, 2);
    for (int32_t nIndex : {0, 2}) {
        CExt2TreeBuilder builder;
        CTree tree(builder.BuildTree(&fs, 0, nullptr, nIndex));
        ASSERT_NE(nullptr, tree.pRoot);
        EXPECT_EQ(std::to_string(nIndex + 1) + " Ext2(ext2_1k_128)", tree.pRoot->GetProperties()->GetName());

        const CExt2TreeBuilder::CBlockBits& used = builder.GetUsedBlocks();
        ASSERT_EQ(fs.GetBlocksCount(), used.size());
        std::set<uint64_t> blocks;
        for (const auto& node : tree.Nodes)
            for (const auto& run : RunsOf(node.second->GetProperties()))
                for (uint64_t b = run.first; b < run.first + run.second; ++b)
                    blocks.insert(b);
        ASSERT_FALSE(blocks.empty());
        size_t nSet = 0;
        for (uint64_t b = 0; b < used.size(); ++b) {
            nSet += used[b] ? 1 : 0;
            if (blocks.count(b) != 0) {
                EXPECT_TRUE(used[b]) << "block " << b;
            }
        }
        EXPECT_EQ(blocks.size(), nSet) << "blocks marked that no run holds";
    }
    // The quick scan asks for no block bits.
    CExt2TreeBuilder builder;
    CTree tree(builder.BuildTree(&device, 0, 2, 0));
    EXPECT_TRUE(builder.GetUsedBlocks().empty());
}

// ----- file-type filter --------------------------------------------------------------------------

TEST(Ext2TreeFilter, IsAppliedToTheNamesFilesEndUpWith)
{
    CScopedFilter filter(".jpg.TXT");
    CImageDevice device(ReadImage("ext2-1k-128.img"));
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    // Named by their directories, files pass on their extension (any case); files known only by
    // their inode have no extension to pass on.
    EXPECT_NE(nullptr, tree.Find("Photos/holiday-001.jpg"));
    EXPECT_NE(nullptr, tree.Find("readme.txt"));
    EXPECT_NE(nullptr, tree.Find("Documents/Letters/Archive 2019/Deep Folder/leaf note.txt"));
    EXPECT_EQ(nullptr, tree.Find("Big File.bin"));
    EXPECT_EQ(nullptr, tree.Find("Photos/Filler number two.bin"));
    for (const auto& node : tree.Nodes) {
        IFileProperties* p = node.second->GetProperties();
        if ((p->GetAttributes() & FILE_ATTR_DIRECTORY) == 0) {
            const std::string strName = p->GetName();
            const std::string strExtension = strName.substr(strName.rfind('.') + 1);
            EXPECT_TRUE(strExtension == "txt" || strExtension == "jpg") << node.first;
        }
    }
    // Folders are never filtered, deleted ones included.
    EXPECT_NE(nullptr, tree.Find("Empty Folder"));
    EXPECT_NE(nullptr, tree.Find("Inode_19/Inode_20"));
}

// ----- cancel ------------------------------------------------------------------------------------

TEST(Ext2TreeCancel, AtAnyLookAtTheFlagGivesNoTreeAndFreesEverything)
{
    CImageDevice device(ReadImage("ext2-1k-128.img"));
    CCancelAt counter(0);
    {
        CTree tree(counter.BuildTree(&device, 0, 2, 0));
        ASSERT_NE(nullptr, tree.pRoot);
    }
    // Two groups in phase 1, then one look per directory in phase 2.
    const int nLooks = counter.m_nLooks;
    ASSERT_GT(nLooks, 10);

    auto CancelEverywhere = [&] {
        for (int nAt = 1; nAt <= nLooks; ++nAt) {
            SEARCH_PROGRESS progress{};
            CCancelAt builder(nAt);
            builder.SetProgress(&progress, nullptr);
            EXPECT_EQ(nullptr, builder.BuildTree(&device, 0, 2, 0)) << "cancelled at look " << nAt;
            EXPECT_EQ(u"Canceling...", std::u16string(progress.szTitle));
        }
    };
    // The heap is measured with the builds run on a thread of their own: glibc counts the
    // blocks a thread keeps in its cache as in use, and a thread hands them back when it ends.
    // One arena keeps that thread's blocks in the figures that mallinfo2 gives.
    mallopt(M_ARENA_MAX, 1);
    auto OnItsOwnThread = [](const std::function<void()>& fn) { std::thread(fn).join(); };
    OnItsOwnThread([&] { CancelEverywhere(); });
    // Cancelled late in phase 2 most files are already linked under their folders: all of them
    // are freed with the rest.
    const size_t nBefore = mallinfo2().uordblks;
    OnItsOwnThread([&] {
        for (int i = 0; i < 5; ++i)
            CancelEverywhere();
    });
    EXPECT_LE(mallinfo2().uordblks, nBefore) << "cancelled builds leave memory behind";
}

TEST(Ext2TreeCancel, EngineFlagSetBeforeTheBuildStopsItAtTheFirstGroup)
{
    CImageDevice device(ReadImage("ext3-4k-128.img"));
    SEARCH_PROGRESS progress{};
    CANCEL_FLAG nCancel(1);
    EXPECT_EQ(nullptr, BuildQuick(device, &progress, &nCancel));
    EXPECT_EQ(u"Canceling...", std::u16string(progress.szTitle));
    EXPECT_EQ(u"Reading files...", std::u16string(progress.szDetail));
    EXPECT_EQ(0u, progress.dwPercent);
}

// ----- damaged images ----------------------------------------------------------------------------

struct DAMAGE_CASE {
    const char* pszName;
    void (*pfnDamage)(CImageDevice& device);
    void (*pfnCheck)(const CTree& tree, const CTree& intact);
};

void PrintTo(const DAMAGE_CASE& damage, std::ostream* pStream)
{
    *pStream << damage.pszName;
}

// Offset of the second entry ("..") in a directory's first block.
uint64_t DotDotOffset(std::vector<uint8_t>& image, uint32_t nDirectory)
{
    const uint64_t nBlock = FirstBlockOffset(image, nDirectory);
    return nBlock + GetLe16(image.data() + nBlock + ext2::kDeRecordLength);
}

uint8_t* InodeRecord(CImageDevice& device, uint32_t nInode)
{
    return device.Bytes().data() + InodeOffset(device.Bytes(), nInode);
}

const DAMAGE_CASE kDamageCases[] = {
    {"DotDotNamesItsOwnDirectory",
     [](CImageDevice& d) { SetLe32(d.Bytes().data() + DotDotOffset(d.Bytes(), kDocuments), kDocuments); },
     [](const CTree& tree, const CTree& intact) {
         // Left for the root, where the root directory's entry still names it.
         EXPECT_NE(nullptr, tree.Find("Documents"));
         EXPECT_NE(nullptr, tree.Find("Documents/Letters/letter to the bank.txt"));
         EXPECT_EQ(intact.Nodes.size(), tree.Nodes.size());
     }},
    {"TwoDirectoriesNameEachOtherAsParent",
     [](CImageDevice& d) { SetLe32(d.Bytes().data() + DotDotOffset(d.Bytes(), kLetters), kArchive); },
     [](const CTree& tree, const CTree& intact) {
         // The loop is not closed: one of the two hangs under the other, that one under the root.
         EXPECT_EQ(intact.Nodes.size(), tree.Nodes.size());
         EXPECT_FALSE(tree.PathOf("letter to the bank.txt").empty());
         EXPECT_FALSE(tree.PathOf("leaf note.txt").empty());
         EXPECT_EQ(nullptr, tree.Find("Documents/Letters"));
     }},
    {"WildDirectPointer",
     [](CImageDevice& d) { SetLe32(InodeRecord(d, kBigFile) + ext2::kInBlocks + 4 * 5, 0xFFFFFFF0u); },
     [](const CTree& tree, const CTree& intact) {
         // An inode whose first pointers leave the file system is not taken for a file.
         EXPECT_EQ(nullptr, tree.Find("Big File.bin"));
         EXPECT_EQ(intact.Nodes.size() - 1, tree.Nodes.size());
     }},
    {"WildDoubleIndirectPointer",
     [](CImageDevice& d) { SetLe32(InodeRecord(d, kBigFile) + ext2::kInBlocks + 4 * 13, 0xFFFFFFF0u); },
     [](const CTree& tree, const CTree&) {
         // The runs end where the pointer goes wild: 12 direct and 256 single-indirect blocks.
         IFileProperties* p = tree.Find("Big File.bin");
         ASSERT_NE(nullptr, p);
         uint64_t nBlocks = 0;
         for (const auto& run : RunsOf(p))
             nBlocks += run.second;
         EXPECT_EQ(12u + 256u, nBlocks);
     }},
    {"WildSectorCountAndSize",
     [](CImageDevice& d) {
         uint8_t* pInode = InodeRecord(d, kBigFile);
         SetLe32(pInode + ext2::kInSectors, 0xFFFFFFFFu);
         SetLe32(pInode + ext2::kInSizeHigh, 0x7FFFFFFFu);
         // Every entry of the single indirect block names a valid block, so nothing but the
         // bounds ends the walk early.
         const uint32_t nIndirect = GetLe32(pInode + ext2::kInBlocks + 4 * 12);
         uint8_t* pBlock = d.Bytes().data() + static_cast<uint64_t>(nIndirect) * 1024;
         for (int i = 0; i < 256; ++i)
             SetLe32(pBlock + 4 * i, 3000 + i);
     },
     [](const CTree& tree, const CTree&) {
         IFileProperties* p = tree.Find("Big File.bin");
         ASSERT_NE(nullptr, p);
         EXPECT_EQ((0x7FFFFFFFull << 32) | 300000u, p->GetSize());
         uint64_t nBlocks = 0;
         for (const auto& run : RunsOf(p))
             nBlocks += run.second;
         EXPECT_LE(nBlocks, 16384u) << "more blocks than the file system has";
     }},
    {"UnreadableDirectoryBlock",
     [](CImageDevice& d) { d.FailSectors(FirstBlockOffset(d.Bytes(), kManyFiles) / 512, 2); },
     [](const CTree& tree, const CTree& intact) {
         // Its files are still listed, by inode number, under the root.
         EXPECT_EQ(intact.Nodes.size(), tree.Nodes.size());
         EXPECT_NE(nullptr, tree.Find("Many Files"));
         EXPECT_EQ(nullptr, tree.Find("Many Files/Entry number 01 of many.txt"));
         EXPECT_NE(nullptr, tree.Find("Inode_41"));
     }},
    {"DotDotInAnUnreadableInodeTable",
     [](CImageDevice& d) {
         // The second group's table (inodes 257 to 512) cannot be read, and "Letters" names an
         // inode of it as its parent.
         SetLe32(d.Bytes().data() + DotDotOffset(d.Bytes(), kLetters), 256 + kDocuments);
         d.FailSectors(InodeOffset(d.Bytes(), 257) / 512, 2);
     },
     [](const CTree& tree, const CTree& intact) {
         EXPECT_EQ(intact.Nodes.size(), tree.Nodes.size());
         EXPECT_NE(nullptr, tree.Find("Inode_13/letter to the bank.txt"));
         EXPECT_EQ(nullptr, tree.Find("Documents/Letters"));
         EXPECT_NE(nullptr, tree.Find("Documents/Quarterly report for the board.txt"));
     }},
    {"UnreadableInodeTable",
     [](CImageDevice& d) {
         const uint64_t nRecord = InodeOffset(d.Bytes(), 1);
         d.FailSectors(nRecord / 512, 8);
     },
     [](const CTree& tree, const CTree&) {
         // The first inodes of the table are lost, the root directory among them; what remains
         // is still a tree.
         EXPECT_NE(nullptr, tree.pRoot);
     }},
};

class Ext2TreeDamaged : public ::testing::TestWithParam<DAMAGE_CASE> {};

TEST_P(Ext2TreeDamaged, GivesATreeAndNeverHangs)
{
    CImageDevice intactDevice(ReadImage("ext2-1k-128.img"));
    CTree intact(BuildQuick(intactDevice));
    ASSERT_NE(nullptr, intact.pRoot);

    CImageDevice device(ReadImage("ext2-1k-128.img"));
    GetParam().pfnDamage(device);
    const auto start = std::chrono::steady_clock::now();
    CTree tree(BuildQuick(device));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_NE(nullptr, tree.pRoot);
    GetParam().pfnCheck(tree, intact);
}

INSTANTIATE_TEST_SUITE_P(Cases, Ext2TreeDamaged, ::testing::ValuesIn(kDamageCases),
                         [](const ::testing::TestParamInfo<DAMAGE_CASE>& info) { return info.param.pszName; });

// ----- inodes whose pointers are not a block list ---------------------------------------------------

// ----- reading ahead ---------------------------------------------------------------------------

// What a tree holds, path by path: size, status, attributes and runs.
std::map<std::string, std::string> DescribeTree(const CTree& tree)
{
    std::map<std::string, std::string> description;
    for (const auto& node : tree.Nodes) {
        IFileProperties* p = node.second->GetProperties();
        std::string strWhat = std::to_string(p->GetSize()) + " " + std::to_string(p->GetStatus()) + " " +
                              std::to_string(p->GetAttributes());
        for (const auto& run : RunsOf(p))
            strWhat += " " + std::to_string(run.first) + "+" + std::to_string(run.second);
        description[node.first] = strWhat;
    }
    return description;
}

// On a device that may be read from two threads, the inode tables, and the blocks the
// directories and larger files are walked through first, are read ahead: the tree is the one
// built reading each block when it is needed, on every image, and with a directory's block, a
// file's indirect block or a stretch of inode table unreadable.
TEST(Ext2TreeReadAhead, GivesTheTreeOfReadingEachBlockWhenNeeded)
{
    const std::function<void(CImageDevice&)> damages[] = {
        [](CImageDevice&) {},
        [](CImageDevice& d) { d.FailSectors(FirstBlockOffset(d.Bytes(), kManyFiles) / 512, 2); },
        [](CImageDevice& d) {
            const uint32_t nIndirect = GetLe32(InodeRecord(d, kBigFile) + ext2::kInBlocks + 4 * ext2::kSingleIndirect);
            ASSERT_NE(0u, nIndirect);
            const uint32_t nBlockSize = 1024u << GetLe32(d.Bytes().data() + 1024 + ext2::kSbLogBlockSize);
            d.FailSectors(static_cast<uint64_t>(nIndirect) * (nBlockSize / 512), 1);
        },
        [](CImageDevice& d) { d.FailSectors(InodeOffset(d.Bytes(), 257) / 512, 2); },
    };
    for (const char* pszImage : kExtImages) {
        for (size_t nDamage = 0; nDamage < std::size(damages); ++nDamage) {
            SCOPED_TRACE(std::string(pszImage) + ", damage " + std::to_string(nDamage));
            CImageDevice inTurn(ReadImage(pszImage));
            CImageDevice ahead(ReadImage(pszImage));
            ahead.m_bConcurrent = true;
            damages[nDamage](inTurn);
            damages[nDamage](ahead);
            const CTree expected(BuildQuick(inTurn));
            const CTree tree(BuildQuick(ahead));
            ASSERT_NE(nullptr, expected.pRoot);
            ASSERT_NE(nullptr, tree.pRoot);
            EXPECT_EQ(DescribeTree(expected), DescribeTree(tree));
        }
    }
}

TEST(Ext2TreeLinks, FastSymlinkTargetIsNotReadAsBlockPointers)
{
    // readme.txt made a fast link: a 4-byte target held where the pointers are, whose bytes
    // happen to read as the number of a block in use. Its bytes are taken from the inode, as a
    // file kept in the inode is (a resident run: the record's sector and size, and where its
    // block area begins), and never as blocks.
    CImageDevice device(ReadImage("ext2-1k-128.img"));
    const uint64_t nOffset = InodeOffset(device.Bytes(), kReadme);
    uint8_t* pInode = device.Bytes().data() + nOffset;
    const uint32_t nBlock = GetLe32(pInode + ext2::kInBlocks);
    ASSERT_NE(0u, nBlock);
    ext2::SetLe16(pInode + ext2::kInMode, 0xA1FF);
    SetLe32(pInode + ext2::kInSize, 4);
    SetLe32(pInode + ext2::kInSectors, 0);
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    IFileProperties* p = tree.Find("readme.txt");
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(4u, p->GetSize());
    IDataRunList* pList = p->GetDataRunList();
    ASSERT_NE(nullptr, pList);
    EXPECT_TRUE(pList->IsResident());
    ASSERT_EQ(1u, pList->GetRunCount());
    EXPECT_EQ(nOffset / 512, pList->GetRun(0).ullStart);
    EXPECT_EQ(128u, pList->GetRun(0).ullLength);
    EXPECT_EQ(static_cast<int32_t>(nOffset % 512 + 40), pList->GetResidentValue());
    delete pList;
}

// ----- inline data ------------------------------------------------------------------------------

// A file kept in its inode carries where the record lies, as a resident run: its start the
// sector where the record begins, its length the record's bytes, its value the offset of the
// block area (the file's first bytes) in that sector; its size is no more than the inode holds.
// ext4-inline.img's Small/Inner/b.txt has 90 bytes: 60 in the block area, 30 in the attribute,
// whose entry is the record's first, at byte 164 past 32 bytes of extra fields.
struct INLINE_CASE {
    const char* pszName;
    const char* pszImage;
    const char* pszPath;
    std::function<void(uint8_t*)> damage;  // of the inode record
    uint64_t nSize;
};

void PrintTo(const INLINE_CASE& c, std::ostream* pOut)
{
    *pOut << c.pszName;
}

class Ext2TreeInline : public ::testing::TestWithParam<INLINE_CASE> {};

TEST_P(Ext2TreeInline, CarriesTheInodesPlaceAndABoundedSize)
{
    const INLINE_CASE& c = GetParam();
    CImageDevice device(ReadImage(c.pszImage));
    const std::string strName = std::string(c.pszPath).substr(std::string(c.pszPath).rfind('/') + 1);
    uint32_t nInode = 0;
    for (const rvdtest::ManifestEntry& entry : rvdtest::ReadManifest(c.pszImage))
        if (entry.strPath == std::string("/") + c.pszPath)
            nInode = static_cast<uint32_t>(entry.nId);
    ASSERT_NE(0u, nInode);
    const uint64_t nOffset = InodeOffset(device.Bytes(), nInode);
    uint8_t* pInode = device.Bytes().data() + nOffset;
    const uint32_t nInodeSize = GetLe16(device.Bytes().data() + 1024 + ext2::kSbInodeSize);
    c.damage(pInode);
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    IFileProperties* p = tree.Find(c.pszPath);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(c.nSize, p->GetSize());
    IDataRunList* pList = p->GetDataRunList();
    ASSERT_NE(nullptr, pList);
    EXPECT_TRUE(pList->IsResident());
    ASSERT_EQ(1u, pList->GetRunCount());
    EXPECT_EQ(nOffset / 512, pList->GetRun(0).ullStart);
    EXPECT_EQ(nInodeSize, pList->GetRun(0).ullLength);
    EXPECT_EQ(static_cast<int32_t>(nOffset % 512 + 40), pList->GetResidentValue());
    delete pList;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Ext2TreeInline,
    ::testing::Values(
        INLINE_CASE{"InAnInlineFolder", "ext4-inline.img", "Small/Inner/b.txt", [](uint8_t*) {}, 90},
        // A size past the block area and the attribute's value: the rest is nowhere.
        INLINE_CASE{"SizePastWhatTheInodeHolds", "ext4-inline.img", "Small/Inner/b.txt",
                    [](uint8_t* pInode) { SetLe32(pInode + ext2::kInSize, 5000); }, 90},
        // A value that would run past the record is not taken: the block area alone is left.
        INLINE_CASE{"AttributeValuePastTheRecord", "ext4-inline.img", "Small/Inner/b.txt",
                    [](uint8_t* pInode) {
                        ASSERT_EQ(0, memcmp(pInode + 164 + 16, "data", 4));
                        SetLe32(pInode + 164 + 8, 1000);
                    },
                    60},
        INLINE_CASE{"AttributeNotMarked", "ext4-inline.img", "Small/Inner/b.txt",
                    [](uint8_t* pInode) { SetLe32(pInode + 160, 0); }, 60},
        // 128-byte inodes have no room for the attribute: the first of readme.txt's bytes read
        // as a pointer would name a block in use.
        INLINE_CASE{"FlagOnA128ByteInode", "ext2-1k-128.img", "readme.txt",
                    [](uint8_t* pInode) {
                        ASSERT_NE(0u, GetLe32(pInode + ext2::kInBlocks));
                        SetLe32(pInode + ext2::kInFlags, ext2::kFlagInlineData);
                    },
                    60}),
    [](const ::testing::TestParamInfo<INLINE_CASE>& info) { return info.param.pszName; });

// A folder kept in its inode whose entries go on into the attribute's value, as the kernel
// grows one: debugfs moves such a folder to a block instead, so the value is written here. The
// folder Small (inode 12) gets an entry for the deleted file "deleted short.bin" (inode 24),
// which no live entry names, in a 32-byte value put in the free end of its record.
TEST(Ext2TreeInlineFolders, EntriesGoOnInTheAttributesValue)
{
    CImageDevice device(ReadImage("ext4-inline.img"));
    uint8_t* pInode = InodeRecord(device, 12);
    ASSERT_NE(0u, GetLe32(pInode + ext2::kInFlags) & ext2::kFlagInlineData);
    // The attribute's only entry, "system.data", at byte 164 (after 32 bytes of extra fields
    // and the magic), with an empty value; the value is placed 60 bytes past the entry.
    ASSERT_EQ(0, memcmp(pInode + 164 + 16, "data", 4));
    ASSERT_EQ(0u, GetLe32(pInode + 164 + 8));
    ext2::SetLe16(pInode + 164 + 2, 60);
    SetLe32(pInode + 164 + 8, 32);
    uint8_t* pEntry = pInode + 164 + 60;
    memset(pEntry, 0, 32);
    SetLe32(pEntry + ext2::kDeInode, 24);
    ext2::SetLe16(pEntry + ext2::kDeRecordLength, 32);
    pEntry[ext2::kDeNameLength] = 11;
    pEntry[ext2::kDeFileType] = 1;
    memcpy(pEntry + ext2::kDeHeaderBytes, "revived.bin", 11);
    SetLe32(pInode + ext2::kInSize, 60 + 32);
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    // The block area's entries and the value's, and the folder under its parent.
    EXPECT_NE(nullptr, tree.Find("Small/a.txt"));
    EXPECT_NE(nullptr, tree.Find("Small/Inner/b.txt"));
    IFileProperties* p = tree.Find("Small/revived.bin");
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(40u, p->GetSize());
    EXPECT_EQ(nullptr, tree.Find("Inode_24"));
}

// ----- names from directory entries ---------------------------------------------------------------

// ----- deleted files whose blocks went to another file ------------------------------------------

// Marks block nBlock in use in its group's block bitmap.
void MarkBlockInUse(std::vector<uint8_t>& image, uint64_t nBlock)
{
    const uint8_t* pSuper = image.data() + 1024;
    const uint32_t nBlockSize = 1024u << GetLe32(pSuper + ext2::kSbLogBlockSize);
    const uint32_t nFirst = GetLe32(pSuper + ext2::kSbFirstDataBlock);
    const uint32_t nPerGroup = GetLe32(pSuper + ext2::kSbBlocksPerGroup);
    const uint64_t nGroup = (nBlock - nFirst) / nPerGroup;
    const uint64_t nBit = (nBlock - nFirst) % nPerGroup;
    const uint64_t nDescriptor = (nFirst + 1) * uint64_t(nBlockSize) + nGroup * ext2::kGroupDescBytes;
    const uint64_t nBitmap = GetLe32(image.data() + nDescriptor + ext2::kGdBlockBitmap);
    image[nBitmap * nBlockSize + nBit / 8] |= static_cast<uint8_t>(1u << (nBit % 8));
}

// A deleted file's block that the block bitmap gives to something else holds that file's bytes:
// it becomes a hole, read as zeros; the deleted file's other blocks, and a live file whose block
// is in use as it should be, keep their runs.
TEST(Ext2TreeDeleted, BlocksInUseAgainAreHoles)
{
    CImageDevice device(ReadImage("ext2-1k-128.img"));
    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest("ext2-1k-128.img");
    const rvdtest::ManifestEntry* pDeleted = nullptr;
    const rvdtest::ManifestEntry* pLive = nullptr;
    for (const rvdtest::ManifestEntry& entry : manifest) {
        if (entry.bDirectory || entry.nSize < 3 * 1024)
            continue;
        if (entry.bDeleted && entry.bRecoverable && pDeleted == nullptr)
            pDeleted = &entry;
        if (!entry.bDeleted && pLive == nullptr)
            pLive = &entry;
    }
    ASSERT_NE(nullptr, pDeleted);
    ASSERT_NE(nullptr, pLive);
    const std::string strDeleted = "Inode_" + std::to_string(pDeleted->nId);
    std::vector<std::pair<uint64_t, uint64_t>> deletedRuns, liveRuns;
    {
        CTree tree(BuildQuick(device));
        ASSERT_NE(nullptr, tree.pRoot);
        deletedRuns = RunsOf(tree.Find(tree.PathOf(strDeleted)));
        liveRuns = RunsOf(tree.Find(JoinedNames(*pLive)));
    }
    ASSERT_FALSE(deletedRuns.empty());
    ASSERT_NE(0u, deletedRuns[0].first);
    ASSERT_FALSE(liveRuns.empty());
    MarkBlockInUse(device.Bytes(), deletedRuns[0].first);

    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    std::vector<std::pair<uint64_t, uint64_t>> expected = {{0, 1}};
    if (deletedRuns[0].second > 1)
        expected.emplace_back(deletedRuns[0].first + 1, deletedRuns[0].second - 1);
    expected.insert(expected.end(), deletedRuns.begin() + 1, deletedRuns.end());
    EXPECT_EQ(expected, RunsOf(tree.Find(tree.PathOf(strDeleted))));
    EXPECT_EQ(liveRuns, RunsOf(tree.Find(JoinedNames(*pLive))));
}

// The same for an indirect block: what a later file wrote there are not pointers, and the
// stretch it would map is a hole. The twelve direct blocks keep their runs.
TEST(Ext2TreeDeleted, IndirectBlockInUseAgainLeavesItsStretchAHole)
{
    CImageDevice device(ReadImage("ext2-1k-128.img"));
    const rvdtest::ManifestEntry* pDeleted = nullptr;
    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest("ext2-1k-128.img");
    for (const rvdtest::ManifestEntry& entry : manifest)
        if (!entry.bDirectory && entry.bDeleted && entry.bRecoverable && entry.nSize > 20 * 1024 && pDeleted == nullptr)
            pDeleted = &entry;
    ASSERT_NE(nullptr, pDeleted);
    const uint32_t nInode = static_cast<uint32_t>(pDeleted->nId);
    const uint8_t* pRecord = InodeRecord(device, nInode);
    const uint32_t nIndirect = GetLe32(pRecord + ext2::kInBlocks + 4 * ext2::kSingleIndirect);
    ASSERT_NE(0u, nIndirect);
    std::vector<std::pair<uint64_t, uint64_t>> direct;
    for (uint32_t i = 0; i < ext2::kDirectBlocks; ++i) {
        const uint32_t nBlock = GetLe32(pRecord + ext2::kInBlocks + 4 * i);
        if (!direct.empty() && direct.back().first + direct.back().second == nBlock)
            ++direct.back().second;
        else
            direct.emplace_back(nBlock, 1);
    }
    MarkBlockInUse(device.Bytes(), nIndirect);
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    EXPECT_EQ(direct, RunsOf(tree.Find(tree.PathOf("Inode_" + std::to_string(nInode)))));
}

TEST(Ext2TreeNames, DeletedInodeThatALiveEntryNamesKeepsTheName)
{
    CImageDevice device(ReadImage("ext2-1k-128.img"));
    SetLe32(InodeRecord(device, kReadme) + ext2::kInDeletionTime, 1500000000u + 40 * 86400);
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    IFileProperties* p = tree.Find("readme.txt");
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(EXT2_STATUS_DELETED, p->GetStatus());
    EXPECT_EQ(nullptr, tree.Find("Inode_22"));
}

TEST(Ext2TreeNames, ZeroByteInAnEntryNameBecomesAnUnderscore)
{
    // A damaged root entry: "readme.txt" with a zero byte in it. The name keeps its length, so
    // that nothing reading it as a C string stops short of what the entry holds.
    CImageDevice device(ReadImage("ext2-1k-128.img"));
    std::vector<uint8_t>& image = device.Bytes();
    const uint64_t nBlock = FirstBlockOffset(image, 2);
    const std::string strName = "readme.txt";
    const auto it = std::search(image.begin() + static_cast<std::ptrdiff_t>(nBlock),
                                image.begin() + static_cast<std::ptrdiff_t>(nBlock + 1024), strName.begin(), strName.end());
    ASSERT_NE(image.begin() + static_cast<std::ptrdiff_t>(nBlock + 1024), it);
    *(it + 4) = 0;
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    IFileProperties* p = tree.Find("read_e.txt");
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(10, p->GetNameLength());
    EXPECT_EQ(nullptr, tree.Find("read"));
}

TEST(Ext2TreeNames, FileWithTwoNamesIsListedOnceUnderTheFirstDirectory)
{
    // A second name made by debugfs on a copy of the image: the photo is named in "Photos"
    // (inode 16) and, later in the walk of directories by their parents and inode numbers, in
    // "Many Files" (inode 17).
    rvdtest::CTempDir dir;
    const std::string strImage = dir.File("links.img");
    rvdtest::WriteFileBytes(strImage, ReadImage("ext2-1k-128.img"));
    const std::string strCommand = "debugfs -w -R 'ln \"/Photos/holiday-001.jpg\" \"/Many Files/second name.jpg\"' " +
                                   strImage + " >/dev/null 2>&1";
    ASSERT_EQ(0, std::system(strCommand.c_str()));
    CImageDevice device(rvdtest::ReadFileBytes(strImage));
    {
        CExt2FileSystem fs(&device, 2);
        CExt2Inode manyFiles;
        fs.LoadInode(kManyFiles, &manyFiles);
        bool bLinked = false;
        for (CExt2DirIterator it(manyFiles); !it.IsEnd(); it.Next()) {
            CExt2Inode entry;
            it.GetInode(&entry);
            bLinked |= std::string(entry.GetName()) == "second name.jpg";
        }
        ASSERT_TRUE(bLinked) << "debugfs made no second name";
    }
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    EXPECT_NE(nullptr, tree.Find("Photos/holiday-001.jpg"));
    EXPECT_EQ(nullptr, tree.Find("Many Files/second name.jpg"));
}

// ----- sizes and names from the inode and the superblock -------------------------------------------

TEST(Ext2TreeSizes, FileOver4GiBKeepsItsHighSizeAndFoldersIgnoreTheField)
{
    CImageDevice device(ReadImage("ext2-4k-128.img"));
    SetLe32(InodeRecord(device, kBigFile) + ext2::kInSizeHigh, 1);
    // The same field of a directory is its ACL block, not a size.
    SetLe32(InodeRecord(device, kDocuments) + ext2::kInSizeHigh, 5);
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    IFileProperties* pBig = tree.Find("Big File.bin");
    ASSERT_NE(nullptr, pBig);
    EXPECT_EQ((1ull << 32) + 300000u, pBig->GetSize());
    // The runs still stop at the last block the file has.
    const std::vector<uint8_t> data = ReadRuns(device.Bytes(), 0, 4096, RunsOf(pBig), 300000);
    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest("ext2-4k-128.img");
    const rvdtest::ManifestEntry* pEntry = rvdtest::FindManifestEntry(manifest, "/Big File.bin");
    ASSERT_NE(nullptr, pEntry);
    EXPECT_EQ(pEntry->strSha256, rvdtest::Sha256Hex(data));
    EXPECT_EQ(4096u, tree.Find("Documents")->GetSize());
}

TEST(Ext2TreeSizes, VolumeNameIsReducedToLettersAndDigits)
{
    CImageDevice device(ReadImage("ext3-1k-256.img"));
    uint8_t* pName = device.Bytes().data() + 1024 + ext2::kSbVolumeName;
    memset(pName, 0, ext2::kVolumeNameBytes);
    memcpy(pName, "my disk! 2", 10);
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    EXPECT_STREQ("Ext3(my_disk__2)", tree.pRoot->GetProperties()->GetName());

    memset(pName, 0, ext2::kVolumeNameBytes);
    CTree unnamed(BuildQuick(device));
    ASSERT_NE(nullptr, unnamed.pRoot);
    EXPECT_STREQ("Ext3", unnamed.pRoot->GetProperties()->GetName());
}

TEST(Ext2TreeSizes, ImageWithoutAFileSystemGivesNoTree)
{
    CImageDevice device(ReadImage("ntfs.img"));
    EXPECT_EQ(nullptr, BuildQuick(device));
    CImageDevice empty(std::vector<uint8_t>(4096, 0));
    EXPECT_EQ(nullptr, BuildQuick(empty));
}

// ----- the properties' record --------------------------------------------------------------------

TEST(Ext2Properties, SaveAndLoadGiveBackWhatTheStoreKeeps)
{
    CImageDevice device(ReadImage("ext2-1k-128.img"));
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    for (const char* pszPath : {"Big File.bin", "empty.txt", "Documents", "Inode_33"}) {
        SCOPED_TRACE(pszPath);
        IFileProperties* pSaved = tree.Find(pszPath);
        ASSERT_NE(nullptr, pSaved);
        pSaved->SetCheckState(2);
        EXPECT_EQ(0, pSaved->SetFlag(7));
        EXPECT_EQ(1, pSaved->GetFlag());
        EXPECT_EQ(1, pSaved->SetFlag(0));
        pSaved->SetFlag(1);
        CMemoryDataStream stream;
        ASSERT_TRUE(pSaved->Save(&stream));

        CExt2FileProperties loaded;
        ASSERT_TRUE(loaded.Load(&stream));
        EXPECT_STREQ(pSaved->GetName(), loaded.GetName());
        EXPECT_EQ(pSaved->GetNameLength(), loaded.GetNameLength());
        EXPECT_EQ(pSaved->GetSize(), loaded.GetSize());
        EXPECT_EQ(pSaved->GetAttributes(), loaded.GetAttributes());
        EXPECT_EQ(pSaved->GetStatus(), loaded.GetStatus());
        FILETIME a{0}, b{0};
        pSaved->GetCreationTime(&a);
        loaded.GetCreationTime(&b);
        EXPECT_EQ(a.qwTicks, b.qwTicks);
        pSaved->GetModificationTime(&a);
        loaded.GetModificationTime(&b);
        EXPECT_EQ(a.qwTicks, b.qwTicks);
        pSaved->GetAccessTime(&a);
        loaded.GetAccessTime(&b);
        EXPECT_EQ(a.qwTicks, b.qwTicks);
        EXPECT_EQ(RunsOf(pSaved), RunsOf(&loaded));
        EXPECT_EQ(0, loaded.GetCheckState());
        EXPECT_EQ(0, loaded.GetFlag());
        EXPECT_EQ(0xFF, loaded.GetValidPropertyMask());
        EXPECT_EQ(0, loaded.GetReservedValue());
    }
}

TEST(Ext2Properties, RecordCutShortAnywhereIsRefusedAndChangesNothing)
{
    CImageDevice device(ReadImage("ext2-1k-128.img"));
    CTree tree(BuildQuick(device));
    ASSERT_NE(nullptr, tree.pRoot);
    CMemoryDataStream full;
    ASSERT_TRUE(tree.Find("Photos/holiday-001.jpg")->Save(&full));
    const std::vector<uint8_t> record = full.GetData();
    for (size_t n = 0; n < record.size(); ++n) {
        CExt2FileProperties loaded;
        loaded.SetName("kept");
        CMemoryDataStream cut(record.data(), n);
        EXPECT_FALSE(loaded.Load(&cut)) << n << " bytes";
        EXPECT_STREQ("kept", loaded.GetName());
        EXPECT_EQ(nullptr, loaded.GetDataRunList());
    }
}

} // namespace
