#include "ImageAnalysers.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "ByteOrder.h"
#include "FileTypeId.h"
#include "IStorageDevice.h"
#include "RawFileAnalyserFactories.h"
#include "RawFileInfo.h"
#include "SectorWindowReader.h"

using rvd::LoadBE16;
using rvd::LoadBE32;
using rvd::LoadLE16;
using rvd::LoadLE32;

IRawFileAnalyser* NewFileJPGAnalyser() { return new FileJPGAnalyser(); }
IRawFileAnalyser* NewFilePNGAnalyser() { return new FilePNGAnalyser(); }
IRawFileAnalyser* NewFilePSDAnalyser() { return new FilePSDAnalyser(); }
IRawFileAnalyser* NewFilePSPAnalyser() { return new FilePSPAnalyser(); }
IRawFileAnalyser* NewFileTIFAnalyser() { return new FileTIFAnalyser(); }
IRawFileAnalyser* NewFileICOAnalyser() { return new FileICOAnalyser(); }
IRawFileAnalyser* NewFileWMFAnalyser() { return new FileWMFAnalyser(); }

// ---- JPEG --------------------------------------------------------------------------------------

namespace {

enum JPEG_VARIANT { JPEG_JFIF, JPEG_EXIF, JPEG_PLAIN };

bool IsJpegStart(const uint8_t* p)
{
    return p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF && (p[3] == 0xE0 || p[3] == 0xE1 || p[3] == 0xDB);
}

// Start-of-frame markers: C0..CF except DHT (C4), JPG (C8) and DAC (CC). Baseline, extended,
// progressive and lossless frames all start an image.
bool IsStartOfFrame(uint8_t m)
{
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

bool ComponentCountAllowed(JPEG_VARIANT eVariant, uint8_t nComponents)
{
    switch (eVariant) {
    case JPEG_JFIF:
        return nComponents == 1 || nComponents == 3;
    case JPEG_PLAIN:
        return nComponents == 3;
    default:
        return true;
    }
}

} // namespace

FileJPGAnalyser::FileJPGAnalyser()
{
    m_nFileType = FILE_TYPE_JPG;
}

void FileJPGAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0xFF);
}

BOOL FileJPGAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (!IsJpegStart(pSector))
        return FALSE;
    if (strncasecmp(reinterpret_cast<const char*>(pSector + 6), "JFIF", 4) != 0 &&
        strncasecmp(reinterpret_cast<const char*>(pSector + 6), "Exif", 4) != 0 && pSector[3] != 0xDB)
        return FALSE;
    pInfo->SetType(FILE_TYPE_JPG);
    return TRUE;
}

