// The start-up checks of the GUI program and its crash report: the disk-group test, the
// single-instance lock that dies with its process, and the report a fault leaves behind.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "CrashReport.h"
#include "ProcessGuard.h"
#include "TestSupport.h"

namespace {

std::string ReadText(const std::string& strPath)
{
    std::ifstream in(strPath);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Exists(const std::string& strPath)
{
    return access(strPath.c_str(), F_OK) == 0;
}

TEST(ProcessGuardTest, DiskGroupMembershipDecides)
{
    const unsigned aGroups[] = {100, 6, 1000};
    EXPECT_TRUE(rvdplat::HoldsDiskGroup(aGroups, 3, 6));
    EXPECT_FALSE(rvdplat::HoldsDiskGroup(aGroups, 3, 7));
    EXPECT_FALSE(rvdplat::HoldsDiskGroup(aGroups, 3, -1)) << "a system without a disk group";
    EXPECT_FALSE(rvdplat::HoldsDiskGroup(nullptr, 0, 6));
    if (geteuid() == 0) {
        EXPECT_TRUE(rvdplat::IsDiskAdministrator());
    }
}

TEST(ProcessGuardTest, SecondLockIsRefusedAndTheLockDiesWithItsProcess)
{
    const std::string strName = "RVD test lock " + std::to_string(getpid());
    const int nFirst = rvdplat::AcquireSingleInstanceLock(strName.c_str());
    ASSERT_GE(nFirst, 0);
    EXPECT_EQ(rvdplat::AcquireSingleInstanceLock(strName.c_str()), -1);
    rvdplat::ReleaseSingleInstanceLock(nFirst);

    // A process that takes the lock and dies without letting it go.
    int aPipe[2];
    ASSERT_EQ(pipe(aPipe), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int nLock = rvdplat::AcquireSingleInstanceLock(strName.c_str());
        const char ch = nLock >= 0 ? 'y' : 'n';
        if (write(aPipe[1], &ch, 1) != 1)
            _exit(2);
        pause();
        _exit(0);
    }
    char ch = 0;
    ASSERT_EQ(read(aPipe[0], &ch, 1), 1);
    EXPECT_EQ(ch, 'y');
    EXPECT_EQ(rvdplat::AcquireSingleInstanceLock(strName.c_str()), -1) << "held by the child";
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const int nAgain = rvdplat::AcquireSingleInstanceLock(strName.c_str());
    EXPECT_GE(nAgain, 0) << "the kernel dropped the dead process's lock";
    rvdplat::ReleaseSingleInstanceLock(nAgain);
    close(aPipe[0]);
    close(aPipe[1]);
    EXPECT_EQ(rvdplat::AcquireSingleInstanceLock(""), -2);
}

// Runs pfnBody in a child that has the crash handler writing into strFolder; returns the
// child's wait status.
int RunCrashingChild(const std::string& strFolder, void (*pfnBody)())
{
    const pid_t pid = fork();
    if (pid == 0) {
        rvdplat::InstallCrashReportHandler(strFolder.c_str());
        pfnBody();
        _exit(0);
    }
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    return nStatus;
}

void Fault()
{
    volatile int* pNull = nullptr;
    *pNull = 1;
}

void OutOfMemoryThenAbort()
{
    rvdplat::WriteCrashReport(0, nullptr, 0xE0000001);
    abort();
}

TEST(ProcessGuardTest, AFaultLeavesANumberedReportAndTheProcessStillDies)
{
    rvdtest::CTempDir dir;
    const std::string strFolder = dir.Path() + "/";
    for (int n = 0; n < 2; ++n) {
        const int nStatus = RunCrashingChild(strFolder, &Fault);
        ASSERT_TRUE(WIFSIGNALED(nStatus));
        EXPECT_EQ(WTERMSIG(nStatus), SIGSEGV);
    }
    ASSERT_TRUE(Exists(strFolder + "RVDCrash0.dmp"));
    ASSERT_TRUE(Exists(strFolder + "RVDCrash1.dmp")) << "the second crash takes the next free number";
    const std::string strReport = ReadText(strFolder + "RVDCrash0.dmp");
    EXPECT_NE(strReport.find("Signal: 11 SIGSEGV"), std::string::npos) << strReport;
    EXPECT_NE(strReport.find("Address:0000000000000000"), std::string::npos);
    EXPECT_NE(strReport.find("Backtrace:"), std::string::npos);
    EXPECT_NE(strReport.find("Memory map:"), std::string::npos);
    EXPECT_NE(strReport.find("[stack]"), std::string::npos) << "the process's maps are copied";
}

TEST(ProcessGuardTest, AnAllocationFailureWritesOneReport)
{
    rvdtest::CTempDir dir;
    const std::string strFolder = dir.Path() + "/";
    const int nStatus = RunCrashingChild(strFolder, &OutOfMemoryThenAbort);
    ASSERT_TRUE(WIFSIGNALED(nStatus));
    EXPECT_EQ(WTERMSIG(nStatus), SIGABRT);
    EXPECT_NE(ReadText(strFolder + "RVDCrash0.dmp").find("Exception Code:e0000001"), std::string::npos);
    EXPECT_FALSE(Exists(strFolder + "RVDCrash1.dmp")) << "the abort that follows adds no second report";
}

} // namespace
