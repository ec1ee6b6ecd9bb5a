#include "Ext2TimeConverter.h"

#include "Ext2Inode.h"
#include "Time.h"

namespace {

const int64_t kSecondsPerHour = 3600;

// Ticks of a moment in UTC (no zone): the reading the shift is measured against.
int64_t UtcTicks(int64_t nSeconds)
{
    return nSeconds * static_cast<int64_t>(rvd::kFileTimeTicksPerSecond) +
           static_cast<int64_t>(rvd::kFileTimeUnixEpoch);
}

} // namespace

void CExt2TimeConverter::Clear()
{
    for (HOUR& hour : m_aHours)
        hour = HOUR{-1, 0, false};
}

FILETIME CExt2TimeConverter::Convert(uint32_t nSeconds)
{
    // Zero or negative as a signed 32-bit value: both conversions turn it into moment 0.
    const int32_t nSigned = static_cast<int32_t>(nSeconds);
    const int64_t nMoment = nSigned > 0 ? nSigned : 0;
    const int64_t nHour = nMoment / kSecondsPerHour;
    HOUR& hour = m_aHours[static_cast<uint64_t>(nHour) % kHours];
    if (hour.nHour != nHour) {
        const int64_t nFirst = nHour * kSecondsPerHour;
        const int64_t nLast = nFirst + kSecondsPerHour - 1;
        const FILETIME ftFirst = CExt2Inode::TimeToFileTime(static_cast<uint32_t>(nFirst));
        const FILETIME ftLast = CExt2Inode::TimeToFileTime(static_cast<uint32_t>(nLast));
        const int64_t nShiftFirst = static_cast<int64_t>(ftFirst.qwTicks) - UtcTicks(nFirst);
        const int64_t nShiftLast = static_cast<int64_t>(ftLast.qwTicks) - UtcTicks(nLast);
        // A failed conversion gives 0, which no shift reproduces: such an hour goes second by
        // second too.
        hour.nHour = nHour;
        hour.nShift = nShiftFirst;
        hour.bLinear = ftFirst.qwTicks != 0 && ftLast.qwTicks != 0 && nShiftFirst == nShiftLast;
    }
    if (!hour.bLinear)
        return CExt2Inode::TimeToFileTime(nSeconds);
    FILETIME ft;
    ft.qwTicks = static_cast<uint64_t>(UtcTicks(nMoment) + hour.nShift);
    return ft;
}
