// Names and paths from a damaged or hostile disk: every component made harmless, clashes
// numbered, links planted in the target never followed, nothing written outside the run folder.
#include <set>

#include "SafeName.h"
#include "TessaryTestSupport.h"

namespace {

using namespace tessarytest;
using tessary::NumberedName;
using tessary::SanitiseComponent;

std::u16string Repeat(const std::u16string& str, int n)
{
    std::u16string strOut;
    for (int i = 0; i < n; ++i)
        strOut += str;
    return strOut;
}

// A component as a Linux file system takes it, and harmless in a path.
void ExpectHarmless(const std::string& strName, const std::string& strContext)
{
    EXPECT_FALSE(strName.empty()) << strContext;
    EXPECT_LE(strName.size(), tessary::MAX_COMPONENT_BYTES) << strContext;
    EXPECT_TRUE(rvd::IsValidUtf8(strName)) << strContext;
    EXPECT_NE(".", strName) << strContext;
    EXPECT_NE("..", strName) << strContext;
    for (unsigned char ch : strName) {
        EXPECT_NE('/', ch) << strContext;
        EXPECT_NE('\\', ch) << strContext;
        EXPECT_GE(ch, 0x20) << strContext;
        EXPECT_NE(0x7F, ch) << strContext;
    }
}

TEST(TessarySafeName, Components)
{
    const std::u16string strEAcute300 = Repeat(u"\u00e9", 148) + u".txt";  // 300 bytes of UTF-8
    struct CASE {
        std::u16string strIn;
        std::string strOut;
    };
    const std::vector<CASE> cases = {
        {u"a/b.txt", "a_b.txt"},
        {u"back\\slash.txt", "back_slash.txt"},
        {u"", "_"},
        {u".", "_."},
        {u"..", "_.."},
        {u"...", "..."},
        {u"\x01" u"control\x1F" u"name.txt", "_control_name.txt"},
        {std::u16string(u"nul\0inside", 10), "nul_inside"},
        {u"del\x7F" u"c1\x85", "del_c1_"},
        {u"half \xD800 pair", "half _ pair"},
        {u"Donn\u00e9es \u03a9", "Donn\u00e9es \u03a9"},
        {u"trailing dot.", "trailing dot."},
        // 300 bytes: cut at a character boundary, the extension kept.
        {strEAcute300, rvd::Utf16ToUtf8(Repeat(u"\u00e9", 125)) + ".txt"},
        {std::u16string(300, u'x'), std::string(255, 'x')},
        // A "extension" too long to be one is cut like the rest.
        {u"a." + std::u16string(300, u'b'), "a." + std::string(253, 'b')},
    };
    for (const CASE& c : cases) {
        const std::string strOut = SanitiseComponent(c.strIn);
        EXPECT_EQ(c.strOut, strOut) << rvd::Utf16ToUtf8(c.strIn);
        ExpectHarmless(strOut, rvd::Utf16ToUtf8(c.strIn));
    }
}

TEST(TessarySafeName, NumberedNamesStayWithinTheLimit)
{
    EXPECT_EQ("a_b (2).txt", NumberedName("a_b.txt", 2));
    EXPECT_EQ(".profile (3)", NumberedName(".profile", 3));
    EXPECT_EQ("_.. (2)", NumberedName("_..", 2));
    const std::string strLong = SanitiseComponent(Repeat(u"\u00e9", 148) + u".txt");
    const std::string strNumbered = NumberedName(strLong, 12345);
    ExpectHarmless(strNumbered, "numbered long name");
    EXPECT_EQ(" (12345).txt", strNumbered.substr(strNumbered.size() - 12));
}

class TessarySafety : public CTessaryTest {};

// The hostile names of the fixture disk (and a few more) in one tree, and links planted in the
// target where the run folder would go: every file arrives, under a harmless name of its own,
// inside the run folder, and nothing else anywhere changes.
TEST_F(TessarySafety, HostileNamesAndPlantedLinks)
{
    const std::u16string strLong = Repeat(u"\u00e9", 148) + u".txt";
    CTestTree tree;
    CFileNode* pHostile = tree.Folder(tree.Root(), "Hostile");
    std::vector<std::pair<CFileNode*, std::u16string>> vecFolders = {
        {pHostile, u""},
        {tree.Folder(pHostile, "../../escape"), u""},
        {tree.Folder(pHostile, ".."), u""},
        {tree.Folder(pHostile, "."), u""},
        {tree.Folder(pHostile, rvd::Utf16ToUtf8(Repeat(u"\u00e9", 150))), u""},
        {tree.Folder(pHostile, "Sub"), u""},
    };
    const std::vector<std::string> vecNames = {
        "a/b.txt", "a\\b.txt", "a_b.txt", "..", ".", "", "...", "\x01" "control\x1F" "name.txt",
        rvd::Utf16ToUtf8(strLong), rvd::Utf16ToUtf8(strLong), "Sub", "planted.txt", "/etc/passwd",
        "../../../outside/owned.txt"};
    uint64_t ullCluster = 10;
    std::multiset<std::vector<uint8_t>> setExpected;
    for (const auto& folder : vecFolders)
        for (const std::string& strName : vecNames) {
            CTestTree::Props(tree.File(folder.first, strName, 777))->SetRuns({{ullCluster, 1}});
            setExpected.insert(ImageBytes(ClusterOffset(ullCluster), 777));
            ++ullCluster;
        }
    HandOver(tree);
    TickAll();

    // Outside the target: a folder and a file the links point at.
    const std::string strOutside = m_Dir.File("outside");
    ASSERT_EQ(0, mkdir(strOutside.c_str(), 0755));
    rvdtest::WriteFileBytes(strOutside + "/keep.txt", {1, 2, 3});
    ASSERT_EQ(0, symlink(strOutside.c_str(), (m_strTarget + "/Run").c_str()));
    ASSERT_EQ(0, symlink((strOutside + "/keep.txt").c_str(), (m_strTarget + "/Run (2)").c_str()));
    ASSERT_EQ(0, symlink(strOutside.c_str(), (m_strTarget + "/Deleted Files").c_str()));
    const auto outsideBefore = Snapshot(strOutside);
    const auto targetBefore = Snapshot(m_strTarget);

    CTestTessary tessary(Access());
    MESSAGES messages;
    const COPY_OUTCOME outcome = Copy(tessary, &messages);
    EXPECT_EQ(TESSARY_OK, outcome.nResult) << messages.All();
    const std::string strRun = m_strTarget + "/Run (3)";
    EXPECT_EQ(strRun, outcome.strRecoveryPath);

    EXPECT_EQ(outsideBefore, Snapshot(strOutside));
    EXPECT_EQ(targetBefore, Snapshot(m_strTarget, "Run (3)"));

    // Every file, each once, as a plain file with harmless components.
    const auto files = RegularFiles(strRun);
    std::multiset<std::vector<uint8_t>> setCopied;
    for (const auto& file : files) {
        setCopied.insert(file.second);
        size_t nStart = 0;
        while (nStart <= file.first.size()) {
            const size_t nSlash = file.first.find('/', nStart);
            const size_t nEnd = nSlash == std::string::npos ? file.first.size() : nSlash;
            ExpectHarmless(file.first.substr(nStart, nEnd - nStart), file.first);
            nStart = nEnd + 1;
        }
    }
    EXPECT_EQ(setExpected, setCopied);
    for (const auto& entry : Snapshot(strRun)) {
        struct stat st{};
        ASSERT_EQ(0, lstat((strRun + "/" + entry.first).c_str(), &st));
        EXPECT_TRUE(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) << entry.first;
    }
    // The clashes (which name gets which number follows the order of the tree).
    const std::string strBase = strRun + "/Deleted Files/Hostile/";
    EXPECT_EQ((std::multiset<std::vector<uint8_t>>{ImageBytes(ClusterOffset(10), 777),
                                                   ImageBytes(ClusterOffset(11), 777),
                                                   ImageBytes(ClusterOffset(12), 777)}),
              (std::multiset<std::vector<uint8_t>>{FileBytes(strBase + "a_b.txt"), FileBytes(strBase + "a_b (2).txt"),
                                                   FileBytes(strBase + "a_b (3).txt")}));
    EXPECT_EQ(ImageBytes(ClusterOffset(22), 777), FileBytes(strBase + "_etc_passwd"));
    EXPECT_EQ(ImageBytes(ClusterOffset(23), 777), FileBytes(strBase + ".._.._.._outside_owned.txt"));
    EXPECT_EQ(ImageBytes(ClusterOffset(10 + 14 + 11), 777), FileBytes(strBase + ".._.._escape/planted.txt"));
    // The folder "Sub" and the file "Sub": one of them is numbered.
    struct stat stPlain{}, stNumbered{};
    ASSERT_EQ(0, lstat((strBase + "Sub").c_str(), &stPlain));
    ASSERT_EQ(0, lstat((strBase + "Sub (2)").c_str(), &stNumbered));
    EXPECT_NE(S_ISDIR(stPlain.st_mode), S_ISDIR(stNumbered.st_mode));
    EXPECT_EQ(ImageBytes(ClusterOffset(20), 777), FileBytes(strBase + (S_ISDIR(stPlain.st_mode) ? "Sub (2)" : "Sub")));
}

// A folder that the run made and then finds swapped for a link (someone else writes to the
// target meanwhile) is not entered again: what belongs in it is reported as not recovered.
TEST_F(TessarySafety, FolderSwappedForALinkIsNotFollowed)
{
    // A's files come before and after its subfolder C, so the walk goes back into A after C.
    // Children are linked in front, so they are added last to first.
    CTestTree tree;
    CFileNode* pA = tree.Folder(tree.Root(), "A");
    CTestTree::Props(tree.File(pA, "third.txt", 100))->SetRuns({{3, 1}});
    CFileNode* pC = tree.Folder(pA, "C");
    CTestTree::Props(tree.File(pC, "inner.txt", 100))->SetRuns({{2, 1}});
    CTestTree::Props(tree.File(pA, "first.txt", 100))->SetRuns({{1, 1}});
    HandOver(tree);
    TickAll();
    const std::string strOutside = m_Dir.File("outside");
    ASSERT_EQ(0, mkdir(strOutside.c_str(), 0755));
    // An unreadable sector in "inner.txt" gives a message while the run is inside A/C: the
    // callback swaps A for a link then.
    const uint64_t ullBad = kPartitionStart + 2 * kSectorsPerCluster;
    LoadTable("bad 0 " + std::to_string(ullBad) + " " + std::to_string(ullBad + 1) + "\n");
    struct SWAP {
        std::string strA, strOutside;
        MESSAGES Messages;
    } swap{RunPath("Deleted Files/A"), strOutside, {}};
    auto pfn = [](const WCHAR* pszText, int32_t nLevel, void* p) -> int32_t {
        SWAP* s = static_cast<SWAP*>(p);
        if (rvd::Utf16ToUtf8(pszText).find("could not be read") != std::string::npos) {
            EXPECT_EQ(0, rename(s->strA.c_str(), (s->strA + ".moved").c_str()));
            EXPECT_EQ(0, symlink(s->strOutside.c_str(), s->strA.c_str()));
        }
        return CollectMessage(pszText, nLevel, &s->Messages);
    };
    SEARCH_PROGRESS progress{};
    DWORD adwFlags[2] = {0, 0};
    CTestTessary tessary(Access());
    tessary.SetTarget(rvd::Utf8ToUtf16(m_strTarget).c_str(), 0, 0);
    tessary.SetProgressSink(&progress, adwFlags);
    tessary.SetMessageCallback(pfn, &swap);
    EXPECT_EQ(TESSARY_ERR_INCOMPLETE, tessary.Run(TESSARY_RUN_COPY)) << swap.Messages.All();
    EXPECT_TRUE(swap.Messages.Has("Could not make the folder \"Deleted Files/A\"")) << swap.Messages.All();
    EXPECT_TRUE(swap.Messages.Has("1 file could not be recovered")) << swap.Messages.All();
    EXPECT_TRUE(Snapshot(strOutside).empty());
    EXPECT_EQ(ImageBytes(ClusterOffset(1), 100), FileBytes(RunPath("Deleted Files/A.moved/first.txt")));
    EXPECT_FALSE(Exists(RunPath("Deleted Files/A.moved/third.txt")));
}

} // namespace
