// Trees built with the engine's own node, properties and run-list classes, the records the
// engine hands over with them, and small loops over the store's batch interface.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DataRunList.h"
#include "DiskInfo.h"
#include "FileInfo.h"
#include "FileNode.h"
#include "FileProperties.h"
#include "FileSystemNode.h"
#include "ICorrand.h"
#include "PackedDataRuns.h"
#include "ResultStore.h"
#include "TestSupport.h"

namespace corrandtest {

// Properties as a reader would fill them: kind, times and runs kept packed, as every reader
// keeps them.
class CStoreTestProperties : public IFileProperties {
public:
    CStoreTestProperties(const std::string& strName, uint64_t ullSize, uint16_t wAttributes, int32_t nKind)
        : m_strName(strName), m_ullSize(ullSize), m_wAttributes(wAttributes), m_nKind(nKind)
    {
    }
    ~CStoreTestProperties() override { delete m_pPacked; }

    int32_t GetNameLength() override { return static_cast<int32_t>(m_strName.size()); }
    const char* GetName() override { return m_strName.c_str(); }
    uint64_t GetSize() override { return m_ullSize; }
    uint16_t GetAttributes() override { return m_wAttributes; }
    void GetCreationTime(FILETIME* p) override { p->qwTicks = m_aullTimes[0]; }
    void GetModificationTime(FILETIME* p) override { p->qwTicks = m_aullTimes[1]; }
    void GetAccessTime(FILETIME* p) override { p->qwTicks = m_aullTimes[2]; }
    uint8_t GetStatus() override { return m_byStatus; }
    uint8_t GetCheckState() override { return 0; }
    void SetCheckState(uint8_t) override {}
    IDataRunList* GetDataRunList() override { return m_pPacked != nullptr ? m_pPacked->CreateDataRunList() : nullptr; }
    int32_t GetValidPropertyMask() override { return 0xFF; }
    uint8_t GetFlag() override { return 0; }
    int32_t SetFlag(uint8_t) override { return 0; }
    BOOL Save(IDataStream*) override { return FALSE; }
    int32_t GetPropertiesKind() override { return m_nKind; }
    BOOL Load(IDataStream*) override { return FALSE; }
    int32_t GetReservedValue() override { return 0; }

    // Runs in the file system's own units; DATA_RUN_SPARSE_START marks a sparse run.
    void SetRuns(std::initializer_list<DATA_RUN> runs)
    {
        CNoneResidentNTFSDataRunList list;
        for (const DATA_RUN& run : runs)
            list.AddRun(run);
        delete m_pPacked;
        m_pPacked = PackDataRunList(&list);
    }
    // Resident NTFS data: the FILE record's sector on the device and the data's offset in it.
    // ullLength: 1 for NTFS; for EXT4 inline data, the inode record's bytes.
    void SetResident(uint64_t ullRecordSector, int32_t nOffset, uint64_t ullLength = 1)
    {
        CResidentNTFSDataRunList list;
        list.SetResidentRun(ullRecordSector, ullLength, nOffset);
        delete m_pPacked;
        m_pPacked = PackDataRunList(&list);
    }
    void SetTimes(uint64_t ullCreation, uint64_t ullModification, uint64_t ullAccess)
    {
        m_aullTimes[0] = ullCreation;
        m_aullTimes[1] = ullModification;
        m_aullTimes[2] = ullAccess;
    }

    std::string m_strName;
    uint64_t m_ullSize;
    uint16_t m_wAttributes;
    int32_t m_nKind;
    uint8_t m_byStatus = 1;
    uint64_t m_aullTimes[3] = {0, 0, 0};
    PACKED_DATA_RUNS* m_pPacked = nullptr;
};

// A "Deleted Files" tree as the engine hands it over. Every node and properties object made
// here is freed by the destructor, however a test has relinked them.
class CTestTree {
public:
    explicit CTestTree(uint64_t ullRootStart = 0, int32_t nSectorsPerUnit = 8, int32_t nFileSystem = FILE_SYSTEM_NTFS)
    {
        m_pRoot = CreateFileSystemNode();
        m_vecNodes.push_back(m_pRoot);
        m_pRoot->SetProperties(NewProperties("Deleted Files", 0, 0x10, PROPERTIES_KIND_RAW));
        m_pRoot->SetPartitionInfo(ullRootStart, nSectorsPerUnit);
        m_pRoot->SetFileSystemKind(nFileSystem);
    }
    ~CTestTree()
    {
        for (CFileNode* pNode : m_vecNodes)
            DestroyFileNode(pNode);
        for (IFileProperties* pProperties : m_vecProperties)
            delete pProperties;
    }
    CTestTree(const CTestTree&) = delete;
    CTestTree& operator=(const CTestTree&) = delete;

