#include "QuickPartitionSearch.h"

#include "IStorageDevice.h"

void DeleteFoundPartitions(CFoundPartitionList& partitions)
{
    for (FOUND_PARTITION* pPartition : partitions) {
        delete pPartition->pDevice;
        delete pPartition;
    }
    partitions.clear();
}

void CQuickPartitionSearch::Search(SEARCH_DEVICE_CONTEXT* pContext, CFoundPartitionList& partitions,
                                   const rvdplat::DISK_GEOMETRY& geometry)
{
    // STUB: no boot-sector checker exists yet, so no cylinder boundary is examined and nothing
    // is found. The whole-disk scan then runs its block scan over the disk.
    (void)pContext;
    (void)partitions;
    (void)geometry;
}
