#include "Ext2TreeBuilder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "ClusterUseBitMap.h"
#include "DataRunList.h"
#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"
#include "RAWTreeBuilder.h"
#include "RawFileInfo.h"
#include "Ext2BlockBitmap.h"
#include "Ext2BlockIterator.h"
#include "Ext2DirIterator.h"
#include "Ext2FileProperties.h"
#include "Ext2FileSystem.h"
#include "Ext2Inode.h"
#include "Ext2InlineData.h"
#include "Ext2InodeEnumerator.h"
#include "FileNode.h"
#include "FileSystemNode.h"
#include "ProgressRecord.h"
#include "Pubic.h"
#include "StructuredException.h"

using namespace ext2;

namespace {

const char* FileSystemName(int nKind)
{
    switch (nKind) {
    case FILE_SYSTEM_EXT2:
        return "Ext2";
    case FILE_SYSTEM_EXT3:
        return "Ext3";
    default:
        return "Ext?";
    }
}

// Block visits (runs mapped, directory blocks walked) a build may make: this many per block of
// the file system, and a base that small file systems never reach.
const uint64_t kBudgetPerBlock = 16;
const uint64_t kBudgetBase = 1u << 20;

bool IsDotName(const char* pszName, size_t nLength)
{
    return (nLength == 1 && pszName[0] == '.') || (nLength == 2 && pszName[0] == '.' && pszName[1] == '.');
}

// Entry names are kept in chunks of this size, or of a large list's chunk size on a volume with
// many inodes; a name never spans two.
const size_t kNameChunkBytes = 64 * 1024;

// Frees the phase-1 inode when it is no longer needed, whatever the path, so the collected heap
// does not grow until it collects.
class CCollectedInode {
public:
    CCollectedInode() : m_pInode(CExt2Inode::NewCollected()) {}
    ~CCollectedInode() { CExt2Inode::FreeCollected(m_pInode); }
    CCollectedInode(const CCollectedInode&) = delete;
    CCollectedInode& operator=(const CCollectedInode&) = delete;
    CExt2Inode* Get() const { return m_pInode; }

private:
    CExt2Inode* m_pInode;
};

} // namespace

CExt2TreeBuilder::CExt2TreeBuilder()
    : m_bStop(0), m_nNameChunkBytes(kNameChunkBytes), m_nNameChunkFree(0), m_nOption(0), m_pProgress(nullptr), m_pnCancel(nullptr), m_nGroupsPassed(0),
      m_nGroupCount(0), m_pFileSystem(nullptr), m_pContainer(nullptr), m_nIndex(0), m_pRoot(nullptr), m_nBlockBudget(0)
{
}

CExt2TreeBuilder::~CExt2TreeBuilder()
{
    // A finished build has handed its nodes over; anything still held belongs to a build that
    // did not finish.
    DeleteNodes(true);
}

void CExt2TreeBuilder::SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
{
    m_pProgress = pProgress;
    m_pnCancel = pnCancel;
}

CFileSystemNode* CExt2TreeBuilder::BuildTree(IStorageDevice* pDevice, int32_t nOption, uint64_t u64SuperBlockSector,
                                             int32_t bBlockBits)
{
    m_nOption = nOption;
    CExt2FileSystem* pFileSystem = nullptr;
    try {
        pFileSystem = new CExt2FileSystem(pDevice, u64SuperBlockSector);
    } catch (const std::exception&) {
        return nullptr;
    }
    CFileSystemNode* pRoot = Build(pFileSystem, bBlockBits != 0);
    delete pFileSystem;
    return pRoot;
}

namespace {

// A carved hit is no lost file when it starts inside a block that a file of the tree uses.
class CExt2UsedBlocks : public IIsClusterUsed {
public:
    CExt2UsedBlocks(const CExt2TreeBuilder::CBlockBits& bits, uint64_t ullStart, uint32_t nSectorsPerBlock)
        : m_Bits(bits), m_ullStart(ullStart), m_nSectorsPerBlock(nSectorsPerBlock != 0 ? nSectorsPerBlock : 1)
    {
    }
    bool IsClusterUsed(uint64_t ullSector) override
    {
        if (ullSector < m_ullStart)
            return false;
        const uint64_t ullBlock = (ullSector - m_ullStart) / m_nSectorsPerBlock;
        return ullBlock < m_Bits.size() && m_Bits[static_cast<size_t>(ullBlock)];
    }

private:
    const CExt2TreeBuilder::CBlockBits& m_Bits;
    uint64_t m_ullStart;
    uint32_t m_nSectorsPerBlock;
};

} // namespace

