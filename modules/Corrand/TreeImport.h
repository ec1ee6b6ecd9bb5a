// Copies one "Deleted Files" tree of the engine into the store during AddFileTree: the engine
// frees the tree as soon as the call returns, so names, sizes, times, attributes, status and the
// files' runs (in sectors of the scanned device) are all taken now.
//
// The tree comes from a reader of damaged disks, so its links are not trusted: a node is taken
// only from the child list of the node its own parent link names (a node linked into a second
// list, a list that leads back to an ancestor or to the root, is left out there), a child list
// that loops back on itself is cut where the loop closes, and any depth is walked without
// recursion. A node with children is a folder whatever its attributes say.
#pragma once

#include <cstdint>

#include "ResultDatabase.h"
#include "RunConversion.h"

class CFileNode;

namespace corrand {

struct TREE_IMPORT_RESULT {
    uint32_t nRecords = 0;      // records stored below the volume's top
    uint32_t nFolders = 0;
    uint32_t nFiles = 0;
    uint32_t nLeftOut = 0;      // links to nodes that are not the linking node's children
    bool bListLoop = false;     // a child list led back to one of its own nodes
    bool bTruncated = false;    // the tree had more nodes than record numbers
    uint32_t nDamagedRuns = 0;  // files with a run that could not be placed on the disk
    int nSqlCode = SQLITE_OK;   // the database error that stopped the copy
};

// Copies the tree of pRoot (record 1) under the existing top row (record 0) of dwVolume and
// fills in the top's subtree totals. Runs inside the caller's transaction; false when the
// database refused a row (the caller rolls back).
bool ImportTree(CResultDatabase& db, CFileNode* pRoot, uint32_t dwVolume, const RUN_GEOMETRY& geometry,
                TREE_IMPORT_RESULT* pResult);

// Largest record number the store hands out; keeps record + 1 inside 32 bits.
const uint32_t MAX_RECORD_NUMBER = 0xFFFFFF00u;

} // namespace corrand
