#include "FATTable.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "FATBytes.h"
#include "FATDBR.h"
#include "IStorageDevice.h"

using fatbytes::U16;
using fatbytes::U32;

namespace {

// The devices take at most 8192 sectors (4 MiB) in one call.
const uint32_t kSectorsPerRead = 8192;

// FAT12 entries are packed three bytes to two entries.
const uint32_t kFAT12EndLast = 0xFFF;
const uint32_t kFAT12EndFirst = 0xFF8;
// A FAT12 addresses clusters up to 0xFF6: 4,087 entries of 12 bits fill its first 12 sectors.
const uint32_t kFAT12AddressableSectors = 12;
const uint32_t kFAT16EndLast = 0xFFFF;
const uint32_t kFAT16EndFirst = 0xFFF8;

// The first two entries of a FAT16 or FAT32 copy hold no chain: entry 0 is the media byte with
// every higher bit set (0xF0 for removable media, 0xF8 to 0xFF otherwise: mkfs.fat -M and mtools'
// mformat write 0xF0), entry 1 an end mark whose top two bits Windows clears while the volume is
// mounted (not cleanly unmounted) and after a disk error. A volume taken out without being
// unmounted keeps those marks, and its FAT is as sound as any.
bool IsMediaByte(uint32_t nByte)
{
    return nByte == 0xF0 || nByte >= 0xF8;
}

bool IsFAT16Start(uint32_t nEntry0, uint32_t nEntry1)
{
    return (nEntry0 & 0xFF00) == 0xFF00 && IsMediaByte(nEntry0 & 0xFF) && (nEntry1 | 0xC000) >= 0xFFF8;
}

bool IsFAT32Start(uint32_t nEntry0, uint32_t nEntry1)
{
    nEntry0 &= 0x0FFFFFFF;
    nEntry1 &= 0x0FFFFFFF;
    return (nEntry0 & 0x0FFFFF00) == 0x0FFFFF00 && IsMediaByte(nEntry0 & 0xFF) &&
           (nEntry1 | 0x0C000000) >= 0x0FFFFFF8;
}

uint32_t NormaliseEnd(uint32_t v, uint32_t nEndFirst, uint32_t nEndLast)
{
    if (v == nEndLast)
        return FAT_END_OF_CHAIN_LAST;
    if (v >= nEndFirst)
        return FAT_END_OF_CHAIN;
    return v;
}

// The checks of a FAT16 or FAT32 copy over nCount entries. An entry nEndValue or above is a
// bad-cluster or end mark; below it every value must name a cluster of the table.
//
// The sanity pass rejects entries no sound table holds: 1, a cluster pointing to itself, or a
// cluster beyond the table. The chain pass then follows every chain from its start and rejects
// a cluster reached from two places (cross-linked files) and a chain that comes back to its own
// start (a loop). A chain is followed only until it joins one already followed, so the pass
// is linear in the number of entries whatever the order of the chains.
template <class FGetEntry>
bool CheckEntriesAndChains(uint32_t nCount, uint32_t nEndValue, FGetEntry getEntry)
{
    for (uint32_t i = FAT_FIRST_DATA_CLUSTER; i < nCount; ++i) {
        const uint32_t v = getEntry(i);
        if (v == 1 || v == i || (v >= nCount && v < nEndValue))
            return false;
    }

    std::vector<uint32_t, CEngineAllocator<uint32_t>> predecessor(nCount, 0);
    std::vector<uint8_t, CEngineAllocator<uint8_t>> walked(nCount, 0);
    for (uint32_t nStart = FAT_FIRST_DATA_CLUSTER; nStart < nCount; ++nStart) {
        if (predecessor[nStart] != 0)
            continue;
        walked[nStart] = 1;
        uint32_t nCurrent = nStart;
        for (;;) {
            const uint32_t v = getEntry(nCurrent);
            if (v < FAT_FIRST_DATA_CLUSTER || v >= nEndValue || v >= nCount)
                break;
            if (v == nStart)
                return false;
            if (predecessor[v] == 0) {
                predecessor[v] = nCurrent;
                // v began a chain followed earlier: the rest of this one is checked already.
                if (walked[v])
                    break;
                walked[v] = 1;
                nCurrent = v;
                continue;
            }
            if (predecessor[v] != nCurrent)
                return false;
            break;
        }
    }
    return true;
}

} // namespace

