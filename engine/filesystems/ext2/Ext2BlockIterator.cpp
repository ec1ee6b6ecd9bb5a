#include "Ext2BlockIterator.h"

#include <algorithm>
#include <stdexcept>

#include "Ext2BlockBitmap.h"
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
    for (Level& level : m_ExtentLevels)
        level.bLoaded = false;
}

uint32_t CExt2BlockIterator::Entry(int nLevel, uint32_t nBlock, uint64_t nEntry)
{
    CExt2FileSystem* pFs = m_Inode.GetFileSystem();
    if (nBlock == 0 || !pFs->IsValidBlock(nBlock))
        return 0;
    return GetLe32(CachedBlock(m_Levels[nLevel], nBlock) + 4 * nEntry);
}

const uint8_t* CExt2BlockIterator::CachedBlock(Level& level, uint32_t nBlock)
{
    CExt2FileSystem* pFs = m_Inode.GetFileSystem();
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
    return level.data.data();
}

uint32_t CExt2BlockIterator::MapExtent(uint64_t nIndex, uint64_t* pnHole)
{
    CExt2FileSystem* pFs = m_Inode.GetFileSystem();
    uint64_t nHole = 0;     // 0: damage, not a hole
    uint32_t nResult = 0;
    const uint8_t* pNode = m_Inode.GetRawData() + kInBlocks;
    size_t nNodeBytes = kInodeExtentRootBytes;
    // The logical block where the current node's reach ends (its next sibling's first block).
    uint64_t nReachEnd = ~0ull;
    for (int nDepth = 0; nDepth <= kExtentMaxDepth; ++nDepth) {
        const uint16_t nEntries = GetLe16(pNode + 2);
        const uint16_t nNodeDepth = GetLe16(pNode + 6);
        if (GetLe16(pNode) != kExtentMagic || nEntries > (nNodeBytes - kExtentHeaderBytes) / kExtentEntryBytes ||
            nNodeDepth > kExtentMaxDepth || nDepth == kExtentMaxDepth)
            break;
        const uint8_t* pEntries = pNode + kExtentHeaderBytes;
        if (nNodeDepth == 0) {
            nHole = nReachEnd - nIndex;
            for (uint16_t i = 0; i < nEntries; ++i) {
                const uint8_t* e = pEntries + i * kExtentEntryBytes;
                const uint64_t nFirst = GetLe32(e);
                const uint16_t nRawLength = GetLe16(e + 4);
                const bool bUnwritten = nRawLength > kExtentUnwrittenLength;
                const uint64_t nLength = bUnwritten ? nRawLength - kExtentUnwrittenLength : nRawLength;
                if (nIndex < nFirst) {
                    nHole = nFirst - nIndex;
                    break;
                }
                if (nIndex >= nFirst + nLength)
                    continue;
                if (bUnwritten) {
                    nHole = nFirst + nLength - nIndex;
                    break;
                }
                const uint64_t nStart = (static_cast<uint64_t>(GetLe16(e + 6)) << 32) | GetLe32(e + 8);
                const uint64_t nBlock = nStart + (nIndex - nFirst);
                if (nBlock == 0 || !pFs->IsValidBlock(nBlock) || nBlock > 0xFFFFFFFFull) {
                    nHole = 0;
                    break;
                }
                nResult = static_cast<uint32_t>(nBlock);
                break;
            }
            break;
        }
        // Index node: the last entry whose first block is not past nIndex leads on.
        int nChosen = -1;
        for (uint16_t i = 0; i < nEntries; ++i) {
            if (GetLe32(pEntries + i * kExtentEntryBytes) > nIndex)
                break;
            nChosen = i;
        }
        if (nChosen < 0) {
            nHole = (nEntries != 0 ? GetLe32(pEntries) : nReachEnd) - nIndex;
            break;
        }
        const uint8_t* e = pEntries + nChosen * kExtentEntryBytes;
        if (nChosen + 1 < nEntries)
            nReachEnd = std::min<uint64_t>(nReachEnd, GetLe32(e + kExtentEntryBytes));
        const uint64_t nChild = (static_cast<uint64_t>(GetLe16(e + 8)) << 32) | GetLe32(e + 4);
        if (nChild == 0 || !pFs->IsValidBlock(nChild) || nChild > 0xFFFFFFFFull)
            break;
        pNode = CachedBlock(m_ExtentLevels[nDepth], static_cast<uint32_t>(nChild));
        nNodeBytes = pFs->GetBlockSize();
    }
    if (pnHole != nullptr)
        *pnHole = nResult != 0 ? 1 : nHole;
    return nResult;
}

uint32_t CExt2BlockIterator::MapBlock(uint64_t nIndex, uint64_t* pnHole)
{
    // nHole: 0 once a pointer on the way leaves the file system (damage, not a hole).
    uint64_t nHole = 1;
    if (pnHole != nullptr)
        *pnHole = 0;
    CExt2FileSystem* pFs = m_Inode.GetFileSystem();
    if (!pFs)
        return 0;
    if (m_Inode.UsesExtents())
        return MapExtent(nIndex, pnHole);
    const uint64_t p = pFs->GetBlockSize() / 4;
    bool bDone = false;
    // A zero pointer to an indirect block leaves the whole stretch that block would map a hole;
    // nReach is the stretch's end, as a logical block index.
    auto viaPointer = [&](int nLevel, uint32_t nBlock, uint64_t nEntry, uint64_t nReach) -> uint32_t {
        if (bDone)
            return 0;
        if (nBlock == 0 || !pFs->IsValidBlock(nBlock)) {
            nHole = nBlock == 0 ? nReach - nIndex : 0;
            bDone = true;
            return 0;
        }
        if (m_pIndirectFilter != nullptr && m_pIndirectFilter->IsInUse(nBlock)) {
            nHole = nReach - nIndex;
            bDone = true;
            return 0;
        }
        return Entry(nLevel, nBlock, nEntry);
    };
    uint32_t nBlock = 0;
    if (nIndex < kDirectBlocks) {
        nBlock = m_Inode.GetBlockPointer(static_cast<uint32_t>(nIndex));
    } else if (nIndex < p + kDirectBlocks) {
        nBlock = viaPointer(0, m_Inode.GetBlockPointer(kSingleIndirect), nIndex - kDirectBlocks, p + kDirectBlocks);
    } else if (nIndex < p * p + p + kDirectBlocks) {
        const uint64_t k = nIndex - p - kDirectBlocks;
        nBlock = viaPointer(1, m_Inode.GetBlockPointer(kDoubleIndirect), k / p, p * p + p + kDirectBlocks);
        nBlock = viaPointer(0, nBlock, k % p, nIndex - k % p + p);
    } else {
        const uint64_t k = nIndex - (p * p + p + kDirectBlocks);
        if (k / (p * p) >= p)
            return 0;   // past what the pointers can reach
        nBlock = viaPointer(2, m_Inode.GetBlockPointer(kTripleIndirect), k / (p * p),
                            p * p * p + p * p + p + kDirectBlocks);
        nBlock = viaPointer(1, nBlock, (k % (p * p)) / p, nIndex - k % (p * p) + p * p);
        nBlock = viaPointer(0, nBlock, k % p, nIndex - k % p + p);
    }
    if (bDone) {
        if (pnHole != nullptr)
            *pnHole = nHole;
        return 0;
    }
    if (nBlock == 0) {
        if (pnHole != nullptr)
            *pnHole = 1;
        return 0;
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
