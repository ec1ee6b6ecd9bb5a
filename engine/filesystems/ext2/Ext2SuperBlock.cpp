#include "Ext2SuperBlock.h"

#include <algorithm>
#include <cstring>

using namespace ext2;

CExt2SuperBlock::CExt2SuperBlock()
{
    memset(m_abyData, 0, sizeof(m_abyData));
}

CExt2SuperBlock::CExt2SuperBlock(const uint8_t* pData, size_t nSize)
{
    Assign(pData, nSize);
}

void CExt2SuperBlock::Assign(const uint8_t* pData, size_t nSize)
{
    memset(m_abyData, 0, sizeof(m_abyData));
    if (pData)
        memcpy(m_abyData, pData, std::min(nSize, sizeof(m_abyData)));
}

void CExt2SuperBlock::SetBlockGroupNumber(uint16_t nGroup)
{
    SetLe16(m_abyData + kSbBlockGroupNr, nGroup);
}

uint32_t CExt2SuperBlock::GetBlockSize() const
{
    const uint32_t nLog = GetLogBlockSize();
    return nLog <= 21 ? (1024u << nLog) : 0;
}

uint64_t CExt2SuperBlock::GetGroupCount() const
{
    const uint64_t nPerGroup = GetBlocksPerGroup();
    if (nPerGroup == 0)
        return 0;
    const uint64_t nSpan = static_cast<uint64_t>(GetBlocksCount()) + nPerGroup - 1;
    const uint64_t nFirst = GetFirstDataBlock();
    if (nSpan < nFirst)
        return 0;
    return (nSpan - nFirst) / nPerGroup;
}

int64_t CExt2SuperBlock::GetCopyOffset() const
{
    const int64_t nOffset = static_cast<int64_t>(GetBlockGroupNumber()) * GetBlocksPerGroup() *
                            GetSectorsPerBlock();
    return nOffset - (GetFirstDataBlock() == 0 ? 2 : 0);
}

int64_t CExt2SuperBlock::GetPartitionStartFromCopy(uint64_t u64Sector) const
{
    const int64_t nSector = static_cast<int64_t>(u64Sector);
    if (GetBlockGroupNumber() != 0)
        return nSector - GetCopyOffset() - kSuperBlockSectors;
    return nSector - kSuperBlockSectors;
}

int CExt2SuperBlock::GetFileSystemKind() const
{
    return GetJournalInode() != 0 ? 5 : 4;
}

uint64_t CExt2SuperBlock::GetSizeInBytes() const
{
    return static_cast<uint64_t>(GetBlocksCount()) * GetBlockSize();
}

size_t CExt2SuperBlock::GetVolumeName(char* pszOut) const
{
    size_t n = 0;
    while (n < kVolumeNameBytes && m_abyData[kSbVolumeName + n] != 0) {
        pszOut[n] = static_cast<char>(m_abyData[kSbVolumeName + n]);
        ++n;
    }
    pszOut[n] = 0;
    return n;
}

void CExt2SuperBlock::Normalise()
{
    if (GetRevisionLevel() == kGoodOldRevision) {
        SetLe16(m_abyData + kSbInodeSize, kGoodOldInodeSize);
        SetLe32(m_abyData + kSbFirstInode, kGoodOldFirstInode);
    }
    // The primary superblock always starts at byte 1024: in block 1 with 1 KiB blocks, inside
    // block 0 with larger ones.
    SetLe32(m_abyData + kSbFirstDataBlock, GetBlockSize() == 1024 ? 1 : 0);

    if (GetBlocksPerGroup() == 0)
        return;
    const uint64_t nGroups = GetGroupCount();
    const uint64_t nPerGroup = GetInodesPerGroup();
    const uint64_t nInodes = GetInodesCount();
    const bool bFits = nGroups > 0 && GetFirstInode() < nInodes &&
                       (nGroups - 1) * nPerGroup < nInodes && nInodes <= nGroups * nPerGroup;
    if (!bFits)
        SetLe32(m_abyData + kSbInodesCount,
                static_cast<uint32_t>(std::min<uint64_t>(nGroups * nPerGroup, 0xFFFFFFFFu)));
}

uint32_t CExt2SuperBlock::GetDescriptorBytes() const
{
    if ((GetIncompatFeatures() & kIncompat64Bit) == 0)
        return static_cast<uint32_t>(kGroupDescBytes);
    const uint32_t nBytes = GetLe16(m_abyData + kSbDescriptorSize);
    return nBytes >= kGroupDescBytes && nBytes <= 1024 && (nBytes & (nBytes - 1)) == 0 ? nBytes : 0;
}

uint64_t CExt2SuperBlock::GetLeadingTableGroups() const
{
    const uint64_t nGroups = GetGroupCount();
    const uint32_t nDescriptorBytes = GetDescriptorBytes();
    if ((GetIncompatFeatures() & kIncompatMetaGroups) == 0 || nDescriptorBytes == 0)
        return nGroups;
    const uint64_t nPerBlock = GetBlockSize() / nDescriptorBytes;
    return std::min<uint64_t>(nGroups, static_cast<uint64_t>(Le32(kSbFirstMetaGroup)) * nPerBlock);
}

