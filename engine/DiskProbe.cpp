#include "DiskProbe.h"

#include <cstring>

#include "ByteOrder.h"
#include "DiskInfo.h"
#include "fat/FATDBR.h"
#include "ntfs/NTFSDBR.h"

namespace {

const uint32_t kUnitBytes = 512;

// Extended-partition chains are walked link by link; a chain longer than this, or one that
// comes back to a sector already read, is damaged.
const int kMaxChainLinks = 256;

uint64_t UnitsPerSector(DWORD dwBytesPerSector)
{
    return static_cast<uint64_t>(SectorSizeFromGeometry(dwBytesPerSector)) / kUnitBytes;
}

// a x b, or false when the product does not fit 64 bits.
bool MulU64(uint64_t a, uint64_t b, uint64_t* pResult)
{
    return !__builtin_mul_overflow(a, b, pResult);
}

// The MBR and every extended boot record keep four 16-byte entries from byte 446: type at
// entry byte 4, first sector (relative, 32-bit) at entry byte 8.
const size_t kPartitionTableOffset = 446;
const size_t kPartitionEntrySize = 16;

bool IsExtendedType(uint8_t byType)
{
    return byType == 0x05 || byType == 0x0F || byType == 0x85;
}

// Walks the MBR and the extended chain; true when a partition of type 0x42 (a disk under the
// dynamic-disk manager) appears on the way.
bool ChainHoldsLdmPartition(IStorageDevice* pDevice, uint8_t* pSector, uint64_t u64Units)
{
    uint64_t aVisited[kMaxChainLinks];
    int nVisited = 0;
    uint64_t u64Next = 0;
    uint64_t u64Base = 0;
    bool bBaseSet = false;
    while (nVisited < kMaxChainLinks) {
        for (int i = 0; i < nVisited; ++i) {
            if (aVisited[i] == u64Next)
                return false;
        }
        aVisited[nVisited++] = u64Next;
        uint64_t u64Unit = 0;
        if (!MulU64(u64Next, u64Units, &u64Unit))
            return false;
        memset(pSector, 0, kUnitBytes);
        if (!pDevice->ReadSectors(pSector, u64Unit, 1))
            return false;
        bool bExtended = false;
        for (size_t i = 0; i < 4; ++i) {
            const uint8_t* pEntry = pSector + kPartitionTableOffset + i * kPartitionEntrySize;
            const uint8_t byType = pEntry[4];
            if (byType == 0x42)
                return true;
            if (IsExtendedType(byType)) {
                const uint64_t u64Start = rvd::LoadLE32(pEntry + 8);
                u64Next = u64Start + u64Base;
                if (!bBaseSet) {
                    u64Base = u64Start;
                    bBaseSet = true;
                }
                bExtended = true;
            }
        }
        if (!bExtended)
            return false;
    }
    return false;
}

// GPT entries are 128 bytes with the partition name (UTF-16LE) at entry byte 56. The compare
// lengths stop one byte short of the last character, as the disk manager's own check does.
bool GptNameMatches(const uint8_t* pEntry, const char* pszName, size_t nCompareBytes)
{
    const uint8_t* pName = pEntry + 56;
    for (size_t i = 0; i < nCompareBytes; ++i) {
        const size_t nChar = i / 2;
        const uint8_t byExpected = (i % 2 == 0) ? static_cast<uint8_t>(pszName[nChar]) : 0;
        if (pName[i] != byExpected)
            return false;
    }
    return true;
}

} // namespace

int SectorSizeFromGeometry(DWORD dwBytesPerSector)
{
    if (dwBytesPerSector == 0 || dwBytesPerSector % kUnitBytes != 0 || dwBytesPerSector > INT32_MAX)
        return static_cast<int>(kUnitBytes);
    return static_cast<int>(dwBytesPerSector);
}

uint32_t GetBootSectorFileSystemKind(const uint8_t* pSector, size_t nSize)
{
    if (pSector == nullptr || nSize < kUnitBytes)
        return FILE_SYSTEM_UNKNOWN;
    CFATDBR fat(pSector, nSize);
    const int nFATType = fat.GetFATType();
    if (nFATType != FILE_SYSTEM_UNKNOWN)
        return static_cast<uint32_t>(nFATType);
    return IsValidNTFSDBR(pSector, nSize) ? FILE_SYSTEM_NTFS : FILE_SYSTEM_UNKNOWN;
}

bool IsDynamicDisk(IStorageDevice* pDevice, uint64_t u64TotalSectors, uint32_t nBufferSize)
{
    if (pDevice == nullptr || nBufferSize < kUnitBytes || u64TotalSectors == 0 || u64TotalSectors < 7)
        return false;
    // Table addresses are in the disk's own sectors; the device is read in 512-byte units.
    const int nSectorSize = pDevice->GetSectorSize();
    const uint64_t u64Units = UnitsPerSector(nSectorSize > 0 ? static_cast<DWORD>(nSectorSize) : 0);
    uint8_t aSector[kUnitBytes];

    // A disk that begins with a FAT or NTFS boot sector is that file system: the boot code of
    // such a sector runs through bytes 446-509, where a byte of 0x42 is code, not a partition type.
    memset(aSector, 0, sizeof(aSector));
    if (pDevice->ReadSectors(aSector, 0, 1) &&
        GetBootSectorFileSystemKind(aSector, sizeof(aSector)) != FILE_SYSTEM_UNKNOWN)
        return false;

    const bool bChain = ChainHoldsLdmPartition(pDevice, aSector, u64Units);

    // Sector 6 holds the private header of an MBR dynamic disk; an unreadable one leaves the
    // chain's answer.
    memset(aSector, 0, sizeof(aSector));
    if (!pDevice->ReadSectors(aSector, 6 * u64Units, 1))
        return bChain;
    if (bChain)
        return true;

    memset(aSector, 0, sizeof(aSector));
    if (!pDevice->ReadSectors(aSector, 0, 1))
        return false;
    // Protective MBR of a GPT disk.
    if (aSector[kPartitionTableOffset + 4] != 0xEE)
        return false;
    memset(aSector, 0, sizeof(aSector));
    if (!pDevice->ReadSectors(aSector, 2 * u64Units, 1))
        return false;
    bool bMetadata = false;
    bool bData = false;
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t* pEntry = aSector + i * 128;
        if (GptNameMatches(pEntry, "LDM metadata partition", 43))
            bMetadata = true;
        if (GptNameMatches(pEntry, "LDM data partition", 35))
            bData = true;
    }
    return bMetadata && bData;
}
