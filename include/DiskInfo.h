// Disk and partition records as the disk-enumeration module hands them out, the engine takes them
// in Init and builds them for every partition it hands to the result store, and the store gives
// them back to the GUI program. They are copied whole across module boundaries, so their size and
// the offsets listed below are a binary contract between separately built modules; every byte that
// no module interprets sits in a reserved field and is carried unchanged.
//
// Plain, fixed-size, pointer-free, little-endian, natural alignment (no packing pragma needed: the
// contract offsets fall on their natural boundaries). Zero a record with `DISK_INFO_EX rec{};`.
#pragma once

#include "WinTypes.h"

#include <cstddef>
#include <type_traits>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the cross-module records are little-endian and are read in place");

// File-system code of a partition record, of a volume recogniser's verdict and of a tree root.
// The field that holds it stays a DWORD: records come from other modules and any value may arrive.
enum FILE_SYSTEM_KIND : DWORD {
    FILE_SYSTEM_FAT12 = 0,
    FILE_SYSTEM_FAT16 = 1,
    FILE_SYSTEM_FAT32 = 2,
    FILE_SYSTEM_NTFS = 3,
    FILE_SYSTEM_EXT2 = 4,
    FILE_SYSTEM_EXT3 = 5,
    FILE_SYSTEM_UNALLOCATED = 6, // in a partition record: unpartitioned space
    FILE_SYSTEM_CARVED = 6,      // on a tree root: the tree of carved files
    FILE_SYSTEM_UNKNOWN = 7,
};

// DISK_INFO_EX::dwFlags
enum : DWORD {
    DISK_FLAG_DYNAMIC = 0x1, // the disk belongs to a dynamic-disk (LDM) group
};

// One physical disk, 312 bytes.
// Contract offsets: 0 disk number, 8 bytes per sector, 16 total sectors, 44 flags,
// 52 description. The rest is reserved for the enumeration module.
struct DISK_INFO_EX {
    DWORD dwDiskNumber;        // 0: N of the physical-drive path; key of the per-disk partition queries
    DWORD dwReserved04;
    DWORD dwBytesPerSector;    // 8
    DWORD dwReserved0C;
    ULONGLONG ullTotalSectors; // 16
    BYTE abyReserved18[20];
    DWORD dwFlags;             // 44: DISK_FLAG_*
    DWORD dwReserved30;
    CHAR szDescription[260];   // 52: narrow (UTF-8), NUL-terminated; runs to the end of the record
};

// PARTITION_INFO_EX::dwFoundByScan
enum : DWORD {
    PARTITION_FROM_USER = 0,     // the record the user chose, handed back unchanged
    PARTITION_FOUND_BY_SCAN = 1, // built by the engine for a partition its scan found
};

// PARTITION_INFO_EX::dwTreeDevice of a whole-disk result: whether the tree's sectors count from
// the disk's start (a tree of the block scan) or from the found partition's start (a tree built
// over the window of a partition that the lost-partition search found).
enum : DWORD {
    PARTITION_TREE_DEVICE_UNSAID = 0,
    PARTITION_TREE_ON_DISK = 1,
    PARTITION_TREE_ON_FOUND_PARTITION = 2,
};

// PARTITION_INFO_EX::ullScannedStart of a result of a whole-disk scan: the area scanned was
// the disk itself, not a partition on it.
constexpr ULONGLONG PARTITION_SCANNED_WHOLE_DISK = ~0ULL;

