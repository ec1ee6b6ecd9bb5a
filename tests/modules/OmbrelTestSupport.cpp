#include "OmbrelTestSupport.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <regex>

#include <gtest/gtest.h>

#include "Charset.h"
#include "ICorrand.h"
#include "TestSupport.h"
#include "WideText.h"
#include "TestModules.h"

namespace ombreltest {

namespace {

std::unique_ptr<rvdtest::CTempDir>& MachineFolder()
{
    static std::unique_ptr<rvdtest::CTempDir> pDir;
    return pDir;
}

void* LoadModule(const char* pszName)
{
    std::string strError;
    void* hModule = rvdtest::OpenModule(pszName, std::string(), &strError);
    if (hModule == nullptr) {
        ADD_FAILURE() << strError;
    }
    return hModule;
}

template <typename T>
T* CreateFrom(const char* pszModule, const char* pszFunction = "CreateInstance")
{
    void* hModule = LoadModule(pszModule);
    if (hModule == nullptr)
        return nullptr;
    typedef void* (*PFN)();
    PFN pfn = reinterpret_cast<PFN>(dlsym(hModule, pszFunction));
    return pfn != nullptr ? static_cast<T*>(pfn()) : nullptr;
}

// Set up once, before any test and so before any module reads the table.
class CMachineEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        MachineFolder().reset(new rvdtest::CTempDir);
        const std::string& strDir = MachineDir();
        const std::string strGap = strDir + "/gap.img";
        RunCommand("truncate -s " + std::to_string(kGapDiskSectors * 512) + " '" + strGap + "'");
        RunCommand("printf 'label: dos\\nunit: sectors\\nstart=" + std::to_string(kGapPartitionStart) +
                   ", size=" + std::to_string(kGapPartitionSectors) +
                   ", type=83\\n' | sfdisk --no-reread --no-tell-kernel -q '" + strGap + "'");
        // Other formatters than mkntfs leave message texts in the boot code under bytes 446-509.
        const std::string strBootCode = DiskImage(kBootCodeDisk);
        RunCommand("cp --sparse=always '" + rvdtest::FixturePath("ntfs-c512.img") + "' '" + strBootCode + "'");
        std::string strText = "\r\nA disk read error occurred\r\nBOOT loader missing\r\nPress any key";
        strText.resize(64, ' ');
        strText[16 + 4] = 'B';
        FILE* pImage = fopen(strBootCode.c_str(), "r+b");
        ASSERT_NE(nullptr, pImage);
        ASSERT_EQ(0, fseek(pImage, 446, SEEK_SET));
        ASSERT_EQ(strText.size(), fwrite(strText.data(), 1, strText.size(), pImage));
        fclose(pImage);
        std::string strTable;
        for (DWORD dwDisk = 0; dwDisk < kDiskCount; ++dwDisk)
            strTable += "disk " + DiskImage(dwDisk) + "\n";
        strTable += "floppy A " + rvdtest::FixturePath("fat12.img") + "\n";
        strTable += "volume disk=1 start=" + std::to_string(kMountedStart) + " count=" +
                    std::to_string(kMountedSectors) + " letter=E fs=NTFS free=" + std::to_string(kMountedFreeBytes) +
                    "\n";
        const std::string strTablePath = strDir + "/machine.table";
        FILE* pFile = fopen(strTablePath.c_str(), "w");
        ASSERT_NE(nullptr, pFile);
        fputs(strTable.c_str(), pFile);
        fclose(pFile);
        setenv("RAVENDO_DEVICE_TABLE", strTablePath.c_str(), 1);
        setenv("RAVENDO_RESULT_DB", (strDir + "/results.db").c_str(), 1);
        setenv("RAVENDO_LOG_FILE", (strDir + "/ravendo.log").c_str(), 1);
        unsetenv("RAVENDO_MODULE_DIR");
    }
};

const ::testing::Environment* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new CMachineEnvironment);

uint64_t NumberAfter(const std::string& strText, const std::string& strPattern)
{
    std::smatch match;
    if (!std::regex_search(strText, match, std::regex(strPattern))) {
        ADD_FAILURE() << "no match for " << strPattern << " in:\n" << strText;
        return 0;
    }
    return std::stoull(match[1].str());
}

} // namespace

const std::string& MachineDir()
{
    return MachineFolder()->Path();
}

std::string DiskImage(DWORD dwDisk)
{
    switch (dwDisk) {
    case kMbrDisk: return rvdtest::FixturePath("mbr.img");
    case kGptDisk: return rvdtest::FixturePath("gpt.img");
    case kFat32Disk: return rvdtest::FixturePath("fat32.img");
    case kGapDisk: return MachineDir() + "/gap.img";
    case kNtfsDisk: return rvdtest::FixturePath("ntfs.img");
    case kBootCodeDisk: return MachineDir() + "/bootcode.img";
    default: return rvdtest::FixturePath("dyn-mbr-" + std::to_string(dwDisk - kFirstDynamicDisk + 1) + ".img");
    }
}

IOmbrel* Ombrel()
{
    static IOmbrel* pOmbrel = CreateFrom<IOmbrel>("Ombrel");
    return pOmbrel;
}

IDelvar* Engine()
{
    static IDelvar* pEngine = CreateFrom<IDelvar>("Delvar");
    return pEngine;
}

ICorrand* Store()
{
    static ICorrand* pStore = CreateFrom<ICorrand>("Corrand");
    return pStore;
}

