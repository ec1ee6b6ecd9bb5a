// Walks the entries of an EXT2/EXT3 directory by their record lengths, block by block. Entries
// never cross a block boundary, so a block is loaded only when the walk moves into it, and only
// blocks that lie within the directory's size are read. A damaged entry (record length zero, not
// a multiple of 4, too short for its name, or running past its block) ends the walk.
#pragma once

#include <cstdint>

#include "EngineMemory.h"
#include "Ext2BlockIterator.h"
#include "Ext2DirEntry.h"
#include "Ext2Inode.h"

class CExt2InodeEnumerator;

class CExt2DirIterator : public CEngineObject {
public:
    // Positioned at the first entry with the first block loaded; at the end at once when the
    // directory is empty or its first block cannot be read.
    explicit CExt2DirIterator(const CExt2Inode& directory);

    // Moves to another directory, positioned as the constructor positions; the block buffers
    // are kept, so that one iterator walks many directories without allocating.
    void Reset(const CExt2Inode& directory);

    void Begin();
    bool IsEnd() const { return m_nPosition >= m_nSize; }
    void Next();
    // Byte position of the current entry in the directory, and the directory's size (the end).
    uint64_t GetPosition() const { return m_nPosition; }
    uint64_t GetEndPosition() const { return m_nSize; }

    // The current entry; throws CExt2DirEntry::CBadDir when no block is loaded.
    CExt2DirEntry GetEntry() const;
    // The current entry's name as GetInode gives it (its bytes as stored, a zero byte made '_',
    // at most kMaxNameBytes bytes), into pszOut of kMaxNameBytes + 1 bytes, zero-terminated;
    // returns its length. Throws as GetEntry does.
    size_t GetName(char* pszOut) const;
    // The same for any entry.
    static size_t GetEntryName(const CExt2DirEntry& entry, char* pszOut);
    // The current entry names an inode (its inode number and record are sound); throws as
    // GetEntry does.
    bool IsEntryValid() const;
    // The inode number the current entry names; throws as GetEntry does.
    uint32_t GetInodeNumber() const { return GetEntry().GetInodeNumber(); }
    // The current entry as an inode: its name converted from UTF-8 (kept as stored when it does
    // not convert), and, for a valid entry, the inode it names loaded (else all zeros with the
    // entry's inode number). Read errors of the inode are thrown as by
    // CExt2FileSystem::LoadInode. With pHeld, an inode in the stretch of inode table it holds is
    // taken from there instead of being read again.
    void GetInode(CExt2Inode* pOut, const CExt2InodeEnumerator* pHeld = nullptr) const;

private:
    bool LoadBlock(uint64_t nLogicalBlock);
    void End() { m_nPosition = m_nSize; }

    CExt2Inode m_Directory;
    CExt2BlockIterator m_Blocks;
    uint64_t m_nSize;
    uint64_t m_nPosition;
    uint32_t m_nBlockSize;
    bool m_bLoaded;
    uint64_t m_nLoadedBlock;
    const uint8_t* m_pBlock;
    uint32_t m_nBlockLength;
};
