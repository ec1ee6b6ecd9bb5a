// One complete-scan controller run over a whole fuzz disk, as the scan drives it: reads of an odd
// size (so structures are cut at read ends), then its candidates collected. The container,
// progress and cancel flag the controller keeps pointers to live as long as this object.
#pragma once

#include <cstdint>

#include "FileSystemSearchController.h"
#include "FuzzDisk.h"
#include "RawFileInfo.h"
#include "SearchProgress.h"
#include "SearchStatistics.h"

class CFuzzSearch {
public:
    // Scans ullSectors sectors of disk in reads of nRead sectors; the caller deletes the candidates.
    void Run(IFileSystemSearchController& controller, CFuzzDisk& disk, uint64_t ullSectors, uint64_t nRead,
             CSearchedPartitionInfoList* pCandidates)
    {
        controller.SetRawFileInfoContainer(&m_Raw);
        controller.SetStorageDevice(&disk);
        controller.SetSectorsPerRead(static_cast<int32_t>(nRead));
        controller.SetProgress(&m_Progress, &m_Cancel);
        controller.BeginSearch();
        for (uint64_t s = 0; s < ullSectors; s += nRead)
            controller.SearchSectors(s, ullSectors - s < nRead ? ullSectors - s : nRead, &m_Statistics);
        controller.EndSearch();
        controller.CollectSearchedPartitions(pCandidates);
    }

private:
    CRawFileInfoContainer m_Raw;
    CANCEL_FLAG m_Cancel{0};
    SEARCH_PROGRESS m_Progress{};
    SEARCH_STATISTICS m_Statistics{};
};
