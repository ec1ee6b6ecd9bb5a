// The engine object behind IDelvar and its scan driver.
//
// Search collects the machine's disks and volumes, finds the chosen partition or disk, runs one
// of three scans (quick, complete, whole-disk), turns every result into a found-file tree,
// derives a "Deleted Files" tree from it and hands both the partition record and that tree to
// the result store, then frees its own trees. Everything a scan allocates (devices, controllers,
// candidates, carved-file records, trees) is released before Search returns, on every path.
//
// Threads: Search runs on one worker thread; Cancel and GetProgress come from another. The
// cancel flag is atomic and the progress record is written and copied field by field as atomic
// words (ProgressRecord.h), so neither side ever reads a torn value.
#pragma once

#include <cstdint>

#include "CancelFlag.h"
#include "DiskInfo.h"
#include "DiskTable.h"
#include "IDelvar.h"
#include "IntelligentSearchController.h"
#include "QuickPartitionSearch.h"
#include "SearchProgress.h"
#include "VolumeCollection.h"

class ICorrand;
class IStorageDevice;
class CFileNode;
class CFileSystemNode;
class CRawFileInfoContainer;
class CGlobalAdvanceSettingData;

// Name of the "Deleted Files" tree's root.
extern const char* const DELETED_FILES_FOLDER_NAME;

// Controller kinds of the complete scan, in the order they are created.
enum SEARCH_CONTROLLER_KIND {
    CONTROLLER_KIND_FAT,
    CONTROLLER_KIND_NTFS,
    CONTROLLER_KIND_EXT2,
    CONTROLLER_KIND_RAW,
};
typedef std::vector<SEARCH_CONTROLLER_KIND> CControllerKindList;

// Which controllers a complete scan of one partition runs: by the settings' file-system choice,
// the partition's own file-system code, and the carving switch (carving always last).
CControllerKindList SelectSearchControllerKinds(int32_t nFileSystemType, DWORD dwPartitionFileSystem, int32_t bScanRaw);
// The whole-disk scan runs every file-system controller, and carving when it is on.
CControllerKindList SelectAllSearchControllerKinds(int32_t bScanRaw);
// A new controller of a kind; null while that kind's reader is not part of the engine.
IFileSystemSearchController* NewSearchController(SEARCH_CONTROLLER_KIND eKind);
// Appends the controllers for a complete scan of the engine's chosen partition.
void CreateSearchControllers(CSearchControllerList& controllers, const PARTITION_INFO_EX& partition);
void CreateAllSearchControllers(CSearchControllerList& controllers);
// Deletes every controller and empties the list.
void DeleteSearchControllers(CSearchControllerList& controllers);
// Deletes every candidate and empties the list.
void DeleteSearchedPartitions(CSearchedPartitionInfoList& candidates);

// The tree of carved files of a scan, without progress or cancel; null when there is nothing to
// show (or while the carving is not part of the engine).
CFileSystemNode* BuildRawFileTreeFromContainer(CRawFileInfoContainer* pContainer, IStorageDevice* pDevice);

// Deletes every node of a tree and each node's properties, children before their parent.
void DeleteFileTree(CFileNode* pRoot);

class CDelvar : public IDelvar {
public:
    CDelvar();
    ~CDelvar() override;
    CDelvar(const CDelvar&) = delete;
    CDelvar& operator=(const CDelvar&) = delete;

    // The one process-wide engine object, built on first use and destroyed at exit.
    static CDelvar* GetInstance();

    int32_t Init(const DISK_INFO_EX* pDisk, const PARTITION_INFO_EX* pPartition, int32_t nMode,
                 int32_t nReserved) override;
    void Reserved(int32_t nReserved1, int32_t nReserved2) override;
    int32_t Search() override;
    int32_t Cancel() override;
    void GetProgress(SEARCH_PROGRESS* pProgress, int32_t anStatus[2]) override;

protected:
    // The pieces below are where the scan meets the readers, the controllers, the carving and
    // the result store. Each is virtual so that a scan can be driven with stand-ins for them.
    virtual ICorrand* LoadResultStore();
    virtual void UnloadResultStore();
    virtual void CreateCompleteScanControllers(CSearchControllerList& controllers);
    virtual void CreateWholeDiskControllers(CSearchControllerList& controllers);
    // Quick-scan readers: the root of the volume's tree (owned by the engine), or null.
    virtual CFileSystemNode* BuildFatTree(IStorageDevice* pDevice, bool bFat32);
    virtual CFileSystemNode* BuildNtfsTree(IStorageDevice* pDevice);
    virtual CFileSystemNode* BuildExt2Tree(IStorageDevice* pDevice);
    virtual CFileSystemNode* BuildRawFileTree(CRawFileInfoContainer* pContainer, IStorageDevice* pDevice);
    virtual void CallQuickPartitionSearch(SEARCH_DEVICE_CONTEXT* pContext, const rvdplat::DISK_GEOMETRY& geometry,
                                          CFoundPartitionList& partitions);

    // Driver steps.
    int32_t FindSearchDevice(CDeviceCollection& collection, SEARCH_DEVICE_CONTEXT* pContext, CDiskDevice** ppDisk);
    void QuickSearch(COLLECTED_VOLUME& volume);
    void CompleteSearch(COLLECTED_VOLUME& volume);
    void DiskSearch(SEARCH_DEVICE_CONTEXT* pContext, CDiskDevice* pDisk);
    CFileSystemNode* BuildPartitionTree(FOUND_PARTITION* pPartition);
    void IntelligentSearch(IStorageDevice* pDevice, CSearchedPartitionInfoList& candidates,
                           const CSearchControllerList& controllers);
    // Turns the best candidates, up to the partition limit, into results; bWholeDisk chooses the
    // whole-disk form of their records.
    void BuildCandidateResults(const CSearchControllerList& controllers, CSearchedPartitionInfoList& candidates,
                               IStorageDevice* pDevice, bool bWholeDisk);
    void BuildDeletedFilesFolder();
    // Moves the files of pSource's tree, under the folders that lead to them, below pTarget;
    // true when something was moved.
    static bool MoveDeletedFiles(CFileNode* pSource, CFileNode* pTarget);
    void HandOverResult(const PARTITION_INFO_EX& partition, int32_t nIndex, int32_t bIsFirst);
    // Hands over the current result tree under the user's own record (the complete scan of one
    // partition) or a record for the whole disk (the whole-disk scan).
    void HandOverUserRecordResult(bool bWholeDisk);
    // A fresh record of a result of the whole-disk scan.
    PARTITION_INFO_EX MakeWholeDiskRecord(DWORD dwFileSystem, uint64_t ullStartSector, WORD wSecondValue) const;
    // Frees whatever tree is still held (a path that built a tree but could not hand it over).
    void ReleaseTrees();
    void SetProgressTitle(const char* pszTitle);
    bool IsCancelled() const { return m_nCancel.load() == 1; }

    PARTITION_INFO_EX m_PartitionInfo;
    DISK_INFO_EX m_DiskInfo;
    int32_t m_nMode;
    int32_t m_bInitialized;
    CFileSystemNode* m_pResultTree;
    CFileSystemNode* m_pDeletedFilesTree;
    SEARCH_PROGRESS m_Progress;
    CANCEL_FLAG m_nCancel;
    int32_t m_nStatusWord;
    ICorrand* m_pResultStore;
    // Results handed to the store during the current Search.
    int32_t m_nResultsHandedOver;
};
