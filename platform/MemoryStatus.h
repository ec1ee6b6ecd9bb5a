// The machine's memory figures, as the engine logs them before it gives up on a failed
// allocation. Nothing here allocates: it is called after malloc has already failed.
#pragma once

#include <cstdint>

namespace rvdplat {

struct MEMORY_STATUS {
    uint64_t ullTotalPhys;      // bytes of physical memory
    uint64_t ullAvailPhys;      // bytes free (free plus buffers)
    uint64_t ullTotalPageFile;  // commit limit: memory plus swap, the nearest match of a page file
    uint64_t ullAvailPageFile;  // free memory plus free swap
};

// False when the kernel does not answer; the figures are then untouched.
bool QueryMemoryStatus(MEMORY_STATUS* pStatus);

} // namespace rvdplat
