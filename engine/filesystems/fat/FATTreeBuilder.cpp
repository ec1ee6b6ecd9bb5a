#include "FATTreeBuilder.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "ClusterUseBitMap.h"
#include "DataRunList.h"
#include "EngineSettings.h"
#include "FATDBR.h"
#include "FATDirEntry.h"
#include "FATFileProperties.h"
#include "FATTable.h"
#include "FileNode.h"
#include "FileSystemNode.h"
#include "FileTreeWalk.h"
#include "FileTypeStore.h"
#include "GlobalAdvanceSettingData.h"
#include "IStorageDevice.h"
#include "ProgressRecord.h"
#include "RAWTreeBuilder.h"
#include "RawFileInfo.h"
#include "Pubic.h"
#include "Time.h"
#include "Veskel.h"

namespace {

// Directory data is read in stretches of up to 128 contiguous sectors. In front of each stretch
// sits what the previous one left unprocessed: a long-name run whose 8.3 entry lies in the next
// stretch (at most 20 entries, 640 bytes; anything longer than 1023 bytes is not a name).
const uint32_t kMaxStretchSectors = 128;
const size_t kCarryBytes = 1024;
const size_t kMaxCarryBytes = 1023;
const size_t kBufferBytes = kMaxStretchSectors * FAT_SECTOR_BYTES + kCarryBytes;

const size_t kNoRun = static_cast<size_t>(-1);

// Clusters a FAT can number: 2 to 0x0FFFFFEF.
const uint64_t kMaxClusterCount = FAT_LAST_VALID_CLUSTER - FAT_FIRST_DATA_CLUSTER + 1;

// A free cluster's entry is 0 (FAT32 keeps four reserved bits above the 28-bit value).
bool IsFreeEntry(uint32_t nValue)
{
    return (nValue & 0x0FFFFFFF) == 0;
}

// The walks of deleted files look for free clusters in blocks of this many: a block found with
// none is passed in one step by every later walk of the build.
const uint64_t kFreeSearchBlock = 4096;
const uint8_t kBlockNotSearched = 0xFF;

// Folders the reader makes up for directory sectors whose folder entry was not found are named
// "DIR%d" from a counter shared by every build of the process.
std::atomic<int> g_nTemporaryFolderNumber(0);

const char* const kFATTypeNames[] = {"FAT12", "FAT16", "FAT32"};

CFATFileProperties* Props(CFileNode* pNode)
{
    return static_cast<CFATFileProperties*>(pNode->GetProperties());
}

bool IsFolderNode(CFileNode* pNode)
{
    IFileProperties* pProps = pNode->GetProperties();
    return pProps != nullptr && (pProps->GetAttributes() & FILE_ATTR_DIRECTORY) != 0;
}

// True when pAncestor is pNode or lies on its way up to the root.
bool IsSelfOrAncestor(const CFileNode* pAncestor, CFileNode* pNode)
{
    for (CFileNode* p = pNode; p != nullptr; p = p->GetParent())
        if (p == pAncestor)
            return true;
    return false;
}

// Deletes a tree's nodes and their properties, every node after its descendants, without
// recursion (a damaged volume can nest folders deeply).
void DeleteTree(CFileNode* pRoot)
{
    const CFileNodeList order = ListFileTree(pRoot);
    for (size_t i = order.size(); i-- > 0;) {
        delete order[i]->GetProperties();
        DestroyFileNode(order[i]);
    }
}

bool IsClusterSize(uint32_t n)
{
    return n != 0 && n <= 128 && (n & (n - 1)) == 0;
}

// A run list the builder fills for one file after another.
class CReusableFATDataRunList : public CFATDataRunList {
public:
    void Clear()
    {
        m_Runs.clear();
        m_nCursor = 0;
    }
};

} // namespace

typedef std::vector<const FAT_DIR_SECTOR*, CEngineAllocator<const FAT_DIR_SECTOR*>> CDirSectorList;

// Everything one build needs; lives for one build.
class CFATBuildContext : public CEngineObject {
public:
    CFATBuildContext(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel);
    ~CFATBuildContext();
    CFATBuildContext(const CFATBuildContext&) = delete;
    CFATBuildContext& operator=(const CFATBuildContext&) = delete;

    // Progress record and cancel flag.
    void SetTitle(const char* pszTitle);
    void SetDetail(const char* pszDetail);
    void SetPercent(uint32_t nPercent);
    void SetStatusWord(uint32_t nStatus);
    bool IsCancelRequested() const { return ::IsCancelRequested(m_pnCancel); }
    void MarkCancelled();

    // The area after cluster 2 the boot sector or candidate gives, in whole clusters; nothing
    // past it is read or listed.
    void DeriveClusterCount();
    bool IsDataCluster(uint64_t nCluster) const
    {
        return nCluster >= FAT_FIRST_DATA_CLUSTER && nCluster <= FAT_LAST_VALID_CLUSTER &&
               nCluster - FAT_FIRST_DATA_CLUSTER < m_ullClusterCount;
    }
    uint64_t ClusterSector(uint64_t nCluster) const
    {
        return m_ullCluster2 + (nCluster - FAT_FIRST_DATA_CLUSTER) * m_nSectorsPerCluster;
    }
    uint32_t NextCluster(uint32_t nCluster) { return m_pFAT != nullptr ? m_pFAT->GetNextCluster(nCluster) : 0; }
    bool HasFAT() const { return m_pFAT != nullptr && (m_pFAT->GetFAT1() != nullptr || m_pFAT->GetFAT2() != nullptr); }

    bool ReadSectors(uint8_t* pBuffer, uint64_t ullSector, uint64_t ullCount);

    CFileSystemNode* MakeRoot(int32_t nIndex);
    CFileNode* MakeTemporaryFolder(uint32_t nCluster, uint32_t nParentCluster);
    CFileNode* GetLostFolders();

    // The root directory: the FAT32 root chain, or the FAT12/16 root area.
    bool ReadRootDirectory(bool bListAll);
    bool WalkDirectoryChain(CFileNode* pFolder, uint32_t nFirstCluster, bool bAsRoot, bool bListAll);
    // Entries of a buffer under pParent; the offset of what was left unprocessed (an open
    // long-name run), or -1 when the folder is to be abandoned.
    int64_t ProcessEntries(const uint8_t* pBuffer, size_t nLength, CFileNode* pParent, bool bStopAtInvalid,
                           bool bListAll);
    void WalkFolderQueue(bool bListAll);
    void Prune();

    // Complete-build phases.
    void BuildNormalFolders(const CDirSectorList& records);
    void BuildLayout();
    void BuildLostFiles(const CDirSectorList& records);
    void FixDirectories();

    void DeleteResult();

