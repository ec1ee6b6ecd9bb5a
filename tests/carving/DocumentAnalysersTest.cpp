// The compound-file and document analysers: OLE sizes and application names, PDF and RTF ends,
// the Access page walk and the header-sized formats.
#include <gtest/gtest.h>

#include "AnalyserTestSupport.h"
#include "DocumentAnalysers.h"

namespace {

const uint32_t OLE_FREE = 0xFFFFFFFF;
const uint32_t OLE_END = 0xFFFFFFFE;

// A compound file: header, one FAT sector (sector 0), one directory sector (sector 1) and data
// sectors up to nSectors in all. Names go into directory entries 0..3.
std::vector<uint8_t> MakeOle(const std::vector<std::u16string>& names, uint32_t nSectors, uint32_t nShift = 9)
{
    const size_t nBytes = size_t(1) << nShift;
    CBytes b((nSectors + 1) * nBytes);
    b.Bytes(0, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
    b.LE16(26, nShift == 12 ? 4 : 3).LE16(28, 0xFFFE).LE16(30, static_cast<uint16_t>(nShift)).LE16(32, 6);
    b.LE32(44, 1).LE32(48, 1).LE32(60, OLE_END).LE32(68, OLE_END);
    for (int i = 0; i < 109; ++i)
        b.LE32(76 + 4 * i, i == 0 ? 0 : OLE_FREE);
    const size_t nFat = nBytes;
    for (size_t i = 0; i < nBytes / 4; ++i)
        b.LE32(nFat + 4 * i, OLE_FREE);
    b.LE32(nFat, 0xFFFFFFFD).LE32(nFat + 4, OLE_END);
    for (uint32_t s = 2; s < nSectors; ++s)
        b.LE32(nFat + 4 * s, s + 1 < nSectors ? s + 1 : OLE_END);
    const size_t nDir = 2 * nBytes;
    for (size_t e = 0; e < names.size() && e < 4; ++e) {
        for (size_t c = 0; c < names[e].size(); ++c)
            b.LE16(nDir + 128 * e + 2 * c, names[e][c]);
        b.LE16(nDir + 128 * e + 64, static_cast<uint16_t>(2 * names[e].size() + 2));
    }
    for (uint32_t s = 2; s < nSectors; ++s)
        b.Fill((s + 1) * nBytes, nBytes, static_cast<uint8_t>(s));
    return b.Get();
}

ANALYSER_RESULT AnalyseWithJunk(IRawFileAnalyser& analyser, std::vector<uint8_t> bytes, size_t nJunk = 2048)
{
    bytes.resize(bytes.size() + nJunk, 0x5A);
    return Analyse(analyser, bytes);
}

} // namespace

TEST(DocumentAnalysers, OleSizeComesFromTheAllocationTableAndTheNameFromTheDirectory)
{
    struct CASE {
        std::vector<std::u16string> names;
        int32_t nType;
        uint64_t ullExtra;
    } cases[] = {
        {{u"Root Entry", u"1Table", u"WordDocument"}, 21, 0},
        // Only entries 1 and 2 are looked at for a workbook.
        {{u"Root Entry", u"x", u"y", u"Workbook"}, 39, 0},
        {{u"Root Entry", u"Workbook"}, 67, 0},
        {{u"Root Entry", u"Current User", u"PowerPoint Document"}, 48, 0},
        {{u"Root Entry", u"VisioDocument"}, 62, 1024},
        {{u"Root Entry", u"PerfectOffice_MAIN", u"PerfectOffice_OBJECTS", u"\x0005SummaryInformation"}, 57, 0},
        {{u"Root Entry", u"Objects", u"Quill", u"Escher"}, 49, 0},
        {{u"Root Entry", u"\x0001" u"CompObj", u"   19", u"   29"}, 43, 0},
        {{u"Root Entry", u"PropData", u"Forms", u"Reports"}, 3, 0},
        {{u"Root Entry", u"Something else"}, 39, 0},
    };
    for (const CASE& c : cases) {
        FileOLEAnalyser analyser;
        const ANALYSER_RESULT r = AnalyseWithJunk(analyser, MakeOle(c.names, 7));
        EXPECT_TRUE(r.bSize);
        EXPECT_EQ(r.nType, c.nType) << std::string(c.names[1].begin(), c.names[1].end());
        EXPECT_EQ(r.ullSize, 8u * 512 + c.ullExtra);
    }
}

TEST(DocumentAnalysers, OleVersion4UsesItsSectorSize)
{
    FileOLEAnalyser analyser;
    const ANALYSER_RESULT r = AnalyseWithJunk(analyser, MakeOle({u"Root Entry", u"WordDocument"}, 5, 12), 8192);
    EXPECT_EQ(r.nType, 21);
    EXPECT_EQ(r.ullSize, 6u * 4096);
}

TEST(DocumentAnalysers, OleWithoutAllocationTableIsRefused)
{
    std::vector<uint8_t> bytes = MakeOle({u"Root Entry", u"WordDocument"}, 4);
    for (int i = 0; i < 109; ++i)
        rvd::StoreLE32(&bytes[76 + 4 * i], OLE_FREE);
    FileOLEAnalyser analyser;
    const ANALYSER_RESULT r = AnalyseWithJunk(analyser, bytes);
    EXPECT_TRUE(r.bHeader);
    EXPECT_FALSE(r.bSize);
    EXPECT_EQ(r.ullSize, 0u);
}

TEST(DocumentAnalysers, OleDifatChainThatTurnsBackIsNotFollowed)
{
    // A DIFAT sector (sector 5) lists one more FAT sector (6, all free) and links back to
    // sector 2: the walk stops there instead of looping.
    std::vector<uint8_t> bytes = MakeOle({u"Root Entry", u"Workbook"}, 8);
    CBytes b;
    b.Raw(0, bytes.data(), bytes.size());
    b.LE32(68, 5).LE32(72, 1);
    for (int i = 0; i < 128; ++i)
        b.LE32(6 * 512 + 4 * i, i == 0 ? 6 : (i == 127 ? 2 : OLE_FREE));
    for (int i = 0; i < 128; ++i)
        b.LE32(7 * 512 + 4 * i, OLE_FREE);
    FileOLEAnalyser analyser;
    const ANALYSER_RESULT r = AnalyseWithJunk(analyser, b.Get());
    EXPECT_TRUE(r.bSize);
    // Two FAT sectors, the last one empty: (2 - 1) x 128 + 0 sectors after the header.
    EXPECT_EQ(r.ullSize, 128u * 512 + 512);
}

TEST(DocumentAnalysers, PdfEndsAtItsLastSectionAndBeforeTheNextDocument)
{
    const std::string strBody = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\nxref\n0 1\ntrailer\n<<>>\n"
                                "startxref\n9\n%%EOF\n";
    const std::string strUpdate = "2 0 obj\n<< /Length 0 >>\nendobj\nxref\n0 1\ntrailer\n<< /Prev 9 >>\n"
                                  "startxref\n99\n%%EOF\r\n";
    struct CASE {
        std::string strFile;
        std::string strAfter;
        int32_t nType;
    } cases[] = {
        {strBody, "garbage after the end", 46},
        // An update written after the first end marker belongs to the document.
        {strBody + strUpdate, "\x01\x02\x03", 46},
        {strBody + "\n\nxref\n0 1\ntrailer\n<<>>\n%%EOF\n", "", 46},
        // A second document starts at its own header.
        {"%PDF-1.4\nno end marker\n", "%PDF-1.5\n%%EOF\n", 46},
        // Illustrator files go on past the marker while text follows it.
        {"%PDF-1.4\n%!PS-Adobe-3.0\n%%EOF\nmore PostScript\n%%EOF", "\x01\x01\x01", 5},
    };
    for (const CASE& c : cases) {
        FilePDFAnalyser analyser;
        CBytes b;
        b.Text(0, c.strFile + c.strAfter).Fill(b.Size(), 1024, 0);
        const ANALYSER_RESULT r = Analyse(analyser, b);
        EXPECT_EQ(r.nType, c.nType) << c.strFile;
        // An Illustrator file's length runs two bytes past its last marker's line.
        EXPECT_EQ(r.ullSize, c.strFile.size() + (c.nType == 5 ? 2 : 0)) << c.strFile;
    }
}

TEST(DocumentAnalysers, PdfWithoutEndMarkerRunsToTheLimit)
{
    CAnalyserSizeLimit limit(5000);
    FilePDFAnalyser analyser;
    CBytes b;
    b.Text(0, "%PDF-1.7\n").Fill(9, 8000, 'x');
    const ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, 5001u);
}

