// The scan settings record: written by the GUI before a scan, read by the engine on its
// scan thread while the GUI waits. The one instance belongs to the CPubic singleton.
#pragma once

#include <cstdint>
#include <vector>

#include "CRVDPublicExport.h"

class CRVDPUBLIC_API CGlobalAdvanceSettingData {
public:
    CGlobalAdvanceSettingData();
    ~CGlobalAdvanceSettingData();

    // 0 = controllers chosen by the partition's own file system, 1 = NTFS, 2 = FAT,
    // 3 = EXT2/EXT3, 4 = all three.
    int32_t m_nFileSystemType;
    // 1 = also carve files by signature.
    int32_t m_bScanRaw;
    // 1 = scan the whole disk block by block when the partition search finds nothing.
    int32_t m_nDiskFullScan;
    // Upper bound, in bytes, of a carved file.
    int64_t m_llRawFileSize;
    // Most found partitions that a complete scan turns into trees.
    int32_t m_nPartitionMaxlimit;
    // 1 = read past bad sectors instead of failing the scan.
    int32_t m_nBadSectorIgnore;
    // File-type numbers the signature carving looks for.
    std::vector<int32_t> m_vecRawTypes;
};