    CFileSystemNode* Root() const { return m_pRoot; }

    CFileNode* Folder(CFileNode* pParent, const std::string& strName, int32_t nKind = PROPERTIES_KIND_NTFS)
    {
        return Add(pParent, NewProperties(strName, 0, 0x10, nKind));
    }
    CFileNode* File(CFileNode* pParent, const std::string& strName, uint64_t ullSize,
                    int32_t nKind = PROPERTIES_KIND_NTFS)
    {
        return Add(pParent, NewProperties(strName, ullSize, 0x20, nKind));
    }
    // A node without properties.
    CFileNode* Bare(CFileNode* pParent)
    {
        CFileNode* pNode = CreateFileNode();
        m_vecNodes.push_back(pNode);
        return pParent != nullptr ? pParent->AddChild(pNode) : pNode;
    }
    static CStoreTestProperties* Props(CFileNode* pNode)
    {
        return static_cast<CStoreTestProperties*>(pNode->GetProperties());
    }

private:
    CStoreTestProperties* NewProperties(const std::string& strName, uint64_t ullSize, uint16_t wAttributes,
                                        int32_t nKind)
    {
        CStoreTestProperties* p = new CStoreTestProperties(strName, ullSize, wAttributes, nKind);
        m_vecProperties.push_back(p);
        return p;
    }
    CFileNode* Add(CFileNode* pParent, IFileProperties* pProperties)
    {
        CFileNode* pNode = CreateFileNode();
        m_vecNodes.push_back(pNode);
        pNode->SetProperties(pProperties);
        return pParent != nullptr ? pParent->AddChild(pNode) : pNode;
    }

