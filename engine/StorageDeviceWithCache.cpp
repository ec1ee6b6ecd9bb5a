#include "StorageDeviceWithCache.h"

#include <algorithm>
#include <cstring>

#include "EngineSettings.h"
#include "Veskel.h"

namespace {

const uint32_t kDefaultBlockSectors = 1000;
// Blocks read up front by the calling thread when one thread reads ahead; it stops reading when
// one more than this is queued. A shallow queue keeps the few blocks in flight warm in the
// processor's caches while the controllers look at them; ten blocks of 4 MiB ahead made the block
// scan run at a third of the speed of a plain read of the same bytes (every block went cold in
// memory before it was analysed).
const int kMaxQueued = 2;
// Threads that read a device that can be read from several threads at once. They share the
// slices of the oldest block unread, so that it is whole first and none waits for a slower one to
// hand its block over. A single thread copying from the page cache, then marking, cannot keep up
// with a plain read of the same bytes; three made the carving scan of a 1 GiB mixed image about
// 1.2x as fast as two threads that each read whole blocks of their own (medians of 21 interleaved
// runs); the copies then share the memory's bandwidth, and a fourth added little.
const unsigned kMaxReaders = 3;
// Blocks several threads keep queued, being read or read: the one the scan is about to take and
// the next, whose slices the threads share; with the window, three buffers in all. Each buffer is
// fresh memory the first time it is filled, and fresh memory is dear: a first touch of a huge page
// may wait for the kernel to compact memory, 10 to 80 ms for 4 MiB on a busy machine, where
// reading the same 4 MiB from the page cache takes under 1 ms. A third queued block made no
// measurable difference to the scan.
const size_t kMaxSharedQueued = 2;
// Sectors read and marked at a time: 256 KiB, which stays in a processor's own cache between the
// copy and the marking. The threads share a block's slices, so that the oldest block is whole first.
const uint64_t kSliceSectors = 512;

int ReaderCountFor(bool bConcurrentDevice)
{
    if (!bConcurrentDevice)
        return 1;
    const unsigned nCores = std::thread::hardware_concurrency();
    const unsigned nSpare = nCores > 1 ? nCores - 1 : 1;
    return static_cast<int>(std::min(kMaxReaders, nSpare));
}

} // namespace

CStorageDeviceWithCache::CStorageDeviceWithCache(IStorageDevice* pDevice)
    : m_pDevice(pDevice), m_Window{nullptr, nullptr}, m_nBlockSize(0), m_llWindowBlock(-1), m_bRunning(false),
      m_bProducerDone(true), m_bReadFailed(false), m_nRunningReaders(0), m_bConcurrentDevice(false),
      m_apfnFilters{}, m_nFilters(0), m_nMaxQueued(kMaxQueued), m_ullNextSector(0), m_ullTotalSectors(0)
{
    SetCacheSize(kDefaultBlockSectors);
}

CStorageDeviceWithCache::~CStorageDeviceWithCache()
{
    StopPrefetch();
    FreeBuffers();
    FreeMemory(m_Window.pData);
    FreeMemory(m_Window.pMarks);
}

void CStorageDeviceWithCache::FreeBuffers()
{
    for (const BlockBuffer& buffer : m_FreeBuffers) {
        FreeMemory(buffer.pData);
        FreeMemory(buffer.pMarks);
    }
    m_FreeBuffers.clear();
}

int CStorageDeviceWithCache::SetCacheSize(uint32_t nSectors)
{
    StopPrefetch();
    FreeBuffers();
    FreeMemory(m_Window.pData);
    FreeMemory(m_Window.pMarks);
    m_Window = BlockBuffer{nullptr, nullptr};
    m_nBlockSize = nSectors;
    m_llWindowBlock = -1;
    // The window's memory is taken when the first block is loaded: fresh memory is costly to
    // touch (a page fault for every page), and a size set only to be changed again costs nothing.
    return 1;
}

int CStorageDeviceWithCache::AddSectorFilter(PFN_SECTOR_FILTER pfnFilter)
{
    if (pfnFilter == nullptr || m_nFilters >= kMaxSectorFilters || m_bRunning || !m_Threads.empty() ||
        m_llWindowBlock >= 0 || GetQueuedCount() != 0)
        return -1;
    m_apfnFilters[m_nFilters] = pfnFilter;
    return m_nFilters++;
}

uint64_t CStorageDeviceWithCache::GetTotalSectors()
{
    return m_pDevice != nullptr ? m_pDevice->GetTotalSectors() : 0;
}

