#include "StructuredException.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Values the optimiser cannot see through, and results it must keep, so that each fault
// happens where it is written even when the caller drops the result.
int* volatile g_pNull = nullptr;
volatile unsigned g_uBlockSize = 0;

int ReadNull() { return *static_cast<volatile int*>(g_pNull); }
unsigned BlocksPerGroup(unsigned uBytes)
{
    volatile unsigned uNumerator = uBytes;  // 1 / x would become x == 1
    volatile unsigned uResult = uNumerator / g_uBlockSize;
    return uResult;
}

TEST(StructuredException, NamesEveryCodeOfTheTable)
{
    const struct {
        DWORD dwCode;
        const char* pszName;
    } kCases[] = {
        {0x80000001, "EXCEPTION_GUARD_PAGE"},
        {0x80000002, "EXCEPTION_DATATYPE_MISALIGNMENT"},
        {0x80000003, "EXCEPTION_BREAKPOINT"},
        {0x80000004, "EXCEPTION_SINGLE_STEP"},
        {0xC0000005, "EXCEPTION_ACCESS_VIOLATION"},
        {0xC0000006, "EXCEPTION_IN_PAGE_ERROR"},
        {0xC0000008, "EXCEPTION_INVALID_HANDLE"},
        {0xC000001D, "EXCEPTION_ILLEGAL_INSTRUCTION"},
        {0xC0000025, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
        {0xC0000026, "EXCEPTION_INVALID_DISPOSITION"},
        {0xC000008C, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
        {0xC000008D, "EXCEPTION_FLT_DENORMAL_OPERAND"},
        {0xC000008E, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
        {0xC000008F, "EXCEPTION_FLT_INEXACT_RESULT"},
        {0xC0000090, "EXCEPTION_FLT_INVALID_OPERATION"},
        {0xC0000091, "EXCEPTION_FLT_OVERFLOW"},
        {0xC0000092, "EXCEPTION_FLT_STACK_CHECK"},
        {0xC0000093, "EXCEPTION_FLT_UNDERFLOW"},
        {0xC0000094, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
        {0xC0000095, "EXCEPTION_INT_OVERFLOW"},
        {0xC0000096, "EXCEPTION_PRIV_INSTRUCTION"},
        {0xC00000FD, "EXCEPTION_STACK_OVERFLOW"},
        {0x00000000, "EXCEPTION_UNKNOWN"},
        {0xE0000001, "EXCEPTION_UNKNOWN"},  // the engine's out-of-memory code is no fault
        {0xC0000017, "EXCEPTION_UNKNOWN"},
        {0xFFFFFFFF, "EXCEPTION_UNKNOWN"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszName);
        EXCEPTION_RECORD record{};
        record.ExceptionCode = c.dwCode;
        CONTEXT context{};
        EXCEPTION_POINTERS pointers{&record, &context};
        const CStructuredException e(&pointers);
        EXPECT_STREQ(e.what(), c.pszName);
    }
}

TEST(StructuredException, CopiesRecordAndContext)
{
    EXCEPTION_RECORD nested{};
    EXCEPTION_RECORD record{};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    record.ExceptionRecord = &nested;
    record.ExceptionAddress = reinterpret_cast<void*>(0x401000);
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = 1;
    record.ExceptionInformation[1] = 0xDEAD;
    CONTEXT context{};
    context.Rip = 0x401000;
    context.Rsp = 0x7FFF0000;
    EXCEPTION_POINTERS pointers{&record, &context};

    const CStructuredException original(&pointers);
    record.ExceptionCode = 0;  // the exception keeps its own copy
    const CStructuredException copy(original);
    for (const CStructuredException* p : {&original, &copy}) {
        EXPECT_EQ(p->GetCode(), EXCEPTION_ACCESS_VIOLATION);
        EXPECT_EQ(p->GetExceptionRecord().ExceptionAddress, reinterpret_cast<void*>(0x401000));
        EXPECT_EQ(p->GetExceptionRecord().NumberParameters, 2u);
        EXPECT_EQ(p->GetExceptionRecord().ExceptionInformation[1], 0xDEADu);
        // The chained record lived in the faulting frame; it is not carried along.
        EXPECT_EQ(p->GetExceptionRecord().ExceptionRecord, nullptr);
        EXPECT_EQ(p->GetContext().Rip, 0x401000u);
        EXPECT_EQ(p->GetContext().Rsp, 0x7FFF0000u);
    }
}

// Runs each test in a scratch folder, as the reader writes its log to the current directory.
class Ext2ErrorLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szOld[4096];
        ASSERT_NE(getcwd(szOld, sizeof(szOld)), nullptr);
        m_strOldDir = szOld;
        ASSERT_EQ(chdir(m_dir.Path().c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(chdir(m_strOldDir.c_str()), 0); }

    std::vector<std::string> LogLines() const
    {
        std::vector<std::string> vecLines;
        std::ifstream file(m_dir.File("Ext2Error.log"));
        for (std::string strLine; std::getline(file, strLine);)
            vecLines.push_back(strLine);
        return vecLines;
    }

    rvdtest::CTempDir m_dir;
    std::string m_strOldDir;
};

// A reader step as the EXT2 reader writes it: the work under a guard, standard exceptions
// caught at the step's boundary and logged.
bool ReaderStep(unsigned uBytes, unsigned& uResult)
{
    try {
        uResult = rvd::RunGuarded([&] { return BlocksPerGroup(uBytes); });
        return true;
    } catch (const std::exception& e) {
        LogExt2Exception(e);
        return false;
    }
}

TEST_F(Ext2ErrorLog, DivisionByZeroEndsInTheReadersHandlerAndIsLogged)
{
    InstallStructuredExceptionTranslator();
    LogExt2Error("earlier line");
    unsigned uResult = 0;
    EXPECT_FALSE(ReaderStep(8192, uResult));
    g_uBlockSize = 1024;
    EXPECT_TRUE(ReaderStep(8192, uResult));
    EXPECT_EQ(uResult, 8u);
    g_uBlockSize = 0;
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"earlier line", "CStructuredException",
                                                    "EXCEPTION_INT_DIVIDE_BY_ZERO"}));
}

TEST_F(Ext2ErrorLog, LinesAppendInCallOrderAndFailuresAreSilent)
{
    {
        std::ofstream file(m_dir.File("Ext2Error.log"));
        file << "kept\n";
    }
    LogExt2Error("first");
    LogExt2Error(nullptr);
    LogExt2Error("second");
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"kept", "first", "second"}));

    // A log that cannot be opened loses the line and nothing else happens.
    ASSERT_EQ(unlink("Ext2Error.log"), 0);
    ASSERT_EQ(mkdir("Ext2Error.log", 0700), 0);
    LogExt2Error("lost");
    ASSERT_EQ(rmdir("Ext2Error.log"), 0);
}