CFileSystemNode* CExt2TreeBuilder::BuildTree(CExt2FileSystem* pFileSystem, int32_t nOption,
                                             CRawFileInfoContainer* pContainer, int32_t nIndex)
{
    m_nOption = nOption;
    m_pContainer = pContainer;
    m_nIndex = nIndex;
    if (pFileSystem == nullptr)
        return nullptr;
    CFileSystemNode* pRoot = Build(pFileSystem, true);
    if (pRoot == nullptr)
        return nullptr;
    CExt2FileProperties* pProperties = Properties(pRoot);
    const std::string strName = std::to_string(static_cast<int64_t>(nIndex) + 1) + " " + pProperties->GetName();
    pProperties->SetName(strName.c_str(), strName.size());
    // The carved files of the scan hang under this root, less those inside blocks the files found
    // here use. This build reports no progress and cannot be cancelled.
    if (m_pContainer != nullptr && GetEngineSettings()->m_bScanRaw != 0) {
        CExt2UsedBlocks used(m_UsedBlocks, pFileSystem->GetPartitionStart(), pFileSystem->GetSectorsPerBlock());
        CRAWTreeBuilder builder;
        if (CFileSystemNode* pRawRoot =
                builder.BuildTree(pFileSystem->GetDevice(), m_pContainer->GetIterator(), &used, 0))
            pRoot->AddChild(pRawRoot);
    }
    return pRoot;
}

void CExt2TreeBuilder::Reset()
{
    DeleteNodes(true);
    m_bStop = 0;
    m_UsedBlocks.clear();
    m_nGroupsPassed = 0;
    m_nGroupCount = 0;
    // The zone may have changed since the last build.
    m_Times.Clear();
}

CFileSystemNode* CExt2TreeBuilder::Build(CExt2FileSystem* pFileSystem, bool bBlockBits)
{
    // The phase-1 inodes live in the collected heap, which sees only the stacks of the threads
    // it knows: the scan thread must be one of them for as long as it holds such inodes.
    CExt2CollectorThread collectorThread;
    Reset();
    m_pFileSystem = pFileSystem;
    m_pBitmap.reset(new CExt2BlockBitmap(pFileSystem));
    m_nBlockBudget = kBudgetPerBlock * pFileSystem->GetBlocksCount() + kBudgetBase;
    // About one file, one node and one entry name per inode.
    const uint64_t nInodes = pFileSystem->GetSuperBlock().GetInodesCount();
    m_Files.Expect(nInodes);
    m_Names.Expect(nInodes);
    m_nNameChunkBytes = m_Names.IsLarge() ? CExt2ChunkList<char>::kChunkBytes : kNameChunkBytes;
    try {
        MakeRoot();
        if (bBlockBits)
            m_UsedBlocks.assign(pFileSystem->GetBlocksCount(), false);
    } catch (const std::exception& e) {
        LogExt2Exception(e);
        DeleteNodes(true);
        m_pFileSystem = nullptr;
        m_pBitmap.reset();
        return nullptr;
    }

    try {
        ReadInodes();
    } catch (const std::exception& e) {
        // What was read so far still makes a tree.
        LogExt2Exception(e);
    }

    bool bLinked = false;
    if (m_bStop == 0) {
        try {
            bLinked = LinkTree();
        } catch (const std::exception& e) {
            LogExt2Exception(e);
        }
    }
    m_pFileSystem = nullptr;
    m_pBitmap.reset();
    if (!bLinked) {
        DeleteNodes(true);
        return nullptr;
    }

    // Files whose final name the file-type filter refused were left unlinked.
    for (const FILE_ENTRY& file : m_Files)
        if (file.pNode->GetParent() == nullptr)
            DeleteNode(file.pNode);
    for (const DIRECTORY& directory : m_Directories)
        if (directory.pNode->GetParent() == nullptr)
            DeleteNode(directory.pNode);
    ReleaseLists();
    CFileSystemNode* pRoot = m_pRoot;
    m_pRoot = nullptr;
    pRoot->RecountStatistics();
    return pRoot;
}

