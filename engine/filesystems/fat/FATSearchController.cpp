#include "fat/FATSearchController.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "DataStreamIO.h"
#include "IStorageDevice.h"
#include "SearchStatistics.h"
#include "StorageDeviceWithCache.h"
#include "Veskel.h"
#include "fat/FATDBR.h"
#include "fat/FATDirEntry.h"
#include "fat/FATDirSectorInfo.h"
#include "fat/FATTreeBuilder.h"

using namespace DataStreamIO;

namespace {

const size_t kSectorBytes = 512;
const size_t kEntriesPerSector = 16;
const size_t kEntryBytes = 32;

struct FAT_TYPE_RULE {
    int nType;
    uint64_t ullMinClusters;
    uint64_t ullMaxClusters;
    // Half-bytes per FAT entry: the FAT of N clusters needs (factor x N + 1023) / 1024 sectors.
    uint64_t ullFactor;
};

const FAT_TYPE_RULE kFAT12 = {FAT_TYPE_FAT12, 1, 4084, 3};
const FAT_TYPE_RULE kFAT16 = {FAT_TYPE_FAT16, 4085, 65523, 4};
const FAT_TYPE_RULE kFAT32 = {FAT_TYPE_FAT32, 65524, 0x0FFFFFF3, 8};

const FAT_TYPE_RULE& RuleOf(int nType)
{
    return nType == FAT_TYPE_FAT32 ? kFAT32 : nType == FAT_TYPE_FAT16 ? kFAT16 : kFAT12;
}

uint64_t FATSectorsFor(const FAT_TYPE_RULE& rule, uint64_t ullClusters)
{
    return (rule.ullFactor * ullClusters + 1023) / 1024;
}

bool InRange(const FAT_TYPE_RULE& rule, uint64_t ullClusters)
{
    return ullClusters >= rule.ullMinClusters && ullClusters <= rule.ullMaxClusters;
}

// The read-ahead cache's filter: false for every sector that AnalyzeSector passes over without
// finding anything (the same tests, without the controller's state).
bool MayHoldFATEvidence(const uint8_t* pSector)
{
    if (pSector[0] == 0)
        return false;
    if (HasBootSignature(pSector, kSectorBytes) && CFATDBR(pSector, kSectorBytes).IsValid())
        return true;
    if (IsFATStartSector(pSector, kSectorBytes))
        return true;
    CFATDirSectorInfo info;
    return info.Classify(pSector, kSectorBytes);
}

} // namespace

CFATSearchController::CFATSearchController()
    : m_nSectorsPerRead(-1), m_pDevice(nullptr), m_ullDeviceSectors(0), m_pRawFiles(nullptr), m_pProgress(nullptr),
      m_pCancel(nullptr), m_pBlock(nullptr), m_ullBlockSectors(0), m_nFilterBit(-1)
{
}

CFATSearchController::~CFATSearchController()
{
    FreeCandidates();
    FreeBuffer(m_pBlock);
}

void CFATSearchController::FreeCandidates()
{
    for (auto& item : m_Candidates)
        DeleteFATSearchedPartitionInfo(item.second);
    m_Candidates.clear();
    m_ExpectedFATs.clear();
}

void CFATSearchController::SetStorageDevice(IStorageDevice* pDevice)
{
    m_pDevice = pDevice;
    m_ullDeviceSectors = pDevice != nullptr ? pDevice->GetTotalSectors() : 0;
    // Through the read-ahead cache, the sectors worth a look are marked as each block is read.
    m_nFilterBit = -1;
    if (CStorageDeviceWithCache* pCache = dynamic_cast<CStorageDeviceWithCache*>(pDevice))
        m_nFilterBit = pCache->AddSectorFilter(&MayHoldFATEvidence);
}

void CFATSearchController::SetSectorsPerRead(int32_t nSectorsPerRead)
{
    m_nSectorsPerRead = nSectorsPerRead;
}

void CFATSearchController::SetRawFileInfoContainer(CRawFileInfoContainer* pContainer)
{
    m_pRawFiles = pContainer;
}

int32_t CFATSearchController::GetControllerType()
{
    return SEARCH_CONTROLLER_FAT;
}

