#include "Ext2GroupDescTable.h"

#include <cstring>

#include "Ext2SuperBlock.h"

using namespace ext2;

uint64_t CExt2GroupDescTable::GetSectorCount(uint64_t nGroups, uint32_t nDescriptorBytes)
{
    return (nGroups * nDescriptorBytes + kSectorBytes - 1) / kSectorBytes;
}

bool CExt2GroupDescTable::Assign(const uint8_t* pData, size_t nSize, uint64_t nGroups, uint32_t nDescriptorBytes)
{
    m_Data.clear();
    m_bPrimary = false;
    if (!pData || nDescriptorBytes < kGroupDescBytes || nGroups > nSize / nDescriptorBytes)
        return false;
    if (nDescriptorBytes == kGroupDescBytes) {
        m_Data.assign(pData, pData + nGroups * kGroupDescBytes);
        return true;
    }
    m_Data.resize(static_cast<size_t>(nGroups) * kGroupDescBytes);
    for (uint64_t i = 0; i < nGroups; ++i)
        memcpy(m_Data.data() + i * kGroupDescBytes, pData + i * nDescriptorBytes, kGroupDescBytes);
    return true;
}

bool CExt2GroupDescTable::IsInodeTableUnused(uint64_t nGroup, const CExt2SuperBlock& superBlock) const
{
    if (!m_bPrimary || (superBlock.GetRoCompatFeatures() & (kRoCompatGroupChecksum | kRoCompatMetadataChecksum)) == 0 ||
        nGroup >= GetCount())
        return false;
    return (GetLe16(m_Data.data() + nGroup * kGroupDescBytes + kGdFlags) & kGdInodeTableUninit) != 0;
}

uint32_t CExt2GroupDescTable::Field(uint64_t nGroup, size_t nOffset) const
{
    if (nGroup >= GetCount())
        return 0;
    return GetLe32(m_Data.data() + nGroup * kGroupDescBytes + nOffset);
}

bool CExt2GroupDescTable::IsValid(const CExt2SuperBlock& superBlock) const
{
    const uint64_t nGroups = superBlock.GetGroupCount();
    const uint64_t nPerGroup = superBlock.GetBlocksPerGroup();
    if (nGroups == 0 || GetCount() < nGroups)
        return false;
    const bool bFlexible = (superBlock.GetIncompatFeatures() & kIncompatFlexGroups) != 0;
    for (uint64_t i = 0; i < nGroups; ++i) {
        const uint64_t nBase = bFlexible ? superBlock.GetFirstDataBlock() : superBlock.GetFirstDataBlock() + i * nPerGroup;
        const uint64_t nEnd = bFlexible ? superBlock.GetBlocksCount() : nBase + nPerGroup;
        const uint64_t anBlocks[3] = {GetBlockBitmap(i), GetInodeBitmap(i), GetInodeTable(i)};
        for (uint64_t nBlock : anBlocks)
            if (nBlock < nBase || nBlock >= nEnd)
                return false;
    }
    return true;
}

bool CExt2GroupDescTable::IsEqual(const CExt2GroupDescTable& other) const
{
    if (GetCount() != other.GetCount())
        return false;
    for (uint64_t i = 0; i < GetCount(); ++i)
        if (GetBlockBitmap(i) != other.GetBlockBitmap(i) || GetInodeBitmap(i) != other.GetInodeBitmap(i) ||
            GetInodeTable(i) != other.GetInodeTable(i))
            return false;
    return true;
}
