// The stored results outlive the process that wrote them; a file that is not a sound result
// store is reported and replaced; a tree whose links are damaged is stored without hanging or
// crashing.
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "CorrandTestLog.h"
#include "CorrandTestSupport.h"

using namespace corrandtest;

namespace {

class CorrandPersistence : public CStoreTest {
protected:
    void HandOverSample()
    {
        CFileNode* pDocs = m_Tree.Folder(m_Tree.Root(), "Docs");
        CFileNode* pFile = m_Tree.File(pDocs, "kept.txt", 4321);
        CTestTree::Props(pFile)->SetRuns({{10, 2}});
        for (int i = 0; i < 300; ++i)
            m_Tree.File(m_Tree.Root(), "filler" + std::to_string(i), i);
        ASSERT_EQ(0, HandOver(UserRecord(2048), m_Tree));
        ASSERT_EQ(0, Store()->SetCheckState(FindPath(Store(), 0, {"Deleted Files", "Docs", "kept.txt"}), 1, 0, 1, 0));
    }

    // What a second reader of the file sees; empty when it sees nothing of the sample.
    static std::string Describe(corrand::CResultStore& store)
    {
        int32_t nCount = 0;
        if (store.GetPartitionCount(&nCount) != 0 || nCount != 1)
            return "partitions: " + std::to_string(nCount);
        const DWORD dwFile = FindPath(&store, 0, {"Deleted Files", "Docs", "kept.txt"});
        STORED_FILE file;
        if (dwFile == 0xFFFFFFFFu || store.GetStoredFile(0, dwFile, &file) != 0)
            return "no kept.txt";
        return std::to_string(file.ullSize) + " " + std::to_string(file.vecRuns.at(0).ullSector) + " " +
               std::to_string(store.GetCheckedSize(0, 0, 0)) + " " +
               std::to_string(ListAll(&store, 0, FindPath(&store, 0, {"Deleted Files"}), ENUM_KIND_FILES).size());
    }

    CTestTree m_Tree{0, 8};
};

TEST_F(CorrandPersistence, ASecondOpenOfTheFileSeesTheLastResults)
{
    HandOverSample();
    const std::string strExpected = "4321 80 4321 300";
    EXPECT_EQ(strExpected, Describe(*m_pStore));
    corrand::CResultStore second(DatabaseFile());
    EXPECT_EQ(strExpected, Describe(second));
    Reopen();
    EXPECT_EQ(strExpected, Describe(*m_pStore));
}

TEST_F(CorrandPersistence, AnotherProcessReadsTheLastResults)
{
    HandOverSample();
    const std::string strExpected = Describe(*m_pStore);
    const pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
        int nExit = 1;
        {
            corrand::CResultStore child(DatabaseFile());
            if (Describe(child) == strExpected)
                nExit = 0;
        }
        _exit(nExit);
    }
    int nStatus = 0;
    ASSERT_EQ(pid, waitpid(pid, &nStatus, 0));
    ASSERT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(0, WEXITSTATUS(nStatus));
}

// How a file beside the program can be something other than a sound store.
enum DAMAGE {
    DAMAGE_TEXT,
    DAMAGE_FOREIGN_DATABASE,
    DAMAGE_OLD_SCHEMA,
    DAMAGE_TRUNCATED,
    DAMAGE_OVERWRITTEN_PAGES,
    // A store of the first version, whose runs counted sectors of the first member's disk: read
    // now, a dynamic volume's files would be copied from the wrong sectors.
    DAMAGE_VERSION_1
};

