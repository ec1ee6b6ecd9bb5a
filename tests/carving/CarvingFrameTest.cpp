// The carving frame: the ring of recent runs, the window reader, the shared format routines and
// the type tables.
#include <gtest/gtest.h>

#include <cstring>

#include "AnalyserTestSupport.h"
#include "BufferStorageDevice.h"
#include "CarvingFormatRoutines.h"
#include "CarvingRingView.h"
#include "CarvingTestSupport.h"
#include "EngineSettings.h"
#include "FileTypeId.h"
#include "GlobalAdvanceSettingData.h"
#include "RawFileInfo.h"
#include "SectorWindowReader.h"

namespace {

// Fills a chunk of nSectors sectors whose every byte names its sector (low byte of the number).
std::vector<uint8_t> NumberedChunk(uint64_t ullFirst, uint32_t nSectors)
{
    std::vector<uint8_t> chunk(nSectors * 512u);
    for (uint32_t s = 0; s < nSectors; ++s)
        memset(chunk.data() + s * 512u, static_cast<int>((ullFirst + s) & 0xFF), 512);
    return chunk;
}

} // namespace

TEST(CarvingRing, FillsSlidesAndReadsAcrossTheWrap)
{
    CBufferStorageDevice ring;
    ASSERT_TRUE(ring.Init(1000, 4096, 10, 10));
    EXPECT_EQ(ring.GetSectorSize(), 4096);
    std::vector<uint8_t> out(20 * 512);
    EXPECT_EQ(ring.ReadSectors(out.data(), 1000, 1), 0);  // nothing held yet
    for (uint64_t c = 0; c < 9; ++c)
        ring.Append(NumberedChunk(1000 + c * 10, 10).data());
    EXPECT_FALSE(ring.IsFull());
    // A filling ring returns the right sectors too.
    ASSERT_EQ(ring.ReadSectors(out.data(), 1015, 20), 1);
    for (int s = 0; s < 20; ++s)
        EXPECT_EQ(out[s * 512], static_cast<uint8_t>(1015 + s));
    ring.Append(NumberedChunk(1090, 10).data());
    EXPECT_TRUE(ring.IsFull());
    EXPECT_EQ(ring.GetTotalSectors(), 100u);
    // Four more chunks: the ring holds 1040..1139, write position 40 (the first example's shape).
    for (uint64_t c = 10; c < 14; ++c)
        ring.Append(NumberedChunk(1000 + c * 10, 10).data());
    EXPECT_EQ(ring.GetWindowStart(), 1040u);
    ASSERT_EQ(ring.ReadSectors(out.data(), 1095, 20), 1);  // wraps from position 95 to 0
    for (int s = 0; s < 20; ++s)
        EXPECT_EQ(out[s * 512 + 511], static_cast<uint8_t>(1095 + s)) << s;
    EXPECT_EQ(ring.ReadSectors(out.data(), 1039, 1), 0);
    EXPECT_EQ(ring.ReadSectors(out.data(), 1130, 11), 0);
    EXPECT_EQ(ring.ReadSectors(out.data(), 1139, 1), 1);
    // Restarting at another sector forgets what was held.
    ASSERT_TRUE(ring.Init(5000, 512, 10, 10));
    EXPECT_EQ(ring.GetTotalSectors(), 0u);
    EXPECT_EQ(ring.ReadSectors(out.data(), 1100, 1), 0);
}

