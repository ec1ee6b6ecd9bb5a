// Stand-in for the result and copy-out pages until the result browser joins the program: the
// result page tells how the scan ended and how many files it found; the last page ends the
// wizard with Finish.
#pragma once

#include "WizardPage.h"

class CWizard;
class QLabel;

class CScanOutcomePage : public CWizardPage {
    Q_OBJECT
public:
    // bLastPage: the page that ends the wizard (shows Finish).
    CScanOutcomePage(CWizard* pWizard, int nContinueMode, bool bLastPage);

    int Initialize() override;

    QLabel* OutcomeLabel() const { return m_pLabel; }

private:
    CWizard* m_pWizard;
    int m_nContinueMode;
    bool m_bLastPage;
    QLabel* m_pLabel;
};
