// Carving analysers of raster images, icons and Windows metafiles. JPEG, PNG, PSD, PSP and TIFF
// headers state no length, so their length rules walk segments, chunks, sections, blocks or image
// directories; icons, cursors and metafiles state their length in the header.
#pragma once

#include "RawFileAnalyser.h"

class FileJPGAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileJPGAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FilePNGAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FilePNGAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FilePSDAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FilePSDAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FilePSPAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FilePSPAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileTIFAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileTIFAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileICOAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileICOAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileWMFAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileWMFAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

// The TIFF length of a candidate whose first bytes are a TIFF header (bBigEndian: "MM"): the
// furthest end of the image directories, their out-of-line values and the strips or tiles, and
// at least the sum of the strip lengths. 0 when the length is unknown.
uint64_t MeasureTiff(IStorageDevice* pDevice, uint64_t ullStartSector, bool bBigEndian);
