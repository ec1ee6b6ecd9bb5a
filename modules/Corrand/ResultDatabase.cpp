#include "ResultDatabase.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "Veskel.h"

namespace corrand {

// Children of one folder, one kind at a time, in key order: a folder's listing is an index range
// read from its first row, however many rows it holds.
#define CHILD_INDEX_SQL "CREATE INDEX IF NOT EXISTS node_children ON node(pkey, kind)"

namespace {

// "RVDC" in the database header, so a file of another program is never taken for ours.
const int32_t RESULT_STORE_APPLICATION_ID = 0x52564443;
// Raised whenever the tables change meaning; an older file is then replaced, not misread.
// Version 2: runs count sectors of the scanned volume, no longer of its first disk.
const int32_t RESULT_STORE_SCHEMA_VERSION = 3;

// One row per found file or folder. key = volume << 32 | record number; records are numbered
// in tree order (pre-order) from 0, the volume's top, so a folder's subtree is the key range
// key .. last. Sizes and counts of the subtree (nfiles, nbytes) and how many of them are ticked
// (tfiles, tbytes) are kept on every row, so a tick state or a ticked size is read from one
// row. Names are UTF-16, as the records that leave the store carry them.
const char* const SCHEMA_SQL =
    "CREATE TABLE volume("
    "  vol INTEGER PRIMARY KEY,"        // the volume number (position in the result)
    "  scan_index INTEGER NOT NULL,"    // the engine's index of the result in its scan
    "  record BLOB NOT NULL,"           // the 832-byte partition record as handed over
    "  device_start INTEGER NOT NULL,"  // disk sector of the scanned device's sector 0 (for the log)
    "  root_start INTEGER NOT NULL,"    // the tree root's start sector on that device
    "  sectors_per_unit INTEGER NOT NULL,"
    "  has_tree INTEGER NOT NULL,"
    "  records INTEGER NOT NULL,"       // records of its tree, its top not counted
    "  ticked INTEGER NOT NULL);"       // a tick state was set since the last clearing
    "CREATE TABLE node("
    "  key INTEGER PRIMARY KEY,"
    "  pkey INTEGER NOT NULL,"          // the parent's key; -1 for a volume's top
    "  kind INTEGER NOT NULL,"          // 1 folder, 2 file
    "  last INTEGER NOT NULL,"          // key of the last record of the subtree
    "  name TEXT NOT NULL,"
    "  size INTEGER NOT NULL,"
    "  attr INTEGER NOT NULL,"
    "  status INTEGER NOT NULL,"
    "  flags INTEGER NOT NULL,"         // STORED_FILE_* bits
    "  ctime INTEGER NOT NULL, mtime INTEGER NOT NULL, atime INTEGER NOT NULL,"
    "  nfiles INTEGER NOT NULL, nbytes INTEGER NOT NULL,"
    "  tfiles INTEGER NOT NULL, tbytes INTEGER NOT NULL,"
    "  own INTEGER NOT NULL,"           // a folder's own tick, which counts for a folder
                                        // without files below it
    "  runs BLOB,"                      // (sector, sectors) pairs, u64 little-endian each, on the
                                        // device the volume's record names (STORED_SOURCE)
    "  res_sector INTEGER, res_offset INTEGER,"
    "  valid INTEGER,"                  // bytes that hold data, the rest zeros; NULL: the whole size
    "  cunit INTEGER);"                 // compression unit in sectors (NTFS); NULL or 0: none
    CHILD_INDEX_SQL ";";

#define ROW_COLUMNS "key,pkey,kind,last,name,size,attr,status,flags,ctime,mtime,atime,nfiles,nbytes,tfiles,tbytes,own"

// Which rows a multi-row import statement takes: any, those without resident data, valid size or
// compression unit (written as NULL by the statement), or such rows of files alone.
enum IMPORT_ROWS { IMPORT_ROWS_ANY, IMPORT_ROWS_PLAIN, IMPORT_ROWS_PLAIN_FILES };

// Rows of an imported tree: nothing of it is ticked yet. A failed row rolls the whole
// transaction back at once (OR ROLLBACK), as the import does anyway; that spares SQLite a
// statement journal for every multi-row statement. The key is left out: SQLite gives each row
// the next after the largest stored, which the import makes the row's own (see TreeImport.cpp),
// and then neither looks the key up nor searches the table for where the row goes.
std::string ImportSql(size_t nRows, IMPORT_ROWS nKind)
{
    std::string strSql =
        "INSERT OR ROLLBACK INTO node(pkey,kind,last,name,size,attr,status,flags,ctime,mtime,atime,nfiles,nbytes,"
        "tfiles,tbytes,own,runs,res_sector,res_offset,valid,cunit) VALUES";
    for (size_t i = 0; i < nRows; ++i) {
        char szRow[200];
        if (nKind == IMPORT_ROWS_PLAIN_FILES) {
            // A file: kind 2, one file, its bytes its size.
            const int b = static_cast<int>(i) * IMPORT_PLAIN_FILE_ROW_PARAMETERS;
            snprintf(szRow, sizeof(szRow),
                     "%s(?%d,%d,?%d,?%d,?%d,?%d,?%d,?%d,?%d,?%d,?%d,1,?%d,0,0,0,?%d,NULL,NULL,NULL,NULL)",
                     i != 0 ? "," : "", b + 1, NODE_FILE, b + 2, b + 3, b + 4, b + 5, b + 6, b + 7, b + 8, b + 9,
                     b + 10, b + 4, b + 11);
            strSql += szRow;
            continue;
        }
        const bool bPlain = nKind == IMPORT_ROWS_PLAIN;
        const int nParameters = bPlain ? IMPORT_PLAIN_ROW_PARAMETERS : IMPORT_ROW_PARAMETERS;
        const int b = static_cast<int>(i) * nParameters;
        int nLength = snprintf(szRow, sizeof(szRow), "%s(?%d,?%d,?%d,?%d,?%d,?%d,?%d,?%d,?%d,?%d,?%d,?%d,?%d,0,0,0,?%d,",
                               i != 0 ? "," : "", b + 1, b + 2, b + 3, b + 4, b + 5, b + 6, b + 7, b + 8, b + 9, b + 10,
                               b + 11, b + 12, b + 13, b + 14);
        if (bPlain)
            snprintf(szRow + nLength, sizeof(szRow) - nLength, "NULL,NULL,NULL,NULL)");
        else
            snprintf(szRow + nLength, sizeof(szRow) - nLength, "?%d,?%d,?%d,?%d)", b + 15, b + 16, b + 17, b + 18);
        strSql += szRow;
    }
    return strSql;
}

// Process-wide settings, made once before SQLite is first used here: no count of the memory
// SQLite holds (every allocation and free would otherwise take a process-wide lock to keep it;
// nothing here reads that count). When SQLite was already in use in this process the call is
// refused and the defaults stay, which changes nothing but speed.
void ConfigureSqlite()
{
    static std::once_flag once;
    std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

bool FileExists(const std::string& strPath)
{
    struct stat st;
    return stat(strPath.c_str(), &st) == 0;
}

} // namespace

CResultDatabase::CResultDatabase() : m_pDb(nullptr), m_bInMemory(false), m_bCreated(false) {}

CResultDatabase::~CResultDatabase()
{
    Close();
}

bool CResultDatabase::IsDamageCode(int nCode)
{
    const int nPrimary = nCode & 0xFF;
    return nPrimary == SQLITE_CORRUPT || nPrimary == SQLITE_NOTADB;
}

const char* CResultDatabase::LastError() const
{
    return m_pDb != nullptr ? sqlite3_errmsg(m_pDb) : "no database";
}

void CResultDatabase::Close()
{
    for (CSqlStatement* p : {&m_InsertNode, &m_ImportNode, &m_ImportNodes, &m_ImportPlainNodes,
                             &m_ImportPlainFileNodes, &m_SelectNode, &m_SelectChildren, &m_SelectRange, &m_SelectAtOrBefore, &m_UpdateTopTotals,
                             &m_SelectTicks, &m_UpdateTicks, &m_TickRange, &m_ClearRange, &m_SetOwn, &m_InsertVolume,
                             &m_UpdateVolumeTree, &m_UpdateVolumeTicked, &m_SelectVolumes, &m_SelectLargestKey})
        p->Finalize();
    if (m_pDb != nullptr)
        sqlite3_close(m_pDb);
    m_pDb = nullptr;
    m_bCreated = false;
}

int CResultDatabase::Exec(const char* pszSql)
{
    char* pszError = nullptr;
    const int nCode = sqlite3_exec(m_pDb, pszSql, nullptr, nullptr, &pszError);
    if (nCode != SQLITE_OK)
        LogInfo("Result store: \"%.60s\" failed: %s", pszSql, pszError != nullptr ? pszError : sqlite3_errstr(nCode));
    sqlite3_free(pszError);
    return nCode;
}

bool CResultDatabase::SetCacheKiB(int nKiB)
{
    char szPragma[48];
    snprintf(szPragma, sizeof(szPragma), "PRAGMA cache_size=-%d", nKiB);
    return Exec(szPragma) == SQLITE_OK;
}

bool CResultDatabase::Begin()
{
    return Exec("BEGIN IMMEDIATE") == SQLITE_OK;
}

bool CResultDatabase::Commit()
{
    return Exec("COMMIT") == SQLITE_OK;
}

void CResultDatabase::Rollback()
{
    if (m_pDb != nullptr && !sqlite3_get_autocommit(m_pDb))
        Exec("ROLLBACK");
}

bool CResultDatabase::CreateSchema()
{
    // The text encoding and the page size can only be chosen before the first table exists.
    // Pages of 16 KiB: a scan appends its rows in key order, and larger pages split less often
    // and hold a row's long names and runs without overflow pages (a tree of 100,000 files is
    // stored in about a seventh less time than with 4 KiB pages, and browsed as fast).
    // The schema of a new file is written without fsync like every later write (see
    // ResultDatabase.h): its commit otherwise waits for the disk several times, which took from a
    // few to over a hundred milliseconds of every scan's first hand-over on a busy disk.
    if (Exec("PRAGMA page_size=16384;PRAGMA encoding='UTF-16le';PRAGMA synchronous=OFF") != SQLITE_OK || !Begin())
        return false;
    char szIds[96];
    snprintf(szIds, sizeof(szIds), "PRAGMA application_id=%d;PRAGMA user_version=%d;", RESULT_STORE_APPLICATION_ID,
             RESULT_STORE_SCHEMA_VERSION);
    if (Exec(SCHEMA_SQL) != SQLITE_OK || Exec(szIds) != SQLITE_OK) {
        Rollback();
        return false;
    }
    return Commit();
}

bool CResultDatabase::PrepareStatements()
{
    struct STATEMENT_TEXT {
        CSqlStatement* pStatement;
        const char* pszSql;
    };
    // Imports: ?1 parent key, ?2 kind, ?3 last key, ?4 name, ?5 size, ?6 attributes, ?7 status,
    // ?8 flags, ?9-?11 times, ?12 files, ?13 bytes, ?14 runs, ?15 resident sector, ?16 resident
    // offset, ?17 valid size, ?18 compression unit; the next row's from ?19 on (plain rows: the
    // first 14, the next row's from ?15 on; plain rows of files: ?1 parent key, ?2 last key, ?3
    // name, ?4 size and bytes, ?5 attributes, ?6 status, ?7 flags, ?8-?10 times, ?11 runs, the
    // next row's from ?12 on).
    const std::string strImportOne = ImportSql(1, IMPORT_ROWS_ANY);
    const std::string strImportBatch = ImportSql(IMPORT_BATCH_ROWS, IMPORT_ROWS_ANY);
    const std::string strImportPlainBatch = ImportSql(IMPORT_BATCH_ROWS, IMPORT_ROWS_PLAIN);
    const std::string strImportPlainFileBatch = ImportSql(IMPORT_BATCH_ROWS, IMPORT_ROWS_PLAIN_FILES);
    const STATEMENT_TEXT statements[] = {
        {&m_InsertNode, "INSERT INTO node(" ROW_COLUMNS ",runs,res_sector,res_offset,valid,cunit) "
                        "VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,?19,?20,?21,?22)"},
        {&m_ImportNode, strImportOne.c_str()},
        {&m_ImportNodes, strImportBatch.c_str()},
        {&m_ImportPlainNodes, strImportPlainBatch.c_str()},
        {&m_ImportPlainFileNodes, strImportPlainFileBatch.c_str()},
        // ?1 key
        {&m_SelectNode, "SELECT " ROW_COLUMNS ",runs,res_sector,res_offset,valid,cunit FROM node WHERE key=?1"},
        // ?1 parent key, ?2 kind, ?3 last key already listed, ?4 batch size
        {&m_SelectChildren,
         "SELECT " ROW_COLUMNS " FROM node WHERE pkey=?1 AND kind=?2 AND key>?3 ORDER BY key LIMIT ?4"},
        // ?1 first key, ?2 last key
        {&m_SelectRange, "SELECT " ROW_COLUMNS " FROM node WHERE key>=?1 AND key<=?2 ORDER BY key"},
        // ?1 key: the row with the largest key up to it
        {&m_SelectAtOrBefore, "SELECT key,pkey FROM node WHERE key<=?1 ORDER BY key DESC LIMIT 1"},
        // ?1 key of a volume's top, ?2 last key, ?3 files, ?4 bytes
        {&m_UpdateTopTotals, "UPDATE node SET last=?2,nfiles=?3,nbytes=?4 WHERE key=?1"},
        // ?1 key
        {&m_SelectTicks, "SELECT pkey,tfiles,tbytes FROM node WHERE key=?1"},
        // ?1 key, ?2 ticked files, ?3 ticked bytes
        {&m_UpdateTicks, "UPDATE node SET tfiles=?2,tbytes=?3 WHERE key=?1"},
        // ?1 first key, ?2 last key: tick everything in the range
        {&m_TickRange, "UPDATE node SET tfiles=nfiles,tbytes=nbytes,own=(kind=1) WHERE key>=?1 AND key<=?2 "
                       "AND (tfiles<>nfiles OR tbytes<>nbytes OR own<>(kind=1))"},
        // ?1 first key, ?2 last key: clear everything in the range
        {&m_ClearRange,
         "UPDATE node SET tfiles=0,tbytes=0,own=0 WHERE key>=?1 AND key<=?2 AND (tfiles<>0 OR tbytes<>0 OR own<>0)"},
        // ?1 key, ?2 own tick
        {&m_SetOwn, "UPDATE node SET own=?2 WHERE key=?1"},
        // ?1 volume, ?2 scan index, ?3 partition record
        {&m_InsertVolume, "INSERT INTO volume(vol,scan_index,record,device_start,root_start,sectors_per_unit,"
                          "has_tree,records,ticked) VALUES(?1,?2,?3,0,0,0,0,0,0)"},
        // ?1 volume, ?2 device start, ?3 root start, ?4 sectors per unit, ?5 records
        {&m_UpdateVolumeTree, "UPDATE volume SET device_start=?2,root_start=?3,sectors_per_unit=?4,has_tree=1,"
                              "records=?5 WHERE vol=?1"},
        // ?1 volume, ?2 ticked flag
        {&m_UpdateVolumeTicked, "UPDATE volume SET ticked=?2 WHERE vol=?1"},
        {&m_SelectVolumes, "SELECT vol,scan_index,record,device_start,root_start,sectors_per_unit,has_tree,ticked,"
                           "records FROM volume ORDER BY vol"},
        {&m_SelectLargestKey, "SELECT max(key) FROM node"},
    };
    for (const STATEMENT_TEXT& text : statements) {
        const int nCode = text.pStatement->Prepare(m_pDb, text.pszSql);
        if (nCode != SQLITE_OK) {
            LogInfo("Result store: cannot prepare \"%.60s\": %s", text.pszSql, sqlite3_errmsg(m_pDb));
            return false;
        }
    }
    return true;
}

CResultDatabase::OPEN_RESULT CResultDatabase::OpenFile(const std::string& strPath)
{
    Close();
    m_bInMemory = false;
    ConfigureSqlite();
    const bool bExisted = FileExists(strPath);
    int nCode = sqlite3_open_v2(strPath.c_str(), &m_pDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                nullptr);
    if (nCode != SQLITE_OK) {
        LogInfo("Result store: cannot open %s: %s", strPath.c_str(), sqlite3_errstr(nCode));
        return IsDamageCode(nCode) ? OPEN_DAMAGED : OPEN_FAILED;
    }
    sqlite3_extended_result_codes(m_pDb, 1);
    // A second process (a later run reading the last results) may hold the file for a moment.
    sqlite3_busy_timeout(m_pDb, 10000);
    if (sqlite3_db_readonly(m_pDb, "main") == 1) {
        LogInfo("Result store: %s can only be read", strPath.c_str());
        return OPEN_FAILED;
    }

    // Who wrote the file: the header's application id and schema version, and whether it has
    // any table at all (a new or empty file has none). A file that is no database at all fails
    // here with SQLITE_NOTADB.
    int64_t aValues[3] = {0, 0, 0};
    const char* const apszQueries[3] = {"PRAGMA application_id", "PRAGMA user_version",
                                        "SELECT count(*) FROM sqlite_master"};
    for (int i = 0; i < 3; ++i) {
        CSqlStatement query;
        nCode = query.Prepare(m_pDb, apszQueries[i]);
        if (nCode == SQLITE_OK)
            nCode = query.Step();
        if (nCode != SQLITE_ROW) {
            LogInfo("Result store: %s cannot be read: %s", strPath.c_str(), sqlite3_errmsg(m_pDb));
            return IsDamageCode(nCode) || bExisted ? OPEN_DAMAGED : OPEN_FAILED;
        }
        aValues[i] = query.ColumnInt(0);
    }

    if (aValues[0] == 0 && aValues[1] == 0 && aValues[2] == 0) {
        if (!CreateSchema())
            return OPEN_FAILED;
        m_bCreated = true;
    } else if (aValues[0] != RESULT_STORE_APPLICATION_ID || aValues[1] != RESULT_STORE_SCHEMA_VERSION) {
        LogInfo("Result store: %s is not a result store of this version (id 0x%08x, version %d)", strPath.c_str(),
                static_cast<unsigned>(aValues[0]), static_cast<int>(aValues[1]));
        return OPEN_DAMAGED;
    } else {
        CSqlStatement check;
        nCode = check.Prepare(m_pDb, "PRAGMA quick_check(1)");
        if (nCode == SQLITE_OK)
            nCode = check.Step();
        const char* pszVerdict =
            nCode == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(check.Get(), 0)) : nullptr;
        if (pszVerdict == nullptr || strcmp(pszVerdict, "ok") != 0) {
            LogInfo("Result store: %s fails its consistency check: %s", strPath.c_str(),
                    pszVerdict != nullptr ? pszVerdict : sqlite3_errmsg(m_pDb));
            return OPEN_DAMAGED;
        }
    }

