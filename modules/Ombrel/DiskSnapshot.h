// One stock-taking of the machine's disks, as plain records: the disks with their partitions and
// unallocated stretches (the complete scan's list), the basic volumes and floppies (the quick
// scan's list) and the dynamic volumes.
//
// The volumes come from the engine's own collection (CDeviceCollection, the code the engine runs
// before every scan), so each record carries the disk number, start sector and sector count by
// which the engine finds the volume again. The disk lists come from the same partition-table
// analysis with its entries' table flags (primary, active) and gaps, which the collection does
// not keep.
#pragma once

#include <vector>

#include "DiskInfo.h"

namespace ombrel {

struct DISK_ENTRY {
    DISK_INFO_EX Disk;
    std::vector<PARTITION_INFO_EX> Partitions;
};

struct DISK_SNAPSHOT {
    std::vector<DISK_ENTRY> Disks;                  // ascending disk number
    std::vector<PARTITION_INFO_EX> Volumes;         // basic volumes and floppies, collection order
    std::vector<PARTITION_INFO_EX> DynamicVolumes;  // collection order
};

// Opens every disk of the disk table, reads its tables and file systems, and closes them again.
// Never throws: whatever was gathered before a failure is kept.
void TakeDiskSnapshot(DISK_SNAPSHOT* pSnapshot);

} // namespace ombrel
