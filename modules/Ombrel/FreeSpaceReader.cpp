#include "FreeSpaceReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ByteOrder.h"
#include "ClusterUseBitMap.h"
#include "IStorageDevice.h"
#include "ext2/Ext2SuperBlock.h"
#include "fat/FATDBR.h"
#include "fat/FATTable.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/NTFSFileRecord.h"
#include "ntfs/NTFSRunList.h"

namespace ombrel {

namespace {

const uint64_t kUnitBytes = 512;
// Tables and bitmaps are read in pieces of this many units (1 MiB).
const uint64_t kChunkUnits = 2048;

bool ReadUnits(IStorageDevice* pDevice, std::vector<uint8_t>& buffer, uint64_t ullFirst, uint64_t ullCount)
{
    buffer.assign(static_cast<size_t>(ullCount * kUnitBytes), 0);
    return pDevice->ReadSectors(buffer.data(), ullFirst, ullCount) != 0;
}

// ----- FAT -----

// FSInfo: lead signature "RRaA" at 0, structure signature "rrAa" at 484, free clusters at 488
// (0xFFFFFFFF when the driver did not keep it), trail signature at 508.
const uint32_t kFsInfoLead = 0x41615252;
const uint32_t kFsInfoStruct = 0x61417272;
const uint32_t kFsInfoTrail = 0xAA550000;

// Free clusters from the FSInfo sector, or false when the sector is missing, damaged or claims
// more free clusters than the volume has.
bool ReadFsInfoFreeClusters(IStorageDevice* pVolume, const CFATDBR& dbr, uint32_t nClusters, uint32_t* pnFree)
{
    const uint16_t nSector = dbr.GetFSInfoSector();
    if (nSector == 0 || nSector >= dbr.GetReservedSectors())
        return false;
    std::vector<uint8_t> sector;
    if (!ReadUnits(pVolume, sector, nSector, 1))
        return false;
    const uint8_t* p = sector.data();
    if (rvd::LoadLE32(p) != kFsInfoLead || rvd::LoadLE32(p + 484) != kFsInfoStruct ||
        rvd::LoadLE32(p + 508) != kFsInfoTrail)
        return false;
    const uint32_t nFree = rvd::LoadLE32(p + 488);
    if (nFree > nClusters)
        return false;
    *pnFree = nFree;
    return true;
}

// Counts the free entries of clusters 2 .. nClusters + 1 in the first FAT.
bool CountFreeFATEntries(IStorageDevice* pVolume, const CFATDBR& dbr, uint32_t nClusters, uint64_t* pullFree)
{
    const int nType = dbr.GetFATType();
    const uint64_t ullEntries = static_cast<uint64_t>(nClusters) + FAT_FIRST_DATA_CLUSTER;
    const uint64_t ullBytesNeeded = nType == FAT_TYPE_FAT12   ? (ullEntries * 3 + 1) / 2
                                    : nType == FAT_TYPE_FAT16 ? ullEntries * 2
                                                              : ullEntries * 4;
    const uint64_t ullFATBytes = static_cast<uint64_t>(dbr.GetSectorsPerFAT()) * kUnitBytes;
    // A FAT too short for the clusters it should map is damaged: its count would be wrong.
    if (ullBytesNeeded > ullFATBytes || ullBytesNeeded > FREE_SPACE_MAX_METADATA_BYTES)
        return false;
    const uint64_t ullUnits = (ullBytesNeeded + kUnitBytes - 1) / kUnitBytes;
    const uint64_t ullFATStart = dbr.GetFATOffset();

    uint64_t ullFree = 0;
    std::vector<uint8_t> buffer;
    if (nType != FAT_TYPE_FAT32) {
        // FAT12 and FAT16 tables are at most 256 units: one read, and FAT12's 12-bit entries
        // never straddle a chunk boundary.
        if (!ReadUnits(pVolume, buffer, ullFATStart, ullUnits))
            return false;
        for (uint64_t n = FAT_FIRST_DATA_CLUSTER; n < ullEntries; ++n)
            if (GetStoredFATEntry(nType, buffer.data(), buffer.size(), n) == 0)
                ++ullFree;
        *pullFree = ullFree;
        return true;
    }
    // FAT32: 128 entries per unit, read a chunk at a time. The top four bits are reserved.
    for (uint64_t ullUnit = 0; ullUnit < ullUnits; ullUnit += kChunkUnits) {
        const uint64_t ullCount = std::min(kChunkUnits, ullUnits - ullUnit);
        if (!ReadUnits(pVolume, buffer, ullFATStart + ullUnit, ullCount))
            return false;
        const uint64_t ullFirstEntry = ullUnit * (kUnitBytes / 4);
        for (uint64_t i = 0; i < ullCount * (kUnitBytes / 4); ++i) {
            const uint64_t n = ullFirstEntry + i;
            if (n < FAT_FIRST_DATA_CLUSTER)
                continue;
            if (n >= ullEntries)
                break;
            if ((GetStoredFATEntry(FAT_TYPE_FAT32, buffer.data(), buffer.size(), i) & 0x0FFFFFFF) == 0)
                ++ullFree;
        }
    }
    *pullFree = ullFree;
    return true;
}

// ----- NTFS -----

// $Bitmap is FILE record 6; the first records of the $MFT always lie in its first run.
const uint64_t kBitmapRecord = 6;

} // namespace

uint64_t ReadFATFreeSectors(IStorageDevice* pVolume)
{
    std::vector<uint8_t> boot;
    if (pVolume == nullptr || !ReadUnits(pVolume, boot, 0, 1))
        return 0;
    const CFATDBR dbr(boot.data(), boot.size());
    // The reader's offsets count 512-byte sectors; other sector sizes are not read here.
    if (!dbr.IsValid() || dbr.GetBytesPerSector() != kUnitBytes || dbr.GetSectorsPerCluster() == 0)
        return 0;
    const uint64_t ullTotal = dbr.GetTotalSectors();
    const uint64_t ullData = dbr.GetDataOffset();
    if (ullTotal <= ullData)
        return 0;
    const uint64_t ullClusters = (ullTotal - ullData) / dbr.GetSectorsPerCluster();
    if (ullClusters == 0 || ullClusters > FAT_LAST_VALID_CLUSTER)
        return 0;
    const uint32_t nClusters = static_cast<uint32_t>(ullClusters);

    uint64_t ullFree = 0;
    uint32_t nFsInfoFree = 0;
    if (dbr.GetFATType() == FAT_TYPE_FAT32 && ReadFsInfoFreeClusters(pVolume, dbr, nClusters, &nFsInfoFree))
        ullFree = nFsInfoFree;
    else if (!CountFreeFATEntries(pVolume, dbr, nClusters, &ullFree))
        return 0;
    return ullFree * dbr.GetSectorsPerCluster();
}

uint64_t ReadNTFSFreeSectors(IStorageDevice* pVolume)
{
    std::vector<uint8_t> boot;
    if (pVolume == nullptr || !ReadUnits(pVolume, boot, 0, 1))
        return 0;
    CNTFSDBR dbr;
    if (!dbr.SetIfValid(boot.data(), boot.size()))
        return 0;
    const uint64_t ullClusterBytes = static_cast<uint64_t>(dbr.GetBytesPerSector()) * dbr.GetSectorsPerCluster();
    const uint64_t ullRecordBytes = dbr.GetFileRecordSize();
    if (ullClusterBytes == 0 || ullClusterBytes % kUnitBytes != 0 || ullRecordBytes == 0 ||
        dbr.GetSectorsPerCluster() == 0)
        return 0;
    const uint64_t ullClusters = dbr.GetTotalSectors() / dbr.GetSectorsPerCluster();
    const uint64_t ullUnitsPerCluster = ullClusterBytes / kUnitBytes;

    // FILE record 6, read whole and fixed up.
    uint64_t ullRecordByte = 0;
    if (__builtin_mul_overflow(dbr.GetMFTCluster(), ullClusterBytes, &ullRecordByte) ||
        __builtin_add_overflow(ullRecordByte, kBitmapRecord * ullRecordBytes, &ullRecordByte))
        return 0;
    const uint64_t ullFirstUnit = ullRecordByte / kUnitBytes;
    const uint64_t ullSkip = ullRecordByte % kUnitBytes;
    const uint64_t ullUnits = (ullSkip + ullRecordBytes + kUnitBytes - 1) / kUnitBytes;
    std::vector<uint8_t> units;
    if (!ReadUnits(pVolume, units, ullFirstUnit, ullUnits))
        return 0;
    std::vector<uint8_t> record(units.begin() + static_cast<ptrdiff_t>(ullSkip),
                                units.begin() + static_cast<ptrdiff_t>(ullSkip + ullRecordBytes));
    if (!IsFileRecordHeader(record.data(), record.size()) || !ApplyFixups(record.data(), record.size()) ||
        !IsRecordInUse(record.data(), record.size()) || !ValidateAttributes(record.data(), record.size()))
        return 0;
    const uint8_t* pData = FindAttribute(record.data(), record.size(), NTFS_ATTR_DATA, 0);
    if (pData == nullptr || IsAttributeNamed(pData))
        return 0;

    const uint64_t ullBitmapBytes = (ullClusters + 7) / 8;
    if (ullBitmapBytes > FREE_SPACE_MAX_METADATA_BYTES)
        return 0;
    uint64_t ullFree = 0;
    if (IsAttributeResident(pData)) {
        uint32_t nLength = 0;
        const uint8_t* pValue = GetResidentValue(pData, &nLength);
        if (pValue == nullptr || nLength < ullBitmapBytes)
            return 0;
        ullFree = CountClearClusterBits(pValue, ullClusters);
    } else {
        if (GetRealSize(pData) < ullBitmapBytes)
            return 0;
        const size_t nRoom = GetAttributeAreaEnd(record.data(), record.size()) -
                             static_cast<size_t>(pData - record.data());
        size_t nPairs = 0;
        const uint8_t* pPairs = GetMappingPairs(pData, nRoom, &nPairs);
        CNTFSRunList runs;
        if (pPairs == nullptr || !runs.SetFromMappingPairs(pPairs, nPairs))
            return 0;
        runs.SortByVcn();
        // The bitmap's bits, run by run in VCN order, up to the last cluster of the volume.
        uint64_t ullBitsDone = 0;
        uint64_t ullNextVcn = 0;
        std::vector<uint8_t> buffer;
        for (auto it = runs.begin(); it != runs.end() && ullBitsDone < ullClusters; ++it) {
            const NTFS_RUN* pRun = *it;
            // A gap or a sparse stretch in the bitmap means a damaged record: no count.
            if (pRun->ullVcn != ullNextVcn || pRun->llLcn < 0)
                return 0;
            ullNextVcn += pRun->ullLength;
            uint64_t ullRunUnits = 0;
            uint64_t ullRunStart = 0;
            if (__builtin_mul_overflow(pRun->ullLength, ullUnitsPerCluster, &ullRunUnits) ||
                __builtin_mul_overflow(static_cast<uint64_t>(pRun->llLcn), ullUnitsPerCluster, &ullRunStart))
                return 0;
            for (uint64_t ullUnit = 0; ullUnit < ullRunUnits && ullBitsDone < ullClusters; ullUnit += kChunkUnits) {
                const uint64_t ullBitsLeft = ullClusters - ullBitsDone;
                const uint64_t ullUnitsLeft = (ullBitsLeft + kUnitBytes * 8 - 1) / (kUnitBytes * 8);
                const uint64_t ullCount = std::min({kChunkUnits, ullRunUnits - ullUnit, ullUnitsLeft});
                if (!ReadUnits(pVolume, buffer, ullRunStart + ullUnit, ullCount))
                    return 0;
                const uint64_t ullBits = std::min(ullBitsLeft, ullCount * kUnitBytes * 8);
                ullFree += CountClearClusterBits(buffer.data(), ullBits);
                ullBitsDone += ullBits;
            }
        }
        if (ullBitsDone < ullClusters)
            return 0;
    }
    uint64_t ullSectors = 0;
    if (__builtin_mul_overflow(ullFree, ullUnitsPerCluster, &ullSectors))
        return 0;
    return ullSectors;
}

uint64_t ReadExtFreeSectors(IStorageDevice* pVolume)
{
    // The primary superblock: 1024 bytes at byte 1024, units 2 and 3.
    std::vector<uint8_t> data;
    if (pVolume == nullptr || !ReadUnits(pVolume, data, 2, 2))
        return 0;
    const CExt2SuperBlock superblock(data.data(), data.size());
    if (!superblock.IsValidNormalised())
        return 0;
    const uint64_t ullFreeBlocks = superblock.GetFreeBlocksCount();
    if (ullFreeBlocks > superblock.GetBlocksCount())
        return 0;
    return ullFreeBlocks * superblock.GetSectorsPerBlock();
}

uint64_t ReadFreeSectors(IStorageDevice* pVolume, uint32_t nKind)
{
    if (pVolume == nullptr)
        return 0;
    uint64_t ullFree = 0;
    switch (nKind) {
    case 0:
    case 1:
    case 2:
        ullFree = ReadFATFreeSectors(pVolume);
        break;
    case 3:
        ullFree = ReadNTFSFreeSectors(pVolume);
        break;
    case 4:
    case 5:
        ullFree = ReadExtFreeSectors(pVolume);
        break;
    default:
        return 0;
    }
    return std::min(ullFree, pVolume->GetTotalSectors());
}

} // namespace ombrel
