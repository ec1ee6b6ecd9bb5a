#include "Delvar.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "Charset.h"
#include "DiskDevice.h"
#include "EngineSettings.h"
#include "ext2/Ext2TreeBuilder.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "fat/FATTreeBuilder.h"
#include "FileNode.h"
#include "FileSystemNode.h"
#include "FileTreeWalk.h"
#include "GlobalAdvanceSettingData.h"
#include "ICorrand.h"
#include "IOmbrel.h"
#include "IStorageDevice.h"
#include "ext2/Ext2SearchController.h"
#include "fat/FATSearchController.h"
#include "ntfs/NTFSSearchController.h"
#include "ntfs/NTFSTreeBuilder.h"
#include "ProgressRecord.h"
#include "RAWFileProperties.h"
#include "RAWSearchController.h"
#include "RAWTreeBuilder.h"
#include "RawFileInfo.h"
#include "ResultStoreModule.h"
#include "Veskel.h"
#include "WideText.h"

const char* const DELETED_FILES_FOLDER_NAME = "Deleted Files";

namespace {

// Bus type of a USB disk in the storage descriptor.
const uint32_t kBusTypeUsb = 7;
// Heads assumed when the drive geometry cannot be read.
const int32_t kDefaultHeads = 255;

int32_t PartitionLimit(size_t nCount)
{
    const int32_t nMax = GetEngineSettings()->m_nPartitionMaxlimit;
    if (nMax <= 0)
        return 0;
    return static_cast<int32_t>(std::min<size_t>(nCount, static_cast<size_t>(nMax)));
}

// What a block scan allocates besides the trees: the controllers, the carved-file container and
// the candidates. Released when the scan step ends, whichever way it ends.
struct CBlockScanResources {
    CSearchControllerList Controllers;
    CRawFileInfoContainer* pContainer = nullptr;
    CSearchedPartitionInfoList Candidates;

    CBlockScanResources() = default;
    CBlockScanResources(const CBlockScanResources&) = delete;
    CBlockScanResources& operator=(const CBlockScanResources&) = delete;
    ~CBlockScanResources()
    {
        DeleteSearchedPartitions(Candidates);
        DeleteSearchControllers(Controllers);
        delete pContainer;
    }
};

struct CFoundPartitionsHolder {
    CFoundPartitionList Partitions;
    ~CFoundPartitionsHolder() { DeleteFoundPartitions(Partitions); }
};

char UpperLetter(char chLetter)
{
    return chLetter >= 'a' && chLetter <= 'z' ? static_cast<char>(chLetter - 'a' + 'A') : chLetter;
}

// Whether a collected volume is the one a partition record names. A disk volume is named by its
// first member's disk number and start and by its length; a floppy lies on no physical disk, so
// its record carries the no-disk number and the floppy is named by its drive letter instead.
bool IsRecordedVolume(const COLLECTED_VOLUME& volume, const CDiskDeviceList& disks, const PARTITION_INFO_EX& record)
{
    const COLLECTED_MEMBER& member = volume.Members[0];
    if (volume.pDevice == nullptr)
        return false;
    if (record.dwDiskNumber == OMBREL_NO_DISK) {
        if (volume.bFloppy == 0 || member.pDisk != nullptr || record.chDriveLetter == 0 ||
            UpperLetter(volume.chDriveLetter) != UpperLetter(record.chDriveLetter))
            return false;
    } else {
        if (member.pDisk == nullptr)
            return false;
        const bool bOnDisk = std::any_of(disks.begin(), disks.end(), [&](CDiskDevice* pDisk) {
            return static_cast<IStorageDevice*>(pDisk) == member.pDisk &&
                   pDisk->GetDiskNumber() == static_cast<int>(record.dwDiskNumber);
        });
        if (!bOnDisk)
            return false;
    }
    if (member.ullStartSector != record.ullStartSector)
        return false;
    return record.dwWholeDisk != 0 || volume.pDevice->GetTotalSectors() == record.ullTotalSectors;
}

} // namespace

// ----- controller factories ---------------------------------------------------------------------