CFileSystemNode* CExt2TreeBuilder::MakeRoot()
{
    CExt2FileSystem* pFs = m_pFileSystem;
    m_pRoot = CreateFileSystemNode();
    CExt2FileProperties* pProperties = new CExt2FileProperties();
    m_pRoot->SetProperties(pProperties);

    std::string strName = FileSystemName(pFs->GetFileSystemKind());
    char szLabel[kVolumeNameBytes + 1] = {};
    const size_t nLabel = pFs->GetVolumeName(szLabel);
    if (nLabel != 0) {
        // The label becomes part of a name shown and written out as a folder: only letters and
        // digits are kept as they are.
        strName += "(";
        for (size_t i = 0; i < nLabel; ++i) {
            const char c = szLabel[i];
            const bool bPlain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            strName += bPlain ? c : '_';
        }
        strName += ")";
    }
    pProperties->SetName(strName.c_str(), strName.size());
    pProperties->SetAttributes(FILE_ATTR_DIRECTORY);
    pProperties->SetInodeNumber(kRootInode);
    m_pRoot->SetFileSystemKind(pFs->GetFileSystemKind());
    m_pRoot->SetPartitionInfo(pFs->GetPartitionStart(), static_cast<int32_t>(pFs->GetSectorsPerBlock()));

    try {
        CExt2Inode root;
        pFs->LoadInode(kRootInode, &root);
        if (root.IsUsable())
            m_RootNames = ListDirectory(root, nullptr, nullptr);
    } catch (const std::exception&) {
        // Without the root directory's names its files are listed by inode number.
    }
    return m_pRoot;
}

bool CExt2TreeBuilder::CancelRequested() const
{
    return ::IsCancelRequested(m_pnCancel);
}

void CExt2TreeBuilder::SetPhase(const char* pszTitle, const char* pszDetail)
{
    if (m_pProgress == nullptr)
        return;
    rvd::ProgressSetTitle(m_pProgress, pszTitle);
    rvd::ProgressSetDetail(m_pProgress, pszDetail);
    rvd::ProgressSetStatus(m_pProgress, 0);
}

bool CExt2TreeBuilder::OnGroupChange()
{
    if (m_pProgress != nullptr && m_nGroupCount != 0) {
        rvd::ProgressSetPercent(m_pProgress, static_cast<DWORD>(static_cast<uint64_t>(m_nGroupsPassed) * 100 / m_nGroupCount));
        ++m_nGroupsPassed;
    }
    if (CancelRequested()) {
        if (m_pProgress != nullptr)
            rvd::ProgressSetTitle(m_pProgress, "Canceling...");
        m_bStop = 1;
        return false;
    }
    return true;
}

void CExt2TreeBuilder::ReadInodes()
{
    SetPhase("Phase 1 of 2", "Reading files...");
    CExt2FileSystem* pFs = m_pFileSystem;
    m_nGroupCount = pFs->GetGroupCount();
    m_nGroupsPassed = 0;
    const uint32_t nPerGroup = pFs->GetSuperBlock().GetInodesPerGroup();
    bool bFirst = true;
    uint32_t nGroup = 0;

    CExt2InodeEnumerator inodes(pFs);
    // One object serves every inode: each load starts by resetting it, and nothing keeps it past
    // its own inode (one allocation and free in the collected heap per inode was about 3% of
    // the instructions of an EXT3 quick scan with the store).
    const CCollectedInode collected;
    CExt2Inode* pInode = collected.Get();
    for (inodes.Begin(); !inodes.IsEnd(); inodes.Next()) {
        const uint32_t nInode = inodes.GetInodeNumber();
        // The root node stands for the root directory (a superblock whose first inode is below
        // 11 would otherwise enumerate it once more).
        if (nInode == kRootInode)
            continue;
        if (pFs->GetGroupDescTable().IsInodeTableUnused((nInode - 1) / nPerGroup, pFs->GetSuperBlock()))
            continue;
        try {
            inodes.Load(pInode);
        } catch (const std::range_error&) {
            // The inode table runs off the device: nothing further can be read.
            break;
        } catch (const std::exception&) {
            continue;
        }
        const uint32_t nThisGroup = (nInode - 1) / nPerGroup;
        if (bFirst || nThisGroup != nGroup) {
            bFirst = false;
            nGroup = nThisGroup;
            if (!OnGroupChange())
                break;
        }
        if (!pInode->IsUsable())
            continue;
        CFileNode* pNode = MakeNode(*pInode, &inodes);
        if (pInode->IsDirectory()) {
            DIRECTORY directory{pNode, kRootInode, nInode, NAME_RANGE()};
            directory.Names = ListDirectory(*pInode, &directory.nParent, &inodes);
            m_Directories.push_back(directory);
        } else {
            m_Files.push_back(FILE_ENTRY{nInode, false, pNode});
        }
    }
}

