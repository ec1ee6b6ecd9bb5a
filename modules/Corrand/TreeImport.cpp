#include "TreeImport.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "Charset.h"
#include "FileNode.h"
#include "FileProperties.h"

namespace corrand {

namespace {

const uint64_t MAX_STORED_BYTES = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
// Names are file names: anything longer than this is damage, and is cut.
const int32_t MAX_NAME_BYTES = 32767;

uint64_t SaturatingAdd(uint64_t a, uint64_t b)
{
    return a > MAX_STORED_BYTES - b ? MAX_STORED_BYTES : a + b;
}

// The children of pNode that belong to it. Brent's cycle check (a marker node that moves ahead
// at doubling distances) stops a looping list within twice the loop's length, in constant
// memory; only then are the repeats that were gathered before the stop removed. pResult may be
// null (a second walk that has already counted).
void GatherChildren(CFileNode* pNode, CFileNode* pRoot, std::vector<CFileNode*>& vecChildren,
                    TREE_IMPORT_RESULT* pResult)
{
    vecChildren.clear();
    CFileNode* pMarker = nullptr;
    size_t nStretch = 1, nSteps = 0;
    bool bLoop = false;
    uint32_t nLeftOut = 0;
    for (CFileNode* pChild = pNode->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling()) {
        if (pChild == pMarker) {
            bLoop = true;
            break;
        }
        if (pChild != pRoot && pChild->GetParent() == pNode)
            vecChildren.push_back(pChild);
        else
            ++nLeftOut;
        if (++nSteps == nStretch) {
            pMarker = pChild;
            nStretch <<= 1;
            nSteps = 0;
        }
    }
    if (pResult != nullptr)
        pResult->nLeftOut += nLeftOut;
    if (!bLoop)
        return;
    if (pResult != nullptr)
        pResult->bListLoop = true;
    std::unordered_set<CFileNode*> seen;
    size_t nKept = 0;
    for (CFileNode* pChild : vecChildren)
        if (seen.insert(pChild).second)
            vecChildren[nKept++] = pChild;
    vecChildren.resize(nKept);
}

// The nodes of a tree in tree order (a folder's subtree gets the numbers right after its own),
// numbered from 1, with an explicit stack. Every walk of one tree gives the same nodes in the
// same order, so the import walks twice instead of keeping a table of every node: once for the
// folders' totals, once for the rows.
class CTreeOrder {
public:
    CTreeOrder(CFileNode* pRoot, TREE_IMPORT_RESULT* pResult) : m_pRoot(pRoot), m_pResult(pResult)
    {
        m_vecStack.push_back(ITEM{pRoot, 0});
    }

    struct ITEM {
        CFileNode* pNode;
        uint32_t nParent;  // number of the parent (0: the volume's top)
    };

