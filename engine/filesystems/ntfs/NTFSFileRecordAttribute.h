// Data runs of FILE record attributes, and the cluster size inferred from them: a $DATA's
// runs against its real size tell how large the volume's clusters are when no boot sector is
// left to say so.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"
#include "NTFSRunList.h"

class CFileRecordHolder;

class CNTFSFileRecordAttribute : public CEngineObject {
public:
    virtual ~CNTFSFileRecordAttribute() {}
};

// The $FILE_NAME accessors of NTFSFileRecord.h, on an attribute handed in per call.
class CNTFSFileRecordFileNameAttribute : public CNTFSFileRecordAttribute {
public:
    bool IsValid(const uint8_t* pAttr, size_t nRoom) const;
    uint64_t GetParentNumber(const uint8_t* pAttr) const;
    uint32_t GetFlags(const uint8_t* pAttr) const;
    uint8_t GetNamespace(const uint8_t* pAttr) const;
};

// The runs of one non-resident attribute.
class CNTFSFileRecordDataRunsAttribute : public CNTFSFileRecordAttribute {
public:
    // DecodeAttributeRuns into its own list (emptied first).
    bool DecodeRuns(const uint8_t* pAttr, size_t nRoom);
    const CNTFSRunList& GetRunList() const { return m_Runs; }
    CNTFSRunList& GetRunList() { return m_Runs; }

private:
    CNTFSRunList m_Runs;
};

// False when the attribute has no mapping pairs or they are malformed; else their runs are
// appended to pList.
bool DecodeAttributeRuns(const uint8_t* pAttr, size_t nRoom, CNTFSRunList* pList);
// Clusters the mapping pairs add up to; -1 when they are missing or malformed.
int64_t GetAttributeClusterCount(const uint8_t* pAttr, size_t nRoom);
// For an unnamed, valid non-resident attribute: *pFirstVcn = its first VCN, and, when its
// mapping pairs hold runs, those runs appended at that VCN and *pRealSize = its real size
// (else 0). A named or invalid attribute changes nothing.
void AppendAttributeRuns(const uint8_t* pAttr, size_t nRoom, int64_t* pRealSize, uint64_t* pFirstVcn,
                         CNTFSRunList* pList);

// Walks the record's $DATA attributes in order and appends the runs of the unnamed ones (named
// ones are skipped). False for an empty holder, an attribute of length 0 or an unnamed resident
// one; with bCheck, also when an uncompressed extent's mapping pairs do not cover exactly its
// VCN range. *pRealSize: the real size of the extent that starts at VCN 0.
bool CollectDataRuns(const CFileRecordHolder& holder, CNTFSRunList* pList, bool bCheck, int64_t* pRealSize);
bool CollectDataRuns(uint8_t* pRecord, size_t nLength, CNTFSRunList* pList, bool bCheck, int64_t* pRealSize);

// Sectors per cluster from the $DATA's real size and clusters (CollectDataRuns with the check);
// false, with 0, when the runs cannot be collected. The result may be 0 (no power of two fits).
bool InferSectorsPerCluster(const CFileRecordHolder& holder, uint32_t* pSectorsPerCluster);
bool InferSectorsPerCluster(uint8_t* pRecord, size_t nLength, uint32_t* pSectorsPerCluster);

// ceil(bytes / clusters / 512) taken up to the next power of two from 1 to 4096; 0 when it is
// 0 or above 4096, or when there are no clusters.
int SectorsPerClusterFromSizes(int64_t i64Bytes, int64_t i64Clusters);
// From the attribute's initialized size and the clusters of its mapping pairs; 0 unless both
// are positive.
int SectorsPerClusterOfAttribute(const uint8_t* pAttr, size_t nRoom);
