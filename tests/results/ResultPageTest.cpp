// The result page on a quick scan of the NTFS fixture: partitions and folders listed from the
// store, ticks that reach the store and add up to the manifest's sizes, searches by name, date
// and size that find the manifest's files, and the target checks on Next.
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

#include "ResultsTestSupport.h"
#include "MessageTable.h"
#include "RVTabWidget.h"
#include "SearchDlg.h"
#include "TargetCheck.h"
#include "UIRoutines.h"

namespace {

using namespace resultstest;

class ResultPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ScanFixture());
        m_pPage.reset(new CTestResultPage());
        m_pPage->Initialize();
        m_pStore = Store();
        ASSERT_NE(nullptr, m_pStore);
    }

    // The partition node, then "Deleted Files" opened below it.
    QTreeWidgetItem* OpenDeletedFiles()
    {
        QTreeWidgetItem* pPartition = m_pPage->FloderTreeWidget->topLevelItem(0);
        EXPECT_NE(nullptr, pPartition);
        m_pPage->OpenFolder(pPartition);
        QTreeWidgetItem* pDeleted = ChildNamed(pPartition, "Deleted Files");
        EXPECT_NE(nullptr, pDeleted);
        m_pPage->OpenFolder(pDeleted);
        return pDeleted;
    }

    uint64_t ManifestBytes(const std::string& strPrefix = "/")
    {
        uint64_t ullSum = 0;
        for (const auto& entry : DeletedFiles())
            if (entry.strPath.compare(0, strPrefix.size(), strPrefix) == 0)
                ullSum += entry.nSize;
        return ullSum;
    }

    std::set<QString> ManifestNames(bool (*pfnWanted)(const rvdtest::ManifestEntry&))
    {
        std::set<QString> set;
        for (const auto& entry : DeletedFiles())
            if (pfnWanted(entry))
                set.insert(QString::fromStdString(entry.vecNames.back()));
        return set;
    }

    std::unique_ptr<CTestResultPage> m_pPage;
    ICorrand* m_pStore = nullptr;
};

TEST_F(ResultPage, ListsPartitionThenFoldersAndFilesFromTheStore)
{
    ASSERT_EQ(1, m_pPage->FloderTreeWidget->topLevelItemCount());
    QTreeWidgetItem* pPartition = m_pPage->FloderTreeWidget->topLevelItem(0);
    // No label and no drive letter: the file system's name twice.
    EXPECT_EQ("1 NTFS(NTFS)", pPartition->text(0));
    EXPECT_EQ(NO_FOLDER_OPENED, m_pPage->CurrentFolder());

    QTreeWidgetItem* pDeleted = OpenDeletedFiles();
    ASSERT_NE(nullptr, pDeleted);
    EXPECT_EQ(pDeleted, m_pPage->CurrentFolderItem());
    // Subfolders go to the tree, files to the list; each row keyed by volume and record.
    std::set<QString> setFolders;
    for (int i = 0; i < pDeleted->childCount(); ++i)
        setFolders.insert(pDeleted->child(i)->text(0));
    EXPECT_EQ((std::set<QString>{"Documents", "Many Files", "Old Projects", "Photos", QString::fromUtf8("Données Ω")}),
              setFolders);
    EXPECT_EQ((std::set<QString>{"Deleted without truncation.bin", "deleted note.txt"}), RowNames(m_pPage->FilesTreeWidget));
    QTreeWidgetItem* pNote = RowNamed(m_pPage->FilesTreeWidget, "deleted note.txt");
    ASSERT_NE(nullptr, pNote);
    EXPECT_EQ(FormatSizeText(400), pNote->text(RESULT_COLUMN_SIZE));
    EXPECT_EQ(400u, CBuildTreePage::RowBytes(pNote));
    DWORD dwVolume = 9, dwRecord = 0;
    ASSERT_EQ(0, CBuildTreePage::ParseItemKey(pNote, &dwVolume, &dwRecord));
    EXPECT_EQ(0u, dwVolume);
    EXPECT_NE(0u, dwRecord);
    EXPECT_EQ(7, CBuildTreePage::ListedEntryCount(pDeleted));

    // A folder in a folder: the list shows only the newest folder's files.
    QTreeWidgetItem* pOld = ChildNamed(pDeleted, "Old Projects");
    m_pPage->OpenFolder(pOld);
    EXPECT_EQ((std::set<QString>{"Project plan.txt"}), RowNames(m_pPage->FilesTreeWidget));
    QTreeWidgetItem* pSub = ChildNamed(pOld, "Sub Folder");
    ASSERT_NE(nullptr, pSub);
    m_pPage->OpenFolder(pSub);
    EXPECT_EQ((std::set<QString>{"budget sheet.xls"}), RowNames(m_pPage->FilesTreeWidget));
}

