// A job runner bound to one dialog: Start runs Run on a worker thread while the dialog is shown
// modally, and returns once both the dialog has closed and Run has returned.
#pragma once

#include "ThreadRunner.h"

class CThreadProgress;
class QDialog;

class CProgressDlgBase : public CThreadRunner {
public:
    CProgressDlgBase();
    ~CProgressDlgBase() override;

    // Binds the runner to its dialog; only the first call counts.
    void SetDialog(QDialog* pDialog);
    // JOB_DONE, JOB_CANCELLED or JOB_NOTHING_FOUND (or whatever else closed the dialog);
    // 0 without a dialog bound. Every call starts a fresh run of the job.
    int Start() override;
    // Closes the dialog at the next tick with JOB_CANCELLED; the job itself is not stopped and
    // Start still waits for it.
    void UserCancel();
    // The dialog closes as soon as the job ends instead of at the next 500 ms tick.
    void SetCloseWhenJobEnds(bool bClose);

private:
    CThreadProgress* m_pThread;
};
