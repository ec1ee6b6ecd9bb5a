// The result store's database: one SQLite file (or, when no file can be written, a database in
// memory), its schema, its checks on opening and the prepared statements of every operation.
//
// The file is a cache of the last scan that a rescan rebuilds, so it is written for speed: no
// fsync (synchronous OFF), no zeroing of freed space (secure_delete OFF), and a rollback
// journal in a file, which still undoes a write that a crash of the process interrupted. A
// file that is not this store's database, whose schema is another, or that fails SQLite's
// consistency check is reported, set aside as "<name>.damaged" and replaced by an empty store;
// so is one that reports damage while in use.
//
// Not thread-safe: the store serialises every use under its own lock.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <cstddef>
#include <string>

#include "SqlStatement.h"

namespace corrand {

// Columns of a node row in the order every row query selects them (see ResultDatabase.cpp).
enum NODE_COLUMN {
    COL_KEY, COL_PKEY, COL_KIND, COL_LAST, COL_NAME, COL_SIZE, COL_ATTR, COL_STATUS, COL_FLAGS,
    COL_CTIME, COL_MTIME, COL_ATIME, COL_NFILES, COL_NBYTES, COL_TFILES, COL_TBYTES, COL_OWN,
    COL_RUNS, COL_RES_SECTOR, COL_RES_OFFSET, COL_VALID, COL_CUNIT,
    NODE_COLUMN_COUNT
};

enum NODE_KIND { NODE_FOLDER = 1, NODE_FILE = 2 };

// A volume's records are numbered 0 (the volume's top) upwards; the key of a row joins both.
inline uint64_t MakeNodeKey(uint32_t dwVolume, uint32_t dwRecord)
{
    return (static_cast<uint64_t>(dwVolume) << 32) | dwRecord;
}
inline uint32_t VolumeOfKey(uint64_t ullKey) { return static_cast<uint32_t>(ullKey >> 32); }
inline uint32_t RecordOfKey(uint64_t ullKey) { return static_cast<uint32_t>(ullKey); }

// Page cache of a connection while results are browsed, and while a tree is imported. An
// import appends to the table and writes the listing index near where it last did, so a few
// dozen pages hold every page it still changes; a larger import cache only takes in more fresh
// memory (costly to touch for the first time) and leaves the whole tree to be written at the
// commit. Measured on a 49,000-file tree: 8 MiB took about 20 ms longer than 2 or 1 MiB; on a
// million files 8 and 2 MiB took the same time. On the EXT3 quick scan of 100,000 files, 512 KiB
// wrote as many pages as 2 MiB, with 400 fewer page faults during the import (586 against 184),
// and the import took a fifth less time (medians of 15 interleaved runs on a busy machine). Browsing reads a file that the system keeps cached anyway: on a
// million-file store 16 MiB listed, searched, ticked and read for copy-out as fast as 64 MiB,
// and kept about 50 MB less once a whole volume had been ticked and read.
const int CACHE_KIB = 16384;
const int IMPORT_CACHE_KIB = 512;

// A tree is imported IMPORT_BATCH_ROWS rows to a statement (m_ImportNodes), the rest one by one
// (m_ImportNode); each row takes IMPORT_ROW_PARAMETERS parameters (see ResultDatabase.cpp).
const size_t IMPORT_BATCH_ROWS = 32;
const int IMPORT_ROW_PARAMETERS = 18;
// m_ImportPlainNodes: rows without resident data, valid size or compression unit, which take
// the first IMPORT_PLAIN_ROW_PARAMETERS of those parameters.
const int IMPORT_PLAIN_ROW_PARAMETERS = 14;
// m_ImportPlainFileNodes: plain rows of files whose bytes are their size (the files' own subtree
// totals, which the statement writes from the size and as 1), which take
// IMPORT_PLAIN_FILE_ROW_PARAMETERS: parent key, last key, name, size, attributes, status, flags,
// the three times and the runs.
const int IMPORT_PLAIN_FILE_ROW_PARAMETERS = 11;

class CResultDatabase {
public:
    CResultDatabase();
    ~CResultDatabase();
    CResultDatabase(const CResultDatabase&) = delete;
    CResultDatabase& operator=(const CResultDatabase&) = delete;

    // Opens strPath (created when missing); a damaged or foreign file is set aside and replaced.
    // When no file can be used the store lives in memory for this process. False only when
    // not even that works.
    bool Open(const std::string& strPath);
    void Close();
    bool IsOpen() const { return m_pDb != nullptr; }
    bool IsInMemory() const { return m_bInMemory; }
    const std::string& GetPath() const { return m_strPath; }

    // Empties the store for a new result: a fresh file (so a large earlier result leaves no
    // space behind), or empty tables in memory. A file this connection made itself and that
    // still holds nothing is already what a fresh one would be, and is kept.
    bool Recreate();
    // Called after an operation saw SQLite report damage: logs it, sets the file aside and
    // starts an empty store.
    bool ReplaceDamaged(const char* pszWhere);

    // True for the result codes that mean the file's content cannot be trusted.
    static bool IsDamageCode(int nCode);

    // A bulk insert that outnumbers the rows already stored is faster without the listing index,
    // which is then built once over the sorted keys.
    // Page cache of the connection in KiB.
    bool SetCacheKiB(int nKiB);

    bool Begin();
    bool Commit();
    void Rollback();
    // Runs statements without results; logs and returns the SQLite code.
    int Exec(const char* pszSql);
    const char* LastError() const;

    sqlite3* Handle() const { return m_pDb; }

    // Prepared statements (parameters in the comments of ResultDatabase.cpp).
    CSqlStatement m_InsertNode, m_ImportNode, m_ImportNodes, m_ImportPlainNodes, m_ImportPlainFileNodes,
        m_SelectNode, m_SelectChildren,
        m_SelectRange, m_SelectAtOrBefore, m_UpdateTopTotals, m_SelectTicks, m_UpdateTicks, m_TickRange, m_ClearRange,
        m_SetOwn, m_InsertVolume, m_UpdateVolumeTree, m_UpdateVolumeTicked, m_SelectVolumes, m_SelectLargestKey;

private:
    enum OPEN_RESULT { OPEN_OK, OPEN_DAMAGED, OPEN_FAILED };
    OPEN_RESULT OpenFile(const std::string& strPath);
    bool OpenInMemory();
    bool CreateSchema();
    bool PrepareStatements();
    void SetAside(const std::string& strPath);

    // True when no row and no free page is stored.
    bool IsEmpty();

    sqlite3* m_pDb;
    std::string m_strPath;
    bool m_bInMemory;
    // The open file was made by this connection (with the current page size).
    bool m_bCreated;
};

// The import cache for the lifetime of the object, the browsing cache again afterwards (also on
// a connection that replaced a damaged one meanwhile).
class CImportCache {
public:
    explicit CImportCache(CResultDatabase& db) : m_Db(db) { m_Db.SetCacheKiB(IMPORT_CACHE_KIB); }
    ~CImportCache()
    {
        if (m_Db.Handle() != nullptr)
            m_Db.SetCacheKiB(CACHE_KIB);
    }
    CImportCache(const CImportCache&) = delete;
    CImportCache& operator=(const CImportCache&) = delete;

private:
    CResultDatabase& m_Db;
};

} // namespace corrand
