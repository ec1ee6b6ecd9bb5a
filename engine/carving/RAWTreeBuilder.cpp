#include "RAWTreeBuilder.h"

#include <algorithm>
#include <cstdio>

#include "CarvingChainMemo.h"
#include "ClusterUseBitMap.h"
#include "EngineSettings.h"
#include "FileNode.h"
#include "FileSystemNode.h"
#include "FileTypeId.h"
#include "GlobalAdvanceSettingData.h"
#include "ProgressRecord.h"
#include "RAWFileProperties.h"
#include "RawFileAnalyserList.h"
#include "RawFileInfo.h"

namespace {

// File-system kind of the root of a tree of carved files.
const int32_t RAW_TREE_FILE_SYSTEM_KIND = 6;

CRAWFileProperties* Properties(CFileNode* pNode)
{
    return static_cast<CRAWFileProperties*>(pNode->GetProperties());
}

// The folder name of a type: its description, else its extension, else its number.
void TypeFolderName(int32_t nType, char (&szName)[80])
{
    if (g_szFileTypeDesc[nType][0] != 0)
        snprintf(szName, sizeof(szName), "%s", g_szFileTypeDesc[nType]);
    else if (g_szFileTypeExt[nType][0] != 0)
        snprintf(szName, sizeof(szName), "%s", g_szFileTypeExt[nType]);
    else
        snprintf(szName, sizeof(szName), "Type %d", nType);
}

} // namespace

CRAWTreeBuilder::CRAWTreeBuilder()
    : m_bBuilt(0), m_bFinished(0), m_pRoot(nullptr), m_FileCounts(FILE_TYPE_TABLE_SIZE, 0),
      m_TypeFolders(FILE_TYPE_TABLE_SIZE, nullptr), m_pDevice(nullptr), m_pIterator(nullptr),
      m_pClusterUse(nullptr), m_nUnused(0), m_pProgress(nullptr), m_pnCancel(nullptr), m_ullFilesAdded(0)
{
}

CRAWTreeBuilder::~CRAWTreeBuilder() {}

void CRAWTreeBuilder::SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
{
    m_pProgress = pProgress;
    m_pnCancel = pnCancel;
}

CFileNode* CRAWTreeBuilder::NewFolder(const char* pszName, bool bRoot)
{
    CFileNode* pNode = bRoot ? CreateFileSystemNode() : CreateFileNode();
    CRAWFileProperties* pProperties = CRAWFileProperties::Create();
    pProperties->SetFileName(pszName);
    pProperties->SetAttributes(FILE_ATTR_DIRECTORY);
    pProperties->SetStatus(RAW_FOLDER_STATUS);
    // Folders hold no data: one run of 0 sectors at the sparse start.
    CRawFileInfo empty;
    empty.SetStartSector(DATA_RUN_SPARSE_START);
    pProperties->SetRawFileInfo(&empty);
    pNode->SetProperties(pProperties);
    return pNode;
}

CFileSystemNode* CRAWTreeBuilder::BuildTree(IStorageDevice* pDevice, IIterator<CRawFileInfo*>* pIterator,
                                            IIsClusterUsed* pClusterUse, int32_t nUnused)
{
    m_pDevice = pDevice;
    m_pIterator = pIterator;
    m_pClusterUse = pClusterUse;
    m_nUnused = nUnused;
    const CGlobalAdvanceSettingData* pSettings = GetEngineSettings();
    if (pSettings->m_bScanRaw == 0 || m_pRoot != nullptr)
        return nullptr;
    const uint64_t ullLimit = GetCarvedSizeLimit();
    const std::vector<int32_t> selected = pSettings->m_vecRawTypes;
    auto IsSelected = [&selected](int32_t nType) {
        return std::find(selected.begin(), selected.end(), nType) != selected.end();
    };

    m_pRoot = static_cast<CFileSystemNode*>(NewFolder("Raw Files", true));
    m_pRoot->SetPartitionInfo(0, 1);
    m_pRoot->SetFileSystemKind(RAW_TREE_FILE_SYSTEM_KIND);
    m_bBuilt = 1;

    uint64_t ullTotal = 0;
    if (m_pProgress != nullptr && pIterator != nullptr) {
        for (pIterator->First(); !pIterator->IsDone(); pIterator->Next()) {
            CRawFileInfo* pRecord = pIterator->CurrentItem();
            if (pRecord != nullptr && (pClusterUse == nullptr || !pClusterUse->IsClusterUsed(pRecord->GetStartSector())))
                ++ullTotal;
        }
        rvd::ProgressSetTitle(m_pProgress, "You have selected to recovery raw files");
        rvd::ProgressSetDetail(m_pProgress, "Building RAW file tree");
        rvd::ProgressStore(&m_pProgress->dwState, DWORD(0));
    }

    const CRawFileAnalyserList& analysers = GetRawFileAnalyserList();
    // The hits measured here on the device share the record chains their length rules walk.
    CCarvingChainSession session(pDevice, CCarvingChainSession::NewKey());
    for (pIterator != nullptr ? pIterator->First() : void(); pIterator != nullptr && !pIterator->IsDone();
         pIterator->Next()) {
        CRawFileInfo* pRecord = pIterator->CurrentItem();
        if (pRecord == nullptr)
            continue;
        const int32_t nType = pRecord->GetType();
        if (!IsFileTypeIndex(nType) || !IsSelected(nType))
            continue;
        if (pClusterUse != nullptr && pClusterUse->IsClusterUsed(pRecord->GetStartSector()))
            continue;
        uint64_t ullSize = pRecord->GetSize();
        if (ullSize == 0) {
            if (pRecord->GetGroup() == -1)
                continue;
            IRawFileAnalyser* pAnalyser = analysers.FindByFileType(pRecord->GetGroup());
            if (pAnalyser == nullptr || pDevice == nullptr)
                continue;
            bool bThrew = false;
            GuardedAnalyzeFileSize(pAnalyser, pRecord, pDevice, &bThrew);
            ullSize = bThrew ? 0 : std::min(pRecord->GetSize(), ullLimit);
            // The container keeps the hit unmeasured, so a later build measures it again.
            pRecord->SetSize(0);
        }
        if (ullSize == 0)
            continue;
        AddFile(pRecord, ullSize);
        if (m_pProgress != nullptr && ullTotal > 0) {
            rvd::ProgressSetPercent(m_pProgress, static_cast<DWORD>(m_ullFilesAdded * 100 / ullTotal));
            ++m_ullFilesAdded;
            if (IsCancelRequested(m_pnCancel))
                break;
        } else {
            ++m_ullFilesAdded;
        }
    }

    FinalNaming();
    m_bFinished = 1;
    if (m_pProgress != nullptr)
        rvd::ProgressSetPercent(m_pProgress, 100);
    CFileSystemNode* pRoot = m_pRoot;
    m_pRoot = nullptr;
    if (pRoot->GetFirstChild() == nullptr) {
        // Nothing to show: no empty "Raw Files" folder in the result.
        delete pRoot->GetProperties();
        DestroyFileSystemNode(pRoot);
        return nullptr;
    }
    return pRoot;
}