TEST(DocumentAnalysers, RtfFollowsBracesAndSkipsEscapedOnes)
{
    struct CASE {
        std::string strFile;
        uint64_t ullSize;
    } cases[] = {
        {"{\\rtf1{}}", 9},
        {"{\\rtf1\\ansi {\\b bold \\} brace} \\{ and \\\\}", 41},
        {"{\\rtf1 {unclosed", 16},  // the zero byte after the text ends it
    };
    for (const CASE& c : cases) {
        FileRTFAnalyser analyser;
        CBytes b;
        b.Text(0, c.strFile).Fill(b.Size(), 600, 0).Text(b.Size(), "}}}}");
        const ANALYSER_RESULT r = Analyse(analyser, b);
        EXPECT_EQ(r.nType, 56);
        EXPECT_EQ(r.ullSize, c.ullSize) << c.strFile;
    }
}

TEST(DocumentAnalysers, AccessDatabaseEndsAtTheFirstEmptyPage)
{
    const uint8_t jet[20] = {0, 1, 0, 0, 'S', 't', 'a', 'n', 'd', 'a', 'r', 'd', ' ', 'J', 'e', 't', ' ', 'D', 'B', 0};
    CBytes b;
    b.Raw(0, jet, 20);
    for (int page = 1; page < 4; ++page)
        b.Fill(page * 4096, 4096, 0x01);
    b.Fill(4 * 4096, 4096, 0x00).Fill(5 * 4096, 4096, 0x02);
    FileMDBAnalyser analyser;
    ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 37);
    EXPECT_EQ(r.ullSize, 16384u);
    b.Text(13, "ACE");
    r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 72);
}

