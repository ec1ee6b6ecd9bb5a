#include "CarvingRingView.h"

#include <cstring>

#include "BufferStorageDevice.h"

CCarvingRingView::CCarvingRingView()
    : m_ullWindowStart(0), m_ullWindowSectors(0), m_pRing(nullptr), m_ullRingStart(0), m_ullRingEnd(0),
      m_pRun(nullptr), m_ullRunStart(0), m_ullRunEnd(0), m_bNeedsMore(false), m_ullWantedEnd(0)
{
}

void CCarvingRingView::Reset(uint64_t ullWindowStart, uint64_t ullWindowSectors, int nSectorSize,
                             CBufferStorageDevice* pRing, const uint8_t* pRun, uint64_t ullRunStart,
                             uint32_t nRunSectors)
{
    m_ullWindowStart = ullWindowStart;
    m_ullWindowSectors = ullWindowSectors;
    m_nSectorSize = nSectorSize;
    m_pRing = pRing;
    m_ullRingStart = m_ullRingEnd = 0;
    if (pRing != nullptr && pRing->IsInitialized() && pRing->GetTotalSectors() > 0) {
        m_ullRingStart = pRing->GetWindowStart();
        m_ullRingEnd = pRing->GetWindowEnd();
    }
    m_pRun = pRun;
    m_ullRunStart = ullRunStart;
    m_ullRunEnd = pRun != nullptr ? ullRunStart + nRunSectors : ullRunStart;
    if (m_ullRingEnd == m_ullRingStart) {
        // Nothing held: memory is the run alone.
        m_ullRingStart = m_ullRingEnd = ullRunStart;
    } else if (pRun != nullptr && m_ullRingEnd != ullRunStart) {
        // The run does not follow the ring: only the ring counts as memory.
        m_pRun = nullptr;
        m_ullRunStart = m_ullRunEnd = m_ullRingEnd;
    }
    if (m_pRun == nullptr)
        m_ullRunStart = m_ullRunEnd = m_ullRingEnd;
    m_bNeedsMore = false;
    m_ullWantedEnd = 0;
}

bool CCarvingRingView::InWindow(uint64_t ullStart, uint64_t ullCount) const
{
    return ullCount > 0 && ullStart >= m_ullWindowStart && ullStart - m_ullWindowStart < m_ullWindowSectors &&
           ullCount <= m_ullWindowSectors - (ullStart - m_ullWindowStart);
}

const uint8_t* CCarvingRingView::PeekSectors(uint64_t ullStart, uint64_t ullCount) const
{
    if (!InWindow(ullStart, ullCount))
        return nullptr;
    const uint64_t ullEnd = ullStart + ullCount;
    if (m_pRun != nullptr && ullStart >= m_ullRunStart && ullEnd <= m_ullRunEnd)
        return m_pRun + (ullStart - m_ullRunStart) * STORAGE_UNIT_BYTES;
    if (m_pRing != nullptr && ullStart >= m_ullRingStart && ullEnd <= m_ullRingEnd)
        return m_pRing->PeekSectors(ullStart, ullCount);
    return nullptr;
}

int CCarvingRingView::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    if (pBuffer == nullptr || !InWindow(u64StartSector, u64SectorCount))
        return 0;
    const uint64_t ullEnd = u64StartSector + u64SectorCount;
    if (u64StartSector < m_ullRingStart || ullEnd > m_ullRunEnd) {
        // Inside the full window but not (yet) in memory.
        m_bNeedsMore = true;
        if (ullEnd > m_ullWantedEnd)
            m_ullWantedEnd = ullEnd;
        return 0;
    }
    uint8_t* pDest = static_cast<uint8_t*>(pBuffer);
    uint64_t ullAt = u64StartSector;
    if (ullAt < m_ullRingEnd) {
        const uint64_t ullPiece = (ullEnd < m_ullRingEnd ? ullEnd : m_ullRingEnd) - ullAt;
        if (m_pRing == nullptr || m_pRing->ReadSectors(pDest, ullAt, ullPiece) == 0) {
            // Not expected of a held range; the answer is then not taken as final either.
            m_bNeedsMore = true;
            return 0;
        }
        pDest += ullPiece * STORAGE_UNIT_BYTES;
        ullAt += ullPiece;
    }
    if (ullAt < ullEnd)
        memcpy(pDest, m_pRun + (ullAt - m_ullRunStart) * STORAGE_UNIT_BYTES,
               static_cast<size_t>(ullEnd - ullAt) * STORAGE_UNIT_BYTES);
    return 1;
}
