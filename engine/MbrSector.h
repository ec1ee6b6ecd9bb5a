// The partition table of a master boot record or of an extended boot record: four 16-byte
// entries from byte 446 of a 512-byte sector, closed by the bytes 0x55 0xAA at 510.
#pragma once

#include <cstddef>
#include <cstdint>

// One slot of the table. The CHS bytes are not kept: every system since the 1990s addresses
// partitions by LBA, and a CHS value that disagrees with the LBA is the CHS value's fault.
struct MBR_ENTRY {
    uint8_t byBootIndicator;    // 0x80 active, 0x00 not
    uint8_t byType;
    uint32_t nFirstSector;      // relative: to the disk (MBR), to the record or to the chain's base (EBR)
    uint32_t nSectorCount;
    bool bEmpty;                // all 16 bytes zero
};

const size_t MBR_SECTOR_BYTES = 512;
const size_t MBR_TABLE_OFFSET = 446;
const size_t MBR_ENTRY_BYTES = 16;
const int MBR_ENTRY_COUNT = 4;

// Partition types the table analysis treats apart.
const uint8_t MBR_TYPE_EXTENDED_CHS = 0x05;
const uint8_t MBR_TYPE_EXTENDED_LBA = 0x0F;
// The extended partition Linux partitioning tools may write; its chain is laid out as the others.
const uint8_t MBR_TYPE_EXTENDED_LINUX = 0x85;
const uint8_t MBR_TYPE_DYNAMIC = 0x42;
const uint8_t MBR_TYPE_GPT_PROTECTIVE = 0xEE;

// Decodes the four slots of a sector (nSize must cover the 512 bytes; a shorter buffer decodes
// nothing). Returns true when the sector carries the 0x55 0xAA signature and every slot's boot
// indicator is 0x00 or 0x80 -- anything else is not a partition table. The slots are decoded
// either way.
bool ReadMbrSector(const uint8_t* pData, size_t nSize, MBR_ENTRY aEntries[MBR_ENTRY_COUNT]);

// True when the sector ends with 0x55 0xAA.
bool HasMbrSignature(const uint8_t* pData, size_t nSize);

bool IsExtendedPartitionType(uint8_t byType);