TEST(DocumentAnalysers, HeaderSizedDocuments)
{
    struct CASE {
        const char* pszName;
        IRawFileAnalyser* pAnalyser;
        CBytes bytes;
        BOOL bMatch;
        int32_t nType;
        uint64_t ullSize;
    };
    FileWPDAnalyser wpd;
    FilePSTAnalyser pst;
    FileHLPAnalyser hlp;
    FileONEAnalyser one;
    FileMNYAnalyser mny;
    FileLowDocAnalyser lowDoc;
    const uint8_t wpdSig[4] = {0xFF, 0x57, 0x50, 0x43};
    CASE cases[] = {
        {"wpd", &wpd, CBytes().Raw(0, wpdSig, 4).Bytes(8, {1, 0x0A, 2, 1}).Bytes(14, {0, 2, 5, 0}).LE32(20, 7777), TRUE, 64, 7777},
        {"wpg", &wpd, CBytes().Raw(0, wpdSig, 4).Bytes(8, {1, 0x16, 2, 0}).Bytes(14, {0, 0, 3, 0}).LE32(20, 100), TRUE, 65, 100},
        {"wpd?", &wpd, CBytes().Raw(0, wpdSig, 4).Bytes(8, {1, 0x0A, 2, 2}).Bytes(14, {0, 2, 5, 0}), FALSE, 0, 0},
        {"pst ansi", &pst, CBytes().Text(0, "!BDN").Bytes(10, {14}).LE32(168, 271360), TRUE, 52, 271360},
        {"pst unicode", &pst, CBytes().Text(0, "!BDN").Bytes(10, {23}).LE32(184, 265216), TRUE, 52, 265216},
        {"pst other", &pst, CBytes().Text(0, "!BDN").Bytes(10, {15}), TRUE, 52, 0x100000},
        {"hlp", &hlp, CBytes().Bytes(0, {0x3F, 0x5F, 3, 0}).LE32(4, 16).LE32(12, 9000), TRUE, 30, 9000},
        {"hlp small", &hlp, CBytes().Bytes(0, {0x3F, 0x5F, 3, 0}).LE32(4, 16).LE32(12, 511), FALSE, 0, 0},
        {"one", &one, CBytes().Bytes(0, {0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D, 0xAE, 0xB1, 0x53, 0x78,
                                          0xD0, 0x29, 0x96, 0xD3}), TRUE, 45, 0x100000},
        {"mny", &mny, CBytes().Text(4, "MSISAM Database"), TRUE, 38, 0x100000},
        {"word 6", &lowDoc, CBytes().Bytes(0, {0x94, 0xA6, 0x2E, 0}).LE32(292, 1000).LE16(296, 30), TRUE, 21, 1536},
        {"compound", &lowDoc, CBytes().Bytes(0, {0xD0, 0xCF, 0x11, 0xE0}).LE32(48, 3), TRUE, 21, 4096},
    };
    for (CASE& c : cases) {
        c.bytes.Grow(1024);
        const ANALYSER_RESULT r = Analyse(*c.pAnalyser, c.bytes);
        EXPECT_EQ(r.bHeader, c.bMatch) << c.pszName;
        if (c.bMatch) {
            EXPECT_EQ(r.nType, c.nType) << c.pszName;
            EXPECT_EQ(r.ullSize, c.ullSize) << c.pszName;
        }
    }
}