TEST_F(CorrandPersistence, ADamagedOrForeignFileIsReportedAndReplaced)
{
    for (DAMAGE nDamage : {DAMAGE_TEXT, DAMAGE_FOREIGN_DATABASE, DAMAGE_OLD_SCHEMA, DAMAGE_TRUNCATED,
                           DAMAGE_OVERWRITTEN_PAGES, DAMAGE_VERSION_1}) {
        SCOPED_TRACE(nDamage);
        m_pStore.reset();
        unlink(DatabaseFile().c_str());
        unlink((DatabaseFile() + ".damaged").c_str());
        switch (nDamage) {
        case DAMAGE_TEXT:
            rvdtest::WriteFileBytes(DatabaseFile(), std::vector<uint8_t>(5000, 'x'));
            break;
        case DAMAGE_FOREIGN_DATABASE:
        case DAMAGE_OLD_SCHEMA: {
            sqlite3* pDb = nullptr;
            ASSERT_EQ(SQLITE_OK, sqlite3_open(DatabaseFile().c_str(), &pDb));
            const char* pszSql = nDamage == DAMAGE_FOREIGN_DATABASE
                                     ? "CREATE TABLE contacts(name TEXT); INSERT INTO contacts VALUES('someone');"
                                     : "PRAGMA application_id=1381385283; PRAGMA user_version=999; CREATE TABLE node(x);";
            ASSERT_EQ(SQLITE_OK, sqlite3_exec(pDb, pszSql, nullptr, nullptr, nullptr));
            sqlite3_close(pDb);
            break;
        }
        case DAMAGE_VERSION_1: {
            Reopen();
            HandOverSample();
            m_pStore.reset();
            sqlite3* pDb = nullptr;
            ASSERT_EQ(SQLITE_OK, sqlite3_open(DatabaseFile().c_str(), &pDb));
            ASSERT_EQ(SQLITE_OK, sqlite3_exec(pDb, "PRAGMA user_version=1", nullptr, nullptr, nullptr));
            sqlite3_close(pDb);
            break;
        }
        case DAMAGE_TRUNCATED:
        case DAMAGE_OVERWRITTEN_PAGES: {
            Reopen();
            HandOverSample();
            m_pStore.reset();
            std::vector<uint8_t> vecBytes = rvdtest::ReadFileBytes(DatabaseFile());
            ASSERT_GE(vecBytes.size(), 8u * 4096u);
            if (nDamage == DAMAGE_TRUNCATED)
                vecBytes.resize(vecBytes.size() / 2);
            else
                std::fill(vecBytes.begin() + 2 * 4096, vecBytes.begin() + 6 * 4096, 0xA5);
            rvdtest::WriteFileBytes(DatabaseFile(), vecBytes);
            break;
        }
        }
        const std::vector<uint8_t> vecDamaged = rvdtest::ReadFileBytes(DatabaseFile());
        const size_t nLogBefore = ReadLog().size();

        Reopen();
        int32_t nCount = -1;
        EXPECT_EQ(0, Store()->GetPartitionCount(&nCount));
        EXPECT_EQ(0, nCount) << "nothing of the damaged file is trusted";
        EXPECT_NE(std::string::npos, ReadLog().find("replaced by an empty store", nLogBefore));
        EXPECT_EQ(vecDamaged, rvdtest::ReadFileBytes(DatabaseFile() + ".damaged")) << "kept aside, not lost";
        EXPECT_EQ(DatabaseFile(), m_pStore->GetDatabaseFile());

        // The new store takes the next scan, and the next process trusts it.
        CTestTree tree;
        tree.File(tree.Root(), "fresh", 1);
        ASSERT_EQ(0, HandOver(UserRecord(0), tree));
        Reopen();
        EXPECT_NE(0xFFFFFFFFu, FindPath(Store(), 0, {"Deleted Files", "fresh"}));
    }
}

