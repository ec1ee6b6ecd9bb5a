#include "NTFSSearchAnalyzers.h"

#include <algorithm>
#include <cstring>

#include "FileRecordHolder.h"
#include "NTFSBytes.h"
#include "NTFSFileRecord.h"
#include "NTFSFileRecordAttribute.h"
#include "NTFSIndexRecord.h"
#include "NTFSRecordMapping.h"
#include "NTFSSystemFileImages.h"
#include "StorageDeviceWithCache.h"

using namespace ntfsbytes;

namespace {

const size_t kSectorBytes = 512;
const uint64_t kPageSectors = 8;
const size_t kPageBytes = kPageSectors * kSectorBytes;
const size_t kAttrDefSectors = NTFS_ATTRDEF_IMAGE_BYTES / kSectorBytes;
// Distances from the $MFT record to the records of $LogFile (2), $AttrDef (4) and $UpCase (10).
const uint64_t kLogFileDistance = 4;
const uint64_t kAttrDefDistance = 8;
const uint64_t kUpCaseDistance = 20;
// $Bitmap's record number.
const uint64_t kBitmapRecordNumber = 6;
// A group of system records spans records 0 to 8 at most.
const uint64_t kGroupSpan = 16;

bool ListHasRoom(size_t nSize)
{
    return nSize < NTFS_SEARCH_LIST_LIMIT;
}

// LCN x sectors per cluster + start, false when it does not fit 64 bits.
bool ClusterToSector(uint64_t ullStart, int64_t llLcn, uint64_t ullSectorsPerCluster, uint64_t* pSector)
{
    if (llLcn < 0 || ullSectorsPerCluster == 0)
        return false;
    const uint64_t ullLcn = static_cast<uint64_t>(llLcn);
    if (ullLcn > (~0ull - ullStart) / ullSectorsPerCluster)
        return false;
    *pSector = ullStart + ullLcn * ullSectorsPerCluster;
    return true;
}

// How a sector is compared with the five sectors of the $AttrDef image. Three of them begin
// inside the zero padding of a name, like every empty sector of a disk: each is first compared
// at its first 8-byte word that is not zero.
struct ATTRDEF_KEYS {
    const uint8_t* pImage;
    size_t anKeyOffset[kAttrDefSectors];
    uint64_t aullKey[kAttrDefSectors];
    // The image sectors split by how they begin: with a word that is not zero, and with zeros.
    size_t anWordStart[kAttrDefSectors];
    size_t nWordStart;
    size_t anZeroStart[kAttrDefSectors];
    size_t nZeroStart;

    ATTRDEF_KEYS() : pImage(GetNTFSAttrDefImage()), nWordStart(0), nZeroStart(0)
    {
        for (size_t i = 0; i < kAttrDefSectors; ++i) {
            const uint8_t* pSlice = pImage + i * kSectorBytes;
            anKeyOffset[i] = 0;
            for (size_t nOffset = 0; nOffset + 8 <= kSectorBytes; nOffset += 8) {
                uint64_t ullWord;
                memcpy(&ullWord, pSlice + nOffset, sizeof(ullWord));
                if (ullWord != 0) {
                    anKeyOffset[i] = nOffset;
                    break;
                }
            }
            memcpy(&aullKey[i], pSlice + anKeyOffset[i], sizeof(aullKey[i]));
            if (anKeyOffset[i] == 0)
                anWordStart[nWordStart++] = i;
            else
                anZeroStart[nZeroStart++] = i;
        }
    }
};

// Slice k of the $UpCase table maps the units 256k to 256k + 255; its first entry is almost
// always 256k itself, so a sector's second byte names the slice to compare with. A slice whose
// first unit has another upper-case form (0x2D00, Georgian, maps to 0x10A0) would never be found
// that way: those are kept to be tried besides.
struct UPCASE_KEYS {
    static const size_t kSlices = 256;
    const uint8_t* pImage;
    uint64_t aullPrefix[kSlices];
    uint16_t anOddSlices[kSlices];
    size_t nOddSlices;

