#include "NTFSScanTreeBuilder.h"

#include <cstdlib>
#include <cstring>

#include "ClusterUseBitMap.h"
#include "EngineSettings.h"
#include "FileNode.h"
#include "FileRecordHolder.h"
#include "FileSystemNode.h"
#include "IStorageDevice.h"
#include "MFTFileRecordSet.h"
#include "MFTRecordInfo.h"
#include "NTFSDirectoryTreeAssembler.h"
#include "NTFSFileProperties.h"
#include "NTFSFileRecord.h"
#include "NTFSFileRecordItem.h"
#include "NTFSFullFileRecord.h"
#include "NTFSRecordMapping.h"
#include "NTFSSearchedPartitionInfo.h"
#include "NTFSVolumeLabelReader.h"
#include "GlobalAdvanceSettingData.h"
#include "ProgressRecord.h"
#include "RAWTreeBuilder.h"
#include "RawFileInfo.h"

namespace {

const size_t kSectorBytes = 512;
// FILE records as the scan collected them: 1024 bytes, two sectors.
const size_t kRecordBytes = 1024;
const uint32_t kSectorsPerRecord = 2;
// $Volume, which holds the label.
const uint64_t kVolumeRecordNumber = 3;
// Records 0 to 4 are system files; 5 is the root folder.
const uint64_t kFirstFolderNumber = 5;

typedef std::vector<uint8_t, CEngineAllocator<uint8_t>> CByteBuffer;

// The highest cluster that the runs reach; -1 for none.
int64_t HighestCluster(const CNTFSRunList& runs)
{
    int64_t llHighest = -1;
    for (const NTFS_RUN* pRun : runs) {
        if (pRun->llLcn < 0 || pRun->ullLength == 0)
            continue;
        const uint64_t ullLast = static_cast<uint64_t>(pRun->llLcn) + pRun->ullLength - 1;
        if (ullLast > static_cast<uint64_t>(INT64_MAX))
            return INT64_MAX;
        if (static_cast<int64_t>(ullLast) > llHighest)
            llHighest = static_cast<int64_t>(ullLast);
    }
    return llHighest;
}

} // namespace

CNTFSScanTreeBuilder::CNTFSScanTreeBuilder()
    : m_pDevice(nullptr), m_ullStartSector(~0ull), m_nSectorsPerCluster(0), m_ScanLists{nullptr, nullptr},
      m_pCandidate(nullptr), m_pRawFiles(nullptr), m_nPartitionIndex(-1), m_nRawTreeArgument(0), m_pRoot(nullptr),
      m_pProgress(nullptr), m_pCancel(nullptr), m_nProgressTotal(0)
{
}

CNTFSScanTreeBuilder::~CNTFSScanTreeBuilder()
{
    FreeItems();
}

void CNTFSScanTreeBuilder::SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
{
    m_pProgress = pProgress;
    m_pCancel = pnCancel;
}

void CNTFSScanTreeBuilder::FreeItems()
{
    for (CMFTFileRecordSet* pSet : m_RecordSets)
        delete pSet;
    m_RecordSets.clear();
    for (CNTFSFileRecordItem* pItem : m_LooseItems)
        delete pItem;
    m_LooseItems.clear();
}

