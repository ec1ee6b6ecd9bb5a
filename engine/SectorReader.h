// Reads 512-byte sectors of an opened raw device and, when the user chose to ignore bad
// sectors, remembers unreadable areas and answers them with zeros without touching the disk
// again (a failing read of a damaged drive can take seconds per attempt).
#pragma once

#include <cstdint>
#include <vector>

#include "CriticalSectionLock.h"
#include "DiskTable.h"
#include "EngineMemory.h"

// An unreadable area in 512-byte sectors: [i64StartOffset, i64EndOffset).
struct BAD_SECTOR_RANGE {
    int64_t i64StartOffset;
    int64_t i64EndOffset;
};

class CSectorReader : public CEngineObject {
public:
    // Largest read accepted in one call: one block of the block scan (4 MiB).
    static constexpr uint64_t kMaxSectorsPerRead = 8192;
    // Measuring an area after a failed read: probes of 2048 sectors (1 MiB), starting 50 units
    // after the failure and halving down to 10 units.
    static constexpr uint32_t kProbeUnitSectors = 2048;
    static constexpr uint32_t kProbeMinUnits = 10;
    static constexpr uint32_t kProbeStartUnits = 50;

    CSectorReader();
    ~CSectorReader();
    CSectorReader(const CSectorReader&) = delete;
    CSectorReader& operator=(const CSectorReader&) = delete;

    // Reads u64Count sectors at u64Start into pBuffer (u64Count x 512 bytes). 1 = the buffer
    // holds the data, with zeros where sectors are unreadable and nIgnoreBadSectors is set;
    // 0 = failure: more than 8192 sectors (buffer untouched), device not open, or an
    // unreadable sector with nIgnoreBadSectors 0 (buffer zero-filled). Sectors past the end of
    // the device read as zeros and make the read fail only when bad sectors are not ignored.
    int ReadSector(const rvdplat::CRawDevice& device, void* pBuffer, uint64_t u64Start, uint64_t u64Count,
                   int nIgnoreBadSectors);

    // True when [u64First, u64End) overlaps a remembered area.
    bool IsInBadSectorRange(uint64_t u64First, uint64_t u64End);

    // Remembers an area; 0 on success.
    int AddBadSectorRange(const BAD_SECTOR_RANGE& range);

    // Measures how far the unreadable area after a failed read at u64Start reaches, by probe
    // reads further on, and remembers it.
    void UpdateBadSector(const rvdplat::CRawDevice& device, uint64_t u64Start, uint32_t nUnitSectors,
                         uint32_t nMinUnits, uint32_t nStartUnits);

    // The remembered areas, in the order they were found.
    std::vector<BAD_SECTOR_RANGE> GetBadSectorRanges();

private:
    CCriticalSectionLock m_Lock;
    std::vector<BAD_SECTOR_RANGE, CEngineAllocator<BAD_SECTOR_RANGE>> m_BadSectorRanges;
};
