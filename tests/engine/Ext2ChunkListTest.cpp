// The tree builder's chunked list across chunk boundaries, in plain and in large chunks: entries
// keep their values and places, sorting and searching see one sequence, and shrinking gives back
// whole chunks only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "ext2/Ext2ChunkList.h"

namespace {

struct ENTRY {
    uint32_t nKey;
    uint32_t nOrder;
    const void* p;
};

} // namespace

TEST(Ext2ChunkList, HoldsSortsAndShrinksAcrossChunks)
{
    const size_t nPer = CExt2ChunkList<ENTRY>::kPerChunk;
    for (const uint64_t nExpected : {uint64_t(0), uint64_t(1) << 24}) {
        SCOPED_TRACE(nExpected);
        CExt2ChunkList<ENTRY> list;
        list.Expect(nExpected);
        EXPECT_EQ(nExpected != 0, list.IsLarge());
        // Two and a half chunks, keys falling with repeats, so that a stable sort has work.
        const size_t nCount = 2 * nPer + nPer / 2;
        for (size_t i = 0; i < nCount; ++i)
            list.push_back(ENTRY{static_cast<uint32_t>((nCount - i) / 3), static_cast<uint32_t>(i), &list});
        ASSERT_EQ(nCount, list.size());
        EXPECT_EQ(nPer, list[nPer].nOrder);
        EXPECT_EQ(nCount - 1, list.back().nOrder);

        std::stable_sort(list.begin(), list.end(), [](const ENTRY& a, const ENTRY& b) { return a.nKey < b.nKey; });
        for (size_t i = 1; i < nCount; ++i) {
            ASSERT_LE(list[i - 1].nKey, list[i].nKey) << i;
            if (list[i - 1].nKey == list[i].nKey) {
                ASSERT_LT(list[i - 1].nOrder, list[i].nOrder) << i;
            }
        }
        const uint32_t nKey = list[nPer + 7].nKey;
        const auto it = std::lower_bound(list.begin(), list.end(), nKey,
                                         [](const ENTRY& e, uint32_t n) { return e.nKey < n; });
        EXPECT_EQ(nKey, it->nKey);
        EXPECT_TRUE(it == list.begin() || (it - 1)->nKey < nKey);
        EXPECT_LE(it - list.begin(), static_cast<std::ptrdiff_t>(nPer + 7));

        // Down to one entry into the second chunk, then on again from there.
        list.shrink(nPer + 1);
        ASSERT_EQ(nPer + 1, list.size());
        list.push_back(ENTRY{7, 7, nullptr});
        EXPECT_EQ(7u, list[nPer + 1].nOrder);
        EXPECT_EQ(nPer + 2, static_cast<size_t>(list.end() - list.begin()));
        list.shrink(list.size() + 5);
        EXPECT_EQ(nPer + 2, list.size());
        list.clear();
        EXPECT_TRUE(list.empty());
        list.push_back(ENTRY{1, 1, nullptr});
        EXPECT_EQ(1u, list[0].nKey);
    }
}