CFileNode* CExt2TreeBuilder::MakeNode(const CExt2Inode& inode, const CExt2InodeEnumerator* pHeld)
{
    CExt2FileProperties* pProperties = new CExt2FileProperties();
    CFileNode* pNode = CreateFileNode();
    pNode->SetProperties(pProperties);

    // An inode read from its table has no name: the node is named when it is linked, after the
    // entry that names it, else after its number.
    if (inode.GetNameLength() != 0)
        pProperties->SetName(inode.GetName(), inode.GetNameLength());
    pProperties->SetTimes(m_Times.Convert(inode.GetChangeTime()), m_Times.Convert(inode.GetModificationTime()),
                          m_Times.Convert(inode.GetAccessTime()));
    pProperties->SetSize(inode.GetFileSize());
    pProperties->SetInodeNumber(inode.GetInodeNumber());
    pProperties->SetStatus(inode.IsDeleted() ? EXT2_STATUS_DELETED : EXT2_STATUS_LIVE);
    if (inode.IsDirectory()) {
        pProperties->SetAttributes(FILE_ATTR_DIRECTORY);
    } else {
        // A short inode (fewer blocks allocated than its size needs) is most often a sparse
        // file: its holes read as zeros and its blocks are mapped like any other file's.
        if (inode.IsShort())
            pProperties->SetAttributes(EXT2_ATTR_SHORT);
        // A fast symbolic link keeps its target text where the block pointers are: read as
        // pointers, its bytes would lead to other files' blocks. Its bytes are that text, taken
        // from the inode as a file kept in the inode itself is.
        const bool bFastSymlink = (inode.GetMode() & ext2::kModeTypeMask) == ext2::kModeSymlink &&
                                  inode.GetSizeField() < ext2::kFastSymlinkBytes;
        const bool bInline = (inode.GetFlags() & ext2::kFlagInlineData) != 0;
        if (bFastSymlink != bInline)
            SetInlineData(inode, pHeld, pProperties);
        else if (!bFastSymlink)
            SetDataRuns(inode, pProperties);
    }
    return pNode;
}

const uint8_t* CExt2TreeBuilder::InodeRecord(uint32_t nInode, const CExt2InodeEnumerator* pHeld)
{
    const uint8_t* pRecord = pHeld != nullptr ? pHeld->GetHeldRecord(nInode) : nullptr;
    return pRecord != nullptr ? pRecord : m_pFileSystem->GetInodeRecord(nInode);
}

void CExt2TreeBuilder::SetInlineData(const CExt2Inode& inode, const CExt2InodeEnumerator* pHeld,
                                     CExt2FileProperties* pProperties)
{
    CExt2FileSystem* pFs = m_pFileSystem;
    uint64_t nBlock = 0;
    uint32_t nOffset = 0;
    const uint8_t* pRecord = nullptr;
    try {
        pRecord = InodeRecord(inode.GetInodeNumber(), pHeld);
    } catch (const std::exception&) {
        // An unreadable record gives no bytes; the file stays listed without them.
    }
    if (pRecord == nullptr || !pFs->LocateInode(inode.GetInodeNumber(), &nBlock, &nOffset))
        return;
    const uint32_t nRecordBytes = pFs->GetInodeSize();
    CExt2InlineData area;
    area.Read(pRecord, nRecordBytes);
    // A size past what the inode holds is damage: the bytes past it are nowhere.
    const uint64_t ullCapacity = CExt2InlineData::IsFastSymlink(pRecord, nRecordBytes)
                                     ? CExt2InlineData::kBlockAreaBytes
                                     : area.GetCapacity();
    pProperties->SetSize(std::min(inode.GetFileSize(), ullCapacity));
    // The record lies inside its block, and the block on the device (the table was read).
    const uint64_t ullSector = pFs->GetPartitionStart() + nBlock * pFs->GetSectorsPerBlock() + nOffset / kSectorBytes;
    pProperties->SetInlineData(ullSector, nRecordBytes,
                               static_cast<uint16_t>(nOffset % kSectorBytes + CExt2InlineData::kBlockAreaOffset));
}

