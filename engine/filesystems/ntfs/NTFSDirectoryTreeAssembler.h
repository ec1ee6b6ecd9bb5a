// Turns the FILE records an NTFS tree builder kept into folders: from the root folder (record 5)
// down, each record goes below the folder its name points to; what no walk from the root reaches
// is gathered by the folders that are left and, at the end, in a "LostFiles<n>" folder. Used by
// the quick build of an existing volume and by the tree of a partition found by a scan.
//
// Each node made here carries the item it came from as extra data while the build runs; the
// items stay owned by their record set (or by the caller), the properties pass to the nodes.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "CancelFlag.h"
#include "EngineMemory.h"
#include "SearchProgress.h"

class CFileNode;
class CFileSystemNode;
class CMFTFileRecordSet;
class CNTFSFileRecordItem;

// Items ordered by the number of the folder they name; items with one parent stay in the order
// they were put in.
typedef std::multimap<uint64_t, CNTFSFileRecordItem*, std::less<uint64_t>,
                      CEngineAllocator<std::pair<const uint64_t, CNTFSFileRecordItem*>>>
    CNTFSItemsByParent;

// The lost-files folders of one build are numbered from 1; each build starts the count again.
void ResetNTFSLostFilesCounter();

class CNTFSDirectoryTreeAssembler : public CEngineObject {
public:
    // pProgress and pnCancel may be null; nTotal is the progress total (items to place).
    CNTFSDirectoryTreeAssembler(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel, uint32_t nTotal);
    CNTFSDirectoryTreeAssembler(const CNTFSDirectoryTreeAssembler&) = delete;
    CNTFSDirectoryTreeAssembler& operator=(const CNTFSDirectoryTreeAssembler&) = delete;

    // Places the set's items below its temporary root, the unreached ones in a lost-files folder
    // there, and returns that root. A folder item without a record number is numbered through
    // the set's $MFT copy (ullPartitionStart: the sector its clusters count from). On cancel the
    // placing stops ("Canceling..." as the title) and what was placed so far stays.
    CFileNode* Assemble(CMFTFileRecordSet* pSet, uint64_t ullPartitionStart);
    // The lost-files step over items left by a walk (or never walked): the folders among them
    // (record number above 24) adopt the items that name them, the rest go to a new
    // "LostFiles<n>" folder, which is returned; null when nothing is left or on cancel. With
    // pRootFolder, what is left naming the root folder (record 5) goes there instead.
    CFileNode* BuildLostFiles(CNTFSItemsByParent& items, CFileNode* pRootFolder = nullptr);

    bool WasCancelled() const { return m_bCancelled; }

private:
    bool CheckCancel();
    void StepProgress();

    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pnCancel;
    uint32_t m_nTotal;
    uint32_t m_nCount;
    bool m_bCancelled;
};

// A node for an item with properties: the properties pass to the node, the item becomes its
// extra data. Null for an item without properties.
CFileNode* CreateNTFSItemNode(CNTFSFileRecordItem* pItem);

// The root of a volume's tree: properties named "<nVolumeNumber + 1> NTFS", a folder; the
// partition start and cluster size; file-system kind NTFS; the label as the description when it
// is not empty and at most 64 characters long.
CFileSystemNode* CreateNTFSVolumeRoot(uint64_t ullStartSector, int32_t nSectorsPerCluster, int32_t nVolumeNumber,
                                      const char* pszLabel);

// Moves every child of pFrom to pTo.
void MoveNTFSChildren(CFileNode* pFrom, CFileNode* pTo);
// Clears the extra data of every node below pRoot (the items it pointed to are about to go).
void ClearNTFSItemLinks(CFileNode* pRoot);
