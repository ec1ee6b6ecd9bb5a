// What the host says of its disks and folders: mounts from /proc/self/mountinfo, whole disks,
// partitions, labels and storage descriptors from /sys and /dev/disk, free space and drive kinds
// of host folders.
#include "DiskTableModel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace rvdplat {

using namespace disktable;

namespace disktable {

std::vector<MountRec> ReadMounts() {
    std::vector<MountRec> mounts;
    std::ifstream in("/proc/self/mountinfo");
    std::string strLine;
    while (std::getline(in, strLine)) {
        // id parent major:minor root mountpoint options... - fstype source superoptions
        std::istringstream ls(strLine);
        std::string strId, strParent, strDev, strRoot, strMountPoint;
        if (!(ls >> strId >> strParent >> strDev >> strRoot >> strMountPoint)) continue;
        std::string strTok;
        while (ls >> strTok && strTok != "-") {
        }
        MountRec m;
        ls >> m.strFsType >> m.strSource;
        unsigned uMajor = 0, uMinor = 0;
        if (sscanf(strDev.c_str(), "%u:%u", &uMajor, &uMinor) != 2) continue;
        m.dev = makedev(uMajor, uMinor);
        m.strMountPoint = UnescapeName(strMountPoint);
        m.strFsType = UnescapeName(m.strFsType);
        m.strSource = UnescapeName(m.strSource);
        mounts.push_back(m);
    }
    return mounts;
}

// The mount whose folder holds strPath (an existing, canonical path): the longest mount point prefix.
bool FindMountOf(const std::string& strPath, MountRec* pMount) {
    std::vector<MountRec> mounts = ReadMounts();
    size_t nBest = 0;
    bool bFound = false;
    for (const MountRec& m : mounts) {
        const std::string& mp = m.strMountPoint;
        bool bPrefix = strPath == mp || mp == "/" ||
                       (strPath.size() > mp.size() && strPath.compare(0, mp.size(), mp) == 0 && strPath[mp.size()] == '/');
        // Later lines mount over earlier ones at the same place, so ">=" keeps the visible one.
        if (bPrefix && mp.size() >= nBest) {
            nBest = mp.size();
            *pMount = m;
            bFound = true;
        }
    }
    return bFound;
}

// ----- the machine's disks (no table) ---------------------------------------------------------------

bool IsWholeDiskName(const std::string& n) {
    auto allDigits = [](const std::string& s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    auto allLower = [](const std::string& s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    };
    if (n.compare(0, 3, "xvd") == 0) return allLower(n.substr(3));
    if (n.compare(0, 2, "sd") == 0 || n.compare(0, 2, "vd") == 0) return allLower(n.substr(2));
    if (n.compare(0, 6, "mmcblk") == 0) return allDigits(n.substr(6));  // not mmcblk0boot0 / rpmb
    if (n.compare(0, 4, "nvme") == 0) {
        // nvme<ctrl>n<ns>; the hidden multipath paths nvme<ctrl>c<n>n<ns> are not disks of their own.
        size_t nPos = n.find('n', 4);
        return nPos != std::string::npos && allDigits(n.substr(4, nPos - 4)) && allDigits(n.substr(nPos + 1));
    }
    return false;
}

std::vector<std::string> ListMachineDisks() {
    std::vector<std::string> names;
    if (DIR* pDir = opendir("/sys/block")) {
        while (dirent* pEnt = readdir(pDir)) {
            std::string n = pEnt->d_name;
            if (IsWholeDiskName(n)) names.push_back(n);
        }
        closedir(pDir);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    for (const std::string& n : names) paths.push_back("/dev/" + n);
    return paths;
}

// /sys/class/block/<name> of a block device node, or empty.
std::string SysDirOfBlockDevice(const std::string& strPath) {
    struct stat st;
    if (stat(strPath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::string();
    char sz[64];
    snprintf(sz, sizeof(sz), "/sys/dev/block/%u:%u", major(st.st_rdev), minor(st.st_rdev));
    char* pReal = realpath(sz, nullptr);
    if (!pReal) return std::string();
    std::string s = pReal;
    free(pReal);
    return s;
}

std::map<std::string, std::string> ReadLabelsByDeviceName() {
    std::map<std::string, std::string> labels;
    if (DIR* pDir = opendir("/dev/disk/by-label")) {
        while (dirent* pEnt = readdir(pDir)) {
            std::string n = pEnt->d_name;
            if (n == "." || n == "..") continue;
            char* pReal = realpath(("/dev/disk/by-label/" + n).c_str(), nullptr);
            if (!pReal) continue;
            std::string strTarget = pReal;
            free(pReal);
            labels[strTarget.substr(strTarget.rfind('/') + 1)] = UnescapeName(n);
        }
        closedir(pDir);
    }
    return labels;
}

// Partitions of a real whole disk, as the operating system knows them.
void AddSysVolumes(int nDisk, const std::string& strPath, const std::vector<MountRec>& mounts,
                   const std::map<std::string, std::string>& labels, std::vector<VolumeRec>* pVolumes) {
    std::string strSys = SysDirOfBlockDevice(strPath);
    if (strSys.empty()) return;
    std::string strDiskName = strSys.substr(strSys.rfind('/') + 1);
    DIR* pDir = opendir(strSys.c_str());
    if (!pDir) return;
    while (dirent* pEnt = readdir(pDir)) {
        std::string n = pEnt->d_name;
        if (n.compare(0, strDiskName.size(), strDiskName) != 0 || n == strDiskName) continue;
        std::string strPart = strSys + "/" + n;
        uint64_t qwNumber = 0, qwStart = 0, qwSize = 0;
        if (!ParseUnsigned(TrimNewline(ReadSmallFile(strPart + "/partition")), &qwNumber) ||
            !ParseUnsigned(TrimNewline(ReadSmallFile(strPart + "/start")), &qwStart) ||
            !ParseUnsigned(TrimNewline(ReadSmallFile(strPart + "/size")), &qwSize))
            continue;
        VolumeRec v;
        v.bOnDisk = true;
        v.entry.nDiskNumber = nDisk;
        v.entry.qwStartSector = qwStart;  // /sys counts 512-byte units whatever the sector size
        v.entry.qwSectorCount = qwSize;
        v.entry.dwPartitionNumber = static_cast<DWORD>(qwNumber);
        unsigned uMajor = 0, uMinor = 0;
        if (sscanf(ReadSmallFile(strPart + "/dev").c_str(), "%u:%u", &uMajor, &uMinor) == 2) {
            dev_t dev = makedev(uMajor, uMinor);
            for (const MountRec& m : mounts) {
                if (m.dev == dev) {
                    v.entry.strMountFolder = m.strMountPoint;
                    v.entry.strFileSystem = m.strFsType;
                    break;
                }
            }
        }
        auto it = labels.find(n);
        if (it != labels.end()) v.entry.strLabel = it->second;
        pVolumes->push_back(v);
    }
    closedir(pDir);
}

std::string SysText(const std::string& strFile) {
    std::string s = TrimNewline(ReadSmallFile(strFile));
    return s;
}

// Storage descriptor of a block device from /sys: bus by the device's place in the device tree.
bool SysDescriptor(const std::string& strPath, STORAGE_DESCRIPTOR_INFO* pOut) {
    std::string strSys = SysDirOfBlockDevice(strPath);
    if (strSys.empty()) return false;
    struct stat st;
    if (stat((strSys + "/partition").c_str(), &st) == 0) strSys = strSys.substr(0, strSys.rfind('/'));
    STORAGE_DESCRIPTOR_INFO d;
    std::string strDev = strSys + "/device";
    d.strVendorId = SysText(strDev + "/vendor");
    d.strProductId = SysText(strDev + "/model");
    d.strProductRevision = SysText(strDev + "/rev");
    if (d.strProductRevision.empty()) d.strProductRevision = SysText(strDev + "/firmware_rev");
    d.strSerialNumber = SysText(strDev + "/serial");
    if (d.strSerialNumber.empty()) d.strSerialNumber = SysText(strSys + "/serial");
    if (strSys.find("/usb") != std::string::npos) d.dwBusType = 7;
    else if (strSys.find("/nvme") != std::string::npos) d.dwBusType = 17;
    else if (strSys.find("/mmc") != std::string::npos) d.dwBusType = 12;
    else if (strSys.find("/ata") != std::string::npos) d.dwBusType = 3;
    else if (strSys.find("/virtio") != std::string::npos) d.dwBusType = 0;
    else if (strSys.find("/target") != std::string::npos || strSys.find("/host") != std::string::npos) d.dwBusType = 1;
    *pOut = d;
    return true;
}

// The nearest existing folder at or above an absolute host path, canonical.
bool NearestExisting(const std::string& strPath, std::string* pExisting) {
    std::string s = strPath;
    while (true) {
        char* pReal = realpath(s.c_str(), nullptr);
        if (pReal) {
            *pExisting = pReal;
            free(pReal);
            return true;
        }
        if (s == "/" || s.empty()) return false;
        while (s.size() > 1 && s.back() == '/') s.pop_back();
        size_t n = s.rfind('/');
        s = n == 0 ? std::string("/") : s.substr(0, n);
    }
}

DWORD HostFreeSpace(const std::string& strHostPath, DISK_FREE_SPACE* pFree) {
    std::string strExisting;
    if (!NearestExisting(strHostPath, &strExisting)) return kWinErrPathNotFound;
    struct statvfs sv;
    if (statvfs(strExisting.c_str(), &sv) != 0) return errno == EACCES ? kWinErrAccessDenied : kWinErrNotReady;
    uint64_t qwUnit = sv.f_frsize ? sv.f_frsize : sv.f_bsize;
    DISK_FREE_SPACE f;
    f.dwBytesPerSector = 512;
    f.dwSectorsPerCluster = static_cast<DWORD>(std::max<uint64_t>(1, qwUnit / 512));
    f.qwFreeClusters = sv.f_bfree;
    f.qwTotalClusters = sv.f_blocks;
    f.qwFreeBytesAvailableToCaller = static_cast<uint64_t>(sv.f_bavail) * qwUnit;
    f.qwTotalBytes = static_cast<uint64_t>(sv.f_blocks) * qwUnit;
    f.qwTotalFreeBytes = static_cast<uint64_t>(sv.f_bfree) * qwUnit;
    *pFree = f;
    return kWinErrSuccess;
}

UINT HostDriveType(const std::string& strHostPath) {
    std::string strExisting;
    if (!NearestExisting(strHostPath, &strExisting)) return kDriveNoRootDir;
    struct statfs sf;
    if (statfs(strExisting.c_str(), &sf) != 0) return kDriveUnknown;
    switch (static_cast<unsigned long>(sf.f_type)) {
    case 0x6969UL:        // NFS
    case 0x517BUL:        // SMB
    case 0xFF534D42UL:    // CIFS
    case 0xFE534D42UL:    // SMB2
    case 0x65735546UL:    // FUSE (sshfs and the like are usually remote)
        return kDriveRemote;
    case 0x9660UL:        // ISO 9660
    case 0x15013346UL:    // UDF
        return kDriveCdrom;
    case 0x01021994UL:    // tmpfs
    case 0x858458F6UL:    // ramfs
        return kDriveRamdisk;
    default:
        break;
    }
    struct stat st;
    if (stat(strExisting.c_str(), &st) == 0 && major(st.st_dev) != 0) {
        char sz[96];
        snprintf(sz, sizeof(sz), "/sys/dev/block/%u:%u", major(st.st_dev), minor(st.st_dev));
        std::string strSys = sz;
        std::string strRemovable = SysText(strSys + "/removable");
        if (strRemovable.empty()) strRemovable = SysText(strSys + "/../removable");
        if (strRemovable == "1") return kDriveRemovable;
    }
    return kDriveFixed;
}

DWORD HostVolumeInformation(const std::string& strHostPath, VOLUME_INFORMATION* pInfo) {
    std::string strExisting;
    if (!NearestExisting(strHostPath, &strExisting)) return kWinErrPathNotFound;
    struct statvfs sv;
    if (statvfs(strExisting.c_str(), &sv) != 0) return kWinErrNotReady;
    VOLUME_INFORMATION info;
    MountRec m;
    if (FindMountOf(strExisting, &m)) info.strFileSystemName = m.strFsType;
    info.dwSerialNumber = static_cast<DWORD>(sv.f_fsid ^ (static_cast<uint64_t>(sv.f_fsid) >> 32));
    info.dwMaxComponentLength = static_cast<DWORD>(sv.f_namemax);
    *pInfo = info;
    return kWinErrSuccess;
}

} // namespace disktable

} // namespace rvdplat
