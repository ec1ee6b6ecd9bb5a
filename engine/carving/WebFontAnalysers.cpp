#include "WebFontAnalysers.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"
#include "CarvingFormatRoutines.h"
#include "SectorWindowReader.h"
#include "RawFileAnalyserFactories.h"

using rvd::LoadBE16;
using rvd::LoadBE32;
using rvd::LoadLE16;

namespace {

// Pages are searched for their closing tag only this far.
const uint64_t HTML_SEARCH_LIMIT = 0x100000;

uint32_t FoldAscii(uint32_t c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

bool SameLetters(const uint8_t* p, const char* psz)
{
    for (size_t i = 0; psz[i] != 0; ++i) {
        if (FoldAscii(p[i]) != FoldAscii(static_cast<uint8_t>(psz[i])))
            return false;
    }
    return true;
}

// UTF-16LE text equal to the ASCII text, letters compared without regard to case.
bool SameLetters16(const uint8_t* p, const char* psz)
{
    for (size_t i = 0; psz[i] != 0; ++i) {
        if (FoldAscii(LoadLE16(p + 2 * i)) != FoldAscii(static_cast<uint8_t>(psz[i])))
            return false;
    }
    return true;
}

const uint8_t UTF16_PAGE_START[4] = {0xFF, 0xFE, 0x3C, 0x00};

// The length rule of a UTF-16 page (FileUnicodeHTMAnalyser).
BOOL MeasureUnicodePage(CRawFileInfo* pInfo, IStorageDevice* pDevice, CCarvingSearchMemo* pMemo);

} // namespace

// ---------------------------------------------------------------------------------------------
FileHTMAnalyser::FileHTMAnalyser() { m_nFileType = 31; }

BOOL FileHTMAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    bool bMatch = SameLetters(pSector, "<HTML>") || SameLetters(pSector, "<!DOCTYPE HTML");
    if (!bMatch && pSector[0] == '<' && pSector[1] == '!') {
        for (int i = 0; i <= 504 && !bMatch; ++i)
            bMatch = SameLetters(pSector + i, "<HTML>");
    }
    if (!bMatch)
        return FALSE;
    pInfo->SetType(31);
    return TRUE;
}

BOOL FileHTMAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    // Both HTML analysers carry type 31, so a hit measured later by its type number may reach this
    // analyser although the UTF-16 one found it: such a page is measured as UTF-16 text.
    {
        SectorWindowReader reader(pDevice, pInfo->GetStartSector());
        const uint8_t* p = reader.Read(0);
        if (p != nullptr && memcmp(p, UTF16_PAGE_START, 4) == 0)
            return MeasureUnicodePage(pInfo, pDevice, &m_Unicode);
    }
    FOOTER_PATTERN pattern;
    memcpy(pattern.pattern, "</HTML>", 7);
    pattern.nLength = 7;
    pattern.ullSearchLimit = HTML_SEARCH_LIMIT;
    return SearchFooter(pInfo, pDevice, pattern, &m_Footers);
}

// ---------------------------------------------------------------------------------------------
FileUnicodeHTMAnalyser::FileUnicodeHTMAnalyser() { m_nFileType = 31; }

BOOL FileUnicodeHTMAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, UTF16_PAGE_START, 4) != 0)
        return FALSE;
    pInfo->SetType(31);
    return TRUE;
}

BOOL FileUnicodeHTMAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    return MeasureUnicodePage(pInfo, pDevice, &m_Ends);
}

