// The volumes of the dynamic (LDM) disks among a list of physical disks. Every member disk of a
// disk group carries the group's whole database, so each volume is met once per member disk;
// it is listed once, with one device (simple, spanned, striped, mirror or RAID-5) built over the
// member extents found on the disks of the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

#include "EngineMemory.h"
#include "DynamicVolumeNames.h"
#include "IDynamicDevice.h"
#include "LdmDatabase.h"

// One dynamic volume as the device collection takes it over. The record and its device belong to
// the caller (FreeDynamicVolumeInfos).
struct DYNAMIC_VOLUME_INFO : public CEngineObject {
    uint64_t u64Sectors;            // the device's GetTotalSectors
    char szKindName[40];            // GetDynamicVolumeKindName of the device's kind
    uint32_t nFileSystemKind;       // what the volume recognisers find at sector 0; 7 when nothing
    char szLabel[100];
    char chDriveLetter;             // 0 = none
    IDynamicDevice* pDevice;

    DYNAMIC_VOLUME_INFO();
};

typedef std::list<DYNAMIC_VOLUME_INFO*, CEngineAllocator<DYNAMIC_VOLUME_INFO*>> CDynamicVolumeInfoList;
typedef std::vector<IStorageDevice*, CEngineAllocator<IStorageDevice*>> CLdmDiskList;

// Deletes every record of the list (and, when asked, its device) and empties it.
void FreeDynamicVolumeInfos(CDynamicVolumeInfoList& list, bool bDeleteDevices);

class CLdmDatabaseReader : public CEngineObject {
public:
    CLdmDatabaseReader() {}
    virtual ~CLdmDatabaseReader() {}
    CLdmDatabaseReader(const CLdmDatabaseReader&) = delete;
    CLdmDatabaseReader& operator=(const CLdmDatabaseReader&) = delete;

    // Reads the database of every disk of the list and appends one record per volume to out;
    // returns the size of out. The disks are not owned and must outlive the devices.
    int ReadDynamicVolumes(const CLdmDiskList& disks, CDynamicVolumeInfoList& out);

    // The same for any list of disk pointers (the collection's list of physical disks).
    template <class TDiskList>
    int ReadDynamicVolumes(const TDiskList& disks, CDynamicVolumeInfoList& out)
    {
        CLdmDiskList list;
        for (auto* pDisk : disks)
            list.push_back(pDisk);
        return ReadDynamicVolumes(list, out);
    }

    // The private header of a disk: its last sector, sector 6 or sector 2081, the first that holds
    // one. pOut receives the 512 bytes.
    static bool FindPrivateHeader(IStorageDevice* pDisk, uint8_t* pOut);

    // The disk of the list whose private header names this disk id; null when none does.
    IStorageDevice* FindDiskById(const char* pszDiskId);

private:
    struct MEMBER_DISK {
        IStorageDevice* pDisk;
        bool bHasHeader;
        LDM_PRIVATE_HEADER header;
    };

    void ReadDisk(const MEMBER_DISK& disk, CDynamicVolumeInfoList& out);
    const MEMBER_DISK* FindMember(const char* pszDiskId) const;
    void BuildExtents(const LDM_COMPONENT_RECORD& component, CLdmExtentList& out);
    IDynamicDevice* BuildVolumeDevice(const LDM_VOLUME_RECORD& volume, const LDM_PRIVATE_HEADER& header);
    void AddVolume(IDynamicDevice* pDevice, const LDM_VOLUME_RECORD& volume, CDynamicVolumeInfoList& out);

    std::vector<MEMBER_DISK, CEngineAllocator<MEMBER_DISK>> m_Disks;
};

// A volume can be built when it is a plain or RAID-5 volume with at least one component, every
// component being striped, spanned or RAID-5 with at least one partition whose disk is known.
bool IsBuildableLdmVolume(const LDM_VOLUME_RECORD& volume);

// Orders extents by volume offset, then by partition index (the columns of a striped or RAID-5
// volume all begin at offset 0 and are told apart by their index).
bool LdmExtentBefore(const LDM_EXTENT* a, const LDM_EXTENT* b);

// Size and file-system kind of a volume about to be built, into the description: the kind from
// the partition type byte, or from the boot sector at the first extent when it names one; the
// size as the sum of the first component's extents when all of their disks are present (RAID-5:
// less one column of parity), else from a FAT or NTFS boot sector at the first extent, else the
// size the volume record gives.
void SettleVolumeSize(int nKind, const LDM_VOLUME_RECORD& volume, const CLdmExtentList& extents,
                      DYNAMIC_VOLUME_DESC* pDesc);

// True when the disk carries an LDM database: a GPT whose first entry is the LDM metadata
// partition, or an MBR entry of type 0x42.
bool IsLdmDisk(IStorageDevice* pDisk);
