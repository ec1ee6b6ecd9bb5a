#include "DynamicVolumeNames.h"

#include <cstdio>
#include <string>
#include <vector>

#include "DiskTable.h"

void GetVolumeGuidPath(const uint8_t aGuid[16], char* pszOut, size_t nOutSize)
{
    snprintf(pszOut, nOutSize,
             "\\\\?\\Volume{%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x}\\", aGuid[0],
             aGuid[1], aGuid[2], aGuid[3], aGuid[4], aGuid[5], aGuid[6], aGuid[7], aGuid[8], aGuid[9], aGuid[10],
             aGuid[11], aGuid[12], aGuid[13], aGuid[14], aGuid[15]);
}

char GetDriveLetterFromVolumeGuid(const uint8_t aGuid[16])
{
    char szPath[64];
    GetVolumeGuidPath(aGuid, szPath, sizeof(szPath));
    std::vector<std::string> paths;
    if (!rvdplat::GetVolumePathNamesForVolumeName(szPath, &paths) || paths.empty())
        return 0;
    const std::string& strFirst = paths.front();
    return !strFirst.empty() && strFirst.size() < 4 ? strFirst[0] : 0;
}

char GetDriveLetterFromDmVolume(const char* pszVolumeName, const char* pszDiskGroupName)
{
    if (pszVolumeName == nullptr || pszDiskGroupName == nullptr)
        return 0;
    const std::string strDevice = std::string("\\Device\\HarddiskDmVolumes\\") + pszDiskGroupName + "\\" + pszVolumeName;
    for (char chLetter = 'A'; chLetter <= 'Z'; ++chLetter) {
        std::string strTarget;
        if (rvdplat::QueryDosDevice(chLetter, &strTarget) && strTarget == strDevice)
            return chLetter;
    }
    return 0;
}
