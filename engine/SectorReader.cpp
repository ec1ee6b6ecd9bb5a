#include "SectorReader.h"

#include <cinttypes>
#include <cstring>

#include "AutoLock.h"
#include "Veskel.h"

namespace {

const uint64_t kUnitBytes = 512;

void ZeroFill(void* pBuffer, size_t nBytes)
{
    if (nBytes > 0)
        memset(pBuffer, 0, nBytes);
}

} // namespace

CSectorReader::CSectorReader() {}

CSectorReader::~CSectorReader()
{
    CAutoLock lock(m_Lock.GetSection());
    m_BadSectorRanges.clear();
}

int CSectorReader::ReadSector(const rvdplat::CRawDevice& device, void* pBuffer, uint64_t u64Start,
                              uint64_t u64Count, int nIgnoreBadSectors)
{
    if (u64Count > kMaxSectorsPerRead)
        return 0;
    const size_t nBytes = static_cast<size_t>(u64Count * kUnitBytes);
    if (!device.IsOpen()) {
        ZeroFill(pBuffer, nBytes);
        return 0;
    }
    if (u64Count == 0)
        return 1;
    // No device has a byte offset beyond 64 bits; such a request is a caller's error, not a
    // bad sector, and must not be remembered as one.
    if (u64Start > UINT64_MAX / kUnitBytes - u64Count) {
        ZeroFill(pBuffer, nBytes);
        LogInfo("ReadSector sector %" PRIu64 " count %" PRIu64 " lies beyond any device\n", u64Start,
                u64Count);
        return 0;
    }
    if (nIgnoreBadSectors != 0 && IsInBadSectorRange(u64Start, u64Start + u64Count)) {
        ZeroFill(pBuffer, nBytes);
        return 1;
    }

    const int64_t nRead = device.ReadAt(u64Start * kUnitBytes, pBuffer, nBytes);
    if (nRead == static_cast<int64_t>(nBytes))
        return 1;

    if (nRead >= 0) {
        // The medium ends inside the request: what lies before its end is good data, and the
        // space after it is no damaged area to remember.
        ZeroFill(static_cast<char*>(pBuffer) + nRead, nBytes - static_cast<size_t>(nRead));
        if (nIgnoreBadSectors == 0) {
            LogInfo("ReadSector read past the end of the device at sector %" PRIu64 ", not ignored\n",
                    u64Start + static_cast<uint64_t>(nRead) / kUnitBytes);
            return 0;
        }
        return 1;
    }

    // A failed read leaves nothing trustworthy in the buffer.
    ZeroFill(pBuffer, nBytes);
    if (nIgnoreBadSectors == 0) {
        LogInfo("ReadSector find bad sector , not ignored\n");
        return 0;
    }
    UpdateBadSector(device, u64Start, kProbeUnitSectors, kProbeMinUnits, kProbeStartUnits);
    return 1;
}

bool CSectorReader::IsInBadSectorRange(uint64_t u64First, uint64_t u64End)
{
    CAutoLock lock(m_Lock.GetSection());
    if (m_BadSectorRanges.empty())
        return false;
    // Half-open on both sides: a request ending where an area begins, or beginning where it
    // ends, holds only good sectors.
    const int64_t i64First = static_cast<int64_t>(u64First);
    const int64_t i64End = static_cast<int64_t>(u64End);
    for (const BAD_SECTOR_RANGE& range : m_BadSectorRanges) {
        if (i64First < range.i64EndOffset && i64End > range.i64StartOffset)
            return true;
    }
    return false;
}

int CSectorReader::AddBadSectorRange(const BAD_SECTOR_RANGE& range)
{
    CAutoLock lock(m_Lock.GetSection());
    m_BadSectorRanges.push_back(range);
    return 0;
}

void CSectorReader::UpdateBadSector(const rvdplat::CRawDevice& device, uint64_t u64Start, uint32_t nUnitSectors,
                                    uint32_t nMinUnits, uint32_t nStartUnits)
{
    LogInfo("UpdateBadSector start = %" PRId64 "\n", static_cast<int64_t>(u64Start));
    // ReadSector only passes starts whose byte offset fits 64 bits, so every sector below stays
    // far inside the signed range.
    uint64_t u64End = u64Start + static_cast<uint64_t>(nUnitSectors) * nMinUnits;
    if (!device.IsOpen())
        return;

    const size_t nProbeBytes = static_cast<size_t>(nUnitSectors) * kUnitBytes;
    char* pProbe = AllocBuffer(nProbeBytes);
    bool bFound = false;
    uint32_t n = nStartUnits;
    while (n > nMinUnits) {
        LogInfo("UpdateBadSector nBadSectorUnitCount = %d\n", static_cast<int>(n));
        const uint64_t u64Probe = u64Start + static_cast<uint64_t>(n) * nUnitSectors;
        const int64_t nRead = device.ReadAt(u64Probe * kUnitBytes, pProbe, nProbeBytes);
        if (nRead != static_cast<int64_t>(nProbeBytes)) {
            u64End = u64Probe;
            bFound = true;
            break;
        }
        n >>= 1;
        if (n < nMinUnits) {
            n = nMinUnits;
            u64End = u64Start + static_cast<uint64_t>(nMinUnits) * nUnitSectors;
            bFound = true;
            break;
        }
    }
    if (bFound) {
        LogInfo("UpdateBadSector find bad sector i64StartOffset = %" PRId64 ", i64EndOffset = %" PRId64 "\n",
                static_cast<int64_t>(u64Start), static_cast<int64_t>(u64End));
    }
    BAD_SECTOR_RANGE range;
    range.i64StartOffset = static_cast<int64_t>(u64Start);
    range.i64EndOffset = static_cast<int64_t>(u64End);
    AddBadSectorRange(range);
    FreeBuffer(pProbe);
}

std::vector<BAD_SECTOR_RANGE> CSectorReader::GetBadSectorRanges()
{
    CAutoLock lock(m_Lock.GetSection());
    return std::vector<BAD_SECTOR_RANGE>(m_BadSectorRanges.begin(), m_BadSectorRanges.end());
}
