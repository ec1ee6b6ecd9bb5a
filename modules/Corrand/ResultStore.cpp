#include "ResultStore.h"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "FileNode.h"
#include "FileProperties.h"
#include "FileSystemNode.h"
#include "ByteOrder.h"
#include "Charset.h"
#include "Time.h"
#include "TreeImport.h"
#include "Veskel.h"
#include "WideText.h"

namespace corrand {

namespace {

const int32_t STORE_OK = 0;
const int32_t STORE_FAILED = 1;       // bad argument, no such volume or record, database error
const int32_t STORE_UNAVAILABLE = 2;  // no database at all
const int32_t STORE_END = 1;          // GetNextFiles: the listing is at its end

const char* const DEFAULT_DATABASE_NAME = "Corrand.db";
const char* const DATABASE_ENVIRONMENT = "RAVENDO_RESULT_DB";

// A volume number fills the upper half of a key that SQLite keeps as a signed 64-bit integer;
// no scan comes near this many results.
const size_t MAX_VOLUMES = 0x10000;
// A search hands back what it found once it has looked at this many rows, so that a folder of
// millions of files with rare hits still shows its first hits soon.
const uint32_t SEARCH_ROWS_PER_BATCH = 65536;
const uint64_t MAX_STORED_BYTES = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

// want - have, for tick counts and byte totals read back from the file: each is first kept
// within 0 .. MAX_STORED_BYTES (a damaged row may hold any value), so the difference cannot
// overflow.
int64_t StoredDifference(uint64_t ullWant, uint64_t ullHave)
{
    return static_cast<int64_t>(std::min(ullWant, MAX_STORED_BYTES)) -
           static_cast<int64_t>(std::min(ullHave, MAX_STORED_BYTES));
}

// A stored count or byte total changed by i64Delta, kept within 0 .. MAX_STORED_BYTES whatever
// the stored value was.
int64_t AddToStored(int64_t i64Stored, int64_t i64Delta)
{
    int64_t i64Sum = 0;
    if (__builtin_add_overflow(std::max<int64_t>(0, i64Stored), i64Delta, &i64Sum))
        return std::numeric_limits<int64_t>::max();
    return std::max<int64_t>(0, i64Sum);
}

const DWORD NO_FOLDER = 0xFFFFFFFFu;

std::string DefaultDatabaseFile()
{
    const char* pszFile = std::getenv(DATABASE_ENVIRONMENT);
    if (pszFile != nullptr && *pszFile != 0)
        return pszFile;
    // Fixed now, so a later change of the working directory does not move the store.
    char szFolder[PATH_MAX];
    if (getcwd(szFolder, sizeof(szFolder)) == nullptr)
        return DEFAULT_DATABASE_NAME;
    return std::string(szFolder) + "/" + DEFAULT_DATABASE_NAME;
}

SYSTEMTIME ToSystemTime(uint64_t ullTicks, bool bLocalAlready)
{
    SYSTEMTIME st{};
    if (ullTicks == 0)
        return st;
    FILETIME ft{ullTicks};
    FILETIME ftLocal = ft;
    if (!bLocalAlready && !rvd::FileTimeToLocalFileTime(ft, ftLocal))
        return st;
    if (!rvd::FileTimeToSystemTime(ftLocal, st))
        st = SYSTEMTIME{};
    return st;
}

} // namespace

CResultStore::CResultStore(const std::string& strDatabaseFile)
    : m_strConfiguredFile(strDatabaseFile), m_bOpenFailed(false), m_bAcceptingResults(false), m_nLastScanIndex(-1),
      m_i64PendingTreeVolume(-1)
{
}

CResultStore::~CResultStore()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Db.Close();
}

std::string CResultStore::GetDatabaseFile()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return (m_Db.IsOpen() && !m_Db.IsInMemory()) ? m_Db.GetPath() : std::string();
}

// --- opening and errors ---

bool CResultStore::EnsureOpenLocked()
{
    if (m_Db.IsOpen())
        return true;
    if (m_bOpenFailed)
        return false;
    const std::string strFile = m_strConfiguredFile.empty() ? DefaultDatabaseFile() : m_strConfiguredFile;
    if (!m_Db.Open(strFile)) {
        LogInfo("Result store: no database can be opened; results cannot be kept");
        m_bOpenFailed = true;
        return false;
    }
    if (!LoadVolumesLocked()) {
        // Readable tables whose content does not hold together are damage too.
        m_Db.ReplaceDamaged("reading the results");
        m_Volumes.clear();
    }
    return m_Db.IsOpen();
}

bool CResultStore::LoadVolumesLocked()
{
    m_Volumes.clear();
    CSqlStatement& select = m_Db.m_SelectVolumes;
    CStatementUse use(select);
    int nCode;
    while ((nCode = select.Step()) == SQLITE_ROW) {
        size_t nRecordSize = 0;
        const uint8_t* pRecord = select.ColumnBlob(2, &nRecordSize);
        if (select.ColumnInt(0) != static_cast<int64_t>(m_Volumes.size()) || nRecordSize != sizeof(PARTITION_INFO_EX) ||
            m_Volumes.size() >= MAX_VOLUMES) {
            LogInfo("Result store: the stored result list is inconsistent");
            return false;
        }
        VOLUME_INFO info;
        info.nScanIndex = static_cast<int32_t>(select.ColumnInt(1));
        memcpy(&info.Partition, pRecord, sizeof(info.Partition));
        info.Source = SourceOfResult(info.Partition);
        info.ullDeviceStart = select.ColumnU64(3);
        info.ullRootStart = select.ColumnU64(4);
        info.nSectorsPerUnit = static_cast<int32_t>(select.ColumnInt(5));
        info.bHasTree = select.ColumnInt(6) != 0;
        info.bTicked = select.ColumnInt(7) != 0;
        info.nRecords = static_cast<uint32_t>(select.ColumnInt(8));
        m_Volumes.push_back(info);
    }
    return nCode == SQLITE_DONE;
}

