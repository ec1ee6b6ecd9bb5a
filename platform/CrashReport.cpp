#include "CrashReport.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "MemoryStatus.h"
#include "SharedModule.h"

namespace rvdplat {

namespace {

constexpr int kMaxReports = 1000;
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

char g_szFolder[1024];
std::atomic<bool> g_bReportWritten{false};
std::atomic<bool> g_bInHandler{false};
// The handler runs on its own stack, so a fault from a stack overflow can still be reported.
alignas(16) char g_abyAltStack[64 * 1024];

// Small async-signal-safe formatting: text, decimal and hex numbers into a fixed buffer.
class CLine {
public:
    CLine& Text(const char* psz)
    {
        while (psz != nullptr && *psz != '\0' && m_nLength < sizeof(m_szText) - 1)
            m_szText[m_nLength++] = *psz++;
        return *this;
    }
    CLine& Dec(uint64_t n)
    {
        char sz[24];
        int i = 0;
        do {
            sz[i++] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n != 0);
        while (i > 0 && m_nLength < sizeof(m_szText) - 1)
            m_szText[m_nLength++] = sz[--i];
        return *this;
    }
    CLine& Hex(uint64_t n, int nDigits)
    {
        static const char kDigits[] = "0123456789abcdef";
        for (int i = nDigits - 1; i >= 0 && m_nLength < sizeof(m_szText) - 1; --i)
            m_szText[m_nLength++] = kDigits[(n >> (i * 4)) & 0xF];
        return *this;
    }
    void WriteTo(int nFile)
    {
        size_t nDone = 0;
        while (nDone < m_nLength) {
            const ssize_t n = write(nFile, m_szText + nDone, m_nLength - nDone);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                break;
            }
            nDone += static_cast<size_t>(n);
        }
        m_nLength = 0;
    }
    const char* CStr()
    {
        m_szText[m_nLength] = '\0';
        return m_szText;
    }

private:
    char m_szText[1200];
    size_t m_nLength = 0;
};

const char* SignalName(int nSignal)
{
    switch (nSignal) {
    case SIGSEGV: return "SIGSEGV (invalid memory access)";
    case SIGBUS: return "SIGBUS (bus error)";
    case SIGFPE: return "SIGFPE (arithmetic fault)";
    case SIGILL: return "SIGILL (illegal instruction)";
    case SIGABRT: return "SIGABRT (abort)";
    case 0: return "none";
    default: return "other";
    }
}

// Opens the first free report name; -1 with *pnNumber untouched when none can be made.
int OpenFreeReport(int* pnNumber)
{
    for (int n = 0; n < kMaxReports; ++n) {
        CLine path;
        path.Text(g_szFolder).Text("RVDCrash").Dec(static_cast<uint64_t>(n)).Text(".dmp");
        const int nFile = open(path.CStr(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (nFile >= 0) {
            *pnNumber = n;
            return nFile;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

void CopyFileInto(const char* pszPath, int nOut)
{
    const int nIn = open(pszPath, O_RDONLY | O_CLOEXEC);
    if (nIn < 0)
        return;
    char abyBuffer[4096];
    for (;;) {
        const ssize_t n = read(nIn, abyBuffer, sizeof(abyBuffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        ssize_t nDone = 0;
        while (nDone < n) {
            const ssize_t w = write(nOut, abyBuffer + nDone, static_cast<size_t>(n - nDone));
            if (w <= 0)
                break;
            nDone += w;
        }
    }
    close(nIn);
}

void OnFatalSignal(int nSignal, siginfo_t* pInfo, void* /*pContext*/)
{
    // A second fault inside the report (or in another thread at the same time) must not loop.
    if (!g_bInHandler.exchange(true)) {
        const bool bAfterReport = nSignal == SIGABRT && g_bReportWritten.load();
        if (!bAfterReport)
            WriteCrashReport(nSignal, pInfo != nullptr ? pInfo->si_addr : nullptr, 0);
    }
    // End the way the signal would have ended the process without us.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(nSignal, &action, nullptr);
    raise(nSignal);
}

} // namespace

void InstallCrashReportHandler(const char* pszFolder)
{
    std::string strFolder = pszFolder != nullptr && *pszFolder != '\0' ? pszFolder : ProgramFolder();
    if (!strFolder.empty() && strFolder.back() != '/')
        strFolder += '/';
    const size_t nLength = std::min(strFolder.size(), sizeof(g_szFolder) - 1);
    std::memcpy(g_szFolder, strFolder.data(), nLength);
    g_szFolder[nLength] = '\0';

    // backtrace() loads the unwinder on its first call, which allocates: do that now.
    void* apFrames[4];
    backtrace(apFrames, 4);

    stack_t stack {};
    stack.ss_sp = g_abyAltStack;
    stack.ss_size = sizeof(g_abyAltStack);
    sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int nSignal : kFaultSignals)
        sigaction(nSignal, &action, nullptr);
}

int WriteCrashReport(int nSignal, const void* pAddress, uint32_t dwCode)
{
    int nNumber = -1;
    const int nFile = OpenFreeReport(&nNumber);
    if (nFile < 0)
        return -1;
    CLine line;
    line.Text("Ravendo crash report\n").WriteTo(nFile);
    line.Text("Caught an exception! Exception Code:").Hex(dwCode, 8).Text(" Address:")
        .Hex(reinterpret_cast<uintptr_t>(pAddress), 16).Text("\n").WriteTo(nFile);
    line.Text("Signal: ").Dec(static_cast<uint64_t>(nSignal)).Text(" ").Text(SignalName(nSignal)).Text("\n").WriteTo(nFile);
    line.Text("Process: ").Dec(static_cast<uint64_t>(getpid())).Text(" Thread: ")
        .Dec(static_cast<uint64_t>(syscall(SYS_gettid))).Text("\n").WriteTo(nFile);
    MEMORY_STATUS status {};
    if (QueryMemoryStatus(&status)) {
        line.Text("Total physical memory:").Dec(status.ullTotalPhys >> 20).Text(" MB\tAvailable physical memory:")
            .Dec(status.ullAvailPhys >> 20).Text(" MB\n").WriteTo(nFile);
        line.Text("Total   page    files:").Dec(status.ullTotalPageFile >> 20).Text(" MB\tAvailable    page   files:")
            .Dec(status.ullAvailPageFile >> 20).Text(" MB\n").WriteTo(nFile);
    } else {
        line.Text("Failed to query memory status.\n").WriteTo(nFile);
    }
    line.Text("\nBacktrace:\n").WriteTo(nFile);
    void* apFrames[64];
    const int nFrames = backtrace(apFrames, 64);
    backtrace_symbols_fd(apFrames, nFrames, nFile);
    line.Text("\nMemory map:\n").WriteTo(nFile);
    CopyFileInto("/proc/self/maps", nFile);
    close(nFile);
    g_bReportWritten.store(true);
    return nNumber;
}

const char* CrashReportFolder()
{
    return g_szFolder;
}

} // namespace rvdplat
