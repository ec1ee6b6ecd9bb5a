#include "QuickPartitionSearch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "BasicPartitionDevice.h"
#include "IStorageDevice.h"
#include "PartitionTableAnalyze.h"
#include "ProgressRecord.h"
#include "Veskel.h"
#include "ext2/Ext2Volume.h"
#include "fat/FATDBR.h"
#include "fat/FATVolumeLabelReader.h"
#include "ntfs/FileRecordHolder.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/NTFSFileRecord.h"
#include "ntfs/NTFSVolumeLabelReader.h"

namespace {

const uint64_t kSector = 512;
// Sectors between a cylinder boundary and the first partition of an old-style layout.
const uint64_t kTrackSectors = 63;

} // namespace

void DeleteFoundPartitions(CFoundPartitionList& partitions)
{
    for (FOUND_PARTITION* pPartition : partitions) {
        delete pPartition->pDevice;
        delete pPartition;
    }
    partitions.clear();
}

// ----- boot-sector checkers ----------------------------------------------------------------------

void IPartitionFileSystemSearchController::SetDevice(IStorageDevice* pDisk)
{
    m_pDisk = pDisk;
    m_ullDiskSectors = pDisk != nullptr ? pDisk->GetTotalSectors() : 0;
}

uint64_t IPartitionFileSystemSearchController::ClampToDisk(uint64_t ullStart, uint64_t ullCount) const
{
    const uint64_t ullRoom = ullStart < m_ullDiskSectors ? m_ullDiskSectors - ullStart : 0;
    return ullCount == 0 ? ullRoom : std::min(ullCount, ullRoom);
}

bool CPartitionFATSearchController::CheckSector(const uint8_t* pSector, uint64_t ullSector, FOUND_PARTITION* pOut)
{
    CFATDBR dbr(pSector, kSector);
    if (!dbr.IsValid() || m_pDisk == nullptr)
        return false;
    uint8_t abyFAT[512];
    if (!m_pDisk->ReadSectors(abyFAT, ullSector + dbr.GetReservedSectors(), 1) || !IsFATStartSector(abyFAT, kSector))
        return false;
    pOut->ullStartSector = ullSector;
    // The window over the disk is the partition as far as the disk holds it.
    pOut->ullSectorCount = ClampToDisk(ullSector, dbr.GetTotalSectors());
    pOut->nFileSystemKind = static_cast<uint32_t>(dbr.GetFATType());
    pOut->pDevice = new CBasicPartitionDevice(m_pDisk, ullSector, pOut->ullSectorCount);
    char szLabel[260] = {};
    CFATVolumeLabelReader reader(m_pDisk);
    reader.ReadVolumeLabel(ullSector, &dbr, szLabel);
    memcpy(pOut->szLabel, szLabel, sizeof(pOut->szLabel) - 1);
    pOut->szLabel[sizeof(pOut->szLabel) - 1] = 0;
    return true;
}

bool CPartitionNTFSSearchController::SystemRecordsAt(uint64_t ullSector, uint32_t nRecordSectors)
{
    const size_t nRecordBytes = static_cast<size_t>(nRecordSectors) * kSector;
    std::vector<uint8_t, CEngineAllocator<uint8_t>> records(4 * nRecordBytes);
    if (!m_pDisk->ReadSectors(records.data(), ullSector, 4ull * nRecordSectors))
        return false;
    bool (*const apTests[4])(uint8_t*, size_t) = {IsMFTFileRecord, IsMFTMirrFileRecord, IsLogFileFileRecord,
                                                 IsVolumeFileRecord};
    for (size_t i = 0; i < 4; ++i) {
        uint8_t* pRecord = records.data() + i * nRecordBytes;
        if (!IsValidFileRecord(pRecord, nRecordBytes) || !apTests[i](pRecord, nRecordBytes))
            return false;
    }
    return true;
}

