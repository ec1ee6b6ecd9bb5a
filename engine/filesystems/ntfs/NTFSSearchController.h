// The NTFS search controller of the complete scan. It is handed the disk block by block; it
// recognises NTFS boot sectors, FILE records, folder records with an index allocation, INDX
// blocks and $LogFile restart pages, turns them into NTFS partition candidates with its four
// evidence analyzers, scores and filters the candidates at the end, and keeps what the tree of
// a found partition needs: the $MFT record objects and the extents of every FILE record seen.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "FileSystemSearchController.h"
#include "NTFSCandidateSet.h"
#include "NTFSScanTreeBuilder.h"
#include "NTFSSearchAnalyzers.h"
#include "TypedFileEntry.h"

class CFileRecordHolder;
class CNTFSDBR;
class CNTFSFolderRecordInfo;

// An INDX block the scan met: its sector and VCN, keyed by the folder that owns it.
struct NTFS_INDEX_BLOCK_ENTRY {
    uint64_t ullSector;
    uint64_t ullVcn;
};

class CNTFSSearchController : public IFileSystemSearchController {
public:
    CNTFSSearchController();
    ~CNTFSSearchController() override;

    void SetStorageDevice(IStorageDevice* pDevice) override;
    void SetSectorsPerRead(int32_t nSectorsPerRead) override;
    void BeginSearch() override;
    void EndSearch() override;
    int32_t SearchSectors(uint64_t ullFirstSector, uint64_t ullSectorCount, SEARCH_STATISTICS* pStatistics) override;
    void CollectSearchedPartitions(CSearchedPartitionInfoList* pCandidates) override;
    void SetRawFileInfoContainer(CRawFileInfoContainer* pContainer) override;
    // Number of $MFT record objects and each in its saved form, then the number of FILE-record
    // extents and each extent.
    BOOL SaveState(IDataStream* pWriter) override;
    BOOL LoadState(IDataStream* pReader) override;
    int32_t GetControllerType() override;
    void SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel) override;
    CFileSystemNode* BuildFileTree(CSearchedPartitionInfo* pCandidate, IStorageDevice* pDisk, int32_t nIndex,
                                   int32_t nOption) override;
    BOOL IsSupportedFileSystem(int32_t nFileSystemKind) override;

    // For tests: what the scan holds.
    CNTFSCandidateSet& GetCandidates() { return m_Candidates; }
    const CMFTRecordInfoList& GetMFTRecords() const { return m_MFTRecords; }
    const CFileRecordExtentList& GetExtents() const { return m_Extents; }

private:
    typedef std::multimap<uint64_t, NTFS_INDEX_BLOCK_ENTRY, std::less<uint64_t>,
                          CEngineAllocator<std::pair<const uint64_t, NTFS_INDEX_BLOCK_ENTRY>>>
        CIndexBlockMap;
    typedef std::multimap<uint64_t, CNTFSFolderRecordInfo*, std::less<uint64_t>,
                          CEngineAllocator<std::pair<const uint64_t, CNTFSFolderRecordInfo*>>>
        CFolderRecordMap;

    void AnalyzeBootSector(uint64_t ullSector, const uint8_t* pSector);
    void AnalyzeIndexWindow(uint64_t ullSector, const uint8_t* pWindow, size_t nLength, uint64_t ullReadEnd);
    void AnalyzeIndexBlock(uint64_t ullSector, const uint8_t* pBlock, size_t nLength);
    void MergeIndexCandidate(uint64_t ullBlockSector, uint64_t ullVcn, const CNTFSFolderRecordInfo& folder);
    // True when a valid FILE record was found at the position.
    bool AnalyzeFileRecordWindow(uint64_t ullSector, const uint8_t* pWindow, size_t nLength, uint64_t ullReadEnd);
    bool AnalyzeFileRecord(uint64_t ullSector, const uint8_t* pRecord, size_t nLength);
    void AnalyzeFolderRecord(uint64_t ullSector, const CFileRecordHolder& holder);
    void AnalyzeOrdinaryRecord(uint64_t ullSector, const CFileRecordHolder& holder);
    void AddExtent(uint64_t ullSector);
    void FreeSearchState();
    void FreeKeptLists();

    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pCancel;
    int32_t m_nSectorsPerRead;
    IStorageDevice* m_pDevice;
    uint64_t m_ullTotalSectors;
    uint8_t* m_pBuffer;
    uint64_t m_ullBufferSectors;
    CRawFileInfoContainer* m_pRawFiles;
    CIndexBlockMap m_IndexBlocks;
    CNTFSCandidateSet m_Candidates;
    CFolderRecordMap m_FolderRecords;
    CSystemFileRecordList m_MirrRecords;
    CMFTRecordPairList m_Pairs;
    CMFTRecordInfoList m_MFTRecords;
    CFileRecordExtentList m_Extents;
    CNTFSMFTRecordAnalyzer* m_pMFTAnalyzer;
    CNTFSAttrDefAnalyzer* m_pAttrDefAnalyzer;
    CNTFSUpCaseAnalyzer* m_pUpCaseAnalyzer;
    CNTFSLogFileAnalyzer* m_pLogFileAnalyzer;
    CTypedFileEntryList m_TypedFiles;

    // An INDX block or a FILE record cut by the end of the previous read.
    uint8_t* m_pHeldIndex;
    uint64_t m_ullHeldIndexSector;
    uint64_t m_nHeldIndexSectors;
    uint8_t* m_pHeldRecord;
    // Where a file record of the scanned block is fixed up.
    uint8_t* m_pRecordCopy;
    uint64_t m_ullHeldRecordSector;
    bool m_bRecordHeld;
    // The bit of this controller's filter in the read-ahead cache's sector marks; -1 = none.
    int m_nFilterBit;
};
