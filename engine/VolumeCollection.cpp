#include "VolumeCollection.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "BasicPartitionDevice.h"
#include "DiskDevice.h"
#include "DiskTable.h"
#include "IDynamicDevice.h"
#include "LdmDatabaseReader.h"
#include "Time.h"
#include "VolumeAnalyzeList.h"
#include "VolumeDevice.h"
#include "VolumeNaming.h"
#include "Veskel.h"

namespace {

// Physical drives looked at: the engine's drive numbers 0 to 31.
const int kCollectedDiskCount = 32;
const uint32_t kBusTypeUsb = 7;

void CopyText(char* pszOut, size_t nOutSize, const std::string& strText)
{
    const size_t n = std::min(strText.size(), nOutSize - 1);
    memcpy(pszOut, strText.data(), n);
    memset(pszOut + n, 0, nOutSize - n);
}

std::string DescribeDisk(CDiskDevice* pDisk, uint32_t* pnBusType)
{
    DISK_DEVICE_DESCRIPTION description;
    memset(&description, 0, sizeof(description));
    if (!pDisk->GetDeviceDescription(&description)) {
        if (pnBusType != nullptr)
            *pnBusType = 0;
        return std::string();
    }
    if (pnBusType != nullptr)
        *pnBusType = description.nBusType;
    return FormatDiskDescription(description.szVendorId, description.szProductId, description.szBusTypeName,
                                 COLLECTED_DISK_DESCRIPTION_CHARS);
}

std::string KindName(uint32_t nKind)
{
    char szName[16];
    GetFileSystemKindName(nKind, szName, sizeof(szName));
    return szName;
}

std::string DynamicKindName(uint32_t nKind)
{
    char szName[16];
    GetDynamicVolumeKindName(nKind, szName, sizeof(szName));
    return szName;
}

// Logs how long a stage of the collection took when it goes out of scope.
class CElapsedTimer {
public:
    explicit CElapsedTimer(const char* pszName) : m_pszName(pszName), m_dwStart(rvd::GetTickCount()) {}
    ~CElapsedTimer()
    {
        DebugTrace("%s dwElapsedTime %u \n", m_pszName, static_cast<unsigned>(rvd::GetTickCount() - m_dwStart));
    }

private:
    const char* m_pszName;
    DWORD m_dwStart;
};

} // namespace

std::string FormatDiskDescription(const char* pszVendor, const char* pszProduct, const char* pszBusName,
                                  size_t nMaxChars)
{
    std::string strVendor = pszVendor != nullptr ? pszVendor : "";
    if (!strVendor.empty() && strVendor[0] == '(')
        strVendor.clear();
    const std::string strProduct = pszProduct != nullptr ? pszProduct : "";
    const std::string strBus = pszBusName != nullptr ? pszBusName : "";
    std::string strText = strVendor.empty() ? strProduct + "  " + strBus : strVendor + "  " + strProduct + "  " + strBus;
    if (strText.size() > nMaxChars)
        strText.resize(nMaxChars);
    return strText;
}

void CCollectDiskDevice::CollectDiskDevice(CDiskDeviceList& disks)
{
    const std::string strDashes(106, '-');
    LogInfo("%s\r\n", strDashes.c_str());
    LogInfo("Disk    TotalSectors       Cylinders    Heads    Sectors/Track     DIskInfo");
    for (int nDisk = 0; nDisk < kCollectedDiskCount; ++nDisk) {
        CDiskDevice* pDisk = new CDiskDevice(nDisk);
        if (!pDisk->IsOpen()) {
            delete pDisk;
            continue;
        }
        DISK_GEOMETRY geometry;
        memset(&geometry, 0, sizeof(geometry));
        pDisk->GetGeometry(&geometry);
        const std::string strDescription = DescribeDisk(pDisk, nullptr);
        LogInfo("%d  %16" PRId64 "  %10" PRId64 "  %10d   %16d   %30s", nDisk,
                static_cast<int64_t>(pDisk->GetTotalSectors()), static_cast<int64_t>(geometry.Cylinders),
                static_cast<int>(geometry.TracksPerCylinder), static_cast<int>(geometry.SectorsPerTrack),
                strDescription.c_str());
        disks.push_back(pDisk);
    }
    LogInfo("%s\r\n", strDashes.c_str());
}

