// The "Deleted Files" tree derived from every result: files under the folders that lead to them,
// empty folders dropped, the found tree's properties handed on and freed once.
#include <map>

#include "DelvarTestSupport.h"

using namespace delvartest;

namespace {

class DelvarDeletedFiles : public CDelvarTest {};

TEST_F(DelvarDeletedFiles, KeepsFilesUnderTheirFoldersAndDropsEmptyFolders)
{
    CTestDelvar engine;
    std::map<std::string, const IFileProperties*> sourceProps;
    engine.FatReader = [&](IStorageDevice*, bool) {
        CFileSystemNode* pRoot = MakeRoot(1, 63, 8, "MYDISK");
        // Children are linked at the front, so each folder lists them in reverse order.
        AddFile(pRoot, "a.txt");
        AddFolder(pRoot, "empty");
        AddFolder(AddFolder(pRoot, "nest"), "inner");
        CFileNode* pDocs = AddFolder(pRoot, "docs");
        CFileNode* pSub = AddFolder(pDocs, "sub");
        AddFolder(pSub, "emptysub");
        AddFile(pSub, "deep.doc");
        AddFile(pDocs, "b.txt");
        AddFile(pRoot, "z.txt");
        for (CFileNode* pNode : {static_cast<CFileNode*>(pRoot), pDocs, pSub})
            for (CFileNode* pChild = pNode->GetFirstChild(); pChild; pChild = pChild->GetNextSibling())
                sourceProps[pChild->GetProperties()->GetName()] = pChild->GetProperties();
        return pRoot;
    };
    const PARTITION_INFO_EX record = VolumeRecord(1);
    ASSERT_EQ(DELVAR_SUCCESS, engine.Init(nullptr, &record, SCAN_MODE_QUICK, 0));
    ASSERT_EQ(DELVAR_SUCCESS, engine.Search());

    ASSERT_EQ(1u, FakeStore()->Trees.size());
    const FAKE_TREE& tree = FakeStore()->Trees[0];
    EXPECT_EQ("MYDISK", tree.strDescription);
    EXPECT_EQ(1, tree.nFileSystemKind);
    EXPECT_EQ(63u, tree.ullStartSector);
    EXPECT_EQ(8, tree.nSecondValue);
    EXPECT_EQ(2u, tree.nExtraWord1);
    EXPECT_EQ(3, tree.nRootPropertiesKind);
    EXPECT_EQ(0x1C7, tree.nRootValidMask);

    // Copies are linked at the front too: the derived tree lists each folder in the order the
    // builder added its entries.
    std::vector<std::string> paths;
    for (size_t i = 0; i < tree.Nodes.size(); ++i)
        paths.push_back(FakeNodePath(tree, i));
    const std::vector<std::string> expected = {
        "Deleted Files",          "Deleted Files/a.txt",
        "Deleted Files/docs",     "Deleted Files/docs/sub",
        "Deleted Files/docs/sub/deep.doc", "Deleted Files/docs/b.txt",
        "Deleted Files/z.txt",
    };
    EXPECT_EQ(expected, paths);
    EXPECT_EQ(FILE_ATTR_DIRECTORY, tree.Nodes[0].nAttributes);
    for (size_t i = 1; i < tree.Nodes.size(); ++i) {
        const std::string& strName = tree.Nodes[i].strName;
        EXPECT_EQ(sourceProps[strName], tree.Nodes[i].pProperties) << strName << " shares its properties";
    }
    // TearDown checks that every properties object was freed exactly once.
}

TEST_F(DelvarDeletedFiles, NodesThatRootAFileSystemOfTheirOwnBecomePlainNodes)
{
    // A reader may hang another file system's root below its own; in the derived tree it is a
    // folder (or file) like any other, and the nodes left behind are freed with their properties.
    CTestDelvar engine;
    std::map<std::string, const IFileProperties*> sourceProps;
    engine.NtfsReader = [&](IStorageDevice*) {
        CFileSystemNode* pRoot = MakeRoot(3, 0, 8, "OUTER");
        CFileSystemNode* pInner = CreateFileSystemNode();
        pInner->SetProperties(new CCountedProperties("inner", FILE_ATTR_DIRECTORY));
        pInner->SetFileSystemKind(1);
        pRoot->AddChild(pInner);
        AddFile(pInner, "x.bin");
        AddFolder(pInner, "void");
        CFileSystemNode* pLeaf = CreateFileSystemNode();
        pLeaf->SetProperties(new CCountedProperties("leaf.bin", FILE_ATTR_ARCHIVE, 7));
        pRoot->AddChild(pLeaf);
        CFileSystemNode* pEmpty = CreateFileSystemNode();
        pEmpty->SetProperties(new CCountedProperties("emptyfs", FILE_ATTR_DIRECTORY));
        pRoot->AddChild(pEmpty);
        AddFolder(pEmpty, "nothing");
        for (CFileNode* pNode : {static_cast<CFileNode*>(pRoot), static_cast<CFileNode*>(pInner)})
            for (CFileNode* pChild = pNode->GetFirstChild(); pChild; pChild = pChild->GetNextSibling())
                sourceProps[pChild->GetProperties()->GetName()] = pChild->GetProperties();
        return pRoot;
    };
    const PARTITION_INFO_EX record = VolumeRecord(3);
    ASSERT_EQ(DELVAR_SUCCESS, engine.Init(nullptr, &record, SCAN_MODE_QUICK, 0));
    ASSERT_EQ(DELVAR_SUCCESS, engine.Search());

    ASSERT_EQ(1u, FakeStore()->Trees.size());
    const FAKE_TREE& tree = FakeStore()->Trees[0];
    std::vector<std::string> paths;
    for (size_t i = 0; i < tree.Nodes.size(); ++i)
        paths.push_back(FakeNodePath(tree, i));
    const std::vector<std::string> expected = {
        "Deleted Files", "Deleted Files/inner", "Deleted Files/inner/x.bin", "Deleted Files/leaf.bin"};
    EXPECT_EQ(expected, paths);
    EXPECT_TRUE(tree.Nodes[0].bFileSystemNode);
    for (size_t i = 1; i < tree.Nodes.size(); ++i) {
        EXPECT_FALSE(tree.Nodes[i].bFileSystemNode) << tree.Nodes[i].strName;
        EXPECT_EQ(sourceProps[tree.Nodes[i].strName], tree.Nodes[i].pProperties) << tree.Nodes[i].strName;
    }
    // TearDown checks that every properties object was freed exactly once.
}

TEST_F(DelvarDeletedFiles, ATreeOfEmptyFoldersGivesAnEmptyDeletedFilesRoot)
{
    CTestDelvar engine;
    engine.Ext2Reader = [](IStorageDevice*) {
        CFileSystemNode* pRoot = MakeRoot(5, 0, 2, nullptr);
        AddFolder(AddFolder(AddFolder(pRoot, "a"), "b"), "c");
        AddFolder(pRoot, "lost+found");
        return pRoot;
    };
    const PARTITION_INFO_EX record = VolumeRecord(5);
    ASSERT_EQ(DELVAR_SUCCESS, engine.Init(nullptr, &record, SCAN_MODE_QUICK, 0));
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search()) << "a tree was built, even if nothing in it was deleted";
    ASSERT_EQ(1u, FakeStore()->Trees.size());
    ASSERT_EQ(1u, FakeStore()->Trees[0].Nodes.size());
    EXPECT_EQ("Deleted Files", FakeStore()->Trees[0].Nodes[0].strName);
    EXPECT_EQ("", FakeStore()->Trees[0].strDescription);
    EXPECT_EQ(5, FakeStore()->Trees[0].nFileSystemKind);
}

TEST_F(DelvarDeletedFiles, DeepTreesAreCopiedAndFreedWithoutRecursion)
{
    CTestDelvar engine;
    const int kDepth = 200000;
    engine.NtfsReader = [&](IStorageDevice*) {
        CFileSystemNode* pRoot = MakeRoot(3);
        CFileNode* pNode = pRoot;
        for (int i = 0; i < kDepth; ++i)
            pNode = AddFolder(pNode, "d");
        AddFile(pNode, "bottom.bin");
        return pRoot;
    };
    const PARTITION_INFO_EX record = VolumeRecord(3);
    ASSERT_EQ(DELVAR_SUCCESS, engine.Init(nullptr, &record, SCAN_MODE_QUICK, 0));
    EXPECT_EQ(DELVAR_SUCCESS, engine.Search());
}

} // namespace
