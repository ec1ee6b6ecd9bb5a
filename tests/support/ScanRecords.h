// The records a scan of one volume of a disk starts from, filled as the program fills them for a
// disk of 512-byte sectors.
#pragma once

#include <cstdint>

#include "DiskInfo.h"

namespace rvdtest {

struct SCAN_RECORDS {
    DISK_INFO_EX Disk{};
    PARTITION_INFO_EX Volume{};
};

// A disk of ullDiskSectors (0: not told), and on it the volume of dwFileSystem that starts at
// sector ullStart and has ullSectors.
inline SCAN_RECORDS VolumeScanRecords(uint64_t ullDiskSectors, DWORD dwFileSystem, uint64_t ullStart,
                                      uint64_t ullSectors)
{
    SCAN_RECORDS records;
    records.Disk.dwBytesPerSector = 512;
    records.Disk.ullTotalSectors = ullDiskSectors;
    records.Volume.dwFileSystem = dwFileSystem;
    records.Volume.ullStartSector = ullStart;
    records.Volume.ullTotalSectors = ullSectors;
    records.Volume.dwBytesPerSector = 512;
    return records;
}

} // namespace rvdtest
