// The disk table: which drives exist, raw reads, sizes, geometry, READ CAPACITY, injected bad areas,
// table errors, and that nothing here can write to a device.
#include "DiskTableTestSupport.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using namespace rvdplat;
using namespace disktabletest;

namespace {

constexpr uint64_t kCylinderBytes = 255ull * 63 * 512;

std::vector<uint8_t> ReadAll(const CRawDevice& dev, uint64_t qwOffset, size_t nBytes, int64_t* pnRead) {
    std::vector<uint8_t> buf(nBytes);
    *pnRead = dev.ReadAt(qwOffset, buf.data(), nBytes);
    return buf;
}

} // namespace

TEST_F(DiskTableTest, DisksListOrdersPhysicalDrivesAndKeepsNumbersPastAMissingImage) {
    std::string a = m_dir.File("a.img"), b = m_dir.File("b.img"), c = m_dir.File("c.img");
    MakePatternImage(a, 64 * 1024, 1);
    MakePatternImage(b, 32 * 1024, 2);
    MakePatternImage(c, 16 * 1024, 3);
    // b first, then a missing image, then c and a; the doubled colon is no drive of its own.
    UseDisks(b + ":" + m_dir.File("missing.img") + "::" + c + ":" + a);
    ASSERT_EQ(GetPhysicalDriveCount(), 4);
    EXPECT_EQ(GetPhysicalDrivePath(0), b);
    EXPECT_EQ(GetPhysicalDrivePath(2), c);
    EXPECT_EQ(GetPhysicalDrivePath(4), "");

    const int kSeeds[] = {2, 0, 3, 1};
    const uint64_t kSizes[] = {32 * 1024, 0, 16 * 1024, 64 * 1024};
    for (int n = 0; n < 4; ++n) {
        CRawDevice dev;
        if (n == 1) {
            EXPECT_FALSE(dev.OpenPhysicalDrive(n));
            EXPECT_EQ(errno, ENOENT);
            continue;
        }
        ASSERT_TRUE(dev.OpenPhysicalDrive(n)) << n;
        EXPECT_EQ(dev.DiskNumber(), n);
        uint64_t qwLength = 0;
        ASSERT_TRUE(dev.GetLengthInfo(&qwLength));
        EXPECT_EQ(qwLength, kSizes[n]);
        int64_t nRead = 0;
        std::vector<uint8_t> buf = ReadAll(dev, 1024, 4096, &nRead);
        ASSERT_EQ(nRead, 4096);
        EXPECT_TRUE(MatchesPattern(buf.data(), buf.size(), kSeeds[n], 1024)) << "drive " << n;
    }
    CRawDevice dev;
    EXPECT_FALSE(dev.OpenPhysicalDrive(4));
    EXPECT_EQ(errno, ENODEV);
}

TEST_F(DiskTableTest, DrivesOutsideZeroToSixtyThreeAreRefusedAndDevicePathsAreParsed) {
    std::string a = m_dir.File("a.img");
    MakePatternImage(a, 8192, 1);
    UseDisks(a);
    CRawDevice dev;
    EXPECT_FALSE(dev.OpenPhysicalDrive(-1));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(dev.OpenPhysicalDrive(64));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_TRUE(dev.OpenDevicePath("\\\\.\\PHYSICALDRIVE0"));
    EXPECT_TRUE(dev.OpenDevicePath("\\\\.\\physicaldrive0"));
    EXPECT_EQ(dev.BackingPath(), a);
    for (const char* psz : {"\\\\.\\PHYSICALDRIVE", "\\\\.\\PHYSICALDRIVE64", "\\\\.\\PHYSICALDRIVE0x", "/dev/sda",
                            "\\\\.\\PHYSICALDRIVE-1", "PHYSICALDRIVE0"}) {
        EXPECT_FALSE(dev.OpenDevicePath(psz)) << psz;
        EXPECT_FALSE(dev.IsOpen());
    }
}