bool CPartitionNTFSSearchController::CheckSector(const uint8_t* pSector, uint64_t ullSector, FOUND_PARTITION* pOut)
{
    CNTFSDBR dbr;
    if (m_pDisk == nullptr || !HasNTFSOEMID(pSector, kSector) || !dbr.SetIfValid(pSector, kSector))
        return false;
    const uint64_t ullTotal = dbr.GetTotalSectors();
    // The backup boot sector sits at the end of its partition: when the primary one, with the
    // same size, serial number and $MFT cluster, lies one partition length before, this is it.
    if (ullTotal != 0 && ullTotal <= ullSector) {
        uint8_t abyPrimary[512];
        CNTFSDBR primary;
        if (m_pDisk->ReadSectors(abyPrimary, ullSector - ullTotal, 1) && HasNTFSOEMID(abyPrimary, kSector) &&
            primary.SetIfValid(abyPrimary, kSector) && primary.GetTotalSectors() == ullTotal &&
            primary.GetSerialNumber() == dbr.GetSerialNumber() && primary.GetMFTCluster() == dbr.GetMFTCluster())
            return false;
    }
    // A FILE record size read from disk sizes the reads below: only the sizes NTFS uses.
    const uint32_t nRecordBytes = dbr.GetFileRecordSize();
    if (nRecordBytes < 1024 || nRecordBytes > 4096 || nRecordBytes % kSector != 0)
        return false;
    const uint32_t nRecordSectors = nRecordBytes / kSector;
    const uint64_t ullPerCluster = dbr.GetSectorsPerCluster();
    auto RecordsAt = [&](uint64_t ullCluster, uint64_t* pullSector) {
        if (ullPerCluster == 0 || ullCluster > (UINT64_MAX - ullSector) / ullPerCluster)
            return false;
        *pullSector = ullSector + ullCluster * ullPerCluster;
        return *pullSector < m_ullDiskSectors && SystemRecordsAt(*pullSector, nRecordSectors);
    };
    uint64_t ullMFT = 0;
    if (!RecordsAt(dbr.GetMFTCluster(), &ullMFT) && !RecordsAt(dbr.GetMFTMirrCluster(), &ullMFT))
        return false;
    pOut->ullStartSector = ullSector;
    pOut->ullSectorCount = ClampToDisk(ullSector, ullTotal);
    pOut->nFileSystemKind = 3;
    pOut->pDevice = new CBasicPartitionDevice(m_pDisk, ullSector, pOut->ullSectorCount);
    // The label from $Volume (record 3) of the copy that passed.
    std::vector<uint8_t, CEngineAllocator<uint8_t>> record(nRecordBytes);
    char szLabel[260] = {};
    if (m_pDisk->ReadSectors(record.data(), ullMFT + 3ull * nRecordSectors, nRecordSectors))
        GetVolumeNameFromFileRecord(record.data(), record.size(), szLabel);
    memcpy(pOut->szLabel, szLabel, sizeof(pOut->szLabel) - 1);
    pOut->szLabel[sizeof(pOut->szLabel) - 1] = 0;
    return true;
}

bool CPartitionEXT2SearchController::CheckSector(const uint8_t* pSector, uint64_t ullSector, FOUND_PARTITION* pOut)
{
    (void)pSector;
    if (m_pDisk == nullptr)
        return false;
    CExt2Volume volume(m_pDisk, ullSector);
    const int nType = volume.GetFileSystemType();
    if (nType != 4 && nType != 5)
        return false;
    pOut->ullStartSector = ullSector;
    pOut->ullSectorCount = ClampToDisk(ullSector, volume.GetTotalSectors());
    pOut->nFileSystemKind = static_cast<uint32_t>(nType);
    pOut->pDevice = new CBasicPartitionDevice(m_pDisk, ullSector, pOut->ullSectorCount);
    volume.GetVolumeLabel(pOut->szLabel, sizeof(pOut->szLabel));
    return true;
}

// ----- the scan ----------------------------------------------------------------------------------

CWholeDiskPartitionScan::CWholeDiskPartitionScan()
    : m_pProgress(nullptr), m_pnCancel(nullptr), m_ullCounted(0), m_pDisk(nullptr), m_ullDiskSectors(0),
      m_abySector()
{
}

CWholeDiskPartitionScan::~CWholeDiskPartitionScan()
{
    for (IPartitionSearchAlgorithm* p : m_Algorithms)
        delete p;
    DeleteFoundPartitions(m_Found);
}

void CWholeDiskPartitionScan::SetDevice(IStorageDevice* pDisk)
{
    m_pDisk = pDisk;
    m_ullDiskSectors = pDisk != nullptr ? pDisk->GetTotalSectors() : 0;
}

void CWholeDiskPartitionScan::AddController(IPartitionFileSystemSearchController* pChecker)
{
    if (pChecker != nullptr)
        m_Checkers.push_back(pChecker);
}

void CWholeDiskPartitionScan::AddSearchAlgorithms(int nHeads)
{
    m_Algorithms.push_back(new CPartitionSearchAccordingTo255Head(m_ullDiskSectors));
    if (nHeads == 240)
        m_Algorithms.push_back(new CPartitionSearchAccordingTo240Head(m_ullDiskSectors));
}

