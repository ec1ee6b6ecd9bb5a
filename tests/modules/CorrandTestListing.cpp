// Results in, folders out: partitions and trees handed over as the engine does, listed back
// by folder in batches of fixed-size records.
#include <dlfcn.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "Charset.h"
#include "CorrandTestSupport.h"
#include "Time.h"

using namespace corrandtest;

namespace {

// 2020-06-01 12:00:00 UTC.
const uint64_t JUNE_2020_NOON_UTC = 132354864000000000ULL;
const uint64_t TICKS_PER_HOUR = 36000000000ULL;

class CorrandListing : public CStoreTest {};

TEST_F(CorrandListing, ListsAFolderTreeByKindWithItsFields)
{
    CTestTree tree;
    CFileNode* pDocs = tree.Folder(tree.Root(), "Docs");
    CFileNode* pOld = tree.Folder(pDocs, "Old");
    CFileNode* pReport = tree.File(pDocs, "report.doc", 12345);
    tree.File(pOld, "letter.txt", 10);
    tree.File(tree.Root(), "top.bin", 7);
    CTestTree::Props(pReport)->SetTimes(JUNE_2020_NOON_UTC, JUNE_2020_NOON_UTC + TICKS_PER_HOUR, 0);
    PARTITION_INFO_EX record = UserRecord(2048);
    record.szVolumeLabel[0] = u'D';
    ASSERT_EQ(0, HandOver(record, tree));

    int32_t nCount = -1;
    ASSERT_EQ(0, Store()->GetPartitionCount(&nCount));
    EXPECT_EQ(1, nCount);
    PARTITION_INFO_EX back{};
    ASSERT_EQ(0, Store()->GetPartitionInfo(&back, 0));
    EXPECT_EQ(0, memcmp(&record, &back, sizeof(record)));
    EXPECT_NE(0, Store()->GetPartitionInfo(&back, 1) & 0xFFFF);

    // The volume's top (record 0) holds the result's root folder.
    std::vector<FILE_INFO_EX> top = ListAll(Store(), 0, 0, ENUM_KIND_FOLDERS);
    ASSERT_EQ(1u, top.size());
    EXPECT_EQ(u"Deleted Files", NameOf(top[0]));
    EXPECT_NE(0u, top[0].dwFolder);
    EXPECT_TRUE(ListAll(Store(), 0, 0, ENUM_KIND_FILES).empty());

    const DWORD dwRoot = top[0].dwRecordNumber;
    std::vector<FILE_INFO_EX> folders = ListAll(Store(), 0, dwRoot, ENUM_KIND_FOLDERS);
    std::vector<FILE_INFO_EX> files = ListAll(Store(), 0, dwRoot, ENUM_KIND_FILES);
    ASSERT_EQ(1u, folders.size());
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(u"Docs", NameOf(folders[0]));
    EXPECT_EQ(u"top.bin", NameOf(files[0]));
    EXPECT_EQ(0u, files[0].dwFolder);

    const DWORD dwDocs = folders[0].dwRecordNumber;
    std::vector<FILE_INFO_EX> docFiles = ListAll(Store(), 0, dwDocs, ENUM_KIND_FILES);
    ASSERT_EQ(1u, docFiles.size());
    const FILE_INFO_EX& info = docFiles[0];
    EXPECT_EQ(u"report.doc", NameOf(info));
    EXPECT_EQ(12345u, info.ullSize);
    EXPECT_EQ(0u, info.dwStoreReserved) << "the volume number rides in the store's own word";
    EXPECT_EQ(0u, info.dwChecked);
    // NTFS times are UTC and are shown in local time (the tests run five hours west of UTC).
    EXPECT_EQ(2020, info.stCreationTime.wYear);
    EXPECT_EQ(6, info.stCreationTime.wMonth);
    EXPECT_EQ(7, info.stCreationTime.wHour);
    EXPECT_EQ(8, info.stModificationTime.wHour);
    EXPECT_EQ(0, info.stAccessTime.wYear) << "an unknown time stays zero";
    EXPECT_EQ(u"Old", NameOf(ListAll(Store(), 0, dwDocs, ENUM_KIND_FOLDERS).at(0)));
}

TEST_F(CorrandListing, FatTimesAreShownAsTheyWereRecorded)
{
    CTestTree tree(600, 4, FILE_SYSTEM_FAT32);
    CFileNode* pFile = tree.File(tree.Root(), "OLD.TXT", 1, PROPERTIES_KIND_FAT);
    CTestTree::Props(pFile)->SetTimes(JUNE_2020_NOON_UTC, JUNE_2020_NOON_UTC, JUNE_2020_NOON_UTC);
    ASSERT_EQ(0, HandOver(UserRecord(63, FILE_SYSTEM_FAT32), tree));
    const DWORD dwRoot = FindPath(Store(), 0, {"Deleted Files"});
    const FILE_INFO_EX info = ListAll(Store(), 0, dwRoot, ENUM_KIND_FILES).at(0);
    // A FAT entry holds the writer's clock reading: no zone is applied to it.
    EXPECT_EQ(12, info.stModificationTime.wHour);
}

TEST_F(CorrandListing, LargeFolderComesInKeyOrderedBatches)
{
    CTestTree tree;
    CFileNode* pBig = tree.Folder(tree.Root(), "big");
    const int nFiles = corrand::CResultStore::BATCH_SIZE * 2 + 17;
    for (int i = 0; i < nFiles; ++i)
        tree.File(pBig, "f" + std::to_string(i), i);
    for (int i = 0; i < 3; ++i)
        tree.Folder(pBig, "sub" + std::to_string(i));
    ASSERT_EQ(0, HandOver(UserRecord(0), tree));

    const DWORD dwBig = FindPath(Store(), 0, {"Deleted Files", "big"});
    int nBatches = 0;
    std::vector<FILE_INFO_EX> files = ListAll(Store(), 0, dwBig, ENUM_KIND_FILES, &nBatches);
    EXPECT_EQ(3, nBatches);
    ASSERT_EQ(static_cast<size_t>(nFiles), files.size());
    std::set<std::u16string> names;
    for (size_t i = 0; i < files.size(); ++i) {
        names.insert(NameOf(files[i]));
        EXPECT_EQ(0u, files[i].dwFolder);
        if (i > 0) {
            EXPECT_LT(files[i - 1].dwRecordNumber, files[i].dwRecordNumber);
        }
    }
    EXPECT_EQ(static_cast<size_t>(nFiles), names.size()) << "no record twice, none missing";
    EXPECT_EQ(3u, ListAll(Store(), 0, dwBig, ENUM_KIND_FOLDERS).size());

    // After the last batch the listing stays at its end; a new listing starts afresh.
    FILE_INFO_EX* pFiles = nullptr;
    int32_t nCount = 0;
    ASSERT_EQ(0, Store()->BeginEnumFiles(dwBig, &pFiles, &nCount, ENUM_KIND_FILES, 0));
    EXPECT_EQ(corrand::CResultStore::BATCH_SIZE, nCount);
    ASSERT_EQ(0, Store()->StopEnumeration());
    EXPECT_NE(0, Store()->GetNextFiles(&pFiles, &nCount) & 0xFFFF);
    EXPECT_EQ(0, nCount);
}

// A tree of thousands of nodes is turned into rows on a second thread while SQLite stores the
// rows made before: every node still gets the record of its place in tree order (a folder's
// subtree right after it), under its own parent, with its own name, size and runs, and each
// folder's last record closes its subtree; a file's row holds its kind, attributes, status,
// flags, times, its own count and bytes, and nothing ticked, whichever statement wrote it.
TEST_F(CorrandListing, ALargeTreeIsStoredRowByRowInTreeOrder)
{
    CTestTree tree;
    std::map<CFileNode*, uint64_t> firstSectors;  // of the files given a run (8 sectors a unit)
    for (int nFolder = 0; nFolder < 12; ++nFolder) {
        CFileNode* pFolder = tree.Folder(tree.Root(), "dir" + std::to_string(nFolder));
        for (int i = 0; i < 500; ++i) {
            // Every seventh name is not plain ASCII, every third file has a run.
            const std::string strName = (i % 7 == 0 ? "\xc3\xa9t\xc3\xa9" : "f") + std::to_string(i);
            CFileNode* pFile = tree.File(pFolder, strName, static_cast<uint64_t>(nFolder) * 1000 + i);
            // Times, status and attributes that differ from file to file and from each other.
            CTestTree::Props(pFile)->SetTimes(1000000 + i, 2000000 + i, 3000000 + i);
            CTestTree::Props(pFile)->m_byStatus = static_cast<uint8_t>(i % 5 == 0 ? 0 : 1);
            CTestTree::Props(pFile)->m_wAttributes = static_cast<uint16_t>(0x20 | (i % 4 == 0 ? 0x1 : 0));
            if (i % 3 == 0) {
                CTestTree::Props(pFile)->SetRuns({{static_cast<uint64_t>(100 + i), 1}});
                firstSectors[pFile] = static_cast<uint64_t>(100 + i) * 8;
            }
        }
        CFileNode* pSub = tree.Folder(pFolder, "sub");
        for (int i = 0; i < 20; ++i)
            tree.File(pSub, "s" + std::to_string(i), 7);
    }
    ASSERT_EQ(0, HandOver(UserRecord(0), tree));

    // What tree order gives: record, parent record, last record of the subtree, name, size,
    // the first run's sector (0: none), and the kind, attributes, status, times, files and bytes
    // a file's row holds, from a walk of the tree as the engine linked it.
    struct ROW {
        uint32_t nRecord, nParent, nLast;
        std::string strName;
        uint64_t ullSize, ullFirstSector;
        std::string strFileColumns;  // empty for a folder
    };
    std::vector<ROW> expected;
    std::vector<std::pair<CFileNode*, uint32_t>> stack{{tree.Root(), 0}};
    std::vector<size_t> open;  // rows of the folders whose subtrees are still open
    while (!stack.empty()) {
        const auto [pNode, nParent] = stack.back();
        stack.pop_back();
        const uint32_t nRecord = static_cast<uint32_t>(expected.size()) + 1;
        while (!open.empty() && expected[open.back()].nRecord != nParent) {
            expected[open.back()].nLast = nRecord - 1;
            open.pop_back();
        }
        IFileProperties* pProperties = pNode->GetProperties();
        const auto first = firstSectors.find(pNode);
        std::string strFileColumns;
        if (pNode->GetFirstChild() == nullptr && (pProperties->GetAttributes() & 0x10) == 0) {
            FILETIME ftCreation{}, ftModification{}, ftAccess{};
            pProperties->GetCreationTime(&ftCreation);
            pProperties->GetModificationTime(&ftModification);
            pProperties->GetAccessTime(&ftAccess);
            strFileColumns = "2 " + std::to_string(pProperties->GetAttributes()) + " " +
                             std::to_string(pProperties->GetStatus()) + " 0 " + std::to_string(ftCreation.qwTicks) +
                             " " + std::to_string(ftModification.qwTicks) + " " + std::to_string(ftAccess.qwTicks) +
                             " 1 " + std::to_string(pProperties->GetSize()) + " 0 0 0";
        }
        expected.push_back(ROW{nRecord, nParent, nRecord, pProperties->GetName(), pProperties->GetSize(),
                               first != firstSectors.end() ? first->second : 0, strFileColumns});
        std::vector<CFileNode*> children;
        for (CFileNode* pChild = pNode->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling())
            children.push_back(pChild);
        if (!children.empty())
            open.push_back(expected.size() - 1);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.emplace_back(*it, nRecord);
    }
    for (size_t nRow : open)
        expected[nRow].nLast = static_cast<uint32_t>(expected.size());
    ASSERT_GT(expected.size(), 6000u);

    sqlite3* pDb = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(DatabaseFile().c_str(), &pDb, SQLITE_OPEN_READONLY, nullptr));
    sqlite3_stmt* pRows = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(pDb,
                                            "SELECT key & 0xFFFFFFFF, pkey & 0xFFFFFFFF, last & 0xFFFFFFFF, "
                                            "CAST(name AS BLOB), size, runs, kind || ' ' || attr || ' ' || status || ' ' || "
                                            "flags || ' ' || ctime || ' ' || mtime || ' ' || atime || ' ' || nfiles || "
                                            "' ' || nbytes || ' ' || tfiles || ' ' || tbytes || ' ' || own "
                                            "FROM node WHERE key > 0 ORDER BY key",
                                            -1, &pRows, nullptr));
    size_t nRow = 0;
    int nStep = SQLITE_ROW;
    while ((nStep = sqlite3_step(pRows)) == SQLITE_ROW && nRow < expected.size()) {
        const ROW& want = expected[nRow++];
        SCOPED_TRACE("record " + std::to_string(want.nRecord) + " " + want.strName);
        EXPECT_EQ(want.nRecord, static_cast<uint32_t>(sqlite3_column_int64(pRows, 0)));
        EXPECT_EQ(want.nParent, static_cast<uint32_t>(sqlite3_column_int64(pRows, 1)));
        EXPECT_EQ(want.nLast, static_cast<uint32_t>(sqlite3_column_int64(pRows, 2)));
        // The names are stored as UTF-16.
        const char16_t* pName = static_cast<const char16_t*>(sqlite3_column_blob(pRows, 3));
        const std::u16string strName(pName, pName + sqlite3_column_bytes(pRows, 3) / 2);
        EXPECT_EQ(rvd::Utf8ToUtf16(want.strName), strName);
        EXPECT_EQ(want.ullSize, static_cast<uint64_t>(sqlite3_column_int64(pRows, 4)));
        uint64_t ullSector = 0;
        if (sqlite3_column_bytes(pRows, 5) >= 8)
            memcpy(&ullSector, sqlite3_column_blob(pRows, 5), 8);
        EXPECT_EQ(want.ullFirstSector, ullSector);
        if (!want.strFileColumns.empty()) {
            EXPECT_EQ(want.strFileColumns, reinterpret_cast<const char*>(sqlite3_column_text(pRows, 6)));
        }
        if (HasFailure())
            break;
    }
    EXPECT_EQ(SQLITE_DONE, nStep) << "more rows than nodes";
    EXPECT_EQ(expected.size(), nRow);
    sqlite3_finalize(pRows);
    sqlite3_close(pDb);
}

