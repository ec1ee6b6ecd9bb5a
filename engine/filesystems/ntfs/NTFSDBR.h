// The NTFS boot sector: recognition, and the volume geometry the reader takes from it.
//
// Fields read: 3 OEM identifier "NTFS    ", 11 bytes per sector, 13 sectors per cluster,
// 14 reserved sectors, 16 number of FATs, 17 root entries, 19 16-bit total sectors, 22 sectors
// per FAT, 24 sectors per track, 32 32-bit total sectors (all the FAT fields must be 0),
// 40 total sectors (u64), 48 cluster of $MFT, 56 cluster of $MFTMirr, 64 FILE record size code
// (signed byte), 72 serial number, 510 0x55 0xAA.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"

const size_t NTFS_SECTOR_BYTES = 512;

// The FILE record sizes this reader accepts: powers of two from 256 bytes to 64 KiB.
const uint32_t NTFS_MIN_FILE_RECORD_BYTES = 256;
const uint32_t NTFS_MAX_FILE_RECORD_BYTES = 65536;

// 2 MiB clusters, the largest Windows formats.
const uint32_t NTFS_MAX_SECTORS_PER_CLUSTER = 4096;

// The sectors-per-cluster byte at 13. Up to 64 KiB clusters it is the count itself (a power of two
// from 1 to 128); Windows formats 128 KiB to 2 MiB clusters with the byte holding 256 - log2 of
// the count (0xF8 = 256 sectors ... 0xF4 = 4096 sectors). Any other byte gives 0.
uint32_t DecodeNTFSSectorsPerCluster(uint8_t byCode);
// The one-byte form of a count for records that keep sectors per cluster in a byte: counts up to
// 255 as they are, 256 to 4096 sectors as the boot sector writes them. A count that has no byte
// form gives 0.
uint8_t EncodeNTFSSectorsPerCluster(uint32_t nSectorsPerCluster);
// Back from the byte of EncodeNTFSSectorsPerCluster: the shift codes 0xF4 to 0xF8 give their
// count, every other byte stands for itself.
uint32_t StoredNTFSSectorsPerCluster(uint8_t byStored);

// Every test of the boot-sector table, in order; null or fewer than 512 bytes are rejected.
bool IsValidNTFSDBR(const uint8_t* pSector, size_t nSize);
// Only the OEM identifier (letters compared without regard to case): a quick pre-filter.
bool HasNTFSOEMID(const uint8_t* pSector, size_t nSize);

class CNTFSDBR : public CEngineObject {
public:
    CNTFSDBR();

    // Copies the 512 bytes only when IsValidNTFSDBR accepts them.
    bool SetIfValid(const uint8_t* pSector, size_t nSize);

    uint64_t GetMFTCluster() const;
    uint64_t GetMFTMirrCluster() const;
    // Decoded from the byte at 13: 1 to 4096.
    uint32_t GetSectorsPerCluster() const;
    uint64_t GetTotalSectors() const;
    uint64_t GetSerialNumber() const;
    uint16_t GetBytesPerSector() const;
    uint16_t GetSectorsPerTrack() const;
    // From the code at 64: -n gives 2^n bytes, +n gives n x bytes per sector x sectors per
    // cluster, 0 gives 1024. A size that is not a power of two from 256 bytes to 64 KiB gives
    // 0: the volume's records cannot be located.
    uint32_t GetFileRecordSize() const;

    const uint8_t* GetBytes() const { return m_Bytes; }

private:
    uint8_t m_Bytes[NTFS_SECTOR_BYTES];
};
