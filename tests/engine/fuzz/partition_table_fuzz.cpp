// Fuzz target for the partition-table readers: the MBR and GPT entry parsers on the raw bytes,
// and the whole analysis (dynamic-disk test, MBR, extended chain, GPT array, whole-disk
// recogniser, gaps) on a disk made of the input. Whatever the bytes, the analysis ends and every
// entry it lists lies on the disk with a device over exactly its sectors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "BasicPartitionDevice.h"
#include "FuzzDisk.h"
#include "GptPartitionType.h"
#include "MbrSector.h"
#include "PartitionTableAnalyze.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    MBR_ENTRY aEntries[MBR_ENTRY_COUNT];
    ReadMbrSector(pData, nSize, aEntries);
    for (size_t nOffset = 0; nOffset + GPT_ENTRY_BYTES <= nSize && nOffset < 64 * GPT_ENTRY_BYTES; nOffset += GPT_ENTRY_BYTES) {
        GPT_ENTRY entry;
        ReadGptEntry(pData + nOffset, nSize - nOffset, &entry);
        IsKnownGptType(entry);
    }

    // Two geometries: the usual 255 x 63, and one whose cylinder is below the 206-sector minimum.
    const uint64_t u64Sectors = 1ull << 22;
    CFuzzDisk disk(pData, nSize, u64Sectors);
    for (uint32_t nHeads : {255u, 1u}) {
        rvdplat::DISK_GEOMETRY geometry = {static_cast<LONGLONG>(u64Sectors / (nHeads * 63)), 12, nHeads, 63, 512};
        CPartitionEntryList list;
        CPartitionTableAnalyze analyze;
        const int nCount = analyze.AnalyzePartitionTable(&disk, list, geometry);
        if (nCount != 0 && nCount != static_cast<int>(list.size()))
            abort();
        uint64_t u64Previous = 0;
        for (const PARTITION_ENTRY* pEntry : list) {
            const auto* pDevice = dynamic_cast<const CBasicPartitionDevice*>(pEntry->pDevice);
            if (pDevice == nullptr || pDevice->GetStartSector() != pEntry->u64StartSector ||
                pEntry->pDevice->GetTotalSectors() != pEntry->u64SectorCount || pEntry->u64SectorCount == 0 ||
                pEntry->u64StartSector >= u64Sectors || pEntry->u64SectorCount > u64Sectors - pEntry->u64StartSector ||
                pEntry->u64StartSector < u64Previous || pEntry->szLabel[sizeof(pEntry->szLabel) - 1] != 0)
                abort();
            u64Previous = pEntry->u64StartSector;
        }
        FreePartitionEntries(list, true);
    }
    return 0;
}
