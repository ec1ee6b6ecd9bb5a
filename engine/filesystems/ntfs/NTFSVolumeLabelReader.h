// The volume name of an NTFS partition, from the $VOLUME_NAME of FILE record 3 ($Volume).
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"

class CNTFSDBR;
class IStorageDevice;

// Size of the label buffers the callers hand in, zero-filled.
const size_t NTFS_VOLUME_LABEL_BUFFER = 100;
// Most bytes a name is given. A label has at most 32 UTF-16 units, which take up to 96 bytes
// in UTF-8; the buffer keeps its last byte for the terminator.
const size_t NTFS_VOLUME_LABEL_MAX_BYTES = NTFS_VOLUME_LABEL_BUFFER - 1;

class CNTFSVolumeLabelReader : public CEngineObject {
public:
    explicit CNTFSVolumeLabelReader(IStorageDevice* pDevice) : m_pDevice(pDevice) {}

    // Reads record 3 of the $MFT of the volume at u64PartitionStart and takes its name
    // (GetVolumeNameFromFileRecord). False when the record cannot be located or read; true
    // otherwise, also when it holds no name.
    bool ReadVolumeLabel(uint64_t u64PartitionStart, const CNTFSDBR* pDBR, char* pszOut);

private:
    IStorageDevice* m_pDevice;
};

// When the record is a valid $Volume record with a $VOLUME_NAME whose value lies inside the
// attribute, writes the name in UTF-8, cut at a character boundary to at most
// NTFS_VOLUME_LABEL_MAX_BYTES and zero-ended, into pszOut (NTFS_VOLUME_LABEL_BUFFER bytes).
// Otherwise pszOut is left untouched. The record's bytes are as they were afterwards.
void GetVolumeNameFromFileRecord(uint8_t* pRecord, size_t nLength, char* pszOut);
