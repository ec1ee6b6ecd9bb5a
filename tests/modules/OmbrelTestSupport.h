// The one machine every disk-enumeration test sees: a device table set up before any module
// reads it (each module keeps the table it read first, as the engine does), the modules loaded
// by name from the output folder, and small helpers around the fixture tools.
//
//   disk 0  mbr.img      two primaries, two logicals in an extended partition
//   disk 1  gpt.img      FAT32 and NTFS; the NTFS one is mounted as E: with 1 MiB free
//   disk 2  fat32.img    a FAT32 file system filling the disk, no table
//   disk 3  gap.img      one partition without a file system, then unpartitioned space
//   disk 4-6 dyn-mbr-1..3.img   a dynamic-disk group
//   disk 7  ntfs.img     an NTFS file system filling the disk, no table (a copy of a partition)
//   disk 8  bootcode.img ntfs-c512.img whose boot code holds a message text where an MBR keeps
//                        its table, with a 'B' (0x42, the dynamic-disk type) under a type byte
//   floppy A: fat12.img
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DiskInfo.h"
#include "IDelvar.h"
#include "IOmbrel.h"
#include "ResultStoreAccess.h"

class ICorrand;

namespace ombreltest {

const DWORD kMbrDisk = 0;
const DWORD kGptDisk = 1;
const DWORD kFat32Disk = 2;
const DWORD kGapDisk = 3;
const DWORD kFirstDynamicDisk = 4;
const DWORD kDynamicDiskCount = 3;
const DWORD kNtfsDisk = 7;
const DWORD kBootCodeDisk = 8;
const int kDiskCount = 9;

inline bool IsDynamicDiskNumber(DWORD dwDisk)
{
    return dwDisk >= kFirstDynamicDisk && dwDisk < kFirstDynamicDisk + kDynamicDiskCount;
}

// gap.img: 32 MiB, partition 1 (type 0x83, nothing formatted) at 2048 for 16384 sectors.
const uint64_t kGapDiskSectors = 65536;
const uint64_t kGapPartitionStart = 2048;
const uint64_t kGapPartitionSectors = 16384;

// The NTFS partition of gpt.img, as the table's volume line names it.
const uint64_t kMountedStart = 83968;
const uint64_t kMountedSectors = 32768;
const uint64_t kMountedFreeBytes = 1048576;

// Folder of the table, gap.img and bootcode.img; the result database lives there too.
const std::string& MachineDir();
// The image behind disk n.
std::string DiskImage(DWORD dwDisk);

IOmbrel* Ombrel();
IDelvar* Engine();
ICorrand* Store();
IResultStoreAccess* StoreAccess();

// Every record of the module's lists, after a fresh Refresh.
std::vector<DISK_INFO_EX> Disks();
std::vector<PARTITION_INFO_EX> Partitions(DWORD dwDisk);
std::vector<PARTITION_INFO_EX> Volumes();
std::vector<PARTITION_INFO_EX> DynamicVolumes();

// Standard output of a shell command; the test fails when it exits non-zero.
std::string RunCommand(const std::string& strCommand);
// Sectors [ullStart, ullStart + ullCount) of an image copied into a file of their own (sparse).
std::string ExtractSectors(const std::string& strImage, uint64_t ullStart, uint64_t ullCount,
                           const std::string& strName);

// Sectors of an NTFS volume that begins at byte 0 of the image, as its boot sector counts them:
// the backup boot sector in the last sector of a partition lies outside.
uint64_t NtfsBootSectorSectors(const std::string& strImage);

// Free 512-byte sectors as the file systems' own tools count them.
uint64_t FsckFATFreeSectors(const std::string& strImage);
uint64_t DumpE2fsFreeSectors(const std::string& strImage);
uint64_t NtfsclusterFreeSectors(const std::string& strImage);

std::string Utf8(const WCHAR* pszText, size_t nCapacity);

} // namespace ombreltest
