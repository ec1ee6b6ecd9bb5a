// Recogniser of an NTFS volume at a start sector: size and geometry from the boot sector, the
// label from the $VOLUME_NAME of the $Volume record.
#pragma once

#include <cstdint>

#include "IStorageDevice.h"
#include "IVolume.h"

class CNtfsVolumeAnalyze : public IVolume {
public:
    // Reads the boot sector at u64StartSector and, for an NTFS volume, its $Volume record; the
    // device is not kept. A failed read or a sector that is no NTFS boot sector leaves type 7.
    CNtfsVolumeAnalyze(IStorageDevice* pDevice, uint64_t u64StartSector);
    ~CNtfsVolumeAnalyze() override {}

    int GetFileSystemType() override { return m_nFileSystemType; }
    uint64_t GetTotalSectors() override { return m_nTotalSectors; }
    void GetVolumeLabel(char* pszOut, uint32_t nLength) override;
    int GetBytesPerSector() override { return m_nBytesPerSector; }
    int GetSectorsPerCluster() override { return m_nSectorsPerCluster; }
    int GetSectorsPerTrack() override { return m_nSectorsPerTrack; }

private:
    int m_nFileSystemType;
    char m_szVolumeLabel[VOLUME_LABEL_BYTES];
    uint64_t m_nTotalSectors;
    int m_nBytesPerSector;
    int m_nSectorsPerCluster;
    int m_nSectorsPerTrack;
};
