#include "AudioVideoAnalysers.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"
#include "CarvingChainMemo.h"
#include "CarvingFormatRoutines.h"
#include "SectorWindowReader.h"
#include "RawFileAnalyserFactories.h"

using rvd::LoadBE16;
using rvd::LoadBE32;
using rvd::LoadLE32;

namespace {

uint8_t FoldAscii(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c; }

// n bytes equal the text, ASCII letters compared without regard to case.
bool SameLetters(const uint8_t* p, const char* psz, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (FoldAscii(p[i]) != FoldAscii(static_cast<uint8_t>(psz[i])))
            return false;
    }
    return true;
}

// ID3v2 pads its tag with zeros; at most this many are skipped before the first frame.
const int MP3_PADDING_SKIP = 512;
// An ID3v1 tag: "TAG" and 125 bytes of fixed-width fields.
const uint64_t ID3V1_TAG_BYTES = 128;

bool HasId3v1Tag(SectorWindowReader& reader, uint64_t u64Pos)
{
    const uint8_t* p = reader.Read(u64Pos);
    return p != nullptr && memcmp(p, "TAG", 3) == 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
FileMP3Analyser::FileMP3Analyser() { m_nFileType = 41; }

BOOL FileMP3Analyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, "ID3", 3) != 0)
        return FALSE;
    pInfo->SetType(41);
    return TRUE;
}

BOOL FileMP3Analyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    const uint8_t* p = reader.Read(0);
    if (p == nullptr)
        return FALSE;
    if ((p[3] != 3 && p[3] != 4) || p[4] != 0)
        return FALSE;
    uint32_t dwTagSize = 0;
    if (!DecodeSynchsafeSize(p + 6, &dwTagSize))
        return FALSE;
    uint64_t u64Pos = static_cast<uint64_t>(dwTagSize) + 10;

    uint32_t dwHeader = 0;
    bool bFound = false;
    for (int i = 0; i < MP3_PADDING_SKIP; ++i) {
        p = reader.Read(u64Pos);
        if (p == nullptr)
            return FALSE;
        if (p[0] != 0) {
            bFound = true;
            break;
        }
        ++u64Pos;
    }
    if (bFound)
        dwHeader = LoadBE32(p);

    // The end of the last whole frame: an ID3v1 tag written right behind the audio starts here.
    uint64_t u64LastFrameEnd = u64Pos;
    bool bOverLimit = false;
    while (IsMpegFrameHeader(dwHeader)) {
        uint32_t dwLength = 0;
        GetMpegFrameLength(dwHeader, &dwLength);
        if (dwLength == 0)
            break;
        u64Pos += dwLength;
        u64LastFrameEnd = u64Pos;
        if (u64Pos > u64Limit) {
            bOverLimit = true;
            break;
        }
        p = reader.Read(u64Pos);
        if (p == nullptr)
            return FALSE;
        dwHeader = LoadBE32(p);
        if (!IsMpegFrameHeader(dwHeader)) {
            // One stray byte between frames is stepped over; a second ends the walk.
            ++u64Pos;
            dwHeader = LoadBE32(p + 1);
        }
    }

    if (!bOverLimit) {
        // The trailing 128-byte tag: right after the last frame, or after the stray bytes the
        // walk stepped over.
        const uint64_t candidates[4] = {u64LastFrameEnd, u64Pos, u64Pos + 1, u64Pos + 2};
        for (uint64_t u64Tag : candidates) {
            if (u64Tag + ID3V1_TAG_BYTES <= u64Limit && HasId3v1Tag(reader, u64Tag)) {
                u64Pos = u64Tag + ID3V1_TAG_BYTES;
                break;
            }
        }
    }
    pInfo->SetSize(std::min(u64Pos, u64Limit));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileMP4Analyser::FileMP4Analyser() { m_nFileType = 42; }

BOOL FileMP4Analyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (!SameLetters(pSector + 4, "ftypisom", 8) && !SameLetters(pSector + 4, "ftypmp42", 8) &&
        !SameLetters(pSector + 4, "ftypM4V ", 8))
        return FALSE;
    pInfo->SetType(42);
    pInfo->SetSize(0);
    return TRUE;
}

BOOL FileMP4Analyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    return WalkMp4Atoms(pInfo, pDevice);
}

// ---------------------------------------------------------------------------------------------
FileMOVAnalyser::FileMOVAnalyser() { m_nFileType = 40; }

BOOL FileMOVAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector + 4, "moov", 4) != 0 && memcmp(pSector + 4, "mdat", 4) != 0)
        return FALSE;
    pInfo->SetType(40);
    return TRUE;
}

