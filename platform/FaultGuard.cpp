#include "FaultGuard.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

namespace rvd {

namespace {

const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof(kFaultSignals) / sizeof(kFaultSignals[0]);

struct sigaction g_previous[kSignalCount];
std::once_flag g_installOnce;
std::atomic<SE_TRANSLATOR_FUNCTION> g_pfnTranslator{nullptr};

// Plain, constant-initialised thread locals that the handler reads. This code is linked into
// modules that are loaded with dlopen, where a thread local is normally reached through a
// lookup that may allocate memory the first time a thread touches it; a fault inside malloc
// would then hang in the handler instead of ending the process. The initial-exec model places
// them in the static TLS block, reached without any call.
#define RVD_SIGNAL_SAFE_TLS thread_local __attribute__((tls_model("initial-exec")))
RVD_SIGNAL_SAFE_TLS detail::CGuardFrame* t_pInnermost = nullptr;
RVD_SIGNAL_SAFE_TLS uintptr_t t_uStackLow = 0;   // lowest usable address of this thread's stack
RVD_SIGNAL_SAFE_TLS uintptr_t t_uStackGuard = 0; // size of the guard area below it

// The alternate signal stack of a thread that runs guards. Without it a stack overflow could
// not be reported: the handler would have no stack to run on.
class CAltStack {
public:
    CAltStack()
    {
        stack_t current;
        if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE))
            return;  // the thread already has one (a crash handler's); keep it
        size_t nSize = 64 * 1024;
#ifdef _SC_MINSIGSTKSZ
        const long nMin = sysconf(_SC_MINSIGSTKSZ);
        if (nMin > 0)
            nSize += static_cast<size_t>(nMin);
#endif
        m_pStack = static_cast<char*>(std::malloc(nSize));
        if (m_pStack == nullptr)
            return;
        stack_t ss;
        ss.ss_sp = m_pStack;
        ss.ss_size = nSize;
        ss.ss_flags = 0;
        if (sigaltstack(&ss, nullptr) != 0) {
            std::free(m_pStack);
            m_pStack = nullptr;
        }
    }
    ~CAltStack()
    {
        if (m_pStack == nullptr)
            return;
        stack_t current;
        if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == m_pStack) {
            stack_t off;
            std::memset(&off, 0, sizeof(off));
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
        }
        std::free(m_pStack);
    }
    CAltStack(const CAltStack&) = delete;
    CAltStack& operator=(const CAltStack&) = delete;

private:
    char* m_pStack = nullptr;
};

void PrepareThread()
{
    thread_local CAltStack t_altStack;  // built on the thread's first guard
    (void)t_altStack;
    if (t_uStackLow != 0)
        return;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* pLow = nullptr;
        size_t nSize = 0;
        size_t nGuard = 0;
        if (pthread_attr_getstack(&attr, &pLow, &nSize) == 0)
            t_uStackLow = reinterpret_cast<uintptr_t>(pLow);
        if (pthread_attr_getguardsize(&attr, &nGuard) == 0)
            t_uStackGuard = nGuard;
        pthread_attr_destroy(&attr);
    }
}

int SignalIndex(int nSignal)
{
    for (int i = 0; i < kSignalCount; ++i) {
        if (kFaultSignals[i] == nSignal)
            return i;
    }
    return -1;
}

bool IsStackOverflow(uintptr_t uAddress)
{
    // A fault in the guard area below the stack, or just under its lowest address: the kernel
    // reports the first page that could not be touched, which lies within a page or two of it.
    const uintptr_t uLow = t_uStackLow;
    if (uLow == 0)
        return false;
    const uintptr_t uSlack = t_uStackGuard + 64 * 1024;
    return uAddress < uLow + 4096 && uAddress + uSlack >= uLow;
}

