// The scan wizards with the real engine and modules on fixture images: pick a volume, a
// partition or a disk, scan, and reach the page after the scan with the files stored.
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <gtest/gtest.h>

#include "EnumDiskPage.h"
#include "ModuleLoader.h"
#include "PartitionTypePage.h"
#include "RVTreeWidget.h"
#include "Pubic.h"
#include "ResultStoreAccess.h"
#include "BuildTreePage.h"
#include "ICorrand.h"
#include "ProgressPage.h"
#include "RvdUiTestSupport.h"
#include "ScanOutcome.h"
#include "ScanOutcomePage.h"
#include "ScanWizards.h"
#include "SearchTypsPage.h"
#include "TestSupport.h"

using namespace rvduitest;

namespace {

// The row of the tree whose record lies on the given disk (a partition or volume row), or the
// disk row itself when bDiskRow.
QTreeWidgetItem* FindRow(QTreeWidget* pTree, DWORD dwDisk, bool bDiskRow)
{
    for (QTreeWidgetItemIterator it(pTree); *it; ++it) {
        QTreeWidgetItem* pItem = *it;
        if (bDiskRow) {
            DISK_INFO_EX* pDisk = pItem->data(1, Qt::UserRole).value<DISK_INFO_EX*>();
            if (pDisk != nullptr && pDisk->dwDiskNumber == dwDisk)
                return pItem;
        } else {
            PARTITION_INFO_EX* pPart = pItem->data(0, Qt::UserRole).value<PARTITION_INFO_EX*>();
            if (pPart != nullptr && pPart->dwDiskNumber == dwDisk && pPart->dwFileSystem != FILE_SYSTEM_UNALLOCATED)
                return pItem;
        }
    }
    return nullptr;
}

void Choose(QTreeWidget* pTree, QTreeWidgetItem* pItem)
{
    pTree->setCurrentItem(pItem);
    pItem->setSelected(true);
    emit pTree->itemClicked(pItem, 1);
}

// Files (not folders) the result store holds for its current result.
uint64_t StoredFileCount()
{
    auto* pStore = static_cast<ICorrand*>(CreateModuleInstance(u"Corrand"));
    if (pStore == nullptr)
        return 0;
    uint64_t ullFiles = 0;
    int32_t nVolumes = 0;
    pStore->GetPartitionCount(&nVolumes);
    for (int32_t v = 0; v < nVolumes; ++v) {
        std::vector<DWORD> vecFolders{0};
        while (!vecFolders.empty()) {
            const DWORD dwFolder = vecFolders.back();
            vecFolders.pop_back();
            for (int32_t nKind : {1, 2}) {
                pStore->StopEnumeration();
                FILE_INFO_EX* pFiles = nullptr;
                int32_t nCount = 0;
                if ((pStore->BeginEnumFiles(dwFolder, &pFiles, &nCount, nKind, static_cast<DWORD>(v)) & 0xFFFF) != 0)
                    continue;
                do {
                    for (int32_t i = 0; i < nCount; ++i) {
                        if (nKind == 1)
                            vecFolders.push_back(pFiles[i].dwRecordNumber);
                        else
                            ++ullFiles;
                    }
                } while ((pStore->GetNextFiles(&pFiles, &nCount) & 0xFFFF) == 0 && nCount > 0);
                pStore->EndEnumFiles();
            }
        }
    }
    return ullFiles;
}

// Gives the result page a target folder, presses Next (answering Yes to the question about a
// folder beside the scanned image) and waits for the copy-out page to end its run.
void CopyOutToScratchFolder(CWizard* pWizard)
{
    static rvdtest::CTempDir* pTarget = new rvdtest::CTempDir();
    auto* pResult = dynamic_cast<CBuildTreePage*>(CurrentPage(pWizard));
    if (pResult != nullptr)
        pResult->lineEditPath->setText(QString::fromStdString(pTarget->Path()));
    {
        CMessageBoxWatcher watcher(QMessageBox::Yes);
        pWizard->OnNext();
    }
    auto* pProgress = dynamic_cast<CProgressPage*>(CurrentPage(pWizard));
    for (int i = 0; pProgress != nullptr && pProgress->IsRunning() && i < 600; ++i)
        QTest::qWait(50);
}

TEST(ScanWizardTest, QuickScanOfAVolumeReachesTheResultsWithItsFiles)
{
    CQuickScanWizard wizard;
    CEnumDiskPage* pPage = wizard.DiskPage();
    QTreeWidget* pTree = pPage->DiskTree();
    ASSERT_GT(pTree->topLevelItemCount(), 0);
    EXPECT_TRUE(pTree->isColumnHidden(0));
    EXPECT_FALSE(pPage->RawCheckBox()->isVisibleTo(pPage));
    SaveScreenshot(&wizard, "quick-1-volumes");
    ExpectSkinnedButtonsDrawn(&wizard, "quick scan volumes");
    ExpectNoSkinKeysShown(&wizard, "quick scan volumes");

    QTreeWidgetItem* pRow = FindRow(pTree, 0, false);
    ASSERT_NE(pRow, nullptr);
    EXPECT_EQ(pRow->text(2), "FAT16");
    Choose(pTree, pRow);
    {
        CMessageBoxWatcher watcher;
        wizard.OnNext();
        EXPECT_TRUE(watcher.Texts().isEmpty()) << watcher.Texts().join("|").toStdString();
    }
    // The types box was unticked: the scan ran inside Next and the file-type page was skipped.
    ASSERT_EQ(CurrentIndex(&wizard), 2);
    const SCAN_OUTCOME outcome = GetLastScanOutcome();
    EXPECT_EQ(outcome.nResult, 0);

    // A quick scan lists the volume's deleted files.
    uint64_t ullDeletedFiles = 0;
    for (const rvdtest::ManifestEntry& entry : rvdtest::ReadManifest("fat16.img"))
        ullDeletedFiles += entry.bDeleted && !entry.bDirectory ? 1 : 0;
    ASSERT_GT(ullDeletedFiles, 0u);
    EXPECT_EQ(StoredFileCount(), ullDeletedFiles);
    auto* pOutcome = dynamic_cast<CScanOutcomePage*>(CurrentPage(&wizard));
    if (pOutcome != nullptr) {
        EXPECT_FALSE(pOutcome->OutcomeLabel()->text().isEmpty());
    }
    SaveScreenshot(&wizard, "quick-3-result");

    // Next needs a target folder; one beside the scanned image is allowed after a question.
    CopyOutToScratchFolder(&wizard);
    EXPECT_EQ(CurrentIndex(&wizard), 3);
    SaveScreenshot(&wizard, "quick-4-copy-out");
}

TEST(ScanWizardTest, QuickScanByTypesStoresTheFilterAndScansOnTheTypePage)
{
    CQuickScanWizard wizard;
    QTreeWidget* pTree = wizard.DiskPage()->DiskTree();
    QTreeWidgetItem* pRow = FindRow(pTree, 0, false);
    ASSERT_NE(pRow, nullptr);
    Choose(pTree, pRow);
    wizard.DiskPage()->TypesCheckBox()->setChecked(true);
    wizard.OnNext();
    ASSERT_EQ(CurrentIndex(&wizard), 1);
    CSearchTypsPage* pTypes = wizard.TypesPage();
    ASSERT_GT(pTypes->TypeTree()->topLevelItemCount(), 0);
    SaveScreenshot(&wizard, "quick-2-types");
    ExpectSkinnedButtonsDrawn(&wizard, "file-type page");
    ExpectNoSkinKeysShown(&wizard, "file-type page");

    // Documents group ticked as a whole: its extensions become the filter.
    QTreeWidgetItem* pDocuments = pTypes->TypeTree()->topLevelItem(0);
    pDocuments->setCheckState(0, Qt::Checked);
    const QString strFilter = pTypes->SelectedFilter();
    EXPECT_TRUE(strFilter.startsWith(".doc.docx")) << strFilter.toStdString();
    CMessageBoxWatcher watcher;
    wizard.OnNext();
    EXPECT_EQ(QString::fromStdString(CPubic::GetScanTypeFilter().m_strTypes), strFilter);
    EXPECT_TRUE(GetLastScanOutcome().nResult == 0 || GetLastScanOutcome().nResult == 265);
    CPubic::GetScanTypeFilter().EmptyTypeInfo();
}

TEST(ScanWizardTest, CompleteScanOfAPartitionRunsOnTheFileSystemPage)
{
    CCompleteScanWizard wizard;
    CEnumDiskPage* pPage = wizard.DiskPage();
    QTreeWidget* pTree = pPage->DiskTree();
    EXPECT_TRUE(pPage->RawCheckBox()->isVisibleTo(pPage));
    SaveScreenshot(&wizard, "complete-1-disks");
    ExpectSkinnedButtonsDrawn(&wizard, "complete scan disks");
    ExpectNoSkinKeysShown(&wizard, "complete scan disks");

    // Disks in ascending number, the dynamic group shown as such.
    ASSERT_GE(pTree->topLevelItemCount(), 3);
    EXPECT_TRUE(pTree->topLevelItem(0)->text(0).startsWith("Disk0("));
    EXPECT_TRUE(pTree->topLevelItem(1)->text(0).startsWith("Disk1("));
    EXPECT_TRUE(pTree->topLevelItem(2)->text(0).startsWith("Dynamic Disk("));

    QTreeWidgetItem* pRow = FindRow(pTree, 1, false);
    ASSERT_NE(pRow, nullptr);
    Choose(pTree, pRow);
    wizard.OnNext();
    ASSERT_EQ(CurrentIndex(&wizard), 2) << "the file-type page is skipped";
    CPartitionTypePage* pFsPage = wizard.FileSystemPage();
    EXPECT_EQ(pFsPage->SelectedFileSystem(), 0);
    SaveScreenshot(&wizard, "complete-2-file-systems");
    ExpectSkinnedButtonsDrawn(&wizard, "file-system page");
    ExpectNoSkinKeysShown(&wizard, "file-system page");

    CMessageBoxWatcher watcher;
    wizard.OnNext();
    const SCAN_OUTCOME outcome = GetLastScanOutcome();
    if (outcome.nResult == 0) {
        EXPECT_EQ(CurrentIndex(&wizard), 3);
    } else {
        // Nothing found or failed: the user is told and stays to choose other file systems.
        EXPECT_EQ(CurrentIndex(&wizard), 2);
        EXPECT_FALSE(watcher.Texts().isEmpty());
    }
    // Back returns to the disk page, not to the skipped file-type page.
    while (CurrentIndex(&wizard) > 2)
        wizard.OnBack();
    wizard.OnBack();
    EXPECT_EQ(CurrentIndex(&wizard), 0);
}

TEST(ScanWizardTest, ADynamicDiskCannotBeChosenAsAWhole)
{
    CCompleteScanWizard wizard;
    QTreeWidget* pTree = wizard.DiskPage()->DiskTree();
    QTreeWidgetItem* pDynamic = FindRow(pTree, 2, true);
    ASSERT_NE(pDynamic, nullptr);
    EXPECT_TRUE(pDynamic->text(0).startsWith("Dynamic Disk("));
    Choose(pTree, pDynamic);
    QWidget* pNext = nullptr;
    for (QPushButton* pButton : wizard.findChildren<QPushButton*>()) {
        if (pButton->isVisibleTo(&wizard) && !pButton->isEnabled())
            pNext = pButton;
    }
    EXPECT_NE(pNext, nullptr) << "Next is disabled on a dynamic disk";
    int nStep = 1;
    EXPECT_NE(wizard.DiskPage()->OnNext(nStep), 0);
    EXPECT_EQ(CurrentIndex(&wizard), 0);
}

TEST(ScanWizardTest, NextWithoutASelectionStays)
{
    CCompleteScanWizard wizard;
    wizard.DiskPage()->DiskTree()->clearSelection();
    int nStep = 1;
    EXPECT_NE(wizard.DiskPage()->OnNext(nStep), 0);
    wizard.OnNext();
    EXPECT_EQ(CurrentIndex(&wizard), 0);
}

TEST(ScanWizardTest, ContinueRecoveryShowsTwoPages)
{
    CContinueScanWizard wizard;
    EXPECT_EQ(CurrentIndex(&wizard), 0);
    SaveScreenshot(&wizard, "continue-1-result");
    CopyOutToScratchFolder(&wizard);
    EXPECT_EQ(CurrentIndex(&wizard), 1);
    SaveScreenshot(&wizard, "continue-2-copy-out");
    ExpectSkinnedButtonsDrawn(&wizard, "continue last page");
    ExpectNoSkinKeysShown(&wizard, "continue last page");
}

} // namespace
