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
#include <memory>
#include <vector>

#include "CancelFlag.h"
#include "DataRunList.h"
#include "EngineMemory.h"
#include "SearchProgress.h"
#include "Ext2ChunkList.h"
#include "Ext2TimeConverter.h"

class CExt2FileSystem;
class CExt2FileProperties;
class CExt2Inode;
class CExt2InodeEnumerator;
class CFileNode;
class CFileSystemNode;
class CRawFileInfoContainer;
class IStorageDevice;

class CExt2BlockBitmap;
class CExt2BlockIterator;
class CExt2DirIterator;

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
    template <typename T>
    using CList = std::vector<T, CEngineAllocator<T>>;
    // The names a directory's entries give inodes: a stretch of m_Names, sorted by inode number,
    // one name per inode (the last entry's).
    struct NAME_RANGE {
        size_t nFirst = 0;
        size_t nCount = 0;
    };
    struct ENTRY_NAME {
        uint32_t nInode;
        uint32_t nLength;
        const char* pName;  // in one of m_NameChunks
    };
    struct DIRECTORY {
        CFileNode* pNode;
        uint32_t nParent;  // inode number its ".." entry names
        uint32_t nInode;
        NAME_RANGE Names;
    };
    struct FILE_ENTRY {
        uint32_t nInode;
        bool bTaken;  // a directory has taken the file
        CFileNode* pNode;
    };

    CFileSystemNode* Build(CExt2FileSystem* pFileSystem, bool bBlockBits);
    CFileSystemNode* MakeRoot();
    void ReadInodes();
    bool LinkTree();
    // Counts a new inode group and reads the cancel flag; false when the build is to stop.
    bool OnGroupChange();
    void SetPhase(const char* pszTitle, const char* pszDetail);

    // pHeld: the inode-table stretch that holds the inode's whole record, when there is one.
    CFileNode* MakeNode(const CExt2Inode& inode, const CExt2InodeEnumerator* pHeld);
    void SetDataRuns(const CExt2Inode& inode, CExt2FileProperties* pProperties);
    // A file whose bytes are kept in its inode: where they lie, and its size bounded by what
    // the inode can hold.
    void SetInlineData(const CExt2Inode& inode, const CExt2InodeEnumerator* pHeld, CExt2FileProperties* pProperties);
    // The whole record of an inode, from pHeld's stretch when it holds it, else read; null when
    // it cannot be located. Throws as CExt2FileSystem::GetInodeRecord does.
    const uint8_t* InodeRecord(uint32_t nInode, const CExt2InodeEnumerator* pHeld);
    // ListDirectory for a directory kept in its inode: the parent's number in the block area's
    // first 4 bytes, the entries in the rest of it and in the inline data's attribute.
    NAME_RANGE ListInlineDirectory(const CExt2Inode& directory, uint32_t* pnParent, const CExt2InodeEnumerator* pHeld);
    // The inode an entry names, usable and named by the entry; false when it is not usable.
    bool LoadNamedInode(uint32_t nInode, const char* pName, size_t nLength, const CExt2InodeEnumerator* pHeld,
                        CExt2Inode* pOut);
    // Lists the entries of a directory into m_Names and returns their stretch; pnParent, when
    // given, gets the inode number of the second entry (".."), or the root directory when it
    // cannot be told. Inodes the entries name are taken from pHeld's stretch of inode table
    // when it holds them.
    NAME_RANGE ListDirectory(const CExt2Inode& directory, uint32_t* pnParent, const CExt2InodeEnumerator* pHeld);
    void AddEntryName(uint32_t nInode, const char* pName, size_t nLength);
    // Sorts the names listed since nFirst by inode number, keeping the last name of each inode.
    NAME_RANGE FinishNames(size_t nFirst);
    const ENTRY_NAME* FindEntryName(const NAME_RANGE& names, uint32_t nInode) const;
    // Links pNode under pParent, named as the entries of names (pParent's) name it, else
    // "Inode_<number>". A file whose final name the scan's file-type filter refuses is not
    // linked; false then.
    bool Attach(CFileNode* pNode, CFileNode* pParent, const NAME_RANGE& names);
    // The same with the entry that names pNode already found (null when none does).
    bool Attach(CFileNode* pNode, CFileNode* pParent, const ENTRY_NAME* pName);
    static bool IsAncestor(const CFileNode* pNode, const CFileNode* pOf);
    static CExt2FileProperties* Properties(const CFileNode* pNode);
    static void DeleteNode(CFileNode* pNode);
    // Frees every node made for the tree being built (those in m_Files and m_Directories, linked
    // under directories or not) and the lists; with bAlsoRoot the root too.
    void DeleteNodes(bool bAlsoRoot);
    void ReleaseLists();
    void Reset();

    int32_t m_bStop;
    CBlockBits m_UsedBlocks;
    // Files in inode order (the order phase 1 reads them), directories in the order read: every
    // node made for the tree is in one of the two until the build ends, so that a cancelled or
    // failed build frees all of them, those already linked under directories included. The
    // long lists grow in chunks without copying, and a million entries never need twice their
    // room at once.
    CExt2ChunkList<FILE_ENTRY> m_Files;
    CList<DIRECTORY> m_Directories;
    // The names of every directory's entries, one stretch per directory, and their bytes in
    // chunks that are never moved.
    CExt2ChunkList<ENTRY_NAME> m_Names;
    CList<char*> m_NameChunks;
    size_t m_nNameChunkBytes;
    size_t m_nNameChunkFree;
    NAME_RANGE m_RootNames;
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
    // The file system's block bitmaps, read as deleted files' blocks are asked about.
    std::unique_ptr<CExt2BlockBitmap> m_pBitmap;
    // The runs of the file being mapped, merged where blocks follow on; reused for every file.
    CList<DATA_RUN> m_Runs;
    // One directory walk for every directory, so that its block buffers are allocated once.
    std::unique_ptr<CExt2DirIterator> m_pEntries;
    // The inodes' times, converted as CExt2Inode::TimeToFileTime does.
    CExt2TimeConverter m_Times;
    // An inline directory's entry areas, copied out of its record before the inodes they name
    // are loaded (which may reuse the record's buffer).
    CList<uint8_t> m_InlineArea;
};
