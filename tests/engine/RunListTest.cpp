// NTFS run list: mapping-pair check and decoding, cluster lookups, ordering and the stored
// record.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "MemoryDataStream.h"
#include "ntfs/NTFSRunList.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct RunRow {
    int64_t lcn;
    uint64_t vcn;
    uint64_t length;
    bool operator==(const RunRow& o) const { return lcn == o.lcn && vcn == o.vcn && length == o.length; }
};

void PrintTo(const RunRow& r, std::ostream* os)
{
    *os << "{lcn " << r.lcn << ", vcn " << r.vcn << ", len " << r.length << "}";
}

std::vector<RunRow> Runs(const CNTFSRunList& list)
{
    std::vector<RunRow> runs;
    for (const NTFS_RUN* p : list)
        runs.push_back({p->llLcn, p->ullVcn, p->ullLength});
    return runs;
}

// The input in a heap block of exactly its size, so that the sanitisers see any over-read.
struct Exact {
    std::unique_ptr<uint8_t[]> p;
    size_t n;
    explicit Exact(const Bytes& b) : p(new uint8_t[b.size()]), n(b.size())
    {
        if (n)
            std::memcpy(p.get(), b.data(), n);
    }
};

} // namespace

TEST(RunListTestDecode, GoldenStringsDecode)
{
    CNTFSRunList list;
    Exact one({0x21, 0x18, 0x34, 0x56, 0x00});
    ASSERT_TRUE(list.SetFromMappingPairs(one.p.get(), one.n));
    EXPECT_EQ(Runs(list), (std::vector<RunRow>{{0x5634, 0, 0x18}}));

    // A sparse pair follows, then a pair whose offset is added to 0x5634, not to the hole.
    Exact three({0x21, 0x18, 0x34, 0x56, 0x01, 0x08, 0x11, 0x10, 0xF0, 0x00});
    ASSERT_TRUE(list.SetFromMappingPairs(three.p.get(), three.n));
    EXPECT_EQ(Runs(list), (std::vector<RunRow>{{0x5634, 0, 0x18}, {-1, 0x18, 8}, {0x5634 - 0x10, 0x20, 0x10}}));
    EXPECT_EQ(list.GetTotalLength(), 0x30u);
    EXPECT_EQ(CNTFSRunList::SumMappingPairLengths(three.p.get(), three.n), 0x30);
}

TEST(RunListTestDecode, ValidationRefusesWhatThisReaderCannotHold)
{
    struct { Bytes in; bool bValid; } cases[] = {
        {{0x00}, true},
        {{0x21, 0x18, 0x34, 0x56, 0x00}, true},
        {{0x44, 1, 2, 3, 4, 1, 2, 3, 4, 0x00}, true},
        {{0x15, 1, 2, 3, 4, 5, 0x01, 0x00}, false},          // 5 length bytes
        {{0x51, 1, 1, 2, 3, 4, 5, 0x00}, false},             // 5 offset bytes
        {{0x80, 0x00}, false},                               // header 0x80: high nibble above 4
        {{0x21, 0x18, 0x34, 0x56}, false},                   // no terminator
        {{0x21, 0x18, 0x34, 0x56, 0x00}, true},
        {{}, false},                                         // nothing at all
        {{0x21, 0x18, 0x34}, false},                         // pair cut short
    };
    for (auto& c : cases) {
        Exact in(c.in);
        EXPECT_EQ(CNTFSRunList::ValidateMappingPairs(in.p.get(), in.n), c.bValid) << ::testing::PrintToString(c.in);
    }
    // The terminator must lie within the given count, not merely somewhere in memory.
    const uint8_t longer[] = {0x21, 0x18, 0x34, 0x56, 0x00};
    EXPECT_FALSE(CNTFSRunList::ValidateMappingPairs(longer, 4));

    CNTFSRunList list;
    Exact good({0x11, 0x01, 0x01, 0x00});
    list.SetFromMappingPairs(good.p.get(), good.n);
    ASSERT_FALSE(list.IsEmpty());
    Exact bad({0x15, 1, 2, 3, 4, 5, 0x01, 0x00});
    EXPECT_FALSE(list.SetFromMappingPairs(bad.p.get(), bad.n));
    EXPECT_TRUE(list.IsEmpty());
}

TEST(RunListTestDecode, ParserStopsAtTheEndOfItsInput)
{
    struct { Bytes in; std::vector<RunRow> out; } cases[] = {
        {{0x21, 0x18, 0x34, 0x56}, {{0x5634, 0, 0x18}}},                    // no terminator
        {{0x21, 0x18, 0x34, 0x56, 0x31, 0x01, 0x02}, {{0x5634, 0, 0x18}}},  // second pair cut
        {{0x1F, 0x01}, {}},                                                   // 15 length bytes
        {{0x10, 0x07, 0x11, 0x02, 0xFF, 0x00}, {{7, 0, 0}, {6, 0, 2}}},      // zero-length header, then -1
        {{}, {}},
    };
    for (auto& c : cases) {
        Exact in(c.in);
        CNTFSRunList list;
        CNTFSRunList::ParseMappingPairs(in.p.get(), in.n, &list);
        EXPECT_EQ(Runs(list), c.out) << ::testing::PrintToString(c.in);
        CNTFSRunList::SumMappingPairLengths(in.p.get(), in.n);
    }
}