CControllerKindList SelectSearchControllerKinds(int32_t nFileSystemType, DWORD dwPartitionFileSystem, int32_t bScanRaw)
{
    CControllerKindList kinds;
    switch (nFileSystemType) {
    case 0:
        switch (dwPartitionFileSystem) {
        case 0:
        case 1:
        case 2:
            kinds = {CONTROLLER_KIND_FAT};
            break;
        case 3:
            kinds = {CONTROLLER_KIND_NTFS};
            break;
        case 4:
        case 5:
            kinds = {CONTROLLER_KIND_EXT2};
            break;
        default:
            kinds = {CONTROLLER_KIND_FAT, CONTROLLER_KIND_NTFS, CONTROLLER_KIND_EXT2};
            break;
        }
        break;
    case 1:
        kinds = {CONTROLLER_KIND_NTFS};
        break;
    case 2:
        kinds = {CONTROLLER_KIND_FAT};
        break;
    case 3:
        kinds = {CONTROLLER_KIND_EXT2};
        break;
    case 4:
        kinds = {CONTROLLER_KIND_FAT, CONTROLLER_KIND_NTFS, CONTROLLER_KIND_EXT2};
        break;
    default:
        break;
    }
    if (bScanRaw != 0)
        kinds.push_back(CONTROLLER_KIND_RAW);
    return kinds;
}

CControllerKindList SelectAllSearchControllerKinds(int32_t bScanRaw)
{
    CControllerKindList kinds;
    kinds.reserve(4);
    kinds.push_back(CONTROLLER_KIND_FAT);
    kinds.push_back(CONTROLLER_KIND_NTFS);
    kinds.push_back(CONTROLLER_KIND_EXT2);
    if (bScanRaw != 0)
        kinds.push_back(CONTROLLER_KIND_RAW);
    return kinds;
}

IFileSystemSearchController* NewSearchController(SEARCH_CONTROLLER_KIND eKind)
{
    switch (eKind) {
    case CONTROLLER_KIND_FAT:
        return new CFATSearchController();
    case CONTROLLER_KIND_EXT2:
        return new CEXT2SearchController();
    case CONTROLLER_KIND_NTFS:
        return new CNTFSSearchController();
    case CONTROLLER_KIND_RAW:
        return new CRAWSearchController();
    default:
        return nullptr;
    }
}

static void AppendControllers(CSearchControllerList& controllers, const CControllerKindList& kinds)
{
    for (SEARCH_CONTROLLER_KIND eKind : kinds) {
        if (IFileSystemSearchController* pController = NewSearchController(eKind))
            controllers.push_back(pController);
    }
}

void CreateSearchControllers(CSearchControllerList& controllers, const PARTITION_INFO_EX& partition)
{
    const CGlobalAdvanceSettingData* pSettings = GetEngineSettings();
    AppendControllers(controllers, SelectSearchControllerKinds(pSettings->m_nFileSystemType, partition.dwFileSystem,
                                                               pSettings->m_bScanRaw));
}

void CreateAllSearchControllers(CSearchControllerList& controllers)
{
    AppendControllers(controllers, SelectAllSearchControllerKinds(GetEngineSettings()->m_bScanRaw));
}

void DeleteSearchControllers(CSearchControllerList& controllers)
{
    for (IFileSystemSearchController* pController : controllers)
        delete pController;
    controllers.clear();
}

void DeleteSearchedPartitions(CSearchedPartitionInfoList& candidates)
{
    for (CSearchedPartitionInfo* pCandidate : candidates)
        delete pCandidate;
    candidates.clear();
}

CFileSystemNode* BuildRawFileTreeFromContainer(CRawFileInfoContainer* pContainer, IStorageDevice* pDevice)
{
    // A carving-only result: no file system was read, so no cluster is known to be in use. This
    // build shows no progress and cannot be cancelled.
    CRAWTreeBuilder builder;
    return builder.BuildTree(pDevice, pContainer != nullptr ? pContainer->GetIterator() : nullptr, nullptr, 0);
}

// ----- trees ------------------------------------------------------------------------------------

// Frees every node of a tree with its properties. No node's destructor looks at another node,
// so each goes as soon as the walk has read its links.
void DeleteFileTree(CFileNode* pRoot)
{
    ForEachFileNodeDepthFirst(pRoot, [](CFileNode* pNode) {
        delete pNode->GetProperties();
        DestroyFileNode(pNode);
    });
}

// ----- the engine object ------------------------------------------------------------------------

