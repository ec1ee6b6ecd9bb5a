#include "ScanOutcomePage.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include "Pubic.h"
#include "ScanOutcome.h"
#include "Wizard.h"

CScanOutcomePage::CScanOutcomePage(CWizard* pWizard, int nContinueMode, bool bLastPage)
    : CWizardPage(pWizard)
    , m_pWizard(pWizard)
    , m_nContinueMode(nContinueMode)
    , m_bLastPage(bLastPage)
{
    setObjectName(bLastPage ? "ProgressPage" : "BuildTreePage");
    setMinimumSize(760, 518);
    QVBoxLayout* pOuter = new QVBoxLayout(this);
    QFrame* pFrame = new QFrame(this);
    pFrame->setObjectName("outcomeframe");
    pFrame->setStyleSheet(QString("QFrame#outcomeframe{border-image: url(%1);}")
                              .arg(CPubic::GetIniParser().GetImagePath("Page_BGImage")));
    pOuter->addWidget(pFrame);
    QVBoxLayout* pInner = new QVBoxLayout(pFrame);
    m_pLabel = new QLabel(pFrame);
    m_pLabel->setObjectName("labelOutcome");
    m_pLabel->setStyleSheet("color: rgb(184, 191, 157);");
    m_pLabel->setWordWrap(true);
    pInner->addWidget(m_pLabel);
    pInner->addStretch();
}

int CScanOutcomePage::Initialize()
{
    if (m_bLastPage) {
        m_pLabel->setText(tr("Copying the recovered files out is not part of this build yet."));
        if (m_pWizard != nullptr)
            m_pWizard->ShowButton(CWizard::BTN_FINISH);
        return 0;
    }
    const SCAN_OUTCOME outcome = GetLastScanOutcome();
    if (m_nContinueMode == 1 || !outcome.bScanned)
        m_pLabel->setText(tr("The results of the last scan are kept by the result store."));
    else
        m_pLabel->setText(tr("Scan finished. Files found: %1").arg(static_cast<qulonglong>(outcome.ullFilesFound)));
    return 0;
}
