// The block scan's read-ahead cache: blocks come back in order and whole, the last block is
// short and zero-padded, the thread never reads past the device's end, reads that straddle the
// window are split correctly, and the thread ends on every path; a device that can be read from
// several threads is read by several, which share the slices of each block, hand the blocks over
// in order and stop on a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <stdexcept>
#include <vector>

#include "StorageDeviceWithCache.h"

namespace {

// Each 512-byte unit carries its own number in its first 8 bytes and 0xA5 after them.
class CNumberedDevice : public IStorageDevice {
public:
    explicit CNumberedDevice(uint64_t ullTotal) : m_ullTotal(ullTotal) {}
    int ReadSectors(void* pBuffer, uint64_t ullStart, uint64_t ullCount) override
    {
        ++m_nReads;
        if (ullStart > m_ullTotal || ullCount > m_ullTotal - ullStart) {
            m_bReadPastEnd = true;
            return 0;
        }
        if (m_bThrow || (m_nThrowAfter >= 0 && m_nReads > m_nThrowAfter))
            throw std::runtime_error("device gone");
        if (ullStart < m_ullBadEnd && m_ullBadStart < ullStart + ullCount) {
            memset(pBuffer, 0x5A, static_cast<size_t>(ullCount) * 512); // stale bytes nobody may see
            return 0;
        }
        uint8_t* p = static_cast<uint8_t*>(pBuffer);
        for (uint64_t i = 0; i < ullCount; ++i) {
            memset(p + i * 512, 0xA5, 512);
            const uint64_t ullSector = ullStart + i;
            memcpy(p + i * 512, &ullSector, 8);
        }
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_ullTotal; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }
    int CanReadConcurrently() override { return m_bConcurrent ? 1 : 0; }

    uint64_t m_ullTotal;
    bool m_bConcurrent = false;
    std::atomic<int> m_nReads{0};
    std::atomic<bool> m_bReadPastEnd{false};
    std::atomic<bool> m_bThrow{false};
    // Reads that touch [m_ullBadStart, m_ullBadEnd) fail; reads after the m_nThrowAfter-th throw.
    uint64_t m_ullBadStart = 0;
    uint64_t m_ullBadEnd = 0;
    int m_nThrowAfter = -1;
};

uint64_t SectorAt(const uint8_t* p)
{
    uint64_t v = 0;
    memcpy(&v, p, 8);
    return v;
}

bool HoldsSectors(const uint8_t* p, uint64_t ullFirst, uint64_t ullCount)
{
    for (uint64_t i = 0; i < ullCount; ++i) {
        if (SectorAt(p + i * 512) != ullFirst + i || p[i * 512 + 8] != 0xA5)
            return false;
    }
    return true;
}

} // namespace

TEST(ReadAheadCacheTest, BlocksComeInOrderAndTheLastIsShortAndZeroPadded)
{
    // Sizes below, at and above the blocks read up front, and not multiples of a block.
    for (uint64_t ullTotal : {1ull, 15ull, 16ull, 17ull, 160ull, 163ull, 1000ull}) {
        CNumberedDevice device(ullTotal);
        CStorageDeviceWithCache cache(&device);
        cache.SetCacheSize(16);
        ASSERT_TRUE(cache.StartPrefetch(0));
        const uint64_t ullBlocks = (ullTotal + 15) / 16;
        for (uint64_t b = 0; b < ullBlocks; ++b) {
            ASSERT_EQ(cache.LoadBlock(b), 1) << ullTotal << " " << b;
            const uint64_t ullCount = std::min<uint64_t>(16, ullTotal - b * 16);
            const uint8_t* p = cache.PeekSectors(b * 16, 16);
            ASSERT_NE(p, nullptr);
            EXPECT_TRUE(HoldsSectors(p, b * 16, ullCount)) << ullTotal << " " << b;
            for (uint64_t i = ullCount * 512; i < 16 * 512; ++i)
                ASSERT_EQ(p[i], 0) << ullTotal << " " << b;
        }
        EXPECT_EQ(cache.LoadBlock(ullBlocks), 0);
        EXPECT_EQ(cache.GetWindowBlock(), static_cast<int64_t>(ullBlocks - 1));
        cache.StopPrefetch();
        EXPECT_FALSE(device.m_bReadPastEnd) << ullTotal;
    }
}

