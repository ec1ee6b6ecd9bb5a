#include "FileNode.h"

#include "FileSystemNode.h"
#include "FileTreeWalk.h"

CFileNode::CFileNode()
    : m_pParent(nullptr), m_pFirstChild(nullptr), m_pNextSibling(nullptr), m_pProperties(nullptr),
      m_pExtraData(nullptr)
{
}

CFileNode::~CFileNode()
{
    m_pParent = nullptr;
    m_pFirstChild = nullptr;
    m_pNextSibling = nullptr;
    m_pProperties = nullptr;
    m_pExtraData = nullptr;
}

BOOL CFileNode::IsFileSystemNode() const
{
    return FALSE;
}

BOOL CFileNode::GetPartitionInfo(uint64_t* pullStartSector, int32_t* pnSectorsPerCluster) const
{
    // Iterative climb: trees from damaged disks can be very deep.
    for (const CFileNode* pNode = m_pParent; pNode != nullptr; pNode = pNode->m_pParent) {
        if (pNode->IsFileSystemNode())
            return pNode->GetPartitionInfo(pullStartSector, pnSectorsPerCluster);
    }
    if (pullStartSector)
        *pullStartSector = 0;
    if (pnSectorsPerCluster)
        *pnSectorsPerCluster = 0;
    return FALSE;
}

int32_t CFileNode::GetFileSystemKind() const
{
    for (const CFileNode* pNode = m_pParent; pNode != nullptr; pNode = pNode->m_pParent) {
        if (pNode->IsFileSystemNode())
            return pNode->GetFileSystemKind();
    }
    return FILE_SYSTEM_UNKNOWN;
}

BOOL CFileNode::Save(IDataStream*)
{
    return FALSE;
}

BOOL CFileNode::Load(IDataStream*)
{
    return FALSE;
}

CFileNode* CFileNode::AddChild(CFileNode* pChild)
{
    if (pChild == nullptr)
        return nullptr;
    pChild->m_pParent = this;
    pChild->m_pNextSibling = m_pFirstChild;
    m_pFirstChild = pChild;
    return pChild;
}

BOOL CFileNode::RemoveChild(CFileNode* pChild)
{
    if (pChild == nullptr || pChild->m_pParent != this)
        return FALSE;
    CFileNode** ppLink = &m_pFirstChild;
    while (*ppLink != nullptr && *ppLink != pChild)
        ppLink = &(*ppLink)->m_pNextSibling;
    if (*ppLink == nullptr)
        return FALSE;
    *ppLink = pChild->m_pNextSibling;
    pChild->m_pParent = nullptr;
    pChild->m_pNextSibling = nullptr;
    return TRUE;
}

CFileNode* CreateFileNode()
{
    return new CFileNode();
}

CFileSystemNode* CreateFileSystemNode()
{
    return new CFileSystemNode();
}

void DestroyFileNode(CFileNode* pNode)
{
    delete pNode;
}

void DestroyFileSystemNode(CFileSystemNode* pNode)
{
    delete pNode;
}

void WalkFileTree(CFileNode* pRoot, FILE_WALK_CONTEXT* pContext)
{
    if (pRoot == nullptr || pContext == nullptr)
        return;
    ForEachFileNodeDepthFirst(pRoot, [pContext](CFileNode* pNode) {
        IFileProperties* pProperties = pNode->GetProperties();
        if (pProperties == nullptr)
            return;
        uint8_t nState = pProperties->GetCheckState();
        uint16_t nAttributes = pProperties->GetAttributes();
        if ((nAttributes & FILE_ATTR_DIRECTORY) == 0) {
            FILE_STATISTICS& s = pContext->Statistics;
            uint64_t ullSize = pProperties->GetSize();
            bool bSelected = nState == CHECK_STATE_SELECTED;
            s.nFiles++;
            s.ullTotalSize += ullSize;
            if (bSelected) {
                s.nSelectedFiles++;
                s.ullSelectedSize += ullSize;
            }
            if (nAttributes & FILE_ATTR_COMPRESSED) {
                s.nCompressed++;
                if (bSelected)
                    s.nSelectedCompressed++;
            }
            if (nAttributes & FILE_ATTR_ENCRYPTED) {
                s.nEncrypted++;
                if (bSelected)
                    s.nSelectedEncrypted++;
            }
        }
        if (pContext->bSetState)
            pProperties->SetCheckState(pContext->nNewState);
    });
}
