// The disk table: this system's stand-in for the operating system's disk stack.
//
// Physical drive N ("\\.\PHYSICALDRIVE<N>", N = 0..63) and drive-letter volumes ("\\.\X:") are opened
// read-only and read with pread. Every question the readers ask of the disk stack (geometry, length,
// sector size, SCSI READ CAPACITY, storage descriptor, drive layout, mount points, volume names, drive
// letters, free space) is a function here that may fail, so every fallback above stays testable.
// There is no write path to a device: a recovery tool never writes to the medium it recovers.
//
// Where the disks come from (read once, on first use; ReloadDiskTable() reads again):
//   RAVENDO_DEVICE_TABLE=file   the table below (tests). When set, it alone decides; a table that does
//                               not parse gives no disks at all (never the machine's own disks) and
//                               DiskTableError() says which line is wrong and why.
//   RAVENDO_DISKS=p1[:p2...]     physical drive N is the N-th path (image files or block devices).
//   neither                     the machine's whole disks in /sys/block (sd*, vd*, nvme*n*, mmcblk*,
//                               xvd*), sorted by name.
//
// Device table format. One record per line; '#' starts a comment (outside quotes); tokens are separated
// by blanks; a value holding blanks is written in double quotes (label="My Files"). Relative paths are
// taken from the table's own folder. Numbers are decimal, or hexadecimal with 0x. Unknown keywords and
// keys are errors, so a typo never silently changes what a test drives.
//
//   disk <path> [key=value ...]        physical drive N is the N-th "disk" line
//       sector=<bytes>                 logical sector size, a multiple of 512 (default: 512 for image
//                                      files, the kernel's BLKSSZGET for block devices)
//       geometry=<C>/<H>/<S> | fail    drive geometry answer (cylinders/heads/sectors per track); default
//                                      heads 255, sectors 63, cylinders = length / (255 x 63 x sector)
//       length=<bytes> | fail          length-query answer (default: the image's or device's size); it only
//                                      changes what the query says, never which bytes a read returns
//       readcap0=<lastLBA>[/<blockBytes>] | fail     SCSI READ CAPACITY(10) answer for target id 0;
//       readcap1=...                                 ... and for target id 1. Default for both: the last
//                                      sector of the length (0xFFFFFFFF beyond 2^32 sectors), block = sector
//       media=<n>                      MediaType of the geometry (default 12, fixed media)
//       bus=<n>                        storage bus type, Windows numbering (1 SCSI, 3 ATA, 7 USB, 17 NVMe)
//       vendor=, product=, revision=, serial=        storage descriptor texts (given verbatim)
//       descriptor=fail                storage-descriptor query fails
//       layout=ex | legacy | none      which drive-layout forms answer: ex = both (default), legacy = only
//                                      the old form, none = neither
//       open=fail                      the drive exists but cannot be opened (EACCES)
//   floppy <A|B> <path> [geometry=C/H/S|fail] [media=<n>] [label=] [fs=] [volerr=<n>]
//                                      a floppy drive letter backed by an image. Default geometry and media
//                                      by size: 1474560 bytes 80/2/18 media 2, 737280 80/2/9 media 5,
//                                      2949120 80/2/36 media 3, 1228800 80/2/15 media 1, 368640 40/2/9
//                                      media 6; another size gives removable media (11) and heads 2,
//                                      sectors 18.
//   volume disk=<n> start=<s> count=<c> [key=value ...]
//                                      a volume the operating system knows, on physical drive n, from 512-byte
//                                      sector s for c 512-byte sectors (the units the engine matches volumes
//                                      in). Keys:
//       partition=<n>                  its partition number in the drive layout (default: its place among
//                                      the disk's volumes in start order, counting from 1)
//       letter=<A-Z>                   drive letter (volumes have none unless given)
//       label=, fs=                    volume label and file-system name ("FAT32", "NTFS", ...)
//       mount=<folder>                 an existing host folder that plays its mount point (free space and
//                                      volume information of the volume are asked of that folder)
//       free=<bytes>, total=<bytes>    free-space answer (overrides the mount folder's statvfs)
//       guid={xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}  its volume GUID (default: derived from disk, start)
//       dosname=<text>                 QueryDosDevice target of its letter (default "\Device\HarddiskVolume<k>")
//       type=fixed|removable|cdrom|remote|ramdisk    drive type of its letter (default fixed)
//       volerr=<n>                     volume-information query of its letter fails with this Windows
//                                      error (21 not ready, 1005 unrecognised volume, 123 invalid name)
//     "disk=" may be left out for a volume that lies on no single basic partition (a dynamic volume):
//     it then has only names, a letter, a label and free space; it cannot be opened by letter.
//   bad <n | X:> <first> <end>        injected unreadable area of physical drive n or of a floppy letter:
//                                      sectors [first, end) in units of THAT DEVICE'S SECTOR SIZE (sector=,
//                                      512 for floppies). A read overlapping it fails with EIO; a read that
//                                      only touches its edge (ends at first or starts at end) returns data.
//                                      Volumes opened by letter see the bad areas of their disk.
//   mountmgr fail                      the mount-point manager cannot be opened
//
// Thread safety: the loaded table is immutable; each opened device keeps the snapshot it was opened with.
// ReadAt and every query of an open CRawDevice may run on many threads at once. Open/Close/move of one
// object must not race with its own reads.
#pragma once

