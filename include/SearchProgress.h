// The progress record that the engine's scanners and the copy-out module write and the GUI
// program copies out every 500 ms. One writer thread, one reader thread, no lock: a copy may mix
// old and new values, so a reader bounds every text it takes from it (see WideText.h).
//
// Plain, fixed-size (744 bytes), pointer-free, little-endian, natural alignment. Every offset is
// part of the contract between the engine, the copy-out module and the GUI program.
#pragma once

#include "WinTypes.h"

#include <cstddef>
#include <type_traits>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the cross-module records are little-endian and are read in place");

// SEARCH_PROGRESS::dwPhase
enum : DWORD {
    PROGRESS_PHASE_PARAMETERS = 0, // still reading the partition parameters: no percentage shown yet
    PROGRESS_PHASE_SEARCHING = 1,  // any non-zero value: the percentage is meaningful
};

// SEARCH_PROGRESS::dwState, written by the copy-out module.
enum : DWORD {
    PROGRESS_STATE_FINISHED = 2, // reached on every ending (done, failed, cancelled)
};

struct SEARCH_PROGRESS {
    DWORD dwPhase;           // 0: PROGRESS_PHASE_*
    DWORD dwPercent;         // 4: 0..100
    ULONGLONG ullFilesFound; // 8
    // 16: a scanner's status word: zeroed when a scan phase starts; a reader that cannot read its
    // boot record leaves its error code here.
    DWORD dwStatus;
    DWORD dwState;           // 20: PROGRESS_STATE_*
    WCHAR szTitle[100];      // 24: UTF-16, NUL-terminated, e.g. "Phase 1 of 2"
    WCHAR szDetail[260];     // 224: UTF-16, NUL-terminated; runs to the end of the record
};

static_assert(std::is_standard_layout<SEARCH_PROGRESS>::value &&
                  std::is_trivially_copyable<SEARCH_PROGRESS>::value,
              "SEARCH_PROGRESS is copied whole between threads and modules");
static_assert(sizeof(SEARCH_PROGRESS) == 744, "SEARCH_PROGRESS size");
static_assert(offsetof(SEARCH_PROGRESS, dwPhase) == 0, "SEARCH_PROGRESS layout");
static_assert(offsetof(SEARCH_PROGRESS, dwPercent) == 4, "SEARCH_PROGRESS layout");
static_assert(offsetof(SEARCH_PROGRESS, ullFilesFound) == 8, "SEARCH_PROGRESS layout");
static_assert(offsetof(SEARCH_PROGRESS, dwStatus) == 16, "SEARCH_PROGRESS layout");
static_assert(offsetof(SEARCH_PROGRESS, dwState) == 20, "SEARCH_PROGRESS layout");
static_assert(offsetof(SEARCH_PROGRESS, szTitle) == 24, "SEARCH_PROGRESS layout");
static_assert(offsetof(SEARCH_PROGRESS, szDetail) == 224, "SEARCH_PROGRESS layout");
