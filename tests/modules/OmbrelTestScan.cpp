// A record the module lists, handed to the engine as the disk page hands it, leads the engine to
// the same volume: the scan runs (no "partition not found") and the store keeps the record.
#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ICorrand.h"
#include "OmbrelTestSupport.h"
#include "TestSupport.h"

using namespace ombreltest;

namespace {

bool HasReader(DWORD dwKind)
{
    // The quick scan reads FAT and EXT trees; NTFS and unknown file systems may find nothing.
    return dwKind <= FILE_SYSTEM_FAT32 || dwKind == FILE_SYSTEM_EXT2 || dwKind == FILE_SYSTEM_EXT3;
}

typedef std::vector<std::string> PATH;

// Every file of a result volume in the store, by the names along its path from the volume's top.
std::set<PATH> StoredFiles(DWORD dwVolume)
{
    std::set<PATH> files;
    std::vector<std::pair<DWORD, PATH>> stack = {{0, {}}};
    while (!stack.empty()) {
        const std::pair<DWORD, PATH> folder = stack.back();
        stack.pop_back();
        for (int32_t nKind : {ENUM_KIND_FOLDERS, ENUM_KIND_FILES}) {
            std::vector<FILE_INFO_EX> children;
            FILE_INFO_EX* pFiles = nullptr;
            int32_t nCount = 0;
            if (Store()->BeginEnumFiles(folder.first, &pFiles, &nCount, nKind, dwVolume) != 0)
                continue;
            do
                children.insert(children.end(), pFiles, pFiles + nCount);
            while (Store()->GetNextFiles(&pFiles, &nCount) == 0 && nCount != 0);
            Store()->EndEnumFiles();
            for (const FILE_INFO_EX& child : children) {
                PATH path = folder.second;
                path.push_back(Utf8(child.szName, 260));
                if (nKind == ENUM_KIND_FOLDERS)
                    stack.emplace_back(child.dwRecordNumber, path);
                else
                    files.insert(path);
            }
        }
    }
    return files;
}

// Whether the store lists a deleted file of the manifest under "Deleted Files": by its own path,
// or, for a FAT entry without a long name, by its 8.3 name whose lost first character reads '#'.
bool IsListed(const std::set<PATH>& files, const rvdtest::ManifestEntry& entry)
{
    PATH path = {"Deleted Files"};
    path.insert(path.end(), entry.vecNames.begin(), entry.vecNames.end());
    if (files.count(path) != 0)
        return true;
    std::string& strName = path.back();
    if (strName.empty())
        return false;
    std::transform(strName.begin(), strName.end(), strName.begin(),
                   [](char ch) { return static_cast<char>(toupper(static_cast<unsigned char>(ch))); });
    strName[0] = '#';
    return files.count(path) != 0;
}

} // namespace

TEST(OmbrelScan, EveryListedVolumeIsFoundByTheEngine)
{
    IDelvar* pEngine = Engine();
    ASSERT_NE(nullptr, pEngine);
    ASSERT_NE(nullptr, StoreAccess());
    std::vector<PARTITION_INFO_EX> records = Volumes();
    const std::vector<PARTITION_INFO_EX> dynamicVolumes = DynamicVolumes();
    records.insert(records.end(), dynamicVolumes.begin(), dynamicVolumes.end());
    ASSERT_GT(records.size(), 10u);
    for (const PARTITION_INFO_EX& record : records) {
        SCOPED_TRACE("disk " + std::to_string(record.dwDiskNumber) + " start " +
                     std::to_string(record.ullStartSector) + " kind " + std::to_string(record.dwFileSystem));
        ASSERT_EQ(DELVAR_SUCCESS, pEngine->Init(nullptr, &record, SCAN_MODE_QUICK, 0));
        const int32_t nResult = pEngine->Search();
        EXPECT_NE(DELVAR_PARTITION_NOT_FOUND, nResult);
        if (!HasReader(record.dwFileSystem)) {
            EXPECT_TRUE(nResult == DELVAR_SUCCESS || nResult == DELVAR_NOTHING_FOUND) << nResult;
            continue;
        }
        ASSERT_EQ(DELVAR_SUCCESS, nResult);
        // The user's record comes back with its result, as it was given.
        STORED_VOLUME stored;
        ASSERT_EQ(0, StoreAccess()->GetVolume(0, &stored));
        EXPECT_EQ(record.dwDiskNumber, stored.dwDiskNumber);
        EXPECT_EQ(record.ullStartSector, stored.Partition.ullStartSector);
        EXPECT_EQ(record.ullTotalSectors, stored.Partition.ullTotalSectors);
        EXPECT_EQ(record.ullStartSector, stored.ullDeviceStart);
    }
}

