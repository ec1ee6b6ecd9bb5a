#include "NTFSSearchController.h"

#include <cstring>

#include "DataStreamIO.h"
#include "EngineMemory.h"
#include "FileRecordHolder.h"
#include "IStorageDevice.h"
#include "NTFSDBR.h"
#include "NTFSFileRecord.h"
#include "NTFSFileRecordAttribute.h"
#include "NTFSFolderRecordInfo.h"
#include "NTFSIndexRecord.h"
#include "NTFSRecordMapping.h"
#include "NTFSSystemFileImages.h"
#include "SearchStatistics.h"
#include "StorageDeviceWithCache.h"

using namespace DataStreamIO;

namespace {

const size_t kSectorBytes = 512;
// The window examined at each sector position.
const uint64_t kWindowSectors = 16;
// A FILE record as the scan reads it, and an INDX block.
const size_t kRecordBytes = 1024;
const uint64_t kRecordSectors = 2;
const size_t kIndexBlockBytes = 4096;
const uint64_t kIndexBlockSectors = 8;
const uint64_t kRootFolderNumber = 5;
// A $Bitmap is kept in whole 8-byte words: it may describe up to 64 clusters past the volume.
const uint64_t kBitmapSlackClusters = 64;
// Candidates beyond this many need more than the lowest score to stay.
const size_t kCandidatesKeptUnscored = 1000;
const uint64_t kLowestKeptScore = 10;
// With more candidates than this left, those made of one INDX block alone go.
const size_t kIndexOnlyLimit = 49;

bool Signature(const uint8_t* p, const char* pszSignature)
{
    return memcmp(p, pszSignature, 4) == 0;
}

// The read-ahead cache's filter: false for every sector in which the scan below finds nothing
// (no boot sector, no signature it looks for, no sector of the $AttrDef or $UpCase images).
// Which of the filter's tests can pass, by a sector's first byte: a signature's first letter, and
// the first bytes of the $AttrDef and $UpCase image sectors (a sector matches one only when all its
// bytes are the image's). Most sectors of file data begin with a byte none of them has.
struct NTFS_LEAD_BYTES {
    enum { kSignature = 1, kAttrDef = 2, kUpCase = 4 };
    uint8_t abyTests[256];

    NTFS_LEAD_BYTES()
    {
        memset(abyTests, 0, sizeof(abyTests));
        for (const char* pszSignature : {"FILE", "INDX", "RSTR"})
            abyTests[static_cast<uint8_t>(pszSignature[0])] |= kSignature;
        abyTests[NTFS_RCRD_SIGNATURE & 0xFF] |= kSignature;
        const uint8_t* pAttrDef = GetNTFSAttrDefImage();
        for (size_t nOffset = 0; nOffset + kSectorBytes <= NTFS_ATTRDEF_IMAGE_BYTES; nOffset += kSectorBytes)
            abyTests[pAttrDef[nOffset]] |= kAttrDef;
        const uint8_t* pUpCase = GetNTFSUpCaseImage();
        for (size_t nOffset = 0; nOffset + kSectorBytes <= NTFS_UPCASE_IMAGE_BYTES; nOffset += kSectorBytes)
            abyTests[pUpCase[nOffset]] |= kUpCase;
    }
};

// The read-ahead cache's filter: false for every sector in which the scan below finds nothing
// (no boot sector, no signature it looks for, no sector of the $AttrDef or $UpCase images).
bool MayHoldNTFSEvidence(const uint8_t* pSector)
{
    // Built once, on whichever thread comes first; read-only afterwards.
    static const NTFS_LEAD_BYTES lead;
    const uint8_t byTests = lead.abyTests[pSector[0]];
    if ((byTests & NTFS_LEAD_BYTES::kSignature) != 0 &&
        (Signature(pSector, "FILE") || Signature(pSector, "INDX") || Signature(pSector, "RSTR") ||
         IsRCRDPage(pSector, kSectorBytes)))
        return true;
    if ((byTests & NTFS_LEAD_BYTES::kAttrDef) != 0 && IsAttrDefImageSector(pSector))
        return true;
    if ((byTests & NTFS_LEAD_BYTES::kUpCase) != 0 && IsUpCaseImageSector(pSector))
        return true;
    // A boot sector may begin with any byte; its OEM name "NTFS    " (in either case) begins at
    // byte 3, and it ends with the boot signature: two bytes rule out nearly every other sector
    // before the full test is called.
    if ((pSector[3] & 0xDF) != 'N' || pSector[511] != 0xAA)
        return false;
    return IsValidNTFSDBR(pSector, kSectorBytes);
}

uint64_t ScoreTerm(uint64_t ullSeen, uint64_t ullFull)
{
    // Whole-number division: 10 once the whole file was seen, else 0.
    const uint64_t ullTerm = ullSeen == ~0ull ? 0 : (ullSeen / ullFull) * 10;
    return ullTerm < 10 ? ullTerm : 10;
}

} // namespace

