#include "CharConversion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::u16string ToUtf16(const std::string& strIn, size_t nOutCount)
{
    std::vector<char16_t> vecOut(nOutCount + 1, 0xAAAA);
    const size_t n = dnc::Utf8ToUtf16(strIn.data(), strIn.size(), vecOut.data(), nOutCount);
    EXPECT_EQ(vecOut[nOutCount], 0xAAAA) << "wrote past the output";
    return std::u16string(vecOut.data(), n);
}

std::string ToUtf8(const std::u16string& strIn, size_t nOutSize)
{
    std::vector<char> vecOut(nOutSize + 1, '#');
    const size_t n = dnc::Utf16ToUtf8(strIn.data(), strIn.size(), vecOut.data(), nOutSize);
    EXPECT_EQ(vecOut[nOutSize], '#') << "wrote past the output";
    return std::string(vecOut.data(), n);
}

TEST(CharConversion, Utf8ToUtf16Cases)
{
    const struct {
        const char* pszName;
        std::string strIn;
        size_t nOutCount;
        std::u16string strExpected;
    } kCases[] = {
        {"e acute", "\xC3\xA9", 8, u"\u00E9"},
        {"emoji as a pair", "\xF0\x9F\x98\x80", 8, {0xD83D, 0xDE00}},
        {"ASCII", "readme.txt", 32, u"readme.txt"},
        {"three-byte", "\xE6\x97\xA5\xE6\x9C\xAC", 8, u"\u65E5\u672C"},
        {"cut off at the end: dropped", "ab\xE6\x97", 8, u"ab"},
        {"cut-off lead alone", "ab\xF0", 8, u"ab"},
        {"pair with one free unit: stops", "a\xF0\x9F\x98\x80", 2, u"a"},
        {"output full", "abcdef", 3, u"abc"},
        {"lone continuation byte", "\x80", 8, u""},
        {"continuation after text", "name\x80", 8, u""},
        {"bad trailing byte", "\xC3\x41", 8, u""},
        {"overlong NUL", "a\xC0\x80", 8, u""},
        {"overlong slash", "..\xC0\xAF..", 8, u""},
        {"encoded surrogate", "\xED\xA0\x80", 8, u""},
        {"past U+10FFFF", "\xF4\x90\x80\x80", 8, u""},
        {"six-byte form after 40 letters", std::string(40, 'a') + "\xFC\x84\x80\x80\x80\x80", 64, u""},
        {"FE lead", "\xFE\x80\x80\x80\x80\x80\x80", 8, u""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(ToUtf16(c.strIn, c.nOutCount), c.strExpected);
    }
    char16_t out[4];
    EXPECT_EQ(dnc::Utf8ToUtf16("abc", 0, out, 4), 0u);
    EXPECT_EQ(dnc::Utf8ToUtf16("abc", 3, out, 0), 0u);
    EXPECT_EQ(dnc::Utf8ToUtf16(nullptr, 3, out, 4), 0u);
}

TEST(CharConversion, Utf16ToUtf8Cases)
{
    const struct {
        const char* pszName;
        std::u16string strIn;
        size_t nOutSize;
        std::string strExpected;
    } kCases[] = {
        {"emoji pair gives the four bytes", {0xD83D, 0xDE00}, 8, "\xF0\x9F\x98\x80"},
        {"lengths 1 to 3", u"a\u00E9\u65E5", 8, "a\xC3\xA9\xE6\x97\xA5"},
        {"U+07FF and U+0800", u"\u07FF\u0800", 8, "\xDF\xBF\xE0\xA0\x80"},
        {"last code point", {0xDBFF, 0xDFFF}, 8, "\xF4\x8F\xBF\xBF"},
        {"high surrogate at the end: stops", {u'a', 0xD83D}, 8, "a"},
        {"high surrogate then a letter", {0xD83D, u'x'}, 8, "\xEF\xBF\xBDx"},
        {"lone low surrogate", {0xDE00, u'y'}, 8, "\xEF\xBF\xBDy"},
        {"character that does not fit: stops", u"a\u65E5", 3, "a"},
        {"exact fit", u"a\u65E5", 4, "a\xE6\x97\xA5"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(ToUtf8(c.strIn, c.nOutSize), c.strExpected);
    }
}

TEST(CharConversion, NamesRoundTripThroughTheCodePage)
{
    // The code page is UTF-8, so a valid name comes back byte for byte.
    const std::string kNames[] = {"photo.jpg", "r\xC3\xA9sum\xC3\xA9.doc", "\xE6\x97\xA5\xE8\xAE\xB0.txt",
                                  "\xF0\x9F\x98\x80 smile.png", std::string(255, 'n')};
    for (const std::string& strName : kNames) {
        SCOPED_TRACE(strName);
        std::vector<char> vecAnsi(strName.size(), '#');
        const size_t nAnsi = dnc::Utf8ToAnsi(strName.data(), strName.size(), vecAnsi.data(), vecAnsi.size());
        EXPECT_EQ(std::string(vecAnsi.data(), nAnsi), strName);

        std::vector<char> vecUtf8(strName.size(), '#');
        const size_t nUtf8 = dnc::AnsiToUtf8(vecAnsi.data(), nAnsi, vecUtf8.data(), vecUtf8.size());
        EXPECT_EQ(std::string(vecUtf8.data(), nUtf8), strName);
    }

    char szOut[16];
    EXPECT_EQ(dnc::Utf8ToAnsi("\x80name", 5, szOut, sizeof(szOut)), 0u);  // reader keeps raw bytes
    EXPECT_EQ(dnc::Utf8ToAnsi("\xC3\xA9", 2, szOut, 1), 0u);              // does not fit
    EXPECT_EQ(dnc::Utf8ToAnsi("abc", 3, szOut, 0), 0u);
    EXPECT_EQ(dnc::AnsiToUtf8("", 0, szOut, sizeof(szOut)), 0u);
}

TEST(CharConversion, AnsiWideFollowTheSystemCallContracts)
{
    char16_t wszOut[8];
    EXPECT_EQ(dnc::AnsiToWide("h\xC3\xA9", 3, wszOut, 8), 2);
    EXPECT_EQ(std::u16string(wszOut, 2), u"h\u00E9");
    EXPECT_EQ(dnc::AnsiToWide("h\xC3\xA9", 3, nullptr, 0), 2);       // size query
    EXPECT_EQ(dnc::AnsiToWide("abc", 3, wszOut, 2), -1);             // too small
    EXPECT_EQ(dnc::AnsiToWide("abc", 0, wszOut, 8), -1);             // nothing to convert
    EXPECT_EQ(dnc::AnsiToWide("a\xFFz", 3, wszOut, 8), 3);           // replaced, not refused
    EXPECT_EQ(wszOut[1], 0xFFFD);

    char szOut[8];
    const char16_t wszName[] = {u'a', 0xD83D, 0xDE00};
    EXPECT_EQ(dnc::WideToAnsi(wszName, 3, szOut, 8), 5);
    EXPECT_EQ(std::string(szOut, 5), "a\xF0\x9F\x98\x80");
    EXPECT_EQ(dnc::WideToAnsi(wszName, 3, nullptr, 0), 5);
    EXPECT_EQ(dnc::WideToAnsi(wszName, 3, szOut, 4), 0);
    EXPECT_EQ(dnc::WideToAnsi(wszName, 2, szOut, 8), 4);             // split pair: U+FFFD
    EXPECT_EQ(std::string(szOut, 4), "a\xEF\xBF\xBD");
}

TEST(CharConversion, EncodeUtf8CharCoversAllSixLengths)
{
    const struct {
        uint32_t uCodePoint;
        std::string strExpected;
    } kCases[] = {
        {0x0, std::string(1, '\0')},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x1F600, "\xF0\x9F\x98\x80"},
        {0x1FFFFF, "\xF7\xBF\xBF\xBF"},
        {0x200000, "\xF8\x88\x80\x80\x80"},
        {0x3FFFFFF, "\xFB\xBF\xBF\xBF\xBF"},
        {0x4000000, "\xFC\x84\x80\x80\x80\x80"},
        {0x7FFFFFFF, "\xFD\xBF\xBF\xBF\xBF\xBF"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.uCodePoint);
        char szOut[6];
        const int n = dnc::EncodeUtf8Char(c.uCodePoint, szOut);
        EXPECT_EQ(std::string(szOut, static_cast<size_t>(n)), c.strExpected);
    }

    char szOut[6];
    try {
        dnc::EncodeUtf8Char(0x80000000u, szOut);
        ADD_FAILURE() << "no XCharError";
    } catch (const dnc::XCharError& e) {
        EXPECT_EQ(e.GetError(), INT32_MIN);
        EXPECT_STREQ(e.what(), "XCharError:-2147483648");
        const dnc::XCharError copy(e);
        EXPECT_STREQ(copy.what(), e.what());
        EXPECT_EQ(copy.GetError(), e.GetError());
    }
    const std::exception& base = dnc::XCharError(7);
    EXPECT_STREQ(base.what(), "XCharError:7");
}

} // namespace
