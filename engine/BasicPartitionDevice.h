// A run of sectors of another device shown as a device of its own (a partition, a found
// partition, an unallocated gap). Reads through its parent, so it shares the parent's
// bad-sector list.
#pragma once

#include <cstdint>

#include "EngineMemory.h"
#include "IStorageDevice.h"

class CBasicPartitionDevice : public IStorageDevice, public CEngineObject {
public:
    // The parent is not owned.
    CBasicPartitionDevice(IStorageDevice* pParentDevice, uint64_t u64StartSector, uint64_t u64TotalSectors);
    ~CBasicPartitionDevice() override;

    // Refuses (0, buffer untouched) a read that begins outside the window or asks for more
    // sectors than the window holds; a read running past the end is shortened and its tail
    // zero-filled.
    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;
    uint64_t GetTotalSectors() override;
    int GetSectorSize() override;
    int Open() override;
    int Close() override;
    // As the device that holds the partition.
    int CanReadConcurrently() override;

    uint64_t GetStartSector() const { return m_llStartSector; }
    IStorageDevice* GetParentDevice() const { return m_pParentDevice; }

private:
    IStorageDevice* m_pParentDevice;
    uint64_t m_llStartSector;
    uint64_t m_llTotalSectors;
};
