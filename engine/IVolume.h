// What a volume recogniser found at one start sector of a device: the file system's kind, its
// own idea of its size, its label and its geometry. The analysis runs in the recogniser's
// constructor; the object keeps no device pointer, so its answers outlive the device.
#pragma once

#include <cstdint>

#include "DiskInfo.h"
#include "EngineMemory.h"

// Bytes of the label buffer every recogniser keeps (NUL-terminated inside it).
const uint32_t VOLUME_LABEL_BYTES = 100;

class IVolume : public CEngineObject {
public:
    virtual ~IVolume() {}
    // FILE_SYSTEM_KIND (DiskInfo.h): 0 FAT12 .. 5 EXT3, 7 nothing recognised.
    virtual int GetFileSystemType() = 0;
    // Size of the file system in 512-byte sectors, as the file system records it.
    virtual uint64_t GetTotalSectors() = 0;
    // Copies min(nLength, 100) bytes of the label buffer into pszOut.
    virtual void GetVolumeLabel(char* pszOut, uint32_t nLength) = 0;
    virtual int GetBytesPerSector() = 0;
    virtual int GetSectorsPerCluster() = 0;
    virtual int GetSectorsPerTrack() = 0;
};
