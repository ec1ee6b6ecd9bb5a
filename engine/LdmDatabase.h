// The on-disk structures of a dynamic-disk (LDM) database: the private header of a member disk,
// and the VBLK records of its database area (volumes, components, partitions, disks), assembled
// from their 128-byte blocks, parsed and linked. Every number on disk is big-endian.
//
// Everything here reads untrusted bytes: each length and field is checked against the block or
// record that holds it, a record is built only when all of its blocks are present, and nothing
// is allocated beyond the size of the area given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

#include "EngineMemory.h"
#include "IDynamicDevice.h"

const size_t LDM_SECTOR_BYTES = 512;
// Places of the private header: the last sector of the disk (a copy Windows keeps there on MBR
// disks), sector 6 (MBR disks), and the last sector of a GPT disk's 1 MiB LDM metadata partition
// at sector 34.
const uint64_t LDM_PRIVHEAD_MBR_SECTOR = 6;
const uint64_t LDM_PRIVHEAD_GPT_SECTOR = 2081;
// Sectors of the database area that are read.
const uint64_t LDM_DATABASE_SECTORS = 2048;

const size_t VBLK_BLOCK_BYTES = 128;
const size_t VBLK_HEADER_BYTES = 24;          // block head and, in a record's first block, the record head
const size_t VBLK_FIRST_DATA_BYTES = 104;     // record data in a first block (bytes 24-127)
const size_t VBLK_NEXT_DATA_OFFSET = 16;
const size_t VBLK_NEXT_DATA_BYTES = 112;      // record data in each further block (bytes 16-127)

// Record types, revision in the high nibble.
const uint8_t VBLK_TYPE_COMPONENT = 0x32;
const uint8_t VBLK_TYPE_PARTITION = 0x33;
const uint8_t VBLK_TYPE_DISK = 0x34;          // disk id as GUID text
const uint8_t VBLK_TYPE_DISK_RAW_ID = 0x44;   // disk id as 16 raw bytes
const uint8_t VBLK_TYPE_VOLUME = 0x51;

// Component types.
const uint8_t LDM_COMPONENT_STRIPED = 1;
const uint8_t LDM_COMPONENT_SPANNED = 2;      // simple, spanned, or one side of a mirror
const uint8_t LDM_COMPONENT_RAID5 = 3;
// Volume types.
const uint8_t LDM_VOLUME_PLAIN = 3;
const uint8_t LDM_VOLUME_RAID5 = 4;

// What the reader uses of a private header.
struct LDM_PRIVATE_HEADER {
    char szDiskId[LDM_DISK_ID_CHARS];             // GUID text of this disk
    char szDiskGroupName[LDM_GROUP_NAME_CHARS];
    uint64_t u64LogicalDiskStart;                 // first sector of the data area
    uint64_t u64DatabaseStart;                    // first sector of the database area
};

// True when the sector holds a private header ("PRIVHEAD"); texts are cut to their buffers.
bool ReadLdmPrivateHeader(const uint8_t* pData, size_t nSize, LDM_PRIVATE_HEADER* pHeader);

// Sectors of the database area read from a disk of u64DiskSectors sectors whose database starts
// at u64Start: 2048, or fewer where the disk ends sooner (the last two sectors of the disk are
// left out); 0 when the start lies at or beyond the end of the disk.
uint64_t LdmDatabaseAreaSectors(uint64_t u64DiskSectors, uint64_t u64Start);

struct LDM_DISK_RECORD;
struct LDM_PARTITION_RECORD;
struct LDM_COMPONENT_RECORD;

struct LDM_DISK_RECORD {
    uint64_t u64Id;
    char szName[128];
    char szDiskId[LDM_DISK_ID_CHARS];     // GUID text; a raw id is written out in the same form
    char szSecondName[128];
};

struct LDM_PARTITION_RECORD {
    uint64_t u64Id;
    char szName[128];
    uint64_t u64Start;              // relative to the disk's logical disk start
    uint64_t u64VolumeOffset;
    uint64_t u64Sectors;
    uint64_t u64ParentId;           // component
    uint64_t u64DiskId;
    uint64_t u64Index;
    const LDM_DISK_RECORD* pDisk;   // set by linking; null when no disk record has the id
};

typedef std::list<const LDM_PARTITION_RECORD*, CEngineAllocator<const LDM_PARTITION_RECORD*>> CLdmPartitionList;

struct LDM_COMPONENT_RECORD {
    uint64_t u64Id;
    char szName[128];
    char szState[16];
    uint8_t byType;                 // LDM_COMPONENT_*
    uint64_t u64Children;
    uint64_t u64ParentId;           // volume
    uint64_t u64StripeSectors;      // striped and RAID-5 components; kept, not used
    uint64_t u64Columns;
    CLdmPartitionList partitions;   // set by linking, last in the database first
};