CNTFSSearchController::CNTFSSearchController()
    : m_pProgress(nullptr), m_pCancel(nullptr), m_nSectorsPerRead(0), m_pDevice(nullptr), m_ullTotalSectors(0),
      m_pBuffer(nullptr), m_ullBufferSectors(0), m_pRawFiles(nullptr), m_pMFTAnalyzer(nullptr),
      m_pAttrDefAnalyzer(nullptr), m_pUpCaseAnalyzer(nullptr), m_pLogFileAnalyzer(nullptr), m_pHeldIndex(nullptr),
      m_ullHeldIndexSector(0), m_nHeldIndexSectors(0), m_pHeldRecord(nullptr), m_pRecordCopy(nullptr), m_ullHeldRecordSector(0),
      m_bRecordHeld(false), m_nFilterBit(-1)
{
}

CNTFSSearchController::~CNTFSSearchController()
{
    FreeSearchState();
    FreeKeptLists();
}

void CNTFSSearchController::FreeSearchState()
{
    FreeBuffer(m_pBuffer);
    m_pBuffer = nullptr;
    m_ullBufferSectors = 0;
    delete m_pMFTAnalyzer;
    delete m_pAttrDefAnalyzer;
    delete m_pUpCaseAnalyzer;
    delete m_pLogFileAnalyzer;
    m_pMFTAnalyzer = nullptr;
    m_pAttrDefAnalyzer = nullptr;
    m_pUpCaseAnalyzer = nullptr;
    m_pLogFileAnalyzer = nullptr;
    m_Pairs.clear();
    for (CMFTMirrRecordInfo* pInfo : m_MirrRecords)
        delete pInfo;
    m_MirrRecords.clear();
    for (auto& entry : m_FolderRecords)
        delete entry.second;
    m_FolderRecords.clear();
    m_IndexBlocks.clear();
    m_TypedFiles.clear();
    m_TypedFiles.shrink_to_fit();
    FreeBuffer(m_pHeldIndex);
    m_pHeldIndex = nullptr;
    m_nHeldIndexSectors = 0;
    FreeBuffer(m_pHeldRecord);
    m_pHeldRecord = nullptr;
    FreeBuffer(m_pRecordCopy);
    m_pRecordCopy = nullptr;
    m_bRecordHeld = false;
}

void CNTFSSearchController::FreeKeptLists()
{
    for (CMFTRecordInfo* pInfo : m_MFTRecords)
        delete pInfo;
    m_MFTRecords.clear();
    m_Extents.clear();
}

void CNTFSSearchController::SetStorageDevice(IStorageDevice* pDevice)
{
    m_pDevice = pDevice;
    // Through the read-ahead cache, the sectors worth a look are marked as each block is read.
    m_nFilterBit = -1;
    if (CStorageDeviceWithCache* pCache = dynamic_cast<CStorageDeviceWithCache*>(pDevice))
        m_nFilterBit = pCache->AddSectorFilter(&MayHoldNTFSEvidence);
}

void CNTFSSearchController::SetSectorsPerRead(int32_t nSectorsPerRead)
{
    m_nSectorsPerRead = nSectorsPerRead;
}

void CNTFSSearchController::SetRawFileInfoContainer(CRawFileInfoContainer* pContainer)
{
    m_pRawFiles = pContainer;
}

void CNTFSSearchController::SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
{
    m_pProgress = pProgress;
    m_pCancel = pnCancel;
}

int32_t CNTFSSearchController::GetControllerType()
{
    return SEARCH_CONTROLLER_NTFS;
}

BOOL CNTFSSearchController::IsSupportedFileSystem(int32_t nFileSystemKind)
{
    return nFileSystemKind == FILE_SYSTEM_NTFS ? TRUE : FALSE;
}

