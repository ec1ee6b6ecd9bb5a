// The modal dialog in which every scan of the engine runs. A wizard page builds it on the stack
// with the engine, starts it and learns how the scan ended. IDelvar::Search runs on the job
// runner's worker thread; every 500 ms the dialog copies the engine's progress and shows the
// phase, the percentage, the files found and the elapsed and remaining times. Cancel asks the
// engine to stop; the dialog closes by itself once Search has returned.
#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <cstdint>

#include "ProgressDlgBase.h"
#include "SearchProgress.h"

class CImagePushButton;
class IDelvar;
class QLabel;
class QMovie;
class QProgressBar;

class CSearchFileProgressDlg : public QDialog, public CProgressDlgBase {
    Q_OBJECT
public:
    // nDetails 1: the remaining time and the number of files found are shown (complete scan).
    CSearchFileProgressDlg(IDelvar* pEngine, QWidget* pParent, int nDetails);
    ~CSearchFileProgressDlg() override;

    // Runs the scan. Returns 0 when the scan handed its results over, 264 when it was
    // cancelled, 265 when it found nothing, or the engine's own error status (any other
    // non-zero value): a failed scan is never reported as done.
    int Start() override;
    int Run() override;
    void UpdateDlg() override;

    // The last progress record seen (for the page that shows the outcome).
    const SEARCH_PROGRESS& LastProgress() const { return m_lastProgress; }

    // The widgets, for tests and screenshots.
    QLabel* TitleLabel() const { return m_pLabelOperation2; }
    QLabel* DetailLabel() const { return m_pLabelOperation; }
    QLabel* FilesFoundLabel() const { return m_pLabelOperation3; }
    QLabel* ElapsedLabel() const { return m_pElapsedTimeLabel; }
    QLabel* RemainLabel() const { return m_pReMainTimeLabel; }
    QLabel* RemainCaption() const { return m_pLabelRemainTime; }
    QLabel* ElapsedCaption() const { return m_pLabelElapsedTime; }
    QProgressBar* ProgressBar() const { return m_pProgressBar; }
    CImagePushButton* CancelButton() const { return m_pPushButtonCancel; }

public slots:
    void CancelClick();

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    void SetupForm();
    void MoveElapsedLeft();
    static QString FormatElapsed(uint32_t dwSeconds);

    QMovie* m_pMovie;
    IDelvar* m_pEngine;
    uint32_t m_dwStartTick;
    int m_nDetails;
    // Search's status, written by the worker and read once the worker has ended.
    std::atomic<int> m_nSearchResult;
    SEARCH_PROGRESS m_lastProgress;

    QLabel* m_pLabelOperation;
    QProgressBar* m_pProgressBar;
    CImagePushButton* m_pPushButtonCancel;
    QLabel* m_pLabelOperation2;
    QLabel* m_pLabelOperation3;
    QLabel* m_pLabelOperation4;
    QLabel* m_pLabelElapsedTime;
    QLabel* m_pElapsedTimeLabel;
    QLabel* m_pLabelRemainTime;
    QLabel* m_pReMainTimeLabel;
    QLabel* m_pLabel;
};
