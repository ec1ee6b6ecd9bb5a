#include "ResultRowItem.h"

#include <QTreeWidget>

#include "BuildTreePage.h"

bool CResultRowItem::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* pList = treeWidget();
    const int nColumn = pList != nullptr ? pList->sortColumn() : 0;
    if (other.type() != UserType)
        return QTreeWidgetItem::operator<(other);
    const CResultRowItem& row = static_cast<const CResultRowItem&>(other);
    switch (nColumn) {
    case RESULT_COLUMN_SIZE:
    case RESULT_COLUMN_SIZE_VALUE:
        return data(RESULT_COLUMN_SIZE_VALUE, Qt::DisplayRole).toULongLong() <
               row.data(RESULT_COLUMN_SIZE_VALUE, Qt::DisplayRole).toULongLong();
    case RESULT_COLUMN_MODIFIED:
    case RESULT_COLUMN_CREATED:
    case RESULT_COLUMN_ACCESSED:
        return m_aullTimes[nColumn - RESULT_COLUMN_MODIFIED] < row.m_aullTimes[nColumn - RESULT_COLUMN_MODIFIED];
    default:
        return QTreeWidgetItem::operator<(other);
    }
}