TEST_F(CorrandListing, RefusesWhatIsNotThere)
{
    CTestTree tree;
    CFileNode* pFile = tree.File(tree.Root(), "a", 1);
    (void)pFile;
    ASSERT_EQ(0, HandOver(UserRecord(0), tree));
    const DWORD dwFile = FindPath(Store(), 0, {"Deleted Files", "a"});
    struct CASE {
        DWORD dwParent;
        int32_t nKind;
        DWORD dwVolume;
        bool bError;
    } cases[] = {
        {0, ENUM_KIND_FOLDERS, 1, true},        // no such volume
        {999999, ENUM_KIND_FILES, 0, true},     // no such folder
        {0, 3, 0, true},                        // no such kind
        {dwFile, ENUM_KIND_FILES, 0, false},    // a file has no children: an empty listing
    };
    for (const CASE& c : cases) {
        int32_t nStatus = 0;
        std::vector<FILE_INFO_EX> list = ListAll(Store(), c.dwVolume, c.dwParent, c.nKind, nullptr, &nStatus);
        EXPECT_EQ(c.bError, (nStatus & 0xFFFF) != 0) << c.dwParent << " " << c.nKind << " " << c.dwVolume;
        EXPECT_TRUE(list.empty());
    }
}

TEST_F(CorrandListing, ResultsOfOneScanAreNumberedInArrivalOrder)
{
    CTestTree first, second;
    first.File(first.Root(), "one", 1);
    for (int i = 0; i < 5; ++i)
        first.File(first.Root(), "more" + std::to_string(i), 1);
    // Smaller than what is stored already: its rows go in with the listing index kept up to date.
    second.File(second.Root(), "two", 2);
    // The engine's candidate 1 built no tree: indices 0 and 2 arrive, volumes 0 and 1 serve them.
    ASSERT_EQ(0, HandOver(UserRecord(100), first, 0));
    ASSERT_EQ(0, HandOver(UserRecord(200), second, 2));
    int32_t nCount = 0;
    Store()->GetPartitionCount(&nCount);
    ASSERT_EQ(2, nCount);
    PARTITION_INFO_EX record{};
    ASSERT_EQ(0, Store()->GetPartitionInfo(&record, 1));
    EXPECT_EQ(200u, record.ullStartSector);
    EXPECT_NE(0xFFFFFFFFu, FindPath(Store(), 1, {"Deleted Files", "two"}));
    EXPECT_EQ(1u, ListAll(Store(), 1, FindPath(Store(), 1, {"Deleted Files"}), ENUM_KIND_FILES).at(0).dwStoreReserved);
}

