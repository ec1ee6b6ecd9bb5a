// Analysers of sound, video and animation files: MP3 with an ID3 tag, MP4 and QuickTime movies,
// the RIFF family (WAV, AVI, animated cursors and the Corel formats), MIDI and Flash.
#pragma once

#include "CarvingChainMemo.h"
#include "RawFileAnalyser.h"

class FileMP3Analyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileMP3Analyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileMP4Analyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileMP4Analyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
};

class FileMOVAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileMOVAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;

private:
    CCarvingChainMemo m_Chains;
};

class FileRIFFAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileRIFFAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileMIDAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileMIDAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileSWFAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileSWFAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};