void CWholeDiskPartitionScan::CheckCandidate(uint64_t ullSector)
{
    if (ullSector >= m_ullDiskSectors || !m_pDisk->ReadSectors(m_abySector, ullSector, 1))
        return;
    for (IPartitionFileSystemSearchController* pChecker : m_Checkers) {
        m_Scratch = FOUND_PARTITION();
        if (!pChecker->CheckSector(m_abySector, ullSector, &m_Scratch))
            continue;
        FOUND_PARTITION* pFound = new FOUND_PARTITION(m_Scratch);
        m_Scratch.pDevice = nullptr;
        m_Found.push_back(pFound);
        return;
    }
}

int CWholeDiskPartitionScan::Run()
{
    if (m_pDisk == nullptr)
        return 0;
    for (IPartitionFileSystemSearchController* pChecker : m_Checkers)
        pChecker->SetDevice(m_pDisk);
    for (IPartitionFileSystemSearchController* pChecker : m_Checkers)
        pChecker->BeginSearch();
    uint64_t ullTotal = 0;
    for (IPartitionSearchAlgorithm* pAlgorithm : m_Algorithms)
        ullTotal += pAlgorithm->GetCount();
    m_ullCounted = 0;
    if (m_pProgress != nullptr && ullTotal != 0) {
        rvd::ProgressSetPercent(m_pProgress, static_cast<DWORD>(m_ullCounted * 100 / ullTotal));
        ++m_ullCounted;
        rvd::ProgressSetTitle(m_pProgress, "Whole disk scan: searching partitions...");
        rvd::ProgressSetPhase(m_pProgress, 1);
    }
    DeleteFoundPartitions(m_Found);
    for (IPartitionSearchAlgorithm* pAlgorithm : m_Algorithms) {
        const uint64_t ullCount = pAlgorithm->GetCount();
        for (uint64_t i = 0; i < ullCount; ++i) {
            if (IsCancelRequested(m_pnCancel))
                return 1;
            if (m_pProgress != nullptr && ullTotal != 0) {
                rvd::ProgressSetPercent(m_pProgress, static_cast<DWORD>(std::min<uint64_t>(m_ullCounted, ullTotal) * 100 / ullTotal));
                ++m_ullCounted;
                char szDetail[101];
                snprintf(szDetail, sizeof(szDetail), "%lld of %lld blocks", static_cast<long long>(m_ullCounted),
                         static_cast<long long>(ullTotal));
                rvd::ProgressSetDetail(m_pProgress, szDetail);
            }
            const uint64_t ullSector = pAlgorithm->GetNext();
            // Multiples of 255 cylinders' worth were seen by the 255-head pass.
            if (pAlgorithm->GetKind() == 1 && ullSector % 255 == 0)
                continue;
            CheckCandidate(ullSector);
            CheckCandidate(ullSector + kTrackSectors);
        }
    }
    for (IPartitionFileSystemSearchController* pChecker : m_Checkers)
        pChecker->EndSearch();
    return 1;
}

void CQuickPartitionSearch::Search(SEARCH_DEVICE_CONTEXT* pContext, CFoundPartitionList& partitions,
                                   const rvdplat::DISK_GEOMETRY& geometry)
{
    if (pContext == nullptr || pContext->m_pDevice == nullptr)
        return;
    IStorageDevice* pDisk = pContext->m_pDevice;
    CPartitionFATSearchController fat;
    CPartitionNTFSSearchController ntfs;
    CPartitionEXT2SearchController ext2;
    CWholeDiskPartitionScan scan;
    scan.SetDevice(pDisk);
    scan.AddController(&fat);
    scan.AddController(&ntfs);
    scan.AddController(&ext2);
    scan.AddSearchAlgorithms(pContext->m_nHeads);
    scan.SetProgress(m_pProgress, m_pnCancel);
    scan.Run();

    CPartitionEntryList table;
    CPartitionTableAnalyze analyze;
    analyze.AnalyzePartitionTable(pDisk, table, geometry);
    CFoundPartitionList& found = scan.GetFound();
    for (FOUND_PARTITION*& pFound : found) {
        // Only a real table entry starting here makes the find a known partition: a gap starts
        // exactly where a deleted partition used to, and that is the partition to give back.
        bool bListed = false;
        for (const PARTITION_ENTRY* pEntry : table) {
            const bool bGap = pEntry->nPartitionType == 0 && pEntry->u64FreeSectors == pEntry->u64SectorCount;
            bListed = bListed || (!bGap && pEntry->u64StartSector == pFound->ullStartSector);
        }
        if (bListed)
            continue;
        partitions.push_back(pFound);
        pFound = nullptr;
    }
    found.erase(std::remove(found.begin(), found.end(), nullptr), found.end());
    FreePartitionEntries(table, true);
    LogInfo("Lost-partition search: %d partitions not in the table", static_cast<int>(partitions.size()));
}
