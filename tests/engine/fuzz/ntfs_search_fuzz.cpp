// Fuzz target for the NTFS complete scan: the input, repeated over an 8 MiB disk, is scanned in
// reads of an odd size (so records, INDX blocks and log pages are cut at read ends), the
// candidates are scored, and the trees of the first few are built; the input is also read as a
// saved controller state. Whatever the bytes, everything ends and nothing reads outside its data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Delvar.h"
#include "FileSystemNode.h"
#include "FuzzDisk.h"
#include "FuzzSearch.h"
#include "MemoryDataStream.h"
#include "ntfs/NTFSSearchController.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const uint64_t kSectors = 16384;
    const uint64_t kRead = 1001;
    CFuzzDisk disk(pData, nSize, kSectors);
    CFuzzSearch search;
    CNTFSSearchController controller;
    CSearchedPartitionInfoList candidates;
    search.Run(controller, disk, kSectors, kRead, &candidates);
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (i < 3)
            DeleteFileTree(controller.BuildFileTree(candidates[i], &disk, static_cast<int32_t>(i), 0));
        delete candidates[i];
    }

    CMemoryDataStream stream(pData, nSize);
    CNTFSSearchController loaded;
    loaded.LoadState(&stream);
    return 0;
}
