#include "BlockScanTiming.h"

#include <mutex>

namespace {

std::mutex g_Lock;
double g_dSeconds = 0;
uint64_t g_ullBytes = 0;

} // namespace

void AddBlockScanTiming(double dSeconds, uint64_t ullBytes)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    g_dSeconds += dSeconds;
    g_ullBytes += ullBytes;
}

void GetBlockScanTiming(double* pdSeconds, uint64_t* pullBytes)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    if (pdSeconds != nullptr)
        *pdSeconds = g_dSeconds;
    if (pullBytes != nullptr)
        *pullBytes = g_ullBytes;
}

void ResetBlockScanTiming()
{
    std::lock_guard<std::mutex> guard(g_Lock);
    g_dSeconds = 0;
    g_ullBytes = 0;
}
