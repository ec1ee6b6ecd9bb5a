#include "ProcessGuard.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace rvdplat {

bool HoldsDiskGroup(const unsigned* pGroupIds, int nGroups, long lDiskGroupId)
{
    if (lDiskGroupId < 0 || pGroupIds == nullptr)
        return false;
    for (int i = 0; i < nGroups; ++i) {
        if (static_cast<long>(pGroupIds[i]) == lDiskGroupId)
            return true;
    }
    return false;
}

bool IsDiskAdministrator()
{
    if (geteuid() == 0)
        return true;
    long lDiskGroup = -1;
    struct group grp {};
    struct group* pResult = nullptr;
    std::vector<char> buffer(16384);
    if (getgrnam_r("disk", &grp, buffer.data(), buffer.size(), &pResult) == 0 && pResult != nullptr)
        lDiskGroup = static_cast<long>(pResult->gr_gid);
    if (lDiskGroup < 0)
        return false;
    const int nCount = getgroups(0, nullptr);
    std::vector<gid_t> vecGroups(static_cast<size_t>(nCount > 0 ? nCount : 0) + 2);
    int nGroups = nCount > 0 ? getgroups(nCount, vecGroups.data()) : 0;
    if (nGroups < 0)
        nGroups = 0;
    vecGroups.resize(static_cast<size_t>(nGroups));
    vecGroups.push_back(getegid());
    vecGroups.push_back(getgid());
    std::vector<unsigned> vecIds(vecGroups.begin(), vecGroups.end());
    return HoldsDiskGroup(vecIds.data(), static_cast<int>(vecIds.size()), lDiskGroup);
}

int AcquireSingleInstanceLock(const char* pszName)
{
    if (pszName == nullptr || *pszName == '\0')
        return -2;
    const int nSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nSocket < 0)
        return -2;
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    // Abstract name space: the first byte of the path is NUL, no file is made, and the name
    // disappears with the last socket bound to it.
    const size_t nNameLength = std::min(std::strlen(pszName), sizeof(addr.sun_path) - 1);
    std::memcpy(addr.sun_path + 1, pszName, nNameLength);
    const socklen_t nAddrLength = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + 1 + nNameLength);
    if (bind(nSocket, reinterpret_cast<const struct sockaddr*>(&addr), nAddrLength) != 0) {
        const int nError = errno;
        close(nSocket);
        return nError == EADDRINUSE ? -1 : -2;
    }
    return nSocket;
}

void ReleaseSingleInstanceLock(int nLock)
{
    if (nLock >= 0)
        close(nLock);
}

std::string OperatingSystemText()
{
    struct utsname name {};
    if (uname(&name) != 0)
        return std::string();
    std::string strText = name.sysname;
    strText += " ";
    strText += name.release;
    strText += " ";
    strText += name.version;
    strText += " ";
    strText += name.machine;
    return strText;
}

} // namespace rvdplat
