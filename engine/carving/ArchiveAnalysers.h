// Analysers of archive formats: ZIP (and the Office Open XML packages stored as ZIP), RAR 1.5-4.x,
// GZIP, LZH and TAR. Each recognises its signature in a file's first sector and measures the
// archive by walking its records.
#pragma once

#include "CarvingChainMemo.h"
#include "RawFileAnalyser.h"

class FileZIPAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileZIPAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;

    // 1 when the last measured archive starts with "[Content_Types].xml" (an Office package).
    int m_nPackage;

private:
    CCarvingChainMemo m_Chains;
};

class FileRARAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileRARAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileGZAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileGZAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileLZHAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileLZHAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;

private:
    CCarvingChainMemo m_Chains;
};

class FileTARAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileTARAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;

private:
    CCarvingChainMemo m_Chains;
};

// The 12-character octal size field of a TAR header: the first eleven characters as octal digits
// (anything other than '0'..'7' counts 0); the twelfth is the field's terminator.
uint64_t ParseTarOctal(const uint8_t* pField);
