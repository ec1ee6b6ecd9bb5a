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
    Clear();
    m_bPrimary = false;
    return Append(pData, nSize, nGroups, nDescriptorBytes);
}

bool CExt2GroupDescTable::Append(const uint8_t* pData, size_t nSize, uint64_t nGroups, uint32_t nDescriptorBytes)
{
    if (!pData || nDescriptorBytes < kGroupDescBytes || nGroups > nSize / nDescriptorBytes ||
        (!m_Data.empty() && nDescriptorBytes != m_nDescriptorBytes))
        return false;
    m_nDescriptorBytes = nDescriptorBytes;
    const uint64_t nFirst = GetCount();
    m_Data.resize(static_cast<size_t>(nFirst + nGroups) * kGroupDescBytes);
    for (uint64_t i = 0; i < nGroups; ++i)
        memcpy(m_Data.data() + (nFirst + i) * kGroupDescBytes, pData + i * nDescriptorBytes, kGroupDescBytes);
    if (nDescriptorBytes >= kGroupDesc64Bytes) {
        m_High.resize(static_cast<size_t>(nFirst + nGroups) * 3);
        for (uint64_t i = 0; i < nGroups; ++i) {
            const uint8_t* pDescriptor = pData + i * nDescriptorBytes;
            m_High[(nFirst + i) * 3] = GetLe32(pDescriptor + kGdBlockBitmapHigh);
            m_High[(nFirst + i) * 3 + 1] = GetLe32(pDescriptor + kGdInodeBitmapHigh);
            m_High[(nFirst + i) * 3 + 2] = GetLe32(pDescriptor + kGdInodeTableHigh);
        }
    }
    return true;
}

bool CExt2GroupDescTable::IsInodeTableUnused(uint64_t nGroup, const CExt2SuperBlock& superBlock) const
{
    if (!m_bPrimary || (superBlock.GetRoCompatFeatures() & (kRoCompatGroupChecksum | kRoCompatMetadataChecksum)) == 0 ||
        nGroup >= GetCount())
        return false;
    return (GetLe16(m_Data.data() + nGroup * kGroupDescBytes + kGdFlags) & kGdInodeTableUninit) != 0;
}

bool CExt2GroupDescTable::IsBlockBitmapKnown(uint64_t nGroup, const CExt2SuperBlock& superBlock) const
{
    if (nGroup >= GetCount() || GetBlockBitmap(nGroup) == 0)
        return false;
    if ((superBlock.GetRoCompatFeatures() & (kRoCompatGroupChecksum | kRoCompatMetadataChecksum)) == 0)
        return true;
    return m_bPrimary && (GetLe16(m_Data.data() + nGroup * kGroupDescBytes + kGdFlags) & kGdBlockBitmapUninit) == 0;
}

uint64_t CExt2GroupDescTable::Field(uint64_t nGroup, size_t nField) const
{
    static const size_t kLowOffsets[3] = {kGdBlockBitmap, kGdInodeBitmap, kGdInodeTable};
    if (nGroup >= GetCount() || nField >= 3)
        return 0;
    const uint64_t nLow = GetLe32(m_Data.data() + nGroup * kGroupDescBytes + kLowOffsets[nField]);
    const uint64_t nHigh = m_High.empty() ? 0 : m_High[nGroup * 3 + nField];
    return nLow | (nHigh << 32);
}

bool CExt2GroupDescTable::LiesInPlace(const CExt2SuperBlock& superBlock, uint64_t nIndex, uint64_t nGroup) const
{
    const uint64_t nPerGroup = superBlock.GetBlocksPerGroup();
    const bool bFlexible = (superBlock.GetIncompatFeatures() & kIncompatFlexGroups) != 0;
    const uint64_t nBase = bFlexible ? superBlock.GetFirstDataBlock() : superBlock.GetFirstDataBlock() + nGroup * nPerGroup;
    const uint64_t nEnd = bFlexible ? superBlock.GetBlocksCount() : nBase + nPerGroup;
    const uint64_t anBlocks[3] = {GetBlockBitmap(nIndex), GetInodeBitmap(nIndex), GetInodeTable(nIndex)};
    for (uint64_t nBlock : anBlocks)
        if (nBlock < nBase || nBlock >= nEnd)
            return false;
    return true;
}

bool CExt2GroupDescTable::IsValid(const CExt2SuperBlock& superBlock) const
{
    const uint64_t nGroups = superBlock.GetGroupCount();
    if (nGroups == 0 || GetCount() < nGroups)
        return false;
    for (uint64_t i = 0; i < nGroups; ++i)
        if (!LiesInPlace(superBlock, i, i))
            return false;
    return true;
}

bool CExt2GroupDescTable::IsValidFrom(const CExt2SuperBlock& superBlock, uint64_t nFirstGroup) const
{
    const uint64_t nGroups = superBlock.GetGroupCount();
    if (GetCount() == 0 || nFirstGroup > nGroups || GetCount() > nGroups - nFirstGroup)
        return false;
    for (uint64_t i = 0; i < GetCount(); ++i)
        if (!LiesInPlace(superBlock, i, nFirstGroup + i))
            return false;
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
