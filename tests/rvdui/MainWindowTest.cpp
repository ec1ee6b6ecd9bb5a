// The main window, its dialogs and the skin they are drawn from.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPixmap>
#include <QTest>
#include <gtest/gtest.h>

#include "AboutDlg.h"
#include "AddTypeDialogs.h"
#include "ImagePushButton.h"
#include "MainWnd.h"
#include "MessageTable.h"
#include "Pubic.h"
#include "RvdUiTestSupport.h"
#include "ScanWizards.h"

using namespace rvduitest;

namespace {

TEST(SkinKeysTest, EveryImageTheScreensNameHasAFile)
{
    CConfigParser& parser = CPubic::GetIniParser();
    const char* const apszButtons[] = {"BackImage", "NextImage", "CancelImage", "FinishImage", "OKImage",
                                       "DefaultImage", "ProgressCancelImage", "BrowseImage", "AddImage",
                                       "DelImage", "SelectAllImage", "UnSelectImage", "InvertSelImage",
                                       "MainOption", "MainHelp", "MainAbout", "MainQuickScan",
                                       "MainCompleteScan", "MainContinueScan"};
    for (const char* pszKey : apszButtons) {
        const QStringList listPaths = parser.GetImagePathList(pszKey);
        ASSERT_EQ(listPaths.size(), 4) << pszKey;
        for (const QString& strPath : listPaths)
            EXPECT_FALSE(QPixmap(strPath).isNull()) << pszKey << " " << strPath.toStdString();
    }
    for (const char* pszKey : {"MainImage", "MainProductImage", "MainBackgroud", "MainNoteImage", "Dialog_BGImage",
                               "Page_BGImage", "LastImage"})
        EXPECT_FALSE(QPixmap(parser.GetImagePath(pszKey)).isNull()) << pszKey;
    for (const char* pszKey : {"Icon", "Icon32", "Icon64", "EmptyDisk", "AddGroup", "AddType"})
        EXPECT_FALSE(QPixmap(parser.GetIconPath(pszKey)).isNull()) << pszKey;
    QMovie movie(parser.GetIconPath("Scan"));
    EXPECT_TRUE(movie.isValid());
    EXPECT_GT(movie.frameCount(), 1);
}

TEST(MainWindowTest, ButtonsAreSkinnedAndThePromptFollowsTheMouse)
{
    CMainWnd wnd;
    wnd.show();
    SaveScreenshot(&wnd, "main-window");
    ExpectSkinnedButtonsDrawn(&wnd, "main window");
    ExpectNoSkinKeysShown(&wnd, "main window");
    EXPECT_EQ(wnd.NoteLabel()->text(), TrMessage(13));
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(wnd.QuickScanButton(), &enter);
    EXPECT_EQ(wnd.NoteLabel()->text(), TrMessage(14));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(wnd.QuickScanButton(), &leave);
    EXPECT_EQ(wnd.NoteLabel()->text(), TrMessage(13));
    // Escape does not close the window.
    QTest::keyClick(&wnd, Qt::Key_Escape);
    EXPECT_TRUE(wnd.isVisible());
}

TEST(MainWindowTest, ContinueRecoveryHidesTheWindowUntilTheWizardEnds)
{
    CMainWnd wnd;
    wnd.show();
    wnd.OnContinueRecovery();
    ASSERT_NE(wnd.ContinueScanWizard(), nullptr);
    EXPECT_FALSE(wnd.isVisible());
    EXPECT_TRUE(wnd.ContinueScanWizard()->isVisible());
    CContinueScanWizard* pFirst = wnd.ContinueScanWizard();
    pFirst->OnCancel();
    EXPECT_TRUE(wnd.isVisible());
    EXPECT_FALSE(pFirst->isVisible());
    wnd.OnContinueRecovery();
    EXPECT_NE(wnd.ContinueScanWizard(), nullptr);
    wnd.ContinueScanWizard()->OnCancel();
}

TEST(MainWindowTest, AboutAndAddDialogsDraw)
{
    CAboutDlg about;
    about.show();
    SaveScreenshot(&about, "about-dialog");
    ExpectSkinnedButtonsDrawn(&about, "about dialog");
    ExpectNoSkinKeysShown(&about, "about dialog");

    CAddGroup group;
    group.SetupForm();
    group.show();
    SaveScreenshot(&group, "add-group-dialog");
    ExpectSkinnedButtonsDrawn(&group, "add group dialog");
    ExpectNoSkinKeysShown(&group, "add group dialog");
    {
        CMessageBoxWatcher watcher;
        group.OnOKClicked();
        EXPECT_EQ(watcher.Texts().value(0), TrMessage(27));
    }
    EXPECT_EQ(group.GetResult(), 0);
    group.GroupEdit()->setText("Mine");
    group.OnOKClicked();
    EXPECT_EQ(group.GetResult(), 1);

    CAddTypeDlg type;
    type.SetGroupList({"A", "B", "C"});
    type.SetGroupIndex(1);
    type.SetupForm();
    type.show();
    SaveScreenshot(&type, "add-type-dialog");
    EXPECT_EQ(type.GetGroup(), "B");
    type.ExtensionEdit()->setText("abc");
    {
        CMessageBoxWatcher watcher;
        type.OnOKClicked();
        EXPECT_EQ(watcher.Texts().value(0), TrMessage(34));
    }
    type.DescriptionEdit()->setText("Abc files");
    type.OnOKClicked();
    EXPECT_EQ(type.GetResult(), 1);
}

} // namespace
