// The one walk over a found-file tree: breadth-first, the root first, then each node's children
// in list order, level by level, without recursion (a damaged volume can nest folders to any
// depth).
//
// A node's children are queued only when the next node is asked for, so the caller may unlink
// or delete children of the node it holds before then; never that node itself, nor a node that
// is already queued.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "EngineMemory.h"

class CFileNode;

class CFileTreeWalk {
public:
    // Which children are queued: null queues all of them; otherwise only those it accepts, and
    // the walk does not descend below the others.
    typedef bool (*PFN_QUEUE_CHILD)(CFileNode* pChild);

    // A null root gives an empty walk.
    explicit CFileTreeWalk(CFileNode* pRoot, PFN_QUEUE_CHILD pfnQueueChild = nullptr);
    CFileTreeWalk(const CFileTreeWalk&) = delete;
    CFileTreeWalk& operator=(const CFileTreeWalk&) = delete;

    // The next node; null once every node has been handed out.
    CFileNode* Next();
    // Nodes queued and not handed out yet (the children of the node handed out last are not
    // among them).
    size_t GetPending() const { return m_Queue.size(); }

private:
    std::deque<CFileNode*, CEngineAllocator<CFileNode*>> m_Queue;
    CFileNode* m_pCurrent;
    PFN_QUEUE_CHILD m_pfnQueueChild;
};

typedef std::vector<CFileNode*, CEngineAllocator<CFileNode*>> CFileNodeList;

// Every node of the tree in the walk's order; reversed, each node comes after all of its
// descendants (the order in which a tree is deleted).
CFileNodeList ListFileTree(CFileNode* pRoot);

// Calls fnVisit(node) for every node of the tree in the walk's order.
template <class FVisit>
void ForEachFileNode(CFileNode* pRoot, FVisit fnVisit)
{
    CFileTreeWalk walk(pRoot);
    for (CFileNode* pNode = walk.Next(); pNode != nullptr; pNode = walk.Next())
        fnVisit(pNode);
}

// Calls fnVisit(node) for every node of the tree, depth first, the root first, without
// recursion. A node's links are read before it is handed to fnVisit, which may therefore free
// it (and only it). What is kept beside the tree is the next sibling still to visit on each
// level of the path from the root: it grows with the depth of the tree, not with the size of
// its folders, so a walk over a tree of any size takes no list of its nodes. The root's own
// siblings are not part of its tree.
template <class TNode, class FVisit>
void ForEachFileNodeDepthFirst(TNode* pRoot, FVisit fnVisit)
{
    if (pRoot == nullptr)
        return;
    std::vector<TNode*, CEngineAllocator<TNode*>> vecPending;
    vecPending.push_back(pRoot);
    bool bRoot = true;
    while (!vecPending.empty()) {
        TNode* pNode = vecPending.back();
        vecPending.pop_back();
        if (!bRoot && pNode->GetNextSibling() != nullptr)
            vecPending.push_back(pNode->GetNextSibling());
        bRoot = false;
        if (pNode->GetFirstChild() != nullptr)
            vecPending.push_back(pNode->GetFirstChild());
        fnVisit(pNode);
    }
}
