#include "NTFSDirectoryTreeAssembler.h"

#include <cstdio>
#include <cstring>
#include <deque>

#include "FileNode.h"
#include "FileSystemNode.h"
#include "FileTreeWalk.h"
#include "MFTFileRecordSet.h"
#include "MFTRecordInfo.h"
#include "NTFSFileProperties.h"
#include "NTFSFileRecordItem.h"
#include "NTFSRecordMapping.h"
#include "ProgressRecord.h"

namespace {

const uint64_t kRootFolderNumber = 5;
// Records 0 to 24 belong to the system files; none of them is a folder of the user's files.
const uint64_t kLastReservedRecord = 24;
// Longest label (in characters) that becomes the root's description.
const size_t kMaxLabelCharacters = 64;

// One build at a time (the engine scans on one thread), as the folder names of one build count
// on from 1.
int g_nLostFilesCounter = 0;

size_t Utf8Characters(const char* psz)
{
    size_t nCount = 0;
    for (; *psz != 0; ++psz)
        if ((static_cast<unsigned char>(*psz) & 0xC0) != 0x80)
            ++nCount;
    return nCount;
}

CNTFSFileRecordItem* ItemOf(CFileNode* pNode)
{
    return static_cast<CNTFSFileRecordItem*>(pNode->GetExtraData());
}

} // namespace

void ResetNTFSLostFilesCounter()
{
    g_nLostFilesCounter = 0;
}

CFileNode* CreateNTFSItemNode(CNTFSFileRecordItem* pItem)
{
    if (pItem == nullptr || pItem->m_pProperties == nullptr)
        return nullptr;
    CFileNode* pNode = CreateFileNode();
    pNode->SetExtraData(pItem);
    pNode->SetProperties(pItem->TakeProperties());
    return pNode;
}

CNTFSDirectoryTreeAssembler::CNTFSDirectoryTreeAssembler(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel,
                                                         uint32_t nTotal)
    : m_pProgress(pProgress), m_pnCancel(pnCancel), m_nTotal(nTotal), m_nCount(0), m_bCancelled(false)
{
}

bool CNTFSDirectoryTreeAssembler::CheckCancel()
{
    if (!IsCancelRequested(m_pnCancel))
        return false;
    m_bCancelled = true;
    if (m_pProgress != nullptr)
        rvd::ProgressSetTitle(m_pProgress, "Canceling...");
    return true;
}

void CNTFSDirectoryTreeAssembler::StepProgress()
{
    if (m_pProgress != nullptr && m_nTotal != 0) {
        const uint64_t ullPercent = static_cast<uint64_t>(m_nCount) * 100 / m_nTotal;
        rvd::ProgressSetPercent(m_pProgress, static_cast<DWORD>(ullPercent > 100 ? 100 : ullPercent));
        ++m_nCount;
    }
}

CFileNode* CNTFSDirectoryTreeAssembler::Assemble(CMFTFileRecordSet* pSet, uint64_t ullPartitionStart)
{
    if (pSet == nullptr)
        return nullptr;
    CFileNode* pRoot = pSet->GetRoot();
    if (CheckCancel())
        return pRoot;
    CNTFSItemsByParent items;
    for (CNTFSFileRecordItem* pItem : pSet->GetItems())
        items.emplace(pItem->m_ullParentNumber, pItem);

    // Breadth first from the root folder. Every item is looked at once and leaves the set, so
    // a folder that names itself or a loop of folders cannot make the walk go round.
    struct PENDING {
        CFileNode* pNode;
        uint64_t ullNumber;
    };
    std::deque<PENDING, CEngineAllocator<PENDING>> queue;
    queue.push_back(PENDING{pRoot, kRootFolderNumber});
    bool bStopped = false;
    while (!queue.empty() && !bStopped) {
        const PENDING current = queue.front();
        queue.pop_front();
        for (auto it = items.lower_bound(current.ullNumber); it != items.end() && it->first == current.ullNumber;) {
            CNTFSFileRecordItem* pItem = it->second;
            if (CFileNode* pNode = CreateNTFSItemNode(pItem)) {
                current.pNode->AddChild(pNode);
                if (pItem->m_bIsDirectory) {
                    uint64_t ullNumber = pItem->m_ullRecordNumber;
                    if (ullNumber == NTFS_NO_RECORD_NUMBER && pSet->GetMFT() != nullptr)
                        ullNumber = SectorToRecordNumber(pItem->m_ullRecordSector, ullPartitionStart, *pSet->GetMFT(),
                                                         pSet->GetMFT()->m_bySectorsPerCluster);
                    queue.push_back(PENDING{pNode, ullNumber});
                }
                StepProgress();
            }
            it = items.erase(it);
            if (CheckCancel()) {
                bStopped = true;
                break;
            }
        }
        if (!bStopped && CheckCancel())
            bStopped = true;
    }
    if (!bStopped) {
        if (CFileNode* pLost = BuildLostFiles(items))
            pRoot->AddChild(pLost);
    }
    items.clear();
    return pRoot;
}

