#include "FileSystemNode.h"

#include <cstring>

#include "DataStreamIO.h"

using namespace DataStreamIO;

namespace {

void ApplySelection(FILE_STATISTICS& target, const FILE_STATISTICS& d)
{
    target.nSelectedFiles += d.nFiles - d.nSelectedFiles;
    target.ullSelectedSize += d.ullTotalSize - d.ullSelectedSize;
    target.nSelectedCompressed += d.nCompressed - d.nSelectedCompressed;
    target.nSelectedEncrypted += d.nEncrypted - d.nSelectedEncrypted;
}

// A root whose statistics were never counted may hold less than the subtree being cleared;
// it stops at zero instead of wrapping round to an absurd selected size.
template <class T>
T SubtractToZero(T value, T amount)
{
    return value > amount ? T(value - amount) : T(0);
}

void ApplyClearing(FILE_STATISTICS& target, const FILE_STATISTICS& d)
{
    target.nSelectedFiles = SubtractToZero(target.nSelectedFiles, d.nSelectedFiles);
    target.ullSelectedSize = SubtractToZero(target.ullSelectedSize, d.ullSelectedSize);
    target.nSelectedCompressed = SubtractToZero(target.nSelectedCompressed, d.nSelectedCompressed);
    target.nSelectedEncrypted = SubtractToZero(target.nSelectedEncrypted, d.nSelectedEncrypted);
}

uint8_t StateFromChildren(const CFileNode* pNode)
{
    uint32_t nChildren = 0, nSelected = 0, nPartial = 0;
    for (const CFileNode* pChild = pNode->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling()) {
        ++nChildren;
        IFileProperties* pProperties = pChild->GetProperties();
        uint8_t nState = pProperties ? pProperties->GetCheckState() : CHECK_STATE_NONE;
        if (nState == CHECK_STATE_SELECTED)
            ++nSelected;
        else if (nState == CHECK_STATE_PARTIAL)
            ++nPartial;
    }
    if (nSelected == 0 && nPartial == 0)
        return CHECK_STATE_NONE;
    if (nSelected < nChildren)
        return CHECK_STATE_PARTIAL;
    return CHECK_STATE_SELECTED;
}

} // namespace

CFileSystemNode::CFileSystemNode()
    : m_Statistics(), m_ullStartSector(0), m_nSectorsPerCluster(0), m_nFileSystemKind(FILE_SYSTEM_UNKNOWN),
      m_pszDescription(nullptr), m_nDescriptionLength(0)
{
    std::memset(m_ExtraBlock, 0, sizeof(m_ExtraBlock));
}

CFileSystemNode::~CFileSystemNode()
{
    FreeBuffer(m_pszDescription);
    m_pszDescription = nullptr;
    m_nDescriptionLength = 0;
    m_Statistics = FILE_STATISTICS();
    m_ullStartSector = 0;
    m_nSectorsPerCluster = 0;
    m_nFileSystemKind = FILE_SYSTEM_UNKNOWN;
}

BOOL CFileSystemNode::IsFileSystemNode() const
{
    return TRUE;
}

BOOL CFileSystemNode::GetPartitionInfo(uint64_t* pullStartSector, int32_t* pnSectorsPerCluster) const
{
    if (pullStartSector)
        *pullStartSector = m_ullStartSector;
    if (pnSectorsPerCluster)
        *pnSectorsPerCluster = m_nSectorsPerCluster;
    return TRUE;
}

int32_t CFileSystemNode::GetFileSystemKind() const
{
    return m_nFileSystemKind;
}

void CFileSystemNode::SetPartitionInfo(uint64_t ullStartSector, int32_t nSectorsPerCluster)
{
    m_ullStartSector = ullStartSector;
    m_nSectorsPerCluster = nSectorsPerCluster;
}

void CFileSystemNode::SetFileSystemKind(int32_t nKind)
{
    m_nFileSystemKind = nKind;
}

BOOL CFileSystemNode::GetExtraBlock(void* pBlock) const
{
    if (pBlock == nullptr)
        return FALSE;
    std::memcpy(pBlock, m_ExtraBlock, sizeof(m_ExtraBlock));
    return TRUE;
}

BOOL CFileSystemNode::SetExtraBlock(const void* pBlock)
{
    if (pBlock == nullptr)
        return FALSE;
    std::memcpy(m_ExtraBlock, pBlock, sizeof(m_ExtraBlock));
    return TRUE;
}

void CFileSystemNode::SetDescription(const char* pszDescription)
{
    FreeBuffer(m_pszDescription);
    m_pszDescription = nullptr;
    m_nDescriptionLength = 0;
    if (pszDescription == nullptr)
        return;
    size_t nLength = strnlen(pszDescription, FILE_SYSTEM_DESCRIPTION_MAX);
    m_pszDescription = AllocBuffer(nLength + 1);
    std::memcpy(m_pszDescription, pszDescription, nLength);
    m_pszDescription[nLength] = '\0';
    m_nDescriptionLength = static_cast<int32_t>(nLength);
}

