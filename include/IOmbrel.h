// The disk-enumeration interface: the Ombrel module exports extern "C" void* CreateInstance(),
// which hands out its one process-wide IOmbrel object. The disk page asks it, on a worker
// thread, for the volumes of a quick scan or the disks and their partitions of a complete scan,
// and hands the record the user picks to IDelvar::Init.
//
// A record is found again by the engine through its disk number, start sector and sector count
// (512-byte units), so the module lists exactly what the engine's own collection holds. Every
// sector count of these records is in 512-byte units and dwBytesPerSector is 512 accordingly.
//
// Snapshot. Refresh takes stock of the disks once; every count and array that follows is
// answered from that stock, so a count and the array asked for after it always agree. EndEnum
// lets it go. A query without a stock takes one first.
//
// The slot order of the virtual operations is part of the contract and must not change:
//  0 destructor            5 GetVolumeCount          10 GetDynamicVolumeCount
//  1 Refresh               6 GetAllVolumeInfo        11 GetAllDynamicVolumeInfo
//  2 GetDiskCount          7 (reserved)              12 EndEnum
//  3 (reserved)            8 GetPartitionCount
//  4 GetAllDiskInfo        9 GetAllPartitionInfo
// Integers are 32-bit. Callers test results in their low 16 bits only. Every operation is safe
// from any thread.
#pragma once

#include <cstdint>

#include "DiskInfo.h"
#include "WinTypes.h"

// Results of the array operations.
enum : int32_t {
    OMBREL_SUCCESS = 0,
    OMBREL_INVALID_PARAMETER = 87, // a null array or count, or a negative capacity
    OMBREL_MORE_DATA = 234,        // the capacity was filled and further records exist
};

// PARTITION_INFO_EX::dwDiskNumber of a floppy: it lies on no physical drive.
constexpr DWORD OMBREL_NO_DISK = 0xFFFFFFFF;

class IOmbrel {
public:
    virtual ~IOmbrel() {}

    // Takes stock of the disks anew (partition tables, file systems, dynamic-disk databases,
    // floppies). 0.
    virtual int32_t Refresh() = 0;
    // Number of physical disks.
    virtual int32_t GetDiskCount() = 0;
    virtual int32_t Reserved3() { return 0; }
    // *pnCount in: the capacity of pDisks; out: the records written (never more than the
    // capacity). OMBREL_SUCCESS, OMBREL_MORE_DATA or OMBREL_INVALID_PARAMETER. Disks come in
    // ascending disk number.
    virtual int32_t GetAllDiskInfo(DISK_INFO_EX* pDisks, int32_t* pnCount) = 0;
    // Number of volumes of a quick scan: the partitions of the basic disks that are not
    // unallocated space, and the floppies; the dynamic volumes are counted apart.
    virtual int32_t GetVolumeCount() = 0;
    // Those volumes, in the engine's collection order (lettered first, by letter); the count as
    // for GetAllDiskInfo.
    virtual int32_t GetAllVolumeInfo(PARTITION_INFO_EX* pVolumes, int32_t* pnCount) = 0;
    virtual int32_t Reserved7() { return 0; }
    // Number of entries of one disk: of a basic disk its partitions and unallocated stretches
    // (file-system code 6), by start sector; of a dynamic disk the dynamic volumes that have a
    // member on it. 0 for a disk that is not there.
    virtual int32_t GetPartitionCount(DWORD dwDiskNumber) = 0;
    virtual int32_t GetAllPartitionInfo(DWORD dwDiskNumber, PARTITION_INFO_EX* pPartitions, int32_t* pnCount) = 0;
    // Number of dynamic volumes (simple, spanned, striped, mirrored, RAID-5).
    virtual int32_t GetDynamicVolumeCount() = 0;
    virtual int32_t GetAllDynamicVolumeInfo(PARTITION_INFO_EX* pVolumes, int32_t* pnCount) = 0;
    // Lets the stock go. 0.
    virtual int32_t EndEnum() = 0;
};

// The Ombrel module's factory, found by the name "CreateInstance".
typedef void* (*PFN_OMBREL_CREATE_INSTANCE)();
