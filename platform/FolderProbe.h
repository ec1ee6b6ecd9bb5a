// What the result page asks of the host before it lets the copy-out write into a folder: where
// the folder's nearest existing ancestor is, which mount it lies on, whether that mount takes
// writes, how much room it has, and whether it lies on the disk that was scanned.
#pragma once

#include <cstdint>
#include <string>

namespace rvdplat {

struct FOLDER_PROBE {
    // The deepest existing folder on the way to the path (the path itself when it exists).
    std::string strExisting;
    // False when the first component below "/" does not exist at all.
    bool bTopExists = false;
    // False when the deepest existing entry on the way is not a folder.
    bool bIsFolder = false;
    // st_dev of the existing folder.
    uint64_t ullDevice = 0;
    // The mount's file-system type from the mount table ("ext4", "iso9660", ...); empty if unknown.
    std::string strFileSystem;
    bool bReadOnly = false;
    // Bytes an unprivileged writer may still use on that mount (statvfs f_bavail).
    uint64_t ullFreeBytes = 0;
    // errno of the file-system query (statvfs) on the existing folder; 0 when it answered.
    int nVolumeError = 0;
};

// Walks from strPath (absolute, '/'-separated, UTF-8) up to the first entry that exists and
// fills *pProbe; returns 0, or an errno when even "/" cannot be looked at.
int ProbeFolder(const std::string& strPath, FOLDER_PROBE* pProbe);

// Creates a fresh file (O_CREAT|O_EXCL, so nothing of the user's is ever opened or truncated)
// named strPrefix plus a random suffix in strFolder and removes it again. 0 when both worked,
// else the errno of the step that failed.
int WriteTestFolder(const std::string& strFolder, const std::string& strPrefix);

// True when a folder whose st_dev is ullDevice lies on the medium at strSourcePath: the block
// device itself, any partition of it, or the disk that the device is a partition of. For a
// regular file (a disk image) it is true when the folder lies on the same file system as the
// image. False for a path that cannot be looked at.
bool IsOnSourceMedium(uint64_t ullDevice, const std::string& strSourcePath, bool* pbImageFile = nullptr);

} // namespace rvdplat
