// A folder of 100,000 found files in the real result store: opening it builds the first page of
// rows only, and the list fetches the next pages from the store as it is scrolled, sorted or
// ticked. The times are printed (the bound only catches a listing of the whole folder).
#include <algorithm>
#include <cstdlib>
#include <set>

#include <QElapsedTimer>
#include <QLabel>

#include <cstdio>

#include "CorrandTestSupport.h"
#include "RVTabWidget.h"
#include "ResultsTestSupport.h"

namespace {

using namespace resultstest;

constexpr int kFiles = 100000;
constexpr int kSmallFiles = kFiles / 10;

QString FileName(int i)
{
    char szName[64];
    std::snprintf(szName, sizeof(szName), "file %06d.%s", i, i % 3 == 0 ? "jpg" : i % 3 == 1 ? "txt" : "doc");
    return QString::fromLatin1(szName);
}

// The number in a row's file name; -1 for no row.
int FileNumber(QTreeWidget* pList, int nRow)
{
    QTreeWidgetItem* pItem = pList->topLevelItem(nRow);
    return pItem != nullptr ? pItem->text(0).mid(5, 6).toInt() : -1;
}

// Rows nFrom - 1 and nFrom follow each other in the store's order (a fetch neither skips nor
// repeats a file): their numbers step as the first two rows' do.
void ExpectContinues(QTreeWidget* pList, int nFrom)
{
    const int nStep = FileNumber(pList, 1) - FileNumber(pList, 0);
    EXPECT_EQ(1, std::abs(nStep));
    EXPECT_EQ(nStep, FileNumber(pList, nFrom) - FileNumber(pList, nFrom - 1)) << "at row " << nFrom;
}

TEST(LargeFolder, HundredThousandFilesOpenInTheList)
{
    setenv("RAVENDO_RESULT_DB", (ScratchFolder() + "/Large.db").c_str(), 1);
    setenv("RAVENDO_MODULE_DIR", rvdtest::OutputDir().c_str(), 1);
    ICorrand* pStore = Store();
    ASSERT_NE(nullptr, pStore);
    {
        corrandtest::CTestTree tree;
        CFileNode* pBig = tree.Folder(tree.Root(), "Big");
        CFileNode* pSmall = tree.Folder(tree.Root(), "Small");
        char szName[64];
        for (int i = 0; i < kFiles; ++i) {
            std::snprintf(szName, sizeof(szName), "%s", FileName(i).toLatin1().constData());
            corrandtest::CTestTree::Props(tree.File(pBig, szName, 1000 + i))->SetRuns({{16, 1}});
            if (i < kSmallFiles)
                corrandtest::CTestTree::Props(tree.File(pSmall, szName, 1000 + i))->SetRuns({{16, 1}});
        }
        const PARTITION_INFO_EX record = corrandtest::UserRecord(2048);
        ASSERT_EQ(0, pStore->AddPartition(&record, 0, 1));
        ASSERT_EQ(0, pStore->AddFileTree(tree.Root()));
    }

    CTestResultPage page;
    page.Initialize();
    QTreeWidgetItem* pPartition = page.FloderTreeWidget->topLevelItem(0);
    page.OpenFolder(pPartition);
    QTreeWidgetItem* pDeleted = ChildNamed(pPartition, "Deleted Files");
    ASSERT_NE(nullptr, pDeleted);
    page.OpenFolder(pDeleted);
    QTreeWidgetItem* pBig = ChildNamed(pDeleted, "Big");
    ASSERT_NE(nullptr, pBig);
    QTreeWidgetItem* pSmall = ChildNamed(pDeleted, "Small");
    ASSERT_NE(nullptr, pSmall);

    constexpr int kPage = CBuildTreePage::FILE_ROWS_PER_FETCH;
    QElapsedTimer timer;
    timer.start();
    page.OpenFolder(pSmall);
    const qint64 llSmallMs = timer.elapsed();
    EXPECT_EQ(kPage, page.FilesTreeWidget->topLevelItemCount());
    timer.restart();
    page.OpenFolder(pBig);
    const qint64 llOpenMs = timer.elapsed();
    std::printf("[ MEASURE  ] folders of %d and %d files open in the list in %lld and %lld ms\n", kSmallFiles,
                kFiles, static_cast<long long>(llSmallMs), static_cast<long long>(llOpenMs));
    // Only the first page has rows, in the store's order; the rest waits in the store. The bound
    // only catches a listing of the whole folder on a badly loaded machine, not a slow one.
    ASSERT_EQ(kPage, page.FilesTreeWidget->topLevelItemCount());
    EXPECT_TRUE(page.HasMoreFiles());
    EXPECT_FALSE(page.FilesTreeWidget->isSortingEnabled());
    ExpectContinues(page.FilesTreeWidget, kPage - 1);
    EXPECT_LT(llOpenMs, 10000);

    // Scrolling to the end of the list fetches the next page, and only that.
    page.resize(1000, 700);
    page.show();
    QApplication::processEvents();
    page.FilesTreeWidget->scrollToBottom();
    QElapsedTimer wait;
    wait.start();
    while (page.FilesTreeWidget->topLevelItemCount() == kPage && wait.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_EQ(2 * kPage, page.FilesTreeWidget->topLevelItemCount());
    ExpectContinues(page.FilesTreeWidget, kPage);
    page.hide();

    // Ticking all of it adds up without a wrap, also for the files without a row, and the rows
    // fetched later come ticked; clearing comes back to zero.
    timer.restart();
    page.OnSelectAll();
    const qint64 llTickMs = timer.elapsed();
    const uint64_t ullAll = static_cast<uint64_t>(kFiles) * 1000 + static_cast<uint64_t>(kFiles) * (kFiles - 1) / 2;
    EXPECT_EQ(ullAll, page.SelectedSize());
    std::printf("[ MEASURE  ] select all of %d files in %lld ms\n", kFiles, static_cast<long long>(llTickMs));
    EXPECT_EQ(Qt::Checked, pBig->checkState(0));
    EXPECT_EQ(kPage, page.FetchMoreFiles());
    EXPECT_EQ(Qt::Checked, page.FilesTreeWidget->topLevelItem(3 * kPage - 1)->checkState(0));
    page.OnUnSelectAll();
    EXPECT_EQ(0u, page.SelectedSize());
    EXPECT_EQ(kPage, page.FetchMoreFiles());
    EXPECT_EQ(Qt::Unchecked, page.FilesTreeWidget->topLevelItem(4 * kPage - 1)->checkState(0));

    // One file ticked: the folder is ticked in part.
    QTreeWidgetItem* pFirst = page.FilesTreeWidget->topLevelItem(0);
    pFirst->setCheckState(0, Qt::Checked);
    page.TickFileRow(pFirst);
    EXPECT_EQ(CBuildTreePage::RowBytes(pFirst), page.SelectedSize());
    EXPECT_EQ(Qt::PartiallyChecked, pBig->checkState(0));

    // A search ends the store's listing of the folder; its next rows carry on where they stopped.
    SEARCH_CONDITION condition{};
    condition.dwCriteria = SEARCH_BY_NAME;
    const char* pszMask = "file 00000?.txt";
    for (int i = 0; pszMask[i] != 0; ++i)
        condition.szNameMask[i] = pszMask[i];
    page.RunSearch(condition);
    EXPECT_EQ(3, page.SearchFilesTreeWidget->topLevelItemCount());
    page.tabWidgetFileTree->setCurrentIndex(0);
    EXPECT_EQ(kPage, page.FetchMoreFiles());
    ExpectContinues(page.FilesTreeWidget, 4 * kPage);
    ExpectContinues(page.FilesTreeWidget, 5 * kPage - 1);

    // Reopened ticked in part, the folder's unseen files may differ: clearing the one tick
    // fetches them all, and the folder turns out clear.
    page.OpenFolder(pDeleted);
    pBig = ChildNamed(pDeleted, "Big");
    ASSERT_NE(nullptr, pBig);
    EXPECT_EQ(Qt::PartiallyChecked, pBig->checkState(0));
    page.OpenFolder(pBig);
    ASSERT_EQ(kPage, page.FilesTreeWidget->topLevelItemCount());
    pFirst = page.FilesTreeWidget->topLevelItem(0);
    EXPECT_EQ(Qt::Checked, pFirst->checkState(0));
    pFirst->setCheckState(0, Qt::Unchecked);
    page.TickFileRow(pFirst);
    EXPECT_EQ(kFiles, page.FilesTreeWidget->topLevelItemCount());
    EXPECT_FALSE(page.HasMoreFiles());
    EXPECT_EQ(Qt::Unchecked, pBig->checkState(0));
    EXPECT_EQ(0u, page.SelectedSize());

    // The first sort of a folder shown in part fetches every row and sorts them all.
    page.OpenFolder(pDeleted);
    pBig = ChildNamed(pDeleted, "Big");
    ASSERT_NE(nullptr, pBig);
    page.OpenFolder(pBig);
    ASSERT_EQ(kPage, page.FilesTreeWidget->topLevelItemCount());
    timer.restart();
    page.OnFilesHeaderClicked(RESULT_COLUMN_TYPE);
    const qint64 llSortMs = timer.elapsed();
    std::printf("[ MEASURE  ] sorting the folder of %d files (all rows fetched first) in %lld ms\n", kFiles,
                static_cast<long long>(llSortMs));
    ASSERT_EQ(kFiles, page.FilesTreeWidget->topLevelItemCount());
    EXPECT_TRUE(page.FilesTreeWidget->isSortingEnabled());
    const QString strFirstType = page.FilesTreeWidget->topLevelItem(0)->text(RESULT_COLUMN_TYPE);
    const QString strLastType = page.FilesTreeWidget->topLevelItem(kFiles - 1)->text(RESULT_COLUMN_TYPE);
    EXPECT_LE(strFirstType, strLastType);
    std::set<int> setNumbers;
    for (int i = 0; i < kFiles; ++i)
        setNumbers.insert(FileNumber(page.FilesTreeWidget, i));
    EXPECT_EQ(static_cast<size_t>(kFiles), setNumbers.size());
    EXPECT_EQ(0, *setNumbers.begin());
    EXPECT_EQ(kFiles - 1, *setNumbers.rbegin());

    // Reopening it again forgets the old rows first.
    page.OpenFolder(pDeleted);
    EXPECT_LT(page.KnownRowCount(), 100);
}

} // namespace