void CNTFSSearchController::BeginSearch()
{
    FreeSearchState();
    m_ullTotalSectors = m_pDevice != nullptr ? m_pDevice->GetTotalSectors() : 0;
    m_pMFTAnalyzer =
        new CNTFSMFTRecordAnalyzer(&m_MFTRecords, &m_MirrRecords, &m_Candidates, &m_Pairs, m_ullTotalSectors);
    m_pAttrDefAnalyzer = new CNTFSAttrDefAnalyzer();
    m_pUpCaseAnalyzer = new CNTFSUpCaseAnalyzer();
    m_pLogFileAnalyzer = new CNTFSLogFileAnalyzer(&m_Candidates, m_ullTotalSectors);
    m_ullBufferSectors = m_nSectorsPerRead > 0 ? static_cast<uint64_t>(m_nSectorsPerRead) : 0;
    if (m_ullBufferSectors != 0)
        m_pBuffer = reinterpret_cast<uint8_t*>(AllocBuffer(static_cast<size_t>(m_ullBufferSectors) * kSectorBytes));
    m_pHeldIndex = reinterpret_cast<uint8_t*>(AllocBuffer(kIndexBlockBytes));
    m_pHeldRecord = reinterpret_cast<uint8_t*>(AllocBuffer(kRecordBytes));
    m_pRecordCopy = reinterpret_cast<uint8_t*>(AllocBuffer(kRecordBytes));
}

int32_t CNTFSSearchController::SearchSectors(uint64_t ullFirstSector, uint64_t ullSectorCount,
                                             SEARCH_STATISTICS* pStatistics)
{
    if (m_pDevice == nullptr || m_pMFTAnalyzer == nullptr || ullSectorCount == 0)
        return 1;
    if (ullSectorCount > m_ullBufferSectors) {
        // A caller that reads more than it announced gets a buffer that holds it.
        FreeBuffer(m_pBuffer);
        m_ullBufferSectors = ullSectorCount;
        m_pBuffer = reinterpret_cast<uint8_t*>(AllocBuffer(static_cast<size_t>(ullSectorCount) * kSectorBytes));
    }
    // The block scan hands out the block that its cache holds: it is looked at in place (never
    // written: a file record is fixed up in a copy of its own). Any other device is read into a
    // buffer of this controller.
    const uint8_t* pData = nullptr;
    const uint8_t* pMarks = nullptr;
    if (CStorageDeviceWithCache* pCache = dynamic_cast<CStorageDeviceWithCache*>(m_pDevice)) {
        pData = pCache->PeekSectors(ullFirstSector, ullSectorCount);
        if (pData != nullptr && m_nFilterBit >= 0)
            pMarks = pCache->PeekSectorMarks(ullFirstSector, ullSectorCount);
    }
    const uint8_t byMask = pMarks != nullptr ? static_cast<uint8_t>(1u << m_nFilterBit) : 0;
    if (pData == nullptr) {
        const size_t nBytes = static_cast<size_t>(ullSectorCount) * kSectorBytes;
        // What a failed read leaves in the buffer is not the disk's: it reads as zeros, so no
        // stale bytes of an earlier block make evidence here.
        if (!m_pDevice->ReadSectors(m_pBuffer, ullFirstSector, ullSectorCount))
            memset(m_pBuffer, 0, nBytes);
        pData = m_pBuffer;
    }

    const uint64_t ullEnd = ullFirstSector + ullSectorCount;
    uint64_t nBootSectors = 0;
    uint64_t nFileRecords = 0;
    for (uint64_t i = 0; i < ullSectorCount; ++i) {
        const uint64_t ullSector = ullFirstSector + i;
        if (pMarks != nullptr && (pMarks[i] & byMask) == 0 && m_nHeldIndexSectors == 0 && !m_bRecordHeld) {
            // Nothing to find here and nothing held from the block before: all that the steps
            // below would do is tell the $MFT analyzer that no FILE record starts here (they do
            // not for the block's last sector, where a record could not fit).
            if (i + 1 < ullSectorCount)
                m_pMFTAnalyzer->CheckEmptyPosition(ullSector);
            continue;
        }
        const uint8_t* pSector = pData + i * kSectorBytes;
        const uint64_t nWindowSectors = ullSectorCount - i < kWindowSectors ? ullSectorCount - i : kWindowSectors;
        const size_t nWindow = static_cast<size_t>(nWindowSectors) * kSectorBytes;
        if (IsValidNTFSDBR(pSector, kSectorBytes)) {
            AnalyzeBootSector(ullSector, pSector);
            ++nBootSectors;
        } else if (Signature(pSector, "RSTR") && IsRSTRPage(pSector, nWindow)) {
            m_pLogFileAnalyzer->AnalyzeRSTRRecord(ullSector, pSector);
        } else {
            AnalyzeIndexWindow(ullSector, pSector, nWindow, ullEnd);
        }
        if (AnalyzeFileRecordWindow(ullSector, pSector, nWindow, ullEnd))
            ++nFileRecords;
        m_pAttrDefAnalyzer->CheckSector(ullSector, pSector);
        m_pUpCaseAnalyzer->CheckSector(ullSector, pSector);
    }
    m_pLogFileAnalyzer->ScanLogPages(pData, ullFirstSector, ullSectorCount, pMarks, byMask);

    if (pStatistics != nullptr) {
        pStatistics->NTFSBootRecords += nBootSectors;
        pStatistics->ullNTFSCounter13 += nBootSectors;
        pStatistics->NTFSFileRecords += nFileRecords;
        pStatistics->TotalFilesFound += nFileRecords;
        pStatistics->ullNTFSCounter14 += nFileRecords;
        pStatistics->ullBlockCounter16 = nFileRecords;
    }
    return 1;
}

