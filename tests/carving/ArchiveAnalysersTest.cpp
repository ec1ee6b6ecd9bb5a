// The archive analysers: where ZIP, RAR, GZIP, LZH and TAR files end, and how ZIP packages are
// told from plain archives.
#include <gtest/gtest.h>

#include "AnalyserTestSupport.h"
#include "ArchiveAnalysers.h"

namespace {

// A stored ZIP entry: local header, name and data.
void ZipLocal(CBytes& b, size_t nAt, const std::string& strName, size_t nData)
{
    b.LE32(nAt, 0x04034B50).LE16(nAt + 4, 20).LE16(nAt + 8, 0).LE32(nAt + 18, static_cast<uint32_t>(nData))
        .LE32(nAt + 22, static_cast<uint32_t>(nData)).LE16(nAt + 26, static_cast<uint16_t>(strName.size()))
        .Text(nAt + 30, strName).Fill(nAt + 30 + strName.size(), nData, 'd');
}

size_t ZipCentral(CBytes& b, size_t nAt, const std::string& strName, uint16_t nExtra, uint16_t nComment)
{
    b.LE32(nAt, 0x02014B50).LE16(nAt + 28, static_cast<uint16_t>(strName.size())).LE16(nAt + 30, nExtra)
        .LE16(nAt + 32, nComment).Text(nAt + 46, strName).Fill(nAt + 46 + strName.size(), nExtra + nComment, 'c');
    return 46 + strName.size() + nExtra + nComment;
}

size_t ZipEnd(CBytes& b, size_t nAt, const std::string& strComment)
{
    b.LE32(nAt, 0x06054B50).LE16(nAt + 20, static_cast<uint16_t>(strComment.size())).Text(nAt + 22, strComment);
    return 22 + strComment.size();
}

// A ZIP of the given entries (each with 100 bytes of data) and its directory; returns its length.
size_t MakeZip(CBytes& b, size_t nAt, const std::vector<std::string>& names, const std::string& strComment = "")
{
    size_t nPos = nAt;
    for (const std::string& strName : names) {
        ZipLocal(b, nPos, strName, 100);
        nPos += 30 + strName.size() + 100;
    }
    for (const std::string& strName : names)
        nPos += ZipCentral(b, nPos, strName, 4, 3);
    nPos += ZipEnd(b, nPos, strComment);
    return nPos - nAt;
}

} // namespace

TEST(ArchiveAnalysers, ZipEndsAfterItsEndRecordAndComment)
{
    CBytes b;
    const size_t nLength = MakeZip(b, 0, {"a.txt", "b/c.txt"}, "comment");
    // A second archive written right behind the first is not part of it.
    MakeZip(b, nLength, {"other.txt"});
    b.Fill(b.Size(), 4096, 0);
    FileZIPAnalyser analyser;
    const ANALYSER_RESULT r = Analyse(analyser, b);
    ASSERT_TRUE(r.bHeader);
    ASSERT_TRUE(r.bSize);
    EXPECT_EQ(r.nType, 68);
    EXPECT_EQ(r.ullSize, nLength);
}

TEST(ArchiveAnalysers, ZipPackagesAreNamedByTheirRelationshipPart)
{
    struct CASE {
        std::vector<std::string> names;
        int32_t nType;
    } cases[] = {
        {{"[Content_Types].xml", "_rels/.rels", "word/_rels/document.xml.rels", "word/document.xml"}, 69},
        {{"[Content_Types].xml", "xl/_rels/workbook.xml.rels"}, 70},
        {{"[Content_Types].xml", "ppt/_rels/presentation.xml.rels"}, 71},
        // Only a package whose first entry is the content-types part can be a document.
        {{"readme.txt", "[Content_Types].xml", "word/_rels/document.xml.rels"}, 68},
        {{"[Content_Types].xml", "word/document.xml"}, 68},
    };
    for (const CASE& c : cases) {
        CBytes b;
        const size_t nLength = MakeZip(b, 0, c.names);
        b.Fill(b.Size(), 1024, 0);
        FileZIPAnalyser analyser;
        const ANALYSER_RESULT r = Analyse(analyser, b);
        EXPECT_EQ(r.nType, c.nType) << c.names[0] << " " << c.names.back();
        EXPECT_EQ(r.ullSize, nLength);
    }
}

