#include "RAWSearchController.h"

#include <algorithm>
#include <cstring>

#include "CarvingChainMemo.h"
#include "CarvingSectorFilter.h"
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
    : m_pDevice(nullptr), m_nSectorsPerRead(0), m_pContainer(nullptr), m_nUnmeasured(0), m_pReadBuffer(nullptr),
      m_nChunkSectors(0), m_ullNextRingSector(0), m_bRingStarted(false), m_nFilterBit(-1), m_pFresh(nullptr), m_ullRunStart(0),
      m_ullChainKey(0)
{
    memset(m_LeadStart, 0, sizeof(m_LeadStart));
}

CRAWSearchController::~CRAWSearchController()
{
    FreeMemory(m_pReadBuffer);
    delete m_pFresh;
}

void CRAWSearchController::SetStorageDevice(IStorageDevice* pDevice)
{
    m_pDevice = pDevice;
    m_nFilterBit = -1;
    if (CStorageDeviceWithCache* pCache = dynamic_cast<CStorageDeviceWithCache*>(pDevice))
        m_nFilterBit = pCache->AddSectorFilter(&MayStartCarvedFile);
}

void CRAWSearchController::BuildLeadByteLists()
{
    const CRawFileAnalyserList& analysers = GetRawFileAnalyserList();
    std::vector<LEAD_BYTE_SET, CEngineAllocator<LEAD_BYTE_SET>> sets(analysers.size());
    m_Entries.clear();
    for (size_t i = 0; i < analysers.size(); ++i) {
        analysers[i]->GetLeadBytes(&sets[i]);
        ANALYSER_ENTRY entry;
        entry.pAnalyser = analysers[i];
        entry.nKeyOffset = 0;
        entry.Key.Fill();
        entry.bKeyed = analysers[i]->GetKeyBytes(&entry.nKeyOffset, &entry.Key) && entry.nKeyOffset < 512;
        m_Entries.push_back(entry);
    }
    m_LeadIndex.clear();
    for (int b = 0; b < 256; ++b) {
        m_LeadStart[b] = static_cast<uint32_t>(m_LeadIndex.size());
        for (size_t i = 0; i < analysers.size() && i <= UINT16_MAX; ++i) {
            if (sets[i].Has(static_cast<uint8_t>(b)))
                m_LeadIndex.push_back(static_cast<uint16_t>(i));
        }
    }
    m_LeadStart[256] = static_cast<uint32_t>(m_LeadIndex.size());
    // The read-ahead cache's test of each sector, made before the scan reads its first block.
    SetCarvingSectorTable(analysers);
}

void CRAWSearchController::BeginSearch()
{
    RebuildRawFileAnalyserList(GetRawFileAnalyserList(), &GetEngineSettings()->m_vecRawTypes);
    BuildLeadByteLists();
    m_nChunkSectors = m_nSectorsPerRead > 0 ? static_cast<uint32_t>(m_nSectorsPerRead) : 8192u;
    m_Pending.clear();
    m_nUnmeasured = 0;
    m_bRingStarted = false;
    m_ullNextRingSector = 0;
    m_ullChainKey = CCarvingChainSession::NewKey();
    m_Ring.Init(0, m_pDevice != nullptr ? m_pDevice->GetSectorSize() : 512, m_nChunkSectors, RAW_RING_CHUNKS);
    FreeMemory(m_pReadBuffer);
    m_pReadBuffer = static_cast<uint8_t*>(AllocOrRaise(static_cast<size_t>(m_nChunkSectors) * 512));
}