    UPCASE_KEYS() : pImage(GetNTFSUpCaseImage()), nOddSlices(0)
    {
        for (size_t k = 0; k < kSlices; ++k) {
            memcpy(&aullPrefix[k], pImage + k * kSectorBytes, sizeof(aullPrefix[k]));
            if (pImage[k * kSectorBytes + 1] != k)
                anOddSlices[nOddSlices++] = static_cast<uint16_t>(k);
        }
    }
};

// A pair of $MFT and $MFTMirr records taken as their copies in $MFTMirr, with the volume
// starting at ullStart that this reading gives: true when the copy's run list keeps $MFT inside
// the disk, puts its record 0 elsewhere than the copy, where no $MFT record was met (one found
// in place decides, not the copy), and puts record 1 where a $MFTMirr record with the copy's
// runs and cluster size was met. The sector lists are sorted.
bool MirrorCopyPlacesMFT(const CMFTRecordInfo* pMFT, const CMFTMirrRecordInfo* pMirr, uint64_t ullStart,
                         const uint64_t* pMFTSectors, size_t nMFTSectors,
                         const std::pair<uint64_t, const CMFTMirrRecordInfo*>* pMirrRecords, size_t nMirrRecords,
                         uint64_t ullTotalSectors)
{
    const uint32_t nSectorsPerCluster = pMFT->m_bySectorsPerCluster;
    const uint64_t ullRecord0 =
        RecordNumberToSector(0, ullStart, nSectorsPerCluster, pMFT->m_Runs, pMFT->m_bySectorsPerRecord);
    const uint64_t ullRecord1 =
        RecordNumberToSector(1, ullStart, nSectorsPerCluster, pMFT->m_Runs, pMFT->m_bySectorsPerRecord);
    if (ullRecord0 == NTFS_UNKNOWN_SECTOR || ullRecord1 == NTFS_UNKNOWN_SECTOR || ullRecord0 == pMFT->m_ullRecordSector)
        return false;
    for (const NTFS_RUN* pRun : pMFT->m_Runs) {
        if (pRun->llLcn < 0)
            continue;
        uint64_t ullRunStart = 0;
        if (!ClusterToSector(ullStart, pRun->llLcn, nSectorsPerCluster, &ullRunStart) ||
            ullRunStart >= ullTotalSectors ||
            pRun->ullLength > (ullTotalSectors - ullRunStart) / nSectorsPerCluster)
            return false;
    }
    if (std::binary_search(pMFTSectors, pMFTSectors + nMFTSectors, ullRecord0))
        return false;
    typedef std::pair<uint64_t, const CMFTMirrRecordInfo*> MIRR_AT;
    const auto range = std::equal_range(pMirrRecords, pMirrRecords + nMirrRecords, MIRR_AT(ullRecord1, nullptr),
                                        [](const MIRR_AT& a, const MIRR_AT& b) { return a.first < b.first; });
    bool bAgrees = false;
    for (auto it = range.first; it != range.second; ++it) {
        const CMFTMirrRecordInfo* pInfo = it->second;
        if (pInfo == pMirr)
            continue;
        if (!pInfo->m_Runs.IsEqual(&pMirr->m_Runs) ||
            (pInfo->m_bySectorsPerCluster != 0 && pInfo->m_bySectorsPerCluster != nSectorsPerCluster))
            return false;
        bAgrees = true;
    }
    return bAgrees;
}

} // namespace

bool IsAttrDefImageSector(const uint8_t* pSector)
{
    // Built once, on whichever thread comes first; read-only afterwards.
    static const ATTRDEF_KEYS keys;
    // One or two 8-byte words rule out almost every sector. A sector is compared only with the
    // image sectors that begin as it does (with a zero word or not), each at its own key word.
    uint64_t ullFirst;
    memcpy(&ullFirst, pSector, sizeof(ullFirst));
    if (ullFirst != 0) {
        for (size_t n = 0; n < keys.nWordStart; ++n) {
            const size_t i = keys.anWordStart[n];
            if (ullFirst == keys.aullKey[i] && memcmp(pSector, keys.pImage + i * kSectorBytes, kSectorBytes) == 0)
                return true;
        }
        return false;
    }
    for (size_t n = 0; n < keys.nZeroStart; ++n) {
        const size_t i = keys.anZeroStart[n];
        uint64_t ullWord;
        memcpy(&ullWord, pSector + keys.anKeyOffset[i], sizeof(ullWord));
        if (ullWord == keys.aullKey[i] && memcmp(pSector, keys.pImage + i * kSectorBytes, kSectorBytes) == 0)
            return true;
    }
    return false;
}

bool IsUpCaseImageSector(const uint8_t* pSector)
{
    static const UPCASE_KEYS keys;
    uint64_t ullPrefix;
    memcpy(&ullPrefix, pSector, sizeof(ullPrefix));
    const size_t nNamed = pSector[1];
    if (ullPrefix == keys.aullPrefix[nNamed] && memcmp(pSector, keys.pImage + nNamed * kSectorBytes, kSectorBytes) == 0)
        return true;
    for (size_t i = 0; i < keys.nOddSlices; ++i) {
        const size_t k = keys.anOddSlices[i];
        if (ullPrefix == keys.aullPrefix[k] && memcmp(pSector, keys.pImage + k * kSectorBytes, kSectorBytes) == 0)
            return true;
    }
    return false;
}

