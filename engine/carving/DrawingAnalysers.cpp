#include "DrawingAnalysers.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"
#include "CarvingChainMemo.h"
#include "IStorageDevice.h"
#include "CarvingFormatRoutines.h"
#include "SectorWindowReader.h"
#include "RawFileAnalyserFactories.h"

using rvd::LoadBE32;
using rvd::LoadLE16;
using rvd::LoadLE32;
using rvd::LoadLE64;

namespace {

uint8_t FoldAscii(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c; }

bool SameLetters(const uint8_t* p, const uint8_t* pOther, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (FoldAscii(p[i]) != FoldAscii(pOther[i]))
            return false;
    }
    return true;
}

bool SameLetters(const uint8_t* p, const char* psz)
{
    return SameLetters(p, reinterpret_cast<const uint8_t*>(psz), strlen(psz));
}

BOOL SearchFooterFor(CRawFileInfo* pInfo, IStorageDevice* pDevice, const void* pPattern, int nLength,
                     CCarvingSearchMemo* pMemo)
{
    FOOTER_PATTERN pattern;
    memcpy(pattern.pattern, pPattern, nLength);
    pattern.nLength = nLength;
    pattern.ullSearchLimit = 0;
    return SearchFooter(pInfo, pDevice, pattern, pMemo);
}

// ----- GIF ------------------------------------------------------------------------------------
// Reads single bytes of a GIF through the window, never past the carved-size limit.
class CGifCursor {
public:
    CGifCursor(SectorWindowReader& reader, uint64_t u64Limit) : m_reader(reader), m_u64Limit(u64Limit) {}
    // False when the byte cannot be read or lies beyond the limit.
    bool ByteAt(uint64_t u64Pos, uint8_t* pByte)
    {
        if (u64Pos > m_u64Limit)
            return false;
        const uint8_t* p = m_reader.Read(u64Pos);
        if (p == nullptr)
            return false;
        *pByte = p[0];
        return true;
    }
    // Steps over a chain of data sub-blocks and its zero terminator.
    bool SkipSubBlocks(uint64_t* pu64Pos)
    {
        uint8_t nLength = 0;
        for (;;) {
            if (!ByteAt(*pu64Pos, &nLength))
                return false;
            if (nLength == 0)
                break;
            *pu64Pos += static_cast<uint64_t>(nLength) + 1;
        }
        *pu64Pos += 1;
        return true;
    }

private:
    SectorWindowReader& m_reader;
    uint64_t m_u64Limit;
};

const uint8_t GIF_IMAGE = 0x2C;
const uint8_t GIF_EXTENSION = 0x21;
const uint8_t GIF_TRAILER = 0x3B;
// A byte some writers leave before an image descriptor; the walk then looks for the descriptor.
const uint8_t GIF_STRAY = 0x66;
const int GIF_SEPARATOR_SEARCH = 512;

uint64_t GifColourTableBytes(uint8_t nPacked)
{
    return (nPacked & 0x80) ? 3ull << ((nPacked & 7) + 1) : 0;
}

// The steps of a GIF length walk: each reads the byte at the walk's position.
enum GIF_STEP : uint8_t {
    GIF_FIRST,        // the block after the header and the global colour table
    GIF_EXT_CHAIN,    // a length byte of an extension's sub-blocks
    GIF_IMAGE_CHAIN,  // a length byte of an image's data sub-blocks
    GIF_AFTER_EXT,    // the block after an extension
    GIF_AFTER_IMAGE,  // the block after an image
    GIF_SEARCH,       // a byte of the search for an image separator
    GIF_DESCRIPTOR,   // an image descriptor's packed byte
};

enum GIF_SHARED {
    GIF_SHARED_NONE,    // walk on
    GIF_SHARED_ENDED,   // the walk ends where another one ended
    GIF_SHARED_FAILED,  // the walk fails as another one did
    GIF_SHARED_CUT,     // walk on from where another one was cut
};

// One GIF length walk from one hit, sharing the chains of sub-blocks in the memo (DrawingAnalysers.h).
class CGifWalk {
public:
    CGifWalk(CGifWalkMemo* pMemo, const IStorageDevice* pDevice, uint64_t ullStartSector, uint64_t u64Limit)
        : m_pMemo(pMemo), m_ullStart(0), m_ullLastByte(0), m_u64LastRead(0), m_nGroup(NO_GROUP)
    {
        const uint64_t ullKey = CCarvingChainSession::KeyFor(pDevice);
        if (ullKey == 0 || ullStartSector >= (POSITION_END / 512)) {
            m_pMemo = nullptr;
            return;
        }
        m_ullStart = ullStartSector * 512;
        m_ullLastByte = u64Limit > UINT64_MAX - m_ullStart ? UINT64_MAX : m_ullStart + u64Limit;
        CGifWalkMemo& memo = *m_pMemo;
        if (memo.ullKey != ullKey || memo.pDevice != pDevice || memo.Groups.size() >= CGifWalkMemo::MAX_POSITIONS) {
            memo.ullKey = ullKey;
            memo.pDevice = pDevice;
            memo.Positions.clear();
            memo.Groups.clear();
        }
        // Hits come in ascending order (retries aside): a walk never reads before its first byte.
        memo.Positions.erase(memo.Positions.begin(), memo.Positions.lower_bound(m_ullStart * 2));
        if (memo.Positions.empty())
            memo.Groups.clear();
    }
    // A walk left unfinished (the read threw) leaves nothing to share.
    ~CGifWalk()
    {
        if (m_nGroup != NO_GROUP)
            m_pMemo->Groups[m_nGroup].nState = CGifWalkMemo::GROUP_DEAD;
    }
    CGifWalk(const CGifWalk&) = delete;
    CGifWalk& operator=(const CGifWalk&) = delete;