void CNTFSSearchController::AnalyzeBootSector(uint64_t ullSector, const uint8_t* pSector)
{
    CNTFSDBR dbr;
    if (!dbr.SetIfValid(pSector, kSectorBytes))
        return;
    const uint64_t ullTotal = dbr.GetTotalSectors();
    // Signed: a backup boot sector near the device's start places its volume before it.
    const int64_t llSector = static_cast<int64_t>(ullSector);
    const int64_t llTotal = ullTotal > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(ullTotal);
    const int64_t llBackupStart = llSector - llTotal;

    // The sector taken as the backup boot sector at the end of a volume that starts T before.
    if (CSearchedNTFSPartitionInfo* pBackup =
            BuildPartitionInfoAccordingtoDBR(dbr, llBackupStart, NTFS_EVIDENCE_BACKUP_BOOT_SECTOR, m_ullTotalSectors)) {
        bool bBackup = false;
        if (CSearchedNTFSPartitionInfo* pSame = m_Candidates.Find(pBackup)) {
            pSame->AddFlags(NTFS_EVIDENCE_BACKUP_BOOT_SECTOR);
            bBackup = (pSame->m_ullSectorCount == pBackup->m_ullSectorCount &&
                       pSame->GetSerialNumber() == pBackup->GetSerialNumber()) ||
                      (pSame->GetFlags() & NTFS_EVIDENCE_BOOT_SECTOR) != 0;
            // A volume whose own boot sector is gone but whose $MFT was found there, with a
            // $Bitmap that describes just this size: the sector is that volume's backup boot
            // sector, not the start of another volume (which would overlap the next one).
            const uint64_t ullReach = pSame->m_ullMFTReachSectors;
            const uint64_t ullSize = pBackup->m_ullSectorCount;
            if (!bBackup &&
                (pSame->GetFlags() & (NTFS_EVIDENCE_MFT_CONFIRMED | NTFS_EVIDENCE_MFT_RECORD |
                                      NTFS_EVIDENCE_MFT_MIRROR_PAIR)) != 0 &&
                ullReach != ~0ull && ullReach >= ullSize && ullReach - ullSize <= kBitmapSlackClusters * dbr.GetSectorsPerCluster()) {
                bBackup = true;
                if (pSame->GetSerialNumber() == 0)
                    pSame->SetSerialNumber(pBackup->GetSerialNumber());
            }
        }
        if (bBackup) {
            // The boot sector at S - T is a primary one: the backup reading it gave of itself,
            // a volume at S - 2T, is withdrawn, and this sector makes no volume of its own.
            if (llBackupStart >= llTotal) {
                pBackup->m_ullEvidenceSector = static_cast<uint64_t>(llBackupStart - llTotal);
                m_Candidates.UpdateCandidateFlags(pBackup, 0, NTFS_EVIDENCE_BACKUP_BOOT_SECTOR);
            }
            delete pBackup;
            return;
        }
        if (CSearchedNTFSPartitionInfo* pSame = m_Candidates.Find(pBackup)) {
            if (pSame->m_ullSectorCount == 0) {
                pSame->m_ullSectorCount = pBackup->m_ullSectorCount;
                pSame->m_ullClusterCount = pBackup->m_ullClusterCount;
            }
            delete pBackup;
        } else {
            m_Candidates.Insert(pBackup);
        }
    }

    // The sector taken as the boot sector at the start of its volume.
    if (CSearchedNTFSPartitionInfo* pPrimary =
            BuildPartitionInfoAccordingtoDBR(dbr, llSector, NTFS_EVIDENCE_BOOT_SECTOR, m_ullTotalSectors)) {
        if (CSearchedNTFSPartitionInfo* pSame = m_Candidates.Find(pPrimary)) {
            // Evidence seen earlier for the same volume: the boot sector tells its size.
            pSame->AddFlags(NTFS_EVIDENCE_BOOT_SECTOR);
            pSame->SetSerialNumber(pPrimary->GetSerialNumber());
            pSame->m_ullClusterCount = pPrimary->m_ullClusterCount;
            pSame->m_ullSectorCount = pPrimary->m_ullSectorCount;
            delete pPrimary;
        } else {
            m_Candidates.Insert(pPrimary);
        }
    }
}