BOOL FileJPGAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    const uint8_t* p = reader.Read(0);
    if (p == nullptr)
        return FALSE;
    JPEG_VARIANT eVariant = JPEG_PLAIN;
    if (strncasecmp(reinterpret_cast<const char*>(p + 6), "JFIF", 4) == 0) {
        // The JFIF identifier is written in upper case; any other spelling is not a JFIF file.
        if (memcmp(p + 6, "JFIF", 4) != 0)
            return FALSE;
        eVariant = JPEG_JFIF;
    } else if (strncasecmp(reinterpret_cast<const char*>(p + 6), "Exif", 4) == 0) {
        eVariant = JPEG_EXIF;
    }
    const uint64_t ullLimit = GetCarvedSizeLimit();

    // Segment walk up to the first scan.
    uint64_t ullPos = 2;
    p = reader.Read(ullPos);
    if (p == nullptr || p[0] != 0xFF)
        return FALSE;
    uint8_t m = p[1];
    bool bFrame = false;
    uint64_t ullWidth = 0, ullHeight = 0;
    for (;;) {
        // The segment's length, taken before any further read moves the window under p.
        uint64_t ullLength = LoadBE16(p + 2);
        bool bScan = false;
        if (IsStartOfFrame(m)) {
            const uint8_t* f = reader.Read(ullPos + 4);
            if (f == nullptr)
                return FALSE;
            // Baseline frames are 8-bit; extended and lossless ones may carry up to 16 bits.
            if (m == 0xC0 ? f[0] != 8 : (f[0] < 2 || f[0] > 16))
                return FALSE;
            ullHeight = LoadBE16(f + 1);
            ullWidth = LoadBE16(f + 3);
            if (!ComponentCountAllowed(eVariant, f[5]))
                return FALSE;
            bFrame = true;
        } else if (m == 0xDA) {
            if (!bFrame)
                return FALSE;
            const uint8_t* s = reader.Read(ullPos + 4);
            if (s == nullptr || !ComponentCountAllowed(eVariant, s[0]))
                return FALSE;
            bScan = true;
        } else if (m == 0xFF) {
            // A fill byte before a marker: move on by one byte.
            ullPos += 1;
            if (ullPos > ullLimit || (p = reader.Read(ullPos)) == nullptr)
                return FALSE;
            m = p[1];
            continue;
        } else if (m == 0xD9) {
            return FALSE;  // the image ends before any scan
        } else if ((m >= 0xD0 && m <= 0xD8) || m == 0x01) {
            ullLength = 0;  // markers without a segment
        }
        ullPos += 2 + ullLength;
        if (ullPos > ullLimit)
            return FALSE;
        p = reader.Read(ullPos);
        if (p == nullptr)
            return FALSE;
        if (bScan)
            break;
        // Every marker starts with FF: a walk that lands on another byte has left the image's
        // segments (random bytes would otherwise send it on by random lengths to the limit).
        if (p[0] != 0xFF)
            return FALSE;
        m = p[1];
    }

    // The image ends at the end-of-image marker after the scans; width x height x 3 bytes bound
    // the search.
    const uint64_t ullBound = ullWidth * ullHeight * 3;
    uint64_t i = 0;
    bool bDone = false;
    while (!bDone && i < ullBound) {
        size_t nValid = 0, nWindow = 0;
        const uint8_t* q = reader.Read(ullPos + i, &nValid, &nWindow);
        if (q == nullptr)
            break;
        // Bytes of this window from q on (the sector after the window covers a pair at its end).
        const uint64_t ullSpan = std::min<uint64_t>({nWindow, nValid, ullBound - i});
        const uint8_t* pEnd = q + ullSpan;
        const uint8_t* r = q;
        while (r < pEnd) {
            r = static_cast<const uint8_t*>(memchr(r, 0xFF, static_cast<size_t>(pEnd - r)));
            if (r == nullptr)
                break;
            if (static_cast<size_t>(r - q) + 1 < nValid && r[1] == 0xD9) {
                i += static_cast<uint64_t>(r - q);
                bDone = true;
                break;
            }
            ++r;
        }
        if (!bDone)
            i += ullSpan;
    }
    pInfo->SetSize(ullPos + i + 2);
    return TRUE;
}

// ---- PNG ---------------------------------------------------------------------------------------

namespace {

const uint8_t s_PngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
// Longest chunk believed: a length above it ends the image or rejects it.
const uint32_t PNG_MAX_CHUNK = 0x1400000;

} // namespace

FilePNGAnalyser::FilePNGAnalyser()
{
    m_nFileType = FILE_TYPE_PNG;
}

void FilePNGAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x89);
}

BOOL FilePNGAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, s_PngSignature, sizeof(s_PngSignature)) != 0)
        return FALSE;
    pInfo->SetType(FILE_TYPE_PNG);
    return TRUE;
}

BOOL FilePNGAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    const uint8_t* p = reader.Read(0);
    if (p == nullptr)
        return FALSE;
    if (memcmp(p + 12, "IHDR", 4) != 0 || static_cast<int32_t>(LoadBE32(p + 16)) <= 0 ||
        static_cast<int32_t>(LoadBE32(p + 20)) <= 0)
        return FALSE;
    uint64_t ullLength = LoadBE32(p + 8);
    uint64_t ullPos = 0;
    uint64_t ullStep = 20;
    // The header chunk at 8 was checked above.
    bool bHeader = true, bData = false, bEnd = false;
    for (;;) {
        ullPos += ullStep + ullLength;
        ullStep = 12;
        if (bEnd)
            break;
        if (ullPos > PNG_MAX_CHUNK)
            return FALSE;
        p = reader.Read(ullPos);
        if (p == nullptr)
            return FALSE;
        ullLength = LoadBE32(p);
        if (ullLength > PNG_MAX_CHUNK) {
            if (bHeader && bData)
                break;  // the image ends before this chunk
            return FALSE;
        }
        if (memcmp(p + 4, "IHDR", 4) == 0)
            bHeader = true;
        else if (memcmp(p + 4, "IDAT", 4) == 0)
            bData = true;
        else if (memcmp(p + 4, "IEND", 4) == 0)
            bEnd = true;
    }
    pInfo->SetSize(ullPos);
    return TRUE;
}