    // The walk reached the length byte at u64Pos of a chain. Ended: *pu64End receives the
    // position the walk ends at; cut: the step, position and search count to go on with.
    GIF_SHARED Reach(uint64_t u64Pos, bool bImage, uint64_t* pu64End, uint8_t* pnStep, uint64_t* pu64Pos, int* pnSearch)
    {
        if (m_pMemo == nullptr || u64Pos >= POSITION_END - m_ullStart)
            return GIF_SHARED_NONE;
        CGifWalkMemo& memo = *m_pMemo;
        const uint64_t ullKey = (m_ullStart + u64Pos) * 2 + (bImage ? 1 : 0);
        auto it = memo.Positions.lower_bound(ullKey);
        if (it != memo.Positions.end() && it->first == ullKey) {
            const uint32_t nRoot = Root(it->second);
            CGifWalkMemo::GROUP& group = memo.Groups[nRoot];
            const bool bOutcome = group.nState == CGifWalkMemo::GROUP_ENDED ||
                                  group.nState == CGifWalkMemo::GROUP_FAILED || group.nState == CGifWalkMemo::GROUP_CUT;
            // Shared only when every byte the other walk read from here lies within this limit.
            if (nRoot == m_nGroup || !bOutcome || group.ullMaxRead > m_ullLastByte)
                return GIF_SHARED_NONE;
            // This walk's positions so far lead to the same outcome.
            group.ullMaxRead = std::max(group.ullMaxRead, m_ullStart + m_u64LastRead);
            if (m_nGroup != NO_GROUP)
                memo.Groups[m_nGroup].nParent = nRoot;
            m_nGroup = NO_GROUP;
            if (group.nState == CGifWalkMemo::GROUP_ENDED) {
                *pu64End = group.ullPos - m_ullStart;
                return GIF_SHARED_ENDED;
            }
            if (group.nState == CGifWalkMemo::GROUP_FAILED)
                return GIF_SHARED_FAILED;
            group.nState = CGifWalkMemo::GROUP_WALKING;
            m_nGroup = nRoot;
            *pnStep = group.nPhase;
            *pu64Pos = group.ullPos - m_ullStart;
            *pnSearch = group.nSearch;
            return GIF_SHARED_CUT;
        }
        if (memo.Positions.size() >= CGifWalkMemo::MAX_POSITIONS)
            return GIF_SHARED_NONE;
        if (m_nGroup == NO_GROUP) {
            m_nGroup = static_cast<uint32_t>(memo.Groups.size());
            memo.Groups.push_back({m_nGroup, CGifWalkMemo::GROUP_WALKING, 0, 0, 0, m_ullStart + m_u64LastRead});
        }
        memo.Positions.emplace_hint(it, ullKey, m_nGroup);
        return GIF_SHARED_NONE;
    }
    // The byte at u64Pos was read (positions only grow).
    void Read(uint64_t u64Pos) { m_u64LastRead = u64Pos; }
    // The walk ended at u64Pos, or failed on the bytes it read.
    void End(uint64_t u64Pos, bool bFailed)
    {
        if (m_nGroup == NO_GROUP)
            return;
        CGifWalkMemo::GROUP& group = m_pMemo->Groups[m_nGroup];
        group.nState = bFailed ? CGifWalkMemo::GROUP_FAILED : CGifWalkMemo::GROUP_ENDED;
        group.ullPos = m_ullStart + u64Pos;
        group.ullMaxRead = std::max(group.ullMaxRead, m_ullStart + m_u64LastRead);
        m_nGroup = NO_GROUP;
    }
    // The read of step nStep at u64Pos failed.
    void Cut(uint8_t nStep, uint64_t u64Pos, int nSearch)
    {
        if (m_nGroup == NO_GROUP)
            return;
        CGifWalkMemo::GROUP& group = m_pMemo->Groups[m_nGroup];
        group.nState = u64Pos < POSITION_END - m_ullStart ? CGifWalkMemo::GROUP_CUT : CGifWalkMemo::GROUP_DEAD;
        group.nPhase = nStep;
        group.nSearch = static_cast<uint16_t>(nSearch);
        group.ullPos = m_ullStart + u64Pos;
        group.ullMaxRead = std::max(group.ullMaxRead, m_ullStart + m_u64LastRead);
        m_nGroup = NO_GROUP;
    }

private:
    static const uint32_t NO_GROUP = UINT32_MAX;
    // Absolute positions kept lie below this (twice it still fits).
    static const uint64_t POSITION_END = uint64_t(1) << 62;

