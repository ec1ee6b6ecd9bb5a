// Recogniser of a FAT12/16/32 volume at a start sector: type, size, geometry and the label of
// the root directory's volume-label entry.
#pragma once

#include <cstdint>

#include "IStorageDevice.h"
#include "IVolume.h"

class CFatVolumeAnalyze : public IVolume {
public:
    // Reads the boot sector (and, for a FAT volume, its root directory) at u64StartSector; the
    // device is not kept. A failed read or a sector that is no FAT boot sector leaves type 7.
    CFatVolumeAnalyze(IStorageDevice* pDevice, uint64_t u64StartSector);
    ~CFatVolumeAnalyze() override {}

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
