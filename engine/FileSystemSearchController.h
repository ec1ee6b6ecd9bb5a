// The interface through which the complete scan runs every file-system search controller
// (FAT, NTFS, EXT2 and signature carving): all are fed the same blocks of sectors, hand over
// their partition candidates, and the one that supports a candidate's file system builds its
// tree.
#pragma once

#include <cstdint>

#include "CancelFlag.h"
#include "EngineMemory.h"
#include "FileSystemNode.h"
#include "IDataStream.h"
#include "RawFileInfo.h"
#include "SearchedPartitionInfo.h"
#include "WinTypes.h"

class IStorageDevice;
struct SEARCH_STATISTICS;
struct SEARCH_PROGRESS;

// Values of GetControllerType.
enum {
    SEARCH_CONTROLLER_NTFS = 0,
    SEARCH_CONTROLLER_FAT = 1,
    SEARCH_CONTROLLER_RAW = 2,
    SEARCH_CONTROLLER_EXT2 = 3,
};

class IFileSystemSearchController : public CEngineObject {
public:
    IFileSystemSearchController() {}
    virtual ~IFileSystemSearchController() {}

    virtual void SetStorageDevice(IStorageDevice* pDevice) = 0;
    virtual void SetSectorsPerRead(int32_t nSectorsPerRead) = 0;
    virtual void BeginSearch() = 0;
    virtual void EndSearch() {}
    virtual int32_t SearchSectors(uint64_t ullFirstSector, uint64_t ullSectorCount,
                                  SEARCH_STATISTICS* pStatistics) = 0;
    // Appends this controller's candidates; the engine owns what is appended.
    virtual void CollectSearchedPartitions(CSearchedPartitionInfoList* pCandidates) = 0;
    virtual void SetRawFileInfoContainer(CRawFileInfoContainer* pContainer) = 0;
    // A controller without state to keep writes and reads nothing and returns TRUE;
    // LoadState returns FALSE on a short or damaged record.
    virtual BOOL SaveState(IDataStream* pWriter) = 0;
    virtual BOOL LoadState(IDataStream* pReader) = 0;
    virtual int32_t GetControllerType() = 0;
    // The engine's progress record and cancel flag, for the tree that BuildFileTree builds.
    virtual void SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
    {
        (void)pProgress;
        (void)pnCancel;
    }
    // Root of the candidate's tree (owned by the caller), or null.
    virtual CFileSystemNode* BuildFileTree(CSearchedPartitionInfo* pCandidate, IStorageDevice* pDisk,
                                           int32_t nIndex, int32_t nOption)
    {
        (void)pCandidate;
        (void)pDisk;
        (void)nIndex;
        (void)nOption;
        return nullptr;
    }
    virtual BOOL IsSupportedFileSystem(int32_t nFileSystemKind)
    {
        (void)nFileSystemKind;
        return FALSE;
    }

    IFileSystemSearchController(const IFileSystemSearchController&) = delete;
    IFileSystemSearchController& operator=(const IFileSystemSearchController&) = delete;
};