    uint32_t Root(uint32_t n)
    {
        std::vector<CGifWalkMemo::GROUP>& groups = m_pMemo->Groups;
        while (groups[n].nParent != n) {
            groups[n].nParent = groups[groups[n].nParent].nParent;
            n = groups[n].nParent;
        }
        return n;
    }

    CGifWalkMemo* m_pMemo;    // null: nothing is shared
    uint64_t m_ullStart;      // absolute byte of the hit
    uint64_t m_ullLastByte;   // absolute: the last byte within the carved-size limit
    uint64_t m_u64LastRead;   // the last byte read, from the hit
    uint32_t m_nGroup;        // the group this walk's positions join; NO_GROUP: none yet
};

// ----- DWG ------------------------------------------------------------------------------------
const uint8_t DWG_2004_SENTINEL[16] = {0x68, 0x40, 0xF8, 0xF7, 0x92, 0x2A, 0xB5, 0xEF,
                                       0x18, 0xDD, 0x0B, 0xF1, 0xF1, 0xBB, 0xE9, 0xEB};
const uint8_t DWG_HEADER_SENTINEL[16] = {0x1F, 0x25, 0x6D, 0x07, 0xD4, 0x36, 0x28, 0x28,
                                         0x9D, 0x57, 0xCA, 0x3F, 0x9D, 0x44, 0x10, 0x2B};
const uint64_t DWG_2004_SEARCH_END = 524287999;
const uint32_t DWG_MAX_LOCATORS = 100;

// ----- CRW ------------------------------------------------------------------------------------
const uint64_t CRW_SEARCH_LIMIT = 0x1400000;
const uint64_t CRW_TRAILER_BYTES = 144;

// ----- ASF ------------------------------------------------------------------------------------
const uint8_t ASF_HEADER_OBJECT[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t ASF_DATA_OBJECT[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t ASF_INDEX_OBJECT[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                      0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
const uint64_t ASF_OBJECT_HEADER_BYTES = 24;

} // namespace

// ---------------------------------------------------------------------------------------------
FileGIFAnalyser::FileGIFAnalyser() { m_nFileType = 28; }

BOOL FileGIFAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, "GIF87a", 6) != 0 && memcmp(pSector, "GIF89a", 6) != 0)
        return FALSE;
    pInfo->SetType(28);
    return TRUE;
}

BOOL FileGIFAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    const uint8_t* p = reader.Read(0);
    if (p == nullptr)
        return FALSE;
    CGifCursor cursor(reader, u64Limit);
    CGifWalk walk(&m_Walks, pDevice, pInfo->GetStartSector(), u64Limit);
    uint8_t nStep = GIF_FIRST;
    uint64_t u64Pos = 13 + GifColourTableBytes(p[10]);
    int nSearch = 0;
    uint8_t nByte = 0;
    for (;;) {
        if (nStep == GIF_EXT_CHAIN || nStep == GIF_IMAGE_CHAIN) {
            uint64_t u64End = 0;
            switch (walk.Reach(u64Pos, nStep == GIF_IMAGE_CHAIN, &u64End, &nStep, &u64Pos, &nSearch)) {
            case GIF_SHARED_ENDED:
                pInfo->SetSize(std::min(u64End + 1, u64Limit));
                return TRUE;
            case GIF_SHARED_FAILED:
                return FALSE;
            default:
                break;
            }
        }
        if (nStep == GIF_SEARCH && nSearch >= GIF_SEPARATOR_SEARCH) {
            walk.End(u64Pos, true);
            return FALSE;
        }
        if (!cursor.ByteAt(u64Pos, &nByte)) {
            walk.Cut(nStep, u64Pos, nSearch);
            // Data that runs to the end of what can be read ends the file after its last image.
            if (nStep != GIF_AFTER_IMAGE)
                return FALSE;
            break;
        }
        walk.Read(u64Pos);
        bool bBlockEnds = false;
        switch (nStep) {
        case GIF_EXT_CHAIN:
        case GIF_IMAGE_CHAIN:
            if (nByte == 0) {
                nStep = nStep == GIF_EXT_CHAIN ? GIF_AFTER_EXT : GIF_AFTER_IMAGE;
                u64Pos += 1;
            } else {
                u64Pos += static_cast<uint64_t>(nByte) + 1;
            }
            continue;
        case GIF_DESCRIPTOR:
            // The local colour table, the LZW code size, then the image data.
            u64Pos += 1 + GifColourTableBytes(nByte) + 1;
            nStep = GIF_IMAGE_CHAIN;
            continue;
        case GIF_SEARCH:
            ++nSearch;
            break;
        case GIF_AFTER_EXT:
            // The trailer may follow an extension directly (a comment after the last image).
            bBlockEnds = nByte == GIF_TRAILER;
            nSearch = 0;
            break;
        default:
            bBlockEnds = nByte != GIF_IMAGE && nByte != GIF_EXTENSION && nByte != GIF_STRAY;
            nSearch = 0;
            break;
        }
        if (bBlockEnds)
            break;
        if (nStep != GIF_SEARCH && nByte == GIF_EXTENSION) {
            // Extension: its introducer, its label, then its sub-blocks.
            u64Pos += 2;
            nStep = GIF_EXT_CHAIN;
        } else if (nByte == GIF_IMAGE) {
            // Image descriptor: separator, left, top, width, height, packed byte.
            u64Pos += 9;
            nStep = GIF_DESCRIPTOR;
        } else {
            ++u64Pos;
            nStep = GIF_SEARCH;
        }
    }
    walk.End(u64Pos, false);
    pInfo->SetSize(std::min(u64Pos + 1, u64Limit));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileFH11Analyser::FileFH11Analyser() { m_nFileType = 27; }

