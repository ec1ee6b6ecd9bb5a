// The result page's search dialog: a name mask, a date range on one of three time stamps and a
// size bound, written into a SEARCH_CONDITION on Find. The dialog searches nothing itself.
#pragma once

#include <QDialog>

#include <cstdint>

#include "FileInfo.h"

class CImagePushButton;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;

// The dialog's widgets, by the object names the style sheet knows.
class Ui_Dialog {
public:
    void setupUi(QDialog* pDialog);

    QLabel* label;
    QLineEdit* lineEdit;
    QCheckBox* checkBox_5;
    QComboBox* comboBox_2;
    QRadioButton* radioButton;
    QSpinBox* spinBox;
    QLabel* label_5;
    QRadioButton* radioButton_2;
    QSpinBox* spinBox_2;
    QLabel* label_6;
    QRadioButton* radioButton_3;
    QDateTimeEdit* dateTimeEdit;
    QLabel* label_7;
    QDateTimeEdit* dateTimeEdit_2;
    QCheckBox* checkBox_6;
    QComboBox* comboBox_3;
    QSpinBox* spinBox_3;
    QLabel* label_3;
    CImagePushButton* pushButton_5;
    CImagePushButton* pushButton_6;
};

// Characters the name mask holds; the record has room for one more, the terminator.
constexpr int SEARCH_MASK_MAX_CHARS = 259;

class CSearchDlg : public QDialog, public Ui_Dialog {
    Q_OBJECT
public:
    explicit CSearchDlg(QWidget* pParent = nullptr);

    void GetSearchCondition(SEARCH_CONDITION* pCondition) const;
    bool IsFind() const { return m_bFind; }

    // The moment the "in last" ranges count back from and up to; the current time unless a
    // test fixes it (milliseconds since 1970, UTC).
    void SetNowForTest(int64_t llMSecs) { m_llNowForTest = llMSecs; }

public slots:
    void FindClick();
    void CancelClick();
    void DateClick();
    void SizeClick();
    void LastMonthClicked();
    void LastDayClicked();
    void FromToClicked();

private:
    void SetupControls();
    void SetNameCondition();
    void SetDateCondition();
    void SetSizeCondition();

    SEARCH_CONDITION m_Condition;
    bool m_bFind;
    int64_t m_llNowForTest;
};