TEST(CarvingRing, PartialAppendsSlideBySectorsAndPeekOnlyInOnePiece)
{
    CBufferStorageDevice ring;
    ASSERT_TRUE(ring.Init(2003, 512, 10, 3));  // 30 sectors
    std::vector<uint8_t> tail = NumberedChunk(2003, 7);
    ring.AppendSectors(tail.data(), 7);
    for (uint64_t c = 1; c < 4; ++c)
        ring.Append(NumberedChunk(2000 + c * 10, 10).data());
    // 37 sectors appended into 30: the oldest 7 are gone, the write position is 7.
    EXPECT_EQ(ring.GetWindowStart(), 2010u);
    EXPECT_EQ(ring.GetWindowEnd(), 2040u);
    std::vector<uint8_t> out(30 * 512);
    ASSERT_EQ(ring.ReadSectors(out.data(), 2010, 30), 1);
    for (int s = 0; s < 30; ++s)
        EXPECT_EQ(out[s * 512 + 100], static_cast<uint8_t>(2010 + s)) << s;
    const uint8_t* p = ring.PeekSectors(2010, 23);  // positions 7..29
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[22 * 512], static_cast<uint8_t>(2032));
    EXPECT_EQ(ring.PeekSectors(2030, 5), nullptr);  // wraps round the store's end
    ASSERT_NE(ring.PeekSectors(2033, 7), nullptr);
    EXPECT_EQ(ring.PeekSectors(2033, 7)[0], static_cast<uint8_t>(2033));
    EXPECT_EQ(ring.PeekSectors(2009, 1), nullptr);
    EXPECT_EQ(ring.PeekSectors(2039, 2), nullptr);
    // An append that wraps is split in two.
    std::vector<uint8_t> more = NumberedChunk(2040, 25);
    ring.AppendSectors(more.data(), 25);
    EXPECT_EQ(ring.GetWindowStart(), 2035u);
    ASSERT_EQ(ring.ReadSectors(out.data(), 2035, 30), 1);
    for (int s = 0; s < 30; ++s)
        EXPECT_EQ(out[s * 512], static_cast<uint8_t>(2035 + s)) << s;
}

TEST(CarvingRingView, AnswersAsTheFullWindowOrSaysItNeedsMore)
{
    // Full window 1000..1100; memory: the ring holds 1040..1060, the run 1060..1080.
    CBufferStorageDevice ring;
    ASSERT_TRUE(ring.Init(1040, 512, 20, 5));
    ring.Append(NumberedChunk(1040, 20).data());
    std::vector<uint8_t> run = NumberedChunk(1060, 20);
    CCarvingRingView view;
    view.Reset(1000, 100, 4096, &ring, run.data(), 1060, 20);
    EXPECT_EQ(view.GetTotalSectors(), 100u);
    EXPECT_EQ(view.GetWindowEnd(), 1100u);
    EXPECT_EQ(view.GetSectorSize(), 4096);
    std::vector<uint8_t> out(40 * 512);
    // Across the ring and the run.
    ASSERT_EQ(view.ReadSectors(out.data(), 1050, 20), 1);
    for (int s = 0; s < 20; ++s)
        EXPECT_EQ(out[s * 512 + 7], static_cast<uint8_t>(1050 + s)) << s;
    EXPECT_EQ(view.PeekSectors(1050, 20), nullptr);
    ASSERT_NE(view.PeekSectors(1061, 19), nullptr);
    EXPECT_EQ(view.PeekSectors(1061, 19)[0], static_cast<uint8_t>(1061));
    ASSERT_NE(view.PeekSectors(1041, 2), nullptr);
    EXPECT_FALSE(view.NeedsMore());
    // Outside the full window: refused as the ring refuses it, and that answer is final.
    EXPECT_EQ(view.ReadSectors(out.data(), 999, 2), 0);
    EXPECT_EQ(view.ReadSectors(out.data(), 1090, 11), 0);
    EXPECT_EQ(view.ReadSectors(out.data(), 1100, 1), 0);
    EXPECT_FALSE(view.NeedsMore());
    // Inside the window but beyond memory (at either end): not answered yet.
    EXPECT_EQ(view.ReadSectors(out.data(), 1075, 10), 0);
    EXPECT_TRUE(view.NeedsMore());
    EXPECT_EQ(view.GetWantedEnd(), 1085u);
    EXPECT_EQ(view.ReadSectors(out.data(), 1030, 1), 0);
    EXPECT_EQ(view.GetWantedEnd(), 1085u);
    // A window reader over the view reads a window lying in the run in place, and a window
    // reaching past memory fails without claiming that the device ends there.
    view.Reset(1000, 100, 512, &ring, run.data(), 1060, 20);
    SectorWindowReader reader(&view, 1062);
    const uint8_t* pInRun = reader.Read(0);  // its first window, 1062..1070, lies in the run
    ASSERT_NE(pInRun, nullptr);
    EXPECT_EQ(pInRun, run.data() + 2 * 512);
    EXPECT_FALSE(view.NeedsMore());
    EXPECT_EQ(reader.Read(16 * 512), nullptr);  // its next window needs sectors up to 1094
    EXPECT_TRUE(view.NeedsMore());
    // Without the run, memory is the ring alone.
    view.Reset(1040, 20, 512, &ring, nullptr, 1060, 0);
    SectorWindowReader inRing(&view, 1045);
    size_t nValid = 0;
    const uint8_t* p = inRing.Read(11 * 512, &nValid);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(nValid, 4u * 512);
    EXPECT_EQ(p[0], static_cast<uint8_t>(1056));
    EXPECT_FALSE(view.NeedsMore());
}