CDelvar::CDelvar()
    : m_nMode(0), m_bInitialized(0), m_pResultTree(nullptr), m_pDeletedFilesTree(nullptr), m_nCancel(0),
      m_nStatusWord(0), m_pResultStore(nullptr), m_nResultsHandedOver(0)
{
    memset(&m_PartitionInfo, 0, sizeof(m_PartitionInfo));
    memset(&m_DiskInfo, 0, sizeof(m_DiskInfo));
    memset(&m_Progress, 0, sizeof(m_Progress));
}

CDelvar::~CDelvar()
{
    ReleaseTrees();
    CDelvar::UnloadResultStore();
    m_pResultStore = nullptr;
}

CDelvar* CDelvar::GetInstance()
{
    static CDelvar s_Engine;
    return &s_Engine;
}

ICorrand* CDelvar::LoadResultStore()
{
    return LoadResultStoreModule();
}

void CDelvar::UnloadResultStore()
{
    UnloadResultStoreModule();
}

int32_t CDelvar::Init(const DISK_INFO_EX* pDisk, const PARTITION_INFO_EX* pPartition, int32_t nMode, int32_t nReserved)
{
    (void)nReserved;
    m_bInitialized = 0;
    m_nMode = nMode;
    if (pDisk != nullptr)
        memcpy(&m_DiskInfo, pDisk, sizeof(m_DiskInfo));
    if (pPartition != nullptr)
        memcpy(&m_PartitionInfo, pPartition, sizeof(m_PartitionInfo));
    m_pResultStore = LoadResultStore();
    if (m_pResultStore == nullptr)
        return DELVAR_NOT_INITIALIZED;
    m_bInitialized = 1;
    return DELVAR_SUCCESS;
}

void CDelvar::Reserved(int32_t nReserved1, int32_t nReserved2)
{
    (void)nReserved1;
    (void)nReserved2;
}

int32_t CDelvar::Cancel()
{
    m_nCancel.store(1);
    return 0;
}

void CDelvar::GetProgress(SEARCH_PROGRESS* pProgress, int32_t anStatus[2])
{
    if (pProgress != nullptr)
        rvd::ProgressCopy(pProgress, &m_Progress);
    if (anStatus != nullptr) {
        anStatus[0] = m_nCancel.load();
        anStatus[1] = m_nStatusWord;
    }
}

void CDelvar::SetProgressTitle(const char* pszTitle)
{
    rvd::ProgressSetTitle(&m_Progress, pszTitle);
}

int32_t CDelvar::Search()
{
    if (m_bInitialized == 0)
        return DELVAR_NOT_INITIALIZED;

    ReleaseTrees();
    m_nCancel.store(0);
    m_nResultsHandedOver = 0;
    rvd::ProgressSetFilesFound(&m_Progress, 0);
    rvd::ProgressSetPercent(&m_Progress, 0);

    CDeviceCollection collection;
    collection.Collect();

    COLLECTED_VOLUME* pVolume = nullptr;
    if (m_nMode == SCAN_MODE_QUICK || m_nMode == SCAN_MODE_COMPLETE) {
        for (COLLECTED_VOLUME& volume : collection.GetVolumes()) {
            if (IsRecordedVolume(volume, collection.GetDisks(), m_PartitionInfo)) {
                pVolume = &volume;
                break;
            }
        }
        if (pVolume == nullptr) {
            LogInfo("Search: partition at sector %llu of disk %u not found",
                    static_cast<unsigned long long>(m_PartitionInfo.ullStartSector), m_PartitionInfo.dwDiskNumber);
            return DELVAR_PARTITION_NOT_FOUND;
        }
    }

    rvd::ProgressSetPercent(&m_Progress, 1);

    bool bDeviceNotFound = false;
    try {
        switch (m_nMode) {
        case SCAN_MODE_QUICK:
            QuickSearch(*pVolume);
            break;
        case SCAN_MODE_COMPLETE:
            CompleteSearch(*pVolume);
            break;
        case SCAN_MODE_WHOLE_DISK: {
            SEARCH_DEVICE_CONTEXT context;
            memset(&context, 0, sizeof(context));
            CDiskDevice* pDisk = nullptr;
            if (FindSearchDevice(collection, &context, &pDisk) != 0)
                bDeviceNotFound = true;
            else
                DiskSearch(&context, pDisk);
            break;
        }
        default:
            break;
        }
    } catch (const std::exception& e) {
        LogInfo("Search ended by an exception: %s", e.what());
    } catch (...) {
        LogInfo("Search ended by an exception");
    }

    ReleaseTrees();
    collection.Release();

    if (bDeviceNotFound)
        return DELVAR_DEVICE_NOT_FOUND;
    if (m_nResultsHandedOver > 0)
        return DELVAR_SUCCESS;
    return IsCancelled() ? DELVAR_CANCELLED : DELVAR_NOTHING_FOUND;
}

