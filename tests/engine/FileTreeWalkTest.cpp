// The one breadth-first walk over a found-file tree: its order, a walk that descends only into
// the children it is told to, children deleted under the node the walk holds, and a tree too deep
// for any recursion.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FileTreeWalk.h"
#include "ModelTestSupport.h"

namespace {

std::string NameOf(CFileNode* pNode)
{
    return pNode->GetProperties() != nullptr ? TestProps(pNode)->m_strName : "<root>";
}

bool IsTestFolder(CFileNode* pNode)
{
    return pNode->GetProperties() != nullptr && (pNode->GetProperties()->GetAttributes() & FILE_ATTR_DIRECTORY) != 0;
}

// root { a { a1, a2 { a21 } }, b, c { c1 } }; AddChild links at the front, so children are
// added last first.
CFileNode* SmallTree()
{
    CFileNode* pRoot = CreateFileNode();
    CFileNode* pC = AddTestFolder(pRoot, "c");
    AddTestFile(pC, "c1", 1);
    AddTestFile(pRoot, "b", 1);
    CFileNode* pA = AddTestFolder(pRoot, "a");
    CFileNode* pA2 = AddTestFolder(pA, "a2");
    AddTestFile(pA2, "a21", 1);
    AddTestFile(pA, "a1", 1);
    return pRoot;
}

std::vector<std::string> Walked(CFileTreeWalk& walk)
{
    std::vector<std::string> names;
    for (CFileNode* pNode = walk.Next(); pNode != nullptr; pNode = walk.Next())
        names.push_back(NameOf(pNode));
    return names;
}

} // namespace

TEST(FileTreeWalk, LevelByLevelInListOrder)
{
    CFileNode* pRoot = SmallTree();
    CFileTreeWalk all(pRoot);
    EXPECT_EQ(Walked(all), (std::vector<std::string>{"<root>", "a", "b", "c", "a1", "a2", "c1", "a21"}));
    EXPECT_EQ(all.Next(), nullptr);

    CFileTreeWalk folders(pRoot, IsTestFolder);
    EXPECT_EQ(Walked(folders), (std::vector<std::string>{"<root>", "a", "c", "a2"}));

    std::vector<std::string> listed;
    for (CFileNode* pNode : ListFileTree(pRoot))
        listed.push_back(NameOf(pNode));
    EXPECT_EQ(listed, (std::vector<std::string>{"<root>", "a", "b", "c", "a1", "a2", "c1", "a21"}));

    CFileTreeWalk none(nullptr);
    EXPECT_EQ(none.Next(), nullptr);
    EXPECT_TRUE(ListFileTree(nullptr).empty());
    FreeTestTree(pRoot);
}

TEST(FileTreeWalk, ChildrenOfTheHeldNodeMayBeDeletedAndPendingCountsTheQueue)
{
    CFileNode* pRoot = SmallTree();
    CFileTreeWalk walk(pRoot);
    std::vector<std::string> names;
    std::vector<size_t> pending;
    for (CFileNode* pNode = walk.Next(); pNode != nullptr; pNode = walk.Next()) {
        names.push_back(NameOf(pNode));
        pending.push_back(walk.GetPending());
        if (NameOf(pNode) != "a")
            continue;
        // Folder a loses a2 (and a21 below it) while the walk holds a.
        for (CFileNode* pChild = pNode->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling()) {
            if (NameOf(pChild) == "a2") {
                pNode->RemoveChild(pChild);
                FreeTestTree(pChild);
                break;
            }
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"<root>", "a", "b", "c", "a1", "c1"}));
    EXPECT_EQ(pending, (std::vector<size_t>{0, 2, 2, 1, 1, 0}));
    FreeTestTree(pRoot);
}

TEST(FileTreeWalk, ADeepChainIsWalkedWithoutRecursion)
{
    const size_t kDepth = 200000;
    CFileNode* pRoot = CreateFileNode();
    CFileNode* pNode = pRoot;
    for (size_t i = 0; i < kDepth; ++i)
        pNode = AddTestFolder(pNode, "d");
    size_t nVisited = 0;
    ForEachFileNode(pRoot, [&nVisited](CFileNode*) { ++nVisited; });
    EXPECT_EQ(nVisited, kDepth + 1);
    FreeTestTree(pRoot);
}
