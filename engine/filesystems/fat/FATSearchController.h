// The FAT member of the complete scan's search controllers: it looks at every sector of the
// scanned area once and recognises FAT boot sectors (each makes a partition candidate), first
// sectors of a FAT (each confirms the candidates that expect one there) and directory sectors
// (each confirms a candidate or proposes new ones, and is kept for the tree build). At the end
// it scores and hands over its candidates, and builds the tree of a chosen one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "EngineMemory.h"
#include "FileSystemSearchController.h"
#include "TypedFileEntry.h"
#include "fat/FATSearchedPartitionInfo.h"

class CFATDBR;

class CFATSearchController : public IFileSystemSearchController {
public:
    CFATSearchController();
    ~CFATSearchController() override;

    void SetStorageDevice(IStorageDevice* pDevice) override;
    void SetSectorsPerRead(int32_t nSectorsPerRead) override;
    void BeginSearch() override {}
    void EndSearch() override {}
    int32_t SearchSectors(uint64_t ullFirstSector, uint64_t ullSectorCount, SEARCH_STATISTICS* pStatistics) override;
    void CollectSearchedPartitions(CSearchedPartitionInfoList* pCandidates) override;
    void SetRawFileInfoContainer(CRawFileInfoContainer* pContainer) override;
    // The directory sectors seen: u32 count, then each 16-byte record in sector order.
    BOOL SaveState(IDataStream* pWriter) override;
    BOOL LoadState(IDataStream* pReader) override;
    int32_t GetControllerType() override;
    void SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel) override;
    CFileSystemNode* BuildFileTree(CSearchedPartitionInfo* pCandidate, IStorageDevice* pDisk, int32_t nIndex,
                                   int32_t nOption) override;
    BOOL IsSupportedFileSystem(int32_t nFileSystemKind) override;

    const CFATDirSectorMap& GetDirSectors() const { return m_DirSectors; }

    // One sector of the scan, already in memory (exposed for the tests of the evidence rules).
    void AnalyzeSector(uint64_t ullSector, const uint8_t* pSector, SEARCH_STATISTICS* pStatistics);

private:
    typedef std::multimap<uint64_t, CFATSearchedPartitionInfo*, std::less<uint64_t>,
                          CEngineAllocator<std::pair<const uint64_t, CFATSearchedPartitionInfo*>>>
        CCandidateMap;

    bool AnalyzeBootSector(uint64_t ullSector, const uint8_t* pSector);
    CFATSearchedPartitionInfo* CandidateFromBootSector(uint64_t ullStart, const CFATDBR& dbr, bool bBackup);
    CFATSearchedPartitionInfo* CandidateFromDirectory(uint64_t ullSector, uint32_t nDotCluster, uint32_t nPerCluster);
    void AddCandidate(CFATSearchedPartitionInfo* pCandidate, bool bExpectFATs);
    void NoteFATStart(uint64_t ullSector);
    void MatchDirectory(uint64_t ullSector, uint32_t nDotCluster);
    CFATSearchedPartitionInfo* FindCandidate(uint64_t ullDataSector, uint32_t nPerCluster) const;
    void FreeCandidates();

    int32_t m_nSectorsPerRead;
    IStorageDevice* m_pDevice;
    uint64_t m_ullDeviceSectors;
    CRawFileInfoContainer* m_pRawFiles;
    // Keyed by the sector of cluster 2; owned until collected.
    CCandidateMap m_Candidates;
    // Where each boot-sector candidate expects the first sector of FAT1 and of FAT2.
    CCandidateMap m_ExpectedFATs;
    CFATDirSectorMap m_DirSectors;
    CTypedFileEntryList m_TypedFiles;
    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pCancel;
    // A block read here when the device is not the read-ahead cache; a member, so that two scans
    // in one process never share it.
    uint8_t* m_pBlock;
    uint64_t m_ullBlockSectors;
    // The bit of this controller's filter in the read-ahead cache's sector marks; -1 = none.
    int m_nFilterBit;
};
