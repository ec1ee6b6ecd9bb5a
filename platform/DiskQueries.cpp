// The Windows-shaped queries of the disk table: mount points and volume names, drive letters, drive
// kinds, volume information and free space of a root.
#include "DiskTableModel.h"
#include "Charset.h"

#include <algorithm>
#include <cerrno>

namespace rvdplat {

namespace {

using namespace disktable;

// Resolves a root given as "X:", "X:\...", "\\?\Volume{...}\..." or a host path.
struct RootRef {
    enum Kind { Invalid, Letter, GuidVolume, Host, Network } eKind = Invalid;
    const VolumeRec* pVolume = nullptr;  // Letter / GuidVolume when known
    std::string strRest;                  // path below the root, '/'-separated, for Letter / GuidVolume
    std::string strHostPath;              // Host
};

RootRef ResolveRoot(const Table& table, const std::string& strPath) {
    RootRef r;
    if (strPath.size() >= 2 && IsLetter(strPath[0]) && strPath[1] == ':') {
        r.eKind = RootRef::Letter;
        r.pVolume = FindVolumeByLetter(table, strPath[0]);
        std::string strRest = strPath.substr(2);
        std::replace(strRest.begin(), strRest.end(), '\\', '/');
        r.strRest = strRest;
        return r;
    }
    if (StartsWithNoCase(strPath, "\\\\?\\Volume{")) {
        r.eKind = RootRef::GuidVolume;
        size_t nEnd = strPath.find('}');
        if (nEnd == std::string::npos) {
            r.eKind = RootRef::Invalid;
            return r;
        }
        r.pVolume = FindVolumeByGuidPath(table, strPath.substr(0, nEnd + 1));
        std::string strRest = strPath.substr(nEnd + 1);
        std::replace(strRest.begin(), strRest.end(), '\\', '/');
        r.strRest = strRest;
        return r;
    }
    if (strPath.size() >= 2 && strPath[0] == '\\' && strPath[1] == '\\') {
        r.eKind = RootRef::Network;
        return r;
    }
    if (!strPath.empty() && strPath[0] == '/') {
        r.eKind = RootRef::Host;
        r.strHostPath = strPath;
    }
    return r;
}

} // namespace

using namespace disktable;

// ----- mount-point manager and volume names ----------------------------------------------------------

bool MountPointManagerAvailable() { return !CurrentTable()->bMountManagerFail; }

bool QueryMountPoints(int nDiskNumber, DWORD dwPartitionNumber, std::vector<std::u16string>* pLinks) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    if (pTable->bMountManagerFail) {
        errno = EACCES;
        return false;
    }
    for (const VolumeRec& v : pTable->volumes) {
        if (!v.bOnDisk || v.entry.nDiskNumber != nDiskNumber || v.entry.dwPartitionNumber != dwPartitionNumber) continue;
        std::vector<std::u16string> links;
        if (v.entry.chDriveLetter) {
            std::string s = std::string("\\DosDevices\\") + v.entry.chDriveLetter + ":";
            links.push_back(rvd::Utf8ToUtf16(s));
        }
        // "\\?\Volume{...}\" in Win32 form is "\??\Volume{...}" in the manager's own form.
        std::string strGuid = v.entry.strVolumeGuidPath;
        std::string strNt = "\\??\\" + strGuid.substr(4, strGuid.size() - 5);
        links.push_back(rvd::Utf8ToUtf16(strNt));
        *pLinks = links;
        return true;
    }
    errno = ENODEV;
    return false;
}

bool QueryMountPoints(const std::u16string& strDeviceName, std::vector<std::u16string>* pLinks) {
    std::string s = rvd::Utf16ToUtf8(strDeviceName);
    unsigned uDisk = 0, uPartition = 0;
    int nUsed = 0;
    const std::string strPrefix = "\\Device\\Harddisk";
    if (StartsWithNoCase(s, strPrefix)) {
        std::string strRest = s.substr(strPrefix.size());
        // Lower-case the keyword so sscanf can match it; the digits are unaffected.
        for (char& c : strRest) c = static_cast<char>(tolower((unsigned char)c));
        if (sscanf(strRest.c_str(), "%u\\partition%u%n", &uDisk, &uPartition, &nUsed) == 2 &&
            static_cast<size_t>(nUsed) == strRest.size() && uDisk < static_cast<unsigned>(kMaxPhysicalDrives))
            return QueryMountPoints(static_cast<int>(uDisk), uPartition, pLinks);
    }
    if (CurrentTable()->bMountManagerFail) errno = EACCES;
    else errno = ENODEV;
    return false;
}

std::vector<VOLUME_ENTRY> GetVolumes() {
    std::shared_ptr<const Table> pTable = CurrentTable();
    std::vector<VOLUME_ENTRY> out;
    for (const VolumeRec& v : pTable->volumes) out.push_back(v.entry);
    return out;
}

bool FindVolume(int nDiskNumber, uint64_t qwStartSector, uint64_t qwSectorCount, VOLUME_ENTRY* pVolume) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    for (const VolumeRec& v : pTable->volumes) {
        if (v.bOnDisk && v.entry.nDiskNumber == nDiskNumber && v.entry.qwStartSector == qwStartSector &&
            v.entry.qwSectorCount == qwSectorCount) {
            *pVolume = v.entry;
            return true;
        }
    }
    return false;
}

