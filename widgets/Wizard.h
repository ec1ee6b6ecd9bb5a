// The dialog that hosts every multi-page flow (Quick Scan, Complete Scan, Continue Recovery):
// a stack of pages, the history of the page numbers visited, and four skinned buttons.
// The wizard only moves between pages; all work happens in the pages' hooks.
#pragma once

#include <QDialog>
#include <QStack>

class CImagePushButton;
class CWizardPage;
class QHBoxLayout;
class QStackedWidget;
class QVBoxLayout;

class CWizard : public QDialog {
    Q_OBJECT
public:
    // Button IDs; 0 names no button.
    enum : signed char { BTN_BACK = 1, BTN_NEXT = 2, BTN_CANCEL = 3, BTN_FINISH = 4 };

    explicit CWizard(QWidget* pParent = nullptr);
    ~CWizard() override;

    // Pages are shown in the order they were added.
    void AddPage(CWizardPage* pPage);
    // Initialises the current (first) page; called by a concrete wizard once its pages are in.
    void Start();

    // Invalid IDs (negative, 0, past Finish) are ignored.
    void ShowButton(signed char cButtonID);
    void HideButton(signed char cButtonID);
    // Enables or disables a button without changing its image.
    void SetButtonStatus(signed char cButtonID, bool bEnable);
    void SetButtonText(signed char cButtonID, const QString& strText);

signals:
    void WizardPageFinish();

public slots:
    void OnBack();
    void OnNext();
    void OnCancel();
    void OnFinish();

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;
    // The title bar's close button: the same as Cancel (or Finish once only Finish is offered),
    // so the flow always ends through WizardPageFinish and its owner comes back.
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void Initialize();
    bool IsValidBtnID(signed char cButtonID) const;
    CWizardPage* CurrentPage() const;
    bool IsLastPage(int nIndex) const;
    // Steps back through the history to its first entry; false when a page refused.
    bool Unwind();
    void PageFinish();

    QStackedWidget* m_pStackedWidget;
    CImagePushButton* m_pButtons[5];
    QVBoxLayout* m_pMainLayout;
    QHBoxLayout* m_pButtonLayout;
    int m_nPageCount;
    QStack<int> m_stackHistory;
};