bool IsRSTRPage(const uint8_t* pWindow, size_t nLength)
{
    if (pWindow == nullptr || nLength < kPageBytes || nLength < 152)
        return false;
    if (memcmp(pWindow, "RSTR", 4) != 0)
        return false;
    static const uint8_t kNTFS[8] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
    if (memcmp(pWindow + 144, kNTFS, sizeof(kNTFS)) != 0)
        return false;
    const uint16_t nSequence = U16(pWindow + 30);
    for (size_t i = 1; i <= kPageSectors; ++i)
        if (U16(pWindow + i * kSectorBytes - 2) != nSequence)
            return false;
    return true;
}

CMFTMirrRecordInfo* CreateSystemFileRecordInfo(const CFileRecordHolder& holder, uint64_t ullSector,
                                               bool bInferClusterSize)
{
    if (!holder.IsValid())
        return nullptr;
    uint32_t bySectorsPerCluster = 0;
    if (bInferClusterSize && !InferSectorsPerCluster(holder, &bySectorsPerCluster))
        return nullptr;
    CMFTMirrRecordInfo* pInfo = new CMFTMirrRecordInfo();
    int64_t llRealSize = 0;
    if (!CollectDataRuns(holder, &pInfo->m_Runs, false, &llRealSize) || pInfo->m_Runs.IsEmpty()) {
        delete pInfo;
        return nullptr;
    }
    pInfo->m_ullRecordSector = ullSector;
    pInfo->m_ullLogSequence = holder.GetLogSequenceNumber();
    pInfo->m_bySectorsPerCluster = bySectorsPerCluster;
    return pInfo;
}

// ---- $AttrDef and $UpCase ----

CNTFSSystemFileDataAnalyzer::~CNTFSSystemFileDataAnalyzer()
{
    for (CMFTMirrRecordInfo* pInfo : m_Records)
        delete pInfo;
}

void CNTFSSystemFileDataAnalyzer::AddRecord(uint64_t ullSector, const CFileRecordHolder& holder)
{
    if (!ListHasRoom(m_Records.size()))
        return;
    if (CMFTMirrRecordInfo* pInfo = CreateSystemFileRecordInfo(holder, ullSector, false))
        m_Records.push_back(pInfo);
}

void CNTFSSystemFileDataAnalyzer::FillCandidate(CSearchedNTFSPartitionInfo* pCandidate) const
{
    if (pCandidate == nullptr)
        return;
    const uint64_t ullStart = pCandidate->m_ullEvidenceSector;
    const uint64_t ullSectorCount = pCandidate->m_ullSectorCount;
    const CMFTMirrRecordInfo* pFound = nullptr;
    const uint64_t ullMFT = pCandidate->m_ullMFTRecordSector;
    if (ullMFT != NTFS_UNKNOWN_SECTOR && ullMFT <= ~0ull - m_ullRecordDistance) {
        for (const CMFTMirrRecordInfo* pInfo : m_Records)
            if (pInfo->m_ullRecordSector == ullMFT + m_ullRecordDistance) {
                pFound = pInfo;
                break;
            }
    }
    if (pFound == nullptr) {
        for (const CMFTMirrRecordInfo* pInfo : m_Records)
            if (pInfo->m_ullRecordSector >= ullStart && pInfo->m_ullRecordSector - ullStart < ullSectorCount) {
                pFound = pInfo;
                break;
            }
    }
    if (pFound == nullptr) {
        StoreFill(pCandidate, NTFS_UNKNOWN_SECTOR, 0);
        return;
    }
    const uint64_t ullSectorsPerCluster = pCandidate->m_bySectorsPerCluster;
    uint64_t ullSeen = 0;
    for (const NTFS_RUN* pRun : pFound->m_Runs) {
        uint64_t ullFrom = 0;
        if (!ClusterToSector(ullStart, pRun->llLcn, ullSectorsPerCluster, &ullFrom))
            continue;
        if (pRun->ullLength > ~0ull / (ullSectorsPerCluster == 0 ? 1 : ullSectorsPerCluster))
            continue;
        ullSeen += m_Seen.CountCoveredSectors(ullFrom, pRun->ullLength * ullSectorsPerCluster);
    }
    StoreFill(pCandidate, pFound->m_ullRecordSector, ullSeen);
}

CNTFSAttrDefAnalyzer::CNTFSAttrDefAnalyzer() : CNTFSSystemFileDataAnalyzer(kAttrDefDistance)
{
}

bool CNTFSAttrDefAnalyzer::CheckSector(uint64_t ullSector, const uint8_t* pSector)
{
    if (!IsAttrDefImageSector(pSector))
        return false;
    m_Seen.AddSector(ullSector);
    return true;
}

void CNTFSAttrDefAnalyzer::StoreFill(CSearchedNTFSPartitionInfo* pCandidate, uint64_t ullRecordSector,
                                     uint64_t ullSeen) const
{
    if (ullRecordSector != NTFS_UNKNOWN_SECTOR)
        pCandidate->m_ullAttrDefRecordSector = ullRecordSector;
    pCandidate->m_ullAttrDefSectorsSeen = ullSeen;
}

