// Named files that a file-system search controller saw during a complete scan, kept by type so
// that a partition candidate can be checked against the files that signature carving found: a
// candidate whose geometry is right puts many named files exactly where a carved file of the same
// type starts.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"

class CRawFileInfoContainer;
class CSearchedPartitionInfo;

struct TYPED_FILE_ENTRY {
    // Built-in type number (1..72) of the name's extension.
    uint16_t wTypeId;
    // First cluster of the file's data; -1 until set.
    uint64_t ullFirstCluster;
    // Sector where the name was seen (a FAT directory sector or an NTFS FILE record); -1 until set.
    uint64_t ullEntrySector;

    TYPED_FILE_ENTRY() : wTypeId(0), ullFirstCluster(UINT64_MAX), ullEntrySector(UINT64_MAX) {}

    // Fill the entry; false, and the entry unchanged, when the name has no built-in type or
    // either number is negative (as a signed 64-bit value).
    bool SetFromName(const char* pszName, uint8_t byLength, uint64_t ullFirstCluster, uint64_t ullEntrySector);
    bool SetFromWideName(const char16_t* pwszName, uint8_t byLength, uint64_t ullFirstCluster,
                         uint64_t ullEntrySector);
};

// Appended in the order the scan meets the names, which is ascending sector order.
typedef std::vector<TYPED_FILE_ENTRY, CEngineAllocator<TYPED_FILE_ENTRY>> CTypedFileEntryList;

// Makes an entry from the name and appends it when the name has a built-in type.
void AddTypedFileEntry(CTypedFileEntryList& list, const char* pszName, uint8_t byLength, uint64_t ullFirstCluster,
                       uint64_t ullEntrySector);
void AppendTypedFileEntry(CTypedFileEntryList& list, const TYPED_FILE_ENTRY& entry);

// The sector at which the candidate's geometry puts the data of the cluster, or false when the
// cluster has no data sector there. For a FAT candidate clusters are numbered from 2 at the sector
// of cluster 2 (its evidence sector); for the others cluster 0 is the candidate's first sector.
bool CandidateClusterSector(const CSearchedPartitionInfo& candidate, uint64_t ullCluster, uint64_t* pullSector);

// Adds to the candidate's carved-file match counter the entries inside the candidate whose data
// sector holds a carved file of the same type. The list must be in ascending entry-sector order.
void CountRawFileMatches(const CTypedFileEntryList& list, const CRawFileInfoContainer* pContainer,
                         CSearchedPartitionInfo* pCandidate);
