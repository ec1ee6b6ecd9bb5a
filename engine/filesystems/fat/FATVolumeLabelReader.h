// Reads a FAT volume's label from the volume-label entry of its root directory (the label
// field of the boot sector is not used).
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"

class CFATDBR;
class IStorageDevice;

// Size of the label buffers the callers hand in; a label never fills it to the last byte.
const size_t FAT_VOLUME_LABEL_BUFFER = 100;

class CFATVolumeLabelReader : public CEngineObject {
public:
    explicit CFATVolumeLabelReader(IStorageDevice* pDevice) : m_pDevice(pDevice) {}

    // Scans the root directory of the volume that starts at u64PartitionStart and whose boot
    // sector is pDBR for its first live volume-label entry, and writes the label, zero-ended,
    // into pszOut (FAT_VOLUME_LABEL_BUFFER bytes). False, with pszOut untouched, when no label
    // was found or a read failed.
    bool ReadVolumeLabel(uint64_t u64PartitionStart, const CFATDBR* pDBR, char* pszOut);

private:
    // Scans one stretch of directory entries; true when it gave the label.
    bool ScanEntries(const uint8_t* pData, size_t nSize, char* pszOut);
    bool ReadFAT12Or16(uint64_t u64PartitionStart, const CFATDBR* pDBR, char* pszOut);
    bool ReadFAT32(uint64_t u64PartitionStart, const CFATDBR* pDBR, char* pszOut);

    IStorageDevice* m_pDevice;
};