int32_t CDelvar::FindSearchDevice(CDeviceCollection& collection, SEARCH_DEVICE_CONTEXT* pContext, CDiskDevice** ppDisk)
{
    CDiskDevice* pDisk = nullptr;
    for (CDiskDevice* pCandidate : collection.GetDisks()) {
        if (pCandidate->GetDiskNumber() == static_cast<int>(m_DiskInfo.dwDiskNumber)) {
            pDisk = pCandidate;
            break;
        }
    }
    if (pDisk == nullptr) {
        LogInfo("Disk scan: disk %u not found", m_DiskInfo.dwDiskNumber);
        return DELVAR_DEVICE_NOT_FOUND;
    }
    DISK_DEVICE_DESCRIPTION description;
    memset(&description, 0, sizeof(description));
    const bool bDescribed = pDisk->GetDeviceDescription(&description);
    pContext->m_bUsb = bDescribed && description.nBusType == kBusTypeUsb ? 1 : 0;
    pContext->m_pDevice = pDisk;
    pContext->m_pDevice2 = pDisk;
    pContext->m_nHeads = pDisk->GetTracksPerCylinder();
    if (pContext->m_nHeads <= 0)
        pContext->m_nHeads = kDefaultHeads;
    pContext->m_nReserved = 0;
    const std::string strDescription = FormatDiskDescription(description.szVendorId, description.szProductId,
                                                             description.szBusTypeName, std::string::npos);
    rvd::CopyWideText(pContext->m_szDescription, rvd::Utf8ToUtf16(strDescription));
    *ppDisk = pDisk;
    return 0;
}

CFileSystemNode* CDelvar::BuildFatTree(IStorageDevice* pDevice, bool bFat32)
{
    // A candidate made by hand: the volume starts at the device's sector 0, and the boot sectors
    // of its type and both FATs may be trusted.
    CFATSearchedPartitionInfo* pInfo = CreateFATSearchedPartitionInfo();
    pInfo->AddFlags(bFat32 ? FAT_QUICK_SCAN_FLAGS_FAT32 : FAT_QUICK_SCAN_FLAGS_FAT12_16);
    pInfo->m_ullStartSector = 0;
    CFATTreeBuilder builder;
    builder.SetProgress(&m_Progress, &m_nCancel);
    CFileSystemNode* pRoot = builder.BuildTree(0, pInfo, pDevice, 0);
    DeleteFATSearchedPartitionInfo(pInfo);
    return pRoot;
}

CFileSystemNode* CDelvar::BuildNtfsTree(IStorageDevice* pDevice)
{
    // The volume's own device: its boot sector is sector 0.
    CNTFSTreeBuilder builder;
    builder.SetProgress(&m_Progress, &m_nCancel);
    return builder.BuildTree(0, pDevice, 0);
}

CFileSystemNode* CDelvar::BuildExt2Tree(IStorageDevice* pDevice)
{
    // The volume's own device: its primary superblock lies 1024 bytes in, at sector 2.
    CExt2TreeBuilder builder;
    builder.SetProgress(&m_Progress, &m_nCancel);
    return builder.BuildTree(pDevice, 0, 2, 0);
}

CFileSystemNode* CDelvar::BuildRawFileTree(CRawFileInfoContainer* pContainer, IStorageDevice* pDevice)
{
    return BuildRawFileTreeFromContainer(pContainer, pDevice);
}

void CDelvar::CreateCompleteScanControllers(CSearchControllerList& controllers)
{
    CreateSearchControllers(controllers, m_PartitionInfo);
}

void CDelvar::CreateWholeDiskControllers(CSearchControllerList& controllers)
{
    CreateAllSearchControllers(controllers);
}

