// The result store's interface: the Corrand module exports extern "C" void* CreateInstance(),
// which hands out its one process-wide ICorrand object. The engine fills it (AddPartition,
// AddFileTree) on its scan thread; the GUI program's result page lists, searches and ticks
// through it; the copy-out module learns the ticked files from it. One header for the engine,
// the store and the GUI program, so all three agree on the slots.
//
// The slot order of the virtual operations is part of the contract and must not change:
//  0 destructor           6 GetNextFiles        12 GetCheckedSize     18 (reserved)
//  1 AddPartition         7 EndEnumFiles        13 ClearCheckStates   19 GetFileInfo
//  2 AddFileTree          8 GetPartitionInfo    14 (reserved)         20 (reserved)
//  3 GetPartitionCount    9 (reserved)          15 CloseResult        21 EndPreview
//  4 BeginEnumFiles      10 SetCheckState       16 BeginPreview
//  5 BeginSearchFiles    11 StopEnumeration     17 (reserved)
// Callers test results in their low 16 bits only. Integers are 32-bit unless a width is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "DiskInfo.h"
#include "FileInfo.h"
#include "WinTypes.h"

class CFileSystemNode;

// BeginEnumFiles: the two kinds of children that together make up a folder's content.
enum : int32_t {
    ENUM_KIND_FOLDERS = 1,
    ENUM_KIND_FILES = 2,
};

// One found file as the store hands it out for a preview (GetFileInfo), owned by the store until
// EndPreview. Not a FILE_INFO_EX: the two share only the size's offset.
// Contract offsets: 4 name, 528 size, 560 attributes. Everything else is the store's own.
struct FILE_DETAIL_INFO {
    DWORD dwStoreReserved00;     // 0
    WCHAR szName[260];           // 4: UTF-16, NUL-terminated; the name as found
    DWORD dwStoreReserved20C;
    ULONGLONG ullSize;           // 528: bytes
    BYTE abyStoreReserved218[24];
    WORD wAttributes;            // 560: Windows attribute bits (0x10 folder, 0x4000 encrypted)
    WORD wStoreReserved232;
    DWORD dwStoreReserved234;
};

static_assert(std::is_standard_layout<FILE_DETAIL_INFO>::value &&
                  std::is_trivially_copyable<FILE_DETAIL_INFO>::value,
              "FILE_DETAIL_INFO is read in place across modules");
static_assert(sizeof(FILE_DETAIL_INFO) == 568, "FILE_DETAIL_INFO size");
static_assert(offsetof(FILE_DETAIL_INFO, szName) == 4, "FILE_DETAIL_INFO layout");
static_assert(offsetof(FILE_DETAIL_INFO, ullSize) == 528, "FILE_DETAIL_INFO layout");
static_assert(offsetof(FILE_DETAIL_INFO, wAttributes) == 560, "FILE_DETAIL_INFO layout");

class ICorrand {
public:
    virtual ~ICorrand() {}

    // --- filled by the engine, on its scan thread ---

    // One result of a scan: the partition record (832 bytes), its position among the results of
    // this scan (0, 1, ...), and bIsFirst = 1 exactly when nIndex is 0 (a new scan's results
    // replace the previous ones).
    virtual int32_t AddPartition(const PARTITION_INFO_EX* pPartition, int32_t nIndex, int32_t bIsFirst) = 0;
    // The "Deleted Files" tree of the partition last added. The engine frees the tree as soon
    // as the call returns: the store copies what it keeps during the call.
    virtual int32_t AddFileTree(CFileSystemNode* pRoot) = 0;

    // --- read and ticked by the GUI program ---

    // *pnCount := number of partitions of the current result.
    virtual int32_t GetPartitionCount(int32_t* pnCount) = 0;
    // First batch of the children of kind nKind (ENUM_KIND_*) of folder dwParentRecord
    // (0 = the volume's top) of volume dwVolume. 0: *ppFiles is a store-owned array of *pnCount
    // records (the count may be 0), valid until the next call; non-zero: error, and no
    // EndEnumFiles follows.
    virtual int32_t BeginEnumFiles(DWORD dwParentRecord, FILE_INFO_EX** ppFiles, int32_t* pnCount,
                                   int32_t nKind, DWORD dwVolume) = 0;
    // First batch of the files and folders that match pCondition; as BeginEnumFiles.
    // nReserved is 0.
    virtual int32_t BeginSearchFiles(const SEARCH_CONDITION* pCondition, FILE_INFO_EX** ppFiles,
                                     int32_t* pnCount, int32_t nReserved) = 0;
    // 0 with a non-zero count: another batch; anything else: the listing is at its end.
    virtual int32_t GetNextFiles(FILE_INFO_EX** ppFiles, int32_t* pnCount) = 0;
    // Ends a listing or search whose first call succeeded.
    virtual int32_t EndEnumFiles() = 0;
    // Copies the record of result nIndex; non-zero when there is none.
    virtual int32_t GetPartitionInfo(PARTITION_INFO_EX* pPartition, int32_t nIndex) = 0;
    virtual int32_t Reserved9() { return 0; }
    // Ticks (bChecked 1) or clears record dwRecord of volume dwVolume; bFolder 1 for a folder,
    // whose tick reaches everything below it; bFullyChecked 1 when a folder is ticked fully.
    virtual int32_t SetCheckState(DWORD dwRecord, int32_t bChecked, int32_t bFolder, int32_t bFullyChecked,
                                  DWORD dwVolume) = 0;
    // Stops a listing in progress; called before every listing and search.
    virtual int32_t StopEnumeration() = 0;
    // Bytes ticked in or below record dwRecord of volume dwVolume. nReserved is 0.
    virtual uint64_t GetCheckedSize(DWORD dwRecord, int32_t nReserved, DWORD dwVolume) = 0;
    virtual int32_t ClearCheckStates() = 0;
    virtual int32_t Reserved14() { return 0; }
    // The user has left the result page.
    virtual int32_t CloseResult() = 0;
    // Opens a preview; non-zero low 16 bits: the preview fails. *pnReserved is the store's own.
    virtual int32_t BeginPreview(int32_t* pnReserved) = 0;
    virtual int32_t Reserved17() { return 0; }
    virtual int32_t Reserved18() { return 0; }
    // *ppInfo := the record of file dwRecord of volume dwVolume, owned by the store until
    // EndPreview; left null when there is no such file.
    virtual int32_t GetFileInfo(DWORD dwRecord, FILE_DETAIL_INFO** ppInfo, DWORD dwVolume) = 0;
    virtual int32_t Reserved20() { return 0; }
    // Closes the preview opened by BeginPreview, on every path.
    virtual int32_t EndPreview() = 0;
};
