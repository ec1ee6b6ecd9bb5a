// Volume naming through the mount-point manager: partitions of the table analysis are matched to
// the drive layout by start sector, and those the system mounts receive their GUID path, free
// space and drive letter. Partitions the system does not know keep no name.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeviceTestSupport.h"
#include "DiskDevice.h"
#include "EngineMemory.h"
#include "PartitionTableAnalyze.h"
#include "TestSupport.h"
#include "VolumeCollection.h"
#include "VolumeNaming.h"

namespace {

using rvdtest::FixturePath;

const char kGuidFat16[] = "{5241564e-0000-0000-0000-00000000f016}";
const char kGuidNtfs[] = "{5241564e-0000-0000-0000-00000000a7f5}";

std::u16string Wide(const std::string& str)
{
    return std::u16string(str.begin(), str.end());
}

std::string Narrow(const WCHAR* psz)
{
    std::string str;
    for (; *psz != 0; ++psz)
        str += static_cast<char>(*psz);
    return str;
}

// The partitions of mbr.img as the table analysis lists them, with their devices.
class CMbrEntries {
public:
    explicit CMbrEntries(CDiskDevice* pDisk)
    {
        DISK_GEOMETRY geometry;
        memset(&geometry, 0, sizeof(geometry));
        pDisk->GetGeometry(&geometry);
        CPartitionTableAnalyze().AnalyzePartitionTable(pDisk, m_List, geometry);
    }
    ~CMbrEntries() { FreePartitionEntries(m_List, true); }
    CMbrEntries(const CMbrEntries&) = delete;
    CMbrEntries& operator=(const CMbrEntries&) = delete;

    CPartitionEntryList& List() { return m_List; }
    PARTITION_ENTRY* At(uint64_t u64Start)
    {
        for (PARTITION_ENTRY* p : m_List)
            if (p->u64StartSector == u64Start)
                return p;
        ADD_FAILURE() << "no entry at " << u64Start;
        static PARTITION_ENTRY empty;
        return &empty;
    }

private:
    CPartitionEntryList m_List;
};

// The FAT16 primary at 2048 is mounted at F: with 1 MiB free; the NTFS logical at 53248 only in a
// folder (no letter) with 2 MiB free; the EXT2 primary at 34816 is not known to the system; the
// system's idea of the FAT32 logical starts elsewhere, so it matches no partition of the table.
std::string MountedMbrTable(const std::string& strDiskKeys, const std::string& strExtra = "")
{
    return "disk " + FixturePath("mbr.img") + " " + strDiskKeys + "\n" +
           "volume disk=0 start=2048 count=32768 letter=F free=1048576 guid=" + kGuidFat16 + "\n" +
           "volume disk=0 start=53248 count=32768 free=2097152 guid=" + kGuidNtfs + "\n" +
           "volume disk=0 start=88000 count=81920 letter=H free=1048576\n" + strExtra;
}

TEST(VolumeNaming, LayoutEntriesAreMatchedByTheirByteOffset)
{
    devtest::CDeviceTable table;
    table.Load("disk " + FixturePath("mbr.img") + "\n" +
               "volume disk=0 start=2048 count=32768 partition=3\n" +
               "volume disk=0 start=53248 count=32768 partition=7\n");
    CDiskDevice disk(0);
    ASSERT_TRUE(disk.IsOpen());
    PARTITION_ENTRY first, logical, unknown;
    first.u64StartSector = 2048;      // StartingOffset 1048576
    logical.u64StartSector = 53248;
    unknown.u64StartSector = 34816;   // a partition the system does not list

    void* pEx = nullptr;
    ASSERT_TRUE(disk.QueryDriveLayout(&pEx, rvdplat::kIoctlDiskGetDriveLayoutEx));
    const auto* pLayoutEx = static_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(pEx);
    EXPECT_EQ(3, FindPartitionNumber(&first, pLayoutEx));
    EXPECT_EQ(7, FindPartitionNumber(&logical, pLayoutEx));
    EXPECT_EQ(-1, FindPartitionNumber(&unknown, pLayoutEx));
    EXPECT_EQ(-1, FindPartitionNumber(static_cast<const PARTITION_ENTRY*>(nullptr), pLayoutEx));
    EXPECT_EQ(-1, FindPartitionNumber(&first, static_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(nullptr)));
    FreeBuffer(pEx);

    void* pLegacy = nullptr;
    ASSERT_TRUE(disk.QueryDriveLayout(&pLegacy, rvdplat::kIoctlDiskGetDriveLayout));
    const auto* pLayout = static_cast<const DRIVE_LAYOUT_INFORMATION*>(pLegacy);
    EXPECT_EQ(3, FindPartitionNumber(&first, pLayout));
    EXPECT_EQ(7, FindPartitionNumber(&logical, pLayout));
    EXPECT_EQ(-1, FindPartitionNumber(&unknown, pLayout));
    FreeBuffer(pLegacy);
}

// Either form of the drive layout names the same partitions; without a layout nothing is named.
TEST(VolumeNaming, MountedPartitionsGetTheirGuidPathFreeSpaceAndLetter)
{
    struct CASE {
        const char* pszLayout;
        bool bNamed;
    } cases[] = {{"layout=ex", true}, {"layout=legacy", true}, {"layout=none", false}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszLayout);
        devtest::CDeviceTable table;
        table.Load(MountedMbrTable(c.pszLayout));
        CDiskDevice disk(0);
        ASSERT_TRUE(disk.IsOpen());
        CMbrEntries entries(&disk);
        ASSERT_EQ(4u, entries.List().size());
        CCollectBasicVolume().AssignVolumeNames(&disk, entries.List());

        const PARTITION_ENTRY* pFat16 = entries.At(2048);
        const PARTITION_ENTRY* pNtfs = entries.At(53248);
        if (c.bNamed) {
            EXPECT_EQ('F', pFat16->chDriveLetter);
            EXPECT_EQ("\\\\?\\Volume" + std::string(kGuidFat16), Narrow(pFat16->szVolumeName));
            EXPECT_EQ(1048576u / 512, pFat16->u64FreeSectors);
            // Mounted in a folder only: a name and free space, no letter.
            EXPECT_EQ(0, pNtfs->chDriveLetter);
            EXPECT_EQ("\\\\?\\Volume" + std::string(kGuidNtfs), Narrow(pNtfs->szVolumeName));
            EXPECT_EQ(2097152u / 512, pNtfs->u64FreeSectors);
        } else {
            EXPECT_EQ(0, pFat16->chDriveLetter);
            EXPECT_EQ(0, pFat16->szVolumeName[0]);
            EXPECT_EQ(0u, pFat16->u64FreeSectors);
        }
        for (uint64_t u64Start : {34816ull, 88064ull}) {
            const PARTITION_ENTRY* p = entries.At(u64Start);
            EXPECT_EQ(0, p->chDriveLetter) << u64Start;
            EXPECT_EQ(0, p->szVolumeName[0]) << u64Start;
            EXPECT_EQ(0u, p->u64FreeSectors) << u64Start;
        }
    }
}