int CStorageDeviceWithCache::GetSectorSize()
{
    return m_pDevice != nullptr ? m_pDevice->GetSectorSize() : 512;
}

bool CStorageDeviceWithCache::IsValidBlock(uint64_t nBlock)
{
    if (m_nBlockSize == 0)
        return false;
    const uint64_t ullTotal = GetTotalSectors();
    return nBlock < (ullTotal + m_nBlockSize - 1) / m_nBlockSize;
}

int CStorageDeviceWithCache::ReadDevice(uint8_t* pBuffer, uint64_t ullStart, uint64_t ullCount)
{
    int nResult = 0;
    if (m_bConcurrentDevice) {
        nResult = m_pDevice->ReadSectors(pBuffer, ullStart, ullCount);
    } else {
        std::lock_guard<std::mutex> guard(m_DeviceLock);
        nResult = m_pDevice->ReadSectors(pBuffer, ullStart, ullCount);
    }
    if (!nResult)
        memset(pBuffer, 0, static_cast<size_t>(ullCount) * STORAGE_UNIT_BYTES);
    return nResult;
}

void CStorageDeviceWithCache::MarkSectors(const uint8_t* pData, uint8_t* pMarks, uint64_t ullCount) const
{
    const int nFilters = m_nFilters;
    if (nFilters == 0)
        return;
    // The filters look at the first bytes of a sector, one sector after the other 512 bytes
    // apart: the next sectors' first lines are asked for ahead of time.
    const uint64_t kAhead = 8;
    for (uint64_t i = 0; i < ullCount; ++i) {
        const uint8_t* pSector = pData + i * STORAGE_UNIT_BYTES;
        if (i + kAhead < ullCount) {
            __builtin_prefetch(pSector + kAhead * STORAGE_UNIT_BYTES);
            __builtin_prefetch(pSector + kAhead * STORAGE_UNIT_BYTES + 64);
        }
        uint8_t byMarks = 0;
        for (int f = 0; f < nFilters; ++f) {
            if (m_apfnFilters[f](pSector))
                byMarks |= static_cast<uint8_t>(1u << f);
        }
        pMarks[i] = byMarks;
    }
}

uint32_t CStorageDeviceWithCache::SlicesPerBlock() const
{
    return static_cast<uint32_t>((static_cast<uint64_t>(m_nBlockSize) + kSliceSectors - 1) / kSliceSectors);
}

void CStorageDeviceWithCache::ReadSlice(const BlockBuffer& buffer, uint64_t ullFirstSector, uint32_t nSlice)
{
    const uint64_t ullTotal = m_ullTotalSectors;
    uint64_t ullValid = 0;
    if (ullFirstSector < ullTotal)
        ullValid = std::min<uint64_t>(m_nBlockSize, ullTotal - ullFirstSector);
    const uint64_t ullBegin = static_cast<uint64_t>(nSlice) * kSliceSectors;
    const uint64_t ullEnd = std::min<uint64_t>(ullBegin + kSliceSectors, m_nBlockSize);
    if (ullBegin >= ullEnd)
        return;
    if (ullBegin < ullValid)
        ReadDevice(buffer.pData + ullBegin * STORAGE_UNIT_BYTES, ullFirstSector + ullBegin,
                   std::min(ullEnd, ullValid) - ullBegin);
    // The last block is short: what lies past the device's end is zeros, never an older block.
    if (ullEnd > ullValid) {
        const uint64_t ullZero = std::max(ullBegin, ullValid);
        memset(buffer.pData + ullZero * STORAGE_UNIT_BYTES, 0, static_cast<size_t>(ullEnd - ullZero) * STORAGE_UNIT_BYTES);
    }
    // Marked right after its copy, while the slice is still in this processor's own caches (a
    // whole block of megabytes would no longer be).
    MarkSectors(buffer.pData + ullBegin * STORAGE_UNIT_BYTES, buffer.pMarks + ullBegin, ullEnd - ullBegin);
}

void CStorageDeviceWithCache::ReadBlock(const BlockBuffer& buffer, uint64_t ullFirstSector)
{
    const uint32_t nSlices = SlicesPerBlock();
    for (uint32_t i = 0; i < nSlices; ++i)
        ReadSlice(buffer, ullFirstSector, i);
}