    // The next node and its number; false at the end, or when the numbers ran out (bTruncated).
    bool Next(ITEM* pItem, uint32_t* pnNumber, bool* pbHasChildren)
    {
        if (m_vecStack.empty())
            return false;
        if (m_nNext > MAX_RECORD_NUMBER) {
            m_bTruncated = true;
            return false;
        }
        *pItem = m_vecStack.back();
        m_vecStack.pop_back();
        const uint32_t nNumber = m_nNext++;
        GatherChildren(pItem->pNode, m_pRoot, m_vecChildren, m_pResult);
        for (auto it = m_vecChildren.rbegin(); it != m_vecChildren.rend(); ++it)
            m_vecStack.push_back(ITEM{*it, nNumber});
        *pnNumber = nNumber;
        // The first child, when there is one, is numbered next unless the numbers run out.
        *pbHasChildren = !m_vecChildren.empty() && nNumber < MAX_RECORD_NUMBER;
        return true;
    }
    bool IsTruncated() const { return m_bTruncated; }
    // Numbers handed out so far, the volume's top included.
    uint32_t Count() const { return m_nNext; }

private:
    CFileNode* m_pRoot;
    TREE_IMPORT_RESULT* m_pResult;
    std::vector<ITEM> m_vecStack;
    std::vector<CFileNode*> m_vecChildren;
    uint32_t m_nNext = 1;
    bool m_bTruncated = false;
};

// A node with children is a folder whatever its attributes say; so is one without properties.
bool IsFolder(IFileProperties* pProperties, bool bHasChildren)
{
    return bHasChildren || pProperties == nullptr || (pProperties->GetAttributes() & FILE_ATTR_DIRECTORY) != 0;
}

// What a folder's row holds of its subtree.
struct FOLDER_TOTALS {
    uint32_t nNumber;
    uint32_t nLast;    // number of the subtree's last node
    uint32_t nFiles;
    uint64_t ullBytes;
};

// First walk: the totals of every folder, in tree order, the volume's top first. Only folders
// are kept: a file's row holds its own size and itself as its subtree. The folders on the way
// from the top to the current node are open; a node whose parent is not the innermost open
// folder closes the folders in between, whose subtrees end just before it.
void GatherFolderTotals(CFileNode* pRoot, TREE_IMPORT_RESULT* pResult, std::vector<FOLDER_TOTALS>& vecFolders)
{
    vecFolders.clear();
    vecFolders.push_back(FOLDER_TOTALS{0, 0, 0, 0});
    std::vector<uint32_t> vecOpen;  // indexes into vecFolders
    vecOpen.push_back(0);
    auto CloseInnermost = [&](uint32_t nLast) {
        FOLDER_TOTALS& done = vecFolders[vecOpen.back()];
        done.nLast = nLast;
        vecOpen.pop_back();
        FOLDER_TOTALS& parent = vecFolders[vecOpen.back()];
        parent.nFiles += done.nFiles;
        parent.ullBytes = SaturatingAdd(parent.ullBytes, done.ullBytes);
    };

    CTreeOrder order(pRoot, pResult);
    CTreeOrder::ITEM item{};
    uint32_t nNumber = 0;
    bool bHasChildren = false;
    while (order.Next(&item, &nNumber, &bHasChildren)) {
        while (vecOpen.size() > 1 && vecFolders[vecOpen.back()].nNumber != item.nParent)
            CloseInnermost(nNumber - 1);
        IFileProperties* pProperties = item.pNode->GetProperties();
        if (IsFolder(pProperties, bHasChildren)) {
            ++pResult->nFolders;
            vecOpen.push_back(static_cast<uint32_t>(vecFolders.size()));
            vecFolders.push_back(FOLDER_TOTALS{nNumber, nNumber, 0, 0});
        } else {
            ++pResult->nFiles;
            FOLDER_TOTALS& parent = vecFolders[vecOpen.back()];
            parent.nFiles += 1;
            parent.ullBytes = SaturatingAdd(parent.ullBytes, std::min(pProperties->GetSize(), MAX_STORED_BYTES));
        }
    }
    const uint32_t nLast = order.Count() - 1;
    while (vecOpen.size() > 1)
        CloseInnermost(nLast);
    vecFolders[0].nLast = nLast;
    pResult->bTruncated = order.IsTruncated();
    pResult->nRecords = nLast;
}

// Rows waiting for the next multi-row insert. Names and runs are kept in two buffers that only
// grow, so a row costs no allocation of its own once they are large enough; their addresses are
// bound only when the rows are written, after the last row was added.
class CRowBatch {
public:
    struct ROW {
        uint64_t ullKey, ullParentKey, ullLastKey, ullSize, ullCreation, ullModification, ullAccess, ullBytes;
        uint64_t ullResidentSector, ullValidSize, ullUnitSectors;
        uint32_t nKind, nAttributes, nStatus, nFlags, nFiles, nResidentOffset;
        bool bResident, bValidSize, bUnitSectors;
        size_t nNameStart, nNameLength, nRunsStart, nRunsLength;
    };

    CRowBatch() { m_vecRows.reserve(IMPORT_BATCH_ROWS); }

    ROW& Add() { return m_vecRows.emplace_back(); }
    bool IsFull() const { return m_vecRows.size() == IMPORT_BATCH_ROWS; }
    bool IsEmpty() const { return m_vecRows.empty(); }
    void Clear()
    {
        m_vecRows.clear();
        m_strNames.clear();
        m_vecRunBytes.clear();
    }

