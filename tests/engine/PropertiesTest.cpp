// Data-run lists and their packed mapping-pair form: encoder and decoder, the stored layouts,
// and damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "MemoryDataStream.h"
#include "ModelTestSupport.h"

namespace {

typedef std::vector<uint8_t> Bytes;

std::vector<DATA_RUN> Runs(IDataRunList* pList)
{
    std::vector<DATA_RUN> runs;
    for (DATA_RUN* p = pList->GetFirstRun(); p != nullptr; p = pList->GetNextRun())
        runs.push_back(*p);
    return runs;
}

Bytes Encode(IDataRunList* pList)
{
    uint32_t nLength = 0;
    uint8_t* p = EncodeDataRuns(pList, &nLength);
    Bytes bytes;
    if (p)
        bytes.assign(p, p + nLength);
    FreeBuffer(p);
    return bytes;
}

std::vector<DATA_RUN> Decode(const Bytes& bytes, BOOL* pbClean = nullptr)
{
    CNoneResidentNTFSDataRunList list;
    BOOL bClean = DecodeDataRuns(&list, bytes.data(), bytes.size());
    if (pbClean)
        *pbClean = bClean;
    return Runs(&list);
}

const uint64_t SPARSE = DATA_RUN_SPARSE_START;

} // namespace

TEST(PropertiesTestPacking, GoldenEncodingOfTwoRuns)
{
    CFATDataRunList list;
    list.AppendRun(DATA_RUN(100, 8));
    list.AppendRun(DATA_RUN(40, 300));
    const Bytes expected = {0x11, 0x08, 0x64, 0x12, 0x2C, 0x01, 0xC4, 0x00};
    EXPECT_EQ(Encode(&list), expected);
    EXPECT_EQ(Decode(expected), (std::vector<DATA_RUN>{{100, 8}, {40, 300}}));
}

TEST(PropertiesTestPacking, SparseRunsAndByteCounts)
{
    // A hole between two runs: header with offset count 0, and the run after the hole is
    // relative to the run before it.
    CNoneResidentNTFSDataRunList list;
    list.AddRun(DATA_RUN(1000, 4));
    list.AddRun(DATA_RUN(SPARSE, 16));
    list.AddRun(DATA_RUN(1010, 128));
    const Bytes encoded = Encode(&list);
    const Bytes expected = {0x21, 0x04, 0xE8, 0x03, 0x01, 0x10, 0x12, 0x80, 0x00, 0x0A, 0x00};
    EXPECT_EQ(encoded, expected) << "length 128 needs two bytes";
    EXPECT_EQ(Decode(encoded), Runs(&list));

    struct { int64_t v; uint8_t n; } cases[] = {
        {0, 1}, {127, 1}, {128, 2}, {-128, 1}, {-129, 2}, {32767, 2}, {32768, 3},
        {-8388608, 3}, {INT64_MAX, 8}, {INT64_MIN, 8}, {(int64_t(1) << 55) - 1, 7}, {int64_t(1) << 55, 8},
    };
    for (auto& c : cases)
        EXPECT_EQ(SignedByteCount(c.v), c.n) << c.v;
}

TEST(PropertiesTestPacking, DecoderSignExtendsOffsets)
{
    // A 3-byte offset whose top bit alone is set is -8388608.
    EXPECT_EQ(Decode({0x41, 0x01, 0x00, 0x00, 0x90, 0x00, 0x31, 0x01, 0x00, 0x00, 0x80, 0x00}),
              (std::vector<DATA_RUN>{{0x900000, 1}, {0x100000, 1}}));
    // A negative delta that goes below the start wraps round as 64-bit arithmetic; such a
    // run is the consumer's to reject against the volume size.
    std::vector<DATA_RUN> runs = Decode({0x11, 0x01, 0x05, 0x11, 0x01, 0xF0, 0x00});
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].ullStart, uint64_t(5 - 16));
}

TEST(PropertiesTestPacking, DecoderNeverReadsPastItsInput)
{
    struct { Bytes in; std::vector<DATA_RUN> out; bool bClean; } cases[] = {
        {{}, {}, true},
        {{0x00, 0x11, 0x01, 0x01}, {}, true},                     // ends at the first 0 header
        {{0x11, 0x08, 0x64}, {{100, 8}}, true},                    // ends exactly at the input end
        {{0x11, 0x08, 0x64, 0x21, 0x05, 0x10}, {{100, 8}}, false},  // second pair cut mid-offset
        {{0x11, 0x08, 0x64, 0x18, 0x01, 0x02}, {{100, 8}}, false},  // 8 length bytes promised, 2 there
        {{0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x00}, {}, false},   // 9 length bytes cannot fit a field
        {{0x91, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x00}, {}, false},   // 9 offset bytes likewise
        {{0x10, 0x05, 0x11, 0x03, 0x02, 0x00}, {{5, 0}, {7, 3}}, true}, // no length bytes: a 0-length run
        {{0x01, 0x07, 0x00}, {{SPARSE, 7}}, true},                 // only a hole
    };
    for (auto& c : cases) {
        // Copy into an exact-size heap block so that a read past the end is caught by the
        // sanitisers, not just by the result.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[c.in.size()]);
        if (!c.in.empty())
            std::memcpy(exact.get(), c.in.data(), c.in.size());
        CNoneResidentNTFSDataRunList list;
        BOOL bClean = DecodeDataRuns(&list, exact.get(), c.in.size());
        EXPECT_EQ(Runs(&list), c.out) << ::testing::PrintToString(c.in);
        EXPECT_EQ(bClean != FALSE, c.bClean) << ::testing::PrintToString(c.in);
    }
}

