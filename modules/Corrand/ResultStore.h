// The result store (Corrand): every result of the last scan (its partition record and its
// "Deleted Files" tree) in one SQLite database, served to the result page in batches, searched,
// ticked, and read back by the copy-out module.
//
// One object serves the whole process: the engine fills it on its scan thread, the result page
// reads and ticks it from the GUI thread and its worker, the copy-out module reads it on its own
// thread. Every operation runs under one lock.
//
// Results and scans. The engine hands over each result with AddPartition and then its tree with
// AddFileTree. A result begins a new scan, replacing what the store held, when the engine marks
// it as the first (index 0) and also when its index does not follow the previous one's or when
// the result page has read the store since the last hand-over: a scan whose first candidate
// builds no tree hands over its first result with index 1 and no first mark, and must still not
// be mixed with the scan before it. Results are numbered 0, 1, ... in the order they arrive (the
// volume numbers of the listing keys), whatever the engine's indices.
//
// Tick states. The truth is each file's own tick. A folder reports "ticked" when any file below
// it is ticked and "fully" when all are; a folder without files below it reports the state it
// was last given. Ticking a folder fully ticks everything below it, clearing a folder clears
// everything below it, and ticking a folder partly changes nothing below it (its files are
// ticked one by one). Ticked counts and bytes are kept on every folder, so GetCheckedSize reads
// one row.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ICorrand.h"
#include "NameMask.h"
#include "ResultDatabase.h"
#include "ResultStoreAccess.h"

namespace corrand {

class CResultStore final : public ICorrand, public IResultStoreAccess {
public:
    // strDatabaseFile empty: the file named by RAVENDO_RESULT_DB, else "Corrand.db" in the
    // working directory (beside Option.ini), fixed when the store is first used.
    explicit CResultStore(const std::string& strDatabaseFile = std::string());
    ~CResultStore() override;
    CResultStore(const CResultStore&) = delete;
    CResultStore& operator=(const CResultStore&) = delete;

    // ICorrand
    int32_t AddPartition(const PARTITION_INFO_EX* pPartition, int32_t nIndex, int32_t bIsFirst) override;
    int32_t AddFileTree(CFileSystemNode* pRoot) override;
    int32_t GetPartitionCount(int32_t* pnCount) override;
    int32_t BeginEnumFiles(DWORD dwParentRecord, FILE_INFO_EX** ppFiles, int32_t* pnCount, int32_t nKind,
                           DWORD dwVolume) override;
    int32_t BeginSearchFiles(const SEARCH_CONDITION* pCondition, FILE_INFO_EX** ppFiles, int32_t* pnCount,
                             int32_t nReserved) override;
    int32_t GetNextFiles(FILE_INFO_EX** ppFiles, int32_t* pnCount) override;
    int32_t EndEnumFiles() override;
    int32_t GetPartitionInfo(PARTITION_INFO_EX* pPartition, int32_t nIndex) override;
    int32_t SetCheckState(DWORD dwRecord, int32_t bChecked, int32_t bFolder, int32_t bFullyChecked,
                          DWORD dwVolume) override;
    int32_t StopEnumeration() override;
    uint64_t GetCheckedSize(DWORD dwRecord, int32_t nReserved, DWORD dwVolume) override;
    int32_t ClearCheckStates() override;
    int32_t CloseResult() override;
    int32_t BeginPreview(int32_t* pnReserved) override;
    int32_t GetFileInfo(DWORD dwRecord, FILE_DETAIL_INFO** ppInfo, DWORD dwVolume) override;
    int32_t EndPreview() override;

    // IResultStoreAccess
    int32_t GetVolumeCount(DWORD* pdwCount) override;
    int32_t GetVolume(DWORD dwVolume, STORED_VOLUME* pVolume) override;
    int32_t GetStoredFile(DWORD dwVolume, DWORD dwRecord, STORED_FILE* pFile) override;
    int32_t GetCheckedTotals(ULONGLONG* pullFiles, ULONGLONG* pullBytes) override;
    int32_t GetNextCheckedFiles(CHECKED_FILE_CURSOR* pCursor, std::vector<STORED_FILE>* pvecFiles,
                                size_t nMax) override;

    // The database file in use; empty while the results are kept in memory or before first use.
    std::string GetDatabaseFile();

