#include "ArchiveAnalysers.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"
#include "CarvingChainMemo.h"
#include "CarvingFormatRoutines.h"
#include "SectorWindowReader.h"
#include "RawFileAnalyserFactories.h"

using rvd::LoadLE16;
using rvd::LoadLE32;

namespace {

const uint32_t ZIP_LOCAL_HEADER = 0x04034B50;
const uint32_t ZIP_END_RECORD = 0x06054B50;
const char CONTENT_TYPES_NAME[] = "[Content_Types].xml";
const uint8_t RAR_MARKER[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
const uint8_t RAR_END_BLOCK[7] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};

// Only a package whose first entry is the content-types part may be named DOCX/XLSX/PPTX.
// pRecord: a record start with 512 readable bytes.
int IsContentTypesPart(const uint8_t* pRecord)
{
    const size_t nNameLength = sizeof(CONTENT_TYPES_NAME) - 1;
    return LoadLE32(pRecord) == ZIP_LOCAL_HEADER && LoadLE16(pRecord + 26) == nNameLength &&
           memcmp(pRecord + 30, CONTENT_TYPES_NAME, nNameLength) == 0;
}

bool IsLzhMethod(const uint8_t* p)
{
    return memcmp(p, "-lh5-", 5) == 0 || memcmp(p, "-lh0-", 5) == 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
FileZIPAnalyser::FileZIPAnalyser() : m_nPackage(0) { m_nFileType = 68; }

BOOL FileZIPAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (LoadLE32(pSector) != ZIP_LOCAL_HEADER)
        return FALSE;
    pInfo->SetType(68);
    return TRUE;
}

BOOL FileZIPAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    // A local header that happens to start a sector is a hit of its own, and a large archive has
    // many: a hit on a record chain walked before shares that walk. Only walks of plain archives
    // are shared (an Office package's walk names its type by the parts it meets).
    CCarvingChainWalk chain(&m_Chains, pDevice, pInfo->GetStartSector());
    uint64_t u64Pos = 0;
    const CHAIN_FOUND found = chain.Find(&u64Pos);
    int32_t nType = 68;
    bool bEnded = false;
    if (found != CHAIN_NONE) {
        m_nPackage = 0;
        if (found == CHAIN_ENDED)
            bEnded = true;
    } else {
        const uint8_t* p = reader.Read(0);
        if (p == nullptr || !IsZipRecord(p))
            return FALSE;
        m_nPackage = IsContentTypesPart(p);
        uint32_t dwLength = 0;
        if (!GetZipRecordLength(p, &dwLength, m_nPackage != 0, &nType))
            return FALSE;
        if (m_nPackage != 0)
            chain.WalkAlone();
        chain.Pass(0);
        u64Pos = dwLength;
        // The end-of-central-directory record and its comment close the archive: whatever follows
        // (another archive written right behind it) is not part of it.
        bEnded = LoadLE32(p) == ZIP_END_RECORD;
        if (bEnded)
            chain.End(u64Pos);
    }
    while (!bEnded) {
        if (u64Pos > u64Limit) {
            chain.Cut(u64Pos);
            break;
        }
        const uint8_t* p = reader.Read(u64Pos);
        if (p == nullptr) {
            chain.Cut(u64Pos);
            break;
        }
        uint32_t dwLength = 0;
        if (!IsZipRecord(p) || !GetZipRecordLength(p, &dwLength, m_nPackage != 0, &nType)) {
            chain.End(u64Pos);
            break;
        }
        // A hit on a content-types part is measured as a package, by a walk of its own.
        if (!IsContentTypesPart(p))
            chain.Pass(u64Pos);
        bEnded = LoadLE32(p) == ZIP_END_RECORD;
        u64Pos += dwLength;
        if (bEnded)
            chain.End(u64Pos);
    }
    pInfo->SetType(nType);
    pInfo->SetSize(std::min(u64Pos, u64Limit));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileRARAnalyser::FileRARAnalyser() { m_nFileType = 54; }

BOOL FileRARAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, RAR_MARKER, sizeof(RAR_MARKER)) != 0)
        return FALSE;
    pInfo->SetType(54);
    return TRUE;
}