void CDelvar::CallQuickPartitionSearch(SEARCH_DEVICE_CONTEXT* pContext, const rvdplat::DISK_GEOMETRY& geometry,
                                       CFoundPartitionList& partitions)
{
    CQuickPartitionSearch search;
    search.SetProgress(&m_Progress, &m_nCancel);
    search.Search(pContext, partitions, geometry);
}

void CDelvar::QuickSearch(COLLECTED_VOLUME& volume)
{
    IStorageDevice* pDevice = volume.pDevice;
    switch (m_PartitionInfo.dwFileSystem) {
    case FILE_SYSTEM_FAT12:
    case FILE_SYSTEM_FAT16:
        m_pResultTree = BuildFatTree(pDevice, false);
        break;
    case FILE_SYSTEM_FAT32:
        m_pResultTree = BuildFatTree(pDevice, true);
        break;
    case FILE_SYSTEM_NTFS:
        m_pResultTree = BuildNtfsTree(pDevice);
        break;
    case FILE_SYSTEM_EXT2:
    case FILE_SYSTEM_EXT3:
        m_pResultTree = BuildExt2Tree(pDevice);
        break;
    default:
        return;
    }
    if (m_pResultTree != nullptr) {
        BuildDeletedFilesFolder();
        HandOverUserRecordResult(false);
    }
}

CFileSystemNode* CDelvar::BuildPartitionTree(FOUND_PARTITION* pPartition)
{
    if (pPartition == nullptr || pPartition->pDevice == nullptr)
        return nullptr;
    switch (pPartition->nFileSystemKind) {
    case FILE_SYSTEM_FAT12:
    case FILE_SYSTEM_FAT16:
        return BuildFatTree(pPartition->pDevice, false);
    case FILE_SYSTEM_FAT32:
        return BuildFatTree(pPartition->pDevice, true);
    case FILE_SYSTEM_NTFS:
        return BuildNtfsTree(pPartition->pDevice);
    case FILE_SYSTEM_EXT2:
    case FILE_SYSTEM_EXT3:
        return BuildExt2Tree(pPartition->pDevice);
    default:
        return nullptr;
    }
}

void CDelvar::IntelligentSearch(IStorageDevice* pDevice, CSearchedPartitionInfoList& candidates,
                                const CSearchControllerList& controllers)
{
    {
        CIntelligentSearchController search;
        search.SetDevice(pDevice);
        for (IFileSystemSearchController* pController : controllers)
            search.AddController(pController);
        search.Run(&m_Progress, &m_nCancel);
    }
    for (IFileSystemSearchController* pController : controllers) {
        try {
            pController->CollectSearchedPartitions(&candidates);
        } catch (...) {
            LogInfo("IntelligentSearch: a search controller failed to hand over its candidates");
        }
    }
    // A controller may hand over an empty slot; nothing downstream expects one.
    candidates.erase(std::remove(candidates.begin(), candidates.end(), nullptr), candidates.end());
    ScoreCandidates(candidates);
    SortCandidatesByScore(candidates);
    SelectCandidates(candidates, pDevice != nullptr ? pDevice->GetTotalSectors() : 0);
}

void CDelvar::CompleteSearch(COLLECTED_VOLUME& volume)
{
    CBlockScanResources scan;
    CreateCompleteScanControllers(scan.Controllers);
    scan.pContainer = new CRawFileInfoContainer();
    GiveRawFileInfoContainer(scan.Controllers, scan.pContainer);
    IntelligentSearch(volume.pDevice, scan.Candidates, scan.Controllers);

    const bool bScanRaw = GetEngineSettings()->m_bScanRaw != 0;
    if (IsCancelled() && scan.Candidates.empty() && !bScanRaw) {
        SetProgressTitle("Canceling");
        return;
    }
    // The user's cancel ends the block scan only: what it found is still turned into trees.
    m_nCancel.store(0);

    if (scan.Candidates.empty()) {
        if (bScanRaw) {
            m_pResultTree = BuildRawFileTree(scan.pContainer, volume.pDevice);
            if (m_pResultTree != nullptr) {
                BuildDeletedFilesFolder();
                HandOverUserRecordResult(false);
            }
        }
        return;
    }
    BuildCandidateResults(scan.Controllers, scan.Candidates, volume.pDevice, false);
}