    CFileSystemNode* m_pRoot;
    std::vector<CFileNode*> m_vecNodes;
    std::vector<IFileProperties*> m_vecProperties;
};

// The user's own partition record, as a quick scan hands it back.
inline PARTITION_INFO_EX UserRecord(uint64_t ullStart, DWORD dwFileSystem = FILE_SYSTEM_NTFS, DWORD dwDisk = 0)
{
    PARTITION_INFO_EX record{};
    record.dwDiskNumber = dwDisk;
    record.dwFileSystem = dwFileSystem;
    record.ullStartSector = ullStart;
    record.dwBytesPerSector = 512;
    record.ullTotalSectors = 1 << 20;
    return record;
}

// A partition found by a complete scan of the partition at ullScannedStart.
inline PARTITION_INFO_EX FoundInPartitionRecord(uint64_t ullRelativeStart, uint64_t ullScannedStart)
{
    PARTITION_INFO_EX record{};
    record.dwFileSystem = FILE_SYSTEM_NTFS;
    record.ullStartSector = ullRelativeStart;
    record.dwBytesPerSector = 512;
    record.dwFoundByScan = PARTITION_FOUND_BY_SCAN;
    record.ullScannedStart = ullScannedStart;
    record.ullScannedSectors = 1 << 20;
    return record;
}

// A result of a whole-disk scan.
inline PARTITION_INFO_EX WholeDiskRecord(uint64_t ullStart)
{
    PARTITION_INFO_EX record = FoundInPartitionRecord(ullStart, PARTITION_SCANNED_WHOLE_DISK);
    return record;
}

inline std::u16string NameOf(const FILE_INFO_EX& info)
{
    return std::u16string(info.szName);
}

inline std::u16string U16(const std::string& str)
{
    return std::u16string(str.begin(), str.end());
}

// Every record of one listing (all batches), with the number of batches it took.
inline std::vector<FILE_INFO_EX> ListAll(ICorrand* pStore, DWORD dwVolume, DWORD dwParent, int32_t nKind,
                                         int* pnBatches = nullptr, int32_t* pnStatus = nullptr)
{
    std::vector<FILE_INFO_EX> vecAll;
    FILE_INFO_EX* pFiles = nullptr;
    int32_t nCount = 0;
    const int32_t nStatus = pStore->BeginEnumFiles(dwParent, &pFiles, &nCount, nKind, dwVolume);
    if (pnStatus != nullptr)
        *pnStatus = nStatus;
    if (nStatus != 0)
        return vecAll;
    int nBatches = 1;
    vecAll.insert(vecAll.end(), pFiles, pFiles + nCount);
    while (pStore->GetNextFiles(&pFiles, &nCount) == 0 && nCount != 0) {
        ++nBatches;
        vecAll.insert(vecAll.end(), pFiles, pFiles + nCount);
    }
    pStore->EndEnumFiles();
    if (pnBatches != nullptr)
        *pnBatches = nBatches;
    return vecAll;
}

inline std::vector<FILE_INFO_EX> SearchAll(ICorrand* pStore, const SEARCH_CONDITION& condition,
                                           int32_t* pnStatus = nullptr)
{
    std::vector<FILE_INFO_EX> vecAll;
    FILE_INFO_EX* pFiles = nullptr;
    int32_t nCount = 0;
    const int32_t nStatus = pStore->BeginSearchFiles(&condition, &pFiles, &nCount, 0);
    if (pnStatus != nullptr)
        *pnStatus = nStatus;
    if (nStatus != 0)
        return vecAll;
    vecAll.insert(vecAll.end(), pFiles, pFiles + nCount);
    while (pStore->GetNextFiles(&pFiles, &nCount) == 0 && nCount != 0)
        vecAll.insert(vecAll.end(), pFiles, pFiles + nCount);
    pStore->EndEnumFiles();
    return vecAll;
}

// The record number of the child called strName (either kind) of a folder; 0xFFFFFFFF if none.
inline DWORD FindChild(ICorrand* pStore, DWORD dwVolume, DWORD dwParent, const std::string& strName)
{
    for (int32_t nKind : {ENUM_KIND_FOLDERS, ENUM_KIND_FILES})
        for (const FILE_INFO_EX& info : ListAll(pStore, dwVolume, dwParent, nKind))
            if (NameOf(info) == U16(strName))
                return info.dwRecordNumber;
    return 0xFFFFFFFFu;
}

// Record number of a path below the volume's top, e.g. {"Deleted Files", "Docs", "a.txt"}.
inline DWORD FindPath(ICorrand* pStore, DWORD dwVolume, std::initializer_list<const char*> path)
{
    DWORD dwRecord = 0;
    for (const char* pszName : path) {
        dwRecord = FindChild(pStore, dwVolume, dwRecord, pszName);
        if (dwRecord == 0xFFFFFFFFu)
            break;
    }
    return dwRecord;
}

// A store on its own file in a scratch folder.
class CStoreTest : public ::testing::Test {
protected:
    void SetUp() override { m_pStore.reset(new corrand::CResultStore(DatabaseFile())); }
    std::string DatabaseFile() const { return m_Dir.File("results.db"); }
    void Reopen() { m_pStore.reset(new corrand::CResultStore(DatabaseFile())); }
    ICorrand* Store() const { return m_pStore.get(); }
    IResultStoreAccess* Access() const { return m_pStore.get(); }

    // Hands over one result as the engine does; returns the status of AddFileTree.
    int32_t HandOver(const PARTITION_INFO_EX& record, CTestTree& tree, int32_t nIndex = 0)
    {
        EXPECT_EQ(0, Store()->AddPartition(&record, nIndex, nIndex == 0 ? 1 : 0));
        return Store()->AddFileTree(tree.Root());
    }

    rvdtest::CTempDir m_Dir;
    std::unique_ptr<corrand::CResultStore> m_pStore;
};

} // namespace corrandtest
