#include "VolumeDevice.h"

#include <cctype>

#include "DiskDevice.h"
#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"

CVolumeDevice::CVolumeDevice(char chDriveLetter) : m_chDriveLetter(chDriveLetter)
{
    Open();
}

CVolumeDevice::~CVolumeDevice()
{
    Close();
}

int CVolumeDevice::Open()
{
    const int nUpper = toupper(static_cast<unsigned char>(m_chDriveLetter));
    if (nUpper < 'A' || nUpper > 'Z')
        return 0;
    if (m_hVolume.IsOpen())
        Close();
    // Read-only: a recovery tool never holds write access to the medium it recovers.
    return m_hVolume.OpenVolume(m_chDriveLetter) ? 1 : 0;
}

int CVolumeDevice::Close()
{
    if (m_hVolume.IsOpen())
        m_hVolume.Close();
    return 1;
}

bool CVolumeDevice::IsOpen() const
{
    return m_hVolume.IsOpen();
}

int CVolumeDevice::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    const int nIgnore = GetEngineSettings()->m_nBadSectorIgnore;
    return m_SectorReader.ReadSector(m_hVolume, pBuffer, u64StartSector, u64SectorCount, nIgnore);
}

int CVolumeDevice::GetSectorSize()
{
    if (m_nSectorSize <= 0)
        m_nSectorSize = QuerySectorSize(m_hVolume);
    return m_nSectorSize > 0 ? m_nSectorSize : 512;
}

uint64_t CVolumeDevice::GetTotalSectors()
{
    if (!m_hVolume.IsOpen())
        return 0;
    DISK_GEOMETRY geometry;
    if (!m_hVolume.GetGeometry(&geometry) || geometry.Cylinders <= 0)
        return 0;
    // The geometry counts the medium's own sectors; the device answers in 512-byte units.
    const uint64_t u64Units = static_cast<uint64_t>(SectorSizeFromGeometry(geometry.BytesPerSector)) / 512;
    uint64_t u64Total = 0;
    if (__builtin_mul_overflow(static_cast<uint64_t>(geometry.Cylinders),
                               static_cast<uint64_t>(geometry.TracksPerCylinder) * geometry.SectorsPerTrack,
                               &u64Total) ||
        __builtin_mul_overflow(u64Total, u64Units, &u64Total))
        return 0;
    return u64Total;
}

int CVolumeDevice::GetMediaType()
{
    if (!m_hVolume.IsOpen())
        return 0;
    DISK_GEOMETRY geometry;
    if (!m_hVolume.GetGeometry(&geometry))
        return 0;
    return static_cast<int>(geometry.MediaType);
}
