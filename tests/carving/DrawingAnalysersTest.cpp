// The image, drawing and media analysers: GIF block walk, trailer and sentinel searches, block
// tables and object walks, and the header-sized formats.
#include <gtest/gtest.h>

#include "AnalyserTestSupport.h"
#include "DrawingAnalysers.h"

namespace {

// A GIF: screen descriptor with a 256-entry global colour table, a graphic control extension,
// one image of two data sub-blocks, optionally a comment after it, and the trailer.
size_t MakeGif(CBytes& b, bool bCommentLast)
{
    b.Text(0, "GIF89a").LE16(6, 16).LE16(8, 16).Bytes(10, {0xF7, 0, 0});
    size_t n = 13 + 768;
    b.Fill(13, 768, 0x2C);  // colour bytes that look like separators must not be taken as such
    b.Bytes(n, {0x21, 0xF9, 4, 1, 0, 0, 0, 0});
    n += 8;
    b.Bytes(n, {0x2C, 0, 0, 0, 0, 16, 0, 16, 0, 0x00, 8});
    n += 11;
    b.Bytes(n, {5, 1, 2, 3, 4, 5, 3, 0x3B, 0x3B, 0x3B, 0});
    n += 11;
    if (bCommentLast) {
        b.Bytes(n, {0x21, 0xFE, 3, 'a', 'b', 'c', 0});
        n += 7;
    }
    b.Bytes(n, {0x3B});
    return n + 1;
}

} // namespace

TEST(DrawingAnalysers, GifEndsAtItsTrailer)
{
    for (bool bComment : {false, true}) {
        CBytes b;
        const size_t nLength = MakeGif(b, bComment);
        // What follows holds an image separator within reach of the separator search.
        b.Bytes(nLength, {0x00, 0x2C, 0x2C}).Fill(nLength + 3, 1024, 0x21);
        FileGIFAnalyser analyser;
        const ANALYSER_RESULT r = Analyse(analyser, b);
        EXPECT_EQ(r.nType, 28);
        EXPECT_TRUE(r.bSize);
        EXPECT_EQ(r.ullSize, nLength) << bComment;
    }
}

