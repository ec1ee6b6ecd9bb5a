#include "EngineMemory.h"

#include <cinttypes>
#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

#include "MemoryStatus.h"
#include "Veskel.h"
#include "common/FatalError.h"

namespace {

const uint64_t BYTES_PER_MIB = 1048576;

[[noreturn]] void ReportOutOfMemory(size_t nSize)
{
    // The size is logged as at least eight hex digits (a 32-bit request word); larger requests
    // show their full width.
    LogInfo("Failed to alloc 0x%08zx bytes", nSize);
    rvdplat::MEMORY_STATUS figures = {0, 0, 0, 0};
    if (!rvdplat::QueryMemoryStatus(&figures))
        LogInfo("Failed to query memory status.");
    LogInfo("Memory status:");
    LogInfo("Total physical memory:%4" PRIu64 " MB\tAvailable physical memory:%4" PRIu64 " MB",
            figures.ullTotalPhys / BYTES_PER_MIB, figures.ullAvailPhys / BYTES_PER_MIB);
    LogInfo("Total   page    files:%4" PRIu64 " MB\tAvailable    page   files:%4" PRIu64 " MB",
            figures.ullTotalPageFile / BYTES_PER_MIB, figures.ullAvailPageFile / BYTES_PER_MIB);
    RaiseFatalOutOfMemory(nSize);
}

} // namespace

void* AllocOrRaise(size_t nSize)
{
    // malloc(0) may give null on success; every caller expects a block it can free.
    void* p = std::malloc(nSize ? nSize : 1);
    if (p == nullptr)
        ReportOutOfMemory(nSize);
    return p;
}

void* AllocLargeBuffer(size_t nSize)
{
    const size_t nHugePage = 2u << 20;
    void* p = nullptr;
    if (posix_memalign(&p, nHugePage, nSize ? nSize : 1) != 0 || p == nullptr)
        ReportOutOfMemory(nSize);
    // Advice only: without huge pages the buffer works the same.
    if (nSize >= nHugePage)
        madvise(p, nSize / nHugePage * nHugePage, MADV_HUGEPAGE);
    return p;
}

char* AllocBuffer(size_t nSize)
{
    return static_cast<char*>(AllocOrRaise(nSize));
}

void FreeBuffer(void* p)
{
    FreeMemory(p);
}

void FreeMemory(void* p)
{
    std::free(p);
}

void RaiseAllocationSizeOverflow()
{
    ReportOutOfMemory(SIZE_MAX);
}

void* CEngineObject::operator new(size_t nSize, const std::nothrow_t&) noexcept
{
    // The engine's allocation never yields null, so the nothrow form behaves like the plain
    // one; the fatal path does not return.
    return AllocOrRaise(nSize);
}

void* CEngineObject::operator new[](size_t nSize, const std::nothrow_t&) noexcept
{
    return AllocOrRaise(nSize);
}
