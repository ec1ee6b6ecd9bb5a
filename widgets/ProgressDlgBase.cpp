#include "ProgressDlgBase.h"

#include "ThreadProgress.h"

CProgressDlgBase::CProgressDlgBase()
    : m_pThread(nullptr)
{
}

CProgressDlgBase::~CProgressDlgBase()
{
    delete m_pThread;
}

void CProgressDlgBase::SetDialog(QDialog* pDialog)
{
    if (m_pThread)
        return;
    m_pThread = new CThreadProgress(pDialog, this);
}

int CProgressDlgBase::Start()
{
    if (!m_pThread)
        return 0;
    // The previous run's outcome would close this run's dialog at its first tick.
    m_pThread->ResetProgressStatus();
    const int nResult = m_pThread->Start();
    m_pThread->wait();
    return nResult;
}

void CProgressDlgBase::UserCancel()
{
    if (m_pThread)
        m_pThread->SetProgressStatus(CThreadProgress::STATUS_CANCELLED);
}

void CProgressDlgBase::SetCloseWhenJobEnds(bool bClose)
{
    if (m_pThread)
        m_pThread->SetCloseOnJobEnd(bClose);
}