void CFATSearchController::SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
{
    m_pProgress = pProgress;
    m_pCancel = pnCancel;
}

BOOL CFATSearchController::IsSupportedFileSystem(int32_t nFileSystemKind)
{
    return nFileSystemKind >= FAT_TYPE_FAT12 && nFileSystemKind <= FAT_TYPE_FAT32;
}

int32_t CFATSearchController::SearchSectors(uint64_t ullFirstSector, uint64_t ullSectorCount,
                                            SEARCH_STATISTICS* pStatistics)
{
    if (m_pDevice == nullptr || ullSectorCount == 0)
        return 1;
    if (m_ullDeviceSectors == 0)
        m_ullDeviceSectors = m_pDevice->GetTotalSectors();
    // The block scan hands out the block that its cache holds: look at it in place. Any other
    // device is read once per call, into a buffer of this controller.
    const uint8_t* pData = nullptr;
    const uint8_t* pMarks = nullptr;
    if (CStorageDeviceWithCache* pCache = dynamic_cast<CStorageDeviceWithCache*>(m_pDevice)) {
        pData = pCache->PeekSectors(ullFirstSector, ullSectorCount);
        if (pData != nullptr && m_nFilterBit >= 0)
            pMarks = pCache->PeekSectorMarks(ullFirstSector, ullSectorCount);
    }
    if (pData == nullptr) {
        if (ullSectorCount > m_ullBlockSectors) {
            FreeBuffer(m_pBlock);
            m_pBlock = nullptr;
            m_ullBlockSectors = 0;
            m_pBlock = reinterpret_cast<uint8_t*>(AllocBuffer(static_cast<size_t>(ullSectorCount) * kSectorBytes));
            m_ullBlockSectors = ullSectorCount;
        }
        // A failed read is no evidence: it reads as zeros, and zero sectors are passed over.
        if (!m_pDevice->ReadSectors(m_pBlock, ullFirstSector, ullSectorCount))
            memset(m_pBlock, 0, static_cast<size_t>(ullSectorCount) * kSectorBytes);
        pData = m_pBlock;
    }
    if (pMarks != nullptr) {
        // Only the sectors the cache's filter marked can hold anything.
        const uint8_t byMask = static_cast<uint8_t>(1u << m_nFilterBit);
        for (uint64_t i = FindMarkedSector(pMarks, 0, ullSectorCount, byMask); i < ullSectorCount;
             i = FindMarkedSector(pMarks, i + 1, ullSectorCount, byMask))
            AnalyzeSector(ullFirstSector + i, pData + i * kSectorBytes, pStatistics);
        return 1;
    }
    for (uint64_t i = 0; i < ullSectorCount; ++i)
        AnalyzeSector(ullFirstSector + i, pData + i * kSectorBytes, pStatistics);
    return 1;
}

void CFATSearchController::AnalyzeSector(uint64_t ullSector, const uint8_t* pSector, SEARCH_STATISTICS* pStatistics)
{
    if (pSector[0] == 0)
        return;
    if (HasBootSignature(pSector, kSectorBytes) && AnalyzeBootSector(ullSector, pSector)) {
        DebugTrace("Found a valid DBR at sector:%" PRId64, static_cast<int64_t>(ullSector));
        if (pStatistics != nullptr)
            ++pStatistics->FATBootRecords;
        return;
    }
    if (IsFATStartSector(pSector, kSectorBytes)) {
        NoteFATStart(ullSector);
        return;
    }
    CFATDirSectorInfo info;
    if (!info.Classify(pSector, kSectorBytes))
        return;
    FAT_DIR_SECTOR record = {ullSector, FAT_DIR_SECTOR_NO_CLUSTER, FAT_DIR_SECTOR_NO_CLUSTER};
    // "." names the folder's own first cluster, which is 2 or more; a smaller one names no
    // data cluster, so the sector is kept as a part of some directory and proposes nothing.
    if (info.m_nKind == FAT_DIR_SECTOR_FIRST && info.m_nDotCluster >= FAT_FIRST_DATA_CLUSTER) {
        DebugTrace("Found a valid first dir entry at sector:%" PRId64, static_cast<int64_t>(ullSector));
        MatchDirectory(ullSector, info.m_nDotCluster);
        if (pStatistics != nullptr)
            ++pStatistics->FATFolders;
        record.nDotCluster = info.m_nDotCluster;
        record.nDotDotCluster = info.m_nDotDotCluster;
    } else {
        if (pStatistics != nullptr)
            ++pStatistics->FATFolderParts;
        DebugTrace("Found a valid part dir entry at sector:%" PRId64, static_cast<int64_t>(ullSector));
    }
    m_DirSectors.emplace(ullSector, record);
    if (pStatistics != nullptr && info.m_nEntryCount > 0)
        pStatistics->TotalFilesFound += static_cast<uint64_t>(info.m_nEntryCount);

    // Named files, for the check against carved files: the clusters are the entries' own.
    CFATDirEntry entry;
    for (size_t i = 0; i < kEntriesPerSector; ++i) {
        entry.Attach(pSector + i * kEntryBytes);
        if (!entry.IsValid(false))
            break;
        if (entry.IsLongNameEntry() || entry.IsDirectory() || entry.IsVolumeLabel())
            continue;
        const std::string strName = entry.GetShortName(false);
        if (strName.empty() || strName.size() > 255)
            continue;
        AddTypedFileEntry(m_TypedFiles, strName.c_str(), static_cast<uint8_t>(strName.size()), entry.GetFirstCluster(),
                          ullSector);
    }
}

