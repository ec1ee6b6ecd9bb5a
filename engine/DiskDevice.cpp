#include "DiskDevice.h"

#include <cstring>

#include "ByteOrder.h"
#include "DiskInfo.h"
#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"

namespace {

const uint32_t kUnitBytes = 512;

// A layout answer grows in steps of 3840 bytes from 5952; past this the disk stack is not
// answering sensibly (a GPT layout of 128 entries needs under 19 KiB).
const DWORD kLayoutFirstSize = 5952;
const DWORD kLayoutStep = 3840;
const DWORD kLayoutMaxSize = 4u << 20;

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

} // namespace

int QuerySectorSize(const rvdplat::CRawDevice& device)
{
    if (!device.IsOpen())
        return 0;
    DISK_GEOMETRY geometry;
    if (!device.GetGeometry(&geometry))
        return 512;
    return SectorSizeFromGeometry(geometry.BytesPerSector);
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