void CExt2TreeBuilder::SetDataRuns(const CExt2Inode& inode, CExt2FileProperties* pProperties)
{
    CExt2FileSystem* pFs = m_pFileSystem;
    if (!m_pBlocks)
        m_pBlocks.reset(new CExt2BlockIterator(inode));
    else
        m_pBlocks->Reset(inode);
    CExt2BlockIterator& blocks = *m_pBlocks;
    // The walk goes to the file's size: holes (zero pointers, or a zero pointer to an indirect
    // block) become runs at block 0, which read as zeros, and a hole's whole stretch is passed
    // in one step. Data blocks are bounded by the file system's blocks, and every step by the
    // build's budget, so a damaged size or pointer tree cannot make the walk run away.
    const uint64_t nBlockSize = pFs->GetBlockSize();
    const uint64_t nSize = inode.GetFileSize();
    const uint64_t nSizeBlocks = nSize / nBlockSize + (nSize % nBlockSize != 0 ? 1 : 0);
    const uint64_t nMaxData = pFs->GetBlocksCount();
    const bool bDeleted = inode.IsDeleted();
    // A deleted file's indirect blocks may have gone to a later file too.
    blocks.SetIndirectBlockFilter(bDeleted ? m_pBitmap.get() : nullptr);
    uint64_t nData = 0;
    m_Runs.clear();
    // Blocks that follow on extend the last run, as IDataRunList::AddRun merges them; so do
    // holes that follow a hole.
    auto append = [&](uint64_t nStart, uint64_t nLength) {
        if (!m_Runs.empty() && m_Runs.back().ullStart == 0 && nStart == 0)
            m_Runs.back().ullLength += nLength;
        else if (!m_Runs.empty() && nStart != 0 && m_Runs.back().ullStart != 0 &&
                 m_Runs.back().ullStart + m_Runs.back().ullLength == nStart)
            m_Runs.back().ullLength += nLength;
        else
            m_Runs.push_back(DATA_RUN(nStart, nLength));
    };
    for (uint64_t i = 0; i < nSizeBlocks && nData < nMaxData && m_nBlockBudget != 0; --m_nBlockBudget) {
        uint64_t nHole = 0;
        const uint32_t nBlock = blocks.MapBlock(i, &nHole);
        if (nBlock == 0 && nHole == 0)
            break;      // a pointer that leaves the file system: the rest is not known
        if (nBlock == 0) {
            const uint64_t nLength = std::min(nHole, nSizeBlocks - i);
            append(0, nLength);
            i += nLength;
            continue;
        }
        if (bDeleted && m_pBitmap && m_pBitmap->IsInUse(nBlock)) {
            // The block was given to another file after this one was deleted: its bytes are
            // that file's. It is left out as a hole, so the copy gives zeros there and says so.
            append(0, 1);
            ++i;
            continue;
        }
        append(nBlock, 1);
        ++nData;
        ++i;
        if (nBlock < m_UsedBlocks.size())
            m_UsedBlocks[nBlock] = true;
    }
    // Past the last block that has data the pointers tell nothing more: a deleted inode's may have
    // been cleared, and a damaged size may reach far past the data. The copy fills what the runs
    // leave out with zeros and says so, which is also what a trailing hole holds.
    while (!m_Runs.empty() && m_Runs.back().ullStart == 0)
        m_Runs.pop_back();
    pProperties->SetRuns(m_Runs.data(), m_Runs.size());
}

bool CExt2TreeBuilder::LoadNamedInode(uint32_t nInode, const char* pName, size_t nLength,
                                      const CExt2InodeEnumerator* pHeld, CExt2Inode* pOut)
{
    try {
        if (pHeld == nullptr || !pHeld->LoadHeld(nInode, pOut))
            m_pFileSystem->LoadInode(nInode, pOut);
        pOut->SetName(pName, nLength);
        return pOut->IsUsable();
    } catch (const std::exception&) {
        return false;
    }
}

CExt2TreeBuilder::NAME_RANGE CExt2TreeBuilder::ListInlineDirectory(const CExt2Inode& directory, uint32_t* pnParent,
                                                                   const CExt2InodeEnumerator* pHeld)
{
    const size_t nFirst = m_Names.size();
    uint32_t nParent = kRootInode;
    const bool bLoadEach = CPubic::GetScanTypeFilter().GetFilterSize() != 0;
    try {
        const uint8_t* pRecord = InodeRecord(directory.GetInodeNumber(), pHeld);
        if (pRecord != nullptr && m_nBlockBudget != 0) {
            --m_nBlockBudget;
            CExt2InlineData area;
            area.Read(pRecord, m_pFileSystem->GetInodeSize());
            const uint8_t* pBlockArea = pRecord + CExt2InlineData::kBlockAreaOffset;
            const uint32_t nCandidate = GetLe32(pBlockArea);
            // The entries of the block area after the parent's number, then the attribute's.
            const size_t nFirstArea = CExt2InlineData::kBlockAreaBytes - 4;
            m_InlineArea.assign(pBlockArea + 4, pBlockArea + CExt2InlineData::kBlockAreaBytes);
            m_InlineArea.insert(m_InlineArea.end(), pRecord + area.GetValueOffset(),
                                pRecord + area.GetValueOffset() + area.GetValueBytes());
            CExt2Inode entry;
            if (nCandidate != 0 && LoadNamedInode(nCandidate, nullptr, 0, pHeld, &entry))
                nParent = nCandidate;
            char szName[kMaxNameBytes + 1];
            const size_t anEnds[2] = {nFirstArea, m_InlineArea.size()};
            // Entries never cross from one area into the other.
            for (size_t nArea = 0, nPos = 0; nArea < 2; nPos = anEnds[nArea++]) {
                while (nPos < anEnds[nArea]) {
                    const CExt2DirEntry dirEntry(m_InlineArea.data() + nPos, anEnds[nArea] - nPos);
                    if (!dirEntry.IsValid())
                        break;
                    nPos += dirEntry.GetRecordLength();
                    const uint32_t nInode = dirEntry.GetInodeNumber();
                    if (nInode == 0)
                        continue;
                    const size_t nLength = CExt2DirIterator::GetEntryName(dirEntry, szName);
                    if (nLength == 0 || IsDotName(szName, nLength))
                        continue;
                    if (!bLoadEach || LoadNamedInode(nInode, szName, nLength, pHeld, &entry))
                        AddEntryName(nInode, szName, nLength);
                }
            }
        }
    } catch (const std::exception&) {
    }
    if (pnParent != nullptr)
        *pnParent = nParent;
    return FinishNames(nFirst);
}