CNTFSUpCaseAnalyzer::CNTFSUpCaseAnalyzer() : CNTFSSystemFileDataAnalyzer(kUpCaseDistance)
{
}

bool CNTFSUpCaseAnalyzer::CheckSector(uint64_t ullSector, const uint8_t* pSector)
{
    if (!IsUpCaseImageSector(pSector))
        return false;
    m_Seen.AddSector(ullSector);
    return true;
}

void CNTFSUpCaseAnalyzer::StoreFill(CSearchedNTFSPartitionInfo* pCandidate, uint64_t ullRecordSector,
                                    uint64_t ullSeen) const
{
    if (ullRecordSector != NTFS_UNKNOWN_SECTOR)
        pCandidate->m_ullUpCaseRecordSector = ullRecordSector;
    pCandidate->m_ullUpCaseSectorsSeen = ullSeen;
}

// ---- $LogFile ----

CNTFSLogFileAnalyzer::CNTFSLogFileAnalyzer(CNTFSCandidateSet* pCandidates, uint64_t ullTotalSectors)
    : CNTFSSystemFileDataAnalyzer(kLogFileDistance), m_pCandidates(pCandidates), m_ullTotalSectors(ullTotalSectors),
      m_pHeld(nullptr), m_ullHeldFirst(0), m_nHeldSectors(0)
{
}

CNTFSLogFileAnalyzer::~CNTFSLogFileAnalyzer()
{
    FreeBuffer(m_pHeld);
}

void CNTFSLogFileAnalyzer::StoreFill(CSearchedNTFSPartitionInfo* pCandidate, uint64_t ullRecordSector,
                                     uint64_t ullSeen) const
{
    if (ullRecordSector != NTFS_UNKNOWN_SECTOR)
        pCandidate->m_ullLogFileRecordSector = ullRecordSector;
    pCandidate->m_ullLogFileSectorsSeen = ullSeen;
}

void CNTFSLogFileAnalyzer::AddLogFileRecord(uint64_t ullSector, const CFileRecordHolder& holder)
{
    if (!ListHasRoom(m_Records.size()))
        return;
    CMFTMirrRecordInfo* pInfo = CreateSystemFileRecordInfo(holder, ullSector, true);
    if (pInfo == nullptr)
        return;
    const int64_t llCluster = pInfo->GetFirstCluster();
    const uint32_t nSectorsPerCluster = pInfo->m_bySectorsPerCluster;
    if (llCluster >= 0 && nSectorsPerCluster != 0) {
        for (size_t i = 0; i < m_RestartPages.size(); ++i) {
            const uint64_t ullPage = m_RestartPages[i];
            if (i + 1 < m_RestartPages.size() && m_RestartPages[i + 1] == ullPage + kPageSectors) {
                m_pCandidates->AdoptCandidate(
                    BuildPartitionInfoAccordingtoFileRecord(ullPage, llCluster, nSectorsPerCluster,
                                                            NTFS_EVIDENCE_LOG_RESTART | NTFS_EVIDENCE_LOG_RESTART2,
                                                            m_ullTotalSectors),
                    NTFS_EVIDENCE_LOG_RESTART | NTFS_EVIDENCE_LOG_RESTART2);
                ++i;
                continue;
            }
            m_pCandidates->AdoptCandidate(BuildPartitionInfoAccordingtoFileRecord(ullPage, llCluster, nSectorsPerCluster,
                                                                                  NTFS_EVIDENCE_LOG_RESTART,
                                                                                  m_ullTotalSectors),
                                          NTFS_EVIDENCE_LOG_RESTART);
            if (ullPage > kPageSectors)
                m_pCandidates->AdoptCandidate(
                    BuildPartitionInfoAccordingtoFileRecord(ullPage - kPageSectors, llCluster, nSectorsPerCluster,
                                                            NTFS_EVIDENCE_LOG_RESTART2, m_ullTotalSectors),
                    NTFS_EVIDENCE_LOG_RESTART2);
        }
    }
    m_Records.push_back(pInfo);
}