void CRAWTreeBuilder::AddFile(const CRawFileInfo* pRecord, uint64_t ullSize)
{
    const int32_t nType = pRecord->GetType();
    char szName[80];
    if (m_TypeFolders[nType] == nullptr) {
        TypeFolderName(nType, szName);
        m_TypeFolders[nType] = m_pRoot->AddChild(NewFolder(szName, false));
    }
    const int32_t nCount = ++m_FileCounts[nType];
    CFileNode* pTypeFolder = m_TypeFolders[nType];
    // The sub-folder of the next range is made when its first file comes, so a count that ends
    // on a multiple of 300 leaves no empty folder behind.
    if (nCount > RAW_FILES_PER_FOLDER && (nCount - 1) % RAW_FILES_PER_FOLDER == 0) {
        snprintf(szName, sizeof(szName), "%d-%d", nCount, nCount + RAW_FILES_PER_FOLDER - 1);
        pTypeFolder->AddChild(NewFolder(szName, false));
    }
    CFileNode* pParent = nCount > RAW_FILES_PER_FOLDER ? pTypeFolder->GetFirstChild() : pTypeFolder;

    CRawFileInfo copy;
    copy.SetStartSector(pRecord->GetStartSector());
    copy.SetSize(ullSize);
    copy.SetType(nType);
    copy.SetGroup(pRecord->GetGroup());
    copy.SetAnalyser(pRecord->GetAnalyser());
    CRAWFileProperties* pProperties = CRAWFileProperties::Create();
    snprintf(szName, sizeof(szName), "FILE%03d.%s", nCount, g_szFileTypeExt[nType]);
    pProperties->SetFileName(szName);
    pProperties->SetAttributes(FILE_ATTR_ARCHIVE);
    pProperties->SetRawFileInfo(&copy);
    CFileNode* pFile = CreateFileNode();
    pFile->SetProperties(pProperties);
    pParent->AddChild(pFile);

    if (nCount == RAW_FILES_PER_FOLDER) {
        // The 300 files move into the sub-folder 1-300 of a new type folder of the same name.
        m_pRoot->RemoveChild(pTypeFolder);
        TypeFolderName(nType, szName);
        CFileNode* pNewFolder = m_pRoot->AddChild(NewFolder(szName, false));
        snprintf(szName, sizeof(szName), "%d-%d", 1, RAW_FILES_PER_FOLDER);
        Properties(pTypeFolder)->SetFileName(szName);
        pNewFolder->AddChild(pTypeFolder);
        m_TypeFolders[nType] = pNewFolder;
    }
}

void CRAWTreeBuilder::FinalNaming()
{
    for (int32_t nType = 0; nType < FILE_TYPE_TABLE_SIZE; ++nType) {
        const int32_t nCount = m_FileCounts[nType];
        if (nCount <= RAW_FILES_PER_FOLDER || m_TypeFolders[nType] == nullptr)
            continue;
        CFileNode* pNewest = m_TypeFolders[nType]->GetFirstChild();
        if (pNewest == nullptr)
            continue;
        char szName[80];
        snprintf(szName, sizeof(szName), "%d-%d", (nCount - 1) / RAW_FILES_PER_FOLDER * RAW_FILES_PER_FOLDER + 1, nCount);
        Properties(pNewest)->SetFileName(szName);
    }
}
