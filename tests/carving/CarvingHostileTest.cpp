// Disks on which every sector is a hit: each sector starts with one format's header and the rest
// is random bytes. Measuring the hits must cost reads that grow with the disk, not with hits x
// disk; a counting device shows the bytes each hit costs.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "AnalyserTestSupport.h"
#include "CarvingTestSupport.h"
#include "DocumentAnalysers.h"
#include "DrawingAnalysers.h"
#include "ImageAnalysers.h"
#include "AudioVideoAnalysers.h"
#include "ArchiveAnalysers.h"

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
