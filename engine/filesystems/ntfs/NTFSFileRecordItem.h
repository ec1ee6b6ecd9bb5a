// One FILE record that an NTFS tree builder keeps while it assembles a tree: where the record
// lies, its number, the folder its name points to, and the file's properties until a tree node
// takes them over.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"

class CNTFSFileProperties;

class CNTFSFileRecordItem : public CEngineObject {
public:
    CNTFSFileRecordItem();
    // Deletes the properties unless a node took them.
    ~CNTFSFileRecordItem();
    CNTFSFileRecordItem(const CNTFSFileRecordItem&) = delete;
    CNTFSFileRecordItem& operator=(const CNTFSFileRecordItem&) = delete;

    // From a valid record: the directory flag, the number its header carries, and the parent of
    // $FILE_NAME instance 1 when it is 5 or more, else that of instance 0 when it is 5 or more,
    // else unknown. False for a record IsValidFileRecord refuses.
    bool SetFromRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector);

    // Hands the properties over (to a tree node); the item no longer owns them.
    CNTFSFileProperties* TakeProperties();

    int32_t m_bIsDirectory;
    uint64_t m_ullRecordSector;
    // ~0 while unknown.
    uint64_t m_ullParentNumber;
    CNTFSFileProperties* m_pProperties;
    // ~0 while unknown.
    uint64_t m_ullRecordNumber;
};