bool CFATSearchController::AnalyzeBootSector(uint64_t ullSector, const uint8_t* pSector)
{
    CFATDBR dbr(pSector, kSectorBytes);
    if (!dbr.IsValid())
        return false;
    bool bMade = false;
    if (CFATSearchedPartitionInfo* pPrimary = CandidateFromBootSector(ullSector, dbr, false)) {
        AddCandidate(pPrimary, true);
        bMade = true;
    }
    // FAT32 keeps a copy of its boot sector at (logical) sector 6: this one may be that copy.
    const uint64_t ullBackupOffset = 6ull * dbr.GetSectorScale();
    if (dbr.GetFATType() == FAT_TYPE_FAT32 && ullSector >= ullBackupOffset) {
        if (CFATSearchedPartitionInfo* pBackup = CandidateFromBootSector(ullSector - ullBackupOffset, dbr, true)) {
            bMade = true;
            if (CFATSearchedPartitionInfo* pKnown =
                    FindCandidate(pBackup->m_ullEvidenceSector, pBackup->m_bySectorsPerCluster)) {
                pKnown->AddFlags(FAT_EVIDENCE_BACKUP_FAT32);
                DeleteFATSearchedPartitionInfo(pBackup);
            } else {
                AddCandidate(pBackup, true);
            }
        }
    }
    return bMade;
}

