// The FAT partition candidate: made by the FAT search controller for every FAT file system its
// sector scan finds evidence of, and by the quick scan to tell the tree builder where an
// existing FAT partition starts and which evidence to trust. Also the record of one directory
// sector the controller saw; the tree build of a found partition works from the set of them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "EngineMemory.h"
#include "SearchedPartitionInfo.h"

// Evidence flags (m_nFlags).
const uint32_t FAT_EVIDENCE_BOOT_FAT12 = 0x1;     // primary FAT12 boot sector
const uint32_t FAT_EVIDENCE_BOOT_FAT16 = 0x2;     // primary FAT16 boot sector
const uint32_t FAT_EVIDENCE_BOOT_FAT32 = 0x4;     // primary FAT32 boot sector
const uint32_t FAT_EVIDENCE_BACKUP_FAT32 = 0x8;   // FAT32 backup boot sector (sector 6)
const uint32_t FAT_EVIDENCE_DIRECTORY = 0x10;     // made or confirmed from a directory sector
const uint32_t FAT_EVIDENCE_FAT1_SEEN = 0x40;     // first sector of FAT1 seen where expected
const uint32_t FAT_EVIDENCE_FAT1_USABLE = 0x80;   // ... and FAT1 may be used (set with 0x40)
const uint32_t FAT_EVIDENCE_FAT2_SEEN = 0x100;    // first sector of FAT2 seen where expected
const uint32_t FAT_EVIDENCE_FAT2_USABLE = 0x200;  // ... and FAT2 may be used (set with 0x100)
const uint32_t FAT_EVIDENCE_ANY_BOOT = 0xF;
const uint32_t FAT_EVIDENCE_PRIMARY_BOOT = 0x7;

// What the quick scan of an existing volume trusts: both boot sectors of its type and both FATs.
const uint32_t FAT_QUICK_SCAN_FLAGS_FAT12_16 = 0x3C3;
const uint32_t FAT_QUICK_SCAN_FLAGS_FAT32 = 0x3CC;

// Saved size of the FAT fields that follow the base record.
const int FAT_SEARCHED_PARTITION_FIELDS_SIZE = 18;

class CFATSearchedPartitionInfo : public CSearchedPartitionInfo {
public:
    CFATSearchedPartitionInfo();
    ~CFATSearchedPartitionInfo() override;

    int32_t GetType() const override;
    // The base record, then reserved sectors (u16), sectors per FAT, cluster count, root info
    // and flags (u32 each).
    BOOL Save(IDataStream* pWriter) override;
    // FALSE on a short record; the candidate keeps its old values then.
    BOOL Load(IDataStream* pReader) override;

    void AddFlags(uint32_t nFlags) { m_nFlags |= nFlags; }

    // Base fields as FAT uses them: m_nFileSystemKind the FAT type (0, 1, 2); m_ullEvidenceSector
    // the sector of cluster 2; m_ullStartSector the first sector of the partition;
    // m_ullSectorCount its length; m_ullRecordMatches the directory starts that confirmed it.
    uint16_t m_wReservedSectors;  // 1 assumed for a candidate made from a directory
    uint32_t m_nSectorsPerFAT;
    uint32_t m_nClusterCount;
    uint32_t m_nRootInfo;         // FAT12/16: root-directory sectors; FAT32: root cluster
    uint32_t m_nFlags;
};

// A candidate with the base defaults and every FAT field 0.
CFATSearchedPartitionInfo* CreateFATSearchedPartitionInfo();
// Null is allowed.
void DeleteFATSearchedPartitionInfo(CSearchedPartitionInfo* pInfo);

// Cluster value of a continuation sector (a directory sector that does not hold "." and "..").
const uint32_t FAT_DIR_SECTOR_NO_CLUSTER = 0xFFFFFFFF;

// One directory sector seen by the sector scan; 16 bytes when saved.
struct FAT_DIR_SECTOR {
    uint64_t ullSector;
    uint32_t nDotCluster;      // cluster of "."; FAT_DIR_SECTOR_NO_CLUSTER for a continuation
    uint32_t nDotDotCluster;   // cluster of ".."; FAT_DIR_SECTOR_NO_CLUSTER for a continuation
};

const int FAT_DIR_SECTOR_RECORD_SIZE = 16;

// Every directory sector seen, by sector.
typedef std::map<uint64_t, FAT_DIR_SECTOR, std::less<uint64_t>,
                 CEngineAllocator<std::pair<const uint64_t, FAT_DIR_SECTOR>>>
    CFATDirSectorMap;