void CNTFSLogFileAnalyzer::AnalyzeRSTRRecord(uint64_t ullSector, const uint8_t* pPage)
{
    (void)pPage;
    if (!ListHasRoom(m_RestartPages.size()))
        return;
    const bool bSecond = !m_RestartPages.empty() && m_RestartPages.back() + kPageSectors == ullSector;
    for (const CMFTMirrRecordInfo* pInfo : m_Records) {
        const int64_t llCluster = pInfo->GetFirstCluster();
        const uint32_t nSectorsPerCluster = pInfo->m_bySectorsPerCluster;
        if (llCluster < 0 || nSectorsPerCluster == 0)
            continue;
        if (bSecond) {
            // The page at ullSector is the second restart page, not the start of a $LogFile.
            CSearchedNTFSPartitionInfo* pProbe = BuildPartitionInfoAccordingtoFileRecord(
                ullSector - kPageSectors, llCluster, nSectorsPerCluster, NTFS_EVIDENCE_LOG_RESTART2, m_ullTotalSectors);
            m_pCandidates->UpdateCandidateFlags(pProbe, NTFS_EVIDENCE_LOG_RESTART2, 0);
            delete pProbe;
            pProbe = BuildPartitionInfoAccordingtoFileRecord(ullSector, llCluster, nSectorsPerCluster,
                                                             NTFS_EVIDENCE_LOG_RESTART, m_ullTotalSectors);
            m_pCandidates->UpdateCandidateFlags(pProbe, 0, NTFS_EVIDENCE_LOG_RESTART);
            delete pProbe;
        } else {
            m_pCandidates->AdoptCandidate(BuildPartitionInfoAccordingtoFileRecord(ullSector, llCluster,
                                                                                  nSectorsPerCluster,
                                                                                  NTFS_EVIDENCE_LOG_RESTART,
                                                                                  m_ullTotalSectors),
                                          NTFS_EVIDENCE_LOG_RESTART);
            if (ullSector > kPageSectors)
                m_pCandidates->AdoptCandidate(
                    BuildPartitionInfoAccordingtoFileRecord(ullSector - kPageSectors, llCluster, nSectorsPerCluster,
                                                            NTFS_EVIDENCE_LOG_RESTART2, m_ullTotalSectors),
                    NTFS_EVIDENCE_LOG_RESTART2);
        }
    }
    m_RestartPages.push_back(ullSector);
}

void CNTFSLogFileAnalyzer::AddPage(uint64_t ullFirst)
{
    for (uint64_t i = 0; i < kPageSectors; ++i)
        m_Seen.AddSector(ullFirst + i);
}

void CNTFSLogFileAnalyzer::ScanLogPages(const uint8_t* pData, uint64_t ullFirst, uint64_t nSectors,
                                        const uint8_t* pMarks, uint8_t byMask)
{
    if (pData == nullptr)
        return;
    uint64_t nPosition = 0;
    if (m_nHeldSectors != 0) {
        const uint64_t nHeld = m_nHeldSectors;
        m_nHeldSectors = 0;
        if (m_ullHeldFirst + nHeld == ullFirst && nHeld + nSectors >= kPageSectors) {
            memcpy(m_pHeld + nHeld * kSectorBytes, pData, static_cast<size_t>((kPageSectors - nHeld) * kSectorBytes));
            if (IsValidRCRDPage(m_pHeld, kPageBytes)) {
                AddPage(m_ullHeldFirst);
                nPosition = kPageSectors - nHeld;
            }
        }
    }
    while (nPosition < nSectors) {
        if (pMarks != nullptr) {
            nPosition = FindMarkedSector(pMarks, nPosition, nSectors, byMask);
            if (nPosition >= nSectors)
                break;
        }
        const uint8_t* pSector = pData + nPosition * kSectorBytes;
        if (!IsRCRDPage(pSector, kSectorBytes)) {
            ++nPosition;
            continue;
        }
        const uint64_t nLeft = nSectors - nPosition;
        if (nLeft < kPageSectors) {
            // The page runs into the next read: keep its start for then.
            if (m_pHeld == nullptr)
                m_pHeld = reinterpret_cast<uint8_t*>(AllocBuffer(kPageBytes));
            if (m_pHeld != nullptr) {
                memcpy(m_pHeld, pSector, static_cast<size_t>(nLeft * kSectorBytes));
                m_ullHeldFirst = ullFirst + nPosition;
                m_nHeldSectors = nLeft;
            }
            return;
        }
        if (IsValidRCRDPage(pSector, kPageBytes)) {
            AddPage(ullFirst + nPosition);
            nPosition += kPageSectors;
        } else {
            ++nPosition;
        }
    }
}

// ---- $MFT groups ----

CNTFSMFTRecordAnalyzer::CNTFSMFTRecordAnalyzer(CMFTRecordInfoList* pMFTRecords, CSystemFileRecordList* pMirrRecords,
                                               CNTFSCandidateSet* pCandidates, CMFTRecordPairList* pPairs,
                                               uint64_t ullTotalSectors)
    : m_pCurrentMFT(nullptr), m_pCurrentMirr(nullptr), m_ullGroupSector(NTFS_UNKNOWN_SECTOR), m_llBitmapClusters(-1),
      m_pMFTRecords(pMFTRecords), m_pMirrRecords(pMirrRecords), m_pPairs(pPairs), m_pCandidates(pCandidates),
      m_ullTotalSectors(ullTotalSectors)
{
}

