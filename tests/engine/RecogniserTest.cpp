// Volume recognisers: every single-file-system fixture against blkid and the file system's own
// tool; what an empty, unreadable or damaged start sector gives; the label copy rules; the
// label taken from the root directory rather than the boot sector.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeviceTestSupport.h"
#include "DiskDevice.h"
#include "PartitionTestSupport.h"
#include "TestSupport.h"
#include "VolumeAnalyzeList.h"
#include "ext2/Ext2Volume.h"
#include "fat/FatVolumeAnalyze.h"
#include "ntfs/NtfsVolumeAnalyze.h"

using devtest::CDeviceTable;
using parttest::CMemoryDisk;

namespace {

std::string Label(IVolume* pVolume)
{
    char szLabel[101];
    memset(szLabel, 0, sizeof(szLabel));
    pVolume->GetVolumeLabel(szLabel, 100);
    return szLabel;
}

// A copy of a fixture image in a scratch folder, to be damaged.
std::string CopyFixture(const rvdtest::CTempDir& dir, const std::string& strName)
{
    const std::string strCopy = dir.File(strName);
    parttest::Capture("cp --sparse=always " + parttest::Quote(rvdtest::FixturePath(strName)) + " " + parttest::Quote(strCopy));
    return strCopy;
}

void Poke(const std::string& strPath, uint64_t u64Offset, const std::vector<uint8_t>& vecBytes)
{
    FILE* pFile = fopen(strPath.c_str(), "r+b");
    ASSERT_NE(nullptr, pFile);
    ASSERT_EQ(0, fseeko(pFile, static_cast<off_t>(u64Offset), SEEK_SET));
    ASSERT_EQ(vecBytes.size(), fwrite(vecBytes.data(), 1, vecBytes.size(), pFile));
    fclose(pFile);
}

class RecogniserFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(RecogniserFixture, MatchesTheTools)
{
    const std::string strImage = rvdtest::FixturePath(GetParam());
    CDeviceTable table;
    table.Load("disk " + strImage + "\n");
    CDiskDevice disk(0);
    ASSERT_TRUE(disk.IsOpen());
    const parttest::TOOL_VOLUME tool = parttest::ToolVolume(strImage, 0, disk.GetTotalSectors(), "");
    ASSERT_NE(7u, tool.nKind);

    CVolumeAnalyzeList list(&disk, 0);
    IVolume* pVolume = list.GetVolume();
    ASSERT_NE(nullptr, pVolume);
    EXPECT_EQ(static_cast<int>(tool.nKind), pVolume->GetFileSystemType());
    EXPECT_EQ(tool.strLabel, Label(pVolume));
    EXPECT_EQ(static_cast<int>(tool.nSectorsPerCluster), pVolume->GetSectorsPerCluster());
    EXPECT_EQ(static_cast<int>(tool.nBytesPerSector), pVolume->GetBytesPerSector());
    if (tool.nKind == 3) {
        // The boot sector counts every sector but the backup boot sector; the tool whole clusters.
        EXPECT_GE(pVolume->GetTotalSectors(), tool.u64TotalSectors);
        EXPECT_LT(pVolume->GetTotalSectors(), tool.u64TotalSectors + tool.nSectorsPerCluster);
        EXPECT_EQ(disk.GetTotalSectors() - 1, pVolume->GetTotalSectors());
    } else {
        EXPECT_EQ(tool.u64TotalSectors, pVolume->GetTotalSectors());
    }
    if (tool.nKind <= 2) {
        EXPECT_EQ(static_cast<int>(tool.nSectorsPerTrack), pVolume->GetSectorsPerTrack());
    }
    if (tool.nKind >= 4) {
        EXPECT_EQ(0, pVolume->GetSectorsPerTrack());
    }

