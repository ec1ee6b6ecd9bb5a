// Disks on which every sector is a hit: each sector starts with one format's header and the rest
// is random bytes. Measuring the hits must cost reads that grow with the disk, not with hits x
// disk; a counting device shows the bytes each hit costs.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "AnalyserTestSupport.h"
#include "ArchiveAnalysers.h"
#include "AudioVideoAnalysers.h"
#include "CarvingChainMemo.h"
#include "CarvingTestSupport.h"
#include "Delvar.h"
#include "DocumentAnalysers.h"
#include "DrawingAnalysers.h"
#include "FileSystemNode.h"
#include "ImageAnalysers.h"
#include "RAWTreeBuilder.h"
#include "RawFileAnalyserFactories.h"
#include "SearchStatistics.h"
#include "WebFontAnalysers.h"

namespace {

// nSectors sectors, each the header followed by random bytes.
std::vector<uint8_t> HostileImage(const std::vector<uint8_t>& header, size_t nSectors, uint32_t nSeed = 1)
{
    std::vector<uint8_t> image = PatternBytes(nSectors * 512, nSeed);
    for (size_t s = 0; s < nSectors; ++s)
        std::copy(header.begin(), header.end(), image.begin() + s * 512);
    return image;
}

std::vector<uint8_t> Hex(std::initializer_list<uint8_t> bytes) { return std::vector<uint8_t>(bytes); }

std::vector<uint8_t> Text(const char* psz) { return std::vector<uint8_t>(psz, psz + strlen(psz)); }

struct HOSTILE_COST {
    size_t nHits = 0;
    uint64_t ullBytesRead = 0;
    int nReads = 0;
};

// Every sector that the analyser's header test takes is measured in ascending order, as the tree
// of carved files measures the hits the scan left.
HOSTILE_COST MeasureEverySector(IRawFileAnalyser& analyser, const std::vector<uint8_t>& image)
{
    CCarvingMemoryDevice device(image);
    HOSTILE_COST cost;
    for (size_t s = 0; s < image.size() / 512; ++s) {
        CRawFileInfo info;
        if (!analyser.AnalyzeFileHeader(image.data() + s * 512, &info))
            continue;
        ++cost.nHits;
        info.SetStartSector(s);
        if (info.GetSize() == 0)
            GuardedAnalyzeFileSize(&analyser, &info, &device);
    }
    cost.ullBytesRead = device.m_ullBytesRead;
    cost.nReads = device.m_nReads;
    return cost;
}

} // namespace

TEST(CarvingHostile, JpegWalkStopsWhereTheSegmentsStop)
{
    CAnalyserSizeLimit limit(50000000);
    FileJPGAnalyser jpg;
    // FF D8, a JFIF APP0 of 16 bytes, then random bytes where the next marker should be.
    const std::vector<uint8_t> header =
        Hex({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
             0x00});
    // 400 hits, then 4 MiB of random bytes for a walk that runs on to wander through.
    const size_t nSectors = 400;
    std::vector<uint8_t> image = HostileImage(header, nSectors);
    const std::vector<uint8_t> tail = PatternBytes(4 << 20, 2);
    image.insert(image.end(), tail.begin(), tail.end());
    // The byte after the APP0 segment is never FF, so no hit is an image.
    for (size_t s = 0; s < nSectors; ++s) {
        if (image[s * 512 + 20] == 0xFF)
            image[s * 512 + 20] = 0x12;
    }
    const HOSTILE_COST cost = MeasureEverySector(jpg, image);
    EXPECT_EQ(cost.nHits, nSectors);
    // One window a hit: the walk reads no further than the first segment.
    EXPECT_LE(cost.nReads, static_cast<int>(nSectors));
    EXPECT_LE(cost.ullBytesRead, nSectors * 16 * 512);

    // A JPEG cut before its scan (zeros where the frame should be) is still refused, and one cut
    // in its scan still runs to its width x height x 3 bound.
    CBytes cutEarly;
    cutEarly.Raw(0, header.data(), header.size()).Fill(header.size(), 3000, 0);
    ANALYSER_RESULT r = Analyse(jpg, cutEarly);
    EXPECT_TRUE(r.bHeader);
    EXPECT_FALSE(r.bSize);
    CBytes cutInScan;
    cutInScan.Raw(0, header.data(), header.size());
    size_t pos = header.size();
    cutInScan.Bytes(pos, {0xFF, 0xC0}).BE16(pos + 2, 17).Bytes(pos + 4, {8}).BE16(pos + 5, 10).BE16(pos + 7, 10);
    cutInScan.Bytes(pos + 9, {3});
    pos += 2 + 17;
    cutInScan.Bytes(pos, {0xFF, 0xDA}).BE16(pos + 2, 12).Bytes(pos + 4, {3});
    pos += 2 + 12;
    cutInScan.Fill(pos, 200, 0x55);
    r = Analyse(jpg, cutInScan);
    EXPECT_TRUE(r.bSize);
    EXPECT_EQ(r.ullSize, pos + 10 * 10 * 3 + 2);
}

