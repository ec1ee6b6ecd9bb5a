// Analysers of images, drawings and media containers: GIF, FreeHand 11, DOS EPS, EMF, DXF, DWG,
// Outlook Express DBX, Canon CRW, Corel Photo-Paint CPT, compiled HTML help, cabinets, BMP,
// Sun AU, ASF, 3GP and 3D Studio.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "CarvingSearchMemo.h"
#include "RawFileAnalyser.h"

// The chains of GIF data sub-blocks that length walks passed, remembered over the hits of one
// session (CarvingChainMemo.h). Inside a chain the rest of a walk depends only on the position
// and on whether the chain belongs to an extension or to an image, so a hit whose walk reaches a
// position another walk passed takes that walk's outcome: its end (when every byte it read lies
// within this hit's limit too), or the place where it was cut (a read failed or the limit was
// passed), from which this hit walks on through its own reader. A disk where every sector holds
// a GIF header and chains that run far costs reads that grow with the disk, not hits x disk.
struct CGifWalkMemo {
    enum GROUP_STATE : uint8_t { GROUP_WALKING, GROUP_ENDED, GROUP_FAILED, GROUP_CUT, GROUP_DEAD };
    // The outcome shared by the positions of one or more walks.
    struct GROUP {
        uint32_t nParent;     // itself when it holds the outcome
        GROUP_STATE nState;
        uint8_t nPhase;       // cut: the step whose read failed
        uint16_t nSearch;     // cut in a separator search: bytes looked at so far
        uint64_t ullPos;      // absolute byte: ended, the last byte; cut, the byte not read
        uint64_t ullMaxRead;  // absolute: the furthest byte read
    };
    // Positions kept at most; beyond, walks go on without recording.
    static const size_t MAX_POSITIONS = size_t(1) << 20;

    uint64_t ullKey = 0;
    const void* pDevice = nullptr;
    std::map<uint64_t, uint32_t> Positions;  // absolute length byte x 2 + 1 for an image chain
    std::vector<GROUP> Groups;
};

class FileGIFAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileGIFAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;

private:
    CGifWalkMemo m_Walks;
};

class FileFH11Analyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileFH11Analyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;

private:
    CCarvingSearchMemo m_Search;
};

class FileEPSAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileEPSAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileEMFAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileEMFAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
};

class FileDXFAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileDXFAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;

private:
    CCarvingSearchMemo m_Search;
};

class FileDWGAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileDWGAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;

private:
    CCarvingSearchMemo m_Search;
};

class FileDBXAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileDBXAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileCRWAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileCRWAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;

private:
    // The two sectors last read by the trailer search, and where they start (in sectors from
    // the file's first sector); m_u64ScratchSectors is 0 while the buffer holds nothing.
    uint8_t m_scratch[1024];
    uint64_t m_u64ScratchFirst;
    uint64_t m_u64ScratchSectors;
    CCarvingSearchMemo m_Search;
};

class FileCPTAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileCPTAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileCHMAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileCHMAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileCABAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileCABAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileBMPAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileBMPAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileAUAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileAUAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class FileASFAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    FileASFAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};

class File3GPAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    File3GPAnalyser();
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
};

class File3DSAnalyser : public IRawFileAnalyser {
public:
    BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet) override;
    File3DSAnalyser();
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;
    void GetLeadBytes(LEAD_BYTE_SET* pSet) override;
};
