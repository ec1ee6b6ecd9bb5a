// The audio and video analysers: the MP3 frame walk and its tags, QuickTime and MP4 atoms, the
// RIFF family's names and MIDI tracks.
#include <gtest/gtest.h>

#include "AnalyserTestSupport.h"
#include "AudioVideoAnalysers.h"

namespace {

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, no padding: 417 bytes per frame.
const uint32_t FRAME_HEADER = 0xFFFB9064;
const size_t FRAME_BYTES = 417;

size_t Id3Tag(CBytes& b, uint8_t nVersion, uint32_t nSize)
{
    b.Text(0, "ID3").Bytes(3, {nVersion, 0, 0});
    b.Bytes(6, {uint8_t((nSize >> 21) & 0x7F), uint8_t((nSize >> 14) & 0x7F), uint8_t((nSize >> 7) & 0x7F),
                uint8_t(nSize & 0x7F)});
    b.Text(10, "TIT2");
    return 10 + nSize;
}

size_t Frames(CBytes& b, size_t nAt, int nFrames)
{
    for (int i = 0; i < nFrames; ++i) {
        b.BE32(nAt, FRAME_HEADER).Fill(nAt + 4, FRAME_BYTES - 4, 0x11);
        nAt += FRAME_BYTES;
    }
    return nAt;
}

} // namespace

TEST(AudioVideoAnalysers, Mp3WalksFramesAndKeepsTheTrailingTag)
{
    FileMP3Analyser analyser;
    // Tag, 3 frames, one stray byte, 2 frames, a 128-byte ID3v1 tag, then other data.
    CBytes b;
    size_t nPos = Frames(b, Id3Tag(b, 4, 200), 3);
    b.Bytes(nPos, {0x00});
    nPos = Frames(b, nPos + 1, 2);
    b.Text(nPos, "TAG").Fill(nPos + 3, 125, 'x');
    const size_t nEnd = nPos + 128;
    b.Fill(nEnd, 2048, 0x33);
    ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 41);
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, nEnd);

    // Two stray bytes end the walk one byte past the last frame.
    CBytes two;
    nPos = Frames(two, Id3Tag(two, 3, 50), 2);
    two.Bytes(nPos, {0x00, 0x00});
    Frames(two, nPos + 2, 2);
    two.Fill(two.Size(), 1024, 0x33);
    EXPECT_EQ(Analyse(analyser, two).ullSize, nPos + 1);

    // 600 zeros after the tag: the padding skip gives up after 512 and no frame is walked.
    CBytes padded;
    const size_t nTag = Id3Tag(padded, 4, 20);
    padded.Fill(nTag, 600, 0);
    Frames(padded, nTag + 600, 2);
    EXPECT_EQ(Analyse(analyser, padded).ullSize, nTag + 512);

    // ID3 version 2 tags are refused.
    CBytes old;
    Frames(old, Id3Tag(old, 2, 20), 2);
    r = Analyse(analyser, old);
    EXPECT_TRUE(r.bHeader);
    EXPECT_FALSE(r.bSize);
}

TEST(AudioVideoAnalysers, QuickTimeAtomsAreWalkedUntilAnUnknownOne)
{
    FileMOVAnalyser analyser;
    CBytes b;
    b.BE32(0, 1000).Text(4, "mdat").BE32(1000, 300).Text(1004, "moov").BE32(1300, 24).Text(1304, "ftyp");
    b.Fill(1324, 1024, 0x44);
    const ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 40);
    EXPECT_EQ(r.ullSize, 1300u);
}

TEST(AudioVideoAnalysers, Mp4IsMeasuredByItsTopLevelAtoms)
{
    FileMP4Analyser analyser;
    CBytes b;
    b.BE32(0, 24).Text(4, "ftypisom").BE32(24, 8).Text(28, "free").BE32(32, 2000).Text(36, "mdat");
    b.BE32(2032, 500).Text(2036, "moov").BE32(2532, 100).Text(2536, "junk").Fill(2636, 1024, 0);
    const ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 42);
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, 2532u);
}

TEST(AudioVideoAnalysers, RiffFormsAreNamed)
{
    struct CASE {
        const char* pszForm;
        const char* pszChunk;
        int32_t nType;
    } cases[] = {
        {"WAVE", "fmt ", 63}, {"wave", "FMT ", 63}, {"AVI ", "LIST", 8}, {"ACON", "anih", 4}, {"ACON", "LIST", 4},
        {"CARC", "vrsn", 13}, {"CSL2", "vrsn", 17}, {"CDR9", "vrsn", 11}, {"cdrc", "VRSN", 11},
        {"XYZW", "vrsn", 55}, {"WAVE", "data", 55},
    };
    for (const CASE& c : cases) {
        FileRIFFAnalyser analyser;
        CBytes b;
        b.Text(0, "RIFF").LE32(4, 1000).Text(8, c.pszForm).Text(12, c.pszChunk).Grow(1024);
        const ANALYSER_RESULT r = Analyse(analyser, b);
        EXPECT_EQ(r.nType, c.nType) << c.pszForm << "/" << c.pszChunk;
        EXPECT_EQ(r.ullSize, 1008u);
    }
    FileRIFFAnalyser analyser;
    CBytes cmx;
    cmx.Text(0, "RIFF").LE32(4, 0xFFFFFFFF).Text(8, "CMX1").Text(20, "{Corel Binary Meta File}").Grow(512);
    const ANALYSER_RESULT r = Analyse(analyser, cmx);
    EXPECT_EQ(r.nType, 14);
    EXPECT_EQ(r.ullSize, 0xFFFFFFFFull + 8);
}

TEST(AudioVideoAnalysers, MidiTracksAreWalked)
{
    FileMIDAnalyser analyser;
    CBytes b;
    b.Text(0, "MThd").BE32(4, 6).BE16(8, 1).BE16(10, 2).BE16(12, 96);
    b.Text(14, "MTrk").BE32(18, 100).Fill(22, 100, 0x90);
    b.Text(122, "MTrk").BE32(126, 50).Fill(130, 50, 0x80);
    b.Fill(180, 1024, 0x01);
    ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 36);
    EXPECT_EQ(r.ullSize, 180u);
    b.BE16(8, 3);
    r = Analyse(analyser, b);
    EXPECT_FALSE(r.bHeader);
}

TEST(AudioVideoAnalysers, FlashGivesItsLengthInTheHeader)
{
    FileSWFAnalyser analyser;
    CBytes b;
    b.Text(0, "CWS").Bytes(3, {10}).LE32(4, 123456).Grow(512);
    const ANALYSER_RESULT r = Analyse(analyser, b);
    EXPECT_EQ(r.nType, 58);
    EXPECT_EQ(r.ullSize, 123456u);
}