    // The list hands back the recogniser of the family: NTFS, FAT, EXT2 in that order.
    if (tool.nKind == 3) {
        EXPECT_NE(nullptr, dynamic_cast<CNtfsVolumeAnalyze*>(pVolume));
    } else if (tool.nKind <= 2) {
        EXPECT_NE(nullptr, dynamic_cast<CFatVolumeAnalyze*>(pVolume));
    } else {
        EXPECT_NE(nullptr, dynamic_cast<CExt2Volume*>(pVolume));
    }
}

INSTANTIATE_TEST_SUITE_P(Recogniser, RecogniserFixture,
                         ::testing::Values("fat12.img", "fat16.img", "fat32.img", "ntfs.img", "ntfs-c512.img",
                                           "ntfs-c64k.img", "ntfs-c128k.img", "hostile.img", "ext2-1k-128.img", "ext2-1k-256.img",
                                           "ext2-4k-128.img", "ext2-4k-256.img", "ext3-1k-128.img",
                                           "ext3-1k-256.img", "ext3-4k-128.img", "ext3-4k-256.img"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string strName = info.param;
                             std::replace_if(strName.begin(), strName.end(),
                                             [](char ch) { return !isalnum(static_cast<unsigned char>(ch)); }, '_');
                             return strName;
                         });

// The defaults of a FAT or NTFS recogniser that found nothing.
void ExpectDefaults(IVolume* pVolume)
{
    EXPECT_EQ(7, pVolume->GetFileSystemType());
    EXPECT_EQ(0u, pVolume->GetTotalSectors());
    EXPECT_EQ(512, pVolume->GetBytesPerSector());
    EXPECT_EQ(8, pVolume->GetSectorsPerCluster());
    EXPECT_EQ(0, pVolume->GetSectorsPerTrack());
    EXPECT_EQ("", Label(pVolume));
}

TEST(Recogniser, NothingAtTheSector)
{
    CMemoryDisk disk(100000);
    CVolumeAnalyzeList list(&disk, 2048);
    IVolume* pVolume = list.GetVolume();
    // The last recogniser tried comes back, with type 7.
    ASSERT_NE(nullptr, pVolume);
    EXPECT_NE(nullptr, dynamic_cast<CExt2Volume*>(pVolume));
    EXPECT_EQ(7, pVolume->GetFileSystemType());

    CFatVolumeAnalyze fat(&disk, 2048);
    ExpectDefaults(&fat);
    CNtfsVolumeAnalyze ntfs(&disk, 2048);
    ExpectDefaults(&ntfs);
}

TEST(Recogniser, FailedReadsFindNothing)
{
    // The boot sector is good, but the sector cannot be read (or there is no device at all).
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("fat16.img"));
    for (uint64_t u64Bad : {0ull, 3ull}) {
        CMemoryDisk disk(image.size() / 512);
        disk.Write(0, std::vector<uint8_t>(image.begin(), image.begin() + 64 * 1024));
        disk.MarkBad(u64Bad);
        CFatVolumeAnalyze fat(&disk, 0);
        ExpectDefaults(&fat);
    }
    const std::vector<uint8_t> ntfsImage = rvdtest::ReadFileBytes(rvdtest::FixturePath("ntfs.img"));
    CMemoryDisk disk(ntfsImage.size() / 512);
    disk.Write(0, std::vector<uint8_t>(ntfsImage.begin(), ntfsImage.begin() + 512));
    disk.MarkBad(0);
    CNtfsVolumeAnalyze ntfs(&disk, 0);
    ExpectDefaults(&ntfs);

    CFatVolumeAnalyze noFat(nullptr, 0);
    ExpectDefaults(&noFat);
    CNtfsVolumeAnalyze noNtfs(nullptr, 0);
    ExpectDefaults(&noNtfs);
    CVolumeAnalyzeList list(nullptr, 0);
    ASSERT_NE(nullptr, list.GetVolume());
    EXPECT_EQ(7, list.GetVolume()->GetFileSystemType());
}

TEST(Recogniser, LabelCopyLengths)
{
    CDeviceTable table;
    table.Load("disk " + rvdtest::FixturePath("ntfs.img") + "\n");
    CDiskDevice disk(0);
    CNtfsVolumeAnalyze ntfs(&disk, 0);
    ASSERT_EQ(3, ntfs.GetFileSystemType());

    // Above 100 bytes: exactly the 100 bytes of the label buffer.
    std::vector<char> big(200, 'x');
    ntfs.GetVolumeLabel(big.data(), 200);
    EXPECT_STREQ("NTFS4K", big.data());
    EXPECT_EQ(0, big[99]);
    EXPECT_EQ('x', big[100]);
    // Below the label's length: that many bytes, and no terminator added.
    char aSmall[6];
    memset(aSmall, 'x', sizeof(aSmall));
    ntfs.GetVolumeLabel(aSmall, 3);
    EXPECT_EQ(0, memcmp(aSmall, "NTFxxx", 6));
}