TEST(CarvingHostile, WindowReadsAreSizedToWhatTheLengthRulesRead)
{
    CAnalyserSizeLimit limit(50000000);
    struct CASE {
        const char* pszName;
        std::unique_ptr<IRawFileAnalyser> pAnalyser;
        std::vector<uint8_t> header;
    };
    CASE cases[] = {
        {"png", std::unique_ptr<IRawFileAnalyser>(new FilePNGAnalyser),
         Hex({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 'I', 'H', 'D', 'R'})},
        {"pdf", std::unique_ptr<IRawFileAnalyser>(new FilePDFAnalyser), Text("%PDF-1.4\n")},
        {"zip", std::unique_ptr<IRawFileAnalyser>(new FileZIPAnalyser),
         Hex({'P', 'K', 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00})},
        {"gif", std::unique_ptr<IRawFileAnalyser>(new FileGIFAnalyser), Text("GIF89a")},
        {"mp3", std::unique_ptr<IRawFileAnalyser>(new FileMP3Analyser), Hex({'I', 'D', '3', 3, 0, 0, 0, 0, 0, 10})},
    };
    const size_t nSectors = 300;
    for (CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        const HOSTILE_COST cost = MeasureEverySector(*c.pAnalyser, HostileImage(c.header, nSectors));
        EXPECT_EQ(cost.nHits, nSectors);
        // A few sectors a hit, not a 512 KiB window each.
        EXPECT_LE(cost.ullBytesRead, nSectors * 64 * 512);
    }
}

