// Search, the target folder and the hand-over to the copy-out module on Next; Back and Cancel.
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

#include <cstring>
#include <vector>

#include "BuildTreePage.h"
#include "ICorrand.h"
#include "ITessary.h"
#include "MessageTable.h"
#include "RVTabWidget.h"
#include "RVTreeWidget.h"
#include "SearchDlg.h"
#include "TargetCheck.h"
#include "UIRoutines.h"
#include "Veskel.h"
#include "Charset.h"
#include "DiskTable.h"

// ----- search -----------------------------------------------------------------------------------

bool CBuildTreePage::AskSearchCondition(SEARCH_CONDITION* pCondition)
{
    CSearchDlg dialog(nullptr);
    dialog.exec();
    if (!dialog.IsFind())
        return false;
    dialog.GetSearchCondition(pCondition);
    return true;
}

void CBuildTreePage::OnSearch()
{
    SuspendFileListing();
    if (m_pStore != nullptr)
        m_pStore->StopEnumeration();
    SEARCH_CONDITION condition{};
    if (!AskSearchCondition(&condition))
        return;
    RunSearch(condition);
}

void CBuildTreePage::RunSearch(const SEARCH_CONDITION& condition)
{
    StopPreviews();
    if (tabWidgetFileTree->count() < 2)
        tabWidgetFileTree->addTab(tabSearchFiles, TrMessage(38));
    std::memset(&m_SearchCondition, 0, sizeof(m_SearchCondition));
    std::memcpy(&m_SearchCondition, &condition, sizeof(m_SearchCondition));
    m_SearchCondition.dwFolderRecord = m_dwCurrentFolder;
    m_SearchCondition.dwVolume = m_dwCurrentVolume;

    m_bSearchMode = true;
    m_ullSearchSelectedSize = 0;
    m_pLastPreviewedSearchRow = nullptr;
    // The search ends the store's listing of the opened folder; its next rows begin it again.
    SuspendFileListing();
    m_bListingJob = true;
    Start();
    m_bListingJob = false;
    m_bSearchMode = false;
    ClearList(SearchFilesTreeWidget);
    m_ullSearchSelectedSize = 0;
    FillLists(m_vecListing, nullptr, FILL_SEARCH);
    m_vecListing.clear();
    m_vecListing.squeeze();
    const int nIndex = tabWidgetFileTree->indexOf(tabSearchFiles);
    if (tabWidgetFileTree->currentIndex() == nIndex)
        OntabChanged(nIndex);
    else
        tabWidgetFileTree->setCurrentIndex(nIndex);
}

// ----- target -----------------------------------------------------------------------------------

