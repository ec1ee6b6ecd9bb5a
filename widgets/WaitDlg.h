// The small frameless dialog shown while a page's job runs. Neither a key (Escape included) nor
// the window system can close it; only the job runner's done() does.
#pragma once

#include <QDialog>

class CWaitDlg : public QDialog {
public:
    explicit CWaitDlg(QWidget* pParent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
};
