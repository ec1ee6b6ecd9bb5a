// What the found-file properties of every file system share: the name, size, attribute bits,
// status, check state, flag and the packed run list, and (CDatedFileProperties) the three times.
// Each file system's class keeps its own saved format and its own fields; a carved file has no
// times and takes CFoundFileProperties alone, so that its object stays small.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DataRunList.h"
#include "FileProperties.h"
#include "PackedDataRuns.h"

class CFoundFileProperties : public IFileProperties {
public:
    CFoundFileProperties();
    // Frees the name and the packed runs.
    ~CFoundFileProperties() override;
    CFoundFileProperties(const CFoundFileProperties&) = delete;
    CFoundFileProperties& operator=(const CFoundFileProperties&) = delete;

    // Name length in bytes, without terminator.
    int32_t GetNameLength() override { return m_nNameLength; }
    // Null while no name is kept.
    const char* GetName() override { return NameOrNull(); }
    uint64_t GetSize() override { return m_ullSize; }
    uint16_t GetAttributes() override { return m_nAttributes; }
    // No times: 0.
    void GetCreationTime(FILETIME* pTime) override;
    void GetModificationTime(FILETIME* pTime) override;
    void GetAccessTime(FILETIME* pTime) override;
    uint8_t GetStatus() override { return m_nStatus; }
    uint8_t GetCheckState() override { return m_nCheckState; }
    void SetCheckState(uint8_t nState) override { m_nCheckState = nState; }
    IDataRunList* GetDataRunList() override;
    BOOL GetNonResidentRuns(std::vector<DATA_RUN>* pRuns) override;
    uint8_t GetFlag() override { return m_nFlag; }
    // Keeps the flag as given and returns 1.
    int32_t SetFlag(uint8_t nFlag) override;
    int32_t GetReservedValue() override { return 0; }

    void SetAttributes(uint16_t nAttributes) { m_nAttributes = nAttributes; }
    void SetStatus(uint8_t nStatus) { m_nStatus = nStatus; }
    bool HasDataRuns() const { return (m_nStorage & STORAGE_RUNS_PLAIN) != 0 || m_Runs.pRecord != nullptr; }

protected:
    // Longest name the 16-bit length fields hold.
    static constexpr size_t NAME_MAX_BYTES = 0xFFFF;
    // A name of fewer bytes than this, and a run string (its 0 byte included) of at most this
    // many, are held in the object itself: most names and most files' runs are that short, and
    // a found file then costs one block instead of three. A longer run string without a resident
    // value takes one block of its own; only resident runs keep a PACKED_DATA_RUNS record.
    static constexpr size_t NAME_INLINE_BYTES = 16;
    static constexpr size_t RUNS_INLINE_BYTES = 8;

    // Null while no name is kept; else the terminated name.
    const char* NameOrNull() const
    {
        if ((m_nStorage & STORAGE_NAME_INLINE) != 0)
            return m_Name.szInline;
        return m_Name.pszBuffer;
    }
    bool HasName() const { return NameOrNull() != nullptr; }
    // A copy of nLength bytes of pName (cut at NAME_MAX_BYTES), terminated.
    void AssignName(const char* pName, size_t nLength);
    // No name: null, length 0.
    void ClearName();
    // Takes over a terminated name buffer from AllocBuffer (null: no name).
    void AdoptName(char* pszName, uint16_t nLength);
    // Packs the list (null: no runs) in place of the runs kept so far; the caller keeps the list.
    void PackRuns(IDataRunList* pList);
    // Packs nCount runs held in an array (nothing is merged; none: no runs), as PackDataRuns does.
    void PackRuns(const DATA_RUN* pRuns, size_t nCount);
    // Takes over packed runs (null: no runs) in place of the runs kept so far.
    void AdoptPackedRuns(PACKED_DATA_RUNS* pRuns);
    // The runs as PACKED_DATA_RUNS::Save writes them; an empty record when there are none.
    BOOL SavePackedRuns(IDataStream* pWriter) const;
    // A loaded record starts unselected and unflagged.
    void ResetSelection()
    {
        m_nCheckState = 0;
        m_nFlag = 0;
    }

