// Stretches of sectors that a scan saw with some content, in ascending order.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"

struct SECTOR_RANGE_ENTRY {
    uint64_t ullFirst;
    uint64_t ullCount;
};

class CSectorRangeList : public CEngineObject {
public:
    typedef std::vector<SECTOR_RANGE_ENTRY, CEngineAllocator<SECTOR_RANGE_ENTRY>> CEntries;

    // Past this many entries a new stretch is no longer recorded.
    static const size_t kMaxEntries = 500000;

    // The scan hands sectors in ascending order, so only the last stretch can take the sector:
    // it grows when it ends just before it; a sector it already holds changes nothing; else a
    // new stretch starts (while fewer than kMaxEntries are held).
    void AddSector(uint64_t ullSector);
    // How many sectors of [ullFrom, ullFrom + ullCount) lie in the stretches.
    uint64_t CountCoveredSectors(uint64_t ullFrom, uint64_t ullCount) const;

    const CEntries& GetEntries() const { return m_Entries; }

private:
    CEntries m_Entries;
};
