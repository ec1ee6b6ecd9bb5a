#include "FileTreeWalk.h"

#include "FileNode.h"

CFileTreeWalk::CFileTreeWalk(CFileNode* pRoot, PFN_QUEUE_CHILD pfnQueueChild)
    : m_pCurrent(nullptr), m_pfnQueueChild(pfnQueueChild)
{
    if (pRoot != nullptr)
        m_Queue.push_back(pRoot);
}

CFileNode* CFileTreeWalk::Next()
{
    if (m_pCurrent != nullptr) {
        for (CFileNode* pChild = m_pCurrent->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling())
            if (m_pfnQueueChild == nullptr || m_pfnQueueChild(pChild))
                m_Queue.push_back(pChild);
        m_pCurrent = nullptr;
    }
    if (m_Queue.empty())
        return nullptr;
    m_pCurrent = m_Queue.front();
    m_Queue.pop_front();
    return m_pCurrent;
}

CFileNodeList ListFileTree(CFileNode* pRoot)
{
    CFileNodeList nodes;
    ForEachFileNode(pRoot, [&nodes](CFileNode* pNode) { nodes.push_back(pNode); });
    return nodes;
}