    uint64_t m_ullSize;
    // The name and the runs are read and changed through the members above only.
    enum : uint8_t {
        STORAGE_NAME_INLINE = 1,  // m_Name.szInline holds the name
        STORAGE_RUNS_INLINE = 2,  // m_Runs.abyInline holds the run string (no resident value)
        STORAGE_RUNS_BLOCK = 4,   // m_Runs.pBlock: the string's length (u32), then the string
        STORAGE_RUNS_PLAIN = STORAGE_RUNS_INLINE | STORAGE_RUNS_BLOCK,
    };
    void FreeName();
    void FreeRuns();
    // Keeps a copy of a well-formed run string of nLength bytes (its 0 byte included, at least
    // 1 byte) that has no resident value, in place of the runs kept so far.
    void HoldRunString(const uint8_t* pString, uint32_t nLength);
    // The run string held in place or in its own block, and its length; null for a record or none.
    const uint8_t* PlainRunString(uint32_t* pnLength) const;

    union {
        char* pszBuffer;  // from AllocBuffer; null: no name
        char szInline[NAME_INLINE_BYTES];
    } m_Name;
    union {
        PACKED_DATA_RUNS* pRecord;  // null: no runs
        uint8_t* pBlock;            // from AllocBuffer
        uint8_t abyInline[RUNS_INLINE_BYTES];
    } m_Runs;
    uint16_t m_nNameLength;
    uint16_t m_nAttributes;
    uint8_t m_nStatus;
    uint8_t m_nCheckState;
    uint8_t m_nFlag;
    uint8_t m_nStorage;  // STORAGE_* bits
};

// The found-file properties of a file system that keeps times (FAT, NTFS, EXT2/EXT3). Their
// saved records all begin with the same fields: name length (u16), the name without terminator,
// size (u64), attributes (u16), creation, modification and access times (u64 each), status
// (u8); what follows is each file system's own.
class CDatedFileProperties : public CFoundFileProperties {
public:
    CDatedFileProperties();

    void GetCreationTime(FILETIME* pTime) override;
    void GetModificationTime(FILETIME* pTime) override;
    void GetAccessTime(FILETIME* pTime) override;

protected:
    // The leading fields read by LoadLeadingFields, held until the whole record has been read:
    // the name buffer is freed unless AdoptLeadingFields took it.
    struct LEADING_FIELDS {
        LEADING_FIELDS() = default;
        ~LEADING_FIELDS() { FreeBuffer(pszName); }
        LEADING_FIELDS(const LEADING_FIELDS&) = delete;
        LEADING_FIELDS& operator=(const LEADING_FIELDS&) = delete;

        char* pszName = nullptr;  // always a terminated buffer once read, "" for length 0
        uint16_t nNameLength = 0;
        uint64_t ullSize = 0;
        uint16_t nAttributes = 0;
        FILETIME ftCreation{0};
        FILETIME ftModification{0};
        FILETIME ftAccess{0};
        uint8_t nStatus = 0;
    };

    BOOL SaveLeadingFields(IDataStream* pWriter) const;
    // False on a short read.
    static bool LoadLeadingFields(IDataStream* pReader, LEADING_FIELDS* pFields);
    // Takes the fields over (the name included) and resets the selection.
    void AdoptLeadingFields(LEADING_FIELDS* pFields);

    void SetTimeTicks(uint64_t ullCreation, uint64_t ullModification, uint64_t ullAccess)
    {
        m_ftCreation.qwTicks = ullCreation;
        m_ftModification.qwTicks = ullModification;
        m_ftAccess.qwTicks = ullAccess;
    }

    FILETIME m_ftCreation;
    FILETIME m_ftModification;
    FILETIME m_ftAccess;
};
