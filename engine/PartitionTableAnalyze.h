// Partition table analysis: the partitions of one physical disk (MBR primaries, the logical
// partitions of the extended chain, GPT entries, a file system filling the disk without a
// table) and the unallocated gaps between them, each with a partition device over the disk and
// what the volume recognisers say of the file system at its start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>

#include "DiskProbe.h"
#include "DiskTable.h"
#include "EngineMemory.h"
#include "IStorageDevice.h"
#include "WinTypes.h"

// One partition or gap. Created on the heap and owned by the list that receives it; the
// device is not deleted with the entry (the device collection hands it on).
struct PARTITION_ENTRY : public CEngineObject {
    uint64_t u64StartSector;        // absolute on the disk
    uint64_t u64SectorCount;
    uint64_t u64FileSystemSectors;  // size the recogniser reports; 0 unless it fits on the disk
    char szLabel[100];
    char chDriveLetter;             // 0 = none
    uint32_t nFileSystemKind;       // 0 FAT12 .. 5 EXT3, 7 unknown
    uint32_t bActive;
    uint32_t bPrimary;              // 1 for primary, GPT and whole-disk entries
    uint32_t nPartitionType;        // MBR type byte; for GPT and whole-disk entries see KindToPartitionType
    uint32_t nBytesPerSector;
    uint32_t nSectorsPerCluster;
    uint32_t nSectorsBefore;        // logical partitions: room of their extended boot record
    WCHAR szVolumeName[152];
    uint64_t u64FreeSectors;        // gaps: the sector count
    IStorageDevice* pDevice;        // never null in a listed entry

    PARTITION_ENTRY();
};

typedef std::list<PARTITION_ENTRY*, CEngineAllocator<PARTITION_ENTRY*>> CPartitionEntryList;

// Deletes every entry of the list (and, when asked, each entry's device) and empties it.
void FreePartitionEntries(CPartitionEntryList& list, bool bDeleteDevices);

class CPartitionTableAnalyze : public CEngineObject {
public:
    CPartitionTableAnalyze() {}
    virtual ~CPartitionTableAnalyze();

    // Appends the entries of the disk to out, sorted by start sector with the gaps among them,
    // and returns the size of out. A dynamic (LDM) disk yields nothing and returns 0: its volumes
    // come from the dynamic-disk database.
    int AnalyzePartitionTable(IStorageDevice* pDisk, CPartitionEntryList& out,
                              const rvdplat::DISK_GEOMETRY& geometry);
};

// Smallest unallocated run listed as a gap: one cylinder, and never less than 206 sectors.
const uint32_t MIN_GAP_SECTORS = 206;

// Bound on the extended boot records of one disk. A chain of links that points back into itself
// would otherwise be walked for ever; real disks hold a few dozen logical partitions at most.
const size_t MAX_EXTENDED_BOOT_RECORDS = 1024;

// File-system kind an MBR type byte stands for (7 when none).
uint32_t PartitionTypeToFileSystemKind(uint32_t nType);
// MBR type byte written for GPT and whole-disk entries once a file system is recognised.
uint32_t KindToPartitionType(uint32_t nKind);

// "FAT12" .. "EXT3", else "UNKNOWN"; NUL-terminated within nOutSize bytes.
void GetFileSystemKindName(uint32_t nKind, char* pszOut, size_t nOutSize);
// "SIMPLE", "MIRROR", "SPANNED", "STRIPPED", "RAID5" for 2 to 6, else "UNKNOWN".
void GetDynamicVolumeKindName(uint32_t nKind, char* pszOut, size_t nOutSize);

// Label of the FAT (kinds 0-2) or NTFS (kind 3) volume that begins at sector 0 of the device,
// into a buffer of nOutSize bytes (100 in the collections). False for other kinds and for a
// sector the kind's boot-sector checks reject.
bool ReadVolumeLabelByKind(IStorageDevice* pVolume, uint32_t nKind, char* pszOut, size_t nOutSize);