TEST(Recogniser, FatLabelComesFromTheRootDirectory)
{
    // The label entry of the root directory is deleted; the boot sector still names the volume.
    rvdtest::CTempDir dir;
    const std::string strImage = CopyFixture(dir, "fat16.img");
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(strImage);
    const uint64_t u64Root = (image[14] | (image[15] << 8)) + image[16] * static_cast<uint64_t>(image[22] | (image[23] << 8));
    bool bFound = false;
    for (uint64_t u64Offset = u64Root * 512; u64Offset < u64Root * 512 + 16384; u64Offset += 32) {
        if (image[u64Offset] != 0 && image[u64Offset] != 0xE5 && image[u64Offset + 11] == 0x08) {
            Poke(strImage, u64Offset, {0xE5});
            bFound = true;
            break;
        }
    }
    ASSERT_TRUE(bFound);
    EXPECT_EQ("FAT16VOL", parttest::BlkidValue(strImage, 0, "LABEL_FATBOOT"));

    CDeviceTable table;
    table.Load("disk " + strImage + "\n");
    CDiskDevice disk(0);
    CVolumeAnalyzeList list(&disk, 0);
    ASSERT_EQ(1, list.GetVolume()->GetFileSystemType());
    EXPECT_EQ("", Label(list.GetVolume()));
}

TEST(Recogniser, DamagedStartFindsNothing)
{
    // A zeroed boot sector (FAT, NTFS) or superblock (EXT): nothing recognises the volume.
    struct Case {
        const char* pszImage;
        uint64_t u64Offset;
    };
    const Case cases[] = {{"fat12.img", 0}, {"fat32.img", 0}, {"ntfs.img", 0}, {"ext2-1k-128.img", 1024},
                          {"ext3-4k-256.img", 1024}};
    rvdtest::CTempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszImage);
        const std::string strImage = CopyFixture(dir, c.pszImage);
        Poke(strImage, c.u64Offset, std::vector<uint8_t>(c.u64Offset == 0 ? 512 : 1024, 0));
        CDeviceTable table;
        table.Load("disk " + strImage + "\n");
        CDiskDevice disk(0);
        CVolumeAnalyzeList list(&disk, 0);
        ASSERT_NE(nullptr, list.GetVolume());
        EXPECT_EQ(7, list.GetVolume()->GetFileSystemType());
        EXPECT_EQ("", Label(list.GetVolume()));
    }
}

TEST(Recogniser, VolumeAtAStartSectorOfADisk)
{
    // Recognisers read through the disk at the partition's start: labels and sizes of the
    // partitions of the MBR fixture, as its partition list gives them.
    CDeviceTable table;
    table.Load("disk " + rvdtest::FixturePath("mbr.img") + "\n");
    CDiskDevice disk(0);
    for (const rvdtest::PartitionEntry& part : rvdtest::ReadPartitions("mbr.img")) {
        if (part.strFileSystem.empty() || part.strFileSystem == "-")
            continue;
        SCOPED_TRACE(part.strFileSystem);
        CVolumeAnalyzeList list(&disk, part.nStart);
        IVolume* pVolume = list.GetVolume();
        ASSERT_NE(nullptr, pVolume);
        EXPECT_EQ(static_cast<int>(parttest::BlkidKind(rvdtest::FixturePath("mbr.img"), part.nStart * 512)),
                  pVolume->GetFileSystemType());
        EXPECT_EQ(part.strLabel, Label(pVolume));
        EXPECT_LE(pVolume->GetTotalSectors(), part.nCount);
        EXPECT_GT(pVolume->GetTotalSectors(), part.nCount - 8);
    }
}

} // namespace
