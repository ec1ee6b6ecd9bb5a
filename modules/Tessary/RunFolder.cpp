#include "RunFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Charset.h"
#include "SafeName.h"

namespace tessary {

namespace {

// Numbered names tried for one wanted name before giving up: far more than a folder holds
// alike names, and a bound on a folder that someone keeps filling under us.
constexpr unsigned MAX_NAME_TRIES = 100000;

const int FOLDER_OPEN_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens the user's target folder, making the levels that do not exist yet.
int OpenTarget(const std::string& strTarget)
{
    int nFd = open(strTarget.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (nFd >= 0 || errno != ENOENT)
        return nFd;
    for (size_t nSlash = strTarget.find('/', 1); ; nSlash = strTarget.find('/', nSlash + 1)) {
        const std::string strLevel = strTarget.substr(0, nSlash);
        if (!strLevel.empty() && mkdir(strLevel.c_str(), 0777) != 0 && errno != EEXIST)
            return -1;
        if (nSlash == std::string::npos)
            break;
    }
    return open(strTarget.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

CRunFolder::CRunFolder() : m_nRunFd(-1), m_pCurrent(nullptr), m_nCurrentFd(-1) {}

CRunFolder::~CRunFolder()
{
    CloseCurrent();
    if (m_nRunFd >= 0)
        close(m_nRunFd);
}

void CRunFolder::CloseCurrent()
{
    if (m_nCurrentFd >= 0 && m_nCurrentFd != m_nRunFd)
        close(m_nCurrentFd);
    m_nCurrentFd = -1;
    m_pCurrent = nullptr;
    m_strCurrentRelative.clear();
}

template <typename MAKE>
int CRunFolder::MakeUnique(FOLDER_NODE* pNode, const std::string& strWanted, MAKE make, std::string* pstrMade)
{
    unsigned& nNext = pNode->mapNextNumber[strWanted];
    for (unsigned nTry = 0; nTry < MAX_NAME_TRIES; ++nTry) {
        const std::string strName = nNext == 0 ? strWanted : NumberedName(strWanted, nNext + 1);
        const int nResult = make(strName);
        if (nResult >= 0) {
            *pstrMade = strName;
            ++nNext;
            return nResult;
        }
        if (errno != EEXIST)
            return -1;
        ++nNext;
    }
    errno = EEXIST;
    return -1;
}

bool CRunFolder::Create(const std::string& strTarget, const std::string& strBaseName, std::string* pstrWhat)
{
    *pstrWhat = strTarget;
    if (strTarget.empty() || strTarget[0] != '/') {
        errno = EINVAL;
        return false;
    }
    const int nTargetFd = OpenTarget(strTarget);
    if (nTargetFd < 0)
        return false;
    FOLDER_NODE target;
    std::string strName;
    const std::string strWanted = SanitiseComponent(rvd::Utf8ToUtf16(strBaseName));
    const int nMade = MakeUnique(
        &target, strWanted, [&](const std::string& s) { return mkdirat(nTargetFd, s.c_str(), 0777); }, &strName);
    std::string strJoined = strTarget;
    while (strJoined.size() > 1 && strJoined.back() == '/')
        strJoined.pop_back();
    if (strJoined != "/")
        strJoined += '/';
    if (nMade < 0) {
        const int nError = errno;
        close(nTargetFd);
        *pstrWhat = strJoined + strWanted;
        errno = nError;
        return false;
    }
    m_nRunFd = openat(nTargetFd, strName.c_str(), FOLDER_OPEN_FLAGS);
    const int nError = errno;
    close(nTargetFd);
    m_strPath = strJoined + strName;
    *pstrWhat = m_strPath;
    if (m_nRunFd < 0) {
        errno = nError;
        return false;
    }
    m_Root.strDiskName.clear();
    m_Root.mapChildren.clear();
    m_Root.mapNextNumber.clear();
    return true;
}

int CRunFolder::OpenFolder(const std::vector<std::u16string>& vecFolders, std::string* pstrRelative)
{
    if (m_nRunFd < 0) {
        errno = EBADF;
        return -1;
    }
    // Where the names lead among the folders already made.
    FOLDER_NODE* pNode = &m_Root;
    for (const std::u16string& strFolder : vecFolders) {
        auto it = pNode->mapChildren.find(strFolder);
        if (it == pNode->mapChildren.end()) {
            pNode = nullptr;
            break;
        }
        pNode = it->second.get();
    }
    if (pNode != nullptr && pNode == m_pCurrent) {
        *pstrRelative = m_strCurrentRelative;
        return m_nCurrentFd;
    }

    CloseCurrent();
    pNode = &m_Root;
    int nFd = m_nRunFd;
    std::string strRelative;
    for (const std::u16string& strFolder : vecFolders) {
        auto it = pNode->mapChildren.find(strFolder);
        FOLDER_NODE* pChild = nullptr;
        if (it != pNode->mapChildren.end()) {
            pChild = it->second.get();
        } else {
            std::string strMade;
            const std::string strWanted = SanitiseComponent(strFolder);
            const int nParentFd = nFd;
            if (MakeUnique(
                    pNode, strWanted, [&](const std::string& s) { return mkdirat(nParentFd, s.c_str(), 0777); },
                    &strMade) < 0) {
                const int nError = errno;
                if (nFd != m_nRunFd)
                    close(nFd);
                *pstrRelative = strRelative.empty() ? strWanted : strRelative + "/" + strWanted;
                errno = nError;
                return -1;
            }
            auto pNew = std::make_unique<FOLDER_NODE>();
            pNew->strDiskName = strMade;
            pChild = pNew.get();
            pNode->mapChildren.emplace(strFolder, std::move(pNew));
        }
        strRelative += strRelative.empty() ? pChild->strDiskName : "/" + pChild->strDiskName;
        const int nChildFd = openat(nFd, pChild->strDiskName.c_str(), FOLDER_OPEN_FLAGS);
        const int nError = errno;
        if (nFd != m_nRunFd)
            close(nFd);
        if (nChildFd < 0) {
            *pstrRelative = strRelative;
            errno = nError;
            return -1;
        }
        nFd = nChildFd;
        pNode = pChild;
    }
    m_pCurrent = pNode;
    m_nCurrentFd = nFd;
    m_strCurrentRelative = strRelative;
    *pstrRelative = strRelative;
    return nFd;
}

int CRunFolder::CreateFile(const std::u16string& strName, std::string* pstrName)
{
    if (m_nCurrentFd < 0 || m_pCurrent == nullptr) {
        errno = EBADF;
        return -1;
    }
    const int nDirFd = m_nCurrentFd;
    return MakeUnique(
        m_pCurrent, SanitiseComponent(strName),
        [&](const std::string& s) {
            return openat(nDirFd, s.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        },
        pstrName);
}

void CRunFolder::RemoveFile(const std::string& strName)
{
    if (m_nCurrentFd >= 0)
        unlinkat(m_nCurrentFd, strName.c_str(), 0);
}

} // namespace tessary
