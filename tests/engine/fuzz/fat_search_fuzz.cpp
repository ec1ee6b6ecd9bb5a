// Fuzz target for the FAT complete scan: the input, repeated over an 8 MiB disk, is scanned in
// reads of an odd size (boot sectors, FAT starts and directory sectors cut at read ends), the
// candidates are collected, and the trees of the first few are built from the directory sectors
// seen; the input is also read as a saved controller state. Whatever the bytes, everything ends,
// every tree is finite and well linked, and nothing reads outside its data.
#include <cstddef>
#include <cstdint>

#include "FuzzDisk.h"
#include "FuzzSearch.h"
#include "FuzzTree.h"
#include "MemoryDataStream.h"
#include "fat/FATSearchController.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const uint64_t kSectors = 16384;
    const uint64_t kRead = 1001;
    CFuzzDisk disk(pData, nSize, kSectors);
    CFuzzSearch search;
    CFATSearchController controller;
    CSearchedPartitionInfoList candidates;
    search.Run(controller, disk, kSectors, kRead, &candidates);
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (i < 3)
            CheckAndFreeTree(controller.BuildFileTree(candidates[i], &disk, static_cast<int32_t>(i), 0),
                             kSectors * 16 * 2 + 16);
        delete candidates[i];
    }

    CMemoryDataStream stream(pData, nSize);
    CFATSearchController loaded;
    loaded.LoadState(&stream);
    return 0;
}