BOOL FileRARAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    const uint8_t* p = reader.Read(0);
    if (p == nullptr)
        return FALSE;
    uint32_t dwLow = 0, dwHigh = 0;
    if (!GetRarBlockSize(p + sizeof(RAR_MARKER), 512 - static_cast<int>(sizeof(RAR_MARKER)), &dwLow, &dwHigh))
        return FALSE;
    uint64_t u64Pos = sizeof(RAR_MARKER) + ((static_cast<uint64_t>(dwHigh) << 32) | dwLow);
    if (u64Pos > u64Limit) {
        pInfo->SetSize(u64Limit);
        return TRUE;
    }
    p = reader.Read(u64Pos);
    if (p == nullptr)
        return FALSE;
    while (GetRarBlockSize(p, 32, &dwLow, &dwHigh)) {
        u64Pos += (static_cast<uint64_t>(dwHigh) << 32) | dwLow;
        if (u64Pos > u64Limit)
            break;
        p = reader.Read(u64Pos);
        if (p == nullptr)
            return FALSE;
    }
    if (u64Pos <= u64Limit) {
        // The end-of-archive block is only 7 bytes, too short for the block rules above.
        p = reader.Read(u64Pos);
        if (p != nullptr && memcmp(p, RAR_END_BLOCK, sizeof(RAR_END_BLOCK)) == 0)
            u64Pos += sizeof(RAR_END_BLOCK);
    }
    pInfo->SetSize(std::min(u64Pos, u64Limit));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileGZAnalyser::FileGZAnalyser() { m_nFileType = 29; }

BOOL FileGZAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (pSector[0] != 0x1F || pSector[1] != 0x8B || pSector[2] != 0x08)
        return FALSE;
    pInfo->SetType(29);
    return TRUE;
}

BOOL FileGZAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* /*pDevice*/)
{
    // The deflate stream is not walked: the file is taken up to the limit.
    pInfo->SetSize(GetCarvedSizeLimit());
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
FileLZHAnalyser::FileLZHAnalyser() { m_nFileType = 34; }

BOOL FileLZHAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (!IsLzhMethod(pSector + 2))
        return FALSE;
    pInfo->SetType(34);
    return TRUE;
}

namespace {

// What a member header tells the walk of an archive's header chain.
enum HEADER_STEP {
    HEADER_NONE,  // no member header here: the archive ends at the position (a hit's own first
                  // header not being one, the hit is no archive)
    HEADER_NEXT,  // a member: the position now names the next header
    HEADER_LAST,  // the last member: the position now names the archive's end
};

// The length walk over a chain of member headers from a hit, shared through pChains with the
// other hits of the same chain. step looks at the header at the position (the window reader's
// 512 readable bytes) and moves the position on. The size is the end's position, at most the
// carved-size limit.
template <typename STEP>
BOOL WalkHeaderChain(CCarvingChainMemo* pChains, CRawFileInfo* pInfo, IStorageDevice* pDevice, STEP step)
{
    const uint64_t u64Limit = GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    CCarvingChainWalk chain(pChains, pDevice, pInfo->GetStartSector());
    uint64_t u64Pos = 0;
    const CHAIN_FOUND found = chain.Find(&u64Pos);
    if (found == CHAIN_ENDED) {
        pInfo->SetSize(std::min(u64Pos, u64Limit));
        return TRUE;
    }
    const uint8_t* p = nullptr;
    if (found == CHAIN_NONE) {
        p = reader.Read(0);
        if (p == nullptr)
            return FALSE;
    }
    for (bool bNextHeader = found == CHAIN_CUT;; bNextHeader = true) {
        if (bNextHeader) {
            if (u64Pos > u64Limit) {
                chain.Cut(u64Pos);
                break;
            }
            p = reader.Read(u64Pos);
            if (p == nullptr) {
                chain.Cut(u64Pos);
                break;
            }
        }
        const uint64_t u64Header = u64Pos;
        const HEADER_STEP eStep = step(p, &u64Pos);
        if (eStep == HEADER_NONE) {
            if (u64Header == 0)
                return FALSE;
            chain.End(u64Pos);
            break;
        }
        chain.Pass(u64Header);
        if (eStep == HEADER_LAST) {
            chain.End(u64Pos);
            break;
        }
    }
    pInfo->SetSize(std::min(u64Pos, u64Limit));
    return TRUE;
}

} // namespace

