// The EXT2/EXT3/EXT4 partition candidate of the complete scan: the superblock exactly as found,
// the group-descriptor table read after it (as stored: descriptors of the size the superblock
// gives), and how often an identical pair was found.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "SearchedPartitionInfo.h"
#include "ext2/Ext2GroupDescTable.h"
#include "ext2/Ext2SuperBlock.h"

class CExt2SearchedPartitionInfo : public CSearchedPartitionInfo {
public:
    CExt2SearchedPartitionInfo();
    ~CExt2SearchedPartitionInfo() override;

    int32_t GetType() const override;
    // The base record, then the descriptor-table sector (u64) and the raw-valid flag (u32). The
    // superblock and the table are read again from the disk when a tree is built.
    BOOL Save(IDataStream* pWriter) override;
    BOOL Load(IDataStream* pReader) override;

    // Fills the candidate from the superblock bytes found at sector ullSector (whose copy offset
    // puts the partition start at ullStart); the base fields follow from the normalised copy.
    void SetFromSuperBlock(const uint8_t* pSuperBlock, uint64_t ullSector, uint64_t ullStart);
    // Groups of the normalised superblock: the descriptors the table must hold.
    uint64_t GetGroupCount() const;
    // Bytes of one descriptor as the superblock gives them (0: a size no file system uses).
    uint32_t GetDescriptorBytes() const { return m_Normalised.GetDescriptorBytes(); }
    // Groups whose descriptors are taken from the blocks after the superblock: every group, or
    // with meta groups the leading ones, and at least the first block's (the first meta group's
    // block lies after the superblock in group 0 and its copy after group 1's). The descriptors
    // of later meta groups are read from the disk when the tree is built.
    uint64_t GetCollectedGroups() const;
    // Bytes of the table taken after the superblock: collected groups x descriptor bytes.
    uint64_t GetTableBytes() const { return GetCollectedGroups() * GetDescriptorBytes(); }
    bool IsTableComplete() const { return m_nTableBytesCollected >= GetTableBytes(); }
    bool HasTable() const { return !m_Table.empty(); }
    // Copies the next sector of the table (or what the table still lacks of it); the first call
    // allocates the table and notes the sector.
    void AppendDescriptors(const uint8_t* pSector, uint64_t ullSector);
    // Takes the collected table into pTable (false when it does not hold every collected
    // group's descriptor); the table is the primary copy when the superblock found was.
    bool GetTable(CExt2GroupDescTable* pTable) const;

    CExt2SuperBlock m_SuperBlock;      // as found, not normalised
    CExt2SuperBlock m_Normalised;
    uint32_t m_nConfirmations;
    uint64_t m_nTableBytesCollected;
    uint64_t m_ullDescTableSector;
    uint64_t m_ullLowestSuperBlockSector;
    int32_t m_bRawValid;
    std::vector<uint8_t, CEngineAllocator<uint8_t>> m_Table;
};
