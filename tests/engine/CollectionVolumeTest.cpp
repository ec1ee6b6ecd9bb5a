// The stock-taking before a scan over real disks: an MBR disk and a GPT disk made by sfdisk, the
// two dynamic-disk sets of make-dynamic.py and a 1.44 MB floppy. Every volume comes out with its
// kind, start, count, file system and label, lettered volumes first, and every stage is logged.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <map>
#include <tuple>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeviceTestSupport.h"
#include "DiskInfo.h"
#include "DiskDevice.h"
#include "DynamicDiskTestSupport.h"
#include "IDynamicDevice.h"
#include "LdmDatabaseReader.h"
#include "TestSupport.h"
#include "Veskel.h"
#include "VolumeCollection.h"

namespace {

using rvdtest::FixturePath;

// Points the engine log at a scratch file for one scope.
class CLogCapture {
public:
    explicit CLogCapture(const std::string& strPath) : m_strPath(strPath)
    {
        setenv("RAVENDO_LOG_FILE", strPath.c_str(), 1);
        CloseLog();
    }
    ~CLogCapture()
    {
        unsetenv("RAVENDO_LOG_FILE");
        CloseLog();
    }
    std::vector<std::string> Lines() const
    {
        CloseLog();
        std::ifstream file(m_strPath);
        std::vector<std::string> lines;
        std::string strLine;
        while (std::getline(file, strLine)) {
            // "YYYY-MM-DD HH:MM:SS.mmm [thread] LEVEL text": keep the text.
            const size_t nLevel = strLine.find("] ");
            const size_t nAfterLevel = nLevel == std::string::npos ? std::string::npos : strLine.find(' ', nLevel + 2);
            const size_t nText = nAfterLevel == std::string::npos ? std::string::npos
                                                                  : strLine.find_first_not_of(' ', nAfterLevel);
            lines.push_back(nText == std::string::npos ? strLine : strLine.substr(nText));
        }
        return lines;
    }

private:
    std::string m_strPath;
};

bool HasLine(const std::vector<std::string>& lines, const std::string& strLine)
{
    for (const std::string& s : lines)
        if (s == strLine)
            return true;
    return false;
}

std::string Format(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* pszFormat, ...)
{
    char szText[2048];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szText, sizeof(szText), pszFormat, args);
    va_end(args);
    return szText;
}

// What one collected volume should be.
struct EXPECTED_VOLUME {
    char chLetter;
    uint32_t nDynamicKind;
    uint32_t nKind;
    int nDisk;              // drive number of member slot 0; -1 for the floppy
    uint64_t u64Start;      // member slot 0's start
    uint64_t u64Sectors;    // the device's size
    const char* pszLabel;
};

std::string Describe(const COLLECTED_VOLUME& v, const CDiskDeviceList& disks)
{
    int nDisk = -1;
    for (CDiskDevice* pDisk : disks)
        if (static_cast<IStorageDevice*>(pDisk) == v.Members[0].pDisk)
            nDisk = pDisk->GetDiskNumber();
    std::ostringstream s;
    s << "letter " << (v.chDriveLetter != 0 ? v.chDriveLetter : '-') << " dyn " << v.nDynamicKind << " kind "
      << v.nFileSystemKind << " disk " << nDisk << " start " << v.Members[0].ullStartSector << " sectors "
      << (v.pDevice != nullptr ? v.pDevice->GetTotalSectors() : 0) << " label \"" << v.szLabel << "\"";
    return s.str();
}

std::string Describe(const EXPECTED_VOLUME& e)
{
    std::ostringstream s;
    s << "letter " << (e.chLetter != 0 ? e.chLetter : '-') << " dyn " << e.nDynamicKind << " kind " << e.nKind
      << " disk " << e.nDisk << " start " << e.u64Start << " sectors " << e.u64Sectors << " label \"" << e.pszLabel
      << "\"";
    return s.str();
}

// Drive numbers in the table below: 0 mbr.img, 1 gpt.img, 2-4 dyn-mbr-1..3, 5-7 dyn-gpt-1..3.
const int kDynMbrFirstDrive = 2;
const int kDynGptFirstDrive = 5;

std::string DynamicSetDiskLines(const dyntest::DynSet& set, const char* pszProduct)
{
    std::string strLines;
    for (const dyntest::DynDisk& disk : set.disks)
        strLines += "disk " + FixturePath(disk.strImage) + " bus=1 product=" + pszProduct + std::to_string(disk.nNumber) + "\n";
    return strLines;
}