    // The name as UTF-16 at the end of the name buffer; bytes that are not UTF-8 (EXT names
    // written in a single-byte encoding) are read as Latin-1.
    void SetName(ROW& row, IFileProperties* pProperties)
    {
        row.nNameStart = m_strNames.size();
        row.nNameLength = 0;
        if (pProperties == nullptr)
            return;
        const char* pszName = pProperties->GetName();
        int32_t nLength = pProperties->GetNameLength();
        if (pszName == nullptr || nLength <= 0)
            return;
        if (nLength > MAX_NAME_BYTES)
            nLength = MAX_NAME_BYTES;
        // The length is the reader's word; the terminator bounds it where the two disagree.
        const std::string_view strName(pszName, strnlen(pszName, static_cast<size_t>(nLength)));
        bool bAscii = true;
        for (const char ch : strName)
            bAscii = bAscii && static_cast<unsigned char>(ch) < 0x80;
        if (bAscii)
            m_strNames.append(strName.begin(), strName.end());
        else
            m_strNames += rvd::Utf8OrLatin1ToUtf16(strName);
        row.nNameLength = m_strNames.size() - row.nNameStart;
    }

    // The runs as (sector, sectors) pairs, u64 little-endian each, at the end of the run buffer.
    void SetRuns(ROW& row, const std::vector<STORED_RUN>& vecRuns)
    {
        row.nRunsStart = m_vecRunBytes.size();
        row.nRunsLength = vecRuns.size() * 16;
        m_vecRunBytes.resize(row.nRunsStart + row.nRunsLength);
        uint8_t* p = m_vecRunBytes.data() + row.nRunsStart;
        for (const STORED_RUN& run : vecRuns) {
            for (int i = 0; i < 8; ++i)
                *p++ = static_cast<uint8_t>(run.ullSector >> (8 * i));
            for (int i = 0; i < 8; ++i)
                *p++ = static_cast<uint8_t>(run.ullSectors >> (8 * i));
        }
    }

    // Writes the rows: a full batch with one statement, a short one row by row, and empties the
    // batch. SQLITE_DONE when every row was stored.
    int Flush(CResultDatabase& db)
    {
        int nCode = SQLITE_DONE;
        if (IsFull()) {
            // Most rows have no resident data, valid size or compression unit: a batch of
            // only such rows goes with those columns written as NULL by the statement itself,
            // and one of only such files also with the kind, count and bytes every file's row
            // holds (a file is its own subtree), which leaves SQLite a fifth fewer values to
            // take per row.
            bool bPlain = true, bFiles = true;
            for (const ROW& row : m_vecRows) {
                bPlain = bPlain && !row.bResident && !row.bValidSize && !row.bUnitSectors;
                bFiles = bFiles && row.nKind == NODE_FILE && row.nFiles == 1 && row.ullBytes == row.ullSize;
            }
            if (bPlain && bFiles) {
                CSqlStatement& insert = db.m_ImportPlainFileNodes;
                CStatementUse use(insert);
                for (size_t i = 0; i < m_vecRows.size(); ++i)
                    BindPlainFile(insert, static_cast<int>(i) * IMPORT_PLAIN_FILE_ROW_PARAMETERS, m_vecRows[i]);
                nCode = insert.Step();
                Clear();
                return nCode;
            }
            CSqlStatement& insert = bPlain ? db.m_ImportPlainNodes : db.m_ImportNodes;
            const int nParameters = bPlain ? IMPORT_PLAIN_ROW_PARAMETERS : IMPORT_ROW_PARAMETERS;
            CStatementUse use(insert);
            for (size_t i = 0; i < m_vecRows.size(); ++i)
                Bind(insert, static_cast<int>(i) * nParameters, m_vecRows[i], bPlain);
            nCode = insert.Step();
        } else {
            CSqlStatement& insert = db.m_ImportNode;
            for (size_t i = 0; i < m_vecRows.size() && nCode == SQLITE_DONE; ++i) {
                CStatementUse use(insert);
                Bind(insert, 0, m_vecRows[i], false);
                nCode = insert.Step();
            }
        }
        Clear();
        return nCode;
    }

private:
    // A plain row of a file, for m_ImportPlainFileNodes: the statement itself gives the kind,
    // the count and the bytes of a file's row, and NULL for the columns a plain row leaves empty.
    void BindPlainFile(CSqlStatement& insert, int nBase, const ROW& row) { BindColumns(insert, nBase, row, false); }