// Runs fn under a guard and returns the name of the standard exception it ended in.
template <class F>
std::string CaughtName(F&& fn)
{
    try {
        rvd::RunGuarded(std::forward<F>(fn));
    } catch (const std::exception& e) {
        return e.what();
    }
    return "nothing caught";
}

TEST(StructuredExceptionThreads, TwoThreadsAtOnceThenANewThread)
{
    InstallStructuredExceptionTranslator();
    constexpr int kRounds = 100;
    std::atomic<int> nInside{0};
    std::vector<std::string> vecNull, vecDivide;
    auto worker = [&](bool bNull, std::vector<std::string>& vecNames) {
        for (int r = 0; r < kRounds; ++r) {
            vecNames.push_back(CaughtName([&] {
                // Both threads are inside their guards before either faults.
                nInside.fetch_add(1);
                while (nInside.load() < 2 * (r + 1))
                    std::this_thread::yield();
                return bNull ? static_cast<unsigned>(ReadNull()) : BlocksPerGroup(4096);
            }));
        }
    };
    std::thread threadNull(worker, true, std::ref(vecNull));
    std::thread threadDivide(worker, false, std::ref(vecDivide));
    threadNull.join();
    threadDivide.join();
    EXPECT_EQ(vecNull, std::vector<std::string>(kRounds, "EXCEPTION_ACCESS_VIOLATION"));
    EXPECT_EQ(vecDivide, std::vector<std::string>(kRounds, "EXCEPTION_INT_DIVIDE_BY_ZERO"));

    // A scan on a later worker thread is protected without installing anything again.
    std::string strLater;
    std::thread threadLater([&] { strLater = CaughtName([] { return ReadNull(); }); });
    threadLater.join();
    EXPECT_EQ(strLater, "EXCEPTION_ACCESS_VIOLATION");
}

TEST(StructuredExceptionDeathTest, FaultOutsideAnyGuardStillKillsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            InstallStructuredExceptionTranslator();
            if (CaughtName([] { return ReadNull(); }) == "EXCEPTION_ACCESS_VIOLATION")
                ReadNull();
            _exit(0);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(
        {
            InstallStructuredExceptionTranslator();
            std::thread([] { BlocksPerGroup(1); }).join();
            _exit(0);
        },
        ::testing::KilledBySignal(SIGFPE), "");
}

} // namespace