CFATSearchedPartitionInfo* CFATSearchController::CandidateFromBootSector(uint64_t ullStart, const CFATDBR& dbr,
                                                                         bool bBackup)
{
    if (ullStart >= m_ullDeviceSectors)
        return nullptr;
    // A boot sector that claims more than the device holds gives a candidate cut at its end.
    uint64_t ullLength = dbr.GetTotalSectors();
    if (ullLength > m_ullDeviceSectors - ullStart)
        ullLength = m_ullDeviceSectors - ullStart;
    const int nType = dbr.GetFATType();
    const FAT_TYPE_RULE& rule = RuleOf(nType);
    const uint64_t ullReserved = dbr.GetReservedSectors();
    const uint64_t ullPerFAT = dbr.GetSectorsPerFAT();
    const uint64_t ullPerCluster = dbr.GetSectorsPerCluster();
    if (ullPerCluster == 0 || ullReserved > 0xFFFF)
        return nullptr;
    uint64_t ullRootInfo = 0;
    uint64_t ullData = ullStart + ullReserved + static_cast<uint64_t>(dbr.GetFATCount()) * ullPerFAT;
    if (nType == FAT_TYPE_FAT32) {
        ullRootInfo = dbr.GetRootCluster();
    } else {
        ullRootInfo = dbr.GetRootDirSectors();
        ullData += ullRootInfo;
    }
    const uint64_t ullEnd = ullStart + ullLength;
    if (ullEnd <= ullData)
        return nullptr;
    const uint64_t ullClusters = (ullEnd - ullData) / ullPerCluster;
    if (!InRange(rule, ullClusters) || ullPerFAT < FATSectorsFor(rule, ullClusters))
        return nullptr;
    if (nType == FAT_TYPE_FAT32 && ullClusters < ullRootInfo)
        return nullptr;

    CFATSearchedPartitionInfo* pCandidate = CreateFATSearchedPartitionInfo();
    pCandidate->m_nFileSystemKind = nType;
    pCandidate->m_bySectorsPerCluster = static_cast<uint8_t>(ullPerCluster);
    pCandidate->m_ullEvidenceSector = ullData;
    pCandidate->m_ullStartSector = ullStart;
    pCandidate->m_ullSectorCount = ullLength;
    pCandidate->m_wReservedSectors = static_cast<uint16_t>(ullReserved);
    pCandidate->m_nSectorsPerFAT = static_cast<uint32_t>(ullPerFAT);
    pCandidate->m_nClusterCount = static_cast<uint32_t>(ullClusters);
    pCandidate->m_nRootInfo = static_cast<uint32_t>(ullRootInfo);
    pCandidate->m_ullRawFileMatches = 0;
    pCandidate->m_ullRecordMatches = 0;
    if (!bBackup)
        pCandidate->AddFlags(nType == FAT_TYPE_FAT32   ? FAT_EVIDENCE_BOOT_FAT32
                             : nType == FAT_TYPE_FAT16 ? FAT_EVIDENCE_BOOT_FAT16
                                                       : FAT_EVIDENCE_BOOT_FAT12);
    else
        pCandidate->AddFlags(FAT_EVIDENCE_BACKUP_FAT32);
    return pCandidate;
}

void CFATSearchController::AddCandidate(CFATSearchedPartitionInfo* pCandidate, bool bExpectFATs)
{
    m_Candidates.emplace(pCandidate->m_ullEvidenceSector, pCandidate);
    if (!bExpectFATs)
        return;
    const uint64_t ullFAT1 = pCandidate->m_ullStartSector + pCandidate->m_wReservedSectors;
    m_ExpectedFATs.emplace(ullFAT1, pCandidate);
    m_ExpectedFATs.emplace(ullFAT1 + pCandidate->m_nSectorsPerFAT, pCandidate);
}

CFATSearchedPartitionInfo* CFATSearchController::FindCandidate(uint64_t ullDataSector, uint32_t nPerCluster) const
{
    const auto range = m_Candidates.equal_range(ullDataSector);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second->m_bySectorsPerCluster == nPerCluster)
            return it->second;
    }
    return nullptr;
}

void CFATSearchController::NoteFATStart(uint64_t ullSector)
{
    const auto range = m_ExpectedFATs.equal_range(ullSector);
    for (auto it = range.first; it != range.second; ++it) {
        CFATSearchedPartitionInfo* pCandidate = it->second;
        const uint64_t ullFAT1 = pCandidate->m_ullStartSector + pCandidate->m_wReservedSectors;
        if (ullSector == ullFAT1)
            pCandidate->AddFlags(FAT_EVIDENCE_FAT1_SEEN | FAT_EVIDENCE_FAT1_USABLE);
        if (ullSector == ullFAT1 + pCandidate->m_nSectorsPerFAT)
            pCandidate->AddFlags(FAT_EVIDENCE_FAT2_SEEN | FAT_EVIDENCE_FAT2_USABLE);
    }
    // The scan only moves upwards: expectations at or below this sector can no longer be met.
    m_ExpectedFATs.erase(m_ExpectedFATs.begin(), m_ExpectedFATs.upper_bound(ullSector));
}

