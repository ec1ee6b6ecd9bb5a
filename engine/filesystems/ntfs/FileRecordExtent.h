// A stretch of consecutive FILE records that a sector scan met: its first sector and how many
// 2-sector records follow one another from there.
#pragma once

#include <cstdint>

#include "IDataStream.h"
#include "WinTypes.h"

struct FILE_RECORD_EXTENT {
    uint64_t ullFirstSector;
    uint64_t ullCount;

    FILE_RECORD_EXTENT() : ullFirstSector(0), ullCount(0) {}
    // A new extent holds the one record at ullSector.
    explicit FILE_RECORD_EXTENT(uint64_t ullSector) : ullFirstSector(ullSector), ullCount(1) {}

    // The record at ullSector follows the last one (first + 2 x count): the extent grows by it.
    bool TryExtend(uint64_t ullSector);

    // First sector (8), count (8).
    BOOL Save(IDataStream* pWriter) const;
    // FALSE on a short record; nothing is changed then.
    BOOL Load(IDataStream* pReader);
};
