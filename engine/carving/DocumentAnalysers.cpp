#include "DocumentAnalysers.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ByteOrder.h"
#include "IStorageDevice.h"
#include "CarvingFormatRoutines.h"
#include "SectorWindowReader.h"
#include "RawFileAnalyserFactories.h"

using rvd::LoadLE16;
using rvd::LoadLE32;

namespace {

// ----- OLE compound files ---------------------------------------------------------------------
const uint8_t OLE_SIGNATURE[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
const uint32_t OLE_FREE = 0xFFFFFFFF;
const uint32_t OLE_END_OF_CHAIN = 0xFFFFFFFE;
const int OLE_HEADER_DIFAT_ENTRIES = 109;
// Files whose directory cannot be read are kept, as an unnamed compound file, only up to this.
const uint64_t OLE_UNNAMED_MAX = 0xA00000;

// One sector of a compound file, read straight from the device. Sector n follows the header,
// which takes one sector of the file's own size (512 bytes, or 4096 in version 4 files).
class COleSectorReader {
public:
    COleSectorReader(IStorageDevice* pDevice, uint64_t u64Start, uint32_t dwSectorBytes)
        : m_pDevice(pDevice), m_u64Start(u64Start), m_dwSectorBytes(dwSectorBytes), m_buffer(dwSectorBytes)
    {
    }
    const uint8_t* Read(uint32_t dwSector)
    {
        const uint64_t u64Units = m_dwSectorBytes / 512;
        const uint64_t u64First = m_u64Start + (static_cast<uint64_t>(dwSector) + 1) * u64Units;
        if (!m_pDevice->ReadSectors(m_buffer.data(), u64First, u64Units))
            return nullptr;
        return m_buffer.data();
    }
    uint32_t EntriesPerSector() const { return m_dwSectorBytes / 4; }

private:
    IStorageDevice* m_pDevice;
    uint64_t m_u64Start;
    uint32_t m_dwSectorBytes;
    std::vector<uint8_t> m_buffer;
};

// A directory entry's name is UTF-16LE, NUL-terminated, in the first 64 bytes of the entry.
bool OleNameIs(const uint8_t* pEntry, const char16_t* pszName, bool bPrefixOnly = false)
{
    size_t i = 0;
    for (; pszName[i] != 0; ++i) {
        if (i >= 32 || LoadLE16(pEntry + 2 * i) != pszName[i])
            return false;
    }
    return bPrefixOnly || (i < 32 && LoadLE16(pEntry + 2 * i) == 0);
}

int OleTypeFromDirectory(const uint8_t* pDir, uint64_t* pu64Size)
{
    const uint8_t* e[4] = {pDir, pDir + 128, pDir + 256, pDir + 384};
    int nType = 39;
    for (int i = 0; i < 4; ++i) {
        if (OleNameIs(e[i], u"WordDocument") || OleNameIs(e[i], u"ObjectPool"))
            nType = 21;
    }
    for (int i = 1; i <= 2; ++i) {
        if (OleNameIs(e[i], u"Workbook") || OleNameIs(e[i], u"Book"))
            nType = 67;
    }
    for (int i = 1; i <= 3; ++i) {
        if (OleNameIs(e[i], u"PowerPoint Document"))
            nType = 48;
    }
    if (OleNameIs(e[1], u"Pictures", true))
        nType = 48;
    if (OleNameIs(e[1], u"PP40"))
        nType = 48;
    if (OleNameIs(e[1], u"Scene"))
        nType = 35;
    if (OleNameIs(e[1], u"VisioDocument")) {
        nType = 62;
        *pu64Size += 1024;
    }
    if (OleNameIs(e[1], u"PerfectOffice_MAIN") && OleNameIs(e[2], u"PerfectOffice_OBJECTS")) {
        nType = 64;
        static const uint8_t zeroClassId[16] = {};
        if (OleNameIs(e[3], u"\x0005SummaryInformation"))
            nType = 57;
        else if (memcmp(e[0] + 80, zeroClassId, 16) == 0)
            nType = 65;
    }
    if (OleNameIs(e[1], u"Objects") && OleNameIs(e[2], u"Quill") && OleNameIs(e[3], u"Escher"))
        nType = 49;
    if (OleNameIs(e[1], u"NativeContent_MAIN"))
        nType = 53;
    if (OleNameIs(e[1], u"\x0001" u"CompObj") && OleNameIs(e[2], u"   19") && OleNameIs(e[3], u"   29"))
        nType = 43;
    if (OleNameIs(e[1], u"PropData") && OleNameIs(e[2], u"Forms") && OleNameIs(e[3], u"Reports"))
        nType = 3;
    return nType;
}

// ----- PDF ------------------------------------------------------------------------------------
bool IsPdfSpace(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0;
}

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// Whether another section of the same document starts after an end marker: an updated or
// linearised PDF has objects, a cross-reference table or a trailer after its first "%%EOF".
// p points just past the marker, with at least nAvail bytes readable.
bool PdfSectionFollows(const uint8_t* p, size_t nAvail)
{
    size_t i = 0;
    while (i < nAvail && IsPdfSpace(p[i]))
        ++i;
    auto startsWith = [&](const char* psz) {
        const size_t n = strlen(psz);
        return i + n <= nAvail && memcmp(p + i, psz, n) == 0;
    };
    if (startsWith("xref") || startsWith("trailer") || startsWith("startxref"))
        return true;
    // "<object number> <generation> obj"
    size_t j = i;
    size_t nDigits = 0;
    while (j < nAvail && IsDigit(p[j]) && nDigits < 11) { ++j; ++nDigits; }
    if (nDigits == 0 || j >= nAvail || !IsPdfSpace(p[j]))
        return false;
    while (j < nAvail && IsPdfSpace(p[j])) ++j;
    nDigits = 0;
    while (j < nAvail && IsDigit(p[j]) && nDigits < 6) { ++j; ++nDigits; }
    if (nDigits == 0 || j >= nAvail || !IsPdfSpace(p[j]))
        return false;
    while (j < nAvail && IsPdfSpace(p[j])) ++j;
    return j + 3 <= nAvail && memcmp(p + j, "obj", 3) == 0;
}

bool IsPdfTextByte(uint8_t c) { return (c >= 0x20 && c <= 0x7E) || c == '\r' || c == '\n'; }

} // namespace

// ---------------------------------------------------------------------------------------------
FileOLEAnalyser::FileOLEAnalyser() { m_nFileType = 44; }

BOOL FileOLEAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, OLE_SIGNATURE, sizeof(OLE_SIGNATURE)) != 0)
        return FALSE;
    pInfo->SetType(44);
    return TRUE;
}

