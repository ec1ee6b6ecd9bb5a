// Ticking on the result page: every change of a folder or file row goes to the result store at
// once; the folder rows' states and byte counts follow from their contents up to the root.
#include <QLabel>
#include <QTreeWidget>

#include "BuildTreePage.h"
#include "ICorrand.h"
#include "RVTreeWidget.h"
#include "UIRoutines.h"

namespace {

uint64_t AddBytes(uint64_t ullA, uint64_t ullB)
{
    return ullA > UINT64_MAX - ullB ? UINT64_MAX : ullA + ullB;
}
uint64_t SubtractBytes(uint64_t ullA, uint64_t ullB)
{
    return ullA > ullB ? ullA - ullB : 0;
}

} // namespace

void CBuildTreePage::SetItemTickState(QTreeWidgetItem* pItem, Qt::CheckState nState, int nFlag)
{
    if (pItem == nullptr)
        return;
    const int nOld = GetKnownTickState(pItem);
    pItem->setCheckState(0, nState);
    RememberRow(pItem, nState);
    DWORD dwVolume = 0, dwRecord = 0;
    if (nOld == nState || m_pStore == nullptr || (ParseItemKey(pItem, &dwVolume, &dwRecord) & 0xFFFF) != 0)
        return;
    switch (nState) {
    case Qt::Unchecked:
        m_pStore->SetCheckState(dwRecord, 0, nFlag, 0, dwVolume);
        break;
    case Qt::PartiallyChecked:
        m_pStore->SetCheckState(dwRecord, 1, nFlag, 0, dwVolume);
        break;
    case Qt::Checked:
        m_pStore->SetCheckState(dwRecord, 1, nFlag, 1, dwVolume);
        break;
    }
}

int CBuildTreePage::GetKnownTickState(QTreeWidgetItem* pItem) const
{
    return m_mapKnownTickStates.value(pItem, 0);
}

int CBuildTreePage::CountChildrenInState(QTreeWidgetItem* pItem, Qt::CheckState nState)
{
    if (pItem == nullptr)
        return 0;
    int nCount = 0;
    for (int i = 0; i < pItem->childCount(); ++i)
        nCount += pItem->child(i)->checkState(0) == nState ? 1 : 0;
    return nCount;
}

int CBuildTreePage::ListedEntryCount(QTreeWidgetItem* pFolder)
{
    if (pFolder == nullptr)
        return 0;
    const QVariant count = pFolder->data(ROW_COUNT_COLUMN, Qt::UserRole);
    return count.isValid() ? count.toInt() : pFolder->childCount();
}

int CBuildTreePage::RelationToCurrentFolder(QTreeWidgetItem* pItem) const
{
    if (pItem == nullptr || m_pCurrentFolderItem == nullptr)
        return 4;
    if (pItem == m_pCurrentFolderItem)
        return 0;
    for (QTreeWidgetItem* p = pItem->parent(); p != nullptr; p = p->parent())
        if (p == m_pCurrentFolderItem)
            return 2;
    if (pItem->parent() == m_pCurrentFolderItem->parent())
        return 3;
    for (QTreeWidgetItem* p = m_pCurrentFolderItem->parent(); p != nullptr; p = p->parent())
        if (p == pItem)
            return 1;
    return 4;
}

void CBuildTreePage::SyncFolderFromFileList(QTreeWidgetItem* pFolder)
{
    if (pFolder == nullptr)
        return;
    QVector<int> vecStates;
    vecStates.reserve(FilesTreeWidget->topLevelItemCount());
    uint64_t ullOwn = 0;
    for (int i = 0; i < FilesTreeWidget->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pRow = FilesTreeWidget->topLevelItem(i);
        const Qt::CheckState nState = pRow->checkState(0);
        vecStates.append(nState);
        if (nState == Qt::Checked)
            ullOwn = AddBytes(ullOwn, RowBytes(pRow));
    }
    m_mapFileTickStates.insert(pFolder, vecStates);
    m_mapOwnTickedBytes.insert(pFolder, ullOwn);
}

