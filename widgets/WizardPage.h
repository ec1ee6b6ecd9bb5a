// The base of every page of a CWizard. A page takes part in navigation through four hooks whose
// result says go on (0) or stay (anything else); the wizard never knows what a page does.
#pragma once

#include <QString>
#include <QWidget>

class CWizardPage : public QWidget {
    Q_OBJECT
public:
    // Clears the destination folder shared by all pages.
    explicit CWizardPage(QWidget* pParent = nullptr);

    // Called when the page becomes current by Next (the first page by CWizard::Start).
    // Non-zero: the page cannot be shown and the wizard goes back at once.
    virtual int Initialize();
    // Asked before leaving forward. nStep arrives as 1; 2 skips the next page.
    virtual int OnNext(int& nStep);
    // Asked before leaving backward.
    virtual int OnBack();
    // Asked when Cancel is pressed.
    virtual int OnCancel();

protected:
    static void SetDstPath(const QString& strPath);
    static QString GetDstPath();

    // Never touched by the wizard; lets a page do its first-time work only once.
    bool m_bInitialized;

private:
    // The destination folder of the recovery, one for the whole process.
    static QString m_strDstPath;
};