    // The columns every row form takes, from parameter nBase + 1 on (with the kind and the
    // subtree's count and bytes when bTotals); returns the last parameter bound.
    int BindColumns(CSqlStatement& insert, int nBase, const ROW& row, bool bTotals)
    {
        int n = nBase;
        insert.BindU64(++n, row.ullParentKey);
        if (bTotals)
            insert.BindInt(++n, row.nKind);
        insert.BindU64(++n, row.ullLastKey);
        insert.BindText16(++n, std::u16string_view(m_strNames.data() + row.nNameStart, row.nNameLength));
        insert.BindU64(++n, row.ullSize);
        insert.BindInt(++n, row.nAttributes);
        insert.BindInt(++n, row.nStatus);
        insert.BindInt(++n, row.nFlags);
        insert.BindU64(++n, row.ullCreation);
        insert.BindU64(++n, row.ullModification);
        insert.BindU64(++n, row.ullAccess);
        if (bTotals) {
            insert.BindInt(++n, row.nFiles);
            insert.BindU64(++n, row.ullBytes);
        }
        insert.BindBlob(++n, m_vecRunBytes.data() + row.nRunsStart, row.nRunsLength);
        return n;
    }

    // The row's key is the one SQLite gives it (see ImportTree).
    void Bind(CSqlStatement& insert, int nBase, const ROW& row, bool bPlain)
    {
        int n = BindColumns(insert, nBase, row, true);
        if (bPlain)
            return;
        if (row.bResident) {
            insert.BindU64(++n, row.ullResidentSector);
            insert.BindInt(++n, row.nResidentOffset);
        } else {
            insert.BindNull(++n);
            insert.BindNull(++n);
        }
        if (row.bValidSize)
            insert.BindU64(++n, row.ullValidSize);
        else
            insert.BindNull(++n);
        if (row.bUnitSectors)
            insert.BindInt(++n, static_cast<int64_t>(row.ullUnitSectors));
        else
            insert.BindNull(++n);
    }

    std::vector<ROW> m_vecRows;
    std::u16string m_strNames;
    std::vector<uint8_t> m_vecRunBytes;
};

// The largest key stored (false when SQLite fails or the table is empty).
bool LargestKey(CResultDatabase& db, uint64_t* pullKey, int* pnCode)
{
    CSqlStatement& select = db.m_SelectLargestKey;
    CStatementUse use(select);
    *pnCode = select.Step();
    if (*pnCode != SQLITE_ROW || select.ColumnIsNull(0))
        return false;
    *pullKey = select.ColumnU64(0);
    return true;
}

// The keys the rows were given are those of their numbers: the largest stored is the one
// expected (a mismatch is no tree this import can store, and nothing of it is kept).
bool IsLargestKey(CResultDatabase& db, uint64_t ullExpected, TREE_IMPORT_RESULT* pResult)
{
    uint64_t ullKey = 0;
    int nCode = SQLITE_OK;
    if (LargestKey(db, &ullKey, &nCode) && ullKey == ullExpected)
        return true;
    pResult->nSqlCode = nCode == SQLITE_ROW ? SQLITE_INTERNAL : nCode;
    return false;
}

// Makes the rows of a tree in number order, a statement's worth at a time, from the second walk
// of the tree.
class CRowMaker {
public:
    enum FILL { FILL_MORE, FILL_END, FILL_MISMATCH };

    CRowMaker(CFileNode* pRoot, uint32_t dwVolume, const RUN_GEOMETRY& geometry,
              const std::vector<FOLDER_TOTALS>& vecFolders, uint32_t nRecords)
        : m_Order(pRoot, nullptr), m_dwVolume(dwVolume), m_Geometry(geometry), m_vecFolders(vecFolders),
          m_nRecords(nRecords)
    {
    }

