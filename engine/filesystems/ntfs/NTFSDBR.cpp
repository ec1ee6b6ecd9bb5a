#include "NTFSDBR.h"

#include <cstring>

#include "NTFSBytes.h"

using ntfsbytes::U16;
using ntfsbytes::U32;
using ntfsbytes::U64;

namespace {

bool IsOEMID(const uint8_t* p)
{
    static const char kOEMID[] = "NTFS    ";
    for (size_t i = 0; i < 8; ++i) {
        uint8_t c = p[3 + i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<uint8_t>(c - 'a' + 'A');
        if (c != static_cast<uint8_t>(kOEMID[i]))
            return false;
    }
    return true;
}

// Clusters of 128 KiB (2^8 sectors) to 2 MiB (2^12 sectors), the sizes Windows formats beyond 64 KiB.
const int kMinClusterShift = 8;
const int kMaxClusterShift = 12;

} // namespace

uint32_t DecodeNTFSSectorsPerCluster(uint8_t byCode)
{
    if (byCode == 0)
        return 0;
    if (byCode <= 128)
        return (byCode & (byCode - 1)) == 0 ? byCode : 0;
    const int nShift = 256 - byCode;
    if (nShift < kMinClusterShift || nShift > kMaxClusterShift)
        return 0;
    return 1u << nShift;
}

uint8_t EncodeNTFSSectorsPerCluster(uint32_t nSectorsPerCluster)
{
    if (nSectorsPerCluster <= 255)
        return static_cast<uint8_t>(nSectorsPerCluster);
    for (int nShift = kMinClusterShift; nShift <= kMaxClusterShift; ++nShift) {
        if (nSectorsPerCluster == (1u << nShift))
            return static_cast<uint8_t>(256 - nShift);
    }
    return 0;
}

uint32_t StoredNTFSSectorsPerCluster(uint8_t byStored)
{
    const int nShift = 256 - byStored;
    if (byStored > 128 && nShift >= kMinClusterShift && nShift <= kMaxClusterShift)
        return 1u << nShift;
    return byStored;
}

bool HasNTFSOEMID(const uint8_t* pSector, size_t nSize)
{
    return pSector != nullptr && nSize >= NTFS_SECTOR_BYTES && IsOEMID(pSector);
}

bool IsValidNTFSDBR(const uint8_t* pSector, size_t nSize)
{
    if (!HasNTFSOEMID(pSector, nSize))
        return false;
    const uint8_t* p = pSector;
    if (U16(p + 11) != NTFS_SECTOR_BYTES)
        return false;
    if (DecodeNTFSSectorsPerCluster(p[13]) == 0)
        return false;
    // The FAT fields of the BIOS parameter block are all zero on NTFS.
    if (U16(p + 14) != 0 || p[16] != 0 || U16(p + 17) != 0 || U16(p + 19) != 0 || U16(p + 22) != 0 ||
        U32(p + 32) != 0)
        return false;
    return p[510] == 0x55 && p[511] == 0xAA;
}

CNTFSDBR::CNTFSDBR()
{
    std::memset(m_Bytes, 0, sizeof(m_Bytes));
}

bool CNTFSDBR::SetIfValid(const uint8_t* pSector, size_t nSize)
{
    if (!IsValidNTFSDBR(pSector, nSize))
        return false;
    std::memcpy(m_Bytes, pSector, sizeof(m_Bytes));
    return true;
}

uint64_t CNTFSDBR::GetMFTCluster() const
{
    return U64(m_Bytes + 48);
}

uint64_t CNTFSDBR::GetMFTMirrCluster() const
{
    return U64(m_Bytes + 56);
}

uint32_t CNTFSDBR::GetSectorsPerCluster() const
{
    return DecodeNTFSSectorsPerCluster(m_Bytes[13]);
}

uint64_t CNTFSDBR::GetTotalSectors() const
{
    return U64(m_Bytes + 40);
}

uint64_t CNTFSDBR::GetSerialNumber() const
{
    return U64(m_Bytes + 72);
}

uint16_t CNTFSDBR::GetBytesPerSector() const
{
    return U16(m_Bytes + 11);
}

uint16_t CNTFSDBR::GetSectorsPerTrack() const
{
    return U16(m_Bytes + 24);
}

uint32_t CNTFSDBR::GetFileRecordSize() const
{
    const int nCode = static_cast<int8_t>(m_Bytes[64]);
    uint64_t u64Size;
    if (nCode < 0) {
        // 2^17 is already beyond the largest size accepted; larger shifts would overflow.
        if (-nCode > 17)
            return 0;
        u64Size = 1ull << -nCode;
    } else if (nCode > 0) {
        u64Size = static_cast<uint64_t>(nCode) * GetBytesPerSector() * GetSectorsPerCluster();
    } else {
        u64Size = 1024;
    }
    if (u64Size < NTFS_MIN_FILE_RECORD_BYTES || u64Size > NTFS_MAX_FILE_RECORD_BYTES ||
        (u64Size & (u64Size - 1)) != 0)
        return 0;
    return static_cast<uint32_t>(u64Size);
}