    // Geometry.
    IStorageDevice* m_pDevice;
    int m_nFATType;
    uint64_t m_ullStart;
    uint32_t m_nSectorsPerCluster;
    uint64_t m_ullRootStart;
    uint64_t m_ullRootSectors;
    uint64_t m_ullRootBytes;
    uint32_t m_nRootCluster;
    bool m_bRootKnown;
    uint64_t m_ullCluster2;
    uint64_t m_ullTotalSectors;
    uint64_t m_ullClusterCount;
    CDoubleFATTable* m_pFAT;
    int m_nCancelled;

    // The cluster-use bitmap (complete build only): one bit per data-area cluster index.
    std::vector<uint8_t, CEngineAllocator<uint8_t>> m_UsedBits;
    uint64_t m_ullBitmapClusters;

    CFileSystemNode* m_pRoot;
    CFileNode* m_pLostFolders;

private:
    bool ProcessStretch(CFileNode* pFolder, size_t nNewBytes, bool bListAll, size_t& nCarry);
    // Puts a folder node into the map, or settles which of two folders with one first cluster
    // stays. True when pNode is to be linked under pParent.
    bool AddFolder(CFileNode* pNode, CFileNode* pParent, bool bStopAtInvalid);
    int CompareFolders(CFATFileProperties* pExisting, CFATFileProperties* pNew);
    bool BuildFileRuns(CFATFileProperties* pProps, uint32_t nFirstCluster, uint64_t ullSize, bool bDeleted);
    bool FollowChain(uint32_t nFirstCluster, uint64_t ullSize, bool bUseFAT);
    bool AddRunChecked(uint64_t ullIndex, uint64_t ullLength);
    void MarkRunsUsed();
    // Whether block nBlock of kFreeSearchBlock clusters (counted from cluster 2) holds a free
    // cluster of the volume; each block is searched once per build.
    bool BlockHasFreeCluster(uint64_t nBlock);

    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pnCancel;
    uint8_t* m_pBuffer;
    CReusableFATDataRunList m_Runs;
    // Per block of kFreeSearchBlock clusters: 1 holds a free cluster, 0 none, or kBlockNotSearched.
    std::vector<uint8_t, CEngineAllocator<uint8_t>> m_FreeBlocks;

    typedef std::map<uint32_t, CFileNode*, std::less<uint32_t>, CEngineAllocator<std::pair<const uint32_t, CFileNode*>>>
        CDirectoryMap;
    typedef std::unordered_set<uint32_t, std::hash<uint32_t>, std::equal_to<uint32_t>, CEngineAllocator<uint32_t>>
        CClusterSet;

public:
    CDirectoryMap m_DirectoryMap;
    CClusterSet m_Visited;
    std::deque<CFileNode*, CEngineAllocator<CFileNode*>> m_FolderQueue;
};