TEST(ReadAheadCacheTest, StartsAtTheBlockOfTheStartSectorAndCopesWithBlocksAskedOutOfOrder)
{
    CNumberedDevice device(1000);
    CStorageDeviceWithCache cache(&device);
    cache.SetCacheSize(16);
    ASSERT_TRUE(cache.StartPrefetch(40)); // block 2
    ASSERT_EQ(cache.LoadBlock(2), 1);
    EXPECT_TRUE(HoldsSectors(cache.PeekSectors(32, 16), 32, 16));
    // Skipping ahead drops the blocks in between; going back reads the block directly.
    ASSERT_EQ(cache.LoadBlock(5), 1);
    EXPECT_TRUE(HoldsSectors(cache.PeekSectors(80, 16), 80, 16));
    ASSERT_EQ(cache.LoadBlock(1), 1);
    EXPECT_TRUE(HoldsSectors(cache.PeekSectors(16, 16), 16, 16));
    ASSERT_EQ(cache.LoadBlock(6), 1);
    EXPECT_TRUE(HoldsSectors(cache.PeekSectors(96, 16), 96, 16));

    // A start beyond the device is clamped to its last block.
    CStorageDeviceWithCache late(&device);
    late.SetCacheSize(16);
    ASSERT_TRUE(late.StartPrefetch(5000));
    ASSERT_EQ(late.LoadBlock(62), 1);
    EXPECT_TRUE(HoldsSectors(late.PeekSectors(992, 8), 992, 8));
    EXPECT_FALSE(device.m_bReadPastEnd);
}

TEST(ReadAheadCacheTest, ReadsAroundTheWindowAreSplitBetweenWindowAndDevice)
{
    CNumberedDevice device(1000);
    CStorageDeviceWithCache cache(&device);
    cache.SetCacheSize(64);
    std::vector<uint8_t> buffer(64 * 512);
    // Before any block is loaded every read passes through.
    ASSERT_EQ(cache.ReadSectors(buffer.data(), 10, 4), 1);
    EXPECT_TRUE(HoldsSectors(buffer.data(), 10, 4));

    ASSERT_TRUE(cache.StartPrefetch(0));
    ASSERT_EQ(cache.LoadBlock(0), 1);
    ASSERT_EQ(cache.LoadBlock(1), 1); // window [64, 128)
    const int nBefore = device.m_nReads;
    ASSERT_EQ(cache.ReadSectors(buffer.data(), 70, 16), 1); // wholly in the window
    EXPECT_TRUE(HoldsSectors(buffer.data(), 70, 16));
    EXPECT_EQ(device.m_nReads, nBefore);
    ASSERT_EQ(cache.ReadSectors(buffer.data(), 56, 16), 1); // starts before: all from the device
    EXPECT_TRUE(HoldsSectors(buffer.data(), 56, 16));
    ASSERT_EQ(cache.ReadSectors(buffer.data(), 120, 16), 1); // 8 from the window, 8 read
    EXPECT_TRUE(HoldsSectors(buffer.data(), 120, 16));
    ASSERT_EQ(cache.ReadSectors(buffer.data(), 500, 3), 1); // past the window
    EXPECT_TRUE(HoldsSectors(buffer.data(), 500, 3));
    EXPECT_EQ(cache.ReadSectors(buffer.data(), 998, 4), 0); // past the device's end
}

