// Mode 1: one file written synchronously to the preview's temporary path, at most 50 MiB, never
// over anything that is already there.
#include "TessaryTestSupport.h"

namespace {

using namespace tessarytest;

class TessaryPreview : public CTessaryTest {
protected:
    int32_t Preview(ITessary& tessary, const std::string& strPath, DWORD dwRecord, DWORD dwVolume = 0)
    {
        WCHAR szPath[MAX_PATH] = {};
        rvd::CopyWideText(szPath, rvd::Utf8ToUtf16(strPath));
        tessary.SetTarget(szPath, 0, 0);
        tessary.SetSingleFile(dwVolume, dwRecord);
        return tessary.Run(TESSARY_RUN_PREVIEW);
    }
};

TEST_F(TessaryPreview, WritesOneFileUpTo50MiB)
{
    const uint64_t ullClusters = TESSARY_PREVIEW_MAX_BYTES / kClusterBytes;  // 12800 clusters: 50 MiB
    CTestTree tree;
    CFileNode* pDocs = tree.Folder(tree.Root(), "Docs");
    CTestTree::Props(tree.File(pDocs, "note.txt", 5000))->SetRuns({{7, 2}});
    // Mostly a hole, so the test needs no 50 MiB of disk.
    CTestTree::Props(tree.File(pDocs, "limit.bin", TESSARY_PREVIEW_MAX_BYTES))
        ->SetRuns({{3, 1}, {DATA_RUN_SPARSE_START, ullClusters - 1}});
    CTestTree::Props(tree.File(pDocs, "over.bin", TESSARY_PREVIEW_MAX_BYTES + 1))
        ->SetRuns({{3, 1}, {DATA_RUN_SPARSE_START, ullClusters}});
    HandOver(tree);

    CTestTessary tessary(Access());
    const std::string strNote = m_Dir.File("~@!1.tmp");
    EXPECT_EQ(TESSARY_OK, Preview(tessary, strNote, Record(0, {"Deleted Files", "Docs", "note.txt"})));
    EXPECT_EQ(ImageBytes(ClusterOffset(7), 5000), FileBytes(strNote));

    const std::string strLimit = m_Dir.File("~@!2.tmp");
    EXPECT_EQ(TESSARY_OK, Preview(tessary, strLimit, Record(0, {"Deleted Files", "Docs", "limit.bin"})));
    const std::vector<uint8_t> vecLimit = FileBytes(strLimit);
    ASSERT_EQ(TESSARY_PREVIEW_MAX_BYTES, vecLimit.size());
    EXPECT_EQ(ImageBytes(ClusterOffset(3), kClusterBytes),
              std::vector<uint8_t>(vecLimit.begin(), vecLimit.begin() + kClusterBytes));

    const std::string strOver = m_Dir.File("~@!3.tmp");
    EXPECT_EQ(TESSARY_ERR_TOO_BIG, Preview(tessary, strOver, Record(0, {"Deleted Files", "Docs", "over.bin"})));
    EXPECT_FALSE(Exists(strOver));
    // Nothing of the copy-out's target was made.
    EXPECT_TRUE(Snapshot(m_strTarget).empty());
}

TEST_F(TessaryPreview, Refusals)
{
    CTestTree tree;
    CFileNode* pDocs = tree.Folder(tree.Root(), "Docs");
    CTestTree::Props(tree.File(pDocs, "note.txt", 100))->SetRuns({{7, 1}});
    HandOver(tree);
    const DWORD dwNote = Record(0, {"Deleted Files", "Docs", "note.txt"});
    const DWORD dwDocs = Record(0, {"Deleted Files", "Docs"});

    // A link planted at the temporary path is neither followed nor replaced.
    const std::string strVictim = m_Dir.File("victim.txt");
    rvdtest::WriteFileBytes(strVictim, {1, 2, 3});
    const std::string strPlanted = m_Dir.File("~@!planted.tmp");
    ASSERT_EQ(0, symlink(strVictim.c_str(), strPlanted.c_str()));

    struct CASE {
        const char* pszName;
        std::string strPath;
        DWORD dwRecord;
        DWORD dwVolume;
        int32_t nResult;
    };
    const std::vector<CASE> cases = {
        {"folder", m_Dir.File("a.tmp"), dwDocs, 0, TESSARY_ERR_NO_FILE},
        {"no such record", m_Dir.File("b.tmp"), 0xFFFFFF0u, 0, TESSARY_ERR_NO_FILE},
        {"no such volume", m_Dir.File("c.tmp"), dwNote, 3, TESSARY_ERR_NO_FILE},
        {"relative path", "d.tmp", dwNote, 0, TESSARY_ERR_BAD_ARGUMENT},
        {"planted link", strPlanted, dwNote, 0, TESSARY_ERR_CREATE},
        {"folder not there", m_Dir.File("missing/e.tmp"), dwNote, 0, TESSARY_ERR_CREATE},
    };
    CTestTessary tessary(Access());
    for (const CASE& c : cases) {
        EXPECT_EQ(c.nResult, Preview(tessary, c.strPath, c.dwRecord, c.dwVolume)) << c.pszName;
        if (c.nResult != TESSARY_ERR_CREATE) {
            EXPECT_FALSE(Exists(c.strPath)) << c.pszName;
        }
    }
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), FileBytes(strVictim));
    // Without a file named first, a preview has nothing to write.
    CTestTessary fresh(Access());
    WCHAR szPath[MAX_PATH] = {};
    rvd::CopyWideText(szPath, rvd::Utf8ToUtf16(m_Dir.File("f.tmp")));
    fresh.SetTarget(szPath, 0, 0);
    EXPECT_EQ(TESSARY_ERR_BAD_ARGUMENT, fresh.Run(TESSARY_RUN_PREVIEW));
    EXPECT_EQ(TESSARY_ERR_BAD_ARGUMENT, fresh.Run(7));
}

// An unreadable stretch is zeros in the preview too; the file is still written.
TEST_F(TessaryPreview, UnreadableSectorsAreZeros)
{
    const uint64_t ullBad = kPartitionStart + 7 * kSectorsPerCluster + 1;
    LoadTable("bad 0 " + std::to_string(ullBad) + " " + std::to_string(ullBad + 1) + "\n");
    CTestTree tree;
    CTestTree::Props(tree.File(tree.Root(), "note.txt", 2000))->SetRuns({{7, 1}});
    HandOver(tree);
    CTestTessary tessary(Access());
    const std::string strPath = m_Dir.File("~@!4.tmp");
    EXPECT_EQ(TESSARY_OK, Preview(tessary, strPath, Record(0, {"Deleted Files", "note.txt"})));
    std::vector<uint8_t> vecExpected = ImageBytes(ClusterOffset(7), 2000);
    std::fill(vecExpected.begin() + 512, vecExpected.begin() + 1024, 0);
    EXPECT_EQ(vecExpected, FileBytes(strPath));
}

} // namespace