// Rows of a file damaged after it was written: a folder whose subtree is said to end at the
// largest key there is, with a ticked-bytes total at the largest value. The walk over the
// ticked files ends and gives each ticked file once, a search under that folder stays within
// its volume, and a tick below it keeps the total within bounds instead of wrapping to nothing.
TEST_F(CorrandPersistence, DamagedSubtreeEndsAndTickTotalsStayWithinBounds)
{
    CTestTree first;
    first.File(first.Folder(first.Root(), "B"), "b.txt", 10);
    first.File(first.Folder(first.Root(), "A"), "a.txt", 20);
    ASSERT_EQ(0, HandOver(UserRecord(2048), first, 0));
    CTestTree second;
    second.File(second.Root(), "other.txt", 30);
    ASSERT_EQ(0, HandOver(UserRecord(900000), second, 1));
    ASSERT_EQ(0, Store()->SetCheckState(FindPath(Store(), 0, {"Deleted Files", "B", "b.txt"}), 1, 0, 1, 0));
    const DWORD dwA = FindPath(Store(), 0, {"Deleted Files", "A"});
    const DWORD dwAFile = FindPath(Store(), 0, {"Deleted Files", "A", "a.txt"});
    ASSERT_NE(0xFFFFFFFFu, dwAFile);
    m_pStore.reset();
    sqlite3* pDb = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(DatabaseFile().c_str(), &pDb));
    const std::string strSql =
        "UPDATE node SET last=9223372036854775807, tbytes=9223372036854775807 WHERE key=" + std::to_string(dwA);
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(pDb, strSql.c_str(), nullptr, nullptr, nullptr));
    sqlite3_close(pDb);
    Reopen();

    CHECKED_FILE_CURSOR cursor;
    std::vector<STORED_FILE> files;
    for (int i = 0; i < 100 && !cursor.bDone; ++i)
        Access()->GetNextCheckedFiles(&cursor, &files, 16);
    EXPECT_TRUE(cursor.bDone);
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(u"b.txt", files[0].strName);

    SEARCH_CONDITION condition{};
    condition.dwCriteria = SEARCH_BY_NAME;
    condition.dwFolderRecord = dwA;
    condition.szNameMask[0] = u'*';
    std::vector<std::u16string> names;
    for (const FILE_INFO_EX& info : SearchAll(Store(), condition))
        names.push_back(NameOf(info));
    EXPECT_EQ(std::vector<std::u16string>{u"a.txt"}, names);

    ASSERT_EQ(0, Store()->SetCheckState(dwAFile, 1, 0, 1, 0));
    EXPECT_GE(Store()->GetCheckedSize(dwA, 0, 0), 20u);
}

// A tree's rows take the keys after the largest stored, the volume's top: a row that another
// writer put beyond the top leaves the tree unstored rather than stored under keys not its own.
TEST_F(CorrandPersistence, ATreeIsNotStoredUnderKeysOtherThanItsOwn)
{
    CTestTree tree;
    tree.File(tree.Root(), "a.txt", 10);
    const PARTITION_INFO_EX record = UserRecord(2048);
    ASSERT_EQ(0, Store()->AddPartition(&record, 0, 1));
    const auto exec = [this](const char* pszSql) {
        sqlite3* pDb = nullptr;
        EXPECT_EQ(SQLITE_OK, sqlite3_open(DatabaseFile().c_str(), &pDb));
        std::string strResult;
        EXPECT_EQ(SQLITE_OK, sqlite3_exec(
                                 pDb, pszSql,
                                 [](void* pResult, int, char** ppValues, char**) {
                                     *static_cast<std::string*>(pResult) += ppValues[0] != nullptr ? ppValues[0] : "-";
                                     return 0;
                                 },
                                 &strResult, nullptr));
        sqlite3_close(pDb);
        return strResult;
    };
    exec("INSERT INTO node SELECT key+5,pkey,kind,last,'stray',size,attr,status,flags,ctime,mtime,atime,nfiles,"
         "nbytes,tfiles,tbytes,own,runs,res_sector,res_offset,valid,cunit FROM node WHERE key=0");
    EXPECT_NE(0, Store()->AddFileTree(tree.Root()));
    EXPECT_EQ("0,5", exec("SELECT group_concat(key) FROM node"));
}

TEST_F(CorrandPersistence, WithoutAWritableFileTheResultsStayInMemory)
{
    m_pStore.reset(new corrand::CResultStore(m_Dir.File("no-such-folder/results.db")));
    CTestTree tree;
    tree.File(tree.Root(), "only-here", 1);
    ASSERT_EQ(0, HandOver(UserRecord(0), tree));
    EXPECT_NE(0xFFFFFFFFu, FindPath(Store(), 0, {"Deleted Files", "only-here"}));
    EXPECT_EQ("", m_pStore->GetDatabaseFile());
    EXPECT_NE(std::string::npos, ReadLog().find("kept in memory"));
}

class CorrandHostileTree : public CStoreTest {};

