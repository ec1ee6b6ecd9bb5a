#include "Ext2InodeEnumerator.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "Ext2Exceptions.h"
#include "IStorageDevice.h"

#include "Ext2FileSystem.h"
#include "Ext2Inode.h"
#include "Ext2Layout.h"

namespace {

// Largest stretch of an inode table read at once. A group's table is at most 8 x block size
// inodes; with large inodes that can reach 128 MiB, so it is read in pieces of this size.
constexpr uint64_t kMaxWindowBytes = 4u << 20;
constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();
// A huge page; from half its size on, the stretch's buffer is a large buffer.
constexpr uint64_t kLargeBufferBytes = 2u << 20;
// Blocks read ahead with one stretch: a group of a dense volume needs a few hundred (its larger
// files' indirect blocks and its directories' blocks); damaged inodes cannot ask for more.
constexpr size_t kMaxBlocksAhead = 1024;
// Blocks that follow on are read together, this many at most.
constexpr uint64_t kMaxBlocksPerRead = 64;

} // namespace

CExt2InodeEnumerator::CExt2InodeEnumerator(CExt2FileSystem* pFileSystem)
    : m_pFileSystem(pFileSystem), m_nFirst(pFileSystem->GetFirstEnumeratedInode()),
      m_nLast(pFileSystem->GetSuperBlock().GetInodesCount()), m_nCurrent(m_nFirst), m_pCache(nullptr),
      m_nCacheBytes(0), m_nCacheGroup(kNone),
      m_nCacheFirst(0), m_nCacheCount(0), m_bCacheRead(false), m_nWindowBlocks(std::max<uint64_t>(1, kMaxWindowBytes / pFileSystem->GetBlockSize())),
      m_bReadAhead(pFileSystem->GetDevice() != nullptr && pFileSystem->GetDevice()->CanReadConcurrently() != 0),
      m_pAhead(nullptr), m_nAheadGroup(kNone), m_nAheadFirst(0), m_nAheadCount(0), m_nAheadResult(AHEAD_NONE)
{
}

CExt2InodeEnumerator::~CExt2InodeEnumerator()
{
    WaitForReadAhead();
    if (m_pFileSystem->GetHeldBlocks() == &m_HeldBlocks)
        m_pFileSystem->SetHeldBlocks(nullptr);
    FreeMemory(m_pCache);
    FreeMemory(m_pAhead);
}

bool CExt2InodeEnumerator::Stretch(uint64_t nGroup, uint64_t nFirst, uint64_t* pnTableStart, uint64_t* pnCount) const
{
    const uint64_t nBlockSize = m_pFileSystem->GetBlockSize();
    const uint32_t nPerGroup = m_pFileSystem->GetSuperBlock().GetInodesPerGroup();
    const uint64_t nTableBlocks = (static_cast<uint64_t>(nPerGroup) * m_pFileSystem->GetInodeSize() + nBlockSize - 1) / nBlockSize;
    const uint64_t nTableStart = m_pFileSystem->GetGroupDescTable().GetInodeTable(nGroup);
    const uint64_t nBlocks = m_pFileSystem->GetBlocksCount();
    // Only blocks of the file system are read; a table cut off by its end reads as zeros.
    if (nFirst >= nTableBlocks || nTableStart >= nBlocks || nFirst >= nBlocks - nTableStart)
        return false;
    const uint64_t nCount = std::min({m_nWindowBlocks, nTableBlocks - nFirst, nBlocks - (nTableStart + nFirst)});
    if (nCount * nBlockSize > m_nCacheBytes)
        return false;
    *pnTableStart = nTableStart;
    *pnCount = nCount;
    return true;
}

