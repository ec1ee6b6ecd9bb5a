// The EXT2/EXT3/EXT4 member of the complete scan's search controllers: it watches the sectors of the
// scanned area for superblocks (primary or backup copies), collects the group-descriptor table
// that follows each one, keeps a candidate only when superblock and table agree, counts
// identical finds, and hands over one scored candidate per distinct file system. It then builds
// the tree of a chosen candidate through the EXT2 layer and tree builder.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "FileSystemSearchController.h"
#include "ext2/Ext2SearchedPartitionInfo.h"

class CEXT2SearchController : public IFileSystemSearchController {
public:
    CEXT2SearchController();
    ~CEXT2SearchController() override;

    void SetStorageDevice(IStorageDevice* pDevice) override;
    void SetSectorsPerRead(int32_t nSectorsPerRead) override { m_nSectorsPerRead = nSectorsPerRead; }
    void BeginSearch() override;
    void EndSearch() override;
    int32_t SearchSectors(uint64_t ullFirstSector, uint64_t ullSectorCount, SEARCH_STATISTICS* pStatistics) override;
    void CollectSearchedPartitions(CSearchedPartitionInfoList* pCandidates) override;
    void SetRawFileInfoContainer(CRawFileInfoContainer* pContainer) override { m_pRawFiles = pContainer; }
    BOOL SaveState(IDataStream*) override { return TRUE; }
    BOOL LoadState(IDataStream*) override { return TRUE; }
    int32_t GetControllerType() override { return SEARCH_CONTROLLER_EXT2; }
    void SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel) override
    {
        m_pProgress = pProgress;
        m_pCancel = pnCancel;
    }
    CFileSystemNode* BuildFileTree(CSearchedPartitionInfo* pCandidate, IStorageDevice* pDisk, int32_t nIndex,
                                   int32_t nOption) override;
    BOOL IsSupportedFileSystem(int32_t nFileSystemKind) override
    {
        return nFileSystemKind == 4 || nFileSystemKind == 5;
    }

private:
    typedef std::vector<CExt2SearchedPartitionInfo*, CEngineAllocator<CExt2SearchedPartitionInfo*>> CCandidateList;

    // Looks at the window whose first sector is ullSector: pFirst and pSecond are that sector and
    // the next one.
    void Examine(uint64_t ullSector, const uint8_t* pFirst, const uint8_t* pSecond);
    void FinishPending();
    CExt2SearchedPartitionInfo* FindEqual(const CExt2SearchedPartitionInfo& candidate) const;

    IStorageDevice* m_pDevice;
    CRawFileInfoContainer* m_pRawFiles;
    int32_t m_nSectorsPerRead;
    CCandidateList m_Candidates;
    CExt2SearchedPartitionInfo* m_pPending;
    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pCancel;
    // The scan looks at a window of eight sectors that trails the sectors read by seven; these
    // are the last sectors of the previous block, for the windows that straddle two blocks.
    uint8_t m_abyCarry[7 * 512];
    uint64_t m_ullCarryFirst;
    uint32_t m_nCarrySectors;
    // First sector of the next window to look at.
    uint64_t m_ullNextWindow;
    // A block read here when the device is not the read-ahead cache.
    uint8_t* m_pBlock;
    uint64_t m_ullBlockSectors;
    // The bit of this controller's filter in the read-ahead cache's sector marks; -1 = none.
    int m_nFilterBit;
};
