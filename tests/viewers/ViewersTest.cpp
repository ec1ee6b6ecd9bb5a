// The viewer programs the preview hands documents to: the page view draws a PDF made at test time
// and refuses what is no PDF; the programs take the file and the name as two plain arguments (a
// name that looks like a toolkit option is still only the title) and Quirnel ends at once with
// code 2 on a file it cannot show; LibreOffice's conversion runs in a private folder, checked
// here against a stand-in LibreOffice that records its arguments.
#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QSignalSpy>

#include <fstream>
#include <gtest/gtest.h>

#include "CompoundFileBuilder.h"
#include "OfficeConverter.h"
#include "PdfPageView.h"
#include "TestSupport.h"

namespace {

class CViewersEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int nArgc = 1;
        static char szName[] = "test_viewers";
        static char* apszArgv[] = {szName, nullptr};
        m_pApp = new QApplication(nArgc, apszArgv);
    }
    void TearDown() override { delete m_pApp; }

private:
    QApplication* m_pApp = nullptr;
};
const ::testing::Environment* const g_pEnv = ::testing::AddGlobalTestEnvironment(new CViewersEnvironment);

rvdtest::CTempDir& Scratch()
{
    static rvdtest::CTempDir s_dir;
    return s_dir;
}

// A two-page PDF: a black bar on page 1, text on page 2.
QString MakePdf()
{
    const QString strPath = QString::fromStdString(Scratch().File("two-pages.pdf"));
    if (QFile::exists(strPath))
        return strPath;
    QPdfWriter writer(strPath);
    writer.setResolution(72);
    QPainter painter(&writer);
    painter.fillRect(QRect(50, 50, 300, 100), Qt::black);
    writer.newPage();
    painter.drawText(QPoint(50, 80), "second page");
    painter.end();
    return strPath;
}

QString WriteFile(const char* pszName, const QByteArray& bytes)
{
    const QString strPath = QString::fromStdString(Scratch().File(pszName));
    QFile file(strPath);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return strPath;
}

