// Walks the logical blocks of an inode and maps each to its disk block through the 12 direct
// pointers and the single, double and triple indirect blocks, keeping the last indirect block of
// each level so that consecutive blocks cost no extra reads.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "Ext2Inode.h"

class CExt2BlockBitmap;

class CExt2BlockIterator : public CEngineObject {
public:
    // Positioned at logical block 0. The inode is copied: it may live in the collected heap,
    // which does not see this object's memory.
    explicit CExt2BlockIterator(const CExt2Inode& inode);

    // Moves to another inode, at logical block 0; keeps the indirect-block buffers (their
    // contents are read again), so that one iterator walks many inodes without allocating.
    void Reset(const CExt2Inode& inode);

    void Begin() { m_nIndex = 0; }
    bool IsEnd() const { return m_nIndex >= m_nEnd; }
    void Next() { ++m_nIndex; }
    uint64_t GetIndex() const { return m_nIndex; }
    void SetIndex(uint64_t nIndex) { m_nIndex = nIndex; }
    // The inode's block count.
    uint64_t GetEnd() const { return m_nEnd; }
    const CExt2Inode& GetInode() const { return m_Inode; }

    // Disk block of the current logical block; 0 for a hole, or when a pointer on the way is
    // zero or not below the blocks count.
    uint32_t GetDiskBlock() { return MapBlock(m_nIndex); }
    uint32_t MapBlock(uint64_t nIndex) { return MapBlock(nIndex, nullptr); }
    // The same; when it gives 0, *pnHole (when given) is the number of logical blocks from nIndex
    // on that are holes for the same reason: 1 for a zero pointer of its own, the rest of an
    // indirect block's reach when the pointer to that block is zero (so a sparse file's holes
    // are passed over without visiting each of their blocks); and 0 when a pointer on the way
    // leaves the file system or the index lies past what the pointers reach: damage, not a hole.
    uint32_t MapBlock(uint64_t nIndex, uint64_t* pnHole);

    // With a bitmap, an indirect block that it marks in use is taken for a zero pointer (the
    // stretch it would map is a hole): a deleted file's indirect block that a later file took
    // holds that file's bytes, not pointers. Null (the default) reads every indirect block.
    void SetIndirectBlockFilter(CExt2BlockBitmap* pBitmap) { m_pIndirectFilter = pBitmap; }

    // The current block's bytes: block size, or for the last block of the file the size field mod
    // block size when that is not 0. Null with length 0 for a hole, an invalid block or a read
    // error. Valid until the next call.
    const uint8_t* GetData(uint32_t* pLength);

private:
    struct Level {
        uint32_t nBlock = 0;
        bool bLoaded = false;
        std::vector<uint8_t, CEngineAllocator<uint8_t>> data;
    };
    // Entry nEntry of indirect block nBlock, read through the cache of level nLevel; 0 when the
    // block number is 0 or invalid.
    uint32_t Entry(int nLevel, uint32_t nBlock, uint64_t nEntry);
    // Block nBlock through the cache of one level (a block that cannot be read is zeros).
    const uint8_t* CachedBlock(Level& level, uint32_t nBlock);
    // MapBlock for an inode whose pointers hold an extent tree.
    uint32_t MapExtent(uint64_t nIndex, uint64_t* pnHole);

    CExt2Inode m_Inode;
    uint64_t m_nIndex;
    uint64_t m_nEnd;
    Level m_Levels[3];
    Level m_ExtentLevels[ext2::kExtentMaxDepth];
    std::vector<uint8_t, CEngineAllocator<uint8_t>> m_Data;
    CExt2BlockBitmap* m_pIndirectFilter = nullptr;
};