void CFATSearchController::MatchDirectory(uint64_t ullSector, uint32_t nDotCluster)
{
    const uint64_t ullIndex = static_cast<uint64_t>(nDotCluster) - FAT_FIRST_DATA_CLUSTER;
    uint32_t aTried[8];
    size_t nTried = 0;
    for (uint32_t k = 1; k <= 128; k <<= 1) {
        if (ullIndex > ullSector / k)
            continue;
        const uint64_t ullData = ullSector - k * ullIndex;
        aTried[nTried++] = k;
        if (CFATSearchedPartitionInfo* pCandidate = FindCandidate(ullData, k)) {
            pCandidate->AddFlags(FAT_EVIDENCE_DIRECTORY);
            ++pCandidate->m_ullRecordMatches;
            return;
        }
    }
    for (size_t i = 0; i < nTried; ++i) {
        if (CFATSearchedPartitionInfo* pCandidate = CandidateFromDirectory(ullSector, nDotCluster, aTried[i]))
            AddCandidate(pCandidate, false);
    }
}

CFATSearchedPartitionInfo* CFATSearchController::CandidateFromDirectory(uint64_t ullSector, uint32_t nDotCluster,
                                                                        uint32_t nPerCluster)
{
    const uint64_t ullIndex = static_cast<uint64_t>(nDotCluster) - FAT_FIRST_DATA_CLUSTER;
    if (nDotCluster < FAT_FIRST_DATA_CLUSTER || ullIndex > ullSector / nPerCluster)
        return nullptr;
    const uint64_t ullData = ullSector - nPerCluster * ullIndex;
    // The device must reach past the data area's start for any cluster to fit.
    if (m_ullDeviceSectors <= ullData)
        return nullptr;
    const FAT_TYPE_RULE* apRules[] = {&kFAT32, &kFAT16, &kFAT12};
    const FAT_TYPE_RULE* pRule = nullptr;
    uint64_t ullClusters = 0;
    uint64_t ullPerFAT = 0;
    for (const FAT_TYPE_RULE* pTry : apRules) {
        uint64_t ullN = (m_ullDeviceSectors - ullData) / nPerCluster;
        if (!InRange(*pTry, ullN))
            continue;
        const uint64_t ullS = FATSectorsFor(*pTry, ullN);
        if (ullData / 2 < ullS) {
            // Two FATs of that length do not fit before the data area: only as many clusters as
            // a FAT of half the room can address.
            ullN = (ullData / 2) * 1024 / pTry->ullFactor;
            if (!InRange(*pTry, ullN))
                continue;
        }
        pRule = pTry;
        ullClusters = ullN;
        ullPerFAT = ullS;
        break;
    }
    if (pRule == nullptr)
        return nullptr;
    // One reserved sector and two FATs before the data area (and a root area for FAT12/16).
    if (ullData < 2 * ullPerFAT + 1)
        return nullptr;
    uint64_t ullStart = ullData - 2 * ullPerFAT - 1;
    uint64_t ullRootInfo = FAT_FIRST_DATA_CLUSTER;
    uint64_t ullRootSectors = 0;
    if (pRule->nType != FAT_TYPE_FAT32) {
        ullRootSectors = std::min<uint64_t>(ullStart, 32);
        ullStart -= ullRootSectors;
        ullRootInfo = ullRootSectors;
    }
    CFATSearchedPartitionInfo* pCandidate = CreateFATSearchedPartitionInfo();
    pCandidate->m_nFileSystemKind = pRule->nType;
    pCandidate->m_bySectorsPerCluster = static_cast<uint8_t>(nPerCluster);
    pCandidate->m_ullEvidenceSector = ullData;
    pCandidate->m_ullStartSector = ullStart;
    pCandidate->m_ullSectorCount = nPerCluster * ullClusters + ullRootSectors + 1 + 2 * ullPerFAT;
    pCandidate->m_wReservedSectors = 1;
    pCandidate->m_nSectorsPerFAT = static_cast<uint32_t>(ullPerFAT);
    pCandidate->m_nClusterCount = static_cast<uint32_t>(ullClusters);
    pCandidate->m_nRootInfo = static_cast<uint32_t>(ullRootInfo);
    pCandidate->m_ullRawFileMatches = 0;
    pCandidate->m_ullRecordMatches = 0;
    pCandidate->AddFlags(FAT_EVIDENCE_DIRECTORY);
    return pCandidate;
}