CFileSystemNode* CNTFSScanTreeBuilder::BuildTree(const NTFS_SCAN_LISTS& lists, CSearchedPartitionInfo* pCandidate,
                                                 CRawFileInfoContainer* pRawFiles, IStorageDevice* pDevice,
                                                 int32_t nPartitionIndex, int32_t nRawArgument)
{
    ResetNTFSLostFilesCounter();
    FreeItems();
    m_pRoot = nullptr;
    if (pCandidate == nullptr || pCandidate->GetType() != SEARCHED_PARTITION_NTFS || pDevice == nullptr ||
        pCandidate->m_bySectorsPerCluster == 0)
        return nullptr;
    m_ScanLists = lists;
    m_pCandidate = pCandidate;
    m_pRawFiles = pRawFiles;
    m_pDevice = pDevice;
    m_nPartitionIndex = nPartitionIndex;
    m_nRawTreeArgument = nRawArgument;
    m_ullStartSector = pCandidate->m_ullStartSector;
    m_nSectorsPerCluster = pCandidate->m_bySectorsPerCluster;

    CollectRecordSets();
    const bool bCancelled = !ReadRecords();

    // Phase 2: each record set assembled from its root folder down.
    uint64_t ullItems = m_LooseItems.size();
    for (CMFTFileRecordSet* pSet : m_RecordSets)
        ullItems += pSet->GetItems().size();
    m_nProgressTotal = ullItems > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ullItems);
    if (m_pProgress != nullptr) {
        rvd::ProgressSetTitle(m_pProgress, "Phase 2 of 2");
        rvd::ProgressSetDetail(m_pProgress, "Building directory tree");
        rvd::ProgressSetStatus(m_pProgress, 0);
        rvd::ProgressSetPercent(m_pProgress, 0);
    }
    CNTFSDirectoryTreeAssembler assembler(m_pProgress, m_pCancel, m_nProgressTotal);
    if (!bCancelled)
        for (CMFTFileRecordSet* pSet : m_RecordSets)
            assembler.Assemble(pSet, m_ullStartSector);

    char szLabel[NTFS_VOLUME_LABEL_BUFFER] = {};
    if (!bCancelled && !IsCancelRequested(m_pCancel))
        ReadVolumeLabel(szLabel);
    CFileSystemNode* pRoot = CreateNTFSVolumeRoot(m_ullStartSector, m_nSectorsPerCluster, nPartitionIndex, szLabel);
    for (CMFTFileRecordSet* pSet : m_RecordSets)
        MoveNTFSChildren(pSet->GetRoot(), pRoot);

    // Records outside every record set: their folders adopt what names them, the rest is lost.
    // When nothing placed $MFT (its record 0 and the copy in $MFTMirr both gone), every record
    // of the volume is such a one; each still holds its own number, so what names the root
    // folder is the top of this volume's tree and goes to its root, not among the lost files.
    if (!bCancelled) {
        CNTFSItemsByParent loose;
        for (CNTFSFileRecordItem* pItem : m_LooseItems)
            loose.emplace(pItem->m_ullParentNumber, pItem);
        if (CFileNode* pLost = assembler.BuildLostFiles(loose, m_RecordSets.empty() ? pRoot : nullptr))
            pRoot->AddChild(pLost);
    }

    // The nodes point to the items, which go now.
    ClearNTFSItemLinks(pRoot);
    FreeItems();

    if (!bCancelled && !IsCancelRequested(m_pCancel) && GetEngineSettings()->m_bScanRaw != 0 && m_pRawFiles != nullptr)
        AddCarvedFiles(pRoot);
    if (pRoot->GetFirstChild() == nullptr) {
        delete pRoot->GetProperties();
        DestroyFileSystemNode(pRoot);
        return nullptr;
    }
    m_pRoot = pRoot;
    return pRoot;
}

