#include "TreeImport.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
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

struct TREE_ENTRY {
    CFileNode* pNode;
    uint32_t nParent;    // index of the parent entry
    uint32_t nChildren;  // children taken into the store
};

uint64_t SaturatingAdd(uint64_t a, uint64_t b)
{
    return a > MAX_STORED_BYTES - b ? MAX_STORED_BYTES : a + b;
}

// The children of pNode that belong to it. Brent's cycle check (a marker node that moves ahead
// at doubling distances) stops a looping list within twice the loop's length, in constant
// memory; only then are the repeats that were gathered before the stop removed.
void GatherChildren(CFileNode* pNode, CFileNode* pRoot, std::vector<CFileNode*>& vecChildren,
                    TREE_IMPORT_RESULT* pResult)
{
    vecChildren.clear();
    CFileNode* pMarker = nullptr;
    size_t nStretch = 1, nSteps = 0;
    bool bLoop = false;
    for (CFileNode* pChild = pNode->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling()) {
        if (pChild == pMarker) {
            bLoop = true;
            break;
        }
        if (pChild != pRoot && pChild->GetParent() == pNode)
            vecChildren.push_back(pChild);
        else
            ++pResult->nLeftOut;
        if (++nSteps == nStretch) {
            pMarker = pChild;
            nStretch <<= 1;
            nSteps = 0;
        }
    }
    if (!bLoop)
        return;
    pResult->bListLoop = true;
    std::unordered_set<CFileNode*> seen;
    size_t nKept = 0;
    for (CFileNode* pChild : vecChildren)
        if (seen.insert(pChild).second)
            vecChildren[nKept++] = pChild;
    vecChildren.resize(nKept);
}

std::u16string NameOf(IFileProperties* pProperties)
{
    if (pProperties == nullptr)
        return std::u16string();
    const char* pszName = pProperties->GetName();
    int32_t nLength = pProperties->GetNameLength();
    if (pszName == nullptr || nLength <= 0)
        return std::u16string();
    if (nLength > MAX_NAME_BYTES)
        nLength = MAX_NAME_BYTES;
    // The length is the reader's word; the terminator bounds it where the two disagree.
    return rvd::Utf8ToUtf16(std::string_view(pszName, strnlen(pszName, static_cast<size_t>(nLength))));
}

void EncodeRuns(const std::vector<STORED_RUN>& vecRuns, std::vector<uint8_t>& vecBytes)
{
    vecBytes.resize(vecRuns.size() * 16);
    uint8_t* p = vecBytes.data();
    for (const STORED_RUN& run : vecRuns) {
        for (int i = 0; i < 8; ++i)
            *p++ = static_cast<uint8_t>(run.ullSector >> (8 * i));
        for (int i = 0; i < 8; ++i)
            *p++ = static_cast<uint8_t>(run.ullSectors >> (8 * i));
    }
}

} // namespace

