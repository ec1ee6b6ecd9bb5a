// The target-folder checks on real folders: syntax, missing and unwritable folders, the write
// test that never touches a file of the user's, and the message of every code.
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <gtest/gtest.h>

#include "MessageTable.h"
#include "TargetCheck.h"
#include "TestSupport.h"

namespace {

struct SYNTAX_CASE {
    const char* pszPath;
    uint32_t dwCode;
};

TEST(TargetCheck, RefusesBadSyntaxWithItsCode)
{
    const SYNTAX_CASE cases[] = {
        {"", TARGET_EMPTY},
        {"relative/folder", TARGET_NOT_ABSOLUTE},
        {"C:\\Recovered", TARGET_NOT_ABSOLUTE},
        {"/tmp/a/../b", TARGET_INVALID_NAME},
        {"/tmp/./b", TARGET_INVALID_NAME},
        {"/tmp/a*b", TARGET_BAD_SYMBOL},
        {"/tmp/a?b", TARGET_BAD_SYMBOL},
        {"/tmp/a|b", TARGET_BAD_SYMBOL},
        {"/tmp/a\\b", TARGET_BAD_SYMBOL},
        {"/tmp/a\nb", TARGET_BAD_SYMBOL},
        {"/no-such-top-folder-of-ravendo/x", TARGET_NO_DRIVE},
    };
    for (const SYNTAX_CASE& c : cases)
        EXPECT_EQ(c.dwCode, CheckTargetFolder(QString::fromUtf8(c.pszPath), nullptr)) << c.pszPath;
}

TEST(TargetCheck, LengthLimitIs245Units)
{
    rvdtest::CTempDir dir;
    QString strBase = QString::fromStdString(dir.Path()) + "/";
    QString str245 = strBase + QString(245 - strBase.size(), QChar('a'));
    ASSERT_EQ(245, str245.size());
    EXPECT_EQ(TARGET_OK, CheckTargetFolder(str245, nullptr));
    EXPECT_EQ(TARGET_TOO_LONG, CheckTargetFolder(str245 + "a", nullptr));
}

TEST(TargetCheck, WriteTestNeverTouchesAUserFile)
{
    rvdtest::CTempDir dir;
    // A file of the user's under the test file's very name stays as it is.
    const std::string strUser = dir.File(TARGET_WRITE_TEST_NAME);
    rvdtest::WriteFileBytes(strUser, {1, 2, 3});
    rvdplat::FOLDER_PROBE probe;
    EXPECT_EQ(TARGET_OK, CheckTargetFolder(QString::fromStdString(dir.Path()), &probe));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), rvdtest::ReadFileBytes(strUser));
    // Nothing else is left behind.
    ASSERT_EQ(0, unlink(strUser.c_str()));
    EXPECT_EQ(0, rmdir(dir.Path().c_str())) << "the write test left a file behind";
    mkdir(dir.Path().c_str(), 0700);
    EXPECT_GT(probe.ullFreeBytes, 0u);
}

TEST(TargetCheck, FolderThatDoesNotExistYetIsTestedInItsParent)
{
    rvdtest::CTempDir dir;
    rvdplat::FOLDER_PROBE probe;
    EXPECT_EQ(TARGET_OK, CheckTargetFolder(QString::fromStdString(dir.File("new/deeper")), &probe));
    EXPECT_EQ(dir.Path(), probe.strExisting);
    // A file on the way is no folder.
    rvdtest::WriteFileBytes(dir.File("plain"), {0});
    EXPECT_EQ(TARGET_INVALID_NAME, CheckTargetFolder(QString::fromStdString(dir.File("plain/sub")), nullptr));
}

TEST(TargetCheck, UnwritableFolderIsRefused)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into any folder";
    rvdtest::CTempDir dir;
    const std::string strLocked = dir.File("locked");
    ASSERT_EQ(0, mkdir(strLocked.c_str(), 0555));
    EXPECT_EQ(TARGET_NOT_WRITABLE, CheckTargetFolder(QString::fromStdString(strLocked), nullptr));
    chmod(strLocked.c_str(), 0755);
}

TEST(TargetCheck, EveryCodeHasItsMessage)
{
    EXPECT_EQ(TrMessage(49), TargetErrorText(TARGET_NO_DRIVE));
    EXPECT_EQ(TrMessage(51), TargetErrorText(TARGET_NOT_ABSOLUTE));
    EXPECT_EQ(TrMessage(51), TargetErrorText(TARGET_INVALID_NAME));
    EXPECT_EQ(TrMessage(54), TargetErrorText(TARGET_NOT_WRITABLE));
    EXPECT_EQ(TrMessage(55), TargetErrorText(TARGET_BAD_SYMBOL));
    EXPECT_EQ(TrMessage(56), TargetErrorText(TARGET_TOO_LONG));
    EXPECT_EQ(TrMessage(57), TargetErrorText(TARGET_EMPTY));
    EXPECT_EQ(TrMessage(48), TargetErrorText(TARGET_NO_MEDIUM));
    EXPECT_EQ(TrMessage(7), TargetErrorText(144));
}

} // namespace
