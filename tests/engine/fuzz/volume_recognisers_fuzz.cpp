// Fuzz target for the volume recognisers and the boot-sector helpers of the partition analysis:
// the input is a volume (its sectors repeat over a larger device, so every cluster, record and
// chain pointer reads fuzzer bytes). Whatever the bytes, the recognisers end, and their labels
// stay inside their buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FuzzDisk.h"
#include "PartitionTableAnalyze.h"
#include "VolumeAnalyzeList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    GetBootSectorFileSystemKind(pData, nSize);

    CFuzzDisk device(pData, nSize, 1ull << 21);
    {
        CVolumeAnalyzeList list(&device, 0);
        IVolume* pVolume = list.GetVolume();
        if (pVolume == nullptr)
            abort();
        char szLabel[101];
        memset(szLabel, 0x7F, sizeof(szLabel));
        pVolume->GetVolumeLabel(szLabel, 100);
        if (szLabel[100] != 0x7F || strnlen(szLabel, 100) == 100)
            abort();
        pVolume->GetTotalSectors();
        pVolume->GetBytesPerSector();
        pVolume->GetSectorsPerCluster();
        pVolume->GetSectorsPerTrack();
        const int nType = pVolume->GetFileSystemType();
        if (nType < 0 || (nType > 5 && nType != 7))
            abort();
    }
    for (uint32_t nKind = 0; nKind <= 4; ++nKind) {
        char szLabel[100];
        memset(szLabel, 0, sizeof(szLabel));
        ReadVolumeLabelByKind(&device, nKind, szLabel, sizeof(szLabel));
        if (strnlen(szLabel, sizeof(szLabel)) == sizeof(szLabel))
            abort();
    }
    return 0;
}
