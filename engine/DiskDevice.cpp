#include "DiskDevice.h"

#include <cstring>

#include "ByteOrder.h"
#include "DiskInfo.h"
#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"
#include "PartitionTableAnalyze.h"

namespace {

const uint32_t kUnitBytes = 512;

// A layout answer grows in steps of 3840 bytes from 5952; past this the disk stack is not
// answering sensibly (a GPT layout of 128 entries needs under 19 KiB).
const DWORD kLayoutFirstSize = 5952;
const DWORD kLayoutStep = 3840;
const DWORD kLayoutMaxSize = 4u << 20;

// Extended-partition chains are walked link by link; a chain longer than this, or one that
// comes back to a sector already read, is damaged.
const int kMaxChainLinks = 256;

uint64_t UnitsPerSector(DWORD dwBytesPerSector)
{
    return static_cast<uint64_t>(SectorSizeFromGeometry(dwBytesPerSector)) / kUnitBytes;
}

// a x b, or false when the product does not fit 64 bits.
bool MulU64(uint64_t a, uint64_t b, uint64_t* pResult)
{
    return !__builtin_mul_overflow(a, b, pResult);
}

void CopyText(char* pszOut, size_t nOutSize, const std::string& strText)
{
    const size_t n = strText.size() < nOutSize - 1 ? strText.size() : nOutSize - 1;
    memcpy(pszOut, strText.data(), n);
    pszOut[n] = '\0';
}

const char* BusTypeDisplayName(DWORD dwBusType)
{
    switch (dwBusType) {
    case 1: return "SCSI Disk Device";
    case 2: return "ATAPI Bus";
    case 3: return "ATA Bus";
    case 4: return "1394 Disk Device";
    case 5: return "SSA Disk Device";
    case 6: return "FIBER Disk Device";
    case 7: return "USB Device";
    case 8: return "RAID Disk Device";
    default: return "";
    }
}

// The MBR and every extended boot record keep four 16-byte entries from byte 446: type at
// entry byte 4, first sector (relative, 32-bit) at entry byte 8.
const size_t kPartitionTableOffset = 446;
const size_t kPartitionEntrySize = 16;

bool IsExtendedType(uint8_t byType)
{
    return byType == 0x05 || byType == 0x0F || byType == 0x85;
}

// Walks the MBR and the extended chain; true when a partition of type 0x42 (a disk under the
// dynamic-disk manager) appears on the way.
bool ChainHoldsLdmPartition(IStorageDevice* pDevice, uint8_t* pSector, uint64_t u64Units)
{
    uint64_t aVisited[kMaxChainLinks];
    int nVisited = 0;
    uint64_t u64Next = 0;
    uint64_t u64Base = 0;
    bool bBaseSet = false;
    while (nVisited < kMaxChainLinks) {
        for (int i = 0; i < nVisited; ++i) {
            if (aVisited[i] == u64Next)
                return false;
        }
        aVisited[nVisited++] = u64Next;
        uint64_t u64Unit = 0;
        if (!MulU64(u64Next, u64Units, &u64Unit))
            return false;
        memset(pSector, 0, kUnitBytes);
        if (!pDevice->ReadSectors(pSector, u64Unit, 1))
            return false;
        bool bExtended = false;
        for (size_t i = 0; i < 4; ++i) {
            const uint8_t* pEntry = pSector + kPartitionTableOffset + i * kPartitionEntrySize;
            const uint8_t byType = pEntry[4];
            if (byType == 0x42)
                return true;
            if (IsExtendedType(byType)) {
                const uint64_t u64Start = rvd::LoadLE32(pEntry + 8);
                u64Next = u64Start + u64Base;
                if (!bBaseSet) {
                    u64Base = u64Start;
                    bBaseSet = true;
                }
                bExtended = true;
            }
        }
        if (!bExtended)
            return false;
    }
    return false;
}

// GPT entries are 128 bytes with the partition name (UTF-16LE) at entry byte 56. The compare
// lengths stop one byte short of the last character, as the disk manager's own check does.
bool GptNameMatches(const uint8_t* pEntry, const char* pszName, size_t nCompareBytes)
{
    const uint8_t* pName = pEntry + 56;
    for (size_t i = 0; i < nCompareBytes; ++i) {
        const size_t nChar = i / 2;
        const uint8_t byExpected = (i % 2 == 0) ? static_cast<uint8_t>(pszName[nChar]) : 0;
        if (pName[i] != byExpected)
            return false;
    }
    return true;
}

} // namespace

int SectorSizeFromGeometry(DWORD dwBytesPerSector)
{
    if (dwBytesPerSector == 0 || dwBytesPerSector % kUnitBytes != 0 || dwBytesPerSector > INT32_MAX)
        return static_cast<int>(kUnitBytes);
    return static_cast<int>(dwBytesPerSector);
}

int QuerySectorSize(const rvdplat::CRawDevice& device)
{
    if (!device.IsOpen())
        return 0;
    DISK_GEOMETRY geometry;
    if (!device.GetGeometry(&geometry))
        return 512;
    return SectorSizeFromGeometry(geometry.BytesPerSector);
}