void CDelvar::BuildCandidateResults(const CSearchControllerList& controllers, CSearchedPartitionInfoList& candidates,
                                    IStorageDevice* pDevice, bool bWholeDisk)
{
    const int32_t nLimit = PartitionLimit(candidates.size());
    rvd::ProgressSetPhase(&m_Progress, 0);
    for (int32_t i = 0; i < nLimit; ++i) {
        m_pResultTree = BuildCandidateTree(controllers, candidates[i], pDevice, i, 0, &m_Progress, &m_nCancel);
        // A candidate without a tree still uses up its position and its index.
        if (m_pResultTree == nullptr)
            continue;
        uint64_t ullStart = 0;
        int32_t nSecond = 0;
        m_pResultTree->GetPartitionInfo(&ullStart, &nSecond);
        const DWORD dwKind = static_cast<DWORD>(m_pResultTree->GetFileSystemKind());
        PARTITION_INFO_EX record;
        if (bWholeDisk) {
            record = MakeWholeDiskRecord(dwKind, ullStart, static_cast<WORD>(nSecond));
            record.dwTreeDevice = PARTITION_TREE_ON_DISK;
        } else {
            memset(&record, 0, sizeof(record));
            record.dwDiskNumber = m_PartitionInfo.dwDiskNumber;
            record.dwFileSystem = dwKind;
            record.ullStartSector = ullStart;
            record.wSectorsPerCluster = static_cast<WORD>(nSecond);
            record.dwBytesPerSector = m_PartitionInfo.dwBytesPerSector;
            record.dwFoundByScan = PARTITION_FOUND_BY_SCAN;
            record.ullScannedStart = m_PartitionInfo.ullStartSector;
            record.ullScannedSectors = m_PartitionInfo.ullTotalSectors;
            record.dwWholeDisk = m_PartitionInfo.dwWholeDisk;
        }
        BuildDeletedFilesFolder();
        HandOverResult(record, i, i == 0 ? 1 : 0);
    }
}

PARTITION_INFO_EX CDelvar::MakeWholeDiskRecord(DWORD dwFileSystem, uint64_t ullStartSector, WORD wSecondValue) const
{
    PARTITION_INFO_EX record;
    memset(&record, 0, sizeof(record));
    record.dwDiskNumber = m_DiskInfo.dwDiskNumber;
    record.dwFileSystem = dwFileSystem;
    record.ullStartSector = ullStartSector;
    record.wSectorsPerCluster = wSecondValue;
    record.dwBytesPerSector = m_DiskInfo.dwBytesPerSector;
    record.dwFoundByScan = PARTITION_FOUND_BY_SCAN;
    record.ullScannedStart = PARTITION_SCANNED_WHOLE_DISK;
    record.ullScannedSectors = m_DiskInfo.ullTotalSectors;
    record.dwWholeDisk = m_DiskInfo.dwFlags & 1;
    return record;
}

