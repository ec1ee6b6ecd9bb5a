// Properties of a carved file and of the folders the engine makes up (the "Raw Files" root, its
// type folders and numbered sub-folders). One object exists per carved file, so it is small: no
// times, and the file's single run kept in packed form.
#pragma once

#include <cstdint>

#include "FileProperties.h"
#include "PackedDataRuns.h"

class CRawFileInfo;

// Longest name kept: the length with its terminator is held in one byte.
const size_t RAW_FILE_NAME_MAX = 254;

class CRAWFileProperties : public IFileProperties {
public:
    CRAWFileProperties();
    ~CRAWFileProperties() override;
    CRAWFileProperties(const CRAWFileProperties&) = delete;
    CRAWFileProperties& operator=(const CRAWFileProperties&) = delete;

    static CRAWFileProperties* Create();

    // Keeps a copy of the name, cut at 254 characters; null clears it.
    void SetFileName(const char* pszName);
    void SetAttributes(uint16_t nAttributes) { m_nAttributes = nAttributes; }
    void SetStatus(uint8_t nStatus) { m_nStatus = nStatus; }
    // Size from the record; one run from its start sector over ceil(size / 512) sectors.
    int32_t SetRawFileInfo(const CRawFileInfo* pInfo);

    // Length of the name including its terminator (0 without a name).
    int32_t GetNameLength() override { return m_nNameLength; }
    // Never null: "" without a name.
    const char* GetName() override { return m_pszName != nullptr ? m_pszName : ""; }
    uint64_t GetSize() override { return m_ullSize; }
    uint16_t GetAttributes() override { return m_nAttributes; }
    void GetCreationTime(FILETIME* pTime) override;
    void GetModificationTime(FILETIME* pTime) override;
    void GetAccessTime(FILETIME* pTime) override;
    uint8_t GetStatus() override { return m_nStatus; }
    uint8_t GetCheckState() override { return m_nCheckState; }
    void SetCheckState(uint8_t nState) override { m_nCheckState = nState; }
    IDataRunList* GetDataRunList() override;
    int32_t GetValidPropertyMask() override { return 0x1C7; }
    uint8_t GetFlag() override { return m_nFlag; }
    int32_t SetFlag(uint8_t nFlag) override
    {
        m_nFlag = nFlag;
        return 1;
    }
    // Name length (u8), the name with its terminator, size (u64), attributes (u16), status (u8),
    // then the packed runs (an empty list when there are none). Check state and flag are not kept.
    BOOL Save(IDataStream* pWriter) override;
    int32_t GetPropertiesKind() override { return PROPERTIES_KIND_RAW; }
    // FALSE on a short or damaged record; the object is then left as it was.
    BOOL Load(IDataStream* pReader) override;
    int32_t GetReservedValue() override { return 0; }

private:
    uint8_t m_nNameLength;
    char* m_pszName;
    uint64_t m_ullSize;
    uint16_t m_nAttributes;
    uint8_t m_nCheckState;
    uint8_t m_nFlag;
    uint8_t m_nStatus;
    PACKED_DATA_RUNS* m_pPackedRuns;
};
