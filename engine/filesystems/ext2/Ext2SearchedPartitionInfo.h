// The EXT2/EXT3 partition candidate of the complete scan: the superblock exactly as found, the
// group-descriptor table read after it, and how often an identical pair was found.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "SearchedPartitionInfo.h"
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
    bool IsTableComplete() const { return m_nDescriptorsCollected >= GetGroupCount(); }
    bool HasTable() const { return !m_Table.empty(); }
    // Copies up to 16 descriptors (one sector) to the table; the first call allocates it and
    // notes the sector.
    void AppendDescriptors(const uint8_t* pSector, uint64_t ullSector);

    CExt2SuperBlock m_SuperBlock;      // as found, not normalised
    CExt2SuperBlock m_Normalised;
    uint32_t m_nConfirmations;
    uint64_t m_nDescriptorsCollected;
    uint64_t m_ullDescTableSector;
    uint64_t m_ullLowestSuperBlockSector;
    int32_t m_bRawValid;
    std::vector<uint8_t, CEngineAllocator<uint8_t>> m_Table;
};
