// A wizard page that must do slow work before it can be shown: it is also a job runner, with
// its own wait dialog (a looping image and a text). A derived page sets the wait text, calls
// Start from its Initialize hook, then fills itself from what Run produced.
#pragma once

#include <QPointer>
#include <QStringList>

#include "ProgressDlgBase.h"
#include "WaitDlg.h"
#include "WizardPage.h"

class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

class CProgressDlg : public CWizardPage, public CProgressDlgBase {
    Q_OBJECT
public:
    explicit CProgressDlg(QWidget* pParent = nullptr);
    ~CProgressDlg() override;

    void SetWaitText(const QString& strText);
    // Replaces the animation frames (image paths), shown one per tick in a loop.
    void SetLoopImage(const QStringList& listImages);
    void UpdateDlg() override;

    CWaitDlg* GetWaitDlg() const { return m_pWaitDlg; }

public slots:
    void OnDlgCancel();

private:
    // Owned by the page's parent as well; the guard tells whether that parent already took it.
    QPointer<CWaitDlg> m_pWaitDlg;
    QVBoxLayout* m_pLayout;
    QHBoxLayout* m_pRowLayout;
    QLabel* m_pImageLabel;
    QLabel* m_pTextLabel;
    // Kept out of every layout: the jobs behind a wait dialog cannot be stopped, and a dialog
    // that closed on Cancel would leave the program frozen until the job returned anyway.
    QPushButton* m_pCancelButton;
    int m_nFrame;
    QStringList m_listLoopImages;
};
