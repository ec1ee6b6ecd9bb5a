// The last page of the scan wizards: runs the copy-out on a thread of its own, shows its
// progress, the elapsed and remaining time and its message lines, and at the end a link to the
// folder that received the copies.
#pragma once

#include <QMutex>
#include <QString>
#include <QThread>
#include <QUrl>
#include <QVector>

#include <cstdint>

#include "ITessary.h"
#include "SearchProgress.h"
#include "WizardPage.h"

class CWizard;
class QFrame;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QTextBrowser;
class QTimer;
class QVBoxLayout;

// Runs one copy-out on the module; the result is not looked at (the progress record and the
// message lines tell the page everything).
class CExecThread : public QThread {
    Q_OBJECT
public:
    explicit CExecThread(ITessary* pTessary) : m_pTessary(pTessary) {}

protected:
    void run() override;

private:
    ITessary* m_pTessary;
};

class Ui_ProgressPage {
public:
    void setupUi(QWidget* pPage);

    QVBoxLayout* verticalLayout_2;
    QFrame* frame;
    QVBoxLayout* verticalLayout;
    QProgressBar* progressBar;
    QHBoxLayout* horizontalLayout;
    QLabel* labelTotalTime;
    QLabel* ElapsedTimeLabel;
    QLabel* labelElapsedTime;
    QLabel* LeftTimeLabel;
};

class CProgressPage : public CWizardPage, public Ui_ProgressPage {
    Q_OBJECT
public:
    explicit CProgressPage(CWizard* pWizard);
    ~CProgressPage() override;

    int Initialize() override;
    int OnNext(int& nStep) override;
    int OnBack() override;
    int OnCancel() override;

    static int32_t OnRecoveryMessage(const WCHAR* pszText, int32_t nLevel, void* pContext);

    // "hh:mm:ss" of a count of milliseconds; hours are not wrapped at 24.
    static QString FormatDuration(uint64_t ullMSecs);
    // Milliseconds still to go after ullElapsed at nPercent (1..100).
    static uint64_t RemainingMSecs(uint64_t ullElapsed, uint32_t nPercent);

    // For the tests and the wizards.
    QTextBrowser* MessageView() const { return m_pTextBrowser; }
    bool IsRunning() const { return m_pThread != nullptr; }
    QString RecoveryPath() const { return m_strRecoveryPath; }
    // The tick count the elapsed time is measured from (tests move it back).
    void SetStartTick(uint64_t ullTick) { m_ullStartTick = ullTick; }

public slots:
    void UpdateProgress();
    void OnAnchorClicked(const QUrl& url);

protected:
    // Shows a folder in the desktop's file manager.
    virtual void OpenFolder(const QString& strFolder);
    // Milliseconds of a steady clock.
    virtual uint64_t TickNow() const;

private:
    void FreeRun();
    void StopThread();

    CWizard* m_pWizard;
    ITessary* m_pTessary;
    CExecThread* m_pThread;
    QTimer* m_pTimer;
    QTextBrowser* m_pTextBrowser;
    QMutex* m_pLock;
    SEARCH_PROGRESS m_Progress;
    DWORD m_adwFlags[2];
    QString m_strElapsed;
    QString m_strRemaining;
    uint64_t m_ullStartTick;
    QVector<QString> m_vecMessages;
    QString m_strRecoveryPath;
};
