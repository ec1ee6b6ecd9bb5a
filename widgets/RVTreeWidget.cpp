#include "RVTreeWidget.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QStyle>

bool CRVTreeWidget::s_bPropagating = false;

CRVTreeWidget::CRVTreeWidget(QWidget* pParent)
    : QTreeWidget(pParent)
    , m_bClickedCheckBox(false)
{
    RestoreItemChanged();
}

QTreeWidgetItem* CRVTreeWidget::AddData(const QString& strText, bool bCheckable,
                                        Qt::CheckState nState, QTreeWidgetItem* pParent,
                                        const QString& strIconPath)
{
    QTreeWidgetItem* pItem = pParent ? new QTreeWidgetItem(pParent) : new QTreeWidgetItem(this);
    pItem->setText(0, strText);
    QIcon icon;
    if (!strIconPath.isEmpty())
        icon = QIcon(strIconPath);
    return PlaceItem(pItem, bCheckable, nState, pParent, strIconPath.isEmpty() ? nullptr : &icon);
}

QTreeWidgetItem* CRVTreeWidget::AddData(const QString& strText, bool bCheckable,
                                        Qt::CheckState nState, QTreeWidgetItem* pParent,
                                        const QIcon& icon)
{
    QTreeWidgetItem* pItem = pParent ? new QTreeWidgetItem(pParent) : new QTreeWidgetItem(this);
    pItem->setText(0, strText);
    return PlaceItem(pItem, bCheckable, nState, pParent, &icon);
}

QTreeWidgetItem* CRVTreeWidget::AddData(QTreeWidgetItem* pItem, bool bCheckable,
                                        Qt::CheckState nState, QTreeWidgetItem* pParent,
                                        const QIcon& icon)
{
    if (!pItem)
        return nullptr;
    return PlaceItem(pItem, bCheckable, nState, pParent, &icon);
}

QTreeWidgetItem* CRVTreeWidget::AddData(QTreeWidgetItem* pItem, bool bCheckable,
                                        Qt::CheckState nState, QTreeWidgetItem* pParent,
                                        const QString& strIconPath)
{
    if (!pItem)
        return nullptr;
    QIcon icon;
    if (!strIconPath.isEmpty())
        icon = QIcon(strIconPath);
    return PlaceItem(pItem, bCheckable, nState, pParent, strIconPath.isEmpty() ? nullptr : &icon);
}

QTreeWidgetItem* CRVTreeWidget::PlaceItem(QTreeWidgetItem* pItem, bool bCheckable,
                                          Qt::CheckState nState, QTreeWidgetItem* pParent,
                                          const QIcon* pIcon)
{
    if (pIcon)
        pItem->setIcon(0, *pIcon);
    if (bCheckable)
        pItem->setCheckState(0, nState);
    // Qt ignores adding an item that already has a place, as the items made from text do.
    if (pParent)
        pParent->addChild(pItem);
    else
        addTopLevelItem(pItem);
    return pItem;
}

void CRVTreeWidget::addChild(QTreeWidgetItem* pParent, QTreeWidgetItem* pChild)
{
    if (pParent && pChild)
        pParent->addChild(pChild);
}

void CRVTreeWidget::RemoveChildren(QTreeWidgetItem* pItem)
{
    if (!pItem)
        return;
    while (QTreeWidgetItem* pChild = pItem->child(0)) {
        RemoveChildren(pChild);
        delete pItem->takeChild(0);
    }
}

void CRVTreeWidget::DisconnectItemChanged()
{
    disconnect(this, SIGNAL(itemChanged(QTreeWidgetItem*, int)), nullptr, nullptr);
}

void CRVTreeWidget::RestoreItemChanged()
{
    connect(this, SIGNAL(itemChanged(QTreeWidgetItem*, int)), this,
            SLOT(CheckItemState(QTreeWidgetItem*, int)), Qt::UniqueConnection);
}

void CRVTreeWidget::CheckStateChanged(QTreeWidgetItem* pItem)
{
    CheckItemState(pItem, 0);
}

void CRVTreeWidget::CheckItemState(QTreeWidgetItem* pItem, int)
{
    if (s_bPropagating || !pItem)
        return;
    if (!(pItem->flags() & Qt::ItemIsUserCheckable))
        return;

    const Qt::CheckState nState = pItem->checkState(0);
    if (nState != Qt::PartiallyChecked) {
        // Each change emits itemChanged again, which carries the state down the whole subtree.
        for (int i = 0; i < pItem->childCount(); ++i)
            pItem->child(i)->setCheckState(0, nState);
    }

    s_bPropagating = true;
    CheckParentItemState(pItem->parent());
    s_bPropagating = false;
}

void CRVTreeWidget::CheckParentItemState(QTreeWidgetItem* pItem)
{
    for (; pItem; pItem = pItem->parent()) {
        const int nChildren = pItem->childCount();
        int nChecked = 0;
        bool bPartial = false;
        for (int i = 0; i < nChildren; ++i) {
            const Qt::CheckState nChild = pItem->child(i)->checkState(0);
            if (nChild == Qt::PartiallyChecked) {
                bPartial = true;
                break;
            }
            if (nChild == Qt::Checked)
                ++nChecked;
        }
        Qt::CheckState nState;
        if (bPartial)
            nState = Qt::PartiallyChecked;
        else if (nChecked == 0)
            nState = Qt::Unchecked;
        else if (nChecked < nChildren)
            nState = Qt::PartiallyChecked;
        else
            nState = Qt::Checked;
        pItem->setCheckState(0, nState);
    }
}

void CRVTreeWidget::SetColumnText(int nColumn, const QString& strText)
{
    if (QTreeWidgetItem* pItem = currentItem())
        pItem->setText(nColumn, strText);
}

void CRVTreeWidget::SetColumnIcon(int nColumn, const QString& strIconPath)
{
    if (QTreeWidgetItem* pItem = currentItem())
        pItem->setIcon(nColumn, QIcon(strIconPath));
}

void CRVTreeWidget::SetColumnCheckBox(int nColumn, Qt::CheckState nState)
{
    if (QTreeWidgetItem* pItem = currentItem())
        pItem->setCheckState(nColumn, nState);
}

void CRVTreeWidget::mousePressEvent(QMouseEvent* pEvent)
{
    if (!pEvent)
        return;
    const QModelIndex index = indexAt(pEvent->pos());
    if (!index.isValid())
        return;
    m_bClickedCheckBox = false;

    const QRect rectItem = visualRect(index);
    const int nIndent = rectItem.left() - visualRect(rootIndex()).left();
    const QRect rectCheck(header()->sectionViewportPosition(0) + nIndent, rectItem.top(),
                          style()->pixelMetric(QStyle::PM_IndicatorWidth), rectItem.height());
    if (rectCheck.contains(pEvent->pos()))
        m_bClickedCheckBox = true;
    QTreeView::mousePressEvent(pEvent);
}
