// Stock-taking before a scan: disks and the volumes the disk table gives, floppies, the order of
// the collected volumes, and the disk descriptions.
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

TEST(VolumeCollection, DisksAndTheirTableVolumes)
{
    devtest::CDeviceTable table;
    const std::string strDisk0 = table.MakeImage("d0.img", 20000 * 512);
    const std::string strDisk1 = table.MakeImage("d1.img", 9000 * 512);
    table.Load("disk " + strDisk0 + " bus=7 vendor=ACME product=Stick\n" +
               "disk " + strDisk1 + "\n" +
               "volume disk=0 start=63 count=5000 fs=NTFS label=Data\n" +
               "volume disk=0 start=6000 count=4000 fs=FAT32 letter=E\n" +
               "volume disk=1 start=2048 count=6000 fs=ext3 letter=D\n" +
               "volume disk=1 start=8500 count=1000 fs=FAT16\n");  // runs past the disk's end
    CDeviceCollection collection;
    collection.Collect();
    ASSERT_EQ(2u, collection.GetDisks().size());
    EXPECT_EQ(0, collection.GetDisks()[0]->GetDiskNumber());
    EXPECT_EQ(1, collection.GetDisks()[1]->GetDiskNumber());
    const CCollectedVolumeList& volumes = collection.GetVolumes();
    ASSERT_EQ(3u, volumes.size());

    EXPECT_EQ('D', volumes[0].chDriveLetter);
    EXPECT_EQ(5u, volumes[0].nFileSystemKind);
    EXPECT_EQ(2048u, volumes[0].Members[0].ullStartSector);
    EXPECT_EQ(6000u, volumes[0].Members[0].ullSectorCount);
    EXPECT_EQ(static_cast<IStorageDevice*>(collection.GetDisks()[1]), volumes[0].Members[0].pDisk);
    EXPECT_EQ(0u, volumes[0].bUsb);

    EXPECT_EQ('E', volumes[1].chDriveLetter);
    EXPECT_EQ(2u, volumes[1].nFileSystemKind);
    EXPECT_EQ(1u, volumes[1].bUsb);
    EXPECT_STREQ("ACME  Stick  USB Device", volumes[1].szDescription);

    EXPECT_EQ(0, volumes[2].chDriveLetter);
    EXPECT_EQ(3u, volumes[2].nFileSystemKind);
    EXPECT_STREQ("Data", volumes[2].szLabel);
    ASSERT_NE(nullptr, volumes[2].pDevice);
    EXPECT_EQ(5000u, volumes[2].pDevice->GetTotalSectors());
    EXPECT_EQ(nullptr, volumes[2].Members[1].pDisk);
    for (const COLLECTED_VOLUME& v : volumes)
        EXPECT_EQ(0u, v.bFloppy);
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
    const std::string strFloppy = table.MakeImage("f.img", 1474560);
    const std::string strFixed = table.MakeImage("fixed.img", 4 << 20);
    {
        table.Load("disk " + strDisk + "\nfloppy A " + strFloppy + " fs=FAT12 label=BOOT\n");
        CDeviceCollection collection;
        collection.Collect();
        ASSERT_EQ(1u, collection.GetVolumes().size());
        const COLLECTED_VOLUME& v = collection.GetVolumes()[0];
        EXPECT_EQ('A', v.chDriveLetter);
        EXPECT_EQ(1u, v.bFloppy);
        EXPECT_EQ(0u, v.nFileSystemKind);
        EXPECT_STREQ("BOOT", v.szLabel);
        ASSERT_NE(nullptr, v.pDevice);
        EXPECT_EQ(2880u, v.pDevice->GetTotalSectors());
    }
    {
        // A: holds fixed media: B: is not looked at.
        table.Load("disk " + strDisk + "\nfloppy A " + strFixed + " media=12\nfloppy B " + strFloppy + "\n");
        CDeviceCollection collection;
        collection.Collect();
        EXPECT_TRUE(collection.GetVolumes().empty());
    }
}

} // namespace
