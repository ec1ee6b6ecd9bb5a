#include "NtfsVolumeAnalyze.h"

#include <cstring>

#include "NTFSDBR.h"
#include "NTFSVolumeLabelReader.h"

CNtfsVolumeAnalyze::CNtfsVolumeAnalyze(IStorageDevice* pDevice, uint64_t u64StartSector)
    : m_nFileSystemType(FILE_SYSTEM_UNKNOWN), m_nTotalSectors(0), m_nBytesPerSector(512),
      m_nSectorsPerCluster(8), m_nSectorsPerTrack(0)
{
    memset(m_szVolumeLabel, 0, sizeof(m_szVolumeLabel));
    if (pDevice == nullptr)
        return;
    uint8_t aSector[NTFS_SECTOR_BYTES];
    memset(aSector, 0, sizeof(aSector));
    if (!pDevice->ReadSectors(aSector, u64StartSector, 1))
        return;

    CNTFSDBR dbr;
    if (!dbr.SetIfValid(aSector, sizeof(aSector)))
        return;
    m_nFileSystemType = FILE_SYSTEM_NTFS;
    m_nTotalSectors = dbr.GetTotalSectors();
    m_nSectorsPerCluster = dbr.GetSectorsPerCluster();
    m_nBytesPerSector = dbr.GetBytesPerSector();
    m_nSectorsPerTrack = dbr.GetSectorsPerTrack();

    CNTFSVolumeLabelReader reader(pDevice);
    reader.ReadVolumeLabel(u64StartSector, &dbr, m_szVolumeLabel);
    m_szVolumeLabel[sizeof(m_szVolumeLabel) - 1] = '\0';
}

void CNtfsVolumeAnalyze::GetVolumeLabel(char* pszOut, uint32_t nLength)
{
    if (pszOut == nullptr)
        return;
    memcpy(pszOut, m_szVolumeLabel, nLength < sizeof(m_szVolumeLabel) ? nLength : sizeof(m_szVolumeLabel));
}