CNTFSMFTRecordAnalyzer::~CNTFSMFTRecordAnalyzer()
{
}

void CNTFSMFTRecordAnalyzer::CheckEmptyPosition(uint64_t ullSector)
{
    // What CheckRecord does with an empty holder, without one: most sectors of a disk hold no
    // FILE record.
    if (m_ullGroupSector == NTFS_UNKNOWN_SECTOR) {
        if (m_pCurrentMFT != nullptr || m_pCurrentMirr != nullptr || m_llBitmapClusters != -1)
            FinishGroup();
        return;
    }
    const uint64_t ullDistance = ullSector >= m_ullGroupSector ? ullSector - m_ullGroupSector : ~0ull;
    if (ullDistance % 2 == 1 && ullDistance <= kGroupSpan)
        return;
    FinishGroup();
}

void CNTFSMFTRecordAnalyzer::CheckRecord(uint64_t ullSector, const CFileRecordHolder& holder)
{
    const bool bOpen = m_ullGroupSector != NTFS_UNKNOWN_SECTOR && ullSector >= m_ullGroupSector;
    const uint64_t ullDistance = bOpen ? ullSector - m_ullGroupSector : 0;
    // The second half of a 1024-byte record of the group.
    if (!holder.IsValid() && bOpen && ullDistance % 2 == 1 && ullDistance <= kGroupSpan)
        return;
    const int nSystemNumber = GetSystemFileNumber(holder);
    if (!holder.IsValid() || nSystemNumber == -1 || !bOpen || ullDistance > kGroupSpan ||
        static_cast<uint64_t>(nSystemNumber) != ullDistance / 2)
        FinishGroup();
    if (!holder.IsValid())
        return;

    if (IsMFTFileRecord(holder)) {
        if (m_pCurrentMFT != nullptr)
            FinishGroup();
        m_ullGroupSector = ullSector;
        CMFTRecordInfo* pInfo = nullptr;
        if (ListHasRoom(m_pMFTRecords->size()))
            pInfo = CreateMFTRecordInfo(holder.GetRecord(), holder.GetLength(), ullSector);
        if (pInfo == nullptr) {
            FinishGroup();
            return;
        }
        m_pMFTRecords->push_back(pInfo);
        m_pCurrentMFT = pInfo;
    } else if (IsMFTMirrFileRecord(holder)) {
        CMFTMirrRecordInfo* pInfo = nullptr;
        if (ListHasRoom(m_pMirrRecords->size()))
            pInfo = CreateMFTMirrRecordInfo(holder.GetRecord(), holder.GetLength(), ullSector);
        if (pInfo == nullptr) {
            FinishGroup();
            return;
        }
        m_pMirrRecords->push_back(pInfo);
        m_pCurrentMirr = pInfo;
    } else if (nSystemNumber == static_cast<int>(kBitmapRecordNumber) && IsBitmapFileRecord(holder)) {
        // Only the $Bitmap of the group being followed tells its volume's size; one without a
        // group may serve a volume that a $MFTMirr copy places at the scan's end.
        CBitmapRecordInfo bitmap;
        if (!bitmap.SetFromRecord(holder.GetRecord(), holder.GetLength(), ullSector) ||
            bitmap.m_ullBitmapSize > static_cast<uint64_t>(INT64_MAX) / 8)
            return;
        const int64_t llClusters = static_cast<int64_t>(bitmap.m_ullBitmapSize * 8);
        if (m_pCurrentMFT != nullptr)
            m_llBitmapClusters = llClusters;
        else if (ListHasRoom(m_LoneBitmaps.size()))
            m_LoneBitmaps.push_back(std::make_pair(ullSector, llClusters));
    }
}

void CNTFSMFTRecordAnalyzer::FinishGroup()
{
    if (m_pCurrentMFT != nullptr) {
        if (m_pCurrentMirr == nullptr)
            CandidatesFromMFTRecord(m_pCurrentMFT);
        else {
            EvaluatePair(m_pCurrentMFT, m_pCurrentMirr);
            m_pPairs->push_back(MFT_RECORD_PAIR(m_pCurrentMFT, m_pCurrentMirr));
        }
    }
    m_pCurrentMFT = nullptr;
    m_pCurrentMirr = nullptr;
    m_ullGroupSector = NTFS_UNKNOWN_SECTOR;
    m_llBitmapClusters = -1;
}