IRealFATTable::IRealFATTable(IStorageDevice* pDevice, uint64_t u64StartSector, uint32_t nSectors)
    : m_pDevice(pDevice), m_nStartSector(u64StartSector), m_nSectors(nSectors),
      m_nEntryCount(nSectors * (FAT_SECTOR_BYTES / 4)), m_pTable(nullptr)
{
}

IRealFATTable::~IRealFATTable()
{
    FreeBuffer(m_pTable);
}

void IRealFATTable::Load()
{
    if (m_pDevice == nullptr || m_nSectors == 0)
        return;
    const size_t nBytes = static_cast<size_t>(m_nSectors) * FAT_SECTOR_BYTES;
    m_pTable = reinterpret_cast<uint8_t*>(AllocBuffer(nBytes));
    for (uint32_t nDone = 0; nDone < m_nSectors; nDone += kSectorsPerRead) {
        const uint32_t nCount = std::min(kSectorsPerRead, m_nSectors - nDone);
        uint8_t* pPiece = m_pTable + static_cast<size_t>(nDone) * FAT_SECTOR_BYTES;
        if (!m_pDevice->ReadSectors(pPiece, m_nStartSector + nDone, nCount))
            std::memset(pPiece, 0, static_cast<size_t>(nCount) * FAT_SECTOR_BYTES);
    }
}

CFAT12Table::CFAT12Table(IStorageDevice* pDevice, uint64_t u64StartSector, uint32_t nSectors)
    : IRealFATTable(pDevice, u64StartSector, nSectors)
{
    // A longer table (mkfs.fat rounds the size up for large clusters) is padding after the
    // sectors that hold every entry.
    if (nSectors >= 1) {
        m_nSectors = std::min<uint32_t>(nSectors, kFAT12AddressableSectors);
        Load();
    }
}

uint32_t GetStoredFATEntry(int nFATType, const uint8_t* pTable, uint64_t nBytes, uint64_t nCluster)
{
    if (pTable == nullptr || nCluster > UINT32_MAX)
        return 0;
    switch (nFATType) {
    case FAT_TYPE_FAT12: {
        const uint64_t u64Offset = nCluster * 3 / 2;
        if (u64Offset + 2 > nBytes)
            return 0;
        const uint16_t w = U16(pTable + u64Offset);
        return (nCluster & 1) ? (w >> 4) : (w & 0x0FFF);
    }
    case FAT_TYPE_FAT16:
        return nCluster * 2 + 2 <= nBytes ? U16(pTable + nCluster * 2) : 0;
    case FAT_TYPE_FAT32:
        return nCluster * 4 + 4 <= nBytes ? U32(pTable + nCluster * 4) : 0;
    default:
        return 0;
    }
}

uint32_t CFAT12Table::GetNextCluster(uint32_t nCluster)
{
    if (m_pTable == nullptr)
        return 0;
    const uint64_t u64Bytes = static_cast<uint64_t>(m_nSectors) * FAT_SECTOR_BYTES;
    return NormaliseEnd(GetStoredFATEntry(FAT_TYPE_FAT12, m_pTable, u64Bytes, nCluster), kFAT12EndFirst,
                        kFAT12EndLast);
}

bool CFAT12Table::IsValid()
{
    return m_pTable != nullptr && (U32(m_pTable) & 0x00FFFFF0) == 0x00FFFFF0;
}

CFAT16Table::CFAT16Table(IStorageDevice* pDevice, uint64_t u64StartSector, uint32_t nSectors)
    : IRealFATTable(pDevice, u64StartSector, nSectors)
{
    if (nSectors >= 12 && nSectors <= 256)
        Load();
}

