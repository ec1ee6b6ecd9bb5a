#include "FatalError.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<PFN_FATAL_OUT_OF_MEMORY> g_pfnOutOfMemory{nullptr};
}

PFN_FATAL_OUT_OF_MEMORY SetFatalOutOfMemoryHandler(PFN_FATAL_OUT_OF_MEMORY pfnHandler)
{
    return g_pfnOutOfMemory.exchange(pfnHandler);
}

PFN_FATAL_OUT_OF_MEMORY GetFatalOutOfMemoryHandler()
{
    return g_pfnOutOfMemory.load();
}

void RaiseFatalOutOfMemory(size_t nBytes)
{
    PFN_FATAL_OUT_OF_MEMORY pfnHandler = g_pfnOutOfMemory.load();
    if (pfnHandler != nullptr)
        pfnHandler(nBytes);
    // stderr is unbuffered and this formats into a fixed line: nothing here allocates.
    std::fprintf(stderr, "Ravendo: out of memory, failed to allocate %zu bytes\n", nBytes);
    std::abort();
}