void CCollectBasicVolume::CollectBasicVolume(const CDiskDeviceList& disks, CCollectedVolumeList& volumes)
{
    LogInfo("-----------------------------begin collect basic volume-----------------------------------");
    LogInfo("DriverLetter   FileSystem  StartSector     TotalSectors     ParentDisk: Disk      VolumeLabel\r\n");
    for (CDiskDevice* pDisk : disks) {
        if (pDisk == nullptr)
            continue;
        DISK_GEOMETRY geometry;
        memset(&geometry, 0, sizeof(geometry));
        pDisk->GetGeometry(&geometry);
        CPartitionEntryList entries;
        CPartitionTableAnalyze().AnalyzePartitionTable(pDisk, entries, geometry);
        if (entries.empty())
            continue;
        AssignVolumeNames(pDisk, entries);
        uint32_t nBusType = 0;
        const std::string strDescription = DescribeDisk(pDisk, &nBusType);
        for (PARTITION_ENTRY* pEntry : entries) {
            if (pEntry->pDevice == nullptr)
                continue;
            COLLECTED_VOLUME volume;
            memset(&volume, 0, sizeof(volume));
            volume.pDevice = pEntry->pDevice;
            pEntry->pDevice = nullptr;
            volume.nFileSystemKind = pEntry->nFileSystemKind;
            volume.chDriveLetter = pEntry->chDriveLetter;
            memcpy(volume.szLabel, pEntry->szLabel, sizeof(volume.szLabel));
            volume.szLabel[sizeof(volume.szLabel) - 1] = '\0';
            volume.bUsb = nBusType == kBusTypeUsb ? 1 : 0;
            const CBasicPartitionDevice* pPartition = dynamic_cast<CBasicPartitionDevice*>(volume.pDevice);
            volume.Members[0].ullStartSector =
                pPartition != nullptr ? pPartition->GetStartSector() : pEntry->u64StartSector;
            volume.Members[0].ullSectorCount = volume.pDevice->GetTotalSectors();
            volume.Members[0].pDisk = pDisk;
            CopyText(volume.szDescription, sizeof(volume.szDescription), strDescription);
            volumes.push_back(volume);
            LogInfo("%c  %16s  %16" PRId64 "  %16" PRId64 "  %16d  %20s\r\n",
                    volume.chDriveLetter != 0 ? volume.chDriveLetter : '*', KindName(volume.nFileSystemKind).c_str(),
                    static_cast<int64_t>(volume.Members[0].ullStartSector),
                    static_cast<int64_t>(volume.Members[0].ullSectorCount), pDisk->GetDiskNumber(), volume.szLabel);
        }
        // The devices now belong to the collected volumes.
        FreePartitionEntries(entries, false);
    }
    LogInfo("-----------------------------end collect basic volume-----------------------------------\r\n");
}

void CCollectBasicVolume::AssignVolumeNames(CDiskDevice* pDisk, CPartitionEntryList& entries)
{
    if (pDisk == nullptr || !pDisk->IsOpen())
        return;
    void* pLayout = nullptr;
    try {
        if (pDisk->QueryDriveLayout(&pLayout, rvdplat::kIoctlDiskGetDriveLayoutEx)) {
            NameVolumesFromLayoutEx(pDisk, static_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(pLayout), entries);
        } else if (pDisk->QueryDriveLayout(&pLayout, rvdplat::kIoctlDiskGetDriveLayout)) {
            NameVolumesFromLayout(pDisk, static_cast<const DRIVE_LAYOUT_INFORMATION*>(pLayout), entries);
        }
    } catch (...) {
        // Names and letters are a convenience: the volumes are listed without them.
    }
    if (pLayout != nullptr)
        FreeBuffer(pLayout);
}

