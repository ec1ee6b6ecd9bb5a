// What the GUI tests share: one QApplication, a working folder laid out as the program's own
// (skin, style sheet, a fresh file-type catalogue), the disks of the fixture images, and a
// watcher that answers the message boxes a step opens.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

class CWizard;
class CWizardPage;
class QWidget;

namespace rvduitest {

// The working folder of the tests (the program's folder stand-in).
QString WorkDir();
// Puts the shipped catalogue back into the working folder.
void ResetCatalogue();
// The page the wizard shows now, and its index.
CWizardPage* CurrentPage(CWizard* pWizard);
int CurrentIndex(CWizard* pWizard);
// Saves a picture of the widget under the build's screenshot folder.
void SaveScreenshot(QWidget* pWidget, const QString& strName);
// Every image button below pWidget that is shown has a size and an image.
void ExpectSkinnedButtonsDrawn(QWidget* pWidget, const QString& strWhere);
// No text shown below pWidget (labels, buttons, the title) is a bare key of the skin file.
void ExpectNoSkinKeysShown(QWidget* pWidget, const QString& strWhere);

// Answers every message box that opens while it lives with the given button (the box's only
// button when it does not have that one), keeping the texts.
class CMessageBoxWatcher : public QObject {
    Q_OBJECT
public:
    explicit CMessageBoxWatcher(QMessageBox::StandardButton nAnswer = QMessageBox::Ok);
    QStringList Texts() const { return m_listTexts; }

private slots:
    void Poll();

private:
    QTimer m_timer;
    QMessageBox::StandardButton m_nAnswer;
    QStringList m_listTexts;
};

// Takes the URLs the desktop would open (install with QDesktopServices::setUrlHandler, slot "Open").
class CUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> listUrls;
public slots:
    void Open(const QUrl& url) { listUrls << url; }
};

} // namespace rvduitest