TEST(PropertiesTestPacking, RandomListsSurviveEncodeAndDecode)
{
    std::mt19937_64 rng(20240611);
    for (int round = 0; round < 2000; ++round) {
        CNoneResidentNTFSDataRunList list;
        int nRuns = 1 + int(rng() % 12);
        for (int i = 0; i < nRuns; ++i) {
            uint64_t ullStart;
            switch (rng() % 4) {
            case 0: ullStart = SPARSE; break;
            case 1: ullStart = rng() % 256; break;
            case 2: ullStart = rng() >> (rng() % 64); break;
            default: ullStart = rng(); break;
            }
            uint64_t ullLength = rng() >> (rng() % 64);
            list.AddRun(DATA_RUN(ullStart, ullLength));
        }
        ASSERT_EQ(Decode(Encode(&list)), Runs(&list)) << "round " << round;
    }
}

TEST(PropertiesTestLists, AddRunMergesByTheListsOwnRule)
{
    CExt2DataRunList ext2;
    ext2.AddRun(DATA_RUN(0, 2));
    ext2.AddRun(DATA_RUN(0, 3)); // two holes
    ext2.AddRun(DATA_RUN(50, 1));
    ext2.AddRun(DATA_RUN(51, 1));
    EXPECT_EQ(Runs(&ext2), (std::vector<DATA_RUN>{{0, 5}, {50, 2}}));
    EXPECT_EQ(ext2.GetType(), 4);

    CFATDataRunList fat;
    fat.AddRun(DATA_RUN(10, 2));
    fat.AddRun(DATA_RUN(12, 4));
    fat.AddRun(DATA_RUN(0, 1));
    fat.AddRun(DATA_RUN(0, 1)); // FAT lists do not merge holes
    EXPECT_EQ(Runs(&fat), (std::vector<DATA_RUN>{{10, 6}, {0, 1}, {0, 1}}));
    CFATDataRunList fatNegative;
    fatNegative.AddRun(DATA_RUN(SPARSE - 1, 1));
    fatNegative.AddRun(DATA_RUN(SPARSE, 1));
    EXPECT_EQ(fatNegative.GetRunCount(), 2u) << "a negative start never merges";

    CNoneResidentNTFSDataRunList ntfs;
    ntfs.AddRun(DATA_RUN(10, 2));
    ntfs.AddRun(DATA_RUN(12, 2));
    EXPECT_EQ(ntfs.GetRunCount(), 2u);

    CRAWDataRunList raw;
    raw.AddRun(7, 3);
    EXPECT_EQ(Runs(&raw), (std::vector<DATA_RUN>{{7, 3}}));
    EXPECT_EQ(raw.GetType(), 3);
    EXPECT_EQ(fat.GetType(), 0);
    EXPECT_EQ(ntfs.GetType(), 2);
}

TEST(PropertiesTestLists, WalkOverAnEmptyAndAFilledList)
{
    CRAWDataRunList list;
    EXPECT_EQ(list.GetFirstRun(), nullptr);
    EXPECT_TRUE(list.IsEnd());
    list.AddRun(1, 1);
    list.AddRun(5, 1);
    EXPECT_FALSE(list.IsEnd());
    DATA_RUN* p = list.GetFirstRun();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->ullStart, 1u);
    p = list.GetNextRun();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->ullStart, 5u);
    EXPECT_EQ(list.GetNextRun(), nullptr);
    EXPECT_TRUE(list.IsEnd());
    EXPECT_EQ(list.GetNextRun(), nullptr);
}

