// The group-descriptor table of an EXT2/EXT3/EXT4 file system: one descriptor per block group,
// of which the block-bitmap, inode-bitmap and inode-table block numbers are used. Descriptors of
// 64 bytes or more (64-bit block numbers) add the upper halves of those numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "Ext2Layout.h"

class CExt2SuperBlock;

class CExt2GroupDescTable : public CEngineObject {
public:
    CExt2GroupDescTable() {}

    // Sectors that hold the descriptors of nGroups groups: ceil(nGroups x descriptor bytes / 512).
    static uint64_t GetSectorCount(uint64_t nGroups, uint32_t nDescriptorBytes = ext2::kGroupDescBytes);

    // Takes the descriptors of nGroups groups from pData, each nDescriptorBytes long (of which
    // the first 32 are kept, and from 64 bytes on the upper halves of the three block numbers);
    // false (and an empty table) when nSize does not hold them all.
    bool Assign(const uint8_t* pData, size_t nSize, uint64_t nGroups,
                uint32_t nDescriptorBytes = ext2::kGroupDescBytes);
    // Adds the descriptors of nGroups further groups, as Assign takes them; false (and the
    // table unchanged) when nSize does not hold them all or nDescriptorBytes is not the size of
    // the descriptors the table holds already.
    bool Append(const uint8_t* pData, size_t nSize, uint64_t nGroups, uint32_t nDescriptorBytes);
    void Clear()
    {
        m_Data.clear();
        m_High.clear();
    }

    uint64_t GetCount() const { return m_Data.size() / ext2::kGroupDescBytes; }
    bool IsEmpty() const { return m_Data.empty(); }
    const uint8_t* GetData() const { return m_Data.data(); }
    size_t GetByteSize() const { return m_Data.size(); }

    // Fields of descriptor nGroup (low half | high half << 32); 0 for a group the table does not
    // have.
    uint64_t GetBlockBitmap(uint64_t nGroup) const { return Field(nGroup, 0); }
    uint64_t GetInodeBitmap(uint64_t nGroup) const { return Field(nGroup, 1); }
    uint64_t GetInodeTable(uint64_t nGroup) const { return Field(nGroup, 2); }

    // Every group i of the (normalised) superblock has a descriptor, and its two bitmaps and the
    // start of its inode table lie in [first data block + i x blocks per group, + blocks per
    // group).
    // With flexible groups a group's tables may lie anywhere in the file system past its first
    // data block.
    bool IsValid(const CExt2SuperBlock& superBlock) const;
    // The same test for every descriptor of this table taken as group nFirstGroup + its index
    // (a block of descriptors of meta groups); false for an empty table or one that runs past
    // the superblock's groups.
    bool IsValidFrom(const CExt2SuperBlock& superBlock, uint64_t nFirstGroup) const;
    // The group's inode table was never initialised (checksummed descriptors only): its
    // bytes are whatever the disk held, not inodes.
    // Only the primary copy's marks are current (the backups keep those of the format): a table
    // taken from a backup never reports a group unused.
    bool IsInodeTableUnused(uint64_t nGroup, const CExt2SuperBlock& superBlock) const;
    // The group's block bitmap can be trusted to tell which of its blocks are in use: false
    // when the group's descriptor marks the bitmap never initialised, and with checksummed
    // descriptors taken from a backup, whose marks are those of the format.
    bool IsBlockBitmapKnown(uint64_t nGroup, const CExt2SuperBlock& superBlock) const;
    void SetPrimary(bool bPrimary) { m_bPrimary = bPrimary; }
    bool IsPrimary() const { return m_bPrimary; }
    // The same groups, with equal bitmap and inode-table block numbers.
    bool IsEqual(const CExt2GroupDescTable& other) const;

private:
    // Descriptor nIndex of this table lies where group nGroup's must.
    bool LiesInPlace(const CExt2SuperBlock& superBlock, uint64_t nIndex, uint64_t nGroup) const;
    // Field nField (0 block bitmap, 1 inode bitmap, 2 inode table) of descriptor nGroup.
    uint64_t Field(uint64_t nGroup, size_t nField) const;

    std::vector<uint8_t, CEngineAllocator<uint8_t>> m_Data;
    // The upper halves of the three block numbers, three per group; empty for descriptors of
    // fewer than 64 bytes, whose numbers have 32 bits.
    std::vector<uint32_t, CEngineAllocator<uint32_t>> m_High;
    bool m_bPrimary = false;
    // Bytes of the descriptors taken (0 while the table is empty).
    uint32_t m_nDescriptorBytes = 0;
};