TEST(RunListTestDecode, FurtherExtentsContinueAtTheirStartingVcn)
{
    CNTFSRunList list;
    Exact first({0x11, 0x10, 0x20, 0x00});
    ASSERT_TRUE(list.SetFromMappingPairs(first.p.get(), first.n));
    Exact second({0x21, 0x04, 0x00, 0x01, 0x00});
    list.AppendMappingPairs(second.p.get(), second.n, 0x10);
    EXPECT_EQ(Runs(list), (std::vector<RunRow>{{0x20, 0, 0x10}, {0x100, 0x10, 4}}));
    Exact bad({0x15, 0x00});
    list.AppendMappingPairs(bad.p.get(), bad.n, 0x14);
    EXPECT_EQ(list.GetCount(), 2u);
}

TEST(RunListTestLookup, VcnAndLcnTranslation)
{
    CNTFSRunList list;
    list.AddRun(NTFS_RUN(100, 0, 10));
    list.AddRun(NTFS_RUN(-1, 10, 5));
    list.AddRun(NTFS_RUN(50, 15, 5));

    EXPECT_EQ(list.VcnToLcn(0), 100);
    EXPECT_EQ(list.VcnToLcn(9), 109);
    EXPECT_EQ(list.VcnToLcn(17), 52);
    EXPECT_EQ(list.VcnToLcn(20), -1) << "past the last run";
    EXPECT_EQ(list.VcnToLcn(-3), -1);
    // Inside a hole there is no cluster to read.
    EXPECT_EQ(list.VcnToLcn(10), -1);
    EXPECT_EQ(list.VcnToLcn(14), -1);

    EXPECT_TRUE(list.ContainsLcn(100));
    EXPECT_TRUE(list.ContainsLcn(54));
    EXPECT_FALSE(list.ContainsLcn(110));
    EXPECT_EQ(list.LcnToVcn(105), 5);
    EXPECT_EQ(list.LcnToVcn(50), 15);
    // The hole's run does not claim clusters -1 to 3.
    EXPECT_FALSE(list.ContainsLcn(0));
    EXPECT_FALSE(list.ContainsLcn(-1));
    EXPECT_EQ(list.LcnToVcn(2), -1);

    CNTFSRunList empty;
    EXPECT_FALSE(empty.ContainsLcn(0));
    EXPECT_EQ(empty.VcnToLcn(0), -1);
}

TEST(RunListTestLookup, CopySortAndCompare)
{
    CNTFSRunList list;
    list.AddRun(NTFS_RUN(7, 30, 1));
    list.AddRun(NTFS_RUN(8, 10, 1));
    list.AddRun(NTFS_RUN(9, 20, 1));
    list.AddRun(NTFS_RUN(10, 10, 2)); // equal VCN: keeps its place after the first

    CNTFSRunList copy;
    list.CopyTo(&copy);
    EXPECT_TRUE(copy.IsEqual(&list));
    copy.SortByVcn();
    EXPECT_FALSE(copy.IsEqual(&list));
    EXPECT_EQ(Runs(copy), (std::vector<RunRow>{{8, 10, 1}, {10, 10, 2}, {9, 20, 1}, {7, 30, 1}}));

    CNTFSRunList shorter;
    shorter.AddRun(NTFS_RUN(7, 30, 1));
    EXPECT_FALSE(shorter.IsEqual(&list));
    EXPECT_FALSE(list.IsEqual(nullptr));
    list.Clear();
    EXPECT_TRUE(list.IsEmpty());
}

TEST(RunListTestRecord, SaveWritesLengthBeforeVcnAndLoadAppends)
{
    CNTFSRunList list;
    list.AddRun(NTFS_RUN(0x5634, 0, 0x18));
    list.AddRun(NTFS_RUN(-1, 0x18, 8));
    CMemoryDataStream stream;
    ASSERT_TRUE(list.Save(&stream));
    const Bytes& b = stream.GetData();
    ASSERT_EQ(b.size(), 8u + 2 * 24);
    EXPECT_EQ(b[0], 2);
    EXPECT_EQ(b[8], 0x34);   // first LCN
    EXPECT_EQ(b[16], 0x18);  // then its length
    EXPECT_EQ(b[24], 0x00);  // then its VCN
    EXPECT_EQ(b[32], 0xFF);  // sparse LCN -1
    EXPECT_EQ(b[48], 0x18);  // VCN of the second run

    CNTFSRunList loaded;
    loaded.AddRun(NTFS_RUN(1, 2, 3));
    ASSERT_TRUE(loaded.Load(&stream));
    EXPECT_EQ(Runs(loaded), (std::vector<RunRow>{{1, 2, 3}, {0x5634, 0, 0x18}, {-1, 0x18, 8}}));
}

TEST(RunListTestRecord, DamagedRecordsAppendNothing)
{
    CNTFSRunList list;
    list.AddRun(NTFS_RUN(5, 0, 1));
    list.AddRun(NTFS_RUN(9, 1, 1));
    CMemoryDataStream good;
    list.Save(&good);
    const Bytes bytes = good.GetData();
    for (size_t n = 0; n < bytes.size(); ++n) {
        CMemoryDataStream cut(bytes.data(), n);
        CNTFSRunList target;
        EXPECT_FALSE(target.Load(&cut)) << n;
        EXPECT_TRUE(target.IsEmpty());
    }
    Bytes huge(8, 0xFF);
    huge.resize(40, 0);
    CMemoryDataStream hstream(huge);
    CNTFSRunList target;
    EXPECT_FALSE(target.Load(&hstream));
    EXPECT_TRUE(target.IsEmpty());
    EXPECT_FALSE(target.Load(nullptr));
}
