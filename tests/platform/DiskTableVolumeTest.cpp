// Volumes of the disk table: drive letters, floppies, drive layouts, the mount-point manager, volume
// names, free space and volume information, and a real block device where the machine lets us make one.
#include "DiskTableTestSupport.h"

#include "Charset.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace rvdplat;
using namespace disktabletest;

namespace {

constexpr const char* kDynamicGuid = "{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}";

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint64_t Le64(const uint8_t* p) { return Le32(p) | (uint64_t(Le32(p + 4)) << 32); }

class DiskTableVolumes : public DiskTableTest {
protected:
    void SetUp() override {
        DiskTableTest::SetUp();
        MakePatternImage(m_dir.File("a.img"), 4 << 20, 1);
        MakePatternImage(m_dir.File("b.img"), 1 << 20, 2);
        MakePatternImage(m_dir.File("floppy.img"), 1474560, 3);
        m_strMount = m_dir.File("mnt");
        mkdir(m_strMount.c_str(), 0700);
        UseTable(std::string() +
                 "disk a.img\n"
                 "volume disk=0 start=2048 count=4096 letter=e label=\"My Files\" fs=FAT32 free=1000000 total=2097152\n"
                 "volume disk=0 start=6144 count=2048 mount=mnt fs=NTFS   # mounted in a folder only\n"
                 "volume disk=0 start=100 count=10 partition=7 letter=D fs=NTFS volerr=1005 type=removable\n"
                 "volume letter=G guid=" + kDynamicGuid + " label=Dyn fs=NTFS dosname=\"\\Device\\HarddiskDmVolumes\\Grp\\Volume1\"\n"
                 "floppy A floppy.img label=FLOPPY fs=FAT12\n"
                 "bad A: 10 12\n"
                 "disk b.img layout=legacy\n"
                 "volume disk=1 start=63 count=100 letter=H\n"
                 "disk b.img layout=none\n");
    }
    std::string m_strMount;
};

} // namespace

TEST_F(DiskTableVolumes, VolumesAreListedFloppiesFirstThenByDiskAndStart) {
    std::vector<VOLUME_ENTRY> v = GetVolumes();
    ASSERT_EQ(v.size(), 6u);
    EXPECT_TRUE(v[0].bFloppy);
    EXPECT_EQ(v[0].chDriveLetter, 'A');
    EXPECT_EQ(v[0].qwSectorCount, 2880u);
    struct Expect {
        int nDisk;
        uint64_t qwStart;
        DWORD dwPartition;
        char chLetter;
    } const kExpect[] = {{0, 100, 7, 'D'}, {0, 2048, 2, 'E'}, {0, 6144, 3, 0}, {1, 63, 1, 'H'}, {-1, 0, 0, 'G'}};
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(v[i + 1].nDiskNumber, kExpect[i].nDisk);
        EXPECT_EQ(v[i + 1].qwStartSector, kExpect[i].qwStart);
        EXPECT_EQ(v[i + 1].dwPartitionNumber, kExpect[i].dwPartition);
        EXPECT_EQ(v[i + 1].chDriveLetter, kExpect[i].chLetter);
    }
    EXPECT_EQ(v[2].strLabel, "My Files");
    EXPECT_EQ(v[3].strMountFolder, m_strMount);
    EXPECT_EQ(v[5].strVolumeGuidPath, std::string("\\\\?\\Volume") + kDynamicGuid + "\\");

    VOLUME_ENTRY found;
    EXPECT_TRUE(FindVolume(0, 2048, 4096, &found));
    EXPECT_EQ(found.chDriveLetter, 'E');
    EXPECT_FALSE(FindVolume(0, 2048, 4095, &found));
    EXPECT_FALSE(FindVolume(1, 2048, 4096, &found));
}

