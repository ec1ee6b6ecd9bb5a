// The block scan shared by the complete scan of a partition and the whole-disk scan: the area is
// read block by block and every block goes to every registered file-system search controller;
// afterwards the controllers' partition candidates are scored, ordered by score and a
// non-overlapping selection of them is marked.
#pragma once

#include <cstdint>
#include <vector>

#include "CancelFlag.h"
#include "EngineMemory.h"
#include "FileSystemSearchController.h"
#include "SearchProgress.h"
#include "SearchStatistics.h"
#include "SearchedPartitionInfo.h"

class IStorageDevice;
class CFileSystemNode;
class CRawFileInfoContainer;

// Sectors per block of the block scan (4 MiB of 512-byte units).
const uint32_t INTELLIGENT_SEARCH_BLOCK_SECTORS = 0x2000;

// The controllers of one scan, in the order they see each block; owned by the scan driver.
typedef std::vector<IFileSystemSearchController*, CEngineAllocator<IFileSystemSearchController*>>
    CSearchControllerList;

struct SECTOR_RANGE {
    uint64_t ullStartSector;
    uint64_t ullSectorCount;

    // True when other lies wholly inside this range. Candidate ranges come from on-disk values,
    // so the ends are compared without forming start + count (which could wrap around).
    bool Contains(const SECTOR_RANGE& other) const
    {
        if (other.ullStartSector < ullStartSector)
            return false;
        const uint64_t ullOffset = other.ullStartSector - ullStartSector;
        return ullOffset <= ullSectorCount && other.ullSectorCount <= ullSectorCount - ullOffset;
    }
};

// The parts of a device not yet claimed by a selected candidate.
class CFreeSectorRanges : public CEngineObject {
public:
    explicit CFreeSectorRanges(const SECTOR_RANGE& whole);
    // Some free range contains range.
    bool IsFree(const SECTOR_RANGE& range) const;
    // Cuts range out of the first free range that contains it (nothing when none does).
    void Remove(const SECTOR_RANGE& range);
    const std::vector<SECTOR_RANGE, CEngineAllocator<SECTOR_RANGE>>& GetRanges() const { return m_Ranges; }

private:
    std::vector<SECTOR_RANGE, CEngineAllocator<SECTOR_RANGE>> m_Ranges;
};

class IContainerofFileSystemSearchController : public CEngineObject {
public:
    virtual ~IContainerofFileSystemSearchController() {}
    virtual void AddController(IFileSystemSearchController* pController) = 0;
};

class CIntelligentSearchController : public IContainerofFileSystemSearchController {
public:
    CIntelligentSearchController();
    ~CIntelligentSearchController() override;
    CIntelligentSearchController(const CIntelligentSearchController&) = delete;
    CIntelligentSearchController& operator=(const CIntelligentSearchController&) = delete;

    // Not owned.
    void AddController(IFileSystemSearchController* pController) override;
    void SetDevice(IStorageDevice* pDevice);
    // Runs the block scan over the device; either pointer may be null. Returns 1, also when an
    // exception ended the scan early.
    int Run(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel);

    // Each over every controller, in list order.
    void SetStorageDevice(IStorageDevice* pDevice);
    void SetSectorsPerRead(int32_t nSectors);
    void BeginSearch();
    void EndSearch();
    void SearchSectors(uint64_t ullFirstSector, uint64_t ullSectorCount, SEARCH_STATISTICS* pStatistics);

    const SEARCH_STATISTICS& GetStatistics() const { return *m_pStatistics; }

private:
    void ZeroBlockCounters();
    void LogSummary();

    CSearchControllerList m_Controllers;
    IStorageDevice* m_pDevice;
    SEARCH_STATISTICS* m_pStatistics;
    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pCancel;
};

// Scores every candidate from its confidence, record matches (counted 50 times) and carved-file
// matches, on a logarithmic scale relative to the best candidate: 0..1.
void ScoreCandidates(CSearchedPartitionInfoList& candidates);
// Highest score first; equal scores keep their collection order.
void SortCandidatesByScore(CSearchedPartitionInfoList& candidates);
// Marks (m_nSelected = 1) the best-scored candidates whose ranges lie within the device and do
// not overlap a candidate marked before; the list itself is not reordered.
void SelectCandidates(CSearchedPartitionInfoList& candidates, uint64_t ullTotalSectors);

// The tree of one candidate, built by the first controller that supports its file system; null
// when none does or the build fails.
CFileSystemNode* BuildCandidateTree(const CSearchControllerList& controllers, CSearchedPartitionInfo* pCandidate,
                                    IStorageDevice* pDevice, int32_t nIndex, int32_t nOption,
                                    SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel);

// Hands the scan's carved-file container to every controller.
void GiveRawFileInfoContainer(const CSearchControllerList& controllers, CRawFileInfoContainer* pContainer);