IResultStoreAccess* StoreAccess()
{
    static IResultStoreAccess* pAccess = CreateFrom<IResultStoreAccess>("Corrand", "GetResultStoreAccess");
    return pAccess;
}

std::vector<DISK_INFO_EX> Disks()
{
    Ombrel()->Refresh();
    int32_t nCount = Ombrel()->GetDiskCount();
    std::vector<DISK_INFO_EX> disks(static_cast<size_t>(nCount));
    EXPECT_EQ(OMBREL_SUCCESS, Ombrel()->GetAllDiskInfo(disks.data(), &nCount));
    disks.resize(static_cast<size_t>(nCount));
    Ombrel()->EndEnum();
    return disks;
}

std::vector<PARTITION_INFO_EX> Partitions(DWORD dwDisk)
{
    Ombrel()->Refresh();
    int32_t nCount = Ombrel()->GetPartitionCount(dwDisk);
    std::vector<PARTITION_INFO_EX> partitions(static_cast<size_t>(nCount));
    EXPECT_EQ(OMBREL_SUCCESS, Ombrel()->GetAllPartitionInfo(dwDisk, partitions.data(), &nCount));
    partitions.resize(static_cast<size_t>(nCount));
    Ombrel()->EndEnum();
    return partitions;
}

std::vector<PARTITION_INFO_EX> Volumes()
{
    Ombrel()->Refresh();
    int32_t nCount = Ombrel()->GetVolumeCount();
    std::vector<PARTITION_INFO_EX> volumes(static_cast<size_t>(nCount));
    EXPECT_EQ(OMBREL_SUCCESS, Ombrel()->GetAllVolumeInfo(volumes.data(), &nCount));
    volumes.resize(static_cast<size_t>(nCount));
    Ombrel()->EndEnum();
    return volumes;
}

std::vector<PARTITION_INFO_EX> DynamicVolumes()
{
    Ombrel()->Refresh();
    int32_t nCount = Ombrel()->GetDynamicVolumeCount();
    std::vector<PARTITION_INFO_EX> volumes(static_cast<size_t>(nCount));
    EXPECT_EQ(OMBREL_SUCCESS, Ombrel()->GetAllDynamicVolumeInfo(volumes.data(), &nCount));
    volumes.resize(static_cast<size_t>(nCount));
    Ombrel()->EndEnum();
    return volumes;
}

std::string RunCommand(const std::string& strCommand)
{
    std::string strOutput;
    FILE* pPipe = popen((strCommand + " 2>/dev/null").c_str(), "r");
    if (pPipe == nullptr) {
        ADD_FAILURE() << "cannot run " << strCommand;
        return strOutput;
    }
    char szBuffer[4096];
    size_t n;
    while ((n = fread(szBuffer, 1, sizeof(szBuffer), pPipe)) > 0)
        strOutput.append(szBuffer, n);
    const int nStatus = pclose(pPipe);
    // fsck.fat -n reports 1 when it found something to repair; its counts still stand.
    if (nStatus != 0 && strCommand.rfind("fsck.fat", 0) != 0) {
        ADD_FAILURE() << strCommand << " exited with " << nStatus;
    }
    return strOutput;
}

std::string ExtractSectors(const std::string& strImage, uint64_t ullStart, uint64_t ullCount,
                           const std::string& strName)
{
    const std::string strOut = MachineDir() + "/" + strName;
    RunCommand("dd if='" + strImage + "' of='" + strOut + "' bs=512 skip=" + std::to_string(ullStart) +
               " count=" + std::to_string(ullCount) + " conv=sparse status=none");
    return strOut;
}

uint64_t NtfsBootSectorSectors(const std::string& strImage)
{
    uint8_t abySector[512] = {};
    FILE* pFile = fopen(strImage.c_str(), "rb");
    const bool bRead = pFile != nullptr && fread(abySector, 1, sizeof(abySector), pFile) == sizeof(abySector);
    if (pFile != nullptr)
        fclose(pFile);
    EXPECT_TRUE(bRead) << strImage;
    uint64_t ullSectors = 0;
    for (int i = 7; i >= 0; --i)
        ullSectors = (ullSectors << 8) | abySector[40 + i];
    return ullSectors;
}

uint64_t FsckFATFreeSectors(const std::string& strImage)
{
    const std::string strText = RunCommand("fsck.fat -n -v '" + strImage + "'");
    const uint64_t ullClusterBytes = NumberAfter(strText, "(\\d+) bytes per cluster");
    std::smatch match;
    if (!std::regex_search(strText, match, std::regex("files, (\\d+)/(\\d+) clusters"))) {
        ADD_FAILURE() << strText;
        return 0;
    }
    return (std::stoull(match[2].str()) - std::stoull(match[1].str())) * (ullClusterBytes / 512);
}

uint64_t DumpE2fsFreeSectors(const std::string& strImage)
{
    const std::string strText = RunCommand("dumpe2fs -h '" + strImage + "'");
    return NumberAfter(strText, "Free blocks:\\s+(\\d+)") * (NumberAfter(strText, "Block size:\\s+(\\d+)") / 512);
}

uint64_t NtfsclusterFreeSectors(const std::string& strImage)
{
    const std::string strText = RunCommand("ntfscluster -i -f '" + strImage + "'");
    return NumberAfter(strText, "bytes of free space\\s*:\\s*(\\d+)") / 512;
}

std::string Utf8(const WCHAR* pszText, size_t nCapacity)
{
    return rvd::Utf16ToUtf8(rvd::ReadWideText(pszText, nCapacity));
}

} // namespace ombreltest
