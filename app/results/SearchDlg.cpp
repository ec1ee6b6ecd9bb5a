#include "SearchDlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstring>

#include "ImagePushButton.h"
#include "MessageTable.h"
#include "Pubic.h"
#include "UIRoutines.h"
#include "Veskel.h"

namespace {

constexpr int64_t MSECS_PER_DAY = 86400000LL;
// A month of the "in last N months" range is 30 days.
constexpr int64_t MSECS_PER_MONTH = 30 * MSECS_PER_DAY;

QString Tr(const char* pszText)
{
    return QCoreApplication::translate("Dialog", pszText);
}

} // namespace

void Ui_Dialog::setupUi(QDialog* pDialog)
{
    pDialog->setWindowTitle(Tr("Search"));
    pDialog->setFixedSize(319, 415);
    QVBoxLayout* pLayout = new QVBoxLayout(pDialog);

    label = new QLabel(Tr("File Name,part of file name or file mask:"), pDialog);
    label->setObjectName("label");
    label->setWordWrap(true);
    lineEdit = new QLineEdit(pDialog);
    lineEdit->setObjectName("lineEdit");
    pLayout->addWidget(label);
    pLayout->addWidget(lineEdit);

    checkBox_5 = new QCheckBox(Tr("Date"), pDialog);
    checkBox_5->setObjectName("checkBox_5");
    comboBox_2 = new QComboBox(pDialog);
    comboBox_2->setObjectName("comboBox_2");
    QHBoxLayout* pDateRow = new QHBoxLayout();
    pDateRow->addWidget(checkBox_5);
    pDateRow->addWidget(comboBox_2);
    pLayout->addLayout(pDateRow);

    QGridLayout* pRanges = new QGridLayout();
    radioButton = new QRadioButton(Tr("in last"), pDialog);
    radioButton->setObjectName("radioButton");
    spinBox = new QSpinBox(pDialog);
    spinBox->setObjectName("spinBox");
    label_5 = new QLabel(Tr("months"), pDialog);
    label_5->setObjectName("label_5");
    pRanges->addWidget(radioButton, 0, 0);
    pRanges->addWidget(spinBox, 0, 1);
    pRanges->addWidget(label_5, 0, 2);
    radioButton_2 = new QRadioButton(Tr("in last"), pDialog);
    radioButton_2->setObjectName("radioButton_2");
    spinBox_2 = new QSpinBox(pDialog);
    spinBox_2->setObjectName("spinBox_2");
    label_6 = new QLabel(Tr("days"), pDialog);
    label_6->setObjectName("label_6");
    pRanges->addWidget(radioButton_2, 1, 0);
    pRanges->addWidget(spinBox_2, 1, 1);
    pRanges->addWidget(label_6, 1, 2);
    radioButton_3 = new QRadioButton(Tr("from"), pDialog);
    radioButton_3->setObjectName("radioButton_3");
    dateTimeEdit = new QDateTimeEdit(pDialog);
    dateTimeEdit->setObjectName("dateTimeEdit");
    label_7 = new QLabel(Tr("upto"), pDialog);
    label_7->setObjectName("label_7");
    dateTimeEdit_2 = new QDateTimeEdit(pDialog);
    dateTimeEdit_2->setObjectName("dateTimeEdit_2");
    pRanges->addWidget(radioButton_3, 2, 0);
    pRanges->addWidget(dateTimeEdit, 2, 1, 1, 2);
    pRanges->addWidget(label_7, 3, 0);
    pRanges->addWidget(dateTimeEdit_2, 3, 1, 1, 2);
    pLayout->addLayout(pRanges);

    checkBox_6 = new QCheckBox(Tr("Size"), pDialog);
    checkBox_6->setObjectName("checkBox_6");
    comboBox_3 = new QComboBox(pDialog);
    comboBox_3->setObjectName("comboBox_3");
    spinBox_3 = new QSpinBox(pDialog);
    spinBox_3->setObjectName("spinBox_3");
    label_3 = new QLabel(Tr("KB"), pDialog);
    label_3->setObjectName("label_3");
    QHBoxLayout* pSizeRow = new QHBoxLayout();
    pSizeRow->addWidget(checkBox_6);
    pSizeRow->addWidget(comboBox_3);
    pSizeRow->addWidget(spinBox_3);
    pSizeRow->addWidget(label_3);
    pLayout->addLayout(pSizeRow);
    pLayout->addStretch(1);

    pushButton_5 = new CImagePushButton(pDialog);
    pushButton_5->setObjectName("pushButton_5");
    pushButton_6 = new CImagePushButton(pDialog);
    pushButton_6->setObjectName("pushButton_6");
    QHBoxLayout* pButtons = new QHBoxLayout();
    pButtons->addStretch(1);
    pButtons->addWidget(pushButton_5);
    pButtons->addWidget(pushButton_6);
    pLayout->addLayout(pButtons);
}