void CResultStore::OnSqlErrorLocked(int nCode, const char* pszWhere)
{
    if (!CResultDatabase::IsDamageCode(nCode)) {
        LogInfo("Result store: %s failed: %s", pszWhere, m_Db.LastError());
        return;
    }
    EndListingLocked();
    m_Db.ReplaceDamaged(pszWhere);
    m_Volumes.clear();
    m_bAcceptingResults = false;
    m_i64PendingTreeVolume = -1;
}

void CResultStore::NewResultLocked()
{
    EndListingLocked();
    if (!m_Db.Recreate())
        LogInfo("Result store: the previous results could not be removed");
    m_Volumes.clear();
    m_nLastScanIndex = -1;
    m_i64PendingTreeVolume = -1;
}

// --- rows ---

bool CResultStore::LookupLocked(uint64_t ullKey, NODE_ROW* pRow, STORED_FILE* pFile)
{
    CSqlStatement& select = m_Db.m_SelectNode;
    CStatementUse use(select);
    select.BindU64(1, ullKey);
    const int nCode = select.Step();
    if (nCode != SQLITE_ROW) {
        if (nCode != SQLITE_DONE)
            OnSqlErrorLocked(nCode, "reading a record");
        return false;
    }
    ReadRow(select, pRow);
    if (pFile != nullptr) {
        pFile->vecRuns.clear();
        size_t nBytes = 0;
        const uint8_t* pRuns = select.ColumnBlob(COL_RUNS, &nBytes);
        for (size_t i = 0; i + 16 <= nBytes; i += 16)
            pFile->vecRuns.push_back(STORED_RUN{rvd::LoadLE64(pRuns + i), rvd::LoadLE64(pRuns + i + 8)});
        pFile->ullResidentSector = select.ColumnIsNull(COL_RES_SECTOR) ? 0 : select.ColumnU64(COL_RES_SECTOR);
        pFile->dwResidentOffset = select.ColumnIsNull(COL_RES_OFFSET) ? 0 : static_cast<DWORD>(select.ColumnInt(COL_RES_OFFSET));
        pFile->ullValidSize = select.ColumnIsNull(COL_VALID) ? ~0ULL : select.ColumnU64(COL_VALID);
        pFile->dwCompressionUnitSectors = select.ColumnIsNull(COL_CUNIT) ? 0 : static_cast<DWORD>(select.ColumnInt(COL_CUNIT));
    }
    return true;
}

bool CResultStore::InsertTopLocked(uint32_t dwVolume)
{
    CSqlStatement& insert = m_Db.m_InsertNode;
    CStatementUse use(insert);
    const uint64_t ullKey = MakeNodeKey(dwVolume, 0);
    insert.BindU64(1, ullKey);
    insert.BindInt(2, -1);
    insert.BindInt(3, NODE_FOLDER);
    insert.BindU64(4, ullKey);
    insert.BindText16(5, std::u16string_view());
    for (int i = 6; i <= 17; ++i)
        insert.BindInt(i, 0);
    insert.BindInt(7, FILE_ATTR_DIRECTORY);
    insert.BindInt(9, STORED_FILE_FOLDER);
    for (int i = 18; i <= 22; ++i)
        insert.BindNull(i);
    const int nCode = insert.Step();
    if (nCode != SQLITE_DONE) {
        OnSqlErrorLocked(nCode, "storing a result");
        return false;
    }
    return true;
}

// --- hand-over from the engine ---

int32_t CResultStore::AddPartition(const PARTITION_INFO_EX* pPartition, int32_t nIndex, int32_t bIsFirst)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (pPartition == nullptr)
        return STORE_FAILED;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    const bool bNewScan = bIsFirst != 0 || nIndex <= 0 || !m_bAcceptingResults || nIndex <= m_nLastScanIndex;
    if (bNewScan) {
        if (bIsFirst == 0 && nIndex > 0)
            LogInfo("Result store: result index %d begins a new scan", nIndex);
        NewResultLocked();
    }
    if (m_Volumes.size() >= MAX_VOLUMES) {
        LogInfo("Result store: too many results in one scan; result index %d is not kept", nIndex);
        return STORE_FAILED;
    }
    const uint32_t dwVolume = static_cast<uint32_t>(m_Volumes.size());
    if (!m_Db.Begin())
        return STORE_FAILED;
    CSqlStatement& insert = m_Db.m_InsertVolume;
    int nCode;
    {
        CStatementUse use(insert);
        insert.BindInt(1, dwVolume);
        insert.BindInt(2, nIndex);
        insert.BindBlob(3, pPartition, sizeof(*pPartition));
        nCode = insert.Step();
    }
    if (nCode != SQLITE_DONE) {
        m_Db.Rollback();
        OnSqlErrorLocked(nCode, "storing a result");
        return STORE_FAILED;
    }
    if (!InsertTopLocked(dwVolume)) {
        m_Db.Rollback();
        return STORE_FAILED;
    }
    if (!m_Db.Commit()) {
        m_Db.Rollback();
        return STORE_FAILED;
    }
    VOLUME_INFO info;
    info.nScanIndex = nIndex;
    info.Partition = *pPartition;
    info.Source = SourceOfResult(info.Partition);
    m_Volumes.push_back(info);
    m_bAcceptingResults = true;
    m_nLastScanIndex = nIndex;
    m_i64PendingTreeVolume = dwVolume;
    LogInfo("Result store: result %u (index %d): disk %u, file system %u, start %" PRIu64 ", found by scan %u",
            dwVolume, nIndex, pPartition->dwDiskNumber, pPartition->dwFileSystem, pPartition->ullStartSector,
            pPartition->dwFoundByScan);
    return STORE_OK;
}