BOOL FileMOVAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    static const char* const kinds[] = {"free", "mdat", "pnot", "moov", "wide"};
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    // An atom that happens to start a sector is a hit of its own: a hit on an atom chain walked
    // before shares that walk.
    CCarvingChainWalk chain(&m_Chains, pDevice, pInfo->GetStartSector());
    uint64_t u64Pos = 0;
    if (chain.Find(&u64Pos) == CHAIN_ENDED) {
        pInfo->SetSize(std::min(u64Pos, u64Limit));
        return TRUE;
    }
    for (;;) {
        if (u64Pos > u64Limit) {
            chain.Cut(u64Pos);
            break;
        }
        const uint8_t* p = reader.Read(u64Pos);
        if (p == nullptr) {
            chain.Cut(u64Pos);
            break;
        }
        const uint32_t dwSize = LoadBE32(p);
        bool bKnown = false;
        for (const char* pszKind : kinds)
            bKnown = bKnown || memcmp(p + 4, pszKind, 4) == 0;
        if (dwSize < 8 || !bKnown) {
            chain.End(u64Pos);
            break;
        }
        chain.Pass(u64Pos);
        u64Pos += dwSize;
    }
    pInfo->SetSize(std::min(u64Pos, u64Limit));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileRIFFAnalyser::FileRIFFAnalyser() { m_nFileType = 55; }

BOOL FileRIFFAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, "RIFF", 4) != 0)
        return FALSE;
    const uint8_t* pForm = pSector + 8;
    const uint8_t* pChunk = pSector + 12;
    int nType = 55;
    if (SameLetters(pForm, "WAVE", 4) && SameLetters(pChunk, "fmt ", 4))
        nType = 63;
    else if (SameLetters(pForm, "AVI ", 4) && SameLetters(pChunk, "LIST", 4))
        nType = 8;
    else if (SameLetters(pForm, "ACON", 4) && (SameLetters(pChunk, "LIST", 4) || SameLetters(pChunk, "anih", 4)))
        nType = 4;
    else if (memcmp(pForm, "CMX1", 4) == 0 && memcmp(pSector + 20, "{Corel Binary Meta File}", 24) == 0)
        nType = 14;
    else if (SameLetters(pForm, "CARC", 4) && SameLetters(pChunk, "vrsn", 4))
        nType = 13;
    else if (SameLetters(pForm, "CSL2", 4) && SameLetters(pChunk, "vrsn", 4))
        nType = 17;
    else if (SameLetters(pChunk, "vrsn", 4)) {
        static const char* const corelDraw[] = {"CDR7", "CDR8", "cdr8", "CDR9", "CDRA", "CDRB", "CDRC"};
        for (const char* pszForm : corelDraw) {
            if (SameLetters(pForm, pszForm, 4))
                nType = 11;
        }
    }
    pInfo->SetType(nType);
    pInfo->SetSize(static_cast<uint64_t>(LoadLE32(pSector + 4)) + 8);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileMIDAnalyser::FileMIDAnalyser() { m_nFileType = 36; }

BOOL FileMIDAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t header[8] = {'M', 'T', 'h', 'd', 0x00, 0x00, 0x00, 0x06};
    if (memcmp(pSector, header, 8) != 0 || LoadBE16(pSector + 8) > 2 || LoadBE16(pSector + 10) == 0)
        return FALSE;
    pInfo->SetType(36);
    return TRUE;
}

BOOL FileMIDAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    uint64_t u64Pos = 14;
    while (u64Pos <= u64Limit) {
        const uint8_t* p = reader.Read(u64Pos);
        if (p == nullptr || !SameLetters(p, "MTrk", 4))
            break;
        u64Pos += 8 + static_cast<uint64_t>(LoadBE32(p + 4));
    }
    pInfo->SetSize(std::min(u64Pos, u64Limit));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileSWFAnalyser::FileSWFAnalyser() { m_nFileType = 58; }

BOOL FileSWFAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, "FWS", 3) != 0 && memcmp(pSector, "CWS", 3) != 0)
        return FALSE;
    pInfo->SetType(58);
    pInfo->SetSize(LoadLE32(pSector + 4));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
void FileMP3Analyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x49);
}

void FileRIFFAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x52);
}

void FileMIDAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x4D);
}

void FileSWFAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x46);
    pSet->Add(0x43);
}

IRawFileAnalyser* NewFileMP3Analyser() { return new FileMP3Analyser; }
IRawFileAnalyser* NewFileMP4Analyser() { return new FileMP4Analyser; }
IRawFileAnalyser* NewFileMOVAnalyser() { return new FileMOVAnalyser; }
IRawFileAnalyser* NewFileRIFFAnalyser() { return new FileRIFFAnalyser; }
IRawFileAnalyser* NewFileMIDAnalyser() { return new FileMIDAnalyser; }
IRawFileAnalyser* NewFileSWFAnalyser() { return new FileSWFAnalyser; }

BOOL FileMP4Analyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "ftypisom", "ftypmp42" or "ftypM4V " at offset 4, in either case: its "y".
    *pnOffset = 6;
    pSet->Clear();
    pSet->Add('y');
    pSet->Add('Y');
    return TRUE;
}

BOOL FileMOVAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // A "moov" or "mdat" atom at offset 4.
    *pnOffset = 4;
    pSet->Clear();
    pSet->Add('m');
    return TRUE;
}

BOOL FileMP3Analyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "ID3".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('D');
    return TRUE;
}

BOOL FileRIFFAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "RIFF".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('I');
    return TRUE;
}

BOOL FileMIDAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "MThd".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('T');
    return TRUE;
}

BOOL FileSWFAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "FWS" or "CWS".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('W');
    return TRUE;
}
