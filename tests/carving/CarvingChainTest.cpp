// Hits lying on a chain of records another hit walked (every member header of a TAR archive is a
// TAR hit) share that walk: their sizes are those of a walk from each hit alone, in any order and
// however the walk was cut, and the reads grow with the archive, not with members x archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "AnalyserTestSupport.h"
#include "ArchiveAnalysers.h"
#include "CarvingChainMemo.h"
#include "CarvingTestSupport.h"
#include "DataRunList.h"
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

// The sectors of the image that the TAR header test takes.
std::vector<uint64_t> TarHits(const std::vector<uint8_t>& image)
{
    FileTARAnalyser analyser;
    std::vector<uint64_t> hits;
    for (size_t s = 0; s + 1 <= image.size() / 512; ++s) {
        CRawFileInfo info;
        if (analyser.AnalyzeFileHeader(image.data() + s * 512, &info))
            hits.push_back(s);
    }
    return hits;
}

typedef std::vector<std::pair<BOOL, uint64_t>> SIZES;

// Measures the hits in the given order with one analyser, inside a session of the memo or not;
// the sizes come back in the order of hits.
SIZES MeasureHits(CCarvingMemoryDevice& device, const std::vector<uint64_t>& hits, const std::vector<size_t>& order,
                  bool bSession)
{
    FileTARAnalyser analyser;
    CCarvingChainSession session(bSession ? &device : nullptr, CCarvingChainSession::NewKey());
    SIZES sizes(hits.size());
    for (size_t i : order) {
        CRawFileInfo info;
        info.SetStartSector(hits[i]);
        const BOOL bOk = analyser.AnalyzeFileSize(&info, &device);
        sizes[i] = {bOk, info.GetSize()};
    }
    return sizes;
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

TEST(CarvingChains, TarSizesAreThoseOfAWalkFromEachHit)
{
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("carving-chains.img"));
    ASSERT_GT(image.size(), 1000000u);
    const std::vector<uint64_t> hits = TarHits(image);
    // 600 + 40 + 120 members, the inner archive's own member header among them.
    ASSERT_GT(hits.size(), 760u);

    struct CASE {
        const char* pszWhat;
        size_t nDeviceBytes;  // 0: the whole image
        int64_t llLimit;
        ORDER order;
    };
    const size_t nHalf = image.size() / 2 / 512 * 512;
    const CASE cases[] = {
        {"whole image", 0, 50000000, ASCENDING},
        {"limit below the outer archive's length", 0, 100000, ASCENDING},
        {"limit not a multiple of a sector", 0, 77777, ASCENDING},
        {"limit of one sector", 0, 512, ASCENDING},
        {"device ends inside the outer archive", nHalf, 50000000, ASCENDING},
        {"device ends inside, with a limit", nHalf, 100000, ASCENDING},
        {"device ends one sector into the archive", 17 * 512, 50000000, ASCENDING},
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
        const SIZES plain = MeasureHits(device, caseHits, order, false);
        const SIZES shared = MeasureHits(device, caseHits, order, true);
        ASSERT_EQ(plain.size(), shared.size());
        for (size_t i = 0; i < plain.size(); ++i) {
            EXPECT_EQ(plain[i], shared[i]) << "hit at sector " << caseHits[i];
            if (plain[i] != shared[i])
                break;
        }
    }
}

TEST(CarvingChains, TarReadsGrowWithTheArchiveNotWithMembersTimesArchive)
{
    CAnalyserSizeLimit limit(50000000);
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("carving-chains.img"));
    const std::vector<uint64_t> hits = TarHits(image);
    const std::vector<size_t> order = Order(hits.size(), ASCENDING);
    CCarvingMemoryDevice plainDevice(image);
    MeasureHits(plainDevice, hits, order, false);
    CCarvingMemoryDevice sharedDevice(image);
    MeasureHits(sharedDevice, hits, order, true);
    // Three archive chains (the outer, the one inside it, the second), each read once window by
    // window; a handful of stray hits (none here) would add one read each.
    const int nWindows = static_cast<int>(image.size() / SectorWindowReader::WINDOW_BYTES) + 1;
    EXPECT_LE(sharedDevice.m_nReads, 3 * nWindows);
    // Walked from each hit, every member reads at least its own window.
    EXPECT_GE(plainDevice.m_nReads, static_cast<int>(hits.size()));
}