TEST_F(CorrandHostileTree, BadLinksAreLeftOutAndEveryNodeIsStoredOnce)
{
    CTestTree tree;
    CFileSystemNode* pRoot = tree.Root();
    CFileNode* pA = tree.Folder(pRoot, "A");
    CFileNode* pB = tree.Folder(pRoot, "B");
    // The same node linked twice into one list: the list loops on itself.
    CFileNode* pTwice = tree.File(pA, "twice", 1);
    pA->AddChild(pTwice);
    // A node linked into a second folder: its parent link names the second, while the first
    // folder's list still leads to it.
    CFileNode* pE = tree.Folder(pRoot, "E");
    CFileNode* pMoved = tree.File(pE, "moved", 2);
    pB->AddChild(pMoved);
    // A list that loops through two nodes: X -> Y -> X.
    CFileNode* pC = tree.Folder(pRoot, "C");
    CFileNode* pX = tree.File(pC, "x", 3);
    tree.File(pC, "y", 4);
    pC->AddChild(pX);
    // A link back up to the root.
    CFileNode* pD = tree.Folder(pRoot, "D");
    tree.File(pD, "d1", 5);
    pD->AddChild(pRoot);
    // A node without properties that has children, and a "file" that has children.
    CFileNode* pBare = tree.Bare(pRoot);
    tree.File(pBare, "under-bare", 6);
    CFileNode* pFileWithChildren = tree.File(pRoot, "file-with-children", 0);
    tree.File(pFileWithChildren, "inside", 7);

    const size_t nLogBefore = ReadLog().size();
    ASSERT_EQ(0, HandOver(UserRecord(0), tree));
    EXPECT_NE(std::string::npos, ReadLog().find("left out", nLogBefore));

    // Every file once, where its own parent link puts it.
    std::map<std::u16string, int> counts;
    CHECKED_FILE_CURSOR cursor;
    ASSERT_EQ(0, Store()->SetCheckState(0, 1, 1, 1, 0));
    std::vector<STORED_FILE> files;
    while (Access()->GetNextCheckedFiles(&cursor, &files, 100) == 0) {
    }
    std::map<std::u16string, std::u16string> folderOf;
    for (const STORED_FILE& file : files) {
        ++counts[file.strName];
        folderOf[file.strName] = file.vecFolders.empty() ? u"" : file.vecFolders.back();
    }
    for (const char16_t* pszName : {u"twice", u"moved", u"x", u"y", u"d1", u"under-bare", u"inside"})
        EXPECT_EQ(1, counts[pszName]) << std::string(pszName, pszName + std::u16string_view(pszName).size());
    EXPECT_EQ(7u, files.size());
    EXPECT_EQ(u"B", folderOf[u"moved"]);
    EXPECT_EQ(u"", folderOf[u"under-bare"]) << "a node without properties is a folder without a name";
    EXPECT_EQ(u"file-with-children", folderOf[u"inside"]);

    const DWORD dwRoot = FindPath(Store(), 0, {"Deleted Files"});
    bool bFolder = false;
    for (const FILE_INFO_EX& info : ListAll(Store(), 0, dwRoot, ENUM_KIND_FOLDERS))
        bFolder |= NameOf(info) == u"file-with-children";
    EXPECT_TRUE(bFolder) << "a node with children is a folder";
}

TEST_F(CorrandHostileTree, AVeryDeepTreeIsWalkedWithoutRecursion)
{
    CTestTree tree;
    const int nDepth = 100000;
    CFileNode* pFolder = tree.Root();
    for (int i = 0; i < nDepth; ++i)
        pFolder = tree.Folder(pFolder, "d");
    tree.File(pFolder, "bottom", 9);
    ASSERT_EQ(0, HandOver(UserRecord(0), tree));

    // Records are numbered in tree order: the root is 1, the deepest folder nDepth + 1.
    const DWORD dwBottom = nDepth + 2;
    STORED_FILE file;
    ASSERT_EQ(0, Access()->GetStoredFile(0, dwBottom, &file));
    EXPECT_EQ(u"bottom", file.strName);
    EXPECT_EQ(static_cast<size_t>(nDepth + 1), file.vecFolders.size());
    ASSERT_EQ(0, Store()->SetCheckState(dwBottom, 1, 0, 1, 0));
    EXPECT_EQ(9u, Store()->GetCheckedSize(1, 0, 0));
    EXPECT_EQ(1u, ListAll(Store(), 0, nDepth + 1, ENUM_KIND_FILES).size());
}

} // namespace
