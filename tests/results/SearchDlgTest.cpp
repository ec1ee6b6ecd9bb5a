// The search dialog's record: what Find writes for each criterion, the controls each choice
// enables, and keys of the result rows.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidgetItem>
#include <gtest/gtest.h>

#include <cstring>

#include "BuildTreePage.h"
#include "ResultRecords.h"
#include "SearchDlg.h"
#include "UIRoutines.h"

namespace {

std::u16string Mask(const SEARCH_CONDITION& c)
{
    return std::u16string(c.szNameMask);
}

bool SameTime(const SYSTEMTIME& a, const SYSTEMTIME& b)
{
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

TEST(SearchDlg, FindWithNothingEnteredSearchesEveryName)
{
    CSearchDlg dialog;
    dialog.FindClick();
    ASSERT_TRUE(dialog.IsFind());
    SEARCH_CONDITION c;
    std::memset(&c, 0xAB, sizeof(c));
    dialog.GetSearchCondition(&c);
    EXPECT_EQ(SEARCH_BY_NAME, c.dwCriteria);
    EXPECT_EQ(u"*", Mask(c));
    EXPECT_EQ(SEARCH_DATE_MODIFIED, c.dwDateKind);
    EXPECT_EQ(0, c.stDateFrom.wYear);
    EXPECT_EQ(0, c.stDateTo.wYear);
    EXPECT_EQ(0u, c.ullSizeBound);
    EXPECT_EQ(0u, c.dwFolderRecord);
}

TEST(SearchDlg, LastDaysRunFromMidnightBackToTheEndOfToday)
{
    CSearchDlg dialog;
    const QDateTime now(QDate(2026, 12, 10), QTime(15, 30));
    dialog.SetNowForTest(now.toMSecsSinceEpoch());
    dialog.lineEdit->setText("*.jpg");
    dialog.checkBox_5->setChecked(true);
    dialog.DateClick();
    dialog.comboBox_2->setCurrentIndex(1);
    dialog.radioButton_2->setChecked(true);
    dialog.LastDayClicked();
    EXPECT_TRUE(dialog.spinBox_2->isEnabled());
    EXPECT_FALSE(dialog.spinBox->isEnabled());
    dialog.spinBox_2->setValue(3);
    dialog.FindClick();
    SEARCH_CONDITION c{};
    dialog.GetSearchCondition(&c);
    EXPECT_EQ(SEARCH_BY_NAME | SEARCH_BY_DATE, c.dwCriteria);
    EXPECT_EQ(u"*.jpg", Mask(c));
    EXPECT_EQ(SEARCH_DATE_CREATED, c.dwDateKind);
    const int64_t llMidnight = QDateTime(QDate(2026, 12, 10), QTime(0, 0)).toMSecsSinceEpoch();
    EXPECT_TRUE(SameTime(MSecsToSystemTime(llMidnight - 3 * 86400000LL), c.stDateFrom));
    // A file changed this afternoon is inside the range.
    SYSTEMTIME stEnd = MSecsToSystemTime(QDateTime(QDate(2026, 12, 10), QTime(23, 59, 59)).toMSecsSinceEpoch());
    EXPECT_TRUE(SameTime(stEnd, c.stDateTo));
}

TEST(SearchDlg, MonthsAreThirtyDaysAndSpinBoxesKeepTheirValues)
{
    CSearchDlg dialog;
    dialog.SetNowForTest(QDateTime(QDate(2026, 3, 31), QTime(8, 0)).toMSecsSinceEpoch());
    dialog.checkBox_5->setChecked(true);
    dialog.DateClick();
    dialog.spinBox_2->setValue(9);  // the days value is not used while months are chosen
    dialog.spinBox->setValue(1);
    dialog.FindClick();
    SEARCH_CONDITION c{};
    dialog.GetSearchCondition(&c);
    const int64_t llMidnight = QDateTime(QDate(2026, 3, 31), QTime(0, 0)).toMSecsSinceEpoch();
    EXPECT_TRUE(SameTime(MSecsToSystemTime(llMidnight - 30 * 86400000LL), c.stDateFrom));
    EXPECT_EQ(9, dialog.spinBox_2->value());
}

TEST(SearchDlg, SizeBoundInKilobytes)
{
    struct {
        int nCombo;
        int nKb;
        DWORD dwMode;
        uint64_t ullBytes;
    } const cases[] = {{0, 4, SEARCH_SIZE_LESS_THAN, 4096}, {1, 0, SEARCH_SIZE_MORE_THAN, 0},
                       {1, 1000000000, SEARCH_SIZE_MORE_THAN, 1024000000000ULL}};
    for (const auto& t : cases) {
        CSearchDlg dialog;
        dialog.checkBox_6->setChecked(true);
        dialog.SizeClick();
        EXPECT_TRUE(dialog.spinBox_3->isEnabled());
        dialog.comboBox_3->setCurrentIndex(t.nCombo);
        dialog.spinBox_3->setValue(t.nKb);
        dialog.FindClick();
        SEARCH_CONDITION c{};
        dialog.GetSearchCondition(&c);
        EXPECT_EQ(SEARCH_BY_NAME | SEARCH_BY_SIZE, c.dwCriteria);
        EXPECT_EQ(t.dwMode, c.dwSizeMode);
        EXPECT_EQ(t.ullBytes, c.ullSizeBound);
    }
}

TEST(SearchDlg, CancelFindsNothingAndTheMaskIsBounded)
{
    CSearchDlg dialog;
    dialog.CancelClick();
    EXPECT_FALSE(dialog.IsFind());
    dialog.lineEdit->setText(QString(400, QChar('x')));
    EXPECT_EQ(SEARCH_MASK_MAX_CHARS, dialog.lineEdit->text().size());
    dialog.FindClick();
    SEARCH_CONDITION c{};
    dialog.GetSearchCondition(&c);
    EXPECT_EQ(0, c.szNameMask[259]);
    EXPECT_EQ(259u, Mask(c).size());
}

TEST(ItemKey, ParsesVolumeAndRecord)
{
    DWORD a = 99, b = 77;
    EXPECT_EQ(0, ParseItemKeyText("3##12", &a, &b));
    EXPECT_EQ(3u, a);
    EXPECT_EQ(12u, b);
    b = 0;
    EXPECT_EQ(0, ParseItemKeyText("7##", &a, &b));
    EXPECT_EQ(7u, a);
    EXPECT_EQ(0u, b);
    a = b = 5;
    EXPECT_EQ(ITEM_KEY_NONE, ParseItemKeyText("Root", &a, &b));
    EXPECT_EQ(ITEM_KEY_NONE, ParseItemKeyText("", &a, &b));
    EXPECT_EQ(5u, a);
    EXPECT_EQ(0x105, CBuildTreePage::ParseItemKey(nullptr, &a, &b));
    QTreeWidgetItem item;
    EXPECT_EQ(0x105, CBuildTreePage::ParseItemKey(&item, &a, &b));
    EXPECT_EQ(MakeItemKey(4, 4000000000u), "4##4000000000");
}

TEST(ItemKey, RecordTickStates)
{
    FILE_INFO_EX info{};
    info.dwFolder = 1;
    EXPECT_EQ(Qt::Unchecked, RecordCheckState(info));
    info.byFullyChecked = 1;
    EXPECT_EQ(Qt::Unchecked, RecordCheckState(info));
    info.dwChecked = 1;
    EXPECT_EQ(Qt::Checked, RecordCheckState(info));
    info.byFullyChecked = 0;
    EXPECT_EQ(Qt::PartiallyChecked, RecordCheckState(info));
    info.dwFolder = 0;
    info.dwChecked = 7;
    EXPECT_EQ(Qt::Checked, RecordCheckState(info));
}

} // namespace