// ---- PSD ---------------------------------------------------------------------------------------

FilePSDAnalyser::FilePSDAnalyser()
{
    m_nFileType = FILE_TYPE_PSD;
}

void FilePSDAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add('8');
}

BOOL FilePSDAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, "8BPS", 4) != 0)
        return FALSE;
    pInfo->SetType(FILE_TYPE_PSD);
    return TRUE;
}

BOOL FilePSDAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    const uint8_t* p = reader.Read(0);
    if (p == nullptr)
        return FALSE;
    static const uint8_t s_Zero[6] = {};
    if (LoadBE16(p + 4) != 1 || memcmp(p + 6, s_Zero, 6) != 0)
        return FALSE;
    const uint64_t ullChannels = LoadBE16(p + 12);
    const uint64_t ullHeight = LoadBE32(p + 14);
    const uint64_t ullWidth = LoadBE32(p + 18);
    const uint64_t ullDepth = LoadBE16(p + 22);
    const uint64_t ullLimit = GetCarvedSizeLimit();

    // Colour-mode data, image resources, layer and mask information: each a length and its bytes.
    uint64_t ullPos = 30 + static_cast<uint64_t>(LoadBE32(p + 26));
    for (int nSection = 0; nSection < 2; ++nSection) {
        if ((p = reader.Read(ullPos)) == nullptr)
            return FALSE;
        ullPos += 4 + static_cast<uint64_t>(LoadBE32(p));
    }
    if ((p = reader.Read(ullPos)) == nullptr)
        return FALSE;
    const uint16_t nCompression = LoadBE16(p);
    ullPos += 2;

    uint64_t ullData = 0;
    if (nCompression == 0) {
        // 16-bit channels by 30000 x 30000 still fit 64 bits.
        ullData = ullChannels * ullHeight * ullWidth * ullDepth / 8;
    } else if (nCompression == 1) {
        // Run-length data: a 16-bit byte count per row of every channel, then the rows.
        const uint64_t ullRows = ullChannels * ullHeight;
        for (uint64_t r = 0; r < ullRows && ullPos <= ullLimit;) {
            size_t nValid = 0, nWindow = 0;
            const uint8_t* q = reader.Read(ullPos, &nValid, &nWindow);
            if (q == nullptr || nValid < 2)
                return FALSE;
            const uint64_t ullPairs = std::min<uint64_t>({(std::min<uint64_t>(nWindow, nValid - 1) + 1) / 2,
                                                          ullRows - r});
            for (uint64_t k = 0; k < ullPairs; ++k)
                ullData += LoadBE16(q + 2 * k);
            r += ullPairs;
            ullPos += 2 * ullPairs;
        }
    } else {
        return FALSE;
    }
    pInfo->SetSize(ullPos + ullData);
    return TRUE;
}

// ---- PSP ---------------------------------------------------------------------------------------

namespace {

const uint8_t s_PspSignature[32] = {'P', 'a', 'i', 'n', 't', ' ', 'S', 'h', 'o', 'p', ' ', 'P', 'r', 'o', ' ', 'I',
                                    'm', 'a', 'g', 'e', ' ', 'F', 'i', 'l', 'e', 0x0A, 0x1A, 0, 0, 0, 0, 0};
const uint8_t s_PspBlock[4] = {0x7E, 0x42, 0x4B, 0x00};

} // namespace

FilePSPAnalyser::FilePSPAnalyser()
{
    m_nFileType = FILE_TYPE_PSP;
}

void FilePSPAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add('P');
}

BOOL FilePSPAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (memcmp(pSector, s_PspSignature, sizeof(s_PspSignature)) != 0)
        return FALSE;
    pInfo->SetType(FILE_TYPE_PSP);
    return TRUE;
}