void CRAWSearchController::EndSearch()
{
    m_Pending.clear();
    m_nUnmeasured = 0;
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
        m_nUnmeasured = 0;
        m_Ring.Init(ullStart, m_Ring.GetSectorSize(), m_nChunkSectors, RAW_RING_CHUNKS);
        m_bRingStarted = true;
        // The new ring may answer other bytes at a position than the old one did (a short run's
        // zero tail): the chains walked through the old one are not shared with the new.
        m_ullChainKey = CCarvingChainSession::NewKey();
    }

    m_ullRunStart = ullStart;
    if (m_pFresh != nullptr)
        *m_pFresh = CRawFileInfo();
    const uint8_t* pMarks = nullptr;
    if (pRun != m_pReadBuffer && m_nFilterBit >= 0) {
        if (CStorageDeviceWithCache* pCache = dynamic_cast<CStorageDeviceWithCache*>(m_pDevice))
            pMarks = pCache->PeekSectorMarks(ullStart, nCount);
    }
    if (pMarks != nullptr) {
        // Only the sectors the cache's test marked can start a carved file.
        const uint8_t byMask = static_cast<uint8_t>(1u << m_nFilterBit);
        for (uint64_t i = FindMarkedSector(pMarks, 0, nCount, byMask); i < nCount;
             i = FindMarkedSector(pMarks, i + 1, nCount, byMask))
            TrySector(ullStart + i, pRun + i * 512, pStatistics);
    } else {
        const uint8_t* pSector = pRun;
        for (uint32_t i = 0; i < nCount; ++i, pSector += 512) {
            if ((pSector[0] | pSector[1] | pSector[2] | pSector[3]) != 0)
                TrySector(ullStart + i, pSector, pStatistics);
        }
    }

    SettleDueHits(ullStart);
    MeasureEarly(ullStart, pRun);
    KeepForUnmeasured(ullStart, pRun);
    m_ullNextRingSector = ullStart + m_nChunkSectors;
}

void CRAWSearchController::KeepForUnmeasured(uint64_t ullStart, const uint8_t* pRun)
{
    // The first hit still to be measured; the length rules read nothing before a hit's start.
    uint64_t ullKeepFrom = ullStart + m_nChunkSectors;
    for (const PENDING_HIT& hit : m_Pending) {
        if (!hit.bMeasured) {
            ullKeepFrom = hit.pInfo->GetStartSector();
            break;
        }
    }
    if (ullKeepFrom >= ullStart) {
        // Only (a part of) this run is wanted, or nothing: the ring restarts there. Its store
        // is kept, and the copy of every run that no hit still reads is spared.
        const uint64_t ullOffset = std::min<uint64_t>(ullKeepFrom - ullStart, m_nChunkSectors);
        m_Ring.Init(ullStart + ullOffset, m_Ring.GetSectorSize(), m_nChunkSectors, RAW_RING_CHUNKS);
        if (ullOffset < m_nChunkSectors)
            m_Ring.AppendSectors(pRun + ullOffset * 512, m_nChunkSectors - static_cast<uint32_t>(ullOffset));
    } else {
        // The ring holds the runs from that hit's on; this one follows them.
        m_Ring.Append(pRun);
    }
}

void CRAWSearchController::TrySector(uint64_t ullSector, const uint8_t* pSector, SEARCH_STATISTICS* pStatistics)
{
    const uint32_t nFirst = m_LeadStart[pSector[0]];
    const uint32_t nEnd = m_LeadStart[pSector[0] + 1];
    for (uint32_t k = nFirst; k < nEnd; ++k) {
        const ANALYSER_ENTRY& entry = m_Entries[m_LeadIndex[k]];
        if (entry.bKeyed && !entry.Key.Has(pSector[entry.nKeyOffset]))
            continue;
        IRawFileAnalyser* pAnalyser = entry.pAnalyser;
        if (m_pFresh == nullptr)
            m_pFresh = new CRawFileInfo();
        CRawFileInfo* pFresh = m_pFresh;
        // A failed test of an earlier analyser may have left a size or type behind.
        pFresh->SetSize(0);
        if (!GuardedAnalyzeFileHeader(pAnalyser, pSector, pFresh))
            continue;
        m_pFresh = nullptr;
        pFresh->SetStartSector(ullSector);
        pFresh->SetAnalyser(pAnalyser);
        pFresh->SetGroup(pAnalyser->m_nFileType);
        if (m_pContainer != nullptr) {
            m_pContainer->AddFile(pFresh);
            if (pFresh->GetSize() == 0) {
                PENDING_HIT hit;
                hit.pInfo = pFresh;
                hit.ullRunStart = m_ullRunStart;
                hit.ullNextTryEnd = 0;
                hit.bMeasured = false;
                m_Pending.push_back(hit);
                ++m_nUnmeasured;
            }
        } else {
            delete pFresh;
        }
        if (pStatistics != nullptr) {
            ++pStatistics->FilesIdentified;
            ++pStatistics->TotalFilesFound;
        }
        return;
    }
}