BOOL FileFH11Analyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t header[16] = {0x1C, 0x01, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C,
                                       0x01, 0x14, 0x00, 0x02, 0x00, 0x14, 0x1C, 0x01};
    if (memcmp(pSector, header, 16) != 0 || LoadLE16(pSector + 34) != 0x3131)
        return FALSE;
    pInfo->SetType(27);
    return TRUE;
}

BOOL FileFH11Analyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    static const uint8_t footer[11] = {'D', 'e', 'c', 'o', 'd', 'e', 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    return SearchFooterFor(pInfo, pDevice, footer, sizeof(footer), &m_Search);
}

// ---------------------------------------------------------------------------------------------
FileEPSAnalyser::FileEPSAnalyser() { m_nFileType = 25; }

BOOL FileEPSAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t signature[4] = {0xC5, 0xD0, 0xD3, 0xC6};
    static const uint8_t previewPs[4] = {0xFF, 0xFF, 0x25, 0x21};
    static const uint8_t previewNone[4] = {0xFF, 0xFF, 0x00, 0x00};
    static const uint8_t intel[4] = {0xFF, 0xFF, 0x49, 0x49};
    if (memcmp(pSector, signature, 4) != 0)
        return FALSE;
    // Sections: PostScript at 4/8, WMF preview at 12/16, TIFF preview at 20/24 (offset/length).
    uint64_t u64Size = 0;
    if (SameLetters(pSector + 28, previewPs, 4) || SameLetters(pSector + 28, previewNone, 4)) {
        u64Size = static_cast<uint64_t>(LoadLE32(pSector + 12)) + LoadLE32(pSector + 16) +
                  LoadLE32(pSector + 20) + LoadLE32(pSector + 24);
    } else if (SameLetters(pSector + 28, intel, 4)) {
        u64Size = static_cast<uint64_t>(LoadLE32(pSector + 4)) + LoadLE32(pSector + 8);
    } else {
        return FALSE;
    }
    pInfo->SetType(25);
    pInfo->SetSize(u64Size);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileEMFAnalyser::FileEMFAnalyser() { m_nFileType = 24; }

BOOL FileEMFAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (LoadLE32(pSector + 40) != 0x464D4520 || LoadLE16(pSector + 58) != 0 || LoadLE32(pSector + 48) == 0)
        return FALSE;
    pInfo->SetType(24);
    pInfo->SetSize(LoadLE32(pSector + 48));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileDXFAnalyser::FileDXFAnalyser() { m_nFileType = 23; }

BOOL FileDXFAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, "  0\r\nSECTION\r\n  2\r\nHEADER\r\n", 27) != 0)
        return FALSE;
    pInfo->SetType(23);
    return TRUE;
}

BOOL FileDXFAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    return SearchFooterFor(pInfo, pDevice, "EOF\r\n", 5, &m_Search);
}

// ---------------------------------------------------------------------------------------------
FileDWGAnalyser::FileDWGAnalyser() { m_nFileType = 22; }