TEST_F(CorrandListing, ANewScanReplacesTheLastOne)
{
    CTestTree first, second, third;
    first.File(first.Root(), "old", 1);
    second.File(second.Root(), "new", 2);
    third.File(third.Root(), "newer", 3);
    ASSERT_EQ(0, HandOver(UserRecord(100), first, 0));
    ASSERT_EQ(0, HandOver(UserRecord(200), first, 1));
    int32_t nCount = 0;
    Store()->GetPartitionCount(&nCount);
    ASSERT_EQ(2, nCount);

    // A scan marked as first.
    ASSERT_EQ(0, HandOver(UserRecord(300), second, 0));
    Store()->GetPartitionCount(&nCount);
    EXPECT_EQ(1, nCount);
    EXPECT_NE(0xFFFFFFFFu, FindPath(Store(), 0, {"Deleted Files", "new"}));

    // A scan whose first candidate built nothing hands over index 1 without the first mark;
    // the result page read the store since, so it is still a new scan and must not be mixed
    // with the one before.
    const PARTITION_INFO_EX later = UserRecord(400);
    ASSERT_EQ(0, Store()->AddPartition(&later, 1, 0));
    ASSERT_EQ(0, Store()->AddFileTree(third.Root()));
    Store()->GetPartitionCount(&nCount);
    EXPECT_EQ(1, nCount);
    EXPECT_NE(0xFFFFFFFFu, FindPath(Store(), 0, {"Deleted Files", "newer"}));
    EXPECT_EQ(0xFFFFFFFFu, FindPath(Store(), 0, {"Deleted Files", "new"}));
}

