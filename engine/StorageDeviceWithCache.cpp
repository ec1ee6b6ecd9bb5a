#include "StorageDeviceWithCache.h"

#include <algorithm>
#include <cstring>

#include "EngineSettings.h"
#include "Veskel.h"

namespace {

const uint32_t kDefaultBlockSectors = 1000;
// Blocks read up front; the thread stops reading when one more than this is queued. A shallow
// queue keeps the few blocks in flight warm in the processor's caches while the controllers look
// at them; ten blocks of 4 MiB ahead made the block scan run at a third of the speed of a plain
// read of the same bytes (every block went cold in memory before it was analysed).
const int kMaxQueued = 2;

} // namespace

CStorageDeviceWithCache::CStorageDeviceWithCache(IStorageDevice* pDevice)
    : m_pDevice(pDevice), m_pWindow(nullptr), m_nBlockSize(0), m_llWindowBlock(-1), m_bRunning(false),
      m_bProducerDone(true), m_nMaxQueued(kMaxQueued), m_ullNextSector(0), m_ullTotalSectors(0)
{
    SetCacheSize(kDefaultBlockSectors);
}

CStorageDeviceWithCache::~CStorageDeviceWithCache()
{
    StopPrefetch();
    for (uint8_t* p : m_FreeBuffers)
        FreeMemory(p);
    m_FreeBuffers.clear();
    FreeMemory(m_pWindow);
}

int CStorageDeviceWithCache::SetCacheSize(uint32_t nSectors)
{
    StopPrefetch();
    for (uint8_t* p : m_FreeBuffers)
        FreeMemory(p);
    m_FreeBuffers.clear();
    FreeMemory(m_pWindow);
    m_pWindow = nullptr;
    m_nBlockSize = nSectors;
    m_llWindowBlock = -1;
    if (nSectors != 0) {
        const size_t nBytes = static_cast<size_t>(nSectors) * STORAGE_UNIT_BYTES;
        m_pWindow = static_cast<uint8_t*>(AllocOrRaise(nBytes));
        memset(m_pWindow, 0, nBytes);
    }
    return 1;
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
    std::lock_guard<std::mutex> guard(m_DeviceLock);
    const int nResult = m_pDevice->ReadSectors(pBuffer, ullStart, ullCount);
    if (!nResult)
        memset(pBuffer, 0, static_cast<size_t>(ullCount) * STORAGE_UNIT_BYTES);
    return nResult;
}

void CStorageDeviceWithCache::ReadBlock(uint8_t* pBuffer, uint64_t ullFirstSector)
{
    const uint64_t ullTotal = m_ullTotalSectors;
    uint64_t ullCount = 0;
    if (ullFirstSector < ullTotal)
        ullCount = std::min<uint64_t>(m_nBlockSize, ullTotal - ullFirstSector);
    if (ullCount > 0)
        ReadDevice(pBuffer, ullFirstSector, ullCount);
    // The last block is short: what lies past the device's end is zeros, never an older block.
    if (ullCount < m_nBlockSize)
        memset(pBuffer + ullCount * STORAGE_UNIT_BYTES, 0,
               static_cast<size_t>(m_nBlockSize - ullCount) * STORAGE_UNIT_BYTES);
}

uint8_t* CStorageDeviceWithCache::TakeBuffer()
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (!m_FreeBuffers.empty()) {
            uint8_t* p = m_FreeBuffers.back();
            m_FreeBuffers.pop_back();
            return p;
        }
    }
    return static_cast<uint8_t*>(AllocOrRaise(static_cast<size_t>(m_nBlockSize) * STORAGE_UNIT_BYTES));
}

void CStorageDeviceWithCache::GiveBackBuffer(uint8_t* pBuffer)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_FreeBuffers.push_back(pBuffer);
}

bool CStorageDeviceWithCache::StartPrefetch()
{
    const int64_t llStart = EngineStartPosition();
    return StartPrefetch(llStart > 0 ? static_cast<uint64_t>(llStart) : 0);
}

bool CStorageDeviceWithCache::StartPrefetch(uint64_t ullFromSector)
{
    if (m_pDevice == nullptr || m_nBlockSize == 0 || m_Thread.joinable())
        return false;
    m_ullTotalSectors = m_pDevice->GetTotalSectors();
    if (m_ullTotalSectors == 0)
        return false;
    ullFromSector = std::min(ullFromSector, m_ullTotalSectors - 1);
    m_ullNextSector = ullFromSector / m_nBlockSize * m_nBlockSize;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_bRunning = true;
        m_bProducerDone = false;
    }
    // The first blocks are read here, so that the scan has work as soon as the thread starts;
    // none lies past the device's end.
    try {
        for (int i = 0; i < m_nMaxQueued && m_ullNextSector < m_ullTotalSectors; ++i) {
            uint8_t* pBuffer = TakeBuffer();
            try {
                ReadBlock(pBuffer, m_ullNextSector);
            } catch (...) {
                GiveBackBuffer(pBuffer);
                throw;
            }
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Queue.push_back(QueuedBlock{pBuffer, m_ullNextSector});
            m_ullNextSector += m_nBlockSize;
        }
    } catch (...) {
        StopPrefetch();
        throw;
    }
    if (m_ullNextSector >= m_ullTotalSectors) {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_bRunning = false;
        m_bProducerDone = true;
        return true;
    }
    m_Thread = std::thread(&CStorageDeviceWithCache::PrefetchThread, this);
    return true;
}