bool GetVolumePathNamesForVolumeName(const std::string& strVolumeGuidPath, std::vector<std::string>* pPaths) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    const VolumeRec* pVolume = FindVolumeByGuidPath(*pTable, strVolumeGuidPath);
    if (!pVolume) {
        errno = ENOENT;
        return false;
    }
    std::vector<std::string> paths;
    if (pVolume->entry.chDriveLetter) paths.push_back(std::string(1, pVolume->entry.chDriveLetter) + ":\\");
    if (!pVolume->entry.strMountFolder.empty()) paths.push_back(pVolume->entry.strMountFolder);
    *pPaths = paths;
    return true;
}

bool QueryDosDevice(char chDriveLetter, std::string* pstrTarget) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    const VolumeRec* pVolume = FindVolumeByLetter(*pTable, chDriveLetter);
    if (!pVolume || !IsLetter(chDriveLetter)) {
        errno = ENOENT;
        return false;
    }
    *pstrTarget = pVolume->entry.strDosDeviceName;
    return true;
}

// ----- drive letters and folders ---------------------------------------------------------------------

DWORD GetLogicalDrives() {
    std::shared_ptr<const Table> pTable = CurrentTable();
    DWORD dwMask = 0;
    for (const VolumeRec& v : pTable->volumes)
        if (v.entry.chDriveLetter >= 'A' && v.entry.chDriveLetter <= 'Z') dwMask |= 1u << (v.entry.chDriveLetter - 'A');
    return dwMask;
}

std::vector<std::string> GetLogicalDriveStrings() {
    DWORD dwMask = GetLogicalDrives();
    std::vector<std::string> roots;
    for (int i = 0; i < 26; ++i)
        if (dwMask & (1u << i)) roots.push_back(std::string(1, static_cast<char>('A' + i)) + ":\\");
    return roots;
}

UINT GetDriveType(const std::string& strRoot) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    RootRef r = ResolveRoot(*pTable, strRoot);
    switch (r.eKind) {
    case RootRef::Letter:
    case RootRef::GuidVolume:
        return r.pVolume ? r.pVolume->uDriveType : kDriveNoRootDir;
    case RootRef::Host:
        return HostDriveType(r.strHostPath);
    default:
        return kDriveNoRootDir;
    }
}

DWORD GetVolumeInformation(const std::string& strRoot, VOLUME_INFORMATION* pInfo) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    RootRef r = ResolveRoot(*pTable, strRoot);
    switch (r.eKind) {
    case RootRef::Letter:
    case RootRef::GuidVolume: {
        if (!r.pVolume) return kWinErrPathNotFound;
        const VolumeRec& v = *r.pVolume;
        if (v.dwVolumeError) return v.dwVolumeError;
        if (!v.bFsGiven && v.entry.strMountFolder.empty()) return kWinErrNotReady;
        VOLUME_INFORMATION info;
        if (!v.entry.strMountFolder.empty()) {
            DWORD dwErr = HostVolumeInformation(v.entry.strMountFolder, &info);
            if (dwErr) return dwErr;
        }
        info.strVolumeName = v.entry.strLabel;
        if (!v.entry.strFileSystem.empty()) info.strFileSystemName = v.entry.strFileSystem;
        if (info.dwSerialNumber == 0)
            info.dwSerialNumber = static_cast<DWORD>(v.entry.qwStartSector * 2654435761u) ^ static_cast<DWORD>(v.entry.nDiskNumber + 1);
        *pInfo = info;
        return kWinErrSuccess;
    }
    case RootRef::Host:
        return HostVolumeInformation(r.strHostPath, pInfo);
    case RootRef::Network:
        return kWinErrBadNetPath;  // no network shares by UNC name on this platform
    default:
        return kWinErrInvalidName;
    }
}

DWORD GetDiskFreeSpace(const std::string& strPath, DISK_FREE_SPACE* pFree) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    RootRef r = ResolveRoot(*pTable, strPath);
    switch (r.eKind) {
    case RootRef::Letter:
    case RootRef::GuidVolume: {
        if (!r.pVolume) return kWinErrPathNotFound;
        const VolumeRec& v = *r.pVolume;
        if (v.bFreeGiven) {
            uint64_t qwTotal = v.bTotalGiven ? v.qwTotal : std::max(v.qwFree, v.entry.qwSectorCount * kUnit);
            DISK_FREE_SPACE f;
            f.dwBytesPerSector = 512;
            f.dwSectorsPerCluster = 8;
            f.qwFreeClusters = v.qwFree / 4096;
            f.qwTotalClusters = qwTotal / 4096;
            f.qwFreeBytesAvailableToCaller = v.qwFree;
            f.qwTotalFreeBytes = v.qwFree;
            f.qwTotalBytes = qwTotal;
            *pFree = f;
            return kWinErrSuccess;
        }
        if (v.entry.strMountFolder.empty()) return kWinErrNotReady;
        DWORD dwErr = HostFreeSpace(v.entry.strMountFolder + r.strRest, pFree);
        if (dwErr == kWinErrSuccess && v.bTotalGiven) pFree->qwTotalBytes = v.qwTotal;
        return dwErr;
    }
    case RootRef::Host:
        return HostFreeSpace(r.strHostPath, pFree);
    case RootRef::Network:
        return kWinErrBadNetPath;
    default:
        return kWinErrInvalidName;
    }
}

DWORD GetDiskFreeSpace(const std::u16string& strPath, DISK_FREE_SPACE* pFree) {
    return GetDiskFreeSpace(rvd::Utf16ToUtf8(strPath), pFree);
}

} // namespace rvdplat
