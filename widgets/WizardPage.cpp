#include "WizardPage.h"

QString CWizardPage::m_strDstPath;

CWizardPage::CWizardPage(QWidget* pParent)
    : QWidget(pParent)
    , m_bInitialized(false)
{
    m_strDstPath.clear();
}

int CWizardPage::Initialize()
{
    return 0;
}

int CWizardPage::OnNext(int&)
{
    return 0;
}

int CWizardPage::OnBack()
{
    return 0;
}

int CWizardPage::OnCancel()
{
    return 0;
}

void CWizardPage::SetDstPath(const QString& strPath)
{
    m_strDstPath = strPath;
}

QString CWizardPage::GetDstPath()
{
    return m_strDstPath;
}
