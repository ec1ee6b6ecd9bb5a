// Whether a 512-byte sector found in a raw scan is a directory sector: the first sector of a
// directory (holding "." and ".."), a later part of one, or neither.
#pragma once

#include <cstddef>
#include <cstdint>

const int FAT_DIR_SECTOR_NONE = 0;
const int FAT_DIR_SECTOR_PART = 1;
const int FAT_DIR_SECTOR_FIRST = 2;

class CFATDirSectorInfo {
public:
    CFATDirSectorInfo() { Clear(); }

    // Fills the fields from the sector's 16 entries; true for kinds 1 and 2. Fewer than 512
    // readable bytes give kind 0.
    bool Classify(const uint8_t* pSector, size_t nSize);
    void Clear();

    int m_nKind;
    // Entries counted: live and deleted files and folders, not long-name parts, "." or "..".
    int m_nEntryCount;
    // First clusters of "." and ".." (kind 2 only).
    uint32_t m_nDotCluster;
    uint32_t m_nDotDotCluster;
    uint32_t m_nHighestCluster;
};
