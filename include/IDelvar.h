// The recovery engine's interface, as the GUI program reaches it: the Delvar module exports one
// factory, extern "C" IDelvar* CreateInstance(), which hands out the one process-wide engine
// object. Init chooses what to scan, Search runs the scan on the caller's thread, Cancel and
// GetProgress may be called from any other thread while it runs.
//
// Integers are 32-bit. The slot order of the virtual operations is part of the contract:
// 0 destructor, 1 Init, 2 Reserved, 3 Search, 4 Cancel, 5 GetProgress.
#pragma once

#include <cstdint>

#include "DiskInfo.h"
#include "SearchProgress.h"

// Scan modes given to IDelvar::Init.
enum : int32_t {
    SCAN_MODE_QUICK = 0,      // the partition's own file system is read; no sector scan
    SCAN_MODE_COMPLETE = 1,   // block scan of one partition for lost file systems
    SCAN_MODE_WHOLE_DISK = 2, // lost-partition search over a disk, then a block scan when it finds none
};

// Status codes of Init and Search.
enum : int32_t {
    DELVAR_SUCCESS = 0,                    // at least one result was handed to the result store
    DELVAR_NOT_INITIALIZED = 0x102,        // Init not called, or the result store failed to load
    DELVAR_CANCELLED = 0x108,              // cancelled before anything was found
    DELVAR_NOTHING_FOUND = 0x109,          // not cancelled and nothing found
    DELVAR_DEVICE_NOT_FOUND = 0x100B,      // whole-disk mode: no physical disk with the record's number
    DELVAR_PARTITION_NOT_FOUND = 0x100C,   // quick and complete modes: the record's partition is not there
};

class IDelvar {
public:
    virtual ~IDelvar() {}

    // Copies the records (a null pointer keeps the earlier copy), stores the mode and loads the
    // result store. 0, or DELVAR_NOT_INITIALIZED when the store cannot be loaded. The fourth
    // argument is not used (callers pass 0).
    virtual int32_t Init(const DISK_INFO_EX* pDisk, const PARTITION_INFO_EX* pPartition, int32_t nMode,
                         int32_t nReserved) = 0;
    // Does nothing.
    virtual void Reserved(int32_t nReserved1, int32_t nReserved2) = 0;
    // Runs the scan chosen by Init; returns a status code above.
    virtual int32_t Search() = 0;
    // Asks the running scan to stop at its next poll; returns 0.
    virtual int32_t Cancel() = 0;
    // Copies the progress record into *pProgress; anStatus[0] := 1 while a cancel is pending,
    // anStatus[1] := 0. Either pointer may be null.
    virtual void GetProgress(SEARCH_PROGRESS* pProgress, int32_t anStatus[2]) = 0;
};

// The Delvar module's factory, found by the name "CreateInstance".
typedef IDelvar* (*PFN_DELVAR_CREATE_INSTANCE)();
