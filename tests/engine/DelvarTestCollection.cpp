// Stock-taking before a scan: floppies, the order of the collected volumes, and the disk
// descriptions. (The volumes of partition tables and dynamic disks: Collection*Test.cpp.)
#include <cstring>

#include "DelvarTestSupport.h"
#include "DiskDevice.h"
#include "VolumeCollection.h"

using namespace delvartest;

namespace {

COLLECTED_VOLUME Lettered(char chLetter, uint32_t nTag)
{
    COLLECTED_VOLUME v;
    memset(&v, 0, sizeof(v));
    v.chDriveLetter = chLetter;
    v.nDynamicKind = nTag;
    return v;
}

std::vector<uint32_t> Tags(const CCollectedVolumeList& list)
{
    std::vector<uint32_t> tags;
    for (const COLLECTED_VOLUME& v : list)
        tags.push_back(v.nDynamicKind);
    return tags;
}

TEST(VolumeCollectionSort, LetteredVolumesFirstThenTheRestInTheirOrder)
{
    CCollectedVolumeList list = {Lettered(0, 1), Lettered('E', 2), Lettered(0, 3), Lettered('D', 4)};
    CCollectAllBasicPartitionandDynamicVolume::sort(list);
    EXPECT_EQ((std::vector<uint32_t>{4, 2, 1, 3}), Tags(list));

    CCollectedVolumeList unlettered = {Lettered(0, 1), Lettered(0, 2), Lettered(0, 3)};
    CCollectAllBasicPartitionandDynamicVolume::sort(unlettered);
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 3}), Tags(unlettered));
}

TEST(DiskDescription, VendorPlaceholderAndLength)
{
    EXPECT_EQ("ACME  Disk  USB Device", FormatDiskDescription("ACME", "Disk", "USB Device", 49));
    EXPECT_EQ("Disk  ATA Bus", FormatDiskDescription("(Standard disk drives)", "Disk", "ATA Bus", 49));
    EXPECT_EQ("Disk  ", FormatDiskDescription("", "Disk", "", 49));
    EXPECT_EQ("ACME  Di", FormatDiskDescription("ACME", "Disk", "USB", 8));
}

TEST(VolumeCollection, NoDiskNoVolumes)
{
    devtest::CDeviceTable table;
    const std::string strFloppy = table.MakeImage("a.img", 1474560);
    table.Load("floppy A " + strFloppy + " fs=FAT12\n");
    CDeviceCollection collection;
    collection.Collect();
    EXPECT_TRUE(collection.GetDisks().empty());
    EXPECT_TRUE(collection.GetVolumes().empty());
}

TEST(VolumeCollection, FloppiesStopAtTheFirstLetterWithoutOne)
{
    devtest::CDeviceTable table;
    const std::string strDisk = table.MakeImage("d0.img", 4096 * 512);
    // The floppy's kind and label are what its own boot sector says, not what the table claims.
    const std::string strFloppy = rvdtest::FixturePath("fat12.img");
    const std::string strFixed = table.MakeImage("fixed.img", 4 << 20);
    {
        table.Load("disk " + strDisk + "\nfloppy A " + strFloppy + " fs=NTFS label=BOOT\n");
        CDeviceCollection collection;
        collection.Collect();
        // The blank disk is smaller than one cylinder: not even a gap is listed on it.
        ASSERT_EQ(1u, collection.GetVolumes().size());
        const COLLECTED_VOLUME& v = collection.GetVolumes()[0];
        EXPECT_EQ('A', v.chDriveLetter);
        EXPECT_EQ(1u, v.bFloppy);
        EXPECT_EQ(0u, v.nFileSystemKind);
        EXPECT_STREQ("FLOPPY12", v.szLabel);
        ASSERT_NE(nullptr, v.pDevice);
        EXPECT_EQ(2880u, v.pDevice->GetTotalSectors());
    }
    {
        // A: holds fixed media: B: is not looked at.
        table.Load("disk " + strDisk + "\nfloppy A " + strFixed + " media=12\nfloppy B " + strFloppy + "\n");
        CDeviceCollection collection;
        collection.Collect();
        for (const COLLECTED_VOLUME& v : collection.GetVolumes())
            EXPECT_EQ(0u, v.bFloppy);
    }
}

} // namespace