TEST(ArchiveAnalysers, ZipWalkStopsAtForeignBytesAndAtTheLimit)
{
    CBytes b;
    ZipLocal(b, 0, "only.bin", 300);
    b.Fill(b.Size(), 1000, 0x77);
    FileZIPAnalyser analyser;
    EXPECT_EQ(Analyse(analyser, b).ullSize, 30u + 8 + 300);

    // A compressed size that points far beyond the limit: the size never exceeds the limit.
    CBytes huge;
    ZipLocal(huge, 0, "big.bin", 10);
    huge.LE32(18, 0xFFFFFF00).Fill(huge.Size(), 2048, 0);
    CAnalyserSizeLimit limit(100000);
    EXPECT_EQ(Analyse(analyser, huge).ullSize, 100000u);
}

namespace {

const uint8_t RAR_END[7] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};

// Marker, archive header and one stored file block of nData bytes; returns the length.
size_t MakeRar(CBytes& b, size_t nData)
{
    b.Bytes(0, {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00});
    b.Bytes(7, {0xCF, 0x90, 0x73, 0x00, 0x00}).LE16(12, 13);  // archive header, 13 bytes
    const size_t nFile = 20;
    const std::string strName = "file.txt";
    const uint16_t nHeadSize = static_cast<uint16_t>(32 + strName.size());
    b.Bytes(nFile, {0x00, 0x00, 0x74, 0x00, 0x80}).LE16(nFile + 5, nHeadSize);
    b.LE32(nFile + 7, static_cast<uint32_t>(nData)).LE32(nFile + 11, static_cast<uint32_t>(nData));
    b.Bytes(nFile + 15, {2}).LE16(nFile + 26, static_cast<uint16_t>(strName.size())).Text(nFile + 32, strName);
    b.Fill(nFile + nHeadSize, nData, 'r');
    return nFile + nHeadSize + nData;
}

} // namespace

TEST(ArchiveAnalysers, RarIncludesItsEndBlockAndSurvivesTheDeviceEnd)
{
    FileRARAnalyser analyser;
    CBytes withEnd;
    const size_t nLength = MakeRar(withEnd, 700);
    withEnd.Raw(nLength, RAR_END, 7).Fill(nLength + 7, 1024, 0);
    ANALYSER_RESULT r = Analyse(analyser, withEnd);
    EXPECT_EQ(r.nType, 54);
    EXPECT_EQ(r.ullSize, nLength + 7);

    CBytes withoutEnd;
    MakeRar(withoutEnd, 700);
    withoutEnd.Fill(nLength, 1024, 0);
    EXPECT_EQ(Analyse(analyser, withoutEnd).ullSize, nLength);

    // The end block is the device's last 7 bytes: it is found and counted.
    CBytes endsDevice;
    const size_t nBlocks = MakeRar(endsDevice, 1024 - 60 - 7);
    endsDevice.Raw(nBlocks, RAR_END, 7);
    ASSERT_EQ(endsDevice.Size(), 1024u);
    r = Analyse(analyser, endsDevice);
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, 1024u);

    // The device ends right after the file block: nothing is read beyond it, and the walk fails
    // rather than guess.
    CBytes cut;
    MakeRar(cut, 1024 - 60);
    r = Analyse(analyser, cut);
    EXPECT_FALSE(r.bSize);
    EXPECT_EQ(r.ullSize, 0u);
}

