// A folder of 100,000 found files in the real result store: the page lists it in batches and
// fills the list in one go. The times are printed; what is checked is growth: ten times the files
// must not take much more than ten times as long as the small folder of the same run, so a busy
// machine does not fail the test but a listing that grows with the square of the count does.
#include <algorithm>

#include <QElapsedTimer>
#include <QLabel>

#include <cstdio>

#include "CorrandTestSupport.h"
#include "ResultsTestSupport.h"

namespace {

using namespace resultstest;

constexpr int kFiles = 100000;
constexpr int kSmallFiles = kFiles / 10;

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
            std::snprintf(szName, sizeof(szName), "file %06d.%s", i, i % 3 == 0 ? "jpg" : i % 3 == 1 ? "txt" : "doc");
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

    QElapsedTimer timer;
    timer.start();
    page.OpenFolder(pSmall);
    const qint64 llSmallMs = timer.elapsed();
    ASSERT_EQ(kSmallFiles, page.FilesTreeWidget->topLevelItemCount());
    timer.restart();
    page.OpenFolder(pBig);
    const qint64 llOpenMs = timer.elapsed();
    ASSERT_EQ(kFiles, page.FilesTreeWidget->topLevelItemCount());
    std::printf("[ MEASURE  ] folders of %d and %d files open in the list in %lld and %lld ms\n", kSmallFiles,
                kFiles, static_cast<long long>(llSmallMs), static_cast<long long>(llOpenMs));
    // Linear growth gives about 10x; a square-law listing gives about 100x.
    EXPECT_LT(llOpenMs, 30 * std::max<qint64>(llSmallMs, 100));

    // Ticking all of it adds up without a wrap, and clearing comes back to zero.
    timer.restart();
    page.OnSelectAll();
    const qint64 llTickMs = timer.elapsed();
    const uint64_t ullAll = static_cast<uint64_t>(kFiles) * 1000 + static_cast<uint64_t>(kFiles) * (kFiles - 1) / 2;
    EXPECT_EQ(ullAll, page.SelectedSize());
    std::printf("[ MEASURE  ] select all of %d files in %lld ms\n", kFiles, static_cast<long long>(llTickMs));
    page.OnUnSelectAll();
    EXPECT_EQ(0u, page.SelectedSize());
    // Reopening it again forgets the old rows first.
    page.OpenFolder(pDeleted);
    EXPECT_LT(page.KnownRowCount(), 100);
}

} // namespace