void CNTFSScanTreeBuilder::CollectRecordSets()
{
    const CSearchedNTFSPartitionInfo* pCandidate = static_cast<const CSearchedNTFSPartitionInfo*>(m_pCandidate);
    if (m_ScanLists.pMFTRecords == nullptr)
        return;
    const uint64_t ullSectorsPerCluster = static_cast<uint64_t>(m_nSectorsPerCluster);
    for (CMFTRecordInfo* pInfo : *m_ScanLists.pMFTRecords) {
        const uint64_t ullSector = pInfo->m_ullRecordSector;
        if (ullSector == NTFS_UNKNOWN_SECTOR || ullSector < m_ullStartSector)
            continue;
        const uint64_t ullOffset = ullSector - m_ullStartSector;
        if (ullOffset % ullSectorsPerCluster != 0 || ullOffset >= pCandidate->m_ullSectorCount)
            continue;
        // The record must stand where its own run list puts $MFT's start: the $MFT itself, not
        // its copy in $MFTMirr.
        const int64_t llFirst = pInfo->GetFirstCluster();
        if (llFirst < 0 || static_cast<uint64_t>(llFirst) != ullOffset / ullSectorsPerCluster)
            continue;
        const int64_t llHighest = HighestCluster(pInfo->m_Runs);
        if (llHighest < 0 || static_cast<uint64_t>(llHighest) >= pCandidate->m_ullSectorCount / ullSectorsPerCluster)
            continue;
        m_RecordSets.push_back(new CMFTFileRecordSet(pInfo));
    }
    if (!m_RecordSets.empty())
        return;
    // No $MFT record stands at its own place (record 0 of $MFT destroyed): the copy of it kept
    // in $MFTMirr holds the same run list and places the records of $MFT just as well. The one
    // the scan attributed to the candidate is taken, else the first inside it.
    const CMFTRecordInfo* pMirrorCopy = nullptr;
    for (CMFTRecordInfo* pInfo : *m_ScanLists.pMFTRecords) {
        const uint64_t ullSector = pInfo->m_ullRecordSector;
        if (ullSector == NTFS_UNKNOWN_SECTOR || ullSector < m_ullStartSector ||
            ullSector - m_ullStartSector >= pCandidate->m_ullSectorCount ||
            (ullSector - m_ullStartSector) % ullSectorsPerCluster != 0)
            continue;
        const int64_t llHighest = HighestCluster(pInfo->m_Runs);
        if (llHighest < 0 || static_cast<uint64_t>(llHighest) >= pCandidate->m_ullSectorCount / ullSectorsPerCluster)
            continue;
        if (pMirrorCopy == nullptr || ullSector == pCandidate->m_ullMFTRecordSector)
            pMirrorCopy = pInfo;
    }
    if (pMirrorCopy != nullptr)
        m_RecordSets.push_back(new CMFTFileRecordSet(const_cast<CMFTRecordInfo*>(pMirrorCopy)));
}

bool CNTFSScanTreeBuilder::ReadRecords()
{
    if (m_pProgress != nullptr) {
        rvd::ProgressSetTitle(m_pProgress, "Phase 1 of 2");
        rvd::ProgressSetDetail(m_pProgress, "Reading files");
        rvd::ProgressSetStatus(m_pProgress, 0);
        rvd::ProgressSetPercent(m_pProgress, 0);
    }
    if (m_ScanLists.pExtents == nullptr)
        return true;
    const uint64_t ullStart = m_ullStartSector;
    const uint64_t ullCount = m_pCandidate->m_ullSectorCount;
    const uint64_t ullEnd = ullCount > ~0ull - ullStart ? ~0ull : ullStart + ullCount;
    uint64_t ullDeviceEnd = m_pDevice->GetTotalSectors();
    const uint64_t ullLimit = ullDeviceEnd != 0 && ullDeviceEnd < ullEnd ? ullDeviceEnd : ullEnd;

    // The windows: each extent's sectors inside the candidate, cut into pieces of at most
    // NTFS_SCAN_TREE_WINDOW_SECTORS. A first pass counts them for the progress.
    auto forEachWindow = [&](auto&& visit) {
        for (const FILE_RECORD_EXTENT& extent : *m_ScanLists.pExtents) {
            uint64_t ullFirst = extent.ullFirstSector;
            const uint64_t ullSectors =
                extent.ullCount > (~0ull - ullFirst) / kSectorsPerRecord ? ~0ull - ullFirst : extent.ullCount * kSectorsPerRecord;
            uint64_t ullLast = ullFirst + ullSectors;  // one past
            if (ullFirst < ullStart)
                ullFirst = ullStart;
            if (ullLast > ullLimit)
                ullLast = ullLimit;
            while (ullFirst < ullLast) {
                const uint64_t ullPiece = ullLast - ullFirst < NTFS_SCAN_TREE_WINDOW_SECTORS ? ullLast - ullFirst
                                                                                           : NTFS_SCAN_TREE_WINDOW_SECTORS;
                if (!visit(ullFirst, static_cast<uint32_t>(ullPiece)))
                    return false;
                ullFirst += ullPiece;
            }
        }
        return true;
    };
    uint64_t ullWindows = 0;
    forEachWindow([&](uint64_t, uint32_t) {
        ++ullWindows;
        return true;
    });
    m_nProgressTotal = ullWindows > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ullWindows);

    CByteBuffer window(static_cast<size_t>(NTFS_SCAN_TREE_WINDOW_SECTORS) * kSectorBytes, 0);
    uint64_t ullDone = 0;
    return forEachWindow([&](uint64_t ullFirst, uint32_t nSectors) {
        // A failed read gives zeros, never the records of the window before.
        if (!m_pDevice->ReadSectors(window.data(), ullFirst, nSectors))
            memset(window.data(), 0, static_cast<size_t>(nSectors) * kSectorBytes);
        ProcessWindow(window.data(), ullFirst, nSectors);
        ++ullDone;
        if (m_pProgress != nullptr && ullWindows != 0)
            rvd::ProgressSetPercent(m_pProgress, static_cast<DWORD>(ullDone * 100 / ullWindows));
        return !IsCancelRequested(m_pCancel);
    });
}

