// The evidence collectors of the NTFS complete scan. While the disk is read sector by sector
// they recognise the data of $AttrDef and $UpCase (whose contents every formatter writes the
// same), the restart and log record pages of $LogFile, and the run of system FILE records that
// starts at a $MFT record; they keep the FILE records of these system files, build NTFS
// partition candidates from what they saw or confirm candidates already held, and at the end
// tell each candidate how much of its system files' data the scan met.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "EngineMemory.h"
#include "MFTRecordInfo.h"
#include "NTFSCandidateSet.h"
#include "SectorRangeList.h"

class CFileRecordHolder;

typedef std::vector<CMFTRecordInfo*, CEngineAllocator<CMFTRecordInfo*>> CMFTRecordInfoList;
typedef std::vector<CMFTMirrRecordInfo*, CEngineAllocator<CMFTMirrRecordInfo*>> CSystemFileRecordList;
typedef std::pair<CMFTRecordInfo*, CMFTMirrRecordInfo*> MFT_RECORD_PAIR;
typedef std::vector<MFT_RECORD_PAIR, CEngineAllocator<MFT_RECORD_PAIR>> CMFTRecordPairList;

// A $LogFile restart page in the window: at least 4096 bytes, "RSTR", the UTF-16 text "NTFS" at
// 144, and the last word of each of its 8 sectors equal to the update sequence number at 30.
bool IsRSTRPage(const uint8_t* pWindow, size_t nLength);

// The sector equals one of the five sectors of the $AttrDef image that every formatter writes.
bool IsAttrDefImageSector(const uint8_t* pSector);
// The sector equals one of the 256 sectors of the $UpCase table.
bool IsUpCaseImageSector(const uint8_t* pSector);

// The record object of a system file's FILE record: its sector, the runs of its unnamed $DATA
// (without the length check; there must be some), its $LogFile sequence number and, with
// bInferClusterSize, the sectors per cluster inferred from the record (which must succeed; the
// result may be 0). Null when the holder is empty or the runs cannot be collected.
CMFTMirrRecordInfo* CreateSystemFileRecordInfo(const CFileRecordHolder& holder, uint64_t ullSector,
                                               bool bInferClusterSize);

// What $AttrDef and $UpCase have in common: their FILE records and the sectors seen with their
// data, and how a candidate is told about them.
class CNTFSSystemFileDataAnalyzer : public CEngineObject {
public:
    virtual ~CNTFSSystemFileDataAnalyzer();
    CNTFSSystemFileDataAnalyzer(const CNTFSSystemFileDataAnalyzer&) = delete;
    CNTFSSystemFileDataAnalyzer& operator=(const CNTFSSystemFileDataAnalyzer&) = delete;

    // Keeps the record object of the system file's FILE record (held with its fix-ups), while
    // fewer than the list limit are kept; a record that yields none is dropped.
    void AddRecord(uint64_t ullSector, const CFileRecordHolder& holder);
    // Finds the system file's record for the candidate (at the fixed distance from its $MFT
    // record, else the first one inside it) and counts the sectors of its data that were seen.
    void FillCandidate(CSearchedNTFSPartitionInfo* pCandidate) const;

    const CSystemFileRecordList& GetRecords() const { return m_Records; }
    const CSectorRangeList& GetSeenSectors() const { return m_Seen; }

protected:
    // nRecordDistance: sectors from the $MFT record to this system file's record.
    explicit CNTFSSystemFileDataAnalyzer(uint64_t ullRecordDistance) : m_ullRecordDistance(ullRecordDistance) {}
    virtual void StoreFill(CSearchedNTFSPartitionInfo* pCandidate, uint64_t ullRecordSector,
                           uint64_t ullSeen) const = 0;

    CSystemFileRecordList m_Records;
    CSectorRangeList m_Seen;
    uint64_t m_ullRecordDistance;
};

class CNTFSAttrDefAnalyzer : public CNTFSSystemFileDataAnalyzer {
public:
    CNTFSAttrDefAnalyzer();
    // The sector equals one of the five sectors of the $AttrDef image: it is recorded.
    bool CheckSector(uint64_t ullSector, const uint8_t* pSector);

protected:
    void StoreFill(CSearchedNTFSPartitionInfo* pCandidate, uint64_t ullRecordSector, uint64_t ullSeen) const override;
};

class CNTFSUpCaseAnalyzer : public CNTFSSystemFileDataAnalyzer {
public:
    CNTFSUpCaseAnalyzer();
    // The sector equals the slice of the $UpCase image that its second byte names (or one of
    // the few slices whose second byte is another): recorded.
    bool CheckSector(uint64_t ullSector, const uint8_t* pSector);

protected:
    void StoreFill(CSearchedNTFSPartitionInfo* pCandidate, uint64_t ullRecordSector, uint64_t ullSeen) const override;
};

