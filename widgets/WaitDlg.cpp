#include "WaitDlg.h"

#include <QCloseEvent>
#include <QKeyEvent>

CWaitDlg::CWaitDlg(QWidget* pParent)
    : QDialog(pParent)
{
}

void CWaitDlg::keyPressEvent(QKeyEvent*)
{
}

void CWaitDlg::closeEvent(QCloseEvent* pEvent)
{
    pEvent->ignore();
}
