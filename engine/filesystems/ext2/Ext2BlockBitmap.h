// The block bitmaps of an EXT2/EXT3/EXT4 file system: one block per group, bit i (least
// significant first) set when block (first data block + group x blocks per group + i) is in
// use. Read a group at a time, when a block of that group is first asked about.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"

class CExt2FileSystem;

class CExt2BlockBitmap : public CEngineObject {
public:
    explicit CExt2BlockBitmap(CExt2FileSystem* pFileSystem) : m_pFileSystem(pFileSystem) {}

    // True only when the bitmap of the block's group was read and marks the block in use; a
    // group whose bitmap is not known (never initialised, unreadable, not in the descriptor
    // table) marks nothing.
    bool IsInUse(uint64_t nBlock);

private:
    enum : uint8_t { kNotRead = 0, kRead = 1, kUnknown = 2 };

    CExt2FileSystem* m_pFileSystem;
    std::vector<uint8_t, CEngineAllocator<uint8_t>> m_State;  // per group
    // The bitmaps read, block size bytes each, in the order read; m_Slot gives a group's.
    std::vector<uint8_t, CEngineAllocator<uint8_t>> m_Bits;
    std::vector<uint32_t, CEngineAllocator<uint32_t>> m_Slot;  // per group
};
