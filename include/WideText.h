// Text in and out of the fixed character arrays of the cross-module records.
//
// Writing: the text is cut to fit with room for the terminator, never in the middle of a UTF-16
// surrogate pair or a UTF-8 sequence (half a character would turn into a replacement mark or a
// conversion failure in the reader), and the rest of the array is zeroed so no stale bytes cross
// into another module or into the result store.
// Reading: the records come from other modules and may be read while another thread writes them,
// so a reader never trusts the terminator to be there and stops at the end of the array.
#pragma once

#include "WinTypes.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace rvd {

inline bool IsHighSurrogate(char16_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }

// Copies strText into pDst[0..nCapacity), cut to at most nCapacity - 1 code units, terminated and
// zero-filled. Returns the number of code units copied. A capacity of 0 writes nothing.
inline size_t CopyWideText(WCHAR* pDst, size_t nCapacity, std::u16string_view strText)
{
    if (pDst == nullptr || nCapacity == 0)
        return 0;
    size_t nCopy = strText.size();
    if (nCopy > nCapacity - 1) {
        nCopy = nCapacity - 1;
        if (nCopy > 0 && IsHighSurrogate(strText[nCopy - 1]))
            --nCopy;
    }
    std::memcpy(pDst, strText.data(), nCopy * sizeof(WCHAR));
    std::memset(pDst + nCopy, 0, (nCapacity - nCopy) * sizeof(WCHAR));
    return nCopy;
}

template <size_t N>
inline size_t CopyWideText(WCHAR (&szDst)[N], std::u16string_view strText)
{
    return CopyWideText(szDst, N, strText);
}

// Narrow (UTF-8) counterpart of CopyWideText.
inline size_t CopyNarrowText(CHAR* pDst, size_t nCapacity, std::string_view strText)
{
    if (pDst == nullptr || nCapacity == 0)
        return 0;
    size_t nCopy = strText.size();
    if (nCopy > nCapacity - 1) {
        nCopy = nCapacity - 1;
        // Step back over the continuation bytes of a cut sequence to its lead byte; a UTF-8
        // sequence has at most three of them, so malformed text cannot make us drop more.
        for (int i = 0; i < 3 && nCopy > 0 &&
                        (static_cast<unsigned char>(strText[nCopy]) & 0xC0) == 0x80;
             ++i)
            --nCopy;
    }
    std::memcpy(pDst, strText.data(), nCopy);
    std::memset(pDst + nCopy, 0, nCapacity - nCopy);
    return nCopy;
}

template <size_t N>
inline size_t CopyNarrowText(CHAR (&szDst)[N], std::string_view strText)
{
    return CopyNarrowText(szDst, N, strText);
}

// The text of a fixed array up to its first NUL, or the whole array when it has none.
inline std::u16string ReadWideText(const WCHAR* pSrc, size_t nCapacity)
{
    if (pSrc == nullptr)
        return std::u16string();
    size_t n = 0;
    while (n < nCapacity && pSrc[n] != 0)
        ++n;
    return std::u16string(pSrc, n);
}

template <size_t N>
inline std::u16string ReadWideText(const WCHAR (&szSrc)[N])
{
    return ReadWideText(szSrc, N);
}

inline std::string ReadNarrowText(const CHAR* pSrc, size_t nCapacity)
{
    if (pSrc == nullptr)
        return std::string();
    size_t n = 0;
    while (n < nCapacity && pSrc[n] != 0)
        ++n;
    return std::string(pSrc, n);
}

template <size_t N>
inline std::string ReadNarrowText(const CHAR (&szSrc)[N])
{
    return ReadNarrowText(szSrc, N);
}

} // namespace rvd
