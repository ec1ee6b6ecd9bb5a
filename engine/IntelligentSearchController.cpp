#include "IntelligentSearchController.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>

#include "BlockScanTiming.h"
#include "EngineSettings.h"
#include "FileSystemNode.h"
#include "IStorageDevice.h"
#include "ProgressRecord.h"
#include "RawFileInfo.h"
#include "StorageDeviceWithCache.h"
#include "Veskel.h"

CFreeSectorRanges::CFreeSectorRanges(const SECTOR_RANGE& whole)
{
    m_Ranges.push_back(whole);
}

bool CFreeSectorRanges::IsFree(const SECTOR_RANGE& range) const
{
    for (const SECTOR_RANGE& free : m_Ranges) {
        if (free.Contains(range))
            return true;
    }
    return false;
}

void CFreeSectorRanges::Remove(const SECTOR_RANGE& range)
{
    for (auto it = m_Ranges.begin(); it != m_Ranges.end(); ++it) {
        if (!it->Contains(range))
            continue;
        const SECTOR_RANGE free = *it;
        it = m_Ranges.erase(it);
        // Contains guarantees range lies within free, so neither end below can wrap.
        const uint64_t ullRangeEnd = range.ullStartSector + range.ullSectorCount;
        const uint64_t ullFreeEnd = free.ullStartSector + free.ullSectorCount;
        if (ullFreeEnd > ullRangeEnd)
            it = m_Ranges.insert(it, SECTOR_RANGE{ullRangeEnd, ullFreeEnd - ullRangeEnd});
        if (range.ullStartSector > free.ullStartSector)
            m_Ranges.insert(it, SECTOR_RANGE{free.ullStartSector, range.ullStartSector - free.ullStartSector});
        return;
    }
}

CIntelligentSearchController::CIntelligentSearchController()
    : m_pDevice(nullptr), m_pStatistics(new (AllocOrRaise(sizeof(SEARCH_STATISTICS))) SEARCH_STATISTICS()),
      m_pProgress(nullptr), m_pCancel(nullptr)
{
}

CIntelligentSearchController::~CIntelligentSearchController()
{
    m_Controllers.clear();
    FreeMemory(m_pStatistics);
}

void CIntelligentSearchController::AddController(IFileSystemSearchController* pController)
{
    if (pController != nullptr)
        m_Controllers.push_back(pController);
}

void CIntelligentSearchController::SetDevice(IStorageDevice* pDevice)
{
    m_pDevice = pDevice;
}

void CIntelligentSearchController::SetStorageDevice(IStorageDevice* pDevice)
{
    for (IFileSystemSearchController* pController : m_Controllers)
        pController->SetStorageDevice(pDevice);
}

void CIntelligentSearchController::SetSectorsPerRead(int32_t nSectors)
{
    for (IFileSystemSearchController* pController : m_Controllers)
        pController->SetSectorsPerRead(nSectors);
}

void CIntelligentSearchController::BeginSearch()
{
    for (IFileSystemSearchController* pController : m_Controllers)
        pController->BeginSearch();
}

void CIntelligentSearchController::EndSearch()
{
    for (IFileSystemSearchController* pController : m_Controllers) {
        try {
            pController->EndSearch();
        } catch (...) {
            LogInfo("catch CallEachFileSystemSearchControllerEndSearch!");
        }
    }
}

void CIntelligentSearchController::SearchSectors(uint64_t ullFirstSector, uint64_t ullSectorCount,
                                                 SEARCH_STATISTICS* pStatistics)
{
    // A controller that fails on a block loses that block only; the others still see it.
    for (IFileSystemSearchController* pController : m_Controllers) {
        try {
            pController->SearchSectors(ullFirstSector, ullSectorCount, pStatistics);
        } catch (...) {
        }
    }
}

void CIntelligentSearchController::ZeroBlockCounters()
{
    m_pStatistics->ullBlockCounter9 = 0;
    m_pStatistics->ullBlockCounter10 = 0;
    m_pStatistics->ullBlockCounter12 = 0;
    m_pStatistics->ullBlockCounter15 = 0;
    m_pStatistics->ullBlockCounter16 = 0;
}