namespace {

struct SEARCH_CASE {
    const char* pszName;
    IRawFileAnalyser* (*pfnNew)();
    std::vector<uint8_t> header;
    std::vector<uint8_t> end;  // what ends a file, written at offset 300 of every 200th sector
    // The analyser whose header test finds the hits, when another than the one measuring them.
    IRawFileAnalyser* (*pfnHeaderNew)() = nullptr;
};

std::vector<uint8_t> Utf16(const char* psz)
{
    std::vector<uint8_t> bytes;
    for (; *psz != 0; ++psz) {
        bytes.push_back(static_cast<uint8_t>(*psz));
        bytes.push_back(0);
    }
    return bytes;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<SEARCH_CASE> SearchCases()
{
    std::vector<uint8_t> crwTrailer(143, ' ');
    memcpy(crwTrailer.data(), "High definition CCD image", 25);
    memcpy(crwTrailer.data() + 32, "CRW:High definition CCD image", 29);
    memcpy(crwTrailer.data() + 122, "Canon", 5);
    memcpy(crwTrailer.data() + 128, "Canon PowerShot", 15);
    std::vector<uint8_t> fh11 = Hex({0x1C, 0x01, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C, 0x01, 0x14, 0x00, 0x02, 0x00, 0x14,
                                     0x1C, 0x01});
    fh11.resize(34, 0x20);
    fh11.push_back(0x31);
    fh11.push_back(0x31);
    const std::vector<uint8_t> dwgSentinel = Hex({0x68, 0x40, 0xF8, 0xF7, 0x92, 0x2A, 0xB5, 0xEF, 0x18, 0xDD, 0x0B, 0xF1,
                                                  0xF1, 0xBB, 0xE9, 0xEB});
    std::vector<uint8_t> dwg = Text("AC1018");
    dwg.resize(128, 0);
    dwg = Concat(dwg, dwgSentinel);
    return {
        {"html", &NewFileHTMAnalyser, Text("<html><head>"), Text("</HTML>")},
        {"utf-16 html", &NewFileUnicodeHTMAnalyser, Concat(Hex({0xFF, 0xFE}), Utf16("<HTML>")), Utf16("</html>\r\n")},
        // A UTF-16 page found by its own analyser and measured by its type's first (the 8-bit one).
        {"utf-16 html as html", &NewFileHTMAnalyser, Concat(Hex({0xFF, 0xFE}), Utf16("<HTML>")), Utf16("</html>"),
         &NewFileUnicodeHTMAnalyser},
        {"dxf", &NewFileDXFAnalyser, Text("  0\r\nSECTION\r\n  2\r\nHEADER\r\n"), Text("EOF\r\n")},
        {"fh11", &NewFileFH11Analyser, fh11, Concat(Text("Decode"), Hex({0, 0xFF, 0xFF, 0xFF, 0xFF}))},
        {"crw", &NewFileCRWAnalyser,
         Hex({0x49, 0x49, 0x1A, 0x00, 0x00, 0x00, 0x48, 0x45, 0x41, 0x50, 0x43, 0x43, 0x44, 0x52, 0x02, 0x00}), crwTrailer},
        {"dwg", &NewFileDWGAnalyser, dwg, dwgSentinel},
    };
}

// Every sector a hit of the case's format, every 200th holding the end of a file.
std::vector<uint8_t> SearchImage(const SEARCH_CASE& c, size_t nSectors)
{
    std::vector<uint8_t> image = HostileImage(c.header, nSectors, 3);
    for (size_t s = 7; s < nSectors; s += 200)
        std::copy(c.end.begin(), c.end.end(), image.begin() + s * 512 + 300);
    return image;
}

// The lengths of every hit measured one after the other (bShared: in one session, so that the
// searches are shared), and the bytes read.
std::vector<std::pair<BOOL, uint64_t>> MeasureAll(const SEARCH_CASE& c, const std::vector<uint8_t>& image, bool bShared,
                                                  uint64_t* pullBytes)
{
    std::unique_ptr<IRawFileAnalyser> pAnalyser(c.pfnNew());
    std::unique_ptr<IRawFileAnalyser> pHeader(c.pfnHeaderNew != nullptr ? c.pfnHeaderNew() : c.pfnNew());
    CCarvingMemoryDevice device(image);
    std::unique_ptr<CCarvingChainSession> pSession;
    if (bShared)
        pSession.reset(new CCarvingChainSession(&device, CCarvingChainSession::NewKey()));
    std::vector<std::pair<BOOL, uint64_t>> sizes;
    for (size_t s = 0; s < image.size() / 512; ++s) {
        CRawFileInfo info;
        if (!pHeader->AnalyzeFileHeader(image.data() + s * 512, &info))
            continue;
        info.SetStartSector(s);
        const BOOL bMeasured = GuardedAnalyzeFileSize(pAnalyser.get(), &info, &device);
        sizes.push_back({bMeasured, bMeasured ? info.GetSize() : 0});
    }
    *pullBytes = device.m_ullBytesRead;
    return sizes;
}

} // namespace

TEST(CarvingHostile, ForwardSearchesAreSharedAndGiveTheSameLengths)
{
    const size_t nSectors = 600;
    for (int64_t llLimit : {int64_t(50000000), int64_t(100000)}) {
        CAnalyserSizeLimit limit(llLimit);
        for (const SEARCH_CASE& c : SearchCases()) {
            SCOPED_TRACE(testing::Message() << c.pszName << ", limit " << llLimit);
            const std::vector<uint8_t> image = SearchImage(c, nSectors);
            uint64_t ullPlainBytes = 0, ullSharedBytes = 0;
            const auto plain = MeasureAll(c, image, false, &ullPlainBytes);
            const auto shared = MeasureAll(c, image, true, &ullSharedBytes);
            EXPECT_EQ(plain.size(), nSectors);
            EXPECT_EQ(plain, shared);
            // Each stretch of the disk is searched about once, not once for every hit before it: a
            // few windows a hit (its first bytes, where its search resumes) and the disk a few times.
            EXPECT_LE(ullSharedBytes, 8 * image.size() + nSectors * 24 * 512);
        }
    }
}

namespace {

// Sectors that each start an RTF header and go on with text of letters, group marks and escapes
// drawn with the given percentages of '{', '}' and '\', and no NUL (which ends a walk at once).
std::vector<uint8_t> RtfImage(size_t nSectors, int nOpen, int nClose, int nEscape, uint32_t nSeed)
{
    std::vector<uint8_t> image = PatternBytes(nSectors * 512, nSeed);
    for (size_t i = 0; i < image.size(); ++i) {
        const int nRoll = image[i] * 100 / 256;
        image[i] = nRoll < nOpen ? '{' : nRoll < nOpen + nClose ? '}' : nRoll < nOpen + nClose + nEscape ? '\\' : 'a' + nRoll % 26;
    }
    for (size_t s = 0; s < nSectors; ++s)
        memcpy(image.data() + s * 512, "{\\rtf1", 6);
    return image;
}

} // namespace

TEST(CarvingHostile, RtfWalksAreSharedAndGiveTheSameLengths)
{
    struct CASE {
        int nOpen, nClose, nEscape;
        int64_t llLimit;
    };
    // Groups that close now and then, groups that never close, and limits that cut the walks.
    const CASE cases[] = {{3, 3, 2, 50000000}, {3, 3, 2, 20000}, {4, 3, 5, 3000}, {2, 0, 3, 50000000}, {2, 0, 3, 70000}};
    const size_t nSectors = 600;
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nOpen << "/" << c.nClose << "/" << c.nEscape << ", limit " << c.llLimit);
        CAnalyserSizeLimit limit(c.llLimit);
        const std::vector<uint8_t> image = RtfImage(nSectors, c.nOpen, c.nClose, c.nEscape, 5);
        const SEARCH_CASE rtf = {"rtf", &NewFileRTFAnalyser, {}, {}};
        uint64_t ullPlainBytes = 0, ullSharedBytes = 0;
        const auto plain = MeasureAll(rtf, image, false, &ullPlainBytes);
        const auto shared = MeasureAll(rtf, image, true, &ullSharedBytes);
        EXPECT_EQ(plain.size(), nSectors);
        EXPECT_EQ(plain, shared);
        EXPECT_LE(ullSharedBytes, 8 * image.size() + nSectors * 24 * 512);
    }
}