CExt2TreeBuilder::NAME_RANGE CExt2TreeBuilder::ListDirectory(const CExt2Inode& directory, uint32_t* pnParent,
                                                             const CExt2InodeEnumerator* pHeld)
{
    if ((directory.GetFlags() & kFlagInlineData) != 0)
        return ListInlineDirectory(directory, pnParent, pHeld);
    const size_t nFirst = m_Names.size();
    // The parent is the second entry (".."); an empty or damaged start of the directory leaves
    // it to the root.
    uint32_t nParent = kRootInode;
    bool bParentKnown = false;
    // An entry's name counts only when the inode it names is usable. Without a file-type filter
    // that depends on the inode alone, and phase 1 makes nodes of usable inodes only, while only
    // nodes' names are ever looked up: the name is kept without loading the inode again. A
    // filter judges the name by the inode's type, so then each inode is loaded.
    const bool bLoadEach = CPubic::GetScanTypeFilter().GetFilterSize() != 0;
    try {
        const uint64_t nBlockSize = m_pFileSystem->GetBlockSize();
        if (!m_pEntries)
            m_pEntries.reset(new CExt2DirIterator(directory));
        else
            m_pEntries->Reset(directory);
        CExt2DirIterator& entries = *m_pEntries;
        CExt2Inode entry;
        char szName[kMaxNameBytes + 1];
        uint64_t nBlock = ~0ull;
        for (uint64_t nIndex = 0; !entries.IsEnd(); entries.Next(), ++nIndex) {
            if (entries.GetPosition() / nBlockSize != nBlock) {
                if (m_nBlockBudget == 0)
                    break;
                --m_nBlockBudget;
                nBlock = entries.GetPosition() / nBlockSize;
            }
            if (nIndex > 1 && !bLoadEach) {
                // An entry that is not sound, or names inode 0, names no usable inode.
                bool bValid = false;
                try {
                    bValid = entries.IsEntryValid() && entries.GetInodeNumber() != 0;
                } catch (const std::exception&) {
                }
                if (!bValid)
                    continue;
                const size_t nLength = entries.GetName(szName);
                if (nLength != 0 && !IsDotName(szName, nLength))
                    AddEntryName(entries.GetInodeNumber(), szName, nLength);
                continue;
            }
            bool bUsable = false;
            try {
                entries.GetInode(&entry, pHeld);
                bUsable = entry.IsUsable();
            } catch (const std::exception&) {
                if (nIndex <= 1)
                    bParentKnown = true;
                continue;
            }
            if (nIndex == 1 && !bParentKnown) {
                bParentKnown = true;
                if (bUsable)
                    nParent = entry.GetInodeNumber();
            }
            // A nameless entry gives nothing to call the inode by.
            if (bUsable && entry.GetNameLength() != 0 && !IsDotName(entry.GetName(), entry.GetNameLength()))
                AddEntryName(entry.GetInodeNumber(), entry.GetName(), entry.GetNameLength());
        }
    } catch (const std::exception&) {
    }
    if (pnParent != nullptr)
        *pnParent = nParent;
    return FinishNames(nFirst);
}

void CExt2TreeBuilder::AddEntryName(uint32_t nInode, const char* pName, size_t nLength)
{
    // Names are at most kMaxNameBytes long, far below a chunk.
    if (nLength > m_nNameChunkFree) {
        m_NameChunks.reserve(m_NameChunks.size() + 1);
        m_NameChunks.push_back(m_nNameChunkBytes > kNameChunkBytes ? static_cast<char*>(AllocLargeBuffer(m_nNameChunkBytes))
                                                                   : AllocBuffer(m_nNameChunkBytes));
        m_nNameChunkFree = m_nNameChunkBytes;
    }
    char* pCopy = m_NameChunks.back() + (m_nNameChunkBytes - m_nNameChunkFree);
    memcpy(pCopy, pName, nLength);
    m_nNameChunkFree -= nLength;
    m_Names.push_back(ENTRY_NAME{nInode, static_cast<uint32_t>(nLength), pCopy});
}