void CNTFSSearchController::AnalyzeIndexWindow(uint64_t ullSector, const uint8_t* pWindow, size_t nLength,
                                               uint64_t ullReadEnd)
{
    (void)ullReadEnd;
    if (m_nHeldIndexSectors != 0) {
        const uint64_t ullJoin = m_ullHeldIndexSector + m_nHeldIndexSectors;
        if (ullSector < ullJoin)
            return;
        const uint64_t nHeld = m_nHeldIndexSectors;
        m_nHeldIndexSectors = 0;
        if (ullSector == ullJoin && nLength >= (kIndexBlockSectors - nHeld) * kSectorBytes) {
            memcpy(m_pHeldIndex + nHeld * kSectorBytes, pWindow,
                   static_cast<size_t>((kIndexBlockSectors - nHeld) * kSectorBytes));
            AnalyzeIndexBlock(m_ullHeldIndexSector, m_pHeldIndex, kIndexBlockBytes);
        }
    }
    if (!Signature(pWindow, "INDX"))
        return;
    if (nLength < kIndexBlockBytes) {
        // The block runs into the next read.
        if (m_pHeldIndex != nullptr) {
            memcpy(m_pHeldIndex, pWindow, nLength);
            m_ullHeldIndexSector = ullSector;
            m_nHeldIndexSectors = nLength / kSectorBytes;
        }
        return;
    }
    AnalyzeIndexBlock(ullSector, pWindow, nLength);
}

void CNTFSSearchController::AnalyzeIndexBlock(uint64_t ullSector, const uint8_t* pBlock, size_t nLength)
{
    if (!IsValidIndexBlock(pBlock, nLength))
        return;
    const uint64_t ullOwner = GetIndexBlockParent(pBlock, nLength);
    if (ullOwner == NTFS_NO_RECORD_NUMBER || ullOwner == kRootFolderNumber)
        return;
    const uint64_t ullVcn = GetIndexBlockVCN(pBlock, nLength);
    for (auto it = m_FolderRecords.lower_bound(ullOwner); it != m_FolderRecords.end() && it->first == ullOwner; ++it)
        MergeIndexCandidate(ullSector, ullVcn, *it->second);
    if (m_IndexBlocks.size() < NTFS_SEARCH_LIST_LIMIT)
        m_IndexBlocks.emplace(ullOwner, NTFS_INDEX_BLOCK_ENTRY{ullSector, ullVcn});
}