void DescribeFault(int nSignal, const siginfo_t* pInfo, const ucontext_t* pContext,
                   EXCEPTION_RECORD& record, CONTEXT& context)
{
    std::memset(&record, 0, sizeof(record));
    std::memset(&context, 0, sizeof(context));
    const uintptr_t uAddress = reinterpret_cast<uintptr_t>(pInfo->si_addr);
    uintptr_t uAccess = 0;

#if defined(__x86_64__)
    const greg_t* g = pContext->uc_mcontext.gregs;
    context.Rax = g[REG_RAX]; context.Rcx = g[REG_RCX]; context.Rdx = g[REG_RDX];
    context.Rbx = g[REG_RBX]; context.Rsp = g[REG_RSP]; context.Rbp = g[REG_RBP];
    context.Rsi = g[REG_RSI]; context.Rdi = g[REG_RDI];
    context.R8 = g[REG_R8]; context.R9 = g[REG_R9]; context.R10 = g[REG_R10];
    context.R11 = g[REG_R11]; context.R12 = g[REG_R12]; context.R13 = g[REG_R13];
    context.R14 = g[REG_R14]; context.R15 = g[REG_R15];
    context.Rip = g[REG_RIP];
    context.EFlags = g[REG_EFL];
    record.ExceptionAddress = reinterpret_cast<void*>(g[REG_RIP]);
    // Page-fault error code: bit 1 set for a write, bit 4 for an instruction fetch.
    const greg_t err = g[REG_ERR];
    uAccess = (err & 0x10) ? 8 : (err & 0x2) ? 1 : 0;
#else
    (void)pContext;
    record.ExceptionAddress = pInfo->si_addr;
#endif

    switch (nSignal) {
    case SIGSEGV:
        record.ExceptionCode = IsStackOverflow(uAddress) ? EXCEPTION_STACK_OVERFLOW
                                                         : EXCEPTION_ACCESS_VIOLATION;
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = uAccess;
        // A general-protection fault (SI_KERNEL) carries no address.
        record.ExceptionInformation[1] = pInfo->si_code == SI_KERNEL ? ~uintptr_t(0) : uAddress;
        break;
    case SIGBUS:
        // A misaligned access, or a mapped file page that could not be read.
        if (pInfo->si_code == BUS_ADRALN) {
            record.ExceptionCode = EXCEPTION_DATATYPE_MISALIGNMENT;
        } else {
            record.ExceptionCode = EXCEPTION_IN_PAGE_ERROR;
            record.NumberParameters = 2;
            record.ExceptionInformation[0] = uAccess;
            record.ExceptionInformation[1] = uAddress;
        }
        break;
    case SIGFPE:
        switch (pInfo->si_code) {
        case FPE_INTDIV: record.ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO; break;
        case FPE_INTOVF: record.ExceptionCode = EXCEPTION_INT_OVERFLOW; break;
        case FPE_FLTDIV: record.ExceptionCode = EXCEPTION_FLT_DIVIDE_BY_ZERO; break;
        case FPE_FLTOVF: record.ExceptionCode = EXCEPTION_FLT_OVERFLOW; break;
        case FPE_FLTUND: record.ExceptionCode = EXCEPTION_FLT_UNDERFLOW; break;
        case FPE_FLTRES: record.ExceptionCode = EXCEPTION_FLT_INEXACT_RESULT; break;
        case FPE_FLTSUB: record.ExceptionCode = EXCEPTION_ARRAY_BOUNDS_EXCEEDED; break;
        default: record.ExceptionCode = EXCEPTION_FLT_INVALID_OPERATION; break;
        }
        break;
    case SIGILL:
        record.ExceptionCode = (pInfo->si_code == ILL_PRVOPC || pInfo->si_code == ILL_PRVREG)
                                   ? EXCEPTION_PRIV_INSTRUCTION
                                   : EXCEPTION_ILLEGAL_INSTRUCTION;
        break;
    default:
        break;
    }
}

