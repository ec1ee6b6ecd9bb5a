// The image analysers on hand-built headers: the cases the ImageMagick samples do not reach.
#include <gtest/gtest.h>

#include "AnalyserTestSupport.h"
#include "ImageAnalysers.h"

namespace {

// A JPEG of the given start (E0 JFIF, E1 Exif, DB plain), a frame of nComponents components of
// width x height, a scan, nData bytes of entropy-coded data and (bEnd) an end marker.
CBytes Jpeg(uint8_t nApp, const char* pszId, uint8_t nSof, uint8_t nComponents, uint16_t nWidth, uint16_t nHeight,
            size_t nData, bool bEnd)
{
    CBytes b;
    b.Bytes(0, {0xFF, 0xD8, 0xFF, nApp});
    size_t pos = 2;
    if (nApp != 0xDB) {
        b.BE16(4, 16).Text(6, pszId);
        pos = 2 + 2 + 16;
    } else {
        b.BE16(4, 67);  // a quantisation table segment
        pos = 2 + 2 + 67;
    }
    b.Bytes(pos, {0xFF, nSof}).BE16(pos + 2, 8 + 3 * nComponents).Bytes(pos + 4, {8});
    b.BE16(pos + 5, nHeight).BE16(pos + 7, nWidth).Bytes(pos + 9, {nComponents});
    pos += 2 + 8 + 3 * nComponents;
    b.Bytes(pos, {0xFF, 0xDA}).BE16(pos + 2, 6 + 2 * nComponents).Bytes(pos + 4, {nComponents});
    pos += 2 + 6 + 2 * nComponents;
    b.Fill(pos, nData, 0x55);
    pos += nData;
    if (bEnd)
        b.Bytes(pos, {0xFF, 0xD9});
    return b;
}

} // namespace

TEST(ImageAnalysers, JpegWalks)
{
    FileJPGAnalyser jpg;
    // A progressive frame (C2) is a frame too.
    ANALYSER_RESULT r = Analyse(jpg, Jpeg(0xE0, "JFIF", 0xC2, 3, 64, 64, 1000, true));
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.nType, 33);
    EXPECT_EQ(r.ullSize, Jpeg(0xE0, "JFIF", 0xC2, 3, 64, 64, 1000, true).Size());
    // "jfif" in lower case takes the JFIF walk and fails its exact-case test.
    r = Analyse(jpg, Jpeg(0xE0, "jfif", 0xC0, 3, 16, 16, 100, true));
    EXPECT_TRUE(r.bHeader);
    EXPECT_FALSE(r.bSize);
    // A plain JPEG with a one-component frame is refused; the same frame in an Exif file is not.
    EXPECT_FALSE(Analyse(jpg, Jpeg(0xDB, "", 0xC0, 1, 16, 16, 100, true)).bSize);
    EXPECT_TRUE(Analyse(jpg, Jpeg(0xE1, "Exif", 0xC0, 1, 16, 16, 100, true)).bSize);
    // No end marker within width x height x 3 bytes: the scan start + width x height x 3 + 2.
    CBytes noEnd = Jpeg(0xE0, "JFIF", 0xC0, 3, 10, 10, 5000, false);
    r = Analyse(jpg, noEnd);
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, noEnd.Size() - 5000 + 300 + 2);
    // The end marker right at a window's end is found.
    CBytes wide = Jpeg(0xE0, "JFIF", 0xC0, 3, 1000, 1000, 0, false);
    const size_t nScanEnd = wide.Size();
    wide.Fill(nScanEnd, 0x80000 - 1 - nScanEnd, 0x55).Bytes(0x80000 - 1, {0xFF, 0xD9});
    r = Analyse(jpg, wide, 0);
    EXPECT_EQ(r.ullSize, 0x80000u + 1);
}