BOOL FileOLEAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    const uint8_t* pHeader = reader.Read(0);
    if (pHeader == nullptr)
        return FALSE;
    // Version 4 files use 4096-byte sectors (sector shift 12); version 3 and older 512.
    const uint32_t dwSectorBytes = LoadLE16(pHeader + 30) == 12 ? 4096 : 512;
    const uint32_t dwFirstDirectory = LoadLE32(pHeader + 48);
    uint32_t dwDifat = LoadLE32(pHeader + 68);
    uint64_t u64Count = 0;
    uint32_t dwLast = OLE_FREE;
    for (int i = 0; i < OLE_HEADER_DIFAT_ENTRIES; ++i) {
        const uint32_t dwEntry = LoadLE32(pHeader + 76 + 4 * i);
        if (dwEntry != OLE_FREE) {
            dwLast = dwEntry;
            ++u64Count;
        }
    }

    COleSectorReader sectors(pDevice, pInfo->GetStartSector(), dwSectorBytes);
    const uint32_t dwEntries = sectors.EntriesPerSector();
    while (dwDifat != OLE_END_OF_CHAIN) {
        // A DIFAT sector past the limit cannot belong to a file that the limit lets through.
        if ((static_cast<uint64_t>(dwDifat) + 1) * dwSectorBytes > u64Limit)
            break;
        const uint8_t* p = sectors.Read(dwDifat);
        if (p == nullptr)
            return FALSE;
        for (uint32_t i = 0; i + 1 < dwEntries; ++i) {
            const uint32_t dwEntry = LoadLE32(p + 4 * i);
            if (dwEntry != OLE_FREE) {
                dwLast = dwEntry;
                ++u64Count;
            }
        }
        const uint32_t dwNext = LoadLE32(p + 4 * (dwEntries - 1));
        // The chain must move forward: a link back (or to itself) would loop.
        if (dwNext <= dwDifat || dwNext == OLE_FREE)
            break;
        dwDifat = dwNext;
    }
    // Without a single FAT sector the file has no allocation table to measure it by.
    if (u64Count == 0)
        return FALSE;

    uint64_t u64Used = 0;
    if (dwLast != OLE_FREE) {
        const uint8_t* p = sectors.Read(dwLast);
        if (p == nullptr)
            return FALSE;
        for (uint32_t i = dwEntries; i-- > 0;) {
            if (LoadLE32(p + 4 * i) != OLE_FREE) {
                u64Used = i + 1;
                break;
            }
        }
    }
    uint64_t u64Size = ((u64Count - 1) * dwEntries + u64Used) * dwSectorBytes + dwSectorBytes;

    const uint8_t* pDirectory = sectors.Read(dwFirstDirectory);
    int nType = 39;
    if (pDirectory == nullptr) {
        if (u64Size > OLE_UNNAMED_MAX)
            return FALSE;
    } else {
        nType = OleTypeFromDirectory(pDirectory, &u64Size);
    }
    pInfo->SetType(nType);
    pInfo->SetSize(std::min(u64Size, u64Limit));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileLowDocAnalyser::FileLowDocAnalyser() { m_nFileType = 21; }