TEST(CarvingWindowReader, ReadsWindowsAndNeverHandsOutAnotherWindowsBytes)
{
    // 3 windows and a bit: 3 x 1024 + 100 sectors.
    CCarvingMemoryDevice device(PatternBytes((3 * 1024 + 100) * 512));
    const std::vector<uint8_t>& bytes = device.m_Bytes;
    SectorWindowReader reader(&device, 2);  // candidate starts at sector 2
    const uint64_t ullBase = 2 * 512;

    // The last byte of a window is followed by 512 device bytes (the extra sector).
    size_t nValid = 0;
    const uint8_t* p = reader.Read(0x7FFFF, &nValid);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(nValid, 513u);
    EXPECT_EQ(memcmp(p, bytes.data() + ullBase + 0x7FFFF, 513), 0);
    const int nReads = device.m_nReads;
    ASSERT_NE(reader.Read(0x7FFFF - 100), nullptr);
    EXPECT_EQ(device.m_nReads, nReads);  // same window, no read

    // Candidate sector 3072 + 90 = device sector 3164; 8 sectors remain, fewer than the window
    // wants: the reader falls back to them and knows where the device ends.
    const uint64_t ullNearEnd = 3 * SectorWindowReader::WINDOW_BYTES + 90 * 512 + 10;
    p = reader.Read(ullNearEnd, &nValid);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(nValid, 8u * 512 - 10);
    EXPECT_EQ(memcmp(p, bytes.data() + ullBase + ullNearEnd, nValid), 0);
    EXPECT_EQ(reader.Read(3 * SectorWindowReader::WINDOW_BYTES + 98 * 512), nullptr);  // beyond the device

    // A window wholly past the end fails, and the next read does not see the old buffer as its own.
    EXPECT_EQ(reader.Read(4 * SectorWindowReader::WINDOW_BYTES), nullptr);
    p = reader.Read(3 * SectorWindowReader::WINDOW_BYTES);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], bytes[ullBase + 3 * SectorWindowReader::WINDOW_BYTES]);

    // Another reader (another candidate) with the same window number reads afresh, and the first
    // reader's window is forgotten once the buffer holds another candidate's bytes.
    SectorWindowReader other(&device, 3);
    p = other.Read(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], bytes[3 * 512]);
    p = reader.Read(3 * SectorWindowReader::WINDOW_BYTES + 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], bytes[ullBase + 3 * SectorWindowReader::WINDOW_BYTES + 1]);
}

TEST(CarvingWindowReader, SpanReadRebasesTheWindow)
{
    CCarvingMemoryDevice device(PatternBytes(3000 * 512, 7));
    SectorWindowReader reader(&device, 0);
    ASSERT_NE(reader.Read(0), nullptr);
    // 4 KiB that cross the end of window 0.
    const uint8_t* p = reader.ReadSpan(0x80000 - 100, 4096);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(memcmp(p, device.m_Bytes.data() + 0x80000 - 100, 4096), 0);
    // Plain reads after a re-based window still return the right bytes.
    const uint8_t* q = reader.Read(0x80000 + 5000);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(*q, device.m_Bytes[0x80000 + 5000]);
    q = reader.Read(7);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(*q, device.m_Bytes[7]);
    // A span that the device cannot supply whole is refused.
    EXPECT_EQ(reader.ReadSpan(3000 * 512 - 100, 200), nullptr);
    EXPECT_EQ(reader.ReadSpan(0, SectorWindowReader::WINDOW_BYTES + 1), nullptr);
}