TEST_F(DiskTableVolumes, LetterVolumesReadTheirWindowOfTheDisk) {
    CRawDevice dev;
    ASSERT_TRUE(dev.OpenDevicePath("\\\\.\\e:"));
    EXPECT_EQ(dev.DriveLetter(), 'E');
    EXPECT_EQ(dev.DiskNumber(), 0);
    std::vector<uint8_t> buf(8192);
    ASSERT_EQ(dev.ReadAt(0, buf.data(), buf.size()), 8192);
    EXPECT_TRUE(MatchesPattern(buf.data(), buf.size(), 1, 2048 * 512));
    ASSERT_EQ(dev.ReadAt(4096 * 512 - 1024, buf.data(), buf.size()), 1024);  // stops at the volume's end
    EXPECT_TRUE(MatchesPattern(buf.data(), 1024, 1, 6144 * 512 - 1024));
    uint64_t qwLength = 0;
    ASSERT_TRUE(dev.GetLengthInfo(&qwLength));
    EXPECT_EQ(qwLength, 4096u * 512);
    DISK_GEOMETRY g{};
    ASSERT_TRUE(dev.GetGeometry(&g));  // a volume answers with its disk's geometry
    EXPECT_EQ(g.TracksPerCylinder, 255u);
    std::vector<LAYOUT_PARTITION> parts;
    EXPECT_FALSE(dev.GetDriveLayout(DriveLayoutForm::Ex, &parts));

    EXPECT_FALSE(dev.OpenVolume('G'));  // a dynamic volume lies on no one disk
    EXPECT_EQ(errno, ENODEV);
    EXPECT_FALSE(dev.OpenVolume('Q'));
    EXPECT_EQ(errno, ENODEV);
    EXPECT_FALSE(dev.OpenVolume('1'));
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(DiskTableVolumes, FloppyHasItsStandardGeometryAndItsOwnBadRange) {
    CRawDevice dev;
    ASSERT_TRUE(dev.OpenVolume('a'));
    EXPECT_EQ(dev.DriveLetter(), 'A');
    EXPECT_EQ(dev.DiskNumber(), -1);
    DISK_GEOMETRY g{};
    ASSERT_TRUE(dev.GetGeometry(&g));
    EXPECT_EQ(g.MediaType, kMediaF3_1Pt44_512);
    EXPECT_EQ(g.Cylinders, 80);
    EXPECT_EQ(g.TracksPerCylinder, 2u);
    EXPECT_EQ(g.SectorsPerTrack, 18u);
    EXPECT_EQ(g.BytesPerSector, 512u);
    std::vector<uint8_t> buf(512);
    EXPECT_EQ(dev.ReadAt(9 * 512, buf.data(), 512), 512);
    EXPECT_TRUE(MatchesPattern(buf.data(), 512, 3, 9 * 512));
    EXPECT_EQ(dev.ReadAt(10 * 512, buf.data(), 512), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(dev.ReadAt(12 * 512, buf.data(), 512), 512);
    SCSI_READ_CAPACITY cap;
    EXPECT_FALSE(dev.ScsiReadCapacity(0, &cap));
    STORAGE_DESCRIPTOR_INFO d;
    EXPECT_FALSE(dev.GetStorageDescriptor(&d));
}

TEST_F(DiskTableVolumes, DriveLayoutsAnswerInBothFormsOrFailAsTheTableSays) {
    CRawDevice dev;
    ASSERT_TRUE(dev.OpenPhysicalDrive(0));
    DWORD dwNeeded = 0;
    EXPECT_EQ(dev.QueryDriveLayoutBytes(kIoctlDiskGetDriveLayoutEx, nullptr, 0, &dwNeeded), kWinErrInsufficientBuffer);
    EXPECT_EQ(dwNeeded, 48u + 3 * 144);
    std::vector<uint8_t> buf(dwNeeded - 1, 0xEE);
    EXPECT_EQ(dev.QueryDriveLayoutBytes(kIoctlDiskGetDriveLayoutEx, buf.data(), dwNeeded - 1, &dwNeeded),
              kWinErrInsufficientBuffer);
    EXPECT_EQ(buf[0], 0xEE) << "nothing is written into a buffer that is too small";
    buf.assign(dwNeeded, 0xEE);
    ASSERT_EQ(dev.QueryDriveLayoutBytes(kIoctlDiskGetDriveLayoutEx, buf.data(), dwNeeded, &dwNeeded), kWinErrSuccess);
    EXPECT_EQ(Le32(&buf[4]), 3u);
    const uint64_t kStarts[] = {100, 2048, 6144};
    const uint32_t kNumbers[] = {7, 2, 3};
    for (int i = 0; i < 3; ++i) {
        const uint8_t* e = &buf[48 + 144 * i];
        EXPECT_EQ(Le64(e + 8), kStarts[i] * 512);
        EXPECT_EQ(Le32(e + 24), kNumbers[i]);
    }
    EXPECT_EQ(Le64(&buf[48 + 144 + 16]), 4096u * 512);  // partition length

    std::vector<uint8_t> legacy(8 + 3 * 32);
    ASSERT_EQ(dev.QueryDriveLayoutBytes(kIoctlDiskGetDriveLayout, legacy.data(), legacy.size(), &dwNeeded), kWinErrSuccess);
    EXPECT_EQ(Le32(&legacy[0]), 3u);
    EXPECT_EQ(Le64(&legacy[8 + 32]), 2048u * 512);
    EXPECT_EQ(Le32(&legacy[8 + 32 + 20]), 2u);
    EXPECT_EQ(dev.QueryDriveLayoutBytes(0x70000, buf.data(), buf.size(), &dwNeeded), kWinErrInvalidFunction);

    ASSERT_TRUE(dev.OpenPhysicalDrive(1));  // layout=legacy
    std::vector<LAYOUT_PARTITION> parts;
    EXPECT_FALSE(dev.GetDriveLayout(DriveLayoutForm::Ex, &parts));
    EXPECT_EQ(dev.QueryDriveLayoutBytes(kIoctlDiskGetDriveLayoutEx, buf.data(), buf.size(), &dwNeeded), kWinErrInvalidFunction);
    ASSERT_TRUE(dev.GetDriveLayout(DriveLayoutForm::Legacy, &parts));
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].qwStartingOffset, 63u * 512);
    EXPECT_EQ(parts[0].dwPartitionNumber, 1u);

    ASSERT_TRUE(dev.OpenPhysicalDrive(2));  // layout=none
    EXPECT_FALSE(dev.GetDriveLayout(DriveLayoutForm::Ex, &parts));
    EXPECT_FALSE(dev.GetDriveLayout(DriveLayoutForm::Legacy, &parts));
}

