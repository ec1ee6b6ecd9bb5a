// Turns a FAT12/16/32 partition into a found-file tree whose nodes carry CFATFileProperties.
//
// There are two builds, both aimed at undeleting (deleted entries become files and folders with
// status 1, and a deleted file's data is located by assumption from its first cluster):
// - the quick build of an existing partition starts from its boot sector and walks the
//   directory tree from the root; it lists the folders, the deleted files and everything
//   inside deleted folders;
// - the complete build of a partition found by a sector scan starts from the directory sectors
//   the scan saw, so that folders whose parents are gone still show ("Lost Folders") and
//   directory clusters no chain reaches are read too; it lists live files as well, and hangs
//   the carved files that lie in clusters no file uses under the same root.
//
// The caller owns the returned tree (and deletes it with the engine's tree deleter); null means
// failure or cancellation.
#pragma once

#include <cstdint>

#include "CancelFlag.h"
#include "EngineMemory.h"
#include "FATSearchedPartitionInfo.h"
#include "SearchProgress.h"

class CFATBuildContext;
class CFATFileProperties;
class CFileSystemNode;
class CRawFileInfoContainer;
class IIsClusterUsed;
class IStorageDevice;

// Progress status word of a build that found no usable boot sector.
const uint32_t FAT_BUILD_ERROR_NO_BOOT_SECTOR = 0x100E;

class CFATTreeBuilder : public CEngineObject {
public:
    CFATTreeBuilder();
    virtual ~CFATTreeBuilder();
    CFATTreeBuilder(const CFATTreeBuilder&) = delete;
    CFATTreeBuilder& operator=(const CFATTreeBuilder&) = delete;

    // The engine's progress record and cancel flag; either may be null.
    void SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel);

    // The quick build. The candidate gives the partition start (sectors of pDevice) and the
    // evidence to trust: 0x1-0x4 read the boot sector at the start, 0x8 the FAT32 backup at
    // start + 6, 0x80 and 0x200 allow FAT1 and FAT2. With bListAllEntries live files of live
    // folders are listed too. nMode is not used.
    CFileSystemNode* BuildTree(int32_t nMode, CFATSearchedPartitionInfo* pInfo, IStorageDevice* pDevice,
                               int32_t bListAllEntries);

    // The complete build of a candidate found by the sector scan, from the directory sectors it
    // saw. nIndex + 1 is the number in the root's name. nMode goes to the carving's tree builder.
    CFileSystemNode* BuildTreeFromSearch(int32_t nMode, const CFATDirSectorMap& dirSectors,
                                         CFATSearchedPartitionInfo* pInfo, CRawFileInfoContainer* pCarved,
                                         IStorageDevice* pDevice, int32_t nIndex);

protected:
    // The tree of carved files that lie in clusters the found files do not use, hung under the
    // partition's root; null when there is nothing to show. The carving's tree builder does
    // this; until the carving is part of the engine there is nothing to show.
    virtual CFileSystemNode* BuildRawFileTree(int32_t nMode, CRawFileInfoContainer* pCarved, IStorageDevice* pDevice,
                                              IIsClusterUsed* pClusterUse);

private:
    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pnCancel;
};

// Properties of one 8.3 entry under the given name: null for null arguments or when the scan's
// file-type filter refuses the name (folders and volume labels always pass). Status 1 when the
// entry is deleted.
CFATFileProperties* CreateFATFileProperties(const char* pszName, const uint8_t* pEntry);

// Properties from a run of long-name entries ended by an 8.3 entry (nLength bytes); null when
// the run holds no 8.3 entry or the filter refuses the name.
CFATFileProperties* CreatePropertiesFromEntries(const uint8_t* pEntries, uint32_t nLength);