BOOL FileDWGAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const char* const versions[] = {"AC1018", "AC1015", "AC1014", "AC1013", "AC1009", "AC1012"};
    for (const char* pszVersion : versions) {
        if (memcmp(pSector, pszVersion, 6) == 0 && pSector[6] == 0 && pSector[7] == 0) {
            pInfo->SetType(22);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL FileDWGAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    const uint8_t* p = reader.Read(0);
    if (p == nullptr)
        return FALSE;
    if (memcmp(p, "AC1018", 6) == 0) {
        // 2004 format: the file ends 108 bytes after the second copy of the header sentinel.
        p = reader.Read(128);
        if (p == nullptr || memcmp(p, DWG_2004_SENTINEL, 16) != 0)
            return FALSE;
        uint64_t u64Pos = 144;
        // A stretch searched for an earlier hit is not searched again (CarvingSearchMemo.h); a
        // start beyond the bound finds no sentinel.
        const uint64_t u64Bound = std::min(DWG_2004_SEARCH_END, u64Limit);
        CCarvingSearchMemo* pMemo =
            pInfo->GetStartSector() <= (UINT64_MAX - u64Bound) / 512 - 1 ? &m_Search : nullptr;
        const uint64_t u64Base = pMemo != nullptr ? pInfo->GetStartSector() * 512 : 0;
        if (pMemo != nullptr)
            u64Pos = std::min(pMemo->Resume(pDevice, u64Base + u64Pos) - u64Base, u64Bound + 1);
        const uint64_t u64SearchFrom = u64Pos;
        uint64_t u64CheckedTo = UINT64_MAX;  // the sentinel test read device bytes only below
        auto Remember = [&](uint64_t u64To) {
            if (pMemo != nullptr)
                pMemo->Record(pDevice, u64Base + u64SearchFrom, u64Base + std::min(u64To, u64CheckedTo));
        };
        bool bEnded = false;
        while (u64Pos <= u64Bound) {
            size_t nValid = 0;
            p = reader.Read(u64Pos, &nValid);
            if (p == nullptr) {
                Remember(u64Pos);
                if (u64Pos < 513)
                    return FALSE;
                bEnded = true;
                break;
            }
            if (nValid < 16 && u64CheckedTo == UINT64_MAX)
                u64CheckedTo = u64Pos;
            if (memcmp(p, DWG_2004_SENTINEL, 16) == 0) {
                Remember(u64Pos);
                bEnded = true;
                u64Pos += 108;
                break;
            }
            ++u64Pos;
        }
        if (!bEnded)
            Remember(u64Pos);
        pInfo->SetSize(std::min(u64Pos, u64Limit));
        return TRUE;
    }
    if (memcmp(p, "AC1009", 6) == 0)
        return FALSE;

    // R13-R2000: the section locator records name each section's seeker and size; the one
    // furthest into the file ends it.
    const uint32_t dwSentinelAt = LoadLE32(p + 13);
    const uint32_t dwLocators = LoadLE32(p + 21);
    if (dwSentinelAt == 0 || dwLocators == 0 || dwLocators > DWG_MAX_LOCATORS)
        return FALSE;
    const uint8_t* pSentinel = reader.Read(dwSentinelAt);
    if (pSentinel == nullptr || memcmp(pSentinel, DWG_HEADER_SENTINEL, 16) != 0)
        return FALSE;
    uint32_t dwSeeker = 0, dwSize = 0;
    for (uint32_t i = 0; i < dwLocators; ++i) {
        const uint8_t* pRecord = reader.Read(25 + 9 * static_cast<uint64_t>(i));
        if (pRecord == nullptr)
            return FALSE;
        const uint32_t dwRecordSeeker = LoadLE32(pRecord + 1);
        if (i == 0 || dwRecordSeeker > dwSeeker) {
            dwSeeker = dwRecordSeeker;
            dwSize = LoadLE32(pRecord + 5);
        }
    }
    if (dwSeeker == 0 || dwSize == 0)
        return FALSE;
    pInfo->SetSize(std::min(static_cast<uint64_t>(dwSeeker) + dwSize, u64Limit));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileDBXAnalyser::FileDBXAnalyser() { m_nFileType = 19; }

BOOL FileDBXAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t classIds[4][16] = {
        {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0xC6, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0xC7, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0x30, 0x9D, 0xFE, 0x26, 0x8F, 0x1A, 0xD2, 0x11, 0xAA, 0xBF, 0x00, 0x60},
    };
    static const uint8_t jmf6[8] = {0x4A, 0x4D, 0x46, 0x36, 0x03, 0x00, 0x10, 0x00};
    bool bMatch = memcmp(pSector, jmf6, 8) == 0;
    for (const auto& classId : classIds)
        bMatch = bMatch || memcmp(pSector, classId, 16) == 0;
    if (!bMatch)
        return FALSE;
    pInfo->SetType(19);
    pInfo->SetSize(LoadLE32(pSector + 124));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileCRWAnalyser::FileCRWAnalyser() : m_u64ScratchFirst(0), m_u64ScratchSectors(0)
{
    m_nFileType = 16;
    memset(m_scratch, 0, sizeof(m_scratch));
}

BOOL FileCRWAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t header[16] = {0x49, 0x49, 0x1A, 0x00, 0x00, 0x00, 0x48, 0x45,
                                       0x41, 0x50, 0x43, 0x43, 0x44, 0x52, 0x02, 0x00};
    if (memcmp(pSector, header, 16) != 0)
        return FALSE;
    pInfo->SetType(16);
    return TRUE;
}

BOOL FileCRWAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    // The camera writes its description texts near the end of the file; the file is taken to
    // the end of the sector before them.
    const uint64_t u64Start = pInfo->GetStartSector();
    const uint64_t u64DeviceEnd = pDevice->GetTotalSectors();
    m_u64ScratchSectors = 0;  // bytes of an earlier file are never trusted
    // A stretch searched for an earlier hit is not searched again (CarvingSearchMemo.h); a start
    // beyond the bound finds no trailer. The test reads device bytes only (it fails otherwise).
    CCarvingSearchMemo* pMemo = u64Start <= (UINT64_MAX - CRW_SEARCH_LIMIT) / 512 - 1 ? &m_Search : nullptr;
    const uint64_t u64Base = pMemo != nullptr ? u64Start * 512 : 0;
    uint64_t u64From = 16;
    if (pMemo != nullptr)
        u64From = std::min(pMemo->Resume(pDevice, u64Base + u64From) - u64Base, CRW_SEARCH_LIMIT + 1);
    auto Remember = [&](uint64_t u64To) {
        if (pMemo != nullptr)
            pMemo->Record(pDevice, u64Base + u64From, u64Base + u64To);
    };
    for (uint64_t i = u64From; i <= CRW_SEARCH_LIMIT; ++i) {
        const uint64_t u64Sector = i / 512;
        const uint64_t u64Offset = i % 512;
        const uint64_t u64Need = (u64Offset + CRW_TRAILER_BYTES > 512) ? 2 : 1;
        if (m_u64ScratchSectors == 0 || u64Sector < m_u64ScratchFirst ||
            u64Sector + u64Need > m_u64ScratchFirst + m_u64ScratchSectors) {
            // Device sectors are absolute: the file's sectors must end within the device.
            if (u64Start > u64DeviceEnd || u64Sector + u64Need > u64DeviceEnd - u64Start) {
                Remember(i);
                return FALSE;
            }
            // Two sectors whenever possible, so the next 512 positions need no further read.
            const uint64_t u64Count = (u64Sector + 2 <= u64DeviceEnd - u64Start) ? 2 : u64Need;
            m_u64ScratchSectors = 0;
            if (!pDevice->ReadSectors(m_scratch, u64Start + u64Sector, u64Count)) {
                Remember(i);
                return FALSE;
            }
            m_u64ScratchFirst = u64Sector;
            m_u64ScratchSectors = u64Count;
        }
        const uint8_t* p = m_scratch + (i - m_u64ScratchFirst * 512);
        if (p[0] == 'H' && memcmp(p, "High definition CCD image", 25) == 0 &&
            memcmp(p + 32, "CRW:High definition CCD image", 29) == 0 && memcmp(p + 122, "Canon", 5) == 0 &&
            memcmp(p + 128, "Canon PowerShot", 15) == 0) {
            Remember(i);
            pInfo->SetSize((i + 511) / 512 * 512);
            return TRUE;
        }
    }
    Remember(CRW_SEARCH_LIMIT + 1);
    pInfo->SetSize(CRW_SEARCH_LIMIT);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileCPTAnalyser::FileCPTAnalyser() { m_nFileType = 15; }

BOOL FileCPTAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, "CPT7FILE", 8) != 0 && memcmp(pSector, "CPT8FILE", 8) != 0 &&
        memcmp(pSector, "CPT9FILE", 8) != 0)
        return FALSE;
    if (LoadLE32(pSector + 52) != 316)
        return FALSE;
    pInfo->SetType(15);
    pInfo->SetSize(0);
    return TRUE;
}

