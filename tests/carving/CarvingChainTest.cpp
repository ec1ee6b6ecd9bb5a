// Hits lying on a chain of records another hit walked (every member header of a TAR archive is a
// TAR hit; a ZIP, LHA or QuickTime record that starts a sector is a hit too) share that walk, and
// hits in a stretch that a footer search covered share that search: their sizes are those of a
// walk or search from each hit alone, in any order and however it was cut, and the reads grow
// with the archive, not with members x archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <memory>
#include <utility>
#include <vector>

#include "AnalyserTestSupport.h"
#include "ArchiveAnalysers.h"
#include "AudioVideoAnalysers.h"
#include "DrawingAnalysers.h"
#include "WebFontAnalysers.h"
#include "CarvingChainMemo.h"
#include "CarvingTestSupport.h"
#include "DataRunList.h"
#include "Delvar.h"
#include "EngineSettings.h"
#include "FileNode.h"
#include "FileSystemNode.h"
#include "GlobalAdvanceSettingData.h"
#include "RAWSearchController.h"
#include "RAWTreeBuilder.h"
#include "RawFileInfo.h"
#include "SearchStatistics.h"
#include "SectorWindowReader.h"
#include "TestSupport.h"

namespace {

typedef IRawFileAnalyser* (*PFN_NEW_ANALYSER)();

struct FORMAT {
    const char* pszName;
    PFN_NEW_ANALYSER pfnNew;
    const char* pszFooter;  // what its length rule searches for (any letter case); null for a chain
};

// The formats whose records can be hits of their own, each with an archive of such records in
// the fixture (and a package part in the middle of the ZIP), and two whose footer searches from
// hits in successive sectors overlap.
const FORMAT s_Formats[] = {
    {"TAR", [] { return static_cast<IRawFileAnalyser*>(new FileTARAnalyser); }, nullptr},
    {"ZIP", [] { return static_cast<IRawFileAnalyser*>(new FileZIPAnalyser); }, nullptr},
    {"LZH", [] { return static_cast<IRawFileAnalyser*>(new FileLZHAnalyser); }, nullptr},
    {"MOV", [] { return static_cast<IRawFileAnalyser*>(new FileMOVAnalyser); }, nullptr},
    {"HTM", [] { return static_cast<IRawFileAnalyser*>(new FileHTMAnalyser); }, "</html>"},
    {"DXF", [] { return static_cast<IRawFileAnalyser*>(new FileDXFAnalyser); }, "EOF\r\n"},
};

// The sectors of the image that the format's header test takes.
std::vector<uint64_t> Hits(const FORMAT& format, const std::vector<uint8_t>& image)
{
    std::unique_ptr<IRawFileAnalyser> pAnalyser(format.pfnNew());
    std::vector<uint64_t> hits;
    for (size_t s = 0; s + 1 <= image.size() / 512; ++s) {
        CRawFileInfo info;
        if (pAnalyser->AnalyzeFileHeader(image.data() + s * 512, &info))
            hits.push_back(s);
    }
    return hits;
}

struct MEASURED {
    BOOL bOk;
    uint64_t ullSize;
    int32_t nType;
    bool operator==(const MEASURED& o) const { return bOk == o.bOk && ullSize == o.ullSize && nType == o.nType; }
};

// Measures the hits in the given order with one analyser, inside a session of the memo or not;
// the results come back in the order of hits.
std::vector<MEASURED> MeasureHits(const FORMAT& format, CCarvingMemoryDevice& device, const std::vector<uint64_t>& hits,
                                  const std::vector<size_t>& order, bool bSession)
{
    std::unique_ptr<IRawFileAnalyser> pAnalyser(format.pfnNew());
    CCarvingChainSession session(bSession ? &device : nullptr, CCarvingChainSession::NewKey());
    std::vector<MEASURED> results(hits.size());
    for (size_t i : order) {
        CRawFileInfo info;
        std::vector<uint8_t> first(512, 0);
        const size_t nAt = static_cast<size_t>(hits[i] * 512);
        std::copy(device.m_Bytes.begin() + nAt, device.m_Bytes.begin() + nAt + 512, first.begin());
        pAnalyser->AnalyzeFileHeader(first.data(), &info);
        info.SetStartSector(hits[i]);
        const BOOL bOk = pAnalyser->AnalyzeFileSize(&info, &device);
        results[i] = {bOk, info.GetSize(), info.GetType()};
    }
    return results;
}

enum ORDER { ASCENDING, DESCENDING, RETRIED };

std::vector<size_t> Order(size_t nHits, ORDER order)
{
    std::vector<size_t> out;
    for (size_t i = 0; i < nHits; ++i)
        out.push_back(i);
    if (order == DESCENDING)
        std::reverse(out.begin(), out.end());
    if (order == RETRIED) {
        // As the scan retries: every hit, then every hit again from a few back.
        std::vector<size_t> again;
        for (size_t i = 0; i < nHits; ++i) {
            again.push_back(i);
            if (i % 7 == 6)
                again.insert(again.end(), out.begin() + (i - 6), out.begin() + (i - 2));
        }
        out = again;
    }
    return out;
}

} // namespace

