// A stand-in result store for the engine's facade tests: built as its own libCorrand.so in a
// folder of its own, found by the engine's loader through RAVENDO_MODULE_DIR, and recording
// every partition and tree it is given. A test reads the record through FakeCorrandState(),
// exported beside CreateInstance.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "DiskInfo.h"

class IFileProperties;

// One node of a tree as the store saw it during AddFileTree (pre-order, child-list order).
struct FAKE_TREE_NODE {
    std::string strName;
    int64_t nParent;                 // index of the parent node; -1 for the root
    const IFileProperties* pProperties;
    uint16_t nAttributes;
    // Copied during AddFileTree, as a real store copies them (the tree is freed right after).
    uint64_t ullSize = 0;
    uint8_t nStatus = 0;
    int32_t nPropertiesKind = -1;
    uint64_t ullModificationTime = 0;
    int32_t nRunListType = -1;                         // -1: the properties gave no run list
    std::vector<std::pair<uint64_t, uint64_t>> Runs;   // (start, length) in the file system's units
    int32_t nResidentValue = 0;                        // resident NTFS data: its offset in the FILE record
    bool bFileSystemNode = false;                      // the node answers for a file system of its own
};

struct FAKE_TREE {
    std::vector<FAKE_TREE_NODE> Nodes;
    std::string strDescription;      // the root's description ("" when none)
    int32_t nFileSystemKind = -1;
    uint64_t ullStartSector = 0;
    int32_t nSecondValue = 0;
    uint32_t nExtraWord1 = 0;        // second 32-bit word of the root's extra block
    int32_t nRootPropertiesKind = -1;
    int32_t nRootValidMask = 0;
};

struct FAKE_PARTITION_CALL {
    PARTITION_INFO_EX Record;
    int32_t nIndex;
    int32_t bIsFirst;
};

struct FAKE_CORRAND_STATE {
    int nCreateInstanceCalls = 0;
    std::vector<FAKE_PARTITION_CALL> Partitions;
    std::vector<FAKE_TREE> Trees;
    // AddFileTree calls that did not follow an AddPartition.
    int nTreesWithoutPartition = 0;

    void Clear()
    {
        Partitions.clear();
        Trees.clear();
        nTreesWithoutPartition = 0;
    }
};

typedef FAKE_CORRAND_STATE* (*PFN_FAKE_CORRAND_STATE)();

// Names from the root to node nIndex, joined with '/'.
inline std::string FakeNodePath(const FAKE_TREE& tree, size_t nIndex)
{
    std::string strPath = tree.Nodes[nIndex].strName;
    for (int64_t n = tree.Nodes[nIndex].nParent; n >= 0; n = tree.Nodes[static_cast<size_t>(n)].nParent)
        strPath = tree.Nodes[static_cast<size_t>(n)].strName + "/" + strPath;
    return strPath;
}