void CFATSearchController::CollectSearchedPartitions(CSearchedPartitionInfoList* pCandidates)
{
    for (auto& item : m_Candidates) {
        CFATSearchedPartitionInfo* pCandidate = item.second;
        item.second = nullptr;
        const uint32_t nFlags = pCandidate->m_nFlags;
        const bool bBoot = (nFlags & FAT_EVIDENCE_ANY_BOOT) != 0;
        const bool bFATSeen = (nFlags & (FAT_EVIDENCE_FAT1_SEEN | FAT_EVIDENCE_FAT2_SEEN)) != 0;
        const bool bConfirmed = pCandidate->m_ullRecordMatches > 0;
        // A boot sector needs a FAT where it says or a directory that fits it; a directory needs
        // a further directory start of the same layout.
        if ((bBoot && !bFATSeen && !bConfirmed) || (!bBoot && !bConfirmed)) {
            DeleteFATSearchedPartitionInfo(pCandidate);
            continue;
        }
        const bool bFAT1 = (nFlags & FAT_EVIDENCE_FAT1_SEEN) != 0;
        const bool bFAT2 = (nFlags & FAT_EVIDENCE_FAT2_SEEN) != 0;
        const uint64_t ullFATPoints = bFAT1 && bFAT2 ? 50 : (bFAT1 || bFAT2) ? 45 : 10;
        uint64_t ullBootPoints = 10;
        if (pCandidate->m_nFileSystemKind == FAT_TYPE_FAT32) {
            const bool bPrimary = (nFlags & FAT_EVIDENCE_BOOT_FAT32) != 0;
            const bool bBackup = (nFlags & FAT_EVIDENCE_BACKUP_FAT32) != 0;
            ullBootPoints = bPrimary && bBackup ? 50 : (bPrimary || bBackup) ? 45 : 10;
        } else if (nFlags & (FAT_EVIDENCE_BOOT_FAT12 | FAT_EVIDENCE_BOOT_FAT16)) {
            ullBootPoints = 50;
        }
        pCandidate->m_ullConfidence = ullBootPoints + ullFATPoints;
        CountRawFileMatches(m_TypedFiles, m_pRawFiles, pCandidate);
        if (pCandidates != nullptr)
            pCandidates->push_back(pCandidate);
        else
            DeleteFATSearchedPartitionInfo(pCandidate);
    }
    m_Candidates.clear();
    m_ExpectedFATs.clear();
    m_TypedFiles.clear();
}

BOOL CFATSearchController::SaveState(IDataStream* pWriter)
{
    if (pWriter == nullptr || m_DirSectors.size() > UINT32_MAX)
        return FALSE;
    if (!WriteLE(pWriter, static_cast<uint32_t>(m_DirSectors.size())))
        return FALSE;
    for (const auto& item : m_DirSectors) {
        const FAT_DIR_SECTOR& r = item.second;
        if (!WriteLE(pWriter, r.ullSector) || !WriteLE(pWriter, r.nDotCluster) || !WriteLE(pWriter, r.nDotDotCluster))
            return FALSE;
    }
    return TRUE;
}

BOOL CFATSearchController::LoadState(IDataStream* pReader)
{
    if (pReader == nullptr)
        return FALSE;
    m_DirSectors.clear();
    uint32_t nCount = 0;
    if (!ReadLE(pReader, nCount))
        return FALSE;
    // Each record is read before it is kept, so a damaged count only ends the load.
    for (uint32_t i = 0; i < nCount; ++i) {
        FAT_DIR_SECTOR r;
        if (!ReadLE(pReader, r.ullSector) || !ReadLE(pReader, r.nDotCluster) || !ReadLE(pReader, r.nDotDotCluster))
            return FALSE;
        m_DirSectors.emplace(r.ullSector, r);
    }
    return TRUE;
}

CFileSystemNode* CFATSearchController::BuildFileTree(CSearchedPartitionInfo* pCandidate, IStorageDevice* pDisk,
                                                     int32_t nIndex, int32_t nOption)
{
    if (pCandidate == nullptr || pCandidate->GetType() != SEARCHED_PARTITION_FAT)
        return nullptr;
    CFATTreeBuilder builder;
    builder.SetProgress(m_pProgress, m_pCancel);
    return builder.BuildTreeFromSearch(nOption, m_DirSectors, static_cast<CFATSearchedPartitionInfo*>(pCandidate),
                                       m_pRawFiles, pDisk, nIndex);
}
