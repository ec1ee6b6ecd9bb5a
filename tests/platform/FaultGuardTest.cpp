#include "FaultGuard.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// What the test translator throws: the record's essentials.
struct CTestFault {
    DWORD dwCode;
    uintptr_t uAccess;
    uintptr_t uAddress;
    DWORD dwParameters;
    void* pInstruction;
};

void ThrowTestFault(unsigned int uCode, EXCEPTION_POINTERS* p)
{
    const EXCEPTION_RECORD& r = *p->ExceptionRecord;
    throw CTestFault{uCode, r.ExceptionInformation[0], r.ExceptionInformation[1], r.NumberParameters,
                     r.ExceptionAddress};
}

// Values the optimiser cannot see through, and results it must keep, so that each fault
// happens where it is written even when the caller drops the result.
int* volatile g_pNull = nullptr;
volatile int g_nZero = 0;
volatile uintptr_t g_uLowAddress = 0x10;

int ReadNull() { return *static_cast<volatile int*>(g_pNull); }
int DivideByZero()
{
    volatile int nNumerator = 1000;
    volatile int nResult = nNumerator / g_nZero;
    return nResult;
}
void WriteLowAddress() { *reinterpret_cast<volatile int*>(g_uLowAddress) = 1; }

// Reads a page of a mapping whose file has no bytes behind it: the kernel answers with SIGBUS,
// the case of a disk image truncated under a mapping.
int ReadPastTruncatedMapping(const std::string& strPath)
{
    const int fd = open(strPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return -1;
    void* p = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED)
        return -1;
    struct Unmap {
        void* p;
        ~Unmap() { munmap(p, 4096); }
    } unmap{p};
    return rvd::RunGuarded([&] { return static_cast<int>(*static_cast<volatile char*>(p)); });
}

class FaultGuard : public ::testing::Test {
protected:
    void SetUp() override { m_pfnPrevious = rvd::SetSeTranslator(&ThrowTestFault); }
    void TearDown() override { rvd::SetSeTranslator(m_pfnPrevious); }
    SE_TRANSLATOR_FUNCTION m_pfnPrevious = nullptr;
};

template <class F>
CTestFault CatchFault(F&& fn)
{
    try {
        rvd::RunGuarded(std::forward<F>(fn));
    } catch (const CTestFault& fault) {
        return fault;
    }
    ADD_FAILURE() << "no fault was reported";
    return CTestFault{};
}

