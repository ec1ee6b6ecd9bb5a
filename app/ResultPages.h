// The pages that follow a scan in every wizard: the result page (the browser of what the result
// store holds) and the copy-out page. The wizards reach them only through these two factories,
// so the pages can be built apart from the wizards.
#pragma once

class CWizard;
class CWizardPage;

// The result page. nContinueMode 1: show the results the store kept from the last scan
// (Continue Recovery), without a new scan.
CWizardPage* CreateBuildTreePage(CWizard* pWizard, int nContinueMode);

// The copy-out page, the last page of every wizard.
CWizardPage* CreateProgressPage(CWizard* pWizard);
