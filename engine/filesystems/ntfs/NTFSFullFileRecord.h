// A base FILE record together with the extension records its $ATTRIBUTE_LIST names, seen as one
// record: an attribute of a type is looked for in the base record first and then, in list order,
// in the extension records, each read from the device the first time it is needed.
//
// The base record stays in the caller's buffer with its fix-ups applied from Open to Close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "NTFSRecordMapping.h"

class IStorageDevice;

// Where FindAttribute found an attribute: its bytes, the bytes from it to the end of its
// record's area, its offset in that record, and the record's sector.
struct NTFS_FOUND_ATTRIBUTE {
    const uint8_t* pAttr;
    size_t nRoom;
    uint32_t nOffset;
    uint64_t ullSector;
};

class CNTFSFullFileRecord : public CEngineObject {
public:
    CNTFSFullFileRecord();
    ~CNTFSFullFileRecord();
    CNTFSFullFileRecord(const CNTFSFullFileRecord&) = delete;
    CNTFSFullFileRecord& operator=(const CNTFSFullFileRecord&) = delete;

    // Keeps the record when IsValidFileRecord accepts it and applies its fix-ups (when they
    // check); one extension holder per location (pLocations may be null). Extension records
    // are read with the base record's length.
    void Open(uint8_t* pRecord, size_t nLength, uint64_t ullSector, IStorageDevice* pDevice,
              const CRecordLocationList* pLocations);
    // Undoes the base record's fix-ups and frees the extension holders.
    void Close();

    bool HasRecord() const { return m_pRecord != nullptr; }
    const uint8_t* GetRecord() const { return m_pRecord; }
    size_t GetLength() const { return m_nLength; }
    uint64_t GetSector() const { return m_ullSector; }
    bool IsInUse() const;
    bool IsDirectory() const;

    // The nIndex-th attribute of the type across the base record and then the valid extension
    // records; false when there are fewer. An extension record counts only while it still
    // belongs to this base record: once freed it may have become another file's record.
    bool FindAttribute(uint32_t nType, int nIndex, NTFS_FOUND_ATTRIBUTE* pFound);

private:
    struct EXTENSION {
        uint64_t ullSector;
        uint64_t ullRecordNumber;  // as the $ATTRIBUTE_LIST names it
        uint8_t* pBuffer;   // null until read
        bool bValid;
        bool bFixupsApplied;
    };
    void ReadExtension(EXTENSION& extension);
    bool BelongsHere(const EXTENSION& extension) const;
    void FreeExtensions();

    uint8_t* m_pRecord;
    size_t m_nLength;
    uint64_t m_ullSector;
    bool m_bFixupsApplied;
    IStorageDevice* m_pDevice;
    std::vector<EXTENSION, CEngineAllocator<EXTENSION>> m_Extensions;
};