BOOL FileLowDocAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t word2[4] = {0xDB, 0xA5, 0x2D, 0x00};
    static const uint8_t word6[4] = {0x94, 0xA6, 0x2E, 0x00};
    if (memcmp(pSector, OLE_SIGNATURE, 4) == 0) {
        pInfo->SetType(21);
        pInfo->SetSize((static_cast<uint64_t>(LoadLE32(pSector + 48)) + 5) * 512);
        return TRUE;
    }
    if (memcmp(pSector, word2, 4) == 0 || memcmp(pSector, word6, 4) == 0) {
        const uint64_t u64End = static_cast<uint64_t>(LoadLE32(pSector + 292)) + LoadLE16(pSector + 296);
        pInfo->SetType(21);
        pInfo->SetSize((u64End + 511) / 512 * 512);
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------------------------------------
FilePDFAnalyser::FilePDFAnalyser() { m_nFileType = 46; }

BOOL FilePDFAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, "%PDF-", 5) != 0)
        return FALSE;
    pInfo->SetType(46);
    return TRUE;
}

BOOL FilePDFAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    uint64_t u64Pos = 4;
    while (u64Pos <= u64Limit) {
        const uint8_t* p = reader.Read(u64Pos);
        if (p == nullptr)
            return FALSE;
        if (memcmp(p, "%!PS-Adobe", 10) == 0)
            pInfo->SetType(5);
        if (memcmp(p, "%%EOF", 5) == 0) {
            if (pInfo->GetType() == 5) {
                // Illustrator files carry further PostScript text after the PDF's end marker.
                u64Pos += 7;
                if (!IsPdfTextByte(p[5]) || !IsPdfTextByte(p[6]) || !IsPdfTextByte(p[7]))
                    break;
                continue;
            }
            // The marker and its line end belong to the file.
            size_t nEnd = 5;
            if (p[nEnd] == '\r')
                ++nEnd;
            if (p[nEnd] == '\n')
                ++nEnd;
            const bool bMore = PdfSectionFollows(p + nEnd, 512 - nEnd);
            u64Pos += nEnd;
            if (!bMore)
                break;
            continue;
        }
        if (memcmp(p, "%PDF-", 5) == 0)
            break;
        ++u64Pos;
    }
    pInfo->SetSize(u64Pos);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileRTFAnalyser::FileRTFAnalyser() { m_nFileType = 56; }

BOOL FileRTFAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, "{\\rtf", 5) != 0)
        return FALSE;
    pInfo->SetType(56);
    return TRUE;
}

