// The FAT boot sector (DOS boot record) as the engine reads it: whether a sector is a FAT12,
// FAT16 or FAT32 boot sector, and the volume geometry it records. Also the two quick sector
// tests of the FAT search: a boot-sector-like signature and the first sector of a FAT.
//
// Offsets are those of the first 512 bytes of the boot sector. Counts of sectors are given in
// 512-byte units, the unit of every device read: a volume formatted with logical sectors of 1024,
// 2048 or 4096 bytes (disks with 4 KiB sectors) has its counts scaled to that unit here, so that
// the readers above find its FATs, root and clusters where they are.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"

// FAT types, as the engine's file-system codes number them.
const int FAT_TYPE_FAT12 = 0;
const int FAT_TYPE_FAT16 = 1;
const int FAT_TYPE_FAT32 = 2;
const int FAT_TYPE_NONE = 7;

const size_t FAT_SECTOR_BYTES = 512;

// Lowest and highest cluster number that can hold data: 0 and 1 are reserved, and FAT32
// values from 0x0FFFFFF0 up are reserved, bad or end-of-chain marks.
const uint32_t FAT_FIRST_DATA_CLUSTER = 2;
const uint32_t FAT_LAST_VALID_CLUSTER = 0x0FFFFFEF;

// A view over a boot sector held by the caller: it keeps a pointer to the bytes (which must
// outlive the view) and the FAT type decided once, here. Every getter of a type-7 view gives 0,
// so a caller that forgets IsValid reads zeros, never garbage.
class CFATDBR : public CEngineObject {
public:
    // Fewer than 512 readable bytes (or none) make a type-7 view that never reads them.
    CFATDBR(const uint8_t* pSector, size_t nSize);

    int GetFATType() const { return m_nFATType; }
    bool IsValid() const { return m_nFATType != FAT_TYPE_NONE; }

    // FAT12: u16 at 19; FAT16: u16 at 19, or u32 at 32 when that is 0; FAT32: u32 at 32.
    uint64_t GetTotalSectors() const;
    // FAT12/16: u16 at 22; FAT32: u32 at 36 (at most 0xFFFFFFFF once scaled).
    uint32_t GetSectorsPerFAT() const;
    uint8_t GetFATCount() const;
    uint8_t GetSectorsPerCluster() const;
    uint32_t GetReservedSectors() const;
    // FAT32 only: the first cluster of the root directory; 0 otherwise.
    uint32_t GetRootCluster() const;
    // FAT32 only: the sector of the FSInfo structure (u16 at 48); 0 otherwise.
    uint32_t GetFSInfoSector() const;
    // 512-byte units in one logical sector: bytes per sector / 512 for 1024, 2048 and 4096, else 1.
    uint32_t GetSectorScale() const;

    // Read whatever the type (0 only when the view holds no sector).
    uint16_t GetRootEntryCount() const;
    uint16_t GetBytesPerSector() const;
    uint16_t GetSectorsPerTrack() const;

    // Sectors of the FAT12/16 root area: entries x 32 bytes rounded up to whole sectors (a
    // count that is not a multiple of 16 still occupies its last, partly used sector, and the
    // data area begins after it). 0 for FAT32 and type 7.
    uint32_t GetRootDirSectors() const;
    // Sector offsets from the partition start: FAT1, the FAT12/16 root area, and cluster 2.
    // 0 for type 7.
    uint64_t GetFATOffset() const;
    uint64_t GetRootDirOffset() const;
    uint64_t GetDataOffset() const;
    // Absolute sector of a data cluster (2 and up) of a partition that starts at
    // u64PartitionStart; false for clusters 0 and 1 and for type 7.
    bool ClusterToSector(uint64_t u64PartitionStart, uint32_t nCluster, uint64_t* pSector) const;

    const uint8_t* GetSector() const { return m_pSector; }

private:
    int DetectType() const;

    const uint8_t* m_pSector;
    int m_nFATType;
};

// The same view over its own 512-byte copy of the sector, for callers whose buffer does not
// live as long as the view.
class CFATDBRCopy : public CEngineObject {
public:
    CFATDBRCopy(const uint8_t* pSector, size_t nSize);
    CFATDBRCopy(const CFATDBRCopy&) = delete;
    CFATDBRCopy& operator=(const CFATDBRCopy&) = delete;

    const CFATDBR& GetDBR() const { return m_DBR; }
    int GetFATType() const { return m_DBR.GetFATType(); }
    bool IsValid() const { return m_DBR.IsValid(); }
    uint64_t GetTotalSectors() const { return m_DBR.GetTotalSectors(); }
    uint32_t GetSectorsPerFAT() const { return m_DBR.GetSectorsPerFAT(); }
    uint8_t GetFATCount() const { return m_DBR.GetFATCount(); }
    uint8_t GetSectorsPerCluster() const { return m_DBR.GetSectorsPerCluster(); }
    uint32_t GetReservedSectors() const { return m_DBR.GetReservedSectors(); }
    uint32_t GetRootCluster() const { return m_DBR.GetRootCluster(); }
    uint16_t GetRootEntryCount() const { return m_DBR.GetRootEntryCount(); }
    uint16_t GetBytesPerSector() const { return m_DBR.GetBytesPerSector(); }
    uint16_t GetSectorsPerTrack() const { return m_DBR.GetSectorsPerTrack(); }

private:
    uint8_t m_Sector[FAT_SECTOR_BYTES];
    CFATDBR m_DBR;
};

// Byte 0 is not 0 and bytes 510/511 are 0x55 0xAA: worth a full boot-sector check.
bool HasBootSignature(const uint8_t* pSector, size_t nSize);

// 2 up to 0x0FFFFFEF inclusive: a cluster that can hold data.
bool IsValidClusterNumber(uint64_t u64Cluster);

// The first two entries of a FAT of any width: the media byte (0xF8 on hard disks) followed by
// end-of-chain marks.
bool IsFATStartSector(const uint8_t* pSector, size_t nSize);