QString CBuildTreePage::ChooseFolder()
{
    return QFileDialog::getExistingDirectory(this, TrMessage(39), QString(),
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

void CBuildTreePage::OnBrowse()
{
    lineEditPath->setText(ChooseFolder());
}

QMessageBox::StandardButton CBuildTreePage::AskUser(QMessageBox::Icon nIcon, const QString& strText,
                                                    QMessageBox::StandardButtons buttons)
{
    QMessageBox box(nIcon, TrMessage(2), strText, buttons, this);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void CBuildTreePage::ShowPathError(uint32_t dwCode)
{
    if (dwCode != TARGET_OK)
        AskUser(QMessageBox::Warning, TargetErrorText(dwCode), QMessageBox::Ok);
}

uint32_t CBuildTreePage::CheckTargetPath(const QString& strPath)
{
    return CheckTargetFolder(strPath, nullptr);
}

int CBuildTreePage::IsSamePartition(uint64_t ullDevice)
{
    if (m_pStore == nullptr)
        return 0;
    int32_t nCount = 0;
    m_pStore->GetPartitionCount(&nCount);
    int nResult = 0;
    // Every scanned volume counts, whatever the kind of scan: a folder on any of their disks
    // would receive writes on the medium being recovered.
    for (int32_t i = 0; i < nCount; ++i) {
        PARTITION_INFO_EX partition;
        std::memset(&partition, 0, sizeof(partition));
        if ((m_pStore->GetPartitionInfo(&partition, i) & 0xFFFF) != 0)
            continue;
        const std::string strSource = rvdplat::GetPhysicalDrivePath(static_cast<int>(partition.dwDiskNumber));
        bool bImage = false;
        if (!rvdplat::IsOnSourceMedium(ullDevice, strSource, &bImage))
            continue;
        if (!bImage)
            return 1;
        nResult = 2;
    }
    return nResult;
}

bool CBuildTreePage::CheckFreeSpace(uint64_t ullFreeBytes)
{
    if (m_ullSelectedSize <= ullFreeBytes)
        return true;
    AskUser(QMessageBox::Warning, TrMessage(80), QMessageBox::Ok);
    return false;
}

bool CBuildTreePage::CheckTarget(const QString& strPath)
{
    rvdplat::FOLDER_PROBE probe;
    const uint32_t dwCode = CheckTargetFolder(strPath, &probe);
    if (dwCode != TARGET_OK) {
        ShowPathError(dwCode);
        return false;
    }
    switch (IsSamePartition(probe.ullDevice)) {
    case 1:
        // Writing there could overwrite the very sectors the found files are read from.
        AskUser(QMessageBox::Warning,
                QCoreApplication::translate("BuildTreePage",
                                            "The destination path you have selected is on the disk being "
                                            "recovered.\nPlease select a folder on another disk!"),
                QMessageBox::Ok);
        return false;
    case 2:
        if (AskUser(QMessageBox::Information, TrMessage(47), QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return false;
        break;
    default:
        break;
    }
    return CheckFreeSpace(probe.ullFreeBytes);
}

// ----- hand-over --------------------------------------------------------------------------------

int CBuildTreePage::OnNext(int&)
{
    StopPreviews();
    SuspendFileListing();
    if (m_pStore != nullptr)
        m_pStore->StopEnumeration();

    std::vector<DWORD> vecRecords;
    DWORD dwListVolume = 0;
    const bool bSearchHandOver = m_bSearchMode && IsSearchTabOpen();
    if (bSearchHandOver) {
        m_ullSelectedSize = 0;
        for (int i = 0; i < SearchFilesTreeWidget->topLevelItemCount(); ++i) {
            QTreeWidgetItem* pRow = SearchFilesTreeWidget->topLevelItem(i);
            DWORD dwVolume = 0, dwRecord = 0;
            if (pRow->checkState(0) != Qt::Checked || ParseItemKey(pRow, &dwVolume, &dwRecord) != 0)
                continue;
            if (vecRecords.empty())
                dwListVolume = dwVolume;
            else if (dwVolume != dwListVolume)
                continue;
            vecRecords.push_back(dwRecord);
            m_ullSelectedSize += RowBytes(pRow);
        }
    }

    if (lineEditPath->text().isEmpty()) {
        AskUser(QMessageBox::Information, TrMessage(37), QMessageBox::Ok);
        return 1;
    }
    // Surrounding blanks go; blanks inside a folder name are part of it.
    const QString strTarget = lineEditPath->text().trimmed();
    SetDstPath(strTarget);
    if (!CheckTarget(strTarget))
        return 1;

    if (m_pTessary != nullptr) {
        if (bSearchHandOver && !vecRecords.empty()) {
            if (m_pStore != nullptr)
                m_pStore->ClearCheckStates();
            m_pTessary->SetFileList(dwListVolume, vecRecords.data(), static_cast<int32_t>(vecRecords.size()));
        }
        WCHAR szTarget[MAX_PATH];
        std::memset(szTarget, 0, sizeof(szTarget));
        const int nLength = qMin(strTarget.size(), MAX_PATH - 1);
        for (int i = 0; i < nLength; ++i)
            szTarget[i] = strTarget.at(i).unicode();
        m_pTessary->SetTarget(szTarget, static_cast<DWORD>(m_ullSelectedSize & 0xFFFFFFFFu),
                              static_cast<DWORD>(m_ullSelectedSize >> 32));
    }
    return 0;
}

int CBuildTreePage::OnBack()
{
    LogInfo("CBuildTreePage::OnBack() begin!");
    StopPreviews();
    ResetFileListing();
    if (m_pStore != nullptr)
        m_pStore->CloseResult();
    m_mapRestTickStates.clear();
    m_mapKnownTickStates.clear();
    m_mapFileTickStates.clear();
    m_mapOwnTickedBytes.clear();
    m_mapRowsByRecord.clear();
    LogInfo("CBuildTreePage::OnBack() end!");
    return 0;
}

int CBuildTreePage::OnCancel()
{
    LogInfo("CBuildTreePage::OnCancel() begin!");
    StopPreviews();
    SuspendFileListing();
    if (m_pStore != nullptr)
        m_pStore->CloseResult();
    LogInfo("CBuildTreePage::OnCancel() end!");
    return 0;
}
