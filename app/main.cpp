// Ravendo's GUI program: builds the application, loads the translation and the style sheet,
// refuses to run without the right to read raw disks or while another copy runs, opens the
// diagnostics log and runs the main window until it closes. The crash handler is installed
// before main runs (CrashHandler.cpp).
#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include "MainWnd.h"
#include "MessageTable.h"
#include "ProcessGuard.h"
#include "Pubic.h"
#include "StartUp.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The translation of the user's language, relative to the working directory; the texts
    // stay English where there is none.
    QTranslator translator;
    const QString strLanguage = QLocale::system().name();
    if (translator.load(QString("./Resources/Language/%1/rvdui_%2.qm").arg(strLanguage, strLanguage.section('_', 0, 0))))
        app.installTranslator(&translator);
    app.setWindowIcon(QIcon(CPubic::GetIniParser().GetIconPath("Icon")));
    app.setStyleSheet("file:///rvd.qss");

    if (!IsAdministrator()) {
        QMessageBox::warning(nullptr, TrMessage(2), TrMessage(78), QMessageBox::Ok);
        return 0;
    }
    // Held until the process ends; the kernel lets it go however the process ends.
    const int nLock = rvdplat::AcquireSingleInstanceLock(SINGLE_INSTANCE_NAME);
    if (nLock == -1) {
        QMessageBox::warning(nullptr, TrMessage(2), TrMessage(79), QMessageBox::Ok);
        return 0;
    }
    InitLogging();

    int nResult = 0;
    {
        CMainWnd mainWnd(nullptr);
        mainWnd.show();
        nResult = app.exec();
    }
    return nResult;
}
