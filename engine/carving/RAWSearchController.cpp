#include "RAWSearchController.h"

#include <algorithm>
#include <cstring>

#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"
#include "RawFileAnalyserList.h"
#include "RawFileInfo.h"
#include "SearchStatistics.h"
#include "StorageDeviceWithCache.h"

namespace {

// A measured end this close to the ring's end may have been cut by it: the hit is left for the
// tree builder to measure on the device.
const uint64_t RING_END_MARGIN_BYTES = 1u << 20;

} // namespace

CRAWSearchController::CRAWSearchController()
    : m_pDevice(nullptr), m_nSectorsPerRead(0), m_pContainer(nullptr), m_pReadBuffer(nullptr), m_nChunkSectors(0),
      m_ullNextRingSector(0), m_bRingStarted(false)
{
    memset(m_LeadStart, 0, sizeof(m_LeadStart));
}

CRAWSearchController::~CRAWSearchController()
{
    FreeMemory(m_pReadBuffer);
}

void CRAWSearchController::BuildLeadByteLists()
{
    const CRawFileAnalyserList& analysers = GetRawFileAnalyserList();
    std::vector<LEAD_BYTE_SET, CEngineAllocator<LEAD_BYTE_SET>> sets(analysers.size());
    for (size_t i = 0; i < analysers.size(); ++i)
        analysers[i]->GetLeadBytes(&sets[i]);
    m_LeadAnalysers.clear();
    for (int b = 0; b < 256; ++b) {
        m_LeadStart[b] = static_cast<uint32_t>(m_LeadAnalysers.size());
        for (size_t i = 0; i < analysers.size(); ++i) {
            if (sets[i].Has(static_cast<uint8_t>(b)))
                m_LeadAnalysers.push_back(analysers[i]);
        }
    }
    m_LeadStart[256] = static_cast<uint32_t>(m_LeadAnalysers.size());
}

void CRAWSearchController::BeginSearch()
{
    RebuildRawFileAnalyserList(GetRawFileAnalyserList(), &GetEngineSettings()->m_vecRawTypes);
    BuildLeadByteLists();
    m_nChunkSectors = m_nSectorsPerRead > 0 ? static_cast<uint32_t>(m_nSectorsPerRead) : 8192u;
    m_Pending.clear();
    m_bRingStarted = false;
    m_ullNextRingSector = 0;
    m_Ring.Init(0, m_pDevice != nullptr ? m_pDevice->GetSectorSize() : 512, m_nChunkSectors, RAW_RING_CHUNKS);
    FreeMemory(m_pReadBuffer);
    m_pReadBuffer = static_cast<uint8_t*>(AllocOrRaise(static_cast<size_t>(m_nChunkSectors) * 512));
}

void CRAWSearchController::EndSearch()
{
    m_Pending.clear();
    FreeMemory(m_pReadBuffer);
    m_pReadBuffer = nullptr;
    m_Ring.Close();
    m_bRingStarted = false;
}

int32_t CRAWSearchController::SearchSectors(uint64_t ullFirstSector, uint64_t ullSectorCount,
                                            SEARCH_STATISTICS* pStatistics)
{
    if (GetRawFileAnalyserList().empty() || m_pReadBuffer == nullptr)
        return 1;
    while (ullSectorCount > 0) {
        const uint32_t nSlice = static_cast<uint32_t>(std::min<uint64_t>(ullSectorCount, m_nChunkSectors));
        SearchRun(ullFirstSector, nSlice, pStatistics);
        if (ullFirstSector > UINT64_MAX - nSlice)
            break;
        ullFirstSector += nSlice;
        ullSectorCount -= nSlice;
    }
    return 1;
}

