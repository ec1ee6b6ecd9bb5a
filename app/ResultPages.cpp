#include "ResultPages.h"

#include "ScanOutcomePage.h"

// Until the result browser is built, the stand-in pages take its place.
CWizardPage* CreateBuildTreePage(CWizard* pWizard, int nContinueMode)
{
    return new CScanOutcomePage(pWizard, nContinueMode, false);
}

CWizardPage* CreateProgressPage(CWizard* pWizard)
{
    return new CScanOutcomePage(pWizard, 0, true);
}
