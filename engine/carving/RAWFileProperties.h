// Properties of a carved file and of the folders the engine makes up (the "Raw Files" root, its
// type folders and numbered sub-folders, the "Deleted Files" root of every result). One object exists per carved file, so it is small: no
// times, and the file's single run kept in packed form.
#pragma once

#include <cstdint>

#include "FoundFileProperties.h"

class CRawFileInfo;

// Status of the folders the engine makes up for carved files (a carved file itself has 0).
const uint8_t RAW_FOLDER_STATUS = 16;

// Longest name kept: the length with its terminator is held in one byte.
const size_t RAW_FILE_NAME_MAX = 254;

class CRAWFileProperties : public CFoundFileProperties {
public:
    static CRAWFileProperties* Create();

    // Keeps a copy of the name, cut at 254 characters; null clears it.
    void SetFileName(const char* pszName);
    // Size from the record; one run from its start sector over ceil(size / 512) sectors.
    int32_t SetRawFileInfo(const CRawFileInfo* pInfo);
    // One run that starts at ullStartSector and covers ceil(ullSize / 512) sectors.
    void SetRun(uint64_t ullStartSector, uint64_t ullSize);

    // Length of the name including its terminator (0 without a name).
    int32_t GetNameLength() override { return HasName() ? m_nNameLength + 1 : 0; }
    // Never null: "" without a name.
    const char* GetName() override { return HasName() ? NameOrNull() : ""; }
    int32_t GetValidPropertyMask() override { return 0x1C7; }
    // Name length (u8), the name with its terminator, size (u64), attributes (u16), status (u8),
    // then the packed runs (an empty list when there are none). Check state and flag are not kept.
    BOOL Save(IDataStream* pWriter) override;
    int32_t GetPropertiesKind() override { return PROPERTIES_KIND_RAW; }
    // FALSE on a short or damaged record; the object is then left as it was.
    BOOL Load(IDataStream* pReader) override;
};