    // Adds rows to the empty batch until it is full (FILL_MORE) or the tree ends (FILL_END, the
    // batch then holds the last rows, if any). FILL_MISMATCH: the tree answered the two walks
    // apart, and the batch is not to be stored.
    FILL Fill(CRowBatch& batch)
    {
        CTreeOrder::ITEM item{};
        bool bHasChildren = false;
        while (!batch.IsFull()) {
            if (m_nNumber >= m_nRecords || !m_Order.Next(&item, &m_nNumber, &bHasChildren))
                return FILL_END;
            if (!AddRow(batch, item, bHasChildren))
                return FILL_MISMATCH;
        }
        return FILL_MORE;
    }
    // Number of the last row made.
    uint32_t LastNumber() const { return m_nNumber; }
    uint32_t DamagedRuns() const { return m_nDamagedRuns; }
    uint32_t Records() const { return m_nRecords; }

private:
    bool AddRow(CRowBatch& batch, const CTreeOrder::ITEM& item, bool bHasChildren)
    {
        const uint32_t nNumber = m_nNumber;
        const uint32_t dwVolume = m_dwVolume;
        IFileProperties* pProperties = item.pNode->GetProperties();
        const bool bFolder = IsFolder(pProperties, bHasChildren);
        CRowBatch::ROW& row = batch.Add();
        row.ullKey = MakeNodeKey(dwVolume, nNumber);
        row.ullParentKey = MakeNodeKey(dwVolume, item.nParent);
        row.nKind = bFolder ? NODE_FOLDER : NODE_FILE;
        if (bFolder) {
            // The folders come in the order the first walk met them; a tree that answered the
            // two walks apart is not stored half right.
            if (++m_nFolder >= m_vecFolders.size() || m_vecFolders[m_nFolder].nNumber != nNumber)
                return false;
            const FOLDER_TOTALS& totals = m_vecFolders[m_nFolder];
            row.ullLastKey = MakeNodeKey(dwVolume, totals.nLast);
            row.nFiles = totals.nFiles;
            row.ullBytes = totals.ullBytes;
        } else {
            row.ullLastKey = row.ullKey;
            row.nFiles = 1;
            row.ullBytes = std::min(pProperties->GetSize(), MAX_STORED_BYTES);
        }
        batch.SetName(row, pProperties);

        uint64_t ullSize = 0;
        uint16_t wAttributes = 0;
        uint8_t byStatus = 0;
        FILETIME ftCreation{}, ftModification{}, ftAccess{};
        DWORD dwFlags = bFolder ? DWORD(STORED_FILE_FOLDER) : 0;
        CONVERTED_RUNS& runs = m_Runs;
        runs.vecRuns.clear();
        runs.bResident = false;
        runs.bDamaged = false;
        DATA_STREAM_LAYOUT layout{};
        bool bLayout = false;
        if (pProperties != nullptr) {
            ullSize = pProperties->GetSize();
            wAttributes = pProperties->GetAttributes();
            byStatus = pProperties->GetStatus();
            pProperties->GetCreationTime(&ftCreation);
            pProperties->GetModificationTime(&ftModification);
            pProperties->GetAccessTime(&ftAccess);
            const int32_t nKind = pProperties->GetPropertiesKind();
            // FAT keeps the clock reading of the machine that wrote the entry, not UTC.
            if (nKind == PROPERTIES_KIND_FAT)
                dwFlags |= STORED_FILE_LOCAL_TIMES;
            if (!bFolder) {
                if (pProperties->GetNonResidentRuns(&m_vecListed)) {
                    ConvertRuns(m_vecListed, nKind, m_Geometry, &runs);
                } else {
                    IDataRunList* pList = pProperties->GetDataRunList();
                    ConvertRuns(pList, nKind, m_Geometry, &runs);
                    delete pList;
                }
                if (runs.bResident)
                    dwFlags |= STORED_FILE_RESIDENT;
                if (runs.bDamaged) {
                    dwFlags |= STORED_FILE_RUNS_DAMAGED;
                    ++m_nDamagedRuns;
                }
                bLayout = !runs.bResident && pProperties->GetDataStreamLayout(&layout) != FALSE;
            }
        }
        if (bFolder)
            wAttributes |= FILE_ATTR_DIRECTORY;
        else
            wAttributes &= static_cast<uint16_t>(~FILE_ATTR_DIRECTORY);
        row.ullSize = ullSize;
        row.nAttributes = wAttributes;
        row.nStatus = byStatus;
        row.nFlags = dwFlags;
        row.ullCreation = ftCreation.qwTicks;
        row.ullModification = ftModification.qwTicks;
        row.ullAccess = ftAccess.qwTicks;
        batch.SetRuns(row, runs.vecRuns);
        row.bResident = runs.bResident;
        row.ullResidentSector = runs.ullResidentSector;
        row.nResidentOffset = runs.dwResidentOffset;
        // A unit of clusters becomes a unit of sectors of the same runs; one too large for a
        // file system to use is kept as 0, and the runs are copied as they lie.
        uint64_t ullUnitSectors = 0;
        if (bLayout && m_Geometry.nSectorsPerUnit > 0)
            ullUnitSectors = static_cast<uint64_t>(layout.nCompressionUnitClusters) *
                             static_cast<uint64_t>(m_Geometry.nSectorsPerUnit);
        row.bValidSize = bLayout && layout.ullValidSize < ullSize;
        row.ullValidSize = layout.ullValidSize;
        row.bUnitSectors = ullUnitSectors != 0 && ullUnitSectors <= MAX_COMPRESSION_UNIT_SECTORS;
        row.ullUnitSectors = ullUnitSectors;
        return true;
    }