void CStorageDeviceWithCache::PrefetchThread()
{
    try {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_Lock);
                // Stop reading once one more than the limit is queued; go on when one is taken.
                m_SpaceFree.wait(lock, [this] {
                    return !m_bRunning || static_cast<int>(m_Queue.size()) <= m_nMaxQueued;
                });
                if (!m_bRunning)
                    break;
            }
            // The producer never reads past the device's end: the last block is clamped there.
            if (m_ullNextSector >= m_ullTotalSectors)
                break;
            uint8_t* pBuffer = TakeBuffer();
            const uint64_t ullFirst = m_ullNextSector;
            // A failed read gives its buffer back, so that the cache frees it with the others.
            try {
                ReadBlock(pBuffer, ullFirst);
            } catch (...) {
                GiveBackBuffer(pBuffer);
                throw;
            }
            m_ullNextSector += m_nBlockSize;
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Queue.push_back(QueuedBlock{pBuffer, ullFirst});
            m_DataReady.notify_all();
        }
    } catch (...) {
        // Whatever failed, the scan must not wait for a block that will never come.
        LogInfo("Read-ahead stopped early: a block could not be read into memory");
    }
    std::lock_guard<std::mutex> guard(m_Lock);
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
    if (m_Thread.joinable())
        m_Thread.join();
    FreeQueue();
    std::lock_guard<std::mutex> guard(m_Lock);
    m_bProducerDone = true;
}

void CStorageDeviceWithCache::FreeQueue()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    for (const QueuedBlock& block : m_Queue)
        m_FreeBuffers.push_back(block.pData);
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
    if (m_pWindow == nullptr)
        return 1;
    const uint64_t ullFirst = nBlock * m_nBlockSize;
    uint8_t* pBlock = nullptr;
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        for (;;) {
            // Blocks before the one asked for are no longer wanted.
            while (!m_Queue.empty() && m_Queue.front().ullFirstSector < ullFirst) {
                m_FreeBuffers.push_back(m_Queue.front().pData);
                m_Queue.pop_front();
                m_SpaceFree.notify_all();
            }
            if (!m_Queue.empty() || m_bProducerDone)
                break;
            m_DataReady.wait(lock);
        }
        if (!m_Queue.empty() && m_Queue.front().ullFirstSector == ullFirst) {
            pBlock = m_Queue.front().pData;
            m_Queue.pop_front();
            m_SpaceFree.notify_all();
        }
    }
    if (pBlock != nullptr) {
        // The queued buffer becomes the window; the old window goes back to the thread.
        GiveBackBuffer(m_pWindow);
        m_pWindow = pBlock;
    } else {
        // Not read ahead (asked out of order, or the read-ahead is not running): read it now.
        if (m_ullTotalSectors == 0 || !m_Thread.joinable())
            m_ullTotalSectors = GetTotalSectors();
        ReadBlock(m_pWindow, ullFirst);
    }
    m_llWindowBlock = static_cast<int64_t>(nBlock);
    return 1;
}

const uint8_t* CStorageDeviceWithCache::PeekSectors(uint64_t ullStart, uint64_t ullCount) const
{
    if (m_llWindowBlock < 0 || m_pWindow == nullptr)
        return nullptr;
    const uint64_t ullWindow = static_cast<uint64_t>(m_llWindowBlock) * m_nBlockSize;
    if (ullStart < ullWindow || ullStart - ullWindow > m_nBlockSize || ullCount > m_nBlockSize - (ullStart - ullWindow))
        return nullptr;
    return m_pWindow + (ullStart - ullWindow) * STORAGE_UNIT_BYTES;
}

int CStorageDeviceWithCache::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    if (m_pDevice == nullptr || pBuffer == nullptr)
        return 0;
    uint8_t* pDest = static_cast<uint8_t*>(pBuffer);
    if (m_llWindowBlock < 0 || m_pWindow == nullptr || u64SectorCount == 0) {
        std::lock_guard<std::mutex> guard(m_DeviceLock);
        return m_pDevice->ReadSectors(pDest, u64StartSector, u64SectorCount);
    }
    const uint64_t W = static_cast<uint64_t>(m_llWindowBlock) * m_nBlockSize;
    const uint64_t E = W + m_nBlockSize;
    const uint64_t ullTotal = m_pDevice->GetTotalSectors();
    if (u64StartSector < W || u64StartSector >= E || u64SectorCount > ullTotal ||
        u64StartSector > ullTotal - u64SectorCount) {
        // A request that begins outside the window, or reaches past the device's end (the
        // zeros after a short last block are no data), is answered by the device.
        std::lock_guard<std::mutex> guard(m_DeviceLock);
        return m_pDevice->ReadSectors(pDest, u64StartSector, u64SectorCount);
    }
    const uint64_t ullFromWindow = std::min(u64SectorCount, E - u64StartSector);
    memcpy(pDest, m_pWindow + (u64StartSector - W) * STORAGE_UNIT_BYTES,
           static_cast<size_t>(ullFromWindow) * STORAGE_UNIT_BYTES);
    if (ullFromWindow == u64SectorCount)
        return 1;
    std::lock_guard<std::mutex> guard(m_DeviceLock);
    return m_pDevice->ReadSectors(pDest + ullFromWindow * STORAGE_UNIT_BYTES, E, u64SectorCount - ullFromWindow);
}
