// Whether a target folder lies on the scanned medium: the block device under the root folder
// stands in for a scanned disk (found through sysfs; skipped where the container shows none).
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "FolderProbe.h"
#include "TestSupport.h"

namespace {

// "/dev/<name>" of the block device with this number, from its uevent file; empty if none.
std::string BlockDeviceOf(dev_t dev)
{
    std::ifstream in("/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev)) + "/uevent");
    std::string strLine;
    while (std::getline(in, strLine))
        if (strLine.compare(0, 8, "DEVNAME=") == 0)
            return "/dev/" + strLine.substr(8);
    return std::string();
}

TEST(FolderProbe, AFolderOnTheScannedDiskIsOnTheSourceMedium)
{
    rvdtest::CTempDir dir;
    rvdplat::FOLDER_PROBE probe;
    ASSERT_EQ(0, rvdplat::ProbeFolder(dir.Path() + "/not/yet", &probe));
    EXPECT_EQ(dir.Path(), probe.strExisting);
    const std::string strDevice = BlockDeviceOf(static_cast<dev_t>(probe.ullDevice));
    struct stat st{};
    if (strDevice.empty() || stat(strDevice.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        GTEST_SKIP() << "the folder lies on no block device this process can see";
    bool bImage = true;
    EXPECT_TRUE(rvdplat::IsOnSourceMedium(probe.ullDevice, strDevice, &bImage));
    EXPECT_FALSE(bImage);
}

TEST(FolderProbe, AnImageCountsByItsFileSystem)
{
    rvdtest::CTempDir dir;
    const std::string strImage = dir.File("disk.img");
    rvdtest::WriteFileBytes(strImage, std::vector<uint8_t>(4096, 0));
    rvdplat::FOLDER_PROBE probe;
    ASSERT_EQ(0, rvdplat::ProbeFolder(dir.Path(), &probe));
    bool bImage = false;
    EXPECT_TRUE(rvdplat::IsOnSourceMedium(probe.ullDevice, strImage, &bImage));
    EXPECT_TRUE(bImage);
    EXPECT_FALSE(rvdplat::IsOnSourceMedium(probe.ullDevice + 1, strImage, &bImage));
    EXPECT_FALSE(rvdplat::IsOnSourceMedium(probe.ullDevice, dir.File("missing.img"), &bImage));
    // /proc is no medium at all.
    rvdplat::FOLDER_PROBE proc;
    ASSERT_EQ(0, rvdplat::ProbeFolder("/proc/self", &proc));
    EXPECT_EQ("proc", proc.strFileSystem);
}

} // namespace