void CStorageDeviceWithCache::RecycleBuffer(const BlockBuffer& buffer)
{
    if (buffer.pData != nullptr && buffer.pMarks != nullptr) {
        m_FreeBuffers.push_back(buffer);
    } else {
        FreeMemory(buffer.pData);
        FreeMemory(buffer.pMarks);
    }
}

CStorageDeviceWithCache::BlockBuffer CStorageDeviceWithCache::TakeBufferLocked()
{
    if (!m_FreeBuffers.empty()) {
        const BlockBuffer buffer = m_FreeBuffers.back();
        m_FreeBuffers.pop_back();
        return buffer;
    }
    BlockBuffer buffer;
    buffer.pData = static_cast<uint8_t*>(AllocLargeBuffer(static_cast<size_t>(m_nBlockSize) * STORAGE_UNIT_BYTES));
    try {
        buffer.pMarks = static_cast<uint8_t*>(AllocOrRaise(m_nBlockSize));
    } catch (...) {
        FreeMemory(buffer.pData);
        throw;
    }
    return buffer;
}

CStorageDeviceWithCache::BlockBuffer CStorageDeviceWithCache::TakeBuffer()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return TakeBufferLocked();
}

void CStorageDeviceWithCache::GiveBackBuffer(const BlockBuffer& buffer)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    RecycleBuffer(buffer);
}

size_t CStorageDeviceWithCache::QueueLimit() const
{
    // One thread keeps a few blocks ahead; several share a few.
    if (m_Threads.size() <= 1)
        return static_cast<size_t>(m_nMaxQueued) + 1;
    return kMaxSharedQueued;
}

bool CStorageDeviceWithCache::StartPrefetch()
{
    const int64_t llStart = EngineStartPosition();
    return StartPrefetch(llStart > 0 ? static_cast<uint64_t>(llStart) : 0);
}

bool CStorageDeviceWithCache::StartPrefetch(uint64_t ullFromSector)
{
    if (m_pDevice == nullptr || m_nBlockSize == 0 || !m_Threads.empty())
        return false;
    m_ullTotalSectors = m_pDevice->GetTotalSectors();
    if (m_ullTotalSectors == 0)
        return false;
    m_bConcurrentDevice = m_pDevice->CanReadConcurrently() != 0;
    ullFromSector = std::min(ullFromSector, m_ullTotalSectors - 1);
    m_ullNextSector = ullFromSector / m_nBlockSize * m_nBlockSize;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_bRunning = true;
        m_bProducerDone = false;
        m_bReadFailed = false;
    }
    // With one thread, the first blocks are read here, so that the scan has work as soon as the
    // thread starts; several threads read the first blocks side by side. None lies past the
    // device's end.
    const int nUpFront = ReaderCountFor(m_bConcurrentDevice) > 1 ? 0 : m_nMaxQueued;
    try {
        for (int i = 0; i < nUpFront && m_ullNextSector < m_ullTotalSectors; ++i) {
            const BlockBuffer buffer = TakeBuffer();
            try {
                ReadBlock(buffer, m_ullNextSector);
            } catch (...) {
                GiveBackBuffer(buffer);
                throw;
            }
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Queue.push_back(QueuedBlock{buffer, m_ullNextSector, SlicesPerBlock(), SlicesPerBlock(), true, false});
            m_ullNextSector += m_nBlockSize;
        }
    } catch (...) {
        StopPrefetch();
        throw;
    }
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_ullNextSector >= m_ullTotalSectors) {
        m_bRunning = false;
        m_bProducerDone = true;
        return true;
    }
    // Never more threads than blocks left to read.
    const uint64_t ullLeft = (m_ullTotalSectors - m_ullNextSector + m_nBlockSize - 1) / m_nBlockSize;
    const int nReaders = static_cast<int>(std::min<uint64_t>(ReaderCountFor(m_bConcurrentDevice), ullLeft));
    m_nRunningReaders = nReaders;
    try {
        for (int i = 0; i < nReaders; ++i)
            m_Threads.emplace_back(&CStorageDeviceWithCache::PrefetchThread, this);
    } catch (...) {
        // A thread that could not be started never ends by itself: count it out.
        m_nRunningReaders -= nReaders - static_cast<int>(m_Threads.size());
        if (m_nRunningReaders == 0)
            m_bProducerDone = true;
    }
    return true;
}

void CStorageDeviceWithCache::SettleBlock(QueuedBlock& block)
{
    if (!block.bReady && block.nSlicesDone == block.nSlicesClaimed &&
        (block.bFailed || block.nSlicesClaimed == SlicesPerBlock())) {
        block.bReady = true;
        m_DataReady.notify_all();
    }
}

