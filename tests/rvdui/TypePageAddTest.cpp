// Adding a group and a type through the file-type page's dialogs: the tree and the catalogue
// get them, the extension gains its dot, and a group name taken in another letter case is refused.
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QTranslator>
#include <gtest/gtest.h>

#include "AddTypeDialogs.h"
#include "MainWnd.h"
#include <QLabel>
#include "MessageTable.h"
#include "RVTreeWidget.h"
#include "RvdUiTestSupport.h"
#include "ScanWizards.h"
#include "SearchTypsPage.h"
#include "TestSupport.h"
#include "TypeInfoXml.h"

using namespace rvduitest;

namespace {

// Fills the next add dialog that opens and presses its OK.
template <typename DIALOG, typename FILL>
void AnswerNextDialog(FILL fill)
{
    auto* pTimer = new QTimer();
    pTimer->setInterval(20);
    QObject::connect(pTimer, &QTimer::timeout, [pTimer, fill] {
        DIALOG* pDialog = qobject_cast<DIALOG*>(QApplication::activeModalWidget());
        if (pDialog == nullptr || !pDialog->isVisible())
            return;
        pTimer->stop();
        pTimer->deleteLater();
        fill(pDialog);
        pDialog->OnOKClicked();
    });
    pTimer->start();
}

TEST(TypePageAddTest, GroupAndTypeReachTreeAndCatalogue)
{
    ResetCatalogue();
    CQuickScanWizard wizard;
    CSearchTypsPage* pPage = wizard.TypesPage();
    pPage->Initialize();
    CRVTreeWidget* pTree = pPage->TypeTree();
    const int nGroups = pTree->topLevelItemCount();

    AnswerNextDialog<CAddGroup>([](CAddGroup* pDlg) { pDlg->GroupEdit()->setText("My Files"); });
    pPage->AddGroupAction(false);
    ASSERT_EQ(pTree->topLevelItemCount(), nGroups + 1);
    QTreeWidgetItem* pGroup = pTree->topLevelItem(nGroups);
    EXPECT_EQ(pGroup->text(0), "My Files");

    // The same name in other letters is refused.
    AnswerNextDialog<CAddGroup>([](CAddGroup* pDlg) { pDlg->GroupEdit()->setText("my files"); });
    {
        CMessageBoxWatcher watcher;
        pPage->AddGroupAction(false);
        EXPECT_EQ(watcher.Texts().value(0), TrMessage(73));
    }
    EXPECT_EQ(pTree->topLevelItemCount(), nGroups + 1);

    pTree->setCurrentItem(pGroup);
    AnswerNextDialog<CAddTypeDlg>([](CAddTypeDlg* pDlg) {
        pDlg->ExtensionEdit()->setText("abc");
        pDlg->DescriptionEdit()->setText("Abc file");
    });
    pPage->AddTypeAction(false);
    ASSERT_EQ(pGroup->childCount(), 1);
    EXPECT_EQ(pGroup->child(0)->text(0), "Abc file(.abc)");
    pGroup->child(0)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(pPage->SelectedFilter(), ".abc");

    CTypeInfoXml xml;
    xml.ReadTypeInfo();
    const auto items = xml.GetTypeInfoList();
    ASSERT_GE(items.size(), 2u);
    EXPECT_EQ(items[items.size() - 2].description, "My Files");
    EXPECT_EQ(items.back().filterType, ";.abc");
    EXPECT_EQ(items.back().iconType, "file.abc");

    // Delete removes the user's type; the shipped ones stay.
    pPage->UnselAllClicked();
    pGroup->child(0)->setCheckState(0, Qt::Checked);
    pPage->DelClicked();
    CTypeInfoXml after;
    after.ReadTypeInfo();
    EXPECT_EQ(after.GetTypeInfoList().size(), items.size() - 1);
    ResetCatalogue();
}

TEST(TranslationTest, TheChineseTranslationIsBuiltAndLoads)
{
    QTranslator translator;
    ASSERT_TRUE(translator.load(QString::fromStdString(rvdtest::OutputDir()) + "/Resources/Language/zh_CN/rvdui_zh.qm"));
    EXPECT_FALSE(translator.translate("QObject", "Quick Scan").isEmpty());
    EXPECT_FALSE(translator.translate("QObject", "You must run Ravendo with administrator rights.").isEmpty());

    // Installed, it turns the screens' texts.
    QApplication::installTranslator(&translator);
    {
        CMainWnd wnd;
        EXPECT_NE(wnd.NoteLabel()->text(), QString(g_szMessageTable[13]));
        EXPECT_EQ(wnd.NoteLabel()->text(), translator.translate("QObject", g_szMessageTable[13]));
        SaveScreenshot(&wnd, "main-window-zh");
    }
    QApplication::removeTranslator(&translator);
}

} // namespace