TEST_F(DiskTableTest, ReadsStopAtTheEndAndRefuseBadArguments) {
    std::string a = m_dir.File("a.img");
    const uint64_t qwSize = 10 * 512 + 100;  // a tail shorter than a sector
    MakePatternImage(a, qwSize, 5);
    UseDisks(a);
    CRawDevice dev;
    int64_t nRead = 0;
    uint8_t byte = 0;
    EXPECT_EQ(dev.ReadAt(0, &byte, 1), -1);
    EXPECT_EQ(errno, EBADF);
    ASSERT_TRUE(dev.OpenPhysicalDrive(0));

    std::vector<uint8_t> whole = ReadAll(dev, 0, 1 << 20, &nRead);
    ASSERT_EQ(nRead, static_cast<int64_t>(qwSize));
    EXPECT_TRUE(MatchesPattern(whole.data(), qwSize, 5, 0));

    std::vector<uint8_t> tail = ReadAll(dev, 10 * 512, 512, &nRead);
    EXPECT_EQ(nRead, 100);
    EXPECT_TRUE(MatchesPattern(tail.data(), 100, 5, 10 * 512));
    EXPECT_EQ(dev.ReadAt(qwSize, &byte, 1), 0);
    EXPECT_EQ(dev.ReadAt(qwSize + 1000000, &byte, 1), 0);
    EXPECT_EQ(dev.ReadAt(0, &byte, 0), 0);
    EXPECT_EQ(dev.ReadAt(UINT64_MAX - 10, whole.data(), 100), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(DiskTableTest, ImageGeometryAndSectorSizeFollowTheSizeOrTheTable) {
    std::string a = m_dir.File("a.img"), b = m_dir.File("b.img");
    MakePatternImage(a, 3 * kCylinderBytes + 5 * 512, 1);  // three full cylinders and a bit
    MakePatternImage(b, 2 * 255 * 63 * 4096ull + 4096, 2);

    UseDisks(a + ":" + b);
    CRawDevice dev;
    ASSERT_TRUE(dev.OpenPhysicalDrive(0));
    DISK_GEOMETRY g{};
    ASSERT_TRUE(dev.GetGeometry(&g));
    EXPECT_EQ(g.Cylinders, 3);
    EXPECT_EQ(g.TracksPerCylinder, 255u);
    EXPECT_EQ(g.SectorsPerTrack, 63u);
    EXPECT_EQ(g.BytesPerSector, 512u);
    EXPECT_EQ(g.MediaType, kMediaFixed);

    UseTable("disk a.img\n"
             "disk b.img sector=4096\n"
             "disk a.img geometry=1000/16/32 media=11 # a made-up geometry bigger than the image\n"
             "disk a.img geometry=fail length=fail\n"
             "disk a.img length=1048576\n");
    struct Case {
        int nDisk;
        bool bGeometry;
        LONGLONG llCylinders;
        DWORD dwHeads, dwSectors, dwBytes, dwMedia;
        bool bLength;
        uint64_t qwLength;
    } const kCases[] = {
        {0, true, 3, 255, 63, 512, kMediaFixed, true, 3 * kCylinderBytes + 5 * 512},
        {1, true, 2, 255, 63, 4096, kMediaFixed, true, 2 * 255 * 63 * 4096ull + 4096},
        {2, true, 1000, 16, 32, 512, kMediaRemovable, true, 3 * kCylinderBytes + 5 * 512},
        {3, false, 0, 0, 0, 0, 0, false, 0},
        {4, true, 3, 255, 63, 512, kMediaFixed, true, 1048576},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.nDisk);
        ASSERT_TRUE(dev.OpenPhysicalDrive(c.nDisk));
        DISK_GEOMETRY geo{};
        ASSERT_EQ(dev.GetGeometry(&geo), c.bGeometry);
        if (c.bGeometry) {
            EXPECT_EQ(geo.Cylinders, c.llCylinders);
            EXPECT_EQ(geo.TracksPerCylinder, c.dwHeads);
            EXPECT_EQ(geo.SectorsPerTrack, c.dwSectors);
            EXPECT_EQ(geo.BytesPerSector, c.dwBytes);
            EXPECT_EQ(geo.MediaType, c.dwMedia);
        }
        uint64_t qwLength = 0;
        ASSERT_EQ(dev.GetLengthInfo(&qwLength), c.bLength);
        if (c.bLength) {
            EXPECT_EQ(qwLength, c.qwLength);
        }
    }
    // The length answer changes only what the query says: reads still reach the image's real end.
    ASSERT_TRUE(dev.OpenPhysicalDrive(4));
    int64_t nRead = 0;
    ReadAll(dev, 2 * 1048576, 512, &nRead);
    EXPECT_EQ(nRead, 512);
}

TEST_F(DiskTableTest, ReadCapacityAnswersFromTheLengthOrTheTable) {
    std::string a = m_dir.File("a.img");
    MakePatternImage(a, 1000 * 512, 1);
    UseTable("disk a.img\n"
             "disk a.img readcap0=fail readcap1=2047\n"
             "disk a.img readcap0=0x12345/4096 readcap1=fail\n"
             "disk a.img length=3000000000000   # 3 TB: more blocks than 32 bits hold\n"
             "disk a.img sector=4096\n");
    struct Case {
        int nDisk, nTarget;
        bool bOk;
        DWORD dwLastLba, dwBlock;
    } const kCases[] = {
        {0, 0, true, 999, 512},         {0, 1, true, 999, 512},
        {1, 0, false, 0, 0},            {1, 1, true, 2047, 512},
        {2, 0, true, 0x12345, 4096},    {2, 1, false, 0, 0},
        {3, 0, true, 0xFFFFFFFFu, 512}, {4, 0, true, 1000 * 512 / 4096 - 1, 4096},
        {0, 2, false, 0, 0},
    };
    CRawDevice dev;
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << "disk " << c.nDisk << " target " << c.nTarget);
        ASSERT_TRUE(dev.OpenPhysicalDrive(c.nDisk));
        SCSI_READ_CAPACITY cap{0xAAAAAAAA, 0xAAAAAAAA};
        ASSERT_EQ(dev.ScsiReadCapacity(c.nTarget, &cap), c.bOk);
        if (c.bOk) {
            EXPECT_EQ(cap.dwLastLba, c.dwLastLba);
            EXPECT_EQ(cap.dwBlockLength, c.dwBlock);
        } else {
            EXPECT_EQ(cap.dwLastLba, 0xAAAAAAAAu) << "a failed query leaves its answer alone";
        }
    }
}

