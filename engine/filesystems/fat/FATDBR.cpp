#include "FATDBR.h"

#include <cstring>

#include "FATBytes.h"

using fatbytes::U16;
using fatbytes::U32;

namespace {

// Offsets in the boot sector.
const size_t kBytesPerSector = 11;
const size_t kSectorsPerCluster = 13;
const size_t kReservedSectors = 14;
const size_t kFATCount = 16;
const size_t kRootEntries = 17;
const size_t kTotalSectors16 = 19;
const size_t kSectorsPerFAT16 = 22;
const size_t kSectorsPerTrack = 24;
const size_t kTotalSectors32 = 32;
const size_t kSectorsPerFAT32 = 36;
const size_t kRootCluster = 44;
const size_t kFSInfoSector = 48;
const size_t kTypeText16 = 54;
const size_t kTypeText32 = 82;

bool TypeTextIs(const uint8_t* p, const char* pszText)
{
    for (size_t i = 0; i < 8; ++i) {
        uint8_t c = p[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<uint8_t>(c - 'a' + 'A');
        if (c != static_cast<uint8_t>(pszText[i]))
            return false;
    }
    return true;
}

bool IsClusterSizeCode(uint8_t n)
{
    return n != 0 && n <= 128 && (n & (n - 1)) == 0;
}

bool HasSignature(const uint8_t* p)
{
    return p[510] == 0x55 && p[511] == 0xAA;
}

uint32_t ScaleOf(const uint8_t* p)
{
    const uint16_t nBytes = U16(p + kBytesPerSector);
    return nBytes == 1024 || nBytes == 2048 || nBytes == 4096 ? nBytes / FAT_SECTOR_BYTES : 1;
}

} // namespace

CFATDBR::CFATDBR(const uint8_t* pSector, size_t nSize)
    : m_pSector(pSector != nullptr && nSize >= FAT_SECTOR_BYTES ? pSector : nullptr),
      m_nFATType(FAT_TYPE_NONE)
{
    m_nFATType = DetectType();
}

int CFATDBR::DetectType() const
{
    const uint8_t* p = m_pSector;
    if (p == nullptr)
        return FAT_TYPE_NONE;
    // A cluster is at most 128 units of 512 bytes (64 KiB), with large logical sectors too.
    if (static_cast<uint32_t>(p[kSectorsPerCluster]) * ScaleOf(p) > 128)
        return FAT_TYPE_NONE;
    const uint8_t nClusterSize = p[kSectorsPerCluster];
    const uint16_t nRootEntries = U16(p + kRootEntries);
    const uint16_t nFAT16Size = U16(p + kSectorsPerFAT16);

    // A floppy-sized FAT12: two FATs of at most 200 sectors and a root area of whole sectors, from
    // one sector (16 entries) to 2048 entries: 64 on 160 KB floppies, 112 on 360 and 720 KB ones,
    // 224 on 1.44 MB ones.
    if (TypeTextIs(p + kTypeText16, "FAT12   ") && p[kFATCount] == 2 && IsClusterSizeCode(nClusterSize) &&
        nRootEntries >= 16 && nRootEntries <= 2048 && nRootEntries % 16 == 0 && nFAT16Size >= 1 &&
        nFAT16Size <= 200 && HasSignature(p))
        return FAT_TYPE_FAT12;
    if (TypeTextIs(p + kTypeText16, "FAT16   ") && IsClusterSizeCode(nClusterSize) && nFAT16Size >= 1 &&
        HasSignature(p))
        return FAT_TYPE_FAT16;
    if (TypeTextIs(p + kTypeText32, "FAT32   ") && p[kFATCount] == 2 && IsClusterSizeCode(nClusterSize) &&
        U32(p + kSectorsPerFAT32) >= 1 && HasSignature(p))
        return FAT_TYPE_FAT32;
    return FAT_TYPE_NONE;
}

uint32_t CFATDBR::GetSectorScale() const
{
    return IsValid() ? ScaleOf(m_pSector) : 1;
}

uint64_t CFATDBR::GetTotalSectors() const
{
    uint64_t nSectors = 0;
    switch (m_nFATType) {
    case FAT_TYPE_FAT12:
    case FAT_TYPE_FAT16: {
        // A volume of 65,536 sectors or more keeps its count in the 32-bit field (mkfs.fat makes
        // FAT12 volumes that large when their clusters are large).
        const uint16_t nSmall = U16(m_pSector + kTotalSectors16);
        nSectors = nSmall != 0 ? nSmall : U32(m_pSector + kTotalSectors32);
        break;
    }
    case FAT_TYPE_FAT32:
        nSectors = U32(m_pSector + kTotalSectors32);
        break;
    default:
        return 0;
    }
    return nSectors * GetSectorScale();
}

uint32_t CFATDBR::GetSectorsPerFAT() const
{
    uint64_t nSectors = 0;
    switch (m_nFATType) {
    case FAT_TYPE_FAT12:
    case FAT_TYPE_FAT16:
        nSectors = U16(m_pSector + kSectorsPerFAT16);
        break;
    case FAT_TYPE_FAT32:
        nSectors = U32(m_pSector + kSectorsPerFAT32);
        break;
    default:
        return 0;
    }
    nSectors *= GetSectorScale();
    return nSectors > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(nSectors);
}

uint8_t CFATDBR::GetFATCount() const
{
    return IsValid() ? m_pSector[kFATCount] : 0;
}

uint8_t CFATDBR::GetSectorsPerCluster() const
{
    // Not above 128 once scaled: DetectType refuses larger clusters.
    return IsValid() ? static_cast<uint8_t>(m_pSector[kSectorsPerCluster] * GetSectorScale()) : 0;
}

uint32_t CFATDBR::GetReservedSectors() const
{
    return IsValid() ? U16(m_pSector + kReservedSectors) * GetSectorScale() : 0;
}

uint32_t CFATDBR::GetRootCluster() const
{
    return m_nFATType == FAT_TYPE_FAT32 ? U32(m_pSector + kRootCluster) : 0;
}

uint32_t CFATDBR::GetFSInfoSector() const
{
    return m_nFATType == FAT_TYPE_FAT32 ? U16(m_pSector + kFSInfoSector) * GetSectorScale() : 0;
}

uint16_t CFATDBR::GetRootEntryCount() const
{
    return m_pSector != nullptr ? U16(m_pSector + kRootEntries) : 0;
}

uint16_t CFATDBR::GetBytesPerSector() const
{
    return m_pSector != nullptr ? U16(m_pSector + kBytesPerSector) : 0;
}

uint16_t CFATDBR::GetSectorsPerTrack() const
{
    return m_pSector != nullptr ? U16(m_pSector + kSectorsPerTrack) : 0;
}

uint32_t CFATDBR::GetRootDirSectors() const
{
    if (m_nFATType != FAT_TYPE_FAT12 && m_nFATType != FAT_TYPE_FAT16)
        return 0;
    // Whole logical sectors, counted in 512-byte units.
    const uint32_t nLogicalBytes = static_cast<uint32_t>(FAT_SECTOR_BYTES) * GetSectorScale();
    return (static_cast<uint32_t>(GetRootEntryCount()) * 32 + nLogicalBytes - 1) / nLogicalBytes * GetSectorScale();
}

uint64_t CFATDBR::GetFATOffset() const
{
    return GetReservedSectors();
}

uint64_t CFATDBR::GetRootDirOffset() const
{
    if (!IsValid())
        return 0;
    return GetFATOffset() + static_cast<uint64_t>(GetFATCount()) * GetSectorsPerFAT();
}

uint64_t CFATDBR::GetDataOffset() const
{
    return GetRootDirOffset() + GetRootDirSectors();
}

bool CFATDBR::ClusterToSector(uint64_t u64PartitionStart, uint32_t nCluster, uint64_t* pSector) const
{
    if (!IsValid() || nCluster < FAT_FIRST_DATA_CLUSTER || pSector == nullptr)
        return false;
    *pSector = u64PartitionStart + GetDataOffset() +
               static_cast<uint64_t>(nCluster - FAT_FIRST_DATA_CLUSTER) * GetSectorsPerCluster();
    return true;
}

namespace {

const uint8_t* CopySector(uint8_t* pDst, const uint8_t* pSector, size_t nSize)
{
    if (pSector == nullptr || nSize < FAT_SECTOR_BYTES) {
        std::memset(pDst, 0, FAT_SECTOR_BYTES);
        return nullptr;
    }
    std::memcpy(pDst, pSector, FAT_SECTOR_BYTES);
    return pDst;
}

} // namespace

CFATDBRCopy::CFATDBRCopy(const uint8_t* pSector, size_t nSize)
    : m_DBR(CopySector(m_Sector, pSector, nSize), FAT_SECTOR_BYTES)
{
}

bool HasBootSignature(const uint8_t* pSector, size_t nSize)
{
    return pSector != nullptr && nSize >= FAT_SECTOR_BYTES && pSector[0] != 0 && HasSignature(pSector);
}

bool IsValidClusterNumber(uint64_t u64Cluster)
{
    return u64Cluster >= FAT_FIRST_DATA_CLUSTER && u64Cluster <= FAT_LAST_VALID_CLUSTER;
}

bool IsFATStartSector(const uint8_t* pSector, size_t nSize)
{
    if (pSector == nullptr || nSize < 8)
        return false;
    const uint32_t w0 = U32(pSector);
    const uint32_t w1 = U32(pSector + 4);
    if ((w0 & 0x0FFFFFFF) == 0x0FFFFFF8 && (w1 & 0x0FFFFFF8) == 0x0FFFFFF8)
        return true;
    if (w0 == 0xFFFFFFF8)
        return true;
    return (w0 & 0x00FFFFF0) == 0x00FFFFF0;
}
