// The first window the user sees: three large scan buttons (Quick Scan, Complete Scan, Continue
// Recovery), three small ones (About, Help, Option) and a note that describes the button under
// the mouse. A scan button hides the window and shows its wizard; when the wizard finishes the
// window comes back.
#pragma once

#include <QDialog>
#include <QString>

class CCompleteScanWizard;
class CContinueScanWizard;
class CImagePushButton;
class CQuickScanWizard;
class QLabel;

class CMainWnd : public QDialog {
    Q_OBJECT
public:
    explicit CMainWnd(QWidget* pParent = nullptr);
    ~CMainWnd() override;

    CQuickScanWizard* QuickScanWizard() const { return m_pQuickScanWizard; }
    CCompleteScanWizard* CompleteScanWizard() const { return m_pCompleteScanWizard; }
    CContinueScanWizard* ContinueScanWizard() const { return m_pContinueScanWizard; }
    QLabel* NoteLabel() const { return m_pLabelNoteImage; }
    CImagePushButton* QuickScanButton() const { return m_pButtonQuickScan; }

public slots:
    void OnAbout();
    void OnHelp();
    void OnOption();
    void OnQuickScan();
    void OnCompleteScan();
    void OnContinueRecovery();
    void OnReturnMain();
    void ShowPrompt(QString strPrompt);

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    void SetupForm();

    QLabel* m_pLabelProductImage;
    CImagePushButton* m_pButtonOption;
    CImagePushButton* m_pButtonHelp;
    CImagePushButton* m_pButtonAbout;
    QLabel* m_pLabelBackground;
    CImagePushButton* m_pButtonQuickScan;
    CImagePushButton* m_pButtonCompleteScan;
    CImagePushButton* m_pButtonContinueRecovery;
    QLabel* m_pLabelNoteImage;

    CQuickScanWizard* m_pQuickScanWizard;
    CCompleteScanWizard* m_pCompleteScanWizard;
    CContinueScanWizard* m_pContinueScanWizard;
    QString m_strDefaultPrompt;
};

// Opens the help file (in the working directory) with the desktop's viewer.
void OpenHelpFile();