int32_t CResultStore::AddFileTree(CFileSystemNode* pRoot)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (pRoot == nullptr)
        return STORE_FAILED;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    if (m_i64PendingTreeVolume < 0 || static_cast<size_t>(m_i64PendingTreeVolume) >= m_Volumes.size()) {
        LogInfo("Result store: a tree came without its partition record (or a second tree for one); it is not kept");
        return STORE_FAILED;
    }
    const uint32_t dwVolume = static_cast<uint32_t>(m_i64PendingTreeVolume);
    m_i64PendingTreeVolume = -1;
    VOLUME_INFO& volume = m_Volumes[dwVolume];

    uint64_t ullRootStart = 0;
    int32_t nSectorsPerUnit = 0;
    pRoot->GetPartitionInfo(&ullRootStart, &nSectorsPerUnit);
    const uint64_t ullDeviceStart = DeviceStartOfResult(volume.Partition, ullRootStart);
    RUN_GEOMETRY geometry;
    geometry.ullSourceStart = SourceStartOfResult(volume.Partition, ullRootStart);
    geometry.ullRootStart = ullRootStart;
    geometry.nSectorsPerUnit = nSectorsPerUnit;

    const uint64_t ullStart = rvd::GetTickCount64();
    // A tree is appended: the pages written stay at the edge of the table and of the index, and
    // a small cache keeps a million-file import from holding tens of MB beside the engine's
    // tree. The browsing that follows gets the full cache back.
    CImportCache importCache(m_Db);
    if (!m_Db.Begin())
        return STORE_FAILED;
    TREE_IMPORT_RESULT result;
    int nCode = SQLITE_DONE;
    if (!ImportTree(m_Db, pRoot, dwVolume, geometry, &result)) {
        nCode = result.nSqlCode;
    } else {
        CSqlStatement& update = m_Db.m_UpdateVolumeTree;
        CStatementUse use(update);
        update.BindInt(1, dwVolume);
        update.BindU64(2, ullDeviceStart);
        update.BindU64(3, geometry.ullRootStart);
        update.BindInt(4, geometry.nSectorsPerUnit);
        update.BindInt(5, result.nRecords);
        nCode = update.Step();
    }
    if (nCode != SQLITE_DONE || !m_Db.Commit()) {
        m_Db.Rollback();
        OnSqlErrorLocked(nCode != SQLITE_DONE ? nCode : sqlite3_errcode(m_Db.Handle()), "storing a tree");
        return STORE_FAILED;
    }
    volume.ullDeviceStart = ullDeviceStart;
    volume.ullRootStart = geometry.ullRootStart;
    volume.nSectorsPerUnit = geometry.nSectorsPerUnit;
    volume.bHasTree = true;
    volume.nRecords = result.nRecords;

    LogInfo("Result store: result %u holds %u folders and %u files, device start %" PRIu64 ", runs on %s, root "
            "start %" PRIu64 ", %d sectors per unit (%" PRIu64 " ms)",
            dwVolume, result.nFolders, result.nFiles, ullDeviceStart,
            volume.Source.dwKind == STORED_SOURCE_DISK ? "the disk" : "the volume", geometry.ullRootStart,
            nSectorsPerUnit, rvd::GetTickCount64() - ullStart);
    if (result.nLeftOut != 0 || result.bListLoop)
        LogInfo("Result store: %u links of the tree of result %u led to nodes that are not children of the linking "
                "node%s; they were left out there",
                result.nLeftOut, dwVolume, result.bListLoop ? " (a child list looped)" : "");
    if (result.bTruncated)
        LogInfo("Result store: the tree of result %u has more nodes than record numbers; the rest is left out",
                dwVolume);
    if (result.nDamagedRuns != 0)
        LogInfo("Result store: %u files of result %u have runs that cannot lie on the device", result.nDamagedRuns,
                dwVolume);
    return STORE_OK;
}

// --- partitions ---

int32_t CResultStore::GetPartitionCount(int32_t* pnCount)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bAcceptingResults = false;
    if (pnCount == nullptr)
        return STORE_FAILED;
    *pnCount = 0;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    *pnCount = static_cast<int32_t>(m_Volumes.size());
    return STORE_OK;
}

int32_t CResultStore::GetPartitionInfo(PARTITION_INFO_EX* pPartition, int32_t nIndex)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bAcceptingResults = false;
    if (pPartition == nullptr || nIndex < 0)
        return STORE_FAILED;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    if (static_cast<size_t>(nIndex) >= m_Volumes.size())
        return STORE_FAILED;
    *pPartition = m_Volumes[nIndex].Partition;
    return STORE_OK;
}

// --- listing and search ---

void CResultStore::EndListingLocked()
{
    m_Listing.nMode = LISTING_NONE;
    m_Listing.bDone = true;
    m_Listing.Filter = SEARCH_FILTER();
    m_Batch.clear();
}

void CResultStore::ToFileInfo(const NODE_ROW& row, FILE_INFO_EX* pInfo) const
{
    memset(pInfo, 0, sizeof(*pInfo));
    pInfo->dwRecordNumber = RecordOfKey(row.ullKey);
    // The volume rides along in the store's own word, so a search hit keeps it.
    pInfo->dwStoreReserved = VolumeOfKey(row.ullKey);
    rvd::CopyWideText(pInfo->szName, row.strName);
    pInfo->ullSize = row.ullSize;
    const bool bLocal = (row.dwFlags & STORED_FILE_LOCAL_TIMES) != 0;
    pInfo->stCreationTime = ToSystemTime(row.aullTimes[0], bLocal);
    pInfo->stModificationTime = ToSystemTime(row.aullTimes[1], bLocal);
    pInfo->stAccessTime = ToSystemTime(row.aullTimes[2], bLocal);
    if (row.nKind == NODE_FOLDER) {
        pInfo->dwFolder = 1;
        const bool bTicked = row.ullFiles > 0 ? row.ullTickedFiles > 0 : row.bOwnTick;
        const bool bFully = row.ullFiles > 0 ? row.ullTickedFiles == row.ullFiles : row.bOwnTick;
        pInfo->dwChecked = bTicked ? DWORD(FILE_INFO_CHECKED) : 0;
        pInfo->byFullyChecked = bTicked && bFully ? BYTE(FILE_INFO_FULLY_CHECKED) : 0;
    } else {
        pInfo->dwChecked = row.ullTickedFiles != 0 ? DWORD(FILE_INFO_CHECKED) : 0;
    }
    // The store's own bytes: attributes, status and the stored flags.
    pInfo->abyStoreReserved[0] = static_cast<BYTE>(row.wAttributes);
    pInfo->abyStoreReserved[1] = static_cast<BYTE>(row.wAttributes >> 8);
    pInfo->abyStoreReserved[2] = row.byStatus;
    pInfo->abyStoreReserved[3] = static_cast<BYTE>(row.dwFlags);
}