CSearchDlg::CSearchDlg(QWidget* pParent)
    : QDialog(pParent)
    , m_Condition{}
    , m_bFind(false)
    , m_llNowForTest(-1)
{
    setupUi(this);
    CConfigParser& parser = CPubic::GetIniParser();
    setObjectName("AppSearchDlg");
    setStyleSheet(QString("QDialog#AppSearchDlg{border-image: url(%1);}").arg(parser.GetImagePath("Dialog_BGImage")));
    setWindowIcon(QIcon(parser.GetIconPath("Icon32")));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    SetupControls();
}

void CSearchDlg::SetupControls()
{
    CConfigParser& parser = CPubic::GetIniParser();
    pushButton_6->SetImagePath(parser.GetImagePathList("ProgressCancelImage"));
    pushButton_5->SetImagePath(parser.GetImagePathList("FindDlg"));

    comboBox_2->addItem(TrMessage(64));
    comboBox_2->addItem(TrMessage(65));
    comboBox_2->addItem(TrMessage(66));
    comboBox_3->addItem(TrMessage(67));
    comboBox_3->addItem(TrMessage(68));
    spinBox->setRange(1, 120);
    spinBox_2->setRange(1, 31);
    spinBox_3->setRange(0, 1000000000);
    const QDateTime now = QDateTime::currentDateTime();
    dateTimeEdit->setDateTime(now);
    dateTimeEdit_2->setDateTime(now);
    radioButton->setChecked(true);
    // A mask longer than the record holds would be cut silently; the field refuses it instead.
    lineEdit->setMaxLength(SEARCH_MASK_MAX_CHARS);

    for (QWidget* pWidget : std::initializer_list<QWidget*>{comboBox_2, radioButton, radioButton_2, radioButton_3, spinBox,
                                                            spinBox_2, dateTimeEdit, dateTimeEdit_2, comboBox_3, spinBox_3})
        pWidget->setEnabled(false);

    connect(pushButton_5, SIGNAL(released()), this, SLOT(FindClick()));
    connect(pushButton_6, SIGNAL(released()), this, SLOT(CancelClick()));
    connect(checkBox_5, SIGNAL(released()), this, SLOT(DateClick()));
    connect(checkBox_6, SIGNAL(released()), this, SLOT(SizeClick()));
    connect(radioButton, SIGNAL(released()), this, SLOT(LastMonthClicked()));
    connect(radioButton_2, SIGNAL(released()), this, SLOT(LastDayClicked()));
    connect(radioButton_3, SIGNAL(released()), this, SLOT(FromToClicked()));
}

void CSearchDlg::GetSearchCondition(SEARCH_CONDITION* pCondition) const
{
    if (pCondition != nullptr)
        std::memcpy(pCondition, &m_Condition, sizeof(m_Condition));
}

void CSearchDlg::DateClick()
{
    const bool bOn = checkBox_5->isChecked();
    comboBox_2->setEnabled(bOn);
    radioButton->setEnabled(bOn);
    radioButton_2->setEnabled(bOn);
    radioButton_3->setEnabled(bOn);
    if (!bOn) {
        spinBox->setEnabled(false);
        spinBox_2->setEnabled(false);
        dateTimeEdit->setEnabled(false);
        dateTimeEdit_2->setEnabled(false);
    } else if (radioButton->isChecked()) {
        spinBox->setEnabled(true);
    } else if (radioButton_2->isChecked()) {
        spinBox_2->setEnabled(true);
    } else {
        dateTimeEdit->setEnabled(true);
        dateTimeEdit_2->setEnabled(true);
    }
}

