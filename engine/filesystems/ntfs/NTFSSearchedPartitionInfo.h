// An NTFS partition that the complete scan believes it has found: the common candidate fields
// plus what the NTFS evidence gave (serial number, the evidence flags, the cluster count, where
// the system-file records lie and how much of their data the scan saw) and the two switches
// that tell the tree builder how to use the FILE records the scan collected.
#pragma once

#include <cstdint>

#include "SearchedPartitionInfo.h"

// Evidence flags of an NTFS candidate; several may be set.
enum : uint32_t {
    NTFS_EVIDENCE_BOOT_SECTOR = 0x01,        // a valid boot sector at the start
    NTFS_EVIDENCE_BACKUP_BOOT_SECTOR = 0x02, // a valid boot sector T sectors after the start
    NTFS_EVIDENCE_MFT_CONFIRMED = 0x04,      // $MFT seen where a pair of mirror copies places it
    NTFS_EVIDENCE_MFT_RECORD = 0x08,         // from a $MFT FILE record
    NTFS_EVIDENCE_MFT_MIRROR_PAIR = 0x10,    // from a ($MFT, $MFTMirr) pair taken as mirror copies
    NTFS_EVIDENCE_INDEX_BLOCK = 0x20,        // from an INDX block of a folder
    NTFS_EVIDENCE_LOG_RESTART = 0x40,        // from a restart page at the start of $LogFile
    NTFS_EVIDENCE_LOG_RESTART2 = 0x80,       // from the second restart page (8 sectors in)
};

// Bytes of an NTFS candidate on the stream: the base record and 96 bytes of its own.
const int SEARCHED_NTFS_PARTITION_RECORD_SIZE = SEARCHED_PARTITION_RECORD_SIZE + 96;

class CSearchedNTFSPartitionInfo : public CSearchedPartitionInfo {
public:
    CSearchedNTFSPartitionInfo();
    ~CSearchedNTFSPartitionInfo() override;

    int32_t GetType() const override;
    BOOL Save(IDataStream* pWriter) override;
    // FALSE on a short record; the candidate keeps its old values then.
    BOOL Load(IDataStream* pReader) override;

    uint64_t GetSerialNumber() const { return m_ullSerialNumber; }
    void SetSerialNumber(uint64_t ullSerial) { m_ullSerialNumber = ullSerial; }
    uint32_t GetFlags() const { return m_dwFlags; }
    void SetFlags(uint32_t dwFlags) { m_dwFlags = dwFlags; }
    void AddFlags(uint32_t dwFlags) { m_dwFlags |= dwFlags; }

    uint64_t m_ullSerialNumber;
    int32_t m_nRecordSectors;
    uint32_t m_dwFlags;
    // 1: each collected FILE record is assigned to the $MFT copy whose data holds it.
    int32_t m_bUseMFTSets;
    // 1: records outside every $MFT copy are ignored.
    int32_t m_bOnlyRecordsInMFT;
    uint64_t m_ullClusterCount;
    uint64_t m_ullLogFileSectorsSeen;
    uint64_t m_ullAttrDefSectorsSeen;
    uint64_t m_ullUpCaseSectorsSeen;
    // Sector of the first $MFT FILE record attributed to the candidate; ~0 while none.
    uint64_t m_ullMFTRecordSector;
    uint64_t m_ullLogFileRecordSector;
    uint64_t m_ullAttrDefRecordSector;
    uint64_t m_ullUpCaseRecordSector;
    // Sectors that the $MFT's bitmap can describe (clusters x sectors per cluster).
    uint64_t m_ullMFTReachSectors;
};