TEST(OmbrelScan, UnallocatedSpaceAndWholeDisksAreFound)
{
    IDelvar* pEngine = Engine();
    ASSERT_NE(nullptr, pEngine);
    const std::vector<PARTITION_INFO_EX> partitions = Partitions(kGapDisk);
    ASSERT_EQ(2u, partitions.size());
    ASSERT_EQ(static_cast<DWORD>(FILE_SYSTEM_UNALLOCATED), partitions[1].dwFileSystem);
    ASSERT_EQ(DELVAR_SUCCESS, pEngine->Init(nullptr, &partitions[1], SCAN_MODE_COMPLETE, 0));
    const int32_t nGap = pEngine->Search();
    EXPECT_NE(DELVAR_PARTITION_NOT_FOUND, nGap);

    const std::vector<DISK_INFO_EX> disks = Disks();
    ASSERT_GT(disks.size(), kGapDisk);
    ASSERT_EQ(DELVAR_SUCCESS, pEngine->Init(&disks[kGapDisk], nullptr, SCAN_MODE_WHOLE_DISK, 0));
    const int32_t nDisk = pEngine->Search();
    EXPECT_NE(DELVAR_DEVICE_NOT_FOUND, nDisk);
    EXPECT_NE(DELVAR_PARTITION_NOT_FOUND, nDisk);
}

// A floppy (no disk behind it) and the disks that are one NTFS file system without a table are
// listed as volumes, and the records handed back scan: the store gets each one's deleted files.
TEST(OmbrelScan, FloppyAndBareNtfsDisksScanWithTheirDeletedFiles)
{
    IDelvar* pEngine = Engine();
    ASSERT_NE(nullptr, pEngine);
    ASSERT_NE(nullptr, StoreAccess());
    struct CASE {
        DWORD dwDisk;
        const char* pszManifest;
    };
    const std::vector<PARTITION_INFO_EX> volumes = Volumes();
    for (const CASE& c : {CASE{OMBREL_NO_DISK, "fat12.img"}, CASE{kNtfsDisk, "ntfs.img"},
                          CASE{kBootCodeDisk, "ntfs-c512.img"}}) {
        SCOPED_TRACE(c.pszManifest);
        auto it = std::find_if(volumes.begin(), volumes.end(),
                               [&](const PARTITION_INFO_EX& v) { return v.dwDiskNumber == c.dwDisk; });
        ASSERT_NE(volumes.end(), it) << "not listed";
        const PARTITION_INFO_EX record = *it;
        EXPECT_EQ(c.dwDisk == OMBREL_NO_DISK ? 'A' : 0, record.chDriveLetter);
        ASSERT_EQ(DELVAR_SUCCESS, pEngine->Init(nullptr, &record, SCAN_MODE_QUICK, 0));
        ASSERT_EQ(DELVAR_SUCCESS, pEngine->Search());

        DWORD dwVolumes = 0;
        ASSERT_EQ(0, StoreAccess()->GetVolumeCount(&dwVolumes));
        ASSERT_EQ(1u, dwVolumes);
        STORED_VOLUME stored;
        ASSERT_EQ(0, StoreAccess()->GetVolume(0, &stored));
        EXPECT_EQ(c.dwDisk, stored.dwDiskNumber);
        EXPECT_EQ(record.chDriveLetter, stored.Partition.chDriveLetter);
        const std::set<PATH> files = StoredFiles(stored.dwVolume);
        int nDeleted = 0;
        for (const rvdtest::ManifestEntry& entry : rvdtest::ReadManifest(c.pszManifest)) {
            if (!entry.bDeleted || entry.bDirectory || !entry.bRecoverable)
                continue;
            ++nDeleted;
            EXPECT_TRUE(IsListed(files, entry)) << entry.strPath;
        }
        EXPECT_GT(nDeleted, 0);
    }
}
