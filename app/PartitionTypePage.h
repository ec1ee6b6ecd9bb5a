// The Complete Scan page on which the user chooses the file systems the engine looks for; its
// Next loads the scan options, stores the choice and runs the complete scan.
#pragma once

#include "WizardPage.h"

class CWizard;
class QLabel;
class QRadioButton;

class CPartitionTypePage : public CWizardPage {
    Q_OBJECT
public:
    explicit CPartitionTypePage(CWizard* pWizard);

    int Initialize() override;
    int OnNext(int& nStep) override;
    int OnBack() override;
    int OnCancel() override;

    // The settings record's file-system choice of the selected button (0 to 4).
    int SelectedFileSystem() const;
    QRadioButton* Button(int nIndex) const { return m_apButtons[nIndex]; }
    QLabel* LimitLabel() const { return m_pLabel2; }

private:
    QRadioButton* m_apButtons[5];
    QLabel* m_pLabel2;
};
