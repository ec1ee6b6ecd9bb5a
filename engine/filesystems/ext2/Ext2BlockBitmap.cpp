#include "Ext2BlockBitmap.h"

#include <exception>

#include "Ext2FileSystem.h"

bool CExt2BlockBitmap::IsInUse(uint64_t nBlock)
{
    CExt2FileSystem* pFs = m_pFileSystem;
    const CExt2SuperBlock& superBlock = pFs->GetSuperBlock();
    const uint64_t nFirst = superBlock.GetFirstDataBlock();
    const uint64_t nPerGroup = superBlock.GetBlocksPerGroup();
    const uint64_t nBlockSize = pFs->GetBlockSize();
    if (nPerGroup == 0 || nPerGroup > nBlockSize * 8 || nBlock < nFirst || !pFs->IsValidBlock(nBlock))
        return false;
    const uint64_t nGroup = (nBlock - nFirst) / nPerGroup;
    const uint64_t nBit = (nBlock - nFirst) % nPerGroup;
    if (nGroup >= pFs->GetGroupCount())
        return false;
    if (m_State.empty()) {
        m_State.assign(pFs->GetGroupCount(), kNotRead);
        m_Slot.assign(pFs->GetGroupCount(), 0);
    }
    if (m_State[nGroup] == kNotRead) {
        m_State[nGroup] = kUnknown;
        const CExt2GroupDescTable& table = pFs->GetGroupDescTable();
        const uint64_t nBitmap = table.GetBlockBitmap(nGroup);
        if (table.IsBlockBitmapKnown(nGroup, superBlock) && pFs->IsValidBlock(nBitmap)) {
            const size_t nAt = m_Bits.size();
            m_Bits.resize(nAt + nBlockSize);
            try {
                pFs->ReadBlocks(m_Bits.data() + nAt, nBitmap, 1);
                m_Slot[nGroup] = static_cast<uint32_t>(nAt / nBlockSize);
                m_State[nGroup] = kRead;
            } catch (const std::exception&) {
                // An unreadable bitmap tells nothing.
                m_Bits.resize(nAt);
            }
        }
    }
    if (m_State[nGroup] != kRead)
        return false;
    const uint8_t* pBits = m_Bits.data() + static_cast<size_t>(m_Slot[nGroup]) * nBlockSize;
    return (pBits[nBit / 8] >> (nBit % 8) & 1) != 0;
}