void CResultStore::FillFolderBatchLocked()
{
    m_Batch.clear();
    if (m_Listing.nMode != LISTING_FOLDER || m_Listing.bDone)
        return;
    CSqlStatement& select = m_Db.m_SelectChildren;
    CStatementUse use(select);
    select.BindInt(1, m_Listing.i64ParentKey);
    select.BindInt(2, m_Listing.nKind);
    select.BindU64(3, m_Listing.ullAfterKey);
    select.BindInt(4, BATCH_SIZE);
    m_Batch.reserve(BATCH_SIZE);
    NODE_ROW row;
    int nCode;
    while ((nCode = select.Step()) == SQLITE_ROW) {
        ReadRow(select, &row);
        m_Batch.emplace_back();
        ToFileInfo(row, &m_Batch.back());
        m_Listing.ullAfterKey = row.ullKey;
    }
    if (nCode != SQLITE_DONE) {
        m_Batch.clear();
        m_Listing.bDone = true;
        select.Reset();
        OnSqlErrorLocked(nCode, "listing a folder");
        return;
    }
    if (m_Batch.size() < static_cast<size_t>(BATCH_SIZE))
        m_Listing.bDone = true;
}

bool CResultStore::MatchesLocked(const NODE_ROW& row) const
{
    const SEARCH_FILTER& filter = m_Listing.Filter;
    if (filter.bSize) {
        if (filter.dwSizeMode == SEARCH_SIZE_MORE_THAN ? !(row.ullSize > filter.ullSizeBound)
                                                       : !(row.ullSize < filter.ullSizeBound))
            return false;
    }
    if (filter.bDate) {
        const int nTime = filter.dwDateKind == SEARCH_DATE_CREATED ? 0 : filter.dwDateKind == SEARCH_DATE_ACCESSED ? 2 : 1;
        const uint64_t ullTime = row.aullTimes[nTime];
        if (ullTime == 0)
            return false;
        // The bounds are local time; FAT times are local clock readings, the others UTC.
        const bool bLocal = (row.dwFlags & STORED_FILE_LOCAL_TIMES) != 0;
        if (filter.bHasFrom && ullTime < (bLocal ? filter.ullFromLocal : filter.ullFromUtc))
            return false;
        if (filter.bHasTo && ullTime > (bLocal ? filter.ullToLocal : filter.ullToUtc))
            return false;
    }
    return filter.pMask == nullptr || filter.pMask->Matches(row.strName);
}

void CResultStore::FillSearchBatchLocked()
{
    m_Batch.clear();
    if (m_Listing.nMode != LISTING_SEARCH || m_Listing.bDone)
        return;
    if (m_Listing.ullNextKey > m_Listing.ullEndKey) {
        m_Listing.bDone = true;
        return;
    }
    CSqlStatement& select = m_Db.m_SelectRange;
    CStatementUse use(select);
    select.BindU64(1, m_Listing.ullNextKey);
    select.BindU64(2, m_Listing.ullEndKey);
    NODE_ROW row;
    uint32_t nLooked = 0;
    int nCode;
    while ((nCode = select.Step()) == SQLITE_ROW) {
        ReadRow(select, &row);
        m_Listing.ullNextKey = row.ullKey + 1;
        if ((!m_Listing.bCheckAncestry || DescendsFromLocked(static_cast<int64_t>(row.ullKey), row.i64ParentKey,
                                                              m_Listing.ullFolderKey)) &&
            MatchesLocked(row)) {
            m_Batch.emplace_back();
            ToFileInfo(row, &m_Batch.back());
        }
        if (m_Batch.size() >= static_cast<size_t>(BATCH_SIZE) || (++nLooked >= SEARCH_ROWS_PER_BATCH && !m_Batch.empty()))
            return;
    }
    m_Listing.bDone = true;
    if (nCode != SQLITE_DONE) {
        m_Batch.clear();
        select.Reset();
        OnSqlErrorLocked(nCode, "searching");
    }
}

int32_t CResultStore::BeginEnumFiles(DWORD dwParentRecord, FILE_INFO_EX** ppFiles, int32_t* pnCount, int32_t nKind,
                                     DWORD dwVolume)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bAcceptingResults = false;
    EndListingLocked();
    if (ppFiles != nullptr)
        *ppFiles = nullptr;
    if (pnCount != nullptr)
        *pnCount = 0;
    if (ppFiles == nullptr || pnCount == nullptr || (nKind != ENUM_KIND_FOLDERS && nKind != ENUM_KIND_FILES))
        return STORE_FAILED;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    if (dwVolume >= m_Volumes.size())
        return STORE_FAILED;
    NODE_ROW parent;
    if (!LookupLocked(MakeNodeKey(dwVolume, dwParentRecord), &parent))
        return STORE_FAILED;
    m_Listing.nMode = LISTING_FOLDER;
    m_Listing.bDone = parent.nKind != NODE_FOLDER;
    m_Listing.i64ParentKey = static_cast<int64_t>(parent.ullKey);
    m_Listing.nKind = nKind;
    m_Listing.ullAfterKey = parent.ullKey;
    FillFolderBatchLocked();
    *ppFiles = m_Batch.data();
    *pnCount = static_cast<int32_t>(m_Batch.size());
    return m_Listing.nMode == LISTING_FOLDER ? STORE_OK : STORE_FAILED;
}

