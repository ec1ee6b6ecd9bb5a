// The engine's allocation routines. The engine does not replace the process's global
// operator new (the GUI and the other modules share the process); instead every engine class
// derives from CEngineObject and every engine container uses CEngineAllocator, so that all
// engine allocations come from AllocOrRaise. An allocation never yields null: when malloc
// fails, the machine's memory state is logged and the process takes the fatal out-of-memory
// path of the common library (RaiseFatalOutOfMemory).
#pragma once

#include <cstddef>
#include <limits>
#include <new>

// Returns size bytes from malloc; on failure logs and raises the fatal out-of-memory path.
// A request of 0 bytes still yields a distinct, freeable block.
void* AllocOrRaise(size_t nSize);

// Sector and name buffers; released with FreeBuffer.
char* AllocBuffer(size_t nSize);
void FreeBuffer(void* p);

// A large I/O buffer (a block of the block scan), released with FreeMemory: aligned to 2 MiB and
// offered to the kernel for huge pages, so that first touching it takes a few page faults instead
// of one per 4 KiB page. Never null, as AllocOrRaise.
void* AllocLargeBuffer(size_t nSize);

// Releases what AllocOrRaise returned; null is allowed.
void FreeMemory(void* p);

// Base of every engine class that is created with new: routes the object's own allocation
// through the engine's routines.
class CEngineObject {
public:
    static void* operator new(size_t nSize) { return AllocOrRaise(nSize); }
    static void* operator new[](size_t nSize) { return AllocOrRaise(nSize); }
    static void* operator new(size_t nSize, const std::nothrow_t&) noexcept;
    static void* operator new[](size_t nSize, const std::nothrow_t&) noexcept;
    static void operator delete(void* p) noexcept { FreeMemory(p); }
    static void operator delete[](void* p) noexcept { FreeMemory(p); }
    static void operator delete(void* p, const std::nothrow_t&) noexcept { FreeMemory(p); }
    static void operator delete[](void* p, const std::nothrow_t&) noexcept { FreeMemory(p); }
};

// Raises the fatal out-of-memory path for a request whose byte size cannot even be formed.
[[noreturn]] void RaiseAllocationSizeOverflow();

// Standard-library allocator over the engine's routines, for the engine's containers.
template <class T>
class CEngineAllocator {
public:
    typedef T value_type;

    CEngineAllocator() noexcept {}
    template <class U>
    CEngineAllocator(const CEngineAllocator<U>&) noexcept {}

    T* allocate(size_t n)
    {
        if (n > std::numeric_limits<size_t>::max() / sizeof(T))
            RaiseAllocationSizeOverflow();
        return static_cast<T*>(AllocOrRaise(n * sizeof(T)));
    }
    void deallocate(T* p, size_t) noexcept { FreeMemory(p); }

    template <class U>
    bool operator==(const CEngineAllocator<U>&) const noexcept { return true; }
    template <class U>
    bool operator!=(const CEngineAllocator<U>&) const noexcept { return false; }
};
