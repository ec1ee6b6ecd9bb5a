// Stand-ins for the facade tests: an engine whose readers, controller factories, carving and
// partition search are given by the test; search controllers whose candidates and trees are
// scripted; properties that count their destruction; the fake result store loaded by name; and
// device tables with a disk and a volume for the collection to find.
#pragma once

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Delvar.h"
#include "DeviceTestSupport.h"
#include "EngineSettings.h"
#include "FakeCorrand.h"
#include "FileNode.h"
#include "FileProperties.h"
#include "FileSystemNode.h"
#include "FileSystemSearchController.h"
#include "GlobalAdvanceSettingData.h"
#include "IStorageDevice.h"
#include "RawFileInfo.h"
#include "ScopedEnv.h"
#include "SearchedPartitionInfo.h"
#include "WideText.h"
#include "TestModules.h"

namespace delvartest {

// ----- properties that count how often they are freed -----------------------------------------

inline std::atomic<int>& LiveProperties()
{
    static std::atomic<int> n(0);
    return n;
}

class CCountedProperties : public IFileProperties {
public:
    CCountedProperties(const std::string& strName, uint16_t nAttributes, uint64_t ullSize = 0)
        : m_strName(strName), m_nAttributes(nAttributes), m_ullSize(ullSize)
    {
        ++LiveProperties();
    }
    ~CCountedProperties() override { --LiveProperties(); }

    int32_t GetNameLength() override { return static_cast<int32_t>(m_strName.size()); }
    const char* GetName() override { return m_strName.c_str(); }
    uint64_t GetSize() override { return m_ullSize; }
    uint16_t GetAttributes() override { return m_nAttributes; }
    void GetCreationTime(FILETIME* p) override { p->qwTicks = 0; }
    void GetModificationTime(FILETIME* p) override { p->qwTicks = 0; }
    void GetAccessTime(FILETIME* p) override { p->qwTicks = 0; }
    uint8_t GetStatus() override { return 1; }
    uint8_t GetCheckState() override { return m_nCheck; }
    void SetCheckState(uint8_t n) override { m_nCheck = n; }
    IDataRunList* GetDataRunList() override { return nullptr; }
    int32_t GetValidPropertyMask() override { return 0xFF; }
    uint8_t GetFlag() override { return 0; }
    int32_t SetFlag(uint8_t) override { return 1; }
    BOOL Save(IDataStream*) override { return TRUE; }
    int32_t GetPropertiesKind() override { return 1; }
    BOOL Load(IDataStream*) override { return TRUE; }
    int32_t GetReservedValue() override { return 0; }

private:
    std::string m_strName;
    uint16_t m_nAttributes;
    uint64_t m_ullSize;
    uint8_t m_nCheck = 0;
};

// A result tree root as a reader would return it.
inline CFileSystemNode* MakeRoot(int32_t nKind, uint64_t ullStart = 0, int32_t nSecond = 8,
                                 const char* pszDescription = "VOLUME")
{
    CFileSystemNode* pRoot = CreateFileSystemNode();
    pRoot->SetProperties(new CCountedProperties("root", FILE_ATTR_DIRECTORY));
    pRoot->SetFileSystemKind(nKind);
    pRoot->SetPartitionInfo(ullStart, nSecond);
    pRoot->SetDescription(pszDescription);
    return pRoot;
}

inline CFileNode* AddFile(CFileNode* pParent, const std::string& strName)
{
    CFileNode* pNode = CreateFileNode();
    pNode->SetProperties(new CCountedProperties(strName, FILE_ATTR_ARCHIVE, 100));
    return pParent->AddChild(pNode);
}

inline CFileNode* AddFolder(CFileNode* pParent, const std::string& strName)
{
    CFileNode* pNode = CreateFileNode();
    pNode->SetProperties(new CCountedProperties(strName, FILE_ATTR_DIRECTORY));
    return pParent->AddChild(pNode);
}

// ----- scripted search controllers ----------------------------------------------------------------

struct SCRIPTED_CANDIDATE {
    int32_t nKind;
    uint64_t ullStart;
    uint64_t ullCount;
    uint64_t ullConfidence;
};

class CFakeController : public IFileSystemSearchController {
public:
    // Kinds this controller builds trees for.
    std::vector<int32_t> SupportedKinds;
    // Candidates handed over by CollectSearchedPartitions.
    std::vector<SCRIPTED_CANDIDATE> Candidates;
    // Tree of a candidate (index given by the engine); null = the build fails.
    std::function<CFileSystemNode*(CSearchedPartitionInfo*, int32_t)> BuildTree;
    // Called for every block before it is counted.
    std::function<void(uint64_t ullFirst, uint64_t ullCount)> OnBlock;

