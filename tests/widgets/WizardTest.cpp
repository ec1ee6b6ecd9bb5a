// Page flow of the wizard: hooks that refuse, skip and fail, the button row, and every way out
// (Back on the first page, Cancel, Finish, the title bar), each of which must hand control back
// to the owner through WizardPageFinish.
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

#include "ImagePushButton.h"
#include "Wizard.h"
#include "WizardPage.h"

namespace {

struct CALL_LOG {
    QStringList listCalls;
};

class CTestPage : public CWizardPage {
public:
    CTestPage(int nNumber, CALL_LOG& log)
        : m_nNumber(nNumber)
        , m_log(log)
    {
    }
    int Initialize() override { return Record("init", m_nInitResult); }
    int OnNext(int& nStep) override
    {
        nStep = m_nStep;
        return Record("next", m_nNextResult);
    }
    int OnBack() override { return Record("back", m_nBackResult); }
    int OnCancel() override { return Record("cancel", m_nCancelResult); }

    static void SetSharedDstPath(const QString& strPath) { SetDstPath(strPath); }
    static QString SharedDstPath() { return GetDstPath(); }

    int m_nInitResult = 0;
    int m_nNextResult = 0;
    int m_nBackResult = 0;
    int m_nCancelResult = 0;
    int m_nStep = 1;

private:
    int Record(const char* pszHook, int nResult)
    {
        m_log.listCalls << QString("%1:%2").arg(pszHook).arg(m_nNumber);
        return nResult;
    }
    int m_nNumber;
    CALL_LOG& m_log;
};

class WizardTest : public ::testing::Test {
protected:
    void Build(int nPages)
    {
        m_pWizard = std::make_unique<CWizard>();
        for (int i = 0; i < nPages; ++i) {
            m_vecPages.push_back(new CTestPage(i, m_log));
            m_pWizard->AddPage(m_vecPages.back());
        }
        m_pSpy = std::make_unique<QSignalSpy>(m_pWizard.get(), SIGNAL(WizardPageFinish()));
        m_pWizard->Start();
    }
    int Current() const
    {
        return m_pWizard->findChild<QStackedWidget*>()->currentIndex();
    }
    CImagePushButton* Button(int nID) const
    {
        // The buttons are the wizard's direct image-button children, in ID order.
        const auto listButtons =
            m_pWizard->findChildren<CImagePushButton*>(QString(), Qt::FindDirectChildrenOnly);
        return listButtons.at(nID - 1);
    }
    QStringList TakeCalls()
    {
        QStringList listCalls = m_log.listCalls;
        m_log.listCalls.clear();
        return listCalls;
    }