void CBuildTreePage::UpdateFolderTickStates(QTreeWidgetItem* pItem)
{
    FloderTreeWidget->DisconnectItemChanged();
    for (QTreeWidgetItem* pFolder = pItem; pFolder != nullptr && pFolder != m_pRootItem; pFolder = pFolder->parent()) {
        const QVector<int> vecFiles = m_mapFileTickStates.value(pFolder);
        // Files without a row count as one entry in the state they share.
        const auto itRest = m_mapRestTickStates.constFind(pFolder);
        const bool bRest = itRest != m_mapRestTickStates.constEnd();
        const int nEntries = pFolder->childCount() + vecFiles.size() + (bRest ? 1 : 0);
        // A folder whose contents were never listed keeps the state it has.
        if (nEntries == 0)
            continue;
        int nTicked = bRest && *itRest == Qt::Checked ? 1 : 0;
        bool bPartial = bRest && *itRest == Qt::PartiallyChecked;
        for (int nState : vecFiles)
            nTicked += nState == Qt::Checked ? 1 : 0;
        for (int i = 0; i < pFolder->childCount() && !bPartial; ++i) {
            const Qt::CheckState nChild = pFolder->child(i)->checkState(0);
            bPartial = nChild == Qt::PartiallyChecked;
            nTicked += nChild == Qt::Checked ? 1 : 0;
        }
        Qt::CheckState nState = Qt::PartiallyChecked;
        if (!bPartial)
            nState = nTicked == 0 ? Qt::Unchecked : nTicked == nEntries ? Qt::Checked : Qt::PartiallyChecked;
        SetItemTickState(pFolder, nState, 1);
    }
    FloderTreeWidget->RestoreItemChanged();
}

void CBuildTreePage::UpdateFolderSizes(QTreeWidgetItem* pItem)
{
    FloderTreeWidget->DisconnectItemChanged();
    QTreeWidgetItem* pRow = pItem != nullptr ? pItem : m_pRootItem;
    while (pRow != nullptr) {
        DWORD dwVolume = 0, dwRecord = 0;
        uint64_t ullSum = 0;
        if (pRow != m_pRootItem && m_pStore != nullptr && ParseItemKey(pRow, &dwVolume, &dwRecord) == 0) {
            // The store counts every ticked byte below a folder, listed or not.
            ullSum = pRow->checkState(0) == Qt::Unchecked ? 0 : m_pStore->GetCheckedSize(dwRecord, 0, dwVolume);
        } else {
            ullSum = m_mapOwnTickedBytes.value(pRow, 0);
            for (int i = 0; i < pRow->childCount(); ++i) {
                QTreeWidgetItem* pChild = pRow->child(i);
                if (pChild->checkState(0) == Qt::Unchecked)
                    continue;
                uint64_t ullChild = RowBytes(pChild);
                if (ullChild == 0 && m_pStore != nullptr && ParseItemKey(pChild, &dwVolume, &dwRecord) == 0)
                    ullChild = m_pStore->GetCheckedSize(dwRecord, 0, dwVolume);
                ullSum = AddBytes(ullSum, ullChild);
            }
        }
        SetRowBytes(pRow, ullSum);
        if (pRow == m_pRootItem)
            break;
        pRow = pRow->parent() != nullptr ? pRow->parent() : m_pRootItem;
    }
    FloderTreeWidget->RestoreItemChanged();
    UpdateSelectedSizeLabel();
}

void CBuildTreePage::PropagateTickDown(QTreeWidgetItem* pFolder, bool bChecked)
{
    if (pFolder == nullptr)
        return;
    // The folder's files follow it as well, listed or not.
    auto itFiles = m_mapFileTickStates.find(pFolder);
    if (itFiles != m_mapFileTickStates.end())
        itFiles->fill(bChecked ? Qt::Checked : Qt::Unchecked);
    auto itRest = m_mapRestTickStates.find(pFolder);
    if (itRest != m_mapRestTickStates.end())
        *itRest = bChecked ? Qt::Checked : Qt::Unchecked;
    if (!bChecked)
        m_mapOwnTickedBytes.insert(pFolder, 0);
    for (int i = 0; i < pFolder->childCount(); ++i) {
        QTreeWidgetItem* pChild = pFolder->child(i);
        DWORD dwVolume = 0, dwRecord = 0;
        uint64_t ullBytes = 0;
        if (bChecked && m_pStore != nullptr && ParseItemKey(pChild, &dwVolume, &dwRecord) == 0)
            ullBytes = m_pStore->GetCheckedSize(dwRecord, 0, dwVolume);
        SetRowBytes(pChild, ullBytes);
        pChild->setCheckState(0, bChecked ? Qt::Checked : Qt::Unchecked);
        RememberRow(pChild, bChecked ? Qt::Checked : Qt::Unchecked);
        PropagateTickDown(pChild, bChecked);
    }
}

