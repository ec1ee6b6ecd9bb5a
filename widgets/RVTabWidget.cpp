#include "RVTabWidget.h"

#include <QTabBar>

CRVTabWidget::CRVTabWidget(QWidget* pParent)
    : QTabWidget(pParent)
{
}

void CRVTabWidget::HideCloseIcon(int)
{
    if (QWidget* pButton = tabBar()->tabButton(0, QTabBar::RightSide))
        pButton->resize(0, 0);
}
