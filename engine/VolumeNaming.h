// Volume naming: which of the partitions that the table analysis listed on a basic disk the
// system mounts, and under which names. For every listed partition that the disk's drive layout
// also holds, the mount-point manager is asked for the links of "\Device\Harddisk<d>\Partition<p>";
// the partition's entry then receives the volume's GUID path, its free space and its drive letter.
// Partitions the system does not list (deleted or lost ones, gaps) keep empty names and no letter.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "PartitionTableAnalyze.h"

class CDiskDevice;

// The two forms of the disk stack's drive-layout answer, as CDiskDevice::QueryDriveLayout returns
// them. Both are only ever read byte by byte at their documented offsets (little-endian):
//   DRIVE_LAYOUT_INFORMATION_EX  partition count at byte 4; 144-byte entries from byte 48 with
//                                StartingOffset at entry byte 8 and PartitionNumber at entry byte 24
//   DRIVE_LAYOUT_INFORMATION     partition count at byte 0; 32-byte entries from byte 8 with
//                                StartingOffset at entry byte 0 and PartitionNumber at entry byte 20
struct DRIVE_LAYOUT_INFORMATION_EX;
struct DRIVE_LAYOUT_INFORMATION;

// Volume names of the system are held up to this many characters (PARTITION_ENTRY keeps 152).
const size_t VOLUME_NAME_CHARS = 150;

// Names the entries of one disk from its layout. 1 once the whole list was gone through; 0 when
// the disk has no valid number or the mount-point manager cannot be opened (the rest of the list
// is then left alone).
int NameVolumesFromLayoutEx(CDiskDevice* pDisk, const DRIVE_LAYOUT_INFORMATION_EX* pLayout,
                            CPartitionEntryList& entries);
int NameVolumesFromLayout(CDiskDevice* pDisk, const DRIVE_LAYOUT_INFORMATION* pLayout, CPartitionEntryList& entries);

// The PartitionNumber of the first layout entry whose StartingOffset / 512 is the entry's start
// sector; -1 when none is, or when the entry or the layout is null. The offset is divided by 512
// whatever the disk's sector size: entries count 512-byte units.
int FindPartitionNumber(const PARTITION_ENTRY* pEntry, const DRIVE_LAYOUT_INFORMATION_EX* pLayout);
int FindPartitionNumber(const PARTITION_ENTRY* pEntry, const DRIVE_LAYOUT_INFORMATION* pLayout);

// Applies the mount points of one partition to its entry: a "\??\Volume{...}" link becomes the
// entry's volume name in Win32 form ("\\?\Volume{...}") and brings the volume's free space; a
// "\DosDevices\X:" link gives the drive letter (of several letters, the last one listed wins).
void ApplyMountPoints(PARTITION_ENTRY* pEntry, const std::vector<std::u16string>& links);