BOOL FilePSPAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    SectorWindowReader reader(pDevice, pInfo->GetStartSector());
    const uint8_t* p = reader.Read(0);
    if (p == nullptr)
        return FALSE;
    const uint64_t ullLimit = GetCarvedSizeLimit();
    uint64_t ullPos = 36;
    if ((p = reader.Read(ullPos)) == nullptr)
        return FALSE;
    while (memcmp(p, s_PspBlock, 4) == 0) {
        ullPos += 10 + static_cast<uint64_t>(LoadLE32(p + 6));
        if (ullPos > ullLimit)
            break;
        if ((p = reader.Read(ullPos)) == nullptr)
            return FALSE;
    }
    if (ullPos < 512)
        return FALSE;
    pInfo->SetSize(ullPos);
    return TRUE;
}

// ---- TIFF --------------------------------------------------------------------------------------

namespace {

const uint16_t TIFF_TAG_STRIP_OFFSETS = 273;
const uint16_t TIFF_TAG_STRIP_BYTE_COUNTS = 279;
const uint16_t TIFF_TAG_TILE_OFFSETS = 324;
const uint16_t TIFF_TAG_TILE_BYTE_COUNTS = 325;
const uint32_t TIFF_MAX_ENTRIES = 512;
// Image directories followed (pages of a multi-page file).
const int TIFF_MAX_DIRECTORIES = 64;

uint32_t TiffTypeSize(uint16_t nType)
{
    switch (nType) {
    case 3:   // SHORT
    case 8:   // SSHORT
        return 2;
    case 4:   // LONG
    case 9:   // SLONG
    case 11:  // FLOAT
    case 13:  // IFD
        return 4;
    case 5:   // RATIONAL
    case 10:  // SRATIONAL
    case 12:  // DOUBLE
        return 8;
    default:  // BYTE, ASCII, SBYTE, UNDEFINED and unknown types
        return 1;
    }
}

class CTiffWalk {
public:
    CTiffWalk(IStorageDevice* pDevice, uint64_t ullStart, bool bBigEndian)
        : m_Reader(pDevice, ullStart), m_bBig(bBigEndian), m_ullLimit(GetCarvedSizeLimit())
    {
    }

    uint16_t U16(const uint8_t* p) const { return m_bBig ? LoadBE16(p) : LoadLE16(p); }
    uint32_t U32(const uint8_t* p) const { return m_bBig ? LoadBE32(p) : LoadLE32(p); }

    // Reads an offset or count array: one value in the entry itself, else nCount values at the
    // offset the entry gives. Empty on a read failure.
    bool ReadValues(uint16_t nType, uint32_t nCount, const uint8_t* pValueField, std::vector<uint64_t>& values)
    {
        values.clear();
        const uint32_t nSize = nType == 3 ? 2 : 4;
        if (nCount == 0)
            return true;
        if (static_cast<uint64_t>(nCount) * nSize <= 4) {
            for (uint32_t i = 0; i < nCount; ++i)
                values.push_back(nSize == 2 ? U16(pValueField + 2 * i) : U32(pValueField));
            return true;
        }
        const uint64_t ullBytes = static_cast<uint64_t>(nCount) * nSize;
        if (ullBytes > SectorWindowReader::WINDOW_BYTES)
            return false;
        const uint8_t* p = m_Reader.ReadSpan(U32(pValueField), static_cast<size_t>(ullBytes));
        if (p == nullptr)
            return false;
        values.reserve(nCount);
        for (uint32_t i = 0; i < nCount; ++i)
            values.push_back(nSize == 2 ? U16(p + 2 * i) : U32(p + 4 * i));
        return true;
    }

