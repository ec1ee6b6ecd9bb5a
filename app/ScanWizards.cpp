#include "ScanWizards.h"

#include "EnumDiskPage.h"
#include "PartitionTypePage.h"
#include "ResultPages.h"
#include "SearchTypsPage.h"

CQuickScanWizard::CQuickScanWizard(QWidget* pParent)
    : CWizard(pParent)
{
    m_pEnumDiskPage = new CEnumDiskPage(this, 0);
    m_pSearchTypsPage = new CSearchTypsPage(this, false);
    m_pBuildTreePage = CreateBuildTreePage(this, 0);
    m_pProgressPage = CreateProgressPage(this);
    AddPage(m_pEnumDiskPage);
    AddPage(m_pSearchTypsPage);
    AddPage(m_pBuildTreePage);
    AddPage(m_pProgressPage);
    Start();
}

CQuickScanWizard::~CQuickScanWizard()
{
    delete m_pEnumDiskPage;
    delete m_pSearchTypsPage;
    delete m_pBuildTreePage;
    delete m_pProgressPage;
}

CCompleteScanWizard::CCompleteScanWizard(QWidget* pParent)
    : CWizard(pParent)
{
    m_pEnumDiskPage = new CEnumDiskPage(this, 1);
    m_pPartitionTypePage = new CPartitionTypePage(this);
    m_pSearchTypsPage = new CSearchTypsPage(this, true);
    m_pBuildTreePage = CreateBuildTreePage(this, 0);
    m_pProgressPage = CreateProgressPage(this);
    AddPage(m_pEnumDiskPage);
    AddPage(m_pSearchTypsPage);
    AddPage(m_pPartitionTypePage);
    AddPage(m_pBuildTreePage);
    AddPage(m_pProgressPage);
    Start();
}

CCompleteScanWizard::~CCompleteScanWizard()
{
    delete m_pEnumDiskPage;
    delete m_pPartitionTypePage;
    delete m_pSearchTypsPage;
    delete m_pBuildTreePage;
    delete m_pProgressPage;
}

CContinueScanWizard::CContinueScanWizard()
    : CWizard(nullptr)
{
    m_pBuildTreePage = CreateBuildTreePage(this, 1);
    m_pProgressPage = CreateProgressPage(this);
    AddPage(m_pBuildTreePage);
    AddPage(m_pProgressPage);
    Start();
}

CContinueScanWizard::~CContinueScanWizard()
{
    delete m_pBuildTreePage;
    delete m_pProgressPage;
}
