#include "NTFSRecordMapping.h"

#include <cstring>
#include <set>

#include "FileRecordHolder.h"
#include "IStorageDevice.h"
#include "MFTRecordInfo.h"
#include "NTFSBytes.h"
#include "NTFSFileRecord.h"
#include "NTFSFileRecordAttribute.h"
#include "NTFSRunList.h"

using ntfsbytes::U16;
using ntfsbytes::U32;
using ntfsbytes::U48;

namespace {

const size_t kListEntryType = 0;
const size_t kListEntryLength = 4;
const size_t kListEntryReference = 16;

// ullLcn x nSectorsPerCluster + ullStart, or NTFS_UNKNOWN_SECTOR when it does not fit 64 bits.
uint64_t ClusterToSector(uint64_t ullLcn, uint32_t nSectorsPerCluster, uint64_t ullStart)
{
    if (nSectorsPerCluster == 0 || ullLcn > (NTFS_UNKNOWN_SECTOR - 1 - ullStart) / nSectorsPerCluster)
        return NTFS_UNKNOWN_SECTOR;
    return ullLcn * nSectorsPerCluster + ullStart;
}

} // namespace

uint64_t RecordNumberToSector(uint64_t ullNumber, uint64_t ullPartitionStart, uint32_t nSectorsPerCluster,
                              const CNTFSRunList& mftRuns, uint32_t nSectorsPerRecord)
{
    if (nSectorsPerCluster == 0 || nSectorsPerRecord == 0 || ullNumber > NTFS_UNKNOWN_SECTOR / nSectorsPerRecord)
        return NTFS_UNKNOWN_SECTOR;
    const uint64_t ullIndex = ullNumber * nSectorsPerRecord;
    const uint64_t ullVcn = ullIndex / nSectorsPerCluster;
    const uint64_t ullOffset = ullIndex % nSectorsPerCluster;
    if (ullVcn > static_cast<uint64_t>(INT64_MAX))
        return NTFS_UNKNOWN_SECTOR;
    const int64_t llLcn = mftRuns.VcnToLcn(static_cast<int64_t>(ullVcn));
    if (llLcn < 0)
        return NTFS_UNKNOWN_SECTOR;
    const uint64_t ullSector = ClusterToSector(static_cast<uint64_t>(llLcn), nSectorsPerCluster, ullPartitionStart);
    if (ullSector == NTFS_UNKNOWN_SECTOR || ullSector > NTFS_UNKNOWN_SECTOR - 1 - ullOffset)
        return NTFS_UNKNOWN_SECTOR;
    return ullSector + ullOffset;
}

uint64_t SectorToRecordNumber(uint64_t ullSector, uint64_t ullPartitionStart, const CMFTRecordInfo& mft,
                              uint32_t nSectorsPerCluster)
{
    const uint32_t nSectorsPerRecord = mft.m_bySectorsPerRecord;
    if (nSectorsPerCluster == 0 || nSectorsPerRecord == 0 || ullSector < ullPartitionStart)
        return NTFS_NO_RECORD_NUMBER;
    const uint64_t ullRelative = ullSector - ullPartitionStart;
    const uint64_t ullLcn = ullRelative / nSectorsPerCluster;
    const uint64_t ullRemainder = ullRelative % nSectorsPerCluster;
    const int64_t llVcn = mft.m_Runs.LcnToVcn(static_cast<int64_t>(ullLcn));
    if (llVcn < 0 || static_cast<uint64_t>(llVcn) > (NTFS_UNKNOWN_SECTOR - ullRemainder) / nSectorsPerCluster)
        return NTFS_NO_RECORD_NUMBER;
    const uint64_t ullIndex = static_cast<uint64_t>(llVcn) * nSectorsPerCluster + ullRemainder;
    if (ullIndex % nSectorsPerRecord != 0)
        return NTFS_NO_RECORD_NUMBER;
    return ullIndex / nSectorsPerRecord;
}

