#include "Charset.h"

#include <cstdint>

namespace rvd {

namespace {

// Second-byte bounds by lead byte (Unicode table 3-7): they exclude overlong forms (E0 80..9F,
// F0 80..8F), encoded surrogates (ED A0..BF) and values past U+10FFFF (F4 90..BF).
struct LeadInfo {
    int nTrail;
    uint8_t bLow;
    uint8_t bHigh;
};

LeadInfo ClassifyLead(uint8_t b)
{
    if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
    if (b == 0xE0) return {2, 0xA0, 0xBF};
    if (b == 0xED) return {2, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
    if (b == 0xF0) return {3, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
    if (b == 0xF4) return {3, 0x80, 0x8F};
    return {-1, 0, 0};  // continuation byte, C0/C1 or F5..FF: never starts a character
}

// Decodes one character at i. On success returns the code point and advances i past it; on an
// ill-formed subsequence returns -1 and advances i past the maximal subpart (at least one byte).
int32_t DecodeOne(std::string_view s, size_t& i)
{
    const uint8_t b0 = static_cast<uint8_t>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    const LeadInfo info = ClassifyLead(b0);
    if (info.nTrail < 0) {
        ++i;
        return -1;
    }
    uint32_t cp = b0 & (0x3F >> info.nTrail);
    size_t j = i + 1;
    for (int k = 0; k < info.nTrail; ++k, ++j) {
        if (j >= s.size()) {
            i = j;
            return -1;
        }
        const uint8_t b = static_cast<uint8_t>(s[j]);
        const uint8_t bLow = k == 0 ? info.bLow : 0x80;
        const uint8_t bHigh = k == 0 ? info.bHigh : 0xBF;
        if (b < bLow || b > bHigh) {
            i = j;  // the offending byte starts the next attempt
            return -1;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i = j;
    return static_cast<int32_t>(cp);
}

void AppendUtf16(std::u16string& out, uint32_t cp)
{
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Code page 437, bytes 0x80-0xFF.
const char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// The glyphs of the PC character set for bytes 0x00-0x1F (0x00 is kept as NUL).
const char16_t kCp437Glyphs[32] = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
};

} // namespace

std::u16string Utf8ToUtf16(std::string_view strUtf8, char16_t chReplacement)
{
    std::u16string out;
    out.reserve(strUtf8.size());
    size_t i = 0;
    while (i < strUtf8.size()) {
        const int32_t cp = DecodeOne(strUtf8, i);
        if (cp < 0)
            out.push_back(chReplacement);
        else
            AppendUtf16(out, static_cast<uint32_t>(cp));
    }
    return out;
}

std::u16string Utf8OrLatin1ToUtf16(std::string_view strBytes)
{
    std::u16string out;
    out.reserve(strBytes.size());
    size_t i = 0;
    while (i < strBytes.size()) {
        const size_t nStart = i;
        const int32_t cp = DecodeOne(strBytes, i);
        if (cp >= 0) {
            AppendUtf16(out, static_cast<uint32_t>(cp));
            continue;
        }
        for (size_t k = nStart; k < i; ++k)
            out.push_back(static_cast<char16_t>(static_cast<uint8_t>(strBytes[k])));
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view strUtf16, std::string_view strReplacement)
{
    std::string out;
    out.reserve(strUtf16.size() * 3);
    for (size_t i = 0; i < strUtf16.size(); ++i) {
        const char16_t u = strUtf16[i];
        if (IsHigh(u) && i + 1 < strUtf16.size() && IsLow(strUtf16[i + 1])) {
            const uint32_t cp = 0x10000 + ((uint32_t(u) - 0xD800) << 10) + (strUtf16[i + 1] - 0xDC00);
            AppendUtf8(out, cp);
            ++i;
        } else if (IsHigh(u) || IsLow(u)) {
            out.append(strReplacement);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

bool IsValidUtf8(std::string_view strBytes)
{
    size_t i = 0;
    while (i < strBytes.size()) {
        if (DecodeOne(strBytes, i) < 0)
            return false;
    }
    return true;
}

bool IsValidUtf16(std::u16string_view strUnits)
{
    for (size_t i = 0; i < strUnits.size(); ++i) {
        if (IsHigh(strUnits[i]) && i + 1 < strUnits.size() && IsLow(strUnits[i + 1]))
            ++i;
        else if (IsHigh(strUnits[i]) || IsLow(strUnits[i]))
            return false;
    }
    return true;
}

std::u16string Latin1ToUtf16(std::string_view strBytes)
{
    std::u16string out(strBytes.size(), u'\0');
    for (size_t i = 0; i < strBytes.size(); ++i)
        out[i] = static_cast<uint8_t>(strBytes[i]);
    return out;
}

std::u16string Cp437ToUtf16(std::string_view strBytes, bool bGlyphsForControls)
{
    std::u16string out(strBytes.size(), u'\0');
    for (size_t i = 0; i < strBytes.size(); ++i) {
        const uint8_t b = static_cast<uint8_t>(strBytes[i]);
        if (b >= 0x80)
            out[i] = kCp437High[b - 0x80];
        else if (bGlyphsForControls && b < 0x20)
            out[i] = kCp437Glyphs[b];
        else if (bGlyphsForControls && b == 0x7F)
            out[i] = 0x2302;
        else
            out[i] = b;
    }
    return out;
}

size_t WideLength(const char16_t* pszText, size_t nMax)
{
    if (pszText == nullptr)
        return 0;
    size_t n = 0;
    while (n < nMax && pszText[n] != 0)
        ++n;
    return n;
}

} // namespace rvd
