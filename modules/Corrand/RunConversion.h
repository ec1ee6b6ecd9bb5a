// Turns a found file's extents, counted in its file system's own units, into 512-byte sectors of
// the device the engine scanned (the volume it found for a partition record, or the disk of a
// whole-disk scan). The engine's run lists carry clusters (FAT: data-area cluster
// index, cluster 2 = index 0; NTFS: logical cluster numbers), EXT2/EXT3 blocks, or sectors
// (carved files, and the FILE-record sector of resident NTFS data), all relative to the device
// the tree was built on; which one a list holds follows from its properties' kind, since every
// list comes back from the packed form as an NTFS-type list whatever file system made it.
#pragma once

#include <cstdint>
#include <vector>

#include "DiskInfo.h"
#include "ResultStoreAccess.h"

class IDataRunList;
struct DATA_RUN;

namespace corrand {

// Where one result's positions are counted from.
struct RUN_GEOMETRY {
    // Sector of the scanned device at which the device the tree was built on begins: 0 when the
    // tree was built over the scanned volume itself; a found partition's start on the disk when
    // a whole-disk scan built the tree over that partition.
    uint64_t ullSourceStart = 0;
    uint64_t ullRootStart = 0;    // the tree root's start sector on that device (FAT: the sector
                                  // of cluster 2; NTFS, EXT2/EXT3: the volume's first sector)
    int32_t nSectorsPerUnit = 0;  // the root's sectors per cluster or per block
};

struct CONVERTED_RUNS {
    std::vector<STORED_RUN> vecRuns;
    bool bResident = false;
    uint64_t ullResidentSector = 0;
    uint32_t dwResidentOffset = 0;
    bool bDamaged = false;        // some run could not be placed; it was kept as a sparse run
};

// Disk sector of the device's sector 0 for a result handed over with this partition record
// and a tree root whose start sector is ullRootStart:
// - the user's own record (quick scan, or carved files only): the partition's start;
// - a partition found by a complete scan of one partition: the scanned partition's start;
// - a whole-disk scan: 0 when the tree was built over the disk itself (its root start is the
//   record's start), else the found partition's start, over whose own device it was built.
uint64_t DeviceStartOfResult(const PARTITION_INFO_EX& partition, uint64_t ullRootStart);

// The device whose sectors a result's runs count: the disk itself for a result of a whole-disk
// scan; otherwise the volume the engine matched the scanned record with (the user's own record,
// or for a partition found by a complete scan the scanned area the record names).
STORED_SOURCE SourceOfResult(const PARTITION_INFO_EX& partition);

// RUN_GEOMETRY::ullSourceStart of a result handed over with this partition record and a tree
// root whose start sector is ullRootStart.
uint64_t SourceStartOfResult(const PARTITION_INFO_EX& partition, uint64_t ullRootStart);

// Converts pList (null or empty gives no runs) of a file whose properties report
// nPropertiesKind (PROPERTIES_KIND_*). Contiguous runs are merged.
void ConvertRuns(IDataRunList* pList, int32_t nPropertiesKind, const RUN_GEOMETRY& geometry, CONVERTED_RUNS* pOut);
// The same for the runs of a non-resident list (IFileProperties::GetNonResidentRuns).
void ConvertRuns(const std::vector<DATA_RUN>& vecList, int32_t nPropertiesKind, const RUN_GEOMETRY& geometry,
                 CONVERTED_RUNS* pOut);

} // namespace corrand
