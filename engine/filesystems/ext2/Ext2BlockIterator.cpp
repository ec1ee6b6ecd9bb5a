#include "Ext2BlockIterator.h"

#include <stdexcept>

#include "Ext2FileSystem.h"

using namespace ext2;

CExt2BlockIterator::CExt2BlockIterator(const CExt2Inode& inode)
    : m_Inode(inode), m_nIndex(0), m_nEnd(inode.GetBlockCount())
{
}

void CExt2BlockIterator::Reset(const CExt2Inode& inode)
{
    m_Inode = inode;
    m_nIndex = 0;
    m_nEnd = inode.GetBlockCount();
    for (Level& level : m_Levels)
        level.bLoaded = false;
}

uint32_t CExt2BlockIterator::Entry(int nLevel, uint32_t nBlock, uint64_t nEntry)
{
    CExt2FileSystem* pFs = m_Inode.GetFileSystem();
    if (nBlock == 0 || !pFs->IsValidBlock(nBlock))
        return 0;
    Level& level = m_Levels[nLevel];
    if (!level.bLoaded || level.nBlock != nBlock) {
        level.data.resize(pFs->GetBlockSize());
        level.nBlock = nBlock;
        level.bLoaded = true;
        // A block that cannot be read stays cached as zeros: its entries are holes.
        try {
            pFs->ReadBlocks(level.data.data(), nBlock, 1);
        } catch (const CExt2ReadSectorError&) {
        } catch (const std::range_error&) {
            std::fill(level.data.begin(), level.data.end(), 0);
        }
    }
    return GetLe32(level.data.data() + 4 * nEntry);
}

uint32_t CExt2BlockIterator::MapBlock(uint64_t nIndex)
{
    CExt2FileSystem* pFs = m_Inode.GetFileSystem();
    if (!pFs)
        return 0;
    const uint64_t p = pFs->GetBlockSize() / 4;
    uint32_t nBlock = 0;
    if (nIndex < kDirectBlocks) {
        nBlock = m_Inode.GetBlockPointer(static_cast<uint32_t>(nIndex));
    } else if (nIndex < p + kDirectBlocks) {
        nBlock = Entry(0, m_Inode.GetBlockPointer(kSingleIndirect), nIndex - kDirectBlocks);
    } else if (nIndex < p * p + p + kDirectBlocks) {
        const uint64_t k = nIndex - p - kDirectBlocks;
        nBlock = Entry(1, m_Inode.GetBlockPointer(kDoubleIndirect), k / p);
        nBlock = Entry(0, nBlock, k % p);
    } else {
        const uint64_t k = nIndex - (p * p + p + kDirectBlocks);
        if (k / (p * p) >= p)
            return 0;
        nBlock = Entry(2, m_Inode.GetBlockPointer(kTripleIndirect), k / (p * p));
        nBlock = Entry(1, nBlock, (k % (p * p)) / p);
        nBlock = Entry(0, nBlock, k % p);
    }
    return pFs->IsValidBlock(nBlock) ? nBlock : 0;
}

const uint8_t* CExt2BlockIterator::GetData(uint32_t* pLength)
{
    *pLength = 0;
    CExt2FileSystem* pFs = m_Inode.GetFileSystem();
    const uint32_t nBlock = MapBlock(m_nIndex);
    if (nBlock == 0)
        return nullptr;
    const uint32_t nBlockSize = pFs->GetBlockSize();
    m_Data.resize(nBlockSize);
    try {
        pFs->ReadBlocks(m_Data.data(), nBlock, 1);
    } catch (const CExt2ReadSectorError&) {
        return nullptr;
    } catch (const std::range_error&) {
        return nullptr;
    }
    uint32_t nLength = nBlockSize;
    const uint64_t nSize = m_Inode.GetSizeField();
    if (nSize < (m_nIndex + 1) * nBlockSize && nSize % nBlockSize != 0)
        nLength = static_cast<uint32_t>(nSize % nBlockSize);
    *pLength = nLength;
    return m_Data.data();
}
