// The hand-off of a previewed file to the viewer programs: Word and Excel documents by content
// first and by name after, PDF files by name; each viewer gets the path and the found file's name
// as two arguments whatever the name holds, the file exists while it runs and is removed after;
// a missing or failing viewer leaves the file to the preview window, and a single click in split
// mode never starts a viewer.
//
// Stand-in viewers here are small shell scripts in a folder of the test's own: each records its
// arguments, whether the file it was given exists, and exits with the code the test chose.
#include <QDir>
#include <QFile>
#include <QTabWidget>

#include "CompoundFileBuilder.h"
#include "FilePreview.h"
#include "MessageTable.h"
#include "OfficeHandOff.h"
#include "ResultsTestSupport.h"
#include "TempPathNameSignle.h"

namespace {

using namespace resultstest;

const char kOffice[] = "RVDOfficeViewer";
const char kPdf[] = "Quirnel";

class OfficeHandOff : public ::testing::Test {
protected:
    void SetUp() override { SetViewerFolder(QString::fromStdString(m_dir.Path())); }
    void TearDown() override { SetViewerFolder(QString()); }

    // A viewer that records its arguments (NUL-separated) and exits with nCode.
    void InstallViewer(const char* pszName, int nCode)
    {
        const std::string strPath = m_dir.File(pszName);
        std::ofstream(strPath) << "#!/bin/sh\n"
                               << "printf '%s\\0' \"$@\" > \"$0.args\"\n"
                               << "if [ -f \"$1\" ]; then echo present > \"$0.seen\"; fi\n"
                               << "exit " << nCode << "\n";
        QFile::setPermissions(QString::fromStdString(strPath), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // The arguments of the viewer's last run; empty when it did not run.
    QStringList ViewerArguments(const char* pszName)
    {
        QFile file(QString::fromStdString(m_dir.File(pszName)) + ".args");
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> parts = file.readAll().split('\0');
        parts.removeLast(); // after the last terminator
        QStringList list;
        for (const QByteArray& part : parts)
            list << QString::fromUtf8(part);
        return list;
    }
    bool ViewerSawFile(const char* pszName) { return QFile::exists(QString::fromStdString(m_dir.File(pszName)) + ".seen"); }
    void ForgetRuns()
    {
        for (const char* pszName : {kOffice, kPdf}) {
            QFile::remove(QString::fromStdString(m_dir.File(pszName)) + ".args");
            QFile::remove(QString::fromStdString(m_dir.File(pszName)) + ".seen");
        }
    }
    // A fresh temporary preview file holding the bytes, as the copy-out module leaves it.
    static QString WriteTemp(const std::vector<uint8_t>& vecBytes)
    {
        const QString strTemp = CTempPathNameSignle::GetInstance().GetTempPathName();
        rvdtest::WriteFileBytes(strTemp.toStdString(), vecBytes);
        return strTemp;
    }
    static QStringList Tabs(FilePreview& window)
    {
        QStringList tabs;
        for (int i = 0; i < window.TabWidget()->count(); ++i)
            tabs << window.TabWidget()->tabText(i);
        return tabs;
    }

    rvdtest::CTempDir m_dir;
};

const std::vector<uint8_t> kText{'p', 'l', 'a', 'i', 'n', ' ', 't', 'e', 'x', 't', '\n'};

TEST_F(OfficeHandOff, OfficeDocumentsByContentThenByName)
{
    InstallViewer(kOffice, 0);
    InstallViewer(kPdf, 0);
    const std::vector<uint8_t> word = rvdtest::BuildCompoundWithStreams({u"WordDocument"});
    const std::vector<uint8_t> excel = rvdtest::BuildCompoundWithStreams({u"Workbook"});
    const struct {
        const char* pszName;
        const std::vector<uint8_t>& bytes;
        bool bViewer;  // handed to the office viewer (and removed after)
        int nMessage;  // 0: none
    } cases[] = {
        {"letter.txt", word, true, 0},         // content decides first
        {"no extension", excel, true, 0},
        {"budget.xls", excel, true, 0},
        {"NOTES.DOC", kText, false, 46},       // named like a document, but is none
        {"table.Xls", kText, false, 46},
        {"Q3 | final -x.XlSx", kText, true, 0}, // the newer formats by name only
        {"memo.docx", kText, true, 0},
        {"macros.xlsm", kText, false, 0},
        {"word.pdf.txt", word, true, 0},
    };
    for (const auto& c : cases) {
        ForgetRuns();
        CTestResultPage page;
        FilePreview window;
        const QString strTemp = WriteTemp(c.bytes);
        page.HandOffOrShow(strTemp, c.pszName, &window, nullptr, 1);
        if (c.bViewer) {
            EXPECT_EQ(ViewerArguments(kOffice), QStringList({strTemp, c.pszName})) << c.pszName;
            EXPECT_TRUE(ViewerSawFile(kOffice)) << c.pszName;
            EXPECT_FALSE(QFile::exists(strTemp)) << c.pszName << ": removed once the viewer ended";
            EXPECT_FALSE(window.isVisible()) << c.pszName;
        } else {
            EXPECT_TRUE(ViewerArguments(kOffice).isEmpty()) << c.pszName;
            EXPECT_TRUE(window.isVisible()) << c.pszName;
            EXPECT_EQ(window.FilePath(), strTemp) << c.pszName;
            EXPECT_EQ(Tabs(window), QStringList({"Text", "Hex"})) << c.pszName;
        }
        EXPECT_TRUE(ViewerArguments(kPdf).isEmpty()) << c.pszName;
        EXPECT_EQ(page.vecMessages, c.nMessage ? std::vector<QString>{TrMessage(c.nMessage)} : std::vector<QString>{})
            << c.pszName;
        window.close();
    }
}

TEST_F(OfficeHandOff, PdfGoesToItsViewerUnderAPdfName)
{
    const struct {
        const char* pszCase;
        int nExit;     // -1: no viewer program
        bool bShown;   // the preview window shows the file
    } cases[] = {{"viewer showed it", 0, false}, {"viewer failed", 3, true}, {"no viewer", -1, true}};
    for (const auto& c : cases) {
        ForgetRuns();
        QFile::remove(QString::fromStdString(m_dir.File(kPdf)));
        if (c.nExit >= 0)
            InstallViewer(kPdf, c.nExit);
        CTestResultPage page;
        FilePreview window;
        const QString strTemp = WriteTemp(kText);
        const QString strPdf = strTemp.left(strTemp.size() - 4) + ".pdf";
        const QString strName = "Annual Report \"2025\" -v.PDF";
        page.HandOffOrShow(strTemp, strName, &window, nullptr, 1);
        if (c.nExit >= 0) {
            EXPECT_EQ(ViewerArguments(kPdf), QStringList({strPdf, strName})) << c.pszCase;
            EXPECT_TRUE(ViewerSawFile(kPdf)) << c.pszCase;
        }
        EXPECT_FALSE(QFile::exists(strTemp)) << c.pszCase;
        EXPECT_EQ(window.isVisible(), c.bShown) << c.pszCase;
        EXPECT_EQ(QFile::exists(strPdf), c.bShown) << c.pszCase;
        if (c.bShown) {
            EXPECT_EQ(window.FilePath(), strPdf) << c.pszCase;
            EXPECT_EQ(Tabs(window), QStringList({"Text", "Hex"})) << c.pszCase;
            window.close();
            EXPECT_FALSE(QFile::exists(strPdf)) << c.pszCase << ": closing the window removes the .pdf file";
        }
        EXPECT_TRUE(page.vecMessages.empty()) << c.pszCase;
    }
}

TEST_F(OfficeHandOff, NoViewerWithoutDoubleClickOrOfficeViewer)
{
    InstallViewer(kPdf, 0);
    const std::vector<uint8_t> word = rvdtest::BuildCompoundWithStreams({u"WordDocument"});
    // A single click (split mode) never starts a viewer; ".pdf" alone is no PDF name; a Word
    // document whose viewer is missing is shown in the window instead of being dropped.
    const struct {
        const char* pszName;
        BOOL bDoubleClick;
    } cases[] = {{"a.pdf", 0}, {"letter.doc", 0}, {".pdf", 1}, {"letter.doc", 1}};
    for (const auto& c : cases) {
        ForgetRuns();
        CTestResultPage page;
        FilePreview window;
        const QString strTemp = WriteTemp(word);
        page.HandOffOrShow(strTemp, c.pszName, &window, nullptr, c.bDoubleClick);
        EXPECT_TRUE(ViewerArguments(kPdf).isEmpty()) << c.pszName;
        EXPECT_TRUE(window.isVisible()) << c.pszName;
        EXPECT_EQ(window.FilePath(), strTemp) << c.pszName;
        EXPECT_TRUE(QFile::exists(strTemp)) << c.pszName;
        EXPECT_TRUE(page.vecMessages.empty()) << c.pszName;
        window.close();
    }
}

} // namespace