QTreeWidgetItem* CBuildTreePage::FindTwinRow(DWORD dwVolume, DWORD dwRecord, QTreeWidgetItem* pSkip) const
{
    const uint64_t ullKey = (static_cast<uint64_t>(dwVolume) << 32) | dwRecord;
    for (auto it = m_mapRowsByRecord.constFind(ullKey); it != m_mapRowsByRecord.constEnd() && it.key() == ullKey; ++it)
        if (it.value() != pSkip)
            return it.value();
    return nullptr;
}

void CBuildTreePage::RefreshTwin(QTreeWidgetItem* pItem, Qt::CheckState nState)
{
    // A file ticked in the files tab is ticked among the search hits too (a hit's own tick
    // stays with the search tab, which hands its hits over on Next).
    if (!IsSearchTabOpen())
        return;
    DWORD dwVolume = 0, dwRecord = 0;
    if (ParseItemKey(pItem, &dwVolume, &dwRecord) != 0)
        return;
    QTreeWidgetItem* pTwin = FindTwinRow(dwVolume, dwRecord, pItem);
    if (pTwin == nullptr || pTwin->treeWidget() != SearchFilesTreeWidget)
        return;
    const int nOld = GetKnownTickState(pTwin);
    pTwin->setCheckState(0, nState);
    RememberRow(pTwin, nState);
    if (nOld != nState)
        AddToSearchTotal(RowBytes(pTwin), nState == Qt::Checked);
}

void CBuildTreePage::AddToSearchTotal(uint64_t ullBytes, bool bAdd)
{
    m_ullSearchSelectedSize = bAdd ? AddBytes(m_ullSearchSelectedSize, ullBytes) : SubtractBytes(m_ullSearchSelectedSize, ullBytes);
    if (m_bSearchMode)
        labelFileSize->setText(FormatSizeText(m_ullSearchSelectedSize));
}

void CBuildTreePage::TickFolderRow(QTreeWidgetItem* pItem)
{
    DWORD dwVolume = 0, dwRecord = 0;
    if (pItem == nullptr || (ParseItemKey(pItem, &dwVolume, &dwRecord) & 0xFFFF) != 0)
        return;
    const Qt::CheckState nState = pItem->checkState(0);
    if (nState != GetKnownTickState(pItem))
        SetItemTickState(pItem, nState, 1);
    const bool bSelect = nState == Qt::Checked;
    // The file list follows when it shows this folder or a folder below it.
    const int nRelation = RelationToCurrentFolder(pItem);
    if (nState != Qt::PartiallyChecked && (nRelation == 0 || nRelation == 1)) {
        TickAllRows(FilesTreeWidget, nullptr, bSelect, false);
        if (nRelation == 0)
            SyncFolderFromFileList(pItem);
        else
            SyncFolderFromFileList(m_pCurrentFolderItem);
    }
    if (nState == Qt::Checked) {
        SetRowBytes(pItem, m_pStore != nullptr ? m_pStore->GetCheckedSize(dwRecord, 0, dwVolume) : RowBytes(pItem));
        PropagateTickDown(pItem, true);
    } else if (nState == Qt::Unchecked) {
        SetRowBytes(pItem, 0);
        PropagateTickDown(pItem, false);
    }
    // The tree's own rule set the ancestors from their subfolders only; their files count too.
    UpdateFolderTickStates(pItem->parent());
    UpdateFolderSizes(pItem->parent() != nullptr ? pItem->parent() : m_pRootItem);
}

void CBuildTreePage::TickFileRow(QTreeWidgetItem* pItem)
{
    if (pItem == nullptr)
        return;
    const Qt::CheckState nState = pItem->checkState(0);
    if (GetKnownTickState(pItem) == nState)
        return;
    SetItemTickState(pItem, nState, 0);
    RefreshTwin(pItem, nState);
    QTreeWidgetItem* pFolder = m_pCurrentFolderItem;
    if (pFolder == nullptr)
        return;
    // The folder's state follows from every file's: files without a row whose states may
    // differ are fetched first.
    if (m_mapRestTickStates.value(pFolder, Qt::Unchecked) == Qt::PartiallyChecked)
        FetchRemainingFiles();
    SyncFolderFromFileList(pFolder);
    UpdateFolderTickStates(pFolder);
    UpdateFolderSizes(pFolder);
}

void CBuildTreePage::TickSearchRow(QTreeWidgetItem* pItem)
{
    bool bSet = false;
    const uint64_t ullSize = RowBytes(pItem, &bSet);
    if (pItem == nullptr || !bSet)
        return;
    const Qt::CheckState nState = pItem->checkState(0);
    if (nState == GetKnownTickState(pItem))
        return;
    RememberRow(pItem, nState);
    AddToSearchTotal(ullSize, nState == Qt::Checked);
}

