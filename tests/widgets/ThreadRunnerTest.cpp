// The job runner: the dialog's closing code from the job's result (only its low 16 bits
// count), cancelling, a second Start of the same runner, and the wait-dialog page.
#include <QDialog>
#include <QTemporaryDir>
#include <QPixmap>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ProgressDlg.h"
#include "ProgressDlgBase.h"
#include "ThreadProgress.h"
#include "WidgetTestEnvironment.h"

namespace {

// A dialog with its own progress display, as the scan progress dialog is built.
class CJobDialog : public QDialog, public CProgressDlgBase {
public:
    CJobDialog() { SetDialog(this); }

    int Run() override
    {
        m_bRunning = true;
        QElapsedTimer timer;
        timer.start();
        while (!m_bRelease && timer.elapsed() < m_nRunMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        m_bRunning = false;
        ++m_nRuns;
        return m_nResult;
    }
    void UpdateDlg() override
    {
        ++m_nTicks;
        m_bVisibleAtTick = m_bVisibleAtTick || isVisible();
    }
    void showEvent(QShowEvent* pEvent) override
    {
        ++m_nShown;
        QDialog::showEvent(pEvent);
    }

    std::atomic<int> m_nResult{0};
    std::atomic<int> m_nRunMs{0};
    std::atomic<bool> m_bRelease{false};
    std::atomic<bool> m_bRunning{false};
    std::atomic<int> m_nRuns{0};
    int m_nShown = 0;
    int m_nTicks = 0;
    bool m_bVisibleAtTick = false;
};

struct CLOSE_CASE {
    int nRunResult;
    int nExpectedCode;
};

TEST(ThreadRunnerTest, ClosingCodeFollowsTheLow16BitsOfRun)
{
    const CLOSE_CASE aCases[] = {
        {0, JOB_DONE},
        {7, JOB_DONE},
        {0x100C, JOB_DONE},
        {264, JOB_CANCELLED},
        {265, JOB_NOTHING_FOUND},
        {0x10108, JOB_CANCELLED},
        {0x7FFF0109, JOB_NOTHING_FOUND},
        {0x20000, JOB_DONE},
        {-1, JOB_DONE},
    };
    for (const CLOSE_CASE& c : aCases) {
        CJobDialog job;
        job.m_nResult = c.nRunResult;
        EXPECT_EQ(job.Start(), c.nExpectedCode) << "Run returned " << c.nRunResult;
        EXPECT_EQ(job.m_nRuns, 1);
    }
}

TEST(ThreadRunnerTest, QuickJobStillShowsTheDialogUntilTheFirstTick)
{
    CJobDialog job;
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(job.Start(), JOB_DONE);
    EXPECT_GE(timer.elapsed(), 450);
    // The dialog was up until the tick that closed it, and UpdateDlg ran once, after the close.
    EXPECT_EQ(job.m_nShown, 1);
    EXPECT_EQ(job.m_nTicks, 1);
    EXPECT_FALSE(job.m_bVisibleAtTick);
    EXPECT_FALSE(job.isVisible());
}

TEST(ThreadRunnerTest, UserCancelClosesAtTheNextTickButStartWaitsForTheJob)
{
    CJobDialog job;
    job.m_nRunMs = 1500;
    QTimer::singleShot(100, [&job] { job.UserCancel(); });
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(job.Start(), JOB_CANCELLED);
    EXPECT_GE(timer.elapsed(), 1450);
    EXPECT_FALSE(job.m_bRunning);
    EXPECT_EQ(job.m_nRuns, 1);
}

TEST(ThreadRunnerTest, CancelBeforeTheJobEndsStaysCancelled)
{
    // The job ends well before the first tick, after the cancel: the user's cancel is the
    // outcome, whatever the job returned.
    CJobDialog job;
    job.m_nRunMs = 5000;
    QTimer::singleShot(100, [&job] {
        job.UserCancel();
        job.m_bRelease = true;
    });
    EXPECT_EQ(job.Start(), JOB_CANCELLED);
}

TEST(ThreadRunnerTest, SecondStartBeginsFresh)
{
    CJobDialog job;
    job.m_nResult = 264;
    EXPECT_EQ(job.Start(), JOB_CANCELLED);

    // Were the cancelled status kept, this dialog would close at its first tick with 264.
    job.m_nResult = 0;
    job.m_nRunMs = 1200;
    job.m_nTicks = 0;
    EXPECT_EQ(job.Start(), JOB_DONE);
    EXPECT_GE(job.m_nTicks, 3);
    EXPECT_EQ(job.m_nRuns, 2);

    job.m_nResult = 265;
    job.m_nRunMs = 0;
    EXPECT_EQ(job.Start(), JOB_NOTHING_FOUND);
}

TEST(ThreadRunnerTest, SetDialogKeepsTheFirstDialog)
{
    CJobDialog job;
    QDialog other;
    job.SetDialog(&other);
    job.m_nRunMs = 700;
    EXPECT_EQ(job.Start(), JOB_DONE);
    EXPECT_TRUE(job.m_bVisibleAtTick);
    EXPECT_FALSE(other.isVisible());
}

class CUnboundJob : public CProgressDlgBase {
public:
    int Run() override { return ++m_nRuns, 265; }
    void UpdateDlg() override {}
    int m_nRuns = 0;
};

TEST(ThreadRunnerTest, StartWithoutADialogDoesNothing)
{
    CUnboundJob job;
    EXPECT_EQ(job.Start(), 0);
    job.UserCancel();
    EXPECT_EQ(job.m_nRuns, 0);
}

class CPlainRunner : public CThreadRunner {
public:
    int Run() override
    {
        m_bReturned = true;
        return 0;
    }
    void UpdateDlg() override {}
    int Start() override { return 0; }
    std::atomic<bool> m_bReturned{false};
};

TEST(ThreadProgressTest, CancelAfterTheJobFinishedDoesNotOverwriteIt)
{
    QDialog dialog;
    CPlainRunner runner;
    CThreadProgress thread(&dialog, &runner);
    QTimer::singleShot(100, [&thread] {
        while (!thread.isFinished())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        thread.SetProgressStatus(CThreadProgress::STATUS_CANCELLED);
    });
    EXPECT_EQ(thread.Start(), JOB_DONE);
    EXPECT_EQ(thread.GetProgressStatus(), CThreadProgress::STATUS_DONE);
}

TEST(ThreadProgressTest, NoRunnerCountsAsDone)
{
    QDialog dialog;
    CThreadProgress thread(&dialog, nullptr);
    EXPECT_EQ(thread.Start(), JOB_DONE);
}

// A page that must list something before it can be shown.
class CListingPage : public CProgressDlg {
public:
    using CProgressDlg::CProgressDlg;
    int Run() override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(m_nRunMs));
        return m_nResult;
    }
    void UpdateDlg() override
    {
        m_bWaitShown = m_bWaitShown || GetWaitDlg()->isVisible();
        CProgressDlg::UpdateDlg();
    }
    int m_nResult = 0;
    int m_nRunMs = 0;
    bool m_bWaitShown = false;
};

