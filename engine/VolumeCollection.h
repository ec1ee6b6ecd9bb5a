// Stock-taking of the machine before a scan: every physical disk that opens, and every volume on
// them (basic partitions, dynamic-disk volumes, floppies), each with a device of its own. The
// scan driver then picks the device of the disk or partition the user chose.
//
// Basic volumes come from each disk's partition table (gaps included), named by the mount-point
// manager; dynamic volumes from the dynamic-disk databases; floppies from the letters A: and B:.
// Every stage writes its table to the engine log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EngineMemory.h"
#include "PartitionTableAnalyze.h"

class IStorageDevice;
class CDiskDevice;
struct DYNAMIC_VOLUME_INFO;

// Most member extents recorded for one volume.
const int COLLECTED_VOLUME_MAX_MEMBERS = 32;
// Characters of a disk description in the collection.
const size_t COLLECTED_DISK_DESCRIPTION_CHARS = 49;

struct COLLECTED_MEMBER {
    uint64_t ullStartSector; // on the member disk
    uint64_t ullSectorCount;
    IStorageDevice* pDisk;   // null: free slot
};

struct COLLECTED_VOLUME {
    IStorageDevice* pDevice;   // the volume's own device, owned by the collection
    uint32_t nDynamicKind;     // dynamic volumes: 2 simple .. 6 RAID-5; 0 otherwise
    uint32_t nFileSystemKind;  // 0 FAT12 .. 5 EXT3, 7 unknown
    char chDriveLetter;        // 0 = none
    char szLabel[100];
    uint32_t bFloppy;
    uint32_t bUsb;             // the parent disk sits on a USB bus
    COLLECTED_MEMBER Members[COLLECTED_VOLUME_MAX_MEMBERS];
    char szDescription[512];   // parent-disk description
};

typedef std::vector<CDiskDevice*, CEngineAllocator<CDiskDevice*>> CDiskDeviceList;
typedef std::vector<COLLECTED_VOLUME, CEngineAllocator<COLLECTED_VOLUME>> CCollectedVolumeList;

// "%s  %s  %s" of vendor, product and bus name, or "%s  %s" of product and bus name when the
// vendor text is empty or begins with "(" (a placeholder, not a name); cut to nMaxChars.
std::string FormatDiskDescription(const char* pszVendor, const char* pszProduct, const char* pszBusName,
                                  size_t nMaxChars);

class CCollectDiskDevice {
public:
    CCollectDiskDevice() {}
    ~CCollectDiskDevice() {}
    // Physical drives 0 to 31 that open, in number order; the caller owns them.
    void CollectDiskDevice(CDiskDeviceList& disks);
};

class CCollectBasicVolume {
public:
    CCollectBasicVolume() {}
    ~CCollectBasicVolume() {}
    // The partitions and gaps of every disk's table, in disk order and by start within a disk.
    void CollectBasicVolume(const CDiskDeviceList& disks, CCollectedVolumeList& volumes);
    // Drive letters and volume names of one disk's entries from the mount-point manager, through
    // the disk's drive layout (the newer form, else the older one). Failures leave them unset.
    void AssignVolumeNames(CDiskDevice* pDisk, CPartitionEntryList& entries);
};

class CCollectDynamicVolume {
public:
    CCollectDynamicVolume() {}
    ~CCollectDynamicVolume() {}
    // The volumes of the dynamic-disk databases on the disks, one record each.
    void CollectDynamicVolume(const CDiskDeviceList& disks, CCollectedVolumeList& volumes);
    // The record of one dynamic volume: its members (up to 32, those on present disks) and the
    // descriptions of their disks, one a line. The device is not taken over here.
    static void MakeCollectedVolume(const DYNAMIC_VOLUME_INFO& info, const CDiskDeviceList& disks,
                                    COLLECTED_VOLUME* pVolume);
};

class CCollectFloppyDiskDevice {
public:
    CCollectFloppyDiskDevice() {}
    ~CCollectFloppyDiskDevice() {}
    // A: then B:; stops at the first letter that holds no floppy.
    void CollectFloppyDiskDevice(CCollectedVolumeList& volumes);
};

class CCollectAllBasicPartitionandDynamicVolume {
public:
    CCollectAllBasicPartitionandDynamicVolume() {}
    ~CCollectAllBasicPartitionandDynamicVolume() {}
    // Basic volumes, dynamic volumes, floppies, then sort; nothing when there is no disk.
    void CollectAllBasicPartitionandDynamicVolume(const CDiskDeviceList& disks, CCollectedVolumeList& volumes);
    // Lettered volumes first, by letter; the unlettered after them in their former order.
    static void sort(CCollectedVolumeList& volumes);
};

// The disks and volumes of one scan, released together: every collected device is deleted
// exactly once, the volumes' devices before the disks they read through.
class CDeviceCollection : public CEngineObject {
public:
    CDeviceCollection() {}
    ~CDeviceCollection() { Release(); }
    CDeviceCollection(const CDeviceCollection&) = delete;
    CDeviceCollection& operator=(const CDeviceCollection&) = delete;

    void Collect();
    void Release();

    CDiskDeviceList& GetDisks() { return m_Disks; }
    CCollectedVolumeList& GetVolumes() { return m_Volumes; }

private:
    CDiskDeviceList m_Disks;
    CCollectedVolumeList m_Volumes;
};