TEST(CarvingWindowReader, WindowOverTheRingEndsWhereTheRingEnds)
{
    CBufferStorageDevice ring;
    ASSERT_TRUE(ring.Init(5000, 512, 100, 4));
    for (uint64_t c = 0; c < 6; ++c)
        ring.Append(NumberedChunk(5000 + c * 100, 100).data());
    // Held 5200..5599; a candidate at 5250 can read up to the ring's end and no further.
    SectorWindowReader reader(&ring, 5250);
    size_t nValid = 0;
    const uint8_t* p = reader.Read(345 * 512, &nValid);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(nValid, 5u * 512);
    EXPECT_EQ(p[4 * 512], static_cast<uint8_t>(5599 & 0xFF));
    EXPECT_EQ(reader.Read(350 * 512), nullptr);
}

TEST(CarvingFormats, ZipRecords)
{
    uint8_t rec[512] = {};
    auto put16 = [&](int o, uint16_t v) { rec[o] = v & 0xFF; rec[o + 1] = v >> 8; };
    auto put32 = [&](int o, uint32_t v) { put16(o, v & 0xFFFF); put16(o + 2, v >> 16); };
    put32(0, ZIP_LOCAL_HEADER_SIGNATURE);
    put16(8, 8);
    put16(26, 28);
    put16(28, 4);
    put32(18, 1000);
    memcpy(rec + 30, "word/_rels/document.xml.rels", 28);
    EXPECT_TRUE(IsZipRecord(rec));
    uint32_t nLength = 0;
    int32_t nType = 68;
    ASSERT_TRUE(GetZipRecordLength(rec, &nLength, true, &nType));
    EXPECT_EQ(nLength, 30u + 28 + 4 + 1000);
    EXPECT_EQ(nType, 69);
    nType = 68;
    ASSERT_TRUE(GetZipRecordLength(rec, &nLength, false, &nType));
    EXPECT_EQ(nType, 68);
    put16(8, 11);
    EXPECT_FALSE(IsZipRecord(rec));
    put16(8, 0);
    put16(26, 1041);
    EXPECT_FALSE(IsZipRecord(rec));
    put16(26, 1040);
    EXPECT_TRUE(IsZipRecord(rec));

    memset(rec, 0, sizeof(rec));
    put32(0, ZIP_CENTRAL_HEADER_SIGNATURE);
    put16(28, 10);
    put16(30, 24);
    put16(32, 7);
    EXPECT_TRUE(IsZipRecord(rec));
    ASSERT_TRUE(GetZipRecordLength(rec, &nLength, false, nullptr));
    EXPECT_EQ(nLength, 46u + 10 + 24 + 7);
    put32(0, ZIP_END_RECORD_SIGNATURE);
    put16(20, 5);
    ASSERT_TRUE(GetZipRecordLength(rec, &nLength, false, nullptr));
    EXPECT_EQ(nLength, 27u);
    put32(0, 0x08074B50);
    EXPECT_FALSE(IsZipRecord(rec));
    EXPECT_FALSE(GetZipRecordLength(rec, &nLength, false, nullptr));
}

