#include "DiskSnapshot.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "BasicPartitionDevice.h"
#include "Charset.h"
#include "DiskDevice.h"
#include "DiskTable.h"
#include "FreeSpaceReader.h"
#include "IOmbrel.h"
#include "PartitionTableAnalyze.h"
#include "Veskel.h"
#include "VolumeAnalyzeList.h"
#include "VolumeCollection.h"
#include "WideText.h"

namespace ombrel {

namespace {

// Every count handed out is in the engine's 512-byte units.
const DWORD kUnitBytes = 512;

// Labels come as the file system stores them: UTF-8 from the NTFS and EXT readers, the OEM code
// page of DOS from FAT, padded with spaces.
std::u16string LabelText(const char* pszLabel, size_t nSize)
{
    std::string strLabel = rvd::ReadNarrowText(pszLabel, nSize);
    while (!strLabel.empty() && strLabel.back() == ' ')
        strLabel.pop_back();
    return rvd::IsValidUtf8(strLabel) ? rvd::Utf8ToUtf16(strLabel) : rvd::Cp437ToUtf16(strLabel);
}

std::string Trimmed(const std::string& strText)
{
    const size_t nFirst = strText.find_first_not_of(' ');
    if (nFirst == std::string::npos)
        return std::string();
    return strText.substr(nFirst, strText.find_last_not_of(' ') - nFirst + 1);
}

// Vendor, product and bus of the storage descriptor; an image file without them is named by its
// file name.
std::string DescribeDisk(CDiskDevice* pDisk)
{
    DISK_DEVICE_DESCRIPTION description;
    memset(&description, 0, sizeof(description));
    std::string strText;
    if (pDisk->GetDeviceDescription(&description))
        strText = Trimmed(FormatDiskDescription(description.szVendorId, description.szProductId,
                                                description.szBusTypeName, sizeof(DISK_INFO_EX::szDescription) - 1));
    if (strText.empty()) {
        const std::string strPath = rvdplat::GetPhysicalDrivePath(pDisk->GetDiskNumber());
        strText = strPath.substr(strPath.find_last_of('/') + 1);
    }
    return strText;
}

DISK_INFO_EX MakeDiskRecord(CDiskDevice* pDisk)
{
    DISK_INFO_EX disk{};
    disk.dwDiskNumber = static_cast<DWORD>(pDisk->GetDiskNumber());
    disk.dwBytesPerSector = kUnitBytes;
    disk.ullTotalSectors = pDisk->GetTotalSectors();
    disk.dwFlags = pDisk->IsDynamic() != 0 ? static_cast<DWORD>(DISK_FLAG_DYNAMIC) : 0;
    rvd::CopyNarrowText(disk.szDescription, DescribeDisk(pDisk));
    return disk;
}

// The free figure of a volume the system has mounted (the mount point's free space, counted in
// the entry's own sector size), else what the file system itself records.
uint64_t FreeSectorsOf(const PARTITION_ENTRY& entry, IStorageDevice* pDevice, uint32_t nKind)
{
    if (entry.u64FreeSectors != 0 && entry.nBytesPerSector != 0 && entry.szVolumeName[0] != 0) {
        uint64_t ullBytes = 0;
        if (!__builtin_mul_overflow(entry.u64FreeSectors, static_cast<uint64_t>(entry.nBytesPerSector), &ullBytes))
            return std::min(ullBytes / kUnitBytes, pDevice->GetTotalSectors());
    }
    return ReadFreeSectors(pDevice, nKind);
}

// A stretch no table entry covers: listed by the analysis with no partition type.
bool IsGap(const PARTITION_ENTRY& entry)
{
    return entry.nPartitionType == 0 && entry.u64FreeSectors == entry.u64SectorCount;
}

PARTITION_INFO_EX MakeEntryRecord(CDiskDevice* pDisk, const PARTITION_ENTRY& entry)
{
    PARTITION_INFO_EX record{};
    IStorageDevice* pDevice = entry.pDevice;
    record.dwDiskNumber = static_cast<DWORD>(pDisk->GetDiskNumber());
    record.chDriveLetter = entry.chDriveLetter;
    // Start and size as the collection records them: the partition device's own window.
    const CBasicPartitionDevice* pWindow = dynamic_cast<CBasicPartitionDevice*>(pDevice);
    record.ullStartSector = pWindow != nullptr ? pWindow->GetStartSector() : entry.u64StartSector;
    record.ullTotalSectors = pDevice->GetTotalSectors();
    record.dwBytesPerSector = kUnitBytes;
    record.dwActive = entry.bActive;
    record.dwPrimary = entry.bPrimary;
    if (IsGap(entry)) {
        record.dwFileSystem = FILE_SYSTEM_UNALLOCATED;
        record.ullFreeSectors = record.ullTotalSectors;
        return record;
    }
    record.dwFileSystem = entry.nFileSystemKind;
    record.wSectorsPerCluster = static_cast<WORD>(std::min<uint32_t>(entry.nSectorsPerCluster, 0xFFFF));
    rvd::CopyWideText(record.szVolumeLabel, LabelText(entry.szLabel, sizeof(entry.szLabel)));
    record.ullFreeSectors = FreeSectorsOf(entry, pDevice, entry.nFileSystemKind);
    return record;
}

// Dynamic volumes and floppies: the collection's own record.
PARTITION_INFO_EX MakeCollectedRecord(const COLLECTED_VOLUME& volume, DWORD dwDiskNumber)
{
    PARTITION_INFO_EX record{};
    record.dwDiskNumber = dwDiskNumber;
    record.chDriveLetter = volume.chDriveLetter;
    record.ullStartSector = volume.Members[0].ullStartSector;
    record.ullTotalSectors = volume.pDevice->GetTotalSectors();
    record.dwBytesPerSector = kUnitBytes;
    record.dwFileSystem = volume.nFileSystemKind;
    // A floppy is one volume over the whole medium; dynamic volumes are no table partitions.
    record.dwPrimary = volume.bFloppy != 0 ? 1 : 0;
    std::u16string strLabel = LabelText(volume.szLabel, sizeof(volume.szLabel));
    if (strLabel.empty() && volume.nFileSystemKind < FILE_SYSTEM_UNALLOCATED) {
        // The dynamic-disk reader names FAT and NTFS volumes only; the recognisers know EXT too.
        CVolumeAnalyzeList recognisers(volume.pDevice, 0);
        IVolume* pVolume = recognisers.GetVolume();
        char szLabel[VOLUME_LABEL_BYTES] = {};
        if (pVolume != nullptr && static_cast<uint32_t>(pVolume->GetFileSystemType()) == volume.nFileSystemKind) {
            pVolume->GetVolumeLabel(szLabel, sizeof(szLabel));
            strLabel = LabelText(szLabel, sizeof(szLabel));
        }
    }
    rvd::CopyWideText(record.szVolumeLabel, strLabel);
    record.ullFreeSectors = ReadFreeSectors(volume.pDevice, volume.nFileSystemKind);
    return record;
}

int DiskIndexOf(const CDiskDeviceList& disks, const IStorageDevice* pDisk)
{
    for (size_t i = 0; i < disks.size(); ++i) {
        if (pDisk != nullptr && static_cast<IStorageDevice*>(disks[i]) == pDisk)
            return static_cast<int>(i);
    }
    return -1;
}

const PARTITION_INFO_EX* FindRecord(const DISK_ENTRY& disk, uint64_t ullStart, uint64_t ullCount)
{
    for (const PARTITION_INFO_EX& record : disk.Partitions) {
        if (record.ullStartSector == ullStart && record.ullTotalSectors == ullCount)
            return &record;
    }
    return nullptr;
}

void BuildDiskLists(CDeviceCollection& collection, DISK_SNAPSHOT* pSnapshot)
{
    for (CDiskDevice* pDisk : collection.GetDisks()) {
        DISK_ENTRY entry;
        entry.Disk = MakeDiskRecord(pDisk);
        // A dynamic disk has no partitions of its own to list: its volumes are added below.
        if (pDisk->IsDynamic() == 0) {
            DISK_GEOMETRY geometry;
            memset(&geometry, 0, sizeof(geometry));
            pDisk->GetGeometry(&geometry);
            CPartitionEntryList entries;
            CPartitionTableAnalyze().AnalyzePartitionTable(pDisk, entries, geometry);
            CCollectBasicVolume().AssignVolumeNames(pDisk, entries);
            for (const PARTITION_ENTRY* pEntry : entries) {
                if (pEntry != nullptr && pEntry->pDevice != nullptr)
                    entry.Partitions.push_back(MakeEntryRecord(pDisk, *pEntry));
            }
            FreePartitionEntries(entries, true);
        }
        pSnapshot->Disks.push_back(std::move(entry));
    }
}

void BuildVolumeLists(CDeviceCollection& collection, DISK_SNAPSHOT* pSnapshot)
{
    const CDiskDeviceList& disks = collection.GetDisks();
    for (const COLLECTED_VOLUME& volume : collection.GetVolumes()) {
        if (volume.pDevice == nullptr)
            continue;
        if (volume.bFloppy != 0) {
            pSnapshot->Volumes.push_back(MakeCollectedRecord(volume, OMBREL_NO_DISK));
            continue;
        }
        const int nFirstDisk = DiskIndexOf(disks, volume.Members[0].pDisk);
        // The engine finds a volume through the disk of its first member; one without it
        // could be listed but never scanned.
        if (nFirstDisk < 0)
            continue;
        DISK_ENTRY& firstDisk = pSnapshot->Disks[static_cast<size_t>(nFirstDisk)];
        if (volume.nDynamicKind != 0) {
            const PARTITION_INFO_EX record = MakeCollectedRecord(volume, firstDisk.Disk.dwDiskNumber);
            pSnapshot->DynamicVolumes.push_back(record);
            // Under every disk that holds a member of it, once.
            std::vector<int> listedOn;
            for (const COLLECTED_MEMBER& member : volume.Members) {
                const int nDisk = DiskIndexOf(disks, member.pDisk);
                if (nDisk < 0 || std::find(listedOn.begin(), listedOn.end(), nDisk) != listedOn.end())
                    continue;
                listedOn.push_back(nDisk);
                pSnapshot->Disks[static_cast<size_t>(nDisk)].Partitions.push_back(record);
            }
            continue;
        }
        const PARTITION_INFO_EX* pRecord =
            FindRecord(firstDisk, volume.Members[0].ullStartSector, volume.pDevice->GetTotalSectors());
        if (pRecord == nullptr) {
            // The table changed between the two readings; the collection's view is the one the
            // engine will see.
            LogInfo("Ombrel: volume at sector %llu of disk %u is not in the disk's list",
                    static_cast<unsigned long long>(volume.Members[0].ullStartSector), firstDisk.Disk.dwDiskNumber);
            pSnapshot->Volumes.push_back(MakeCollectedRecord(volume, firstDisk.Disk.dwDiskNumber));
            continue;
        }
        if (pRecord->dwFileSystem != FILE_SYSTEM_UNALLOCATED)
            pSnapshot->Volumes.push_back(*pRecord);
    }
}

} // namespace

void TakeDiskSnapshot(DISK_SNAPSHOT* pSnapshot)
{
    *pSnapshot = DISK_SNAPSHOT();
    try {
        CDeviceCollection collection;
        collection.Collect();
        BuildDiskLists(collection, pSnapshot);
        BuildVolumeLists(collection, pSnapshot);
    } catch (const std::exception& e) {
        LogInfo("Ombrel: taking stock of the disks failed: %s", e.what());
    } catch (...) {
        LogInfo("Ombrel: taking stock of the disks failed");
    }
}

} // namespace ombrel
