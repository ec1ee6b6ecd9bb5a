#include "Wizard.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "ImagePushButton.h"
#include "Pubic.h"
#include "WizardPage.h"
#include "app/MessageTable.h"

CWizard::CWizard(QWidget* pParent)
    : QDialog(pParent)
    , m_pStackedWidget(nullptr)
    , m_pButtons{}
    , m_pMainLayout(nullptr)
    , m_pButtonLayout(nullptr)
    , m_nPageCount(0)
{
    m_stackHistory.clear();
    Initialize();
    m_stackHistory.push(0);
}

// The buttons, the page stack and both layouts belong to the dialog through Qt's ownership.
CWizard::~CWizard() = default;

void CWizard::Initialize()
{
    setObjectName("BorderImage");
    setWindowTitle(TrMessage(2));
    setWindowIcon(QIcon(CPubic::GetIniParser().GetIconPath("Icon")));
    // Qt::Window keeps the wizard a window of its own even when it is given a parent.
    setWindowFlags(Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);

    m_pMainLayout = new QVBoxLayout(this);
    m_pButtonLayout = new QHBoxLayout();
    m_pStackedWidget = new QStackedWidget();

    const char* const apszImageKeys[] = {"BackImage", "NextImage", "CancelImage", "FinishImage"};
    CConfigParser& parser = CPubic::GetIniParser();
    for (int i = BTN_BACK; i <= BTN_FINISH; ++i) {
        m_pButtons[i] = new CImagePushButton();
        m_pButtons[i]->SetImagePath(parser.GetImagePathList(apszImageKeys[i - BTN_BACK]));
    }

    m_pButtonLayout->addItem(new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    for (int i = BTN_BACK; i <= BTN_FINISH; ++i)
        m_pButtonLayout->addWidget(m_pButtons[i]);
    m_pButtons[BTN_FINISH]->hide();

    m_pMainLayout->addWidget(m_pStackedWidget);
    m_pMainLayout->addLayout(m_pButtonLayout);

    connect(m_pButtons[BTN_BACK], SIGNAL(released()), this, SLOT(OnBack()));
    connect(m_pButtons[BTN_NEXT], SIGNAL(released()), this, SLOT(OnNext()));
    connect(m_pButtons[BTN_CANCEL], SIGNAL(released()), this, SLOT(OnCancel()));
    connect(m_pButtons[BTN_FINISH], SIGNAL(released()), this, SLOT(OnFinish()));
}

void CWizard::AddPage(CWizardPage* pPage)
{
    if (!m_pStackedWidget || !pPage)
        return;
    m_pStackedWidget->addWidget(pPage);
    ++m_nPageCount;
}

void CWizard::Start()
{
    if (CWizardPage* pPage = CurrentPage())
        pPage->Initialize();
}

bool CWizard::IsValidBtnID(signed char cButtonID) const
{
    return cButtonID >= 0 && cButtonID <= BTN_FINISH && m_pButtons[cButtonID] != nullptr;
}

void CWizard::ShowButton(signed char cButtonID)
{
    if (IsValidBtnID(cButtonID))
        m_pButtons[cButtonID]->show();
}

void CWizard::HideButton(signed char cButtonID)
{
    if (IsValidBtnID(cButtonID))
        m_pButtons[cButtonID]->hide();
}

void CWizard::SetButtonStatus(signed char cButtonID, bool bEnable)
{
    if (IsValidBtnID(cButtonID))
        m_pButtons[cButtonID]->setEnabled(bEnable);
}

void CWizard::SetButtonText(signed char cButtonID, const QString& strText)
{
    if (IsValidBtnID(cButtonID))
        m_pButtons[cButtonID]->setText(strText);
}

CWizardPage* CWizard::CurrentPage() const
{
    if (!m_pStackedWidget)
        return nullptr;
    return qobject_cast<CWizardPage*>(m_pStackedWidget->currentWidget());
}

bool CWizard::IsLastPage(int nIndex) const
{
    return m_nPageCount == nIndex + 1;
}

void CWizard::OnNext()
{
    CWizardPage* pPage = CurrentPage();
    if (!pPage)
        return;
    const int nCurrent = m_pStackedWidget->currentIndex();
    // There is nothing beyond the last page: a Next that a page has shown there does nothing.
    if (nCurrent + 1 >= m_nPageCount)
        return;

    int nStep = 1;
    if (pPage->OnNext(nStep) != 0)
        return;
    // A skip that reaches past the end lands on the last page, and a step below one still
    // moves forward, so the history never holds a page number that does not exist.
    int nTarget = nCurrent + nStep;
    if (nTarget > m_nPageCount - 1)
        nTarget = m_nPageCount - 1;
    if (nTarget < nCurrent + 1)
        nTarget = nCurrent + 1;
    m_stackHistory.push(nTarget);

    if (IsLastPage(nTarget)) {
        HideButton(BTN_BACK);
        HideButton(BTN_NEXT);
    }
    m_pStackedWidget->setCurrentIndex(nTarget);
    CWizardPage* pTarget = CurrentPage();
    if (pTarget && pTarget->Initialize() != 0)
        OnBack();
}

void CWizard::OnBack()
{
    CWizardPage* pPage = CurrentPage();
    if (!pPage)
        return;
    if (pPage->OnBack() != 0)
        return;
    if (IsLastPage(m_pStackedWidget->currentIndex()))
        ShowButton(BTN_NEXT);

    if (!m_stackHistory.isEmpty())
        m_stackHistory.pop();
    if (m_stackHistory.isEmpty())
        PageFinish();
    else
        m_pStackedWidget->setCurrentIndex(m_stackHistory.top());
}

bool CWizard::Unwind()
{
    while (m_stackHistory.size() > 1) {
        const int nBefore = m_stackHistory.size();
        OnBack();
        // A page that refuses to be left ends the unwinding; asking it again would never end.
        if (m_stackHistory.size() >= nBefore)
            return false;
    }
    return true;
}

void CWizard::OnCancel()
{
    CWizardPage* pPage = CurrentPage();
    if (!pPage)
        return;
    if (IsLastPage(m_pStackedWidget->currentIndex())) {
        pPage->OnCancel();
        return;
    }
    if (pPage->OnCancel() != 0)
        return;
    if (!Unwind())
        return;
    if (!m_stackHistory.isEmpty())
        m_stackHistory.pop();
    PageFinish();
}

void CWizard::OnFinish()
{
    if (!CurrentPage())
        return;
    if (!Unwind())
        return;
    PageFinish();
}

void CWizard::PageFinish()
{
    m_stackHistory.clear();
    m_stackHistory.push(0);
    if (m_pStackedWidget)
        m_pStackedWidget->setCurrentIndex(0);
    hide();
    emit WizardPageFinish();
}

void CWizard::keyPressEvent(QKeyEvent* pEvent)
{
    if (!pEvent)
        return;
    if (pEvent->key() == Qt::Key_Escape) {
        pEvent->ignore();
        return;
    }
    if (pEvent->key() == Qt::Key_F1)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QDir::current().absoluteFilePath("RVDHelp.html")));
    // Other keys stop here, so Enter never triggers a default button.
    pEvent->accept();
}

void CWizard::closeEvent(QCloseEvent* pEvent)
{
    // A hidden wizard has nothing left to cancel.
    if (!isVisible()) {
        pEvent->accept();
        return;
    }
    pEvent->ignore();
    CImagePushButton* pCancel = m_pButtons[BTN_CANCEL];
    CImagePushButton* pFinish = m_pButtons[BTN_FINISH];
    if (pCancel->isHidden() && !pFinish->isHidden())
        OnFinish();
    else
        OnCancel();
}