BOOL FileCPTAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    // Every pointer of the block table must stay inside the file the limit allows.
    auto readU32 = [&](uint64_t u64At, uint32_t* pdwValue) {
        if (u64At > u64Limit)
            return false;
        const uint8_t* p = reader.Read(u64At);
        if (p == nullptr)
            return false;
        *pdwValue = LoadLE32(p);
        return true;
    };
    uint32_t dwTable = 0, dwCount = 0;
    if (!readU32(52, &dwTable) || !readU32(40, &dwCount) || dwCount == 0)
        return FALSE;
    if (reader.Read(dwTable) == nullptr)
        return FALSE;
    uint32_t dwLast = 0;
    if (!readU32(static_cast<uint64_t>(dwTable) + 8ull * dwCount - 8, &dwLast))
        return FALSE;
    const uint64_t u64Last = dwLast;
    uint64_t u64End = u64Last + 60;
    uint32_t dwAt32 = 0, dwGap = 0;
    if (!readU32(u64Last + 32, &dwAt32) || !readU32(u64Last + 60, &dwGap))
        return FALSE;
    if (dwAt32 != 0 && dwAt32 == dwGap)
        u64End = u64Last + dwGap + 60;
    uint32_t dwA = 0, dwB = 0;
    if (!readU32(u64End, &dwA) || !readU32(u64End + 4, &dwB))
        return FALSE;
    uint64_t u64Size = u64Last;
    if (dwA != 0 && dwB != 0) {
        uint32_t dwOffset = 0, dwLength = 0;
        if (dwA < 8 || !readU32(dwA - 8ull, &dwOffset) || !readU32(dwA - 4ull, &dwLength))
            return FALSE;
        u64Size = static_cast<uint64_t>(dwOffset) + dwLength;
    }
    pInfo->SetSize(std::min(u64Size, u64Limit));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileCHMAnalyser::FileCHMAnalyser() { m_nFileType = 12; }

