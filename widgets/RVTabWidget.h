// A tab widget whose first tab can be made unclosable while the others keep their close button.
#pragma once

#include <QTabWidget>

class CRVTabWidget : public QTabWidget {
public:
    explicit CRVTabWidget(QWidget* pParent = nullptr);

    // Shrinks the close button of tab 0 to nothing; the argument is not used.
    void HideCloseIcon(int nIndex = 0);
};