QLabel* ImageLabel(CWaitDlg* pDlg)
{
    for (QLabel* pLabel : pDlg->findChildren<QLabel*>())
        if (pLabel->objectName() != "WhiteFont")
            return pLabel;
    return nullptr;
}

TEST(ProgressDlgTest, BuildsAFramelessModalWaitDialog)
{
    QWidget parent;
    CListingPage page(&parent);
    CWaitDlg* pDlg = page.GetWaitDlg();
    ASSERT_NE(pDlg, nullptr);
    EXPECT_EQ(pDlg->parentWidget(), &parent);
    EXPECT_EQ(pDlg->objectName(), "BorderImage");
    EXPECT_TRUE(pDlg->isModal());
    EXPECT_TRUE(pDlg->windowFlags() & Qt::FramelessWindowHint);
    QLabel* pText = pDlg->findChild<QLabel*>("WhiteFont");
    ASSERT_NE(pText, nullptr);
    EXPECT_EQ(pText->text(), "Please waiting...");
    page.SetWaitText("Enum Disk, Please wait...");
    EXPECT_EQ(pText->text(), "Enum Disk, Please wait...");
    QLabel* pImage = ImageLabel(pDlg);
    ASSERT_NE(pImage, nullptr);
    ASSERT_FALSE(pImage->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(pImage->pixmap(Qt::ReturnByValue).size(), QSize(32, 32));
    // Code that holds the page as a QObject reaches its runner through the meta-object.
    EXPECT_EQ(page.qt_metacast("CProgressDlgBase"), static_cast<CProgressDlgBase*>(&page));
}

TEST(ProgressDlgTest, AnimationCyclesThroughAllFrames)
{
    CListingPage page;
    QLabel* pImage = ImageLabel(page.GetWaitDlg());
    QTemporaryDir dirFrames;
    ASSERT_TRUE(dirFrames.isValid());
    QStringList listFrames;
    for (int i = 1; i <= 3; ++i) {
        const QString strPath = dirFrames.filePath(QString("frame%1.png").arg(i));
        QPixmap frame(i, i);
        frame.fill(Qt::red);
        ASSERT_TRUE(frame.save(strPath));
        listFrames << strPath;
    }
    page.SetLoopImage(listFrames);
    QList<int> listShown;
    for (int i = 0; i < 7; ++i) {
        page.CProgressDlg::UpdateDlg();
        listShown << pImage->pixmap(Qt::ReturnByValue).width();
    }
    EXPECT_EQ(listShown, (QList<int>{1, 2, 3, 1, 2, 3, 1}));

    // An empty list leaves the image as it is.
    page.SetLoopImage(QStringList());
    page.CProgressDlg::UpdateDlg();
    EXPECT_EQ(pImage->pixmap(Qt::ReturnByValue).width(), 1);
}

TEST(ProgressDlgTest, PageJobRunsBehindTheWaitDialog)
{
    QWidget parent;
    CListingPage page(&parent);
    page.m_nResult = 265;
    page.m_nRunMs = 700;
    EXPECT_EQ(page.Start(), JOB_NOTHING_FOUND);
    EXPECT_TRUE(page.m_bWaitShown);
    EXPECT_FALSE(page.GetWaitDlg()->isVisible());

    // The (unshown) cancel button still reaches the runner.
    page.m_nResult = 0;
    page.m_nRunMs = 1200;
    QTimer::singleShot(100, &page, &CProgressDlg::OnDlgCancel);
    EXPECT_EQ(page.Start(), JOB_CANCELLED);
}

TEST(ProgressDlgTest, WaitDialogClosesWhenThePageJobEnds)
{
    // A page's wait dialog does not wait for the 500 ms tick: a quick job's dialog is gone long
    // before it, and a cancel closes it as soon as the job returns.
    QWidget parent;
    CListingPage page(&parent);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(page.Start(), JOB_DONE);
    EXPECT_LT(timer.elapsed(), 450);
    EXPECT_FALSE(page.GetWaitDlg()->isVisible());
    page.m_nResult = 265;
    page.m_nRunMs = 50;
    EXPECT_EQ(page.Start(), JOB_NOTHING_FOUND);
}

TEST(ProgressDlgTest, WaitDialogIgnoresCloseAndEscape)
{
    CWaitDlg dlg;
    dlg.show();
    dlg.close();
    EXPECT_TRUE(dlg.isVisible());
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    dlg.done(0);
    EXPECT_FALSE(dlg.isVisible());
}

TEST(ProgressDlgTest, DefaultFramesComeFromTheSkin)
{
    CListingPage page;
    QLabel* pImage = ImageLabel(page.GetWaitDlg());
    for (int i = 0; i < 9; ++i) {
        page.CProgressDlg::UpdateDlg();
        ASSERT_FALSE(pImage->pixmap(Qt::ReturnByValue).isNull());
        EXPECT_EQ(pImage->pixmap(Qt::ReturnByValue).size(), QSize(32, 32)) << "frame " << i;
    }
}

} // namespace
