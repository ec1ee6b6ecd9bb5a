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
#include "Time.h"
#include "VolumeDevice.h"
#include "Veskel.h"

namespace {

// Physical drives looked at: the engine's drive numbers 0 to 31.
const int kCollectedDiskCount = 32;
// Disk descriptions of the collection keep at most this many characters.
const size_t kDiskDescriptionChars = 49;

const char* FileSystemKindName(uint32_t nKind)
{
    static const char* const kNames[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3", "UNALLOCATED", "UNKNOWN"};
    return nKind < 8 ? kNames[nKind] : kNames[7];
}

// The file-system kind a volume of the disk table is declared with. Recognising the file system
// from the volume's own boot sector replaces this once the volume recognisers are in the engine.
uint32_t FileSystemKindFromName(const std::string& strName)
{
    std::string strLower;
    for (char ch : strName)
        strLower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (strLower == "fat12")
        return 0;
    if (strLower == "fat16" || strLower == "fat")
        return 1;
    if (strLower == "fat32" || strLower == "vfat")
        return 2;
    if (strLower == "ntfs")
        return 3;
    if (strLower == "ext2")
        return 4;
    if (strLower == "ext3")
        return 5;
    return 7;
}

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
                                 kDiskDescriptionChars);
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
    // The volumes the disk stack knows on each disk; the partition-table reader takes their place
    // as the source of basic volumes once it is part of the engine.
    const std::vector<rvdplat::VOLUME_ENTRY> known = rvdplat::GetVolumes();
    for (CDiskDevice* pDisk : disks) {
        uint32_t nBusType = 0;
        const std::string strDescription = DescribeDisk(pDisk, &nBusType);
        const uint64_t ullDiskSectors = pDisk->GetTotalSectors();
        for (const rvdplat::VOLUME_ENTRY& entry : known) {
            if (entry.bFloppy || entry.nDiskNumber != pDisk->GetDiskNumber() || entry.qwSectorCount == 0)
                continue;
            // A volume that does not lie wholly on its disk cannot be read as a window of it.
            if (entry.qwStartSector >= ullDiskSectors || entry.qwSectorCount > ullDiskSectors - entry.qwStartSector)
                continue;
            COLLECTED_VOLUME volume;
            memset(&volume, 0, sizeof(volume));
            volume.pDevice = new CBasicPartitionDevice(pDisk, entry.qwStartSector, entry.qwSectorCount);
            volume.nFileSystemKind = FileSystemKindFromName(entry.strFileSystem);
            volume.chDriveLetter = entry.chDriveLetter;
            CopyText(volume.szLabel, sizeof(volume.szLabel), entry.strLabel);
            volume.bUsb = nBusType == 7 ? 1 : 0;
            volume.Members[0].ullStartSector = entry.qwStartSector;
            volume.Members[0].ullSectorCount = volume.pDevice->GetTotalSectors();
            volume.Members[0].pDisk = pDisk;
            CopyText(volume.szDescription, sizeof(volume.szDescription), strDescription);
            volumes.push_back(volume);
            LogInfo("%c  %16s  %16" PRId64 "  %16" PRId64 "  %16d  %20s\r\n",
                    volume.chDriveLetter != 0 ? volume.chDriveLetter : '*', FileSystemKindName(volume.nFileSystemKind),
                    static_cast<int64_t>(entry.qwStartSector), static_cast<int64_t>(entry.qwSectorCount),
                    pDisk->GetDiskNumber(), volume.szLabel);
        }
    }
    LogInfo("-----------------------------end collect basic volume-----------------------------------\r\n");
}

void CCollectDynamicVolume::CollectDynamicVolume(const CDiskDeviceList& disks, CCollectedVolumeList& volumes)
{
    (void)disks;
    (void)volumes;
    LogInfo("-----------------------------begin collect dynamic volume-----------------------------------");
    LogInfo("DriverLetter   FileSystem   DynamicVolumeType   TotalSectors       VolumeLabel      ParentDiskInfo\r\n");
    // Dynamic-disk volumes join the collection with the dynamic-disk database reader.
    LogInfo("-----------------------------end collect dynamic volume-------------------------------------\r\n");
}

void CCollectFloppyDiskDevice::CollectFloppyDiskDevice(CCollectedVolumeList& volumes)
{
    CElapsedTimer timer("CCollectFloppyDiskDevice::CollectFloppyDiskDevice");
    const std::vector<rvdplat::VOLUME_ENTRY> known = rvdplat::GetVolumes();
    for (char chLetter : {'A', 'B'}) {
        CVolumeDevice* pDevice = new CVolumeDevice(chLetter);
        const int nMediaType = pDevice->GetMediaType();
        // Unknown, removable or fixed media: this letter is no floppy drive, and B: is never
        // looked at when A: is none.
        if (nMediaType == 0 || nMediaType == 11 || nMediaType == 12) {
            delete pDevice;
            return;
        }
        COLLECTED_VOLUME volume;
        memset(&volume, 0, sizeof(volume));
        volume.pDevice = pDevice;
        volume.chDriveLetter = chLetter;
        volume.bFloppy = 1;
        volume.nFileSystemKind = 7;
        for (const rvdplat::VOLUME_ENTRY& entry : known) {
            if (entry.bFloppy && entry.chDriveLetter == chLetter) {
                volume.nFileSystemKind = FileSystemKindFromName(entry.strFileSystem);
                CopyText(volume.szLabel, sizeof(volume.szLabel), entry.strLabel);
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
