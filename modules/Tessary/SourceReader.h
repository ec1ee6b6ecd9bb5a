// Reads the scanned medium for the copy-out: physical drives of the disk table, opened
// read-only on first use and kept for the run, read in the caller's large blocks.
//
// A block that cannot be read is read again in smaller pieces, down to single sectors, so that
// only what is really unreadable turns into zeros; every such stretch is handed back to the
// caller for its message, merged with the previous one when they touch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "DiskTable.h"
#include "WinTypes.h"

namespace tessary {

enum BAD_RANGE_REASON {
    BAD_RANGE_UNREADABLE = 0,  // the device reported a read error
    BAD_RANGE_PAST_END = 1,    // the stretch lies beyond the end of the disk
    BAD_RANGE_NO_DISK = 2,     // the disk cannot be opened
    BAD_RANGE_BAD_POSITION = 3 // the stored position cannot lie on any disk
};

// A stretch of a disk, in bytes, that could not be read (zeros were given in its place).
struct BAD_RANGE {
    DWORD dwDisk = 0;
    uint64_t ullOffset = 0;       // BAD_RANGE_BAD_POSITION: the stored 512-byte sector instead
    uint64_t ullBytes = 0;
    int nReason = BAD_RANGE_UNREADABLE;
    int nError = 0;  // errno of a failed open (BAD_RANGE_NO_DISK)
};

// Appends a stretch, merged into the last one when it continues it for the same reason.
void AddBadRange(std::vector<BAD_RANGE>* pvecBad, const BAD_RANGE& range);

class CSourceReader {
public:
    CSourceReader();
    ~CSourceReader();
    CSourceReader(const CSourceReader&) = delete;
    CSourceReader& operator=(const CSourceReader&) = delete;

    // Reads nBytes at byte ullOffset of physical drive dwDisk. What cannot be read is zeros in
    // pBuffer and is added to *pvecBad. True when every byte was read.
    bool Read(DWORD dwDisk, uint64_t ullOffset, uint8_t* pBuffer, size_t nBytes, std::vector<BAD_RANGE>* pvecBad);

private:
    struct DEVICE_SLOT {
        rvdplat::CRawDevice Device;
        int nOpenError = 0;
    };

    DEVICE_SLOT* Slot(DWORD dwDisk);
    bool ReadPieces(const rvdplat::CRawDevice& device, DWORD dwDisk, uint64_t ullOffset, uint8_t* pBuffer,
                    size_t nBytes, int nLevel, std::vector<BAD_RANGE>* pvecBad);

    std::map<DWORD, std::unique_ptr<DEVICE_SLOT>> m_Devices;
};

} // namespace tessary