TEST(VolumeNaming, NoManagerOrNoDiskNumberLeavesTheRestUnnamed)
{
    devtest::CDeviceTable table;
    table.Load(MountedMbrTable("", "mountmgr fail\n"));
    CDiskDevice disk(0);
    ASSERT_TRUE(disk.IsOpen());
    void* pLayout = nullptr;
    ASSERT_TRUE(disk.QueryDriveLayout(&pLayout, rvdplat::kIoctlDiskGetDriveLayoutEx));
    const auto* pLayoutEx = static_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(pLayout);
    {
        CMbrEntries entries(&disk);
        EXPECT_EQ(0, NameVolumesFromLayoutEx(&disk, pLayoutEx, entries.List()));
        EXPECT_EQ(0, entries.At(2048)->chDriveLetter);
        EXPECT_EQ(0, entries.At(2048)->szVolumeName[0]);
    }
    {
        // A drive beyond those the system can name: the first partition the layout knows stops the
        // naming; a list with no such partition is gone through to the end.
        table.Load(MountedMbrTable(""));
        CDiskDevice unnamed(70);
        EXPECT_EQ(-1, unnamed.GetDiskNumber());
        CMbrEntries entries(&disk);
        EXPECT_EQ(0, NameVolumesFromLayoutEx(&unnamed, pLayoutEx, entries.List()));
        EXPECT_EQ(0, entries.At(2048)->chDriveLetter);
        CPartitionEntryList none;
        EXPECT_EQ(1, NameVolumesFromLayoutEx(&unnamed, pLayoutEx, none));
        EXPECT_EQ(1, NameVolumesFromLayoutEx(&disk, pLayoutEx, entries.List()));
        EXPECT_EQ('F', entries.At(2048)->chDriveLetter);
    }
    FreeBuffer(pLayout);
}

TEST(VolumeNaming, MountPointLinks)
{
    devtest::CDeviceTable table;
    table.Load(MountedMbrTable(""));
    {
        // Several letters: the last one listed stays.
        PARTITION_ENTRY entry;
        ApplyMountPoints(&entry, {u"\\DosDevices\\D:", u"\\DosDevices\\K:"});
        EXPECT_EQ('K', entry.chDriveLetter);
        ApplyMountPoints(&entry, {u"\\DosDevices\\"});
        EXPECT_EQ(0, entry.chDriveLetter);
    }
    {
        // A name longer than the entry holds is cut, and stays terminated; a volume the system
        // has no free space for keeps the count it had.
        PARTITION_ENTRY entry;
        entry.nBytesPerSector = 512;
        entry.u64FreeSectors = 77;
        const std::u16string strLong = u"\\??\\Volume{" + std::u16string(200, u'x') + u"}";
        ApplyMountPoints(&entry, {strLong});
        EXPECT_EQ(VOLUME_NAME_CHARS, std::char_traits<char16_t>::length(entry.szVolumeName));
        EXPECT_EQ(u'\\', entry.szVolumeName[1]);
        EXPECT_EQ(77u, entry.u64FreeSectors);
    }
    {
        // A name ends at its first NUL; a link of neither kind changes nothing; no bytes per
        // sector known: the free count stays.
        PARTITION_ENTRY entry;
        std::u16string strVolume = Wide(std::string("\\??\\Volume") + kGuidFat16);
        ApplyMountPoints(&entry, {strVolume + u'\0' + u"junk", u"\\GLOBAL??\\X:"});
        EXPECT_EQ("\\\\?\\Volume" + std::string(kGuidFat16), Narrow(entry.szVolumeName));
        EXPECT_EQ(0, entry.chDriveLetter);
        EXPECT_EQ(0u, entry.u64FreeSectors);
    }
}

} // namespace
