#include "SourceReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "DiskDevice.h"
#include "IStorageDevice.h"

namespace tessary {

namespace {

constexpr uint64_t SECTOR_BYTES = 512;

// Piece sizes of the retries after a failed read: 64 KiB, then single 512-byte sectors.
const size_t RETRY_PIECES[] = {65536, 512};
constexpr int RETRY_LEVELS = sizeof(RETRY_PIECES) / sizeof(RETRY_PIECES[0]);

// Largest read handed to an engine device at once: its disks refuse more than 8192 sectors.
constexpr uint64_t DEVICE_READ_SECTORS = 2048;

} // namespace

std::string DiskName(DWORD dwDisk)
{
    return "disk " + std::to_string(dwDisk);
}

std::string DriveName(char chLetter)
{
    return std::string("drive ") + chLetter + ":";
}

void AddMemberDiskAreas(const VOLUME_SOURCE& source, std::vector<BAD_RANGE>* pvecBad)
{
    for (const MEMBER_EXTENT& member : source.vecMembers) {
        const uint64_t ullEnd = member.ullStart + member.ullSectors;
        for (const BAD_SECTOR_RANGE& area : member.pDisk->GetSectorReader().GetBadSectorRanges()) {
            if (area.i64StartOffset < 0 || area.i64EndOffset <= area.i64StartOffset)
                continue;
            const uint64_t ullFirst = std::max(member.ullStart, static_cast<uint64_t>(area.i64StartOffset));
            const uint64_t ullLast = std::min(ullEnd, static_cast<uint64_t>(area.i64EndOffset));
            if (ullFirst >= ullLast)
                continue;
            BAD_RANGE bad;
            bad.strDevice = DiskName(static_cast<DWORD>(member.pDisk->GetDiskNumber()));
            bad.ullOffset = ullFirst * SECTOR_BYTES;
            bad.ullBytes = (ullLast - ullFirst) * SECTOR_BYTES;
            bad.nReason = BAD_RANGE_MEMBER_AREA;
            AddBadRange(pvecBad, bad);
        }
    }
}

void AddBadRange(std::vector<BAD_RANGE>* pvecBad, const BAD_RANGE& range)
{
    if (range.ullBytes == 0)
        return;
    if (!pvecBad->empty()) {
        BAD_RANGE& last = pvecBad->back();
        if (last.nReason == range.nReason && last.nError == range.nError &&
            last.ullOffset + last.ullBytes == range.ullOffset && last.strDevice == range.strDevice) {
            last.ullBytes += range.ullBytes;
            return;
        }
    }
    pvecBad->push_back(range);
}

CSourceReader::CSourceReader() = default;
CSourceReader::~CSourceReader() = default;

CSourceReader::DEVICE_SLOT* CSourceReader::DiskSlot(DWORD dwDisk)
{
    auto it = m_Disks.find(dwDisk);
    if (it != m_Disks.end())
        return it->second.get();
    auto pSlot = std::make_unique<DEVICE_SLOT>();
    if (dwDisk >= static_cast<DWORD>(rvdplat::kMaxPhysicalDrives))
        pSlot->nOpenError = ENODEV;
    else if (!pSlot->Device.OpenPhysicalDrive(static_cast<int>(dwDisk)))
        pSlot->nOpenError = errno != 0 ? errno : ENODEV;
    else if (!pSlot->Device.GetLengthInfo(&pSlot->ullLength))
        pSlot->ullLength = UINT64_MAX;
    DEVICE_SLOT* p = pSlot.get();
    m_Disks.emplace(dwDisk, std::move(pSlot));
    return p;
}

CSourceReader::DEVICE_SLOT* CSourceReader::LetterSlot(char chLetter)
{
    auto it = m_Letters.find(chLetter);
    if (it != m_Letters.end())
        return it->second.get();
    auto pSlot = std::make_unique<DEVICE_SLOT>();
    if (!pSlot->Device.OpenVolume(chLetter))
        pSlot->nOpenError = errno != 0 ? errno : ENODEV;
    else if (!pSlot->Device.GetLengthInfo(&pSlot->ullLength))
        pSlot->ullLength = UINT64_MAX;
    DEVICE_SLOT* p = pSlot.get();
    m_Letters.emplace(chLetter, std::move(pSlot));
    return p;
}

bool CSourceReader::Read(const VOLUME_SOURCE& source, uint64_t ullOffset, uint8_t* pBuffer, size_t nBytes,
                         std::vector<BAD_RANGE>* pvecBad)
{
    if (nBytes == 0)
        return true;
    BAD_RANGE bad;
    bad.strDevice = source.strName;
    bad.ullOffset = ullOffset;
    bad.ullBytes = nBytes;
    if (ullOffset > UINT64_MAX - nBytes) {
        std::memset(pBuffer, 0, nBytes);
        bad.ullOffset = ullOffset / SECTOR_BYTES;
        bad.nReason = BAD_RANGE_BAD_POSITION;
        AddBadRange(pvecBad, bad);
        return false;
    }
    switch (source.nKind) {
    case SOURCE_DISK_WINDOW:
        return ReadWindow(source, ullOffset, pBuffer, nBytes, pvecBad);
    case SOURCE_DRIVE_LETTER:
        return ReadRaw(LetterSlot(source.chLetter), source.strName, ullOffset, pBuffer, nBytes, pvecBad);
    case SOURCE_DEVICE:
        if (source.pDevice != nullptr)
            return ReadDevice(source, ullOffset, pBuffer, nBytes, pvecBad);
        break;
    default:
        break;
    }
    std::memset(pBuffer, 0, nBytes);
    bad.nReason = BAD_RANGE_NO_DISK;
    bad.nError = ENODEV;
    AddBadRange(pvecBad, bad);
    return false;
}

bool CSourceReader::SkipPastEnd(const VOLUME_SOURCE& source, uint64_t ullOffset, uint64_t ullBytes,
                                std::vector<BAD_RANGE>* pvecBad)
{
    if (ullBytes == 0 || ullOffset > UINT64_MAX - ullBytes)
        return false;
    BAD_RANGE bad;
    bad.strDevice = source.strName;
    bad.ullOffset = ullOffset;
    bad.ullBytes = ullBytes;
    bad.nReason = BAD_RANGE_PAST_END;
    switch (source.nKind) {
    case SOURCE_DISK_WINDOW: {
        uint64_t ullStartBytes = 0, ullDiskOffset = 0;
        if (__builtin_mul_overflow(source.ullStart, SECTOR_BYTES, &ullStartBytes) ||
            __builtin_add_overflow(ullStartBytes, ullOffset, &ullDiskOffset) || ullDiskOffset > UINT64_MAX - ullBytes)
            return false;
        bad.strDevice = DiskName(source.dwDisk);
        bad.ullOffset = ullDiskOffset;
        uint64_t ullWindowBytes = UINT64_MAX;
        if (source.ullSectors != UINT64_MAX && __builtin_mul_overflow(source.ullSectors, SECTOR_BYTES, &ullWindowBytes))
            ullWindowBytes = UINT64_MAX;
        if (ullOffset >= ullWindowBytes) {
            bad.nReason = BAD_RANGE_PAST_VOLUME;
            break;
        }
        const DEVICE_SLOT* pSlot = DiskSlot(source.dwDisk);
        if (pSlot->nOpenError != 0 || ullDiskOffset < pSlot->ullLength)
            return false;
        break;
    }
    case SOURCE_DRIVE_LETTER: {
        const DEVICE_SLOT* pSlot = LetterSlot(source.chLetter);
        if (pSlot->nOpenError != 0 || ullOffset < pSlot->ullLength)
            return false;
        break;
    }
    case SOURCE_DEVICE:
        if (source.pDevice == nullptr || ullOffset / SECTOR_BYTES < source.pDevice->GetTotalSectors())
            return false;
        break;
    default:
        return false;
    }
    AddBadRange(pvecBad, bad);
    return true;
}

bool CSourceReader::ReadRaw(DEVICE_SLOT* pSlot, const std::string& strDevice, uint64_t ullOffset, uint8_t* pBuffer,
                            size_t nBytes, std::vector<BAD_RANGE>* pvecBad)
{
    if (pSlot->nOpenError != 0) {
        std::memset(pBuffer, 0, nBytes);
        BAD_RANGE bad;
        bad.strDevice = strDevice;
        bad.ullOffset = ullOffset;
        bad.ullBytes = nBytes;
        bad.nReason = BAD_RANGE_NO_DISK;
        bad.nError = pSlot->nOpenError;
        AddBadRange(pvecBad, bad);
        return false;
    }
    return ReadPieces(pSlot->Device, strDevice, ullOffset, pBuffer, nBytes, 0, pvecBad);
}

bool CSourceReader::ReadWindow(const VOLUME_SOURCE& source, uint64_t ullOffset, uint8_t* pBuffer, size_t nBytes,
                               std::vector<BAD_RANGE>* pvecBad)
{
    const std::string strDisk = DiskName(source.dwDisk);
    uint64_t ullStartBytes = 0, ullDiskOffset = 0;
    if (__builtin_mul_overflow(source.ullStart, SECTOR_BYTES, &ullStartBytes) ||
        __builtin_add_overflow(ullStartBytes, ullOffset, &ullDiskOffset) || ullDiskOffset > UINT64_MAX - nBytes) {
        std::memset(pBuffer, 0, nBytes);
        BAD_RANGE bad;
        bad.strDevice = strDisk;
        bad.ullOffset = ullOffset / SECTOR_BYTES;
        bad.ullBytes = nBytes;
        bad.nReason = BAD_RANGE_BAD_POSITION;
        AddBadRange(pvecBad, bad);
        return false;
    }
    // What lies past the window's end is another volume's or no one's: never read for this one.
    uint64_t ullWindowBytes = UINT64_MAX;
    if (source.ullSectors != UINT64_MAX && __builtin_mul_overflow(source.ullSectors, SECTOR_BYTES, &ullWindowBytes))
        ullWindowBytes = UINT64_MAX;
    size_t nInside = nBytes;
    if (ullOffset >= ullWindowBytes)
        nInside = 0;
    else if (ullWindowBytes - ullOffset < nBytes)
        nInside = static_cast<size_t>(ullWindowBytes - ullOffset);
    bool bAll = true;
    if (nInside > 0)
        bAll = ReadRaw(DiskSlot(source.dwDisk), strDisk, ullDiskOffset, pBuffer, nInside, pvecBad);
    if (nInside < nBytes) {
        std::memset(pBuffer + nInside, 0, nBytes - nInside);
        BAD_RANGE bad;
        bad.strDevice = strDisk;
        bad.ullOffset = ullDiskOffset + nInside;
        bad.ullBytes = nBytes - nInside;
        bad.nReason = BAD_RANGE_PAST_VOLUME;
        AddBadRange(pvecBad, bad);
        bAll = false;
    }
    return bAll;
}

bool CSourceReader::ReadDevice(const VOLUME_SOURCE& source, uint64_t ullOffset, uint8_t* pBuffer, size_t nBytes,
                               std::vector<BAD_RANGE>* pvecBad)
{
    const uint64_t ullFirst = ullOffset / SECTOR_BYTES;
    const uint64_t ullEndByte = ullOffset + nBytes;
    const uint64_t ullEnd = ullEndByte / SECTOR_BYTES + (ullEndByte % SECTOR_BYTES != 0 ? 1 : 0);
    const size_t nSkip = static_cast<size_t>(ullOffset % SECTOR_BYTES);
    if (nSkip == 0 && nBytes % SECTOR_BYTES == 0)
        return ReadDeviceSectors(source, ullFirst, pBuffer, ullEnd - ullFirst, pvecBad);
    m_vecScratch.resize(static_cast<size_t>((ullEnd - ullFirst) * SECTOR_BYTES));
    const bool bAll = ReadDeviceSectors(source, ullFirst, m_vecScratch.data(), ullEnd - ullFirst, pvecBad);
    std::memcpy(pBuffer, m_vecScratch.data() + nSkip, nBytes);
    return bAll;
}

bool CSourceReader::ReadDeviceSectors(const VOLUME_SOURCE& source, uint64_t ullSector, uint8_t* pBuffer,
                                      uint64_t ullCount, std::vector<BAD_RANGE>* pvecBad)
{
    const uint64_t ullTotal = source.pDevice->GetTotalSectors();
    const uint64_t ullInside = ullSector >= ullTotal ? 0 : std::min(ullCount, ullTotal - ullSector);
    bool bAll = true;
    for (uint64_t ullDone = 0; ullDone < ullInside;) {
        const uint64_t ullPiece = std::min(DEVICE_READ_SECTORS, ullInside - ullDone);
        if (!ReadDevicePieces(source, ullSector + ullDone, pBuffer + ullDone * SECTOR_BYTES, ullPiece, 0, pvecBad))
            bAll = false;
        ullDone += ullPiece;
    }
    if (ullInside < ullCount) {
        std::memset(pBuffer + ullInside * SECTOR_BYTES, 0, static_cast<size_t>((ullCount - ullInside) * SECTOR_BYTES));
        BAD_RANGE bad;
        bad.strDevice = source.strName;
        bad.ullOffset = (ullSector + ullInside) * SECTOR_BYTES;
        bad.ullBytes = (ullCount - ullInside) * SECTOR_BYTES;
        bad.nReason = BAD_RANGE_PAST_END;
        AddBadRange(pvecBad, bad);
        bAll = false;
    }
    return bAll;
}

bool CSourceReader::ReadDevicePieces(const VOLUME_SOURCE& source, uint64_t ullSector, uint8_t* pBuffer,
                                     uint64_t ullCount, int nLevel, std::vector<BAD_RANGE>* pvecBad)
{
    if (source.pDevice->ReadSectors(pBuffer, ullSector, ullCount) != 0)
        return true;
    while (nLevel < RETRY_LEVELS && RETRY_PIECES[nLevel] / SECTOR_BYTES >= ullCount)
        ++nLevel;
    if (nLevel >= RETRY_LEVELS) {
        std::memset(pBuffer, 0, static_cast<size_t>(ullCount * SECTOR_BYTES));
        BAD_RANGE bad;
        bad.strDevice = source.strName;
        bad.ullOffset = ullSector * SECTOR_BYTES;
        bad.ullBytes = ullCount * SECTOR_BYTES;
        bad.nReason = BAD_RANGE_UNREADABLE;
        AddBadRange(pvecBad, bad);
        return false;
    }
    const uint64_t ullPiece = RETRY_PIECES[nLevel] / SECTOR_BYTES;
    bool bAll = true;
    for (uint64_t ullDone = 0; ullDone < ullCount; ullDone += ullPiece) {
        const uint64_t n = std::min(ullPiece, ullCount - ullDone);
        if (!ReadDevicePieces(source, ullSector + ullDone, pBuffer + ullDone * SECTOR_BYTES, n, nLevel + 1, pvecBad))
            bAll = false;
    }
    return bAll;
}

bool CSourceReader::ReadPieces(const rvdplat::CRawDevice& device, const std::string& strDevice, uint64_t ullOffset,
                               uint8_t* pBuffer, size_t nBytes, int nLevel, std::vector<BAD_RANGE>* pvecBad)
{
    const int64_t nRead = device.ReadAt(ullOffset, pBuffer, nBytes);
    if (nRead >= 0 && static_cast<uint64_t>(nRead) == nBytes)
        return true;
    BAD_RANGE bad;
    bad.strDevice = strDevice;
    if (nRead >= 0) {
        // A short read happens only at the end of the device.
        const size_t nGot = static_cast<size_t>(nRead);
        std::memset(pBuffer + nGot, 0, nBytes - nGot);
        bad.ullOffset = ullOffset + nGot;
        bad.ullBytes = nBytes - nGot;
        bad.nReason = BAD_RANGE_PAST_END;
        AddBadRange(pvecBad, bad);
        return false;
    }
    // Find the unreadable part by reading again in smaller pieces.
    while (nLevel < RETRY_LEVELS && RETRY_PIECES[nLevel] >= nBytes)
        ++nLevel;
    if (nLevel >= RETRY_LEVELS) {
        std::memset(pBuffer, 0, nBytes);
        bad.ullOffset = ullOffset;
        bad.ullBytes = nBytes;
        bad.nReason = BAD_RANGE_UNREADABLE;
        AddBadRange(pvecBad, bad);
        return false;
    }
    const size_t nPiece = RETRY_PIECES[nLevel];
    bool bAll = true;
    for (size_t nDone = 0; nDone < nBytes; nDone += nPiece) {
        const size_t n = nBytes - nDone < nPiece ? nBytes - nDone : nPiece;
        if (!ReadPieces(device, strDevice, ullOffset + nDone, pBuffer + nDone, n, nLevel + 1, pvecBad))
            bAll = false;
    }
    return bAll;
}

} // namespace tessary