TEST_F(ResultPage, ReopeningAFolderForgetsTheOldRows)
{
    QTreeWidgetItem* pDeleted = OpenDeletedFiles();
    m_pPage->OpenFolder(ChildNamed(pDeleted, "Documents"));
    const int nKnown = m_pPage->KnownRowCount();
    // Reopening the parent deletes "Documents" and its rows: none of them stays known, and the
    // page holds no pointer to them.
    m_pPage->OpenFolder(pDeleted);
    EXPECT_EQ(pDeleted, m_pPage->CurrentFolderItem());
    EXPECT_EQ(2u, RowNames(m_pPage->FilesTreeWidget).size()) << "the list shows the reopened folder's files";
    m_pPage->OpenFolder(pDeleted->parent());
    EXPECT_LT(m_pPage->KnownRowCount(), nKnown);
    EXPECT_EQ(0, m_pPage->FilesTreeWidget->topLevelItemCount()) << "the top of the volume has no files";
    // Initialize again starts from nothing.
    m_pPage->Initialize();
    EXPECT_EQ(1, m_pPage->KnownRowCount());
    EXPECT_EQ(nullptr, m_pPage->CurrentFolderItem());
}

TEST_F(ResultPage, TicksReachTheStoreAndSizesAddUp)
{
    QTreeWidgetItem* pDeleted = OpenDeletedFiles();
    ClickBox(*m_pPage, m_pPage->FloderTreeWidget, pDeleted, Qt::Checked);
    // Every deleted file of the volume, listed or not.
    EXPECT_EQ(ManifestBytes(), m_pPage->SelectedSize());
    EXPECT_EQ(FormatSizeText(ManifestBytes()), m_pPage->labelFileSize->text());
    EXPECT_EQ(Qt::Checked, m_pPage->FloderTreeWidget->topLevelItem(0)->checkState(0));

    // The files of a folder opened later come ticked from the store.
    QTreeWidgetItem* pDocuments = ChildNamed(pDeleted, "Documents");
    m_pPage->OpenFolder(pDocuments);
    ASSERT_EQ(3, m_pPage->FilesTreeWidget->topLevelItemCount());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Qt::Checked, m_pPage->FilesTreeWidget->topLevelItem(i)->checkState(0));

    // One file cleared: its folder and every folder above it are ticked in part.
    QTreeWidgetItem* pMemo = RowNamed(m_pPage->FilesTreeWidget, "OLDMEMO.TXT");
    ClickBox(*m_pPage, m_pPage->FilesTreeWidget, pMemo, Qt::Unchecked);
    EXPECT_EQ(Qt::PartiallyChecked, pDocuments->checkState(0));
    EXPECT_EQ(Qt::PartiallyChecked, pDeleted->checkState(0));
    EXPECT_EQ(ManifestBytes() - 1200, m_pPage->SelectedSize());
    EXPECT_EQ(ManifestBytes() - 1200, m_pStore->GetCheckedSize(0, 0, 0));

    // Ticks survive opening other folders, folding and unfolding.
    m_pPage->OpenFolder(ChildNamed(pDeleted, "Photos"));
    pDeleted->setExpanded(false);
    pDeleted->setExpanded(true);
    m_pPage->OpenFolder(pDocuments);
    EXPECT_EQ(Qt::Unchecked, RowNamed(m_pPage->FilesTreeWidget, "OLDMEMO.TXT")->checkState(0));
    EXPECT_EQ(Qt::Checked, RowNamed(m_pPage->FilesTreeWidget, "Deleted Report Draft.doc")->checkState(0));
    EXPECT_EQ(Qt::PartiallyChecked, pDocuments->checkState(0));
    EXPECT_EQ(ManifestBytes() - 1200, m_pPage->SelectedSize());

    // Select all of the list ticks the folder fully again; unselect all clears its files only.
    m_pPage->OnSelectAll();
    EXPECT_EQ(Qt::Checked, pDocuments->checkState(0));
    EXPECT_EQ(Qt::Checked, pDeleted->checkState(0));
    EXPECT_EQ(ManifestBytes(), m_pPage->SelectedSize());
    m_pPage->OnUnSelectAll();
    EXPECT_EQ(Qt::Unchecked, pDocuments->checkState(0));
    EXPECT_EQ(ManifestBytes() - ManifestBytes("/Documents/"), m_pPage->SelectedSize());

    // Clearing the top clears everything; the total never wraps below zero.
    ClickBox(*m_pPage, m_pPage->FloderTreeWidget, pDeleted, Qt::Unchecked);
    EXPECT_EQ(0u, m_pPage->SelectedSize());
    EXPECT_EQ(0u, m_pStore->GetCheckedSize(0, 0, 0));
}