TEST(DrawingAnalysers, HeaderTestsTable)
{
    File3DSAnalyser a3ds;
    FileAUAnalyser au;
    FileBMPAnalyser bmp;
    FileCABAnalyser cab;
    FileCHMAnalyser chm;
    FileDBXAnalyser dbx;
    FileEMFAnalyser emf;
    FileEPSAnalyser eps;
    const uint8_t chmGuid1[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11, 0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    const uint8_t chmGuid2[16] = {0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11, 0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    struct CASE {
        const char* pszName;
        IRawFileAnalyser* pAnalyser;
        CBytes bytes;
        BOOL bMatch;
        int32_t nType;
        uint64_t ullSize;
    } cases[] = {
        {"bmp 40", &bmp, CBytes().Text(0, "BM").LE32(2, 5000).LE32(14, 40), TRUE, 9, 5000},
        {"bmp 124", &bmp, CBytes().Text(0, "BM").LE32(2, 6000).LE32(14, 124), TRUE, 9, 6000},
        // A failed test after the signature leaves the type and a size of 0.
        {"bmp 108", &bmp, CBytes().Text(0, "BM").LE32(2, 5000).LE32(14, 108), FALSE, 9, 0},
        {"cab", &cab, CBytes().Text(0, "MSCF").LE32(8, 70000).LE16(24, 0x0103), TRUE, 10, 70000},
        {"cab 1.2", &cab, CBytes().Text(0, "MSCF").LE32(8, 70000).LE16(24, 0x0102), FALSE, 10, 0},
        {"au", &au, CBytes().Text(0, ".snd").BE32(4, 24).BE32(8, 8000), TRUE, 7, 8024},
        {"au 64-bit", &au, CBytes().Text(0, ".snd").BE32(4, 0xFFFFFF00).BE32(8, 0xFFFFFF00), TRUE, 7, 0x1FFFFFE00ull},
        {"au unknown size", &au, CBytes().Text(0, ".snd").BE32(4, 24).BE32(8, 0xFFFFFFFF), FALSE, 7, 0},
        {"emf", &emf, CBytes().LE32(0, 1).LE32(40, 0x464D4520).LE32(48, 3000), TRUE, 24, 3000},
        {"emf 58", &emf, CBytes().LE32(0, 1).LE32(40, 0x464D4520).LE32(48, 3000).LE16(58, 1), FALSE, 0, 0},
        {"eps tiff", &eps, CBytes().Bytes(0, {0xC5, 0xD0, 0xD3, 0xC6}).LE32(12, 0xF0000000).LE32(16, 0xF0000000)
                          .Bytes(28, {0xFF, 0xFF, 0, 0}), TRUE, 25, 0x1E0000000ull},
        {"eps ps", &eps, CBytes().Bytes(0, {0xC5, 0xD0, 0xD3, 0xC6}).LE32(4, 30).LE32(8, 900).Bytes(28, {0xFF, 0xFF, 'i', 'i'}),
         TRUE, 25, 930},
        {"eps other", &eps, CBytes().Bytes(0, {0xC5, 0xD0, 0xD3, 0xC6}).Bytes(28, {0xFF, 0xFF, 'M', 'M'}), FALSE, 0, 0},
        {"3ds", &a3ds, CBytes().LE16(0, 0x4D4D).LE32(2, 9000).LE16(16, 0x3D3D).LE32(18, 8000), TRUE, 1, 9000},
        {"3ds short", &a3ds, CBytes().LE16(0, 0x4D4D).LE32(2, 7000).LE16(16, 0x3D3D).LE32(18, 8000), FALSE, 1, 0},
        {"dbx", &dbx, CBytes().Bytes(0, {0xCF, 0xAD, 0x12, 0xFE, 0xC6, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11,
                                          0x9A, 0x4E, 0x00, 0xC0}).LE32(124, 77777), TRUE, 19, 77777},
        {"chm", &chm, CBytes().Text(0, "ITSF").LE32(8, 96).Raw(24, chmGuid1, 16).Raw(40, chmGuid2, 16)
                          .LE32(96, 0x1FE).LE64(104, 0x123456789ull), TRUE, 12, 0x123456789ull},
    };
    for (CASE& c : cases) {
        c.bytes.Grow(512);
        CRawFileInfo info;
        EXPECT_EQ(c.pAnalyser->AnalyzeFileHeader(c.bytes.Get().data(), &info), c.bMatch) << c.pszName;
        EXPECT_EQ(info.GetType(), c.nType) << c.pszName;
        EXPECT_EQ(info.GetSize(), c.ullSize) << c.pszName;
    }
}

TEST(DrawingAnalysers, FooterSearchesEndFreehandAndDxf)
{
    FileDXFAnalyser dxf;
    CBytes b;
    const std::string strDxf = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  0\r\nENDSEC\r\n  0\r\nEOF\r\n";
    b.Text(0, strDxf).Fill(strDxf.size(), 1024, 'z');
    EXPECT_EQ(Analyse(dxf, b).ullSize, strDxf.size());

    FileFH11Analyser fh;
    CBytes f;
    f.Bytes(0, {0x1C, 0x01, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C, 0x01, 0x14, 0x00, 0x02, 0x00, 0x14, 0x1C, 0x01});
    f.Text(34, "11").Fill(36, 2000, 0x10).Text(2036, "Decode").Bytes(2042, {0, 0xFF, 0xFF, 0xFF, 0xFF});
    f.Fill(2047, 1024, 0);
    const ANALYSER_RESULT r = Analyse(fh, f);
    EXPECT_EQ(r.nType, 27);
    EXPECT_EQ(r.ullSize, 2047u);
}

TEST(DrawingAnalysers, DwgIsMeasuredByVersion)
{
    const uint8_t sentinel[16] = {0x1F, 0x25, 0x6D, 0x07, 0xD4, 0x36, 0x28, 0x28, 0x9D, 0x57, 0xCA, 0x3F, 0x9D, 0x44, 0x10, 0x2B};
    FileDWGAnalyser analyser;
    CBytes r2000;
    r2000.Text(0, "AC1015").LE32(13, 0x200).LE32(21, 3);
    r2000.Bytes(25, {0}).LE32(26, 0x300).LE32(30, 0x1000);
    r2000.Bytes(34, {1}).LE32(35, 0x5000).LE32(39, 0x800);
    r2000.Bytes(43, {2}).LE32(44, 0x1300).LE32(48, 0x10);
    r2000.Raw(0x200, sentinel, 16).Fill(0x210, 0x6000, 0x01);
    ANALYSER_RESULT r = Analyse(analyser, r2000);
    EXPECT_EQ(r.nType, 22);
    EXPECT_EQ(r.ullSize, 0x5800u);

    const uint8_t sentinel2004[16] = {0x68, 0x40, 0xF8, 0xF7, 0x92, 0x2A, 0xB5, 0xEF, 0x18, 0xDD, 0x0B, 0xF1, 0xF1, 0xBB, 0xE9, 0xEB};
    CBytes r2004;
    r2004.Text(0, "AC1018").Raw(128, sentinel2004, 16).Fill(144, 3000, 0x02).Raw(3144, sentinel2004, 16);
    r2004.Fill(3160, 1024, 0x03);
    EXPECT_EQ(Analyse(analyser, r2004).ullSize, 3144u + 108);

    CBytes r12;
    r12.Text(0, "AC1009").Fill(8, 2000, 1);
    r = Analyse(analyser, r12);
    EXPECT_TRUE(r.bHeader);
    EXPECT_FALSE(r.bSize);
    EXPECT_EQ(r.ullSize, 0u);
}

TEST(DrawingAnalysers, CanonRawEndsBeforeItsTrailerTexts)
{
    FileCRWAnalyser analyser;
    CBytes b;
    b.Bytes(0, {0x49, 0x49, 0x1A, 0x00, 0x00, 0x00, 0x48, 0x45, 0x41, 0x50, 0x43, 0x43, 0x44, 0x52, 0x02, 0x00});
    b.Fill(16, 2000, 0x48);
    b.Text(1000, "High definition CCD image").Text(1032, "CRW:High definition CCD image");
    b.Text(1122, "Canon").Text(1128, "Canon PowerShot G2");
    b.Fill(2016, 1024, 0);
    ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 16);
    EXPECT_EQ(r.ullSize, 1024u);
    // Without the texts the search meets the device's end and gives up.
    CBytes plain;
    plain.Raw(0, b.Get().data(), 16).Fill(16, 4000, 0x48);
    r = Analyse(analyser, plain);
    EXPECT_FALSE(r.bSize);
}

TEST(DrawingAnalysers, CorelPhotoPaintBlockTable)
{
    FileCPTAnalyser analyser;
    // Table at 316 with 2 entries; the last entry's block starts at 2000; that block's word at
    // 60 points to A = 3000, and the file ends at (u32 at A-8) + (u32 at A-4).
    CBytes b;
    b.Text(0, "CPT9FILE").LE32(40, 2).LE32(52, 316).LE32(316, 1000).LE32(324, 2000);
    b.LE32(2060, 3000).LE32(2064, 7).LE32(2992, 5000).LE32(2996, 1234).Fill(3000, 7000, 0x01);
    ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 15);
    EXPECT_EQ(r.ullSize, 6234u);
    // A table without entries, and pointers beyond the limit, are refused.
    b.LE32(40, 0);
    EXPECT_FALSE(Analyse(analyser, b).bSize);
    b.LE32(40, 2).LE32(324, 0xFFFFFF00);
    CAnalyserSizeLimit limit(1000000);
    EXPECT_FALSE(Analyse(analyser, b).bSize);
}

