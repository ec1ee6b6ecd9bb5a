// A node of the found-file tree. Children form a singly linked list through the next-sibling
// link; AddChild links at the front. A node owns neither its children, nor its properties,
// nor its extra data: whole trees are released by the engine's tree deleter.
#pragma once

#include <cstdint>

#include "DiskInfo.h"          // file-system codes of tree roots and candidates
#include "EngineMemory.h"
#include "FileProperties.h"
#include "IDataStream.h"
#include "WinTypes.h"

// Selection statistics over the files (not folders) of a subtree.
struct FILE_STATISTICS {
    uint32_t nFiles;
    uint32_t nSelectedFiles;
    uint64_t ullTotalSize;
    uint64_t ullSelectedSize;
    uint32_t nCompressed;
    uint32_t nSelectedCompressed;
    uint32_t nEncrypted;
    uint32_t nSelectedEncrypted;
};

// Context of WalkFileTree: the accumulator and, when bSetState is on, the state given to
// every visited node (after its counts were taken).
struct FILE_WALK_CONTEXT {
    FILE_STATISTICS Statistics;
    BOOL bSetState;
    uint8_t nNewState;
};

class CFileNode : public CEngineObject {
public:
    CFileNode();
    virtual ~CFileNode();

    virtual BOOL IsFileSystemNode() const;
    // Answer of the nearest file-system node above this one; zeros and FALSE when none.
    virtual BOOL GetPartitionInfo(uint64_t* pullStartSector, int32_t* pnSectorsPerCluster) const;
    // Kind of the nearest file-system node among this node and its ancestors; 7 when none.
    virtual int32_t GetFileSystemKind() const;
    virtual BOOL Save(IDataStream* pWriter);
    virtual BOOL Load(IDataStream* pReader);

    // Links pChild at the front of the child list; returns it.
    CFileNode* AddChild(CFileNode* pChild);
    // Unlinks pChild; FALSE (nothing changed) when it is not a child of this node.
    BOOL RemoveChild(CFileNode* pChild);
    // Empties the child list and returns its first node; the detached nodes still name this one
    // as their parent and each other as siblings until they are linked elsewhere.
    CFileNode* DetachChildren()
    {
        CFileNode* pFirst = m_pFirstChild;
        m_pFirstChild = nullptr;
        return pFirst;
    }

    CFileNode* GetParent() const { return m_pParent; }
    CFileNode* GetFirstChild() const { return m_pFirstChild; }
    CFileNode* GetNextSibling() const { return m_pNextSibling; }
    IFileProperties* GetProperties() const { return m_pProperties; }
    void SetProperties(IFileProperties* pProperties) { m_pProperties = pProperties; }
    void* GetExtraData() const { return m_pExtraData; }
    void SetExtraData(void* pExtraData) { m_pExtraData = pExtraData; }

    CFileNode(const CFileNode&) = delete;
    CFileNode& operator=(const CFileNode&) = delete;

protected:
    CFileNode* m_pParent;
    CFileNode* m_pFirstChild;
    CFileNode* m_pNextSibling;
    IFileProperties* m_pProperties;
    void* m_pExtraData;
};

class CFileSystemNode;

CFileNode* CreateFileNode();
CFileSystemNode* CreateFileSystemNode();
// Delete one node through its virtual destructor; null is allowed.
void DestroyFileNode(CFileNode* pNode);
void DestroyFileSystemNode(CFileSystemNode* pNode);

// Visits pRoot and its descendants depth first (iteratively, so any depth is safe) and
// applies the statistics step to each: files are counted with the state they had, then, when
// the context asks for it, every node gets the new state. Nodes without properties are
// passed over but their children are still visited.
void WalkFileTree(CFileNode* pRoot, FILE_WALK_CONTEXT* pContext);
