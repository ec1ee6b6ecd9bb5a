// Builds the tree of carved files: a root "Raw Files", one folder per file type named by the
// type's description, and in it the carved files FILE001.JPG, FILE002.JPG, ... From a type's
// 300th file on, its folder holds numbered sub-folders of 300 files each (1-300, 301-600, ...,
// the newest first). Hits whose length is still unknown are measured here through the real
// device; hits inside clusters that a file-system reader found in use, and types the user did not
// select, are left out.
#pragma once

#include <cstdint>
#include <vector>

#include "CancelFlag.h"
#include "EngineMemory.h"
#include "Iterator.h"

class CFileNode;
class CFileSystemNode;
class CRawFileInfo;
class IIsClusterUsed;
class IStorageDevice;
struct SEARCH_PROGRESS;

// Files per numbered sub-folder.
const int32_t RAW_FILES_PER_FOLDER = 300;

class CRAWTreeBuilder {
public:
    CRAWTreeBuilder();
    ~CRAWTreeBuilder();
    CRAWTreeBuilder(const CRAWTreeBuilder&) = delete;
    CRAWTreeBuilder& operator=(const CRAWTreeBuilder&) = delete;

    // Progress record and cancel flag of the build; without them the build reports nothing and
    // cannot be cancelled.
    void SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel);
    // The root of the tree (the caller owns it), or null when carving is switched off or no
    // carved file is left to show. pClusterUse may be null; nUnused is not read.
    CFileSystemNode* BuildTree(IStorageDevice* pDevice, IIterator<CRawFileInfo*>* pIterator,
                               IIsClusterUsed* pClusterUse, int32_t nUnused);

private:
    CFileNode* NewFolder(const char* pszName, bool bRoot);
    void AddFile(const CRawFileInfo* pRecord, uint64_t ullSize);
    void FinalNaming();

    int32_t m_bBuilt;
    int32_t m_bFinished;
    CFileSystemNode* m_pRoot;
    std::vector<int32_t, CEngineAllocator<int32_t>> m_FileCounts;
    std::vector<CFileNode*, CEngineAllocator<CFileNode*>> m_TypeFolders;
    IStorageDevice* m_pDevice;
    IIterator<CRawFileInfo*>* m_pIterator;
    IIsClusterUsed* m_pClusterUse;
    int32_t m_nUnused;
    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pnCancel;
    uint64_t m_ullFilesAdded;
};
