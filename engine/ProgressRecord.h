// Field access to the engine's progress record, which the scan thread writes while the GUI
// thread copies it out (IDelvar::GetProgress, every 500 ms). Every field and every text unit is
// stored and loaded as a relaxed atomic word, so the two threads never race on a byte: a copy
// may still mix an older title with a newer percentage (the record's contract allows that),
// but no value is ever half written. The layout stays the plain 744-byte record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "SearchProgress.h"

namespace rvd {

template <class T>
inline void ProgressStore(T* pField, T value)
{
    __atomic_store_n(pField, value, __ATOMIC_RELAXED);
}

template <class T>
inline T ProgressLoad(const T* pField)
{
    return __atomic_load_n(pField, __ATOMIC_RELAXED);
}

inline void ProgressSetPhase(SEARCH_PROGRESS* p, DWORD dwPhase) { ProgressStore(&p->dwPhase, dwPhase); }
inline void ProgressSetPercent(SEARCH_PROGRESS* p, DWORD dwPercent) { ProgressStore(&p->dwPercent, dwPercent); }
inline void ProgressSetFilesFound(SEARCH_PROGRESS* p, uint64_t ullFiles) { ProgressStore(&p->ullFilesFound, ullFiles); }
inline void ProgressSetStatus(SEARCH_PROGRESS* p, DWORD dwStatus) { ProgressStore(&p->dwStatus, dwStatus); }

// Writes a text into a fixed array: cut to leave room for the terminator (never between the
// two halves of a surrogate pair) and zero-filled to the end.
inline void ProgressSetText(WCHAR* pDst, size_t nCapacity, std::u16string_view strText)
{
    size_t nCopy = strText.size();
    if (nCopy > nCapacity - 1) {
        nCopy = nCapacity - 1;
        if (nCopy > 0 && strText[nCopy - 1] >= 0xD800 && strText[nCopy - 1] <= 0xDBFF)
            --nCopy;
    }
    for (size_t i = 0; i < nCapacity; ++i)
        ProgressStore(&pDst[i], i < nCopy ? static_cast<WCHAR>(strText[i]) : WCHAR(0));
}

// ASCII texts (the engine's own phase titles and counters) widened unit by unit.
inline void ProgressSetAsciiText(WCHAR* pDst, size_t nCapacity, std::string_view strText)
{
    size_t nCopy = strText.size() < nCapacity - 1 ? strText.size() : nCapacity - 1;
    for (size_t i = 0; i < nCapacity; ++i)
        ProgressStore(&pDst[i], i < nCopy ? static_cast<WCHAR>(static_cast<unsigned char>(strText[i])) : WCHAR(0));
}

inline void ProgressSetTitle(SEARCH_PROGRESS* p, std::string_view strTitle)
{
    ProgressSetAsciiText(p->szTitle, sizeof(p->szTitle) / sizeof(WCHAR), strTitle);
}

inline void ProgressSetDetail(SEARCH_PROGRESS* p, std::string_view strDetail)
{
    ProgressSetAsciiText(p->szDetail, sizeof(p->szDetail) / sizeof(WCHAR), strDetail);
}

// Copies the whole record field by field; both texts of the copy end with a terminator even if
// the writer was caught between two units.
inline void ProgressCopy(SEARCH_PROGRESS* pDst, const SEARCH_PROGRESS* pSrc)
{
    pDst->dwPhase = ProgressLoad(&pSrc->dwPhase);
    pDst->dwPercent = ProgressLoad(&pSrc->dwPercent);
    pDst->ullFilesFound = ProgressLoad(&pSrc->ullFilesFound);
    pDst->dwStatus = ProgressLoad(&pSrc->dwStatus);
    pDst->dwState = ProgressLoad(&pSrc->dwState);
    const size_t nTitle = sizeof(pSrc->szTitle) / sizeof(WCHAR);
    const size_t nDetail = sizeof(pSrc->szDetail) / sizeof(WCHAR);
    for (size_t i = 0; i < nTitle; ++i)
        pDst->szTitle[i] = ProgressLoad(&pSrc->szTitle[i]);
    for (size_t i = 0; i < nDetail; ++i)
        pDst->szDetail[i] = ProgressLoad(&pSrc->szDetail[i]);
    pDst->szTitle[nTitle - 1] = 0;
    pDst->szDetail[nDetail - 1] = 0;
}

} // namespace rvd