// The "{...}" form of a manifest's "\\?\Volume{...}\" path, for a table line.
std::string GuidOf(const std::string& strGuidPath)
{
    const size_t nOpen = strGuidPath.find('{');
    const size_t nClose = strGuidPath.find('}');
    return strGuidPath.substr(nOpen, nClose - nOpen + 1);
}

class CollectionOfFixtures : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_MbrSet = dyntest::ReadDynamicSet("dyn-mbr");
        m_GptSet = dyntest::ReadDynamicSet("dyn-gpt");
    }

    // The whole machine: every disk, the letters the system gives (two basic volumes through the
    // mount-point manager, one dynamic volume through its device name, one through its GUID), and
    // the floppy.
    std::string MachineTable() const
    {
        return "disk " + FixturePath("mbr.img") + " bus=7 vendor=ACME product=Stick\n" +
               "disk " + FixturePath("gpt.img") + " bus=3 vendor=\"(Standard disk drives)\" product=GptDisk\n" +
               DynamicSetDiskLines(m_MbrSet, "DynMbr") + DynamicSetDiskLines(m_GptSet, "DynGpt") +
               "floppy A " + FixturePath("fat12.img") + "\n" +
               "volume disk=0 start=2048 count=32768 letter=F\n" +
               "volume disk=0 start=53248 count=32768\n" +
               "volume disk=1 start=83968 count=32768 letter=C\n" +
               "volume letter=E dosname=\\Device\\HarddiskDmVolumes\\" + m_MbrSet.strGroupName + "\\Volume1\n" +
               "volume letter=G guid=" + GuidOf(m_MbrSet.Volume(DYNAMIC_KIND_STRIPED).strGuidPath) + "\n";
    }

    dyntest::DynSet m_MbrSet;
    dyntest::DynSet m_GptSet;
};

TEST_F(CollectionOfFixtures, ListsEveryVolumeInOrderWithItsKindPlaceAndLabel)
{
    devtest::CDeviceTable table;
    table.Load(MachineTable());
    CDeviceCollection collection;
    collection.Collect();
    ASSERT_EQ(8u, collection.GetDisks().size());

    // Lettered volumes by letter, then the others as they were collected: basic volumes disk by
    // disk in start order (the dynamic disks have none: their table only holds the database's
    // containers), then the dynamic volumes in database order. The EXT2 volume on dynamic disks
    // has no label: only FAT and NTFS labels are read there.
    const EXPECTED_VOLUME expected[] = {
        {'A', 0, FILE_SYSTEM_FAT12, -1, 0, 2880, "FLOPPY12"},
        {'C', 0, FILE_SYSTEM_NTFS, 1, 83968, 32768, "GPT NTFS"},
        {'E', DYNAMIC_KIND_SIMPLE, FILE_SYSTEM_FAT12, 2, 63, 2880, "FLOPPY12"},
        {'F', 0, FILE_SYSTEM_FAT16, 0, 2048, 32768, "MBR FAT16"},
        {'G', DYNAMIC_KIND_STRIPED, FILE_SYSTEM_NTFS, 2, 14399, 32768, "NTFS4K"},
        {0, 0, FILE_SYSTEM_EXT2, 0, 34816, 16384, "mbr-ext2"},
        {0, 0, FILE_SYSTEM_NTFS, 0, 53248, 32768, "MBR NTFS"},
        {0, 0, FILE_SYSTEM_FAT32, 0, 88064, 81920, "MBR FAT32"},
        {0, 0, FILE_SYSTEM_FAT32, 1, 2048, 81920, "GPT FAT32"},
        {0, DYNAMIC_KIND_SPANNED, FILE_SYSTEM_EXT2, 2, 4159, 32768, ""},
        {0, DYNAMIC_KIND_MIRROR, FILE_SYSTEM_FAT16, 4, 63, 32768, "FAT16VOL"},
        {0, DYNAMIC_KIND_RAID5, FILE_SYSTEM_FAT32, 2, 30783, 81920, "FAT32VOL"},
        {0, DYNAMIC_KIND_SIMPLE, FILE_SYSTEM_FAT12, 5, 4096, 2880, "FLOPPY12"},
        {0, DYNAMIC_KIND_SPANNED, FILE_SYSTEM_EXT2, 5, 8192, 32768, ""},
        {0, DYNAMIC_KIND_STRIPED, FILE_SYSTEM_NTFS, 5, 18432, 32768, "NTFS4K"},
        {0, DYNAMIC_KIND_MIRROR, FILE_SYSTEM_FAT16, 7, 4096, 32768, "FAT16VOL"},
        {0, DYNAMIC_KIND_RAID5, FILE_SYSTEM_FAT32, 5, 34816, 81920, "FAT32VOL"},
    };
    const CCollectedVolumeList& volumes = collection.GetVolumes();
    std::vector<std::string> vecGot, vecWant;
    for (const COLLECTED_VOLUME& v : volumes)
        vecGot.push_back(Describe(v, collection.GetDisks()));
    for (const EXPECTED_VOLUME& e : expected)
        vecWant.push_back(Describe(e));
    EXPECT_EQ(vecWant, vecGot);

    for (const COLLECTED_VOLUME& v : volumes) {
        ASSERT_NE(nullptr, v.pDevice);
        EXPECT_EQ(v.chDriveLetter == 'A' ? 1u : 0u, v.bFloppy);
        if (v.nDynamicKind == 0 && v.bFloppy == 0) {
            // A basic volume: one member, the partition window on its disk.
            EXPECT_EQ(v.pDevice->GetTotalSectors(), v.Members[0].ullSectorCount);
            EXPECT_EQ(nullptr, v.Members[1].pDisk);
            const bool bOnUsbDisk = v.Members[0].pDisk == collection.GetDisks()[0];
            EXPECT_EQ(bOnUsbDisk ? 1u : 0u, v.bUsb);
            EXPECT_STREQ(bOnUsbDisk ? "ACME  Stick  USB Device" : "GptDisk  ATA Bus", v.szDescription);
        }
    }
}

