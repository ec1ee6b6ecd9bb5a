// The three ways into a recovery, each a wizard with a fixed list of pages: Quick Scan reads the
// file systems of one volume, Complete Scan scans a partition or a whole disk choosing the file
// systems, Continue Recovery goes straight to the results the store kept from the last scan.
// The wizards own their pages; the pages do the work.
#pragma once

#include "Wizard.h"

class CEnumDiskPage;
class CPartitionTypePage;
class CSearchTypsPage;
class CWizardPage;

class CQuickScanWizard : public CWizard {
public:
    explicit CQuickScanWizard(QWidget* pParent = nullptr);
    ~CQuickScanWizard() override;

    CEnumDiskPage* DiskPage() const { return m_pEnumDiskPage; }
    CSearchTypsPage* TypesPage() const { return m_pSearchTypsPage; }
    CWizardPage* ResultPage() const { return m_pBuildTreePage; }
    CWizardPage* CopyOutPage() const { return m_pProgressPage; }

private:
    CEnumDiskPage* m_pEnumDiskPage;
    CSearchTypsPage* m_pSearchTypsPage;
    CWizardPage* m_pBuildTreePage;
    CWizardPage* m_pProgressPage;
};

class CCompleteScanWizard : public CWizard {
public:
    explicit CCompleteScanWizard(QWidget* pParent = nullptr);
    ~CCompleteScanWizard() override;

    CEnumDiskPage* DiskPage() const { return m_pEnumDiskPage; }
    CPartitionTypePage* FileSystemPage() const { return m_pPartitionTypePage; }
    CSearchTypsPage* TypesPage() const { return m_pSearchTypsPage; }
    CWizardPage* ResultPage() const { return m_pBuildTreePage; }
    CWizardPage* CopyOutPage() const { return m_pProgressPage; }

private:
    CEnumDiskPage* m_pEnumDiskPage;
    CPartitionTypePage* m_pPartitionTypePage;
    CSearchTypsPage* m_pSearchTypsPage;
    CWizardPage* m_pBuildTreePage;
    CWizardPage* m_pProgressPage;
};

class CContinueScanWizard : public CWizard {
public:
    CContinueScanWizard();
    ~CContinueScanWizard() override;

    CWizardPage* ResultPage() const { return m_pBuildTreePage; }
    CWizardPage* CopyOutPage() const { return m_pProgressPage; }

private:
    CWizardPage* m_pBuildTreePage;
    CWizardPage* m_pProgressPage;
};