void CDelvar::DiskSearch(SEARCH_DEVICE_CONTEXT* pContext, CDiskDevice* pDisk)
{
    rvdplat::DISK_GEOMETRY geometry;
    memset(&geometry, 0, sizeof(geometry));
    pDisk->GetGeometry(&geometry);

    CFoundPartitionsHolder found;
    CallQuickPartitionSearch(pContext, geometry, found.Partitions);

    const CGlobalAdvanceSettingData* pSettings = GetEngineSettings();
    const bool bFullScan = pSettings->m_nDiskFullScan != 0;
    // A cancel during the partition search ends that search only when the block scan follows;
    // with partitions found it stays set and the trees are built as far as the readers go.
    if (IsCancelled() && found.Partitions.empty() && bFullScan)
        m_nCancel.store(0);

    if (found.Partitions.empty() && bFullScan) {
        LogInfo("Disk scan CallQuickPartitionSearch find no partitions!");
        CBlockScanResources scan;
        CreateWholeDiskControllers(scan.Controllers);
        scan.pContainer = new CRawFileInfoContainer();
        GiveRawFileInfoContainer(scan.Controllers, scan.pContainer);
        IntelligentSearch(pContext->m_pDevice, scan.Candidates, scan.Controllers);

        const bool bScanRaw = pSettings->m_bScanRaw != 0;
        if (IsCancelled() && scan.Candidates.empty() && !bScanRaw) {
            SetProgressTitle("Canceling");
            return;
        }
        m_nCancel.store(0);
        if (scan.Candidates.empty()) {
            if (bScanRaw) {
                m_pResultTree = BuildRawFileTree(scan.pContainer, pContext->m_pDevice);
                if (m_pResultTree != nullptr) {
                    BuildDeletedFilesFolder();
                    HandOverUserRecordResult(true);
                }
            }
            return;
        }
        BuildCandidateResults(scan.Controllers, scan.Candidates, pContext->m_pDevice, true);
        return;
    }

    LogInfo(found.Partitions.empty() ? "Disk scan CallQuickPartitionSearch find no partitions!"
                                     : "Disk scan CallQuickPartitionSearch find partitions!");
    const int32_t nLimit = PartitionLimit(found.Partitions.size());
    rvd::ProgressSetPhase(&m_Progress, 0);
    for (int32_t i = 0; i < nLimit; ++i) {
        FOUND_PARTITION* pPartition = found.Partitions[i];
        m_pResultTree = BuildPartitionTree(pPartition);
        if (m_pResultTree == nullptr)
            continue;
        uint64_t ullStart = 0;
        int32_t nSecond = 0;
        m_pResultTree->GetPartitionInfo(&ullStart, &nSecond);
        PARTITION_INFO_EX record = MakeWholeDiskRecord(static_cast<DWORD>(m_pResultTree->GetFileSystemKind()),
                                                       pPartition->ullStartSector, static_cast<WORD>(nSecond));
        // Built over the found partition's window: its sectors count from the partition's start.
        record.dwTreeDevice = PARTITION_TREE_ON_FOUND_PARTITION;
        BuildDeletedFilesFolder();
        HandOverResult(record, i, i == 0 ? 1 : 0);
    }
}

void CDelvar::HandOverUserRecordResult(bool bWholeDisk)
{
    PARTITION_INFO_EX record;
    if (!bWholeDisk) {
        // The tree stands for the user's own partition: its record goes back as it came, without
        // the fields that only records of found partitions carry.
        m_PartitionInfo.dwFoundByScan = PARTITION_FROM_USER;
        m_PartitionInfo.ullScannedStart = 0;
        m_PartitionInfo.ullScannedSectors = 0;
        record = m_PartitionInfo;
    } else {
        // The carved files of a whole-disk scan stand for the disk the user chose, as those of a
        // complete scan stand for the user's partition: a record of the whole disk (its number,
        // start 0, all its sectors), marked as the user's own (not found by scanning, no scanned
        // area), with the whole-disk flag taken from the disk record like every record of this
        // scan.
        uint64_t ullStart = 0;
        int32_t nSecond = 0;
        m_pResultTree->GetPartitionInfo(&ullStart, &nSecond);
        record = MakeWholeDiskRecord(static_cast<DWORD>(m_pResultTree->GetFileSystemKind()), ullStart,
                                     static_cast<WORD>(nSecond));
        record.ullTotalSectors = m_DiskInfo.ullTotalSectors;
        record.dwFoundByScan = PARTITION_FROM_USER;
        record.ullScannedStart = 0;
        record.ullScannedSectors = 0;
    }
    HandOverResult(record, 0, 1);
}

void CDelvar::BuildDeletedFilesFolder()
{
    if (m_pResultTree == nullptr)
        return;
    if (m_pDeletedFilesTree != nullptr) {
        DeleteFileTree(m_pDeletedFilesTree);
        m_pDeletedFilesTree = nullptr;
    }
    m_pDeletedFilesTree = CreateFileSystemNode();

    CRAWFileProperties* pProperties = CRAWFileProperties::Create();
    // Like a carved-file record with no sector and no size: one empty sparse run.
    pProperties->SetRun(DATA_RUN_SPARSE_START, 0);
    pProperties->SetFileName(DELETED_FILES_FOLDER_NAME);
    pProperties->SetAttributes(FILE_ATTR_DIRECTORY);
    m_pDeletedFilesTree->SetProperties(pProperties);

    m_pDeletedFilesTree->SetDescription(m_pResultTree->GetDescription());
    uint64_t ullStart = 0;
    int32_t nSecond = 0;
    m_pResultTree->GetPartitionInfo(&ullStart, &nSecond);
    m_pDeletedFilesTree->SetPartitionInfo(ullStart, nSecond);
    m_pDeletedFilesTree->SetFileSystemKind(m_pResultTree->GetFileSystemKind());

    MoveDeletedFiles(m_pResultTree, m_pDeletedFilesTree);

    uint8_t abyExtra[FILE_SYSTEM_EXTRA_BLOCK_SIZE];
    m_pDeletedFilesTree->GetExtraBlock(abyExtra);
    const uint32_t nMarker = 2;
    memcpy(abyExtra + 4, &nMarker, sizeof(nMarker));
    m_pDeletedFilesTree->SetExtraBlock(abyExtra);
}

