// Checks a tree built from fuzzer bytes: every node has a name of the length it reports, every
// child points back at its parent, no node is reached twice (a loop), the tree stays within a
// bound, and every file's run list can be made and freed; with bEveryNodeHasProperties, a node
// without properties fails too. The tree is freed afterwards.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Delvar.h"
#include "FileNode.h"
#include "FileSystemNode.h"

inline void CheckAndFreeTree(CFileNode* pRoot, size_t nMaxNodes, bool bEveryNodeHasProperties = false)
{
    if (pRoot == nullptr)
        return;
    std::vector<CFileNode*> queue = {pRoot};
    for (size_t i = 0; i < queue.size(); ++i) {
        if (queue.size() > nMaxNodes)
            abort();
        CFileNode* pNode = queue[i];
        IFileProperties* p = pNode->GetProperties();
        if (p == nullptr && bEveryNodeHasProperties)
            abort();
        if (p != nullptr) {
            if (p->GetName() == nullptr || strlen(p->GetName()) != static_cast<size_t>(p->GetNameLength()))
                abort();
            delete p->GetDataRunList();
        }
        for (CFileNode* pChild = pNode->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling()) {
            if (pChild->GetParent() != pNode)
                abort();
            queue.push_back(pChild);
        }
    }
    DeleteFileTree(pRoot);
}