    // Records handed out per listing batch.
    static constexpr int32_t BATCH_SIZE = 256;

private:
    struct VOLUME_INFO {
        int32_t nScanIndex = 0;
        PARTITION_INFO_EX Partition{};
        STORED_SOURCE Source;     // follows from the record
        uint64_t ullDeviceStart = 0;
        uint64_t ullRootStart = 0;
        int32_t nSectorsPerUnit = 0;
        bool bHasTree = false;
        bool bTicked = false;
        uint32_t nRecords = 0;  // below the volume's top
    };

    struct NODE_ROW {
        uint64_t ullKey = 0;
        int64_t i64ParentKey = -1;
        int32_t nKind = 0;
        uint64_t ullLastKey = 0;
        std::u16string strName;
        uint64_t ullSize = 0;
        uint16_t wAttributes = 0;
        uint8_t byStatus = 0;
        uint32_t dwFlags = 0;
        uint64_t aullTimes[3] = {0, 0, 0};  // creation, modification, access
        uint64_t ullFiles = 0, ullBytes = 0, ullTickedFiles = 0, ullTickedBytes = 0;
        bool bOwnTick = false;
    };

    enum LISTING_MODE { LISTING_NONE, LISTING_FOLDER, LISTING_SEARCH };

    struct SEARCH_FILTER {
        std::unique_ptr<CNameMask> pMask;
        bool bDate = false;
        DWORD dwDateKind = 0;
        bool bHasFrom = false, bHasTo = false;
        uint64_t ullFromLocal = 0, ullToLocal = 0, ullFromUtc = 0, ullToUtc = 0;
        bool bSize = false;
        DWORD dwSizeMode = 0;
        uint64_t ullSizeBound = 0;
    };

    struct LISTING {
        LISTING_MODE nMode = LISTING_NONE;
        bool bDone = false;
        int64_t i64ParentKey = 0;  // folder listing
        int32_t nKind = 0;
        uint64_t ullAfterKey = 0;  // folder listing: last key handed out
        uint64_t ullNextKey = 0;   // search: next key to look at
        uint64_t ullEndKey = 0;    // search: last key of the searched subtree
        uint64_t ullFolderKey = 0; // search: the searched folder
        bool bCheckAncestry = false;  // search: the folder's subtree end is damaged; every row
                                      // found is checked to descend from the folder
        SEARCH_FILTER Filter;
    };

    static void ReadRow(const CSqlStatement& statement, NODE_ROW* pRow);
    bool EnsureOpenLocked();
    bool LoadVolumesLocked();
    void NewResultLocked();
    // Logs a database error; damage replaces the store with an empty one.
    void OnSqlErrorLocked(int nCode, const char* pszWhere);
    bool LookupLocked(uint64_t ullKey, NODE_ROW* pRow, STORED_FILE* pFile = nullptr);
    bool InsertTopLocked(uint32_t dwVolume);
    bool PropagateLocked(int64_t i64ParentKey, int64_t i64Files, int64_t i64Bytes);
    void EndListingLocked();
    void FillFolderBatchLocked();
    void FillSearchBatchLocked();
    bool MatchesLocked(const NODE_ROW& row) const;
    void ToFileInfo(const NODE_ROW& row, FILE_INFO_EX* pInfo) const;
    // The folders from the volume's top (not included) down to i64ParentKey: last key and name.
    // Whether the row of key i64Key and parent i64Parent lies in the subtree of ullFolderKey.
    bool DescendsFromLocked(int64_t i64Key, int64_t i64Parent, uint64_t ullFolderKey);
    // Whether the last row up to a folder's subtree end descends from the folder, as it does in
    // every store this program writes.
    bool SubtreeEndHoldsLocked(const NODE_ROW& folder);
    bool OpenFoldersLocked(int64_t i64ParentKey, std::vector<std::pair<uint64_t, std::u16string>>* pvecOpen);
    void FillStoredFileLocked(const NODE_ROW& row, STORED_FILE* pFile);

    std::mutex m_Lock;
    std::string m_strConfiguredFile;
    bool m_bOpenFailed;
    CResultDatabase m_Db;
    std::vector<VOLUME_INFO> m_Volumes;

    // Hand-over from the engine.
    bool m_bAcceptingResults;  // the engine is handing over the results of one scan
    int32_t m_nLastScanIndex;
    int64_t m_i64PendingTreeVolume;  // the volume whose tree comes next, -1 when none

    LISTING m_Listing;
    std::vector<FILE_INFO_EX> m_Batch;
    std::unique_ptr<FILE_DETAIL_INFO> m_pPreview;
};

} // namespace corrand