TEST(PropertiesTestLists, ListRecordsRoundTripAndLoadAppends)
{
    CNoneResidentNTFSDataRunList list;
    list.AddRun(DATA_RUN(123456789012ull, 77));
    list.AddRun(DATA_RUN(SPARSE, 3));
    CMemoryDataStream stream;
    ASSERT_TRUE(list.Save(&stream));
    EXPECT_EQ(stream.GetSize(), 4u + 2 * 16);

    CNoneResidentNTFSDataRunList target;
    target.AddRun(DATA_RUN(1, 1));
    ASSERT_TRUE(target.Load(&stream));
    EXPECT_EQ(Runs(&target), (std::vector<DATA_RUN>{{1, 1}, {123456789012ull, 77}, {SPARSE, 3}}));

    CResidentNTFSDataRunList resident;
    resident.SetResidentRun(40, 1, 0x12345);
    EXPECT_TRUE(resident.IsResident());
    CMemoryDataStream rstream;
    ASSERT_TRUE(resident.Save(&rstream));
    EXPECT_EQ(rstream.GetSize(), 4u + 16 + 4);
    CResidentNTFSDataRunList rtarget;
    ASSERT_TRUE(rtarget.Load(&rstream));
    EXPECT_EQ(rtarget.GetResidentValue(), 0x12345);
    EXPECT_EQ(Runs(&rtarget), (std::vector<DATA_RUN>{{40, 1}}));
}

TEST(PropertiesTestLists, DamagedListRecordsFailWithoutAppending)
{
    CNoneResidentNTFSDataRunList list;
    list.AddRun(DATA_RUN(9, 9));
    list.AddRun(DATA_RUN(99, 9));
    CMemoryDataStream good;
    list.Save(&good);
    const Bytes bytes = good.GetData();
    for (size_t n = 0; n < bytes.size(); ++n) {
        CNoneResidentNTFSDataRunList target;
        target.AddRun(DATA_RUN(1, 1));
        CMemoryDataStream cut(bytes.data(), n);
        EXPECT_FALSE(target.Load(&cut)) << n;
        EXPECT_EQ(Runs(&target), (std::vector<DATA_RUN>{{1, 1}}));
    }
    // A count of four billion runs with no data behind it.
    const Bytes huge = {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3};
    CMemoryDataStream hstream(huge);
    CNoneResidentNTFSDataRunList target;
    EXPECT_FALSE(target.Load(&hstream));
    EXPECT_EQ(target.GetRunCount(), 0u);
    // A resident record without its value.
    CResidentNTFSDataRunList resident;
    resident.SetResidentRun(1, 1, 5);
    CMemoryDataStream rstream;
    resident.Save(&rstream);
    Bytes rbytes = rstream.GetData();
    rbytes.resize(rbytes.size() - 1);
    CMemoryDataStream rcut(rbytes);
    CResidentNTFSDataRunList rtarget;
    EXPECT_FALSE(rtarget.Load(&rcut));
    EXPECT_EQ(rtarget.GetRunCount(), 0u);
    EXPECT_EQ(rtarget.GetResidentValue(), 0);
}

TEST(PropertiesTestPackedRecord, PackSaveLoadUnpack)
{
    EXPECT_EQ(PackDataRunList(nullptr), nullptr);
    CFATDataRunList empty;
    EXPECT_EQ(PackDataRunList(&empty), nullptr);

    CFATDataRunList fat;
    fat.AddRun(DATA_RUN(100, 8));
    fat.AddRun(DATA_RUN(40, 300));
    PACKED_DATA_RUNS* pPacked = PackDataRunList(&fat);
    ASSERT_NE(pPacked, nullptr);
    EXPECT_EQ(pPacked->m_nResidentValue, 0);
    EXPECT_EQ(pPacked->GetPackedLength(), 8u);

    CMemoryDataStream stream;
    ASSERT_TRUE(pPacked->Save(&stream));
    const Bytes expected = {8, 0, 0, 0, 0x11, 0x08, 0x64, 0x12, 0x2C, 0x01, 0xC4, 0x00, 0, 0};
    EXPECT_EQ(stream.GetData(), expected);
    EXPECT_FALSE(pPacked->Save(nullptr));

    PACKED_DATA_RUNS* pLoaded = LoadPackedDataRuns(&stream);
    ASSERT_NE(pLoaded, nullptr);
    IDataRunList* pList = pLoaded->CreateDataRunList();
    ASSERT_NE(pList, nullptr);
    // Whatever was packed, a non-resident record unpacks as a non-resident NTFS list.
    EXPECT_EQ(pList->GetType(), 2);
    EXPECT_EQ(Runs(pList), Runs(&fat));
    delete pList;
    delete pLoaded;
    delete pPacked;

    EXPECT_EQ(LoadPackedDataRuns(nullptr), nullptr);
    PACKED_DATA_RUNS none;
    EXPECT_EQ(none.GetPackedLength(), 0u);
    EXPECT_EQ(none.CreateDataRunList(), nullptr);
    CMemoryDataStream nstream;
    none.Save(&nstream);
    EXPECT_EQ(nstream.GetData(), (Bytes{0, 0, 0, 0, 0, 0}));
    PACKED_DATA_RUNS* pNone = LoadPackedDataRuns(&nstream);
    ASSERT_NE(pNone, nullptr);
    EXPECT_EQ(pNone->m_pPacked, nullptr);
    EXPECT_EQ(pNone->CreateDataRunList(), nullptr);
    delete pNone;
}

