// A record the module lists, handed to the engine as the disk page hands it, leads the engine to
// the same volume: the scan runs (no "partition not found") and the store keeps the record.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ICorrand.h"
#include "OmbrelTestSupport.h"

using namespace ombreltest;

namespace {

bool HasReader(DWORD dwKind)
{
    // The quick scan reads FAT and EXT trees; NTFS and unknown file systems may find nothing.
    return dwKind <= FILE_SYSTEM_FAT32 || dwKind == FILE_SYSTEM_EXT2 || dwKind == FILE_SYSTEM_EXT3;
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
        // Floppies belong to no physical disk, and the engine finds volumes by their disk.
        if (record.dwDiskNumber == OMBREL_NO_DISK)
            continue;
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