void CCollectDynamicVolume::MakeCollectedVolume(const DYNAMIC_VOLUME_INFO& info, const CDiskDeviceList& disks,
                                                COLLECTED_VOLUME* pVolume)
{
    memset(pVolume, 0, sizeof(*pVolume));
    pVolume->pDevice = info.pDevice;
    pVolume->nDynamicKind = info.pDevice != nullptr ? static_cast<uint32_t>(info.pDevice->GetDynamicKind()) : 0;
    pVolume->nFileSystemKind = info.nFileSystemKind;
    pVolume->chDriveLetter = info.chDriveLetter;
    memcpy(pVolume->szLabel, info.szLabel, sizeof(pVolume->szLabel));
    pVolume->szLabel[sizeof(pVolume->szLabel) - 1] = '\0';
    if (info.pDevice == nullptr)
        return;

    CLdmExtentList members;
    info.pDevice->GetMembers(members);
    std::string strDescription;
    int nSlot = 0;
    for (const LDM_EXTENT* pExtent : members) {
        if (pExtent == nullptr || pExtent->pDisk == nullptr)
            continue;
        // Slots beyond the last are not recorded; the volume reads through its device all the same.
        if (nSlot < COLLECTED_VOLUME_MAX_MEMBERS) {
            pVolume->Members[nSlot].ullStartSector = pExtent->u64DiskStart;
            pVolume->Members[nSlot].ullSectorCount = pExtent->u64Length;
            pVolume->Members[nSlot].pDisk = pExtent->pDisk;
            ++nSlot;
        }
        std::string strDisk;
        for (CDiskDevice* pDisk : disks) {
            if (pDisk != nullptr && static_cast<IStorageDevice*>(pDisk) == pExtent->pDisk) {
                strDisk = DescribeDisk(pDisk, nullptr);
                break;
            }
        }
        // Whole lines only: a description cut in the middle would name a disk that is not there.
        // Lines that no longer fit are left out.
        const std::string strLine = strDisk + "\n";
        if (strDescription.size() + strLine.size() <= sizeof(pVolume->szDescription) - 1)
            strDescription += strLine;
    }
    if (strDescription.size() > 2 && strDescription.back() == '\n')
        strDescription.pop_back();
    CopyText(pVolume->szDescription, sizeof(pVolume->szDescription), strDescription);
}

void CCollectDynamicVolume::CollectDynamicVolume(const CDiskDeviceList& disks, CCollectedVolumeList& volumes)
{
    LogInfo("-----------------------------begin collect dynamic volume-----------------------------------");
    LogInfo("DriverLetter   FileSystem   DynamicVolumeType   TotalSectors       VolumeLabel      ParentDiskInfo\r\n");
    CDynamicVolumeInfoList infos;
    CLdmDatabaseReader().ReadDynamicVolumes(disks, infos);
    for (DYNAMIC_VOLUME_INFO* pInfo : infos) {
        if (pInfo == nullptr || pInfo->pDevice == nullptr)
            continue;
        COLLECTED_VOLUME volume;
        MakeCollectedVolume(*pInfo, disks, &volume);
        pInfo->pDevice = nullptr;
        volumes.push_back(volume);
        LogInfo("%c  %16s  %16s  %16" PRId64 "  %20s  %50s\r\n", volume.chDriveLetter != 0 ? volume.chDriveLetter : '*',
                KindName(volume.nFileSystemKind).c_str(), DynamicKindName(volume.nDynamicKind).c_str(),
                static_cast<int64_t>(volume.pDevice->GetTotalSectors()), volume.szLabel, volume.szDescription);
    }
    LogInfo("-----------------------------end collect dynamic volume-------------------------------------\r\n");
    // The devices now belong to the collected volumes.
    FreeDynamicVolumeInfos(infos, false);
}