void CNTFSMFTRecordAnalyzer::Adjust(CSearchedNTFSPartitionInfo* pCandidate) const
{
    if (pCandidate->m_ullMFTRecordSector == NTFS_UNKNOWN_SECTOR)
        pCandidate->m_ullMFTRecordSector = m_ullGroupSector;
    const int64_t llK = m_llBitmapClusters;
    const uint64_t ullSectorsPerCluster = pCandidate->m_bySectorsPerCluster;
    if ((pCandidate->m_dwFlags & NTFS_EVIDENCE_BOOT_SECTOR) == 0 && llK > 0 &&
        static_cast<uint64_t>(llK) < pCandidate->m_ullClusterCount) {
        pCandidate->m_ullClusterCount = static_cast<uint64_t>(llK);
        pCandidate->m_ullSectorCount = pCandidate->m_ullClusterCount * ullSectorsPerCluster;
    }
    pCandidate->m_ullMFTReachSectors = static_cast<uint64_t>(llK) * ullSectorsPerCluster;
}

void CNTFSMFTRecordAnalyzer::CandidatesFromMFTRecord(CMFTRecordInfo* pMFT)
{
    const uint64_t ullSector = pMFT->m_ullRecordSector;
    const int64_t llCluster = pMFT->GetFirstCluster();
    CNTFSCandidateList probes;
    if (pMFT->m_bySectorsPerCluster != 0) {
        if (CSearchedNTFSPartitionInfo* pProbe = BuildPartitionInfoAccordingtoFileRecord(
                ullSector, llCluster, pMFT->m_bySectorsPerCluster, NTFS_EVIDENCE_MFT_RECORD, m_ullTotalSectors))
            probes.push_back(pProbe);
    } else {
        BuildPartitionInfoForAllClusterSizes(ullSector, llCluster, NTFS_EVIDENCE_MFT_RECORD, m_ullTotalSectors, probes);
    }
    size_t i = 0;
    for (; i < probes.size(); ++i) {
        CSearchedNTFSPartitionInfo* pProbe = probes[i];
        Adjust(pProbe);
        if (CSearchedNTFSPartitionInfo* pHeld = m_pCandidates->Find(pProbe)) {
            m_pCandidates->UpdateCandidateFlags(pProbe, NTFS_EVIDENCE_MFT_RECORD, 0);
            Adjust(pHeld);
            delete pProbe;
            ++i;
            break;
        }
        m_pCandidates->Insert(pProbe);
    }
    for (; i < probes.size(); ++i)
        delete probes[i];
}

void CNTFSMFTRecordAnalyzer::EvaluatePair(CMFTRecordInfo* pMFT, CMFTMirrRecordInfo* pMirr)
{
    CSearchedNTFSPartitionInfo* pProbe = nullptr;
    if (pMFT->m_bySectorsPerCluster != 0)
        pProbe = BuildPartitionInfoAccordingtoFileRecord(pMFT->m_ullRecordSector, pMirr->GetFirstCluster(),
                                                         pMFT->m_bySectorsPerCluster, NTFS_EVIDENCE_MFT_MIRROR_PAIR,
                                                         m_ullTotalSectors);
    if (pProbe == nullptr) {
        CandidatesFromMFTRecord(pMFT);
        return;
    }
    Adjust(pProbe);
    // Where this candidate puts the $MFT: a pair seen there earlier confirms it.
    bool bConfirmed = false;
    uint64_t ullMFTSector = 0;
    if (ClusterToSector(pProbe->m_ullEvidenceSector, pMFT->GetFirstCluster(), pProbe->m_bySectorsPerCluster,
                        &ullMFTSector)) {
        for (const MFT_RECORD_PAIR& pair : *m_pPairs)
            if (pair.first->m_ullRecordSector == ullMFTSector) {
                bConfirmed = true;
                break;
            }
    }
    if (bConfirmed) {
        m_pCandidates->UpdateCandidateFlags(pProbe, NTFS_EVIDENCE_MFT_CONFIRMED, NTFS_EVIDENCE_MFT_RECORD);
    } else if (CSearchedNTFSPartitionInfo* pHeld = m_pCandidates->Find(pProbe)) {
        m_pCandidates->UpdateCandidateFlags(pProbe, NTFS_EVIDENCE_MFT_MIRROR_PAIR, 0);
        Adjust(pHeld);
    } else {
        if (ListHasRoom(m_Unconfirmed.size()))
            m_Unconfirmed.push_back(MFT_RECORD_PAIR(pMFT, pMirr));
        CandidatesFromMFTRecord(pMFT);
    }
    delete pProbe;
}