int32_t CResultStore::BeginSearchFiles(const SEARCH_CONDITION* pCondition, FILE_INFO_EX** ppFiles, int32_t* pnCount,
                                       int32_t /*nReserved*/)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bAcceptingResults = false;
    EndListingLocked();
    if (ppFiles != nullptr)
        *ppFiles = nullptr;
    if (pnCount != nullptr)
        *pnCount = 0;
    if (pCondition == nullptr || ppFiles == nullptr || pnCount == nullptr)
        return STORE_FAILED;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    const DWORD dwVolume = pCondition->dwVolume;
    if (dwVolume >= m_Volumes.size())
        return STORE_FAILED;
    // Before any folder was opened the page sends no folder: the volume's top.
    const DWORD dwFolder = pCondition->dwFolderRecord == NO_FOLDER ? 0 : pCondition->dwFolderRecord;
    NODE_ROW folder;
    if (!LookupLocked(MakeNodeKey(dwVolume, dwFolder), &folder))
        return STORE_FAILED;

    SEARCH_FILTER filter;
    const DWORD dwCriteria = pCondition->dwCriteria;
    if (dwCriteria & SEARCH_BY_NAME)
        filter.pMask.reset(new CNameMask(std::u16string_view(
            pCondition->szNameMask, rvd::WideLength(pCondition->szNameMask, sizeof(pCondition->szNameMask) / sizeof(WCHAR)))));
    if (dwCriteria & SEARCH_BY_DATE) {
        filter.bDate = true;
        filter.dwDateKind = pCondition->dwDateKind;
        FILETIME ft{};
        // A bound that is no date at all (a zeroed field) leaves that side open.
        if (rvd::SystemTimeToFileTime(pCondition->stDateFrom, ft)) {
            FILETIME ftUtc{};
            filter.bHasFrom = true;
            filter.ullFromLocal = ft.qwTicks;
            filter.ullFromUtc = rvd::LocalFileTimeToFileTime(ft, ftUtc) ? ftUtc.qwTicks : ft.qwTicks;
        }
        if (rvd::SystemTimeToFileTime(pCondition->stDateTo, ft)) {
            FILETIME ftUtc{};
            filter.bHasTo = true;
            filter.ullToLocal = ft.qwTicks;
            filter.ullToUtc = rvd::LocalFileTimeToFileTime(ft, ftUtc) ? ftUtc.qwTicks : ft.qwTicks;
        }
    }
    if (dwCriteria & SEARCH_BY_SIZE) {
        if (pCondition->dwSizeMode != SEARCH_SIZE_MORE_THAN && pCondition->dwSizeMode != SEARCH_SIZE_LESS_THAN)
            return STORE_FAILED;
        filter.bSize = true;
        filter.dwSizeMode = pCondition->dwSizeMode;
        filter.ullSizeBound = pCondition->ullSizeBound;
    }

    m_Listing.nMode = LISTING_SEARCH;
    m_Listing.bDone = folder.nKind != NODE_FOLDER;
    m_Listing.ullNextKey = folder.ullKey + 1;
    m_Listing.ullEndKey = folder.ullLastKey;
    m_Listing.ullFolderKey = folder.ullKey;
    m_Listing.bCheckAncestry = folder.ullLastKey > folder.ullKey && !SubtreeEndHoldsLocked(folder);
    m_Listing.Filter = std::move(filter);
    FillSearchBatchLocked();
    *ppFiles = m_Batch.data();
    *pnCount = static_cast<int32_t>(m_Batch.size());
    return m_Listing.nMode == LISTING_SEARCH ? STORE_OK : STORE_FAILED;
}

int32_t CResultStore::GetNextFiles(FILE_INFO_EX** ppFiles, int32_t* pnCount)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (ppFiles != nullptr)
        *ppFiles = nullptr;
    if (pnCount != nullptr)
        *pnCount = 0;
    if (ppFiles == nullptr || pnCount == nullptr)
        return STORE_FAILED;
    if (m_Listing.nMode == LISTING_FOLDER)
        FillFolderBatchLocked();
    else if (m_Listing.nMode == LISTING_SEARCH)
        FillSearchBatchLocked();
    else
        m_Batch.clear();
    if (m_Batch.empty())
        return STORE_END;
    *ppFiles = m_Batch.data();
    *pnCount = static_cast<int32_t>(m_Batch.size());
    return STORE_OK;
}

int32_t CResultStore::EndEnumFiles()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    EndListingLocked();
    return STORE_OK;
}

int32_t CResultStore::StopEnumeration()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    EndListingLocked();
    return STORE_OK;
}

// --- tick states ---

bool CResultStore::PropagateLocked(int64_t i64ParentKey, int64_t i64Files, int64_t i64Bytes)
{
    if (i64Files == 0 && i64Bytes == 0)
        return true;
    CSqlStatement& select = m_Db.m_SelectTicks;
    CSqlStatement& update = m_Db.m_UpdateTicks;
    int64_t i64Key = i64ParentKey;
    // Parents always have smaller keys than their children, which also bounds the walk.
    while (i64Key >= 0) {
        int64_t i64Next, i64TickedFiles, i64TickedBytes;
        {
            CStatementUse use(select);
            select.BindInt(1, i64Key);
            const int nCode = select.Step();
            if (nCode != SQLITE_ROW) {
                OnSqlErrorLocked(nCode == SQLITE_DONE ? SQLITE_CORRUPT : nCode, "updating tick states");
                return false;
            }
            i64Next = select.ColumnInt(0);
            i64TickedFiles = select.ColumnInt(1);
            i64TickedBytes = select.ColumnInt(2);
        }
        i64TickedFiles = AddToStored(i64TickedFiles, i64Files);
        i64TickedBytes = AddToStored(i64TickedBytes, i64Bytes);
        {
            CStatementUse use(update);
            update.BindInt(1, i64Key);
            update.BindInt(2, i64TickedFiles);
            update.BindInt(3, i64TickedBytes);
            const int nCode = update.Step();
            if (nCode != SQLITE_DONE) {
                OnSqlErrorLocked(nCode, "updating tick states");
                return false;
            }
        }
        if (i64Next >= i64Key) {
            OnSqlErrorLocked(SQLITE_CORRUPT, "updating tick states");
            return false;
        }
        i64Key = i64Next;
    }
    return true;
}