void CExt2InodeEnumerator::StartReadAhead(uint64_t nGroup, uint64_t nFirst, uint64_t nCount)
{
    if (!m_bReadAhead)
        return;
    WaitForReadAhead();
    m_nAheadGroup = kNone;
    // The next stretch of this table, else the first of the next table in use (the inodes of a
    // group whose table was never used are not loaded).
    uint64_t nNextGroup = nGroup;
    uint64_t nNextFirst = nFirst + nCount;
    const uint32_t nPerGroup = m_pFileSystem->GetSuperBlock().GetInodesPerGroup();
    const uint64_t nTableBlocks = (static_cast<uint64_t>(nPerGroup) * m_pFileSystem->GetInodeSize() +
                                   m_pFileSystem->GetBlockSize() - 1) / m_pFileSystem->GetBlockSize();
    if (nNextFirst >= nTableBlocks) {
        nNextFirst = 0;
        do {
            ++nNextGroup;
        } while (nNextGroup < m_pFileSystem->GetGroupCount() &&
                 m_pFileSystem->GetGroupDescTable().IsInodeTableUnused(nNextGroup, m_pFileSystem->GetSuperBlock()));
        // Only groups whose inodes are enumerated.
        if (nNextGroup >= m_pFileSystem->GetGroupCount() || nNextGroup * nPerGroup >= m_nLast)
            return;
    }
    uint64_t nTableStart = 0, nNextCount = 0;
    if (!Stretch(nNextGroup, nNextFirst, &nTableStart, &nNextCount))
        return;
    if (m_pAhead == nullptr)
        m_pAhead = static_cast<uint8_t*>(m_nCacheBytes >= kLargeBufferBytes / 2 ? AllocLargeBuffer(m_nCacheBytes)
                                                                                : AllocOrRaise(m_nCacheBytes));
    m_nAheadResult = AHEAD_NONE;
    m_AheadBlocks.Clear();
    const uint64_t nStart = nTableStart + nNextFirst;
    try {
        m_ReadAhead = std::thread([this, nStart, nNextCount] {
            // The same read, and the same outcomes, as the one Load would make.
            try {
                m_pFileSystem->ReadBlocks(m_pAhead, nStart, nNextCount);
                m_nAheadResult = AHEAD_READ;
                ReadBlocksAhead(m_pAhead, nNextCount * m_pFileSystem->GetBlockSize(), &m_AheadBlocks);
            } catch (const CExt2ReadSectorError&) {
                m_nAheadResult = AHEAD_FAILED;
            } catch (const std::range_error&) {
                m_nAheadResult = AHEAD_OFF_DEVICE;
            } catch (...) {
                m_nAheadResult = AHEAD_NONE;
            }
        });
    } catch (const std::system_error&) {
        // No thread: the stretch is read when it is needed.
        m_bReadAhead = false;
        return;
    }
    m_nAheadGroup = nNextGroup;
    m_nAheadFirst = nNextFirst;
    m_nAheadCount = nNextCount;
}

void CExt2InodeEnumerator::WaitForReadAhead()
{
    if (m_ReadAhead.joinable())
        m_ReadAhead.join();
}

CExt2InodeEnumerator::AHEAD_RESULT CExt2InodeEnumerator::TakeReadAhead(uint64_t nGroup, uint64_t nFirst, uint64_t nCount)
{
    WaitForReadAhead();
    // The blocks held belong to the stretch being left.
    m_pFileSystem->SetHeldBlocks(nullptr);
    m_HeldBlocks.Clear();
    if (m_nAheadGroup != nGroup || m_nAheadFirst != nFirst || m_nAheadCount != nCount || m_nAheadResult == AHEAD_NONE)
        return AHEAD_NONE;
    m_nAheadGroup = kNone;
    std::swap(m_pCache, m_pAhead);
    std::swap(m_HeldBlocks, m_AheadBlocks);
    if (!m_HeldBlocks.Numbers.empty())
        m_pFileSystem->SetHeldBlocks(&m_HeldBlocks);
    return m_nAheadResult;
}