    if (Exec("PRAGMA journal_mode=DELETE;PRAGMA synchronous=OFF;PRAGMA temp_store=MEMORY;PRAGMA secure_delete=OFF;") != SQLITE_OK ||
        !SetCacheKiB(CACHE_KIB))
        return OPEN_FAILED;
    return PrepareStatements() ? OPEN_OK : OPEN_DAMAGED;
}

bool CResultDatabase::OpenInMemory()
{
    Close();
    m_bInMemory = true;
    ConfigureSqlite();
    if (sqlite3_open_v2(":memory:", &m_pDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        Close();
        return false;
    }
    sqlite3_extended_result_codes(m_pDb, 1);
    if (!CreateSchema() || !PrepareStatements()) {
        Close();
        return false;
    }
    return true;
}

void CResultDatabase::SetAside(const std::string& strPath)
{
    const std::string strAside = strPath + ".damaged";
    if (rename(strPath.c_str(), strAside.c_str()) != 0 && unlink(strPath.c_str()) != 0)
        LogInfo("Result store: cannot move %s out of the way: %s", strPath.c_str(), strerror(errno));
    // A journal beside a replaced file must not be played into the new one.
    for (const char* pszSuffix : {"-journal", "-wal", "-shm"})
        unlink((strPath + pszSuffix).c_str());
}

bool CResultDatabase::Open(const std::string& strPath)
{
    m_strPath = strPath;
    OPEN_RESULT nResult = OpenFile(strPath);
    if (nResult == OPEN_DAMAGED) {
        LogInfo("Result store: %s is damaged or not a result store; it is kept as %s.damaged and replaced by an "
                "empty store",
                strPath.c_str(), strPath.c_str());
        Close();
        SetAside(strPath);
        nResult = OpenFile(strPath);
    }
    if (nResult != OPEN_OK) {
        LogInfo("Result store: %s cannot be used; the results of this run are kept in memory only", strPath.c_str());
        return OpenInMemory();
    }
    return true;
}

bool CResultDatabase::Recreate()
{
    if (m_pDb == nullptr)
        return false;
    if (m_bInMemory) {
        return Exec("DELETE FROM node") == SQLITE_OK && Exec("DELETE FROM volume") == SQLITE_OK;
    }
    // The first scan of a store opened a moment ago for it would otherwise make the same empty
    // file twice.
    if (m_bCreated && IsEmpty())
        return true;
    Close();
    for (const char* pszSuffix : {"", "-journal"})
        unlink((m_strPath + pszSuffix).c_str());
    if (OpenFile(m_strPath) == OPEN_OK)
        return true;
    LogInfo("Result store: %s cannot be created; the results of this run are kept in memory only", m_strPath.c_str());
    return OpenInMemory();
}

bool CResultDatabase::IsEmpty()
{
    CSqlStatement query;
    if (query.Prepare(m_pDb, "SELECT NOT EXISTS(SELECT 1 FROM node) AND NOT EXISTS(SELECT 1 FROM volume) AND "
                             "(SELECT freelist_count FROM pragma_freelist_count)=0") != SQLITE_OK ||
        query.Step() != SQLITE_ROW)
        return false;
    return query.ColumnInt(0) == 1;
}

bool CResultDatabase::ReplaceDamaged(const char* pszWhere)
{
    LogInfo("Result store: damage found while %s (%s); the store is replaced by an empty one", pszWhere, LastError());
    if (m_bInMemory) {
        return OpenInMemory();
    }
    Close();
    SetAside(m_strPath);
    return Open(m_strPath);
}

} // namespace corrand
