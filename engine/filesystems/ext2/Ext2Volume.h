// The recogniser of an EXT2/EXT3 file system at a partition's start: opens the file system (the
// superblock two sectors in, and a trustworthy descriptor table) and keeps its kind, size and
// label. Anything that fails leaves kind 7 (unknown), size 0 and an empty label.
#pragma once

#include <cstdint>

#include "IStorageDevice.h"
#include "IVolume.h"

class CExt2Volume : public IVolume {
public:
    CExt2Volume(IStorageDevice* pDevice, uint64_t u64StartSector);
    ~CExt2Volume() override;

    // 4 EXT2, 5 EXT3, 7 not recognised.
    int GetFileSystemType() override { return m_nFileSystemType; }
    // Blocks count x block size / 512.
    uint64_t GetTotalSectors() override { return m_u64TotalSectors; }
    // The volume name (at most 16 bytes). Nothing for a length below 1; otherwise at most
    // nLength bytes are copied and pszOut[nLength - 1] is always 0.
    void GetVolumeLabel(char* pszOut, uint32_t nLength) override;
    int GetBytesPerSector() override { return 512; }
    int GetSectorsPerCluster() override { return 0; }
    int GetSectorsPerTrack() override { return 0; }

private:
    int m_nFileSystemType;
    uint64_t m_u64TotalSectors;
    char m_szVolumeLabel[VOLUME_LABEL_BYTES];
};
