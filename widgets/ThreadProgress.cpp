#include "ThreadProgress.h"

#include <QDialog>
#include <QTimer>

#include "ThreadRunner.h"

namespace {
// The job writes only the status; the GUI thread reads it at each tick, or when the job's end is posted to it.
constexpr int UPDATE_INTERVAL_MS = 500;
}

CThreadProgress::CThreadProgress(QDialog* pDialog, CThreadRunner* pRunner)
    : m_pTimer(new QTimer(this))
    , m_pDialog(pDialog)
    , m_nStatus(STATUS_RUNNING)
    , m_pRunner(pRunner)
{
    connect(m_pTimer, SIGNAL(timeout()), this, SLOT(Update()));
}

CThreadProgress::~CThreadProgress()
{
    wait();
}

int CThreadProgress::Start()
{
    m_pTimer->start(UPDATE_INTERVAL_MS);
    start(QThread::InheritPriority);
    int nResult;
    if (m_pDialog) {
        nResult = m_pDialog->exec();
    } else {
        // Without a dialog there is nothing to show: the job's own outcome is the result.
        wait();
        nResult = CloseCodeOf(m_nStatus.load());
    }
    quit();
    m_pTimer->stop();
    return nResult;
}

bool CThreadProgress::IsFinal(int nStatus)
{
    return nStatus == STATUS_CANCELLED || nStatus == STATUS_DONE || nStatus == STATUS_NOTHING_FOUND;
}

void CThreadProgress::StoreUnlessFinal(int nStatus)
{
    int nCurrent = m_nStatus.load();
    while (!IsFinal(nCurrent) && !m_nStatus.compare_exchange_weak(nCurrent, nStatus)) {
    }
}

void CThreadProgress::SetProgressStatus(signed char cStatus)
{
    StoreUnlessFinal(cStatus);
    if (m_bCloseOnJobEnd.load() && IsFinal(m_nStatus.load()))
        QMetaObject::invokeMethod(this, "Update", Qt::QueuedConnection);
}

int CThreadProgress::GetProgressStatus() const
{
    return m_nStatus.load();
}

void CThreadProgress::ResetProgressStatus()
{
    m_nStatus.store(STATUS_RUNNING);
}

void CThreadProgress::run()
{
    int nStatus = STATUS_DONE;
    if (m_pRunner) {
        switch (m_pRunner->Run() & 0xFFFF) {
        case JOB_CANCELLED:
            nStatus = STATUS_CANCELLED;
            break;
        case JOB_NOTHING_FOUND:
            nStatus = STATUS_NOTHING_FOUND;
            break;
        default:
            break;
        }
    }
    StoreUnlessFinal(nStatus);
    // Posted to the GUI thread, which runs it in the dialog's own event loop (or, should the job
    // end before that loop starts, as soon as it starts). A post that arrives after its run's
    // dialog has closed finds the next run's status still running and closes nothing.
    if (m_bCloseOnJobEnd.load())
        QMetaObject::invokeMethod(this, "Update", Qt::QueuedConnection);
}

int CThreadProgress::CloseCodeOf(int nStatus)
{
    switch (nStatus) {
    case STATUS_DONE:
        return JOB_DONE;
    case STATUS_CANCELLED:
        return JOB_CANCELLED;
    case STATUS_NOTHING_FOUND:
        return JOB_NOTHING_FOUND;
    default:
        return -1;
    }
}

void CThreadProgress::Update()
{
    const int nStatus = m_nStatus.load();
    if (IsFinal(nStatus) && m_pDialog)
        m_pDialog->done(CloseCodeOf(nStatus));
    if (m_pRunner)
        m_pRunner->UpdateDlg();
}
