#include "Veskel.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

enum ELevel { LEVEL_INFO = 0, LEVEL_RELEASE = 1, LEVEL_DEBUG = 2 };

std::mutex g_mutex;
int g_fd = -1;
bool g_bOpenFailed = false;   // not retried for every line; InitLog and CloseLog reset it
int g_nLevel = LEVEL_DEBUG;   // before InitLog everything is kept
std::string g_strInitPath;

std::string ProgramFolderLogPath()
{
    char szExe[4096];
    const ssize_t n = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    if (n <= 0)
        return std::string();
    std::string strPath(szExe, static_cast<size_t>(n));
    const size_t nSlash = strPath.rfind('/');
    if (nSlash == std::string::npos)
        return std::string();
    return strPath.substr(0, nSlash + 1) + "RVDLog.log";
}

std::string ChooseLogPath()
{
    const char* pszOverride = std::getenv("RAVENDO_LOG_FILE");
    if (pszOverride != nullptr && *pszOverride != '\0')
        return pszOverride;
    if (!g_strInitPath.empty())
        return g_strInitPath;
    return ProgramFolderLogPath();
}

void CloseLocked()
{
    if (g_fd >= 0)
        close(g_fd);
    g_fd = -1;
}

bool OpenLocked()
{
    if (g_fd >= 0)
        return true;
    if (g_bOpenFailed)
        return false;
    const std::string strPath = ChooseLogPath();
    if (!strPath.empty())
        g_fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    g_bOpenFailed = g_fd < 0;
    return g_fd >= 0;
}

void WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t nDone = write(fd, p, n);
        if (nDone < 0 && errno == EINTR)
            continue;
        if (nDone <= 0)
            return;
        p += nDone;
        n -= static_cast<size_t>(nDone);
    }
}

void WriteLine(int nLevel, const char* pszTag, const char* pszFormat, va_list args)
{
    if (pszFormat == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (nLevel > g_nLevel)
            return;
    }

    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tmNow;
    localtime_r(&ts.tv_sec, &tmNow);
    char szPrefix[96];
    const int nPrefix = std::snprintf(szPrefix, sizeof(szPrefix),
                                      "%04d-%02d-%02d %02d:%02d:%02d.%03ld [%ld] %s ",
                                      tmNow.tm_year + 1900, tmNow.tm_mon + 1, tmNow.tm_mday,
                                      tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec, ts.tv_nsec / 1000000,
                                      static_cast<long>(syscall(SYS_gettid)), pszTag);

    // Format into a stack buffer; a long line is formatted again into one of its own size.
    std::string strLine(szPrefix, nPrefix > 0 ? static_cast<size_t>(nPrefix) : 0);
    char szText[1024];
    va_list argsCopy;
    va_copy(argsCopy, args);
    const int nText = std::vsnprintf(szText, sizeof(szText), pszFormat, args);
    if (nText < 0) {
        va_end(argsCopy);
        return;
    }
    if (static_cast<size_t>(nText) < sizeof(szText)) {
        strLine.append(szText, static_cast<size_t>(nText));
    } else {
        std::vector<char> vecText(static_cast<size_t>(nText) + 1);
        std::vsnprintf(vecText.data(), vecText.size(), pszFormat, argsCopy);
        strLine.append(vecText.data(), static_cast<size_t>(nText));
    }
    va_end(argsCopy);
    while (strLine.size() > static_cast<size_t>(nPrefix) &&
           (strLine.back() == '\n' || strLine.back() == '\r'))
        strLine.pop_back();
    strLine.push_back('\n');

    std::lock_guard<std::mutex> lock(g_mutex);
    if (OpenLocked())
        WriteAll(g_fd, strLine.data(), strLine.size());
}

} // namespace

extern "C" {

int InitLog(const char* pszPath, int nLevel, int /*nFlags*/)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    CloseLocked();
    g_strInitPath = pszPath != nullptr ? pszPath : "";
    g_nLevel = nLevel < LEVEL_INFO ? LEVEL_INFO : nLevel > LEVEL_DEBUG ? LEVEL_DEBUG : nLevel;
    g_bOpenFailed = false;
    return OpenLocked() ? 1 : 0;
}

void LogInfo(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    WriteLine(LEVEL_INFO, "INFO ", pszFormat, args);
    va_end(args);
}

void ReleaseTrace(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    WriteLine(LEVEL_RELEASE, "TRACE", pszFormat, args);
    va_end(args);
}

void DebugTrace(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    WriteLine(LEVEL_DEBUG, "DEBUG", pszFormat, args);
    va_end(args);
}

void CloseLog(void)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    CloseLocked();
    g_bOpenFailed = false;
}

} // extern "C"
