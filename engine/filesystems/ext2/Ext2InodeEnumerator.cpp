#include "Ext2InodeEnumerator.h"

#include <algorithm>
#include <limits>

#include "Ext2FileSystem.h"
#include "Ext2Inode.h"

namespace {

// Largest stretch of an inode table read at once. A group's table is at most 8 x block size
// inodes; with large inodes that can reach 128 MiB, so it is read in pieces of this size.
constexpr uint64_t kMaxWindowBytes = 4u << 20;
constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();
// A huge page; from half its size on, the stretch's buffer is a large buffer.
constexpr uint64_t kLargeBufferBytes = 2u << 20;

} // namespace

CExt2InodeEnumerator::CExt2InodeEnumerator(CExt2FileSystem* pFileSystem)
    : m_pFileSystem(pFileSystem), m_nFirst(pFileSystem->GetFirstEnumeratedInode()),
      m_nLast(pFileSystem->GetSuperBlock().GetInodesCount()), m_nCurrent(m_nFirst), m_pCache(nullptr),
      m_nCacheBytes(0), m_nCacheGroup(kNone),
      m_nCacheFirst(0), m_nCacheCount(0), m_bCacheRead(false), m_nWindowBlocks(std::max<uint64_t>(1, kMaxWindowBytes / pFileSystem->GetBlockSize()))
{
}

CExt2InodeEnumerator::~CExt2InodeEnumerator()
{
    FreeMemory(m_pCache);
}

void CExt2InodeEnumerator::Load(uint32_t nInode, CExt2Inode* pInode)
{
    pInode->Reset(m_pFileSystem, nInode);
    const uint32_t nPerGroup = m_pFileSystem->GetSuperBlock().GetInodesPerGroup();
    if (nInode == 0 || nInode > m_nLast)
        return;
    const uint64_t nGroup = (nInode - 1) / nPerGroup;
    if (nGroup >= m_pFileSystem->GetGroupCount())
        return;
    const uint64_t nBlockSize = m_pFileSystem->GetBlockSize();
    const uint64_t nTableBlocks = (static_cast<uint64_t>(nPerGroup) * m_pFileSystem->GetInodeSize() + nBlockSize - 1) / nBlockSize;
    const uint64_t nByte = static_cast<uint64_t>((nInode - 1) % nPerGroup) * m_pFileSystem->GetInodeSize();
    const uint64_t nBlockInTable = nByte / nBlockSize;

    if (nGroup != m_nCacheGroup || nBlockInTable < m_nCacheFirst || nBlockInTable >= m_nCacheFirst + m_nCacheCount) {
        const uint64_t nTableStart = m_pFileSystem->GetGroupDescTable().GetInodeTable(nGroup);
        const uint64_t nFirst = nBlockInTable / m_nWindowBlocks * m_nWindowBlocks;
        const uint64_t nBlocks = m_pFileSystem->GetBlocksCount();
        // Only blocks of the file system are read; a table cut off by its end reads as zeros.
        if (nTableStart + nFirst >= nBlocks)
            return;
        const uint64_t nCount = std::min({m_nWindowBlocks, nTableBlocks - nFirst, nBlocks - (nTableStart + nFirst)});
        if (m_pCache == nullptr) {
            // Every stretch is at most a window, and at most a table, long.
            m_nCacheBytes = std::min(m_nWindowBlocks, nTableBlocks) * nBlockSize;
            // A large buffer is offered for huge pages in whole huge pages only; its tail past
            // them is faulted in 4 KiB at a time, which costs less than clearing one more huge
            // page for it.
            m_pCache = static_cast<uint8_t*>(m_nCacheBytes >= kLargeBufferBytes / 2 ? AllocLargeBuffer(m_nCacheBytes)
                                                                                     : AllocOrRaise(m_nCacheBytes));
        }
        m_nCacheGroup = kNone;
        m_bCacheRead = false;
        if (nCount * nBlockSize > m_nCacheBytes)
            return;
        try {
            m_pFileSystem->ReadBlocks(m_pCache, nTableStart + nFirst, nCount);
        } catch (const CExt2ReadSectorError&) {
            // The zero-filled stretch stays cached so that its other inodes are not read again.
            m_nCacheGroup = nGroup;
            m_nCacheFirst = nFirst;
            m_nCacheCount = nCount;
            throw;
        }
        m_nCacheGroup = nGroup;
        m_nCacheFirst = nFirst;
        m_nCacheCount = nCount;
        m_bCacheRead = true;
    }
    if (nBlockInTable >= m_nCacheFirst + m_nCacheCount)
        return;
    pInode->SetRawData(m_pCache + (nBlockInTable - m_nCacheFirst) * nBlockSize + nByte % nBlockSize);
}

bool CExt2InodeEnumerator::LoadHeld(uint32_t nInode, CExt2Inode* pInode) const
{
    const uint8_t* pRecord = GetHeldRecord(nInode);
    if (pRecord == nullptr)
        return false;
    pInode->Reset(m_pFileSystem, nInode);
    pInode->SetRawData(pRecord);
    return true;
}

const uint8_t* CExt2InodeEnumerator::GetHeldRecord(uint32_t nInode) const
{
    // Where CExt2FileSystem::LocateInode puts the record.
    const uint32_t nPerGroup = m_pFileSystem->GetSuperBlock().GetInodesPerGroup();
    if (!m_bCacheRead || nInode == 0 || nPerGroup == 0)
        return nullptr;
    const uint64_t nGroup = (nInode - 1) / nPerGroup;
    if (nGroup != m_nCacheGroup)
        return nullptr;
    const uint64_t nBlockSize = m_pFileSystem->GetBlockSize();
    const uint64_t nByte = static_cast<uint64_t>((nInode - 1) % nPerGroup) * m_pFileSystem->GetInodeSize();
    const uint64_t nBlockInTable = nByte / nBlockSize;
    if (nBlockInTable < m_nCacheFirst || nBlockInTable >= m_nCacheFirst + m_nCacheCount)
        return nullptr;
    // The inode size divides the block size: the record lies inside its block.
    return m_pCache + (nBlockInTable - m_nCacheFirst) * nBlockSize + nByte % nBlockSize;
}
