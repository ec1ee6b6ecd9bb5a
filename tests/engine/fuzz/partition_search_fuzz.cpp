// Fuzz target for the search for lost partitions: a 1 GiB disk made of the input (so every
// cylinder boundary the search probes reads fuzzer bytes: FAT and NTFS boot sectors, the NTFS
// system records they point at, EXT superblocks, and the partition table the finds are held
// against). Whatever the bytes, the search ends and every partition it gives lies on the disk
// with a device over exactly its sectors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzDisk.h"
#include "IStorageDevice.h"
#include "QuickPartitionSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const uint64_t kSectors = 1ull << 21;
    CFuzzDisk disk(pData, nSize, kSectors);
    for (int nHeads : {255, 240}) {
        SEARCH_DEVICE_CONTEXT context{};
        context.m_pDevice = &disk;
        context.m_pDevice2 = &disk;
        context.m_nHeads = nHeads;
        rvdplat::DISK_GEOMETRY geometry = {static_cast<LONGLONG>(kSectors / (255 * 63)), 12, 255, 63, 512};
        CFoundPartitionList found;
        CQuickPartitionSearch search;
        CANCEL_FLAG cancel(0);
        SEARCH_PROGRESS progress{};
        search.SetProgress(&progress, &cancel);
        search.Search(&context, found, geometry);
        for (const FOUND_PARTITION* p : found) {
            if (p->pDevice == nullptr || p->ullSectorCount == 0 || p->ullStartSector >= kSectors ||
                p->ullSectorCount > kSectors - p->ullStartSector || p->pDevice->GetTotalSectors() != p->ullSectorCount ||
                p->szLabel[sizeof(p->szLabel) - 1] != 0 || p->nFileSystemKind > 7)
                abort();
        }
        DeleteFoundPartitions(found);
    }
    return 0;
}
