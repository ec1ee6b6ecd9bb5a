// Fuzz target for the FAT quick build of an existing volume: the input is the volume (boot
// sector, FATs, root area, folders), its sectors repeated over a 16 MiB device, so that cluster
// chains, folder entries, "." and ".." links and long names all come from the fuzzer, loops
// included. Built once as FAT12/16 evidence listing live entries and once as FAT32 evidence
// listing every entry. Whatever the bytes, the build ends and gives a finite, well-linked tree.
#include <cstddef>
#include <cstdint>

#include "FuzzDisk.h"
#include "FuzzTree.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "fat/FATTreeBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CFuzzDisk disk(pData, nSize, 1ull << 15);
    const struct {
        uint32_t nFlags;
        int32_t bListAll;
    } builds[] = {{FAT_QUICK_SCAN_FLAGS_FAT12_16, 0}, {FAT_QUICK_SCAN_FLAGS_FAT32, 1}};
    for (const auto& b : builds) {
        CFATSearchedPartitionInfo* pInfo = CreateFATSearchedPartitionInfo();
        pInfo->AddFlags(b.nFlags);
        pInfo->m_ullStartSector = 0;
        CFATTreeBuilder builder;
        CANCEL_FLAG cancel(0);
        SEARCH_PROGRESS progress{};
        builder.SetProgress(&progress, &cancel);
        // Every 32-byte entry of the device at most once, and the folders made for them.
        CheckAndFreeTree(builder.BuildTree(0, pInfo, &disk, b.bListAll), (1u << 15) * 16 * 2 + 16);
        DeleteFATSearchedPartitionInfo(pInfo);
    }
    return 0;
}
