// Byte layout of the EXT2/EXT3 structures this reader looks at, and the little-endian getters
// every field goes through. Disk buffers are never cast to structs: fields are read at these
// offsets after the caller has checked that the buffer holds them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ByteOrder.h"

namespace ext2 {

inline uint16_t GetLe16(const uint8_t* p) { return rvd::LoadLE16(p); }
inline uint32_t GetLe32(const uint8_t* p) { return rvd::LoadLE32(p); }
inline void SetLe16(uint8_t* p, uint16_t v) { rvd::StoreLE16(p, v); }
inline void SetLe32(uint8_t* p, uint32_t v) { rvd::StoreLE32(p, v); }

constexpr uint32_t kSectorBytes = 512;

// Superblock: 1024 bytes, 1024 bytes after the start of the file system (two sectors), or at the
// start of block g x blocks-per-group + first-data-block for the backup copy of group g.
constexpr size_t kSuperBlockBytes = 1024;
constexpr uint32_t kSuperBlockSectors = 2;
constexpr size_t kSbInodesCount = 0;
constexpr size_t kSbBlocksCount = 4;
constexpr size_t kSbFreeBlocksCount = 12;
constexpr size_t kSbFirstDataBlock = 20;
constexpr size_t kSbLogBlockSize = 24;
constexpr size_t kSbBlocksPerGroup = 32;
constexpr size_t kSbInodesPerGroup = 40;
constexpr size_t kSbMountTime = 44;
constexpr size_t kSbWriteTime = 48;
constexpr size_t kSbMagic = 56;
constexpr size_t kSbLastCheck = 64;
constexpr size_t kSbRevLevel = 76;
constexpr size_t kSbFirstInode = 84;
constexpr size_t kSbInodeSize = 88;
constexpr size_t kSbBlockGroupNr = 90;
constexpr size_t kSbUuid = 104;
constexpr size_t kSbVolumeName = 120;
constexpr size_t kSbJournalInode = 224;
constexpr size_t kSbFeatureCompat = 92;
constexpr size_t kSbFeatureIncompat = 96;
constexpr size_t kSbFeatureRoCompat = 100;
constexpr size_t kSbDescriptorSize = 254;
constexpr size_t kSbFirstMetaGroup = 260;
constexpr size_t kSbBlocksCountHigh = 336;
constexpr size_t kSbBackupGroups = 588;
// Features that change where things lie: 64-bit block numbers (and descriptors of the size
// the superblock gives), groups whose bitmaps and inode tables are packed together (flexible
// groups, so that a group's tables may lie in another group); checksummed descriptors, which
// mark the inode tables never initialised.
constexpr uint32_t kIncompat64Bit = 0x80;
constexpr uint32_t kIncompatFlexGroups = 0x200;
// Meta groups: past the first "first meta group" blocks of descriptors, which follow the
// superblock as usual, each block of descriptors lies in the first block group of the groups it
// describes (after that group's superblock copy, when it has one), with copies in the second
// and the last group of those.
constexpr uint32_t kIncompatMetaGroups = 0x10;
// Which groups keep a superblock copy: all of them without sparse superblocks; with them groups
// 0, 1 and the powers of 3, 5 and 7; with the second kind only group 0 and the two groups the
// superblock names.
constexpr uint32_t kRoCompatSparseSuper = 0x1;
constexpr uint32_t kCompatSparseSuper2 = 0x200;
constexpr uint32_t kRoCompatGroupChecksum = 0x10;
constexpr uint32_t kRoCompatMetadataChecksum = 0x400;
constexpr size_t kUuidBytes = 16;
constexpr size_t kVolumeNameBytes = 16;

constexpr uint16_t kMagic = 0xEF53;
// Revision 0 ("good old") file systems have no inode-size or first-inode fields: their inodes are
// 128 bytes and the first inode not reserved by the system is 11.
constexpr uint32_t kGoodOldRevision = 0;
constexpr uint16_t kGoodOldInodeSize = 128;
constexpr uint32_t kGoodOldFirstInode = 11;

// Group descriptor: 32 bytes, or with 64-bit block numbers the size the superblock gives, whose
// first 32 bytes are laid out as the 32-byte descriptor's; from 64 bytes on the upper halves of
// the block numbers follow.
constexpr size_t kGroupDescBytes = 32;
constexpr size_t kGroupDesc64Bytes = 64;
constexpr size_t kGdBlockBitmap = 0;
constexpr size_t kGdInodeBitmap = 4;
constexpr size_t kGdInodeTable = 8;
constexpr size_t kGdBlockBitmapHigh = 32;
constexpr size_t kGdInodeBitmapHigh = 36;
constexpr size_t kGdInodeTableHigh = 40;
constexpr size_t kGdFlags = 18;
constexpr uint16_t kGdInodeTableUninit = 0x1;
constexpr uint16_t kGdBlockBitmapUninit = 0x2;

// Inode: the first 128 bytes of each record, whatever the record size; larger records only add
// fields after these.
constexpr size_t kInodeBytes = 128;
constexpr size_t kInMode = 0;
constexpr size_t kInSize = 4;
constexpr size_t kInAccessTime = 8;
constexpr size_t kInChangeTime = 12;
constexpr size_t kInModificationTime = 16;
constexpr size_t kInDeletionTime = 20;
constexpr size_t kInSectors = 28;
constexpr size_t kInFlags = 32;
constexpr size_t kInBlocks = 40;
// Inode flag: the 60 bytes of block pointers hold the root of an extent tree instead.
constexpr uint32_t kFlagExtents = 0x80000;
// Inode flag: the file's bytes themselves are kept where the block pointers are (and in an
// extended attribute); there is no block to read.
constexpr uint32_t kFlagInlineData = 0x10000000;
// Extent tree nodes: a 12-byte header (magic, entries, capacity, depth), then 12-byte entries;
// a leaf entry maps a stretch of logical blocks (first block, length, start high 16 and low 32
// bits; a length above 32768 marks a stretch allocated but never written, which reads as zeros),
// an index entry leads to the node of the blocks from its first block on.
constexpr uint16_t kExtentMagic = 0xF30A;
constexpr size_t kExtentHeaderBytes = 12;
constexpr size_t kExtentEntryBytes = 12;
constexpr size_t kInodeExtentRootBytes = 60;
constexpr uint16_t kExtentUnwrittenLength = 32768;
constexpr uint16_t kExtentMaxDepth = 5;
// Upper 32 bits of a regular file's size from revision 1 on (revision 0 keeps a directory ACL
// block there and has no files of 4 GiB or more).
constexpr size_t kInSizeHigh = 108;
constexpr uint32_t kBlockPointers = 15;
constexpr uint32_t kDirectBlocks = 12;
constexpr uint32_t kSingleIndirect = 12;
constexpr uint32_t kDoubleIndirect = 13;
constexpr uint32_t kTripleIndirect = 14;
constexpr uint16_t kModeTypeMask = 0xF000;
constexpr uint16_t kModeDirectory = 0x4000;
constexpr uint16_t kModeRegular = 0x8000;
constexpr uint16_t kModeSymlink = 0xA000;
// A symbolic link whose target is shorter than this is kept in the block pointers themselves.
constexpr uint32_t kFastSymlinkBytes = 60;

constexpr uint32_t kRootInode = 2;

// Directory entry: 8 header bytes, then the name (not terminated). No entry crosses a block.
constexpr size_t kDeInode = 0;
constexpr size_t kDeRecordLength = 4;
constexpr size_t kDeNameLength = 6;
constexpr size_t kDeFileType = 7;
constexpr size_t kDeHeaderBytes = 8;
constexpr size_t kMaxNameBytes = 255;
constexpr uint8_t kDeTypeMask = 0x07;
constexpr uint8_t kDeTypeDirectory = 2;

} // namespace ext2