    CTreeOrder m_Order;
    const uint32_t m_dwVolume;
    const RUN_GEOMETRY& m_Geometry;
    const std::vector<FOLDER_TOTALS>& m_vecFolders;
    const uint32_t m_nRecords;
    uint32_t m_nNumber = 0;
    size_t m_nFolder = 0;
    uint32_t m_nDamagedRuns = 0;
    CONVERTED_RUNS m_Runs;
    std::vector<DATA_RUN> m_vecListed;  // a file's runs as its properties list them
};

// Makes and stores every row on this thread. SQLITE_DONE when all were stored.
int WriteRowsHere(CResultDatabase& db, CRowMaker& maker)
{
    CRowBatch batch;
    for (;;) {
        const CRowMaker::FILL nFill = maker.Fill(batch);
        if (nFill == CRowMaker::FILL_MISMATCH)
            return SQLITE_INTERNAL;
        const int nCode = batch.Flush(db);
        if (nCode != SQLITE_DONE)
            return nCode;
        if (nFill == CRowMaker::FILL_END)
            return SQLITE_DONE;
    }
}

// The rows of a large tree are made on a second thread while this one has SQLite store the
// batches made before: walking the tree and turning names and runs into row values takes about
// a sixth of an import, which then overlaps with SQLite's own work. The batches go round a ring;
// each side waits only when the ring is empty (this side) or full (the maker, which then waits
// until half of it is free, so that the two wake each other seldom). The rows, their order and
// every statement are those of a walk on one thread.
class CRowPipe {
public:
    static constexpr size_t RING_BATCHES = 64;

    // The maker's side: fills batches until the tree ends, it answers the walks apart, or the
    // storing side stops.
    void Make(CRowMaker& maker)
    {
        try {
            for (;;) {
                CRowBatch* pBatch = FreeBatch();
                if (pBatch == nullptr)
                    return;
                const CRowMaker::FILL nFill = maker.Fill(*pBatch);
                Publish(nFill);
                if (nFill != CRowMaker::FILL_MORE)
                    return;
            }
        } catch (...) {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Error = std::current_exception();
            m_bEnded = true;
            m_Made.notify_one();
        }
    }

    // The storing side: SQLITE_DONE when every row was stored. Rethrows what the maker threw.
    int Store(CResultDatabase& db)
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        for (;;) {
            m_bStoreWaiting = true;
            m_Made.wait(lock, [this] { return m_nMade > m_nStored || m_bEnded; });
            m_bStoreWaiting = false;
            if (m_nMade == m_nStored || m_bMismatch || m_Error) {
                if (m_Error)
                    std::rethrow_exception(m_Error);
                return m_bMismatch ? SQLITE_INTERNAL : SQLITE_DONE;
            }
            CRowBatch& batch = m_aBatches[m_nStored % RING_BATCHES];
            lock.unlock();
            const int nCode = batch.Flush(db);
            lock.lock();
            if (nCode != SQLITE_DONE) {
                m_bStop = true;
                m_Freed.notify_one();
                return nCode;
            }
            ++m_nStored;
            if (m_bMakerWaiting && m_nMade - m_nStored <= RING_BATCHES / 2)
                m_Freed.notify_one();
        }
    }