    uint64_t Measure()
    {
        const uint8_t* p = m_Reader.Read(0);
        if (p == nullptr)
            return 0;
        uint64_t ullIfd = U32(p + 4);
        uint64_t ullEnd = 8, ullSum = 0;
        for (int nDir = 0; nDir < TIFF_MAX_DIRECTORIES && ullIfd != 0; ++nDir) {
            if (ullIfd > m_ullLimit)
                return nDir == 0 ? 0 : std::max(ullEnd, ullSum);
            p = m_Reader.ReadSpan(ullIfd, 2);
            if (p == nullptr)
                return 0;
            const uint32_t nEntries = U16(p);
            if (nEntries > TIFF_MAX_ENTRIES)
                return nDir == 0 ? 0 : std::max(ullEnd, ullSum);
            const size_t nDirBytes = 2 + 12 * static_cast<size_t>(nEntries) + 4;
            p = m_Reader.ReadSpan(ullIfd, nDirBytes);
            if (p == nullptr)
                return 0;
            // Copy the directory: reading its value arrays re-bases the window.
            std::vector<uint8_t> dir(p, p + nDirBytes);
            ullEnd = std::max(ullEnd, ullIfd + nDirBytes);
            std::vector<uint64_t> offsets, counts, values;
            for (uint32_t e = 0; e < nEntries; ++e) {
                const uint8_t* pEntry = dir.data() + 2 + 12 * e;
                const uint16_t nTag = U16(pEntry);
                const uint16_t nType = U16(pEntry + 2);
                const uint32_t nCount = U32(pEntry + 4);
                // Values that do not fit the entry lie elsewhere in the file, often after the pixels.
                const uint64_t ullValueBytes = static_cast<uint64_t>(nCount) * TiffTypeSize(nType);
                if (ullValueBytes > 4)
                    ullEnd = std::max(ullEnd, static_cast<uint64_t>(U32(pEntry + 8)) + ullValueBytes);
                const bool bOffsets = nTag == TIFF_TAG_STRIP_OFFSETS || nTag == TIFF_TAG_TILE_OFFSETS;
                const bool bCounts = nTag == TIFF_TAG_STRIP_BYTE_COUNTS || nTag == TIFF_TAG_TILE_BYTE_COUNTS;
                if (!bOffsets && !bCounts)
                    continue;
                if (!ReadValues(nType, nCount, pEntry + 8, values))
                    return 0;
                (bOffsets ? offsets : counts) = values;
            }
            const size_t nStrips = std::min(offsets.size(), counts.size());
            for (size_t i = 0; i < nStrips; ++i) {
                ullSum += counts[i];
                ullEnd = std::max(ullEnd, offsets[i] + counts[i]);
            }
            const uint64_t ullNext = U32(dir.data() + 2 + 12 * static_cast<size_t>(nEntries));
            // Directories must move forward or backward to a new place; a loop ends the walk.
            if (ullNext == ullIfd)
                break;
            ullIfd = ullNext;
        }
        return std::max(ullEnd, ullSum);
    }

private:
    SectorWindowReader m_Reader;
    bool m_bBig;
    uint64_t m_ullLimit;
};

} // namespace

uint64_t MeasureTiff(IStorageDevice* pDevice, uint64_t ullStartSector, bool bBigEndian)
{
    CTiffWalk walk(pDevice, ullStartSector, bBigEndian);
    return walk.Measure();
}

FileTIFAnalyser::FileTIFAnalyser()
{
    m_nFileType = FILE_TYPE_TIF;
}

void FileTIFAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add('I');
    pSet->Add('M');
}

BOOL FileTIFAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    static const uint8_t s_Big[4] = {0x4D, 0x4D, 0x00, 0x2A};
    static const uint8_t s_Little[4] = {0x49, 0x49, 0x2A, 0x00};
    if (memcmp(pSector, s_Big, 4) != 0 && memcmp(pSector, s_Little, 4) != 0)
        return FALSE;
    pInfo->SetType(FILE_TYPE_TIF);
    return TRUE;
}

BOOL FileTIFAnalyser::AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
{
    uint8_t sector[512];
    if (pDevice == nullptr || pDevice->ReadSectors(sector, pInfo->GetStartSector(), 1) == 0)
        return FALSE;
    if (sector[0] == 0x49 && sector[1] == 0x49 && sector[2] == 0x2A && sector[3] == 0x00)
        pInfo->SetSize(MeasureTiff(pDevice, pInfo->GetStartSector(), false));
    else if (sector[0] == 0x4D && sector[1] == 0x4D && sector[2] == 0x00 && sector[3] == 0x2A)
        pInfo->SetSize(MeasureTiff(pDevice, pInfo->GetStartSector(), true));
    return TRUE;
}

// ---- ICO and CUR -------------------------------------------------------------------------------

FileICOAnalyser::FileICOAnalyser()
{
    m_nFileType = FILE_TYPE_ICO;
}

void FileICOAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x00);
}