#include "WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rvdplat {

// Windows error numbers the callers compare against (returned by the DWORD-valued functions below).
constexpr DWORD kWinErrSuccess = 0;
constexpr DWORD kWinErrInvalidFunction = 1;
constexpr DWORD kWinErrFileNotFound = 2;
constexpr DWORD kWinErrPathNotFound = 3;
constexpr DWORD kWinErrAccessDenied = 5;
constexpr DWORD kWinErrInvalidHandle = 6;
constexpr DWORD kWinErrNotReady = 21;
constexpr DWORD kWinErrCrc = 23;
constexpr DWORD kWinErrNotSupported = 50;
constexpr DWORD kWinErrBadNetPath = 53;
constexpr DWORD kWinErrInsufficientBuffer = 122;
constexpr DWORD kWinErrInvalidName = 123;
constexpr DWORD kWinErrDirNotRoot = 144;
constexpr DWORD kWinErrUnrecognizedVolume = 1005;

// Device paths and limits of the disk stack being played.
constexpr int kMaxPhysicalDrives = 64;  // "\\.\PHYSICALDRIVE0" .. "\\.\PHYSICALDRIVE63"

// Query codes (Windows numbering) accepted by CRawDevice::QueryDriveLayoutBytes.
constexpr DWORD kIoctlDiskGetDriveLayoutEx = 0x70050;
constexpr DWORD kIoctlDiskGetDriveLayout = 0x7400C;

// Windows MEDIA_TYPE values that the callers look at.
constexpr DWORD kMediaUnknown = 0;
constexpr DWORD kMediaF5_1Pt2_512 = 1;
constexpr DWORD kMediaF3_1Pt44_512 = 2;
constexpr DWORD kMediaF3_2Pt88_512 = 3;
constexpr DWORD kMediaF3_720_512 = 5;
constexpr DWORD kMediaF5_360_512 = 6;
constexpr DWORD kMediaRemovable = 11;
constexpr DWORD kMediaFixed = 12;

// Windows drive types (GetDriveType).
constexpr UINT kDriveUnknown = 0;
constexpr UINT kDriveNoRootDir = 1;
constexpr UINT kDriveRemovable = 2;
constexpr UINT kDriveFixed = 3;
constexpr UINT kDriveRemote = 4;
constexpr UINT kDriveCdrom = 5;
constexpr UINT kDriveRamdisk = 6;

// The 24-byte drive geometry answer, laid out as the disk stack returns it. Counts are in device
// sectors of BytesPerSector bytes.
struct DISK_GEOMETRY {
    LONGLONG Cylinders;
    DWORD MediaType;
    DWORD TracksPerCylinder;
    DWORD SectorsPerTrack;
    DWORD BytesPerSector;
};
static_assert(sizeof(DISK_GEOMETRY) == 24, "drive geometry answer is 24 bytes");

// Answer of a SCSI READ CAPACITY(10): the last logical block address and the block length, both as
// the big-endian data bytes carry them, already decoded.
struct SCSI_READ_CAPACITY {
    DWORD dwLastLba;
    DWORD dwBlockLength;
};

// Storage-device descriptor: the bus type in Windows numbering and the raw texts (untrimmed; an
// empty text stands for an absent one).
struct STORAGE_DESCRIPTOR_INFO {
    DWORD dwBusType = 0;
    std::string strVendorId;
    std::string strProductId;
    std::string strProductRevision;
    std::string strSerialNumber;
};

// One entry of a drive layout: a partition the operating system knows on the disk.
struct LAYOUT_PARTITION {
    uint64_t qwStartingOffset = 0;  // bytes from the start of the disk
    uint64_t qwPartitionLength = 0; // bytes
    DWORD dwPartitionNumber = 0;
};

enum class DriveLayoutForm { Ex, Legacy };

