// How the pages and the progress dialog handle a scan that does not finish: with a stand-in
// engine whose Init and Search give any status, and whose Search can wait for Cancel.
#include <QCheckBox>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <thread>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidgetItemIterator>
#include <gtest/gtest.h>

#include "EnumDiskPage.h"
#include "IDelvar.h"
#include "ImagePushButton.h"
#include "MessageTable.h"
#include "ModuleLoader.h"
#include "PartitionTypePage.h"
#include "Pubic.h"
#include "RvdUiTestSupport.h"
#include "ScanOutcome.h"
#include "ScanWizards.h"
#include "SearchFileProgressDlg.h"

using namespace rvduitest;

namespace {

class CFakeEngine : public IDelvar {
public:
    int32_t Init(const DISK_INFO_EX* pDisk, const PARTITION_INFO_EX* pPartition, int32_t nMode, int32_t) override
    {
        ++nInits;
        bLastWasDisk = pDisk != nullptr;
        bLastHadPartition = pPartition != nullptr;
        nLastMode = nMode;
        return nInitResult;
    }
    void Reserved(int32_t, int32_t) override {}
    int32_t Search() override
    {
        ++nSearches;
        if (bWaitForCancel) {
            while (!bCancelled.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return DELVAR_CANCELLED;
        }
        return nSearchResult;
    }
    int32_t Cancel() override
    {
        bCancelled = true;
        return 0;
    }
    void GetProgress(SEARCH_PROGRESS* pProgress, int32_t anStatus[2]) override
    {
        if (pProgress != nullptr) {
            *pProgress = SEARCH_PROGRESS{};
            pProgress->dwPhase = 1;
            pProgress->dwPercent = 40;
            pProgress->ullFilesFound = 7;
        }
        if (anStatus != nullptr) {
            anStatus[0] = bCancelled ? 1 : 0;
            anStatus[1] = 0;
        }
    }

    int nInits = 0;
    int nSearches = 0;
    bool bLastWasDisk = false;
    bool bLastHadPartition = false;
    int nLastMode = -1;
    int32_t nInitResult = 0;
    int32_t nSearchResult = 0;
    bool bWaitForCancel = false;
    std::atomic<bool> bCancelled{false};
};

CFakeEngine* g_pFake = nullptr;

void* FakeFactory()
{
    return g_pFake;
}

// Puts a fresh stand-in engine in place for one test and the real one back afterwards.
class ScanFailureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_pFake = &m_engine;
        RegisterModuleFactory(u"Delvar", &FakeFactory);
    }
    void TearDown() override
    {
        RegisterModuleFactory(u"Delvar", nullptr);
        g_pFake = nullptr;
    }
    CFakeEngine m_engine;
};

QTreeWidgetItem* FirstPartitionRow(QTreeWidget* pTree, bool bDiskRow)
{
    for (QTreeWidgetItemIterator it(pTree); *it; ++it) {
        const bool bIsDisk = (*it)->data(2, Qt::UserRole).toBool();
        if (bIsDisk == bDiskRow && (!bDiskRow || !(*it)->data(3, Qt::UserRole).toBool()))
            return *it;
    }
    return nullptr;
}

void Choose(QTreeWidget* pTree, QTreeWidgetItem* pItem)
{
    pTree->clearSelection();
    pTree->setCurrentItem(pItem);
    pItem->setSelected(true);
}

TEST_F(ScanFailureTest, ProgressDialogClosesWithTheEngineStatus)
{
    struct CASE {
        int32_t nSearch;
        int nClosed;
    } aCases[] = {
        {0, 0},
        {DELVAR_CANCELLED, 264},
        {DELVAR_NOTHING_FOUND, 265},
        {DELVAR_NOTHING_FOUND | 0x10000, 265},
        {DELVAR_PARTITION_NOT_FOUND, DELVAR_PARTITION_NOT_FOUND},
        {DELVAR_NOT_INITIALIZED, DELVAR_NOT_INITIALIZED},
    };
    for (const CASE& c : aCases) {
        m_engine.nSearchResult = c.nSearch;
        CSearchFileProgressDlg dlg(&m_engine, nullptr, 1);
        EXPECT_EQ(dlg.Start(), c.nClosed) << std::hex << c.nSearch;
    }
}

TEST_F(ScanFailureTest, ProgressDialogShowsTheEngineProgressAndCancels)
{
    m_engine.bWaitForCancel = true;
    CSearchFileProgressDlg dlg(&m_engine, nullptr, 1);
    QTimer::singleShot(700, &dlg, [&] {
        EXPECT_EQ(dlg.ProgressBar()->value(), 40);
        EXPECT_EQ(dlg.FilesFoundLabel()->text(), "Files found: 7");
        EXPECT_NE(dlg.RemainLabel()->text(), "Calculating...");
        SaveScreenshot(&dlg, "progress-dialog");
        ExpectSkinnedButtonsDrawn(&dlg, "progress dialog");
        ExpectNoSkinKeysShown(&dlg, "progress dialog");
        // The title bar's close button cancels but does not close.
        dlg.close();
        EXPECT_TRUE(dlg.isVisible());
    });
    EXPECT_EQ(dlg.Start(), 264);
    EXPECT_TRUE(m_engine.bCancelled.load());
}

