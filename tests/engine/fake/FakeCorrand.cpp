#include "FakeCorrand.h"

#include <cstring>

#include "FileNode.h"
#include "FileProperties.h"
#include "FileSystemNode.h"
#include "ICorrand.h"

namespace {

FAKE_CORRAND_STATE g_State;

class CFakeCorrand : public ICorrand {
public:
    int32_t AddPartition(const PARTITION_INFO_EX* pPartition, int32_t nIndex, int32_t bIsFirst) override
    {
        FAKE_PARTITION_CALL call;
        memcpy(&call.Record, pPartition, sizeof(call.Record));
        call.nIndex = nIndex;
        call.bIsFirst = bIsFirst;
        g_State.Partitions.push_back(call);
        m_bPartitionPending = true;
        return 0;
    }

    int32_t AddFileTree(CFileSystemNode* pRoot) override
    {
        if (!m_bPartitionPending)
            ++g_State.nTreesWithoutPartition;
        m_bPartitionPending = false;
        FAKE_TREE tree;
        if (pRoot != nullptr) {
            tree.strDescription = pRoot->GetDescription() != nullptr ? pRoot->GetDescription() : "";
            tree.nFileSystemKind = pRoot->GetFileSystemKind();
            pRoot->GetPartitionInfo(&tree.ullStartSector, &tree.nSecondValue);
            uint8_t abyExtra[FILE_SYSTEM_EXTRA_BLOCK_SIZE];
            pRoot->GetExtraBlock(abyExtra);
            memcpy(&tree.nExtraWord1, abyExtra + 4, 4);
            if (IFileProperties* pProps = pRoot->GetProperties()) {
                tree.nRootPropertiesKind = pProps->GetPropertiesKind();
                tree.nRootValidMask = pProps->GetValidPropertyMask();
            }
            Walk(pRoot, tree);
        }
        g_State.Trees.push_back(tree);
        return 0;
    }

    int32_t GetPartitionCount(int32_t* pnCount) override
    {
        *pnCount = static_cast<int32_t>(g_State.Partitions.size());
        return 0;
    }
    int32_t BeginEnumFiles(DWORD, FILE_INFO_EX**, int32_t*, int32_t, DWORD) override { return 1; }
    int32_t BeginSearchFiles(const SEARCH_CONDITION*, FILE_INFO_EX**, int32_t*, int32_t) override { return 1; }
    int32_t GetNextFiles(FILE_INFO_EX**, int32_t*) override { return 1; }
    int32_t EndEnumFiles() override { return 0; }
    int32_t GetPartitionInfo(PARTITION_INFO_EX*, int32_t) override { return 1; }
    int32_t SetCheckState(DWORD, int32_t, int32_t, int32_t, DWORD) override { return 0; }
    int32_t StopEnumeration() override { return 0; }
    uint64_t GetCheckedSize(DWORD, int32_t, DWORD) override { return 0; }
    int32_t ClearCheckStates() override { return 0; }
    int32_t CloseResult() override { return 0; }
    int32_t BeginPreview(int32_t*) override { return 1; }
    int32_t GetFileInfo(DWORD, FILE_DETAIL_INFO**, DWORD) override { return 0; }
    int32_t EndPreview() override { return 0; }

private:
    // Reads every node's properties, as a real store copies them: a node whose properties were
    // already freed shows up here under a memory checker. Pre-order, without recursion.
    static void Walk(CFileNode* pRoot, FAKE_TREE& tree)
    {
        std::vector<std::pair<CFileNode*, int64_t>> stack = {{pRoot, -1}};
        while (!stack.empty()) {
            CFileNode* pNode = stack.back().first;
            const int64_t nParent = stack.back().second;
            stack.pop_back();
            FAKE_TREE_NODE node;
            IFileProperties* pProps = pNode->GetProperties();
            node.strName = pProps != nullptr && pProps->GetName() != nullptr ? pProps->GetName() : "";
            node.nParent = nParent;
            node.pProperties = pProps;
            node.nAttributes = pProps != nullptr ? pProps->GetAttributes() : 0;
            node.bFileSystemNode = pNode->IsFileSystemNode() != FALSE;
            if (pProps != nullptr)
                CopyProperties(pProps, node);
            tree.Nodes.push_back(node);
            const int64_t nSelf = static_cast<int64_t>(tree.Nodes.size() - 1);
            std::vector<CFileNode*> children;
            for (CFileNode* pChild = pNode->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling())
                children.push_back(pChild);
            for (size_t i = children.size(); i-- > 0;)
                stack.push_back({children[i], nSelf});
        }
    }

    // Only what the headers give inline or through virtual calls: the fake links no engine code.
    static void CopyProperties(IFileProperties* pProps, FAKE_TREE_NODE& node)
    {
        node.ullSize = pProps->GetSize();
        node.nStatus = pProps->GetStatus();
        node.nPropertiesKind = pProps->GetPropertiesKind();
        FILETIME modification{0};
        pProps->GetModificationTime(&modification);
        node.ullModificationTime = modification.qwTicks;
        if (IDataRunList* pRuns = pProps->GetDataRunList()) {
            node.nRunListType = pRuns->GetType();
            node.nResidentValue = pRuns->GetResidentValue();
            for (size_t i = 0; i < pRuns->GetRunCount(); ++i)
                node.Runs.emplace_back(pRuns->GetRun(i).ullStart, pRuns->GetRun(i).ullLength);
            delete pRuns;
        }
    }

    bool m_bPartitionPending = false;
};

} // namespace

extern "C" __attribute__((visibility("default"))) void* CreateInstance()
{
    static CFakeCorrand s_Store;
    ++g_State.nCreateInstanceCalls;
    return static_cast<ICorrand*>(&s_Store);
}

extern "C" __attribute__((visibility("default"))) FAKE_CORRAND_STATE* FakeCorrandState()
{
    return &g_State;
}
