// The checkable tree: ticks pushed down subtrees, parents recomputed up to the root, the
// switch that suspends both, the item-adding overloads, RemoveChildren, and the check-box hit.
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "RVTreeWidget.h"

namespace {

class RVTreeWidgetTest : public ::testing::Test {
protected:
    // root
    //   A: a1, a2
    //   B: b1
    void SetUp() override
    {
        m_pRoot = m_tree.AddData("root", true, Qt::Unchecked, nullptr, QString());
        m_pA = m_tree.AddData("A", true, Qt::Unchecked, m_pRoot, QString());
        m_pA1 = m_tree.AddData("a1", true, Qt::Unchecked, m_pA, QString());
        m_pA2 = m_tree.AddData("a2", true, Qt::Unchecked, m_pA, QString());
        m_pB = m_tree.AddData("B", true, Qt::Unchecked, m_pRoot, QString());
        m_pB1 = m_tree.AddData("b1", true, Qt::Unchecked, m_pB, QString());
    }
    static Qt::CheckState S(QTreeWidgetItem* pItem) { return pItem->checkState(0); }

    CRVTreeWidget m_tree;
    QTreeWidgetItem *m_pRoot, *m_pA, *m_pA1, *m_pA2, *m_pB, *m_pB1;
};

TEST_F(RVTreeWidgetTest, TickingAParentTicksTheSubtreeAndRecomputesAncestors)
{
    m_pA->setCheckState(0, Qt::Checked);
    EXPECT_EQ(S(m_pA1), Qt::Checked);
    EXPECT_EQ(S(m_pA2), Qt::Checked);
    EXPECT_EQ(S(m_pA), Qt::Checked);
    EXPECT_EQ(S(m_pRoot), Qt::PartiallyChecked);
    EXPECT_EQ(S(m_pB1), Qt::Unchecked);

    m_pB->setCheckState(0, Qt::Checked);
    EXPECT_EQ(S(m_pB1), Qt::Checked);
    EXPECT_EQ(S(m_pRoot), Qt::Checked);

    m_pRoot->setCheckState(0, Qt::Unchecked);
    for (QTreeWidgetItem* pItem : {m_pA, m_pA1, m_pA2, m_pB, m_pB1})
        EXPECT_EQ(S(pItem), Qt::Unchecked) << pItem->text(0).toStdString();
}

TEST_F(RVTreeWidgetTest, TickingTheLastChildChecksTheParentAndItsParent)
{
    m_pB1->setCheckState(0, Qt::Checked);
    EXPECT_EQ(S(m_pB), Qt::Checked);
    EXPECT_EQ(S(m_pRoot), Qt::PartiallyChecked);
    m_pA1->setCheckState(0, Qt::Checked);
    EXPECT_EQ(S(m_pA), Qt::PartiallyChecked);
    EXPECT_EQ(S(m_pRoot), Qt::PartiallyChecked);
    m_pA2->setCheckState(0, Qt::Checked);
    EXPECT_EQ(S(m_pA), Qt::Checked);
    EXPECT_EQ(S(m_pRoot), Qt::Checked);
    m_pA2->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(S(m_pA), Qt::PartiallyChecked);
    EXPECT_EQ(S(m_pRoot), Qt::PartiallyChecked);
}

TEST_F(RVTreeWidgetTest, PartialByHandLeavesChildrenAlone)
{
    m_pA1->setCheckState(0, Qt::Checked);
    m_pA->setCheckState(0, Qt::Unchecked);
    ASSERT_EQ(S(m_pA1), Qt::Unchecked);
    m_pA1->setCheckState(0, Qt::Checked);
    m_pA->setCheckState(0, Qt::PartiallyChecked);
    m_pA->setCheckState(0, Qt::PartiallyChecked);
    EXPECT_EQ(S(m_pA1), Qt::Checked);
    EXPECT_EQ(S(m_pA2), Qt::Unchecked);
}

TEST_F(RVTreeWidgetTest, DisconnectedTreeNeitherPushesDownNorRecomputes)
{
    m_tree.DisconnectItemChanged();
    m_pA->setCheckState(0, Qt::Checked);
    EXPECT_EQ(S(m_pA1), Qt::Unchecked);
    EXPECT_EQ(S(m_pRoot), Qt::Unchecked);

    m_tree.RestoreItemChanged();
    m_tree.RestoreItemChanged();
    EXPECT_EQ(S(m_pA1), Qt::Unchecked);
    m_pB1->setCheckState(0, Qt::Checked);
    EXPECT_EQ(S(m_pB), Qt::Checked);
    // A is still checked by hand with unchecked children; only B's line was recomputed.
    EXPECT_EQ(S(m_pRoot), Qt::Checked);

    m_tree.CheckParentItemState(m_pA);
    EXPECT_EQ(S(m_pA), Qt::Unchecked);
    EXPECT_EQ(S(m_pRoot), Qt::PartiallyChecked);

    m_pA->setCheckState(0, Qt::Checked);
    EXPECT_EQ(S(m_pA1), Qt::Checked);
}

TEST_F(RVTreeWidgetTest, CheckStateChangedRunsTheRuleOnDemand)
{
    m_tree.DisconnectItemChanged();
    m_pA->setCheckState(0, Qt::Checked);
    m_tree.RestoreItemChanged();
    m_tree.CheckStateChanged(m_pA);
    EXPECT_EQ(S(m_pA2), Qt::Checked);
    EXPECT_EQ(S(m_pRoot), Qt::PartiallyChecked);
    m_tree.CheckStateChanged(nullptr);
}

TEST_F(RVTreeWidgetTest, ItemWithoutUserCheckableNeverPropagates)
{
    m_pA->setFlags(m_pA->flags() & ~Qt::ItemIsUserCheckable);
    m_pA->setCheckState(0, Qt::Checked);
    EXPECT_EQ(S(m_pA), Qt::Checked);
    EXPECT_EQ(S(m_pA1), Qt::Unchecked);
    EXPECT_EQ(S(m_pRoot), Qt::Unchecked);
}

TEST_F(RVTreeWidgetTest, ParentWithoutChildrenBecomesUnchecked)
{
    m_pB1->setCheckState(0, Qt::Checked);
    m_tree.RemoveChildren(m_pB);
    ASSERT_EQ(S(m_pB), Qt::Checked);
    m_tree.CheckParentItemState(m_pB);
    EXPECT_EQ(S(m_pB), Qt::Unchecked);
}

TEST_F(RVTreeWidgetTest, AddingAnExistingItemDoesNotRecomputeItsNewParent)
{
    QSignalSpy spy(&m_tree, SIGNAL(itemChanged(QTreeWidgetItem*, int)));
    auto* pItem = new QTreeWidgetItem(QStringList{"a3"});
    EXPECT_EQ(m_tree.AddData(pItem, true, Qt::Checked, m_pA, QIcon()), pItem);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(pItem->parent(), m_pA);
    EXPECT_EQ(S(pItem), Qt::Checked);
    EXPECT_EQ(S(m_pA), Qt::Unchecked);
    m_tree.CheckParentItemState(m_pA);
    EXPECT_EQ(S(m_pA), Qt::PartiallyChecked);

    auto* pTop = new QTreeWidgetItem(QStringList{"top"});
    EXPECT_EQ(m_tree.AddData(pTop, false, Qt::Checked, nullptr, QString()), pTop);
    EXPECT_EQ(m_tree.topLevelItemCount(), 2);
    EXPECT_FALSE(pTop->data(0, Qt::CheckStateRole).isValid());

    EXPECT_EQ(m_tree.AddData(static_cast<QTreeWidgetItem*>(nullptr), true, Qt::Checked, m_pA,
                             QIcon()),
              nullptr);
    EXPECT_EQ(m_tree.AddData(static_cast<QTreeWidgetItem*>(nullptr), true, Qt::Checked, m_pA,
                             QString()),
              nullptr);
}

TEST_F(RVTreeWidgetTest, AddingFromTextRunsTheRuleAtOnce)
{
    m_pA1->setCheckState(0, Qt::Checked);
    m_pA2->setCheckState(0, Qt::Checked);
    ASSERT_EQ(S(m_pA), Qt::Checked);
    QTreeWidgetItem* pItem = m_tree.AddData("a3", true, Qt::Unchecked, m_pA, QIcon());
    EXPECT_EQ(pItem->parent(), m_pA);
    EXPECT_EQ(S(m_pA), Qt::PartiallyChecked);
    EXPECT_EQ(m_pA->childCount(), 3);

    QTreeWidgetItem* pIconless = m_tree.AddData("a4", false, Qt::Checked, m_pA, QString());
    EXPECT_TRUE(pIconless->icon(0).isNull());
    EXPECT_FALSE(pIconless->data(0, Qt::CheckStateRole).isValid());
}

int g_nDeleted = 0;
class CCountedItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    ~CCountedItem() override { ++g_nDeleted; }
};