uint32_t CFAT16Table::GetNextCluster(uint32_t nCluster)
{
    if (m_pTable == nullptr || nCluster / 256 >= m_nSectors)
        return 0;
    const uint64_t u64Bytes = static_cast<uint64_t>(m_nSectors) * FAT_SECTOR_BYTES;
    return NormaliseEnd(GetStoredFATEntry(FAT_TYPE_FAT16, m_pTable, u64Bytes, nCluster), kFAT16EndFirst,
                        kFAT16EndLast);
}

bool CFAT16Table::IsValid()
{
    if (m_pTable == nullptr || !IsFAT16Start(U16(m_pTable), U16(m_pTable + 2)))
        return false;
    const uint8_t* pTable = m_pTable;
    return CheckEntriesAndChains(m_nSectors * 256, 0xFFF7,
                                 [pTable](uint32_t n) { return static_cast<uint32_t>(U16(pTable + static_cast<size_t>(n) * 2)); });
}

CFAT32Table::CFAT32Table(IStorageDevice* pDevice, uint64_t u64StartSector, uint32_t nSectors)
    : IRealFATTable(pDevice, u64StartSector, nSectors)
{
    if (nSectors >= 256 && nSectors <= 128000)
        Load();
}

uint32_t CFAT32Table::GetNextCluster(uint32_t nCluster)
{
    if (m_pTable == nullptr || nCluster / 128 >= m_nSectors)
        return 0;
    return GetStoredFATEntry(FAT_TYPE_FAT32, m_pTable, static_cast<uint64_t>(m_nSectors) * FAT_SECTOR_BYTES, nCluster);
}

bool CFAT32Table::IsValid()
{
    if (m_pTable == nullptr || !IsFAT32Start(U32(m_pTable), U32(m_pTable + 4)))
        return false;
    const uint8_t* pTable = m_pTable;
    return CheckEntriesAndChains(m_nEntryCount, 0x0FFFFFF7,
                                 [pTable](uint32_t n) { return U32(pTable + static_cast<size_t>(n) * 4); });
}

CDoubleFATTable::~CDoubleFATTable()
{
    delete m_pFAT1;
    delete m_pFAT2;
}

uint32_t CDoubleFATTable::GetNextCluster(uint32_t nCluster)
{
    if (m_pFAT1 != nullptr)
        return m_pFAT1->GetNextCluster(nCluster);
    if (m_pFAT2 != nullptr)
        return m_pFAT2->GetNextCluster(nCluster);
    return 0;
}

IRealFATTable* CreateFATTable(IStorageDevice* pDevice, int nFATType, uint64_t u64StartSector, uint32_t nSectors)
{
    IRealFATTable* pTable = nullptr;
    switch (nFATType) {
    case FAT_TYPE_FAT12:
        pTable = new CFAT12Table(pDevice, u64StartSector, nSectors);
        break;
    case FAT_TYPE_FAT16:
        pTable = new CFAT16Table(pDevice, u64StartSector, nSectors);
        break;
    case FAT_TYPE_FAT32:
        pTable = new CFAT32Table(pDevice, u64StartSector, nSectors);
        break;
    default:
        return nullptr;
    }
    if (!pTable->IsValid()) {
        delete pTable;
        return nullptr;
    }
    return pTable;
}

CDoubleFATTable* CreateDoubleFATTable(IStorageDevice* pDevice, uint64_t u64FAT1Start, int nFATType,
                                      uint32_t nSectorsPerFAT, bool bUseFAT1, bool bUseFAT2)
{
    IRealFATTable* pFAT1 = bUseFAT1 ? CreateFATTable(pDevice, nFATType, u64FAT1Start, nSectorsPerFAT) : nullptr;
    IRealFATTable* pFAT2 = nullptr;
    if (bUseFAT2 && pFAT1 == nullptr)
        pFAT2 = CreateFATTable(pDevice, nFATType, u64FAT1Start + nSectorsPerFAT, nSectorsPerFAT);
    return new CDoubleFATTable(pFAT1, pFAT2);
}

void DeleteFATTable(IFATTable* pTable)
{
    delete pTable;
}