namespace {

// Sectors that each start a GIF header, an image descriptor and the LZW code size with no zero
// byte, so that the image data's sub-blocks run on through the later sectors. bEnds: the random
// bytes keep their zeros (a chain ends now and then) and the byte after each zero is often an
// image separator, an extension, a stray byte or the trailer; otherwise no byte is zero.
std::vector<uint8_t> GifImage(size_t nSectors, bool bEnds, uint32_t nSeed)
{
    const std::vector<uint8_t> header = Concat(Text("GIF89a"), Hex({0x10, 0x10, 0x10, 0x10, 0x70, 0x01, 0x01, 0x2C, 0x01,
                                                                    0x01, 0x01, 0x01, 0x10, 0x10, 0x10, 0x10, 0x01, 0x08}));
    std::vector<uint8_t> image = HostileImage(header, nSectors, nSeed);
    const uint8_t next[4] = {0x2C, 0x21, 0x66, 0x3B};
    for (size_t i = 0; i < image.size(); ++i) {
        if (image[i] == 0 && !bEnds)
            image[i] = 1;
        else if (image[i] == 0 && i + 1 < image.size() && image[i + 1] % 5 < 4)
            image[i + 1] = next[image[i + 1] % 5];
    }
    for (size_t s = 0; s < nSectors; ++s)
        std::copy(header.begin(), header.end(), image.begin() + s * 512);
    return image;
}

// Every sector of the image measured in the given order, in one session or not; the results in
// the order of sectors. pGrown: first measured on a device that ends halfway, then on this one.
std::vector<std::pair<BOOL, uint64_t>> MeasureGifs(const std::vector<uint8_t>& image, const std::vector<size_t>& order,
                                                   bool bShared, uint64_t* pullBytes, bool bGrown = false)
{
    FileGIFAnalyser gif;
    CCarvingMemoryDevice device(image);
    std::unique_ptr<CCarvingChainSession> pSession;
    if (bShared)
        pSession.reset(new CCarvingChainSession(&device, CCarvingChainSession::NewKey()));
    if (bGrown) {
        device.m_Bytes.resize(image.size() / 1024 * 512);
        for (size_t s = 0; s < device.m_Bytes.size() / 512; ++s) {
            CRawFileInfo info;
            info.SetStartSector(s);
            GuardedAnalyzeFileSize(&gif, &info, &device);
        }
        device.m_Bytes = image;
    }
    std::vector<std::pair<BOOL, uint64_t>> sizes(image.size() / 512);
    for (size_t s : order) {
        CRawFileInfo info;
        EXPECT_TRUE(gif.AnalyzeFileHeader(image.data() + s * 512, &info));
        info.SetStartSector(s);
        const BOOL bMeasured = GuardedAnalyzeFileSize(&gif, &info, &device);
        sizes[s] = {bMeasured, bMeasured ? info.GetSize() : 0};
    }
    *pullBytes = device.m_ullBytesRead;
    return sizes;
}

} // namespace

