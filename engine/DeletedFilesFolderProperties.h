// Properties of the root folder of a "Deleted Files" tree, a folder the engine makes up for every
// result. They answer as the carved-file properties do for the carving's own made-up folders
// (kind 3, valid-property mask 0x1C7, no times, one empty sparse run) and save in the same
// layout, so the result store treats both alike; the engine switches to the carved-file
// properties class itself once the carving is part of it.
#pragma once

#include <cstdint>

#include "FileProperties.h"
#include "PackedDataRuns.h"

class CDeletedFilesFolderProperties : public IFileProperties {
public:
    CDeletedFilesFolderProperties();
    ~CDeletedFilesFolderProperties() override;
    CDeletedFilesFolderProperties(const CDeletedFilesFolderProperties&) = delete;
    CDeletedFilesFolderProperties& operator=(const CDeletedFilesFolderProperties&) = delete;

    // A copy of the name is kept; its length with the terminator is held in one byte, so names
    // are cut at 254 characters.
    void SetFileName(const char* pszName);
    void SetAttributes(uint16_t nAttributes) { m_nAttributes = nAttributes; }
    // One run that starts at ullStartSector and covers ceil(ullSize / 512) sectors.
    void SetRun(uint64_t ullStartSector, uint64_t ullSize);

    int32_t GetNameLength() override;
    const char* GetName() override;
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
    int32_t SetFlag(uint8_t nFlag) override;
    // Name length (u8, terminator included), name with terminator, size (u64), attributes (u16),
    // status (u8), then the packed runs.
    BOOL Save(IDataStream* pWriter) override;
    int32_t GetPropertiesKind() override { return PROPERTIES_KIND_RAW; }
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