int32_t CResultStore::SetCheckState(DWORD dwRecord, int32_t bChecked, int32_t /*bFolder*/, int32_t bFullyChecked,
                                    DWORD dwVolume)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bAcceptingResults = false;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    if (dwVolume >= m_Volumes.size())
        return STORE_FAILED;
    NODE_ROW row;
    if (!LookupLocked(MakeNodeKey(dwVolume, dwRecord), &row))
        return STORE_FAILED;
    if (!m_Db.Begin())
        return STORE_FAILED;

    // What the record is decides, not the page's flag: a file row and a folder row of the
    // same number cannot both exist.
    bool bOk = true;
    int nCode = SQLITE_DONE;
    if (row.nKind == NODE_FILE) {
        const uint64_t ullWant = bChecked ? 1 : 0;
        if (row.ullTickedFiles != ullWant) {
            const uint64_t ullBytes = ullWant ? std::min(row.ullSize, MAX_STORED_BYTES) : 0;
            CSqlStatement& update = m_Db.m_UpdateTicks;
            {
                CStatementUse use(update);
                update.BindU64(1, row.ullKey);
                update.BindU64(2, ullWant);
                update.BindU64(3, ullBytes);
                nCode = update.Step();
            }
            bOk = nCode == SQLITE_DONE &&
                  PropagateLocked(row.i64ParentKey, StoredDifference(ullWant, row.ullTickedFiles),
                                  StoredDifference(ullBytes, row.ullTickedBytes));
        }
    } else if (!bChecked || bFullyChecked) {
        CSqlStatement& range = bChecked ? m_Db.m_TickRange : m_Db.m_ClearRange;
        {
            CStatementUse use(range);
            range.BindU64(1, row.ullKey);
            range.BindU64(2, row.ullLastKey);
            nCode = range.Step();
        }
        const uint64_t ullFiles = bChecked ? row.ullFiles : 0;
        const uint64_t ullBytes = bChecked ? row.ullBytes : 0;
        bOk = nCode == SQLITE_DONE &&
              PropagateLocked(row.i64ParentKey, StoredDifference(ullFiles, row.ullTickedFiles),
                              StoredDifference(ullBytes, row.ullTickedBytes));
    } else {
        // Ticked in part: its files are ticked one by one; only a folder without files keeps it.
        CSqlStatement& own = m_Db.m_SetOwn;
        CStatementUse use(own);
        own.BindU64(1, row.ullKey);
        own.BindInt(2, 1);
        nCode = own.Step();
        bOk = nCode == SQLITE_DONE;
    }
    if (bOk && !m_Volumes[dwVolume].bTicked) {
        CSqlStatement& update = m_Db.m_UpdateVolumeTicked;
        CStatementUse use(update);
        update.BindInt(1, dwVolume);
        update.BindInt(2, 1);
        nCode = update.Step();
        bOk = nCode == SQLITE_DONE;
    }
    if (!bOk || !m_Db.Commit()) {
        m_Db.Rollback();
        if (m_Db.IsOpen() && nCode != SQLITE_DONE)
            OnSqlErrorLocked(nCode, "setting a tick state");
        return STORE_FAILED;
    }
    if (dwVolume < m_Volumes.size())
        m_Volumes[dwVolume].bTicked = true;
    return STORE_OK;
}

uint64_t CResultStore::GetCheckedSize(DWORD dwRecord, int32_t /*nReserved*/, DWORD dwVolume)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bAcceptingResults = false;
    if (!EnsureOpenLocked() || dwVolume >= m_Volumes.size())
        return 0;
    NODE_ROW row;
    if (!LookupLocked(MakeNodeKey(dwVolume, dwRecord), &row))
        return 0;
    return row.ullTickedBytes;
}

int32_t CResultStore::ClearCheckStates()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bAcceptingResults = false;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    if (!m_Db.Begin())
        return STORE_FAILED;
    int nCode = SQLITE_DONE;
    for (size_t i = 0; i < m_Volumes.size() && nCode == SQLITE_DONE; ++i) {
        if (!m_Volumes[i].bTicked)
            continue;
        const uint32_t dwVolume = static_cast<uint32_t>(i);
        {
            CStatementUse use(m_Db.m_ClearRange);
            m_Db.m_ClearRange.BindU64(1, MakeNodeKey(dwVolume, 0));
            m_Db.m_ClearRange.BindU64(2, MakeNodeKey(dwVolume, 0xFFFFFFFFu));
            nCode = m_Db.m_ClearRange.Step();
        }
        if (nCode == SQLITE_DONE) {
            CStatementUse use(m_Db.m_UpdateVolumeTicked);
            m_Db.m_UpdateVolumeTicked.BindInt(1, dwVolume);
            m_Db.m_UpdateVolumeTicked.BindInt(2, 0);
            nCode = m_Db.m_UpdateVolumeTicked.Step();
        }
    }
    if (nCode != SQLITE_DONE || !m_Db.Commit()) {
        m_Db.Rollback();
        OnSqlErrorLocked(nCode != SQLITE_DONE ? nCode : sqlite3_errcode(m_Db.Handle()), "clearing tick states");
        return STORE_FAILED;
    }
    for (VOLUME_INFO& volume : m_Volumes)
        volume.bTicked = false;
    return STORE_OK;
}

int32_t CResultStore::CloseResult()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bAcceptingResults = false;
    EndListingLocked();
    return STORE_OK;
}

// --- preview ---

int32_t CResultStore::BeginPreview(int32_t* pnReserved)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (pnReserved != nullptr)
        *pnReserved = 0;
    return EnsureOpenLocked() ? STORE_OK : STORE_UNAVAILABLE;
}