TEST(CarvingChains, SizesAreThoseOfAWalkFromEachHit)
{
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("carving-chains.img"));
    ASSERT_GT(image.size(), 1000000u);
    for (const FORMAT& format : s_Formats) {
        SCOPED_TRACE(format.pszName);
        const std::vector<uint64_t> hits = Hits(format, image);
        ASSERT_GT(hits.size(), 80u);
        // The device ends in the middle of the format's archive, or inside its first record.
        const size_t nHalf = static_cast<size_t>((hits.front() + hits.back()) / 2 * 512 + 512);
        const size_t nFirst = static_cast<size_t>(hits.front() * 512 + 512);
        struct CASE {
            const char* pszWhat;
            size_t nDeviceBytes;  // 0: the whole image
            int64_t llLimit;
            ORDER order;
        };
        const CASE cases[] = {
            {"whole image", 0, 50000000, ASCENDING},
            {"limit below the archive's length", 0, 100000, ASCENDING},
            {"limit not a multiple of a sector", 0, 77777, ASCENDING},
            {"limit of one sector", 0, 512, ASCENDING},
            {"device ends inside the archive", nHalf, 50000000, ASCENDING},
            {"device ends inside, with a limit", nHalf, 100000, ASCENDING},
            {"device ends with the first record's sector", nFirst, 50000000, ASCENDING},
            {"hits measured last to first", 0, 100000, DESCENDING},
            {"hits measured again as the scan retries them", nHalf, 100000, RETRIED},
        };
        for (const CASE& c : cases) {
            SCOPED_TRACE(c.pszWhat);
            CAnalyserSizeLimit limit(c.llLimit);
            std::vector<uint8_t> bytes = image;
            if (c.nDeviceBytes != 0)
                bytes.resize(c.nDeviceBytes);
            std::vector<uint64_t> caseHits;
            for (uint64_t s : hits) {
                if (s < bytes.size() / 512)
                    caseHits.push_back(s);
            }
            CCarvingMemoryDevice device(bytes);
            const std::vector<size_t> order = Order(caseHits.size(), c.order);
            const std::vector<MEASURED> plain = MeasureHits(format, device, caseHits, order, false);
            const std::vector<MEASURED> shared = MeasureHits(format, device, caseHits, order, true);
            ASSERT_EQ(plain.size(), shared.size());
            for (size_t i = 0; i < plain.size(); ++i) {
                EXPECT_TRUE(plain[i] == shared[i])
                    << "hit at sector " << caseHits[i] << ": " << plain[i].bOk << " " << plain[i].ullSize << " type "
                    << plain[i].nType << " walked alone, " << shared[i].bOk << " " << shared[i].ullSize << " type "
                    << shared[i].nType << " shared";
                if (!(plain[i] == shared[i]))
                    break;
            }
        }
    }
}

