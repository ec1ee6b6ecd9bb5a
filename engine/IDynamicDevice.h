// A volume of dynamic (LDM) disks presented as one sector device numbered from 0, and the
// records by which the dynamic-disk database reader hands a volume's members to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>

#include "EngineMemory.h"
#include "IStorageDevice.h"

// Dynamic volume kinds, as GetDynamicKind numbers them (GetDynamicVolumeKindName names them).
const int DYNAMIC_KIND_SIMPLE = 2;
const int DYNAMIC_KIND_MIRROR = 3;
const int DYNAMIC_KIND_SPANNED = 4;
const int DYNAMIC_KIND_STRIPED = 5;
const int DYNAMIC_KIND_RAID5 = 6;

const size_t LDM_DISK_ID_CHARS = 65;        // GUID text of a disk, NUL-terminated
const size_t LDM_GROUP_NAME_CHARS = 32;
const size_t LDM_VOLUME_NAME_CHARS = 128;

// One member extent of a volume: a partition of the database on one physical disk.
struct LDM_EXTENT {
    uint32_t nPartitionIndex;          // low 32 bits of the partition record's index
    char szDiskId[LDM_DISK_ID_CHARS];  // GUID text of the member's disk record
    uint64_t u64DiskStart;             // absolute sector on the physical disk; 0 when the disk is missing
    uint64_t u64VolumeOffset;          // sector of the volume where the extent begins
    uint64_t u64Length;                // sectors
    IStorageDevice* pDisk;             // the physical disk; null when it is missing (not owned)
};

// What the database says of the volume as a whole.
struct DYNAMIC_VOLUME_DESC {
    char szDiskGroupName[LDM_GROUP_NAME_CHARS];
    char szVolumeName[LDM_VOLUME_NAME_CHARS];
    uint32_t nFileSystemKind;          // 0 FAT12 .. 5 EXT3, 7 unknown
    uint64_t u64VolumeSectors;
};

typedef std::list<LDM_EXTENT*, CEngineAllocator<LDM_EXTENT*>> CLdmExtentList;

class IDynamicDevice : public IStorageDevice {
public:
    // True when every extent of this device equals an extent of pOther and both are of one
    // kind: the same volume met again through another of its disks.
    virtual bool IsSameVolume(IDynamicDevice* pOther) = 0;
    virtual int GetDynamicKind() = 0;
    // The file-system kind of the description.
    virtual uint32_t GetFileSystemKind() = 0;
    // Puts this device's extents into out: a plain device inserts them, in its order, at the
    // front; a mirror appends those of each member device in turn at the end. The extents stay
    // owned by the devices.
    virtual void GetMembers(CLdmExtentList& out) = 0;
    // The letter the system mounts the volume at, 'A'..'Z', or 0.
    virtual char GetDriveLetter() = 0;
};

// Field-by-field equality as IsSameVolume needs it (the partition index is not compared).
bool IsSameExtent(const LDM_EXTENT& a, const LDM_EXTENT& b);