// A volume the disk stack knows (a table "volume" line, a floppy, or a partition of a real block
// device). Sectors are 512-byte units.
struct VOLUME_ENTRY {
    int nDiskNumber = -1;            // -1: on no single physical drive (dynamic volume, floppy)
    uint64_t qwStartSector = 0;
    uint64_t qwSectorCount = 0;
    DWORD dwPartitionNumber = 0;     // 0 when not in a drive layout
    char chDriveLetter = 0;          // 'A'..'Z' or 0
    bool bFloppy = false;
    std::string strLabel;
    std::string strFileSystem;       // "FAT32", "NTFS", "ext4", ...; empty when unknown
    std::string strMountFolder;      // host folder where it is mounted; empty when not mounted
    std::string strVolumeGuidPath;   // "\\?\Volume{...}\" (Win32 form, trailing backslash)
    std::string strDosDeviceName;    // QueryDosDevice target of its letter
};

// Answer of a free-space query. Byte counts are 64-bit.
struct DISK_FREE_SPACE {
    DWORD dwSectorsPerCluster = 0;
    DWORD dwBytesPerSector = 0;
    uint64_t qwFreeClusters = 0;
    uint64_t qwTotalClusters = 0;
    uint64_t qwFreeBytesAvailableToCaller = 0;
    uint64_t qwTotalBytes = 0;
    uint64_t qwTotalFreeBytes = 0;
};

// Answer of a volume-information query.
struct VOLUME_INFORMATION {
    std::string strVolumeName;       // label
    DWORD dwSerialNumber = 0;
    DWORD dwMaxComponentLength = 255;
    DWORD dwFileSystemFlags = 0;
    std::string strFileSystemName;
};

// ----- the table -----------------------------------------------------------------------------------

// Reads the environment and the table anew. Devices already open keep their old snapshot. False when
// the table (RAVENDO_DEVICE_TABLE) cannot be read or parsed; *pstrError (may be null) and
// DiskTableError() then hold "<file>:<line>: <reason>", and there are no disks until a good reload.
bool ReloadDiskTable(std::string* pstrError = nullptr);

// The last load's error text; empty when the last load succeeded.
std::string DiskTableError();

// Number of physical drives the table lists (at most kMaxPhysicalDrives).
int GetPhysicalDriveCount();

// Backing path (image file or block device) of physical drive n; empty when there is none.
std::string GetPhysicalDrivePath(int nDiskNumber);

// ----- raw devices ---------------------------------------------------------------------------------

// One opened device: a physical drive or a drive-letter volume. Read-only; movable, not copyable.
// The Open* functions return false and set errno on failure (ENODEV: no such drive or letter,
// EINVAL: number or letter out of range, EACCES: refused, or the open(2) error).
class CRawDevice {
public:
    CRawDevice();
    ~CRawDevice();
    CRawDevice(CRawDevice&& other) noexcept;
    CRawDevice& operator=(CRawDevice&& other) noexcept;
    CRawDevice(const CRawDevice&) = delete;
    CRawDevice& operator=(const CRawDevice&) = delete;

    bool OpenPhysicalDrive(int nDiskNumber);   // "\\.\PHYSICALDRIVE<n>", 0 <= n < 64
    bool OpenVolume(char chDriveLetter);       // "\\.\X:", either case; table letters only
    // Accepts "\\.\PHYSICALDRIVE<n>" (any case) and "\\.\X:"; anything else fails with ENOENT.
    bool OpenDevicePath(const std::string& strDevicePath);
    void Close();
    bool IsOpen() const;

    // Reads up to nBytes at byte qwOffset of the device (a volume: of the volume). Returns the number of
    // bytes read, which is less than nBytes only at the end of the device (0 at or past the end), or -1
    // with errno set: EIO when the span overlaps an unreadable area (nothing is promised about the
    // buffer then), EBADF when not open, EINVAL when offset + size overflows.
    int64_t ReadAt(uint64_t qwOffset, void* pBuffer, size_t nBytes) const;

    // Identity of what is open.
    int DiskNumber() const;      // -1 for a letter volume not on a table disk, or when closed
    char DriveLetter() const;    // 0 for a physical drive
    const std::string& BackingPath() const;

    // Queries. Each answers false (and leaves *out alone) when the disk stack would refuse, and sets errno.
    bool GetGeometry(DISK_GEOMETRY* pGeometry) const;
    bool GetLengthInfo(uint64_t* pqwLengthBytes) const;
    bool ScsiReadCapacity(int nTargetId, SCSI_READ_CAPACITY* pCapacity) const;   // READ CAPACITY(10)
    bool GetStorageDescriptor(STORAGE_DESCRIPTOR_INFO* pDescriptor) const;
    bool GetDriveLayout(DriveLayoutForm eForm, std::vector<LAYOUT_PARTITION>* pPartitions) const;