TEST(CarvingFormats, RarBlocks)
{
    struct CASE {
        uint8_t nType;
        uint16_t nHeadSize;
        uint32_t nAt7;
        bool bSize;
        uint64_t ullSize;
    };
    const CASE cases[] = {
        {0x73, 13, 0, true, 13},        {0x73, 9, 0, false, 0},          {0x74, 40, 5000, true, 5040},
        {0x75, 20, 0x12345, true, 20 + 0x2345}, {0x76, 8, 99, true, 8}, {0x77, 30, 10, true, 40},
        {0x7B, 7, 0, false, 0},         {0x7B, 12, 100, true, 112},      {0x79, 20, 0, false, 0},
        {0x74, 6, 10, false, 0},
    };
    for (const CASE& c : cases) {
        uint8_t block[64] = {};
        block[2] = c.nType;
        block[5] = c.nHeadSize & 0xFF;
        block[6] = c.nHeadSize >> 8;
        for (int i = 0; i < 4; ++i)
            block[7 + i] = static_cast<uint8_t>(c.nAt7 >> (8 * i));
        block[11] = 0xFF;  // unpacked size above the packed one
        block[12] = 0xFF;
        uint32_t nLow = 0, nHigh = 0;
        EXPECT_EQ(GetRarBlockSize(block, sizeof(block), &nLow, &nHigh) != 0, c.bSize) << int(c.nType);
        if (c.bSize) {
            EXPECT_EQ((static_cast<uint64_t>(nHigh) << 32) | nLow, c.ullSize) << int(c.nType);
        }
    }
    uint8_t block[16] = {0, 0, 0x73, 0, 0, 13, 0};
    EXPECT_FALSE(IsRarBlockValid(block, 6));
    EXPECT_FALSE(IsRarBlockValid(nullptr, 100));
    block[2] = 0x74;
    EXPECT_FALSE(IsRarBlockValid(block, 12));  // its fields lie beyond what is available
}

TEST(CarvingFormats, MpegFramesUseTheStandardTables)
{
    struct CASE {
        uint32_t h;
        uint32_t nLength;
    } cases[] = {
        {0xFFFB9064, 417}, {0xFFFB9264, 418},  // MPEG-1 layer III 128 kbit/s 44.1 kHz
        {0xFFF37054, 182}, {0xFFF37074, 182}, {0xFFF3A060, 313}, {0xFFF3A260, 314},  // MPEG-2 layer III
        {0xFFE3A060, 626},   // MPEG-2.5 layer III 96 kbit/s 11.025 kHz
        {0xFFFD9004, 522},   // MPEG-1 layer II 160 kbit/s 44.1 kHz
        {0xFFFF9004, 312},   // MPEG-1 layer I 288 kbit/s: (12 x 288000 / 44100) x 4
        {0xFFF59004, 522},   // MPEG-2 layer II 80 kbit/s 22.05 kHz
    };
    for (const CASE& c : cases) {
        EXPECT_TRUE(IsMpegFrameHeader(c.h)) << std::hex << c.h;
        uint32_t nLength = 0;
        EXPECT_TRUE(GetMpegFrameLength(c.h, &nLength));
        EXPECT_EQ(nLength, c.nLength) << std::hex << c.h;
    }
    for (uint32_t h : {0xFFEB9064u, 0xFFF99064u, 0xFFFB0064u, 0xFFFBF064u, 0xFFFB9C64u, 0xFFDB9064u})
        EXPECT_FALSE(IsMpegFrameHeader(h)) << std::hex << h;
    uint32_t nSize = 0;
    const uint8_t synchsafe[] = {0x00, 0x01, 0x7F, 0x7F};
    ASSERT_TRUE(DecodeSynchsafeSize(synchsafe, &nSize));
    EXPECT_EQ(nSize, (1u << 14) | (0x7F << 7) | 0x7F);
    const uint8_t bad[] = {0x00, 0x80, 0, 0};
    EXPECT_FALSE(DecodeSynchsafeSize(bad, &nSize));
}

