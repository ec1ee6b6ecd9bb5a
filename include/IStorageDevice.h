// The sector device every reader of the engine goes through: physical disks, partition
// windows, drive-letter volumes, dynamic-disk volumes, the read-ahead cache and the carving
// ring all implement it.
//
// Whatever sector size a device reports, it is addressed in 512-byte units: sector numbers
// and counts are 512-byte units, and a buffer for n sectors holds n x 512 bytes.
#pragma once

#include <cstdint>

// Bytes in one addressing unit of every device.
#define STORAGE_UNIT_BYTES 512u

class IStorageDevice {
public:
    IStorageDevice() : m_nSectorSize(0) {}
    virtual ~IStorageDevice() {}

    // Reads u64SectorCount units starting at u64StartSector into pBuffer, which holds
    // u64SectorCount x 512 bytes. 1 = the buffer holds the data (zero-filled where the
    // device says so), 0 = failure.
    virtual int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) = 0;
    // Number of 512-byte units; 0 when unknown or when the device is not open.
    virtual uint64_t GetTotalSectors() = 0;
    // Bytes per sector as the medium reports it; 512 when nothing better is known.
    virtual int GetSectorSize() = 0;
    // 1 = usable. Devices without a handle of their own answer 1.
    virtual int Open() = 0;
    // Always 1.
    virtual int Close() = 0;
    // 1 when ReadSectors may run on several threads at once (each read names its own offset and
    // nothing is positioned first); the block scan then reads ahead on more than one thread.
    virtual int CanReadConcurrently() { return 0; }

    // A device owns a handle or a buffer; a copy would close or free it twice.
    IStorageDevice(const IStorageDevice&) = delete;
    IStorageDevice& operator=(const IStorageDevice&) = delete;

protected:
    // Bytes per sector, 0 = not yet known; filled lazily by the devices that ask the medium.
    int32_t m_nSectorSize;
};
