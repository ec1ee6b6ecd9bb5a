#include "AddTypeDialogs.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

#include "ImagePushButton.h"
#include "MessageTable.h"
#include "Pubic.h"

namespace {

CImagePushButton* MakeButton(const char* pszImage, QWidget* pParent)
{
    CImagePushButton* pButton = new CImagePushButton(pParent);
    pButton->SetImagePath(CPubic::GetIniParser().GetImagePathList(pszImage));
    return pButton;
}

QString PickIcon(QWidget* pParent)
{
    return QFileDialog::getOpenFileName(pParent, TrMessage(25), QString(), TrMessage(26));
}

void SkinDialog(QDialog* pDialog, const char* pszName)
{
    pDialog->setWindowTitle(TrMessage(2));
    pDialog->setObjectName(pszName);
    pDialog->setStyleSheet(QString("QDialog#%1{border-image: url(%2);}")
                               .arg(pszName, CPubic::GetIniParser().GetImagePath("Dialog_BGImage")));
}

QLabel* WhiteLabel(const QString& strText, QWidget* pParent)
{
    QLabel* pLabel = new QLabel(strText, pParent);
    pLabel->setObjectName("WhiteFont");
    return pLabel;
}

} // namespace

CAddGroup::CAddGroup(QWidget* pParent)
    : QDialog(pParent)
    , m_pGroupEdit(nullptr)
    , m_pIconEdit(nullptr)
    , m_pBrowseButton(nullptr)
    , m_pOKButton(nullptr)
    , m_pCancelButton(nullptr)
    , m_nResult(0)
{
}

void CAddGroup::SetupForm()
{
    SkinDialog(this, "AddGroupDlg");
    setFixedSize(400, 150);
    QVBoxLayout* pLayout = new QVBoxLayout(this);
    QHBoxLayout* pRow1 = new QHBoxLayout();
    m_pGroupEdit = new QLineEdit(this);
    pRow1->addWidget(WhiteLabel(TrMessage(23), this));
    pRow1->addWidget(m_pGroupEdit);
    QHBoxLayout* pRow2 = new QHBoxLayout();
    m_pIconEdit = new QLineEdit(this);
    m_pBrowseButton = MakeButton("BrowseImage", this);
    pRow2->addWidget(WhiteLabel(TrMessage(24), this));
    pRow2->addWidget(m_pIconEdit);
    pRow2->addWidget(m_pBrowseButton);
    QHBoxLayout* pRow3 = new QHBoxLayout();
    m_pOKButton = MakeButton("OKImage", this);
    m_pCancelButton = MakeButton("ProgressCancelImage", this);
    pRow3->addStretch();
    pRow3->addWidget(m_pOKButton);
    pRow3->addWidget(m_pCancelButton);
    pLayout->addLayout(pRow1);
    pLayout->addLayout(pRow2);
    pLayout->addLayout(pRow3);
    connect(m_pBrowseButton, &QPushButton::released, this, &CAddGroup::OnBrowseClicked);
    connect(m_pOKButton, &QPushButton::released, this, &CAddGroup::OnOKClicked);
    connect(m_pCancelButton, &QPushButton::released, this, &CAddGroup::OnCancelClicked);
}

QString CAddGroup::GetGroupName() const
{
    return m_pGroupEdit != nullptr ? m_pGroupEdit->text() : QString();
}

QString CAddGroup::GetIconPath() const
{
    return m_pIconEdit != nullptr ? m_pIconEdit->text() : QString();
}

void CAddGroup::OnBrowseClicked()
{
    m_pIconEdit->setText(PickIcon(this));
}

void CAddGroup::OnOKClicked()
{
    if (m_pGroupEdit->text().isEmpty()) {
        QMessageBox::information(this, TrMessage(2), TrMessage(27), QMessageBox::Ok);
        return;
    }
    m_nResult = 1;
    close();
}

void CAddGroup::OnCancelClicked()
{
    m_nResult = 0;
    close();
}

