#include "PartitionTypePage.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSettings>
#include <QVBoxLayout>

#include "IDelvar.h"
#include "ModuleLoader.h"
#include "Pubic.h"
#include "ScanOptions.h"
#include "ScanRunner.h"
#include "Veskel.h"
#include "Wizard.h"

CPartitionTypePage::CPartitionTypePage(CWizard* pWizard)
    : CWizardPage(pWizard)
{
    setObjectName("PartitionTypePage");
    setWindowTitle(tr("WizardPage"));
    setMinimumSize(760, 518);
    QVBoxLayout* pOuter = new QVBoxLayout(this);
    QFrame* pFrame = new QFrame(this);
    pFrame->setFrameShape(QFrame::StyledPanel);
    pFrame->setFrameShadow(QFrame::Raised);
    pFrame->setObjectName("partitontypeframe");
    pFrame->setStyleSheet(QString("QFrame#partitontypeframe{border-image: url(%1);}")
                              .arg(CPubic::GetIniParser().GetImagePath("Page_BGImage")));
    pOuter->addWidget(pFrame);
    QVBoxLayout* pInner = new QVBoxLayout(pFrame);
    const QString strTextStyle = "color: rgb(184, 191, 157);";
    QLabel* pLabel = new QLabel(tr("This function works well for formatted recovery. The radiobutton will allow you to select \n"
                                   "the previous file system type for your partition."),
                                pFrame);
    pLabel->setObjectName("label");
    pLabel->setStyleSheet(strTextStyle);
    pInner->addWidget(pLabel);
    QGridLayout* pGrid = new QGridLayout();
    const QString astrTexts[5] = {
        tr("Recommand (Auto select the previous file system.)  "),
        tr("NTFS (NTFS will be scanned only.)"),
        tr("FAT (FAT12/16/32 will be scanned only.)"),
        tr("EXT (EXT2/EXT3 will be scanned only.)"),
        tr("Full (All file system will be scanned, but it may take more time.)"),
    };
    QButtonGroup* pGroup = new QButtonGroup(this);
    for (int i = 0; i < 5; ++i) {
        m_apButtons[i] = new QRadioButton(astrTexts[i], pFrame);
        m_apButtons[i]->setObjectName(i == 0 ? QString("radioButton") : QString("radioButton_%1").arg(i + 1));
        m_apButtons[i]->setStyleSheet(strTextStyle);
        pGroup->addButton(m_apButtons[i], i);
        pGrid->addWidget(m_apButtons[i], i, 0);
    }
    m_apButtons[0]->setChecked(true);
    pInner->addLayout(pGrid);
    m_pLabel2 = new QLabel(tr("Current partiton search number is 4, and you can set in the option."), pFrame);
    m_pLabel2->setObjectName("label_2");
    m_pLabel2->setStyleSheet(strTextStyle);
    pInner->addWidget(m_pLabel2);
    pInner->addStretch();
}

int CPartitionTypePage::Initialize()
{
    // The scan itself holds the limit to 1..16 with 0 meaning 4; the note shows what it will use.
    const int nLimit = ReadScanOptions().nPartitionMaxlimit;
    m_pLabel2->setText(tr("Number of the current maximal partition is %1, and you can change number in the option.").arg(nLimit));
    return 0;
}

int CPartitionTypePage::SelectedFileSystem() const
{
    for (int i = 0; i < 5; ++i) {
        if (m_apButtons[i]->isChecked())
            return i;
    }
    return 0;
}

int CPartitionTypePage::OnNext(int& /*nStep*/)
{
    LoadScanOptions();
    CPubic::GetGlobalAdvanceSettingData().m_nFileSystemType = SelectedFileSystem();
    LogInfo("User scan file system choice: %d", SelectedFileSystem());
    IDelvar* pEngine = static_cast<IDelvar*>(CreateModuleInstance(u"Delvar"));
    if (pEngine == nullptr)
        return 0;
    // Cancelled, nothing found or failed: the user stays here to choose again.
    return RunScanAndReport(pEngine, this, 1);
}

int CPartitionTypePage::OnBack()
{
    return 0;
}

int CPartitionTypePage::OnCancel()
{
    return 0;
}