BOOL FileRTFAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    if (reader.Read(0) == nullptr)
        return FALSE;
    int64_t llDepth = 1;
    uint64_t u64Pos = 5;
    // A hit on a walk made for an earlier hit resumes it near its own end (CarvingDepthMemo.h).
    const uint64_t u64Start = pInfo->GetStartSector();
    const bool bShared = u64Limit >= u64Pos && u64Start <= (UINT64_MAX - u64Limit) / 512 - 1;
    const uint64_t u64Base = bShared ? u64Start * 512 : 0;
    if (bShared) {
        uint64_t u64At = 0;
        m_Walks.Begin(pDevice, u64Base + u64Pos, u64Base + u64Limit, &u64At, &llDepth);
        u64Pos = u64At - u64Base;
    }
    for (;;) {
        if (bShared)
            m_Walks.Visit(u64Base + u64Pos, llDepth);
        const uint8_t* p = reader.Read(u64Pos);
        if (p == nullptr || p[0] == 0)
            break;
        if (p[0] == '\\') {
            // "\{", "\}" and "\\" are text, not groups: the escaped character is skipped.
            u64Pos += 2;
        } else {
            if (p[0] == '{') {
                ++llDepth;
            } else if (p[0] == '}') {
                --llDepth;
                if (bShared)
                    m_Walks.Fell(llDepth);
            }
            ++u64Pos;
        }
        if (llDepth == 0 || u64Pos > u64Limit)
            break;
    }
    if (bShared)
        m_Walks.End();
    pInfo->SetSize(u64Pos);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileWPDAnalyser::FileWPDAnalyser() { m_nFileType = 64; }

BOOL FileWPDAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t signature[4] = {0xFF, 0x57, 0x50, 0x43};
    struct WPD_KIND {
        uint8_t at8[4];
        uint8_t at14[4];
        int nType;
    };
    static const WPD_KIND kinds[] = {
        {{0x01, 0x0A, 0x02, 0x01}, {0x00, 0x02, 0x05, 0x00}, 64},
        {{0x01, 0x16, 0x02, 0x00}, {0x00, 0x00, 0x03, 0x00}, 65},
        {{0x0F, 0x0F, 0x01, 0x00}, {0x00, 0x00, 0x03, 0x00}, 57},
    };
    if (memcmp(pSector, signature, 4) != 0)
        return FALSE;
    int nType = 0;
    for (const WPD_KIND& kind : kinds) {
        if (memcmp(pSector + 8, kind.at8, 4) == 0 && memcmp(pSector + 14, kind.at14, 4) == 0)
            nType = kind.nType;
    }
    if (nType == 0)
        return FALSE;
    pInfo->SetType(nType);
    pInfo->SetSize(LoadLE32(pSector + 20));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileONEAnalyser::FileONEAnalyser() { m_nFileType = 45; }

BOOL FileONEAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t classId[16] = {0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D,
                                        0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};
    if (memcmp(pSector, classId, 16) != 0)
        return FALSE;
    pInfo->SetType(45);
    pInfo->SetSize(0x100000);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FilePSTAnalyser::FilePSTAnalyser() { m_nFileType = 52; }

BOOL FilePSTAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, "!BDN", 4) != 0)
        return FALSE;
    // The version byte tells the 32-bit (ANSI) from the 64-bit (Unicode) header layout.
    uint64_t u64Size = 0x100000;
    if (pSector[10] == 14)
        u64Size = LoadLE32(pSector + 168);
    else if (pSector[10] == 23)
        u64Size = LoadLE32(pSector + 184);
    pInfo->SetType(52);
    pInfo->SetSize(u64Size);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileMDBAnalyser::FileMDBAnalyser() { m_nFileType = 37; }

BOOL FileMDBAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t jet[20] = {0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n', 'd', 'a',
                                    'r', 'd', ' ', 'J', 'e', 't', ' ', 'D', 'B', 0x00};
    static const uint8_t ace[20] = {0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n', 'd', 'a',
                                    'r', 'd', ' ', 'A', 'C', 'E', ' ', 'D', 'B', 0x00};
    if (memcmp(pSector, jet, 20) == 0)
        pInfo->SetType(37);
    else if (memcmp(pSector, ace, 20) == 0)
        pInfo->SetType(72);
    else
        return FALSE;
    return TRUE;
}

