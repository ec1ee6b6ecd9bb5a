// Walks the inode numbers of a file system, from min(first non-reserved inode, 11) up to and
// including the inodes count, loading each from a cached stretch of its group's inode table:
// the table is read in large pieces (a whole group's table when it is up to 4 MiB) rather than
// one block per inode. On a device that can be read from two threads at once, the stretch that
// follows the one held is read on a helper thread while the inodes of the held one are used,
// and with it the blocks its directories and larger files will be walked through first (a
// directory's direct blocks, a file's single indirect block; read with a stretch read when it
// was needed too): the file system answers the reads of those blocks from them while the
// stretch is held.
#pragma once

#include <cstdint>
#include <thread>
#include <vector>

#include "Ext2FileSystem.h"

#include "EngineMemory.h"

class CExt2FileSystem;
class CExt2Inode;

class CExt2InodeEnumerator : public CEngineObject {
public:
    explicit CExt2InodeEnumerator(CExt2FileSystem* pFileSystem);
    ~CExt2InodeEnumerator();
    CExt2InodeEnumerator(const CExt2InodeEnumerator&) = delete;
    CExt2InodeEnumerator& operator=(const CExt2InodeEnumerator&) = delete;

    void Begin() { m_nCurrent = m_nFirst; }
    bool IsEnd() const { return m_nCurrent == 0 || m_nCurrent > m_nLast; }
    void Next() { ++m_nCurrent; }
    uint32_t GetInodeNumber() const { return static_cast<uint32_t>(m_nCurrent); }
    uint32_t GetFirst() const { return m_nFirst; }
    uint32_t GetLast() const { return m_nLast; }

    // Loads the current inode (no name). One outside every group, or outside the file system,
    // is all zeros. A failed device read throws CExt2ReadSectorError once; the rest of that
    // stretch of the table then reads as zeros. A table running off the device throws
    // std::range_error.
    void Load(CExt2Inode* pInode) { Load(GetInodeNumber(), pInode); }
    void Load(uint32_t nInode, CExt2Inode* pInode);
    // Loads inode nInode (no name) as CExt2FileSystem::LoadInode would, from the stretch of the
    // table read last, when that read succeeded and the inode's record lies in it: the entries
    // of a directory mostly name inodes of its own group. False, with nothing loaded, otherwise.
    bool LoadHeld(uint32_t nInode, CExt2Inode* pInode) const;
    // The whole record of inode nInode (inode size bytes) in the stretch held, as LoadHeld finds
    // it; null when it is not held. Valid until the next Load.
    const uint8_t* GetHeldRecord(uint32_t nInode) const;

private:
    // What the helper's read of the next stretch gave.
    enum AHEAD_RESULT { AHEAD_NONE, AHEAD_READ, AHEAD_FAILED, AHEAD_OFF_DEVICE };

    // Starts reading the stretch that follows [nFirst, + nCount) of group nGroup's table (the
    // rest of the table, else the start of the next group's that is in use) into m_pAhead.
    void StartReadAhead(uint64_t nGroup, uint64_t nFirst, uint64_t nCount);
    // Waits for the helper; when it read the stretch asked for, that stretch's buffer becomes
    // m_pCache and what the read gave is returned, else AHEAD_NONE.
    AHEAD_RESULT TakeReadAhead(uint64_t nGroup, uint64_t nFirst, uint64_t nCount);
    void WaitForReadAhead();
    // The stretch of a group's table that starts at block nFirst of it; false when it does not
    // lie on the file system or is larger than the buffer.
    bool Stretch(uint64_t nGroup, uint64_t nFirst, uint64_t* pnTableStart, uint64_t* pnCount) const;
    // Reads into *pBlocks the blocks the inodes of a stretch (pStretch, nBytes long) will first
    // be walked through. On the helper thread for the stretch read ahead, on the walking thread
    // for one read when it was needed.
    void ReadBlocksAhead(const uint8_t* pStretch, uint64_t nBytes, EXT2_HELD_BLOCKS* pBlocks);

    CExt2FileSystem* m_pFileSystem;
    uint32_t m_nFirst;
    uint32_t m_nLast;
    uint64_t m_nCurrent;
    // Blocks of one group's inode table held in m_pCache: [m_nCacheFirst, + m_nCacheCount) of
    // the table of group m_nCacheGroup. The buffer is made at the first read, as large as the
    // largest stretch (m_nCacheBytes), and only ever filled by reads: a large one is offered to
    // the kernel for huge pages, and never zeroed first.
    uint8_t* m_pCache;
    uint64_t m_nCacheBytes;
    uint64_t m_nCacheGroup;
    uint64_t m_nCacheFirst;
    uint64_t m_nCacheCount;
    // The stretch was read from the device (not zeros left by a failed read).
    bool m_bCacheRead;
    uint64_t m_nWindowBlocks;
    // The stretch read ahead (m_nAheadGroup is kNone when none is), its buffer (as large as
    // m_pCache, made at the first read ahead) and what its read gave, set by the helper before
    // it ends.
    bool m_bReadAhead;
    std::thread m_ReadAhead;
    uint8_t* m_pAhead;
    uint64_t m_nAheadGroup;
    uint64_t m_nAheadFirst;
    uint64_t m_nAheadCount;
    AHEAD_RESULT m_nAheadResult;
    // The blocks read with the held stretch (given to the file system while it is held) and
    // with the one read ahead; the block numbers looked for (by one thread at a time).
    EXT2_HELD_BLOCKS m_HeldBlocks;
    EXT2_HELD_BLOCKS m_AheadBlocks;
    std::vector<uint64_t, CEngineAllocator<uint64_t>> m_Wanted;
};
