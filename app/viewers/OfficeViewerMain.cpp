// RVDOfficeViewer: the viewer the preview starts for a Word or Excel document. Arguments: the
// file and the name to show it under. The document is converted to PDF by LibreOffice when it is
// installed and shown page by page; otherwise the window says why it cannot be shown. Exit code
// 0 after the user closed the window, 1 for wrong arguments.
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QScreen>
#include <QStackedWidget>

#include <cstdio>

#include "OfficeConverter.h"
#include "PdfPageView.h"
#include "ViewerArguments.h"

int main(int argc, char** argv)
{
    ViewerArguments args;
    if (!TakeViewerArguments(argc, argv, &args)) {
        std::fprintf(stderr, "usage: RVDOfficeViewer FILE TITLE\n");
        return 1;
    }
    int nQtArgc = 1;
    char* apszQtArgv[] = {argv[0], nullptr};
    QApplication app(nQtArgc, apszQtArgv);
    QMainWindow window;
    window.setWindowTitle(args.strTitle);
    QStackedWidget* pStack = new QStackedWidget(&window);
    QLabel* pStatus = new QLabel(pStack);
    pStatus->setAlignment(Qt::AlignCenter);
    pStatus->setWordWrap(true);
    pStatus->setMargin(24);
    CPdfPageView* pView = new CPdfPageView(pStack);
    pStack->addWidget(pStatus);
    pStack->addWidget(pView);
    window.setCentralWidget(pStack);
    const QSize available = QGuiApplication::primaryScreen()->availableSize();
    window.resize(std::min(900, available.width()), std::min(1100, available.height()));

    COfficeConverter converter;
    const QString strOffice = COfficeConverter::FindOffice();
    if (strOffice.isEmpty()) {
        pStatus->setText(QObject::tr("LibreOffice is not installed, so Word and Excel documents cannot be shown "
                                     "here. Install LibreOffice to view them, or recover the file and open it "
                                     "with an office program."));
    } else {
        pStatus->setText(QObject::tr("Converting the document with LibreOffice..."));
        QObject::connect(&converter, &COfficeConverter::Finished,
                         [&](bool bOk, const QString& strPdf, const QString& strError) {
                             QString strLoadError;
                             if (bOk && pView->Load(strPdf, &strLoadError)) {
                                 pStack->setCurrentWidget(pView);
                                 return;
                             }
                             pStatus->setText(bOk ? strLoadError : strError);
                         });
        converter.Start(strOffice, args.strPath, args.strTitle);
    }
    window.show();
    app.exec();
    return 0;
}