CAddTypeDlg::CAddTypeDlg(QWidget* pParent)
    : QDialog(pParent)
    , m_pGroupCombo(nullptr)
    , m_pExtEdit(nullptr)
    , m_pDescriptionEdit(nullptr)
    , m_pIconEdit(nullptr)
    , m_pBrowseButton(nullptr)
    , m_pOKButton(nullptr)
    , m_pCancelButton(nullptr)
    , m_nGroupIndex(0)
    , m_nResult(0)
{
}

void CAddTypeDlg::SetupForm()
{
    SkinDialog(this, "AddTypeDlg");
    setFixedSize(400, 200);
    QVBoxLayout* pLayout = new QVBoxLayout(this);
    QHBoxLayout* pRow1 = new QHBoxLayout();
    m_pGroupCombo = new QComboBox(this);
    m_pGroupCombo->setEditable(false);
    m_pGroupCombo->addItems(m_listGroups);
    m_pGroupCombo->setCurrentIndex(m_nGroupIndex);
    pRow1->addWidget(WhiteLabel(TrMessage(28), this));
    pRow1->addWidget(m_pGroupCombo);
    QHBoxLayout* pRow2 = new QHBoxLayout();
    m_pExtEdit = new QLineEdit(this);
    pRow2->addWidget(WhiteLabel(TrMessage(29), this));
    pRow2->addWidget(m_pExtEdit);
    pRow2->addWidget(WhiteLabel(TrMessage(30), this));
    QHBoxLayout* pRow3 = new QHBoxLayout();
    m_pDescriptionEdit = new QLineEdit(this);
    pRow3->addWidget(WhiteLabel(TrMessage(31), this));
    pRow3->addWidget(m_pDescriptionEdit);
    QHBoxLayout* pRow4 = new QHBoxLayout();
    m_pIconEdit = new QLineEdit(this);
    m_pBrowseButton = MakeButton("BrowseImage", this);
    pRow4->addWidget(WhiteLabel(TrMessage(32), this));
    pRow4->addWidget(m_pIconEdit);
    pRow4->addWidget(m_pBrowseButton);
    QHBoxLayout* pRow5 = new QHBoxLayout();
    m_pOKButton = MakeButton("OKImage", this);
    m_pCancelButton = MakeButton("ProgressCancelImage", this);
    pRow5->addSpacing(20);
    pRow5->addStretch();
    pRow5->addWidget(m_pOKButton);
    pRow5->addWidget(m_pCancelButton);
    for (QHBoxLayout* pRow : {pRow1, pRow2, pRow3, pRow4, pRow5})
        pLayout->addLayout(pRow);
    connect(m_pBrowseButton, &QPushButton::released, this, &CAddTypeDlg::OnBrowseClicked);
    connect(m_pOKButton, &QPushButton::released, this, &CAddTypeDlg::OnOKClicked);
    connect(m_pCancelButton, &QPushButton::released, this, &CAddTypeDlg::OnCancelClicked);
}

QString CAddTypeDlg::GetGroup() const
{
    return m_pGroupCombo != nullptr ? m_pGroupCombo->currentText() : QString();
}

QString CAddTypeDlg::GetExtension() const
{
    return m_pExtEdit != nullptr ? m_pExtEdit->text() : QString();
}

QString CAddTypeDlg::GetDescription() const
{
    return m_pDescriptionEdit != nullptr ? m_pDescriptionEdit->text() : QString();
}

QString CAddTypeDlg::GetIconPath() const
{
    return m_pIconEdit != nullptr ? m_pIconEdit->text() : QString();
}

void CAddTypeDlg::OnBrowseClicked()
{
    m_pIconEdit->setText(PickIcon(this));
}

void CAddTypeDlg::OnOKClicked()
{
    if (m_pExtEdit->text().isEmpty()) {
        QMessageBox::information(this, TrMessage(2), TrMessage(27), QMessageBox::Ok);
        return;
    }
    if (m_pDescriptionEdit->text().isEmpty()) {
        QMessageBox::information(this, TrMessage(2), TrMessage(34), QMessageBox::Ok);
        return;
    }
    m_nResult = 1;
    close();
}

void CAddTypeDlg::OnCancelClicked()
{
    m_nResult = 0;
    close();
}