TEST(ArchiveAnalysers, GzipIsTakenToTheLimit)
{
    CAnalyserSizeLimit limit(123456);
    FileGZAnalyser analyser;
    CBytes b;
    b.Bytes(0, {0x1F, 0x8B, 0x08}).Fill(3, 509, 1);
    const ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 29);
    EXPECT_EQ(r.ullSize, 123456u);
}

TEST(ArchiveAnalysers, LzhMembersAreWalkedWithoutWrapping)
{
    FileLZHAnalyser analyser;
    CBytes b;
    // Member 1: header size byte 0xA0, 100 compressed bytes; member 2: "-lh0-", 50 bytes.
    b.Bytes(0, {0xA0, 0x00}).Text(2, "-lh5-").LE32(7, 100);
    const size_t n2 = 2 + 0xA0 + 100;
    b.Bytes(n2, {0x20, 0x00}).Text(n2 + 2, "-lh0-").LE32(n2 + 7, 50);
    const size_t nEnd = n2 + 2 + 0x20 + 50;
    b.Fill(nEnd, 1024, 0x11);
    ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 34);
    EXPECT_EQ(r.ullSize, nEnd);
    // The end mark (a zero header size) is part of the archive.
    b.Bytes(nEnd, {0x00});
    EXPECT_EQ(Analyse(analyser, b).ullSize, nEnd + 1);

    // A compressed size near 4 GiB would wrap a 32-bit position back to the start and loop.
    CAnalyserSizeLimit limit(50000000);
    CBytes wrap;
    wrap.Bytes(0, {0x1E, 0x00}).Text(2, "-lh5-").LE32(7, 0xFFFFFFE0).Fill(32, 1024, 0);
    r = Analyse(analyser, wrap);
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, 50000000u);
}

namespace {

void TarHeader(CBytes& b, size_t nAt, const std::string& strName, uint64_t ullSize, char chType = '0')
{
    char szSize[13];
    snprintf(szSize, sizeof(szSize), "%011llo", static_cast<unsigned long long>(ullSize));
    b.Text(nAt, strName).Text(nAt + 124, std::string(szSize, 12)).Raw(nAt + 156, &chType, 1)
        .Text(nAt + 257, std::string("ustar\0" "00", 8));
}

} // namespace

TEST(ArchiveAnalysers, TarRunsPastEmptyMembersToItsEndBlock)
{
    FileTARAnalyser analyser;
    CBytes b;
    TarHeader(b, 0, "dir/", 0, '5');
    TarHeader(b, 512, "dir/a.txt", 700);
    b.Fill(1024, 700, 'a');
    TarHeader(b, 1024 + 1024, "dir/empty", 0);
    TarHeader(b, 2560, "dir/b.txt", 10);
    b.Fill(3072, 10, 'b');
    b.Fill(3584, 1024, 0);  // the end blocks
    b.Fill(b.Size(), 1024, 0x55);
    const ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 59);
    // The directory and the empty file do not end the archive; the first end block does.
    EXPECT_EQ(r.ullSize, 3584u + 512);

    // A member whose stated size runs beyond the limit is cut at the limit.
    CAnalyserSizeLimit limit(20000);
    CBytes big;
    TarHeader(big, 0, "big", 077777777777ull);
    big.Fill(512, 1024, 0);
    EXPECT_EQ(Analyse(analyser, big).ullSize, 20000u);
}

TEST(ArchiveAnalysers, TarOctalSizeReadsElevenDigits)
{
    EXPECT_EQ(ParseTarOctal(reinterpret_cast<const uint8_t*>("00000001750 ")), 1000u);
    EXPECT_EQ(ParseTarOctal(reinterpret_cast<const uint8_t*>("77777777777\0")), 077777777777ull);
    // Blanks (and any other character) count as 0, the twelfth character is not read.
    EXPECT_EQ(ParseTarOctal(reinterpret_cast<const uint8_t*>("     1750  7")), 01750ull << 6);
}