    // The drive layout in the byte form the disk stack returns for kIoctlDiskGetDriveLayoutEx
    // (DRIVE_LAYOUT_INFORMATION_EX: count at byte 4, 144-byte entries from byte 48, StartingOffset at
    // entry byte 8, PartitionLength at 16, PartitionNumber at 24) or kIoctlDiskGetDriveLayout
    // (DRIVE_LAYOUT_INFORMATION: count at byte 0, 32-byte entries from byte 8, StartingOffset at entry
    // byte 0, PartitionLength at 8, PartitionNumber at 20), little-endian. Returns kWinErrSuccess,
    // kWinErrInsufficientBuffer when nOutSize is too small (nothing written; *pdwNeeded says how much),
    // kWinErrInvalidFunction for an unknown code or a form the drive does not answer.
    DWORD QueryDriveLayoutBytes(DWORD dwIoctlCode, void* pOut, DWORD nOutSize, DWORD* pdwNeeded) const;

private:
    friend struct CRawDeviceOpener;
    struct CState;
    std::unique_ptr<CState> m_pState;
};

// Same as opening physical drive n and asking its storage descriptor (the disk stack's own separate open).
bool QueryStorageDescriptor(int nDiskNumber, STORAGE_DESCRIPTOR_INFO* pDescriptor);

// Windows name of a bus type for display ("USB Device" for 7, ...); empty for types without one.
// (Kept beside the descriptor so every caller names buses alike.)
std::string BusTypeName(DWORD dwBusType);

// ----- mount-point manager and volume names ----------------------------------------------------------

// False when the mount-point manager cannot be opened ("mountmgr fail" in the table).
bool MountPointManagerAvailable();

// Symbolic links of the volume with this device name ("\Device\Harddisk<d>\Partition<p>", p as in the
// drive layout), in NT form: "\??\Volume{guid}" and, when it has a letter, "\DosDevices\X:". False (errno
// ENODEV) when no such volume exists or the manager is unavailable.
bool QueryMountPoints(const std::u16string& strDeviceName, std::vector<std::u16string>* pLinks);
bool QueryMountPoints(int nDiskNumber, DWORD dwPartitionNumber, std::vector<std::u16string>* pLinks);

// Every volume the disk stack knows, floppies first, then by disk number and start.
std::vector<VOLUME_ENTRY> GetVolumes();

// The volume whose 512-byte window on drive n is exactly [qwStart, qwStart + qwCount); false when none.
bool FindVolume(int nDiskNumber, uint64_t qwStartSector, uint64_t qwSectorCount, VOLUME_ENTRY* pVolume);

// Paths of a volume given by "\\?\Volume{guid}\" (trailing backslash optional): "X:\" when it has a
// letter, then its mount folder. False when no volume has that name.
bool GetVolumePathNamesForVolumeName(const std::string& strVolumeGuidPath, std::vector<std::string>* pPaths);

// QueryDosDevice of "X:": the target name of the letter; false when the letter is not in use.
bool QueryDosDevice(char chDriveLetter, std::string* pstrTarget);

// ----- drive letters and folders (what the GUI asks) -------------------------------------------------

// Bit i set when letter 'A' + i is in use (table letters and floppies only; Linux has no letters).
DWORD GetLogicalDrives();

// "A:\", "E:\", ... in letter order.
std::vector<std::string> GetLogicalDriveStrings();

// Drive type of a root: "X:" / "X:\" (a letter not in use gives kDriveNoRootDir), "\\?\Volume{...}\",
// or an absolute host path (classified by the file system that holds it: remote, cdrom, ramdisk,
// removable, fixed).
UINT GetDriveType(const std::string& strRoot);

// Volume information of a root or folder (same forms as GetDriveType; for a host path, the file system
// holding its nearest existing folder). Returns kWinErrSuccess or the Windows error the query would give:
// kWinErrInvalidName for a relative or empty path, kWinErrPathNotFound for a letter not in use,
// kWinErrNotReady for a volume with neither fs= nor a mount folder, or the table's volerr=.
DWORD GetVolumeInformation(const std::string& strRoot, VOLUME_INFORMATION* pInfo);

// Free space of a root or folder (same forms; a host folder that does not exist yet is answered by its
// nearest existing parent, through statvfs). Returns kWinErrSuccess or the Windows error.
DWORD GetDiskFreeSpace(const std::string& strPath, DISK_FREE_SPACE* pFree);
DWORD GetDiskFreeSpace(const std::u16string& strPath, DISK_FREE_SPACE* pFree);

} // namespace rvdplat
