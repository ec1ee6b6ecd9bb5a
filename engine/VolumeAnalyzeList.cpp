#include "VolumeAnalyzeList.h"

#include "ext2/Ext2Volume.h"
#include "fat/FatVolumeAnalyze.h"
#include "ntfs/NtfsVolumeAnalyze.h"

CVolumeAnalyzeList::CVolumeAnalyzeList(IStorageDevice* pDevice, uint64_t u64StartSector)
{
    m_Volumes.reserve(3);
    m_Volumes.push_back(new CNtfsVolumeAnalyze(pDevice, u64StartSector));
    m_Volumes.push_back(new CFatVolumeAnalyze(pDevice, u64StartSector));
    m_Volumes.push_back(new CExt2Volume(pDevice, u64StartSector));
}

CVolumeAnalyzeList::~CVolumeAnalyzeList()
{
    for (IVolume* pVolume : m_Volumes)
        delete pVolume;
    m_Volumes.clear();
}

IVolume* CVolumeAnalyzeList::GetVolume()
{
    IVolume* pLast = nullptr;
    for (IVolume* pVolume : m_Volumes) {
        pLast = pVolume;
        if (pVolume->GetFileSystemType() != FILE_SYSTEM_UNKNOWN)
            return pVolume;
    }
    return pLast;
}
