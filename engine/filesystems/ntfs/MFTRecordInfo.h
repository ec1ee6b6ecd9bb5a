// What the NTFS reader keeps of the system-file records that place a volume: a $MFT record (its
// data runs say where every FILE record lies), a $MFTMirr record and records of its shape
// ($LogFile, $AttrDef, $UpCase), and the $Bitmap record (its size says how many clusters the
// volume has).
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"
#include "IDataStream.h"
#include "NTFSRunList.h"
#include "WinTypes.h"

class IStorageDevice;

class CMFTRecordInfo : public CEngineObject {
public:
    CMFTRecordInfo();
    CMFTRecordInfo(const CMFTRecordInfo&) = delete;
    CMFTRecordInfo& operator=(const CMFTRecordInfo&) = delete;

    // The runs of $DATA and the sectors per cluster inferred from its real size; false when the
    // cluster size cannot be inferred (0) or there are no runs.
    bool SetFromRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector);
    // The LCN of VCN 0, -1 when the runs do not map it.
    int64_t GetFirstCluster() const;

    // Record sector (8), sectors per record (1), sectors per cluster (1), the run list.
    BOOL Save(IDataStream* pWriter) const;
    // FALSE on a short record; nothing is changed then.
    BOOL Load(IDataStream* pReader);

    // ~0 while unknown (also when the runs were gathered across extension records).
    uint64_t m_ullRecordSector;
    CNTFSRunList m_Runs;
    uint8_t m_bySectorsPerRecord;
    // Up to 4096; stored in one byte as EncodeNTFSSectorsPerCluster writes it.
    uint32_t m_bySectorsPerCluster;
};

// A new object filled from the record; null when filling fails or VCN 0 has no cluster.
CMFTRecordInfo* CreateMFTRecordInfo(uint8_t* pRecord, size_t nLength, uint64_t ullSector);

class CMFTMirrRecordInfo : public CEngineObject {
public:
    CMFTMirrRecordInfo();
    CMFTMirrRecordInfo(const CMFTMirrRecordInfo&) = delete;
    CMFTMirrRecordInfo& operator=(const CMFTMirrRecordInfo&) = delete;

    // The inferred sectors per cluster, the $DATA runs (there must be some), the sector and the
    // $LogFile sequence number.
    bool SetFromRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector);
    int64_t GetFirstCluster() const;

    uint64_t m_ullRecordSector;
    CNTFSRunList m_Runs;
    uint64_t m_ullLogSequence;
    uint32_t m_bySectorsPerCluster;
};

CMFTMirrRecordInfo* CreateMFTMirrRecordInfo(uint8_t* pRecord, size_t nLength, uint64_t ullSector);

class CBitmapRecordInfo : public CEngineObject {
public:
    CBitmapRecordInfo();

    // $DATA's runs with the length check; false when they cannot be collected, the real size is
    // not positive or the runs hold no cluster.
    bool SetFromRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector);

    uint64_t m_ullRecordSector;
    // Bytes of the bitmap; ~0 while unknown.
    uint64_t m_ullBitmapSize;
};

// $MFT's runs of a $MFT record that has an $ATTRIBUTE_LIST: the base record's own $DATA runs,
// then those of every extension record the list names (record number 0 left out) that can be
// located through the runs gathered so far, pass after pass until a pass finds none; finally in
// VCN order. The record's fix-ups must not be applied; its bytes are as they were afterwards.
// False when the base record is invalid or yields no run.
bool CollectMFTRunsAcrossExtensions(uint8_t* pRecord, size_t nLength, uint64_t ullPartitionStart,
                                    uint32_t nSectorsPerCluster, uint32_t nSectorsPerRecord, IStorageDevice* pDevice,
                                    CNTFSRunList* pRuns);