// The member slots and the description of every dynamic volume: one slot per extent, on the
// disk and at the sector the manifest gives, and one line per member naming its disk.
TEST_F(CollectionOfFixtures, DynamicVolumesRecordEveryMemberAndItsDisk)
{
    devtest::CDeviceTable table;
    table.Load(MachineTable());
    CDeviceCollection collection;
    collection.Collect();
    const CDiskDeviceList& disks = collection.GetDisks();
    ASSERT_EQ(8u, disks.size());

    struct SET_ON_DRIVES {
        const dyntest::DynSet* pSet;
        int nFirstDrive;
        const char* pszProduct;
    } sets[] = {{&m_MbrSet, kDynMbrFirstDrive, "DynMbr"}, {&m_GptSet, kDynGptFirstDrive, "DynGpt"}};
    int nChecked = 0;
    for (const SET_ON_DRIVES& s : sets) {
        for (const dyntest::DynVolume& want : s.pSet->volumes) {
            typedef std::tuple<int, uint64_t, uint64_t> MEMBER;
            std::vector<MEMBER> vecWant;
            std::vector<std::string> vecWantLines;
            for (const dyntest::DynExtent& e : want.extents) {
                vecWant.emplace_back(s.nFirstDrive + e.nDisk - 1, e.u64Start, e.u64Count);
                vecWantLines.push_back(std::string(s.pszProduct) + std::to_string(e.nDisk) + "  SCSI Disk Device");
            }
            std::sort(vecWant.begin(), vecWant.end());
            std::sort(vecWantLines.begin(), vecWantLines.end());

            // The collected volume of this set and kind: its first member lies on the set's drives.
            const COLLECTED_VOLUME* pFound = nullptr;
            for (const COLLECTED_VOLUME& v : collection.GetVolumes()) {
                if (v.nDynamicKind != static_cast<uint32_t>(want.nKind) || v.Members[0].pDisk == nullptr)
                    continue;
                const int nDrive = static_cast<CDiskDevice*>(v.Members[0].pDisk)->GetDiskNumber();
                if (nDrive >= s.nFirstDrive && nDrive < s.nFirstDrive + 3)
                    pFound = &v;
            }
            ASSERT_NE(nullptr, pFound) << s.pSet->strName << " " << want.strName;
            std::vector<MEMBER> vecGot;
            for (const COLLECTED_MEMBER& m : pFound->Members) {
                if (m.pDisk == nullptr)
                    continue;
                vecGot.emplace_back(static_cast<CDiskDevice*>(m.pDisk)->GetDiskNumber(), m.ullStartSector,
                                    m.ullSectorCount);
            }
            std::sort(vecGot.begin(), vecGot.end());
            EXPECT_EQ(vecWant, vecGot) << s.pSet->strName << " " << want.strName;

            std::vector<std::string> vecLines;
            std::stringstream text(pFound->szDescription);
            std::string strLine;
            while (std::getline(text, strLine, '\n'))
                vecLines.push_back(strLine);
            std::sort(vecLines.begin(), vecLines.end());
            EXPECT_EQ(vecWantLines, vecLines) << s.pSet->strName << " " << want.strName;
            EXPECT_NE('\n', pFound->szDescription[strlen(pFound->szDescription) - 1]);
            EXPECT_EQ(want.u64Sectors, pFound->pDevice->GetTotalSectors());
            EXPECT_EQ(0u, pFound->bUsb);
            ++nChecked;
        }
    }
    EXPECT_EQ(10, nChecked);
}