namespace {

// The sector boundaries at which the device may end: in the middle of the format's hits, and for
// a footer search, across each footer that straddles a sector boundary (a search from a hit
// before it cannot read that footer whole there).
std::vector<size_t> DeviceCuts(const FORMAT& format, const std::vector<uint8_t>& image, const std::vector<uint64_t>& hits)
{
    std::vector<size_t> cuts = {static_cast<size_t>((hits.front() + hits.back()) / 2 * 512 + 512)};
    if (format.pszFooter == nullptr)
        return cuts;
    const std::string strFooter = format.pszFooter;
    for (size_t i = 0; i + strFooter.size() <= image.size(); ++i) {
        size_t k = 0;
        while (k < strFooter.size() && tolower(image[i + k]) == tolower(strFooter[k]))
            ++k;
        if (k == strFooter.size() && i / 512 != (i + k - 1) / 512)
            cuts.push_back((i / 512 + 1) * 512);
    }
    return cuts;
}

} // namespace

TEST(CarvingChains, WalksCutByTheDevicesEndCarryOnWhenItReachesFurther)
{
    // As in the scan, where a later hit's view of the runs reaches further than an earlier one's:
    // the hits before a cut are measured while the device ends there, then every hit with the
    // whole image, all in one session; the later answers must be those of plain walks.
    CAnalyserSizeLimit limit(50000000);
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("carving-chains.img"));
    for (const FORMAT& format : s_Formats) {
        SCOPED_TRACE(format.pszName);
        const std::vector<uint64_t> hits = Hits(format, image);
        const std::vector<size_t> cuts = DeviceCuts(format, image, hits);
        if (format.pszFooter != nullptr) {
            EXPECT_GE(cuts.size(), 2u);
        }
        CCarvingMemoryDevice whole(image);
        const std::vector<MEASURED> plain = MeasureHits(format, whole, hits, Order(hits.size(), ASCENDING), false);
        for (size_t nCut : cuts) {
            SCOPED_TRACE(testing::Message() << "device ends at byte " << nCut);
            std::unique_ptr<IRawFileAnalyser> pAnalyser(format.pfnNew());
            CCarvingMemoryDevice device(std::vector<uint8_t>(image.begin(), image.begin() + nCut));
            CCarvingChainSession session(&device, CCarvingChainSession::NewKey());
            for (uint64_t s : hits) {
                if (s < nCut / 512) {
                    CRawFileInfo info;
                    info.SetStartSector(s);
                    pAnalyser->AnalyzeFileSize(&info, &device);
                }
            }
            device.m_Bytes = image;
            for (size_t i = 0; i < hits.size(); ++i) {
                CRawFileInfo info;
                pAnalyser->AnalyzeFileHeader(image.data() + hits[i] * 512, &info);
                info.SetStartSector(hits[i]);
                const BOOL bOk = pAnalyser->AnalyzeFileSize(&info, &device);
                const MEASURED shared = {bOk, info.GetSize(), info.GetType()};
                EXPECT_TRUE(plain[i] == shared) << "hit at sector " << hits[i] << ": " << plain[i].ullSize << " alone, "
                                                << shared.ullSize << " shared";
                if (!(plain[i] == shared))
                    break;
            }
        }
    }
}

TEST(CarvingChains, ReadsGrowWithTheArchiveNotWithMembersTimesArchive)
{
    CAnalyserSizeLimit limit(50000000);
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("carving-chains.img"));
    const int nWindows = WindowReaderWalkReads(image.size());
    for (const FORMAT& format : s_Formats) {
        SCOPED_TRACE(format.pszName);
        const std::vector<uint64_t> hits = Hits(format, image);
        const std::vector<size_t> order = Order(hits.size(), ASCENDING);
        CCarvingMemoryDevice plainDevice(image);
        MeasureHits(format, plainDevice, hits, order, false);
        CCarvingMemoryDevice sharedDevice(image);
        MeasureHits(format, sharedDevice, hits, order, true);
        if (format.pszFooter == nullptr) {
            // Each chain read once, window by window: the three TAR archives (the outer, the one
            // inside it, the second); the ZIP's package part walks on its own.
            EXPECT_LE(sharedDevice.m_nReads, 3 * nWindows + 2);
            // Walked from each hit, every record reads at least its own window.
            EXPECT_GE(plainDevice.m_nReads, static_cast<int>(hits.size()));
        }
        // Walked from each hit, the bytes up to the archive's end are read again and again; the
        // footers here lie close to the pages, so searching from each hit reads less again.
        if (format.pszFooter == nullptr) {
            EXPECT_GT(plainDevice.m_ullBytesRead, 10 * sharedDevice.m_ullBytesRead);
        } else {
            EXPECT_GT(plainDevice.m_ullBytesRead, 2 * sharedDevice.m_ullBytesRead);
        }
    }
}