CExt2TreeBuilder::NAME_RANGE CExt2TreeBuilder::FinishNames(size_t nFirst)
{
    const auto byInode = [](const ENTRY_NAME& a, const ENTRY_NAME& b) { return a.nInode < b.nInode; };
    const auto first = m_Names.begin() + static_cast<std::ptrdiff_t>(nFirst);
    // Entries usually come in inode order already; a later entry for an inode replaces the
    // earlier one's name.
    const bool bStrict = std::adjacent_find(first, m_Names.end(), [](const ENTRY_NAME& a, const ENTRY_NAME& b) {
                             return a.nInode >= b.nInode;
                         }) == m_Names.end();
    if (!bStrict) {
        std::stable_sort(first, m_Names.end(), byInode);
        size_t nKept = nFirst;
        for (size_t i = nFirst; i < m_Names.size(); ++i)
            if (i + 1 == m_Names.size() || m_Names[i + 1].nInode != m_Names[i].nInode)
                m_Names[nKept++] = m_Names[i];
        m_Names.shrink(nKept);
    }
    NAME_RANGE range;
    range.nFirst = nFirst;
    range.nCount = m_Names.size() - nFirst;
    return range;
}

const CExt2TreeBuilder::ENTRY_NAME* CExt2TreeBuilder::FindEntryName(const NAME_RANGE& names, uint32_t nInode) const
{
    // The first name of the stretch whose inode is not below nInode.
    size_t nLow = names.nFirst;
    size_t nCount = names.nCount;
    while (nCount != 0) {
        const size_t nHalf = nCount / 2;
        if (m_Names[nLow + nHalf].nInode < nInode) {
            nLow += nHalf + 1;
            nCount -= nHalf + 1;
        } else {
            nCount = nHalf;
        }
    }
    return nLow < names.nFirst + names.nCount && m_Names[nLow].nInode == nInode ? &m_Names[nLow] : nullptr;
}

