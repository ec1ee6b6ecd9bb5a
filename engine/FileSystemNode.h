// The node that roots one partition's or volume's tree: partition start, cluster size,
// file-system kind, a short description, and the selection statistics of the subtree, kept
// up to date by the toggle so that the interface shows counts without walking the tree.
#pragma once

#include <cstdint>

#include "FileNode.h"

const int FILE_SYSTEM_EXTRA_BLOCK_SIZE = 264;
// Longest description kept (a volume label fits).
const int32_t FILE_SYSTEM_DESCRIPTION_MAX = 40;

class CFileSystemNode : public CFileNode {
public:
    CFileSystemNode();
    ~CFileSystemNode() override;

    BOOL IsFileSystemNode() const override;
    BOOL GetPartitionInfo(uint64_t* pullStartSector, int32_t* pnSectorsPerCluster) const override;
    int32_t GetFileSystemKind() const override;
    // The root's own record: totals (selection fields as 0), start sector, sectors per
    // cluster, kind, description. Not the links, the properties nor the extra block.
    BOOL Save(IDataStream* pWriter) override;
    // FALSE on a short record or a description length above the limit; the node is then
    // left as it was.
    BOOL Load(IDataStream* pReader) override;

    virtual void SetPartitionInfo(uint64_t ullStartSector, int32_t nSectorsPerCluster);
    virtual void SetFileSystemKind(int32_t nKind);
    virtual BOOL GetExtraBlock(void* pBlock) const;
    virtual BOOL SetExtraBlock(const void* pBlock);
    // Acts on pNode (anywhere below a root), not on this node. Selects pNode's subtree when
    // pNode is not selected, else clears it; then recounts the ancestors' check states and
    // updates the statistics of every file-system node from pNode up. With bOnlyThisNode,
    // only pNode's own state changes.
    virtual BOOL ToggleNodeCheckState(CFileNode* pNode, BOOL bOnlyThisNode);
    virtual BOOL SetNodeFlag(CFileNode* pNode, int32_t nFlag);
    virtual BOOL GetStatistics(FILE_STATISTICS* pStatistics) const;
    virtual BOOL RecountStatistics();

    // Keeps a copy of at most the first 40 characters; null leaves no description.
    void SetDescription(const char* pszDescription);
    const char* GetDescription() const { return m_pszDescription; }

private:
    FILE_STATISTICS m_Statistics;
    uint8_t m_ExtraBlock[FILE_SYSTEM_EXTRA_BLOCK_SIZE];
    uint64_t m_ullStartSector;
    int32_t m_nSectorsPerCluster;
    int32_t m_nFileSystemKind;
    char* m_pszDescription;
    int32_t m_nDescriptionLength;
};