namespace {

const uint8_t ASF_HEADER[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t ASF_DATA[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t ASF_INDEX[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};

} // namespace

TEST(DrawingAnalysers, AsfObjectsAreWalkedAndCapped)
{
    FileASFAnalyser analyser;
    CBytes b;
    // The data object's header straddles a sector boundary.
    b.Raw(0, ASF_HEADER, 16).LE64(16, 500).Raw(500, ASF_DATA, 16).LE64(516, 1500).Raw(2000, ASF_INDEX, 16).LE64(2016, 100);
    b.Fill(2100, 1024, 0x0F);
    ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 6);
    EXPECT_EQ(r.ullSize, 2100u);
    // Without an index object the file ends after its data object.
    b.Fill(2000, 24, 0x0F);
    EXPECT_EQ(Analyse(analyser, b).ullSize, 2000u);
    // A data object size that would wrap the position is cut at the limit.
    CAnalyserSizeLimit limit(1 << 20);
    b.LE64(516, 0xFFFFFFFFFFFFFF00ull);
    r = Analyse(analyser, b);
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, 1u << 20);
}

TEST(DrawingAnalysers, ThreeGppIsMeasuredByItsAtoms)
{
    File3GPAnalyser analyser;
    CBytes b;
    b.BE32(0, 20).Text(4, "ftyp3gp4").BE32(20, 1000).Text(24, "mdat").BE32(1020, 300).Text(1024, "moov");
    b.Fill(1320, 1024, 0);
    const ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 2);
    EXPECT_EQ(r.ullSize, 1320u);
}