TEST_F(CorrandListing, ATreeNeedsItsPartitionRecord)
{
    CTestTree tree, again;
    tree.File(tree.Root(), "x", 1);
    EXPECT_NE(0, Store()->AddFileTree(tree.Root()) & 0xFFFF) << "no record came first";
    EXPECT_NE(0, Store()->AddPartition(nullptr, 0, 1) & 0xFFFF);
    ASSERT_EQ(0, HandOver(UserRecord(0), tree));
    EXPECT_NE(0, Store()->AddFileTree(again.Root()) & 0xFFFF) << "a second tree for one record";
    EXPECT_NE(0, Store()->AddFileTree(nullptr) & 0xFFFF);
    int32_t nCount = 0;
    Store()->GetPartitionCount(&nCount);
    EXPECT_EQ(1, nCount);
    EXPECT_EQ(1u, ListAll(Store(), 0, FindPath(Store(), 0, {"Deleted Files"}), ENUM_KIND_FILES).size());
}

TEST_F(CorrandListing, PreviewRecordOfAFile)
{
    CTestTree tree;
    CFileNode* pFolder = tree.Folder(tree.Root(), "pics");
    CFileNode* pFile = tree.File(pFolder, "cat.jpg", 52428800);
    CTestTree::Props(pFile)->m_wAttributes = 0x4020;
    ASSERT_EQ(0, HandOver(UserRecord(0), tree));
    const DWORD dwFolder = FindPath(Store(), 0, {"Deleted Files", "pics"});
    const DWORD dwFile = FindPath(Store(), 0, {"Deleted Files", "pics", "cat.jpg"});

    int32_t nReserved = 5;
    ASSERT_EQ(0, Store()->BeginPreview(&nReserved));
    FILE_DETAIL_INFO* pInfo = nullptr;
    EXPECT_EQ(0, Store()->GetFileInfo(dwFile, &pInfo, 0));
    ASSERT_NE(nullptr, pInfo);
    EXPECT_EQ(u"cat.jpg", std::u16string(pInfo->szName));
    EXPECT_EQ(52428800u, pInfo->ullSize);
    EXPECT_EQ(0x4020, pInfo->wAttributes);

    pInfo = nullptr;
    Store()->GetFileInfo(dwFolder, &pInfo, 0);
    ASSERT_NE(nullptr, pInfo);
    EXPECT_NE(0, pInfo->wAttributes & 0x10) << "a folder says so, so the page refuses to preview it";

    for (DWORD dwVolume : {0u, 7u}) {
        pInfo = reinterpret_cast<FILE_DETAIL_INFO*>(1);
        Store()->GetFileInfo(dwVolume == 0 ? 424242u : dwFile, &pInfo, dwVolume);
        EXPECT_EQ(nullptr, pInfo);
    }
    EXPECT_EQ(0, Store()->EndPreview());
}