TEST_F(FaultGuard, ProcessorFaultsArriveWithTheirCodes)
{
    const CTestFault read = CatchFault([] { return ReadNull(); });
    EXPECT_EQ(read.dwCode, EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(read.dwParameters, 2u);
    EXPECT_EQ(read.uAccess, 0u);
    EXPECT_EQ(read.uAddress, 0u);
    EXPECT_NE(read.pInstruction, nullptr);

    const CTestFault write = CatchFault([] { WriteLowAddress(); });
    EXPECT_EQ(write.dwCode, EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(write.uAccess, 1u);
    EXPECT_EQ(write.uAddress, 0x10u);

    EXPECT_EQ(CatchFault([] { return DivideByZero(); }).dwCode, EXCEPTION_INT_DIVIDE_BY_ZERO);
    EXPECT_EQ(CatchFault([] { __builtin_trap(); }).dwCode, EXCEPTION_ILLEGAL_INSTRUCTION);

    rvdtest::CTempDir dir;
    try {
        ReadPastTruncatedMapping(dir.File("empty.img"));
        ADD_FAILURE() << "reading past the file did not fault";
    } catch (const CTestFault& fault) {
        EXPECT_EQ(fault.dwCode, EXCEPTION_IN_PAGE_ERROR);
    }
}

TEST_F(FaultGuard, ResultsAndExceptionsPassThrough)
{
    EXPECT_EQ(rvd::RunGuarded([] { return 42; }), 42);
    std::string strText = "abc";
    std::string& strRef = rvd::RunGuarded([&]() -> std::string& { return strText; });
    EXPECT_EQ(&strRef, &strText);
    EXPECT_THROW(rvd::RunGuarded([] { throw std::runtime_error("plain"); }), std::runtime_error);
    // The guard left by the exception no longer catches, but a new one does.
    EXPECT_EQ(CatchFault([] { return ReadNull(); }).dwCode, EXCEPTION_ACCESS_VIOLATION);
}

TEST_F(FaultGuard, InnermostGuardCatchesAndOuterStaysArmed)
{
    std::vector<std::string> vecSteps;
    try {
        rvd::RunGuarded([&] {
            try {
                rvd::RunGuarded([] { return DivideByZero(); });
            } catch (const CTestFault& fault) {
                vecSteps.push_back(fault.dwCode == EXCEPTION_INT_DIVIDE_BY_ZERO ? "inner" : "wrong");
            }
            return ReadNull();
        });
    } catch (const CTestFault& fault) {
        vecSteps.push_back(fault.dwCode == EXCEPTION_ACCESS_VIOLATION ? "outer" : "wrong");
    }
    EXPECT_EQ(vecSteps, (std::vector<std::string>{"inner", "outer"}));
}

int Recurse(int nDepth)
{
    volatile char buffer[512];
    buffer[0] = static_cast<char>(nDepth);
    if (nDepth == 1 << 30)
        return 0;  // never reached: the stack runs out first
    // Using the buffer after the call keeps the recursion from becoming a loop.
    return Recurse(nDepth + 1) + buffer[0];
}

TEST_F(FaultGuard, StackOverflowIsReportedOnTheAlternateStack)
{
    DWORD dwCode = 0;
    bool bRanAfter = false;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    struct Args {
        DWORD* pCode;
        bool* pRanAfter;
    } args{&dwCode, &bRanAfter};
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr,
                             [](void* p) -> void* {
                                 Args* a = static_cast<Args*>(p);
                                 try {
                                     rvd::RunGuarded([] { return Recurse(0); });
                                 } catch (const CTestFault& fault) {
                                     *a->pCode = fault.dwCode;
                                 }
                                 // The thread's stack is whole again after the jump.
                                 *a->pRanAfter = rvd::RunGuarded([] { return 7; }) == 7;
                                 return nullptr;
                             },
                             &args),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(dwCode, EXCEPTION_STACK_OVERFLOW);
    EXPECT_TRUE(bRanAfter);
}

TEST_F(FaultGuard, ThreadsFaultAtTheSameTimeIndependently)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::atomic<int> nReady{0};
    std::vector<int> vecCaught(kThreads, 0);
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < kThreads; ++t) {
        vecThreads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                try {
                    rvd::RunGuarded([&] {
                        // Every thread is inside its guard before any of them faults.
                        nReady.fetch_add(1);
                        while (nReady.load() < kThreads * (r + 1))
                            std::this_thread::yield();
                        return t % 2 ? DivideByZero() : ReadNull();
                    });
                } catch (const CTestFault& fault) {
                    if (fault.dwCode == (t % 2 ? EXCEPTION_INT_DIVIDE_BY_ZERO : EXCEPTION_ACCESS_VIOLATION))
                        ++vecCaught[t];
                }
            }
        });
    }
    for (std::thread& thread : vecThreads)
        thread.join();
    EXPECT_EQ(vecCaught, std::vector<int>(kThreads, kRounds));
}

class FaultGuardDeathTest : public FaultGuard {};

TEST_F(FaultGuardDeathTest, FaultOutsideAnyGuardTakesTheDefaultAction)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            try {
                rvd::RunGuarded([] { return ReadNull(); });
            } catch (const CTestFault&) {
            }
            ReadNull();
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(DivideByZero(), ::testing::KilledBySignal(SIGFPE), "");
}

TEST_F(FaultGuardDeathTest, GuardWithoutTranslatorDoesNotCatch)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            rvd::SetSeTranslator(nullptr);
            rvd::RunGuarded([] { return ReadNull(); });
        },
        ::testing::KilledBySignal(SIGSEGV), "");
}

void PreviousHandler(int, siginfo_t*, void*)
{
    static const char kText[] = "previous handler ran\n";
    ssize_t n = write(STDERR_FILENO, kText, sizeof(kText) - 1);
    (void)n;
    _exit(42);
}

TEST(FaultGuardChainDeathTest, FaultsOutsideGuardsGoToTheHandlerInstalledBefore)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // The child is a fresh process: this handler is in place before ours.
            struct sigaction sa;
            std::memset(&sa, 0, sizeof(sa));
            sa.sa_sigaction = PreviousHandler;
            sa.sa_flags = SA_SIGINFO;
            sigaction(SIGSEGV, &sa, nullptr);
            rvd::SetSeTranslator(&ThrowTestFault);
            bool bCaught = false;
            try {
                rvd::RunGuarded([] { return ReadNull(); });
            } catch (const CTestFault&) {
                bCaught = true;
            }
            if (bCaught)
                ReadNull();
            _exit(1);
        },
        ::testing::ExitedWithCode(42), "previous handler ran");
}

} // namespace