TEST_F(DiskTableVolumes, MountPointManagerNamesVolumesByPartitionNumber) {
    ASSERT_TRUE(MountPointManagerAvailable());
    std::vector<std::u16string> links;
    ASSERT_TRUE(QueryMountPoints(u"\\Device\\Harddisk0\\Partition2", &links));
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0], u"\\DosDevices\\E:");
    std::string strGuidLink = rvd::Utf16ToUtf8(links[1]);
    ASSERT_EQ(strGuidLink.compare(0, 11, "\\??\\Volume{"), 0) << strGuidLink;

    // The Win32 form of the link names the same volume for the volume-path and free-space queries.
    std::string strWin32 = "\\\\?\\" + strGuidLink.substr(4) + "\\";
    std::vector<std::string> paths;
    ASSERT_TRUE(GetVolumePathNamesForVolumeName(strWin32, &paths));
    EXPECT_EQ(paths, std::vector<std::string>{"E:\\"});
    DISK_FREE_SPACE f;
    ASSERT_EQ(GetDiskFreeSpace(rvd::Utf8ToUtf16(strWin32), &f), kWinErrSuccess);
    EXPECT_EQ(f.qwTotalFreeBytes, 1000000u);
    EXPECT_EQ(f.qwTotalBytes, 2097152u);

    // A volume mounted only in a folder: its GUID link alone, and free space from the folder.
    ASSERT_TRUE(QueryMountPoints(0, 3, &links));
    ASSERT_EQ(links.size(), 1u);
    strWin32 = "\\\\?\\" + rvd::Utf16ToUtf8(links[0]).substr(4) + "\\";
    ASSERT_TRUE(GetVolumePathNamesForVolumeName(strWin32, &paths));
    EXPECT_EQ(paths, std::vector<std::string>{m_strMount});
    ASSERT_EQ(GetDiskFreeSpace(strWin32, &f), kWinErrSuccess);
    struct statvfs sv;
    ASSERT_EQ(statvfs(m_strMount.c_str(), &sv), 0);
    EXPECT_EQ(f.qwTotalBytes, uint64_t(sv.f_blocks) * sv.f_frsize);

    for (const char16_t* psz : {u"\\Device\\Harddisk0\\Partition9", u"\\Device\\Harddisk5\\Partition1",
                                u"\\Device\\Harddisk0\\Partition", u"\\Device\\Harddisk0\\Partition2x", u""}) {
        EXPECT_FALSE(QueryMountPoints(psz, &links)) << rvd::Utf16ToUtf8(psz);
    }
    ASSERT_TRUE(GetVolumePathNamesForVolumeName(std::string("\\\\?\\Volume") + kDynamicGuid, &paths));
    EXPECT_EQ(paths, std::vector<std::string>{"G:\\"});
    EXPECT_FALSE(GetVolumePathNamesForVolumeName("\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\", &paths));

    std::string strTarget;
    ASSERT_TRUE(QueryDosDevice('G', &strTarget));
    EXPECT_EQ(strTarget, "\\Device\\HarddiskDmVolumes\\Grp\\Volume1");
    ASSERT_TRUE(QueryDosDevice('a', &strTarget));
    EXPECT_EQ(strTarget, "\\Device\\Floppy0");
    EXPECT_FALSE(QueryDosDevice('Q', &strTarget));

    EXPECT_EQ(LoadTable("disk a.img\nvolume disk=0 start=2048 count=4096 letter=E\nmountmgr fail\n"), "");
    EXPECT_FALSE(MountPointManagerAvailable());
    EXPECT_FALSE(QueryMountPoints(0, 1, &links));
}

TEST_F(DiskTableVolumes, LettersDriveTypesAndVolumeInformation) {
    EXPECT_EQ(GetLogicalDrives(), (1u << 0) | (1u << 3) | (1u << 4) | (1u << 6) | (1u << 7));
    EXPECT_EQ(GetLogicalDriveStrings(), (std::vector<std::string>{"A:\\", "D:\\", "E:\\", "G:\\", "H:\\"}));

    struct TypeCase {
        const char* pszRoot;
        UINT uType;
    } const kTypes[] = {{"A:\\", kDriveRemovable}, {"D:\\", kDriveRemovable}, {"e:", kDriveFixed},
                        {"Q:\\", kDriveNoRootDir}, {"relative\\path", kDriveNoRootDir}};
    for (const TypeCase& c : kTypes) EXPECT_EQ(GetDriveType(c.pszRoot), c.uType) << c.pszRoot;
    UINT uHost = GetDriveType(m_dir.Path());
    EXPECT_TRUE(uHost == kDriveFixed || uHost == kDriveRamdisk || uHost == kDriveRemovable || uHost == kDriveRemote)
        << uHost;

    struct InfoCase {
        const char* pszRoot;
        DWORD dwError;
        const char* pszLabel;
        const char* pszFs;
    } const kInfo[] = {
        {"E:\\", kWinErrSuccess, "My Files", "FAT32"},
        {"A:\\", kWinErrSuccess, "FLOPPY", "FAT12"},
        {"G:\\", kWinErrSuccess, "Dyn", "NTFS"},
        {"D:\\", kWinErrUnrecognizedVolume, "", ""},  // the table's volerr
        {"H:\\", kWinErrNotReady, "", ""},            // nothing known of it
        {"Q:\\", kWinErrPathNotFound, "", ""},
        {"folder\\", kWinErrInvalidName, "", ""},
        {"", kWinErrInvalidName, "", ""},
        {"\\\\server\\share\\", kWinErrBadNetPath, "", ""},
    };
    for (const InfoCase& c : kInfo) {
        SCOPED_TRACE(c.pszRoot);
        VOLUME_INFORMATION info;
        ASSERT_EQ(GetVolumeInformation(c.pszRoot, &info), c.dwError);
        if (c.dwError == kWinErrSuccess) {
            EXPECT_EQ(info.strVolumeName, c.pszLabel);
            EXPECT_EQ(info.strFileSystemName, c.pszFs);
        }
    }
    VOLUME_INFORMATION info;
    ASSERT_EQ(GetVolumeInformation(m_dir.File("not/yet/made"), &info), kWinErrSuccess);
    EXPECT_FALSE(info.strFileSystemName.empty());
}

TEST_F(DiskTableVolumes, FreeSpaceOfLettersAndOfHostFolders) {
    DISK_FREE_SPACE f;
    ASSERT_EQ(GetDiskFreeSpace("E:", &f), kWinErrSuccess);
    EXPECT_EQ(f.qwTotalFreeBytes, 1000000u);
    EXPECT_EQ(f.qwFreeBytesAvailableToCaller, 1000000u);
    EXPECT_EQ(GetDiskFreeSpace("H:", &f), kWinErrNotReady);
    EXPECT_EQ(GetDiskFreeSpace("Q:", &f), kWinErrPathNotFound);
    EXPECT_EQ(GetDiskFreeSpace("recovered", &f), kWinErrInvalidName);

    // A target folder that does not exist yet is answered by the folder that will hold it.
    struct statvfs sv;
    ASSERT_EQ(statvfs(m_dir.Path().c_str(), &sv), 0);
    ASSERT_EQ(GetDiskFreeSpace(m_dir.File("run 1/sub"), &f), kWinErrSuccess);
    EXPECT_EQ(f.qwTotalBytes, uint64_t(sv.f_blocks) * sv.f_frsize);
    EXPECT_GE(f.qwTotalFreeBytes, f.qwFreeBytesAvailableToCaller);
    EXPECT_EQ(f.dwBytesPerSector, 512u);
    ASSERT_EQ(GetDiskFreeSpace(rvd::Utf8ToUtf16(m_dir.Path()), &f), kWinErrSuccess);
    EXPECT_EQ(f.qwTotalBytes, uint64_t(sv.f_blocks) * sv.f_frsize);
}

// A real block device: a read-only loop device over a partitioned image. Needs root and loop devices,
// so it is skipped elsewhere.
namespace {

std::string RunCommand(const std::string& strCommand) {
    std::string strOut;
    if (FILE* p = popen(strCommand.c_str(), "r")) {
        char sz[256];
        while (fgets(sz, sizeof(sz), p)) strOut += sz;
        if (pclose(p) != 0) return std::string();
    }
    while (!strOut.empty() && (strOut.back() == '\n' || strOut.back() == ' ')) strOut.pop_back();
    return strOut;
}

class CLoopDevice {
public:
    explicit CLoopDevice(const std::string& strImage) {
        if (geteuid() == 0) m_strDevice = RunCommand("losetup -f --show -r -P '" + strImage + "' 2>/dev/null");
    }
    ~CLoopDevice() {
        if (!m_strDevice.empty()) RunCommand("losetup -d " + m_strDevice);
    }
    const std::string& Device() const { return m_strDevice; }

private:
    std::string m_strDevice;
};

} // namespace

TEST_F(DiskTableTest, BlockDeviceAnswersFromTheKernel) {
    std::string strImage = m_dir.File("parted.img");
    MakePatternImage(strImage, 8 << 20, 6);
    if (RunCommand("printf 'start=2048, size=4096, type=c\\nstart=8192, type=83\\n' | sfdisk -q '" + strImage +
                   "' >/dev/null 2>&1 && echo ok") != "ok")
        GTEST_SKIP() << "sfdisk is not available";
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(strImage);
    CLoopDevice loop(strImage);
    if (loop.Device().empty()) GTEST_SKIP() << "no loop device (needs root)";
    // Without udev the kernel's partition scan may not have run; partx asks for it directly.
    std::string strName = loop.Device().substr(loop.Device().rfind('/') + 1);
    std::string strFirstPartition = "/sys/class/block/" + strName + "/" + strName + "p1";
    if (access(strFirstPartition.c_str(), F_OK) != 0) RunCommand("partx -a " + loop.Device() + " >/dev/null 2>&1");
    bool bPartitions = access(strFirstPartition.c_str(), F_OK) == 0;
    UseDisks(loop.Device());

    CRawDevice dev;
    ASSERT_TRUE(dev.OpenPhysicalDrive(0)) << strerror(errno);
    uint64_t qwLength = 0;
    ASSERT_TRUE(dev.GetLengthInfo(&qwLength));
    EXPECT_EQ(qwLength, 8u << 20);
    DISK_GEOMETRY g{};
    ASSERT_TRUE(dev.GetGeometry(&g));
    EXPECT_EQ(g.BytesPerSector, 512u);
    ASSERT_GT(g.TracksPerCylinder, 0u);
    ASSERT_GT(g.SectorsPerTrack, 0u);
    EXPECT_LE(uint64_t(g.Cylinders) * g.TracksPerCylinder * g.SectorsPerTrack * 512, qwLength);
    std::vector<uint8_t> buf(1 << 20);
    ASSERT_EQ(dev.ReadAt(3 << 20, buf.data(), buf.size()), 1 << 20);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), image.begin() + (3 << 20)));
    EXPECT_EQ(dev.ReadAt((8 << 20) - 512, buf.data(), buf.size()), 512);
    STORAGE_DESCRIPTOR_INFO d;
    EXPECT_TRUE(dev.GetStorageDescriptor(&d));
    EXPECT_EQ(rvdtest::ReadFileBytes(strImage), image);

    // The kernel's partitions are the volumes the disk stack knows, numbered as the kernel numbers them.
    std::vector<LAYOUT_PARTITION> parts;
    ASSERT_TRUE(dev.GetDriveLayout(DriveLayoutForm::Ex, &parts));
    if (!bPartitions) GTEST_SKIP() << "the kernel made no partitions for the loop device";
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].qwStartingOffset, 2048u * 512);
    EXPECT_EQ(parts[0].qwPartitionLength, 4096u * 512);
    EXPECT_EQ(parts[0].dwPartitionNumber, 1u);
    EXPECT_EQ(parts[1].qwStartingOffset, 8192u * 512);
    EXPECT_EQ(parts[1].dwPartitionNumber, 2u);
    EXPECT_EQ(GetLogicalDrives(), 0u);  // Linux has no drive letters
}
