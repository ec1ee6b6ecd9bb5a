#include "FatVolumeAnalyze.h"

#include <cstring>

#include "FATDBR.h"
#include "FATVolumeLabelReader.h"

namespace {

// The boot sector and the three sectors after it are read in one request.
const uint64_t kBootAreaSectors = 4;

} // namespace

CFatVolumeAnalyze::CFatVolumeAnalyze(IStorageDevice* pDevice, uint64_t u64StartSector)
    : m_nFileSystemType(FILE_SYSTEM_UNKNOWN), m_nTotalSectors(0), m_nBytesPerSector(512),
      m_nSectorsPerCluster(8), m_nSectorsPerTrack(0)
{
    memset(m_szVolumeLabel, 0, sizeof(m_szVolumeLabel));
    if (pDevice == nullptr)
        return;
    uint8_t aBootArea[kBootAreaSectors * FAT_SECTOR_BYTES];
    memset(aBootArea, 0, sizeof(aBootArea));
    if (!pDevice->ReadSectors(aBootArea, u64StartSector, kBootAreaSectors))
        return;

    CFATDBR dbr(aBootArea, FAT_SECTOR_BYTES);
    if (!dbr.IsValid())
        return;
    m_nFileSystemType = dbr.GetFATType();
    m_nTotalSectors = dbr.GetTotalSectors();
    m_nSectorsPerCluster = dbr.GetSectorsPerCluster();
    // The counts above are in 512-byte units whatever the volume's logical sector size.
    m_nBytesPerSector = dbr.GetSectorScale() > 1 ? static_cast<int>(FAT_SECTOR_BYTES) : dbr.GetBytesPerSector();
    m_nSectorsPerTrack = dbr.GetSectorsPerTrack();

    // The label is that of the root directory's volume-label entry, which is what the system
    // shows and what a label change rewrites; the boot sector's copy often goes stale.
    CFATVolumeLabelReader reader(pDevice);
    reader.ReadVolumeLabel(u64StartSector, &dbr, m_szVolumeLabel);
    m_szVolumeLabel[sizeof(m_szVolumeLabel) - 1] = '\0';
}

void CFatVolumeAnalyze::GetVolumeLabel(char* pszOut, uint32_t nLength)
{
    if (pszOut == nullptr)
        return;
    memcpy(pszOut, m_szVolumeLabel, nLength < sizeof(m_szVolumeLabel) ? nLength : sizeof(m_szVolumeLabel));
}
