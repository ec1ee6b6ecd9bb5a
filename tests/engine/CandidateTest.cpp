// Partition candidates, carved-file records and their container, and the controller
// interface's defaults.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FileSystemSearchController.h"
#include "MemoryDataStream.h"
#include "RawFileInfo.h"
#include "SearchedPartitionInfo.h"

TEST(CandidateTestRecord, FreshCandidateSavesAs69Bytes)
{
    CSearchedPartitionInfo candidate;
    EXPECT_EQ(candidate.GetType(), 3);
    CMemoryDataStream stream;
    ASSERT_TRUE(candidate.Save(&stream));
    std::vector<uint8_t> expected(69, 0);
    expected[0] = 7;  // kind unknown
    expected[49] = 1; // confidence
    EXPECT_EQ(stream.GetData(), expected);
}

TEST(CandidateTestRecord, SaveAndLoadReproduceEveryFieldAndTheScoresBits)
{
    CSearchedPartitionInfo a;
    a.m_nFileSystemKind = 2;
    a.m_bySectorsPerCluster = 64;
    a.m_ullEvidenceSector = 0x1122334455667788ull;
    a.m_ullStartSector = 2048;
    a.m_ullRawFileMatches = 17;
    a.m_ullRecordMatches = 3;
    a.m_nExtra = -5;
    a.m_ullSectorCount = 0xFFFFFFFFFFull;
    a.m_ullConfidence = 90;
    a.m_dScore = 0.1 + 0.2; // not exactly 0.3: every bit must come back
    a.m_nSelected = 1;
    CMemoryDataStream stream;
    ASSERT_TRUE(a.Save(&stream));
    const std::vector<uint8_t>& b = stream.GetData();
    ASSERT_EQ(b.size(), 69u);
    EXPECT_EQ(b[4], 64);
    EXPECT_EQ(b[5], 0x88);
    EXPECT_EQ(b[37], 0xFB); // m_nExtra, -5
    EXPECT_EQ(b[65], 1);

    CSearchedPartitionInfo c;
    ASSERT_TRUE(c.Load(&stream));
    EXPECT_EQ(c.m_nFileSystemKind, 2);
    EXPECT_EQ(c.m_bySectorsPerCluster, 64);
    EXPECT_EQ(c.m_ullEvidenceSector, a.m_ullEvidenceSector);
    EXPECT_EQ(c.m_ullStartSector, 2048u);
    EXPECT_EQ(c.m_ullRawFileMatches, 17u);
    EXPECT_EQ(c.m_ullRecordMatches, 3u);
    EXPECT_EQ(c.m_nExtra, -5);
    EXPECT_EQ(c.m_ullSectorCount, a.m_ullSectorCount);
    EXPECT_EQ(c.m_ullConfidence, 90u);
    EXPECT_EQ(std::memcmp(&c.m_dScore, &a.m_dScore, 8), 0);
    EXPECT_EQ(c.m_nSelected, 1);

    // Short records leave the candidate as it was.
    for (size_t n = 0; n < b.size(); ++n) {
        CMemoryDataStream cut(b.data(), n);
        CSearchedPartitionInfo d;
        EXPECT_FALSE(d.Load(&cut)) << n;
        EXPECT_EQ(d.m_nFileSystemKind, 7);
        EXPECT_EQ(d.m_ullConfidence, 1u);
    }
}

TEST(CandidateTestRecord, ScoreOrderingIsHighestFirst)
{
    CSearchedPartitionInfo low, high;
    low.m_dScore = 0.2;
    high.m_dScore = 0.9;
    CandidateScoreGreater greater;
    EXPECT_TRUE(greater(&high, &low));
    EXPECT_FALSE(greater(&low, &high));
    EXPECT_FALSE(greater(&low, &low));
}

TEST(CandidateTestCarved, RecordDefaults)
{
    CRawFileInfo info;
    EXPECT_EQ(info.GetStartSector(), 0u);
    EXPECT_EQ(info.GetSize(), 0u);
    EXPECT_EQ(info.GetType(), 0);
    EXPECT_EQ(info.GetGroup(), 0xFFFF);
    EXPECT_EQ(info.GetAnalyser(), nullptr);
}

TEST(CandidateTestCarved, ContainerListsEveryRecordAndIndexesTheFirstPerSector)
{
    CRawFileInfoContainer container;
    IIterator<CRawFileInfo*>* pIt = container.GetIterator();
    pIt->First();
    EXPECT_TRUE(pIt->IsDone());
    EXPECT_EQ(pIt->CurrentItem(), nullptr);

    const uint64_t sectors[] = {500, 100, 500, 300};
    std::vector<CRawFileInfo*> added;
    for (int i = 0; i < 4; ++i) {
        CRawFileInfo* p = new CRawFileInfo();
        p->SetStartSector(sectors[i]);
        p->SetType(i + 1);
        container.AddFile(p);
        added.push_back(p);
    }
    container.AddFile(nullptr);
    EXPECT_EQ(container.GetCount(), 4u);

    std::vector<CRawFileInfo*> walked;
    for (pIt->First(); !pIt->IsDone(); pIt->Next())
        walked.push_back(pIt->CurrentItem());
    EXPECT_EQ(walked, added) << "in the order added, duplicates included";

    EXPECT_EQ(container.FindByStartSector(500), added[0]);
    EXPECT_EQ(container.FindByStartSector(100), added[1]);
    EXPECT_EQ(container.FindByStartSector(300), added[3]);
    EXPECT_EQ(container.FindByStartSector(301), nullptr);
    EXPECT_EQ(container.GetIterator(), pIt);
}

namespace {

// A controller that implements only what the interface leaves open.
class CMinimalController : public IFileSystemSearchController {
public:
    void SetStorageDevice(IStorageDevice*) override {}
    void SetSectorsPerRead(int32_t) override {}
    void BeginSearch() override {}
    int32_t SearchSectors(uint64_t, uint64_t, SEARCH_STATISTICS*) override { return 1; }
    void CollectSearchedPartitions(CSearchedPartitionInfoList*) override {}
    void SetRawFileInfoContainer(CRawFileInfoContainer*) override {}
    BOOL SaveState(IDataStream*) override { return TRUE; }
    BOOL LoadState(IDataStream*) override { return TRUE; }
    int32_t GetControllerType() override { return SEARCH_CONTROLLER_RAW; }
};

} // namespace

TEST(CandidateTestController, InterfaceDefaultsBuildNothingAndAcceptNoFileSystem)
{
    IFileSystemSearchController* p = new CMinimalController();
    p->SetProgress(nullptr, nullptr);
    p->EndSearch();
    CSearchedPartitionInfo candidate;
    EXPECT_EQ(p->BuildFileTree(&candidate, nullptr, 0, 0), nullptr);
    for (int32_t nKind = 0; nKind <= 7; ++nKind)
        EXPECT_FALSE(p->IsSupportedFileSystem(nKind)) << nKind;
    CSearchedPartitionInfoList list;
    p->CollectSearchedPartitions(&list);
    EXPECT_TRUE(list.empty());
    delete p;
}
