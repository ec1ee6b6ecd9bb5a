// Fixed-width names for the word types that the on-disk and cross-module records use.
// Their sizes are part of those records' layouts, so each is pinned below.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t  BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t  BOOL;
typedef int32_t  LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int64_t  LONGLONG;
typedef uint64_t ULONGLONG;
typedef int64_t  INT64;
typedef uint64_t UINT64;
typedef uint64_t DWORDLONG;
typedef char16_t WCHAR;
typedef char     CHAR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifndef MAX_PATH
#define MAX_PATH 260
#endif

// Calendar time split into fields, as eight 16-bit words.
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// 100-nanosecond ticks since 1601-01-01 00:00 UTC, kept as one 64-bit number.
struct FILETIME {
    uint64_t qwTicks;
};

static_assert(sizeof(BYTE) == 1 && sizeof(WORD) == 2 && sizeof(DWORD) == 4, "word sizes");
static_assert(sizeof(BOOL) == 4 && sizeof(LONGLONG) == 8 && sizeof(ULONGLONG) == 8, "word sizes");
static_assert(sizeof(WCHAR) == 2, "wide characters are UTF-16 code units");
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is eight 16-bit words");
static_assert(sizeof(FILETIME) == 8, "FILETIME is one 64-bit tick count");
