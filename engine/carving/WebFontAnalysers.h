// Analysers of HTML pages (single-byte text and UTF-16) and TrueType fonts.
#pragma once

#include "RawFileAnalyser.h"

class FileHTMAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileHTMAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileUnicodeHTMAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileUnicodeHTMAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileTTFAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileTTFAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};
