#include "ScanRunner.h"

#include <QLabel>
#include <QMessageBox>

#include "IDelvar.h"
#include "MessageTable.h"
#include "Pubic.h"
#include "ScanOutcome.h"
#include "SearchFileProgressDlg.h"
#include "ThreadRunner.h"
#include "Veskel.h"

namespace {

SCAN_OUTCOME g_lastOutcome;

} // namespace

void SetLastScanOutcome(const SCAN_OUTCOME& outcome)
{
    g_lastOutcome = outcome;
}

SCAN_OUTCOME GetLastScanOutcome()
{
    return g_lastOutcome;
}

QString EngineErrorText(int nStatus)
{
    const QString strText = CPubic::GetIniParser().GetErrorMsg(static_cast<uint32_t>(nStatus & 0xFFFF), 16);
    return strText.isEmpty() ? TrMessage(7) : QObject::tr(strText.toUtf8().constData());
}

void ShowInformation(QWidget* pParent, const QString& strText)
{
    QMessageBox::information(pParent, TrMessage(2), strText, QMessageBox::Ok);
}

void ShowWarning(QWidget* pParent, const QString& strText)
{
    QMessageBox::warning(pParent, TrMessage(2), strText, QMessageBox::Ok);
}

int RunScanAndReport(IDelvar* pEngine, QWidget* pParent, int nDetails)
{
    int nResult = 0;
    SCAN_OUTCOME outcome;
    {
        CSearchFileProgressDlg dlg(pEngine, pParent, nDetails);
        nResult = dlg.Start() & 0xFFFF;
        outcome.ullFilesFound = dlg.LastProgress().ullFilesFound;
        outcome.strTitle = dlg.TitleLabel()->text();
    }
    outcome.bScanned = true;
    outcome.nResult = nResult;
    SetLastScanOutcome(outcome);
    LogInfo("Scan ended with 0x%x, %llu files found.", static_cast<unsigned>(nResult),
            static_cast<unsigned long long>(outcome.ullFilesFound));
    if (nResult == JOB_DONE || nResult == JOB_CANCELLED)
        return nResult;
    if (nResult == JOB_NOTHING_FOUND)
        ShowInformation(pParent, TrMessage(58));
    else
        ShowWarning(pParent, EngineErrorText(nResult));
    return nResult;
}
