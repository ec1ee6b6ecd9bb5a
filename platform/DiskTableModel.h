// The disk table's own records, shared by the files that make up the table: the parser of the
// test device table and the machine's disk list (DiskTableParser.cpp), the probes of the host's
// /proc and /sys (HostProbe.cpp), raw device reads (RawDevice.cpp) and the Windows-shaped queries
// (DiskQueries.cpp). Nothing outside these files includes it.
#pragma once

#include "DiskTable.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

namespace rvdplat {
namespace disktable {

constexpr uint64_t kUnit = 512;          // the engine's address unit
constexpr DWORD kDefaultHeads = 255;     // the translated geometry every BIOS-era tool assumes
constexpr DWORD kDefaultSectorsPerTrack = 63;

enum class Answer { Default, Value, Fail };

struct ReadCapacityRule {
    Answer eAnswer = Answer::Default;
    SCSI_READ_CAPACITY value{};
    bool bBlockGiven = false;
};

struct GeometryRule {
    Answer eAnswer = Answer::Default;
    uint64_t qwCylinders = 0;
    DWORD dwHeads = 0;
    DWORD dwSectors = 0;
};

struct BadRange {
    uint64_t qwFirst;  // device sectors, half-open
    uint64_t qwEnd;
};

// One physical drive or one floppy drive letter.
struct DriveRec {
    std::string strPath;
    bool bFromTable = false;
    uint32_t dwSectorSize = 0;  // 0: ask the device (or 512 for files)
    GeometryRule geometry;
    Answer eLength = Answer::Default;
    uint64_t qwLength = 0;
    ReadCapacityRule readCapacity[2];
    bool bMediaGiven = false;
    DWORD dwMedia = kMediaFixed;
    bool bDescriptorFail = false;
    bool bDescriptorGiven = false;
    STORAGE_DESCRIPTOR_INFO descriptor;
    bool bLayoutEx = true;
    bool bLayoutLegacy = true;
    bool bOpenFail = false;
    std::vector<BadRange> badRanges;
    // floppies only
    char chLetter = 0;
    std::string strLabel;
    std::string strFileSystem;
    DWORD dwVolumeError = 0;
};

struct VolumeRec {
    VOLUME_ENTRY entry;
    bool bOnDisk = false;
    bool bFreeGiven = false;
    uint64_t qwFree = 0;
    bool bTotalGiven = false;
    uint64_t qwTotal = 0;
    UINT uDriveType = kDriveFixed;
    DWORD dwVolumeError = 0;
    bool bFsGiven = false;
};

struct Table {
    std::vector<DriveRec> disks;
    std::vector<DriveRec> floppies;
    std::vector<VolumeRec> volumes;  // floppies first, then by disk and start
    bool bMountManagerFail = false;
    std::string strError;
};

struct MountRec {
    dev_t dev;
    std::string strMountPoint;
    std::string strFsType;
    std::string strSource;
};

// ----- text helpers (DiskTableParser.cpp) -----------------------------------------------------------

std::string ReadSmallFile(const std::string& strPath);
std::string TrimNewline(std::string str);
bool ParseUnsigned(const std::string& strText, uint64_t* pValue);
bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& str, const std::string& strPrefix);
char UpperLetter(char ch);
bool IsLetter(char ch);
std::string FormatGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint16_t d4, uint64_t qwNode);
bool IsGuidText(const std::string& s);
std::string GuidPathOf(const std::string& strGuid);
// "\040"-style escapes of /proc/self/mountinfo and "\x20" of /dev/disk/by-label.
std::string UnescapeName(const std::string& s);

// ----- the table in force (DiskTableParser.cpp) -----------------------------------------------------

// The table loaded on first use (or by ReloadDiskTable); it stays alive while a caller holds it.
std::shared_ptr<const Table> CurrentTable();
const VolumeRec* FindVolumeByLetter(const Table& table, char chLetter);
const VolumeRec* FindVolumeByGuidPath(const Table& table, std::string strPath);
const DriveRec* FindFloppy(const Table& table, char chLetter);

// ----- the host (HostProbe.cpp) ---------------------------------------------------------------------

std::vector<MountRec> ReadMounts();
// The mount whose folder holds strPath (an existing, canonical path): the longest mount point prefix.
bool FindMountOf(const std::string& strPath, MountRec* pMount);
// The machine's whole disks from /sys/block, sorted by name, as /dev paths.
std::vector<std::string> ListMachineDisks();
// /sys/class/block/<name> of a block device node, or empty.
std::string SysDirOfBlockDevice(const std::string& strPath);
std::map<std::string, std::string> ReadLabelsByDeviceName();
// Partitions of a real whole disk, as the operating system knows them.
void AddSysVolumes(int nDisk, const std::string& strPath, const std::vector<MountRec>& mounts,
                   const std::map<std::string, std::string>& labels, std::vector<VolumeRec>* pVolumes);
std::string SysText(const std::string& strFile);
// Storage descriptor of a block device from /sys: bus by the device's place in the device tree.
bool SysDescriptor(const std::string& strPath, STORAGE_DESCRIPTOR_INFO* pOut);
// The nearest existing folder at or above an absolute host path, canonical.
bool NearestExisting(const std::string& strPath, std::string* pExisting);
DWORD HostFreeSpace(const std::string& strHostPath, DISK_FREE_SPACE* pFree);
UINT HostDriveType(const std::string& strHostPath);
DWORD HostVolumeInformation(const std::string& strHostPath, VOLUME_INFORMATION* pInfo);

} // namespace disktable
} // namespace rvdplat
