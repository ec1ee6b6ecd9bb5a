// What the NTFS search keeps of a folder's FILE record whose index spilled into INDX blocks: the
// runs of its $INDEX_ALLOCATION, so that an INDX block met in a scan can be placed at the cluster
// its VCN maps to, and the folder's own record number, which the blocks name as their parent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"
#include "NTFSRunList.h"

class CNTFSFolderRecordInfo : public CEngineObject {
public:
    CNTFSFolderRecordInfo();
    CNTFSFolderRecordInfo(const CNTFSFolderRecordInfo&) = delete;
    CNTFSFolderRecordInfo& operator=(const CNTFSFolderRecordInfo&) = delete;

    // Refuses an extension record, a record without a non-empty $INDEX_ALLOCATION whose mapping
    // pairs decode and whose cluster size can be inferred, and the root folder (5) or a folder
    // whose number neither its $INDEX_ROOT nor its header tells. The folder number comes from
    // the $INDEX_ROOT's entries, else from the header.
    bool SetFromRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector);
    // The LCN of a VCN of the index allocation; -1 when no run holds it.
    int64_t MapVCN(uint64_t ullVcn) const;

    uint64_t m_ullRecordSector;
    CNTFSRunList m_IndexRuns;
    uint64_t m_ullLogSequence;
    uint64_t m_ullFolderNumber;
    uint32_t m_nHeaderNumber;
    int32_t m_bHasHeaderNumber;
    int32_t m_nSectorsPerCluster;
};