void CRAWSearchController::SearchRun(uint64_t ullStart, uint32_t nCount, SEARCH_STATISTICS* pStatistics)
{
    // A whole run that the block scan's cache holds is looked at, and put into the ring, from
    // the cache in place; any other run is read into a buffer of this controller first.
    const uint8_t* pRun = nullptr;
    if (nCount == m_nChunkSectors) {
        if (CStorageDeviceWithCache* pCache = dynamic_cast<CStorageDeviceWithCache*>(m_pDevice))
            pRun = pCache->PeekSectors(ullStart, nCount);
    }
    if (pRun == nullptr) {
        const size_t nBytes = static_cast<size_t>(nCount) * 512;
        if (m_pDevice == nullptr || m_pDevice->ReadSectors(m_pReadBuffer, ullStart, nCount) == 0)
            memset(m_pReadBuffer, 0, nBytes);
        // The tail of a short run goes into the ring as zeros.
        if (nCount < m_nChunkSectors)
            memset(m_pReadBuffer + nBytes, 0, static_cast<size_t>(m_nChunkSectors - nCount) * 512);
        pRun = m_pReadBuffer;
    }

    // The ring numbers its sectors from the first run's start; a run that does not follow the
    // previous one restarts it there (the hits waiting in the old ring are left to the tree).
    if (!m_bRingStarted || ullStart != m_ullNextRingSector) {
        m_Pending.clear();
        m_Ring.Init(ullStart, m_Ring.GetSectorSize(), m_nChunkSectors, RAW_RING_CHUNKS);
        m_bRingStarted = true;
    }

    CRawFileInfo* pFresh = nullptr;
    const uint8_t* pSector = pRun;
    for (uint32_t i = 0; i < nCount; ++i, pSector += 512) {
        if ((pSector[0] | pSector[1] | pSector[2] | pSector[3]) == 0)
            continue;
        const uint32_t nFirst = m_LeadStart[pSector[0]];
        const uint32_t nEnd = m_LeadStart[pSector[0] + 1];
        for (uint32_t k = nFirst; k < nEnd; ++k) {
            IRawFileAnalyser* pAnalyser = m_LeadAnalysers[k];
            if (pFresh == nullptr)
                pFresh = new CRawFileInfo();
            // A failed test of an earlier analyser may have left a size behind.
            pFresh->SetSize(0);
            if (!GuardedAnalyzeFileHeader(pAnalyser, pSector, pFresh))
                continue;
            pFresh->SetStartSector(ullStart + i);
            pFresh->SetAnalyser(pAnalyser);
            pFresh->SetGroup(pAnalyser->m_nFileType);
            if (m_pContainer != nullptr) {
                m_pContainer->AddFile(pFresh);
                if (pFresh->GetSize() == 0)
                    m_Pending.push_back(pFresh);
            } else {
                delete pFresh;
            }
            pFresh = nullptr;
            if (pStatistics != nullptr) {
                ++pStatistics->FilesIdentified;
                ++pStatistics->TotalFilesFound;
            }
            break;
        }
    }
    delete pFresh;

    MeasurePending();
    if (m_Pending.empty()) {
        // No hit waits for its length: a later hit is measured from its own run on, so nothing
        // held is wanted again and the ring restarts at the next run (its store is kept; this
        // spares the copy of every run that no hit needs).
        m_Ring.Init(ullStart + m_nChunkSectors, m_Ring.GetSectorSize(), m_nChunkSectors, RAW_RING_CHUNKS);
    } else {
        m_Ring.Append(pRun);
    }
    m_ullNextRingSector = ullStart + m_nChunkSectors;
}

void CRAWSearchController::MeasurePending()
{
    if (!m_Ring.IsFull())
        return;
    const uint64_t ullOldestEnd = m_Ring.GetWindowStart() + m_nChunkSectors;
    const uint64_t ullRingEndByte = m_Ring.GetWindowEnd() * 512;
    const uint64_t ullLimit = GetCarvedSizeLimit();
    while (!m_Pending.empty() && m_Pending.front()->GetStartSector() < ullOldestEnd) {
        CRawFileInfo* pInfo = m_Pending.front();
        m_Pending.pop_front();
        IRawFileAnalyser* pAnalyser = pInfo->GetAnalyser();
        if (pAnalyser == nullptr)
            continue;
        bool bThrew = false;
        const BOOL bMeasured = GuardedAnalyzeFileSize(pAnalyser, pInfo, &m_Ring, &bThrew);
        if (bThrew)
            continue;
        const uint64_t ullSize = pInfo->GetSize();
        const uint64_t ullStartByte = pInfo->GetStartSector() * 512;
        // A failed rule, or a walk that may have been cut short by the ring's end, leaves the
        // length to be measured again on the device.
        if (!bMeasured || ullSize > ullRingEndByte - ullStartByte ||
            ullRingEndByte - ullStartByte - ullSize < RING_END_MARGIN_BYTES) {
            if (ullSize < ullLimit || !bMeasured)
                pInfo->SetSize(0);
            else
                pInfo->SetSize(ullLimit);
            continue;
        }
        pInfo->SetSize(std::min(ullSize, ullLimit));
    }
}
