// The quick build of an existing NTFS volume: from its boot sector to $MFT (or $MFTMirr), every
// FILE record of $MFT read in 64 KiB chunks, the folders and the records not in use kept, and
// assembled below a root for the volume. In-use files of the quick build are not listed: it
// shows what can be undeleted. Files whose folder cannot be reached from the root folder go to
// "LostFiles<n>" folders.
//
// Progress: "Phase 1 of 2" reading the records, "Phase 2 of 2" building the tree. The cancel
// flag stops either phase; a build cancelled while reading ends with nothing (null).
#pragma once

#include <cstdint>
#include <vector>

#include "CancelFlag.h"
#include "EngineMemory.h"
#include "SearchProgress.h"
#include "SearchedPartitionInfo.h"

class CFileSystemNode;
class CMFTFileRecordSet;
class CMFTRecordInfo;
class IStorageDevice;

// The quick build reads $MFT in chunks of this many sectors (64 KiB), one device read for each
// contiguous piece.
const uint32_t NTFS_MFT_CHUNK_SECTORS = 128;

class CNTFSTreeBuilder : public CEngineObject {
public:
    CNTFSTreeBuilder();
    ~CNTFSTreeBuilder();
    CNTFSTreeBuilder(const CNTFSTreeBuilder&) = delete;
    CNTFSTreeBuilder& operator=(const CNTFSTreeBuilder&) = delete;

    // The engine's progress record and cancel flag; either may be null.
    void SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel);

    // Builds the tree of the NTFS volume at ullStartSector of pDevice. Null when the boot
    // sector is not an NTFS boot sector, when neither $MFT nor $MFTMirr gives a usable $MFT
    // record, or when nothing was found. The caller owns the tree. nReserved is not used.
    CFileSystemNode* BuildTree(uint64_t ullStartSector, IStorageDevice* pDevice, int32_t nReserved);

private:
    CFileSystemNode* BuildExistingVolume(uint32_t nRecordBytes, uint64_t ullMFTCluster, uint64_t ullMirrCluster);
    // A CMFTRecordInfo for the $MFT record at the cluster; null when it cannot be read, is no
    // valid $MFT record, or yields no runs.
    CMFTRecordInfo* LocateMFT(uint64_t ullCluster, uint32_t nRecordBytes);
    void ReadVolumeLabel(const CMFTRecordInfo& mft, uint32_t nRecordBytes, char* pszLabel);
    // Phase 1: returns the number of records kept; false in *pbCancelled when the phase ran
    // to its end.
    uint32_t ReadFileRecords(const CMFTRecordInfo& mft, uint32_t nRecordBytes, bool* pbCancelled);
    // The records of one chunk (nSectors filled, the first at $MFT data sector ullFirstIndex).
    uint32_t ProcessChunk(uint8_t* pChunk, const uint64_t* pSectors, uint32_t nSectors, uint64_t ullFirstIndex,
                          const CMFTRecordInfo& mft, uint32_t nRecordBytes);

    std::vector<CMFTFileRecordSet*, CEngineAllocator<CMFTFileRecordSet*>> m_RecordSets;
    // Geometry of the volume being read: start sector, sectors per cluster, and in
    // m_ullSectorCount the device's sectors from the start on.
    CSearchedPartitionInfo m_Partition;
    IStorageDevice* m_pDevice;
    int32_t m_nReserved;
    CFileSystemNode* m_pRoot;
    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pnCancel;
    CMFTFileRecordSet* m_pCurrentSet;
};
