// One FILE record kept with its fix-ups applied for as long as the holder lives, and the tests
// built on it: which NTFS system file a record is, and whether a folder has an index
// allocation. The raw-buffer forms hold the caller's bytes for one call and leave them as they
// were.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"

class CFileRecordHolder : public CEngineObject {
public:
    // Keeps the record when IsValidFileRecord accepts it (a private copy when bCopy is set, else
    // the caller's buffer, which must outlive the holder), then applies its fix-ups when they
    // check. A rejected record leaves the holder empty.
    CFileRecordHolder(uint8_t* pRecord, size_t nLength, bool bCopy);
    // Restores the fix-ups it applied and frees its copy.
    ~CFileRecordHolder();
    CFileRecordHolder(const CFileRecordHolder&) = delete;
    CFileRecordHolder& operator=(const CFileRecordHolder&) = delete;

    bool IsValid() const { return m_pRecord != nullptr; }
    uint8_t* GetRecord() const { return m_pRecord; }
    size_t GetLength() const { return m_pRecord != nullptr ? m_nLength : 0; }
    bool AreFixupsApplied() const { return m_bFixupsApplied; }

    const uint8_t* FindAttribute(uint32_t nType, int nIndex) const;
    int CountAttributes(uint32_t nType) const;
    bool IsDirectory() const;
    bool IsInUse() const;
    bool IsExtension() const;
    uint64_t GetLogSequenceNumber() const;
    bool HasOwnRecordNumber() const;
    uint32_t GetOwnRecordNumber() const;

private:
    uint8_t* m_pRecord;
    size_t m_nLength;
    bool m_bOwnsCopy;
    bool m_bFixupsApplied;
};

// The record number of the system file whose name the record's first $FILE_NAME carries
// ($MFT 0 ... $Extend 11, $Quota 32, $ObjId 33, $Reparse 34; the root folder "." is 5), or -1
// for an empty holder, an extension record or a record without $FILE_NAME.
int GetSystemFileNumber(const CFileRecordHolder& holder);
// A system file whose first $STANDARD_INFORMATION has both the system and the hidden bit.
bool IsProtectedSystemFile(const CFileRecordHolder& holder);

// The first $STANDARD_INFORMATION has the system and hidden bits and the first $FILE_NAME
// is pszName exactly.
bool IsNamedSystemFileRecord(const CFileRecordHolder& holder, const char16_t* pszName);
bool IsNamedSystemFileRecord(uint8_t* pRecord, size_t nLength, const char16_t* pszName);

bool IsVolumeFileRecord(const CFileRecordHolder& holder);
bool IsVolumeFileRecord(uint8_t* pRecord, size_t nLength);
bool IsMFTFileRecord(const CFileRecordHolder& holder);
bool IsMFTFileRecord(uint8_t* pRecord, size_t nLength);
bool IsMFTMirrFileRecord(const CFileRecordHolder& holder);
bool IsMFTMirrFileRecord(uint8_t* pRecord, size_t nLength);
bool IsLogFileFileRecord(const CFileRecordHolder& holder);
bool IsLogFileFileRecord(uint8_t* pRecord, size_t nLength);
bool IsAttrDefFileRecord(const CFileRecordHolder& holder);
bool IsAttrDefFileRecord(uint8_t* pRecord, size_t nLength);
bool IsUpCaseFileRecord(const CFileRecordHolder& holder);
bool IsUpCaseFileRecord(uint8_t* pRecord, size_t nLength);
bool IsBitmapFileRecord(const CFileRecordHolder& holder);

// The directory flag is set and the first $INDEX_ALLOCATION is non-resident.
bool IsFolderWithIndexAllocation(const CFileRecordHolder& holder);
bool IsFolderWithIndexAllocation(uint8_t* pRecord, size_t nLength);
