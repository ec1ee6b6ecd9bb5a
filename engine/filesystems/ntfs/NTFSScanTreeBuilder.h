// The tree of an NTFS partition that a complete scan found. It is built from what the scan kept,
// without trusting the partition's boot sector: every $MFT record the scan met that belongs to
// the candidate gives a record set, the FILE records the scan collected inside the candidate are
// read again, those inside a record set's $MFT data take their numbers from it and are assembled
// from the root folder down, and the others are gathered into lost-files folders.
//
// Progress: "Phase 1 of 2" reading the records, "Phase 2 of 2" building the tree; the cancel flag
// stops either.
#pragma once

#include <cstdint>
#include <vector>

#include "CancelFlag.h"
#include "EngineMemory.h"
#include "FileRecordExtent.h"
#include "NTFSSearchAnalyzers.h"
#include "SearchProgress.h"

class CFileSystemNode;
class CMFTFileRecordSet;
class CNTFSFileRecordItem;
class CRawFileInfoContainer;
class CSearchedPartitionInfo;
class IStorageDevice;

typedef std::vector<FILE_RECORD_EXTENT, CEngineAllocator<FILE_RECORD_EXTENT>> CFileRecordExtentList;

// The scan's lists that the builder reads: the $MFT record objects and the FILE-record extents.
struct NTFS_SCAN_LISTS {
    const CMFTRecordInfoList* pMFTRecords;
    const CFileRecordExtentList* pExtents;
};

// Sectors read at once when the collected FILE records are read again.
const uint32_t NTFS_SCAN_TREE_WINDOW_SECTORS = 128;

class CNTFSScanTreeBuilder : public CEngineObject {
public:
    CNTFSScanTreeBuilder();
    ~CNTFSScanTreeBuilder();
    CNTFSScanTreeBuilder(const CNTFSScanTreeBuilder&) = delete;
    CNTFSScanTreeBuilder& operator=(const CNTFSScanTreeBuilder&) = delete;

    // Either may be null.
    void SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel);

    // Null when the candidate is not an NTFS candidate or nothing was found; the caller owns the
    // tree. nPartitionIndex numbers the root ("<index + 1> NTFS"); nRawArgument is not used.
    CFileSystemNode* BuildTree(const NTFS_SCAN_LISTS& lists, CSearchedPartitionInfo* pCandidate,
                               CRawFileInfoContainer* pRawFiles, IStorageDevice* pDevice, int32_t nPartitionIndex,
                               int32_t nRawArgument);

private:
    void CollectRecordSets();
    bool ReadRecords();
    void ProcessWindow(uint8_t* pWindow, uint64_t ullFirst, uint32_t nSectors);
    void ProcessRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector);
    CMFTFileRecordSet* FindRecordSet(uint64_t ullSector) const;
    void ReadVolumeLabel(char* pszLabel);
    // The carved files found in clusters that no file of the tree uses, under the root.
    void AddCarvedFiles(CFileSystemNode* pRoot);
    void FreeItems();

    std::vector<CMFTFileRecordSet*, CEngineAllocator<CMFTFileRecordSet*>> m_RecordSets;
    std::vector<CNTFSFileRecordItem*, CEngineAllocator<CNTFSFileRecordItem*>> m_LooseItems;
    IStorageDevice* m_pDevice;
    uint64_t m_ullStartSector;
    int32_t m_nSectorsPerCluster;
    NTFS_SCAN_LISTS m_ScanLists;
    CSearchedPartitionInfo* m_pCandidate;
    CRawFileInfoContainer* m_pRawFiles;
    int32_t m_nPartitionIndex;
    int32_t m_nRawTreeArgument;
    CFileSystemNode* m_pRoot;
    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pCancel;
    uint32_t m_nProgressTotal;
};