bool ImportTree(CResultDatabase& db, CFileNode* pRoot, uint32_t dwVolume, const RUN_GEOMETRY& geometry,
                TREE_IMPORT_RESULT* pResult)
{
    *pResult = TREE_IMPORT_RESULT();
    if (pRoot == nullptr)
        return true;

    // 1. Number the nodes in tree order (a folder's subtree gets the numbers right after its
    //    own), with an explicit stack.
    std::vector<TREE_ENTRY> vecEntries;
    vecEntries.push_back(TREE_ENTRY{nullptr, 0, 0});  // the volume's top
    std::vector<std::pair<CFileNode*, uint32_t>> vecStack;
    vecStack.emplace_back(pRoot, 0);
    std::vector<CFileNode*> vecChildren;
    while (!vecStack.empty()) {
        const std::pair<CFileNode*, uint32_t> item = vecStack.back();
        vecStack.pop_back();
        if (vecEntries.size() > MAX_RECORD_NUMBER) {
            pResult->bTruncated = true;
            break;
        }
        const uint32_t nIndex = static_cast<uint32_t>(vecEntries.size());
        vecEntries.push_back(TREE_ENTRY{item.first, item.second, 0});
        ++vecEntries[item.second].nChildren;
        GatherChildren(item.first, pRoot, vecChildren, pResult);
        for (auto it = vecChildren.rbegin(); it != vecChildren.rend(); ++it)
            vecStack.emplace_back(*it, nIndex);
    }

    // 2. Kinds, then each subtree's end and totals, children before parents.
    const size_t nCount = vecEntries.size();
    std::vector<uint8_t> vecKind(nCount, NODE_FOLDER);
    std::vector<uint32_t> vecLast(nCount);
    std::vector<uint32_t> vecFiles(nCount, 0);
    std::vector<uint64_t> vecBytes(nCount, 0);
    for (size_t i = 1; i < nCount; ++i) {
        IFileProperties* pProperties = vecEntries[i].pNode->GetProperties();
        const bool bFolder = vecEntries[i].nChildren > 0 || pProperties == nullptr ||
                             (pProperties->GetAttributes() & FILE_ATTR_DIRECTORY) != 0;
        vecLast[i] = static_cast<uint32_t>(i);
        if (bFolder) {
            ++pResult->nFolders;
        } else {
            vecKind[i] = NODE_FILE;
            vecFiles[i] = 1;
            vecBytes[i] = std::min(pProperties->GetSize(), MAX_STORED_BYTES);
            ++pResult->nFiles;
        }
    }
    vecLast[0] = static_cast<uint32_t>(nCount - 1);
    for (size_t i = nCount - 1; i >= 1; --i) {
        const uint32_t nParent = vecEntries[i].nParent;
        if (vecLast[i] > vecLast[nParent])
            vecLast[nParent] = vecLast[i];
        vecFiles[nParent] += vecFiles[i];
        vecBytes[nParent] = SaturatingAdd(vecBytes[nParent], vecBytes[i]);
    }
    pResult->nRecords = static_cast<uint32_t>(nCount - 1);

    // 3. One row per node, in number order, so rows are appended to the table, never inserted
    //    in the middle. The listing index is kept up to date row by row: in tree order its
    //    entries also arrive close to where the last one went, and dropping it to build it again
    //    afterwards would sort every row in memory at once (about 40 MB for a million files)
    //    for no gain in time.
    CSqlStatement& insert = db.m_InsertNode;
    std::vector<uint8_t> vecRunBytes;
    CONVERTED_RUNS runs;
    for (size_t i = 1; i < nCount; ++i) {
        IFileProperties* pProperties = vecEntries[i].pNode->GetProperties();
        const bool bFolder = vecKind[i] == NODE_FOLDER;
        const std::u16string strName = NameOf(pProperties);
        uint64_t ullSize = 0;
        uint16_t wAttributes = 0;
        uint8_t byStatus = 0;
        FILETIME ftCreation{}, ftModification{}, ftAccess{};
        DWORD dwFlags = bFolder ? DWORD(STORED_FILE_FOLDER) : 0;
        runs = CONVERTED_RUNS();
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
                IDataRunList* pList = pProperties->GetDataRunList();
                ConvertRuns(pList, nKind, geometry, &runs);
                delete pList;
                if (runs.bResident)
                    dwFlags |= STORED_FILE_RESIDENT;
                if (runs.bDamaged) {
                    dwFlags |= STORED_FILE_RUNS_DAMAGED;
                    ++pResult->nDamagedRuns;
                }
                bLayout = !runs.bResident && pProperties->GetDataStreamLayout(&layout) != FALSE;
            }
        }
        if (bFolder)
            wAttributes |= FILE_ATTR_DIRECTORY;
        else
            wAttributes &= static_cast<uint16_t>(~FILE_ATTR_DIRECTORY);
        EncodeRuns(runs.vecRuns, vecRunBytes);

        CStatementUse use(insert);
        insert.BindU64(1, MakeNodeKey(dwVolume, static_cast<uint32_t>(i)));
        insert.BindU64(2, MakeNodeKey(dwVolume, vecEntries[i].nParent));
        insert.BindInt(3, vecKind[i]);
        insert.BindU64(4, MakeNodeKey(dwVolume, vecLast[i]));
        insert.BindText16(5, strName);
        insert.BindU64(6, ullSize);
        insert.BindInt(7, wAttributes);
        insert.BindInt(8, byStatus);
        insert.BindInt(9, dwFlags);
        insert.BindU64(10, ftCreation.qwTicks);
        insert.BindU64(11, ftModification.qwTicks);
        insert.BindU64(12, ftAccess.qwTicks);
        insert.BindInt(13, vecFiles[i]);
        insert.BindU64(14, vecBytes[i]);
        insert.BindInt(15, 0);
        insert.BindInt(16, 0);
        insert.BindInt(17, 0);
        insert.BindBlob(18, vecRunBytes.data(), vecRunBytes.size());
        if (runs.bResident) {
            insert.BindU64(19, runs.ullResidentSector);
            insert.BindInt(20, runs.dwResidentOffset);
        } else {
            insert.BindNull(19);
            insert.BindNull(20);
        }
        // A unit of clusters becomes a unit of sectors of the same runs; one too large for a
        // file system to use is kept as 0, and the runs are copied as they lie.
        uint64_t ullUnitSectors = 0;
        if (bLayout && geometry.nSectorsPerUnit > 0)
            ullUnitSectors = static_cast<uint64_t>(layout.nCompressionUnitClusters) *
                             static_cast<uint64_t>(geometry.nSectorsPerUnit);
        if (bLayout && layout.ullValidSize < ullSize)
            insert.BindU64(21, layout.ullValidSize);
        else
            insert.BindNull(21);
        if (ullUnitSectors != 0 && ullUnitSectors <= MAX_COMPRESSION_UNIT_SECTORS)
            insert.BindInt(22, static_cast<int64_t>(ullUnitSectors));
        else
            insert.BindNull(22);
        const int nCode = insert.Step();
        if (nCode != SQLITE_DONE) {
            pResult->nSqlCode = nCode;
            return false;
        }
    }

    CSqlStatement& totals = db.m_UpdateTopTotals;
    CStatementUse use(totals);
    totals.BindU64(1, MakeNodeKey(dwVolume, 0));
    totals.BindU64(2, MakeNodeKey(dwVolume, vecLast[0]));
    totals.BindInt(3, vecFiles[0]);
    totals.BindU64(4, vecBytes[0]);
    const int nCode = totals.Step();
    if (nCode != SQLITE_DONE) {
        pResult->nSqlCode = nCode;
        return false;
    }
    return true;
}

} // namespace corrand