bool CExt2TreeBuilder::LinkTree()
{
    SetPhase("Phase 2 of 2", "Building directory tree");
    // Phase 1 reads inodes in ascending order; should a damaged table ever repeat one, the
    // first node read for it is the one kept.
    const auto byInode = [](const FILE_ENTRY& a, const FILE_ENTRY& b) { return a.nInode < b.nInode; };
    if (std::adjacent_find(m_Files.begin(), m_Files.end(), [](const FILE_ENTRY& a, const FILE_ENTRY& b) {
            return a.nInode >= b.nInode;
        }) != m_Files.end()) {
        std::stable_sort(m_Files.begin(), m_Files.end(), byInode);
        size_t nKept = 0;
        for (size_t i = 0; i < m_Files.size(); ++i) {
            if (nKept == 0 || m_Files[i].nInode != m_Files[nKept - 1].nInode)
                m_Files[nKept++] = m_Files[i];
            else
                DeleteNode(m_Files[i].pNode);
        }
        m_Files.shrink(nKept);
    }
    // Directories in the order of the inode their ".." names, in reading order among equals.
    CList<uint32_t> order(m_Directories.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<uint32_t>(i);
    const auto byParent = [this](uint32_t a, uint32_t b) {
        return m_Directories[a].nParent < m_Directories[b].nParent;
    };
    std::stable_sort(order.begin(), order.end(), byParent);
    CList<uint32_t> parents(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        parents[i] = m_Directories[order[i]].nParent;

    const uint64_t nDirectories = order.size();
    uint64_t nDone = 0;
    for (const uint32_t nDirectory : order) {
        ++nDone;
        if (m_pProgress != nullptr && nDirectories != 0)
            rvd::ProgressSetPercent(m_pProgress, static_cast<DWORD>(nDone * 100 / nDirectories));
        if (CancelRequested()) {
            if (m_pProgress != nullptr)
                rvd::ProgressSetTitle(m_pProgress, "Canceling...");
            return false;
        }
        const DIRECTORY& directory = m_Directories[nDirectory];
        CFileNode* pDirectory = directory.pNode;
        // Sub-directories whose ".." names this one; one that is this directory or lies above
        // it would close a loop and is left for the root.
        const uint32_t nInode = directory.nInode;
        const auto children = std::equal_range(parents.begin(), parents.end(), nInode);
        for (auto child = children.first; child != children.second; ++child) {
            CFileNode* pChild = m_Directories[order[static_cast<size_t>(child - parents.begin())]].pNode;
            if (pChild != pDirectory && !IsAncestor(pDirectory, pChild))
                Attach(pChild, pDirectory, directory.Names);
        }
        // Files this directory names; the first directory to name a file (a hard link) keeps it.
        // Its names and the files both ascend by inode number, so each file is looked for from
        // where the one before was: in steps that double, then by halves.
        const size_t nFiles = m_Files.size();
        size_t nFrom = 0;
        for (size_t i = 0; i < directory.Names.nCount; ++i) {
            const ENTRY_NAME& name = m_Names[directory.Names.nFirst + i];
            const uint32_t nFile = name.nInode;
            size_t nLow = nFrom;
            size_t nHigh = nFrom;
            for (size_t nStep = 1; nHigh < nFiles && m_Files[nHigh].nInode < nFile; nStep *= 2) {
                nLow = nHigh + 1;
                nHigh = nStep < nFiles - nHigh ? nHigh + nStep : nFiles;
            }
            const auto file = std::lower_bound(m_Files.begin() + static_cast<std::ptrdiff_t>(nLow),
                                               m_Files.begin() + static_cast<std::ptrdiff_t>(std::min(nHigh, nFiles)),
                                               FILE_ENTRY{nFile, false, nullptr}, byInode);
            nFrom = static_cast<size_t>(file - m_Files.begin());
            if (file == m_Files.end() || file->nInode != nFile || file->bTaken)
                continue;
            file->bTaken = true;
            // The entry is the one that names the file.
            Attach(file->pNode, pDirectory, &name);
        }
    }

    for (const uint32_t nDirectory : order)
        if (m_Directories[nDirectory].pNode->GetParent() == nullptr)
            Attach(m_Directories[nDirectory].pNode, m_pRoot, m_RootNames);
    for (const FILE_ENTRY& file : m_Files)
        if (!file.bTaken)
            Attach(file.pNode, m_pRoot, m_RootNames);
    return true;
}

bool CExt2TreeBuilder::Attach(CFileNode* pNode, CFileNode* pParent, const NAME_RANGE& names)
{
    return Attach(pNode, pParent, FindEntryName(names, Properties(pNode)->GetInodeNumber()));
}

bool CExt2TreeBuilder::Attach(CFileNode* pNode, CFileNode* pParent, const ENTRY_NAME* pName)
{
    CExt2FileProperties* pProperties = Properties(pNode);
    if (pName != nullptr) {
        pProperties->SetName(pName->pName, pName->nLength);
    } else if (pProperties->GetNameLength() == 0) {
        char szName[32];
        const int nLength = snprintf(szName, sizeof(szName), "Inode_%u", pProperties->GetInodeNumber());
        pProperties->SetName(szName, static_cast<size_t>(nLength));
    }
    // Only now is the name final: an inode read from its table has none, and judged by the
    // filter before, every file would be dropped whenever a filter is set.
    const bool bFolder = (pProperties->GetAttributes() & FILE_ATTR_DIRECTORY) != 0;
    if (!CPubic::GetScanTypeFilter().CheckFilter(pProperties->GetName(), bFolder))
        return false;
    pParent->AddChild(pNode);
    return true;
}

bool CExt2TreeBuilder::IsAncestor(const CFileNode* pNode, const CFileNode* pOf)
{
    for (const CFileNode* pParent = pNode->GetParent(); pParent != nullptr; pParent = pParent->GetParent())
        if (pParent == pOf)
            return true;
    return false;
}

CExt2FileProperties* CExt2TreeBuilder::Properties(const CFileNode* pNode)
{
    return static_cast<CExt2FileProperties*>(pNode->GetProperties());
}

void CExt2TreeBuilder::DeleteNode(CFileNode* pNode)
{
    delete pNode->GetProperties();
    DestroyFileNode(pNode);
}

void CExt2TreeBuilder::DeleteNodes(bool bAlsoRoot)
{
    // Every node made is in one of the two lists until they are released, linked or not.
    for (const FILE_ENTRY& file : m_Files)
        DeleteNode(file.pNode);
    for (const DIRECTORY& directory : m_Directories)
        DeleteNode(directory.pNode);
    ReleaseLists();
    if (bAlsoRoot && m_pRoot != nullptr) {
        delete m_pRoot->GetProperties();
        DestroyFileSystemNode(m_pRoot);
        m_pRoot = nullptr;
    }
}

void CExt2TreeBuilder::ReleaseLists()
{
    m_Files.clear();
    m_Directories.clear();
    m_Directories.shrink_to_fit();
    m_Names.clear();
    for (char* pChunk : m_NameChunks)
        FreeMemory(pChunk);
    m_NameChunks.clear();
    m_NameChunks.shrink_to_fit();
    m_nNameChunkFree = 0;
    m_RootNames = NAME_RANGE();
}