    std::vector<uint64_t> BlocksSeen;
    std::vector<int32_t> TreeIndexes;
    IStorageDevice* pDevice = nullptr;  // valid only during the search
    uint64_t ullDeviceSectors = 0;      // the device's size when it was handed over
    int32_t nSectorsPerRead = 0;
    int nBeginCalls = 0;
    int nEndCalls = 0;
    CRawFileInfoContainer* pContainer = nullptr;
    SEARCH_PROGRESS* pProgress = nullptr;
    CANCEL_FLAG* pCancel = nullptr;

    static std::atomic<int>& Live()
    {
        static std::atomic<int> n(0);
        return n;
    }
    CFakeController() { ++Live(); }
    ~CFakeController() override { --Live(); }

    void SetStorageDevice(IStorageDevice* p) override
    {
        pDevice = p;
        ullDeviceSectors = p != nullptr ? p->GetTotalSectors() : 0;
    }
    void SetSectorsPerRead(int32_t n) override { nSectorsPerRead = n; }
    void BeginSearch() override { ++nBeginCalls; }
    void EndSearch() override { ++nEndCalls; }
    int32_t SearchSectors(uint64_t ullFirst, uint64_t ullCount, SEARCH_STATISTICS*) override
    {
        if (OnBlock)
            OnBlock(ullFirst, ullCount);
        BlocksSeen.push_back(ullFirst);
        return 1;
    }
    void CollectSearchedPartitions(CSearchedPartitionInfoList* pList) override
    {
        for (const SCRIPTED_CANDIDATE& script : Candidates) {
            CSearchedPartitionInfo* p = new CSearchedPartitionInfo();
            p->m_nFileSystemKind = script.nKind;
            p->m_ullStartSector = script.ullStart;
            p->m_ullSectorCount = script.ullCount;
            p->m_ullConfidence = script.ullConfidence;
            pList->push_back(p);
        }
    }
    void SetRawFileInfoContainer(CRawFileInfoContainer* p) override { pContainer = p; }
    BOOL SaveState(IDataStream*) override { return TRUE; }
    BOOL LoadState(IDataStream*) override { return TRUE; }
    int32_t GetControllerType() override { return SEARCH_CONTROLLER_FAT; }
    void SetProgress(SEARCH_PROGRESS* p, CANCEL_FLAG* c) override
    {
        pProgress = p;
        pCancel = c;
    }
    CFileSystemNode* BuildFileTree(CSearchedPartitionInfo* pCandidate, IStorageDevice*, int32_t nIndex,
                                   int32_t) override
    {
        TreeIndexes.push_back(nIndex);
        return BuildTree ? BuildTree(pCandidate, nIndex) : nullptr;
    }
    BOOL IsSupportedFileSystem(int32_t nKind) override
    {
        for (int32_t k : SupportedKinds)
            if (k == nKind)
                return TRUE;
        return FALSE;
    }
};

// ----- the engine with scripted neighbours -----------------------------------------------------------

class CTestDelvar : public CDelvar {
public:
    // Controllers the test made; the engine takes them over (and deletes them) at each scan.
    std::function<void(CSearchControllerList&)> MakeControllers;
    std::function<CFileSystemNode*(IStorageDevice*, bool)> FatReader;
    std::function<CFileSystemNode*(IStorageDevice*)> NtfsReader;
    std::function<CFileSystemNode*(IStorageDevice*)> Ext2Reader;
    std::function<CFileSystemNode*(CRawFileInfoContainer*, IStorageDevice*)> RawTreeBuilder;
    std::function<void(SEARCH_DEVICE_CONTEXT*, CFoundPartitionList&)> PartitionSearch;