QByteArray ReadAll(const QString& strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(Viewers, PageViewDrawsThePagesOfAPdf)
{
    CPdfPageView view;
    ASSERT_TRUE(view.Load(MakePdf()));
    EXPECT_EQ(view.PageCount(), 2);
    EXPECT_EQ(view.CurrentPage(), 0);
    const QImage page = view.RenderPage(0, 72);
    ASSERT_FALSE(page.isNull());
    // The bar is drawn where it was painted, and the page around it stays white.
    EXPECT_EQ(qGray(page.pixel(200, 100)), 0);
    EXPECT_EQ(qGray(page.pixel(10, 10)), 255);
    view.ShowNextPage();
    EXPECT_EQ(view.CurrentPage(), 1);
    view.ShowNextPage();
    view.ShowPage(-1);
    EXPECT_EQ(view.CurrentPage(), 1) << "no page past either end";
    EXPECT_TRUE(view.RenderPage(2, 72).isNull());
}

TEST(Viewers, PageViewRefusesWhatIsNoPdf)
{
    const QByteArray pdf = ReadAll(MakePdf());
    const struct {
        const char* pszName;
        QByteArray bytes;
    } cases[] = {{"empty.pdf", QByteArray()},
                 {"text.pdf", QByteArray("just some text\n")},
                 {"head-only.pdf", pdf.left(40)},
                 {"zeros.pdf", QByteArray(4096, '\0')}};
    for (const auto& c : cases) {
        CPdfPageView view;
        QString strError;
        EXPECT_FALSE(view.Load(WriteFile(c.pszName, c.bytes), &strError)) << c.pszName;
        EXPECT_FALSE(strError.isEmpty()) << c.pszName;
        EXPECT_EQ(view.PageCount(), 0) << c.pszName;
    }
    CPdfPageView view;
    EXPECT_FALSE(view.Load(QString::fromStdString(Scratch().File("missing.pdf"))));
}

// Runs a viewer program from the output folder; -1 when it still runs after nWaitMs (it then
// shows its window and is stopped).
int RunViewer(const char* pszProgram, const QStringList& args, int nWaitMs)
{
    QProcess process;
    process.setProgram(QString::fromStdString(rvdtest::OutputDir()) + "/" + pszProgram);
    process.setArguments(args);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("PATH", "/nonexistent"); // no LibreOffice, whatever this machine has
    process.setProcessEnvironment(env);
    process.start();
    if (!process.waitForStarted(10000))
        return -2;
    if (!process.waitForFinished(nWaitMs)) {
        process.kill();
        process.waitForFinished(5000);
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -3;
}

TEST(Viewers, ProgramsTakeTwoPlainArguments)
{
    const QString strPdf = MakePdf();
    const QString strText = WriteFile("notes.pdf", "no pdf here\n");
    const struct {
        const char* pszProgram;
        QStringList args;
        int nExit; // -1: runs, showing its window
    } cases[] = {
        {"Quirnel", {strText, "notes.pdf"}, 2},
        // Names that look like toolkit options are titles only; the files decide.
        {"Quirnel", {strText, "-platform"}, 2},
        {"Quirnel", {strText, "--help"}, 2},
        {"Quirnel", {strPdf, "-style"}, -1},
        {"Quirnel", {strPdf, "Report 2025 | draft.pdf"}, -1},
        {"Quirnel", {strPdf}, 1},
        {"Quirnel", {strPdf, "a", "b"}, 1},
        {"RVDOfficeViewer", {strText, "-platform"}, -1},
        {"RVDOfficeViewer", {strText}, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RunViewer(c.pszProgram, c.args, c.nExit == -1 ? 1500 : 20000), c.nExit)
            << c.pszProgram << " " << c.args.join(' ').toStdString();
}

// A stand-in LibreOffice: records its arguments, then writes the PDF into the output folder it
// was given, named after the source as LibreOffice names it, and exits with nExit.
QString InstallOffice(int nExit, bool bWritePdf)
{
    const std::string strPath = Scratch().File("soffice-" + std::to_string(nExit) + (bWritePdf ? "w" : "n"));
    const std::string strPdf = MakePdf().toStdString();
    std::ofstream script(strPath);
    script << "#!/bin/sh\n"
           << "printf '%s\\0' \"$@\" > \"$0.args\"\n"
           << "out=''; prev=''\n"
           << "for a in \"$@\"; do [ \"$prev\" = --outdir ] && out=\"$a\"; prev=\"$a\"; src=\"$a\"; done\n"
           << "base=$(basename \"$src\"); base=${base%.*}\n";
    if (bWritePdf)
        script << "cp '" << strPdf << "' \"$out/$base.pdf\"\n";
    script << "exit " << nExit << "\n";
    script.close();
    QFile::setPermissions(QString::fromStdString(strPath), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return QString::fromStdString(strPath);
}

QStringList RecordedArguments(const QString& strOffice)
{
    QList<QByteArray> parts = ReadAll(strOffice + ".args").split('\0');
    parts.removeLast();
    QStringList list;
    for (const QByteArray& part : parts)
        list << QString::fromUtf8(part);
    return list;
}

TEST(Viewers, OfficeConversionRunsInAPrivateFolder)
{
    const std::vector<uint8_t> word = rvdtest::BuildCompoundWithStreams({u"WordDocument"});
    const std::vector<uint8_t> excel = rvdtest::BuildCompoundWithStreams({u"Book"});
    const QString strWord = WriteFile("w.tmp", QByteArray(reinterpret_cast<const char*>(word.data()), int(word.size())));
    const QString strExcel = WriteFile("x.tmp", QByteArray(reinterpret_cast<const char*>(excel.data()), int(excel.size())));
    const QString strZip = WriteFile("z.tmp", "PK\x03\x04 not really a package");
    EXPECT_EQ(COfficeConverter::CopyExtension(strWord, "letter.xls"), ".doc") << "content decides";
    EXPECT_EQ(COfficeConverter::CopyExtension(strExcel, "no name"), ".xls");
    EXPECT_EQ(COfficeConverter::CopyExtension(strZip, "Plan.XLSX"), ".xlsx");
    EXPECT_EQ(COfficeConverter::CopyExtension(strZip, "plan.docx"), ".docx");
    EXPECT_EQ(COfficeConverter::CopyExtension(strZip, "plan.xlsm"), "");

    const struct {
        const char* pszCase;
        int nExit;
        bool bWritePdf;
        bool bOk;
    } cases[] = {{"converted", 0, true, true}, {"failed", 1, false, false}, {"no output", 0, false, false}};
    for (const auto& c : cases) {
        const QString strOffice = InstallOffice(c.nExit, c.bWritePdf);
        COfficeConverter converter;
        QSignalSpy spy(&converter, &COfficeConverter::Finished);
        converter.Start(strOffice, strWord, "-rf \"$HOME\" | name.doc");
        ASSERT_TRUE(spy.count() == 1 || spy.wait(20000)) << c.pszCase;
        const QList<QVariant> result = spy.takeFirst();
        EXPECT_EQ(result[0].toBool(), c.bOk) << c.pszCase;
        const QStringList args = RecordedArguments(strOffice);
        ASSERT_EQ(args.size(), 9) << c.pszCase;
        // The source is a copy under a name of our own in a private folder; the found name
        // never reaches LibreOffice.
        const QString strSource = args.last();
        EXPECT_TRUE(strSource.endsWith("/document.doc")) << strSource.toStdString();
        EXPECT_FALSE(args.join(' ').contains("name.doc")) << c.pszCase;
        EXPECT_EQ(args.mid(1, 6), QStringList({"--headless", "--norestore", "--nolockcheck", "--convert-to", "pdf", "--outdir"}));
        const QString strFolder = strSource.left(strSource.lastIndexOf('/'));
        EXPECT_EQ(QFile::permissions(strFolder) & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther), 0);
        EXPECT_TRUE(args[0].startsWith("-env:UserInstallation=file://" + strFolder)) << args[0].toStdString();
        if (c.bOk) {
            EXPECT_EQ(result[1].toString(), strFolder + "/out/document.pdf");
            EXPECT_TRUE(QFile::exists(result[1].toString()));
            CPdfPageView view;
            EXPECT_TRUE(view.Load(result[1].toString()));
        } else {
            EXPECT_FALSE(result[2].toString().isEmpty()) << c.pszCase;
        }
    }
    // No LibreOffice program at all.
    COfficeConverter converter;
    QSignalSpy spy(&converter, &COfficeConverter::Finished);
    converter.Start(QString::fromStdString(Scratch().File("no-such-office")), strWord, "a.doc");
    ASSERT_TRUE(spy.count() == 1 || spy.wait(20000));
    EXPECT_FALSE(spy.takeFirst()[0].toBool());
}

} // namespace
