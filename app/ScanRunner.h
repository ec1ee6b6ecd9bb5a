// Running a scan from a wizard page: the progress dialog, the outcome kept for the next page,
// and the user told why a scan cannot go on to the results.
#pragma once

#include <QString>

class IDelvar;
class QWidget;

// Runs the scan chosen by IDelvar::Init in the progress dialog (nDetails as the dialog takes
// it). Returns the dialog's code: 0 the results were handed over and the wizard may go on;
// 264 cancelled; 265 nothing found (the user is told); another value is the engine's error
// (the user is told). A scan that did not finish leaves the result store as it was, so the page
// stays rather than show the previous scan's results.
int RunScanAndReport(IDelvar* pEngine, QWidget* pParent, int nDetails);

// The user's words for an engine status: the skin file's text for the code, else "Unknown
// error!".
QString EngineErrorText(int nStatus);

// Message boxes with one OK button titled "Ravendo".
void ShowInformation(QWidget* pParent, const QString& strText);
void ShowWarning(QWidget* pParent, const QString& strText);