void CCollectFloppyDiskDevice::CollectFloppyDiskDevice(CCollectedVolumeList& volumes)
{
    CElapsedTimer timer("CCollectFloppyDiskDevice::CollectFloppyDiskDevice");
    for (char chLetter : {'A', 'B'}) {
        CVolumeDevice* pDevice = new CVolumeDevice(chLetter);
        const int nMediaType = pDevice->GetMediaType();
        // Unknown, removable or fixed media: this letter is no floppy drive, and B: is never
        // looked at when A: is none.
        if (nMediaType == static_cast<int>(rvdplat::kMediaUnknown) ||
            nMediaType == static_cast<int>(rvdplat::kMediaRemovable) ||
            nMediaType == static_cast<int>(rvdplat::kMediaFixed)) {
            delete pDevice;
            return;
        }
        COLLECTED_VOLUME volume;
        memset(&volume, 0, sizeof(volume));
        volume.pDevice = pDevice;
        volume.chDriveLetter = chLetter;
        volume.bFloppy = 1;
        volume.nFileSystemKind = FILE_SYSTEM_UNKNOWN;
        {
            CVolumeAnalyzeList recognisers(pDevice, 0);
            IVolume* pVolume = recognisers.GetVolume();
            if (pVolume != nullptr && pVolume->GetFileSystemType() != FILE_SYSTEM_UNKNOWN) {
                volume.nFileSystemKind = static_cast<uint32_t>(pVolume->GetFileSystemType());
                pVolume->GetVolumeLabel(volume.szLabel, sizeof(volume.szLabel));
                volume.szLabel[sizeof(volume.szLabel) - 1] = '\0';
            }
        }
        volumes.push_back(volume);
    }
}

void CCollectAllBasicPartitionandDynamicVolume::CollectAllBasicPartitionandDynamicVolume(
    const CDiskDeviceList& disks, CCollectedVolumeList& volumes)
{
    CElapsedTimer timer("CCollectAllBasicPartitionandDynamicVolume::CollectAllBasicPartitionandDynamicVolume");
    if (disks.empty())
        return;
    CCollectBasicVolume().CollectBasicVolume(disks, volumes);
    CCollectDynamicVolume().CollectDynamicVolume(disks, volumes);
    CCollectFloppyDiskDevice().CollectFloppyDiskDevice(volumes);
    sort(volumes);
}

void CCollectAllBasicPartitionandDynamicVolume::sort(CCollectedVolumeList& volumes)
{
    CElapsedTimer timer("CCollectAllBasicPartitionandDynamicVolume::sort");
    std::stable_sort(volumes.begin(), volumes.end(), [](const COLLECTED_VOLUME& a, const COLLECTED_VOLUME& b) {
        return static_cast<unsigned char>(a.chDriveLetter) < static_cast<unsigned char>(b.chDriveLetter);
    });
    // Letter 0 sorted first: move the unlettered volumes behind the lettered ones.
    for (size_t nMoves = 0; nMoves < volumes.size() && volumes.front().chDriveLetter == 0; ++nMoves)
        std::rotate(volumes.begin(), volumes.begin() + 1, volumes.end());
}

void CDeviceCollection::Collect()
{
    Release();
    CCollectDiskDevice().CollectDiskDevice(m_Disks);
    CCollectAllBasicPartitionandDynamicVolume().CollectAllBasicPartitionandDynamicVolume(m_Disks, m_Volumes);
}

void CDeviceCollection::Release()
{
    for (COLLECTED_VOLUME& volume : m_Volumes) {
        delete volume.pDevice;
        volume.pDevice = nullptr;
    }
    m_Volumes.clear();
    for (CDiskDevice* pDisk : m_Disks)
        delete pDisk;
    m_Disks.clear();
}
