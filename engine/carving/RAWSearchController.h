// The carving member of the complete scan: tries the analysers on every 512-byte sector of the
// runs the engine reads, records each hit in the scan's container of carved files, and measures
// hits whose header gave no length through a ring of the most recent runs once each hit's run has
// become the oldest the ring holds (so that its own run and the 19 after it are readable).
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "BufferStorageDevice.h"
#include "FileSystemSearchController.h"
#include "RawFileAnalyser.h"

// Runs the ring keeps.
const uint32_t RAW_RING_CHUNKS = 20;

class CRAWSearchController : public IFileSystemSearchController {
public:
    CRAWSearchController();
    ~CRAWSearchController() override;

    void SetStorageDevice(IStorageDevice* pDevice) override { m_pDevice = pDevice; }
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
    void SearchRun(uint64_t ullStart, uint32_t nCount, SEARCH_STATISTICS* pStatistics);
    void MeasurePending();
    void BuildLeadByteLists();

    IStorageDevice* m_pDevice;
    int32_t m_nSectorsPerRead;
    CRawFileInfoContainer* m_pContainer;
    CBufferStorageDevice m_Ring;
    std::deque<CRawFileInfo*, CEngineAllocator<CRawFileInfo*>> m_Pending;
    uint8_t* m_pReadBuffer;
    uint32_t m_nChunkSectors;
    // Sector the next run must start at to continue the ring; the ring restarts on a gap.
    uint64_t m_ullNextRingSector;
    bool m_bRingStarted;
    // For each first byte of a sector, the analysers (in list order) whose header can start with
    // it: offsets into m_LeadAnalysers from m_LeadStart[b] to m_LeadStart[b + 1].
    std::vector<IRawFileAnalyser*, CEngineAllocator<IRawFileAnalyser*>> m_LeadAnalysers;
    uint32_t m_LeadStart[257];
};