TEST_F(CollectionOfFixtures, LogsTheDiskBasicAndDynamicTables)
{
    devtest::CDeviceTable table;
    table.Load(MachineTable());
    CLogCapture log(table.File("engine.log"));
    {
        CDeviceCollection collection;
        collection.Collect();
    }
    const std::vector<std::string> lines = log.Lines();
    const std::string strDashes(106, '-');

    EXPECT_TRUE(HasLine(lines, strDashes));
    EXPECT_TRUE(HasLine(lines, "Disk    TotalSectors       Cylinders    Heads    Sectors/Track     DIskInfo"));
    EXPECT_TRUE(HasLine(lines, Format("%d  %16" PRId64 "  %10" PRId64 "  %10d   %16d   %30s", 0, int64_t(169984),
                                      int64_t(10), 255, 63, "ACME  Stick  USB Device")));
    EXPECT_TRUE(HasLine(lines, Format("%d  %16" PRId64 "  %10" PRId64 "  %10d   %16d   %30s", 7, int64_t(131072),
                                      int64_t(8), 255, 63, "DynGpt3  SCSI Disk Device")));

    EXPECT_TRUE(HasLine(lines, "-----------------------------begin collect basic volume-----------------------------------"));
    EXPECT_TRUE(HasLine(lines, "DriverLetter   FileSystem  StartSector     TotalSectors     ParentDisk: Disk      VolumeLabel"));
    EXPECT_TRUE(HasLine(lines, Format("%c  %16s  %16" PRId64 "  %16" PRId64 "  %16d  %20s", 'F', "FAT16", int64_t(2048),
                                      int64_t(32768), 0, "MBR FAT16")));
    EXPECT_TRUE(HasLine(lines, Format("%c  %16s  %16" PRId64 "  %16" PRId64 "  %16d  %20s", '*', "EXT2", int64_t(34816),
                                      int64_t(16384), 0, "mbr-ext2")));
    EXPECT_TRUE(HasLine(lines, Format("%c  %16s  %16" PRId64 "  %16" PRId64 "  %16d  %20s", 'C', "NTFS", int64_t(83968),
                                      int64_t(32768), 1, "GPT NTFS")));
    EXPECT_TRUE(HasLine(lines, "-----------------------------end collect basic volume-----------------------------------"));

    EXPECT_TRUE(HasLine(lines, "-----------------------------begin collect dynamic volume-----------------------------------"));
    EXPECT_TRUE(HasLine(lines, "DriverLetter   FileSystem   DynamicVolumeType   TotalSectors       VolumeLabel      ParentDiskInfo"));
    EXPECT_TRUE(HasLine(lines, Format("%c  %16s  %16s  %16" PRId64 "  %20s  %50s", 'E', "FAT12", "SIMPLE", int64_t(2880),
                                      "FLOPPY12", "DynMbr1  SCSI Disk Device")));
    // A description of several disks holds one line per disk; the log line breaks with it.
    const std::string strStriped = Format("%c  %16s  %16s  %16" PRId64 "  %20s  %50s", 'G', "NTFS", "STRIPPED",
                                          int64_t(32768), "NTFS4K", "DynMbr1  SCSI Disk Device\nDynMbr2  SCSI Disk Device");
    const size_t nBreak = strStriped.find('\n');
    ASSERT_NE(std::string::npos, nBreak);
    EXPECT_TRUE(HasLine(lines, strStriped.substr(0, nBreak)));
    EXPECT_TRUE(HasLine(lines, strStriped.substr(nBreak + 1)));
    EXPECT_TRUE(HasLine(lines, "-----------------------------end collect dynamic volume-------------------------------------"));

    // The stages in their order.
    auto Position = [&](const std::string& strStart) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].compare(0, strStart.size(), strStart) == 0)
                return i;
        return lines.size();
    };
    EXPECT_LT(Position("Disk    TotalSectors"), Position("-----------------------------begin collect basic"));
    EXPECT_LT(Position("-----------------------------end collect basic"), Position("-----------------------------begin collect dynamic"));
    EXPECT_LT(Position("-----------------------------end collect dynamic"), lines.size());
}