void CNTFSSearchController::MergeIndexCandidate(uint64_t ullBlockSector, uint64_t ullVcn,
                                                const CNTFSFolderRecordInfo& folder)
{
    if (folder.m_nSectorsPerCluster <= 0)
        return;
    const uint64_t ullSectorsPerCluster = static_cast<uint64_t>(folder.m_nSectorsPerCluster);
    // An index block's VCN counts clusters, except where a cluster is larger than the 4 KiB
    // block: then it counts 512-byte units, and the block may start inside its cluster.
    uint64_t ullClusterVcn = ullVcn;
    uint64_t ullInCluster = 0;
    if (ullSectorsPerCluster > kIndexBlockSectors) {
        ullClusterVcn = ullVcn / ullSectorsPerCluster;
        ullInCluster = ullVcn % ullSectorsPerCluster;
    }
    const int64_t llCluster = folder.MapVCN(ullClusterVcn);
    if (llCluster < 0 || ullInCluster > ullBlockSector)
        return;
    CSearchedNTFSPartitionInfo* pProbe = BuildPartitionInfoAccordingtoFileRecord(
        ullBlockSector - ullInCluster, llCluster, static_cast<uint32_t>(ullSectorsPerCluster), NTFS_EVIDENCE_INDEX_BLOCK,
        m_ullTotalSectors);
    if (pProbe == nullptr)
        return;
    if (CSearchedNTFSPartitionInfo* pSame = m_Candidates.Find(pProbe)) {
        pSame->AddFlags(NTFS_EVIDENCE_INDEX_BLOCK);
        ++pSame->m_ullRecordMatches;
        delete pProbe;
    } else {
        m_Candidates.Insert(pProbe);
    }
}

bool CNTFSSearchController::AnalyzeFileRecordWindow(uint64_t ullSector, const uint8_t* pWindow, size_t nLength,
                                                    uint64_t ullReadEnd)
{
    (void)ullReadEnd;
    if (m_bRecordHeld) {
        m_bRecordHeld = false;
        if (ullSector == m_ullHeldRecordSector + 1) {
            // The record's second half opens this read.
            memcpy(m_pHeldRecord + kSectorBytes, pWindow, kSectorBytes);
            return AnalyzeFileRecord(m_ullHeldRecordSector, m_pHeldRecord, kRecordBytes);
        }
    }
    if (nLength < kRecordBytes) {
        // The last sector of the read: a record that starts here is completed by the next read.
        // The header is tested as a 1024-byte record's, whose update sequence covers two sectors;
        // only its first sector's bytes are looked at.
        if (m_pHeldRecord != nullptr && Signature(pWindow, "FILE")) {
            memset(m_pHeldRecord, 0, kRecordBytes);
            memcpy(m_pHeldRecord, pWindow, kSectorBytes);
            if (IsFileRecordHeader(m_pHeldRecord, kRecordBytes)) {
                m_ullHeldRecordSector = ullSector;
                m_bRecordHeld = true;
            }
        }
        return false;
    }
    return AnalyzeFileRecord(ullSector, pWindow, kRecordBytes);
}

bool CNTFSSearchController::AnalyzeFileRecord(uint64_t ullSector, const uint8_t* pRecord, size_t nLength)
{
    if (!Signature(pRecord, "FILE")) {
        m_pMFTAnalyzer->CheckEmptyPosition(ullSector);
        return false;
    }
    // The holder applies the record's fix-ups in place: a record of the scanned block (which
    // the other controllers read as well) is first copied; the held record is a copy already.
    if (nLength > kRecordBytes)
        nLength = kRecordBytes;
    uint8_t* pWork = pRecord == m_pHeldRecord ? m_pHeldRecord : m_pRecordCopy;
    if (pWork != pRecord)
        memcpy(pWork, pRecord, nLength);
    const CFileRecordHolder holder(pWork, nLength, false);
    m_pMFTAnalyzer->CheckRecord(ullSector, holder);
    if (!holder.IsValid())
        return false;
    if (IsFolderWithIndexAllocation(holder))
        AnalyzeFolderRecord(ullSector, holder);
    else if (IsLogFileFileRecord(holder))
        m_pLogFileAnalyzer->AddLogFileRecord(ullSector, holder);
    else if (IsAttrDefFileRecord(holder))
        m_pAttrDefAnalyzer->AddRecord(ullSector, holder);
    else if (IsUpCaseFileRecord(holder))
        m_pUpCaseAnalyzer->AddRecord(ullSector, holder);
    else
        AnalyzeOrdinaryRecord(ullSector, holder);
    return true;
}

