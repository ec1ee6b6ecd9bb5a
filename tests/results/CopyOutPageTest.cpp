// Copy-out through the pages: ticks on the result page, Next, then the progress page running
// the copy-out module to its end; the copies must hold the manifest's bytes. Also the progress
// page's own arithmetic, its message lines and its link.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTextBrowser>

#include "ProgressPage.h"
#include "ResultsTestSupport.h"

namespace {

using namespace resultstest;

// A progress page that records what it would open instead of starting a file manager.
class CTestProgressPage : public CProgressPage {
public:
    CTestProgressPage() : CProgressPage(nullptr) {}
    QStringList listOpened;
    uint64_t ullNow = 0;
    bool bFixedClock = false;

protected:
    void OpenFolder(const QString& strFolder) override { listOpened << strFolder; }
    uint64_t TickNow() const override { return bFixedClock ? ullNow : CProgressPage::TickNow(); }
};

bool RunToEnd(CTestProgressPage& page)
{
    QElapsedTimer timer;
    timer.start();
    while (page.IsRunning() && timer.elapsed() < 60000)
        QTest::qWait(50);
    return !page.IsRunning();
}

class CopyOutPage : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ScanFixture()); }

    // The copies below the run folder, by path below "Deleted Files", against the manifest.
    void ExpectCopies(const QString& strRecoveryPath, const std::set<std::string>& setPaths)
    {
        const auto copies = FilesBelow(strRecoveryPath.toStdString());
        std::map<std::string, std::string> mapExpected;
        for (const auto& entry : DeletedFiles())
            if (setPaths.count(entry.strPath) != 0)
                mapExpected["Deleted Files" + entry.strPath] = entry.strSha256;
        EXPECT_EQ(mapExpected, copies);
    }

    rvdtest::CTempDir m_Target;
};

TEST_F(CopyOutPage, TickedFoldersAreCopiedWithTheManifestBytes)
{
    CTestResultPage page;
    page.Initialize();
    QTreeWidgetItem* pPartition = page.FloderTreeWidget->topLevelItem(0);
    page.OpenFolder(pPartition);
    QTreeWidgetItem* pDeleted = ChildNamed(pPartition, "Deleted Files");
    page.OpenFolder(pDeleted);
    ClickBox(page, page.FloderTreeWidget, ChildNamed(pDeleted, "Old Projects"), Qt::Checked);
    ClickBox(page, page.FilesTreeWidget, RowNamed(page.FilesTreeWidget, "deleted note.txt"), Qt::Checked);
    page.lineEditPath->setText(QString::fromStdString(m_Target.Path()));
    int nStep = 1;
    ASSERT_EQ(0, page.OnNext(nStep)) << (page.vecMessages.empty() ? QString() : page.vecMessages.back()).toStdString();

    CTestProgressPage progress;
    progress.resize(760, 518);
    progress.show();
    progress.Initialize();
    ASSERT_TRUE(RunToEnd(progress));
    progress.UpdateProgress();
    EXPECT_EQ(100, progress.progressBar->value());
    // However often the finished page is refreshed, it shows its link once.
    progress.UpdateProgress();
    QTextBrowser* pText = progress.findChild<QTextBrowser*>("textBrowser");
    ASSERT_NE(nullptr, pText);
    EXPECT_EQ(1, pText->toPlainText().count("View recovery result"));
    SaveScreenshot(&progress, "copy-out-finished");
    ASSERT_FALSE(progress.RecoveryPath().isEmpty());
    EXPECT_TRUE(progress.RecoveryPath().startsWith(QString::fromStdString(m_Target.Path() + "/")));
    ExpectCopies(progress.RecoveryPath(),
                 {"/Old Projects/Project plan.txt", "/Old Projects/Sub Folder/budget sheet.xls", "/deleted note.txt"});

    // The link opens that folder and nothing else.
    const QString strHtml = progress.MessageView()->toHtml();
    EXPECT_TRUE(strHtml.contains(QUrl::fromLocalFile(progress.RecoveryPath()).toString(QUrl::FullyEncoded).toHtmlEscaped()))
        << strHtml.toStdString();
    progress.OnAnchorClicked(QUrl::fromLocalFile(progress.RecoveryPath()));
    progress.OnAnchorClicked(QUrl::fromLocalFile("/etc"));
    progress.OnAnchorClicked(QUrl("https://example.com/"));
    EXPECT_EQ(QStringList{progress.RecoveryPath()}, progress.listOpened);
}

