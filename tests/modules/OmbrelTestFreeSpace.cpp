// Free space of each listed volume against the file systems' own tools, and the free-space
// reader on damaged copies of the same structures: a figure it cannot trust is 0, never a guess.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FreeSpaceReader.h"
#include "IStorageDevice.h"
#include "OmbrelTestSupport.h"
#include "TestSupport.h"

using namespace ombreltest;

namespace {

// A volume held in memory; reads past its end fail.
class CMemoryDevice : public IStorageDevice {
public:
    explicit CMemoryDevice(std::vector<uint8_t> bytes) : m_Bytes(std::move(bytes)) {}
    int ReadSectors(void* pBuffer, uint64_t ullStart, uint64_t ullCount) override
    {
        if (ullStart > GetTotalSectors() || ullCount > GetTotalSectors() - ullStart)
            return 0;
        memcpy(pBuffer, m_Bytes.data() + ullStart * 512, ullCount * 512);
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_Bytes.size() / 512; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }
    std::vector<uint8_t>& Bytes() { return m_Bytes; }

private:
    std::vector<uint8_t> m_Bytes;
};

void PutLe32(uint8_t* p, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(n >> (8 * i));
}

uint32_t Le32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t ToolFreeSectors(DWORD dwKind, const std::string& strImage)
{
    if (dwKind <= FILE_SYSTEM_FAT32)
        return FsckFATFreeSectors(strImage);
    if (dwKind == FILE_SYSTEM_NTFS)
        return NtfsclusterFreeSectors(strImage);
    return DumpE2fsFreeSectors(strImage);
}

} // namespace

TEST(OmbrelFreeSpace, EveryFileSystemAgreesWithItsOwnTool)
{
    size_t nChecked = 0;
    for (const PARTITION_INFO_EX& volume : Volumes()) {
        // E: answers with the system's figure, which the listing test checks.
        if (volume.dwFileSystem > FILE_SYSTEM_EXT3 || volume.chDriveLetter == 'E')
            continue;
        std::string strImage;
        if (volume.dwDiskNumber == OMBREL_NO_DISK)
            strImage = rvdtest::FixturePath("fat12.img");
        else
            strImage = ExtractSectors(DiskImage(volume.dwDiskNumber), volume.ullStartSector, volume.ullTotalSectors,
                                      "volume-" + std::to_string(nChecked) + ".img");
        SCOPED_TRACE(strImage + " kind " + std::to_string(volume.dwFileSystem));
        EXPECT_EQ(ToolFreeSectors(volume.dwFileSystem, strImage), volume.ullFreeSectors);
        ++nChecked;
    }
    EXPECT_EQ(9u, nChecked);  // the floppy, four on mbr.img, one on gpt.img, fat32.img, the bare NTFS disks
}

TEST(OmbrelFreeSpace, Fat32WithoutATrustworthyFsInfoCountsTheFat)
{
    const std::string strImage = rvdtest::FixturePath("fat32.img");
    const uint64_t ullExpected = FsckFATFreeSectors(strImage);
    const std::vector<uint8_t> original = rvdtest::ReadFileBytes(strImage);
    const size_t nFsInfo = 512 * (original[48] | (original[49] << 8));
    ASSERT_GT(nFsInfo, 0u);

    struct CASE {
        const char* pszName;
        size_t nOffset;
        uint32_t nValue;
    };
    for (const CASE& c : {CASE{"count not kept", nFsInfo + 488, 0xFFFFFFFF},
                          CASE{"more free than clusters", nFsInfo + 488, 0x00FFFFFF},
                          CASE{"lead signature broken", nFsInfo, 0x41615253},
                          CASE{"structure signature broken", nFsInfo + 484, 0}}) {
        CMemoryDevice device(original);
        PutLe32(device.Bytes().data() + c.nOffset, c.nValue);
        EXPECT_EQ(ullExpected, ombrel::ReadFATFreeSectors(&device)) << c.pszName;
    }
    // A sound FSInfo is believed: its count, not the table's.
    CMemoryDevice device(original);
    PutLe32(device.Bytes().data() + nFsInfo + 488, 7);
    EXPECT_EQ(7u, ombrel::ReadFATFreeSectors(&device) / device.Bytes()[13]);
}

TEST(OmbrelFreeSpace, DamagedStructuresGiveNoFigure)
{
    struct CASE {
        const char* pszName;
        const char* pszImage;
        DWORD dwKind;
        void (*Damage)(std::vector<uint8_t>&);
    };
    const CASE cases[] = {
        {"FAT boot sector without signature", "fat16.img", FILE_SYSTEM_FAT16,
         [](std::vector<uint8_t>& b) { b[510] = 0; }},
        {"FAT16 table shorter than its clusters", "fat16.img", FILE_SYSTEM_FAT16,
         [](std::vector<uint8_t>& b) { b[22] = 1; b[23] = 0; }},
        {"NTFS $Bitmap record with a broken fix-up", "ntfs.img", FILE_SYSTEM_NTFS,
         [](std::vector<uint8_t>& b) {
             const uint64_t ullCluster = static_cast<uint64_t>(b[11] | (b[12] << 8)) * b[13];
             uint64_t ullMft = 0;
             memcpy(&ullMft, b.data() + 48, 8);
             const size_t nRecord = static_cast<size_t>(ullMft * ullCluster + 6 * 1024);
             b[nRecord + 510] ^= 0xFF;  // the last word of its first sector no longer matches
         }},
        {"NTFS $Bitmap record not in use", "ntfs.img", FILE_SYSTEM_NTFS,
         [](std::vector<uint8_t>& b) {
             const uint64_t ullCluster = static_cast<uint64_t>(b[11] | (b[12] << 8)) * b[13];
             uint64_t ullMft = 0;
             memcpy(&ullMft, b.data() + 48, 8);
             b[static_cast<size_t>(ullMft * ullCluster + 6 * 1024) + 22] = 0;
         }},
        {"EXT2 free blocks beyond the blocks count", "ext2-1k-128.img", FILE_SYSTEM_EXT2,
         [](std::vector<uint8_t>& b) { PutLe32(b.data() + 1024 + 12, Le32(b.data() + 1024 + 4) + 1); }},
        {"EXT2 superblock without magic", "ext2-4k-256.img", FILE_SYSTEM_EXT2,
         [](std::vector<uint8_t>& b) { b[1024 + 56] = 0; }},
    };
    for (const CASE& c : cases) {
        CMemoryDevice device(rvdtest::ReadFileBytes(rvdtest::FixturePath(c.pszImage)));
        ASSERT_GT(ombrel::ReadFreeSectors(&device, c.dwKind), 0u) << c.pszName << ": sound copy";
        c.Damage(device.Bytes());
        EXPECT_EQ(0u, ombrel::ReadFreeSectors(&device, c.dwKind)) << c.pszName;
    }
    // Kinds without a file system of their own, and reads past the end of a too short device.
    CMemoryDevice empty(std::vector<uint8_t>(512, 0));
    for (DWORD dwKind : {0u, 3u, 4u, 6u, 7u, 99u})
        EXPECT_EQ(0u, ombrel::ReadFreeSectors(&empty, dwKind)) << dwKind;
}