// A member disk that is not there: the RAID-5 volume is still collected (it reads through parity)
// and so are the spanned and mirrored ones; their member slots and descriptions hold the disks
// that are present.
TEST_F(CollectionOfFixtures, VolumesWithAMissingMemberKeepThePresentMembers)
{
    devtest::CDeviceTable table;
    table.Load(dyntest::DiskLines(m_MbrSet, {1, 2}));
    CDeviceCollection collection;
    collection.Collect();
    ASSERT_EQ(2u, collection.GetDisks().size());

    std::map<uint32_t, const COLLECTED_VOLUME*> byKind;
    for (const COLLECTED_VOLUME& v : collection.GetVolumes())
        byKind[v.nDynamicKind] = &v;
    ASSERT_EQ(5u, byKind.size());

    auto Members = [](const COLLECTED_VOLUME& v) {
        int n = 0;
        for (const COLLECTED_MEMBER& m : v.Members)
            n += m.pDisk != nullptr ? 1 : 0;
        return n;
    };
    const COLLECTED_VOLUME& raid5 = *byKind.at(DYNAMIC_KIND_RAID5);
    EXPECT_EQ(2, Members(raid5));
    EXPECT_EQ(FILE_SYSTEM_FAT32, raid5.nFileSystemKind);
    EXPECT_STREQ("FAT32VOL", raid5.szLabel);
    EXPECT_EQ(81920u, raid5.pDevice->GetTotalSectors());
    EXPECT_TRUE(dyntest::ReadsBackAs(raid5.pDevice, "fat32.img"));
    EXPECT_EQ(2, Members(*byKind.at(DYNAMIC_KIND_SPANNED)));
    EXPECT_EQ(1, Members(*byKind.at(DYNAMIC_KIND_MIRROR)));
    EXPECT_STREQ("FAT16VOL", byKind.at(DYNAMIC_KIND_MIRROR)->szLabel);
    EXPECT_EQ(2, Members(*byKind.at(DYNAMIC_KIND_STRIPED)));
    EXPECT_EQ(1, Members(*byKind.at(DYNAMIC_KIND_SIMPLE)));
    EXPECT_EQ(nullptr, strchr(byKind.at(DYNAMIC_KIND_MIRROR)->szDescription, '\n'));
    EXPECT_NE(nullptr, strchr(raid5.szDescription, '\n'));
}
// Unallocated space of at least a cylinder is collected too, as a volume of unknown kind, so that
// it can be searched like a partition.
TEST(CollectionOfGaps, UnallocatedSpaceIsCollectedAfterThePartitions)
{
    devtest::CDeviceTable table;
    const std::string strImage = table.MakeImage("gap.img", 40000 * 512);
    const std::string strCommand = "printf 'label: dos\\nunit: sectors\\nstart=2048, size=8000, type=c\\n' | "
                                   "sfdisk --no-reread --no-tell-kernel -q '" + strImage + "' >/dev/null 2>&1";
    ASSERT_EQ(0, system(strCommand.c_str()));
    table.Load("disk " + strImage + "\n");
    CDeviceCollection collection;
    collection.Collect();
    const CCollectedVolumeList& volumes = collection.GetVolumes();
    ASSERT_EQ(2u, volumes.size());
    EXPECT_EQ(Describe(EXPECTED_VOLUME{0, 0, FILE_SYSTEM_UNKNOWN, 0, 2048, 8000, ""}),
              Describe(volumes[0], collection.GetDisks()));
    // The space before the partition is less than a cylinder (255 x 63 sectors): no gap there.
    EXPECT_EQ(Describe(EXPECTED_VOLUME{0, 0, FILE_SYSTEM_UNKNOWN, 0, 10048, 29952, ""}),
              Describe(volumes[1], collection.GetDisks()));
}