TEST_F(CorrandListing, LongAndMalformedNamesArriveWhole)
{
    CTestTree tree;
    const std::string strLong(300, 'n');
    tree.File(tree.Root(), strLong, 1);
    tree.File(tree.Root(), "bad\xC3(\xFF.txt", 2);
    tree.File(tree.Root(), "", 3);
    ASSERT_EQ(0, HandOver(UserRecord(0), tree));
    const DWORD dwRoot = FindPath(Store(), 0, {"Deleted Files"});
    std::vector<FILE_INFO_EX> files = ListAll(Store(), 0, dwRoot, ENUM_KIND_FILES);
    ASSERT_EQ(3u, files.size());
    bool bSawLong = false, bSawBad = false, bSawEmpty = false;
    for (const FILE_INFO_EX& info : files) {
        const std::u16string strName = NameOf(info);
        EXPECT_LE(strName.size(), 259u);
        if (info.ullSize == 1) {
            bSawLong = strName == std::u16string(259, u'n');
            STORED_FILE stored;
            ASSERT_EQ(0, Access()->GetStoredFile(0, info.dwRecordNumber, &stored));
            EXPECT_EQ(300u, stored.strName.size()) << "the copy-out module gets the whole name";
        } else if (info.ullSize == 2) {
            // Bytes that are not UTF-8 arrive as their Latin-1 characters.
            bSawBad = strName == u"bad\u00C3(\u00FF.txt";
        } else {
            bSawEmpty = strName.empty();
        }
    }
    EXPECT_TRUE(bSawLong && bSawBad && bSawEmpty);
}