TEST_F(ResultPage, FolderStateFollowsItsFiles)
{
    QTreeWidgetItem* pDeleted = OpenDeletedFiles();
    QTreeWidgetItem* pPhotos = ChildNamed(pDeleted, "Photos");
    m_pPage->OpenFolder(pPhotos);
    ASSERT_EQ(2, m_pPage->FilesTreeWidget->topLevelItemCount());
    ClickBox(*m_pPage, m_pPage->FilesTreeWidget, m_pPage->FilesTreeWidget->topLevelItem(0), Qt::Checked);
    EXPECT_EQ(Qt::PartiallyChecked, pPhotos->checkState(0));
    ClickBox(*m_pPage, m_pPage->FilesTreeWidget, m_pPage->FilesTreeWidget->topLevelItem(1), Qt::Checked);
    EXPECT_EQ(Qt::Checked, pPhotos->checkState(0));
    EXPECT_EQ(ManifestBytes("/Photos/"), m_pPage->SelectedSize());
    // A click that changes no box sends nothing and changes no total.
    const uint64_t ullBefore = m_pPage->SelectedSize();
    m_pPage->TickFileRow(m_pPage->FilesTreeWidget->topLevelItem(0));
    EXPECT_EQ(ullBefore, m_pPage->SelectedSize());
    // A folder never opened takes its size from the store.
    QTreeWidgetItem* pOld = ChildNamed(pDeleted, "Old Projects");
    ClickBox(*m_pPage, m_pPage->FloderTreeWidget, pOld, Qt::Checked);
    EXPECT_EQ(9900u, CBuildTreePage::RowBytes(pOld));
    EXPECT_EQ(ManifestBytes("/Photos/") + 9900, m_pPage->SelectedSize());
}

TEST_F(ResultPage, SortsSizesAndDatesByValue)
{
    QTreeWidgetItem* pDeleted = OpenDeletedFiles();
    m_pPage->OpenFolder(ChildNamed(pDeleted, "Documents"));
    QTreeWidget* pList = m_pPage->FilesTreeWidget;
    // 800 B, 1200 B and 18000 B: as text "0.78 KB" < "1.17 KB" < "17.58 KB" happens to agree,
    // so the check also sorts by date, where text and value disagree across months.
    m_pPage->OnFilesHeaderClicked(RESULT_COLUMN_SIZE);
    EXPECT_EQ(800u, CBuildTreePage::RowBytes(pList->topLevelItem(0)));
    EXPECT_EQ(18000u, CBuildTreePage::RowBytes(pList->topLevelItem(2)));
    m_pPage->OnFilesHeaderClicked(RESULT_COLUMN_SIZE);
    EXPECT_EQ(18000u, CBuildTreePage::RowBytes(pList->topLevelItem(0)));
    m_pPage->OnFilesHeaderClicked(RESULT_COLUMN_SIZE);
    EXPECT_EQ(800u, CBuildTreePage::RowBytes(pList->topLevelItem(0)));
    pList->sortItems(RESULT_COLUMN_SIZE, Qt::DescendingOrder);
    EXPECT_EQ(18000u, CBuildTreePage::RowBytes(pList->topLevelItem(0)));
    EXPECT_EQ(800u, CBuildTreePage::RowBytes(pList->topLevelItem(2)));
}

