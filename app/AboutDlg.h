// The About box: product icon, name and version, where to find the latest product information,
// a notice line and an OK button.
#pragma once

#include <QDialog>

class CImagePushButton;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* pParent = nullptr);

public slots:
    void OKClick();

private:
    CImagePushButton* m_pPushButton;
};