TEST(CorrandModule, LoadsByNameAndHandsOutOneStore)
{
    rvdtest::CTempDir dir;
    setenv("RAVENDO_RESULT_DB", dir.File("module.db").c_str(), 1);
    const std::string strModule = rvdtest::OutputDir() + "/libCorrand.so";
    void* hModule = dlopen(strModule.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, hModule) << dlerror();
    typedef void* (*PFN_CREATE)();
    PFN_CREATE pfnCreate = reinterpret_cast<PFN_CREATE>(dlsym(hModule, "CreateInstance"));
    PFN_GET_RESULT_STORE_ACCESS pfnAccess =
        reinterpret_cast<PFN_GET_RESULT_STORE_ACCESS>(dlsym(hModule, "GetResultStoreAccess"));
    ASSERT_NE(nullptr, pfnCreate);
    ASSERT_NE(nullptr, pfnAccess);
    ICorrand* pStore = static_cast<ICorrand*>(pfnCreate());
    EXPECT_EQ(pStore, static_cast<ICorrand*>(pfnCreate()));
    IResultStoreAccess* pAccess = pfnAccess();
    ASSERT_NE(nullptr, pAccess);

    // The engine's hand-over through the module reaches the copy-out module's view.
    CTestTree tree;
    tree.File(tree.Root(), "through-the-module", 5);
    const PARTITION_INFO_EX record = UserRecord(0);
    ASSERT_EQ(0, pStore->AddPartition(&record, 0, 1));
    ASSERT_EQ(0, pStore->AddFileTree(tree.Root()));
    DWORD dwCount = 0;
    ASSERT_EQ(0, pAccess->GetVolumeCount(&dwCount));
    EXPECT_EQ(1u, dwCount);
    STORED_FILE file;
    ASSERT_EQ(0, pAccess->GetStoredFile(0, 2, &file));
    EXPECT_EQ(u"through-the-module", file.strName);
    unsetenv("RAVENDO_RESULT_DB");
    dlclose(hModule);
}

} // namespace