BOOL FileCHMAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t guid1[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                      0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    static const uint8_t guid2[16] = {0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                      0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    const uint32_t dwHeader = 96;
    if (memcmp(pSector, "ITSF", 4) != 0 || LoadLE32(pSector + 8) != dwHeader || memcmp(pSector + 24, guid1, 16) != 0 ||
        memcmp(pSector + 40, guid2, 16) != 0)
        return FALSE;
    // The header section table follows the header: its first entry is the 0x1FE-byte section
    // at offset 0, then the file size as a 64-bit number.
    const uint8_t* pSection = pSector + dwHeader;
    if (LoadLE32(pSection) != 0x1FE || LoadLE32(pSection + 4) != 0 || LoadLE32(pSection + 16) != 0 ||
        LoadLE32(pSection + 20) != 0)
        return FALSE;
    pInfo->SetType(12);
    pInfo->SetSize(LoadLE64(pSection + 8));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileCABAnalyser::FileCABAnalyser() { m_nFileType = 10; }

BOOL FileCABAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, "MSCF", 4) != 0)
        return FALSE;
    pInfo->SetType(10);
    pInfo->SetSize(0);
    if (LoadLE32(pSector + 4) != 0 || LoadLE32(pSector + 12) != 0 || LoadLE32(pSector + 20) != 0 ||
        LoadLE16(pSector + 24) != 0x0103 || LoadLE32(pSector + 8) == 0)
        return FALSE;
    pInfo->SetSize(LoadLE32(pSector + 8));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileBMPAnalyser::FileBMPAnalyser() { m_nFileType = 9; }

BOOL FileBMPAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (LoadLE16(pSector) != 0x4D42)
        return FALSE;
    pInfo->SetType(9);
    pInfo->SetSize(0);
    const uint32_t dwInfoHeader = LoadLE32(pSector + 14);
    if (LoadLE16(pSector + 6) != 0 || LoadLE16(pSector + 8) != 0 || (dwInfoHeader != 40 && dwInfoHeader != 124))
        return FALSE;
    pInfo->SetSize(LoadLE32(pSector + 2));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileAUAnalyser::FileAUAnalyser() { m_nFileType = 7; }

BOOL FileAUAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, ".snd", 4) != 0)
        return FALSE;
    pInfo->SetType(7);
    pInfo->SetSize(0);
    const uint32_t dwDataOffset = LoadBE32(pSector + 4);
    const uint32_t dwDataSize = LoadBE32(pSector + 8);
    // A data size of all ones means "unknown" in this format.
    if (dwDataOffset <= 23 || dwDataSize == 0xFFFFFFFF)
        return FALSE;
    pInfo->SetSize(static_cast<uint64_t>(dwDataOffset) + dwDataSize);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileASFAnalyser::FileASFAnalyser() { m_nFileType = 6; }

BOOL FileASFAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, ASF_HEADER_OBJECT, 16) != 0)
        return FALSE;
    pInfo->SetType(6);
    pInfo->SetSize(0);
    return TRUE;
}

BOOL FileASFAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    const uint8_t* const objects[3] = {ASF_HEADER_OBJECT, ASF_DATA_OBJECT, ASF_INDEX_OBJECT};
    uint8_t buffer[1024];
    uint64_t u64Pos = 0;
    for (int n = 0; n < 3; ++n) {
        const uint64_t u64Offset = u64Pos % 512;
        const uint64_t u64Count = (u64Offset + ASF_OBJECT_HEADER_BYTES > 512) ? 2 : 1;
        if (!pDevice->ReadSectors(buffer, pInfo->GetStartSector() + u64Pos / 512, u64Count))
            return FALSE;
        const uint8_t* p = buffer + u64Offset;
        if (memcmp(p, objects[n], 16) != 0) {
            if (n == 2)
                break;
            return FALSE;
        }
        // An object is at least its own 24-byte header; a size that small, or one that runs
        // past the limit, ends the walk without wrapping the position.
        const uint64_t u64ObjectSize = LoadLE64(p + 16);
        if (u64ObjectSize < ASF_OBJECT_HEADER_BYTES) {
            if (n == 2)
                break;
            return FALSE;
        }
        if (u64ObjectSize > u64Limit - std::min(u64Pos, u64Limit)) {
            u64Pos = u64Limit;
            break;
        }
        u64Pos += u64ObjectSize;
    }
    pInfo->SetSize(u64Pos);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
File3GPAnalyser::File3GPAnalyser() { m_nFileType = 2; }

