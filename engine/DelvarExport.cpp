// The Delvar module's exports: the factory of the process-wide engine object, and the block-scan
// timing the benchmark reads beside its own plain read.
#include "BlockScanTiming.h"
#include "Delvar.h"

extern "C" __attribute__((visibility("default"))) IDelvar* CreateInstance()
{
    return CDelvar::GetInstance();
}

// Seconds and bytes of the block scans run so far in this process.
extern "C" __attribute__((visibility("default"))) void GetBlockScanTotals(double* pdSeconds, uint64_t* pullBytes)
{
    GetBlockScanTiming(pdSeconds, pullBytes);
}
