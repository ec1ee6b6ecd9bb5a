// Runs the three volume recognisers on one start sector and hands back the one that found a
// file system. The order NTFS, FAT, EXT2 decides when a sector passes more than one test.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "IStorageDevice.h"
#include "IVolume.h"

class CVolumeAnalyzeList : public CEngineObject {
public:
    // Creates and runs all three recognisers on the device at u64StartSector, whatever the
    // earlier ones found. The device is not kept.
    CVolumeAnalyzeList(IStorageDevice* pDevice, uint64_t u64StartSector);
    ~CVolumeAnalyzeList();
    CVolumeAnalyzeList(const CVolumeAnalyzeList&) = delete;
    CVolumeAnalyzeList& operator=(const CVolumeAnalyzeList&) = delete;

    // The first recogniser, in list order, whose type is not 7; when none recognised anything,
    // the last one tried (type 7); null only for an empty list. Owned by the list. Callers treat
    // null and type 7 alike: no file system at this sector.
    IVolume* GetVolume();

private:
    std::vector<IVolume*, CEngineAllocator<IVolume*>> m_Volumes;
};