void CIntelligentSearchController::LogSummary()
{
    const SEARCH_STATISTICS& s = *m_pStatistics;
    LogInfo("---------------------------------");
    LogInfo("Intelligent search result summary:");
    LogInfo("FATBootRecords = %" PRId64, static_cast<int64_t>(s.FATBootRecords));
    LogInfo("FATFolderParts = %" PRId64, static_cast<int64_t>(s.FATFolderParts));
    LogInfo("FATFolders = %" PRId64, static_cast<int64_t>(s.FATFolders));
    LogInfo("FilesIdentified = %" PRId64, static_cast<int64_t>(s.FilesIdentified));
    LogInfo("NTFSBootRecords = %" PRId64, static_cast<int64_t>(s.NTFSBootRecords));
    LogInfo("NTFSFileRecords = %" PRId64, static_cast<int64_t>(s.NTFSFileRecords));
    LogInfo("TotalFilesFound = %" PRId64, static_cast<int64_t>(s.TotalFilesFound));
    LogInfo("---------------------------------\n");
}

int CIntelligentSearchController::Run(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
{
    m_pProgress = pProgress;
    m_pCancel = pnCancel;
    if (m_pDevice == nullptr)
        return 1;
    const auto tStart = std::chrono::steady_clock::now();

    // The controllers read through the read-ahead cache: threads of its own read the next
    // blocks, and mark the sectors each controller's filter lets through, while the controllers
    // analyse the current one. The cache is a local object, so its threads are stopped on every
    // way out of this function, exceptions included.
    CStorageDeviceWithCache cache(m_pDevice);
    cache.SetCacheSize(INTELLIGENT_SEARCH_BLOCK_SECTORS);
    try {
        SetStorageDevice(&cache);
        SetSectorsPerRead(static_cast<int32_t>(INTELLIGENT_SEARCH_BLOCK_SECTORS));
        BeginSearch();
    } catch (...) {
        LogInfo("IntelligentSearch: a search controller failed to begin the search");
        return 1;
    }

    const uint64_t ullTotal = cache.GetTotalSectors();
    const uint64_t ullBlocks = (ullTotal + INTELLIGENT_SEARCH_BLOCK_SECTORS - 1) / INTELLIGENT_SEARCH_BLOCK_SECTORS;
    if (m_pProgress != nullptr) {
        rvd::ProgressSetPercent(m_pProgress, 0);
        rvd::ProgressSetTitle(m_pProgress, "Complete searching partitions...");
        rvd::ProgressSetDetail(m_pProgress, "Analyzing blocks..");
        rvd::ProgressSetPhase(m_pProgress, 1);
        rvd::ProgressSetStatus(m_pProgress, 0);
    }

    // The start override is read once, so the read-ahead and the scan start at the same block,
    // and it is kept inside the device.
    const int64_t llStart = EngineStartPosition();
    uint64_t ullStart = llStart > 0 ? static_cast<uint64_t>(llStart) : 0;
    if (ullTotal > 0 && ullStart >= ullTotal)
        ullStart = ullTotal - 1;
    const uint64_t ullFirstBlock = ullStart / INTELLIGENT_SEARCH_BLOCK_SECTORS;
    bool bCancelled = false;
    try {
        if (ullBlocks > 0)
            cache.StartPrefetch(ullStart);
        for (uint64_t ullBlock = ullFirstBlock; ullBlock < ullBlocks; ++ullBlock) {
            if (IsCancelRequested(m_pCancel)) {
                bCancelled = true;
                if (m_pProgress != nullptr)
                    rvd::ProgressSetTitle(m_pProgress, "Canceling...");
                break;
            }
            ZeroBlockCounters();
            cache.LoadBlock(ullBlock);
            const uint64_t ullFirstSector = ullBlock * INTELLIGENT_SEARCH_BLOCK_SECTORS;
            const uint64_t ullCount =
                std::min<uint64_t>(INTELLIGENT_SEARCH_BLOCK_SECTORS, ullTotal - ullFirstSector);
            SearchSectors(ullFirstSector, ullCount, m_pStatistics);
            if (m_pProgress != nullptr && ullBlocks > 0) {
                rvd::ProgressSetPercent(m_pProgress, static_cast<DWORD>(ullBlock * 100 / ullBlocks));
                char szDetail[101];
                snprintf(szDetail, sizeof(szDetail), "%lld of %lld blocks", static_cast<long long>(ullBlock),
                         static_cast<long long>(ullBlocks));
                rvd::ProgressSetDetail(m_pProgress, szDetail);
                rvd::ProgressSetFilesFound(m_pProgress, m_pStatistics->TotalFilesFound);
            }
        }
    } catch (...) {
        LogInfo("m_pIntelligentSearchCallback != NULL");
        return 1;
    }
    cache.StopPrefetch();
    if (m_pProgress != nullptr && !bCancelled)
        rvd::ProgressSetPercent(m_pProgress, 100);

    LogInfo("CallEachFileSystemSearchControllerEndSearch begin!");
    EndSearch();
    LogInfo("CallEachFileSystemSearchControllerEndSearch end!");
    if (!bCancelled && ullBlocks > ullFirstBlock) {
        const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
        AddBlockScanTiming(dSeconds, (ullTotal - ullFirstBlock * INTELLIGENT_SEARCH_BLOCK_SECTORS) * STORAGE_UNIT_BYTES);
    }
    LogSummary();
    return 1;
}

void ScoreCandidates(CSearchedPartitionInfoList& candidates)
{
    // Score inputs are counts of structures found on the disk; they stay far below 2^63, but a
    // sum is saturated rather than allowed to wrap into a negative score.
    auto RawScore = [](const CSearchedPartitionInfo* p) -> int64_t {
        const uint64_t ullMax = static_cast<uint64_t>(INT64_MAX);
        uint64_t ullScore = std::min(p->m_ullConfidence, ullMax);
        const uint64_t ullRecords = p->m_ullRecordMatches > ullMax / 50 ? ullMax : p->m_ullRecordMatches * 50;
        ullScore = ullRecords > ullMax - ullScore ? ullMax : ullScore + ullRecords;
        const uint64_t ullRaw = std::min(p->m_ullRawFileMatches, ullMax);
        ullScore = ullRaw > ullMax - ullScore ? ullMax : ullScore + ullRaw;
        return static_cast<int64_t>(ullScore);
    };
    int64_t llBest = 0;
    for (const CSearchedPartitionInfo* p : candidates)
        llBest = std::max(llBest, RawScore(p));
    const double dDenominator = llBest < 2 ? 1.0 : std::log(static_cast<double>(llBest));
    for (CSearchedPartitionInfo* p : candidates) {
        const int64_t llRaw = RawScore(p);
        const double dValue = llRaw < 2 ? static_cast<double>(llRaw) : std::log(static_cast<double>(llRaw));
        p->m_dScore = dValue / dDenominator;
    }
}

void SortCandidatesByScore(CSearchedPartitionInfoList& candidates)
{
    std::stable_sort(candidates.begin(), candidates.end(), CandidateScoreGreater());
}

void SelectCandidates(CSearchedPartitionInfoList& candidates, uint64_t ullTotalSectors)
{
    CSearchedPartitionInfoList remaining(candidates);
    CFreeSectorRanges freeRanges(SECTOR_RANGE{0, ullTotalSectors});
    auto RangeOf = [](const CSearchedPartitionInfo* p) {
        return SECTOR_RANGE{p->m_ullStartSector, p->m_ullSectorCount};
    };
    while (!remaining.empty()) {
        auto itBest = remaining.end();
        for (auto it = remaining.begin(); it != remaining.end(); ++it) {
            if (!((*it)->m_dScore > 0) || !freeRanges.IsFree(RangeOf(*it)))
                continue;
            if (itBest == remaining.end() || (*it)->m_dScore > (*itBest)->m_dScore)
                itBest = it;
        }
        if (itBest == remaining.end())
            break;
        CSearchedPartitionInfo* pChosen = *itBest;
        pChosen->m_nSelected = 1;
        remaining.erase(itBest);
        freeRanges.Remove(RangeOf(pChosen));
        remaining.erase(std::remove_if(remaining.begin(), remaining.end(),
                                       [&](const CSearchedPartitionInfo* p) { return !freeRanges.IsFree(RangeOf(p)); }),
                        remaining.end());
    }
}

CFileSystemNode* BuildCandidateTree(const CSearchControllerList& controllers, CSearchedPartitionInfo* pCandidate,
                                    IStorageDevice* pDevice, int32_t nIndex, int32_t nOption,
                                    SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
{
    if (pCandidate == nullptr)
        return nullptr;
    for (IFileSystemSearchController* pController : controllers) {
        if (!pController->IsSupportedFileSystem(pCandidate->m_nFileSystemKind))
            continue;
        pController->SetProgress(pProgress, pnCancel);
        try {
            return pController->BuildFileTree(pCandidate, pDevice, nIndex, nOption);
        } catch (const std::exception& e) {
            LogInfo("Building the tree of candidate %d failed: %s", nIndex, e.what());
        } catch (...) {
            LogInfo("Building the tree of candidate %d failed", nIndex);
        }
        return nullptr;
    }
    return nullptr;
}

void GiveRawFileInfoContainer(const CSearchControllerList& controllers, CRawFileInfoContainer* pContainer)
{
    for (IFileSystemSearchController* pController : controllers)
        pController->SetRawFileInfoContainer(pContainer);
}
