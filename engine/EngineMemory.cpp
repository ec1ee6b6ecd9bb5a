#include "EngineMemory.h"

#include <array>
#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

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

#if defined(__SANITIZE_ADDRESS__)
#define RVD_SMALL_OBJECT_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define RVD_SMALL_OBJECT_POOL 0
#endif
#endif
#ifndef RVD_SMALL_OBJECT_POOL
#define RVD_SMALL_OBJECT_POOL 1
#endif

#if RVD_SMALL_OBJECT_POOL
// Small objects (tree nodes, file properties, names, packed runs: a few per found file, millions
// in a large scan) come from slabs of one size class each, carved out of 2 MiB regions that the
// kernel may back with huge pages. A malloc'd block costs a header and a freshly faulted 4 KiB
// page every few dozen objects; here objects sit back to back and a region is faulted in a few
// steps. Freed objects go to their class's list and are handed out again; regions are kept for
// the life of the process, as the heap would keep them. Under a sanitizer every block stays a
// malloc'd one, so that its checks still see each object.
// The pool's lock, held for a few instructions at a time (a free list's head, a slab's next
// object): taken with one atomic exchange and given back with a plain store, where a mutex
// costs two atomic operations and two calls. A quick scan of 100,000 EXT files takes and gives
// it about half a million times, and spent about a tenth of its tree building on the mutex. A
// thread that finds it taken waits a little, then yields.
class CPoolLock {
public:
    void lock()
    {
        while (m_bTaken.exchange(true, std::memory_order_acquire)) {
            for (unsigned nSpins = 0; m_bTaken.load(std::memory_order_relaxed); ++nSpins) {
                if (nSpins < 64)
                    __builtin_ia32_pause();
                else
                    std::this_thread::yield();
            }
        }
    }
    void unlock() { m_bTaken.store(false, std::memory_order_release); }

private:
    std::atomic<bool> m_bTaken{false};
};

class CSmallObjectPool {
public:
    static constexpr size_t MAX_BYTES = 128;
    static constexpr size_t CLASS_BYTES = 16;

    // Null when the size is not pooled or no region can be had (the caller uses malloc).
    void* Allocate(size_t nSize)
    {
        const size_t nClass = (nSize + CLASS_BYTES - 1) / CLASS_BYTES;  // 1..8
        std::lock_guard<CPoolLock> guard(m_Lock);
        FREE_OBJECT*& pFree = m_apFree[nClass];
        if (pFree != nullptr) {
            FREE_OBJECT* p = pFree;
            pFree = p->pNext;
            return p;
        }
        const size_t nBytes = nClass * CLASS_BYTES;
        if (m_apSlabNext[nClass] == nullptr || m_apSlabEnd[nClass] - m_apSlabNext[nClass] < static_cast<ptrdiff_t>(nBytes)) {
            if (!NewSlab(nClass))
                return nullptr;
        }
        void* p = m_apSlabNext[nClass];
        m_apSlabNext[nClass] += nBytes;
        return p;
    }
    // False when p is no pooled object (it then came from malloc).
    bool Free(void* p)
    {
        const uintptr_t nAddress = reinterpret_cast<uintptr_t>(p);
        std::lock_guard<CPoolLock> guard(m_Lock);
        auto it = m_Regions.upper_bound(nAddress);
        if (it == m_Regions.begin())
            return false;
        --it;
        if (nAddress - it->first >= REGION_BYTES)
            return false;
        const size_t nClass = it->second[(nAddress - it->first) / SLAB_BYTES];
        FREE_OBJECT* pObject = static_cast<FREE_OBJECT*>(p);
        pObject->pNext = m_apFree[nClass];
        m_apFree[nClass] = pObject;
        return true;
    }

private:
    static constexpr size_t CLASSES = MAX_BYTES / CLASS_BYTES + 1;
    static constexpr size_t SLAB_BYTES = 64 * 1024;
    static constexpr size_t REGION_BYTES = 2 * 1024 * 1024;
    static constexpr size_t SLABS_PER_REGION = REGION_BYTES / SLAB_BYTES;
    struct FREE_OBJECT {
        FREE_OBJECT* pNext;
    };
    typedef std::array<uint8_t, SLABS_PER_REGION> SLAB_CLASSES;

    bool NewSlab(size_t nClass)
    {
        if (m_pRegionNext == nullptr || m_pRegionNext == m_pRegionEnd) {
            // A region aligned to its size: map twice its size and give back the ends.
            void* pMap = mmap(nullptr, 2 * REGION_BYTES, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (pMap == MAP_FAILED)
                return false;
            const uintptr_t nMap = reinterpret_cast<uintptr_t>(pMap);
            const uintptr_t nBase = (nMap + REGION_BYTES - 1) & ~(REGION_BYTES - 1);
            if (nBase > nMap)
                munmap(pMap, nBase - nMap);
            if (nMap + 2 * REGION_BYTES > nBase + REGION_BYTES)
                munmap(reinterpret_cast<void*>(nBase + REGION_BYTES), nMap + 2 * REGION_BYTES - (nBase + REGION_BYTES));
            madvise(reinterpret_cast<void*>(nBase), REGION_BYTES, MADV_HUGEPAGE);
            m_pRegionNext = reinterpret_cast<char*>(nBase);
            m_pRegionEnd = m_pRegionNext + REGION_BYTES;
            m_Regions.emplace(nBase, SLAB_CLASSES{});
        }
        auto region = std::prev(m_Regions.upper_bound(reinterpret_cast<uintptr_t>(m_pRegionNext)));
        region->second[(reinterpret_cast<uintptr_t>(m_pRegionNext) - region->first) / SLAB_BYTES] =
            static_cast<uint8_t>(nClass);
        m_apSlabNext[nClass] = m_pRegionNext;
        m_apSlabEnd[nClass] = m_pRegionNext + SLAB_BYTES;
        m_pRegionNext += SLAB_BYTES;
        return true;
    }

    CPoolLock m_Lock;
    FREE_OBJECT* m_apFree[CLASSES] = {};
    char* m_apSlabNext[CLASSES] = {};
    char* m_apSlabEnd[CLASSES] = {};
    char* m_pRegionNext = nullptr;
    char* m_pRegionEnd = nullptr;
    // Region base -> the size class of each of its slabs.
    std::map<uintptr_t, SLAB_CLASSES> m_Regions;
};

// Made on first use and never destroyed: objects may be freed while the process exits.
CSmallObjectPool& SmallObjects()
{
    static CSmallObjectPool* pPool = new CSmallObjectPool();
    return *pPool;
}
#endif

} // namespace

void* AllocOrRaise(size_t nSize)
{
#if RVD_SMALL_OBJECT_POOL
    if (nSize <= CSmallObjectPool::MAX_BYTES)
        if (void* p = SmallObjects().Allocate(nSize != 0 ? nSize : 1))
            return p;
#endif
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
    if (p == nullptr)
        return;
#if RVD_SMALL_OBJECT_POOL
    if (SmallObjects().Free(p))
        return;
#endif
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