void CNTFSSearchController::AnalyzeFolderRecord(uint64_t ullSector, const CFileRecordHolder& holder)
{
    if (m_FolderRecords.size() >= NTFS_SEARCH_LIST_LIMIT)
        return;
    CNTFSFolderRecordInfo* pFolder = new CNTFSFolderRecordInfo();
    if (!pFolder->SetFromRecord(holder.GetRecord(), holder.GetLength(), ullSector)) {
        delete pFolder;
        return;
    }
    // The allocated size of the index allocation is a whole number of clusters, so it tells the
    // cluster size where the initialized size (a few 4 KiB blocks in one large cluster) does not.
    if (const uint8_t* pAllocation = holder.FindAttribute(NTFS_ATTR_INDEX_ALLOCATION, 0)) {
        const uint64_t ullClusters = pFolder->m_IndexRuns.GetTotalLength();
        const uint64_t ullAllocated = GetAllocatedSize(pAllocation);
        if (ullClusters != 0 && ullClusters <= ullAllocated / kSectorBytes && ullAllocated % (ullClusters * kSectorBytes) == 0) {
            const uint64_t ullSectors = ullAllocated / (ullClusters * kSectorBytes);
            if (ullSectors <= NTFS_MAX_SECTORS_PER_CLUSTER && (ullSectors & (ullSectors - 1)) == 0)
                pFolder->m_nSectorsPerCluster = static_cast<int32_t>(ullSectors);
        }
    }
    const uint64_t ullNumber = pFolder->m_ullFolderNumber;
    m_FolderRecords.emplace(ullNumber, pFolder);
    // INDX blocks of this folder met before its record.
    for (auto it = m_IndexBlocks.lower_bound(ullNumber); it != m_IndexBlocks.end() && it->first == ullNumber; ++it)
        MergeIndexCandidate(it->second.ullSector, it->second.ullVcn, *pFolder);
    AddExtent(ullSector);
}

void CNTFSSearchController::AddExtent(uint64_t ullSector)
{
    if (!m_Extents.empty() && m_Extents.back().TryExtend(ullSector))
        return;
    m_Extents.push_back(FILE_RECORD_EXTENT(ullSector));
}

void CNTFSSearchController::AnalyzeOrdinaryRecord(uint64_t ullSector, const CFileRecordHolder& holder)
{
    if (holder.IsExtension())
        return;
    if (m_MFTRecords.size() >= NTFS_SEARCH_LIST_LIMIT && IsMFTFileRecord(holder))
        return;
    if (m_MirrRecords.size() >= NTFS_SEARCH_LIST_LIMIT && IsMFTMirrFileRecord(holder))
        return;
    if (m_pLogFileAnalyzer->GetRecordCount() >= NTFS_SEARCH_LIST_LIMIT)
        return;
    AddExtent(ullSector);

    // A named file of a built-in type: where its data starts, to be checked against the carving.
    const uint8_t* pName = holder.FindAttribute(NTFS_ATTR_FILE_NAME, 0);
    if (pName == nullptr)
        return;
    const std::u16string strName = GetFileNameText(pName);
    if (strName.empty() || strName.size() > 255)
        return;
    CNTFSRunList runs;
    int64_t llRealSize = 0;
    if (!CollectDataRuns(holder, &runs, true, &llRealSize) || runs.IsEmpty())
        return;
    const int64_t llCluster = runs.VcnToLcn(0);
    if (llCluster < 0)
        return;
    TYPED_FILE_ENTRY entry;
    if (entry.SetFromWideName(strName.data(), static_cast<uint8_t>(strName.size()), static_cast<uint64_t>(llCluster),
                              ullSector))
        AppendTypedFileEntry(m_TypedFiles, entry);
}