BOOL File3GPAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (!SameLetters(pSector + 4, "ftyp3g2a") && !SameLetters(pSector + 4, "ftyp3gp4"))
        return FALSE;
    pInfo->SetType(2);
    pInfo->SetSize(0);
    return TRUE;
}

BOOL File3GPAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    return WalkMp4Atoms(pInfo, pDevice);
}

// ---------------------------------------------------------------------------------------------
File3DSAnalyser::File3DSAnalyser() { m_nFileType = 1; }

BOOL File3DSAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    // Main chunk 0x4D4D with the editor chunk 0x3D3D (or the version chunk before it) at 16.
    if (LoadLE16(pSector) != 0x4D4D || LoadLE16(pSector + 16) != 0x3D3D)
        return FALSE;
    pInfo->SetType(1);
    const uint32_t dwMain = LoadLE32(pSector + 2);
    if (dwMain == 0 || dwMain < LoadLE32(pSector + 18))
        return FALSE;
    pInfo->SetSize(dwMain);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
void FileGIFAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x47);
}

void FileFH11Analyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x1C);
}

void FileEPSAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0xC5);
}

void FileDXFAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x20);
}

void FileDWGAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x41);
}

void FileDBXAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0xCF);
    pSet->Add(0x4A);
}

void FileCRWAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x49);
}

void FileCPTAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x43);
}

void FileCHMAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x49);
}

void FileCABAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x4D);
}

void FileBMPAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x42);
}

void FileAUAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x2E);
}

void FileASFAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x30);
}

void File3DSAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x4D);
}

IRawFileAnalyser* NewFileGIFAnalyser() { return new FileGIFAnalyser; }
IRawFileAnalyser* NewFileFH11Analyser() { return new FileFH11Analyser; }
IRawFileAnalyser* NewFileEPSAnalyser() { return new FileEPSAnalyser; }
IRawFileAnalyser* NewFileEMFAnalyser() { return new FileEMFAnalyser; }
IRawFileAnalyser* NewFileDXFAnalyser() { return new FileDXFAnalyser; }
IRawFileAnalyser* NewFileDWGAnalyser() { return new FileDWGAnalyser; }
IRawFileAnalyser* NewFileDBXAnalyser() { return new FileDBXAnalyser; }
IRawFileAnalyser* NewFileCRWAnalyser() { return new FileCRWAnalyser; }
IRawFileAnalyser* NewFileCPTAnalyser() { return new FileCPTAnalyser; }
IRawFileAnalyser* NewFileCHMAnalyser() { return new FileCHMAnalyser; }
IRawFileAnalyser* NewFileCABAnalyser() { return new FileCABAnalyser; }
IRawFileAnalyser* NewFileBMPAnalyser() { return new FileBMPAnalyser; }
IRawFileAnalyser* NewFileAUAnalyser() { return new FileAUAnalyser; }
IRawFileAnalyser* NewFileASFAnalyser() { return new FileASFAnalyser; }
IRawFileAnalyser* NewFile3GPAnalyser() { return new File3GPAnalyser; }
IRawFileAnalyser* NewFile3DSAnalyser() { return new File3DSAnalyser; }

BOOL FileEMFAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The " EMF" signature at offset 40: its "F".
    *pnOffset = 43;
    pSet->Clear();
    pSet->Add('F');
    return TRUE;
}

BOOL File3GPAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "ftyp3g2a" or "ftyp3gp4" at offset 4, in either case: its "y".
    *pnOffset = 6;
    pSet->Clear();
    pSet->Add('y');
    pSet->Add('Y');
    return TRUE;
}

BOOL FileDXFAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "SECTION" after "  0" and its line end.
    *pnOffset = 5;
    pSet->Clear();
    pSet->Add('S');
    return TRUE;
}

BOOL FileDWGAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "AC10nn".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('C');
    return TRUE;
}

BOOL FileCRWAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "II" of the heap header.
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('I');
    return TRUE;
}

BOOL FileCPTAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "CPTnFILE".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('P');
    return TRUE;
}

BOOL FileCHMAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "ITSF".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('T');
    return TRUE;
}

BOOL FileCABAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "MSCF".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('S');
    return TRUE;
}

BOOL FileAUAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // ".snd".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('s');
    return TRUE;
}

BOOL FileASFAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The header object GUID 30 26 B2 75 ...
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0x26);
    return TRUE;
}

BOOL File3DSAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The main chunk id 4D 4D.
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0x4D);
    return TRUE;
}

BOOL FileGIFAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "GIF87a" or "GIF89a".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('I');
    return TRUE;
}

BOOL FileBMPAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "BM".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('M');
    return TRUE;
}

BOOL FileFH11Analyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // 1C 01 00 00 ...
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0x01);
    return TRUE;
}

BOOL FileDBXAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The class ids CF AD 12 FE ... or "JMF6".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0xAD);
    pSet->Add(0x4D);
    return TRUE;
}

BOOL FileEPSAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // C5 D0 D3 C6.
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0xD0);
    return TRUE;
}
