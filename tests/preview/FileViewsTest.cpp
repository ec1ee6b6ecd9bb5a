// The hex and text views paging through files: exact line formats, windows, failed loads.
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "FileHexView.h"
#include "FileTextView.h"
#include "TestSupport.h"

namespace {

QString WriteFile(rvdtest::CTempDir& dir, const std::string& strName, const std::vector<uint8_t>& data)
{
    rvdtest::WriteFileBytes(dir.File(strName), data);
    return QString::fromStdString(dir.File(strName));
}

std::vector<uint8_t> Bytes(const std::string& str) { return std::vector<uint8_t>(str.begin(), str.end()); }

const QString kHeader = "Offset  \t\t0\t1\t2\t3\t4\t5\t6\t7\t8\t9\tA\tB\tC\tD\tE\tF\n";

QString HexPage(const QString& strPath, uint32_t nLines, uint64_t nFirst = 0)
{
    CFileHexView view;
    view.SetFilePath(strPath);
    view.Init();
    view.SetLinesPerPage(nLines);
    return view.BuildPage(nFirst);
}

TEST(HexView, LineFormats)
{
    rvdtest::CTempDir dir;
    std::vector<uint8_t> data17;
    for (int i = 0; i < 17; ++i)
        data17.push_back(static_cast<uint8_t>('A' + i));
    EXPECT_EQ(HexPage(WriteFile(dir, "17", data17), 10),
              kHeader
                  + "00000000\t\t41\t42\t43\t44\t45\t46\t47\t48\t49\t4A\t4B\t4C\t4D\t4E\t4F\t50     ABCDEFGHIJKLMNOP\n"
                  + "00000010\t\t51\t" + QString(" \t").repeated(15) + "Q\n");

    data17.pop_back();
    EXPECT_EQ(HexPage(WriteFile(dir, "16", data17), 10),
              kHeader + "00000000\t\t41\t42\t43\t44\t45\t46\t47\t48\t49\t4A\t4B\t4C\t4D\t4E\t4F\t50\tABCDEFGHIJKLMNOP\n");

    EXPECT_EQ(HexPage(WriteFile(dir, "empty", {}), 10), kHeader);

    // Low bytes below 0x1E are dots; 0x1E and 0x1F show their glyphs.
    const QString strPage = HexPage(WriteFile(dir, "ctl", {0x00, 0x1D, 0x1E, 0x1F, 'z'}), 10);
    EXPECT_TRUE(strPage.endsWith(QString("..") + QChar(0x25B2) + QChar(0x25BC) + "z\n")) << strPage.toStdString();
}

TEST(HexView, LastPageIsFullAndFarPagesRereadTheWindow)
{
    rvdtest::CTempDir dir;
    std::vector<uint8_t> data(12u << 20);
    for (size_t i = 0; i < data.size(); i += 16)
        data[i] = static_cast<uint8_t>(i >> 16);
    const QString strPath = WriteFile(dir, "big", data);
    CFileHexView view;
    view.SetFilePath(strPath);
    view.Init();
    view.SetLinesPerPage(8);
    ASSERT_EQ(view.LineCount(), data.size() / 16);
    EXPECT_EQ(view.Window().WindowEnd(), CPreviewReadWindow::kCapacityCap);

    const uint64_t nMiddle = view.LineCount() / 2;
    const QString strMid = view.BuildPage(nMiddle);
    EXPECT_EQ(view.Window().WindowStart(), nMiddle * 16);
    EXPECT_TRUE(strMid.contains(QString("%1\t\t").arg(nMiddle * 16, 8, 16, QChar('0')).toUpper()));

    const QString strLast = view.BuildPage(view.LineCount());
    EXPECT_EQ(strLast.count('\n'), 9);
    EXPECT_TRUE(strLast.contains(QString("%1\t\t").arg((view.LineCount() - 8) * 16, 8, 16, QChar('0')).toUpper()));
}

TEST(HexView, FailedLoadShowsNothing)
{
    QTextEdit edit;
    QScrollBar bar;
    edit.setPlainText("stale");
    CFileHexView view;
    view.SetFilePath("/nonexistent/preview.tmp");
    view.SetWidgets(&edit, &bar);
    view.Init();
    view.Refresh();
    EXPECT_TRUE(edit.toPlainText().isEmpty());
    EXPECT_EQ(bar.maximum(), 0);
}

TEST(HexView, ScrollingAppliesTheLastPosition)
{
    rvdtest::CTempDir dir;
    std::vector<uint8_t> data(16 * 1000, 'a');
    QTextEdit edit;
    edit.resize(400, 200);
    QScrollBar bar;
    CFileHexView view;
    view.SetFilePath(WriteFile(dir, "scroll", data));
    view.SetWidgets(&edit, &bar);
    view.Init();
    view.Refresh();
    ASSERT_GT(view.LinesPerPage(), 0u);
    for (int v = 1; v <= 500; v += 7)
        bar.setValue(v);
    bar.setValue(512);
    QTest::qWait(350);
    EXPECT_TRUE(edit.toPlainText().contains("00002000\t\t")) << "line 512 is at offset 0x2000";
}

struct TextCase {
    const char* pszName;
    std::vector<uint8_t> data;
    std::vector<uint32_t> starts;
};

TEST(TextView, LineIndex)
{
    std::vector<uint8_t> noBreaks(400, 'x');
    // Two-byte characters (U+00E9) from offset 1: the byte pair at 159/160 must not be split.
    std::vector<uint8_t> twoByte(1, 'x');
    while (twoByte.size() < 300) {
        twoByte.push_back(0xC3);
        twoByte.push_back(0xA9);
    }
    std::vector<uint8_t> threeByte; // U+4E2D, three bytes each, from offset 0
    while (threeByte.size() < 300) {
        threeByte.push_back(0xE4);
        threeByte.push_back(0xB8);
        threeByte.push_back(0xAD);
    }
    const TextCase cases[] = {
        {"a LF b", Bytes("a\nb"), {0, 2, 3}},
        {"no line feeds", noBreaks, {0, 160, 319, 400}},
        {"one byte", Bytes("q"), {0, 1}},
        {"empty", {}, {0}},
        {"final line feed", Bytes("ab\ncd\n"), {0, 3, 6}},
        {"two-byte text", twoByte, {0, 159, 301}},
        {"three-byte text", threeByte, {0, 159, 300}},
    };
    rvdtest::CTempDir dir;
    for (const TextCase& c : cases) {
        CFileTextView view;
        view.SetFileInfo(WriteFile(dir, "t", c.data), "t");
        view.Init();
        const std::vector<uint32_t>& expected = c.starts;
        const QVector<uint32_t>& got = view.LineStarts();
        EXPECT_EQ(std::vector<uint32_t>(got.begin(), got.end()), expected) << c.pszName;
        EXPECT_EQ(view.LineCount(), expected.size() - 1) << c.pszName;
    }
}

// The line breaks as defined byte by byte: a line feed ends a line; a line reaching 160 bytes
// ends there, or before the lead byte of a UTF-8 character that would be split.
std::vector<uint32_t> ReferenceLineStarts(const std::vector<uint8_t>& data)
{
    const uint32_t nSize = static_cast<uint32_t>(data.size());
    std::vector<uint32_t> starts{0};
    if (nSize > 1) {
        uint32_t p = 0, b = 0;
        for (;;) {
            if (p - b + 1 == CFileTextView::kMaxLineBytes) {
                uint32_t nBreak = p;
                if (p + 1 < nSize && (data[p + 1] & 0xC0) == 0x80) {
                    uint32_t nLead = p;
                    for (int k = 0; k < 3 && nLead > b && (data[nLead] & 0xC0) == 0x80; ++k)
                        --nLead;
                    if ((data[nLead] & 0xC0) == 0xC0 && nLead > b)
                        nBreak = nLead - 1;
                }
                p = b = nBreak;
                starts.push_back(p + 1);
            } else if (data[p] == '\n') {
                b = p;
                starts.push_back(p + 1);
            }
            if (++p >= nSize - 1)
                break;
        }
    }
    if (starts.back() < nSize)
        starts.push_back(nSize);
    return starts;
}

TEST(TextView, LineIndexMatchesTheByteByByteRule)
{
    // Random text of different line-feed and UTF-8 densities; the last file is larger than the
    // 5 MiB read window, so the index crosses window re-reads.
    const struct {
        size_t nSize;
        int nFeedPerMille, nUtf8PerMille;
    } cases[] = {{1000, 0, 0}, {5000, 5, 300}, {20000, 20, 100}, {20000, 0, 900}, {321, 3, 0},
                 {6 * 1024 * 1024 + 77, 2, 50}};
    std::srand(20);
    rvdtest::CTempDir dir;
    for (const auto& c : cases) {
        std::vector<uint8_t> data;
        while (data.size() < c.nSize) {
            const int nRoll = std::rand() % 1000;
            if (nRoll < c.nFeedPerMille) {
                data.push_back('\n');
            } else if (nRoll < c.nFeedPerMille + c.nUtf8PerMille) {
                const int nLength = 2 + std::rand() % 3;
                data.push_back(uint8_t(nLength == 2 ? 0xC3 : nLength == 3 ? 0xE4 : 0xF0));
                for (int k = 1; k < nLength; ++k)
                    data.push_back(uint8_t(0x80 + std::rand() % 0x40));
            } else {
                data.push_back(uint8_t('a' + std::rand() % 26));
            }
        }
        data.resize(c.nSize);
        CFileTextView view;
        view.SetFileInfo(WriteFile(dir, "r", data), "r");
        view.Init();
        const QVector<uint32_t>& got = view.LineStarts();
        EXPECT_EQ(std::vector<uint32_t>(got.begin(), got.end()), ReferenceLineStarts(data)) << c.nSize;
    }
}

TEST(TextView, PageText)
{
    rvdtest::CTempDir dir;
    CFileTextView view;
    view.SetFileInfo(WriteFile(dir, "ab", Bytes("a\nb\tc")), "ab");
    view.Init();
    view.SetLinesPerPage(10);
    EXPECT_EQ(view.BuildPage(0), QString("a \nb c\n"));
}

TEST(TextView, OversizeFileIsRefusedAndShowsNothing)
{
    rvdtest::CTempDir dir;
    const std::string strPath = dir.File("huge");
    {
        FILE* f = std::fopen(strPath.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(::ftruncate(fileno(f), static_cast<off_t>(CFileTextView::kMaxFileSize + 1)), 0);
        std::fclose(f);
    }
    QTextEdit edit;
    QScrollBar bar;
    edit.setPlainText("stale");
    CFileTextView view;
    view.SetFileInfo(QString::fromStdString(strPath), "huge");
    EXPECT_FALSE(view.LoadFile());
    view.SetWidgets(&edit, &bar);
    view.Init();
    EXPECT_EQ(view.LineCount(), 0u);
    EXPECT_TRUE(edit.toPlainText().isEmpty());
}

} // namespace
