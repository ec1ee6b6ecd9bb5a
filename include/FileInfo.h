// Records of the result store's listing and search: the found-file record it hands out in
// batches, and the search criteria the result page gives it. Both cross module boundaries and are
// read in place, so their size and the offsets listed below are a binary contract.
//
// Plain, fixed-size, pointer-free, little-endian, natural alignment. Zero a record with
// `SEARCH_CONDITION cond{};` before filling it: reserved fields are expected to be zero.
#pragma once

#include "WinTypes.h"

#include <cstddef>
#include <type_traits>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the cross-module records are little-endian and are read in place");

// FILE_INFO_EX::dwChecked and FILE_INFO_EX::byFullyChecked
enum : DWORD {
    FILE_INFO_CHECKED = 0x1,       // dwChecked: a file is ticked (any non-zero value counts), or a
                                   // folder is ticked fully or in part (this bit only)
    FILE_INFO_FULLY_CHECKED = 0x1, // byFullyChecked: a ticked folder is ticked fully
};

// One found file or folder, 616 bytes.
// Contract offsets: 0 record number, 8 name, 528 size, 536/552/568 creation, modification and
// access times, 584 folder flag, 592 tick state, 596 fully-ticked flag. Offset 4 and the last 16
// bytes belong to the result store; the gaps at 588 and 597 are reserved.
struct FILE_INFO_EX {
    DWORD dwRecordNumber;          // 0: the file's key within its volume
    DWORD dwStoreReserved;         // 4: the result store's own use
    WCHAR szName[260];             // 8: UTF-16, NUL-terminated
    ULONGLONG ullSize;             // 528: bytes
    SYSTEMTIME stCreationTime;     // 536
    SYSTEMTIME stModificationTime; // 552
    SYSTEMTIME stAccessTime;       // 568
    DWORD dwFolder;                // 584: non-zero for a folder
    DWORD dwReserved24C;
    DWORD dwChecked;               // 592: FILE_INFO_CHECKED
    BYTE byFullyChecked;           // 596: FILE_INFO_FULLY_CHECKED; read for folders only
    BYTE abyReserved255[3];
    BYTE abyStoreReserved[16];     // 600: the result store's own use
};

// SEARCH_CONDITION::dwCriteria
enum : DWORD {
    SEARCH_BY_NAME = 0x1,
    SEARCH_BY_DATE = 0x2,
    SEARCH_BY_SIZE = 0x4,
};

// SEARCH_CONDITION::dwDateKind: which time stamp the date range applies to.
enum : DWORD {
    SEARCH_DATE_MODIFIED = 0,
    SEARCH_DATE_CREATED = 1,
    SEARCH_DATE_ACCESSED = 2,
};

// SEARCH_CONDITION::dwSizeMode
enum : DWORD {
    SEARCH_SIZE_MORE_THAN = 0,
    SEARCH_SIZE_LESS_THAN = 1,
};

// Search criteria for the result store, 592 bytes. Every offset is part of the contract; the
// reserved words are zero.
struct SEARCH_CONDITION {
    DWORD dwCriteria;           // 0: SEARCH_BY_* bits
    DWORD dwFolderRecord;       // 4: record number of the folder to search under
    DWORD dwVolume;             // 8: volume number of that folder
    DWORD dwReserved0C;
    WCHAR szNameMask[260];      // 16: UTF-16, NUL-terminated; "*" matches every name
    DWORD dwDateKind;           // 536: SEARCH_DATE_*; written even when the date range is unused
    SYSTEMTIME stDateFrom;      // 540: lower bound, local time
    SYSTEMTIME stDateTo;        // 556: upper bound, local time
    DWORD dwReserved23C;
    DWORD dwSizeMode;           // 576: SEARCH_SIZE_*
    DWORD dwReserved244;
    ULONGLONG ullSizeBound;     // 584: bytes
};

static_assert(std::is_standard_layout<FILE_INFO_EX>::value &&
                  std::is_trivially_copyable<FILE_INFO_EX>::value,
              "FILE_INFO_EX is copied whole between modules");
static_assert(sizeof(FILE_INFO_EX) == 616, "FILE_INFO_EX size");
static_assert(offsetof(FILE_INFO_EX, dwRecordNumber) == 0, "FILE_INFO_EX layout");
static_assert(offsetof(FILE_INFO_EX, dwStoreReserved) == 4, "FILE_INFO_EX layout");
static_assert(offsetof(FILE_INFO_EX, szName) == 8, "FILE_INFO_EX layout");
static_assert(offsetof(FILE_INFO_EX, ullSize) == 528, "FILE_INFO_EX layout");
static_assert(offsetof(FILE_INFO_EX, stCreationTime) == 536, "FILE_INFO_EX layout");
static_assert(offsetof(FILE_INFO_EX, stModificationTime) == 552, "FILE_INFO_EX layout");
static_assert(offsetof(FILE_INFO_EX, stAccessTime) == 568, "FILE_INFO_EX layout");
static_assert(offsetof(FILE_INFO_EX, dwFolder) == 584, "FILE_INFO_EX layout");
static_assert(offsetof(FILE_INFO_EX, dwChecked) == 592, "FILE_INFO_EX layout");
static_assert(offsetof(FILE_INFO_EX, byFullyChecked) == 596, "FILE_INFO_EX layout");
static_assert(offsetof(FILE_INFO_EX, abyStoreReserved) == 600, "FILE_INFO_EX layout");

static_assert(std::is_standard_layout<SEARCH_CONDITION>::value &&
                  std::is_trivially_copyable<SEARCH_CONDITION>::value,
              "SEARCH_CONDITION is copied whole between modules");
static_assert(sizeof(SEARCH_CONDITION) == 592, "SEARCH_CONDITION size");
static_assert(offsetof(SEARCH_CONDITION, dwCriteria) == 0, "SEARCH_CONDITION layout");
static_assert(offsetof(SEARCH_CONDITION, dwFolderRecord) == 4, "SEARCH_CONDITION layout");
static_assert(offsetof(SEARCH_CONDITION, dwVolume) == 8, "SEARCH_CONDITION layout");
static_assert(offsetof(SEARCH_CONDITION, dwReserved0C) == 12, "SEARCH_CONDITION layout");
static_assert(offsetof(SEARCH_CONDITION, szNameMask) == 16, "SEARCH_CONDITION layout");
static_assert(offsetof(SEARCH_CONDITION, dwDateKind) == 536, "SEARCH_CONDITION layout");
static_assert(offsetof(SEARCH_CONDITION, stDateFrom) == 540, "SEARCH_CONDITION layout");
static_assert(offsetof(SEARCH_CONDITION, stDateTo) == 556, "SEARCH_CONDITION layout");
static_assert(offsetof(SEARCH_CONDITION, dwReserved23C) == 572, "SEARCH_CONDITION layout");
static_assert(offsetof(SEARCH_CONDITION, dwSizeMode) == 576, "SEARCH_CONDITION layout");
static_assert(offsetof(SEARCH_CONDITION, dwReserved244) == 580, "SEARCH_CONDITION layout");
static_assert(offsetof(SEARCH_CONDITION, ullSizeBound) == 584, "SEARCH_CONDITION layout");
