#include "CarvingFormatRoutines.h"

#include <cctype>
#include <cstring>

#include "ByteOrder.h"
#include "CarvingSearchMemo.h"
#include "RawFileAnalyser.h"
#include "RawFileInfo.h"
#include "SectorWindowReader.h"

using rvd::LoadBE32;
using rvd::LoadBE64;
using rvd::LoadLE16;
using rvd::LoadLE32;

// ---- ZIP ---------------------------------------------------------------------------------------

BOOL IsZipRecord(const uint8_t* pRecord)
{
    if (pRecord == nullptr)
        return FALSE;
    switch (LoadLE32(pRecord)) {
    case ZIP_LOCAL_HEADER_SIGNATURE:
        return LoadLE16(pRecord + 8) <= 10 && LoadLE16(pRecord + 26) <= ZIP_MAX_NAME_LENGTH;
    case ZIP_CENTRAL_HEADER_SIGNATURE:
    case ZIP_END_RECORD_SIGNATURE:
        return TRUE;
    default:
        return FALSE;
    }
}

namespace {

struct PACKAGE_PART {
    const char* pszName;
    int32_t nType;
};

// The relationship part that only a Word, Excel or PowerPoint package holds.
const PACKAGE_PART s_PackageParts[] = {
    {"word/_rels/document.xml.rels", 69},
    {"xl/_rels/workbook.xml.rels", 70},
    {"ppt/_rels/presentation.xml.rels", 71},
};

void MatchPackagePart(const uint8_t* pName, uint16_t nNameLength, int32_t* pnType)
{
    if (pnType == nullptr)
        return;
    for (const PACKAGE_PART& part : s_PackageParts) {
        // The names are short, so a matching name always lies within the 512 bytes after the
        // record's start that a window read guarantees.
        if (strlen(part.pszName) == nNameLength && memcmp(pName, part.pszName, nNameLength) == 0) {
            *pnType = part.nType;
            return;
        }
    }
}

} // namespace