TEST_F(ResultPage, SearchesByNameDateAndSizeFindTheManifestFiles)
{
    struct SEARCH_CASE {
        const char* pszName;
        SEARCH_CONDITION Condition;
        bool (*pfnWanted)(const rvdtest::ManifestEntry&);
    };
    auto ByName = [](const char16_t* pszMask) {
        SEARCH_CONDITION c{};
        c.dwCriteria = SEARCH_BY_NAME;
        for (int i = 0; pszMask[i] != 0; ++i)
            c.szNameMask[i] = pszMask[i];
        return c;
    };
    SEARCH_CONDITION byDate = ByName(u"*");
    byDate.dwCriteria |= SEARCH_BY_DATE;
    byDate.stDateFrom = SYSTEMTIME{2017, 7, 0, 16, 0, 0, 0, 0};
    byDate.stDateTo = SYSTEMTIME{2017, 7, 0, 16, 23, 59, 59, 999};
    SEARCH_CONDITION bySize = ByName(u"*");
    bySize.dwCriteria |= SEARCH_BY_SIZE;
    bySize.dwSizeMode = SEARCH_SIZE_MORE_THAN;
    bySize.ullSizeBound = 10 * 1024;
    const SEARCH_CASE cases[] = {
        {"name", ByName(u"*.jpg"),
         [](const rvdtest::ManifestEntry& e) { return e.strPath.size() > 4 && e.strPath.substr(e.strPath.size() - 4) == ".jpg"; }},
        {"date", byDate,
         [](const rvdtest::ManifestEntry& e) { return e.nMtime >= 1500163200 && e.nMtime < 1500249600; }},
        {"size", bySize, [](const rvdtest::ManifestEntry& e) { return e.nSize > 10240; }},
    };
    for (const SEARCH_CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_pPage->RunSearch(c.Condition);
        EXPECT_EQ(ManifestNames(c.pfnWanted), RowNames(m_pPage->SearchFilesTreeWidget));
        EXPECT_FALSE(ManifestNames(c.pfnWanted).empty());
        EXPECT_EQ(1, m_pPage->tabWidgetFileTree->currentIndex());
        EXPECT_TRUE(m_pPage->IsSearchMode());
        // Before any folder was opened the search runs from the volume's top.
        EXPECT_EQ(NO_FOLDER_OPENED, m_pPage->SearchCondition().dwFolderRecord);
    }
}

TEST_F(ResultPage, SearchHitsCarryTheirVolumeAndSelectAllTicksOnlyThem)
{
    QTreeWidgetItem* pDeleted = OpenDeletedFiles();
    m_pPage->OpenFolder(ChildNamed(pDeleted, "Photos"));
    SEARCH_CONDITION c{};
    c.dwCriteria = SEARCH_BY_NAME;
    c.szNameMask[0] = u'*';
    m_pPage->RunSearch(c);
    const int nHits = m_pPage->SearchFilesTreeWidget->topLevelItemCount();
    EXPECT_EQ(2, nHits) << "the search runs within the opened folder";
    for (int i = 0; i < nHits; ++i) {
        DWORD dwVolume = 77, dwRecord = 0;
        ASSERT_EQ(0, CBuildTreePage::ParseItemKey(m_pPage->SearchFilesTreeWidget->topLevelItem(i), &dwVolume, &dwRecord));
        EXPECT_EQ(m_pPage->CurrentVolume(), dwVolume);
    }
    m_pPage->OnSelectAll1();
    EXPECT_EQ(ManifestBytes("/Photos/"), m_pPage->SearchSelectedSize());
    // The folder and the store are not ticked by the search tab's select all.
    EXPECT_EQ(0u, m_pStore->GetCheckedSize(0, 0, 0));
    EXPECT_EQ(Qt::Unchecked, pDeleted->checkState(0));
    // Unticking a hit never takes the total below zero.
    m_pPage->OnUnSelectAll1();
    EXPECT_EQ(0u, m_pPage->SearchSelectedSize());
    QTreeWidgetItem* pHit = m_pPage->SearchFilesTreeWidget->topLevelItem(0);
    pHit->setCheckState(0, Qt::Unchecked);
    m_pPage->TickSearchRow(pHit);
    EXPECT_EQ(0u, m_pPage->SearchSelectedSize());
    // Closing the tab forgets the hits.
    m_pPage->OntabCloseRequested(1);
    EXPECT_EQ(0, m_pPage->SearchFilesTreeWidget->topLevelItemCount());
    EXPECT_EQ(1, m_pPage->tabWidgetFileTree->count());
}