TEST(CarvingHostile, GifChainWalksAreSharedAndGiveTheSameLengths)
{
    enum ORDER { ASCENDING, DESCENDING, RETRIED, GROWN };
    struct CASE {
        bool bEnds;
        int64_t llLimit;
        ORDER order;
    };
    // Chains that never end (the walks run to the device's end), chains that end now and then
    // into further blocks; limits that cut the walks in every step; hits measured again as the
    // scan retries them or last to first, and hits measured first on a device that ends halfway.
    const CASE cases[] = {{false, 50000000, ASCENDING}, {false, 100000, ASCENDING}, {false, 50000000, GROWN},
                          {true, 50000000, ASCENDING},  {true, 100000, ASCENDING},  {true, 3000, ASCENDING},
                          {true, 777, RETRIED},         {true, 3000, RETRIED},      {true, 50000000, RETRIED},
                          {true, 3000, DESCENDING},     {true, 100000, DESCENDING}, {true, 50000000, GROWN}};
    const size_t nSectors = 600;
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.bEnds ? "chains that end" : "endless chains") << ", limit " << c.llLimit
                                        << ", order " << c.order);
        CAnalyserSizeLimit limit(c.llLimit);
        const std::vector<uint8_t> image = GifImage(nSectors, c.bEnds, 7);
        std::vector<size_t> order;
        for (size_t s = 0; s < nSectors; ++s) {
            order.push_back(s);
            if (c.order == RETRIED && s % 7 == 6) {
                for (size_t k = s - 6; k < s - 2; ++k)
                    order.push_back(k);
            }
        }
        if (c.order == DESCENDING)
            std::reverse(order.begin(), order.end());
        uint64_t ullPlainBytes = 0, ullSharedBytes = 0;
        const auto plain = MeasureGifs(image, order, false, &ullPlainBytes);
        const auto shared = MeasureGifs(image, order, true, &ullSharedBytes, c.order == GROWN);
        EXPECT_EQ(plain, shared);
        size_t nMeasured = 0;
        for (const auto& size : plain)
            nMeasured += size.first ? 1 : 0;
        if (!c.bEnds) {
            EXPECT_EQ(nMeasured, 0u);
        } else if (c.llLimit >= 100000) {
            EXPECT_GT(nMeasured, nSectors / 10);
        }
        // A few windows a hit and the disk a few times, in the scan's order; last to first, a
        // hit whose limit ends before the bytes a later one read walks on alone.
        if (c.order != DESCENDING) {
            EXPECT_LE(ullSharedBytes, 8 * image.size() + nSectors * 24 * 512);
        }
        if (!c.bEnds && c.llLimit > 1000000) {
            EXPECT_GT(ullPlainBytes, 50 * image.size());
        }
    }
}