TEST(ImageAnalysers, PngChunks)
{
    FilePNGAnalyser png;
    auto Make = [](bool bData, uint32_t nBig) {
        CBytes b;
        b.Bytes(0, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}).BE32(8, 13).Text(12, "IHDR").BE32(16, 4).BE32(20, 4);
        size_t pos = 33;
        if (bData) {
            b.BE32(pos, 4).Text(pos + 4, "IDAT").Fill(pos + 8, 8, 1);
            pos += 16;
        }
        b.BE32(pos, nBig).Text(pos + 4, "tEXt");
        return std::make_pair(b, pos);
    };
    auto cut = Make(true, 0x1400001);
    ANALYSER_RESULT r = Analyse(png, cut.first);
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, cut.second);
    EXPECT_FALSE(Analyse(png, Make(false, 0x1400001).first).bSize);
}

TEST(ImageAnalysers, PsdPspAndTiff)
{
    FilePSDAnalyser psd;
    CBytes b;
    b.Text(0, "8BPS").BE16(4, 1).BE16(12, 3).BE32(14, 100).BE32(18, 100).BE16(22, 8).BE32(26, 0);
    b.BE32(30, 10).BE32(44, 6).BE16(54, 0).Fill(56, 30000, 7);
    ANALYSER_RESULT r = Analyse(psd, b);
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, 56u + 30000);

    FilePSPAnalyser psp;
    CBytes p;
    p.Text(0, "Paint Shop Pro Image File\n\x1a").LE16(32, 5);
    p.Text(36, std::string("~BK\0", 4)).LE32(42, 100);
    p.Text(146, std::string("~BK\0", 4)).LE32(152, 3000);
    r = Analyse(psp, p.Fill(156, 3000, 1));
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, 3156u);

    FileTIFAnalyser tif;
    // Little-endian: pixels at 8..1007, the directory after them, a value array after that.
    CBytes t;
    t.Text(0, "II").LE16(2, 42).LE32(4, 1008).Fill(8, 1000, 9);
    t.LE16(1008, 3);
    t.LE16(1010, 273).LE16(1012, 4).LE32(1014, 1).LE32(1018, 8);
    t.LE16(1022, 279).LE16(1024, 4).LE32(1026, 1).LE32(1030, 1000);
    t.LE16(1034, 282).LE16(1036, 5).LE32(1038, 1).LE32(1042, 1050);  // a rational after the IFD
    t.LE32(1046, 0).Fill(1050, 8, 1);
    r = Analyse(tif, t);
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, 1058u);
    // 513 entries: unknown length.
    CBytes many;
    many.Text(0, "MM").BE16(2, 42).BE32(4, 8).BE16(8, 513).Fill(10, 513 * 12 + 4, 0);
    r = Analyse(tif, many);
    EXPECT_EQ(r.ullSize, 0u);
}

TEST(ImageAnalysers, IconsAndMetafiles)
{
    FileICOAnalyser ico;
    CBytes c;
    c.LE16(2, 2).LE16(4, 1).Bytes(6, {32, 32, 0, 0}).LE16(10, 1).LE16(12, 1).LE32(14, 1000).LE32(18, 22);
    ANALYSER_RESULT r = Analyse(ico, c.Fill(22, 1000, 3));
    EXPECT_TRUE(r.bHeader);
    EXPECT_EQ(r.nType, 18);
    EXPECT_EQ(r.ullSize, 1022u);
    CBytes big;
    big.LE16(2, 1).LE16(4, 1).Bytes(6, {0, 0, 0, 0}).LE32(14, 1000).LE32(18, 22);
    EXPECT_FALSE(Analyse(ico, big.Fill(22, 1000, 3)).bHeader);  // a 256-pixel entry

    FileWMFAnalyser wmf;
    CBytes w;
    w.LE16(0, 1).LE16(2, 9).LE16(4, 0x300).LE32(6, 100);
    r = Analyse(wmf, w.Fill(18, 182, 1));
    EXPECT_TRUE(r.bHeader);
    EXPECT_EQ(r.ullSize, 200u);
    w.LE16(16, 1);
    EXPECT_FALSE(Analyse(wmf, w).bHeader);
    // A stated length above the carved-size limit is not believed.
    CAnalyserSizeLimit limit(100);
    w.LE16(16, 0);
    EXPECT_FALSE(Analyse(wmf, w).bHeader);
}
