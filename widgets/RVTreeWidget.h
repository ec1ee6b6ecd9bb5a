// The tree wherever the user ticks things in a hierarchy (file types by group, folders and
// files of the results). Ticking or clearing an item ticks or clears its whole subtree; every
// ancestor shows checked, unchecked or partially checked from its children. The tree also
// remembers whether the last mouse press hit the check box of column 0, so a caller can tell a
// tick from a click on the name.
#pragma once

#include <QIcon>
#include <QTreeWidget>

class CRVTreeWidget : public QTreeWidget {
    Q_OBJECT
public:
    explicit CRVTreeWidget(QWidget* pParent = nullptr);

    // Add an item under pParent (top level when null), with text or an existing item, and an
    // icon (a path, set only when not empty, or an icon). A checkable item gets nState on
    // column 0. A new item from text is placed first, so its state runs the check rule at once;
    // an existing item gets its state before it is placed, and its new parent is not
    // recomputed. Return the item, or null for a null item.
    QTreeWidgetItem* AddData(const QString& strText, bool bCheckable, Qt::CheckState nState,
                             QTreeWidgetItem* pParent, const QString& strIconPath);
    QTreeWidgetItem* AddData(const QString& strText, bool bCheckable, Qt::CheckState nState,
                             QTreeWidgetItem* pParent, const QIcon& icon);
    QTreeWidgetItem* AddData(QTreeWidgetItem* pItem, bool bCheckable, Qt::CheckState nState,
                             QTreeWidgetItem* pParent, const QIcon& icon);
    QTreeWidgetItem* AddData(QTreeWidgetItem* pItem, bool bCheckable, Qt::CheckState nState,
                             QTreeWidgetItem* pParent, const QString& strIconPath);

    void addChild(QTreeWidgetItem* pParent, QTreeWidgetItem* pChild);
    // Removes and deletes every descendant of pItem.
    void RemoveChildren(QTreeWidgetItem* pItem);

    // For filling or changing many items at once: no check rule runs in between.
    void DisconnectItemChanged();
    void RestoreItemChanged();

    // Runs the check rule as if pItem's state had just changed.
    void CheckStateChanged(QTreeWidgetItem* pItem);
    // Recomputes pItem from its children, then each ancestor up to the root.
    void CheckParentItemState(QTreeWidgetItem* pItem);

    // Column text, icon or check state of the current item; nothing without one.
    void SetColumnText(int nColumn, const QString& strText);
    void SetColumnIcon(int nColumn, const QString& strIconPath);
    void SetColumnCheckBox(int nColumn, Qt::CheckState nState);

    bool IsClickedCheckBox() const { return m_bClickedCheckBox; }

public slots:
    void CheckItemState(QTreeWidgetItem* pItem, int nColumn);

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;

private:
    QTreeWidgetItem* PlaceItem(QTreeWidgetItem* pItem, bool bCheckable, Qt::CheckState nState,
                               QTreeWidgetItem* pParent, const QIcon* pIcon);

    bool m_bClickedCheckBox;
    // Set while ancestors are recomputed, so the itemChanged signals that this causes are not
    // taken for the user's ticks. One for all trees: they all run on the GUI thread.
    static bool s_bPropagating;
};
