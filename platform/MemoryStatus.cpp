#include "MemoryStatus.h"

#include <sys/sysinfo.h>

namespace rvdplat {

bool QueryMemoryStatus(MEMORY_STATUS* pStatus)
{
    struct sysinfo info;
    if (pStatus == nullptr || sysinfo(&info) != 0)
        return false;
    const uint64_t ullUnit = info.mem_unit ? info.mem_unit : 1;
    pStatus->ullTotalPhys = static_cast<uint64_t>(info.totalram) * ullUnit;
    pStatus->ullAvailPhys = (static_cast<uint64_t>(info.freeram) + info.bufferram) * ullUnit;
    pStatus->ullTotalPageFile = (static_cast<uint64_t>(info.totalram) + info.totalswap) * ullUnit;
    pStatus->ullAvailPageFile = (static_cast<uint64_t>(info.freeram) + info.bufferram + info.freeswap) * ullUnit;
    return true;
}

} // namespace rvdplat
