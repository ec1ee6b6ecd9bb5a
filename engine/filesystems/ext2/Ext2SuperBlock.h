// One EXT2/EXT3 superblock (1024 bytes) with the values derived from it: block size, group
// count, where this copy lies relative to the start of its file system. The raw bytes are kept
// as found; Normalise repairs, on the caller's copy, the fields a damaged or old superblock gets
// wrong, and IsValid decides whether the values are consistent enough to read the file system.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"
#include "Ext2Layout.h"

class CExt2SuperBlock : public CEngineObject {
public:
    CExt2SuperBlock();
    // Copies the first 1024 bytes of pData; a shorter input is completed with zeros (and then
    // fails the validity test for want of a magic number or counts).
    CExt2SuperBlock(const uint8_t* pData, size_t nSize);

    void Assign(const uint8_t* pData, size_t nSize);
    const uint8_t* GetData() const { return m_abyData; }

    // Fields as stored.
    uint32_t GetInodesCount() const { return Le32(ext2::kSbInodesCount); }
    uint32_t GetBlocksCount() const { return Le32(ext2::kSbBlocksCount); }
    uint32_t GetFreeBlocksCount() const { return Le32(ext2::kSbFreeBlocksCount); }
    uint32_t GetFirstDataBlock() const { return Le32(ext2::kSbFirstDataBlock); }
    uint32_t GetLogBlockSize() const { return Le32(ext2::kSbLogBlockSize); }
    uint32_t GetBlocksPerGroup() const { return Le32(ext2::kSbBlocksPerGroup); }
    uint32_t GetInodesPerGroup() const { return Le32(ext2::kSbInodesPerGroup); }
    uint32_t GetMountTime() const { return Le32(ext2::kSbMountTime); }
    uint32_t GetWriteTime() const { return Le32(ext2::kSbWriteTime); }
    uint16_t GetMagic() const { return ext2::GetLe16(m_abyData + ext2::kSbMagic); }
    uint32_t GetLastCheckTime() const { return Le32(ext2::kSbLastCheck); }
    uint32_t GetRevisionLevel() const { return Le32(ext2::kSbRevLevel); }
    uint32_t GetFirstInode() const { return Le32(ext2::kSbFirstInode); }
    uint16_t GetInodeSize() const { return ext2::GetLe16(m_abyData + ext2::kSbInodeSize); }
    uint16_t GetBlockGroupNumber() const { return ext2::GetLe16(m_abyData + ext2::kSbBlockGroupNr); }
    const uint8_t* GetUuid() const { return m_abyData + ext2::kSbUuid; }
    uint32_t GetJournalInode() const { return Le32(ext2::kSbJournalInode); }
    uint32_t GetIncompatFeatures() const { return Le32(ext2::kSbFeatureIncompat); }
    uint32_t GetRoCompatFeatures() const { return Le32(ext2::kSbFeatureRoCompat); }
    uint32_t GetCompatFeatures() const { return Le32(ext2::kSbFeatureCompat); }
    // Bytes of one group descriptor: 32, or with 64-bit block numbers the size the superblock
    // gives (a power of two from 32 to 1024; 0 for any other value).
    uint32_t GetDescriptorBytes() const;
    // Groups whose descriptors follow the superblock: every group, or with meta groups those of
    // the first "first meta group" blocks of descriptors (at most every group). The others lie
    // one block per meta group (GetMetaDescriptorBlock).
    uint64_t GetLeadingTableGroups() const;
    // Block of descriptors that describes groups nFirstGroup on (a multiple of the descriptors a
    // block holds, past the leading groups), in its copy nCopy: 0 the first group of those it
    // describes, 1 the second, 2 the last one. kNoBlock when that copy's group lies past the
    // file system.
    uint64_t GetMetaDescriptorBlock(uint64_t nFirstGroup, uint32_t nCopy) const;
    // Whether group nGroup keeps a superblock copy in its first block.
    bool HasSuperBlockCopy(uint64_t nGroup) const;
    static constexpr uint64_t kNoBlock = ~0ull;

    void SetBlockGroupNumber(uint16_t nGroup);

    // 1024 << log block size; 0 when the shift would leave 32 bits.
    uint32_t GetBlockSize() const;
    // Block size / 512; 0 when the block size is 0.
    uint32_t GetSectorsPerBlock() const { return GetBlockSize() / ext2::kSectorBytes; }
    // (blocks count + blocks per group - first data block - 1) / blocks per group, in 64 bits so
    // that a huge blocks count cannot wrap; 0 when blocks per group is 0.
    uint64_t GetGroupCount() const;
    // Sectors between the start of the file system plus 2 and this copy: n x blocks per group x
    // sectors per block for the copy of group n, less 2 when the first data block is 0 (the
    // backup then starts its block, while the primary copy sits 1024 bytes into block 0).
    int64_t GetCopyOffset() const;
    // The partition start implied by finding this copy at sector u64Sector; negative when the
    // copy cannot lie there.
    int64_t GetPartitionStartFromCopy(uint64_t u64Sector) const;
    // 5 (EXT3) when a journal inode is named, else 4 (EXT2).
    int GetFileSystemKind() const;
    // Blocks count x block size.
    uint64_t GetSizeInBytes() const;
    // The volume name: at most 16 bytes, up to the first zero; pszOut holds 17 bytes and is
    // always terminated. Returns the length.
    size_t GetVolumeName(char* pszOut) const;

    // Repairs, in place, what old or damaged superblocks get wrong (apply it to a copy):
    // revision 0 has no inode-size and first-inode fields (128 and 11 then), the first data block
    // follows from the block size, and an inodes count that does not fit the group count is
    // replaced by groups x inodes per group.
    void Normalise();
    // Whether the values describe a file system this reader can walk without leaving its
    // buffers: every count and size that later sizes a buffer or a loop is bounded here.
    bool IsValid() const;
    // Normalises a copy and tests it.
    bool IsValidNormalised() const;
    // Same file system: magic, block size, counts, group geometry, inode size, first data block
    // and UUID equal.
    bool IsEqual(const CExt2SuperBlock& other) const;

private:
    uint32_t Le32(size_t nOffset) const { return ext2::GetLe32(m_abyData + nOffset); }

    uint8_t m_abyData[ext2::kSuperBlockBytes];
};
