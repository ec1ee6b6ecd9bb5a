// The carving member of the complete scan: tries the analysers on every 512-byte sector of the
// runs the engine reads, records each hit in the scan's container of carved files, and measures
// hits whose header gave no length through a ring of the most recent runs once each hit's run has
// become the oldest the ring holds (so that its own run and the 19 after it are readable).
//
// The length a hit gets is always the one that full window gives, but it is worked out as soon
// as the runs read so far answer every read of the length rule (CarvingRingView.h): most files
// end within their own run, so their runs are never copied into the ring. The length is put in
// place when the hit's run becomes the oldest, exactly when and whether the ring would measure it
// (a gap in the runs or the scan's end leaves it for the tree builder, as before).
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "BufferStorageDevice.h"
#include "CarvingRingView.h"
#include "FileSystemSearchController.h"
#include "RawFileAnalyser.h"

// Runs the ring keeps.
const uint32_t RAW_RING_CHUNKS = 20;

class CRAWSearchController : public IFileSystemSearchController {
public:
    CRAWSearchController();
    ~CRAWSearchController() override;

    // Through the read-ahead cache, the sectors that may start a carved file are marked as each
    // block is read (CarvingSectorFilter.h), and only those are looked at.
    void SetStorageDevice(IStorageDevice* pDevice) override;
    void SetSectorsPerRead(int32_t nSectorsPerRead) override { m_nSectorsPerRead = nSectorsPerRead; }
    void BeginSearch() override;
    // Forgets the hits still waiting to be measured (they keep size 0 for the tree builder to
    // measure on the device) and frees the read buffer and the ring.
    void EndSearch() override;
    // Always 1. A run longer than the read buffer is searched in slices of the buffer's size.
    int32_t SearchSectors(uint64_t ullFirstSector, uint64_t ullSectorCount, SEARCH_STATISTICS* pStatistics) override;
    void CollectSearchedPartitions(CSearchedPartitionInfoList* pCandidates) override { (void)pCandidates; }
    void SetRawFileInfoContainer(CRawFileInfoContainer* pContainer) override { m_pContainer = pContainer; }
    BOOL SaveState(IDataStream* pWriter) override
    {
        (void)pWriter;
        return TRUE;
    }
    BOOL LoadState(IDataStream* pReader) override
    {
        (void)pReader;
        return TRUE;
    }
    int32_t GetControllerType() override { return SEARCH_CONTROLLER_RAW; }

private:
    // A hit waiting for its length.
    struct PENDING_HIT {
        CRawFileInfo* pInfo;
        // The record as the length rule left it, put in place when the hit falls due.
        CRawFileInfo Result;
        // First sector of the hit's run: its full window runs from here for RAW_RING_CHUNKS runs.
        uint64_t ullRunStart;
        // Memory must reach this sector before the length is worked out again.
        uint64_t ullNextTryEnd;
        bool bMeasured;
    };

    void SearchRun(uint64_t ullStart, uint32_t nCount, SEARCH_STATISTICS* pStatistics);
    // Puts in place the lengths of the hits whose run is the oldest of a full ring once the run
    // at ullStart is read; measures those not yet measured through the ring.
    void SettleDueHits(uint64_t ullStart);
    // Works out the lengths that the ring and the run at ullStart (pRun) can already answer.
    void MeasureEarly(uint64_t ullStart, const uint8_t* pRun);
    // Keeps in the ring what the hits still to be measured will read of the runs up to the one at
    // ullStart (pRun): from the first such hit's start on.
    void KeepForUnmeasured(uint64_t ullStart, const uint8_t* pRun);
    // One length measurement of pHit through m_View (set up by the caller); false when the view
    // could not answer it yet.
    bool Measure(PENDING_HIT* pHit);
    void BuildLeadByteLists();

    IStorageDevice* m_pDevice;
    int32_t m_nSectorsPerRead;
    CRawFileInfoContainer* m_pContainer;
    // The sectors from the first hit still to be measured on, up to the last run read; restarted
    // when no hit needs them.
    CBufferStorageDevice m_Ring;
    CCarvingRingView m_View;
    std::deque<PENDING_HIT, CEngineAllocator<PENDING_HIT>> m_Pending;
    // Hits of m_Pending not yet measured.
    size_t m_nUnmeasured;
    uint8_t* m_pReadBuffer;
    uint32_t m_nChunkSectors;
    // Sector the next run must start at to continue the ring; the ring and the waiting hits are
    // dropped on a gap.
    uint64_t m_ullNextRingSector;
    bool m_bRingStarted;
    // One analyser of the list and its key byte.
    struct ANALYSER_ENTRY {
        IRawFileAnalyser* pAnalyser;
        LEAD_BYTE_SET Key;
        uint32_t nKeyOffset;
        bool bKeyed;
    };
    // Tries the analysers on the sector at ullSector; the first that takes it makes a hit.
    void TrySector(uint64_t ullSector, const uint8_t* pSector, SEARCH_STATISTICS* pStatistics);

    std::vector<ANALYSER_ENTRY, CEngineAllocator<ANALYSER_ENTRY>> m_Entries;
    // For each first byte of a sector, the analysers (in list order) whose header can start with
    // it: indexes into m_Entries, from m_LeadIndex[m_LeadStart[b]] to m_LeadIndex[m_LeadStart[b + 1] - 1].
    std::vector<uint16_t, CEngineAllocator<uint16_t>> m_LeadIndex;
    uint32_t m_LeadStart[257];
    // The cache's mark bit of the carving's sector test; -1 without one.
    int m_nFilterBit;
    // A hit's record in the making, kept over the sectors no analyser takes; made anew for
    // each run.
    CRawFileInfo* m_pFresh;
    // First sector of the run being searched.
    uint64_t m_ullRunStart;
    // The session under which the analysers share the record chains they walk through the ring
    // (CarvingChainMemo.h): one for each ring, from the scan's start or the last gap.
    uint64_t m_ullChainKey;
};