// A dynamic volume of more members than a record holds: a device that only reports members.
class CManyMembersDevice : public IDynamicDevice {
public:
    explicit CManyMembersDevice(const std::vector<IStorageDevice*>& disks, size_t nExtents)
    {
        for (size_t i = 0; i < nExtents; ++i) {
            LDM_EXTENT extent;
            memset(&extent, 0, sizeof(extent));
            extent.nPartitionIndex = static_cast<uint32_t>(i);
            extent.u64DiskStart = 1000 + i;
            extent.u64VolumeOffset = 100 * i;
            extent.u64Length = 100;
            // Every fifth extent is on a disk that is not there.
            extent.pDisk = i % 5 == 4 ? nullptr : disks[i % disks.size()];
            m_Extents.push_back(extent);
        }
    }
    int ReadSectors(void*, uint64_t, uint64_t) override { return 0; }
    uint64_t GetTotalSectors() override { return 100 * m_Extents.size(); }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }
    bool IsSameVolume(IDynamicDevice*) override { return false; }
    int GetDynamicKind() override { return DYNAMIC_KIND_SPANNED; }
    uint32_t GetFileSystemKind() override { return FILE_SYSTEM_UNKNOWN; }
    void GetMembers(CLdmExtentList& out) override
    {
        CLdmExtentList own;
        for (LDM_EXTENT& extent : m_Extents)
            own.push_back(&extent);
        out.splice(out.begin(), own);
    }
    char GetDriveLetter() override { return 0; }

    std::vector<LDM_EXTENT> m_Extents;
};

// 40 members on 12 disks whose descriptions are 49 characters each: the first 32 members with a
// disk get the slots, and the description keeps the whole lines that fit in the record.
TEST(CollectionDynamicRecord, MembersAndDescriptionStayWithinTheRecord)
{
    devtest::CDeviceTable table;
    std::string strTable;
    for (int i = 0; i < 12; ++i) {
        const std::string strImage = table.MakeImage("d" + std::to_string(i) + ".img", 64 * 512);
        strTable += "disk " + strImage + " bus=7 vendor=VendorNameOfDisk" + std::to_string(10 + i) +
                    " product=ProductNameThatIsRatherLong\n";
    }
    table.Load(strTable);
    CDiskDeviceList disks;
    CCollectDiskDevice().CollectDiskDevice(disks);
    ASSERT_EQ(12u, disks.size());
    std::vector<IStorageDevice*> members(disks.begin(), disks.end());

    CManyMembersDevice device(members, 40);
    DYNAMIC_VOLUME_INFO info;
    info.pDevice = &device;
    info.nFileSystemKind = FILE_SYSTEM_UNKNOWN;
    strcpy(info.szLabel, "MANY");
    COLLECTED_VOLUME volume;
    CCollectDynamicVolume::MakeCollectedVolume(info, disks, &volume);

    EXPECT_EQ(static_cast<IStorageDevice*>(&device), volume.pDevice);
    EXPECT_EQ(static_cast<uint32_t>(DYNAMIC_KIND_SPANNED), volume.nDynamicKind);
    EXPECT_STREQ("MANY", volume.szLabel);
    // Slots in member order, skipping the members without a disk.
    size_t nExtent = 0;
    for (int nSlot = 0; nSlot < COLLECTED_VOLUME_MAX_MEMBERS; ++nSlot) {
        while (device.m_Extents[nExtent].pDisk == nullptr)
            ++nExtent;
        EXPECT_EQ(device.m_Extents[nExtent].pDisk, volume.Members[nSlot].pDisk) << nSlot;
        EXPECT_EQ(device.m_Extents[nExtent].u64DiskStart, volume.Members[nSlot].ullStartSector) << nSlot;
        EXPECT_EQ(100u, volume.Members[nSlot].ullSectorCount) << nSlot;
        ++nExtent;
    }

    const std::string strDescription(volume.szDescription);
    EXPECT_LE(strDescription.size(), sizeof(volume.szDescription) - 1);
    std::vector<std::string> lines;
    std::stringstream text(strDescription);
    std::string strLine;
    while (std::getline(text, strLine, '\n'))
        lines.push_back(strLine);
    // Ten lines of 49 characters and their breaks fit in 511 characters; the eleventh does not.
    ASSERT_EQ(10u, lines.size());
    EXPECT_EQ(10u * 49 + 9, strDescription.size());
    // One line per member with a disk, in member order: vendor, product and the bus name cut to
    // 49 characters.
    std::vector<std::string> want;
    for (const LDM_EXTENT& extent : device.m_Extents) {
        if (extent.pDisk == nullptr || want.size() == lines.size())
            continue;
        const int nDisk = static_cast<CDiskDevice*>(extent.pDisk)->GetDiskNumber();
        want.push_back("VendorNameOfDisk" + std::to_string(10 + nDisk) + "  ProductNameThatIsRatherLong  ");
    }
    EXPECT_EQ(want, lines);

    for (CDiskDevice* pDisk : disks)
        delete pDisk;
}

} // namespace