BOOL FileMDBAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    // Database pages are 4 KiB; the file ends at the first page whose first byte (its page
    // type) is 0, and the walk never goes beyond 100 MiB.
    const uint64_t u64Limit = GetCarvedSizeLimit();
    const uint64_t u64WalkEnd = 0x6400000;
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    uint64_t u64Pos = 4096;
    while (u64Pos < u64WalkEnd && u64Pos <= u64Limit) {
        const uint8_t* p = reader.Read(u64Pos);
        if (p == nullptr || p[0] == 0)
            break;
        u64Pos += 4096;
    }
    pInfo->SetSize(std::min(u64Pos, u64Limit));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileMNYAnalyser::FileMNYAnalyser() { m_nFileType = 38; }

BOOL FileMNYAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector + 4, "MSISAM Database", 15) != 0)
        return FALSE;
    pInfo->SetType(38);
    pInfo->SetSize(0x100000);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileHLPAnalyser::FileHLPAnalyser() { m_nFileType = 30; }

BOOL FileHLPAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t signature[4] = {0x3F, 0x5F, 0x03, 0x00};
    if (memcmp(pSector, signature, 4) != 0)
        return FALSE;
    const uint32_t dwFileSize = LoadLE32(pSector + 12);
    if (dwFileSize <= 511 || dwFileSize < LoadLE32(pSector + 4))
        return FALSE;
    pInfo->SetType(30);
    pInfo->SetSize(dwFileSize);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
void FileOLEAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0xD0);
}

void FileLowDocAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0xDB);
    pSet->Add(0x94);
    pSet->Add(0xD0);
}

void FilePDFAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x25);
}

void FileRTFAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x7B);
}

void FileWPDAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0xFF);
}

void FileONEAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0xE4);
}

void FilePSTAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x21);
}

void FileMDBAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x00);
}

void FileHLPAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x3F);
}

IRawFileAnalyser* NewFileOLEAnalyser() { return new FileOLEAnalyser; }
IRawFileAnalyser* NewFileLowDocAnalyser() { return new FileLowDocAnalyser; }
IRawFileAnalyser* NewFilePDFAnalyser() { return new FilePDFAnalyser; }
IRawFileAnalyser* NewFileRTFAnalyser() { return new FileRTFAnalyser; }
IRawFileAnalyser* NewFileWPDAnalyser() { return new FileWPDAnalyser; }
IRawFileAnalyser* NewFileONEAnalyser() { return new FileONEAnalyser; }
IRawFileAnalyser* NewFilePSTAnalyser() { return new FilePSTAnalyser; }
IRawFileAnalyser* NewFileMDBAnalyser() { return new FileMDBAnalyser; }
IRawFileAnalyser* NewFileMNYAnalyser() { return new FileMNYAnalyser; }
IRawFileAnalyser* NewFileHLPAnalyser() { return new FileHLPAnalyser; }

BOOL FileMNYAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "MSISAM Database" at offset 4.
    *pnOffset = 4;
    pSet->Clear();
    pSet->Add('M');
    return TRUE;
}

BOOL FileMDBAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "Standard Jet DB" or "Standard ACE DB" at offset 4.
    *pnOffset = 4;
    pSet->Clear();
    pSet->Add('S');
    return TRUE;
}

BOOL FileWPDAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // FF "WPC".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0x57);
    return TRUE;
}

BOOL FilePSTAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "!BDN".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('B');
    return TRUE;
}

BOOL FilePDFAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "%PDF-".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('P');
    return TRUE;
}

BOOL FileHLPAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // 3F 5F 03 00.
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0x5F);
    return TRUE;
}

BOOL FileRTFAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "{\\rtf".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0x5C);
    return TRUE;
}

BOOL FileLowDocAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // DB A5 (Word 2), 94 A6 (Word 6) or D0 CF (compound file).
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0xA5);
    pSet->Add(0xA6);
    pSet->Add(0xCF);
    return TRUE;
}

BOOL FileOLEAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The compound-file signature D0 CF 11 E0.
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0xCF);
    return TRUE;
}

BOOL FileONEAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The class id E4 52 5C 7B ...
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0x52);
    return TRUE;
}
