// Fuzz target for the FAT structures: the input is a boot sector and the sectors after it (its
// sectors repeat over a larger device, so root clusters and FAT blocks read fuzzer bytes), and
// also a run of directory entries. Whatever the bytes, the readers end, nothing reads past its
// buffer, and labels and names stay bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzDisk.h"
#include "fat/FATDBR.h"
#include "fat/FATDirEntry.h"
#include "fat/FATDirSectorInfo.h"
#include "fat/FATTable.h"
#include "fat/FATVolumeLabelReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    // Exact-size copy: a read past the input is caught by the address checker.
    const std::vector<uint8_t> input(pData, pData + nSize);
    const uint8_t* p = input.data();

    const CFATDBR dbr(p, nSize);
    const int nType = dbr.GetFATType();
    if (nType != FAT_TYPE_FAT12 && nType != FAT_TYPE_FAT16 && nType != FAT_TYPE_FAT32 && nType != FAT_TYPE_NONE)
        abort();
    dbr.GetTotalSectors();
    dbr.GetRootEntryCount();
    dbr.GetBytesPerSector();
    dbr.GetSectorsPerTrack();
    uint64_t u64Sector = 0;
    dbr.ClusterToSector(0, 2, &u64Sector);
    const CFATDBRCopy copy(p, nSize);
    if (copy.GetFATType() != nType)
        abort();
    HasBootSignature(p, nSize);
    IsFATStartSector(p, nSize);

    // Every 32-byte entry, every run of entries, every sector.
    for (size_t nOffset = 0; nOffset + FAT_DIR_ENTRY_BYTES <= nSize; nOffset += FAT_DIR_ENTRY_BYTES) {
        const CFATDirEntry entry(p + nOffset);
        entry.IsValid(true);
        entry.IsValid(false);
        entry.IsDotEntry();
        entry.IsDotDotEntry();
        if (entry.GetShortName(false).size() > 3 * 12 || entry.GetShortName(true).size() > 3 * 11)
            abort();
        std::string strPart;
        if (entry.GetLongNamePart(strPart) && strPart.size() > 3 * 13)
            abort();
    }
    std::string strName;
    size_t nShort = 0;
    if (GetNameFromEntries(p, nSize, strName, &nShort) &&
        (nShort + FAT_DIR_ENTRY_BYTES > nSize || strName.size() > 3 * 260))
        abort();
    IsValidLongName(strName);
    for (size_t nOffset = 0; nOffset + FAT_SECTOR_BYTES <= nSize; nOffset += FAT_SECTOR_BYTES) {
        CFATDirSectorInfo info;
        const bool bDirectory = info.Classify(p + nOffset, FAT_SECTOR_BYTES);
        if (bDirectory != (info.m_nKind == FAT_DIR_SECTOR_PART || info.m_nKind == FAT_DIR_SECTOR_FIRST))
            abort();
    }

    if (!dbr.IsValid())
        return 0;
    CFuzzDisk device(p, nSize, 1ull << 22);
    {
        CFATVolumeLabelReader reader(&device);
        char szLabel[FAT_VOLUME_LABEL_BUFFER + 1];
        memset(szLabel, 0x7F, sizeof(szLabel));
        if (reader.ReadVolumeLabel(0, &dbr, szLabel) && strnlen(szLabel, FAT_VOLUME_LABEL_BUFFER) == FAT_VOLUME_LABEL_BUFFER)
            abort();
        if (szLabel[FAT_VOLUME_LABEL_BUFFER] != 0x7F)
            abort();
    }
    // The tables, kept small enough for many runs a second; chains walked with a bound.
    const uint32_t nFATSectors = dbr.GetSectorsPerFAT();
    if (nFATSectors <= 512) {
        std::unique_ptr<CDoubleFATTable> table(
            CreateDoubleFATTable(&device, dbr.GetFATOffset(), nType, nFATSectors, true, true));
        if (!table)
            abort();
        uint32_t nCluster = dbr.GetRootCluster() ? dbr.GetRootCluster() : 2;
        for (int i = 0; i < 100000 && IsValidClusterNumber(nCluster); ++i)
            nCluster = table->GetNextCluster(nCluster);
        table->GetNextCluster(0xFFFFFFFF);
    }
    return 0;
}