BOOL FileLZHAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    // A member header that happens to start a sector is a hit of its own: a hit on a member
    // chain walked before shares that walk.
    return WalkHeaderChain(&m_Chains, pInfo, pDevice, [](const uint8_t* p, uint64_t* pu64Pos) {
        if (!IsLzhMethod(p + 2)) {
            // A header size of 0 is the archive's end mark, the last byte that archivers write.
            if (p[0] == 0)
                ++*pu64Pos;
            return HEADER_NONE;
        }
        // 64-bit: member sizes up to 4 GiB would wrap a 32-bit position back into the archive.
        *pu64Pos += 2 + static_cast<uint64_t>(p[0]) + LoadLE32(p + 7);
        return HEADER_NEXT;
    });
}

// ---------------------------------------------------------------------------------------------
FileTARAnalyser::FileTARAnalyser() { m_nFileType = 59; }

BOOL FileTARAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector + 257, "ustar", 5) != 0)
        return FALSE;
    pInfo->SetType(59);
    return TRUE;
}

uint64_t ParseTarOctal(const uint8_t* pField)
{
    uint64_t u64Value = 0;
    for (int i = 0; i < 11; ++i) {
        const uint8_t c = pField[i];
        const uint64_t u64Digit = (c >= '0' && c <= '7') ? c - '0' : 0;
        u64Value = u64Value * 8 + u64Digit;
    }
    return u64Value;
}

BOOL FileTARAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    // Every member header is a hit of its own: a hit on the header chain of an archive measured
    // before takes that walk's end, or carries on where it was cut.
    return WalkHeaderChain(&m_Chains, pInfo, pDevice, [](const uint8_t* p, uint64_t* pu64Pos) {
        // A header that starts with a name character must carry the magic; headers of other
        // archivers (and the zero end block) start with other bytes and are taken as they are.
        if (p[0] >= 0x21 && p[0] <= 0x7F && memcmp(p + 257, "ustar", 5) != 0)
            return HEADER_NONE;
        *pu64Pos += 512;
        // A header with an empty name is the end block: the archive ends with it. Directories,
        // links and empty files also have size 0 but are followed by further members.
        if (p[0] == 0)
            return HEADER_LAST;
        *pu64Pos += (ParseTarOctal(p + 124) + 511) / 512 * 512;
        return HEADER_NEXT;
    });
}

// ---------------------------------------------------------------------------------------------
void FileZIPAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x50);
}

void FileRARAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x52);
}

void FileGZAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x1F);
}

IRawFileAnalyser* NewFileZIPAnalyser() { return new FileZIPAnalyser; }
IRawFileAnalyser* NewFileRARAnalyser() { return new FileRARAnalyser; }
IRawFileAnalyser* NewFileGZAnalyser() { return new FileGZAnalyser; }
IRawFileAnalyser* NewFileLZHAnalyser() { return new FileLZHAnalyser; }
IRawFileAnalyser* NewFileTARAnalyser() { return new FileTARAnalyser; }

BOOL FileLZHAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The "-lh0-" or "-lh5-" method at offset 2.
    *pnOffset = 2;
    pSet->Clear();
    pSet->Add('-');
    return TRUE;
}

BOOL FileTARAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The "ustar" magic at offset 257.
    *pnOffset = 257;
    pSet->Clear();
    pSet->Add('u');
    return TRUE;
}

BOOL FileZIPAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "PK" of the local file header.
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('K');
    return TRUE;
}

BOOL FileRARAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "Rar!".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('a');
    return TRUE;
}

BOOL FileGZAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The magic 1F 8B.
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0x8B);
    return TRUE;
}
