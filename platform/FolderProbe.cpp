#include "FolderProbe.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace rvdplat {

namespace {

std::vector<std::string> SplitComponents(const std::string& strPath)
{
    std::vector<std::string> vec;
    std::string strPart;
    for (char ch : strPath) {
        if (ch == '/') {
            if (!strPart.empty())
                vec.push_back(strPart);
            strPart.clear();
        } else {
            strPart += ch;
        }
    }
    if (!strPart.empty())
        vec.push_back(strPart);
    return vec;
}

// The mount table's entry for a device: field 3 is "major:minor", the file-system type follows
// the " - " separator.
std::string MountFileSystem(uint64_t ullDevice)
{
    std::ifstream in("/proc/self/mountinfo");
    const std::string strWanted = std::to_string(major(ullDevice)) + ":" + std::to_string(minor(ullDevice));
    std::string strLine;
    while (std::getline(in, strLine)) {
        std::istringstream fields(strLine);
        std::string strId, strParent, strDev;
        if (!(fields >> strId >> strParent >> strDev) || strDev != strWanted)
            continue;
        const size_t nDash = strLine.find(" - ");
        if (nDash == std::string::npos)
            continue;
        std::istringstream rest(strLine.substr(nDash + 3));
        std::string strType;
        rest >> strType;
        return strType;
    }
    return std::string();
}

// The whole disk a block device belongs to (itself when it is no partition), through sysfs.
uint64_t WholeDiskOf(uint64_t ullDevice)
{
    const std::string strLink = "/sys/dev/block/" + std::to_string(major(ullDevice)) + ":" +
                                std::to_string(minor(ullDevice));
    char szReal[PATH_MAX];
    if (realpath(strLink.c_str(), szReal) == nullptr)
        return ullDevice;
    const std::string strReal = szReal;
    if (access((strReal + "/partition").c_str(), F_OK) != 0)
        return ullDevice;
    std::ifstream in(strReal.substr(0, strReal.rfind('/')) + "/dev");
    unsigned nMajor = 0, nMinor = 0;
    char chColon = 0;
    if (!(in >> nMajor >> chColon >> nMinor) || chColon != ':')
        return ullDevice;
    return makedev(nMajor, nMinor);
}

} // namespace

int ProbeFolder(const std::string& strPath, FOLDER_PROBE* pProbe)
{
    if (pProbe == nullptr)
        return EINVAL;
    *pProbe = FOLDER_PROBE();
    const std::vector<std::string> vecParts = SplitComponents(strPath);
    // The longest prefix that exists; "/" always does.
    std::string strExisting = "/";
    struct stat st;
    if (stat("/", &st) != 0)
        return errno;
    size_t nExisting = 0;
    for (size_t i = 0; i < vecParts.size(); ++i) {
        const std::string strNext = (i == 0 ? std::string() : strExisting) + "/" + vecParts[i];
        struct stat stNext;
        if (stat(strNext.c_str(), &stNext) != 0)
            break;
        strExisting = strNext;
        st = stNext;
        ++nExisting;
        if (!S_ISDIR(stNext.st_mode))
            break;
    }
    pProbe->strExisting = strExisting;
    pProbe->bTopExists = vecParts.empty() || nExisting > 0;
    pProbe->bIsFolder = S_ISDIR(st.st_mode);
    pProbe->ullDevice = st.st_dev;
    if (!pProbe->bIsFolder)
        return 0;
    pProbe->strFileSystem = MountFileSystem(st.st_dev);
    struct statvfs vfs;
    if (statvfs(strExisting.c_str(), &vfs) != 0) {
        pProbe->nVolumeError = errno;
        return 0;
    }
    pProbe->bReadOnly = (vfs.f_flag & ST_RDONLY) != 0;
    const unsigned __int128 uFree = static_cast<unsigned __int128>(vfs.f_bavail) * vfs.f_frsize;
    pProbe->ullFreeBytes = uFree > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(uFree);
    return 0;
}

int WriteTestFolder(const std::string& strFolder, const std::string& strPrefix)
{
    std::string strTemplate = strFolder;
    if (strTemplate.empty() || strTemplate.back() != '/')
        strTemplate += '/';
    strTemplate += strPrefix + ".XXXXXX";
    std::vector<char> vecName(strTemplate.begin(), strTemplate.end());
    vecName.push_back('\0');
    // mkstemp opens with O_CREAT|O_EXCL: an existing file of that name is never touched.
    const int fd = mkstemp(vecName.data());
    if (fd < 0)
        return errno;
    int nError = 0;
    if (close(fd) != 0)
        nError = errno;
    if (unlink(vecName.data()) != 0 && nError == 0)
        nError = errno;
    return nError;
}

bool IsOnSourceMedium(uint64_t ullDevice, const std::string& strSourcePath, bool* pbImageFile)
{
    if (pbImageFile != nullptr)
        *pbImageFile = false;
    struct stat st;
    if (strSourcePath.empty() || stat(strSourcePath.c_str(), &st) != 0)
        return false;
    if (S_ISREG(st.st_mode)) {
        if (pbImageFile != nullptr)
            *pbImageFile = true;
        return st.st_dev == ullDevice;
    }
    if (!S_ISBLK(st.st_mode))
        return false;
    if (st.st_rdev == ullDevice)
        return true;
    return WholeDiskOf(st.st_rdev) == WholeDiskOf(ullDevice);
}

} // namespace rvdplat
