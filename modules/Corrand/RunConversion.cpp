#include "RunConversion.h"

#include <limits>

#include "DataRunList.h"
#include "FileProperties.h"

namespace corrand {

namespace {

const uint64_t MAX_U64 = std::numeric_limits<uint64_t>::max();

bool AddChecked(uint64_t a, uint64_t b, uint64_t* pSum)
{
    if (a > MAX_U64 - b)
        return false;
    *pSum = a + b;
    return true;
}

bool MulChecked(uint64_t a, uint64_t b, uint64_t* pProduct)
{
    if (b != 0 && a > MAX_U64 / b)
        return false;
    *pProduct = a * b;
    return true;
}

void AppendRun(std::vector<STORED_RUN>& vecRuns, uint64_t ullSector, uint64_t ullSectors)
{
    if (ullSectors == 0)
        return;
    if (!vecRuns.empty()) {
        STORED_RUN& last = vecRuns.back();
        const bool bBothSparse = last.ullSector == STORED_RUN_SPARSE && ullSector == STORED_RUN_SPARSE;
        const bool bFollows = last.ullSector != STORED_RUN_SPARSE && ullSector != STORED_RUN_SPARSE &&
                              last.ullSectors <= MAX_U64 - last.ullSector &&
                              last.ullSector + last.ullSectors == ullSector;
        if ((bBothSparse || bFollows) && last.ullSectors <= MAX_U64 - ullSectors) {
            last.ullSectors += ullSectors;
            return;
        }
    }
    vecRuns.push_back(STORED_RUN{ullSector, ullSectors});
}

} // namespace

uint64_t DeviceStartOfResult(const PARTITION_INFO_EX& partition, uint64_t ullRootStart)
{
    if (partition.dwFoundByScan == PARTITION_FROM_USER)
        return partition.ullStartSector;
    if (partition.ullScannedStart != PARTITION_SCANNED_WHOLE_DISK)
        return partition.ullScannedStart;
    // A whole-disk result: the block scan builds its trees over the disk, the partition search
    // over the found partition's device; the engine says which.
    if (partition.dwTreeDevice == PARTITION_TREE_ON_DISK)
        return 0;
    if (partition.dwTreeDevice == PARTITION_TREE_ON_FOUND_PARTITION)
        return partition.ullStartSector;
    // Records kept from before the engine said so: the block scan records the root's own start,
    // the partition search the found partition's start on the disk.
    return ullRootStart == partition.ullStartSector ? 0 : partition.ullStartSector;
}

STORED_SOURCE SourceOfResult(const PARTITION_INFO_EX& partition)
{
    STORED_SOURCE source;
    source.dwDiskNumber = partition.dwDiskNumber;
    if (partition.dwFoundByScan == PARTITION_FROM_USER) {
        source.dwKind = STORED_SOURCE_VOLUME;
        source.ullStartSector = partition.ullStartSector;
        source.ullSectors = partition.ullTotalSectors;
    } else if (partition.ullScannedStart != PARTITION_SCANNED_WHOLE_DISK) {
        source.dwKind = STORED_SOURCE_VOLUME;
        source.ullStartSector = partition.ullScannedStart;
        source.ullSectors = partition.ullScannedSectors;
    } else {
        source.dwKind = STORED_SOURCE_DISK;
        return source;
    }
    source.dwWholeDisk = partition.dwWholeDisk;
    source.chDriveLetter = partition.chDriveLetter;
    return source;
}

uint64_t SourceStartOfResult(const PARTITION_INFO_EX& partition, uint64_t ullRootStart)
{
    // A volume's trees are built over the volume's own device; a whole-disk scan builds them
    // over the disk or over a found partition's window on it.
    if (SourceOfResult(partition).dwKind == STORED_SOURCE_VOLUME)
        return 0;
    return DeviceStartOfResult(partition, ullRootStart);
}

namespace {

void ClearConverted(CONVERTED_RUNS* pOut)
{
    // The run array keeps its capacity: one object serves every file of an import.
    pOut->vecRuns.clear();
    pOut->bResident = false;
    pOut->ullResidentSector = 0;
    pOut->dwResidentOffset = 0;
    pOut->bDamaged = false;
}

// The nCount runs that getRun(i) gives, of a list that is not resident.
template <typename GET_RUN>
void ConvertNonResident(size_t nCount, GET_RUN getRun, int32_t nPropertiesKind, const RUN_GEOMETRY& geometry,
                        CONVERTED_RUNS* pOut)
{
    uint64_t ullUnit = 1;
    uint64_t ullOrigin = geometry.ullSourceStart;
    switch (nPropertiesKind) {
    case PROPERTIES_KIND_FAT:
    case PROPERTIES_KIND_NTFS:
    case PROPERTIES_KIND_EXT2:
        if (geometry.nSectorsPerUnit <= 0 || !AddChecked(geometry.ullSourceStart, geometry.ullRootStart, &ullOrigin)) {
            pOut->bDamaged = true;
            return;
        }
        ullUnit = static_cast<uint64_t>(geometry.nSectorsPerUnit);
        break;
    case PROPERTIES_KIND_RAW:
        break;
    default:
        // Units of an unknown reader cannot be guessed; a wrong guess would copy other data.
        pOut->bDamaged = true;
        return;
    }

    for (size_t i = 0; i < nCount; ++i) {
        const DATA_RUN& run = getRun(i);
        uint64_t ullSectors = 0;
        if (!MulChecked(run.ullLength, ullUnit, &ullSectors)) {
            pOut->bDamaged = true;
            continue;
        }
        // EXT2/EXT3 mark a hole by block 0: that block holds the boot block and superblock,
        // never file data.
        const bool bSparse = run.ullStart == DATA_RUN_SPARSE_START ||
                             (nPropertiesKind == PROPERTIES_KIND_EXT2 && run.ullStart == 0);
        if (bSparse) {
            AppendRun(pOut->vecRuns, STORED_RUN_SPARSE, ullSectors);
            continue;
        }
        uint64_t ullOffset = 0, ullSector = 0;
        if (!MulChecked(run.ullStart, ullUnit, &ullOffset) || !AddChecked(ullOrigin, ullOffset, &ullSector) ||
            ullSector == STORED_RUN_SPARSE) {
            pOut->bDamaged = true;
            AppendRun(pOut->vecRuns, STORED_RUN_SPARSE, ullSectors);
            continue;
        }
        AppendRun(pOut->vecRuns, ullSector, ullSectors);
    }
}

} // namespace

void ConvertRuns(const std::vector<DATA_RUN>& vecList, int32_t nPropertiesKind, const RUN_GEOMETRY& geometry,
                 CONVERTED_RUNS* pOut)
{
    ClearConverted(pOut);
    if (vecList.empty())
        return;
    ConvertNonResident(
        vecList.size(), [&vecList](size_t i) -> const DATA_RUN& { return vecList[i]; }, nPropertiesKind, geometry,
        pOut);
}

void ConvertRuns(IDataRunList* pList, int32_t nPropertiesKind, const RUN_GEOMETRY& geometry, CONVERTED_RUNS* pOut)
{
    ClearConverted(pOut);
    if (pList == nullptr || pList->GetRunCount() == 0)
        return;

    if (pList->IsResident()) {
        // One run: the sector of the FILE record that holds the data, counted from the start of
        // the device the tree was built on; the resident value is the data's offset in that record. A FILE record
        // is at most a few KiB, so an offset outside 1..65535 cannot be one.
        const DATA_RUN& run = pList->GetRun(0);
        const int32_t nOffset = pList->GetResidentValue();
        uint64_t ullSector = 0;
        if (nOffset <= 0 || nOffset > 0xFFFF || run.ullStart == DATA_RUN_SPARSE_START ||
            !AddChecked(geometry.ullSourceStart, run.ullStart, &ullSector)) {
            pOut->bDamaged = true;
            return;
        }
        uint32_t dwOffset = static_cast<uint32_t>(nOffset);
        if (nPropertiesKind == PROPERTIES_KIND_EXT2) {
            // EXT4 inline data: the run starts at the sector where the inode's record begins and
            // is as long as the record, in bytes; the value is where the inode's block area lies
            // in that sector. Records are a power of two of 128 bytes up to 32 KiB, and begin
            // in the sector at a multiple of 128 bytes.
            const uint64_t ullRecord = run.ullLength;
            const uint32_t dwInSector = dwOffset - STORED_INLINE_AREA_OFFSET;
            if (ullRecord < 128 || ullRecord > STORED_INLINE_MAX_RECORD || (ullRecord & (ullRecord - 1)) != 0 ||
                dwOffset < STORED_INLINE_AREA_OFFSET || dwInSector >= 512 || dwInSector % 128 != 0) {
                pOut->bDamaged = true;
                return;
            }
            dwOffset |= static_cast<uint32_t>(ullRecord) << 16;
        }
        pOut->bResident = true;
        pOut->ullResidentSector = ullSector;
        pOut->dwResidentOffset = dwOffset;
        return;
    }

    ConvertNonResident(
        pList->GetRunCount(), [pList](size_t i) -> const DATA_RUN& { return pList->GetRun(i); }, nPropertiesKind,
        geometry, pOut);
}

} // namespace corrand