bool ReadAttributeList(const uint8_t* pRecord, size_t nLength, uint64_t ullPartitionStart,
                       uint32_t nSectorsPerCluster, IStorageDevice* pDevice,
                       std::vector<uint8_t, CEngineAllocator<uint8_t>>& list)
{
    list.clear();
    const uint8_t* pAttr = FindAttribute(pRecord, nLength, NTFS_ATTR_ATTRIBUTE_LIST, 0);
    if (pAttr == nullptr)
        return false;
    if (IsAttributeResident(pAttr)) {
        uint32_t nValueLength = 0;
        const uint8_t* pValue = GetResidentValue(pAttr, &nValueLength);
        if (pValue == nullptr)
            return false;
        list.assign(pValue, pValue + nValueLength);
        return true;
    }
    const uint64_t ullAllocated = GetAllocatedSize(pAttr);
    const uint64_t ullReal = GetRealSize(pAttr);
    if (ullAllocated == 0 || ullAllocated > static_cast<uint64_t>(INT64_MAX) || ullAllocated < ullReal ||
        pDevice == nullptr || nSectorsPerCluster == 0)
        return false;
    const size_t nRoom = GetAttributeAreaEnd(pRecord, nLength) - static_cast<size_t>(pAttr - pRecord);
    CNTFSRunList runs;
    if (!DecodeAttributeRuns(pAttr, nRoom, &runs))
        return false;
    const size_t nBuffer = static_cast<size_t>(ullAllocated < NTFS_MAX_ATTRIBUTE_LIST_BYTES ? ullAllocated
                                                                                          : NTFS_MAX_ATTRIBUTE_LIST_BYTES);
    list.assign(nBuffer, 0);
    const uint64_t ullClusterBytes = static_cast<uint64_t>(nSectorsPerCluster) * STORAGE_UNIT_BYTES;
    for (const NTFS_RUN* pRun : runs) {
        // Runs come in VCN order; one that starts past the buffer ends the reading.
        if (pRun->ullVcn > nBuffer / ullClusterBytes)
            break;
        const uint64_t ullPos = pRun->ullVcn * ullClusterBytes;
        if (ullPos >= nBuffer)
            break;
        if (pRun->llLcn < 0)
            continue;
        // Whole sectors of the run that fit the buffer; a run that does not fit ends the reading.
        const uint64_t ullRunSectors =
            pRun->ullLength > (UINT64_MAX / nSectorsPerCluster) ? UINT64_MAX : pRun->ullLength * nSectorsPerCluster;
        const uint64_t ullFitSectors = (nBuffer - ullPos) / STORAGE_UNIT_BYTES;
        const uint64_t ullSectors = ullRunSectors < ullFitSectors ? ullRunSectors : ullFitSectors;
        const uint64_t ullFirst = ClusterToSector(static_cast<uint64_t>(pRun->llLcn), nSectorsPerCluster, ullPartitionStart);
        if (ullFirst == NTFS_UNKNOWN_SECTOR)
            break;
        if (ullSectors > 0 && !pDevice->ReadSectors(list.data() + ullPos, ullFirst, ullSectors))
            memset(list.data() + ullPos, 0, ullSectors * STORAGE_UNIT_BYTES);
        if (ullSectors < ullRunSectors)
            break;
    }
    // Only the real size holds entries.
    if (ullReal < list.size())
        list.resize(static_cast<size_t>(ullReal));
    return true;
}

void ParseAttributeListLocations(const uint8_t* pList, size_t nSize, CRecordLocationList::CItems& locations)
{
    if (pList == nullptr)
        return;
    std::set<uint64_t, std::less<uint64_t>, CEngineAllocator<uint64_t>> seen;
    for (const RECORD_LOCATION& location : locations)
        seen.insert(location.ullRecordNumber);
    size_t nPos = 0;
    while (nSize - nPos >= NTFS_ATTRIBUTE_LIST_ENTRY_MIN_BYTES && locations.size() < NTFS_MAX_EXTENSION_RECORDS) {
        const uint8_t* pEntry = pList + nPos;
        const uint32_t nType = U32(pEntry + kListEntryType);
        const size_t nEntryLength = U16(pEntry + kListEntryLength);
        if (nType == 0 || nEntryLength == 0)
            break;
        if (nEntryLength < NTFS_ATTRIBUTE_LIST_ENTRY_MIN_BYTES || nEntryLength > nSize - nPos)
            break;
        const uint64_t ullNumber = U48(pEntry + kListEntryReference);
        if (seen.insert(ullNumber).second)
            locations.push_back(RECORD_LOCATION{NTFS_UNKNOWN_SECTOR, ullNumber});
        nPos += nEntryLength;
    }
}

CRecordLocationList* CollectExtensionRecords(uint8_t* pRecord, size_t nLength, uint64_t ullRecordSector,
                                             uint64_t ullPartitionStart, uint32_t nSectorsPerCluster,
                                             const CNTFSRunList& mftRuns, uint32_t nSectorsPerRecord,
                                             IStorageDevice* pDevice)
{
    const CFileRecordHolder holder(pRecord, nLength, false);
    if (!holder.IsValid() || holder.FindAttribute(NTFS_ATTR_ATTRIBUTE_LIST, 0) == nullptr)
        return nullptr;
    std::vector<uint8_t, CEngineAllocator<uint8_t>> list;
    if (!ReadAttributeList(pRecord, nLength, ullPartitionStart, nSectorsPerCluster, pDevice, list))
        return nullptr;
    CRecordLocationList::CItems locations;
    ParseAttributeListLocations(list.data(), list.size(), locations);
    CRecordLocationList* pResult = nullptr;
    for (RECORD_LOCATION& location : locations) {
        location.ullSector =
            RecordNumberToSector(location.ullRecordNumber, ullPartitionStart, nSectorsPerCluster, mftRuns, nSectorsPerRecord);
        if (location.ullSector == NTFS_UNKNOWN_SECTOR || location.ullSector == ullRecordSector)
            continue;
        if (pResult == nullptr)
            pResult = new CRecordLocationList();
        pResult->Items.push_back(location);
    }
    return pResult;
}