CFileNode* CNTFSDirectoryTreeAssembler::BuildLostFiles(CNTFSItemsByParent& items, CFileNode* pRootFolder)
{
    if (CheckCancel())
        return nullptr;

    // Each left node with the root of the tree it currently belongs to (a union-find forest, so
    // that telling whether a node is an ancestor of a folder costs no walk up a long chain).
    struct LEFT {
        CFileNode* pNode;
        size_t nTreeRoot;
    };
    std::vector<LEFT, CEngineAllocator<LEFT>> left;
    std::multimap<uint64_t, size_t, std::less<uint64_t>, CEngineAllocator<std::pair<const uint64_t, size_t>>> byParent;
    for (auto& entry : items) {
        CFileNode* pNode = CreateNTFSItemNode(entry.second);
        if (pNode == nullptr)
            continue;
        left.push_back(LEFT{pNode, left.size()});
        byParent.emplace(entry.first, left.size() - 1);
    }
    auto findRoot = [&left](size_t n) {
        size_t nRoot = n;
        while (left[nRoot].nTreeRoot != nRoot)
            nRoot = left[nRoot].nTreeRoot;
        while (left[n].nTreeRoot != nRoot) {
            const size_t nNext = left[n].nTreeRoot;
            left[n].nTreeRoot = nRoot;
            n = nNext;
        }
        return nRoot;
    };

    for (const auto& folderEntry : byParent) {
        const size_t nFolder = folderEntry.second;
        CFileNode* pFolder = left[nFolder].pNode;
        const uint64_t ullNumber = ItemOf(pFolder)->m_ullRecordNumber;
        if ((pFolder->GetProperties()->GetAttributes() & FILE_ATTR_DIRECTORY) == 0 ||
            ullNumber == NTFS_NO_RECORD_NUMBER || ullNumber <= kLastReservedRecord)
            continue;
        // A node without a parent is the root of its tree; it is an ancestor of the folder
        // exactly when it is the root of the folder's tree.
        const size_t nFolderRoot = findRoot(nFolder);
        for (auto it = byParent.lower_bound(ullNumber); it != byParent.end() && it->first == ullNumber; ++it) {
            const size_t nChild = it->second;
            if (nChild == nFolder || left[nChild].pNode->GetParent() != nullptr || nChild == nFolderRoot)
                continue;
            pFolder->AddChild(left[nChild].pNode);
            left[nChild].nTreeRoot = nFolderRoot;
        }
        StepProgress();
        if (CheckCancel())
            break;
    }

    CFileNode* pLostFolder = nullptr;
    for (const auto& entry : byParent) {
        CFileNode* pNode = left[entry.second].pNode;
        if (pNode->GetParent() != nullptr)
            continue;
        if (pRootFolder != nullptr && entry.first == kRootFolderNumber) {
            pRootFolder->AddChild(pNode);
            continue;
        }
        if (pLostFolder == nullptr) {
            char szName[32];
            snprintf(szName, sizeof(szName), "LostFiles%d", g_nLostFilesCounter + 1);
            ++g_nLostFilesCounter;
            pLostFolder = CreateFileNode();
            pLostFolder->SetProperties(CreateNTFSFolderProperties(szName, NTFS_STATUS_LOST_FILES));
        }
        pLostFolder->AddChild(pNode);
    }
    return pLostFolder;
}

CFileSystemNode* CreateNTFSVolumeRoot(uint64_t ullStartSector, int32_t nSectorsPerCluster, int32_t nVolumeNumber,
                                      const char* pszLabel)
{
    char szName[32];
    snprintf(szName, sizeof(szName), "%d NTFS", nVolumeNumber + 1);
    CFileSystemNode* pRoot = CreateFileSystemNode();
    pRoot->SetProperties(CreateNTFSFolderProperties(szName, NTFS_STATUS_LIVE));
    pRoot->SetPartitionInfo(ullStartSector, nSectorsPerCluster);
    pRoot->SetFileSystemKind(FILE_SYSTEM_NTFS);
    if (pszLabel != nullptr && pszLabel[0] != 0 && Utf8Characters(pszLabel) <= kMaxLabelCharacters)
        pRoot->SetDescription(pszLabel);
    return pRoot;
}

void MoveNTFSChildren(CFileNode* pFrom, CFileNode* pTo)
{
    if (pFrom == nullptr || pTo == nullptr)
        return;
    while (CFileNode* pChild = pFrom->GetFirstChild()) {
        pFrom->RemoveChild(pChild);
        pTo->AddChild(pChild);
    }
}

void ClearNTFSItemLinks(CFileNode* pRoot)
{
    ForEachFileNode(pRoot, [](CFileNode* pNode) { pNode->SetExtraData(nullptr); });
}