void CSearchDlg::SizeClick()
{
    const bool bOn = checkBox_6->isChecked();
    comboBox_3->setEnabled(bOn);
    spinBox_3->setEnabled(bOn);
}

void CSearchDlg::LastMonthClicked()
{
    radioButton->setEnabled(true);
    spinBox->setEnabled(true);
    spinBox_2->setEnabled(false);
    dateTimeEdit->setEnabled(false);
    dateTimeEdit_2->setEnabled(false);
}

void CSearchDlg::LastDayClicked()
{
    radioButton_2->setEnabled(true);
    spinBox_2->setEnabled(true);
    spinBox->setEnabled(false);
    dateTimeEdit->setEnabled(false);
    dateTimeEdit_2->setEnabled(false);
}

void CSearchDlg::FromToClicked()
{
    radioButton_3->setEnabled(true);
    dateTimeEdit->setEnabled(true);
    dateTimeEdit_2->setEnabled(true);
    spinBox->setEnabled(false);
    spinBox_2->setEnabled(false);
}

void CSearchDlg::SetNameCondition()
{
    m_Condition.dwCriteria |= SEARCH_BY_NAME;
    QString strMask = lineEdit->text();
    if (strMask.isEmpty())
        strMask = QStringLiteral("*");
    strMask.truncate(SEARCH_MASK_MAX_CHARS);
    LogInfo("Searched by %s", strMask.toUtf8().constData());
    std::memset(m_Condition.szNameMask, 0, sizeof(m_Condition.szNameMask));
    for (int i = 0; i < strMask.size(); ++i)
        m_Condition.szNameMask[i] = strMask.at(i).unicode();
}

void CSearchDlg::SetDateCondition()
{
    const int nKind = comboBox_2->currentIndex();
    m_Condition.dwDateKind = nKind >= 0 && nKind <= 2 ? static_cast<DWORD>(nKind) : SEARCH_DATE_MODIFIED;
    m_Condition.stDateFrom = SYSTEMTIME{};
    m_Condition.stDateTo = SYSTEMTIME{};
    if (!checkBox_5->isChecked())
        return;
    m_Condition.dwCriteria |= SEARCH_BY_DATE;
    if (radioButton_3->isChecked()) {
        m_Condition.stDateFrom = MSecsToSystemTime(dateTimeEdit->dateTime().toMSecsSinceEpoch());
        m_Condition.stDateTo = MSecsToSystemTime(dateTimeEdit_2->dateTime().toMSecsSinceEpoch());
        return;
    }
    const QDateTime now = m_llNowForTest >= 0 ? QDateTime::fromMSecsSinceEpoch(m_llNowForTest) : QDateTime::currentDateTime();
    const int64_t llMidnight = QDateTime(now.date(), QTime(0, 0)).toMSecsSinceEpoch();
    const int64_t llBack = radioButton->isChecked() ? spinBox->value() * MSECS_PER_MONTH : spinBox_2->value() * MSECS_PER_DAY;
    m_Condition.stDateFrom = MSecsToSystemTime(llMidnight - llBack);
    // The range runs to the end of today: a file changed this morning is "in the last day".
    const int64_t llTomorrow = QDateTime(now.date().addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    m_Condition.stDateTo = MSecsToSystemTime(llTomorrow - 1000);
    if (m_Condition.stDateTo.wYear != 0)
        m_Condition.stDateTo.wMilliseconds = 999;
}

void CSearchDlg::SetSizeCondition()
{
    if (!checkBox_6->isChecked())
        return;
    m_Condition.dwCriteria |= SEARCH_BY_SIZE;
    m_Condition.dwSizeMode = comboBox_3->currentIndex() == 1 ? SEARCH_SIZE_MORE_THAN : SEARCH_SIZE_LESS_THAN;
    m_Condition.ullSizeBound = static_cast<uint64_t>(static_cast<int64_t>(spinBox_3->value()) * 1024);
}

void CSearchDlg::FindClick()
{
    m_Condition = SEARCH_CONDITION{};
    SetNameCondition();
    SetDateCondition();
    SetSizeCondition();
    m_bFind = true;
    close();
}

void CSearchDlg::CancelClick()
{
    m_bFind = false;
    close();
}
