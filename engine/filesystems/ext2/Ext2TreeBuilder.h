// Turns an EXT2/EXT3 file system into a found-file tree. It works from the inode tables, not
// from the directory hierarchy: phase 1 reads every inode and makes a node for each one in use
// or still holding a file (deleted inodes included, as long as their mode and block pointers
// survive), phase 2 links the nodes into directories by the names that directory entries give
// them. Whatever no directory names ends up under the root as "Inode_<number>"; on EXT2 and
// EXT3 a deleted file loses its directory entry, so that is where deleted files are listed.
//
// The builder runs on the engine's scan thread, reads the device only, and hands the caller a
// root that the caller owns. A cancelled build returns no tree and frees everything it made.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "CancelFlag.h"
#include "EngineMemory.h"
#include "SearchProgress.h"

class CExt2FileSystem;
class CExt2FileProperties;
class CExt2Inode;
class CFileNode;
class CFileSystemNode;
class CRawFileInfoContainer;
class IStorageDevice;

class CExt2BlockIterator;

class CExt2TreeBuilder : public CEngineObject {
public:
    // One bit per file-system block: set for the blocks of every file's runs.
    typedef std::vector<bool, CEngineAllocator<bool>> CBlockBits;

    CExt2TreeBuilder();
    virtual ~CExt2TreeBuilder();
    CExt2TreeBuilder(const CExt2TreeBuilder&) = delete;
    CExt2TreeBuilder& operator=(const CExt2TreeBuilder&) = delete;

    // The engine's progress record and cancel flag; either may be null (nothing is reported, or
    // the build cannot be cancelled).
    void SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel);

    // Quick scan: opens the file system whose primary superblock is at u64SuperBlockSector of
    // the device (the partition start + 2) and builds its tree. Null when the file system does
    // not open or the build was cancelled.
    CFileSystemNode* BuildTree(IStorageDevice* pDevice, int32_t nOption, uint64_t u64SuperBlockSector,
                               int32_t bBlockBits);

    // A file system found by the block scan (candidate nIndex of the scan, counted from 0): the
    // tree is built with the block bits filled, and its root is named after the candidate's
    // position ("1 Ext2(label)", "2 Ext3", ...).
    CFileSystemNode* BuildTree(CExt2FileSystem* pFileSystem, int32_t nOption, CRawFileInfoContainer* pContainer,
                               int32_t nIndex);

    // The blocks the files of the last build use; empty unless that build asked for them.
    const CBlockBits& GetUsedBlocks() const { return m_UsedBlocks; }

protected:
    // Reads the cancel flag: at each new inode group in phase 1, at each directory in phase 2.
    virtual bool CancelRequested() const;

private:
    typedef std::map<uint32_t, CFileNode*, std::less<uint32_t>, CEngineAllocator<std::pair<const uint32_t, CFileNode*>>>
        CFileMap;
    typedef std::multimap<uint32_t, CFileNode*, std::less<uint32_t>,
                          CEngineAllocator<std::pair<const uint32_t, CFileNode*>>>
        CDirectoryMap;
    typedef std::vector<CFileNode*, CEngineAllocator<CFileNode*>> CNodeList;

    CFileSystemNode* Build(CExt2FileSystem* pFileSystem, bool bBlockBits);
    CFileSystemNode* MakeRoot();
    void ReadInodes();
    bool LinkTree();
    // Counts a new inode group and reads the cancel flag; false when the build is to stop.
    bool OnGroupChange();
    void SetPhase(const char* pszTitle, const char* pszDetail);

    CFileNode* MakeNode(const CExt2Inode& inode);
    void SetDataRuns(const CExt2Inode& inode, CExt2FileProperties* pProperties);
    // Lists the entries of a directory into pProperties' name map; pnParent, when given, gets the
    // inode number of the second entry (".."), or the root directory when it cannot be told.
    void ListDirectory(const CExt2Inode& directory, CExt2FileProperties* pProperties, uint32_t* pnParent);
    // Links pNode under pParent, named as pParent's entries name it. A file whose final name the
    // scan's file-type filter refuses is not linked; false then.
    bool Attach(CFileNode* pNode, CFileNode* pParent);
    static bool IsAncestor(const CFileNode* pNode, const CFileNode* pOf);
    static CExt2FileProperties* Properties(const CFileNode* pNode);
    void DeleteNodes(bool bAlsoRoot);
    void Reset();

    int32_t m_bStop;
    CBlockBits m_UsedBlocks;
    CFileMap m_Files;
    CDirectoryMap m_Directories;
    int32_t m_nOption;
    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pnCancel;
    uint32_t m_nGroupsPassed;
    uint32_t m_nGroupCount;
    CExt2FileSystem* m_pFileSystem;
    CRawFileInfoContainer* m_pContainer;
    int32_t m_nIndex;
    CFileSystemNode* m_pRoot;
    // Blocks the build may still map for runs or walk in directories. A consistent file system
    // needs about one visit per block (a block belongs to one live file or directory, and to few
    // deleted ones); damaged or crafted inodes whose sizes and pointers all name the same valid
    // blocks would otherwise cost inodes x blocks reads and runs.
    uint64_t m_nBlockBudget;
    // One block iterator for every file's data runs, so that the indirect-block buffers are
    // allocated once per scan rather than once per file.
    std::unique_ptr<CExt2BlockIterator> m_pBlocks;
    // Every node made for the tree being built, so that a cancelled or failed build frees all of
    // them, those already linked under directories included.
    CNodeList m_Nodes;
};