int32_t CResultStore::GetFileInfo(DWORD dwRecord, FILE_DETAIL_INFO** ppInfo, DWORD dwVolume)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (ppInfo == nullptr)
        return STORE_FAILED;
    *ppInfo = nullptr;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    if (dwVolume >= m_Volumes.size())
        return STORE_FAILED;
    NODE_ROW row;
    if (!LookupLocked(MakeNodeKey(dwVolume, dwRecord), &row))
        return STORE_FAILED;
    if (!m_pPreview)
        m_pPreview.reset(new FILE_DETAIL_INFO);
    FILE_DETAIL_INFO* pInfo = m_pPreview.get();
    memset(pInfo, 0, sizeof(*pInfo));
    // The store's own fields: record, volume, the three times (u64 each) and status and flags.
    pInfo->dwStoreReserved00 = dwRecord;
    rvd::CopyWideText(pInfo->szName, row.strName);
    pInfo->dwStoreReserved20C = dwVolume;
    pInfo->ullSize = row.ullSize;
    for (int i = 0; i < 3; ++i)
        rvd::StoreLE64(pInfo->abyStoreReserved218 + 8 * i, row.aullTimes[i]);
    pInfo->wAttributes = row.wAttributes;
    pInfo->wStoreReserved232 = row.byStatus;
    pInfo->dwStoreReserved234 = row.dwFlags;
    *ppInfo = pInfo;
    return STORE_OK;
}

int32_t CResultStore::EndPreview()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_pPreview.reset();
    return STORE_OK;
}

// --- the copy-out module's reads ---

int32_t CResultStore::GetVolumeCount(DWORD* pdwCount)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (pdwCount == nullptr)
        return STORE_FAILED;
    *pdwCount = 0;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    *pdwCount = static_cast<DWORD>(m_Volumes.size());
    return STORE_OK;
}

int32_t CResultStore::GetVolume(DWORD dwVolume, STORED_VOLUME* pVolume)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (pVolume == nullptr)
        return STORE_FAILED;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    if (dwVolume >= m_Volumes.size())
        return STORE_FAILED;
    const VOLUME_INFO& info = m_Volumes[dwVolume];
    pVolume->dwVolume = dwVolume;
    pVolume->dwDiskNumber = info.Partition.dwDiskNumber;
    pVolume->ullDeviceStart = info.ullDeviceStart;
    pVolume->Source = info.Source;
    pVolume->Partition = info.Partition;
    return STORE_OK;
}

bool CResultStore::DescendsFromLocked(int64_t i64Key, int64_t i64Parent, uint64_t ullFolderKey)
{
    // Up the parents, whose keys are always smaller, to the folder or past it.
    const int64_t i64Folder = static_cast<int64_t>(ullFolderKey);
    NODE_ROW row;
    while (i64Key > i64Folder) {
        if (i64Parent >= i64Key || i64Parent < 0 || !LookupLocked(static_cast<uint64_t>(i64Parent), &row))
            return false;
        i64Key = i64Parent;
        i64Parent = row.i64ParentKey;
    }
    return i64Key == i64Folder;
}

bool CResultStore::SubtreeEndHoldsLocked(const NODE_ROW& folder)
{
    int64_t i64Key = -1, i64Parent = -1;
    {
        CSqlStatement& select = m_Db.m_SelectAtOrBefore;
        CStatementUse use(select);
        select.BindU64(1, folder.ullLastKey);
        if (select.Step() != SQLITE_ROW)
            return false;
        i64Key = select.ColumnInt(0);
        i64Parent = select.ColumnInt(1);
    }
    return DescendsFromLocked(i64Key, i64Parent, folder.ullKey);
}

bool CResultStore::OpenFoldersLocked(int64_t i64ParentKey, std::vector<std::pair<uint64_t, std::u16string>>* pvecOpen)
{
    pvecOpen->clear();
    int64_t i64Key = i64ParentKey;
    NODE_ROW row;
    while (i64Key >= 0 && RecordOfKey(static_cast<uint64_t>(i64Key)) != 0) {
        // A parent always has a smaller key than its child; anything else is damage.
        if (!LookupLocked(static_cast<uint64_t>(i64Key), &row) || row.i64ParentKey >= i64Key)
            return false;
        pvecOpen->emplace_back(row.ullLastKey, row.strName);
        i64Key = row.i64ParentKey;
    }
    std::reverse(pvecOpen->begin(), pvecOpen->end());
    return true;
}

void CResultStore::FillStoredFileLocked(const NODE_ROW& row, STORED_FILE* pFile)
{
    pFile->dwVolume = VolumeOfKey(row.ullKey);
    pFile->dwRecord = RecordOfKey(row.ullKey);
    pFile->dwParentRecord = row.i64ParentKey >= 0 ? RecordOfKey(static_cast<uint64_t>(row.i64ParentKey)) : 0;
    pFile->dwFlags = row.dwFlags;
    pFile->strName = row.strName;
    pFile->ullSize = row.ullSize;
    pFile->ftCreation.qwTicks = row.aullTimes[0];
    pFile->ftModification.qwTicks = row.aullTimes[1];
    pFile->ftAccess.qwTicks = row.aullTimes[2];
    pFile->wAttributes = row.wAttributes;
    pFile->byStatus = row.byStatus;
}

int32_t CResultStore::GetStoredFile(DWORD dwVolume, DWORD dwRecord, STORED_FILE* pFile)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (pFile == nullptr)
        return STORE_FAILED;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    if (dwVolume >= m_Volumes.size())
        return STORE_FAILED;
    NODE_ROW row;
    *pFile = STORED_FILE();
    if (!LookupLocked(MakeNodeKey(dwVolume, dwRecord), &row, pFile))
        return STORE_FAILED;
    FillStoredFileLocked(row, pFile);
    std::vector<std::pair<uint64_t, std::u16string>> vecOpen;
    if (!OpenFoldersLocked(row.i64ParentKey, &vecOpen))
        return STORE_FAILED;
    for (auto& folder : vecOpen)
        pFile->vecFolders.push_back(std::move(folder.second));
    return STORE_OK;
}