TEST_F(CopyOutPage, SearchTabHandsOverOnlyItsTickedHits)
{
    CTestResultPage page;
    page.Initialize();
    QTreeWidgetItem* pPartition = page.FloderTreeWidget->topLevelItem(0);
    page.OpenFolder(pPartition);
    QTreeWidgetItem* pDeleted = ChildNamed(pPartition, "Deleted Files");
    page.OpenFolder(pDeleted);
    // Ticked in the tree, but the search tab's Next hands over its own hits only.
    ClickBox(page, page.FloderTreeWidget, ChildNamed(pDeleted, "Documents"), Qt::Checked);
    SEARCH_CONDITION c{};
    c.dwCriteria = SEARCH_BY_NAME;
    const char16_t szMask[] = u"*.jpg";
    std::copy(std::begin(szMask), std::end(szMask), c.szNameMask);
    page.RunSearch(c);
    ASSERT_EQ(2, page.SearchFilesTreeWidget->topLevelItemCount());
    page.OnSelectAll1();
    ClickBox(page, page.SearchFilesTreeWidget, RowNamed(page.SearchFilesTreeWidget, "holiday-003 deleted.jpg"), Qt::Unchecked);
    page.lineEditPath->setText(QString::fromStdString(m_Target.Path()));
    int nStep = 1;
    ASSERT_EQ(0, page.OnNext(nStep));
    EXPECT_EQ(12338u, page.SelectedSize());

    CTestProgressPage progress;
    progress.Initialize();
    ASSERT_TRUE(RunToEnd(progress));
    progress.UpdateProgress();
    ExpectCopies(progress.RecoveryPath(), {"/Photos/Deleted fragmented photo.jpg"});
}

TEST(ProgressPage, RemainingTimeAndElapsedTime)
{
    EXPECT_EQ("00:00:30", CProgressPage::FormatDuration(CProgressPage::RemainingMSecs(10000, 25)));
    EXPECT_EQ("00:00:00", CProgressPage::FormatDuration(CProgressPage::RemainingMSecs(10000, 100)));
    EXPECT_EQ("27:46:40", CProgressPage::FormatDuration(100000000));
    EXPECT_EQ(0u, CProgressPage::RemainingMSecs(5000, 0));
}

TEST(ProgressPage, WithoutAMessageLineItIsQuietAndLinesAreText)
{
    // No copy-out module at all: the page waits and shows no link.
    RegisterModuleFactory(u"Tessary", [] { return static_cast<void*>(nullptr); });
    CTestProgressPage page;
    page.bFixedClock = true;
    page.ullNow = 1000;
    page.Initialize();
    page.ullNow = 11000;
    // Lines sent between two ticks appear together, in order, at the next tick; names from
    // the disk are never taken for markup.
    CProgressPage::OnRecoveryMessage(u"first <b>line</b>", 0, &page);
    CProgressPage::OnRecoveryMessage(u"second & last", 2, &page);
    page.UpdateProgress();
    EXPECT_EQ("00:00:10", page.ElapsedTimeLabel->text());
    const QString strText = page.MessageView()->toPlainText();
    EXPECT_TRUE(strText.endsWith("first <b>line</b>\nsecond & last")) << strText.toStdString();
    EXPECT_TRUE(strText.startsWith("The copy-out module could not be loaded")) << strText.toStdString();
    EXPECT_EQ(0, page.progressBar->value());
    EXPECT_TRUE(page.RecoveryPath().isEmpty());
    RegisterModuleFactory(u"Tessary", nullptr);
}

} // namespace