BOOL GetZipRecordLength(const uint8_t* pRecord, uint32_t* pnLength, bool bPackage, int32_t* pnType)
{
    if (pRecord == nullptr || pnLength == nullptr)
        return FALSE;
    switch (LoadLE32(pRecord)) {
    case ZIP_LOCAL_HEADER_SIGNATURE: {
        const uint16_t nName = LoadLE16(pRecord + 26);
        // 30 + 65535 + 65535 + a 32-bit size can exceed 32 bits; such a record is not believed.
        const uint64_t ullLength = 30ull + nName + LoadLE16(pRecord + 28) + LoadLE32(pRecord + 18);
        if (ullLength > UINT32_MAX)
            return FALSE;
        *pnLength = static_cast<uint32_t>(ullLength);
        if (bPackage)
            MatchPackagePart(pRecord + 30, nName, pnType);
        return TRUE;
    }
    case ZIP_CENTRAL_HEADER_SIGNATURE: {
        const uint16_t nName = LoadLE16(pRecord + 28);
        *pnLength = 46u + nName + LoadLE16(pRecord + 30) + LoadLE16(pRecord + 32);
        if (bPackage)
            MatchPackagePart(pRecord + 46, nName, pnType);
        return TRUE;
    }
    case ZIP_END_RECORD_SIGNATURE:
        *pnLength = 22u + LoadLE16(pRecord + 20);
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- RAR ---------------------------------------------------------------------------------------

BOOL IsRarBlockValid(const uint8_t* pBlock, int nAvailable)
{
    if (pBlock == nullptr || nAvailable <= 6)
        return FALSE;
    switch (pBlock[2]) {
    case 0x73:
    case 0x75:
    case 0x76:
    case 0x78:
    case 0x7A:
    case 0x7B:
        return TRUE;
    case 0x74:
        // File header: unpacked size at 11 not below the packed size at 7; host OS at 15.
        return nAvailable >= 16 && LoadLE32(pBlock + 11) >= LoadLE32(pBlock + 7) && pBlock[15] < 5;
    case 0x77:
        return nAvailable >= 14 && pBlock[13] == 0;
    default:
        return FALSE;
    }
}

BOOL GetRarBlockSize(const uint8_t* pBlock, int nAvailable, uint32_t* pnLow, uint32_t* pnHigh)
{
    if (!IsRarBlockValid(pBlock, nAvailable) || pnLow == nullptr || pnHigh == nullptr)
        return FALSE;
    const uint16_t nHeadSize = LoadLE16(pBlock + 5);
    if (nHeadSize <= 6)
        return FALSE;
    uint64_t ullSize = nHeadSize;
    switch (pBlock[2]) {
    case 0x73:
        if (nHeadSize < 10)
            return FALSE;
        break;
    case 0x74:
    case 0x77:
        if (nAvailable < 11)
            return FALSE;
        ullSize += LoadLE32(pBlock + 7);
        break;
    case 0x75:
        if (nAvailable < 9)
            return FALSE;
        ullSize += LoadLE16(pBlock + 7);
        break;
    case 0x76:
        break;
    default: // 0x78, 0x7A, 0x7B
        if (nHeadSize < 10 || nAvailable < 11)
            return FALSE;
        ullSize += LoadLE32(pBlock + 7);
        break;
    }
    *pnLow = static_cast<uint32_t>(ullSize);
    *pnHigh = static_cast<uint32_t>(ullSize >> 32);
    return TRUE;
}

// ---- MP4 ---------------------------------------------------------------------------------------

namespace {

const char* const s_Mp4TopAtoms[] = {"mdat", "moov", "free", "moof", "mfra"};

bool IsMp4TopAtomName(const uint8_t* pAtom)
{
    for (const char* pszName : s_Mp4TopAtoms) {
        if (strncasecmp(reinterpret_cast<const char*>(pAtom + 4), pszName, 4) == 0 ||
            strncasecmp(reinterpret_cast<const char*>(pAtom + 12), pszName, 4) == 0)
            return true;
    }
    return false;
}

// The atom's size: the 32-bit field, or the 64-bit one after the name when the field is 1. 0 when
// the atom states no usable size (0 = "to the end of the file", or a 64-bit size below 16).
uint64_t Mp4AtomSize(const uint8_t* pAtom)
{
    const uint32_t nSize = LoadBE32(pAtom);
    if (nSize != 1)
        return nSize;
    const uint64_t ullLarge = LoadBE64(pAtom + 8);
    return ullLarge >= 16 ? ullLarge : 0;
}

} // namespace

BOOL WalkMp4Atoms(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    if (pInfo == nullptr)
        return FALSE;
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    const uint8_t* p = reader.Read(0);
    if (p == nullptr)
        return FALSE;
    uint64_t ullPos = Mp4AtomSize(p);
    if (ullPos == 0)
        return FALSE;
    const uint64_t ullLimit = GetCarvedSizeLimit();
    for (int nAtom = 0; nAtom < 500 && ullPos <= ullLimit; ++nAtom) {
        p = reader.Read(ullPos);
        if (p == nullptr)
            break;
        const uint64_t ullSize = Mp4AtomSize(p);
        if (ullSize == 0 || !IsMp4TopAtomName(p) || ullSize > UINT64_MAX - ullPos)
            break;
        ullPos += ullSize;
    }
    pInfo->SetSize(ullPos);
    return TRUE;
}

// ---- MPEG audio --------------------------------------------------------------------------------

BOOL DecodeSynchsafeSize(const uint8_t* pBytes, uint32_t* pnSize)
{
    if (pBytes == nullptr || pnSize == nullptr)
        return FALSE;
    if ((pBytes[0] | pBytes[1] | pBytes[2] | pBytes[3]) & 0x80)
        return FALSE;
    *pnSize = (static_cast<uint32_t>(pBytes[0]) << 21) | (static_cast<uint32_t>(pBytes[1]) << 14) |
              (static_cast<uint32_t>(pBytes[2]) << 7) | pBytes[3];
    return TRUE;
}

BOOL IsMpegFrameHeader(uint32_t h)
{
    return h >= 0xFFE00000u && ((h >> 19) & 3) != 1 && ((h >> 17) & 3) != 0 && ((h >> 12) & 15) != 0 &&
           ((h >> 12) & 15) != 15 && ((h >> 10) & 3) != 3;
}

namespace {

// Sample rates by rate index and version: MPEG-1, MPEG-2, MPEG-2.5.
const uint32_t s_MpegSampleRates[3][3] = {
    {44100, 22050, 11025},
    {48000, 24000, 12000},
    {32000, 16000, 8000},
};

// Bitrates in kbit/s by bitrate index 1..14: MPEG-1 layers I, II, III; MPEG-2/2.5 layer I; layers
// II and III.
const uint16_t s_MpegBitrates[14][5] = {
    {32, 32, 32, 32, 8},         {64, 48, 40, 48, 16},       {96, 56, 48, 56, 24},
    {128, 64, 56, 64, 32},       {160, 80, 64, 80, 40},      {192, 96, 80, 96, 48},
    {224, 112, 96, 112, 56},     {256, 128, 112, 128, 64},   {288, 160, 128, 144, 80},
    {320, 192, 160, 160, 96},    {352, 224, 192, 176, 112},  {384, 256, 224, 192, 128},
    {416, 320, 256, 224, 144},   {448, 384, 320, 256, 160},
};

} // namespace

BOOL GetMpegFrameLength(uint32_t h, uint32_t* pnLength)
{
    if (pnLength == nullptr)
        return FALSE;
    *pnLength = 0;
    if (!IsMpegFrameHeader(h))
        return TRUE;
    const uint32_t nVersionBits = (h >> 19) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const uint32_t nLayerBits = (h >> 17) & 3;    // 3 layer I, 2 layer II, 1 layer III
    const uint32_t nVersion = nVersionBits == 3 ? 0 : nVersionBits == 2 ? 1 : 2;
    const bool bMpeg1 = nVersion == 0;
    const uint32_t nLayer = nLayerBits == 3 ? 1 : nLayerBits == 2 ? 2 : 3;
    const uint32_t nSampleRate = s_MpegSampleRates[(h >> 10) & 3][nVersion];
    const uint32_t nColumn = bMpeg1 ? nLayer - 1 : (nLayer == 1 ? 3 : 4);
    const uint32_t nBitrate = s_MpegBitrates[((h >> 12) & 15) - 1][nColumn] * 1000u;
    const uint32_t nPadding = (h >> 9) & 1;
    if (nLayer == 1)
        *pnLength = (12 * nBitrate / nSampleRate + nPadding) * 4;
    else if (nLayer == 3 && !bMpeg1)
        *pnLength = 72 * nBitrate / nSampleRate + nPadding;
    else
        *pnLength = 144 * nBitrate / nSampleRate + nPadding;
    return TRUE;
}

// ---- Footer search -----------------------------------------------------------------------------

FOOTER_PATTERN::FOOTER_PATTERN() : nLength(0), ullSearchLimit(0)
{
    memset(pattern, 0, sizeof(pattern));
}

void FOOTER_PATTERN::SetText(const char* pszPattern)
{
    memset(pattern, 0, sizeof(pattern));
    const size_t nText = pszPattern != nullptr ? strnlen(pszPattern, sizeof(pattern)) : 0;
    memcpy(pattern, pszPattern, nText);
    nLength = static_cast<int32_t>(nText);
}

BOOL SearchFooter(CRawFileInfo* pInfo, IStorageDevice* pDevice, const FOOTER_PATTERN& footer, CCarvingSearchMemo* pMemo)
{
    if (pInfo == nullptr || footer.nLength < 1 || footer.nLength > 64)
        return FALSE;
    const size_t nLength = static_cast<size_t>(footer.nLength);
    uint8_t lower[64];
    for (size_t i = 0; i < nLength; ++i)
        lower[i] = static_cast<uint8_t>(tolower(footer.pattern[i]));
    const uint8_t nFirstLower = lower[0];
    const uint8_t nFirstUpper = static_cast<uint8_t>(toupper(footer.pattern[0]));
    const uint64_t ullLimit = footer.ullSearchLimit != 0 ? footer.ullSearchLimit : GetCarvedSizeLimit();
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    uint64_t ullPos = 0;
    // A stretch searched for an earlier hit is not searched again (CarvingSearchMemo.h): the
    // search starts at its end, or at its match. A start beyond the limit finds no match.
    const bool bAddressable = pInfo->GetStartSector() <= UINT64_MAX / 512;
    const uint64_t ullBase = bAddressable ? pInfo->GetStartSector() * 512 : 0;
    if (pMemo != nullptr && bAddressable && ullLimit < UINT64_MAX - ullBase) {
        ullPos = pMemo->Resume(pDevice, ullBase) - ullBase;
        if (ullPos > ullLimit + 1)
            ullPos = ullLimit + 1;
    } else {
        pMemo = nullptr;
    }
    const uint64_t ullSearchFrom = ullPos;
    // Positions below this were tested on device bytes only.
    uint64_t ullCheckedTo = ullPos;
    bool bCut = false;
    auto Remember = [&](uint64_t ullTo) {
        if (pMemo != nullptr)
            pMemo->Record(pDevice, ullBase + ullSearchFrom, ullBase + (bCut ? ullCheckedTo : ullTo));
    };
    while (ullPos <= ullLimit) {
        size_t nValid = 0, nWindow = 0;
        const uint8_t* p = reader.Read(ullPos, &nValid, &nWindow);
        if (p == nullptr) {
            Remember(ullPos);
            return FALSE;
        }
        // Positions served by this window: up to its end, the device's end and the limit. A
        // pattern that starts there may reach into the sector after the window.
        uint64_t ullSpan = nWindow < nValid ? nWindow : nValid;
        if (ullSpan - 1 > ullLimit - ullPos)
            ullSpan = ullLimit - ullPos + 1;
        for (size_t i = 0; i < ullSpan; ++i) {
            if (nFirstLower == nFirstUpper) {
                // A first byte without a case: the library's search jumps to its next place.
                const void* pNext = memchr(p + i, nFirstLower, static_cast<size_t>(ullSpan) - i);
                if (pNext == nullptr)
                    break;
                i = static_cast<size_t>(static_cast<const uint8_t*>(pNext) - p);
            } else if (p[i] != nFirstLower && p[i] != nFirstUpper) {
                continue;
            }
            if (nLength > nValid - i) {
                // Runs past the device's end: no match here, but perhaps for a hit that reads on.
                if (!bCut) {
                    bCut = true;
                    ullCheckedTo = ullPos + i;
                }
                continue;
            }
            size_t k = 1;
            while (k < nLength && static_cast<uint8_t>(tolower(p[i + k])) == lower[k])
                ++k;
            if (k == nLength) {
                Remember(ullPos + i);
                pInfo->SetSize(ullPos + i + nLength);
                return TRUE;
            }
        }
        if (ullSpan > UINT64_MAX - ullPos)
            break;
        ullPos += ullSpan;
    }
    Remember(ullPos);
    pInfo->SetSize(ullPos);
    return TRUE;
}