TEST_F(ScanFailureTest, QuickScanThatDoesNotFinishKeepsTheDiskPage)
{
    struct CASE {
        int32_t nSearch;
        bool bMessage;
    } aCases[] = {
        {DELVAR_CANCELLED, false},
        {DELVAR_NOTHING_FOUND, true},
        {DELVAR_PARTITION_NOT_FOUND, true},
        {0x7777, true},
    };
    for (const CASE& c : aCases) {
        m_engine.nSearchResult = c.nSearch;
        CQuickScanWizard wizard;
        QTreeWidget* pTree = wizard.DiskPage()->DiskTree();
        QTreeWidgetItem* pRow = FirstPartitionRow(pTree, false);
        ASSERT_NE(pRow, nullptr);
        Choose(pTree, pRow);
        CMessageBoxWatcher watcher;
        wizard.OnNext();
        EXPECT_EQ(CurrentIndex(&wizard), 0) << std::hex << c.nSearch;
        EXPECT_EQ(!watcher.Texts().isEmpty(), c.bMessage) << std::hex << c.nSearch;
        if (c.nSearch == DELVAR_NOTHING_FOUND) {
            EXPECT_EQ(watcher.Texts().value(0), TrMessage(58));
        }
        if (c.nSearch == 0x7777) {
            EXPECT_EQ(watcher.Texts().value(0), TrMessage(7));
        }
        EXPECT_EQ(GetLastScanOutcome().nResult, c.nSearch & 0xFFFF);
    }
}

TEST_F(ScanFailureTest, InitFailureIsShownAndThePageStays)
{
    m_engine.nInitResult = DELVAR_NOT_INITIALIZED;
    CQuickScanWizard wizard;
    QTreeWidget* pTree = wizard.DiskPage()->DiskTree();
    QTreeWidgetItem* pRow = FirstPartitionRow(pTree, false);
    ASSERT_NE(pRow, nullptr);
    Choose(pTree, pRow);
    CMessageBoxWatcher watcher;
    wizard.OnNext();
    EXPECT_EQ(CurrentIndex(&wizard), 0);
    EXPECT_EQ(m_engine.nSearches, 0);
    ASSERT_EQ(watcher.Texts().size(), 1);
    EXPECT_TRUE(watcher.Texts()[0].contains("result store"));
}

TEST_F(ScanFailureTest, ScanModeComesFromTheSelectedRow)
{
    CCompleteScanWizard wizard;
    QTreeWidget* pTree = wizard.DiskPage()->DiskTree();
    QTreeWidgetItem* pDisk = FirstPartitionRow(pTree, true);
    QTreeWidgetItem* pPartition = FirstPartitionRow(pTree, false);
    ASSERT_NE(pDisk, nullptr);
    ASSERT_NE(pPartition, nullptr);
    // The disk row was clicked last, but the partition row is what is selected.
    emit pTree->itemClicked(pDisk, 0);
    Choose(pTree, pPartition);
    int nStep = 1;
    EXPECT_EQ(wizard.DiskPage()->OnNext(nStep), 0);
    EXPECT_EQ(nStep, 2);
    EXPECT_EQ(m_engine.nLastMode, SCAN_MODE_COMPLETE);
    EXPECT_TRUE(m_engine.bLastHadPartition);
    EXPECT_EQ(m_engine.nSearches, 0) << "a complete scan runs on the file-system page";

    Choose(pTree, pDisk);
    wizard.DiskPage()->RawCheckBox()->setChecked(true);
    EXPECT_EQ(wizard.DiskPage()->OnNext(nStep), 0);
    EXPECT_EQ(m_engine.nLastMode, SCAN_MODE_WHOLE_DISK);
    EXPECT_TRUE(m_engine.bLastWasDisk);
    EXPECT_EQ(CPubic::GetGlobalAdvanceSettingData().m_bScanRaw, 1);
    CPubic::GetGlobalAdvanceSettingData().m_bScanRaw = 0;
}

TEST_F(ScanFailureTest, CancelledCompleteScanStaysOnTheFileSystemPage)
{
    m_engine.nSearchResult = DELVAR_CANCELLED;
    CCompleteScanWizard wizard;
    QTreeWidget* pTree = wizard.DiskPage()->DiskTree();
    QTreeWidgetItem* pPartition = FirstPartitionRow(pTree, false);
    ASSERT_NE(pPartition, nullptr);
    Choose(pTree, pPartition);
    wizard.OnNext();
    ASSERT_EQ(CurrentIndex(&wizard), 2);
    wizard.FileSystemPage()->Button(3)->setChecked(true);
    CMessageBoxWatcher watcher;
    wizard.OnNext();
    EXPECT_EQ(CurrentIndex(&wizard), 2);
    EXPECT_TRUE(watcher.Texts().isEmpty());
    EXPECT_EQ(CPubic::GetGlobalAdvanceSettingData().m_nFileSystemType, 3);
    EXPECT_EQ(m_engine.nSearches, 1);
}

} // namespace