void CNTFSScanTreeBuilder::ProcessWindow(uint8_t* pWindow, uint64_t ullFirst, uint32_t nSectors)
{
    for (uint32_t i = 0; i + kSectorsPerRecord <= nSectors; ++i) {
        uint8_t* pRecord = pWindow + static_cast<size_t>(i) * kSectorBytes;
        if (memcmp(pRecord, "FILE", 4) != 0)
            continue;
        ProcessRecord(pRecord, kRecordBytes, ullFirst + i);
    }
}

CMFTFileRecordSet* CNTFSScanTreeBuilder::FindRecordSet(uint64_t ullSector) const
{
    if (ullSector < m_ullStartSector)
        return nullptr;
    const int64_t llCluster = static_cast<int64_t>((ullSector - m_ullStartSector) / static_cast<uint64_t>(m_nSectorsPerCluster));
    for (CMFTFileRecordSet* pSet : m_RecordSets)
        if (pSet->GetMFT()->m_Runs.ContainsLcn(llCluster))
            return pSet;
    return nullptr;
}

void CNTFSScanTreeBuilder::ProcessRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector)
{
    if (!IsValidFileRecord(pRecord, nLength) || IsExtensionRecord(pRecord, nLength))
        return;
    const CSearchedNTFSPartitionInfo* pCandidate = static_cast<const CSearchedNTFSPartitionInfo*>(m_pCandidate);
    CMFTFileRecordSet* pSet = FindRecordSet(ullSector);
    if (pSet == nullptr && pCandidate->m_bOnlyRecordsInMFT == 1)
        return;
    if (pCandidate->m_bUseMFTSets == 0)
        pSet = nullptr;
    {
        const CFileRecordHolder holder(pRecord, nLength, false);
        if (IsProtectedSystemFile(holder))
            return;
    }
    CNTFSFileRecordItem* pItem = new CNTFSFileRecordItem();
    if (!pItem->SetFromRecord(pRecord, nLength, ullSector)) {
        delete pItem;
        return;
    }
    const uint32_t nSectorsPerCluster = static_cast<uint32_t>(m_nSectorsPerCluster);
    CRecordLocationList* pExtensions = nullptr;
    if (pSet != nullptr) {
        const CMFTRecordInfo& mft = *pSet->GetMFT();
        pItem->m_ullRecordNumber = SectorToRecordNumber(ullSector, m_ullStartSector, mft, nSectorsPerCluster);
        pExtensions = CollectExtensionRecords(pRecord, nLength, ullSector, m_ullStartSector, nSectorsPerCluster,
                                              mft.m_Runs, mft.m_bySectorsPerRecord, m_pDevice);
    }
    CNTFSFullFileRecord full;
    full.Open(pRecord, nLength, ullSector, m_pDevice, pExtensions);
    // Devices address 512-byte units whatever sector size they report.
    const uint64_t ullClusterBytes = static_cast<uint64_t>(nSectorsPerCluster) * STORAGE_UNIT_BYTES;
    uint64_t ullParent = NTFS_NO_RECORD_NUMBER;
    CNTFSFileProperties* pProperties = CreateNTFSFileProperties(ullSector, full, ullClusterBytes, &ullParent);
    full.Close();
    // A base record whose names were all moved to extension records gets its folder from
    // there; a name that points at a system file places nothing.
    if (pItem->m_ullParentNumber == NTFS_NO_RECORD_NUMBER && ullParent != NTFS_NO_RECORD_NUMBER &&
        ullParent >= kFirstFolderNumber)
        pItem->m_ullParentNumber = ullParent;
    if (pProperties == nullptr) {
        delete pExtensions;
        delete pItem;
        return;
    }
    CompleteNTFSFileSize(pProperties, nSectorsPerCluster);
    pProperties->SetRecordExtents(pExtensions);
    pItem->m_pProperties = pProperties;
    if (pSet != nullptr)
        pSet->AddItem(pItem);
    else
        m_LooseItems.push_back(pItem);
}

