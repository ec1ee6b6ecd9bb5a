// A whole physical drive, "\\.\PHYSICALDRIVE<n>" of the disk table, opened read-only.
// Reads are positioned reads and the bad-sector list is locked, so the read-ahead thread and the
// scan thread may read one disk at the same time.
#pragma once

#include <cstdint>

#include "DiskProbe.h"
#include "DiskTable.h"
#include "EngineMemory.h"
#include "IStorageDevice.h"
#include "SectorReader.h"
#include "WinTypes.h"

using rvdplat::DISK_GEOMETRY;

// What the drive's storage descriptor says of it. Texts are NUL-terminated, at most 259 characters.
struct DISK_DEVICE_DESCRIPTION {
    uint32_t nBusType;            // Windows STORAGE_BUS_TYPE (7 = USB)
    char szVendorId[260];
    char szProductId[260];
    char szProductRevision[260];
    char szSerialNumber[260];
    char szBusTypeName[260];      // display name of the bus; empty for bus types without one
};

class CDiskDevice : public IStorageDevice, public CEngineObject {
public:
    // Opens the drive at once; the caller asks IsOpen afterwards.
    explicit CDiskDevice(int nDiskNumber);
    ~CDiskDevice() override;

    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;
    // As ReadSectors with bad sectors never ignored: an unreadable sector fails the read (zeros
    // in the buffer), and the remembered areas are neither consulted nor added to. For readers
    // that hold another copy of the data (mirror and RAID-5 members): a remembered area spans
    // far more than the bad sectors, and answering it with zeros would hide good data there.
    int ReadSectorsReportingBadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount);
    uint64_t GetTotalSectors() override;
    int GetSectorSize() override;
    int Open() override;
    int Close() override;
    // Reads by offset; the bad-sector list has its own lock.
    int CanReadConcurrently() override { return 1; }

    bool IsOpen() const;
    // The drive number, or -1 when it lies outside the drives the system can name.
    int GetDiskNumber() const;
    // 1 when the last Open found a dynamic (LDM) disk.
    int IsDynamic() const { return m_bDynamicDisk; }

    bool GetGeometry(DISK_GEOMETRY* pGeometry);
    // Heads of the geometry; 255 when the geometry cannot be read.
    int GetTracksPerCylinder();
    // Asks for the drive layout in the byte form of dwIoctlCode (kIoctlDiskGetDriveLayoutEx or
    // kIoctlDiskGetDriveLayout). On success *ppOut receives a buffer from AllocBuffer that the
    // caller releases with FreeBuffer.
    bool QueryDriveLayout(void** ppOut, DWORD dwIoctlCode);
    bool GetDeviceDescription(DISK_DEVICE_DESCRIPTION* pDescription);

    // The bad-sector areas met so far on this drive.
    CSectorReader& GetSectorReader() { return m_SectorReader; }

private:
    int m_bDynamicDisk;
    rvdplat::CRawDevice m_Device;
    int m_nDiskNumber;
    int64_t m_llTotalSectors;
    CSectorReader m_SectorReader;
};

// Bytes per sector of an opened raw device: 0 when it is not open; 512 when the geometry cannot
// be read or reports 0 or a size that is not a multiple of 512; otherwise the reported size.
int QuerySectorSize(const rvdplat::CRawDevice& device);

// Storage-descriptor text as it is shown: cut after the first space of the first run of two or
// more spaces, then leading spaces skipped.
void TrimDescriptorText(const char* pszText, char* pszOut, size_t nOutSize);