namespace {

// Carving of TAR, ZIP, LZH and MOV files only, for one test; the memo switched off when asked.
class ChainScanSettings {
public:
    ChainScanSettings(int64_t llLimit, bool bMemo) : m_Settings({59, 68, 34, 40}, llLimit)
    {
        CCarvingChainSession::SetDisabled(!bMemo);
    }
    ~ChainScanSettings() { CCarvingChainSession::SetDisabled(false); }

private:
    CCarvingSettings m_Settings;
};

struct CHAIN_SCAN {
    std::vector<std::pair<uint64_t, uint64_t>> scanned;  // start sector, size after the scan
    std::vector<std::pair<uint64_t, uint64_t>> built;    // start sector, size in the tree
    int nBuildReads = 0;
};

// The block scan in runs of nPerRead sectors, then the tree of carved files.
CHAIN_SCAN ScanAndBuild(const std::vector<uint8_t>& image, int32_t nPerRead)
{
    CHAIN_SCAN result;
    CCarvingMemoryDevice device(image);
    CRawFileInfoContainer container;
    SEARCH_STATISTICS statistics = {};
    ScanBlocks(device, nPerRead, container, statistics);
    IIterator<CRawFileInfo*>* pIterator = container.GetIterator();
    for (pIterator->First(); !pIterator->IsDone(); pIterator->Next())
        result.scanned.push_back({pIterator->CurrentItem()->GetStartSector(), pIterator->CurrentItem()->GetSize()});
    device.m_nReads = 0;
    CRAWTreeBuilder builder;
    CFileSystemNode* pRoot = builder.BuildTree(&device, container.GetIterator(), nullptr, 0);
    result.nBuildReads = device.m_nReads;
    if (pRoot != nullptr) {
        for (const CARVED_FILE& file : CarvedFiles(pRoot))
            result.built.push_back({file.ullStart, file.ullSize});
        DeleteFileTree(pRoot);
    }
    std::sort(result.built.begin(), result.built.end());
    return result;
}

} // namespace

TEST(CarvingChains, ScanAndTreeGiveTheSizesOfPlainWalks)
{
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("carving-chains.img"));
    struct CASE {
        int32_t nPerRead;  // the ring holds 20 runs: 16 sectors cut every archive, 1024 none
        int64_t llLimit;
    };
    const CASE cases[] = {{16, 50000000}, {16, 100000}, {61, 300000}, {1024, 50000000}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nPerRead << " sectors a run, limit " << c.llLimit);
        CHAIN_SCAN plain, shared;
        {
            ChainScanSettings settings(c.llLimit, false);
            plain = ScanAndBuild(image, c.nPerRead);
        }
        {
            ChainScanSettings settings(c.llLimit, true);
            shared = ScanAndBuild(image, c.nPerRead);
        }
        ASSERT_GT(plain.scanned.size(), 760u);
        EXPECT_EQ(plain.scanned, shared.scanned);
        EXPECT_EQ(plain.built, shared.built);
        // The hits the scan left unmeasured share their walks on the device too: without a limit
        // cutting them, each of the six archives is read once (and the ZIP's package part).
        if (static_cast<uint64_t>(c.llLimit) > image.size()) {
            EXPECT_LE(shared.nBuildReads, 6 * WindowReaderWalkReads(image.size()) + 1);
            EXPECT_GT(plain.nBuildReads, 4 * shared.nBuildReads);
        }
    }
}
