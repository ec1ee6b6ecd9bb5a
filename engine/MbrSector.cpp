#include "MbrSector.h"

#include <cstring>

#include "ByteOrder.h"

bool HasMbrSignature(const uint8_t* pData, size_t nSize)
{
    return pData != nullptr && nSize >= MBR_SECTOR_BYTES && pData[510] == 0x55 && pData[511] == 0xAA;
}

bool IsExtendedPartitionType(uint8_t byType)
{
    return byType == MBR_TYPE_EXTENDED_CHS || byType == MBR_TYPE_EXTENDED_LBA || byType == MBR_TYPE_EXTENDED_LINUX;
}

bool ReadMbrSector(const uint8_t* pData, size_t nSize, MBR_ENTRY aEntries[MBR_ENTRY_COUNT])
{
    memset(aEntries, 0, sizeof(MBR_ENTRY) * MBR_ENTRY_COUNT);
    for (int i = 0; i < MBR_ENTRY_COUNT; ++i)
        aEntries[i].bEmpty = true;
    if (pData == nullptr || nSize < MBR_SECTOR_BYTES)
        return false;

    bool bBootIndicatorsValid = true;
    for (int i = 0; i < MBR_ENTRY_COUNT; ++i) {
        const uint8_t* pEntry = pData + MBR_TABLE_OFFSET + i * MBR_ENTRY_BYTES;
        MBR_ENTRY& entry = aEntries[i];
        entry.byBootIndicator = pEntry[0];
        entry.byType = pEntry[4];
        entry.nFirstSector = rvd::LoadLE32(pEntry + 8);
        entry.nSectorCount = rvd::LoadLE32(pEntry + 12);
        entry.bEmpty = true;
        for (size_t b = 0; b < MBR_ENTRY_BYTES; ++b) {
            if (pEntry[b] != 0) {
                entry.bEmpty = false;
                break;
            }
        }
        if (entry.byBootIndicator != 0x00 && entry.byBootIndicator != 0x80)
            bBootIndicatorsValid = false;
    }
    return HasMbrSignature(pData, nSize) && bBootIndicatorsValid;
}
