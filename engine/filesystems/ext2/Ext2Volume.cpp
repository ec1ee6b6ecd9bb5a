#include "Ext2Volume.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "Ext2FileSystem.h"
#include "FaultGuard.h"

CExt2Volume::CExt2Volume(IStorageDevice* pDevice, uint64_t u64StartSector)
    : m_nFileSystemType(FILE_SYSTEM_UNKNOWN), m_u64TotalSectors(0)
{
    memset(m_szVolumeLabel, 0, sizeof(m_szVolumeLabel));
    try {
        rvd::RunGuarded([&] {
            CExt2FileSystem fs(pDevice, u64StartSector + ext2::kSuperBlockSectors);
            char szName[ext2::kVolumeNameBytes + 1];
            fs.GetVolumeName(szName);
            memcpy(m_szVolumeLabel, szName, sizeof(szName));
            m_u64TotalSectors = fs.GetSizeInBytes() / ext2::kSectorBytes;
            m_nFileSystemType = fs.GetFileSystemKind();
        });
    } catch (const std::exception&) {
        m_nFileSystemType = FILE_SYSTEM_UNKNOWN;
        m_u64TotalSectors = 0;
        memset(m_szVolumeLabel, 0, sizeof(m_szVolumeLabel));
    }
}

CExt2Volume::~CExt2Volume() {}

void CExt2Volume::GetVolumeLabel(char* pszOut, uint32_t nLength)
{
    if (!pszOut || nLength < 1)
        return;
    memcpy(pszOut, m_szVolumeLabel, std::min<uint32_t>(nLength, VOLUME_LABEL_BYTES));
    pszOut[nLength - 1] = 0;
}