int32_t CResultStore::GetCheckedTotals(ULONGLONG* pullFiles, ULONGLONG* pullBytes)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (pullFiles == nullptr || pullBytes == nullptr)
        return STORE_FAILED;
    *pullFiles = 0;
    *pullBytes = 0;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    for (size_t i = 0; i < m_Volumes.size(); ++i) {
        NODE_ROW top;
        if (!LookupLocked(MakeNodeKey(static_cast<uint32_t>(i), 0), &top))
            continue;
        *pullFiles += top.ullTickedFiles;
        *pullBytes += top.ullTickedBytes;
    }
    return STORE_OK;
}

int32_t CResultStore::GetNextCheckedFiles(CHECKED_FILE_CURSOR* pCursor, std::vector<STORED_FILE>* pvecFiles,
                                          size_t nMax)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (pCursor == nullptr || pvecFiles == nullptr || nMax == 0)
        return STORE_FAILED;
    if (!EnsureOpenLocked())
        return STORE_UNAVAILABLE;
    size_t nAdded = 0;
    CSqlStatement& select = m_Db.m_SelectRange;
    while (!pCursor->bDone && nAdded < nMax) {
        if (pCursor->dwVolume >= m_Volumes.size()) {
            pCursor->bDone = true;
            break;
        }
        const uint32_t dwVolume = pCursor->dwVolume;
        uint64_t ullNext = MakeNodeKey(dwVolume, pCursor->dwNextRecord);
        const uint64_t ullEnd = MakeNodeKey(dwVolume, 0xFFFFFFFFu);
        // The folders that hold the current row, outermost first: (last key of its subtree, name).
        std::vector<std::pair<uint64_t, std::u16string>> vecOpen;
        bool bPathKnown = false;
        bool bVolumeDone = false;
        while (!bVolumeDone && nAdded < nMax) {
            bool bSkip = false;
            int nCode = SQLITE_DONE;
            {
                CStatementUse use(select);
                select.BindU64(1, ullNext);
                select.BindU64(2, ullEnd);
                NODE_ROW row;
                while (nAdded < nMax && (nCode = select.Step()) == SQLITE_ROW) {
                    ReadRow(select, &row);
                    ullNext = row.ullKey + 1;
                    if (!bPathKnown) {
                        // Resuming inside the tree: the folders above the first row.
                        bPathKnown = true;
                        if (!OpenFoldersLocked(row.i64ParentKey, &vecOpen))
                            vecOpen.clear();
                    }
                    while (!vecOpen.empty() && vecOpen.back().first < row.ullKey)
                        vecOpen.pop_back();
                    if (row.nKind == NODE_FOLDER) {
                        if (row.ullTickedFiles == 0) {
                            if (row.ullLastKey > row.ullKey && SubtreeEndHoldsLocked(row)) {
                                // Nothing ticked below: go on after the whole subtree (a
                                // damaged end is walked over row by row instead).
                                ullNext = row.ullLastKey + 1;
                                bSkip = true;
                                break;
                            }
                            continue;
                        }
                        if (RecordOfKey(row.ullKey) != 0)
                            vecOpen.emplace_back(row.ullLastKey, row.strName);
                        continue;
                    }
                    if (row.ullTickedFiles == 0)
                        continue;
                    STORED_FILE file;
                    NODE_ROW full;
                    if (!LookupLocked(row.ullKey, &full, &file))
                        continue;
                    FillStoredFileLocked(full, &file);
                    file.vecFolders.reserve(vecOpen.size());
                    for (const auto& folder : vecOpen)
                        file.vecFolders.push_back(folder.second);
                    pvecFiles->push_back(std::move(file));
                    ++nAdded;
                }
            }
            if (bSkip)
                continue;
            if (nCode == SQLITE_ROW)
                break;  // the batch is full
            if (nCode != SQLITE_DONE) {
                OnSqlErrorLocked(nCode, "reading the ticked files");
                pCursor->bDone = true;
                return nAdded != 0 ? STORE_OK : STORE_FAILED;
            }
            bVolumeDone = true;
        }
        if (bVolumeDone) {
            ++pCursor->dwVolume;
            pCursor->dwNextRecord = 0;
        } else {
            pCursor->dwNextRecord = RecordOfKey(ullNext);
        }
    }
    if (nAdded == 0) {
        pCursor->bDone = true;
        return STORE_END;
    }
    return STORE_OK;
}

void CResultStore::ReadRow(const CSqlStatement& statement, NODE_ROW* pRow)
{
    pRow->ullKey = statement.ColumnU64(COL_KEY);
    pRow->i64ParentKey = statement.ColumnInt(COL_PKEY);
    pRow->nKind = static_cast<int32_t>(statement.ColumnInt(COL_KIND));
    // A subtree ends neither before its own row nor past the last key its volume can have: a
    // damaged row must not send a walk back over rows it has passed (a walk without end) nor
    // reach into another volume's rows.
    pRow->ullLastKey = std::min<uint64_t>(std::max<uint64_t>(statement.ColumnU64(COL_LAST), pRow->ullKey),
                                          pRow->ullKey | 0xFFFFFFFFull);
    const std::u16string_view strName = statement.ColumnText16(COL_NAME);
    pRow->strName.assign(strName.data(), strName.size());
    pRow->ullSize = statement.ColumnU64(COL_SIZE);
    pRow->wAttributes = static_cast<uint16_t>(statement.ColumnInt(COL_ATTR));
    pRow->byStatus = static_cast<uint8_t>(statement.ColumnInt(COL_STATUS));
    pRow->dwFlags = static_cast<uint32_t>(statement.ColumnInt(COL_FLAGS));
    pRow->aullTimes[0] = statement.ColumnU64(COL_CTIME);
    pRow->aullTimes[1] = statement.ColumnU64(COL_MTIME);
    pRow->aullTimes[2] = statement.ColumnU64(COL_ATIME);
    pRow->ullFiles = statement.ColumnU64(COL_NFILES);
    pRow->ullBytes = statement.ColumnU64(COL_NBYTES);
    pRow->ullTickedFiles = statement.ColumnU64(COL_TFILES);
    pRow->ullTickedBytes = statement.ColumnU64(COL_TBYTES);
    pRow->bOwnTick = statement.ColumnInt(COL_OWN) != 0;
}

} // namespace corrand