TEST_F(DiskTableTest, BadRangeFailsReadsInsideAndPassesReadsAtItsEdges) {
    std::string a = m_dir.File("a.img"), b = m_dir.File("b.img");
    MakePatternImage(a, 512 * 1024, 1);
    MakePatternImage(b, 512 * 1024, 2);
    UseTable("bad 0 100 108\n"  // a bad line may come before the disk it names
             "disk a.img\n"
             "disk b.img sector=4096\n"
             "bad 1 2 3     # device sectors of 4096 bytes: bytes [8192, 12288)\n"
             "bad 0 1000 1001\n");
    struct Case {
        int nDisk;
        uint64_t qwOffset;
        size_t nBytes;
        bool bFails;
    } const kCases[] = {
        {0, 100 * 512, 8 * 512, true},     // exactly the range
        {0, 104 * 512, 1, true},           // one byte inside
        {0, 92 * 512, 8 * 512, false},     // ends where the range starts
        {0, 108 * 512, 8 * 512, false},    // starts where the range ends
        {0, 99 * 512, 2 * 512, true},      // straddles its first sector
        {0, 107 * 512 + 511, 2, true},     // straddles its last byte
        {0, 0, 512 * 1024, true},          // a large read over it
        {0, 900 * 512, 100 * 512, false},  // the second range lies past the image's end
        {1, 8192 - 512, 512, false},
        {1, 12288, 4096, false},
        {1, 12287, 1, true},
        {1, 8192, 4096, true},
        {1, 100 * 512, 8 * 512, false},    // the other disk's range is not this disk's
    };
    CRawDevice dev;
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << "disk " << c.nDisk << " offset " << c.qwOffset << " bytes " << c.nBytes);
        ASSERT_TRUE(dev.OpenPhysicalDrive(c.nDisk));
        std::vector<uint8_t> buf(c.nBytes);
        errno = 0;
        int64_t n = dev.ReadAt(c.qwOffset, buf.data(), c.nBytes);
        if (c.bFails) {
            EXPECT_EQ(n, -1);
            EXPECT_EQ(errno, EIO);
        } else {
            ASSERT_EQ(n, static_cast<int64_t>(c.nBytes));
            EXPECT_TRUE(MatchesPattern(buf.data(), buf.size(), c.nDisk + 1, c.qwOffset));
        }
    }
}

