// The web page and font analysers: which sectors start an HTML page, where single-byte and UTF-16
// pages end, and TrueType table directories.
#include <gtest/gtest.h>

#include "AnalyserTestSupport.h"
#include "WebFontAnalysers.h"

TEST(WebFontAnalysers, HtmlPagesAreRecognisedByTheirFirstTag)
{
    struct CASE {
        std::string strStart;
        BOOL bMatch;
    } cases[] = {
        {"<HTML><body>", TRUE},
        {"<html>", TRUE},
        {"<!doctype html>", TRUE},
        {"<!-- a comment -->\n<Html lang=\"en\">", FALSE},  // "<HTML" followed by a blank is no "<HTML>"
        {"<!-- a comment -->\n<hTmL>", TRUE},
        {"<!--" + std::string(500, ' ') + "<html>", TRUE},   // tag at 504
        {"<!--" + std::string(501, ' ') + "<html>", FALSE},  // tag at 505
        {"<p>no page</p><html>", FALSE},
    };
    for (const CASE& c : cases) {
        FileHTMAnalyser analyser;
        CBytes b;
        b.Text(0, c.strStart).Grow(512);
        CRawFileInfo info;
        EXPECT_EQ(analyser.AnalyzeFileHeader(b.Get().data(), &info), c.bMatch) << c.strStart;
    }
}

TEST(WebFontAnalysers, HtmlEndsAfterItsClosingTagOrAtOneMebibyte)
{
    FileHTMAnalyser analyser;
    CBytes b;
    const std::string strPage = "<html><body>text</BODY></hTml>";
    b.Text(0, strPage).Text(strPage.size(), "\n<html>next</html>").Grow(1024);
    EXPECT_EQ(Analyse(analyser, b).ullSize, strPage.size());

    // Without a closing tag the page is 1 MiB and one byte, whatever the carved-size limit.
    CAnalyserSizeLimit limit(4096);
    CBytes open;
    open.Text(0, "<html>").Fill(6, 0x101000, 'a');
    EXPECT_EQ(Analyse(analyser, open).ullSize, 0x100001u);
}

namespace {

CBytes Utf16(const std::string& str)
{
    CBytes b;
    b.Bytes(0, {0xFF, 0xFE});
    for (size_t i = 0; i < str.size(); ++i)
        b.LE16(2 + 2 * i, static_cast<uint8_t>(str[i]));
    return b;
}

} // namespace

TEST(WebFontAnalysers, Utf16PagesEndAfterTheirClosingTagOrBeforeTheNextFile)
{
    FileUnicodeHTMAnalyser analyser;
    const std::string strPage = "<HTML><body>wide text</body></html>\r\n";
    CBytes b = Utf16(strPage);
    const size_t nPage = b.Size();
    b.Append(Utf16("<html>next page</html>").Get()).Grow(b.Size() + 512);
    ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 31);
    EXPECT_EQ(r.ullSize, nPage);

    // The hit is measured again later through the first analyser of its type number, the
    // single-byte one: it measures a UTF-16 page the same way.
    {
        std::vector<uint8_t> disk(3 * 512, 0xEE);
        disk.insert(disk.end(), b.Get().begin(), b.Get().end());
        CCarvingMemoryDevice device(disk);
        CRawFileInfo info;
        info.SetStartSector(3);
        FileHTMAnalyser html;
        EXPECT_TRUE(html.AnalyzeFileSize(&info, &device));
        EXPECT_EQ(info.GetSize(), nPage);
    }

    // No closing tag: the page ends where the next file's byte-order mark starts.
    CBytes cut = Utf16("<!DOCTYPE html><html><p>unclosed");
    const size_t nCut = cut.Size();
    cut.Append(Utf16("<html>other</html>").Get()).Grow(cut.Size() + 512);
    r = Analyse(analyser, cut);
    EXPECT_EQ(r.ullSize, nCut);

    // A page that never names its <html> tag in the first sector is refused.
    CBytes none = Utf16("<body>no tag</body>");
    none.Grow(1024);
    r = Analyse(analyser, none);
    EXPECT_TRUE(r.bHeader);
    EXPECT_FALSE(r.bSize);
}

namespace {

CBytes Font(int nTables, int nUnknown, uint32_t nLength)
{
    static const char* const known[] = {"cmap", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "name",
                                        "post", "OS/2", "cvt ", "fpgm", "gasp", "prep", "kern", "DSIG",
                                        "EBDT", "EBLC", "EBSC", "hdmx", "LTSH", "PCLT", "VDMX", "vhea",
                                        "vmtx", "cmap", "glyf", "head", "hhea", "hmtx", "loca", "maxp"};
    CBytes b;
    b.Bytes(0, {0, 1, 0, 0}).BE16(4, static_cast<uint16_t>(nTables));
    for (int i = 0; i < nTables; ++i) {
        const size_t nAt = 12 + 16 * i;
        b.Text(nAt, i < nUnknown ? "GSUB" : known[i]).BE32(nAt + 8, 1000).BE32(nAt + 12, nLength);
    }
    b.Grow(512);
    return b;
}

} // namespace

TEST(WebFontAnalysers, TrueTypeNeedsMostlyKnownTables)
{
    struct CASE {
        int nTables, nUnknown;
        uint32_t nLength;
        BOOL bMatch;
        uint64_t ullSize;
    } cases[] = {
        {10, 6, 10, FALSE, 0},
        {10, 5, 10, TRUE, 12 + 160 + 10 * 12},
        {31, 0, 3, TRUE, 12 + 16 * 31 + 31 * 4},
        {32, 0, 4, FALSE, 0},
        {0, 0, 4, FALSE, 0},
        // Lengths near 4 GiB add up past 32 bits.
        {3, 0, 0xFFFFFFF0, TRUE, 12 + 48 + 3ull * 0xFFFFFFF0},
    };
    for (const CASE& c : cases) {
        FileTTFAnalyser analyser;
        const ANALYSER_RESULT r = Analyse(analyser, Font(c.nTables, c.nUnknown, c.nLength));
        EXPECT_EQ(r.bHeader, c.bMatch) << c.nTables << " " << c.nUnknown;
        if (c.bMatch) {
            EXPECT_EQ(r.nType, 61);
            EXPECT_EQ(r.ullSize, c.ullSize) << c.nTables << " " << c.nUnknown;
        }
    }
}
