// Processor faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL) inside a guarded call, turned into C++
// exceptions, the Linux counterpart of structured exceptions with a per-thread translator.
//
//     auto n = rvd::RunGuarded([&] { return ParseDamagedStructure(p); });
//
// One process-wide signal handler (installed on first use) looks at the faulting thread's
// innermost guard. Inside a guard it records the fault as an EXCEPTION_RECORD and a CONTEXT and
// jumps (siglongjmp) back into RunGuarded's own frame; there, in ordinary code, the translator
// set with SetSeTranslator is called and throws. Nothing is thrown from the signal handler
// itself. Outside every guard, or while no translator is set, or for a fault signal sent by
// kill() rather than by the processor, the fault goes on to whatever handler was installed
// before ours, else to the default action, so the process still dies (and dumps core) as it
// would without us. Guards nest: the innermost active one catches. Every thread may run guards,
// at the same time as other threads; each thread gets an alternate signal stack on its first
// guard so that a stack overflow inside a guard can still be reported.
//
// Limits, by the nature of a jump out of a signal handler:
// - Only code called from inside the callable is protected.
// - Objects with destructors created inside the callable and still alive at the fault are NOT
//   destroyed (no unwinding happens between the fault and the guard): memory they own leaks,
//   locks they hold stay held. Keep guarded code to reading and computing over buffers the
//   caller owns, and take locks outside the guard.
// - A fault while a C++ exception is in flight inside the callable (in a destructor during
//   unwinding) leaves the runtime's exception state behind; such code should not run guarded.
// - The compiler assumes that faults do not happen: it may drop a load or a division whose
//   result is unused, rewrite a division so that a zero divisor no longer traps (1 / x becomes
//   x == 1), or turn a provably null dereference into a trap instruction (SIGILL, reported as
//   an illegal instruction). A guard is a safety net, not a check: code meant to run inside
//   guards still validates divisors and pointers, and is built with the options of the CMake
//   target rvd_guarded_code, which keep null dereferences as loads.
// - A handler installed after ours for these signals must chain to ours, or guards stop working.
#pragma once

#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <utility>

#include "WinTypes.h"

// Exception codes reported for faults (the Windows values).
inline constexpr DWORD EXCEPTION_GUARD_PAGE = 0x80000001;
inline constexpr DWORD EXCEPTION_DATATYPE_MISALIGNMENT = 0x80000002;
inline constexpr DWORD EXCEPTION_BREAKPOINT = 0x80000003;
inline constexpr DWORD EXCEPTION_SINGLE_STEP = 0x80000004;
inline constexpr DWORD EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
inline constexpr DWORD EXCEPTION_IN_PAGE_ERROR = 0xC0000006;
inline constexpr DWORD EXCEPTION_INVALID_HANDLE = 0xC0000008;
inline constexpr DWORD EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D;
inline constexpr DWORD EXCEPTION_NONCONTINUABLE_EXCEPTION = 0xC0000025;
inline constexpr DWORD EXCEPTION_INVALID_DISPOSITION = 0xC0000026;
inline constexpr DWORD EXCEPTION_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
inline constexpr DWORD EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008D;
inline constexpr DWORD EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008E;
inline constexpr DWORD EXCEPTION_FLT_INEXACT_RESULT = 0xC000008F;
inline constexpr DWORD EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090;
inline constexpr DWORD EXCEPTION_FLT_OVERFLOW = 0xC0000091;
inline constexpr DWORD EXCEPTION_FLT_STACK_CHECK = 0xC0000092;
inline constexpr DWORD EXCEPTION_FLT_UNDERFLOW = 0xC0000093;
inline constexpr DWORD EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;
inline constexpr DWORD EXCEPTION_INT_OVERFLOW = 0xC0000095;
inline constexpr DWORD EXCEPTION_PRIV_INSTRUCTION = 0xC0000096;
inline constexpr DWORD EXCEPTION_STACK_OVERFLOW = 0xC00000FD;

inline constexpr DWORD EXCEPTION_MAXIMUM_PARAMETERS = 15;

// What happened. For an access violation or an in-page error, ExceptionInformation[0] is
// 0 (read), 1 (write) or 8 (instruction fetch) and [1] the address touched (all ones when the
// processor did not say, as for a non-canonical address).
struct EXCEPTION_RECORD {
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    EXCEPTION_RECORD* ExceptionRecord;
    void* ExceptionAddress;
    DWORD NumberParameters;
    uintptr_t ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};

// The processor's integer registers at the fault (x86-64; all zero on other processors).
struct CONTEXT {
    uint64_t Rax, Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi;
    uint64_t R8, R9, R10, R11, R12, R13, R14, R15;
    uint64_t Rip;
    uint64_t EFlags;
};

struct EXCEPTION_POINTERS {
    EXCEPTION_RECORD* ExceptionRecord;
    CONTEXT* ContextRecord;
};

// Called in ordinary code after a guarded fault; it is expected to throw. The pointers are
// valid only during the call.
typedef void (*SE_TRANSLATOR_FUNCTION)(unsigned int uCode, EXCEPTION_POINTERS* pPointers);

namespace rvd {

// Installs the process-wide signal handler (once; later calls do nothing). RunGuarded and
// SetSeTranslator call it, so callers need not.
void InstallFaultHandler();

// Sets the translator for every thread of the process (null: guarded faults are not caught)
// and returns the previous one.
SE_TRANSLATOR_FUNCTION SetSeTranslator(SE_TRANSLATOR_FUNCTION pfnTranslator);
SE_TRANSLATOR_FUNCTION GetSeTranslator();

namespace detail {

// One active guard on the current thread's guard stack; lives in RunGuarded's frame.
struct CGuardFrame {
    CGuardFrame();
    ~CGuardFrame();
    CGuardFrame(const CGuardFrame&) = delete;
    CGuardFrame& operator=(const CGuardFrame&) = delete;

    sigjmp_buf m_jmp;
    CGuardFrame* m_pOuter = nullptr;
    bool m_bActive = false;
    int m_nSignal = 0;
    sigset_t m_maskAtFault;
    EXCEPTION_RECORD m_record;
    CONTEXT m_context;
};

// Leaves the guard the fault landed in, restores the signal mask and calls the translator.
// When the translator returns instead of throwing, the fault was not handled: the process
// ends with the fault's signal.
[[noreturn]] void RaiseCaughtFault(CGuardFrame& frame);

} // namespace detail

// Runs fn() and returns its result. A processor fault inside it is thrown as the translator's
// exception (see the limits above); C++ exceptions pass through untouched.
template <class F>
decltype(auto) RunGuarded(F&& fn)
{
    detail::CGuardFrame frame;
    // The mask is not saved here (no system call per guard): the handler records the mask in
    // force at the fault and RaiseCaughtFault puts it back.
    if (sigsetjmp(frame.m_jmp, 0) != 0)
        detail::RaiseCaughtFault(frame);
    return std::forward<F>(fn)();
}

} // namespace rvd