TEST(CarvingFormats, FooterSearch)
{
    CAnalyserSizeLimit limit(50000000);
    std::vector<uint8_t> bytes(2 * 1024 * 1024, 'x');
    // The tag in lower case, straddling the first window's end.
    memcpy(bytes.data() + 0x80000 - 3, "</html>", 7);
    CCarvingMemoryDevice device(bytes);
    CRawFileInfo info;
    FOOTER_PATTERN pattern;
    pattern.SetText("</HTML>");
    ASSERT_TRUE(SearchFooter(&info, &device, pattern));
    EXPECT_EQ(info.GetSize(), 0x80000u + 4);
    // With a search limit before the tag: the size becomes limit + 1.
    pattern.ullSearchLimit = 1000;
    ASSERT_TRUE(SearchFooter(&info, &device, pattern));
    EXPECT_EQ(info.GetSize(), 1001u);
    // No tag before the device ends: FALSE.
    pattern.ullSearchLimit = 0;
    pattern.SetText("%%EOF");
    EXPECT_FALSE(SearchFooter(&info, &device, pattern));

    // False starts before the match, for a first byte with a case and one without.
    std::vector<uint8_t> text(4096, 'x');
    memcpy(text.data() + 10, "</htm</p<<", 10);
    memcpy(text.data() + 300, "</Html>", 7);
    memcpy(text.data() + 40, "eoF\r", 4);
    memcpy(text.data() + 900, "EoF\r\n", 5);
    CCarvingMemoryDevice textDevice(text);
    pattern.SetText("</HTML>");
    ASSERT_TRUE(SearchFooter(&info, &textDevice, pattern));
    EXPECT_EQ(info.GetSize(), 307u);
    pattern.SetText("EOF\r\n");
    ASSERT_TRUE(SearchFooter(&info, &textDevice, pattern));
    EXPECT_EQ(info.GetSize(), 905u);
}

TEST(CarvingFormats, Mp4AtomWalk)
{
    CAnalyserSizeLimit limit(50000000);
    std::vector<uint8_t> bytes(8 * 1024 * 1024, 0);
    auto atom = [&](size_t pos, uint32_t size, const char* name) {
        bytes[pos] = size >> 24;
        bytes[pos + 1] = size >> 16;
        bytes[pos + 2] = size >> 8;
        bytes[pos + 3] = size & 0xFF;
        memcpy(bytes.data() + pos + 4, name, 4);
    };
    atom(0, 24, "ftyp");
    atom(24, 1000, "MOOV");
    // A 64-bit mdat of 5 MiB (size field 1, the size after the name).
    atom(1024, 1, "mdat");
    const uint64_t ullLarge = 5 * 1024 * 1024;
    for (int i = 0; i < 8; ++i)
        bytes[1024 + 8 + i] = static_cast<uint8_t>(ullLarge >> (56 - 8 * i));
    atom(1024 + ullLarge, 100, "junk");
    CCarvingMemoryDevice device(bytes);
    CRawFileInfo info;
    ASSERT_TRUE(WalkMp4Atoms(&info, &device));
    EXPECT_EQ(info.GetSize(), 1024 + ullLarge);
    // An empty first atom: FALSE.
    CCarvingMemoryDevice empty(std::vector<uint8_t>(4096, 0));
    EXPECT_FALSE(WalkMp4Atoms(&info, &empty));
}

TEST(CarvingTypes, TablesAndExtensionLookup)
{
    EXPECT_STREQ(g_szFileTypeExt[FILE_TYPE_RAW], "Raw");
    EXPECT_STREQ(g_szFileTypeExt[FILE_TYPE_JPG], "JPG");
    EXPECT_STREQ(g_szFileTypeDesc[FILE_TYPE_CDR], "COREL Darw file");
    EXPECT_STREQ(g_szFileTypeDesc[FILE_TYPE_DXF], "AutoCad DX File");
    EXPECT_STREQ(g_szFileTypeExt[FILE_TYPE_ACCDB], "ACCDB");
    EXPECT_EQ(g_szFileTypeExt[73][0], 0);
    EXPECT_EQ(g_szFileTypeDesc[1000][0], 0);
    EXPECT_EQ(FindFileTypeByExtension("jpg"), FILE_TYPE_JPG);
    EXPECT_EQ(FindFileTypeByExtension("FH11"), FILE_TYPE_FH11);
    EXPECT_EQ(FindFileTypeByExtension("raw"), FILE_TYPE_RAW);
    EXPECT_EQ(FindFileTypeByExtension("xyz"), FILE_TYPE_RAW);
}