TEST_F(DiskTableTest, TableErrorsNameTheLineAndLeaveNoDisks) {
    std::string a = m_dir.File("a.img");
    MakePatternImage(a, 8192, 1);
    // A broken table must never fall back to another disk list.
    setenv("RAVENDO_DISKS", a.c_str(), 1);
    struct Case {
        const char* pszTable;
        int nLine;
        const char* pszWords;
    } const kCases[] = {
        {"disk a.img\npartition 0 1 2\n", 2, "unknown record \"partition\""},
        {"disk a.img sectors=512\n", 1, "unknown disk key \"sectors\""},
        {"disk a.img\ndisk a.img sector=520\n", 2, "sector=520"},
        {"disk a.img sector=big\n", 1, "is not a number"},
        {"disk a.img geometry=10/20\n", 1, "geometry=\"10/20\""},
        {"disk nowhere.img\n", 1, "does not exist"},
        {"disk\n", 1, "needs a path"},
        {"disk a.img\nbad 3 0 10\n", 2, "the table lists 1 disk(s)"},
        {"disk a.img\nbad 0 10 10\n", 2, "is empty"},
        {"disk a.img\nbad 0 -1 10\n", 2, "sector numbers"},
        {"disk a.img\nbad A: 0 10\n", 2, "no floppy"},
        {"disk a.img\nvolume disk=0 start=0 count=8 letter=E\nvolume disk=0 start=8 count=8 letter=e\n", 3,
         "letter E: is given twice"},
        {"disk a.img\nvolume disk=0 count=8\n", 2, "needs start= and count="},
        {"disk a.img\nvolume disk=2 start=0 count=8\n", 2, "volume on disk 2"},
        {"disk a.img\nvolume disk=0 start=0 count=8 mount=/no/such/folder\n", 2, "not an existing folder"},
        {"disk a.img\nvolume disk=0 start=0 count=8 label=\"open\n", 2, "unterminated quote"},
        {"floppy C a.img\n", 1, "floppy letter must be A or B"},
        {"disk a.img readcap0=0x100000000\n", 1, "does not fit in 32 bits"},
        {"mountmgr maybe\n", 1, "mountmgr"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszTable);
        std::string strError = LoadTable(c.pszTable);
        std::string strWhere = m_dir.File("devices.table") + ":" + std::to_string(c.nLine) + ": ";
        EXPECT_EQ(strError.compare(0, strWhere.size(), strWhere), 0) << strError;
        EXPECT_NE(strError.find(c.pszWords), std::string::npos) << strError;
        EXPECT_EQ(DiskTableError(), strError);
        EXPECT_EQ(GetPhysicalDriveCount(), 0);
        CRawDevice dev;
        EXPECT_FALSE(dev.OpenPhysicalDrive(0));
    }
    setenv("RAVENDO_DEVICE_TABLE", m_dir.File("absent.table").c_str(), 1);
    std::string strError;
    EXPECT_FALSE(ReloadDiskTable(&strError));
    EXPECT_NE(strError.find("cannot read the device table"), std::string::npos) << strError;

    // A good reload clears the error.
    EXPECT_EQ(LoadTable("# comment only\n\n  disk \"a.img\"   # quoted path\n"), "");
    EXPECT_EQ(DiskTableError(), "");
    EXPECT_EQ(GetPhysicalDriveCount(), 1);
}

TEST_F(DiskTableTest, OpenFailAndDescriptorsComeFromTheTable) {
    std::string a = m_dir.File("disk-one.img");
    MakePatternImage(a, 8192, 1);
    UseTable("disk disk-one.img bus=7 vendor=\"Kingmax \" product=\"Flash  Disk\" revision=1.00 serial=ABC123\n"
             "disk disk-one.img descriptor=fail\n"
             "disk disk-one.img open=fail\n"
             "disk disk-one.img\n");
    STORAGE_DESCRIPTOR_INFO d;
    ASSERT_TRUE(QueryStorageDescriptor(0, &d));
    EXPECT_EQ(d.dwBusType, 7u);
    EXPECT_EQ(d.strVendorId, "Kingmax ");
    EXPECT_EQ(d.strProductId, "Flash  Disk");
    EXPECT_EQ(d.strProductRevision, "1.00");
    EXPECT_EQ(d.strSerialNumber, "ABC123");
    EXPECT_EQ(BusTypeName(d.dwBusType), "USB Device");
    EXPECT_EQ(BusTypeName(9), "");
    EXPECT_FALSE(QueryStorageDescriptor(1, &d));
    CRawDevice dev;
    EXPECT_FALSE(dev.OpenPhysicalDrive(2));
    EXPECT_EQ(errno, EACCES);
    EXPECT_FALSE(QueryStorageDescriptor(2, &d));
    ASSERT_TRUE(QueryStorageDescriptor(3, &d));
    EXPECT_EQ(d.strProductId, "disk-one.img");  // an image is named after its file
    EXPECT_EQ(d.strVendorId, "");
}