void CBuildTreePage::TickAllRows(QTreeWidget* pList, QTreeWidgetItem* pFolder, bool bSelect, bool bTellStore)
{
    if (pList == nullptr)
        return;
    const Qt::CheckState nTarget = bSelect ? Qt::Checked : Qt::Unchecked;
    const bool bSearchList = pList == SearchFilesTreeWidget;
    uint64_t ullDelta = 0, ullOwn = 0;
    QVector<int> vecStates;
    vecStates.reserve(pList->topLevelItemCount());
    // Thousands of boxes change at once: the model's per-row notices are held back and the list
    // is repainted once at the end.
    CRVTreeWidget* pTree = qobject_cast<CRVTreeWidget*>(pList);
    if (pTree != nullptr)
        pTree->DisconnectItemChanged();
    const bool bBlocked = pList->model()->blockSignals(true);
    for (int i = 0; i < pList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pRow = pList->topLevelItem(i);
        const bool bChanged = pRow->checkState(0) != nTarget || GetKnownTickState(pRow) != nTarget;
        const uint64_t ullSize = RowBytes(pRow);
        if (bChanged && GetKnownTickState(pRow) != nTarget)
            ullDelta = AddBytes(ullDelta, ullSize);
        if (bSelect)
            ullOwn = AddBytes(ullOwn, ullSize);
        vecStates.append(nTarget);
        if (bSearchList || !bTellStore) {
            // The search tab's ticks are its own: the hits only, handed over on Next.
            pRow->setCheckState(0, nTarget);
            RememberRow(pRow, nTarget);
            if (!bSearchList)
                RefreshTwin(pRow, nTarget);
        } else {
            SetItemTickState(pRow, nTarget, 0);
            RefreshTwin(pRow, nTarget);
        }
    }
    pList->model()->blockSignals(bBlocked);
    if (pTree != nullptr)
        pTree->RestoreItemChanged();
    pList->viewport()->update();
    if (bSearchList) {
        AddToSearchTotal(ullDelta, bSelect);
        return;
    }
    if (pFolder != nullptr) {
        m_mapFileTickStates.insert(pFolder, vecStates);
        m_mapOwnTickedBytes.insert(pFolder, bSelect ? ullOwn : 0);
        if (ullDelta != 0) {
            SetRowBytes(pFolder, bSelect ? AddBytes(RowBytes(pFolder), ullDelta) : SubtractBytes(RowBytes(pFolder), ullDelta));
            UpdateFolderSizes(pFolder);
        }
    }
}

void CBuildTreePage::TickAllFiles(QTreeWidget* pList, bool bSelect, bool bRowsDone)
{
    QTreeWidgetItem* pFolder = m_pCurrentFolderItem;
    if (pFolder == nullptr || pList == nullptr)
        return;
    if (pFolder->checkState(0) == (bSelect ? Qt::Checked : Qt::Unchecked))
        return;
    // When every subfolder already agrees, the folder as a whole takes the new state: one call
    // to the store instead of one per file. Otherwise the files go one by one, and the folder
    // follows its files and subfolders, so the store never ticks a subfolder the user did not.
    const Qt::CheckState nTarget = bSelect ? Qt::Checked : Qt::Unchecked;
    const bool bWhole = CountChildrenInState(pFolder, nTarget) == pFolder->childCount();
    if (bWhole) {
        FloderTreeWidget->DisconnectItemChanged();
        SetItemTickState(pFolder, nTarget, 1);
        FloderTreeWidget->RestoreItemChanged();
    }
    // Files one by one: those without a row yet are fetched, so that each reaches the store.
    if (!bWhole && !bRowsDone && pList == FilesTreeWidget)
        FetchRemainingFiles();
    if (!bRowsDone)
        TickAllRows(pList, pFolder, bSelect, !bWhole);
    auto itRest = m_mapRestTickStates.find(pFolder);
    if (bWhole && itRest != m_mapRestTickStates.end())
        *itRest = nTarget;
    UpdateFolderTickStates(pFolder);
    UpdateFolderSizes(pFolder);
}

void CBuildTreePage::OnSelectAll()
{
    TickAllFiles(FilesTreeWidget, true, false);
}

void CBuildTreePage::OnUnSelectAll()
{
    TickAllFiles(FilesTreeWidget, false, false);
}

void CBuildTreePage::OnSelectAll1()
{
    TickAllRows(SearchFilesTreeWidget, nullptr, true);
}

void CBuildTreePage::OnUnSelectAll1()
{
    TickAllRows(SearchFilesTreeWidget, nullptr, false);
}
