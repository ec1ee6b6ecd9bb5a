#include "SectorRangeList.h"

#include <algorithm>

void CSectorRangeList::AddSector(uint64_t ullSector)
{
    if (!m_Entries.empty()) {
        SECTOR_RANGE_ENTRY& last = m_Entries.back();
        const uint64_t ullEnd = last.ullFirst + last.ullCount;
        if (ullEnd == ullSector) {
            ++last.ullCount;
            return;
        }
        if (ullSector >= last.ullFirst && ullSector < ullEnd)
            return;
    }
    if (m_Entries.size() < kMaxEntries)
        m_Entries.push_back(SECTOR_RANGE_ENTRY{ullSector, 1});
}

uint64_t CSectorRangeList::CountCoveredSectors(uint64_t ullFrom, uint64_t ullCount) const
{
    if (ullCount == 0)
        return 0;
    const uint64_t ullTo = ullFrom > ~0ull - ullCount ? ~0ull : ullFrom + ullCount;
    // The first stretch that ends after ullFrom.
    auto it = std::upper_bound(m_Entries.begin(), m_Entries.end(), ullFrom,
                               [](uint64_t value, const SECTOR_RANGE_ENTRY& entry) {
                                   return value < entry.ullFirst + entry.ullCount;
                               });
    uint64_t ullCovered = 0;
    for (; it != m_Entries.end() && it->ullFirst < ullTo; ++it) {
        const uint64_t ullLow = std::max(it->ullFirst, ullFrom);
        const uint64_t ullHigh = std::min(it->ullFirst + it->ullCount, ullTo);
        if (ullHigh > ullLow)
            ullCovered += ullHigh - ullLow;
    }
    return ullCovered;
}