void CNTFSSearchController::EndSearch()
{
    if (m_pMFTAnalyzer != nullptr) {
        m_pMFTAnalyzer->FinishGroup();  // a group open when the device ended
        m_pMFTAnalyzer->PlaceMirrorCopies();
    }
    const size_t nCandidates = m_Candidates.size();
    size_t nIndex = 0;
    for (auto it = m_Candidates.begin(); it != m_Candidates.end(); ++nIndex) {
        CSearchedNTFSPartitionInfo* pCandidate = *it;
        if (m_pAttrDefAnalyzer != nullptr) {
            m_pAttrDefAnalyzer->FillCandidate(pCandidate);
            m_pUpCaseAnalyzer->FillCandidate(pCandidate);
            m_pLogFileAnalyzer->FillCandidate(pCandidate);
        }
        if (pCandidate->m_ullMFTRecordSector != NTFS_UNKNOWN_SECTOR) {
            pCandidate->m_bUseMFTSets = 1;
            pCandidate->m_bOnlyRecordsInMFT = 0;
        }
        const uint32_t dwFlags = pCandidate->GetFlags();
        uint64_t ullScore = 0;
        for (uint32_t dwBit : {NTFS_EVIDENCE_BOOT_SECTOR, NTFS_EVIDENCE_BACKUP_BOOT_SECTOR, NTFS_EVIDENCE_MFT_RECORD,
                               NTFS_EVIDENCE_MFT_MIRROR_PAIR, NTFS_EVIDENCE_LOG_RESTART, NTFS_EVIDENCE_LOG_RESTART2})
            if (dwFlags & dwBit)
                ullScore += 10;
        if (dwFlags & NTFS_EVIDENCE_MFT_CONFIRMED)
            ullScore += 30;
        ullScore += ScoreTerm(pCandidate->m_ullUpCaseSectorsSeen, 256);
        ullScore += ScoreTerm(pCandidate->m_ullLogFileSectorsSeen, 10000);
        ullScore += ScoreTerm(pCandidate->m_ullAttrDefSectorsSeen, 5);
        pCandidate->m_ullConfidence = ullScore;

        if (nCandidates <= kCandidatesKeptUnscored || nIndex < kCandidatesKeptUnscored || ullScore > kLowestKeptScore) {
            pCandidate->m_ullStartSector = pCandidate->m_ullEvidenceSector;
            CountRawFileMatches(m_TypedFiles, m_pRawFiles, pCandidate);
            ++it;
        } else {
            it = m_Candidates.Erase(it);
        }
    }
    if (m_Candidates.size() > kIndexOnlyLimit) {
        for (auto it = m_Candidates.begin(); it != m_Candidates.end();) {
            const CSearchedNTFSPartitionInfo* pCandidate = *it;
            if (pCandidate->GetFlags() == NTFS_EVIDENCE_INDEX_BLOCK && pCandidate->m_ullRecordMatches == 0 &&
                pCandidate->m_ullRawFileMatches == 0)
                it = m_Candidates.Erase(it);
            else
                ++it;
        }
    }
    FreeSearchState();
}

void CNTFSSearchController::CollectSearchedPartitions(CSearchedPartitionInfoList* pCandidates)
{
    if (pCandidates == nullptr)
        return;
    CNTFSCandidateList handed;
    m_Candidates.ReleaseAll(handed);
    for (CSearchedNTFSPartitionInfo* pCandidate : handed)
        pCandidates->push_back(pCandidate);
}

BOOL CNTFSSearchController::SaveState(IDataStream* pWriter)
{
    if (pWriter == nullptr)
        return FALSE;
    if (!WriteLE(pWriter, static_cast<uint64_t>(m_MFTRecords.size())))
        return FALSE;
    for (const CMFTRecordInfo* pInfo : m_MFTRecords)
        if (!pInfo->Save(pWriter))
            return FALSE;
    if (!WriteLE(pWriter, static_cast<uint64_t>(m_Extents.size())))
        return FALSE;
    for (const FILE_RECORD_EXTENT& extent : m_Extents)
        if (!extent.Save(pWriter))
            return FALSE;
    return TRUE;
}

BOOL CNTFSSearchController::LoadState(IDataStream* pReader)
{
    if (pReader == nullptr)
        return FALSE;
    uint64_t ullCount = 0;
    if (!ReadLE(pReader, ullCount))
        return FALSE;
    // Each object is read before it is kept, so a damaged count only ends the load.
    for (uint64_t i = 0; i < ullCount; ++i) {
        CMFTRecordInfo* pInfo = new CMFTRecordInfo();
        if (!pInfo->Load(pReader)) {
            delete pInfo;
            return FALSE;
        }
        m_MFTRecords.push_back(pInfo);
    }
    if (!ReadLE(pReader, ullCount))
        return FALSE;
    for (uint64_t i = 0; i < ullCount; ++i) {
        FILE_RECORD_EXTENT extent;
        if (!extent.Load(pReader))
            return FALSE;
        m_Extents.push_back(extent);
    }
    return TRUE;
}

CFileSystemNode* CNTFSSearchController::BuildFileTree(CSearchedPartitionInfo* pCandidate, IStorageDevice* pDisk,
                                                      int32_t nIndex, int32_t nOption)
{
    CNTFSScanTreeBuilder builder;
    builder.SetProgress(m_pProgress, m_pCancel);
    const NTFS_SCAN_LISTS lists = {&m_MFTRecords, &m_Extents};
    return builder.BuildTree(lists, pCandidate, m_pRawFiles, pDisk, nIndex, nOption);
}
