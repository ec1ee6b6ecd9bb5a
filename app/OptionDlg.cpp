#include "OptionDlg.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ImagePushButton.h"
#include "MessageTable.h"
#include "Pubic.h"
#include "ScanOptions.h"

namespace {

QGroupBox* MakeGroup(const QString& strTitle, QWidget* pParent, QLayout* pContent)
{
    QGroupBox* pGroup = new QGroupBox(strTitle, pParent);
    pGroup->setLayout(pContent);
    return pGroup;
}

} // namespace

COptionDlg::COptionDlg(QWidget* pParent)
    : QDialog(pParent)
{
    CConfigParser& parser = CPubic::GetIniParser();
    setWindowTitle(tr("Option"));
    setMinimumSize(375, 435);
    setMaximumSize(393, 491);
    setObjectName("AppOption");
    setStyleSheet(QString("QDialog#AppOption{border-image: url(%1);}").arg(parser.GetImagePath("Dialog_BGImage")));
    setWindowIcon(QIcon(parser.GetIconPath("Icon32")));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);

    QVBoxLayout* pLayout = new QVBoxLayout(this);
    QHBoxLayout* pRaw = new QHBoxLayout();
    m_pSizeEdit = new QLineEdit("5000000", this);
    pRaw->addWidget(new QLabel(tr("Maximal search size:"), this));
    pRaw->addWidget(m_pSizeEdit);
    pRaw->addWidget(new QLabel(tr("Bytes"), this));
    pLayout->addWidget(MakeGroup(tr("RAW"), this, pRaw));

    QHBoxLayout* pPartition = new QHBoxLayout();
    m_pPartitionSpin = new QSpinBox(this);
    m_pPartitionSpin->setRange(MIN_PARTITION_MAXLIMIT, MAX_PARTITION_MAXLIMIT);
    pPartition->addWidget(new QLabel(tr("Maximal partition limit:"), this));
    pPartition->addWidget(m_pPartitionSpin);
    pLayout->addWidget(MakeGroup(tr("Partition recovery"), this, pPartition));

    QHBoxLayout* pBad = new QHBoxLayout();
    m_pBadSectorBox = new QCheckBox(tr("Ignore bad sector"), this);
    pBad->addWidget(m_pBadSectorBox);
    pLayout->addWidget(MakeGroup(tr("Bad Sector"), this, pBad));

    QHBoxLayout* pPath = new QHBoxLayout();
    m_pPathEdit = new QLineEdit(this);
    m_pPathEdit->setMaxLength(259);
    m_pBrowseButton = new CImagePushButton(this);
    m_pBrowseButton->SetImagePath(parser.GetImagePathList("BrowseImage"));
    pPath->addWidget(m_pPathEdit);
    pPath->addWidget(m_pBrowseButton);
    pLayout->addWidget(MakeGroup(tr("Default save path"), this, pPath));

    QHBoxLayout* pDisk = new QHBoxLayout();
    m_pFullScanBox = new QCheckBox(tr("If we do not find partitions, whether use \nfull scan or not."), this);
    pDisk->addWidget(m_pFullScanBox);
    pLayout->addWidget(MakeGroup(tr("Disk scan"), this, pDisk));

    QHBoxLayout* pButtons = new QHBoxLayout();
    m_pDefaultButton = new CImagePushButton(this);
    m_pDefaultButton->SetImagePath(parser.GetImagePathList("DefaultImage"));
    m_pOKButton = new CImagePushButton(this);
    m_pOKButton->SetImagePath(parser.GetImagePathList("OKImage"));
    m_pCancelButton = new CImagePushButton(this);
    m_pCancelButton->SetImagePath(parser.GetImagePathList("ProgressCancelImage"));
    pButtons->addWidget(m_pDefaultButton);
    pButtons->addStretch();
    pButtons->addWidget(m_pOKButton);
    pButtons->addWidget(m_pCancelButton);
    pLayout->addLayout(pButtons);

    connect(m_pDefaultButton, &QPushButton::released, this, &COptionDlg::DefaultClick);
    connect(m_pOKButton, &QPushButton::released, this, &COptionDlg::OKClick);
    connect(m_pCancelButton, &QPushButton::released, this, &COptionDlg::CancelClick);
    connect(m_pBrowseButton, &QPushButton::released, this, &COptionDlg::BrowseClick);
}

COptionDlg::~COptionDlg() = default;

void COptionDlg::ReadOptions(const QString& strFile)
{
    m_pSettings = std::make_unique<QSettings>(strFile.isEmpty() ? QString(OPTIONS_FILE_NAME) : strFile, QSettings::IniFormat);
    const QString strSize = m_pSettings->value(OPTION_RAW_FILE_SIZE).toString();
    if (!strSize.isEmpty()) {
        bool bOk = false;
        const qlonglong llSize = strSize.trimmed().toLongLong(&bOk);
        m_pSizeEdit->setText(QString::number(ClampRawFileSize(bOk ? llSize : 0)));
        m_pPartitionSpin->setValue(ClampPartitionMaxlimit(m_pSettings->value(OPTION_PARTITION_MAXLIMIT, 0).toInt()));
        m_pFullScanBox->setChecked(m_pSettings->value(OPTION_DISK_FULL_SCAN, 0).toInt() == 1);
        m_pBadSectorBox->setChecked(m_pSettings->value(OPTION_BAD_SECTOR_IGNORE, 0).toInt() == 1);
        m_pPathEdit->setText(m_pSettings->value(OPTION_DEFAULT_PATH).toString());
    } else {
        m_pSizeEdit->setText(QString::number(DEFAULT_RAW_FILE_SIZE));
        m_pPartitionSpin->setValue(DEFAULT_PARTITION_MAXLIMIT);
        m_pFullScanBox->setChecked(true);
        m_pBadSectorBox->setChecked(true);
    }
}

void COptionDlg::DefaultClick()
{
    m_pSizeEdit->setText(QString::number(DEFAULT_RAW_FILE_SIZE));
    m_pPartitionSpin->setValue(DEFAULT_PARTITION_MAXLIMIT);
    m_pFullScanBox->setChecked(true);
    m_pBadSectorBox->setChecked(false);
    m_pPathEdit->clear();
}

void COptionDlg::BrowseClick()
{
    // Paths keep their "/" separators: they are Linux paths, and the result page uses them as such.
    const QString strFolder = QFileDialog::getExistingDirectory(
        this, TrMessage(39), QString(), QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    m_pPathEdit->setText(strFolder);
}

void COptionDlg::OKClick()
{
    if (m_pSettings) {
        bool bOk = false;
        const qlonglong llSize = m_pSizeEdit->text().trimmed().toLongLong(&bOk);
        m_pSettings->setValue(OPTION_RAW_FILE_SIZE, QString::number(ClampRawFileSize(bOk ? llSize : 0)));
        m_pSettings->setValue(OPTION_PARTITION_MAXLIMIT, ClampPartitionMaxlimit(m_pPartitionSpin->value()));
        m_pSettings->setValue(OPTION_DISK_FULL_SCAN, m_pFullScanBox->isChecked() ? 1 : 0);
        m_pSettings->setValue(OPTION_BAD_SECTOR_IGNORE, m_pBadSectorBox->isChecked() ? 1 : 0);
        m_pSettings->setValue(OPTION_DEFAULT_PATH, m_pPathEdit->text());
        m_pSettings->sync();
    }
    close();
}

void COptionDlg::CancelClick()
{
    close();
}