bool CDelvar::MoveDeletedFiles(CFileNode* pSource, CFileNode* pTarget)
{
    // Depth first over the source, with an explicit stack instead of recursion. The found tree is
    // not needed once this tree is made, so its nodes are moved rather than copied: a file is
    // relinked under its folder's node in this tree, and a folder's own node is reused for it and
    // linked into its parent only once its own walk has kept something. The links, their order
    // (each node goes to the front of its new list, as it would be added by a copy) and the
    // properties are those a copy would have. What is not kept (folders with no file below them,
    // nodes without properties) goes back under pSource's root with its properties, to be freed
    // with it: every node and every properties object stays in exactly one tree.
    struct FRAME {
        CFileNode* pTarget;     // the node being filled
        CFileNode* pNextChild;  // next source child to look at (its list is detached)
        bool bKept;             // something was added to pTarget
    };
    if (pSource == nullptr || pTarget == nullptr)
        return false;
    // A node that is the root of its own file system answers for its subtree's partition; in
    // this tree it is a plain folder or file, so it gives its properties to a plain node.
    auto takeNode = [pSource](CFileNode* pNode) {
        pNode->SetExtraData(nullptr);
        if (!pNode->IsFileSystemNode())
            return pNode;
        CFileNode* pPlain = CreateFileNode();
        pPlain->SetProperties(pNode->GetProperties());
        pNode->SetProperties(nullptr);
        pSource->AddChild(pNode);
        return pPlain;
    };
    std::vector<FRAME, CEngineAllocator<FRAME>> stack;
    stack.push_back(FRAME{pTarget, pSource->DetachChildren(), false});
    for (;;) {
        FRAME& frame = stack.back();
        if (frame.pNextChild == nullptr) {
            const FRAME done = frame;
            stack.pop_back();
            if (stack.empty())
                return done.bKept;
            FRAME& parent = stack.back();
            if (done.bKept) {
                parent.pTarget->AddChild(done.pTarget);
                parent.bKept = true;
            } else {
                pSource->AddChild(done.pTarget);
            }
            continue;
        }
        CFileNode* pChild = frame.pNextChild;
        frame.pNextChild = pChild->GetNextSibling();
        IFileProperties* pProperties = pChild->GetProperties();
        if (pChild->GetFirstChild() != nullptr) {
            CFileNode* pChildren = pChild->DetachChildren();
            stack.push_back(FRAME{takeNode(pChild), pChildren, false});
        } else if (pProperties != nullptr && (pProperties->GetAttributes() & FILE_ATTR_DIRECTORY) == 0) {
            frame.pTarget->AddChild(takeNode(pChild));
            frame.bKept = true;
        } else {
            pSource->AddChild(pChild);
        }
    }
}

void CDelvar::HandOverResult(const PARTITION_INFO_EX& partition, int32_t nIndex, int32_t bIsFirst)
{
    if (m_pResultStore != nullptr) {
        m_pResultStore->AddPartition(&partition, nIndex, bIsFirst);
        m_pResultStore->AddFileTree(m_pDeletedFilesTree);
    }
    ++m_nResultsHandedOver;
    ReleaseTrees();
}

void CDelvar::ReleaseTrees()
{
    // The files moved to the "Deleted Files" tree are freed with it, with their properties;
    // whatever was left in the found tree, with it.
    if (m_pDeletedFilesTree != nullptr) {
        DeleteFileTree(m_pDeletedFilesTree);
        m_pDeletedFilesTree = nullptr;
    }
    if (m_pResultTree != nullptr) {
        DeleteFileTree(m_pResultTree);
        m_pResultTree = nullptr;
    }
}