void CNTFSScanTreeBuilder::ReadVolumeLabel(char* pszLabel)
{
    const CSearchedNTFSPartitionInfo* pCandidate = static_cast<const CSearchedNTFSPartitionInfo*>(m_pCandidate);
    const uint64_t ullMFTSector = pCandidate->m_ullMFTRecordSector;
    // Without a $MFT record there is no record 3 to read.
    if (ullMFTSector == NTFS_UNKNOWN_SECTOR)
        return;
    uint64_t ullSector = NTFS_UNKNOWN_SECTOR;
    if (m_ScanLists.pMFTRecords != nullptr) {
        for (const CMFTRecordInfo* pInfo : *m_ScanLists.pMFTRecords)
            if (pInfo->m_ullRecordSector == ullMFTSector) {
                ullSector = RecordNumberToSector(kVolumeRecordNumber, m_ullStartSector,
                                                 static_cast<uint32_t>(m_nSectorsPerCluster), pInfo->m_Runs,
                                                 pInfo->m_bySectorsPerRecord);
                break;
            }
    }
    if (ullSector == NTFS_UNKNOWN_SECTOR) {
        // Records 0 to 3 lie together at the start of $MFT (and of its mirror).
        if (ullMFTSector > ~0ull - kVolumeRecordNumber * kSectorsPerRecord)
            return;
        ullSector = ullMFTSector + kVolumeRecordNumber * kSectorsPerRecord;
    }
    CByteBuffer record(kRecordBytes, 0);
    if (!m_pDevice->ReadSectors(record.data(), ullSector, kSectorsPerRecord))
        return;
    GetVolumeNameFromFileRecord(record.data(), kRecordBytes, pszLabel);
}

void CNTFSScanTreeBuilder::AddCarvedFiles(CFileSystemNode* pRoot)
{
    uint64_t ullStart = 0;
    int32_t nSectorsPerCluster = 0;
    if (!pRoot->GetPartitionInfo(&ullStart, &nSectorsPerCluster) || nSectorsPerCluster <= 0)
        return;
    const CSearchedNTFSPartitionInfo* pCandidate = static_cast<const CSearchedNTFSPartitionInfo*>(m_pCandidate);
    uint64_t ullClusters = pCandidate->m_ullClusterCount;
    if (ullClusters == ~0ull)
        ullClusters = pCandidate->m_ullSectorCount / static_cast<uint64_t>(nSectorsPerCluster);
    // The clusters that the volume's files use, so that the carving leaves them out. The vector
    // is sized by the candidate, which may be huge: when it cannot be had, the carved files are
    // listed without it instead of ending the process.
    uint8_t* pBits = nullptr;
    if (ullClusters != 0 && ullClusters / 8 < SIZE_MAX)
        pBits = static_cast<uint8_t*>(calloc(ClusterBitmapBytes(ullClusters), 1));
    CLUSTER_BITMAP_INFO info;
    info.pUsedBits = pBits;
    info.ullPartitionStart = ullStart;
    info.nSectorsPerCluster = static_cast<uint32_t>(nSectorsPerCluster);
    info.ullClusterCount = ullClusters;
    CClusterUseBitMap bitmap(info);
    if (pBits != nullptr) {
        USED_CLUSTER_MARKER marker;
        marker.pUsedBits = pBits;
        marker.ullPartitionStart = ullStart;
        marker.nSectorsPerCluster = static_cast<uint32_t>(nSectorsPerCluster);
        marker.ullClusterCount = ullClusters;
        MarkUsedClusters(pRoot, marker);
    }
    CRAWTreeBuilder builder;
    builder.SetProgress(m_pProgress, m_pCancel);
    if (CFileSystemNode* pCarved =
            builder.BuildTree(m_pDevice, m_pRawFiles->GetIterator(), pBits != nullptr ? &bitmap : nullptr, m_nRawTreeArgument))
        pRoot->AddChild(pCarved);
    free(pBits);
}