// The layer has no write path: the descriptor it holds is read-only, and reads and queries leave every
// byte of the medium as it was.
TEST_F(DiskTableTest, DevicesAreOpenedReadOnlyAndTheirBytesNeverChange) {
    std::string a = m_dir.File("a.img");
    MakePatternImage(a, 256 * 1024, 9);
    std::vector<uint8_t> before = rvdtest::ReadFileBytes(a);
    UseTable("disk a.img\nvolume disk=0 start=16 count=64 letter=E\nbad 0 200 210\n");
    {
        CRawDevice disk, volume;
        ASSERT_TRUE(disk.OpenPhysicalDrive(0));
        ASSERT_TRUE(volume.OpenVolume('E'));
        int nFound = 0;
        DIR* pDir = opendir("/proc/self/fd");
        ASSERT_NE(pDir, nullptr);
        while (dirent* pEnt = readdir(pDir)) {
            char szTarget[4096] = {0};
            std::string strLink = std::string("/proc/self/fd/") + pEnt->d_name;
            if (readlink(strLink.c_str(), szTarget, sizeof(szTarget) - 1) <= 0 || a != szTarget) continue;
            int fd = atoi(pEnt->d_name);
            int nFlags = fcntl(fd, F_GETFL);
            EXPECT_EQ(nFlags & O_ACCMODE, O_RDONLY);
            EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
            char ch = 'x';
            EXPECT_EQ(write(fd, &ch, 1), -1) << "a descriptor of the layer accepted a write";
            ++nFound;
        }
        closedir(pDir);
        EXPECT_EQ(nFound, 2);
        std::vector<uint8_t> buf(64 * 1024);
        for (uint64_t off = 0; off < 256 * 1024; off += 4096) disk.ReadAt(off, buf.data(), buf.size());
        volume.ReadAt(0, buf.data(), buf.size());
        DISK_GEOMETRY g;
        disk.GetGeometry(&g);
        std::vector<uint8_t> layout(4096);
        DWORD dwNeeded = 0;
        disk.QueryDriveLayoutBytes(kIoctlDiskGetDriveLayoutEx, layout.data(), 4096, &dwNeeded);
    }
    EXPECT_EQ(rvdtest::ReadFileBytes(a), before);
}

TEST_F(DiskTableTest, ManyThreadsReadOneDeviceAtOnce) {
    std::string a = m_dir.File("a.img");
    const uint64_t qwSize = 4 << 20;
    MakePatternImage(a, qwSize, 4);
    UseDisks(a);
    CRawDevice dev;
    ASSERT_TRUE(dev.OpenPhysicalDrive(0));
    std::atomic<int> nBad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint8_t> buf(64 * 1024);
            for (int i = 0; i < 64; ++i) {
                uint64_t off = (static_cast<uint64_t>(t * 64 + i) * 12289) % (qwSize - buf.size());
                if (dev.ReadAt(off, buf.data(), buf.size()) != static_cast<int64_t>(buf.size()) ||
                    !MatchesPattern(buf.data(), buf.size(), 4, off))
                    ++nBad;
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(nBad.load(), 0);
}

TEST_F(DiskTableTest, WithoutAListTheMachinesWholeDisksAreUsedInNameOrder) {
    std::string strError;
    ASSERT_TRUE(ReloadDiskTable(&strError)) << strError;
    std::vector<std::string> names;
    for (int n = 0; n < GetPhysicalDriveCount(); ++n) names.push_back(GetPhysicalDrivePath(n));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    for (const std::string& p : names) {
        EXPECT_EQ(p.compare(0, 5, "/dev/"), 0) << p;
        std::string n = p.substr(5);
        bool bKnown = n.compare(0, 2, "sd") == 0 || n.compare(0, 2, "vd") == 0 || n.compare(0, 3, "xvd") == 0 ||
                      n.compare(0, 4, "nvme") == 0 || n.compare(0, 6, "mmcblk") == 0;
        EXPECT_TRUE(bKnown) << p;
        EXPECT_EQ(n.find("boot"), std::string::npos) << p;  // eMMC boot areas are not disks
        EXPECT_EQ(n.find("loop"), std::string::npos) << p;
    }
}