bool IsDynamicDisk(IStorageDevice* pDevice, uint64_t u64TotalSectors, uint32_t nBufferSize)
{
    if (pDevice == nullptr || nBufferSize < kUnitBytes || u64TotalSectors == 0 || u64TotalSectors < 7)
        return false;
    // Table addresses are in the disk's own sectors; the device is read in 512-byte units.
    const int nSectorSize = pDevice->GetSectorSize();
    const uint64_t u64Units = UnitsPerSector(nSectorSize > 0 ? static_cast<DWORD>(nSectorSize) : 0);
    uint8_t aSector[kUnitBytes];

    // A disk that begins with a FAT or NTFS boot sector is that file system: the boot code of
    // such a sector runs through bytes 446-509, where a byte of 0x42 is code, not a partition type.
    memset(aSector, 0, sizeof(aSector));
    if (pDevice->ReadSectors(aSector, 0, 1) &&
        GetBootSectorFileSystemKind(aSector, sizeof(aSector)) != FILE_SYSTEM_UNKNOWN)
        return false;

    const bool bChain = ChainHoldsLdmPartition(pDevice, aSector, u64Units);

    // Sector 6 holds the private header of an MBR dynamic disk; an unreadable one leaves the
    // chain's answer.
    memset(aSector, 0, sizeof(aSector));
    if (!pDevice->ReadSectors(aSector, 6 * u64Units, 1))
        return bChain;
    if (bChain)
        return true;

    memset(aSector, 0, sizeof(aSector));
    if (!pDevice->ReadSectors(aSector, 0, 1))
        return false;
    // Protective MBR of a GPT disk.
    if (aSector[kPartitionTableOffset + 4] != 0xEE)
        return false;
    memset(aSector, 0, sizeof(aSector));
    if (!pDevice->ReadSectors(aSector, 2 * u64Units, 1))
        return false;
    bool bMetadata = false;
    bool bData = false;
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t* pEntry = aSector + i * 128;
        if (GptNameMatches(pEntry, "LDM metadata partition", 43))
            bMetadata = true;
        if (GptNameMatches(pEntry, "LDM data partition", 35))
            bData = true;
    }
    return bMetadata && bData;
}

void TrimDescriptorText(const char* pszText, char* pszOut, size_t nOutSize)
{
    if (nOutSize == 0)
        return;
    size_t nLength = strnlen(pszText, nOutSize - 1);
    // Descriptor texts are space-padded to their field; the first run of two spaces ends the text
    // (its first space stays).
    for (size_t i = 1; i < nLength; ++i) {
        if (pszText[i] == ' ' && pszText[i - 1] == ' ') {
            nLength = i;
            break;
        }
    }
    size_t nFirst = 0;
    while (nFirst < nLength && pszText[nFirst] == ' ')
        ++nFirst;
    memmove(pszOut, pszText + nFirst, nLength - nFirst);
    pszOut[nLength - nFirst] = '\0';
}

CDiskDevice::CDiskDevice(int nDiskNumber)
    : m_bDynamicDisk(0), m_nDiskNumber(nDiskNumber), m_llTotalSectors(0)
{
    Open();
}

CDiskDevice::~CDiskDevice()
{
    Close();
}

int CDiskDevice::Open()
{
    if (m_nDiskNumber < 0 || m_nDiskNumber >= rvdplat::kMaxPhysicalDrives)
        return 0;
    if (m_Device.IsOpen())
        Close();
    // Read-only: a recovery tool never holds write access to the medium it recovers.
    if (!m_Device.OpenPhysicalDrive(m_nDiskNumber))
        return 0;
    m_bDynamicDisk = IsDynamicDisk(this, GetTotalSectors(), kUnitBytes) ? 1 : 0;
    return 1;
}

int CDiskDevice::Close()
{
    if (m_Device.IsOpen())
        m_Device.Close();
    return 1;
}

bool CDiskDevice::IsOpen() const
{
    return m_Device.IsOpen();
}

int CDiskDevice::GetDiskNumber() const
{
    if (m_nDiskNumber < 0 || m_nDiskNumber > 64)
        return -1;
    return m_nDiskNumber;
}

int CDiskDevice::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    const int nIgnore = GetEngineSettings()->m_nBadSectorIgnore;
    return m_SectorReader.ReadSector(m_Device, pBuffer, u64StartSector, u64SectorCount, nIgnore);
}

int CDiskDevice::ReadSectorsReportingBadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    return m_SectorReader.ReadSector(m_Device, pBuffer, u64StartSector, u64SectorCount, 0);
}

int CDiskDevice::GetSectorSize()
{
    if (m_nSectorSize <= 0)
        m_nSectorSize = QuerySectorSize(m_Device);
    return m_nSectorSize > 0 ? m_nSectorSize : 512;
}

