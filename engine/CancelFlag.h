// The engine's cancel flag: 1 = the user asked the running scan to stop. IDelvar::Cancel sets it
// from the GUI thread while the scan thread polls it in every scanner (block loops, tree
// builders, the lost-partition search), so it is an atomic: a plain int may be read once and
// kept in a register by a polling loop, and the other thread's store would never be seen.
// Scanners receive a pointer to the engine's one flag and only read it (`*pnCancel == 1`).
#pragma once

#include <atomic>
#include <cstdint>

typedef std::atomic<int32_t> CANCEL_FLAG;

static_assert(sizeof(CANCEL_FLAG) == sizeof(int32_t) && CANCEL_FLAG::is_always_lock_free,
              "the cancel flag is a lock-free 32-bit word");

// True when a flag is given and a cancel was requested.
inline bool IsCancelRequested(const CANCEL_FLAG* pnCancel)
{
    return pnCancel != nullptr && pnCancel->load(std::memory_order_relaxed) == 1;
}