class CNTFSLogFileAnalyzer : public CNTFSSystemFileDataAnalyzer {
public:
    CNTFSLogFileAnalyzer(CNTFSCandidateSet* pCandidates, uint64_t ullTotalSectors);
    ~CNTFSLogFileAnalyzer() override;

    // The record object (its cluster size must be inferable), then candidates from the restart
    // pages seen so far.
    void AddLogFileRecord(uint64_t ullSector, const CFileRecordHolder& holder);
    // A restart page at ullSector.
    void AnalyzeRSTRRecord(uint64_t ullSector, const uint8_t* pPage);
    // Log record pages of one read of nSectors sectors from ullFirst; a page cut by the end of
    // the read is completed with the start of the next one. With pMarks (one byte per sector),
    // a page starts only at a sector whose mark holds a bit of byMask.
    void ScanLogPages(const uint8_t* pData, uint64_t ullFirst, uint64_t nSectors, const uint8_t* pMarks = nullptr,
                      uint8_t byMask = 0);

    size_t GetRecordCount() const { return m_Records.size(); }
    const std::vector<uint64_t, CEngineAllocator<uint64_t>>& GetRestartPages() const { return m_RestartPages; }

protected:
    void StoreFill(CSearchedNTFSPartitionInfo* pCandidate, uint64_t ullRecordSector, uint64_t ullSeen) const override;

private:
    void AddPage(uint64_t ullFirst);

    CNTFSCandidateSet* m_pCandidates;
    uint64_t m_ullTotalSectors;
    std::vector<uint64_t, CEngineAllocator<uint64_t>> m_RestartPages;
    // The start of a log record page that the previous read cut off.
    uint8_t* m_pHeld;
    uint64_t m_ullHeldFirst;
    uint64_t m_nHeldSectors;
};

// Follows the system FILE records that start at a $MFT record (record n 2n sectors after it):
// pairs $MFT with $MFTMirr, takes the volume's size from $Bitmap, and builds or confirms
// candidates when the group ends.
class CNTFSMFTRecordAnalyzer : public CEngineObject {
public:
    // The lists belong to the controller and outlive the analyzer.
    CNTFSMFTRecordAnalyzer(CMFTRecordInfoList* pMFTRecords, CSystemFileRecordList* pMirrRecords,
                           CNTFSCandidateSet* pCandidates, CMFTRecordPairList* pPairs, uint64_t ullTotalSectors);
    ~CNTFSMFTRecordAnalyzer();
    CNTFSMFTRecordAnalyzer(const CNTFSMFTRecordAnalyzer&) = delete;
    CNTFSMFTRecordAnalyzer& operator=(const CNTFSMFTRecordAnalyzer&) = delete;

    // Every FILE-record position of the scan; the holder is empty when the record was refused.
    void CheckRecord(uint64_t ullSector, const CFileRecordHolder& holder);
    // The same for a position that holds no FILE record at all.
    void CheckEmptyPosition(uint64_t ullSector);
    // Ends the group being followed (the scan's end).
    void FinishGroup();
    // At the scan's end, after FinishGroup: each pair that was taken for $MFT itself only
    // because nothing confirmed it as the $MFTMirr copy is looked at again with all the scan
    // saw. Where the copy's run list puts $MFT's record 0 no $MFT record was found, but
    // record 1 stands there as the copy has it: the pair is the copy in $MFTMirr of a volume
    // whose record 0 is lost. Its volume is found (or made) with the copy as its $MFT record,
    // ending where the $Bitmap at its place (record 6) says when no boot sector tells, and the
    // candidate that took the copy for $MFT itself, on no other evidence, goes.
    void PlaceMirrorCopies();

    uint64_t GetGroupSector() const { return m_ullGroupSector; }
    int64_t GetBitmapClusters() const { return m_llBitmapClusters; }

private:
    void CandidatesFromMFTRecord(CMFTRecordInfo* pMFT);
    void EvaluatePair(CMFTRecordInfo* pMFT, CMFTMirrRecordInfo* pMirr);
    void Adjust(CSearchedNTFSPartitionInfo* pCandidate) const;

    CMFTRecordInfo* m_pCurrentMFT;
    CMFTMirrRecordInfo* m_pCurrentMirr;
    uint64_t m_ullGroupSector;    // ~0 while no group is open
    int64_t m_llBitmapClusters;   // -1 while unknown
    CMFTRecordInfoList* m_pMFTRecords;
    CSystemFileRecordList* m_pMirrRecords;
    CMFTRecordPairList* m_pPairs;
    CNTFSCandidateSet* m_pCandidates;
    uint64_t m_ullTotalSectors;
    // Pairs that neither a pair at their $MFT nor a candidate held confirmed as mirror copies.
    CMFTRecordPairList m_Unconfirmed;
    // The $Bitmap records met outside a group (whose $MFT record was not met): sector and the
    // clusters their bitmap describes.
    std::vector<std::pair<uint64_t, int64_t>, CEngineAllocator<std::pair<uint64_t, int64_t>>> m_LoneBitmaps;
};
