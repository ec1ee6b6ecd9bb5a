// Reads the scanned medium for the copy-out, through the device each result was scanned on:
// a window over a physical drive (a basic partition, or the whole disk), a drive-letter volume
// (a floppy), or the engine's own device of a dynamic volume, whose sectors lie on several
// disks in the volume's layout. Drives and letters are opened read-only on first use and kept
// for the run; every read is one of the caller's large blocks.
//
// A block that cannot be read is read again in smaller pieces, down to single sectors, so that
// only what is really unreadable turns into zeros; every such stretch is handed back to the
// caller for its message, merged with the previous one when they touch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DiskTable.h"
#include "WinTypes.h"

class IStorageDevice;
class CDiskDevice;

namespace tessary {

enum SOURCE_KIND {
    SOURCE_MISSING = 0,   // the scanned device is not on this machine now; strProblem says why
    SOURCE_DISK_WINDOW,   // sectors ullStart .. ullStart + ullSectors of physical drive dwDisk
    SOURCE_DRIVE_LETTER,  // the drive-letter volume chLetter
    SOURCE_DEVICE,        // an engine device (a dynamic volume), read with ReadSectors
};

// A stretch of a member disk that a dynamic volume reads without a copy elsewhere.
struct MEMBER_EXTENT {
    CDiskDevice* pDisk = nullptr;
    uint64_t ullStart = 0;
    uint64_t ullSectors = 0;
};

// Where a stored volume's runs are read from (see CSourceDevices).
struct VOLUME_SOURCE {
    int nKind = SOURCE_MISSING;
    DWORD dwDisk = 0;
    uint64_t ullStart = 0;
    uint64_t ullSectors = UINT64_MAX;   // UINT64_MAX: to the end of the disk
    char chLetter = 0;
    IStorageDevice* pDevice = nullptr;  // owned by the collection that resolved it
    // SOURCE_DEVICE: the extents of present disks that hold the only copy of their data (not
    // those of a mirror or a RAID-5 volume, which read around a bad sector); see
    // AddMemberDiskAreas.
    std::vector<MEMBER_EXTENT> vecMembers;
    std::string strName;     // as messages name it: "disk 0", "drive A:", "the striped volume ..."
    std::string strProblem;  // SOURCE_MISSING: why it is missing
    std::string strNote;     // a remark for every file read from it (a member disk is missing)
};

enum BAD_RANGE_REASON {
    BAD_RANGE_UNREADABLE = 0,   // the device reported a read error
    BAD_RANGE_PAST_END = 1,     // the stretch lies beyond the end of the device
    BAD_RANGE_NO_DISK = 2,      // the device cannot be opened
    BAD_RANGE_BAD_POSITION = 3, // the stored position cannot lie on any device
    BAD_RANGE_PAST_VOLUME = 4,  // the stretch of the disk lies beyond the end of the volume read
    BAD_RANGE_MEMBER_AREA = 5,  // a member disk of the volume keeps this area as unreadable
};

// A stretch of a device, in bytes, that could not be read (zeros were given in its place).
struct BAD_RANGE {
    std::string strDevice;        // the device the offsets count on, as messages name it
    uint64_t ullOffset = 0;       // BAD_RANGE_BAD_POSITION: the stored 512-byte sector instead
    uint64_t ullBytes = 0;
    int nReason = BAD_RANGE_UNREADABLE;
    int nError = 0;  // errno of a failed open (BAD_RANGE_NO_DISK)
};

// Appends a stretch, merged into the last one when it continues it for the same reason.
void AddBadRange(std::vector<BAD_RANGE>* pvecBad, const BAD_RANGE& range);

// The areas within a SOURCE_DEVICE's member extents that their disks keep as unreadable. With
// bad sectors ignored (the user's choice) a disk answers an unreadable sector with zeros and
// success and from then on answers the whole area around it (its extent is guessed, megabytes)
// with zeros without reading, and a volume passes such zeros on as data: whatever of a file lies
// in such an area is zeros, and no read says so.
void AddMemberDiskAreas(const VOLUME_SOURCE& source, std::vector<BAD_RANGE>* pvecBad);

// "disk 3"; "drive A:".
std::string DiskName(DWORD dwDisk);
std::string DriveName(char chLetter);

class CSourceReader {
public:
    CSourceReader();
    ~CSourceReader();
    CSourceReader(const CSourceReader&) = delete;
    CSourceReader& operator=(const CSourceReader&) = delete;

    // Reads nBytes at byte ullOffset of the source. What cannot be read is zeros in pBuffer and
    // is added to *pvecBad. True when every byte was read.
    bool Read(const VOLUME_SOURCE& source, uint64_t ullOffset, uint8_t* pBuffer, size_t nBytes,
              std::vector<BAD_RANGE>* pvecBad);

    // True when nBytes at byte ullOffset of the source lie wholly past the end of its device or
    // window, where Read would give only zeros: the stretch is then added to *pvecBad as Read
    // would add it, without reading (a damaged record's run may reach far past any disk). False
    // when any of it may be readable, or the end is not known.
    bool SkipPastEnd(const VOLUME_SOURCE& source, uint64_t ullOffset, uint64_t ullBytes,
                     std::vector<BAD_RANGE>* pvecBad);

private:
    struct DEVICE_SLOT {
        rvdplat::CRawDevice Device;
        int nOpenError = 0;
        uint64_t ullLength = UINT64_MAX;  // bytes, when the device answers the length query
    };

    DEVICE_SLOT* DiskSlot(DWORD dwDisk);
    DEVICE_SLOT* LetterSlot(char chLetter);
    bool ReadRaw(DEVICE_SLOT* pSlot, const std::string& strDevice, uint64_t ullOffset, uint8_t* pBuffer,
                 size_t nBytes, std::vector<BAD_RANGE>* pvecBad);
    bool ReadWindow(const VOLUME_SOURCE& source, uint64_t ullOffset, uint8_t* pBuffer, size_t nBytes,
                    std::vector<BAD_RANGE>* pvecBad);
    bool ReadDevice(const VOLUME_SOURCE& source, uint64_t ullOffset, uint8_t* pBuffer, size_t nBytes,
                    std::vector<BAD_RANGE>* pvecBad);
    bool ReadDeviceSectors(const VOLUME_SOURCE& source, uint64_t ullSector, uint8_t* pBuffer, uint64_t ullCount,
                           std::vector<BAD_RANGE>* pvecBad);
    bool ReadDevicePieces(const VOLUME_SOURCE& source, uint64_t ullSector, uint8_t* pBuffer, uint64_t ullCount,
                          int nLevel, std::vector<BAD_RANGE>* pvecBad);
    bool ReadPieces(const rvdplat::CRawDevice& device, const std::string& strDevice, uint64_t ullOffset,
                    uint8_t* pBuffer, size_t nBytes, int nLevel, std::vector<BAD_RANGE>* pvecBad);

    std::map<DWORD, std::unique_ptr<DEVICE_SLOT>> m_Disks;
    std::map<char, std::unique_ptr<DEVICE_SLOT>> m_Letters;
    std::vector<uint8_t> m_vecScratch;  // a read that does not begin or end on a sector boundary
};

} // namespace tessary
