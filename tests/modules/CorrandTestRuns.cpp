// Runs of every reader's units turned into 512-byte sectors of the device that was scanned (the
// volume the record names, or the disk of a whole-disk scan), for each way the engine hands a
// result over.
#include "CorrandTestSupport.h"
#include "RunConversion.h"

using namespace corrandtest;

namespace {

const uint64_t SPARSE = DATA_RUN_SPARSE_START;

struct RUN_CASE {
    const char* pszName;
    PARTITION_INFO_EX Partition;
    uint64_t ullRootStart;        // the tree root's partition values
    int32_t nSectorsPerUnit;
    int32_t nPropertiesKind;
    std::vector<DATA_RUN> vecRuns;  // in the reader's units
    std::vector<STORED_RUN> vecExpected;
    bool bDamaged;
};

std::vector<RUN_CASE> RunCases()
{
    return {
        // Quick scan of a FAT32 volume at disk sector 2048: runs are data-area cluster indexes
        // (cluster 2 = index 0) and the root carries the sector of cluster 2 in the volume. The
        // runs count sectors of the volume, not of the disk: a dynamic volume's sectors do not
        // lie at its first member's start plus the offset.
        {"fat clusters", UserRecord(2048, FILE_SYSTEM_FAT32), 600, 8, PROPERTIES_KIND_FAT,
         {{3, 2}, {5, 1}, {10, 1}},
         {{600 + 24, 24}, {600 + 80, 8}}, false},
        // NTFS logical clusters, with a sparse stretch; the run after it counts from the one
        // before it in the packed form.
        {"ntfs clusters with a sparse run", UserRecord(2048), 0, 8, PROPERTIES_KIND_NTFS,
         {{100, 4}, {SPARSE, 2}, {50, 1}},
         {{800, 32}, {STORED_RUN_SPARSE, 16}, {400, 8}}, false},
        // EXT3 with 1 KiB blocks: block 0 is a hole.
        {"ext blocks with a hole", UserRecord(4096, FILE_SYSTEM_EXT3), 0, 2, PROPERTIES_KIND_EXT2,
         {{10, 3}, {0, 2}, {20, 1}},
         {{20, 6}, {STORED_RUN_SPARSE, 4}, {40, 2}}, false},
        // Carved files count sectors of the scanned device, whatever tree they hang in.
        {"carved sectors", UserRecord(2048, FILE_SYSTEM_FAT32), 600, 8, PROPERTIES_KIND_RAW,
         {{777, 3}},
         {{777, 3}}, false},
        // Complete scan of the partition at 2048 that found an NTFS volume 63 sectors in: the
        // scanned partition is the device.
        {"found in a partition", FoundInPartitionRecord(63, 2048), 63, 8, PROPERTIES_KIND_NTFS,
         {{10, 1}},
         {{63 + 80, 8}}, false},
        // Whole-disk block scan: the tree was built over the disk, its root start is on the disk.
        {"whole disk, tree over the disk", WholeDiskRecord(4096), 4096, 8, PROPERTIES_KIND_NTFS,
         {{10, 1}},
         {{4096 + 80, 8}}, false},
        // Whole-disk partition search: the tree was built over the found partition's own device.
        {"whole disk, tree over the partition", WholeDiskRecord(4096), 0, 8, PROPERTIES_KIND_NTFS,
         {{10, 1}},
         {{4096 + 80, 8}}, false},
        {"whole disk, fat over the partition", WholeDiskRecord(8192), 600, 4, PROPERTIES_KIND_FAT,
         {{1, 1}},
         {{8192 + 600 + 4, 4}}, false},
        // What cannot be placed is kept as a sparse run and the file is marked.
        {"cluster number past 64 bits", UserRecord(2048), 0, 8, PROPERTIES_KIND_NTFS,
         {{1, 1}, {0x7FFFFFFFFFFFFFF0ULL, 1}},
         {{8, 8}, {STORED_RUN_SPARSE, 8}}, true},
        {"no cluster size", UserRecord(2048), 0, 0, PROPERTIES_KIND_NTFS, {{1, 1}}, {}, true},
        {"unknown reader", UserRecord(2048), 0, 8, 99, {{1, 1}}, {}, true},
    };
}

class CorrandRuns : public CStoreTest {};

TEST_F(CorrandRuns, EveryUnitBecomesSectorsOfTheScannedDevice)
{
    for (const RUN_CASE& c : RunCases()) {
        SCOPED_TRACE(c.pszName);
        CTestTree tree(c.ullRootStart, c.nSectorsPerUnit);
        CFileNode* pFile = tree.File(tree.Root(), "f", 4096, c.nPropertiesKind);
        CStoreTestProperties* pProperties = CTestTree::Props(pFile);
        CNoneResidentNTFSDataRunList list;
        for (const DATA_RUN& run : c.vecRuns)
            list.AddRun(run);
        delete pProperties->m_pPacked;
        pProperties->m_pPacked = PackDataRunList(&list);
        ASSERT_EQ(0, HandOver(c.Partition, tree));

        STORED_FILE file;
        ASSERT_EQ(0, Access()->GetStoredFile(0, 2, &file));
        EXPECT_EQ(u"f", file.strName);
        ASSERT_EQ(c.vecExpected.size(), file.vecRuns.size());
        for (size_t i = 0; i < c.vecExpected.size(); ++i) {
            EXPECT_EQ(c.vecExpected[i].ullSector, file.vecRuns[i].ullSector) << i;
            EXPECT_EQ(c.vecExpected[i].ullSectors, file.vecRuns[i].ullSectors) << i;
        }
        EXPECT_EQ(c.bDamaged, (file.dwFlags & STORED_FILE_RUNS_DAMAGED) != 0);
        EXPECT_EQ(0u, file.dwFlags & STORED_FILE_RESIDENT);
    }
}

TEST_F(CorrandRuns, ResidentDataPointsIntoItsFileRecord)
{
    // The resident run names the FILE record's sector on the volume (its cluster already counted
    // in), and the resident value the data's offset in the record.
    CTestTree tree(0, 8);
    CFileNode* pFile = tree.File(tree.Root(), "small.txt", 700, PROPERTIES_KIND_NTFS);
    CTestTree::Props(pFile)->SetResident(5000, 0x98);
    CFileNode* pBroken = tree.File(tree.Root(), "broken.txt", 10, PROPERTIES_KIND_NTFS);
    CTestTree::Props(pBroken)->SetResident(5002, 0x12345);
    ASSERT_EQ(0, HandOver(UserRecord(2048), tree));

    STORED_FILE file;
    ASSERT_EQ(0, Access()->GetStoredFile(0, FindPath(Store(), 0, {"Deleted Files", "small.txt"}), &file));
    EXPECT_NE(0u, file.dwFlags & STORED_FILE_RESIDENT);
    EXPECT_EQ(5000u, file.ullResidentSector);
    EXPECT_EQ(0x98u, file.dwResidentOffset);
    EXPECT_EQ(700u, file.ullSize);
    EXPECT_TRUE(file.vecRuns.empty());

    // An offset no FILE record can have is refused, not followed.
    ASSERT_EQ(0, Access()->GetStoredFile(0, FindPath(Store(), 0, {"Deleted Files", "broken.txt"}), &file));
    EXPECT_EQ(0u, file.dwFlags & STORED_FILE_RESIDENT);
    EXPECT_NE(0u, file.dwFlags & STORED_FILE_RUNS_DAMAGED);
    EXPECT_TRUE(file.vecRuns.empty());
}

TEST_F(CorrandRuns, InlineDataPointsIntoItsInode)
{
    // EXT4 inline data: the run names the sector where the inode begins (on the device the tree
    // was built on) and the record's size, the value where the block area lies in that sector.
    // Both go to the resident offset, the size in its upper half.
    struct INLINE_CASE {
        const char* pszName;
        uint64_t ullRecordBytes;
        int32_t nArea;
        bool bKept;
    };
    const INLINE_CASE cases[] = {
        {"second 256-byte inode of a sector", 256, 256 + 40, true},
        {"128-byte inode", 128, 384 + 40, true},
        {"record of no power of two", 384, 40, false},
        {"record past 32 KiB", 65536, 40, false},
        {"block area before the record", 256, 39, false},
        {"block area past its sector", 256, 512 + 40, false},
        {"record not at a multiple of 128 bytes", 256, 64 + 40, false},
    };
    CTestTree tree(0, 2);
    for (const INLINE_CASE& c : cases) {
        CFileNode* pFile = tree.File(tree.Root(), c.pszName, 90, PROPERTIES_KIND_EXT2);
        CTestTree::Props(pFile)->SetResident(700, c.nArea, c.ullRecordBytes);
    }
    ASSERT_EQ(0, HandOver(FoundInPartitionRecord(63, 2048), tree));
    for (const INLINE_CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        STORED_FILE file;
        ASSERT_EQ(0, Access()->GetStoredFile(0, FindPath(Store(), 0, {"Deleted Files", c.pszName}), &file));
        EXPECT_EQ(c.bKept, (file.dwFlags & STORED_FILE_RESIDENT) != 0);
        EXPECT_NE(c.bKept, (file.dwFlags & STORED_FILE_RUNS_DAMAGED) != 0);
        if (c.bKept) {
            EXPECT_EQ(700u, file.ullResidentSector);
            EXPECT_EQ(static_cast<DWORD>(c.ullRecordBytes << 16 | static_cast<uint32_t>(c.nArea)), file.dwResidentOffset);
        }
        EXPECT_TRUE(file.vecRuns.empty());
    }
}

TEST_F(CorrandRuns, EveryRowKeepsItsOwnRunsWhereverItFallsInTheImport)
{
    // Rows are stored many to a statement, with a shorter statement for batches without
    // resident data and one row at a time at the end: 100 files in one folder span all three,
    // with resident files only in the middle.
    CTestTree tree(0, 8);
    CFileNode* pFolder = tree.Folder(tree.Root(), "many");
    for (uint64_t i = 0; i < 100; ++i) {
        CFileNode* pFile = tree.File(pFolder, "file" + std::to_string(i) + ".dat", 1000 + i);
        if (i >= 40 && i <= 50)
            CTestTree::Props(pFile)->SetResident(5000 + i, static_cast<int32_t>(0x98 + i));
        else
            CTestTree::Props(pFile)->SetRuns({{100 + 10 * i, 1 + i % 3}});
    }
    ASSERT_EQ(0, HandOver(UserRecord(2048), tree));

    for (uint64_t i = 0; i < 100; ++i) {
        SCOPED_TRACE(i);
        STORED_FILE file;
        // Each child is linked in first, so the last file made is the first one stored.
        ASSERT_EQ(0, Access()->GetStoredFile(0, static_cast<DWORD>(3 + 99 - i), &file));
        EXPECT_EQ(U16("file" + std::to_string(i) + ".dat"), file.strName);
        EXPECT_EQ(1000 + i, file.ullSize);
        EXPECT_EQ(~0ULL, file.ullValidSize);
        EXPECT_EQ(0u, file.dwCompressionUnitSectors);
        if (i >= 40 && i <= 50) {
            EXPECT_NE(0u, file.dwFlags & STORED_FILE_RESIDENT);
            EXPECT_EQ(5000 + i, file.ullResidentSector);
            EXPECT_EQ(0x98 + i, file.dwResidentOffset);
            EXPECT_TRUE(file.vecRuns.empty());
        } else {
            EXPECT_EQ(0u, file.dwFlags & STORED_FILE_RESIDENT);
            ASSERT_EQ(1u, file.vecRuns.size());
            EXPECT_EQ((100 + 10 * i) * 8, file.vecRuns[0].ullSector);
            EXPECT_EQ((1 + i % 3) * 8, file.vecRuns[0].ullSectors);
        }
    }
    const DWORD dwFolder = FindPath(Store(), 0, {"Deleted Files", "many"});
    EXPECT_EQ(100u, ListAll(Store(), 0, dwFolder, ENUM_KIND_FILES).size());
}

// Where the copy-out reads a result's runs: the volume the engine found for the record (named
// by the fields the engine matches volumes with), or the disk of a whole-disk scan; kept across
// a reopening of the store, since it follows from the stored record.
TEST_F(CorrandRuns, TheSourceNamesTheDeviceThatWasScanned)
{
    PARTITION_INFO_EX floppy = UserRecord(0, FILE_SYSTEM_FAT12, 0xFFFFFFFF);
    floppy.chDriveLetter = 'A';
    floppy.ullTotalSectors = 2880;
    PARTITION_INFO_EX wholeDiskVolume = UserRecord(0, FILE_SYSTEM_NTFS, 3);
    wholeDiskVolume.dwWholeDisk = 1;
    PARTITION_INFO_EX found = FoundInPartitionRecord(63, 14399);
    found.dwDiskNumber = 2;
    found.ullScannedSectors = 32768;
    struct CASE {
        const char* pszName;
        PARTITION_INFO_EX Partition;
        uint64_t ullRootStart;
        STORED_SOURCE Expected;
        uint64_t ullDeviceStart;
        uint64_t ullFirstRunSector;  // of a run at cluster 10, 8 sectors a cluster
    } cases[] = {
        {"quick scan", UserRecord(2048, FILE_SYSTEM_NTFS, 1), 0,
         {STORED_SOURCE_VOLUME, 1, 2048, 1 << 20, 0, 0}, 2048, 80},
        {"floppy", floppy, 0, {STORED_SOURCE_VOLUME, 0xFFFFFFFF, 0, 2880, 0, 'A'}, 0, 80},
        {"whole-disk volume", wholeDiskVolume, 0, {STORED_SOURCE_VOLUME, 3, 0, 1 << 20, 1, 0}, 0, 80},
        {"found in a dynamic volume", found, 63, {STORED_SOURCE_VOLUME, 2, 14399, 32768, 0, 0}, 14399, 63 + 80},
        {"whole disk, tree over the disk", WholeDiskRecord(4096), 4096, {STORED_SOURCE_DISK, 0, 0, 0, 0, 0}, 0,
         4096 + 80},
        {"whole disk, tree over the partition", WholeDiskRecord(4096), 0, {STORED_SOURCE_DISK, 0, 0, 0, 0, 0}, 4096,
         4096 + 80},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTestTree tree(c.ullRootStart, 8);
        CTestTree::Props(tree.File(tree.Root(), "f", 4096))->SetRuns({{10, 1}});
        ASSERT_EQ(0, HandOver(c.Partition, tree));
        for (int nOpen = 0; nOpen < 2; ++nOpen) {
            STORED_VOLUME volume{};
            ASSERT_EQ(0, Access()->GetVolume(0, &volume));
            EXPECT_EQ(c.Expected.dwKind, volume.Source.dwKind);
            EXPECT_EQ(c.Expected.dwDiskNumber, volume.Source.dwDiskNumber);
            EXPECT_EQ(c.Expected.ullStartSector, volume.Source.ullStartSector);
            EXPECT_EQ(c.Expected.ullSectors, volume.Source.ullSectors);
            EXPECT_EQ(c.Expected.dwWholeDisk, volume.Source.dwWholeDisk);
            EXPECT_EQ(c.Expected.chDriveLetter, volume.Source.chDriveLetter);
            EXPECT_EQ(c.ullDeviceStart, volume.ullDeviceStart);
            STORED_FILE file;
            ASSERT_EQ(0, Access()->GetStoredFile(0, 2, &file));
            ASSERT_EQ(1u, file.vecRuns.size());
            EXPECT_EQ(c.ullFirstRunSector, file.vecRuns[0].ullSector);
            Reopen();
        }
    }
}

TEST(CorrandDeviceStart, FollowsTheKindOfRecord)
{
    struct CASE {
        PARTITION_INFO_EX Partition;
        uint64_t ullRootStart;
        uint64_t ullExpected;
    } cases[] = {
        {UserRecord(2048), 0, 2048},
        {UserRecord(2048), 600, 2048},
        {FoundInPartitionRecord(63, 1000), 63, 1000},
        {WholeDiskRecord(5000), 5000, 0},
        {WholeDiskRecord(5000), 0, 5000},
    };
    for (const CASE& c : cases)
        EXPECT_EQ(c.ullExpected, corrand::DeviceStartOfResult(c.Partition, c.ullRootStart));
    // When the engine says which device a whole-disk tree was built on, no start is guessed: a
    // tree of a found partition whose root happens to record the partition's start, and a block
    // scan tree whose root records 0, both come out right.
    PARTITION_INFO_EX onFound = WholeDiskRecord(5000);
    onFound.dwTreeDevice = PARTITION_TREE_ON_FOUND_PARTITION;
    EXPECT_EQ(5000u, corrand::DeviceStartOfResult(onFound, 5000));
    PARTITION_INFO_EX onDisk = WholeDiskRecord(5000);
    onDisk.dwTreeDevice = PARTITION_TREE_ON_DISK;
    EXPECT_EQ(0u, corrand::DeviceStartOfResult(onDisk, 0));

    corrand::CONVERTED_RUNS runs;
    corrand::ConvertRuns(nullptr, PROPERTIES_KIND_NTFS, corrand::RUN_GEOMETRY(), &runs);
    EXPECT_TRUE(runs.vecRuns.empty());
    EXPECT_FALSE(runs.bDamaged);
}

} // namespace
