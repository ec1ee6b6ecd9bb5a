#include "Charset.h"

#include <gtest/gtest.h>

#include <string>

using rvd::Utf16ToUtf8;
using rvd::Utf8ToUtf16;

namespace {

struct RoundTrip {
    const char* pszName;
    std::string strUtf8;
    std::u16string strUtf16;
};

TEST(Charset, ValidTextRoundTripsExactly)
{
    const RoundTrip kCases[] = {
        {"empty", "", u""},
        {"ascii with NUL", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"two-byte", "\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
        {"three-byte edges", "\xE0\xA0\x80\xEF\xBF\xBF", u"\u0800\uFFFF"},
        {"last before surrogates", "\xED\x9F\xBF", u"\uD7FF"},
        {"first after surrogates", "\xEE\x80\x80", u"\uE000"},
        {"astral emoji", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"first astral", "\xF0\x90\x80\x80", u"\U00010000"},
        {"last code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"mixed name", "Fotos \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xB7.jpg",
         u"Fotos \u65E5\u672C \U0001F4F7.jpg"},
    };
    for (const RoundTrip& c : kCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_TRUE(rvd::IsValidUtf8(c.strUtf8));
        EXPECT_TRUE(rvd::IsValidUtf16(c.strUtf16));
        EXPECT_EQ(Utf8ToUtf16(c.strUtf8), c.strUtf16);
        EXPECT_EQ(Utf16ToUtf8(c.strUtf16), c.strUtf8);
    }
}

TEST(Charset, EveryScalarValueRoundTrips)
{
    std::u16string strAll;
    for (char32_t cp = 1; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        if (cp < 0x10000) {
            strAll.push_back(static_cast<char16_t>(cp));
        } else {
            strAll.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            strAll.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    const std::string strUtf8 = Utf16ToUtf8(strAll);
    EXPECT_TRUE(rvd::IsValidUtf8(strUtf8));
    EXPECT_EQ(Utf8ToUtf16(strUtf8), strAll);
}

struct Invalid {
    const char* pszName;
    std::string strBytes;
    std::u16string strExpected;
};

TEST(Charset, InvalidUtf8BecomesOneReplacementPerMaximalSubpart)
{
    const Invalid kCases[] = {
        {"lone continuation", "a\x80z", u"a\uFFFDz"},
        {"two continuations", "\x80\xBF", u"\uFFFD\uFFFD"},
        {"lead then ASCII", "\xC3z", u"\uFFFDz"},
        {"truncated at end", "ab\xE6\x97", u"ab\uFFFD"},
        {"truncated four-byte", "\xF0\x9F\x98", u"\uFFFD"},
        {"overlong NUL", "\xC0\x80", u"\uFFFD\uFFFD"},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded high surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded pair (CESU)", "\xED\xA0\xBD\xED\xB8\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"F5 lead", "\xF5\x80", u"\uFFFD\uFFFD"},
        {"five-byte form", "\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"FE FF", "\xFE\xFF", u"\uFFFD\uFFFD"},
        {"good after bad", "\xE6\x97\xE6\x97\xA5", u"\uFFFD\u65E5"},
    };
    for (const Invalid& c : kCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_FALSE(rvd::IsValidUtf8(c.strBytes));
        EXPECT_EQ(Utf8ToUtf16(c.strBytes), c.strExpected);
    }
    EXPECT_EQ(Utf8ToUtf16("\xC0\x80", u'_'), u"__");
}

// Names stored as bytes in a single-byte encoding: UTF-8 where well-formed, each byte of an
// ill-formed subsequence its Latin-1 character, so two names that differ in such a byte differ.
TEST(Charset, BytesThatAreNotUtf8ReadAsLatin1)
{
    const Invalid kCases[] = {
        {"valid UTF-8 as it is", "Gr\xC3\xBC\xC3\x9F \xE6\x97\xA5 \xF0\x9F\x98\x80", u"Gr\u00FC\u00DF \u65E5 \U0001F600"},
        {"Latin-1 at the end", "dir\xE9", u"dir\u00E9"},
        {"Latin-1 before ASCII", "f\xE9\xE9x", u"f\u00E9\u00E9x"},
        {"lead and continuation cut off", "ab\xE6\x97", u"ab\u00E6\u0097"},
        {"overlong slash", "\xC0\xAF", u"\u00C0\u00AF"},
        {"encoded surrogate", "\xED\xA0\x80", u"\u00ED\u00A0\u0080"},
        {"bad then good", "\xE8\xE6\x97\xA5", u"\u00E8\u65E5"},
    };
    for (const Invalid& c : kCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(rvd::Utf8OrLatin1ToUtf16(c.strBytes), c.strExpected);
    }
    EXPECT_NE(rvd::Utf8OrLatin1ToUtf16("dir\xE9"), rvd::Utf8OrLatin1ToUtf16("dir\xE8"));
}

TEST(Charset, UnpairedSurrogatesBecomeReplacement)
{
    const struct {
        const char* pszName;
        std::u16string strUnits;
        std::string strExpected;
    } kCases[] = {
        {"lone high at end", std::u16string{u'a', 0xD83D}, "a\xEF\xBF\xBD"},
        {"lone low", std::u16string{0xDE00, u'b'}, "\xEF\xBF\xBD" "b"},
        {"high then letter", std::u16string{0xD83D, u'x'}, "\xEF\xBF\xBDx"},
        {"reversed pair", std::u16string{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"high high low", std::u16string{0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_FALSE(rvd::IsValidUtf16(c.strUnits));
        EXPECT_EQ(Utf16ToUtf8(c.strUnits), c.strExpected);
    }
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xDC00}, "_"), "a_");
}

TEST(Charset, SingleByteCodePages)
{
    EXPECT_EQ(rvd::Latin1ToUtf16("\x41\xE9\xFF\x80"), u"A\u00E9\u00FF\u0080");
    // FAT short names are OEM bytes: 0x82 is e-acute, 0x9A U-umlaut, 0xE1 sharp s, 0xFF NBSP.
    EXPECT_EQ(rvd::Cp437ToUtf16("CAF\x82\x9A\xE1\xFF"), u"CAF\u00E9\u00DC\u00DF\u00A0");
    EXPECT_EQ(rvd::Cp437ToUtf16("\x01\x0A\x7F"), u"\u0001\n\u007F");
    EXPECT_EQ(rvd::Cp437ToUtf16(std::string("\x00\x01\x0A\x1F\x7F", 5), true),
              std::u16string(u"\0\u263A\u25D9\u25BC\u2302", 5));
    // Every byte decodes to one BMP character that survives a trip through UTF-8.
    std::string strAllBytes;
    for (int b = 0; b < 256; ++b)
        strAllBytes.push_back(static_cast<char>(b));
    const std::u16string str437 = rvd::Cp437ToUtf16(strAllBytes, true);
    ASSERT_EQ(str437.size(), 256u);
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(str437)), str437);
}

TEST(Charset, WideLengthStopsAtBound)
{
    const char16_t szText[] = u"abc";
    EXPECT_EQ(rvd::WideLength(szText), 3u);
    EXPECT_EQ(rvd::WideLength(szText, 2), 2u);
    EXPECT_EQ(rvd::WideLength(nullptr), 0u);
}

} // namespace
