// An open EXT2/EXT3 file system on a storage device: its normalised superblock, a trusted copy of
// the group-descriptor table, block reads relative to the file system's start, and inode loading.
// Journals are never read; EXT3 is read exactly as EXT2.
//
// Every failure to open throws (CExt2ReadSectorError, CExt2BadSuperBlock,
// CExt2BadGroupDescriptor); callers catch std::exception at their boundary. The object only
// reads the device, never writes it, and does not own it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "Ext2Exceptions.h"
#include "Ext2GroupDescTable.h"
#include "Ext2SuperBlock.h"
#include "IStorageDevice.h"

class CExt2Inode;

// Whole blocks read before they were asked for, as they lay on the device: block numbers in
// ascending order and their bytes, one block size each, in the same order.
struct EXT2_HELD_BLOCKS {
    std::vector<uint64_t, CEngineAllocator<uint64_t>> Numbers;
    std::vector<uint8_t, CEngineAllocator<uint8_t>> Bytes;
    // The bytes of block nBlock; null when it is not held.
    const uint8_t* Find(uint64_t nBlock, uint32_t nBlockSize) const;
    void Clear()
    {
        Numbers.clear();
        Bytes.clear();
    }
};

class CExt2FileSystem : public CEngineObject {
public:
    // Reads the superblock at u64SuperBlockSector (partition start + 2), then opens as below.
    CExt2FileSystem(IStorageDevice* pDevice, uint64_t u64SuperBlockSector);
    // Opens with a superblock already read from u64SuperBlockSector: it must be valid once
    // normalised and fit the device, and a trustworthy descriptor table is looked for among the
    // table after it and the backups of groups 1, 3, 5, 7, 9, 25, 27, 49, 81 and 125.
    CExt2FileSystem(IStorageDevice* pDevice, uint64_t u64SuperBlockSector, const CExt2SuperBlock& superBlock);
    // Opens a file system found by a scan from a superblock copy (primary or backup) and the
    // descriptor table read after it; the file system starts at u64PartitionStart.
    CExt2FileSystem(IStorageDevice* pDevice, uint64_t u64PartitionStart, const CExt2SuperBlock& superBlock,
                    const CExt2GroupDescTable& table);
    virtual ~CExt2FileSystem();

    CExt2FileSystem(const CExt2FileSystem&) = delete;
    CExt2FileSystem& operator=(const CExt2FileSystem&) = delete;

    IStorageDevice* GetDevice() const { return m_pDevice; }
    const CExt2SuperBlock& GetSuperBlock() const { return m_SuperBlock; }
    const CExt2GroupDescTable& GetGroupDescTable() const { return m_Table; }
    uint64_t GetSuperBlockSector() const { return m_u64SuperBlockSector; }
    // Sector of block 0.
    uint64_t GetPartitionStart() const { return m_u64SuperBlockSector - ext2::kSuperBlockSectors; }

    uint32_t GetBlockSize() const { return m_nBlockSize; }
    uint32_t GetSectorsPerBlock() const { return m_nBlockSize / ext2::kSectorBytes; }
    uint32_t GetGroupCount() const { return m_nGroupCount; }
    uint32_t GetBlocksCount() const { return m_SuperBlock.GetBlocksCount(); }
    uint32_t GetInodeSize() const { return m_SuperBlock.GetInodeSize(); }
    // 4 (EXT2) or 5 (EXT3).
    int GetFileSystemKind() const { return m_SuperBlock.GetFileSystemKind(); }
    size_t GetVolumeName(char* pszOut17) const { return m_SuperBlock.GetVolumeName(pszOut17); }
    uint64_t GetSizeInBytes() const { return m_SuperBlock.GetSizeInBytes(); }

    // A block number is valid when it is below the blocks count.
    bool IsValidBlock(uint64_t nBlock) const { return nBlock < m_SuperBlock.GetBlocksCount(); }
    // Same superblock (as compared by CExt2SuperBlock::IsEqual) at the same sector.
    bool IsSame(const CExt2FileSystem& other) const;

    // Reads nCount blocks from nFirstBlock into pBuffer (nCount x block size bytes). Throws
    // std::range_error("CExt2FileSystem::ReadBlocks") when the blocks do not lie on the device,
    // and CExt2ReadSectorError, with the buffer zero-filled, when the device fails the read.
    void ReadBlocks(void* pBuffer, uint64_t nFirstBlock, uint64_t nCount);
    // Blocks read ahead (by the inode enumerator, which holds them): a read of a single one of
    // them is answered from there, with the bytes the device gave. Null for none. Set only while
    // no other thread reads through this object.
    void SetHeldBlocks(const EXT2_HELD_BLOCKS* pBlocks) { m_pHeldBlocks = pBlocks; }
    const EXT2_HELD_BLOCKS* GetHeldBlocks() const { return m_pHeldBlocks; }

    // Where inode nInode is: its block and byte offset in that block. False when its group does
    // not exist or its record would lie outside the file system.
    bool LocateInode(uint32_t nInode, uint64_t* pBlock, uint32_t* pOffset) const;
    // Loads inode nInode into pInode (with no name). An inode that cannot be located is all
    // zeros; a failed read leaves it all zeros and throws as ReadBlocks does.
    void LoadInode(uint32_t nInode, CExt2Inode* pInode);
    // The whole record of inode nInode (inode size bytes), read as LoadInode reads it; valid
    // until the next LoadInode or GetInodeRecord. Null when the inode cannot be located; a failed
    // read throws as ReadBlocks does.
    const uint8_t* GetInodeRecord(uint32_t nInode);
    // First inode number the enumeration visits: min(first non-reserved inode, 11), at least 1.
    uint32_t GetFirstEnumeratedInode() const;

    // Sectors u64Start.. into pBuffer, split into reads the devices accept. False, with the
    // buffer zero-filled, when the range leaves the device or a read fails.
    static bool ReadDeviceSectors(IStorageDevice* pDevice, void* pBuffer, uint64_t u64Start, uint64_t u64Count);

private:
    void Open(const CExt2SuperBlock& superBlock);
    void SetGeometry();
    void FindGroupDescTable();
    // With meta groups, the descriptors of groups nFromGroup on (the leading groups, or a later
    // block's first group): one block per meta group, each from the first of its three copies
    // that reads and whose descriptors lie in their groups (zeros when none does, so that the
    // table is refused). Empty without meta groups or for a group that does not start a block.
    // *pbFromCopy tells whether a block came from a copy other than the first.
    void ReadMetaDescriptors(uint64_t nFromGroup, std::vector<uint8_t, CEngineAllocator<uint8_t>>* pData,
                             bool* pbFromCopy) const;

    IStorageDevice* m_pDevice;
    CExt2SuperBlock m_SuperBlock;
    CExt2GroupDescTable m_Table;
    uint64_t m_u64SuperBlockSector;
    uint32_t m_nBlockSize;
    uint32_t m_nGroupCount;
    // The block of the last inode loaded: the entries of one directory usually name inodes that
    // share a block.
    std::vector<uint8_t, CEngineAllocator<uint8_t>> m_InodeBlock;
    uint64_t m_nInodeBlock;
    const EXT2_HELD_BLOCKS* m_pHeldBlocks;
};
