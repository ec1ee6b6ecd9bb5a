#include "CharConversion.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "Charset.h"

namespace dnc {

namespace {

// Trailing-byte count by lead byte: 0 below 0xC0, then 1 to 5 for the 2- to 6-byte forms of the
// original UTF-8 design (the 5- and 6-byte forms only ever decode to values past U+10FFFF).
int TrailingCount(uint8_t b)
{
    if (b < 0xC0) return 0;
    if (b < 0xE0) return 1;
    if (b < 0xF0) return 2;
    if (b < 0xF8) return 3;
    if (b < 0xFC) return 4;
    return 5;
}

const uint8_t kLeadMask[6] = {0x80, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE};
const uint8_t kLeadValue[6] = {0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
const uint32_t kOffset[6] = {0x00000000, 0x00003080, 0x000E2080, 0x03C82080, 0xFA082080, 0x82082080};
const uint8_t kFirstByteMark[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
// Smallest value of each form: anything below is an overlong encoding.
const uint32_t kMinimum[4] = {0x0, 0x80, 0x800, 0x10000};

bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

int Utf8Length(uint32_t cp)
{
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

void WriteUtf8(uint32_t cp, int nLength, char* pOut)
{
    for (int k = nLength - 1; k > 0; --k) {
        pOut[k] = static_cast<char>(0x80 | (cp & 0x3F));
        cp >>= 6;
    }
    pOut[0] = static_cast<char>(kFirstByteMark[nLength] | cp);
}

} // namespace

size_t Utf8ToUtf16(const char* pIn, size_t nInCount, char16_t* pOut, size_t nOutCount)
{
    if (pIn == nullptr || pOut == nullptr || nInCount == 0 || nOutCount == 0)
        return 0;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pIn);
    size_t i = 0;
    size_t o = 0;
    while (i < nInCount && o < nOutCount) {
        const uint8_t bLead = p[i];
        if (bLead < 0x80) {
            pOut[o++] = bLead;
            ++i;
            continue;
        }
        const int t = TrailingCount(bLead);
        if (static_cast<size_t>(t) >= nInCount - i)
            break;  // cut off by the end of the input: dropped
        if ((bLead & kLeadMask[t]) != kLeadValue[t])
            return 0;  // a continuation byte where a character should start
        uint32_t cp = 0;
        for (int k = 0; k <= t; ++k) {
            const uint8_t b = p[i + k];
            if (k > 0 && (b < 0x80 || b > 0xBF))
                return 0;
            cp = (cp << 6) + b;
        }
        cp -= kOffset[t];
        // Overlong forms, encoded surrogates and values past the UTF-16 range are refused: an
        // overlong NUL or '/' in a damaged name must not turn into a real one, and a half
        // pair would not survive the conversion to the code page.
        if (t > 3 || cp < kMinimum[t] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return 0;
        if (cp <= 0xFFFF) {
            pOut[o++] = static_cast<char16_t>(cp);
        } else {
            if (nOutCount - o < 2)
                break;
            pOut[o++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            pOut[o++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
        i += static_cast<size_t>(t) + 1;
    }
    return o;
}

size_t Utf16ToUtf8(const char16_t* pIn, size_t nInCount, char* pOut, size_t nOutSize)
{
    if (pIn == nullptr || pOut == nullptr || nInCount == 0 || nOutSize == 0)
        return 0;
    size_t o = 0;
    for (size_t i = 0; i < nInCount; ++i) {
        uint32_t cp = pIn[i];
        if (IsHighSurrogate(cp)) {
            if (i + 1 >= nInCount)
                break;  // the pair's second half is not in this input
            if (IsLowSurrogate(pIn[i + 1])) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (pIn[i + 1] - 0xDC00u);
                ++i;
            } else {
                cp = 0xFFFD;
            }
        } else if (IsLowSurrogate(cp)) {
            cp = 0xFFFD;
        }
        const int nLength = Utf8Length(cp);
        if (static_cast<size_t>(nLength) > nOutSize - o)
            break;
        WriteUtf8(cp, nLength, pOut + o);
        o += static_cast<size_t>(nLength);
    }
    return o;
}

int AnsiToWide(const char* pIn, size_t nInCount, char16_t* pOut, size_t nOutSize)
{
    if (pIn == nullptr || nInCount == 0)
        return -1;
    const std::u16string strWide = rvd::Utf8ToUtf16(std::string_view(pIn, nInCount));
    if (strWide.size() > static_cast<size_t>(INT_MAX))
        return -1;
    if (nOutSize == 0)
        return static_cast<int>(strWide.size());
    if (pOut == nullptr || strWide.size() > nOutSize)
        return -1;
    std::memcpy(pOut, strWide.data(), strWide.size() * sizeof(char16_t));
    return static_cast<int>(strWide.size());
}

int WideToAnsi(const char16_t* pIn, size_t nInCount, char* pOut, size_t nOutSize)
{
    if (pIn == nullptr || nInCount == 0)
        return 0;
    const std::string strAnsi = rvd::Utf16ToUtf8(std::u16string_view(pIn, nInCount));
    if (strAnsi.size() > static_cast<size_t>(INT_MAX))
        return 0;
    if (nOutSize == 0)
        return static_cast<int>(strAnsi.size());
    if (pOut == nullptr || strAnsi.size() > nOutSize)
        return 0;
    std::memcpy(pOut, strAnsi.data(), strAnsi.size());
    return static_cast<int>(strAnsi.size());
}

size_t Utf8ToAnsi(const char* pIn, size_t nInCount, char* pOut, size_t nOutSize)
{
    if (pOut == nullptr || nOutSize == 0)
        return 0;
    // Plain ASCII, most names, comes out as it went in: the round trip below would only copy it.
    if (pIn != nullptr && nInCount > 0) {
        const size_t nCount = nInCount < nOutSize ? nInCount : nOutSize;
        bool bAscii = true;
        for (size_t i = 0; i < nCount && bAscii; ++i)
            bAscii = static_cast<unsigned char>(pIn[i]) < 0x80;
        if (bAscii) {
            memcpy(pOut, pIn, nCount);
            return nCount;
        }
    }
    std::unique_ptr<char16_t[]> pTemp(new char16_t[nOutSize + 1]);
    const size_t nUnits = Utf8ToUtf16(pIn, nInCount, pTemp.get(), nOutSize);
    if (nUnits == 0)
        return 0;
    pTemp[nUnits] = 0;
    const int nBytes = WideToAnsi(pTemp.get(), nUnits, pOut, nOutSize);
    return nBytes > 0 ? static_cast<size_t>(nBytes) : 0;
}

size_t AnsiToUtf8(const char* pIn, size_t nInCount, char* pOut, size_t nOutSize)
{
    if (pIn == nullptr || nInCount == 0)
        return 0;
    // One ANSI byte never gives more than one UTF-16 unit.
    std::unique_ptr<char16_t[]> pTemp(new char16_t[nInCount]);
    const int nUnits = AnsiToWide(pIn, nInCount, pTemp.get(), nInCount);
    if (nUnits <= 0)
        return 0;
    return Utf16ToUtf8(pTemp.get(), static_cast<size_t>(nUnits), pOut, nOutSize);
}

int EncodeUtf8Char(uint32_t uCodePoint, char* pOut)
{
    int nLength;
    if (uCodePoint < 0x80) nLength = 1;
    else if (uCodePoint < 0x800) nLength = 2;
    else if (uCodePoint <= 0xFFFF) nLength = 3;
    else if (uCodePoint <= 0x1FFFFF) nLength = 4;
    else if (uCodePoint <= 0x3FFFFFF) nLength = 5;
    else if (uCodePoint <= 0x7FFFFFFF) nLength = 6;
    else throw XCharError(static_cast<int32_t>(uCodePoint));
    WriteUtf8(uCodePoint, nLength, pOut);
    return nLength;
}

} // namespace dnc