int CStorageDeviceWithCache::ClaimSlice(QueuedBlock** ppBlock, uint32_t* pnSlice)
{
    if (!m_bRunning || m_bReadFailed)
        return -1;
    const uint32_t nSlices = SlicesPerBlock();
    for (QueuedBlock& block : m_Queue) {
        if (!block.bFailed && block.nSlicesClaimed < nSlices) {
            *ppBlock = &block;
            *pnSlice = block.nSlicesClaimed++;
            return 1;
        }
    }
    // The threads never read past the device's end: the last block is clamped there.
    if (m_ullNextSector >= m_ullTotalSectors)
        return -1;
    if (m_Queue.size() >= QueueLimit())
        return 0;
    const BlockBuffer buffer = TakeBufferLocked();
    m_Queue.push_back(QueuedBlock{buffer, m_ullNextSector, 1, 0, false, false});
    m_ullNextSector += m_nBlockSize;
    // Elements of a deque stay where they are while others are added or removed at its ends;
    // this one is removed only once it is ready.
    *ppBlock = &m_Queue.back();
    *pnSlice = 0;
    // The block's other slices are there for the threads that wait.
    if (nSlices > 1)
        m_SpaceFree.notify_all();
    return 1;
}

void CStorageDeviceWithCache::PrefetchThread()
{
    QueuedBlock* pClaimed = nullptr;
    try {
        for (;;) {
            uint32_t nSlice = 0;
            {
                std::unique_lock<std::mutex> lock(m_Lock);
                int nClaim;
                while ((nClaim = ClaimSlice(&pClaimed, &nSlice)) == 0)
                    m_SpaceFree.wait(lock);
                if (nClaim < 0)
                    break;
            }
            // Nobody else writes this slice, and nobody looks at the block before it is ready.
            ReadSlice(pClaimed->buffer, pClaimed->ullFirstSector, nSlice);
            std::lock_guard<std::mutex> guard(m_Lock);
            ++pClaimed->nSlicesDone;
            SettleBlock(*pClaimed);
            pClaimed = nullptr;
        }
    } catch (...) {
        // Whatever failed, the scan must not wait for a block that will never come: the block is
        // handed over as failed (the scan reads it again itself), as is every block with slices
        // nobody will read now, and no further slice is claimed.
        LogInfo("Read-ahead stopped early: a block could not be read into memory");
        std::lock_guard<std::mutex> guard(m_Lock);
        if (pClaimed != nullptr) {
            ++pClaimed->nSlicesDone;
            pClaimed->bFailed = true;
        }
        m_bReadFailed = true;
        for (QueuedBlock& block : m_Queue) {
            if (block.nSlicesClaimed < SlicesPerBlock())
                block.bFailed = true;
            SettleBlock(block);
        }
        m_SpaceFree.notify_all();
    }
    std::lock_guard<std::mutex> guard(m_Lock);
    if (--m_nRunningReaders <= 0)
        m_bProducerDone = true;
    m_DataReady.notify_all();
}

void CStorageDeviceWithCache::StopPrefetch()
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_bRunning = false;
        m_SpaceFree.notify_all();
    }
    for (std::thread& thread : m_Threads) {
        if (thread.joinable())
            thread.join();
    }
    m_Threads.clear();
    FreeQueue();
    std::lock_guard<std::mutex> guard(m_Lock);
    m_nRunningReaders = 0;
    m_bProducerDone = true;
}

void CStorageDeviceWithCache::FreeQueue()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    for (const QueuedBlock& block : m_Queue)
        RecycleBuffer(block.buffer);
    m_Queue.clear();
}

size_t CStorageDeviceWithCache::GetQueuedCount()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Queue.size();
}