typedef std::list<const LDM_COMPONENT_RECORD*, CEngineAllocator<const LDM_COMPONENT_RECORD*>> CLdmComponentList;

struct LDM_VOLUME_RECORD {
    uint64_t u64Id;
    char szName[LDM_VOLUME_NAME_CHARS];
    char szTypeText[128];
    uint8_t byVolumeType;           // LDM_VOLUME_*
    uint64_t u64Children;
    uint64_t u64Sectors;
    uint8_t byPartitionType;
    uint8_t aGuid[16];
    char szHint[24];
    CLdmComponentList components;   // set by linking, last in the database first
};

// One record put together from its blocks: the 24 header bytes of its first block, then its
// data (data length bytes).
struct VBLK_RECORD {
    uint32_t nGroup;
    uint8_t byFlags;
    uint8_t byType;
    uint32_t nDataLength;
    std::vector<uint8_t, CEngineAllocator<uint8_t>> bytes;
};

typedef std::vector<VBLK_RECORD, CEngineAllocator<VBLK_RECORD>> CVblkRecordList;

// Puts the records of a database area together: only blocks that carry "VBLK" count; a record's
// first block is number 0 of its group, the others continue it in area order. A record whose
// data length does not fit its blocks, or whose further blocks are missing, is left out, as is a
// second record of a group already met.
void AssembleVblkRecords(const uint8_t* pArea, size_t nSize, CVblkRecordList& out);

// A variable-length number: one length byte n, then n big-endian bytes of which the value keeps
// the low 64 bits. n = 0, n > 64 or n beyond the record give all-ones and consume 1 byte.
// A variable-length string: one length byte n, then n characters; n = 0 or n beyond the record
// give an empty string and consume 1 byte. Strings are cut to fit their NUL-terminated buffers.
class CVblkFieldReader {
public:
    CVblkFieldReader(const uint8_t* pData, size_t nSize) : m_pData(pData), m_nSize(nSize), m_nPos(0), m_bOverrun(false) {}

    uint64_t VarNumber();
    void VarString(char* pszOut, size_t nOutSize);
    uint8_t Byte();
    uint64_t U64();
    void Bytes(uint8_t* pOut, size_t nCount);
    void Skip(size_t nCount);

    // True once a field ran past the end of the record; the record is then not used.
    bool Overrun() const { return m_bOverrun; }
    size_t Position() const { return m_nPos; }

private:
    bool Take(size_t nCount);

    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos;
    bool m_bOverrun;
};

// Record parsers; false (and nothing filled that may be used) when a field lies beyond the
// record's data.
bool ParseVblkVolume(const VBLK_RECORD& record, LDM_VOLUME_RECORD* pVolume);
bool ParseVblkComponent(const VBLK_RECORD& record, LDM_COMPONENT_RECORD* pComponent);
bool ParseVblkPartition(const VBLK_RECORD& record, LDM_PARTITION_RECORD* pPartition);
bool ParseVblkDisk(const VBLK_RECORD& record, LDM_DISK_RECORD* pDisk);

// The objects of one database, linked: each component hangs under the first volume whose id is
// its parent id, each partition under the first component whose id is its parent id, and gets
// the first disk record whose id is its disk id. Record ids are unique in a sound database; taking
// the first of equal ids keeps a damaged one from linking a record into many places.
class CLdmDatabase : public CEngineObject {
public:
    CLdmDatabase() {}
    CLdmDatabase(const CLdmDatabase&) = delete;
    CLdmDatabase& operator=(const CLdmDatabase&) = delete;

    // Assembles, parses and links the records of a database area (replacing what was held).
    void Load(const uint8_t* pArea, size_t nSize);

    const std::vector<LDM_VOLUME_RECORD, CEngineAllocator<LDM_VOLUME_RECORD>>& Volumes() const { return m_Volumes; }
    const std::vector<LDM_COMPONENT_RECORD, CEngineAllocator<LDM_COMPONENT_RECORD>>& Components() const
    {
        return m_Components;
    }
    const std::vector<LDM_PARTITION_RECORD, CEngineAllocator<LDM_PARTITION_RECORD>>& Partitions() const
    {
        return m_Partitions;
    }
    const std::vector<LDM_DISK_RECORD, CEngineAllocator<LDM_DISK_RECORD>>& Disks() const { return m_Disks; }

private:
    void Link();

    std::vector<LDM_VOLUME_RECORD, CEngineAllocator<LDM_VOLUME_RECORD>> m_Volumes;
    std::vector<LDM_COMPONENT_RECORD, CEngineAllocator<LDM_COMPONENT_RECORD>> m_Components;
    std::vector<LDM_PARTITION_RECORD, CEngineAllocator<LDM_PARTITION_RECORD>> m_Partitions;
    std::vector<LDM_DISK_RECORD, CEngineAllocator<LDM_DISK_RECORD>> m_Disks;
};