BOOL FileICOAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    if (pSector[0] != 0 || pSector[1] != 0 || (pSector[2] != 1 && pSector[2] != 2) || pSector[3] != 0)
        return FALSE;
    const uint16_t nImages = LoadLE16(pSector + 4);
    if (nImages < 1 || nImages > 16)
        return FALSE;
    uint64_t ullSize = 6;
    uint64_t ullEnd = 6 + 16ull * nImages;
    for (uint16_t i = 0; i < nImages; ++i) {
        const uint8_t* e = pSector + 6 + 16 * i;
        const uint32_t nImageSize = LoadLE32(e + 8);
        const uint32_t nImageOffset = LoadLE32(e + 12);
        if (e[0] == 0 || e[1] == 0 || e[3] != 0 || LoadLE16(e + 6) > 256 || nImageSize >= 0xA00001 ||
            nImageOffset >= 0xA00001)
            return FALSE;
        ullSize += 16 + static_cast<uint64_t>(nImageSize);
        ullEnd = std::max<uint64_t>(ullEnd, static_cast<uint64_t>(nImageOffset) + nImageSize);
    }
    // Images normally follow the directory back to back; one placed further out extends the file.
    ullSize = std::max(ullSize, ullEnd);
    pInfo->SetType(LoadLE16(pSector + 2) == 2 ? FILE_TYPE_CUR : FILE_TYPE_ICO);
    if (ullSize >= 0x100001)
        return FALSE;
    pInfo->SetSize(ullSize);
    return TRUE;
}

// ---- WMF ---------------------------------------------------------------------------------------

FileWMFAnalyser::FileWMFAnalyser()
{
    m_nFileType = FILE_TYPE_WMF;
}

void FileWMFAnalyser::GetLeadBytes(LEAD_BYTE_SET* pSet)
{
    pSet->Clear();
    pSet->Add(0x01);
    pSet->Add(0xD7);
}

BOOL FileWMFAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    uint64_t ullSize = 0;
    if (pSector[0] == 0x01 && pSector[1] == 0x00 && pSector[2] == 0x09 && pSector[3] == 0x00) {
        if (LoadLE16(pSector + 16) != 0)
            return FALSE;
        ullSize = static_cast<uint64_t>(LoadLE32(pSector + 6)) * 2;
    } else if (pSector[0] == 0xD7 && pSector[1] == 0xCD && pSector[2] == 0xC6 && pSector[3] == 0x9A) {
        uint16_t nChecksum = 0;
        for (int i = 0; i < 10; ++i)
            nChecksum ^= LoadLE16(pSector + 2 * i);
        if (nChecksum != LoadLE16(pSector + 20) || LoadLE16(pSector + 4) != 0 || LoadLE32(pSector + 16) != 0 ||
            LoadLE32(pSector + 22) != 0x00090001 || LoadLE16(pSector + 38) != 0)
            return FALSE;
        ullSize = 22 + static_cast<uint64_t>(LoadLE32(pSector + 28)) * 2;
    } else {
        return FALSE;
    }
    // A metafile stating no length, or more than any carved file may have, is not believed.
    if (ullSize == 0 || ullSize > GetCarvedSizeLimit())
        return FALSE;
    pInfo->SetType(FILE_TYPE_WMF);
    pInfo->SetSize(ullSize);
    return TRUE;
}

BOOL FileJPGAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // FF D8: the start-of-image marker.
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add(0xD8);
    return TRUE;
}

BOOL FileTIFAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "II" or "MM": the byte order.
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('I');
    pSet->Add('M');
    return TRUE;
}

BOOL FileICOAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The resource type: 1 icon, 2 cursor.
    *pnOffset = 2;
    pSet->Clear();
    pSet->Add(0x01);
    pSet->Add(0x02);
    return TRUE;
}

BOOL FileWMFAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // 01 00 09 00 (standard) or D7 CD C6 9A (placeable).
    *pnOffset = 2;
    pSet->Clear();
    pSet->Add(0x09);
    pSet->Add(0xC6);
    return TRUE;
}

BOOL FilePNGAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // The signature 89 "PNG".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('P');
    return TRUE;
}

BOOL FilePSPAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "Paint Shop Pro Image File".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('a');
    return TRUE;
}

BOOL FilePSDAnalyser::GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
{
    // "8BPS".
    *pnOffset = 1;
    pSet->Clear();
    pSet->Add('B');
    return TRUE;
}