void CNTFSMFTRecordAnalyzer::PlaceMirrorCopies()
{
    if (m_Unconfirmed.empty())
        return;
    // The sectors of the $MFT and $MFTMirr records met, sorted once for the look-ups below (a
    // damaged disk may hold as many pairs as the lists keep).
    std::vector<uint64_t, CEngineAllocator<uint64_t>> mftSectors;
    mftSectors.reserve(m_pMFTRecords->size());
    for (const CMFTRecordInfo* pInfo : *m_pMFTRecords)
        mftSectors.push_back(pInfo->m_ullRecordSector);
    std::sort(mftSectors.begin(), mftSectors.end());
    typedef std::pair<uint64_t, const CMFTMirrRecordInfo*> MIRR_AT;
    std::vector<MIRR_AT, CEngineAllocator<MIRR_AT>> mirrRecords;
    mirrRecords.reserve(m_pMirrRecords->size());
    for (const CMFTMirrRecordInfo* pInfo : *m_pMirrRecords)
        mirrRecords.push_back(MIRR_AT(pInfo->m_ullRecordSector, pInfo));
    std::sort(mirrRecords.begin(), mirrRecords.end(),
              [](const MIRR_AT& a, const MIRR_AT& b) { return a.first < b.first; });
    std::vector<std::pair<uint64_t, int64_t>, CEngineAllocator<std::pair<uint64_t, int64_t>>> bitmaps(
        m_LoneBitmaps.begin(), m_LoneBitmaps.end());
    std::sort(bitmaps.begin(), bitmaps.end());

    for (const MFT_RECORD_PAIR& pair : m_Unconfirmed) {
        const CMFTRecordInfo* pMFT = pair.first;
        const CMFTMirrRecordInfo* pMirr = pair.second;
        const uint32_t nSectorsPerCluster = pMFT->m_bySectorsPerCluster;
        const uint64_t ullCopySector = pMFT->m_ullRecordSector;
        CSearchedNTFSPartitionInfo* pProbe =
            BuildPartitionInfoAccordingtoFileRecord(ullCopySector, pMirr->GetFirstCluster(), nSectorsPerCluster,
                                                    NTFS_EVIDENCE_MFT_MIRROR_PAIR, m_ullTotalSectors);
        if (pProbe == nullptr)
            continue;
        if (!MirrorCopyPlacesMFT(pMFT, pMirr, pProbe->m_ullEvidenceSector, mftSectors.data(), mftSectors.size(),
                                 mirrRecords.data(), mirrRecords.size(), m_ullTotalSectors)) {
            delete pProbe;
            continue;
        }
        // The volume that took the copy for $MFT itself: gone when nothing else made it.
        if (CSearchedNTFSPartitionInfo* pMisread =
                BuildPartitionInfoAccordingtoFileRecord(ullCopySector, pMFT->GetFirstCluster(), nSectorsPerCluster,
                                                        NTFS_EVIDENCE_MFT_RECORD, m_ullTotalSectors)) {
            const CSearchedNTFSPartitionInfo* pHeld = m_pCandidates->Find(pMisread);
            if (pHeld != nullptr && pHeld->GetFlags() == NTFS_EVIDENCE_MFT_RECORD &&
                pHeld->m_ullMFTRecordSector == ullCopySector)
                m_pCandidates->UpdateCandidateFlags(pMisread, 0, NTFS_EVIDENCE_MFT_RECORD);
            delete pMisread;
        }
        CSearchedNTFSPartitionInfo* pVolume = m_pCandidates->Find(pProbe);
        if (pVolume != nullptr) {
            pVolume->AddFlags(NTFS_EVIDENCE_MFT_MIRROR_PAIR);
            delete pProbe;
        } else {
            pVolume = pProbe;
            m_pCandidates->Insert(pVolume);
        }
        if (pVolume->m_ullMFTRecordSector == NTFS_UNKNOWN_SECTOR)
            pVolume->m_ullMFTRecordSector = ullCopySector;
        // Without a boot sector the volume would run to the disk's end, over the partitions
        // that follow it: its $Bitmap, at its place, tells how many clusters it has.
        const uint64_t ullBitmap = RecordNumberToSector(kBitmapRecordNumber, pVolume->m_ullEvidenceSector,
                                                        nSectorsPerCluster, pMFT->m_Runs, pMFT->m_bySectorsPerRecord);
        const auto it = std::lower_bound(bitmaps.begin(), bitmaps.end(), std::make_pair(ullBitmap, INT64_MIN));
        if ((pVolume->GetFlags() & (NTFS_EVIDENCE_BOOT_SECTOR | NTFS_EVIDENCE_BACKUP_BOOT_SECTOR)) == 0 &&
            ullBitmap != NTFS_UNKNOWN_SECTOR && it != bitmaps.end() && it->first == ullBitmap && it->second > 0 &&
            static_cast<uint64_t>(it->second) < pVolume->m_ullClusterCount) {
            pVolume->m_ullClusterCount = static_cast<uint64_t>(it->second);
            pVolume->m_ullSectorCount = pVolume->m_ullClusterCount * nSectorsPerCluster;
            pVolume->m_ullMFTReachSectors = pVolume->m_ullSectorCount;
        }
    }
    m_Unconfirmed.clear();
}
