// The worker thread of one CThreadRunner and the 500 ms timer that refreshes the runner's modal
// dialog and closes it, with a code that tells how the job ended, at the first tick after it.
// A runner that sets SetCloseOnJobEnd has its dialog closed as soon as the job ends or the user
// cancels, without waiting for the tick.
#pragma once

#include <QThread>
#include <atomic>

class CThreadRunner;
class QDialog;
class QTimer;

class CThreadProgress : public QThread {
    Q_OBJECT
public:
    enum {
        STATUS_RUNNING = 0,
        STATUS_CANCELLED = 2,
        STATUS_DONE = 3,
        STATUS_NOTHING_FOUND = 4,
    };

    CThreadProgress(QDialog* pDialog, CThreadRunner* pRunner);
    // Waits for the job to return before the thread object goes.
    ~CThreadProgress() override;

    // Starts the job and runs the dialog modally on the calling (GUI) thread; returns the code
    // that closed the dialog. The job may still be running on return.
    int Start();

    // Moves a running job to another status (in practice: cancelled). Once the job's outcome is
    // known it stays: a cancel that comes after the job has finished changes nothing, and a job
    // that finishes after a cancel still closes as cancelled.
    void SetProgressStatus(signed char cStatus);
    int GetProgressStatus() const;
    // Back to running; only while no job runs (before the thread is started again).
    void ResetProgressStatus();
    // true: the end of the job (and a cancel) closes the dialog at once; the tick only animates.
    void SetCloseOnJobEnd(bool bClose) { m_bCloseOnJobEnd = bClose; }

public slots:
    void Update();

protected:
    void run() override;

private:
    static bool IsFinal(int nStatus);
    static int CloseCodeOf(int nStatus);
    // The first outcome (cancelled, done, nothing found) wins; later writes are dropped, so the
    // end of the job and a cancel from the dialog cannot overwrite each other.
    void StoreUnlessFinal(int nStatus);

    QTimer* m_pTimer;
    QDialog* m_pDialog;
    std::atomic<int> m_nStatus;
    CThreadRunner* m_pRunner;
    std::atomic<bool> m_bCloseOnJobEnd{false};
};