// What would have happened without us: the previous handler, else the default action.
void PassOn(int nSignal, siginfo_t* pInfo, void* pContext)
{
    const int i = SignalIndex(nSignal);
    const struct sigaction* pPrevious = i >= 0 ? &g_previous[i] : nullptr;
    if (pPrevious != nullptr && (pPrevious->sa_flags & SA_SIGINFO) && pPrevious->sa_sigaction != nullptr) {
        pPrevious->sa_sigaction(nSignal, pInfo, pContext);
        return;
    }
    if (pPrevious != nullptr && pPrevious->sa_handler != SIG_DFL && pPrevious->sa_handler != SIG_IGN) {
        pPrevious->sa_handler(nSignal);
        return;
    }
    // A processor fault cannot be ignored (the instruction would fault again), so an ignored
    // disposition counts as the default. Returning re-runs the faulting instruction, which now
    // ends the process with the true fault; a signal sent by kill() is raised again instead.
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof(dfl));
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(nSignal, &dfl, nullptr);
    if (pInfo == nullptr || pInfo->si_code <= 0)
        raise(nSignal);
}

void FaultHandler(int nSignal, siginfo_t* pInfo, void* pContext)
{
    const int nSavedErrno = errno;
    detail::CGuardFrame* pFrame = t_pInnermost;
    // si_code > 0: raised by the processor or the kernel for this thread's own instruction.
    const bool bFromCpu = pInfo != nullptr && pInfo->si_code > 0;
    if (pFrame != nullptr && pFrame->m_bActive && bFromCpu &&
        g_pfnTranslator.load(std::memory_order_acquire) != nullptr) {
        const ucontext_t* pUc = static_cast<const ucontext_t*>(pContext);
        DescribeFault(nSignal, pInfo, pUc, pFrame->m_record, pFrame->m_context);
        pFrame->m_nSignal = nSignal;
        pFrame->m_maskAtFault = pUc->uc_sigmask;
        siglongjmp(pFrame->m_jmp, 1);
    }
    errno = nSavedErrno;
    PassOn(nSignal, pInfo, pContext);
    errno = nSavedErrno;
}

[[noreturn]] void DieWithSignal(int nSignal)
{
    static const char kMessage[] = "Fault inside a guarded call was not translated; ending.\n";
    ssize_t nIgnored = write(STDERR_FILENO, kMessage, sizeof(kMessage) - 1);
    (void)nIgnored;
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof(dfl));
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(nSignal, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, nSignal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(nSignal);
    std::abort();
}

} // namespace

void InstallFaultHandler()
{
    std::call_once(g_installOnce, [] {
        struct sigaction sa;
        std::memset(&sa, 0, sizeof(sa));
        sa.sa_sigaction = FaultHandler;
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        for (int i = 0; i < kSignalCount; ++i)
            sigaction(kFaultSignals[i], &sa, &g_previous[i]);
    });
}

SE_TRANSLATOR_FUNCTION SetSeTranslator(SE_TRANSLATOR_FUNCTION pfnTranslator)
{
    InstallFaultHandler();
    return g_pfnTranslator.exchange(pfnTranslator, std::memory_order_acq_rel);
}

SE_TRANSLATOR_FUNCTION GetSeTranslator()
{
    return g_pfnTranslator.load(std::memory_order_acquire);
}

namespace detail {

CGuardFrame::CGuardFrame()
{
    InstallFaultHandler();
    PrepareThread();
    m_pOuter = t_pInnermost;
    m_bActive = true;
    t_pInnermost = this;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

CGuardFrame::~CGuardFrame()
{
    if (m_bActive) {
        m_bActive = false;
        t_pInnermost = m_pOuter;
        std::atomic_signal_fence(std::memory_order_seq_cst);
    }
}

void RaiseCaughtFault(CGuardFrame& frame)
{
    // Leave the guard first, so that a fault in the translator is not caught by it again.
    frame.m_bActive = false;
    t_pInnermost = frame.m_pOuter;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    pthread_sigmask(SIG_SETMASK, &frame.m_maskAtFault, nullptr);

    EXCEPTION_POINTERS pointers{&frame.m_record, &frame.m_context};
    const SE_TRANSLATOR_FUNCTION pfnTranslator = g_pfnTranslator.load(std::memory_order_acquire);
    if (pfnTranslator != nullptr)
        pfnTranslator(frame.m_record.ExceptionCode, &pointers);
    DieWithSignal(frame.m_nSignal);
}

} // namespace detail

} // namespace rvd