CFATBuildContext::CFATBuildContext(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
    : m_pDevice(nullptr), m_nFATType(FAT_TYPE_NONE), m_ullStart(0), m_nSectorsPerCluster(0), m_ullRootStart(0),
      m_ullRootSectors(0), m_ullRootBytes(0), m_nRootCluster(0), m_bRootKnown(false), m_ullCluster2(0),
      m_ullTotalSectors(0), m_ullClusterCount(0), m_pFAT(nullptr), m_nCancelled(0), m_ullBitmapClusters(0),
      m_pRoot(nullptr), m_pLostFolders(nullptr), m_pProgress(pProgress), m_pnCancel(pnCancel),
      m_pBuffer(reinterpret_cast<uint8_t*>(AllocBuffer(kBufferBytes)))
{
}

CFATBuildContext::~CFATBuildContext()
{
    DeleteFATTable(m_pFAT);
    FreeBuffer(m_pBuffer);
}

void CFATBuildContext::SetTitle(const char* pszTitle)
{
    if (m_pProgress != nullptr)
        rvd::ProgressSetTitle(m_pProgress, pszTitle);
}

void CFATBuildContext::SetDetail(const char* pszDetail)
{
    if (m_pProgress != nullptr)
        rvd::ProgressSetDetail(m_pProgress, pszDetail);
}

void CFATBuildContext::SetPercent(uint32_t nPercent)
{
    if (m_pProgress != nullptr)
        rvd::ProgressSetPercent(m_pProgress, nPercent);
}

void CFATBuildContext::SetStatusWord(uint32_t nStatus)
{
    if (m_pProgress != nullptr)
        rvd::ProgressSetStatus(m_pProgress, nStatus);
}

void CFATBuildContext::MarkCancelled()
{
    m_nCancelled = 2;
    SetTitle("Canceling...");
}

void CFATBuildContext::DeriveClusterCount()
{
    const uint64_t ullEnd = m_ullStart + m_ullTotalSectors;
    const uint64_t ullDataSectors = ullEnd > m_ullCluster2 ? ullEnd - m_ullCluster2 : 0;
    m_ullClusterCount = m_nSectorsPerCluster != 0 ? ullDataSectors / m_nSectorsPerCluster : 0;
    if (m_ullClusterCount > kMaxClusterCount)
        m_ullClusterCount = kMaxClusterCount;
}

bool CFATBuildContext::ReadSectors(uint8_t* pBuffer, uint64_t ullSector, uint64_t ullCount)
{
    // A failed read leaves zeros, never the bytes of an earlier read, so nothing stale is
    // taken for directory entries.
    if (m_pDevice->ReadSectors(pBuffer, ullSector, ullCount))
        return true;
    memset(pBuffer, 0, ullCount * FAT_SECTOR_BYTES);
    return false;
}

CFileSystemNode* CFATBuildContext::MakeRoot(int32_t nIndex)
{
    char szName[32];
    const char* pszType = m_nFATType >= FAT_TYPE_FAT12 && m_nFATType <= FAT_TYPE_FAT32 ? kFATTypeNames[m_nFATType]
                                                                                       : "UNKNOWN";
    snprintf(szName, sizeof(szName), "%d %s", nIndex + 1, pszType);
    CFATFileProperties* pProps = CFATFileProperties::Create();
    pProps->SetName(szName);
    pProps->SetAttributes(FILE_ATTR_DIRECTORY);
    pProps->SetStatus(FAT_STATUS_LIVE);
    pProps->SetFirstCluster(0);
    pProps->SetParentCluster(FAT_UNKNOWN_CLUSTER);
    CFileSystemNode* pRoot = CreateFileSystemNode();
    pRoot->SetProperties(pProps);
    pRoot->SetPartitionInfo(m_ullCluster2, static_cast<int32_t>(m_nSectorsPerCluster));
    pRoot->SetFileSystemKind(m_nFATType);
    m_pRoot = pRoot;
    return pRoot;
}

CFileNode* CFATBuildContext::MakeTemporaryFolder(uint32_t nCluster, uint32_t nParentCluster)
{
    char szName[32];
    snprintf(szName, sizeof(szName), "DIR%d", g_nTemporaryFolderNumber.fetch_add(1));
    CFATFileProperties* pProps = CFATFileProperties::Create();
    pProps->SetName(szName);
    pProps->SetAttributes(FILE_ATTR_DIRECTORY);
    pProps->SetStatus(FAT_STATUS_SYNTHETIC);
    pProps->SetFirstCluster(nCluster);
    pProps->SetParentCluster(nParentCluster);
    CFileNode* pNode = CreateFileNode();
    pNode->SetProperties(pProps);
    return pNode;
}

CFileNode* CFATBuildContext::GetLostFolders()
{
    if (m_pLostFolders == nullptr) {
        CFATFileProperties* pProps = CFATFileProperties::Create();
        pProps->SetName("Lost Folders");
        pProps->SetAttributes(FILE_ATTR_DIRECTORY);
        pProps->SetStatus(FAT_STATUS_SYNTHETIC);
        pProps->SetFirstCluster(FAT_UNKNOWN_CLUSTER);
        pProps->SetParentCluster(FAT_UNKNOWN_CLUSTER);
        m_pLostFolders = CreateFileNode();
        m_pLostFolders->SetProperties(pProps);
        m_pRoot->AddChild(m_pLostFolders);
    }
    return m_pLostFolders;
}

bool CFATBuildContext::ReadRootDirectory(bool bListAll)
{
    if (m_nFATType == FAT_TYPE_FAT32)
        return WalkDirectoryChain(m_pRoot, m_nRootCluster, true, bListAll);

    // The FAT12/16 root area, in pieces that fit the buffer whatever size the boot sector claims.
    // Only the entries it claims are taken: the rest of its last sector is not part of the root.
    bool bAnyRead = false;
    size_t nCarry = 0;
    uint64_t ullSector = m_ullRootStart;
    uint64_t ullSectorsLeft = m_ullRootSectors;
    uint64_t ullBytesLeft = m_ullRootBytes;
    while (ullSectorsLeft > 0 && ullBytesLeft > 0) {
        if (IsCancelRequested()) {
            MarkCancelled();
            return bAnyRead;
        }
        const uint64_t ullCount = std::min<uint64_t>(ullSectorsLeft, kMaxStretchSectors);
        if (ReadSectors(m_pBuffer + nCarry, ullSector, ullCount))
            bAnyRead = true;
        const size_t nBytes = static_cast<size_t>(std::min<uint64_t>(ullBytesLeft, ullCount * FAT_SECTOR_BYTES));
        if (!ProcessStretch(m_pRoot, nBytes, bListAll, nCarry))
            break;
        ullSector += ullCount;
        ullSectorsLeft -= ullCount;
        ullBytesLeft -= nBytes;
    }
    return bAnyRead;
}

bool CFATBuildContext::ProcessStretch(CFileNode* pFolder, size_t nNewBytes, bool bListAll, size_t& nCarry)
{
    const size_t nTotal = nCarry + nNewBytes;
    const int64_t llDone = ProcessEntries(m_pBuffer, nTotal, pFolder, false, bListAll);
    if (llDone < 0)
        return false;
    const size_t nLeft = nTotal - static_cast<size_t>(llDone);
    if (nLeft > 0 && nLeft <= kMaxCarryBytes) {
        DebugTrace("Found unproessed buffer, lengh:%d bytes", static_cast<int>(nLeft));
        memmove(m_pBuffer, m_pBuffer + llDone, nLeft);
        nCarry = nLeft;
    } else {
        nCarry = 0;
    }
    return true;
}

bool CFATBuildContext::WalkDirectoryChain(CFileNode* pFolder, uint32_t nFirstCluster, bool bAsRoot, bool bListAll)
{
    size_t nCarry = 0;
    bool bFirstStretch = true;
    uint32_t nCluster = nFirstCluster;
    while (IsDataCluster(nCluster)) {
        // A stretch of consecutive clusters of the chain, up to 128 sectors. It stops before a
        // cluster already read, so a chain that runs into a directory read before is cut there.
        uint32_t nCount = 1;
        uint32_t nLast = nCluster;
        uint32_t nNext = NextCluster(nLast);
        while (nNext == nLast + 1 && (nCount + 1) * m_nSectorsPerCluster <= kMaxStretchSectors &&
               IsDataCluster(nNext) && m_Visited.count(nNext) == 0) {
            nLast = nNext;
            ++nCount;
            nNext = NextCluster(nLast);
        }
        if (IsCancelRequested()) {
            MarkCancelled();
            return false;
        }
        // A loop in the chain, or a directory that was read already.
        if (m_Visited.count(nCluster) != 0)
            return false;
        for (uint32_t i = 0; i < nCount; ++i)
            m_Visited.insert(nCluster + i);

        const uint64_t ullSectors = static_cast<uint64_t>(nCount) * m_nSectorsPerCluster;
        ReadSectors(m_pBuffer + nCarry, ClusterSector(nCluster), ullSectors);
        if (bFirstStretch) {
            CFATDirEntry first(m_pBuffer);
            CFATDirEntry second;
            const bool bDotDot = second.AttachAndCheck(m_pBuffer + FAT_DIR_ENTRY_BYTES) && second.IsDotDotEntry();
            if (bAsRoot ? (first.IsDotEntry() || bDotDot) : !(first.IsDotEntry() && bDotDot))
                return false;
            bFirstStretch = false;
        }
        if (!ProcessStretch(pFolder, static_cast<size_t>(ullSectors * FAT_SECTOR_BYTES), bListAll, nCarry))
            return false;
        nCluster = nNext;
    }
    return true;
}

int64_t CFATBuildContext::ProcessEntries(const uint8_t* pBuffer, size_t nLength, CFileNode* pParent,
                                         bool bStopAtInvalid, bool bListAll)
{
    CFATFileProperties* pParentProps = Props(pParent);
    const bool bParentDeleted = (pParentProps->GetStatus() & FAT_STATUS_DELETED) != 0;
    const uint32_t nParentCluster = pParentProps->GetFirstCluster();
    size_t nRunStart = kNoRun;
    int nDots = 0;
    CFATDirEntry entry;
    for (size_t nOffset = 0; nOffset + FAT_DIR_ENTRY_BYTES <= nLength; nOffset += FAT_DIR_ENTRY_BYTES) {
        const uint8_t* pEntry = pBuffer + nOffset;
        entry.Attach(pEntry);
        if (!entry.IsValid(false)) {
            nRunStart = kNoRun;
            if (bStopAtInvalid)
                return static_cast<int64_t>(nLength);
            continue;
        }
        if (entry.IsLongNameEntry()) {
            if (nRunStart == kNoRun)
                nRunStart = nOffset;
            continue;
        }
        // Every 8.3 entry closes the long-name run in front of it, whether it is listed or not.
        const size_t nRun = nRunStart;
        nRunStart = kNoRun;
        if (entry.IsVolumeLabel()) {
            if (!bStopAtInvalid)
                m_pRoot->SetDescription(entry.GetShortName(true).c_str());
            continue;
        }
        if (pEntry[0] == '.') {
            // "." and ".." open a directory; a third dot entry means this is no directory.
            if (++nDots >= 3)
                return -1;
            continue;
        }
        const bool bFolder = entry.IsDirectory();
        if (!bListAll && !bFolder && !entry.IsDeleted() && !bParentDeleted)
            continue;
        const uint32_t nCluster = entry.GetFirstCluster();
        if (nCluster > FAT_FIRST_DATA_CLUSTER && nCluster - FAT_FIRST_DATA_CLUSTER >= m_ullClusterCount) {
            if (bStopAtInvalid)
                return static_cast<int64_t>(nLength);
            continue;
        }
        if (nCluster == nParentCluster)
            continue;
        const size_t nFrom = nRun != kNoRun ? nRun : nOffset;
        CFATFileProperties* pProps =
            CreatePropertiesFromEntries(pBuffer + nFrom, static_cast<uint32_t>(nOffset + FAT_DIR_ENTRY_BYTES - nFrom));
        if (pProps == nullptr)
            continue;
        if (bParentDeleted)
            pProps->SetStatus(FAT_STATUS_DELETED);
        pProps->SetParentCluster(nParentCluster);
        pProps->SetFirstCluster(nCluster);
        CFileNode* pNode = CreateFileNode();
        pNode->SetProperties(pProps);
        if (bFolder) {
            if (!AddFolder(pNode, pParent, bStopAtInvalid))
                continue;
        } else {
            DebugTrace("Found a File %s!", pProps->GetName());
            // An entry that is not deleted itself, inside a deleted or lost folder, still owns
            // its chain while its first cluster is allocated: the chain is followed. Only a
            // deleted entry's chain was freed and has to be guessed from the free clusters.
            const bool bChainFreed = entry.IsDeleted() || nCluster < FAT_FIRST_DATA_CLUSTER ||
                                     !HasFAT() || IsFreeEntry(NextCluster(nCluster));
            if (!BuildFileRuns(pProps, nCluster, entry.GetFileSize(),
                               (pProps->GetStatus() & FAT_STATUS_DELETED) != 0 && bChainFreed)) {
                DebugTrace("Failed build Datarun list!");
                delete pProps;
                DestroyFileNode(pNode);
                continue;
            }
        }
        pParent->AddChild(pNode);
    }
    if (nRunStart != kNoRun) {
        DebugTrace("Unporcessed long file name directory entry at %d", static_cast<int>(nRunStart));
        return static_cast<int64_t>(nRunStart);
    }
    return static_cast<int64_t>(nLength);
}

int CFATBuildContext::CompareFolders(CFATFileProperties* pExisting, CFATFileProperties* pNew)
{
    const uint8_t nOld = pExisting->GetStatus();
    const uint8_t nNew = pNew->GetStatus();
    if (nOld & FAT_STATUS_TEMPORARY)
        return (nNew & FAT_STATUS_TEMPORARY) ? 0 : -1;
    if (nOld & FAT_STATUS_DELETED) {
        if (nNew & FAT_STATUS_TEMPORARY)
            return 1;
        if (nNew & FAT_STATUS_DELETED)
            return pNew->GetModificationTicks() > pExisting->GetModificationTicks() ? -1 : 0;
        return -1;
    }
    if (nNew & (FAT_STATUS_TEMPORARY | FAT_STATUS_DELETED))
        return 1;
    ReleaseTrace("Some thing must be wrong! \t\t\t\t\t\t\tWe found two undeleted directory got the same first "
                 "cluster number!");
    return 0;
}

bool CFATBuildContext::AddFolder(CFileNode* pNode, CFileNode* pParent, bool bStopAtInvalid)
{
    CFATFileProperties* pNew = Props(pNode);
    const uint32_t nCluster = pNew->GetFirstCluster();
    DebugTrace("Find directory: %s at cluster :%x, parent :%x", pNew->GetName(), nCluster, pNew->GetParentCluster());
    auto it = m_DirectoryMap.find(nCluster);
    if (it == m_DirectoryMap.end()) {
        m_DirectoryMap.emplace(nCluster, pNode);
        m_FolderQueue.push_back(pNode);
        return true;
    }
    CFileNode* pExisting = it->second;
    CFATFileProperties* pOld = Props(pExisting);
    // A folder whose entry names one of the folders it lies in is a directory loop: the folder
    // higher up stays, whatever the comparison says, or the tree would contain itself. The root
    // (filed under cluster 0) is never replaced by an entry that names cluster 0: the tree would
    // lose its root node.
    if (pExisting == m_pRoot || CompareFolders(pOld, pNew) >= 0 || IsSelfOrAncestor(pExisting, pParent)) {
        DebugTrace("Discard a directory named %s, cur:%x, parent:%x", pNew->GetName(), nCluster,
                   pNew->GetParentCluster());
        delete pNew;
        DestroyFileNode(pNode);
        return false;
    }
    DebugTrace("Discard a directory named %s, cur: %x, parent:%x", pOld->GetName(), pOld->GetFirstCluster(),
               pOld->GetParentCluster());
    if (bStopAtInvalid) {
        pNew->SetParentCluster(pOld->GetParentCluster());
        delete pOld;
        pExisting->SetProperties(pNew);
        DestroyFileNode(pNode);
        return false;
    }
    delete pOld;
    pExisting->SetProperties(nullptr);
    if (CFileNode* pOldParent = pExisting->GetParent())
        pOldParent->RemoveChild(pExisting);
    while (CFileNode* pChild = pExisting->GetFirstChild()) {
        pExisting->RemoveChild(pChild);
        pNode->AddChild(pChild);
    }
    it->second = pNode;
    auto itQueued = std::find(m_FolderQueue.begin(), m_FolderQueue.end(), pExisting);
    if (itQueued != m_FolderQueue.end())
        m_FolderQueue.erase(itQueued);
    DestroyFileNode(pExisting);
    m_FolderQueue.push_back(pNode);
    return true;
}

bool CFATBuildContext::AddRunChecked(uint64_t ullIndex, uint64_t ullLength)
{
    if (ullIndex + ullLength > m_ullClusterCount) {
        DebugTrace("File overflows partition!");
        return false;
    }
    m_Runs.AddRun(DATA_RUN(ullIndex, ullLength));
    return true;
}

bool CFATBuildContext::FollowChain(uint32_t nFirstCluster, uint64_t ullSize, bool bUseFAT)
{
    const uint64_t ullClusterBytes = static_cast<uint64_t>(m_nSectorsPerCluster) * FAT_SECTOR_BYTES;
    if (nFirstCluster < FAT_FIRST_DATA_CLUSTER || nFirstCluster > FAT_END_OF_CHAIN - 1) {
        // An empty file owns no cluster; it keeps one run of no clusters so that it is listed.
        if (nFirstCluster < FAT_FIRST_DATA_CLUSTER && ullSize == 0) {
            m_Runs.AddRun(DATA_RUN(0, 0));
            return true;
        }
        return false;
    }
    uint64_t ullRunStart = nFirstCluster - FAT_FIRST_DATA_CLUSTER;
    uint64_t ullRunLength = 1;
    uint64_t ullBytesBefore = 0;
    uint32_t nCurrent = nFirstCluster;
    // A chain longer than the volume has clusters runs in a loop (FAT12 copies are not checked
    // for loops); it is ended there like a chain that ends early.
    uint64_t ullSteps = 0;
    for (;;) {
        const uint32_t nNext = bUseFAT ? NextCluster(nCurrent) : 0;
        if (nNext < FAT_FIRST_DATA_CLUSTER || nNext > FAT_END_OF_CHAIN - 1 || ++ullSteps > m_ullClusterCount) {
            // The file goes on contiguously from the last run to its size.
            const uint64_t ullLeft = ullSize > ullBytesBefore ? ullSize - ullBytesBefore : 0;
            return AddRunChecked(ullRunStart, (ullLeft + ullClusterBytes - 1) / ullClusterBytes);
        }
        if (nNext == nCurrent + 1) {
            ++ullRunLength;
            nCurrent = nNext;
            continue;
        }
        if (!AddRunChecked(ullRunStart, ullRunLength))
            return false;
        ullBytesBefore += ullRunLength * ullClusterBytes;
        if (ullBytesBefore >= ullSize)
            return true;
        ullRunStart = nNext - FAT_FIRST_DATA_CLUSTER;
        ullRunLength = 1;
        nCurrent = nNext;
    }
}

void CFATBuildContext::MarkRunsUsed()
{
    if (m_UsedBits.empty())
        return;
    for (size_t i = 0; i < m_Runs.GetRunCount(); ++i) {
        const DATA_RUN& run = m_Runs.GetRun(i);
        for (uint64_t n = 0; n < run.ullLength && run.ullStart + n < m_ullBitmapClusters; ++n)
            SetClusterBit(m_UsedBits.data(), run.ullStart + n);
    }
}

bool CFATBuildContext::BlockHasFreeCluster(uint64_t nBlock)
{
    if (m_FreeBlocks.empty())
        m_FreeBlocks.assign((m_ullClusterCount + kFreeSearchBlock - 1) / kFreeSearchBlock, kBlockNotSearched);
    uint8_t& nState = m_FreeBlocks[nBlock];
    if (nState == kBlockNotSearched) {
        nState = 0;
        const uint64_t ullEnd = std::min(m_ullClusterCount, (nBlock + 1) * kFreeSearchBlock);
        for (uint64_t n = nBlock * kFreeSearchBlock; n < ullEnd && nState == 0; ++n)
            if (IsFreeEntry(NextCluster(static_cast<uint32_t>(n + FAT_FIRST_DATA_CLUSTER))))
                nState = 1;
    }
    return nState == 1;
}

bool CFATBuildContext::BuildFileRuns(CFATFileProperties* pProps, uint32_t nFirstCluster, uint64_t ullSize, bool bDeleted)
{
    m_Runs.Clear();
    if (bDeleted && HasFAT()) {
        // The deleted file's chain is gone: it is taken to lie in the free clusters from its first
        // cluster upwards. A cluster whose entry is not free (in a chain, bad, or ending a chain)
        // belongs to something else and is passed over, the first one included: a file written
        // since then over the deleted one's start, or between two of its pieces, is never copied
        // into it. When the start was taken, what is given back begins with the later clusters
        // that are still free. The walk ends at the volume's last cluster whatever the FAT holds;
        // a block of clusters with none free is passed at once.
        const uint64_t ullClusterBytes = static_cast<uint64_t>(m_nSectorsPerCluster) * FAT_SECTOR_BYTES;
        uint64_t ullGathered = 0;
        for (uint64_t nCluster = nFirstCluster; ullGathered < ullSize && IsDataCluster(nCluster); ++nCluster) {
            const uint64_t nBlock = (nCluster - FAT_FIRST_DATA_CLUSTER) / kFreeSearchBlock;
            if (!BlockHasFreeCluster(nBlock)) {
                nCluster = (nBlock + 1) * kFreeSearchBlock + FAT_FIRST_DATA_CLUSTER - 1;
                continue;
            }
            if (!IsFreeEntry(NextCluster(static_cast<uint32_t>(nCluster))))
                continue;
            m_Runs.AddRun(DATA_RUN(nCluster - FAT_FIRST_DATA_CLUSTER, 1));
            ullGathered += ullClusterBytes;
        }
        if (m_Runs.GetRunCount() == 0)
            return false;
    } else {
        if (!FollowChain(nFirstCluster, ullSize, !bDeleted))
            return false;
        MarkRunsUsed();
    }
    pProps->PackDataRuns(&m_Runs);
    return pProps->HasDataRuns();
}

void CFATBuildContext::WalkFolderQueue(bool bListAll)
{
    uint64_t ullCount = 0;
    uint32_t nShown = 0;
    while (!m_FolderQueue.empty()) {
        CFileNode* pFolder = m_FolderQueue.front();
        m_FolderQueue.pop_front();
        ++ullCount;
        const uint32_t nPercent = static_cast<uint32_t>(ullCount * 100 / (ullCount + m_FolderQueue.size()));
        if (nPercent > nShown) {
            nShown = nPercent;
            SetPercent(nPercent);
        }
        if (IsCancelRequested()) {
            MarkCancelled();
            return;
        }
        if (pFolder->GetFirstChild() != nullptr)
            continue;
        if (!WalkDirectoryChain(pFolder, Props(pFolder)->GetFirstCluster(), false, bListAll) && m_nCancelled == 2)
            return;
    }
}

void CFATBuildContext::Prune()
{
    if (m_pRoot == nullptr)
        return;
    // The walk descends only into the folders this loop keeps.
    CFileTreeWalk walk(m_pRoot, IsFolderNode);
    for (CFileNode* pFolder = walk.Next(); pFolder != nullptr; pFolder = walk.Next()) {
        CFileNode* pChild = pFolder->GetFirstChild();
        while (pChild != nullptr) {
            CFileNode* pNextSibling = pChild->GetNextSibling();
            IFileProperties* pProps = pChild->GetProperties();
            if (IsFolderNode(pChild)) {
                if ((pProps->GetStatus() & FAT_STATUS_DELETED) && pChild->GetFirstChild() == nullptr) {
                    if (pChild == m_pLostFolders)
                        m_pLostFolders = nullptr;
                    pFolder->RemoveChild(pChild);
                    delete pProps;
                    DestroyFileNode(pChild);
                }
            }
            pChild = pNextSibling;
        }
    }
}

void CFATBuildContext::BuildNormalFolders(const CDirSectorList& records)
{
    SetTitle("Phase 2 of 5");
    SetDetail("Building normal files...");
    size_t nDone = 0;
    for (const FAT_DIR_SECTOR* pRecord : records) {
        ++nDone;
        SetPercent(static_cast<uint32_t>(nDone * 100 / records.size()));
        if (pRecord->nDotCluster == FAT_DIR_SECTOR_NO_CLUSTER)
            continue;
        const uint64_t ullOffset = pRecord->ullSector - m_ullCluster2;
        if (ullOffset % m_nSectorsPerCluster != 0 ||
            ullOffset / m_nSectorsPerCluster + FAT_FIRST_DATA_CLUSTER != pRecord->nDotCluster)
            continue;
        const uint32_t nCluster = pRecord->nDotCluster;
        DebugTrace("Build Cluster %u Sector %" PRIu64, nCluster, pRecord->ullSector);
        CFileNode* pFolder;
        auto it = m_DirectoryMap.find(nCluster);
        if (it != m_DirectoryMap.end()) {
            pFolder = it->second;
        } else {
            pFolder = MakeTemporaryFolder(nCluster, pRecord->nDotDotCluster);
            m_DirectoryMap.emplace(nCluster, pFolder);
        }
        const bool bWalked = WalkDirectoryChain(pFolder, nCluster, false, true);
        m_FolderQueue.clear();
        if (!bWalked && m_nCancelled == 2)
            return;
    }
}

void CFATBuildContext::BuildLayout()
{
    SetTitle("Phase 3 of 5");
    SetDetail("Building layout...");
    SetPercent(100);
    size_t nDone = 0;
    const size_t nTotal = m_DirectoryMap.size();
    for (auto& entry : m_DirectoryMap) {
        ++nDone;
        SetPercent(static_cast<uint32_t>(nDone * 100 / nTotal));
        CFileNode* pFolder = entry.second;
        if (pFolder == m_pRoot || pFolder->GetParent() != nullptr)
            continue;
        const uint32_t nParentCluster = Props(pFolder)->GetParentCluster();
        if (nParentCluster == FAT_UNKNOWN_CLUSTER)
            continue;
        auto itParent = m_DirectoryMap.find(nParentCluster);
        // Two folders that name each other as parent (or one that names itself) would form a
        // ring apart from the root; such a folder goes to the lost folders instead.
        if (itParent != m_DirectoryMap.end() && !IsSelfOrAncestor(pFolder, itParent->second))
            itParent->second->AddChild(pFolder);
        else
            GetLostFolders()->AddChild(pFolder);
    }
}

void CFATBuildContext::BuildLostFiles(const CDirSectorList& records)
{
    GetLostFolders();
    SetTitle("Phase 4 of 5");
    SetDetail("Building lost files...");
    SetStatusWord(0);
    const uint64_t ullClusterSectors = m_nSectorsPerCluster;
    size_t nDone = 0;
    for (const FAT_DIR_SECTOR* pRecord : records) {
        ++nDone;
        SetPercent(static_cast<uint32_t>(nDone * 100 / records.size()));
        if (pRecord->nDotCluster != FAT_DIR_SECTOR_NO_CLUSTER)
            continue;
        const uint64_t ullOffset = pRecord->ullSector - m_ullCluster2;
        if (ullOffset % m_nSectorsPerCluster != 0)
            continue;
        const uint64_t ullCluster = ullOffset / m_nSectorsPerCluster + FAT_FIRST_DATA_CLUSTER;
        if (ullCluster <= FAT_LAST_VALID_CLUSTER && m_Visited.count(static_cast<uint32_t>(ullCluster)) != 0)
            continue;
        if (IsCancelRequested()) {
            MarkCancelled();
            return;
        }
        if (!ReadSectors(m_pBuffer, pRecord->ullSector, ullClusterSectors))
            continue;
        DebugTrace("Build Lost Cluster %" PRIu64 " Sector %" PRIu64, ullCluster, pRecord->ullSector);
        CFileNode* pFolder = MakeTemporaryFolder(FAT_UNKNOWN_CLUSTER, FAT_UNKNOWN_CLUSTER);
        GetLostFolders()->AddChild(pFolder);
        ProcessEntries(m_pBuffer, static_cast<size_t>(ullClusterSectors * FAT_SECTOR_BYTES), pFolder, true, true);
        m_FolderQueue.clear();
    }
    SetPercent(100);
}

void CFATBuildContext::FixDirectories()
{
    SetTitle("Phase 5 of 5");
    SetDetail("Fixing directories...");
    std::vector<CFileNode*, CEngineAllocator<CFileNode*>> emptyDeleted;
    std::vector<CFileNode*, CEngineAllocator<CFileNode*>> temporary;
    CFileTreeWalk walk(m_pRoot, IsFolderNode);
    uint64_t ullCount = 0;
    uint32_t nShown = 0;
    for (CFileNode* pFolder = walk.Next(); pFolder != nullptr; pFolder = walk.Next()) {
        ++ullCount;
        if (ullCount > 6) {
            const uint32_t nPercent = static_cast<uint32_t>(ullCount * 100 / (ullCount + walk.GetPending()));
            if (nPercent > nShown) {
                nShown = nPercent;
                SetPercent(nPercent);
            }
        }
        emptyDeleted.clear();
        temporary.clear();
        for (CFileNode* pChild = pFolder->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling()) {
            if (!IsFolderNode(pChild))
                continue;
            const uint8_t nStatus = pChild->GetProperties()->GetStatus();
            // Only the folders made for directory sectors know their cluster; "Lost Folders" and
            // the folders of lost clusters do not.
            if (nStatus & FAT_STATUS_TEMPORARY) {
                if (Props(pChild)->GetFirstCluster() != FAT_UNKNOWN_CLUSTER)
                    temporary.push_back(pChild);
            }
            else if ((nStatus & FAT_STATUS_DELETED) && pChild->GetFirstChild() == nullptr)
                emptyDeleted.push_back(pChild);
        }
        // A deleted folder whose entry lost the high word of its first cluster found nothing at
        // the cluster it names; the folder read from its directory sectors under a made-up name
        // is most likely it.
        for (CFileNode* pEmpty : emptyDeleted) {
            CFATFileProperties* pEmptyProps = Props(pEmpty);
            for (CFileNode*& pTemporary : temporary) {
                if (pTemporary == nullptr)
                    continue;
                CFATFileProperties* pTempProps = Props(pTemporary);
                if ((pTempProps->GetFirstCluster() & 0xFFFF) != (pEmptyProps->GetFirstCluster() & 0xFFFF))
                    continue;
                DebugTrace("Replace a temp directory %s first clusternum %x with directory %s firstclusternum %x!",
                           pTempProps->GetName(), pTempProps->GetFirstCluster(), pEmptyProps->GetName(),
                           pEmptyProps->GetFirstCluster());
                pEmptyProps->SetFirstCluster(pTempProps->GetFirstCluster());
                pTemporary->SetProperties(pEmptyProps);
                pEmpty->SetProperties(pTempProps);
                pTemporary = nullptr;
                break;
            }
        }
    }
    SetPercent(100);
}

void CFATBuildContext::DeleteResult()
{
    DeleteTree(m_pRoot);
    m_pRoot = nullptr;
    m_pLostFolders = nullptr;
    m_DirectoryMap.clear();
    m_FolderQueue.clear();
}

// ----- builder --------------------------------------------------------------------------------

namespace {

// The boot-sector check of the quick build: a valid FAT boot sector whose FATs fit into the
// volume it describes, and a FAT start where it says FAT1 or FAT2 begins.
bool CheckBootSector(IStorageDevice* pDevice, uint64_t ullStart, const CFATDBR& dbr)
{
    if (!dbr.IsValid())
        return false;
    if (dbr.GetTotalSectors() < static_cast<uint64_t>(dbr.GetFATCount()) * dbr.GetSectorsPerFAT())
        return false;
    uint8_t abySector[FAT_SECTOR_BYTES];
    const uint64_t ullFAT1 = ullStart + dbr.GetReservedSectors();
    if (pDevice->ReadSectors(abySector, ullFAT1, 1) && IsFATStartSector(abySector, sizeof(abySector)))
        return true;
    return pDevice->ReadSectors(abySector, ullFAT1 + dbr.GetSectorsPerFAT(), 1) &&
           IsFATStartSector(abySector, sizeof(abySector));
}

bool ReadBootSector(IStorageDevice* pDevice, uint64_t ullSector, uint64_t ullStart, uint8_t* pSector)
{
    if (!pDevice->ReadSectors(pSector, ullSector, 1)) {
        memset(pSector, 0, FAT_SECTOR_BYTES);
        return false;
    }
    CFATDBR dbr(pSector, FAT_SECTOR_BYTES);
    return CheckBootSector(pDevice, ullStart, dbr);
}

} // namespace

CFATTreeBuilder::CFATTreeBuilder() : m_pProgress(nullptr), m_pnCancel(nullptr)
{
}

CFATTreeBuilder::~CFATTreeBuilder()
{
}

void CFATTreeBuilder::SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
{
    m_pProgress = pProgress;
    m_pnCancel = pnCancel;
}

CFileSystemNode* CFATTreeBuilder::BuildRawFileTree(int32_t nMode, CRawFileInfoContainer* pCarved,
                                                   IStorageDevice* pDevice, IIsClusterUsed* pClusterUse)
{
    (void)nMode;
    if (pCarved == nullptr)
        return nullptr;
    CRAWTreeBuilder builder;
    builder.SetProgress(m_pProgress, m_pnCancel);
    return builder.BuildTree(pDevice, pCarved->GetIterator(), pClusterUse, 0);
}

CFileSystemNode* CFATTreeBuilder::BuildTree(int32_t nMode, CFATSearchedPartitionInfo* pInfo, IStorageDevice* pDevice,
                                            int32_t bListAllEntries)
{
    (void)nMode;
    const DWORD dwStartTick = rvd::GetTickCount();
    if (pInfo == nullptr || pDevice == nullptr)
        return nullptr;
    CFATBuildContext context(m_pProgress, m_pnCancel);
    context.m_pDevice = pDevice;
    context.SetTitle("Phase 1 of 2");
    context.SetDetail("Reading partition parameters...");
    context.SetPercent(10);
    context.SetStatusWord(0);

    const uint64_t ullStart = pInfo->m_ullStartSector;
    const uint32_t nFlags = pInfo->m_nFlags;
    uint8_t abyBoot[FAT_SECTOR_BYTES] = {};
    bool bBootOk = false;
    if (nFlags & FAT_EVIDENCE_PRIMARY_BOOT)
        bBootOk = ReadBootSector(pDevice, ullStart, ullStart, abyBoot);
    context.SetPercent(30);
    // The FAT32 backup boot sector, six (logical) sectors into the partition: a copy found six
    // 4096-byte sectors in counts for a volume of such sectors only.
    for (uint32_t nScale = 1; !bBootOk && (nFlags & FAT_EVIDENCE_BACKUP_FAT32) && nScale <= 8; nScale *= 2)
        bBootOk = ReadBootSector(pDevice, ullStart + 6ull * nScale, ullStart, abyBoot) &&
                  CFATDBR(abyBoot, sizeof(abyBoot)).GetSectorScale() == nScale;
    context.SetPercent(60);
    if (!bBootOk) {
        ReleaseTrace("Failed to read DBR information!");
        context.SetDetail("Failed to read DBR information!");
        context.SetPercent(100);
        context.SetStatusWord(FAT_BUILD_ERROR_NO_BOOT_SECTOR);
        return nullptr;
    }
    const CFATDBR dbr(abyBoot, sizeof(abyBoot));
    context.m_nFATType = dbr.GetFATType();
    context.m_ullStart = ullStart;
    context.m_nSectorsPerCluster = dbr.GetSectorsPerCluster();
    context.m_ullTotalSectors = dbr.GetTotalSectors();
    const uint64_t ullFAT1 = ullStart + dbr.GetReservedSectors();
    context.m_pFAT = CreateDoubleFATTable(pDevice, ullFAT1, context.m_nFATType, dbr.GetSectorsPerFAT(),
                                          (nFlags & FAT_EVIDENCE_FAT1_USABLE) != 0,
                                          (nFlags & FAT_EVIDENCE_FAT2_USABLE) != 0);
    context.SetPercent(100);
    if (context.IsCancelRequested()) {
        context.SetTitle("Canceling...");
        ReleaseTrace("User abort searching!");
        return nullptr;
    }

    const uint64_t ullAfterFATs = ullFAT1 + static_cast<uint64_t>(dbr.GetFATCount()) * dbr.GetSectorsPerFAT();
    if (context.m_nFATType == FAT_TYPE_FAT32) {
        context.m_ullCluster2 = ullAfterFATs;
        context.m_nRootCluster = dbr.GetRootCluster();
    } else {
        // The root area takes whole sectors: a root-entry count that is not a multiple of 16
        // still fills its last sector, and cluster 2 starts after it.
        context.m_ullRootStart = ullAfterFATs;
        context.m_ullRootSectors = dbr.GetRootDirSectors();
        context.m_ullRootBytes = static_cast<uint64_t>(dbr.GetRootEntryCount()) * FAT_DIR_ENTRY_BYTES;
        context.m_ullCluster2 = ullAfterFATs + context.m_ullRootSectors;
    }
    context.m_bRootKnown = true;
    context.DeriveClusterCount();

    context.SetTitle("Phase 2 of 2");
    context.SetDetail("Building Directories...");
    context.SetPercent(1);
    CFileSystemNode* pRoot = context.MakeRoot(0);
    const bool bListAll = bListAllEntries != 0;
    if (context.ReadRootDirectory(bListAll) || context.m_pRoot->GetFirstChild() != nullptr)
        context.WalkFolderQueue(bListAll);
    if (context.m_nCancelled == 2 || context.IsCancelRequested()) {
        context.SetTitle("Canceling...");
        context.DeleteResult();
        pRoot = nullptr;
    } else {
        context.Prune();
    }
    ReleaseTrace("FAT Quick Build directory tree used %d millseconds!",
                 static_cast<int>(rvd::GetTickCount() - dwStartTick));
    return pRoot;
}

CFileSystemNode* CFATTreeBuilder::BuildTreeFromSearch(int32_t nMode, const CFATDirSectorMap& dirSectors,
                                                      CFATSearchedPartitionInfo* pInfo, CRawFileInfoContainer* pCarved,
                                                      IStorageDevice* pDevice, int32_t nIndex)
{
    const DWORD dwStartTick = rvd::GetTickCount();
    if (pInfo == nullptr || pDevice == nullptr)
        return nullptr;
    CFATBuildContext context(m_pProgress, m_pnCancel);
    context.m_pDevice = pDevice;
    context.SetTitle("Phase 1 of 5");
    context.SetDetail("Reading partition parameters...");
    context.SetStatusWord(0);

    const uint32_t nFlags = pInfo->m_nFlags;
    context.m_nFATType = pInfo->m_nFileSystemKind;
    context.m_ullStart = pInfo->m_ullStartSector;
    context.m_nSectorsPerCluster = pInfo->m_bySectorsPerCluster;
    context.m_ullCluster2 = pInfo->m_ullEvidenceSector;
    context.m_ullTotalSectors = pInfo->m_ullSectorCount;
    // A candidate that names no FAT type or no cluster size describes no volume that can be read.
    if (context.m_nFATType < FAT_TYPE_FAT12 || context.m_nFATType > FAT_TYPE_FAT32 ||
        !IsClusterSize(context.m_nSectorsPerCluster)) {
        ReleaseTrace("Failed to read DBR information!");
        return nullptr;
    }
    const uint64_t ullFAT1 = context.m_ullStart + pInfo->m_wReservedSectors;
    context.m_pFAT = CreateDoubleFATTable(pDevice, ullFAT1, context.m_nFATType, pInfo->m_nSectorsPerFAT,
                                          (nFlags & FAT_EVIDENCE_FAT1_USABLE) != 0,
                                          (nFlags & FAT_EVIDENCE_FAT2_USABLE) != 0);
    context.SetPercent(50);
    if (nFlags & FAT_EVIDENCE_ANY_BOOT) {
        context.m_bRootKnown = true;
        if (context.m_nFATType == FAT_TYPE_FAT32) {
            context.m_nRootCluster = pInfo->m_nRootInfo;
        } else {
            // The root area ends where cluster 2 starts, whatever number of FATs lies before it
            // (mkfs.fat makes volumes of one FAT, or of more than two); two FATs are assumed only
            // when cluster 2 does not leave room for the root after the first FAT.
            const uint64_t ullRootSectors = pInfo->m_nRootInfo;
            context.m_ullRootStart = ullFAT1 + 2 * static_cast<uint64_t>(pInfo->m_nSectorsPerFAT);
            if (context.m_ullCluster2 >= ullRootSectors &&
                context.m_ullCluster2 - ullRootSectors >= ullFAT1 + pInfo->m_nSectorsPerFAT)
                context.m_ullRootStart = context.m_ullCluster2 - ullRootSectors;
            context.m_ullRootSectors = pInfo->m_nRootInfo;
            context.m_ullRootBytes = context.m_ullRootSectors * FAT_SECTOR_BYTES;
        }
    }
    context.SetPercent(100);
    context.DeriveClusterCount();
    context.m_ullBitmapClusters = context.m_ullClusterCount + 3;
    context.m_UsedBits.assign(ClusterBitmapBytes(context.m_ullBitmapClusters), 0);

    CFileSystemNode* pRoot = context.MakeRoot(nIndex);
    // Folders in the root name cluster 0 as their parent ("..").
    context.m_DirectoryMap[0] = pRoot;
    if (context.m_bRootKnown) {
        context.ReadRootDirectory(true);
        context.m_FolderQueue.clear();
        if (context.m_nCancelled == 2) {
            context.DeleteResult();
            return nullptr;
        }
    }

    const uint64_t ullEnd = context.m_ullStart + context.m_ullTotalSectors;
    CDirSectorList records;
    for (auto it = dirSectors.lower_bound(context.m_ullCluster2); it != dirSectors.end() && it->first < ullEnd; ++it)
        records.push_back(&it->second);
    if (records.empty())
        return pRoot;

    context.BuildNormalFolders(records);
    if (context.m_nCancelled != 2) {
        context.BuildLayout();
        context.BuildLostFiles(records);
    }
    if (context.m_nCancelled != 2)
        context.FixDirectories();
    if (context.m_nCancelled == 2 || context.IsCancelRequested()) {
        context.SetTitle("Canceling...");
        context.DeleteResult();
        return nullptr;
    }

    CLUSTER_BITMAP_INFO bitmapInfo;
    bitmapInfo.pUsedBits = context.m_UsedBits.data();
    bitmapInfo.ullPartitionStart = context.m_ullCluster2;
    bitmapInfo.nSectorsPerCluster = static_cast<uint8_t>(context.m_nSectorsPerCluster);
    bitmapInfo.ullClusterCount = context.m_ullClusterCount;
    CClusterUseBitMap bitmap(bitmapInfo);
    if (GetEngineSettings()->m_bScanRaw != 0) {
        if (CFileSystemNode* pRawRoot = BuildRawFileTree(nMode, pCarved, pDevice, &bitmap))
            pRoot->AddChild(pRawRoot);
    }
    context.Prune();
    ReleaseTrace("FAT Complete Build directory tree used %d millseconds!",
                 static_cast<int>(rvd::GetTickCount() - dwStartTick));
    return pRoot;
}

CFATFileProperties* CreateFATFileProperties(const char* pszName, const uint8_t* pEntry)
{
    if (pszName == nullptr || pEntry == nullptr)
        return nullptr;
    const CFATDirEntry entry(pEntry);
    const uint8_t nAttributes = entry.GetAttributes();
    const bool bFolder = (nAttributes & (FAT_ATTR_DIRECTORY | FAT_ATTR_VOLUME_LABEL)) != 0;
    if (!CPubic::GetScanTypeFilter().CheckFilter(pszName, bFolder))
        return nullptr;
    CFATFileProperties* pProps = CFATFileProperties::Create();
    pProps->SetName(pszName);
    pProps->SetSize(entry.GetFileSize());
    pProps->SetAttributes(nAttributes);
    pProps->SetCreationTime(entry.GetCreationDate(), entry.GetCreationTime());
    pProps->SetModificationTime(entry.GetModificationDate(), entry.GetModificationTime());
    pProps->SetAccessTime(entry.GetAccessDate());
    pProps->SetStatus(entry.IsDeleted() ? FAT_STATUS_DELETED : FAT_STATUS_LIVE);
    pProps->SetCheckState(0);
    pProps->SetFlag(0);
    return pProps;
}

CFATFileProperties* CreatePropertiesFromEntries(const uint8_t* pEntries, uint32_t nLength)
{
    std::string strName;
    size_t nShortOffset = 0;
    if (!GetNameFromEntries(pEntries, nLength, strName, &nShortOffset))
        return nullptr;
    return CreateFATFileProperties(strName.c_str(), pEntries + nShortOffset);
}