int CStorageDeviceWithCache::LoadBlock(uint64_t nBlock)
{
    if (m_pDevice == nullptr || !IsValidBlock(nBlock))
        return 0;
    const uint64_t ullFirst = nBlock * m_nBlockSize;
    BlockBuffer taken{nullptr, nullptr};
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        for (;;) {
            // Blocks before the one asked for are no longer wanted, nor are blocks whose read
            // failed; each goes once its thread is done with it.
            while (!m_Queue.empty() && m_Queue.front().bReady &&
                   (m_Queue.front().ullFirstSector < ullFirst || m_Queue.front().bFailed)) {
                RecycleBuffer(m_Queue.front().buffer);
                m_Queue.pop_front();
                m_SpaceFree.notify_all();
            }
            if (m_Queue.empty()) {
                if (m_bProducerDone)
                    break;
                m_DataReady.wait(lock);
                continue;
            }
            const QueuedBlock& front = m_Queue.front();
            // Asked for a block behind the read-ahead: it is read directly.
            if (front.ullFirstSector > ullFirst)
                break;
            if (!front.bReady) {
                // No thread is left to finish it: read directly.
                if (m_bProducerDone)
                    break;
                m_DataReady.wait(lock);
                continue;
            }
            taken = front.buffer;
            m_Queue.pop_front();
            // The old window goes back to the threads before they are woken, so that the next
            // block is read into it rather than into a buffer of fresh memory.
            if (m_Window.pData != nullptr) {
                RecycleBuffer(m_Window);
                m_Window = BlockBuffer{nullptr, nullptr};
            }
            m_SpaceFree.notify_all();
            break;
        }
    }
    if (taken.pData != nullptr) {
        // The queued buffer becomes the window.
        m_Window = taken;
    } else {
        // Not read ahead (asked out of order, or the read-ahead is not running): read it now.
        if (m_ullTotalSectors == 0 || m_Threads.empty())
            m_ullTotalSectors = GetTotalSectors();
        if (m_Threads.empty())
            m_bConcurrentDevice = m_pDevice->CanReadConcurrently() != 0;
        if (m_Window.pData == nullptr)
            m_Window = TakeBuffer();
        ReadBlock(m_Window, ullFirst);
    }
    m_llWindowBlock = static_cast<int64_t>(nBlock);
    return 1;
}

const uint8_t* CStorageDeviceWithCache::PeekSectors(uint64_t ullStart, uint64_t ullCount) const
{
    if (m_llWindowBlock < 0 || m_Window.pData == nullptr)
        return nullptr;
    const uint64_t ullWindow = static_cast<uint64_t>(m_llWindowBlock) * m_nBlockSize;
    if (ullStart < ullWindow || ullStart - ullWindow > m_nBlockSize || ullCount > m_nBlockSize - (ullStart - ullWindow))
        return nullptr;
    return m_Window.pData + (ullStart - ullWindow) * STORAGE_UNIT_BYTES;
}

const uint8_t* CStorageDeviceWithCache::PeekSectorMarks(uint64_t ullStart, uint64_t ullCount) const
{
    if (m_nFilters == 0 || PeekSectors(ullStart, ullCount) == nullptr)
        return nullptr;
    const uint64_t ullWindow = static_cast<uint64_t>(m_llWindowBlock) * m_nBlockSize;
    return m_Window.pMarks + (ullStart - ullWindow);
}

int CStorageDeviceWithCache::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    if (m_pDevice == nullptr || pBuffer == nullptr)
        return 0;
    uint8_t* pDest = static_cast<uint8_t*>(pBuffer);
    auto ReadThrough = [&](uint8_t* p, uint64_t ullStart, uint64_t ullCount) {
        if (m_bConcurrentDevice)
            return m_pDevice->ReadSectors(p, ullStart, ullCount);
        std::lock_guard<std::mutex> guard(m_DeviceLock);
        return m_pDevice->ReadSectors(p, ullStart, ullCount);
    };
    if (m_llWindowBlock < 0 || m_Window.pData == nullptr || u64SectorCount == 0)
        return ReadThrough(pDest, u64StartSector, u64SectorCount);
    const uint64_t W = static_cast<uint64_t>(m_llWindowBlock) * m_nBlockSize;
    const uint64_t E = W + m_nBlockSize;
    const uint64_t ullTotal = m_pDevice->GetTotalSectors();
    if (u64StartSector < W || u64StartSector >= E || u64SectorCount > ullTotal ||
        u64StartSector > ullTotal - u64SectorCount) {
        // A request that begins outside the window, or reaches past the device's end (the
        // zeros after a short last block are no data), is answered by the device.
        return ReadThrough(pDest, u64StartSector, u64SectorCount);
    }
    const uint64_t ullFromWindow = std::min(u64SectorCount, E - u64StartSector);
    memcpy(pDest, m_Window.pData + (u64StartSector - W) * STORAGE_UNIT_BYTES,
           static_cast<size_t>(ullFromWindow) * STORAGE_UNIT_BYTES);
    if (ullFromWindow == u64SectorCount)
        return 1;
    return ReadThrough(pDest + ullFromWindow * STORAGE_UNIT_BYTES, E, u64SectorCount - ullFromWindow);
}