TEST(PropertiesTestPackedRecord, ResidentValueKeepsItsLow16BitsOnly)
{
    CResidentNTFSDataRunList resident;
    resident.SetResidentRun(0x5634, 1, 0x00030188);
    PACKED_DATA_RUNS* pPacked = PackDataRunList(&resident);
    ASSERT_NE(pPacked, nullptr);
    EXPECT_EQ(pPacked->m_nResidentValue, 0x00030188);

    IDataRunList* pDirect = pPacked->CreateDataRunList();
    ASSERT_NE(pDirect, nullptr);
    EXPECT_EQ(pDirect->GetType(), 1);
    EXPECT_EQ(pDirect->GetResidentValue(), 0x00030188);
    EXPECT_EQ(Runs(pDirect), (std::vector<DATA_RUN>{{0x5634, 1}}));
    delete pDirect;

    CMemoryDataStream stream;
    pPacked->Save(&stream);
    PACKED_DATA_RUNS* pLoaded = LoadPackedDataRuns(&stream);
    ASSERT_NE(pLoaded, nullptr);
    EXPECT_EQ(pLoaded->m_nResidentValue, 0x0188);
    IDataRunList* pList = pLoaded->CreateDataRunList();
    ASSERT_NE(pList, nullptr);
    EXPECT_TRUE(pList->IsResident());
    EXPECT_EQ(pList->GetResidentValue(), 0x0188);
    delete pList;
    delete pLoaded;
    delete pPacked;

    // A resident value whose low 16 bits are 0 comes back as a non-resident list.
    CResidentNTFSDataRunList wide;
    wide.SetResidentRun(7, 1, 0x10000);
    PACKED_DATA_RUNS* pWide = PackDataRunList(&wide);
    CMemoryDataStream wstream;
    pWide->Save(&wstream);
    PACKED_DATA_RUNS* pWideLoaded = LoadPackedDataRuns(&wstream);
    ASSERT_NE(pWideLoaded, nullptr);
    IDataRunList* pWideList = pWideLoaded->CreateDataRunList();
    ASSERT_NE(pWideList, nullptr);
    EXPECT_EQ(pWideList->GetType(), 2);
    delete pWideList;
    delete pWideLoaded;
    delete pWide;
}

TEST(PropertiesTestPackedRecord, DamagedPackedRecordsGiveNull)
{
    const Bytes cases[] = {
        {},                                            // nothing
        {8, 0, 0},                                     // length cut short
        {8, 0, 0, 0, 0x11, 0x08, 0x64},                // string shorter than its length
        {4, 0, 0, 0, 0x11, 0x08, 0x64, 0x00},          // resident value missing
        {0xFF, 0xFF, 0xFF, 0x7F, 0x11},                // absurd length
        {3, 0, 0, 0, 0x11, 0x08, 0x64, 0, 0},          // no 0 byte inside the stored string
        {4, 0, 0, 0, 0x21, 0x08, 0x64, 0x00, 0, 0},    // last pair runs over the 0 byte and the end
        {4, 0, 0, 0, 0x0A, 0x08, 0x64, 0x00, 0, 0},    // 10 length bytes
    };
    for (const Bytes& c : cases) {
        CMemoryDataStream stream(c);
        PACKED_DATA_RUNS* p = LoadPackedDataRuns(&stream);
        EXPECT_EQ(p, nullptr) << ::testing::PrintToString(c);
        delete p;
    }
}

TEST(PropertiesTestPackedRecord, PropertiesObjectsCarryTheirRunsThroughAStream)
{
    CTestFileProperties props("report.doc", 123456, 0x20);
    CFATDataRunList* pList = new CFATDataRunList();
    pList->AddRun(DATA_RUN(3, 10));
    pList->AddRun(DATA_RUN(20, 5));
    props.SetDataRunList(pList);
    props.SetCheckState(2);
    props.SetFlag(1);
    CMemoryDataStream stream;
    ASSERT_TRUE(props.Save(&stream));
    CTestFileProperties loaded;
    ASSERT_TRUE(loaded.Load(&stream));
    EXPECT_EQ(loaded.m_strName, "report.doc");
    EXPECT_EQ(loaded.GetSize(), 123456u);
    EXPECT_EQ(loaded.GetCheckState(), 0);
    IDataRunList* pRuns = loaded.GetDataRunList();
    ASSERT_NE(pRuns, nullptr);
    EXPECT_EQ(Runs(pRuns), (std::vector<DATA_RUN>{{3, 10}, {20, 5}}));
    delete pRuns;
}