// One partition or volume, 832 bytes.
// Contract offsets: 0 disk number, 8 drive letter, 10 volume label, 212 file-system code,
// 736 primary flag, 740 active flag, 752 start sector, 760 bytes per sector, 764 sectors per
// cluster, 768 total sectors, 784 free sectors, 792 found-by-scan flag, 800 scanned start,
// 796 tree device, 808 scanned sectors, 816 whole-disk flag. The label's length (100 characters) was chosen here;
// every other byte is reserved.
struct PARTITION_INFO_EX {
    DWORD dwDiskNumber;          // 0
    DWORD dwReserved04;
    CHAR chDriveLetter;          // 8: 'C' and so on; 0 = no letter (the usual case on Linux)
    BYTE byReserved09;
    WCHAR szVolumeLabel[100];    // 10: UTF-16, NUL-terminated
    WORD wReserved0D2;
    DWORD dwFileSystem;          // 212: FILE_SYSTEM_KIND
    BYTE abyReserved0D8[520];
    DWORD dwPrimary;             // 736: non-zero primary, 0 logical
    DWORD dwActive;              // 740: non-zero when marked active (bootable)
    ULONGLONG ullReserved2E8;
    // 752: start sector on the disk for the user's records and for whole-disk results; relative
    // to ullScannedStart for results of a complete scan of one partition.
    ULONGLONG ullStartSector;
    DWORD dwBytesPerSector;      // 760
    // 764: the result tree's second partition value (sectors per cluster); 16 bits by contract.
    WORD wSectorsPerCluster;
    WORD wReserved2FE;
    ULONGLONG ullTotalSectors;   // 768
    ULONGLONG ullReserved308;
    ULONGLONG ullFreeSectors;    // 784
    DWORD dwFoundByScan;         // 792: PARTITION_FROM_USER or PARTITION_FOUND_BY_SCAN
    // 796: for a whole-disk result, the device its tree was built on (PARTITION_TREE_*); 0 in
    // records written before the engine said so.
    DWORD dwTreeDevice;
    // 800: start on the disk of the area that was scanned (PARTITION_SCANNED_WHOLE_DISK for a
    // whole-disk scan); 0 in the user's own record.
    ULONGLONG ullScannedStart;
    ULONGLONG ullScannedSectors; // 808: length of that area; 0 in the user's own record
    // 816: non-zero when the record stands for a whole disk: it is matched against the collected
    // volumes by disk number and start sector only, not by sector count.
    DWORD dwWholeDisk;
    BYTE abyReserved334[12];
};

static_assert(std::is_standard_layout<DISK_INFO_EX>::value &&
                  std::is_trivially_copyable<DISK_INFO_EX>::value,
              "DISK_INFO_EX is copied whole between modules");
static_assert(sizeof(DISK_INFO_EX) == 312, "DISK_INFO_EX size");
static_assert(offsetof(DISK_INFO_EX, dwDiskNumber) == 0, "DISK_INFO_EX layout");
static_assert(offsetof(DISK_INFO_EX, dwBytesPerSector) == 8, "DISK_INFO_EX layout");
static_assert(offsetof(DISK_INFO_EX, ullTotalSectors) == 16, "DISK_INFO_EX layout");
static_assert(offsetof(DISK_INFO_EX, dwFlags) == 44, "DISK_INFO_EX layout");
static_assert(offsetof(DISK_INFO_EX, szDescription) == 52, "DISK_INFO_EX layout");

static_assert(std::is_standard_layout<PARTITION_INFO_EX>::value &&
                  std::is_trivially_copyable<PARTITION_INFO_EX>::value,
              "PARTITION_INFO_EX is copied whole between modules");
static_assert(sizeof(PARTITION_INFO_EX) == 832, "PARTITION_INFO_EX size");
static_assert(offsetof(PARTITION_INFO_EX, dwDiskNumber) == 0, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, chDriveLetter) == 8, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, szVolumeLabel) == 10, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, dwFileSystem) == 212, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, dwPrimary) == 736, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, dwActive) == 740, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, ullStartSector) == 752, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, dwBytesPerSector) == 760, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, wSectorsPerCluster) == 764, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, ullTotalSectors) == 768, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, ullFreeSectors) == 784, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, dwFoundByScan) == 792, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, dwTreeDevice) == 796, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, ullScannedStart) == 800, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, ullScannedSectors) == 808, "PARTITION_INFO_EX layout");
static_assert(offsetof(PARTITION_INFO_EX, dwWholeDisk) == 816, "PARTITION_INFO_EX layout");