bool CRAWSearchController::Measure(PENDING_HIT* pHit)
{
    CRawFileInfo* pInfo = pHit->pInfo;
    pHit->Result = *pInfo;
    IRawFileAnalyser* pAnalyser = pInfo->GetAnalyser();
    if (pAnalyser == nullptr)
        return true;
    CRawFileInfo* pResult = &pHit->Result;
    CCarvingChainSession session(&m_View, m_ullChainKey);
    bool bThrew = false;
    const BOOL bMeasured = GuardedAnalyzeFileSize(pAnalyser, pResult, &m_View, &bThrew);
    if (m_View.NeedsMore())
        return false;
    if (bThrew)
        return true;
    const uint64_t ullLimit = GetCarvedSizeLimit();
    const uint64_t ullRingEndByte = m_View.GetWindowEnd() * 512;
    const uint64_t ullSize = pResult->GetSize();
    const uint64_t ullStartByte = pResult->GetStartSector() * 512;
    // A failed rule, or a walk that may have been cut short by the ring's end, leaves the
    // length to be measured again on the device.
    if (!bMeasured || ullSize > ullRingEndByte - ullStartByte ||
        ullRingEndByte - ullStartByte - ullSize < RING_END_MARGIN_BYTES) {
        if (ullSize < ullLimit || !bMeasured)
            pResult->SetSize(0);
        else
            pResult->SetSize(ullLimit);
        return true;
    }
    pResult->SetSize(std::min(ullSize, ullLimit));
    return true;
}

void CRAWSearchController::SettleDueHits(uint64_t ullStart)
{
    const uint64_t ullWindowSectors = static_cast<uint64_t>(m_nChunkSectors) * RAW_RING_CHUNKS;
    while (!m_Pending.empty() && m_Pending.front().ullRunStart + ullWindowSectors <= ullStart) {
        PENDING_HIT& hit = m_Pending.front();
        bool bSettled = hit.bMeasured;
        if (!bSettled) {
            --m_nUnmeasured;
            // The ring now holds exactly the hit's full window.
            m_View.Reset(hit.ullRunStart, ullWindowSectors, m_Ring.GetSectorSize(), &m_Ring, nullptr, ullStart, 0);
            bSettled = Measure(&hit);
        }
        // Not answered even now (not expected): the tree builder measures it on the device.
        if (bSettled)
            *hit.pInfo = hit.Result;
        m_Pending.pop_front();
    }
}

void CRAWSearchController::MeasureEarly(uint64_t ullStart, const uint8_t* pRun)
{
    if (m_nUnmeasured == 0)
        return;
    const uint64_t ullWindowSectors = static_cast<uint64_t>(m_nChunkSectors) * RAW_RING_CHUNKS;
    const uint64_t ullMemoryEnd = ullStart + m_nChunkSectors;
    for (PENDING_HIT& hit : m_Pending) {
        if (hit.bMeasured || hit.ullNextTryEnd > ullMemoryEnd)
            continue;
        m_View.Reset(hit.ullRunStart, ullWindowSectors, m_Ring.GetSectorSize(), &m_Ring, pRun, ullStart,
                     m_nChunkSectors);
        if (Measure(&hit)) {
            hit.bMeasured = true;
            --m_nUnmeasured;
            continue;
        }
        // Tried again once memory reaches what was wanted and holds at least twice as much of
        // the window as this time, so a long walk is not repeated run after run.
        const uint64_t ullTwice = hit.ullRunStart + 2 * (ullMemoryEnd - hit.ullRunStart);
        hit.ullNextTryEnd = std::max(m_View.GetWantedEnd(), ullTwice);
    }
}
