// The sizes and offsets are checked at compile time by the headers themselves; this checks that a
// record laid down byte by byte, as another module writes it, reads back through the fields.
#include "DiskInfo.h"
#include "FileInfo.h"
#include "SearchProgress.h"
#include "WideText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

template <typename T>
void PutLE(uint8_t* pRecord, size_t nOffset, T value)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        pRecord[nOffset + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

} // namespace

TEST(Records, PartitionRecordFromForeignBytes)
{
    uint8_t abyRecord[sizeof(PARTITION_INFO_EX)] = {};
    PutLE<uint32_t>(abyRecord, 0, 3);
    abyRecord[8] = 'E';
    const char16_t szLabel[] = u"DATA";
    for (size_t i = 0; i < 4; ++i)
        PutLE<uint16_t>(abyRecord, 10 + 2 * i, szLabel[i]);
    PutLE<uint32_t>(abyRecord, 212, FILE_SYSTEM_NTFS);
    PutLE<uint64_t>(abyRecord, 752, 0x0000000123456789ULL);
    PutLE<uint16_t>(abyRecord, 764, 8);
    PutLE<uint64_t>(abyRecord, 800, PARTITION_SCANNED_WHOLE_DISK);
    PutLE<uint32_t>(abyRecord, 816, 1);

    PARTITION_INFO_EX rec;
    std::memcpy(&rec, abyRecord, sizeof(rec));
    EXPECT_EQ(rec.dwDiskNumber, 3u);
    EXPECT_EQ(rec.chDriveLetter, 'E');
    EXPECT_EQ(rvd::ReadWideText(rec.szVolumeLabel), u"DATA");
    EXPECT_EQ(rec.dwFileSystem, static_cast<DWORD>(FILE_SYSTEM_NTFS));
    EXPECT_EQ(rec.ullStartSector, 0x0000000123456789ULL);
    EXPECT_EQ(rec.wSectorsPerCluster, 8);
    EXPECT_EQ(rec.ullScannedStart, ~0ULL);
    EXPECT_EQ(rec.dwWholeDisk, 1u);
}

TEST(Records, FileRecordAndProgressFromForeignBytes)
{
    uint8_t abyFile[sizeof(FILE_INFO_EX)] = {};
    PutLE<uint32_t>(abyFile, 0, 77);
    PutLE<uint64_t>(abyFile, 528, 5000000000ULL);
    PutLE<uint16_t>(abyFile, 552, 2024); // modification year
    PutLE<uint32_t>(abyFile, 592, FILE_INFO_CHECKED);
    abyFile[596] = FILE_INFO_FULLY_CHECKED;
    FILE_INFO_EX file;
    std::memcpy(&file, abyFile, sizeof(file));
    EXPECT_EQ(file.dwRecordNumber, 77u);
    EXPECT_EQ(file.ullSize, 5000000000ULL);
    EXPECT_EQ(file.stModificationTime.wYear, 2024);
    EXPECT_EQ(file.dwChecked, FILE_INFO_CHECKED);
    EXPECT_EQ(file.byFullyChecked, FILE_INFO_FULLY_CHECKED);

    uint8_t abyProgress[sizeof(SEARCH_PROGRESS)] = {};
    PutLE<uint32_t>(abyProgress, 4, 42);
    PutLE<uint64_t>(abyProgress, 8, 1ULL << 40);
    PutLE<uint32_t>(abyProgress, 20, PROGRESS_STATE_FINISHED);
    PutLE<uint16_t>(abyProgress, 224, u'x');
    SEARCH_PROGRESS progress;
    std::memcpy(&progress, abyProgress, sizeof(progress));
    EXPECT_EQ(progress.dwPercent, 42u);
    EXPECT_EQ(progress.ullFilesFound, 1ULL << 40);
    EXPECT_EQ(progress.dwState, PROGRESS_STATE_FINISHED);
    EXPECT_EQ(rvd::ReadWideText(progress.szDetail), u"x");
}
