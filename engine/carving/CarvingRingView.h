// What the raw search controller measures a carved hit through: a sector device that answers
// every read exactly as the ring of recent runs answers it once the hit's run has become the
// oldest of the ring (the hit's full window: its own run and the 19 after it), from whatever of
// that window is in memory now (the runs the controller keeps and the run being searched).
//
// A read outside the full window fails, as the ring's does. A read inside it that reaches past
// what is in memory cannot be answered yet: it fails too, and the view notes that the answer is
// not final (NeedsMore) and how far the memory must reach (GetWantedEnd), so that the controller
// throws that measurement away and measures again once more runs have been read. A measurement
// in which nothing was wanted beyond memory is therefore the one the full window gives.
#pragma once

#include <cstdint>

#include "EngineMemory.h"
#include "IStorageDevice.h"

class CBufferStorageDevice;

class CCarvingRingView : public IStorageDevice, public CEngineObject {
public:
    CCarvingRingView();

    // The full window is [ullWindowStart, ullWindowStart + ullWindowSectors); the sectors in
    // memory are the ring's held range followed, when pRun is not null, by the run at ullRunStart
    // (nRunSectors x 512 bytes; the ring must then end where the run starts, or hold nothing).
    // nSectorSize is what the ring reports as its sector size. Clears NeedsMore.
    void Reset(uint64_t ullWindowStart, uint64_t ullWindowSectors, int nSectorSize, CBufferStorageDevice* pRing,
               const uint8_t* pRun, uint64_t ullRunStart, uint32_t nRunSectors);

    bool NeedsMore() const { return m_bNeedsMore; }
    // Sector just after the furthest read that memory could not answer; 0 when none.
    uint64_t GetWantedEnd() const { return m_ullWantedEnd; }
    // Sector just after the full window (what the ring calls its window end).
    uint64_t GetWindowEnd() const { return m_ullWindowStart + m_ullWindowSectors; }

    // The bytes of the range in place when it lies wholly within the full window and in one
    // piece of memory; null otherwise (ReadSectors then answers, noting NeedsMore if it must).
    const uint8_t* PeekSectors(uint64_t ullStart, uint64_t ullCount) const;

    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;
    // The full ring's count of held sectors: the window's length.
    uint64_t GetTotalSectors() override { return m_ullWindowSectors; }
    int GetSectorSize() override { return m_nSectorSize > 0 ? m_nSectorSize : 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    bool InWindow(uint64_t ullStart, uint64_t ullCount) const;

    uint64_t m_ullWindowStart;
    uint64_t m_ullWindowSectors;
    CBufferStorageDevice* m_pRing;
    uint64_t m_ullRingStart;
    uint64_t m_ullRingEnd;
    const uint8_t* m_pRun;
    uint64_t m_ullRunStart;
    uint64_t m_ullRunEnd;
    bool m_bNeedsMore;
    uint64_t m_ullWantedEnd;
};