    int nCompleteFactoryCalls = 0;
    int nWholeDiskFactoryCalls = 0;
    std::vector<uint64_t> ReaderDeviceSectors;   // total sectors of each device a reader was given

    SEARCH_PROGRESS Progress()
    {
        SEARCH_PROGRESS progress;
        GetProgress(&progress, nullptr);
        return progress;
    }
    int32_t CancelWord()
    {
        int32_t anStatus[2] = {-1, -1};
        GetProgress(nullptr, anStatus);
        return anStatus[0];
    }

protected:
    void CreateCompleteScanControllers(CSearchControllerList& controllers) override
    {
        ++nCompleteFactoryCalls;
        if (MakeControllers)
            MakeControllers(controllers);
    }
    void CreateWholeDiskControllers(CSearchControllerList& controllers) override
    {
        ++nWholeDiskFactoryCalls;
        if (MakeControllers)
            MakeControllers(controllers);
    }
    CFileSystemNode* BuildFatTree(IStorageDevice* pDevice, bool bFat32) override
    {
        ReaderDeviceSectors.push_back(pDevice->GetTotalSectors());
        return FatReader ? FatReader(pDevice, bFat32) : nullptr;
    }
    CFileSystemNode* BuildNtfsTree(IStorageDevice* pDevice) override
    {
        ReaderDeviceSectors.push_back(pDevice->GetTotalSectors());
        return NtfsReader ? NtfsReader(pDevice) : nullptr;
    }
    CFileSystemNode* BuildExt2Tree(IStorageDevice* pDevice) override
    {
        ReaderDeviceSectors.push_back(pDevice->GetTotalSectors());
        return Ext2Reader ? Ext2Reader(pDevice) : nullptr;
    }
    CFileSystemNode* BuildRawFileTree(CRawFileInfoContainer* pContainer, IStorageDevice* pDevice) override
    {
        return RawTreeBuilder ? RawTreeBuilder(pContainer, pDevice) : nullptr;
    }
    void CallQuickPartitionSearch(SEARCH_DEVICE_CONTEXT* pContext, const rvdplat::DISK_GEOMETRY&,
                                  CFoundPartitionList& partitions) override
    {
        if (PartitionSearch)
            PartitionSearch(pContext, partitions);
    }
};

// ----- the fake store ------------------------------------------------------------------------------------

inline std::string FakeStoreDir()
{
    return RVD_FAKE_STORE_DIR;
}

// The state of the fake store the engine loads: the test opens the same file, so it reaches the
// same loaded module.
inline FAKE_CORRAND_STATE* FakeStore()
{
    static void* hModule = nullptr;
    if (hModule == nullptr)
        hModule = rvdtest::OpenModule("Corrand", FakeStoreDir());
    if (hModule == nullptr)
        return nullptr;
    auto pfn = reinterpret_cast<PFN_FAKE_CORRAND_STATE>(dlsym(hModule, "FakeCorrandState"));
    return pfn != nullptr ? pfn() : nullptr;
}

using rvdtest::CScopedEnv;

// Scan settings for one test, restored afterwards.
class CScopedSettings {
public:
    CScopedSettings() : m_Saved(Copy(*GetEngineSettings())) {}
    ~CScopedSettings() { Restore(*GetEngineSettings(), m_Saved); }
    CGlobalAdvanceSettingData* operator->() { return GetEngineSettings(); }

private:
    struct SAVED {
        int32_t nFileSystemType, bScanRaw, nDiskFullScan, nPartitionMaxlimit, nBadSectorIgnore;
    };
    static SAVED Copy(const CGlobalAdvanceSettingData& s)
    {
        return SAVED{s.m_nFileSystemType, s.m_bScanRaw, s.m_nDiskFullScan, s.m_nPartitionMaxlimit, s.m_nBadSectorIgnore};
    }
    static void Restore(CGlobalAdvanceSettingData& s, const SAVED& v)
    {
        s.m_nFileSystemType = v.nFileSystemType;
        s.m_bScanRaw = v.bScanRaw;
        s.m_nDiskFullScan = v.nDiskFullScan;
        s.m_nPartitionMaxlimit = v.nPartitionMaxlimit;
        s.m_nBadSectorIgnore = v.nBadSectorIgnore;
    }
    SAVED m_Saved;
};

// Writes an MBR with one primary partition of the given type byte onto an image with sfdisk, so
// that the engine's partition-table reader finds the volume where the disk table puts it.
inline void PartitionImage(const std::string& strImage, uint64_t ullStart, uint64_t ullCount, const char* pszType = "6")
{
    const std::string strCommand = "printf 'label: dos\\nunit: sectors\\nstart=" + std::to_string(ullStart) + ", size=" +
                                   std::to_string(ullCount) + ", type=" + pszType +
                                   "\\n' | sfdisk --no-reread --no-tell-kernel -q '" + strImage + "' >/dev/null 2>&1";
    ASSERT_EQ(0, system(strCommand.c_str())) << strCommand;
}

// A disk of the given size with one partition in its table, at [start, start + count), which the
// disk table also knows as a volume.
const uint64_t kVolumeStart = 2048;
const uint64_t kVolumeSectors = 3 * 8192 + 100;   // four blocks of the block scan, the last short
const uint64_t kDiskSectors = kVolumeStart + kVolumeSectors + 2048;

// Every facade test: a device table with disk 0 holding one volume, the fake store found by
// name, default scan settings with carving off, and a clean store record.
class CDelvarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strImage = m_Table.MakeImage("disk0.img", kDiskSectors * 512);
        PartitionImage(m_strImage, kVolumeStart, kVolumeSectors);
        LoadTable("");
        m_Settings->m_nFileSystemType = 0;
        m_Settings->m_bScanRaw = 0;
        m_Settings->m_nDiskFullScan = 1;
        m_Settings->m_nPartitionMaxlimit = 4;
        ASSERT_NE(nullptr, FakeStore()) << dlerror();
        FakeStore()->Clear();
        m_nLiveAtStart = LiveProperties().load();
    }
    void TearDown() override
    {
        EXPECT_EQ(m_nLiveAtStart, LiveProperties().load()) << "properties leaked or freed twice";
        EXPECT_EQ(0, CFakeController::Live().load()) << "controllers leaked";
        if (FakeStore() != nullptr)
            FakeStore()->Clear();
    }

    void LoadTable(const std::string& strExtra, const std::string& strDiskKeys = "")
    {
        m_Table.Load("disk " + m_strImage + " " + strDiskKeys + "\nvolume disk=0 start=" +
                     std::to_string(kVolumeStart) + " count=" + std::to_string(kVolumeSectors) + " fs=FAT16\n" +
                     strExtra);
    }

    static PARTITION_INFO_EX VolumeRecord(DWORD dwFileSystem = 1)
    {
        PARTITION_INFO_EX record{};
        record.dwDiskNumber = 0;
        record.dwFileSystem = dwFileSystem;
        record.ullStartSector = kVolumeStart;
        record.ullTotalSectors = kVolumeSectors;
        record.dwBytesPerSector = 512;
        return record;
    }

    static DISK_INFO_EX DiskRecord(DWORD dwDisk = 0)
    {
        DISK_INFO_EX disk{};
        disk.dwDiskNumber = dwDisk;
        disk.dwBytesPerSector = 512;
        disk.ullTotalSectors = kDiskSectors;
        return disk;
    }

    devtest::CDeviceTable m_Table;
    std::string m_strImage;
    CScopedEnv m_ModuleDir{"RAVENDO_MODULE_DIR", FakeStoreDir()};
    CScopedSettings m_Settings;
    int m_nLiveAtStart = 0;
};

} // namespace delvartest