namespace {

// Carving of TAR files only, for one test; the memo switched off when asked.
class ChainScanSettings {
public:
    ChainScanSettings(int64_t llLimit, bool bMemo) : m_Saved(*GetEngineSettings())
    {
        CGlobalAdvanceSettingData* p = GetEngineSettings();
        p->m_bScanRaw = 1;
        p->m_llRawFileSize = llLimit;
        p->m_vecRawTypes = {59};
        CCarvingChainSession::SetDisabled(!bMemo);
    }
    ~ChainScanSettings()
    {
        CCarvingChainSession::SetDisabled(false);
        CGlobalAdvanceSettingData* p = GetEngineSettings();
        p->m_bScanRaw = m_Saved.m_bScanRaw;
        p->m_llRawFileSize = m_Saved.m_llRawFileSize;
        p->m_vecRawTypes = m_Saved.m_vecRawTypes;
    }

private:
    CGlobalAdvanceSettingData m_Saved;
};

void CollectSizes(CFileNode* pNode, std::vector<std::pair<uint64_t, uint64_t>>& out)
{
    for (CFileNode* pChild = pNode->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling()) {
        IFileProperties* p = pChild->GetProperties();
        if (p->GetAttributes() & 0x10) {
            CollectSizes(pChild, out);
            continue;
        }
        IDataRunList* pRuns = p->GetDataRunList();
        DATA_RUN* pRun = pRuns != nullptr ? pRuns->GetFirstRun() : nullptr;
        out.push_back({pRun != nullptr ? pRun->ullStart : ~0ull, p->GetSize()});
        delete pRuns;
    }
}

void DeleteTree(CFileNode* pNode)
{
    CFileNode* pChild = pNode->GetFirstChild();
    while (pChild != nullptr) {
        CFileNode* pNext = pChild->GetNextSibling();
        DeleteTree(pChild);
        pChild = pNext;
    }
    delete pNode->GetProperties();
    DestroyFileNode(pNode);
}

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
    CRAWSearchController controller;
    controller.SetRawFileInfoContainer(&container);
    controller.SetStorageDevice(&device);
    controller.SetSectorsPerRead(nPerRead);
    controller.BeginSearch();
    const uint64_t ullTotal = device.GetTotalSectors();
    for (uint64_t s = 0; s < ullTotal; s += nPerRead)
        controller.SearchSectors(s, std::min<uint64_t>(nPerRead, ullTotal - s), &statistics);
    controller.EndSearch();
    IIterator<CRawFileInfo*>* pIterator = container.GetIterator();
    for (pIterator->First(); !pIterator->IsDone(); pIterator->Next())
        result.scanned.push_back({pIterator->CurrentItem()->GetStartSector(), pIterator->CurrentItem()->GetSize()});
    device.m_nReads = 0;
    CRAWTreeBuilder builder;
    CFileSystemNode* pRoot = builder.BuildTree(&device, container.GetIterator(), nullptr, 0);
    result.nBuildReads = device.m_nReads;
    if (pRoot != nullptr) {
        CollectSizes(pRoot, result.built);
        DeleteTree(pRoot);
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
        EXPECT_EQ(plain.built.size(), plain.scanned.size());
        // The hits the scan left unmeasured share their walks on the device too: without a limit
        // cutting them, each archive is read once.
        if (static_cast<uint64_t>(c.llLimit) > image.size()) {
            EXPECT_LE(shared.nBuildReads, 3 * (static_cast<int>(image.size() / SectorWindowReader::WINDOW_BYTES) + 1));
        }
    }
}
