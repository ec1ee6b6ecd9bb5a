#include "BufferStorageDevice.h"

#include <algorithm>
#include <cstring>

CBufferStorageDevice::CBufferStorageDevice()
    : m_pRing(nullptr), m_bInitialized(0), m_llWindowStart(0), m_llHeldSectors(0), m_nWritePos(0),
      m_nChunkSectors(0), m_nChunkCount(0), m_nRingSectors(0)
{
}

CBufferStorageDevice::~CBufferStorageDevice()
{
    Release();
}

void CBufferStorageDevice::Release()
{
    FreeMemory(m_pRing);
    m_pRing = nullptr;
    m_bInitialized = 0;
    m_llHeldSectors = 0;
    m_nWritePos = 0;
}

BOOL CBufferStorageDevice::Init(uint64_t ullFirstSector, int nSectorSize, uint32_t nChunkSectors,
                                uint32_t nChunkCount)
{
    const uint64_t ullRingSectors = static_cast<uint64_t>(nChunkSectors) * nChunkCount;
    const bool bSameShape = m_pRing != nullptr && m_nChunkSectors == nChunkSectors && m_nChunkCount == nChunkCount;
    m_nSectorSize = nSectorSize > 0 ? nSectorSize : 512;
    m_llWindowStart = ullFirstSector;
    m_llHeldSectors = 0;
    m_nWritePos = 0;
    if (bSameShape) {
        // Restarting at another sector: the store is reused. Nothing of it is readable until
        // chunks are appended again, so it need not be cleared.
        m_bInitialized = 1;
        return TRUE;
    }
    Release();
    if (ullRingSectors == 0 || ullRingSectors > UINT32_MAX)
        return FALSE;
    m_nChunkSectors = nChunkSectors;
    m_nChunkCount = nChunkCount;
    m_nRingSectors = static_cast<uint32_t>(ullRingSectors);
    const size_t nBytes = static_cast<size_t>(m_nRingSectors) * STORAGE_UNIT_BYTES;
    // Not cleared: nothing of the store is readable before a chunk is appended over it, and
    // zeroing the 80 MiB ring of the carving cost a quarter of a complete scan in page faults.
    // Offered for huge pages: the first pass of the appends over the ring faults it in 2 MiB at a
    // time instead of 4 KiB, which on an archive-dense disk (where every run is kept) was most of
    // the cost of copying the runs in.
    m_pRing = static_cast<uint8_t*>(AllocLargeBuffer(nBytes));
    m_bInitialized = 1;
    return TRUE;
}

void CBufferStorageDevice::Append(const uint8_t* pChunk)
{
    AppendSectors(pChunk, m_nChunkSectors);
}

void CBufferStorageDevice::AppendSectors(const uint8_t* pSectors, uint32_t nCount)
{
    if (!m_bInitialized || pSectors == nullptr || nCount == 0 || nCount > m_nRingSectors)
        return;
    const uint32_t nFirstPiece = std::min(nCount, m_nRingSectors - m_nWritePos);
    memcpy(m_pRing + static_cast<size_t>(m_nWritePos) * STORAGE_UNIT_BYTES, pSectors,
           static_cast<size_t>(nFirstPiece) * STORAGE_UNIT_BYTES);
    if (nFirstPiece < nCount)
        memcpy(m_pRing, pSectors + static_cast<size_t>(nFirstPiece) * STORAGE_UNIT_BYTES,
               static_cast<size_t>(nCount - nFirstPiece) * STORAGE_UNIT_BYTES);
    m_nWritePos = static_cast<uint32_t>((static_cast<uint64_t>(m_nWritePos) + nCount) % m_nRingSectors);
    if (m_llHeldSectors + nCount <= m_nRingSectors) {
        m_llHeldSectors += nCount;
    } else {
        m_llWindowStart += m_llHeldSectors + nCount - m_nRingSectors;
        m_llHeldSectors = m_nRingSectors;
    }
}

bool CBufferStorageDevice::IsFull() const
{
    return m_bInitialized != 0 && m_llHeldSectors == m_nRingSectors;
}

const uint8_t* CBufferStorageDevice::PeekSectors(uint64_t u64StartSector, uint64_t u64SectorCount) const
{
    if (!m_bInitialized || u64SectorCount == 0 || u64StartSector < m_llWindowStart)
        return nullptr;
    const uint64_t ullOffset = u64StartSector - m_llWindowStart;
    if (ullOffset >= m_llHeldSectors || u64SectorCount > m_llHeldSectors - ullOffset)
        return nullptr;
    const uint64_t ullOldest = m_llHeldSectors == m_nRingSectors ? m_nWritePos : 0;
    const uint64_t m = (ullOffset + ullOldest) % m_nRingSectors;
    if (u64SectorCount > m_nRingSectors - m)
        return nullptr;
    return m_pRing + m * STORAGE_UNIT_BYTES;
}

int CBufferStorageDevice::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    if (!m_bInitialized || pBuffer == nullptr || u64SectorCount == 0)
        return 0;
    if (u64StartSector < m_llWindowStart)
        return 0;
    const uint64_t ullOffset = u64StartSector - m_llWindowStart;
    if (ullOffset >= m_llHeldSectors || u64SectorCount > m_llHeldSectors - ullOffset)
        return 0;
    // While the ring fills, the oldest sector sits at position 0 and the write position is the
    // end of what is held; once full, the oldest sector sits at the write position.
    const uint64_t ullOldest = m_llHeldSectors == m_nRingSectors ? m_nWritePos : 0;
    const uint64_t m = (ullOffset + ullOldest) % m_nRingSectors;
    uint8_t* pDest = static_cast<uint8_t*>(pBuffer);
    const uint64_t ullFirstPiece = u64SectorCount < m_nRingSectors - m ? u64SectorCount : m_nRingSectors - m;
    memcpy(pDest, m_pRing + m * STORAGE_UNIT_BYTES, static_cast<size_t>(ullFirstPiece) * STORAGE_UNIT_BYTES);
    if (ullFirstPiece < u64SectorCount)
        memcpy(pDest + ullFirstPiece * STORAGE_UNIT_BYTES, m_pRing,
               static_cast<size_t>(u64SectorCount - ullFirstPiece) * STORAGE_UNIT_BYTES);
    return 1;
}

int CBufferStorageDevice::Close()
{
    Release();
    return 1;
}
