// A drive-letter volume, "\\.\X:" of the disk table, opened read-only (used for floppy drives).
#pragma once

#include <cstdint>

#include "DiskTable.h"
#include "EngineMemory.h"
#include "IStorageDevice.h"
#include "SectorReader.h"

class CVolumeDevice : public IStorageDevice, public CEngineObject {
public:
    // Opens the volume at once; the caller asks IsOpen afterwards.
    explicit CVolumeDevice(char chDriveLetter);
    ~CVolumeDevice() override;

    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;
    // Cylinders x heads x sectors of the geometry in 512-byte units; 0 when not open or when the
    // geometry cannot be read.
    uint64_t GetTotalSectors() override;
    int GetSectorSize() override;
    int Open() override;
    int Close() override;
    // Reads by offset; the bad-sector list has its own lock.
    int CanReadConcurrently() override { return 1; }

    bool IsOpen() const;
    char GetDriveLetter() const { return m_chDriveLetter; }
    // MediaType of the geometry; 0 when not open or when the geometry cannot be read.
    int GetMediaType();

    CSectorReader& GetSectorReader() { return m_SectorReader; }

private:
    rvdplat::CRawDevice m_hVolume;
    char m_chDriveLetter;
    CSectorReader m_SectorReader;
};
