#include "FATDirSectorInfo.h"

#include "FATDBR.h"
#include "FATDirEntry.h"

void CFATDirSectorInfo::Clear()
{
    m_nKind = FAT_DIR_SECTOR_NONE;
    m_nEntryCount = 0;
    m_nDotCluster = 0;
    m_nDotDotCluster = 0;
    m_nHighestCluster = 0;
}

bool CFATDirSectorInfo::Classify(const uint8_t* pSector, size_t nSize)
{
    Clear();
    if (pSector == nullptr || nSize < FAT_SECTOR_BYTES)
        return false;

    bool bDot = false;
    bool bDotDot = false;
    bool bRejected = false;
    // The first cluster of the last live entry counted; none yet at the start, so that a first
    // entry of any cluster number is accepted.
    bool bHaveLive = false;
    uint32_t nLastLiveCluster = 0;

    for (size_t i = 0; i < FAT_ENTRIES_PER_SECTOR; ++i) {
        const CFATDirEntry entry(pSector + i * FAT_DIR_ENTRY_BYTES);
        if (!entry.IsValid(true)) {
            // After real entries, an all-zero entry is the clean end of the directory.
            if (!(m_nEntryCount > 0 || (bDot && bDotDot)) || !entry.IsAllZero())
                bRejected = true;
            break;
        }
        if (entry.IsLongNameEntry())
            continue;
        const uint32_t nCluster = entry.GetFirstCluster();
        if (nCluster > m_nHighestCluster)
            m_nHighestCluster = nCluster;
        if (i == 0 && entry.IsDotEntry()) {
            bDot = true;
            m_nDotCluster = nCluster;
            continue;
        }
        if (i == 1 && entry.IsDotDotEntry()) {
            bDotDot = true;
            m_nDotDotCluster = nCluster;
            continue;
        }
        if (!entry.IsDeleted()) {
            // Two live entries in a row cannot start in the same cluster.
            if (bHaveLive && nCluster == nLastLiveCluster) {
                bRejected = true;
                break;
            }
            bHaveLive = true;
            nLastLiveCluster = nCluster;
        }
        ++m_nEntryCount;
    }

    if (bDot && bDotDot) {
        m_nKind = FAT_DIR_SECTOR_FIRST;
        return true;
    }
    if (bRejected || m_nEntryCount < 2) {
        Clear();
        return false;
    }
    m_nKind = FAT_DIR_SECTOR_PART;
    m_nDotCluster = 0;
    m_nDotDotCluster = 0;
    return true;
}
