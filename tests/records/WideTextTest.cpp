#include "WideText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct WideCase {
    const char* pszWhat;
    std::u16string strIn;
    std::u16string strExpected;
};

} // namespace

// Capacity 5 holds four code units and the terminator.
TEST(WideText, CopyCutsKeepsTerminatorAndWholePairs)
{
    const char16_t chHigh = 0xD83D, chLow = 0xDE00; // U+1F600, one astral character
    const WideCase aCases[] = {
        {"fits", u"abc", u"abc"},
        {"exact fit", u"abcd", u"abcd"},
        {"cut", u"abcdefgh", u"abcd"},
        {"pair across the cut is dropped whole", std::u16string(u"abc") + chHigh + chLow + u"z",
         u"abc"},
        {"pair just before the cut is kept", std::u16string(u"ab") + chHigh + chLow + u"z",
         std::u16string(u"ab") + chHigh + chLow},
        {"empty", u"", u""},
    };
    for (const WideCase& c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        WCHAR szBuf[5];
        std::memset(szBuf, 0xAB, sizeof(szBuf)); // stale bytes must not survive
        size_t n = rvd::CopyWideText(szBuf, c.strIn);
        EXPECT_EQ(n, c.strExpected.size());
        EXPECT_EQ(std::u16string(szBuf), c.strExpected);
        for (size_t i = n; i < 5; ++i)
            EXPECT_EQ(szBuf[i], 0) << "tail not zeroed at " << i;
    }
}

TEST(WideText, CopyDegenerateCapacities)
{
    WCHAR szOne[1] = {u'q'};
    EXPECT_EQ(rvd::CopyWideText(szOne, u"abc"), 0u);
    EXPECT_EQ(szOne[0], 0);

    WCHAR chUntouched = u'q';
    EXPECT_EQ(rvd::CopyWideText(&chUntouched, 0, u"abc"), 0u);
    EXPECT_EQ(chUntouched, u'q');

    // A single astral character never fits in two units with a terminator.
    WCHAR szTwo[2] = {u'q', u'q'};
    EXPECT_EQ(rvd::CopyWideText(szTwo, u"\U0001F600"), 0u);
    EXPECT_EQ(szTwo[0], 0);
}

TEST(WideText, NarrowCopyDoesNotSplitUtf8Sequences)
{
    struct {
        const char* pszIn;
        const char* pszExpected;
    } aCases[] = {
        {"abcdefgh", "abcd"},
        {"abc\xC3\xA9", "abc"},        // two-byte sequence cut after its lead byte
        {"ab\xC3\xA9z", "ab\xC3\xA9"}, // sequence ends right at the cut
        {"a\xF0\x9F\x98\x80", "a"},    // four-byte sequence cut inside
        {"\xE2\x82\xAC", "\xE2\x82\xAC"},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszIn);
        CHAR szBuf[5];
        std::memset(szBuf, 'x', sizeof(szBuf));
        size_t n = rvd::CopyNarrowText(szBuf, c.pszIn);
        EXPECT_EQ(std::string(szBuf), c.pszExpected);
        EXPECT_EQ(n, std::strlen(c.pszExpected));
        EXPECT_EQ(szBuf[4], 0);
    }
}

TEST(WideText, ReadStopsAtArrayEndWithoutTerminator)
{
    WCHAR szFull[3] = {u'a', u'b', u'c'};
    EXPECT_EQ(rvd::ReadWideText(szFull), u"abc");
    WCHAR szShort[4] = {u'a', 0, u'z', u'z'};
    EXPECT_EQ(rvd::ReadWideText(szShort), u"a");

    CHAR szNarrow[2] = {'h', 'i'};
    EXPECT_EQ(rvd::ReadNarrowText(szNarrow), "hi");
    EXPECT_EQ(rvd::ReadNarrowText(nullptr, 10), "");
}