namespace {

BOOL MeasureUnicodePage(CRawFileInfo* pInfo, IStorageDevice* pDevice, CCarvingSearchMemo* pMemo)
{
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    const uint8_t* p = reader.Read(0);
    if (p == nullptr)
        return FALSE;
    if (!SameLetters16(p + 2, "<HTML>") && LoadLE16(p + 4) != '!')
        return FALSE;
    bool bTag = false;
    for (int i = 2; i <= 498 && !bTag; i += 2)
        bTag = SameLetters16(p + i, "<HTML>");
    if (!bTag)
        return FALSE;

    uint64_t u64Pos = 14;
    // The text ends at the first closing tag or end character: a stretch searched for an earlier
    // page is not searched again (CarvingSearchMemo.h). Positions keep their parity (pages start
    // on sectors), and a start beyond the bound finds no end.
    const bool bAddressable = pInfo->GetStartSector() <= (UINT64_MAX - HTML_SEARCH_LIMIT) / 512 - 1;
    const uint64_t u64Base = bAddressable ? pInfo->GetStartSector() * 512 : 0;
    if (!bAddressable)
        pMemo = nullptr;
    if (pMemo != nullptr)
        u64Pos = std::min<uint64_t>(pMemo->Resume(pDevice, u64Base + u64Pos) - u64Base, HTML_SEARCH_LIMIT + 2);
    const uint64_t u64SearchFrom = u64Pos;
    bool bEnded = false;
    // Positions below this were tested on device bytes only.
    uint64_t u64CheckedTo = UINT64_MAX;
    auto Remember = [&](uint64_t u64To) {
        if (pMemo != nullptr)
            pMemo->Record(pDevice, u64Base + u64SearchFrom, u64Base + std::min(u64To, u64CheckedTo));
    };
    while (u64Pos <= HTML_SEARCH_LIMIT) {
        size_t nValid = 0;
        p = reader.Read(u64Pos, &nValid);
        if (p == nullptr) {
            Remember(u64Pos);
            return FALSE;
        }
        // The tests below read up to 14 bytes; past the device's end they read zeros.
        if (nValid < 14 && u64CheckedTo == UINT64_MAX)
            u64CheckedTo = u64Pos;
        if (SameLetters16(p, "</HTML>")) {
            Remember(u64Pos);
            bEnded = true;
            // The closing tag and the line end written after it.
            u64Pos += 14;
            size_t nAt = 14;
            if (LoadLE16(p + nAt) == '\r') {
                u64Pos += 2;
                nAt += 2;
            }
            if (LoadLE16(p + nAt) == '\n')
                u64Pos += 2;
            break;
        }
        const uint16_t c = LoadLE16(p);
        // End of text: zeros, a non-character, or the byte-order mark of the next file.
        if (c == 0xFFFF || c == 0xFEFF || c == 0x0000) {
            Remember(u64Pos);
            bEnded = true;
            break;
        }
        u64Pos += 2;
    }
    if (!bEnded)
        Remember(u64Pos);
    pInfo->SetSize(u64Pos);
    return TRUE;
}

} // namespace

// ---------------------------------------------------------------------------------------------
FileTTFAnalyser::FileTTFAnalyser() { m_nFileType = 61; }

BOOL FileTTFAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t version[4] = {0x00, 0x01, 0x00, 0x00};
    static const char knownTags[][5] = {"DSIG", "cmap", "glyf", "head", "hhea", "hmtx", "loca",
                                        "maxp", "name", "post", "OS/2", "cvt ", "EBDT", "EBLC",
                                        "EBSC", "fpgm", "gasp", "hdmx", "kern", "LTSH", "prep",
                                        "PCLT", "VDMX", "vhea", "vmtx"};
    if (memcmp(pSector, version, 4) != 0)
        return FALSE;
    // At most 31 table records fit in the first sector after the 12-byte offset table.
    const uint32_t dwTables = LoadBE16(pSector + 4);
    if (dwTables < 1 || dwTables > 31)
        return FALSE;
    uint64_t u64Total = 0;
    uint32_t dwKnown = 0;
    for (uint32_t i = 0; i < dwTables; ++i) {
        const uint8_t* pRecord = pSector + 12 + 16 * i;
        u64Total += (static_cast<uint64_t>(LoadBE32(pRecord + 12)) + 3) / 4 * 4;
        for (const char* pszTag : knownTags) {
            if (memcmp(pRecord, pszTag, 4) == 0) {
                ++dwKnown;
                break;
            }
        }
    }
    if (dwKnown * 2 < dwTables)
        return FALSE;
    pInfo->SetType(61);
    pInfo->SetSize(12 + 16 * static_cast<uint64_t>(dwTables) + u64Total);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
void FileHTMAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x3C);
}

void FileUnicodeHTMAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0xFF);
}

void FileTTFAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x00);
}

IRawFileAnalyser* NewFileHTMAnalyser() { return new FileHTMAnalyser; }
IRawFileAnalyser* NewFileUnicodeHTMAnalyser() { return new FileUnicodeHTMAnalyser; }
IRawFileAnalyser* NewFileTTFAnalyser() { return new FileTTFAnalyser; }

BOOL FileUnicodeHTMAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The UTF-16 byte-order mark FF FE.
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0xFE);
    return TRUE;
}

BOOL FileTTFAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // Version 00 01 00 00.
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0x01);
    return TRUE;
}

BOOL FileHTMAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "<HTML>" (either case) or "<!".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('H');
    pSet->Add('h');
    pSet->Add('!');
    return TRUE;
}
