// Turns inode times into FILETIMEs exactly as CExt2Inode::TimeToFileTime does, for a whole scan:
// the local clock reading of a moment is the moment plus the zone's offset, and that offset
// changes only at a zone's rule changes (and, in a zone that counts leap seconds, at a leap
// second). Each hour of the clock is looked at once, at its first and its last second; when
// both give the same difference between the local reading and the moment, every second of that
// hour is converted with it, and an hour whose two ends differ is converted second by second.
// A zone never changes its rule twice within one hour, so the results are the same as those of
// the full conversion, at a small part of its cost (one inode has three times, a volume
// millions of inodes, most of them from a few hours).
//
// The zone is read when an hour is first met: clear the converter before each scan.
#pragma once

#include <cstdint>

#include "EngineMemory.h"
#include "WinTypes.h"

class CExt2TimeConverter : public CEngineObject {
public:
    CExt2TimeConverter() { Clear(); }
    // Forgets every hour looked at.
    void Clear();

    // What CExt2Inode::TimeToFileTime(nSeconds) gives.
    FILETIME Convert(uint32_t nSeconds);

private:
    struct HOUR {
        int64_t nHour;   // seconds / 3600; -1 while unused
        int64_t nShift;  // local ticks - the moment's ticks, for every second of the hour
        bool bLinear;    // false: the hour is converted second by second
    };
    static const unsigned kHours = 512;
    HOUR m_aHours[kHours];
};
