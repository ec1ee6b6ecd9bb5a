// Quirnel: the PDF viewer the preview starts for a found PDF file. Arguments: the file and the
// name to show it under. Exit code 0 after the user closed the window; 2 without any window when
// the file cannot be shown as a PDF, so that the preview shows its bytes instead; 1 for wrong
// arguments.
#include <QApplication>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>

#include <cstdio>

#include "PdfPageView.h"
#include "ViewerArguments.h"

int main(int argc, char** argv)
{
    ViewerArguments args;
    if (!TakeViewerArguments(argc, argv, &args)) {
        std::fprintf(stderr, "usage: Quirnel FILE TITLE\n");
        return 1;
    }
    int nQtArgc = 1;
    char* apszQtArgv[] = {argv[0], nullptr};
    QApplication app(nQtArgc, apszQtArgv);
    QMainWindow window;
    CPdfPageView* pView = new CPdfPageView(&window);
    QString strError;
    if (!pView->Load(args.strPath, &strError)) {
        std::fprintf(stderr, "Quirnel: %s\n", strError.toLocal8Bit().constData());
        return 2;
    }
    window.setCentralWidget(pView);
    window.setWindowTitle(args.strTitle);
    const QSize available = QGuiApplication::primaryScreen()->availableSize();
    window.resize(std::min(900, available.width()), std::min(1100, available.height()));
    window.show();
    app.exec();
    return 0;
}