    CALL_LOG m_log;
    std::unique_ptr<CWizard> m_pWizard;
    std::vector<CTestPage*> m_vecPages;
    std::unique_ptr<QSignalSpy> m_pSpy;
};

TEST_F(WizardTest, BuildsSkinnedDialogWithFinishHidden)
{
    Build(2);
    EXPECT_EQ(m_pWizard->objectName(), "BorderImage");
    EXPECT_EQ(m_pWizard->windowTitle(), "Ravendo");
    EXPECT_FALSE(m_pWizard->windowIcon().isNull());
    ASSERT_EQ(m_pWizard->findChildren<CImagePushButton*>(QString(), Qt::FindDirectChildrenOnly).size(), 4);
    for (int nID = CWizard::BTN_BACK; nID <= CWizard::BTN_FINISH; ++nID) {
        EXPECT_EQ(Button(nID)->size(), QSize(96, 30)) << "button " << nID;
        EXPECT_FALSE(Button(nID)->icon().isNull());
    }
    EXPECT_FALSE(Button(CWizard::BTN_BACK)->isHidden());
    EXPECT_FALSE(Button(CWizard::BTN_NEXT)->isHidden());
    EXPECT_FALSE(Button(CWizard::BTN_CANCEL)->isHidden());
    EXPECT_TRUE(Button(CWizard::BTN_FINISH)->isHidden());
    EXPECT_EQ(TakeCalls(), QStringList{"init:0"});
}

TEST_F(WizardTest, NextWalksForwardAndHidesBackAndNextOnLastPage)
{
    Build(3);
    TakeCalls();
    m_pWizard->OnNext();
    EXPECT_EQ(Current(), 1);
    EXPECT_EQ(TakeCalls(), (QStringList{"next:0", "init:1"}));
    EXPECT_FALSE(Button(CWizard::BTN_NEXT)->isHidden());

    m_pWizard->OnNext();
    EXPECT_EQ(Current(), 2);
    EXPECT_TRUE(Button(CWizard::BTN_BACK)->isHidden());
    EXPECT_TRUE(Button(CWizard::BTN_NEXT)->isHidden());
}

TEST_F(WizardTest, RefusedNextStaysOnPage)
{
    Build(3);
    m_vecPages[0]->m_nNextResult = 1;
    TakeCalls();
    m_pWizard->OnNext();
    EXPECT_EQ(Current(), 0);
    EXPECT_EQ(TakeCalls(), QStringList{"next:0"});
}

TEST_F(WizardTest, StepTwoSkipsAPageAndBackReturnsToTheSetter)
{
    Build(4);
    m_vecPages[0]->m_nStep = 2;
    m_pWizard->OnNext();
    EXPECT_EQ(Current(), 2);
    m_pWizard->OnBack();
    EXPECT_EQ(Current(), 0);
    EXPECT_FALSE(m_log.listCalls.contains("init:1"));
    EXPECT_EQ(m_pSpy->count(), 0);
}

TEST_F(WizardTest, NextNeverStepsPastTheLastPage)
{
    Build(3);
    m_vecPages[0]->m_nStep = 5;
    m_pWizard->OnNext();
    EXPECT_EQ(Current(), 2);
    EXPECT_TRUE(Button(CWizard::BTN_NEXT)->isHidden());

    // A last page that shows Next again does not lead anywhere, nor is it asked to leave.
    m_pWizard->ShowButton(CWizard::BTN_NEXT);
    TakeCalls();
    m_pWizard->OnNext();
    EXPECT_EQ(Current(), 2);
    EXPECT_TRUE(TakeCalls().isEmpty());

    // The history holds only pages that exist: one Back returns to the first page.
    m_pWizard->OnBack();
    EXPECT_EQ(Current(), 0);
    EXPECT_EQ(m_pSpy->count(), 0);
}

TEST_F(WizardTest, FailedInitializeGoesBackThroughTheNewPagesOnBack)
{
    Build(3);
    m_vecPages[1]->m_nInitResult = 1;
    TakeCalls();
    m_pWizard->OnNext();
    EXPECT_EQ(Current(), 0);
    EXPECT_EQ(TakeCalls(), (QStringList{"next:0", "init:1", "back:1"}));
    EXPECT_EQ(m_pSpy->count(), 0);
}

TEST_F(WizardTest, BackFromLastPageShowsNextButNotBack)
{
    Build(2);
    m_pWizard->OnNext();
    m_pWizard->OnBack();
    EXPECT_EQ(Current(), 0);
    EXPECT_FALSE(Button(CWizard::BTN_NEXT)->isHidden());
    EXPECT_TRUE(Button(CWizard::BTN_BACK)->isHidden());
}

TEST_F(WizardTest, RefusedBackStays)
{
    Build(3);
    m_pWizard->OnNext();
    m_vecPages[1]->m_nBackResult = 1;
    m_pWizard->OnBack();
    EXPECT_EQ(Current(), 1);
}

TEST_F(WizardTest, BackOnFirstPageFinishes)
{
    Build(3);
    m_pWizard->show();
    m_pWizard->OnBack();
    EXPECT_EQ(m_pSpy->count(), 1);
    EXPECT_FALSE(m_pWizard->isVisible());
    EXPECT_EQ(Current(), 0);
}

TEST_F(WizardTest, CancelAsksThePageThenEveryPageBackAndFinishes)
{
    Build(4);
    m_pWizard->show();
    m_pWizard->OnNext();
    m_pWizard->OnNext();
    TakeCalls();
    m_pWizard->OnCancel();
    EXPECT_EQ(TakeCalls(), (QStringList{"cancel:2", "back:2", "back:1"}));
    EXPECT_EQ(m_pSpy->count(), 1);
    EXPECT_FALSE(m_pWizard->isVisible());
    EXPECT_EQ(Current(), 0);

    // The wizard starts over from its first page: one Back now finishes again.
    m_pWizard->OnBack();
    EXPECT_EQ(m_pSpy->count(), 2);
}

TEST_F(WizardTest, CancelRefusedByThePageStays)
{
    Build(3);
    m_pWizard->show();
    m_pWizard->OnNext();
    m_vecPages[1]->m_nCancelResult = 1;
    m_pWizard->OnCancel();
    EXPECT_EQ(Current(), 1);
    EXPECT_EQ(m_pSpy->count(), 0);
    EXPECT_TRUE(m_pWizard->isVisible());
}

TEST_F(WizardTest, RefusedBackStopsTheUnwindingOnThatPage)
{
    Build(4);
    m_pWizard->show();
    m_pWizard->OnNext();
    m_pWizard->OnNext();
    m_vecPages[1]->m_nBackResult = 1;
    TakeCalls();
    m_pWizard->OnCancel();
    EXPECT_EQ(TakeCalls(), (QStringList{"cancel:2", "back:2", "back:1"}));
    EXPECT_EQ(Current(), 1);
    EXPECT_EQ(m_pSpy->count(), 0);
    EXPECT_TRUE(m_pWizard->isVisible());

    m_vecPages[3]->m_nBackResult = 1;
    m_pWizard->OnNext();
    m_pWizard->OnNext();
    TakeCalls();
    m_pWizard->OnFinish();
    EXPECT_EQ(TakeCalls(), QStringList{"back:3"});
    EXPECT_EQ(Current(), 3);
    EXPECT_EQ(m_pSpy->count(), 0);
}

TEST_F(WizardTest, CancelOnLastPageOnlyAsksThatPage)
{
    Build(2);
    m_pWizard->show();
    m_pWizard->OnNext();
    TakeCalls();
    m_pWizard->OnCancel();
    EXPECT_EQ(TakeCalls(), QStringList{"cancel:1"});
    EXPECT_EQ(Current(), 1);
    EXPECT_EQ(m_pSpy->count(), 0);
    EXPECT_TRUE(m_pWizard->isVisible());
}

TEST_F(WizardTest, FinishUnwindsWithoutAskingCancel)
{
    Build(3);
    m_pWizard->show();
    m_pWizard->OnNext();
    m_pWizard->OnNext();
    TakeCalls();
    m_pWizard->OnFinish();
    EXPECT_EQ(TakeCalls(), (QStringList{"back:2", "back:1"}));
    EXPECT_EQ(m_pSpy->count(), 1);
    EXPECT_FALSE(m_pWizard->isVisible());
}

TEST_F(WizardTest, TitleBarCloseActsAsCancel)
{
    Build(3);
    m_pWizard->show();
    m_pWizard->OnNext();
    m_vecPages[1]->m_nCancelResult = 1;
    m_pWizard->close();
    EXPECT_TRUE(m_pWizard->isVisible());
    EXPECT_EQ(m_pSpy->count(), 0);

    m_vecPages[1]->m_nCancelResult = 0;
    TakeCalls();
    m_pWizard->close();
    EXPECT_EQ(TakeCalls(), (QStringList{"cancel:1", "back:1"}));
    EXPECT_FALSE(m_pWizard->isVisible());
    EXPECT_EQ(m_pSpy->count(), 1);
}

TEST_F(WizardTest, TitleBarCloseOnLastPage)
{
    Build(2);
    m_pWizard->show();
    m_pWizard->OnNext();
    // While the last page still works, closing is its cancel: the page decides.
    TakeCalls();
    m_pWizard->close();
    EXPECT_EQ(TakeCalls(), QStringList{"cancel:1"});
    EXPECT_TRUE(m_pWizard->isVisible());

    // Once it offers only Finish, closing finishes and the owner gets the wizard back.
    m_pWizard->HideButton(CWizard::BTN_CANCEL);
    m_pWizard->ShowButton(CWizard::BTN_FINISH);
    m_pWizard->close();
    EXPECT_FALSE(m_pWizard->isVisible());
    EXPECT_EQ(m_pSpy->count(), 1);
}

TEST_F(WizardTest, EscapeNeverCloses)
{
    Build(2);
    m_pWizard->show();
    QTest::keyClick(m_pWizard.get(), Qt::Key_Escape);
    QTest::keyClick(m_pWizard.get(), Qt::Key_Return);
    EXPECT_TRUE(m_pWizard->isVisible());
    EXPECT_EQ(m_pSpy->count(), 0);
    EXPECT_EQ(Current(), 0);
}

TEST_F(WizardTest, ButtonsDriveTheSlotsThroughReleased)
{
    Build(3);
    m_pWizard->show();
    QTest::mouseClick(Button(CWizard::BTN_NEXT), Qt::LeftButton, Qt::NoModifier, QPoint(48, 15));
    EXPECT_EQ(Current(), 1);
    QTest::mouseClick(Button(CWizard::BTN_BACK), Qt::LeftButton, Qt::NoModifier, QPoint(48, 15));
    EXPECT_EQ(Current(), 0);
    QTest::mouseClick(Button(CWizard::BTN_CANCEL), Qt::LeftButton, Qt::NoModifier, QPoint(48, 15));
    EXPECT_EQ(m_pSpy->count(), 1);
}

TEST_F(WizardTest, ButtonOperationsIgnoreInvalidIdsAndKeepImages)
{
    Build(2);
    const qint64 nIconKey = Button(CWizard::BTN_BACK)->icon().cacheKey();
    m_pWizard->SetButtonStatus(CWizard::BTN_BACK, false);
    EXPECT_FALSE(Button(CWizard::BTN_BACK)->isEnabled());
    EXPECT_EQ(Button(CWizard::BTN_BACK)->icon().cacheKey(), nIconKey);

    for (signed char cID : {static_cast<signed char>(-1), static_cast<signed char>(0),
                            static_cast<signed char>(5)}) {
        m_pWizard->ShowButton(cID);
        m_pWizard->HideButton(cID);
        m_pWizard->SetButtonStatus(cID, false);
        m_pWizard->SetButtonText(cID, "x");
    }
    EXPECT_TRUE(Button(CWizard::BTN_FINISH)->isHidden());
    EXPECT_FALSE(Button(CWizard::BTN_NEXT)->isHidden());
    m_pWizard->ShowButton(CWizard::BTN_FINISH);
    EXPECT_FALSE(Button(CWizard::BTN_FINISH)->isHidden());
    m_pWizard->SetButtonText(CWizard::BTN_FINISH, "Done");
    EXPECT_EQ(Button(CWizard::BTN_FINISH)->text(), "Done");
}

TEST_F(WizardTest, NullPageAndEmptyWizardAreIgnored)
{
    CWizard wizard;
    QSignalSpy spy(&wizard, SIGNAL(WizardPageFinish()));
    wizard.AddPage(nullptr);
    wizard.Start();
    wizard.OnNext();
    wizard.OnBack();
    wizard.OnCancel();
    wizard.OnFinish();
    EXPECT_EQ(spy.count(), 0);
}

TEST(WizardPageTest, ConstructingAPageClearsTheSharedDestination)
{
    CALL_LOG log;
    CTestPage::SetSharedDstPath("/srv/recovered");
    EXPECT_EQ(CTestPage::SharedDstPath(), "/srv/recovered");
    CTestPage page(0, log);
    EXPECT_TRUE(CTestPage::SharedDstPath().isEmpty());
}

} // namespace