    // Stops the maker (when the storing side gave up or threw).
    void Stop()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_bStop = true;
        m_Freed.notify_one();
    }

private:
    CRowBatch* FreeBatch()
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        if (m_nMade - m_nStored == RING_BATCHES) {
            m_bMakerWaiting = true;
            m_Freed.wait(lock, [this] { return m_nMade - m_nStored <= RING_BATCHES / 2 || m_bStop; });
            m_bMakerWaiting = false;
        }
        return m_bStop ? nullptr : &m_aBatches[m_nMade % RING_BATCHES];
    }

    void Publish(CRowMaker::FILL nFill)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (nFill == CRowMaker::FILL_MISMATCH) {
            m_bMismatch = true;
            m_aBatches[m_nMade % RING_BATCHES].Clear();
        } else {
            ++m_nMade;
        }
        if (nFill != CRowMaker::FILL_MORE)
            m_bEnded = true;
        if (m_bStoreWaiting)
            m_Made.notify_one();
    }

    std::mutex m_Lock;
    std::condition_variable m_Made, m_Freed;
    CRowBatch m_aBatches[RING_BATCHES];
    size_t m_nMade = 0;    // batches made so far
    size_t m_nStored = 0;  // batches stored so far
    bool m_bEnded = false;
    bool m_bMismatch = false;
    bool m_bStop = false;
    bool m_bStoreWaiting = false;
    bool m_bMakerWaiting = false;
    std::exception_ptr m_Error;
};

// A tree of fewer rows than this is made and stored on the calling thread: starting a thread
// would cost more than it saves.
const uint32_t PIPE_MIN_RECORDS = 4096;

int WriteRows(CResultDatabase& db, CRowMaker& maker)
{
    if (maker.Records() < PIPE_MIN_RECORDS)
        return WriteRowsHere(db, maker);
    std::unique_ptr<CRowPipe> pPipe(new CRowPipe());
    std::thread makerThread;
    try {
        makerThread = std::thread(&CRowPipe::Make, pPipe.get(), std::ref(maker));
    } catch (const std::system_error&) {
        return WriteRowsHere(db, maker);
    }
    int nCode = SQLITE_INTERNAL;
    try {
        nCode = pPipe->Store(db);
    } catch (...) {
        pPipe->Stop();
        makerThread.join();
        throw;
    }
    pPipe->Stop();
    makerThread.join();
    return nCode;
}

} // namespace

bool ImportTree(CResultDatabase& db, CFileNode* pRoot, uint32_t dwVolume, const RUN_GEOMETRY& geometry,
                TREE_IMPORT_RESULT* pResult)
{
    *pResult = TREE_IMPORT_RESULT();
    if (pRoot == nullptr)
        return true;

    // 1. Each folder's subtree: its last record and its files' count and bytes.
    std::vector<FOLDER_TOTALS> vecFolders;
    GatherFolderTotals(pRoot, pResult, vecFolders);

    // 2. One row per node, in number order, so rows are appended to the table, never inserted
    //    in the middle. The listing index is kept up to date row by row: in tree order its
    //    entries also arrive close to where the last one went, and dropping it to build it again
    //    afterwards would sort every row in memory at once (about 40 MB for a million files)
    //    for no gain in time. Rows go in batches of one statement each, which spares SQLite
    //    most of its work per statement. SQLite gives each row the key after the largest stored;
    //    the volume's top is that one when the rows begin, and the rows come in number order, so
    //    each gets the key of its number. Both ends are checked.
    if (!IsLargestKey(db, MakeNodeKey(dwVolume, 0), pResult))
        return false;
    CRowMaker maker(pRoot, dwVolume, geometry, vecFolders, pResult->nRecords);
    const int nCode = WriteRows(db, maker);
    pResult->nDamagedRuns += maker.DamagedRuns();
    if (nCode != SQLITE_DONE) {
        pResult->nSqlCode = nCode;
        return false;
    }
    const uint32_t nNumber = maker.LastNumber();
    if (!IsLargestKey(db, MakeNodeKey(dwVolume, nNumber), pResult))
        return false;

    CSqlStatement& totals = db.m_UpdateTopTotals;
    CStatementUse use(totals);
    totals.BindU64(1, MakeNodeKey(dwVolume, 0));
    totals.BindU64(2, MakeNodeKey(dwVolume, vecFolders[0].nLast));
    totals.BindInt(3, vecFolders[0].nFiles);
    totals.BindU64(4, vecFolders[0].ullBytes);
    const int nTotalsCode = totals.Step();
    if (nTotalsCode != SQLITE_DONE) {
        pResult->nSqlCode = nTotalsCode;
        return false;
    }
    return true;
}

} // namespace corrand
