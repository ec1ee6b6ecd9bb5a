#include "SourceReader.h"

#include <cerrno>
#include <cstring>

namespace tessary {

namespace {

// Piece sizes of the retries after a failed read: 64 KiB, then single 512-byte sectors.
const size_t RETRY_PIECES[] = {65536, 512};
constexpr int RETRY_LEVELS = sizeof(RETRY_PIECES) / sizeof(RETRY_PIECES[0]);

} // namespace

void AddBadRange(std::vector<BAD_RANGE>* pvecBad, const BAD_RANGE& range)
{
    if (range.ullBytes == 0)
        return;
    if (!pvecBad->empty()) {
        BAD_RANGE& last = pvecBad->back();
        if (last.dwDisk == range.dwDisk && last.nReason == range.nReason && last.nError == range.nError &&
            last.ullOffset + last.ullBytes == range.ullOffset) {
            last.ullBytes += range.ullBytes;
            return;
        }
    }
    pvecBad->push_back(range);
}

CSourceReader::CSourceReader() = default;
CSourceReader::~CSourceReader() = default;

CSourceReader::DEVICE_SLOT* CSourceReader::Slot(DWORD dwDisk)
{
    auto it = m_Devices.find(dwDisk);
    if (it != m_Devices.end())
        return it->second.get();
    auto pSlot = std::make_unique<DEVICE_SLOT>();
    if (dwDisk >= static_cast<DWORD>(rvdplat::kMaxPhysicalDrives))
        pSlot->nOpenError = ENODEV;
    else if (!pSlot->Device.OpenPhysicalDrive(static_cast<int>(dwDisk)))
        pSlot->nOpenError = errno != 0 ? errno : ENODEV;
    DEVICE_SLOT* p = pSlot.get();
    m_Devices.emplace(dwDisk, std::move(pSlot));
    return p;
}

bool CSourceReader::Read(DWORD dwDisk, uint64_t ullOffset, uint8_t* pBuffer, size_t nBytes,
                         std::vector<BAD_RANGE>* pvecBad)
{
    if (nBytes == 0)
        return true;
    BAD_RANGE bad;
    bad.dwDisk = dwDisk;
    bad.ullOffset = ullOffset;
    bad.ullBytes = nBytes;
    if (ullOffset > UINT64_MAX - nBytes) {
        std::memset(pBuffer, 0, nBytes);
        bad.ullOffset = ullOffset / 512;
        bad.nReason = BAD_RANGE_BAD_POSITION;
        AddBadRange(pvecBad, bad);
        return false;
    }
    DEVICE_SLOT* pSlot = Slot(dwDisk);
    if (pSlot->nOpenError != 0) {
        std::memset(pBuffer, 0, nBytes);
        bad.nReason = BAD_RANGE_NO_DISK;
        bad.nError = pSlot->nOpenError;
        AddBadRange(pvecBad, bad);
        return false;
    }
    return ReadPieces(pSlot->Device, dwDisk, ullOffset, pBuffer, nBytes, 0, pvecBad);
}

bool CSourceReader::ReadPieces(const rvdplat::CRawDevice& device, DWORD dwDisk, uint64_t ullOffset,
                               uint8_t* pBuffer, size_t nBytes, int nLevel, std::vector<BAD_RANGE>* pvecBad)
{
    const int64_t nRead = device.ReadAt(ullOffset, pBuffer, nBytes);
    if (nRead >= 0 && static_cast<uint64_t>(nRead) == nBytes)
        return true;
    BAD_RANGE bad;
    bad.dwDisk = dwDisk;
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
        if (!ReadPieces(device, dwDisk, ullOffset + nDone, pBuffer + nDone, n, nLevel + 1, pvecBad))
            bAll = false;
    }
    return bAll;
}

} // namespace tessary
