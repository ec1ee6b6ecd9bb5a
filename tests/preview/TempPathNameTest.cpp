// Temporary preview files: private folder, fresh names, cleanup of the viewer's copies.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempPathNameSignle.h"

namespace {

void Touch(const QString& strPath)
{
    QFile f(strPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
}

TEST(TempPathName, PrivateFolderAndFreshNamesLeaveAtMostOneFile)
{
    CTempPathNameSignle& temp = CTempPathNameSignle::GetInstance();
    temp.DeleteTempFile(); // nothing yet or a leftover: harmless either way

    const QString strFirst = temp.GetTempPathName();
    ASSERT_FALSE(strFirst.isEmpty());
    EXPECT_FALSE(QFile::exists(strFirst)) << "the reserving file is removed again";
    EXPECT_TRUE(QFileInfo(strFirst).fileName().startsWith("~@!"));
    EXPECT_TRUE(strFirst.endsWith(".tmp"));

    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(temp.PrivateFolder()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::getuid());

    Touch(strFirst);
    temp.DeleteTempFile();
    const QString strSecond = temp.GetTempPathName();
    EXPECT_NE(strFirst, strSecond);
    Touch(strSecond);
    EXPECT_FALSE(QFile::exists(strFirst));
    EXPECT_EQ(QDir(temp.PrivateFolder()).entryList(QDir::Files).size(), 1);
    temp.DeleteTempFile();
    EXPECT_TRUE(QDir(temp.PrivateFolder()).entryList(QDir::Files).isEmpty());
}

TEST(TempPathName, ViewerCopiesAndReadOnlyFilesAreRemoved)
{
    CTempPathNameSignle& temp = CTempPathNameSignle::GetInstance();
    const QString strName = temp.GetTempPathName();
    ASSERT_FALSE(strName.isEmpty());
    const QString strBase = strName.left(strName.size() - 4);
    Touch(strName);
    Touch(strBase + ".doc");
    Touch(strBase + ".xls");
    Touch(strName + ".xls");
    QFile::setPermissions(strName, QFile::ReadOwner);
    temp.DeleteTempFile();
    EXPECT_FALSE(QFile::exists(strName));
    EXPECT_FALSE(QFile::exists(strBase + ".doc"));
    EXPECT_FALSE(QFile::exists(strBase + ".xls"));
    EXPECT_TRUE(QFile::exists(strName + ".xls"));
    temp.DeleteXlsVariant();
    EXPECT_FALSE(QFile::exists(strName + ".xls"));
    EXPECT_FALSE(temp.IsExist());
}

TEST(TempPathName, OnlyTheSuffixIsReplaced)
{
    EXPECT_EQ(CTempPathNameSignle::ReplaceTmpSuffix("/t/a.tmp.d/~@!1F.tmp", ".doc"), QString("/t/a.tmp.d/~@!1F.doc"));
    EXPECT_EQ(CTempPathNameSignle::ReplaceTmpSuffix("/t/x.tmpfile", ".doc"), QString());
}

} // namespace
