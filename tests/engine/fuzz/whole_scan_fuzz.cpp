// Fuzz target for the complete scan as a whole: the input, repeated over an 8 MiB disk, is scanned
// by the FAT, NTFS, EXT2/EXT3 and carving controllers together, sharing one carved-file container
// and reading in runs of an odd size; the candidates of all of them are scored, ordered and
// selected as the scan does, the trees of the first selected ones are built through the
// controller that claims each, and the tree of the carved files last. Whatever the bytes,
// everything ends, every tree is finite and well linked, and nothing reads outside its data.
#include <cstddef>
#include <cstdint>

#include "Delvar.h"
#include "EngineSettings.h"
#include "FuzzDisk.h"
#include "FuzzTree.h"
#include "GlobalAdvanceSettingData.h"
#include "IntelligentSearchController.h"
#include "RAWSearchController.h"
#include "RawFileInfo.h"
#include "SearchStatistics.h"
#include "ext2/Ext2SearchController.h"
#include "fat/FATSearchController.h"
#include "ntfs/NTFSSearchController.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const uint64_t kSectors = 16384;
    const uint64_t kRead = 1001;
    CGlobalAdvanceSettingData* pSettings = GetEngineSettings();
    pSettings->m_llRawFileSize = 1 << 16;
    pSettings->m_vecRawTypes = {33, 47, 50, 51, 60, 32, 66};
    CFuzzDisk disk(pData, nSize, kSectors);
    CRawFileInfoContainer raw;
    CFATSearchController fat;
    CNTFSSearchController ntfs;
    CEXT2SearchController ext2;
    CRAWSearchController carving;
    const CSearchControllerList controllers = {&fat, &ntfs, &ext2, &carving};
    GiveRawFileInfoContainer(controllers, &raw);
    CANCEL_FLAG cancel(0);
    SEARCH_PROGRESS progress{};
    SEARCH_STATISTICS statistics{};
    for (IFileSystemSearchController* p : controllers) {
        p->SetStorageDevice(&disk);
        p->SetSectorsPerRead(static_cast<int32_t>(kRead));
        p->SetProgress(&progress, &cancel);
        p->BeginSearch();
    }
    for (uint64_t s = 0; s < kSectors; s += kRead) {
        for (IFileSystemSearchController* p : controllers)
            p->SearchSectors(s, kSectors - s < kRead ? kSectors - s : kRead, &statistics);
    }
    CSearchedPartitionInfoList candidates;
    for (IFileSystemSearchController* p : controllers) {
        p->EndSearch();
        p->CollectSearchedPartitions(&candidates);
    }
    ScoreCandidates(candidates);
    SortCandidatesByScore(candidates);
    SelectCandidates(candidates, kSectors);
    int nBuilt = 0;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i]->m_nSelected != 0 && nBuilt++ < 3)
            CheckAndFreeTree(BuildCandidateTree(controllers, candidates[i], &disk, static_cast<int32_t>(i), 0,
                                                &progress, &cancel),
                             kSectors * 32 + 16);
        delete candidates[i];
    }
    CheckAndFreeTree(BuildRawFileTreeFromContainer(&raw, &disk), kSectors * 32 + 16);
    return 0;
}
