// The system's names of a dynamic volume: its GUID path and the drive letter it is mounted under.
// Both the database reader and the volume devices ask; the answers come from the disk table.
#pragma once

#include <cstddef>
#include <cstdint>

// "\\?\Volume{...}\" with the 16 bytes of the volume GUID in stored order, lower-case hex.
void GetVolumeGuidPath(const uint8_t aGuid[16], char* pszOut, size_t nOutSize);
// The drive letter of the volume with this GUID: the first path the system gives for it when
// that is a drive root ("X:\"); 0 otherwise.
char GetDriveLetterFromVolumeGuid(const uint8_t aGuid[16]);
// The letter 'A'..'Z' whose device is "\Device\HarddiskDmVolumes\<group>\<volume>"; 0 when none.
char GetDriveLetterFromDmVolume(const char* pszVolumeName, const char* pszDiskGroupName);