BOOL CFileSystemNode::Save(IDataStream* pWriter)
{
    if (pWriter == nullptr)
        return FALSE;
    // Selection is the user's, not the scan's: a stored root comes back with nothing selected.
    const uint32_t nZero32 = 0;
    const uint64_t nZero64 = 0;
    int32_t nDescriptionLength = m_pszDescription ? m_nDescriptionLength : 0;
    bool bOk = WriteLE(pWriter, m_Statistics.nFiles) && WriteLE(pWriter, nZero32) &&
               WriteLE(pWriter, m_Statistics.ullTotalSize) && WriteLE(pWriter, nZero64) &&
               WriteLE(pWriter, m_Statistics.nCompressed) && WriteLE(pWriter, nZero32) &&
               WriteLE(pWriter, m_Statistics.nEncrypted) && WriteLE(pWriter, nZero32) &&
               WriteLE(pWriter, m_ullStartSector) && WriteLE(pWriter, m_nSectorsPerCluster) &&
               WriteLE(pWriter, m_nFileSystemKind) && WriteLE(pWriter, nDescriptionLength);
    if (bOk && nDescriptionLength > 0)
        bOk = WriteBytes(pWriter, m_pszDescription, static_cast<uint32_t>(nDescriptionLength));
    return bOk ? TRUE : FALSE;
}

BOOL CFileSystemNode::Load(IDataStream* pReader)
{
    if (pReader == nullptr)
        return FALSE;
    FILE_STATISTICS statistics = FILE_STATISTICS();
    uint64_t ullStartSector = 0;
    int32_t nSectorsPerCluster = 0, nKind = 0, nDescriptionLength = 0;
    if (!ReadLE(pReader, statistics.nFiles) || !ReadLE(pReader, statistics.nSelectedFiles) ||
        !ReadLE(pReader, statistics.ullTotalSize) || !ReadLE(pReader, statistics.ullSelectedSize) ||
        !ReadLE(pReader, statistics.nCompressed) || !ReadLE(pReader, statistics.nSelectedCompressed) ||
        !ReadLE(pReader, statistics.nEncrypted) || !ReadLE(pReader, statistics.nSelectedEncrypted) ||
        !ReadLE(pReader, ullStartSector) || !ReadLE(pReader, nSectorsPerCluster) || !ReadLE(pReader, nKind) ||
        !ReadLE(pReader, nDescriptionLength))
        return FALSE;
    // Save never writes more than the kept maximum; a larger or negative length is damage.
    if (nDescriptionLength < 0 || nDescriptionLength > FILE_SYSTEM_DESCRIPTION_MAX)
        return FALSE;
    char* pszDescription = nullptr;
    if (nDescriptionLength > 0) {
        pszDescription = AllocBuffer(static_cast<size_t>(nDescriptionLength) + 1);
        if (!ReadBytes(pReader, pszDescription, static_cast<uint32_t>(nDescriptionLength))) {
            FreeBuffer(pszDescription);
            return FALSE;
        }
        pszDescription[nDescriptionLength] = '\0';
    }
    FreeBuffer(m_pszDescription);
    m_pszDescription = pszDescription;
    m_nDescriptionLength = nDescriptionLength;
    m_Statistics = statistics;
    m_ullStartSector = ullStartSector;
    m_nSectorsPerCluster = nSectorsPerCluster;
    m_nFileSystemKind = nKind;
    return TRUE;
}

BOOL CFileSystemNode::ToggleNodeCheckState(CFileNode* pNode, BOOL bOnlyThisNode)
{
    if (pNode == nullptr)
        return FALSE;
    IFileProperties* pProperties = pNode->GetProperties();
    uint8_t nOldState = pProperties ? pProperties->GetCheckState() : CHECK_STATE_NONE;
    bool bSelecting = nOldState != CHECK_STATE_SELECTED;
    uint8_t nNewState = bSelecting ? CHECK_STATE_SELECTED : CHECK_STATE_NONE;

    if (bOnlyThisNode) {
        if (pProperties)
            pProperties->SetCheckState(nNewState);
        return TRUE;
    }

    FILE_WALK_CONTEXT context = FILE_WALK_CONTEXT();
    context.bSetState = TRUE;
    context.nNewState = nNewState;
    WalkFileTree(pNode, &context);
    const FILE_STATISTICS& d = context.Statistics;

    auto apply = [&](CFileNode* pTarget) {
        if (!pTarget->IsFileSystemNode())
            return;
        FILE_STATISTICS& s = static_cast<CFileSystemNode*>(pTarget)->m_Statistics;
        if (bSelecting)
            ApplySelection(s, d);
        else
            ApplyClearing(s, d);
    };
    apply(pNode);
    for (CFileNode* pAncestor = pNode->GetParent(); pAncestor != nullptr; pAncestor = pAncestor->GetParent()) {
        if (IFileProperties* pAncestorProperties = pAncestor->GetProperties())
            pAncestorProperties->SetCheckState(StateFromChildren(pAncestor));
        apply(pAncestor);
    }
    return TRUE;
}

BOOL CFileSystemNode::SetNodeFlag(CFileNode* pNode, int32_t nFlag)
{
    if (pNode == nullptr || pNode->GetProperties() == nullptr)
        return FALSE;
    return pNode->GetProperties()->SetFlag(static_cast<uint8_t>(nFlag));
}

BOOL CFileSystemNode::GetStatistics(FILE_STATISTICS* pStatistics) const
{
    if (pStatistics == nullptr)
        return FALSE;
    *pStatistics = m_Statistics;
    return TRUE;
}

BOOL CFileSystemNode::RecountStatistics()
{
    FILE_WALK_CONTEXT context = FILE_WALK_CONTEXT();
    context.bSetState = FALSE;
    WalkFileTree(this, &context);
    m_Statistics = context.Statistics;
    return TRUE;
}
