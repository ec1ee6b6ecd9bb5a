#include "ResultPages.h"

#include "BuildTreePage.h"
#include "ProgressPage.h"
#include "Wizard.h"

CWizardPage* CreateBuildTreePage(CWizard* pWizard, int nContinueMode)
{
    return new CBuildTreePage(pWizard, nContinueMode == 1);
}

CWizardPage* CreateProgressPage(CWizard* pWizard)
{
    return new CProgressPage(pWizard);
}