uint64_t CDiskDevice::GetTotalSectors()
{
    if (m_llTotalSectors > 0)
        return static_cast<uint64_t>(m_llTotalSectors);
    if (!m_Device.IsOpen())
        return 0;
    DISK_GEOMETRY geometry;
    if (!m_Device.GetGeometry(&geometry))
        return 0;

    // The geometry counts the disk's own sectors; everything here is in 512-byte units.
    const uint64_t u64Units = UnitsPerSector(geometry.BytesPerSector);
    const uint64_t u64Cylinders = geometry.Cylinders > 0 ? static_cast<uint64_t>(geometry.Cylinders) : 0;
    uint64_t u64PerCylinder = 0;
    uint64_t u64Total = 0;
    if (!MulU64(static_cast<uint64_t>(geometry.TracksPerCylinder) * geometry.SectorsPerTrack, u64Units,
                &u64PerCylinder) ||
        !MulU64(u64Cylinders, u64PerCylinder, &u64Total)) {
        // A geometry no disk can have counts as empty; the length answer then decides.
        u64PerCylinder = 0;
        u64Total = 0;
    }

    uint64_t u64Length = 0;
    if (m_Device.GetLengthInfo(&u64Length) && u64Length / kUnitBytes >= u64Total) {
        u64Total = u64Length / kUnitBytes;
    } else {
        // READ CAPACITY of targets 0 and 1. A capacity is believed only when it exceeds the
        // geometry's total by less than one cylinder: the geometry rounds down to whole
        // cylinders, and anything further off belongs to another drive.
        uint64_t aCapacity[2] = {0, 0};
        for (int nTarget = 0; nTarget < 2; ++nTarget) {
            rvdplat::SCSI_READ_CAPACITY capacity;
            if (!m_Device.ScsiReadCapacity(nTarget, &capacity))
                continue;
            const uint64_t u64BlockUnits =
                capacity.dwBlockLength != 0 && capacity.dwBlockLength % kUnitBytes == 0
                    ? capacity.dwBlockLength / kUnitBytes
                    : u64Units;
            aCapacity[nTarget] = (static_cast<uint64_t>(capacity.dwLastLba) + 1) * u64BlockUnits;
        }
        const uint64_t u64Limit =
            u64Total > UINT64_MAX - u64PerCylinder ? UINT64_MAX : u64Total + u64PerCylinder;
        const uint64_t k1 = aCapacity[0];
        const uint64_t k2 = aCapacity[1];
        if (k1 == k2 && k1 != 0) {
            if (u64Total < k1 && k1 < u64Limit)
                u64Total = k1;
        } else if (k1 != 0 || k2 != 0) {
            if (u64Total < k1 && k1 < u64Limit)
                u64Total = k1;
            else if (u64Total < k2 && k2 < u64Limit)
                u64Total = k2;
        }
    }
    if (u64Total > static_cast<uint64_t>(INT64_MAX))
        return 0;
    m_llTotalSectors = static_cast<int64_t>(u64Total);
    return u64Total;
}

bool CDiskDevice::GetGeometry(DISK_GEOMETRY* pGeometry)
{
    return m_Device.GetGeometry(pGeometry);
}

int CDiskDevice::GetTracksPerCylinder()
{
    DISK_GEOMETRY geometry;
    if (!m_Device.GetGeometry(&geometry))
        return 255;
    return static_cast<int>(geometry.TracksPerCylinder);
}

bool CDiskDevice::QueryDriveLayout(void** ppOut, DWORD dwIoctlCode)
{
    if (ppOut == nullptr)
        return false;
    DWORD dwSize = kLayoutFirstSize;
    while (dwSize <= kLayoutMaxSize) {
        char* pBuffer = AllocBuffer(dwSize);
        memset(pBuffer, 0, dwSize);
        DWORD dwNeeded = 0;
        const DWORD dwError = m_Device.QueryDriveLayoutBytes(dwIoctlCode, pBuffer, dwSize, &dwNeeded);
        if (dwError == rvdplat::kWinErrSuccess) {
            *ppOut = pBuffer;
            return true;
        }
        FreeBuffer(pBuffer);
        if (dwError != rvdplat::kWinErrInsufficientBuffer)
            return false;
        dwSize += kLayoutStep;
    }
    return false;
}

bool CDiskDevice::GetDeviceDescription(DISK_DEVICE_DESCRIPTION* pDescription)
{
    if (pDescription == nullptr)
        return false;
    memset(pDescription, 0, sizeof(*pDescription));
    rvdplat::STORAGE_DESCRIPTOR_INFO info;
    if (!rvdplat::QueryStorageDescriptor(m_nDiskNumber, &info))
        return false;
    pDescription->nBusType = info.dwBusType;
    CopyText(pDescription->szBusTypeName, sizeof(pDescription->szBusTypeName), BusTypeDisplayName(info.dwBusType));

    struct {
        const std::string* pText;
        char* pszOut;
    } texts[] = {
        {&info.strProductId, pDescription->szProductId},
        {&info.strProductRevision, pDescription->szProductRevision},
        {&info.strVendorId, pDescription->szVendorId},
        {&info.strSerialNumber, pDescription->szSerialNumber},
    };
    for (const auto& text : texts) {
        char szRaw[260];
        CopyText(szRaw, sizeof(szRaw), *text.pText);
        TrimDescriptorText(szRaw, text.pszOut, 260);
    }
    return true;
}