TEST_F(ResultPage, NextChecksTheTarget)
{
    rvdtest::CTempDir dir;
    int nStep = 1;
    // Empty target.
    m_pPage->lineEditPath->clear();
    EXPECT_EQ(1, m_pPage->OnNext(nStep));
    ASSERT_EQ(1u, m_pPage->vecMessages.size());
    EXPECT_EQ(TrMessage(37), m_pPage->vecMessages.back());
    // Blanks only: trimmed to nothing.
    m_pPage->lineEditPath->setText("   ");
    EXPECT_EQ(1, m_pPage->OnNext(nStep));
    EXPECT_EQ(TrMessage(57), m_pPage->vecMessages.back());
    m_pPage->lineEditPath->setText("relative");
    EXPECT_EQ(1, m_pPage->OnNext(nStep));
    EXPECT_EQ(TrMessage(51), m_pPage->vecMessages.back());
    // A folder on the file system that holds the scanned image: the user is asked.
    const std::string strBeside = rvdtest::FixturePath("beside-the-image");
    m_pPage->lineEditPath->setText(QString::fromStdString(strBeside));
    m_pPage->nAnswer = QMessageBox::No;
    EXPECT_EQ(1, m_pPage->OnNext(nStep));
    EXPECT_EQ(TrMessage(47), m_pPage->vecMessages.back());
    // Surrounding blanks go, inner ones stay; more selected than free is refused.
    const QString strTarget = QString::fromStdString(dir.File("my  recovered"));
    m_pPage->lineEditPath->setText("  " + strTarget + " ");
    m_pPage->nAnswer = QMessageBox::Yes;
    const size_t nBefore = m_pPage->vecMessages.size();
    EXPECT_EQ(0, m_pPage->OnNext(nStep));
    // At most the question about the image's file system, answered Yes.
    if (m_pPage->vecMessages.size() != nBefore) {
        EXPECT_EQ(TrMessage(47), m_pPage->vecMessages.back());
    }
    EXPECT_TRUE(m_pPage->CheckFreeSpace(0));
    QTreeWidgetItem* pDeleted = OpenDeletedFiles();
    ClickBox(*m_pPage, m_pPage->FloderTreeWidget, pDeleted, Qt::Checked);
    EXPECT_TRUE(m_pPage->CheckFreeSpace(ManifestBytes()));
    EXPECT_FALSE(m_pPage->CheckFreeSpace(ManifestBytes() - 1));
    EXPECT_EQ(TrMessage(80), m_pPage->vecMessages.back());
}

TEST_F(ResultPage, BrowseFillsTheTarget)
{
    m_pPage->strChosenFolder = "/srv/recovered files";
    m_pPage->OnBrowse();
    EXPECT_EQ("/srv/recovered files", m_pPage->lineEditPath->text());
    m_pPage->strChosenFolder.clear();
    m_pPage->OnBrowse();
    EXPECT_TRUE(m_pPage->lineEditPath->text().isEmpty());
}

TEST_F(ResultPage, SplitModeClickPreviewsOnceListModeTicks)
{
    QTreeWidgetItem* pDeleted = OpenDeletedFiles();
    m_pPage->OpenFolder(ChildNamed(pDeleted, "Photos"));
    QTreeWidgetItem* pRow = m_pPage->FilesTreeWidget->topLevelItem(0);
    m_pPage->OnSplitMode();
    m_pPage->OnRightItemClicked(pRow, 0);
    m_pPage->OnRightItemClicked(pRow, 0);
    EXPECT_EQ(1u, m_pPage->vecPreviewed.size());
    m_pPage->OnListMode();
    pRow->setCheckState(0, Qt::Checked);
    m_pPage->OnRightItemClicked(pRow, 0);
    EXPECT_EQ(1u, m_pPage->vecPreviewed.size());
    EXPECT_EQ(CBuildTreePage::RowBytes(pRow), m_pPage->SelectedSize());
}

TEST_F(ResultPage, Screenshots)
{
    m_pPage->resize(760, 518);
    m_pPage->show();
    QTreeWidgetItem* pDeleted = OpenDeletedFiles();
    m_pPage->OpenFolder(ChildNamed(pDeleted, "Documents"));
    ClickBox(*m_pPage, m_pPage->FilesTreeWidget, RowNamed(m_pPage->FilesTreeWidget, "OLDMEMO.TXT"), Qt::Checked);
    m_pPage->lineEditPath->setText("/media/usb/recovered");
    m_pPage->OnListMode();
    QTest::qWait(50);
    SaveScreenshot(m_pPage.get(), "results-list");
    m_pPage->OnSplitMode();
    QTest::qWait(50);
    SaveScreenshot(m_pPage.get(), "results-split");
    SEARCH_CONDITION c{};
    c.dwCriteria = SEARCH_BY_NAME;
    c.szNameMask[0] = u'*';
    m_pPage->OpenFolder(pDeleted);
    m_pPage->RunSearch(c);
    m_pPage->OnSearchListMode();
    QTest::qWait(50);
    SaveScreenshot(m_pPage.get(), "results-search");

    CSearchDlg dialog;
    dialog.lineEdit->setText("*.doc");
    dialog.checkBox_5->setChecked(true);
    dialog.DateClick();
    dialog.checkBox_6->setChecked(true);
    dialog.SizeClick();
    dialog.show();
    QTest::qWait(50);
    SaveScreenshot(&dialog, "search-dialog");
    EXPECT_FALSE(QImage(QString(RVD_SCREENSHOT_DIR) + "/results-split.png").isNull());
}

} // namespace