TEST(CarvingHostile, GifSearchCutByTheLimitGoesOnWithItsCount)
{
    // Four hits whose image data (length bytes FF at offsets 24 and 280 of each sector) runs into
    // the fifth hit's, which ends at once; a stray byte then starts the search for a separator
    // through bytes 01. The limit cuts the fourth hit's search about 300 bytes in, and the fifth
    // hit takes that walk on: its search ends after 512 bytes as its own would, found or not.
    const std::vector<uint8_t> header = Concat(Text("GIF89a"), Hex({0x10, 0x10, 0x10, 0x10, 0x70, 0x01, 0x01, 0x2C, 0x01,
                                                                    0x01, 0x01, 0x01, 0x10, 0x10, 0x10, 0x10, 0x01, 0x08}));
    CAnalyserSizeLimit limit(838);
    for (size_t nSeparator : {size_t(400), size_t(700)}) {
        SCOPED_TRACE(testing::Message() << "separator " << nSeparator << " bytes into the search");
        std::vector<uint8_t> image(7 * 512, 0);
        for (size_t s = 0; s < 5; ++s) {
            std::fill(image.begin() + s * 512, image.begin() + s * 512 + 512, 0xFF);
            std::copy(header.begin(), header.end(), image.begin() + s * 512);
        }
        const size_t nEnd = 4 * 512 + 24;
        image[nEnd] = 0x00;
        image[nEnd + 1] = 0x66;
        std::fill(image.begin() + nEnd + 2, image.begin() + nEnd + 2 + 1000, 0x01);
        image[nEnd + 1 + nSeparator] = 0x2C;
        std::fill(image.begin() + nEnd + 2 + nSeparator, image.begin() + nEnd + 2 + 1000, 0x00);
        std::vector<size_t> order = {0, 1, 2, 3, 4};
        uint64_t ullPlainBytes = 0, ullSharedBytes = 0;
        const auto plain = MeasureGifs(std::vector<uint8_t>(image.begin(), image.begin() + 5 * 512 + 1024), order, false,
                                       &ullPlainBytes);
        const auto shared = MeasureGifs(std::vector<uint8_t>(image.begin(), image.begin() + 5 * 512 + 1024), order, true,
                                        &ullSharedBytes);
        EXPECT_EQ(plain, shared);
        EXPECT_EQ(plain[4].first, nSeparator < 512 ? TRUE : FALSE);
    }
}

TEST(CarvingHostile, ScanAndTreeGiveTheSameFilesWithSharedSearches)
{
    // The scan measures through its ring (cut every 20 runs of 16 sectors here), the tree on
    // the device; with the searches and walks shared, both give what plain ones give.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> images;
    for (const SEARCH_CASE& c : SearchCases())
        images.push_back({c.pszName, SearchImage(c, 700)});
    images.push_back({"rtf", RtfImage(700, 3, 2, 3, 9)});
    images.push_back({"gif", GifImage(700, true, 11)});
    for (const auto& image : images) {
        SCOPED_TRACE(image.first);
        std::vector<CARVED_FILE> files[2];
        for (int nShared = 0; nShared < 2; ++nShared) {
            CCarvingChainSession::SetDisabled(nShared == 0);
            CCarvingSettings settings(CCarvingSettings::BuiltInTypes(), 60000);
            CCarvingMemoryDevice device(image.second);
            CRawFileInfoContainer container;
            SEARCH_STATISTICS statistics = {};
            ScanBlocks(device, 16, container, statistics);
            CRAWTreeBuilder builder;
            CFileSystemNode* pRoot = builder.BuildTree(&device, container.GetIterator(), nullptr, 0);
            ASSERT_NE(pRoot, nullptr);
            files[nShared] = CarvedFiles(pRoot);
            DeleteFileTree(pRoot);
        }
        CCarvingChainSession::SetDisabled(false);
        ASSERT_GT(files[0].size(), 100u);
        ASSERT_EQ(files[0].size(), files[1].size());
        for (size_t i = 0; i < files[0].size(); ++i) {
            EXPECT_EQ(files[0][i].ullStart, files[1][i].ullStart) << i;
            EXPECT_EQ(files[0][i].ullSize, files[1][i].ullSize) << i;
        }
    }
}
