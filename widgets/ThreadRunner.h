// A job that runs on a worker thread while the GUI thread sits in a modal dialog.
#pragma once

// Closing codes of a job's dialog; the job's Run reports them in the low 16 bits of its result.
constexpr int JOB_DONE = 0;
constexpr int JOB_CANCELLED = 264;      // 0x108
constexpr int JOB_NOTHING_FOUND = 265;  // 0x109

class CThreadRunner {
public:
    CThreadRunner() = default;
    // A runner is tied to the worker thread that calls it back; a copy would share that thread.
    CThreadRunner(const CThreadRunner&) = delete;
    CThreadRunner& operator=(const CThreadRunner&) = delete;
    virtual ~CThreadRunner() = default;

    // The job, on the worker thread. Low 16 bits: JOB_CANCELLED, JOB_NOTHING_FOUND, else done.
    virtual int Run() = 0;
    // Refreshes the dialog; on the GUI thread at every 500 ms tick.
    virtual void UpdateDlg() = 0;
    // Runs the job behind its dialog and returns the dialog's closing code.
    virtual int Start() = 0;
};