TEST(ReadAheadCacheTest, TheThreadEndsOnStopOnFailureAndWithTheCache)
{
    // Stopped while the queue is full and the thread waits for space.
    {
        CNumberedDevice device(100000);
        CStorageDeviceWithCache cache(&device);
        cache.SetCacheSize(8);
        ASSERT_TRUE(cache.StartPrefetch(0));
        ASSERT_EQ(cache.LoadBlock(0), 1);
        for (int i = 0; i < 200 && cache.GetQueuedCount() < 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(cache.GetQueuedCount(), 3u); // two read up front, one more by the thread
        cache.StopPrefetch();
        EXPECT_EQ(cache.GetQueuedCount(), 0u);
        // Loading after the stop still gives the right bytes, read directly.
        ASSERT_EQ(cache.LoadBlock(3), 1);
        EXPECT_TRUE(HoldsSectors(cache.PeekSectors(24, 8), 24, 8));
    }
    // The device fails in the thread: the consumer is woken and gets the block read directly,
    // where the failure shows as zeros rather than as a hang.
    {
        CNumberedDevice device(100000);
        CStorageDeviceWithCache cache(&device);
        cache.SetCacheSize(8);
        ASSERT_TRUE(cache.StartPrefetch(0));
        device.m_bThrow = true;
        // The two blocks read up front are there.
        for (uint64_t b = 0; b < 2; ++b)
            ASSERT_EQ(cache.LoadBlock(b), 1);
        EXPECT_THROW(cache.LoadBlock(30), std::runtime_error);
    }
    // Destroyed mid-scan by an exception: the destructor joins the thread.
    {
        CNumberedDevice device(100000);
        try {
            CStorageDeviceWithCache cache(&device);
            cache.SetCacheSize(8);
            cache.StartPrefetch(0);
            cache.LoadBlock(0);
            throw std::runtime_error("controller failed");
        } catch (const std::runtime_error&) {
        }
    }
}

TEST(ReadAheadCacheTest, SeveralThreadsHandTheBlocksOverInOrderAndStopOnAFailure)
{
    {
        CNumberedDevice device(5003);
        device.m_bConcurrent = true;
        CStorageDeviceWithCache cache(&device);
        cache.SetCacheSize(16);
        ASSERT_TRUE(cache.StartPrefetch(0));
        EXPECT_GE(cache.GetReaderCount(), std::thread::hardware_concurrency() > 2 ? 2 : 1);
        const uint64_t ullBlocks = (5003 + 15) / 16;
        for (uint64_t b = 0; b < ullBlocks; ++b) {
            ASSERT_EQ(cache.LoadBlock(b), 1) << b;
            EXPECT_LE(cache.GetQueuedCount(), static_cast<size_t>(std::max(cache.GetReaderCount(), 3)));
            const uint64_t ullCount = std::min<uint64_t>(16, 5003 - b * 16);
            ASSERT_TRUE(HoldsSectors(cache.PeekSectors(b * 16, ullCount), b * 16, ullCount)) << b;
        }
        cache.StopPrefetch();
        EXPECT_FALSE(device.m_bReadPastEnd);
        EXPECT_EQ(static_cast<int>(ullBlocks), device.m_nReads.load());
    }
    // The device fails while several threads read: the blocks read before come whole, then the
    // scan reads the failed block itself and sees the failure, without waiting for ever.
    {
        CNumberedDevice device(100000);
        device.m_bConcurrent = true;
        CStorageDeviceWithCache cache(&device);
        cache.SetCacheSize(16);
        ASSERT_TRUE(cache.StartPrefetch(0));
        ASSERT_EQ(cache.LoadBlock(0), 1);
        device.m_bThrow = true;
        uint64_t b = 1;
        bool bThrown = false;
        for (; b < 6250 && !bThrown; ++b) {
            try {
                ASSERT_EQ(cache.LoadBlock(b), 1);
                ASSERT_TRUE(HoldsSectors(cache.PeekSectors(b * 16, 16), b * 16, 16)) << b;
            } catch (const std::runtime_error&) {
                bThrown = true;
            }
        }
        EXPECT_TRUE(bThrown);
        EXPECT_LT(b, 20u);
    }
}

TEST(ReadAheadCacheTest, ThreadsSharingABlocksSlicesZeroFillAFailedSliceAndStopOnAnError)
{
    // Blocks of four slices and a short last block whose zeros span slices; one read in the middle
    // of block 1 fails. Every slice is read once, none past the end, and the failed slice shows
    // as zeros (never as the bytes the device left behind) while the rest of its block is whole.
    const uint64_t ullBlock = 2048;
    const uint64_t ullTotal = 5 * ullBlock + 700;
    {
        CNumberedDevice device(ullTotal);
        device.m_bConcurrent = true;
        device.m_ullBadStart = ullBlock + 1000;
        device.m_ullBadEnd = ullBlock + 1001;
        CStorageDeviceWithCache cache(&device);
        cache.SetCacheSize(static_cast<uint32_t>(ullBlock));
        ASSERT_TRUE(cache.StartPrefetch(0));
        for (uint64_t b = 0; b < 6; ++b) {
            ASSERT_EQ(cache.LoadBlock(b), 1) << b;
            const uint8_t* p = cache.PeekSectors(b * ullBlock, ullBlock);
            ASSERT_NE(p, nullptr);
            const uint64_t ullCount = std::min(ullBlock, ullTotal - b * ullBlock);
            for (uint64_t i = 0; i < ullBlock; ++i) {
                const uint64_t ullSector = b * ullBlock + i;
                const bool bZero = i >= ullCount || (ullSector >= ullBlock + 512 && ullSector < ullBlock + 1024);
                if (bZero) {
                    for (size_t k = 0; k < 512; ++k)
                        ASSERT_EQ(p[i * 512 + k], 0) << ullSector;
                } else {
                    ASSERT_TRUE(HoldsSectors(p + i * 512, ullSector, 1)) << ullSector;
                }
            }
        }
        cache.StopPrefetch();
        EXPECT_FALSE(device.m_bReadPastEnd);
        EXPECT_EQ(device.m_nReads.load(), 5 * 4 + 2);
    }
    // Stopped (the scan cancelled) while the threads are inside blocks: they end, the blocks half
    // read are dropped, and a block loaded afterwards is read directly and whole.
    {
        CNumberedDevice device(ullTotal * 10);
        device.m_bConcurrent = true;
        CStorageDeviceWithCache cache(&device);
        cache.SetCacheSize(static_cast<uint32_t>(ullBlock));
        ASSERT_TRUE(cache.StartPrefetch(0));
        ASSERT_EQ(cache.LoadBlock(0), 1);
        cache.StopPrefetch();
        EXPECT_EQ(cache.GetQueuedCount(), 0u);
        EXPECT_EQ(cache.GetReaderCount(), 0);
        ASSERT_EQ(cache.LoadBlock(2), 1);
        EXPECT_TRUE(HoldsSectors(cache.PeekSectors(2 * ullBlock, ullBlock), 2 * ullBlock, ullBlock));
    }
    // The device raises an error in the middle of the scan: the blocks handed over before are
    // whole, then the scan reads the block itself and sees the error, without waiting for ever.
    {
        CNumberedDevice device(ullTotal * 10);
        device.m_bConcurrent = true;
        device.m_nThrowAfter = 4 * 4 + 2;
        CStorageDeviceWithCache cache(&device);
        cache.SetCacheSize(static_cast<uint32_t>(ullBlock));
        ASSERT_TRUE(cache.StartPrefetch(0));
        uint64_t b = 0;
        bool bThrown = false;
        for (; b < 50 && !bThrown; ++b) {
            try {
                ASSERT_EQ(cache.LoadBlock(b), 1);
                ASSERT_TRUE(HoldsSectors(cache.PeekSectors(b * ullBlock, ullBlock), b * ullBlock, ullBlock)) << b;
            } catch (const std::runtime_error&) {
                bThrown = true;
            }
        }
        // The error comes with the 19th read: in block 4, or in block 3 when a thread was slow to
        // read a slice it had claimed before the others'.
        EXPECT_TRUE(bThrown);
        EXPECT_GE(b, 4u);
        EXPECT_LE(b, 5u);
    }
}
