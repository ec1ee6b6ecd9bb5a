#include "BasicPartitionDevice.h"

#include <cstring>

CBasicPartitionDevice::CBasicPartitionDevice(IStorageDevice* pParentDevice, uint64_t u64StartSector,
                                             uint64_t u64TotalSectors)
    : m_pParentDevice(pParentDevice), m_llStartSector(u64StartSector), m_llTotalSectors(u64TotalSectors)
{
}

CBasicPartitionDevice::~CBasicPartitionDevice() {}

int CBasicPartitionDevice::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    if (u64StartSector >= m_llTotalSectors || u64SectorCount > m_llTotalSectors)
        return 0;
    uint64_t u64Read = u64SectorCount;
    if (u64Read > m_llTotalSectors - u64StartSector)
        u64Read = m_llTotalSectors - u64StartSector;

    int nResult = 0;
    if (m_pParentDevice != nullptr && m_llStartSector <= UINT64_MAX - u64StartSector) {
        nResult = m_pParentDevice->ReadSectors(pBuffer, m_llStartSector + u64StartSector, u64Read);
    } else if (u64Read > 0) {
        memset(pBuffer, 0, static_cast<size_t>(u64Read) * 512);
    }
    // The part of the request past the window's end belongs to no partition.
    if (u64SectorCount > u64Read) {
        memset(static_cast<char*>(pBuffer) + static_cast<size_t>(u64Read) * 512, 0,
               static_cast<size_t>(u64SectorCount - u64Read) * 512);
    }
    return nResult;
}

uint64_t CBasicPartitionDevice::GetTotalSectors()
{
    return m_llTotalSectors;
}

int CBasicPartitionDevice::GetSectorSize()
{
    return m_pParentDevice != nullptr ? m_pParentDevice->GetSectorSize() : 512;
}

int CBasicPartitionDevice::CanReadConcurrently()
{
    return m_pParentDevice != nullptr ? m_pParentDevice->CanReadConcurrently() : 1;
}

int CBasicPartitionDevice::Open()
{
    return 1;
}

int CBasicPartitionDevice::Close()
{
    return 1;
}