void CExt2InodeEnumerator::ReadBlocksAhead(const uint8_t* pStretch, uint64_t nBytes, EXT2_HELD_BLOCKS* pBlocks)
{
    using namespace ext2;
    const uint32_t nInodeSize = m_pFileSystem->GetInodeSize();
    const uint32_t nBlockSize = m_pFileSystem->GetBlockSize();
    const uint64_t nBlocks = m_pFileSystem->GetBlocksCount();
    m_Wanted.clear();
    if (nInodeSize < kInodeBytes || nBlockSize == 0)
        return;
    for (uint64_t nAt = 0; nInodeSize <= nBytes - nAt && nAt < nBytes; nAt += nInodeSize) {
        const uint8_t* pRecord = pStretch + nAt;
        const uint16_t nType = GetLe16(pRecord + kInMode) & kModeTypeMask;
        if ((nType != kModeDirectory && nType != kModeRegular) ||
            (GetLe32(pRecord + kInFlags) & (kFlagExtents | kFlagInlineData)) != 0)
            continue;
        // The low 32 bits of the size are enough to tell which blocks are walked first.
        const uint64_t nSize = GetLe32(pRecord + kInSize);
        const uint64_t nSizeBlocks = nSize / nBlockSize + (nSize % nBlockSize != 0 ? 1 : 0);
        const auto want = [&](uint32_t nPointer) {
            const uint32_t nBlock = GetLe32(pRecord + kInBlocks + 4 * nPointer);
            if (nBlock != 0 && nBlock < nBlocks)
                m_Wanted.push_back(nBlock);
        };
        if (nType == kModeDirectory)
            for (uint32_t i = 0; i < kDirectBlocks && i < nSizeBlocks; ++i)
                want(i);
        if (nSizeBlocks > kDirectBlocks)
            want(kSingleIndirect);
        if (m_Wanted.size() >= 2 * kMaxBlocksAhead)
            break;
    }
    std::sort(m_Wanted.begin(), m_Wanted.end());
    m_Wanted.erase(std::unique(m_Wanted.begin(), m_Wanted.end()), m_Wanted.end());
    if (m_Wanted.size() > kMaxBlocksAhead)
        m_Wanted.resize(kMaxBlocksAhead);
    // Each stretch of blocks that follow on in one read; a read that fails leaves its blocks
    // to be read (and to fail) when they are asked for.
    pBlocks->Clear();
    pBlocks->Bytes.resize(m_Wanted.size() * nBlockSize);
    size_t nKept = 0;
    for (size_t i = 0; i < m_Wanted.size();) {
        size_t nEnd = i + 1;
        while (nEnd < m_Wanted.size() && m_Wanted[nEnd] == m_Wanted[nEnd - 1] + 1 && nEnd - i < kMaxBlocksPerRead)
            ++nEnd;
        try {
            m_pFileSystem->ReadBlocks(pBlocks->Bytes.data() + nKept * nBlockSize, m_Wanted[i], nEnd - i);
            pBlocks->Numbers.insert(pBlocks->Numbers.end(), m_Wanted.begin() + static_cast<std::ptrdiff_t>(i),
                                    m_Wanted.begin() + static_cast<std::ptrdiff_t>(nEnd));
            nKept += nEnd - i;
        } catch (const std::exception&) {
        }
        i = nEnd;
    }
    pBlocks->Bytes.resize(nKept * nBlockSize);
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
        const AHEAD_RESULT nAhead = TakeReadAhead(nGroup, nFirst, nCount);
        try {
            if (nAhead == AHEAD_NONE)
                m_pFileSystem->ReadBlocks(m_pCache, nTableStart + nFirst, nCount);
            else if (nAhead == AHEAD_FAILED)
                throw CExt2ReadSectorError();  // the stretch is zero-filled, as after a failed read here
            else if (nAhead == AHEAD_OFF_DEVICE)
                throw std::range_error("CExt2FileSystem::ReadBlocks");
        } catch (const CExt2ReadSectorError&) {
            // The zero-filled stretch stays cached so that its other inodes are not read again.
            m_nCacheGroup = nGroup;
            m_nCacheFirst = nFirst;
            m_nCacheCount = nCount;
            StartReadAhead(nGroup, nFirst, nCount);
            throw;
        }
        m_nCacheGroup = nGroup;
        m_nCacheFirst = nFirst;
        m_nCacheCount = nCount;
        m_bCacheRead = true;
        if (nAhead == AHEAD_NONE && m_bReadAhead) {
            // Read here, with the blocks its inodes will be walked through first, as the helper
            // reads the stretches after it: every stretch is walked the same way.
            ReadBlocksAhead(m_pCache, nCount * nBlockSize, &m_HeldBlocks);
            if (!m_HeldBlocks.Numbers.empty())
                m_pFileSystem->SetHeldBlocks(&m_HeldBlocks);
        }
        StartReadAhead(nGroup, nFirst, nCount);
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
