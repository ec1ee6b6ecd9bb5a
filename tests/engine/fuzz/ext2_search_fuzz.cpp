// Fuzz target for the EXT2/EXT3 complete scan: the input, repeated over a 16 MiB disk, is
// scanned in reads of an odd size (superblocks and group descriptors cut at read ends), the
// candidates are collected, and the trees of the first few are built. Whatever the bytes,
// everything ends, every tree is finite and well linked, and nothing reads outside its data.
#include <cstddef>
#include <cstdint>

#include "FuzzDisk.h"
#include "FuzzSearch.h"
#include "FuzzTree.h"
#include "ext2/Ext2SearchController.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const uint64_t kSectors = 32768;
    const uint64_t kRead = 1001;
    CFuzzDisk disk(pData, nSize, kSectors);
    CFuzzSearch search;
    CEXT2SearchController controller;
    CSearchedPartitionInfoList candidates;
    search.Run(controller, disk, kSectors, kRead, &candidates);
    for (size_t i = 0; i < candidates.size(); ++i) {
        // One node per inode at most; a 1 KiB-block volume of this disk has fewer inodes than
        // sectors.
        if (i < 3)
            CheckAndFreeTree(controller.BuildFileTree(candidates[i], &disk, static_cast<int32_t>(i), 0),
                             kSectors * 8 + 16);
        delete candidates[i];
    }
    return 0;
}