TEST(RVTreeWidgetRemoveTest, RemoveChildrenDeletesEveryDescendant)
{
    CRVTreeWidget tree;
    auto* pRoot = new CCountedItem(&tree);
    auto* pFolder = new CCountedItem(pRoot);
    new CCountedItem(pFolder);
    new CCountedItem(pFolder);
    new CCountedItem(pRoot);
    g_nDeleted = 0;
    tree.RemoveChildren(pRoot);
    EXPECT_EQ(g_nDeleted, 4);
    EXPECT_EQ(pRoot->childCount(), 0);
    EXPECT_EQ(tree.topLevelItemCount(), 1);
    tree.RemoveChildren(nullptr);
}

TEST(RVTreeWidgetClickTest, PressOnTheBoxIsTellsFromPressOnTheName)
{
    CRVTreeWidget tree;
    tree.resize(400, 300);
    QTreeWidgetItem* pParent = tree.AddData("Pictures", true, Qt::Unchecked, nullptr, QString());
    QTreeWidgetItem* pChild =
        tree.AddData("holiday-photo-with-a-long-name.jpg", true, Qt::Unchecked, pParent, QString());
    tree.expandAll();
    tree.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));

    for (QTreeWidgetItem* pItem : {pParent, pChild}) {
        const QRect rect = tree.visualItemRect(pItem);
        QTest::mousePress(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(rect.left() + 3, rect.center().y()));
        EXPECT_TRUE(tree.IsClickedCheckBox()) << pItem->text(0).toStdString();
        QTest::mouseRelease(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                            QPoint(rect.left() + 3, rect.center().y()));

        QTest::mousePress(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(rect.left() + 80, rect.center().y()));
        EXPECT_FALSE(tree.IsClickedCheckBox()) << pItem->text(0).toStdString();
        QTest::mouseRelease(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                            QPoint(rect.left() + 80, rect.center().y()));
    }

    // A press below the last item is dropped: the flag keeps what the last real press said.
    const QRect rectBox = tree.visualItemRect(pChild);
    QTest::mousePress(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(rectBox.left() + 3, rectBox.center().y()));
    ASSERT_TRUE(tree.IsClickedCheckBox());
    QTest::mouseRelease(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                        QPoint(rectBox.left() + 3, rectBox.center().y()));
    QTest::mousePress(tree.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 280));
    EXPECT_TRUE(tree.IsClickedCheckBox());
}

} // namespace
