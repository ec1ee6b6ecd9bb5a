// What the program does around its window: the help file on F1 and the advice when the
// engine runs out of memory.
#include <QDesktopServices>
#include <QFile>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include "CrashHandler.h"
#include "MainWnd.h"
#include "Pubic.h"
#include "RvdUiTestSupport.h"
#include "TestSupport.h"

namespace {

TEST(StartUpTest, F1OpensTheHelpFileBesideTheProgram)
{
    rvduitest::CUrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "Open");
    CMainWnd wnd;
    wnd.show();
    QTest::keyClick(&wnd, Qt::Key_F1);
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.listUrls.size(), 1);
    EXPECT_TRUE(catcher.listUrls[0].toLocalFile().endsWith("/RVDHelp.html"));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(rvdtest::OutputDir()) + "/RVDHelp.html"));
}

TEST(StartUpTest, OutOfMemoryAdviceDependsOnRawCarving)
{
    EXPECT_EQ(OutOfMemoryMessageNumber(1), 9);
    EXPECT_EQ(OutOfMemoryMessageNumber(0), 8);
}

} // namespace