bool CExt2SuperBlock::HasSuperBlockCopy(uint64_t nGroup) const
{
    if (nGroup == 0)
        return true;
    if ((GetCompatFeatures() & kCompatSparseSuper2) != 0)
        return nGroup == Le32(kSbBackupGroups) || nGroup == Le32(kSbBackupGroups + 4);
    if ((GetRoCompatFeatures() & kRoCompatSparseSuper) == 0 || nGroup == 1)
        return true;
    for (uint64_t nBase : {3u, 5u, 7u}) {
        uint64_t n = nBase;
        while (n < nGroup)
            n *= nBase;
        if (n == nGroup)
            return true;
    }
    return false;
}

uint64_t CExt2SuperBlock::GetMetaDescriptorBlock(uint64_t nFirstGroup, uint32_t nCopy) const
{
    const uint32_t nDescriptorBytes = GetDescriptorBytes();
    const uint64_t nGroups = GetGroupCount();
    if (nDescriptorBytes == 0 || nFirstGroup >= nGroups || nCopy > 2)
        return kNoBlock;
    const uint64_t nPerBlock = GetBlockSize() / nDescriptorBytes;
    const uint64_t nGroup = nCopy == 0 ? nFirstGroup : nCopy == 1 ? nFirstGroup + 1 : nFirstGroup + nPerBlock - 1;
    if (nGroup >= nGroups)
        return kNoBlock;
    return nGroup * GetBlocksPerGroup() + GetFirstDataBlock() + (HasSuperBlockCopy(nGroup) ? 1 : 0);
}

bool CExt2SuperBlock::IsValid() const
{
    if (GetMagic() != kMagic)
        return false;
    const uint64_t nInodes = GetInodesCount();
    const uint64_t nBlocks = GetBlocksCount();
    const uint64_t nBlocksPerGroup = GetBlocksPerGroup();
    const uint64_t nInodesPerGroup = GetInodesPerGroup();
    if (nInodes == 0 || nBlocks == 0 || nBlocksPerGroup == 0 || nInodesPerGroup == 0)
        return false;
    const uint64_t nGroups = GetGroupCount();
    if (nGroups == 0 || GetBlockGroupNumber() > nGroups)
        return false;
    const uint64_t nBlockSize = GetBlockSize();
    if (nBlockSize != 1024 && nBlockSize != 2048 && nBlockSize != 4096)
        return false;
    // Inodes are located with this size, and their first 128 bytes are read, so it must be a
    // power of two that a block holds a whole number of.
    const uint64_t nInodeSize = GetInodeSize();
    if (nInodeSize < kInodeBytes || nInodeSize > nBlockSize || (nInodeSize & (nInodeSize - 1)) != 0)
        return false;
    // Each group has one block bitmap and one inode bitmap block, so neither of its counts can
    // exceed the bits of one block. (This also keeps the group count at or above blocks count /
    // (8 x block size).)
    if (nBlocksPerGroup > 8 * nBlockSize || nInodesPerGroup > 8 * nBlockSize)
        return false;
    // Group 0 holds the superblock, the descriptor table (with meta groups its leading blocks),
    // both bitmaps and its inode table; this bounds the descriptor blocks read at once and each
    // group's inode table that is read whole.
    // Block numbers past 32 bits are not read (they are kept in the descriptors' upper halves).
    const uint64_t nDescriptorBytes = GetDescriptorBytes();
    if (nDescriptorBytes == 0 || ((GetIncompatFeatures() & kIncompat64Bit) != 0 && Le32(kSbBlocksCountHigh) != 0))
        return false;
    const uint64_t nTableBlocks = (GetLeadingTableGroups() * nDescriptorBytes + nBlockSize - 1) / nBlockSize;
    // The descriptors of meta groups are read one block at a time but kept whole: their table
    // is held to what one group could hold too.
    if (nGroups * nDescriptorBytes > nBlocksPerGroup * nBlockSize)
        return false;
    const uint64_t nInodeTableBlocks = (nInodesPerGroup * nInodeSize + nBlockSize - 1) / nBlockSize;
    if (1 + nTableBlocks + 2 + nInodeTableBlocks > nBlocksPerGroup)
        return false;
    // No "more blocks than inodes" rule: mke2fs gives as many inodes as blocks to any file
    // system under 512 MiB made with 4 KiB blocks. The inode tables fitting their groups (above)
    // is the bound that holds.
    return nInodes > GetFirstInode() && nInodes <= nGroups * nInodesPerGroup;
}

bool CExt2SuperBlock::IsValidNormalised() const
{
    CExt2SuperBlock copy(*this);
    copy.Normalise();
    return copy.IsValid();
}

bool CExt2SuperBlock::IsEqual(const CExt2SuperBlock& other) const
{
    return GetMagic() == other.GetMagic() && GetLogBlockSize() == other.GetLogBlockSize() &&
           GetBlocksCount() == other.GetBlocksCount() && GetInodesCount() == other.GetInodesCount() &&
           GetBlocksPerGroup() == other.GetBlocksPerGroup() &&
           GetInodesPerGroup() == other.GetInodesPerGroup() &&
           GetInodeSize() == other.GetInodeSize() && GetFirstDataBlock() == other.GetFirstDataBlock() &&
           memcmp(GetUuid(), other.GetUuid(), kUuidBytes) == 0;
}
