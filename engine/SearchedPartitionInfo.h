// A candidate partition found by a block scan. Each file-system search controller derives its
// own candidate from it; scoring, ordering and selection use only these base fields.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "IDataStream.h"
#include "WinTypes.h"

// Values of GetType.
enum {
    SEARCHED_PARTITION_NTFS = 0,
    SEARCHED_PARTITION_FAT = 1,
    SEARCHED_PARTITION_EXT2 = 2,
    SEARCHED_PARTITION_BASE = 3,
};

// Size of the base record that every candidate's saved form starts with.
const int SEARCHED_PARTITION_RECORD_SIZE = 69;

class CSearchedPartitionInfo : public CEngineObject {
public:
    CSearchedPartitionInfo();
    virtual ~CSearchedPartitionInfo();

    virtual int32_t GetType() const;
    // The 69-byte base record; derived candidates write it first, then their own fields.
    virtual BOOL Save(IDataStream* pWriter);
    // FALSE on a short record; the candidate keeps its old values then.
    virtual BOOL Load(IDataStream* pReader);

    // File-system kind: 0 FAT12, 1 FAT16, 2 FAT32, 3 NTFS, 4 EXT2, 5 EXT3, 7 unknown.
    int32_t m_nFileSystemKind;
    // Up to 4096 (2 MiB NTFS clusters); the stored record keeps it in one byte, in the form of
    // EncodeNTFSSectorsPerCluster.
    uint32_t m_bySectorsPerCluster;
    // Sector of the boot record or superblock that produced the candidate.
    uint64_t m_ullEvidenceSector;
    uint64_t m_ullStartSector;
    // Files whose first data sector holds a carved file of the same type.
    uint64_t m_ullRawFileMatches;
    // Directory starts (FAT) or index blocks (NTFS) that fit the candidate.
    uint64_t m_ullRecordMatches;
    int32_t m_nExtra;
    uint64_t m_ullSectorCount;
    // The controller's confidence points for the boot record.
    uint64_t m_ullConfidence;
    double m_dScore;
    int32_t m_nSelected;
};

// The engine's list of candidates; it owns what the controllers append.
typedef std::vector<CSearchedPartitionInfo*, CEngineAllocator<CSearchedPartitionInfo*>>
    CSearchedPartitionInfoList;

// Ordering of candidates: higher score first.
struct CandidateScoreGreater {
    bool operator()(const CSearchedPartitionInfo* a, const CSearchedPartitionInfo* b) const
    {
        return a->m_dScore > b->m_dScore;
    }
};
