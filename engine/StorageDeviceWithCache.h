// The read-ahead cache of the block scan: wraps the disk or partition being scanned, and threads
// of its own read the area block after block into a queue while the scan analyses the current
// block (the window). The scan moves the window forward with LoadBlock and then reads through the
// cache as through any device; reads outside the window go to the wrapped device.
//
// Sector filters: a search controller may register a test of one sector that tells, from the
// sector's bytes alone, whether the sector can hold anything the controller looks for. The
// thread that reads a block runs every filter over it while the block is still in its processor's
// cache, and keeps one byte of marks per sector (bit n for filter n); a controller then looks only
// at the sectors its filter marked. A filter must be a pure function of the 512 bytes it is given
// (it runs on several threads at once) and may mark more sectors than needed, never fewer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "EngineMemory.h"
#include "IStorageDevice.h"

// True when the 512-byte sector may hold evidence for the controller that registered the test.
typedef bool (*PFN_SECTOR_FILTER)(const uint8_t* pSector);

// The first of the sectors ullFrom to ullCount - 1 whose mark byte holds a bit of byMask;
// ullCount when none does. Eight marks are tested at a time.
inline uint64_t FindMarkedSector(const uint8_t* pMarks, uint64_t ullFrom, uint64_t ullCount, uint8_t byMask)
{
    const uint64_t ullWideMask = byMask * 0x0101010101010101ull;
    uint64_t i = ullFrom;
    for (; i + 8 <= ullCount; i += 8) {
        uint64_t ullWord;
        memcpy(&ullWord, pMarks + i, sizeof(ullWord));
        if ((ullWord & ullWideMask) != 0)
            break;
    }
    for (; i < ullCount; ++i) {
        if ((pMarks[i] & byMask) != 0)
            return i;
    }
    return ullCount;
}

class CStorageDeviceWithCache : public IStorageDevice, public CEngineObject {
public:
    // Filters a cache can run (one bit of a sector's mark byte each).
    static const int kMaxSectorFilters = 8;

    // pDevice is not owned and must outlive the cache.
    explicit CStorageDeviceWithCache(IStorageDevice* pDevice);
    // Stops the read-ahead threads when they still run.
    ~CStorageDeviceWithCache() override;

    // Sectors per block; forgets the current window (the memory of the next is taken when a
    // block is loaded). Not to be called while the read-ahead runs. Returns 1.
    int SetCacheSize(uint32_t nSectors);
    uint32_t GetCacheSize() const { return m_nBlockSize; }
    // Registers a sector filter; returns its bit number (0 to 7), or -1 when the filter is null,
    // eight are registered already, or blocks were read already (their marks would lack it).
    int AddSectorFilter(PFN_SECTOR_FILTER pfnFilter);
    // Starts reading ahead from the block that holds ullFromSector (clamped to the device): up to
    // two blocks are read on the calling thread, then the thread keeps at most three queued. A
    // device that can be read from several threads at once is read by up to three threads from
    // the first block on, which share each block's slices in order and keep at most two blocks
    // queued (being read or read). Returns false when nothing can be read ahead (no device, no
    // blocks, or already running).
    bool StartPrefetch(uint64_t ullFromSector);
    // The same from the engine's start-position override.
    bool StartPrefetch();
    // Ends the threads and frees whatever is queued. Safe to call more than once.
    void StopPrefetch();
    // Makes block nBlock the window: the next queued block when it is that block, otherwise
    // (asked out of order, or after the read-ahead ended) the block is read directly. 0 when the
    // block lies beyond the device, the window then stays as it was.
    int LoadBlock(uint64_t nBlock);
    bool IsValidBlock(uint64_t nBlock);
    // Index of the block in the window; -1 when there is none.
    int64_t GetWindowBlock() const { return m_llWindowBlock; }
    // The window's bytes for [ullStart, ullStart + ullCount) when wholly inside it, else null; lets
    // a controller look at the current block without copying it.
    const uint8_t* PeekSectors(uint64_t ullStart, uint64_t ullCount) const;
    // The window's mark bytes for the same range (one per sector), else null.
    const uint8_t* PeekSectorMarks(uint64_t ullStart, uint64_t ullCount) const;

    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;
    uint64_t GetTotalSectors() override;
    int GetSectorSize() override;
    int Open() override { return 1; }
    int Close() override { return 1; }

    // Blocks read ahead but not yet loaded, those still being read included (for tests and
    // diagnostics).
    size_t GetQueuedCount();
    // Threads the running read-ahead uses (0 when it does not run).
    int GetReaderCount() const { return static_cast<int>(m_Threads.size()); }

private:
    // A block buffer and the mark bytes of its sectors, allocated together.
    struct BlockBuffer {
        uint8_t* pData;
        uint8_t* pMarks;
    };
    // A block read ahead: the threads claim its slices one at a time, in order, so that they
    // all work on the oldest block and it is whole first.
    struct QueuedBlock {
        BlockBuffer buffer;
        uint64_t ullFirstSector;
        uint32_t nSlicesClaimed;
        uint32_t nSlicesDone;
        // Set once every claimed slice is done and no further one will be: bFailed when a read
        // raised an error (the block's other slices are then never claimed).
        bool bReady;
        bool bFailed;
    };

    void PrefetchThread();
    // Under the lock: claims the next slice to read, queueing a new block when the queued ones
    // are all claimed and there is room. 1 when claimed, 0 when the thread must wait, -1 when it
    // is to end.
    int ClaimSlice(QueuedBlock** ppBlock, uint32_t* pnSlice);
    // Under the lock: marks the block ready when nothing more will be written to it.
    void SettleBlock(QueuedBlock& block);
    uint32_t SlicesPerBlock() const;
    // Reads slice nSlice of the block at ullFirstSector (its sectors past the device's end are
    // zeros) and marks its sectors.
    void ReadSlice(const BlockBuffer& buffer, uint64_t ullFirstSector, uint32_t nSlice);
    // Reads n sectors of the wrapped device (under the device lock unless the device can be read
    // from several threads); a failed read leaves zeros.
    int ReadDevice(uint8_t* pBuffer, uint64_t ullStart, uint64_t ullCount);
    // Reads one block (clamped to the device's end, the rest zero) into a buffer of block size,
    // and marks its sectors.
    void ReadBlock(const BlockBuffer& buffer, uint64_t ullFirstSector);
    void MarkSectors(const uint8_t* pData, uint8_t* pMarks, uint64_t ullCount) const;
    BlockBuffer TakeBuffer();
    // Under the lock: a free buffer, else a new one (its memory is not touched here).
    BlockBuffer TakeBufferLocked();
    void GiveBackBuffer(const BlockBuffer& buffer);
    // Keeps a whole buffer for reuse (the lock held), frees a partial one.
    void RecycleBuffer(const BlockBuffer& buffer);
    void FreeBuffers();
    void FreeQueue();
    // Blocks the threads keep claimed and queued at most.
    size_t QueueLimit() const;

    IStorageDevice* m_pDevice;
    BlockBuffer m_Window;
    uint32_t m_nBlockSize;
    int64_t m_llWindowBlock;
    bool m_bRunning;
    // Set when every thread has ended (read its last block, stopped or failed).
    bool m_bProducerDone;
    // A thread failed: the others claim no further block.
    bool m_bReadFailed;
    int m_nRunningReaders;
    bool m_bConcurrentDevice;
    std::deque<QueuedBlock, CEngineAllocator<QueuedBlock>> m_Queue;
    std::vector<BlockBuffer, CEngineAllocator<BlockBuffer>> m_FreeBuffers;
    std::vector<std::thread, CEngineAllocator<std::thread>> m_Threads;
    PFN_SECTOR_FILTER m_apfnFilters[kMaxSectorFilters];
    int m_nFilters;
    int m_nMaxQueued;
    uint64_t m_ullNextSector;
    uint64_t m_ullTotalSectors;
    // Guards the queue, the free buffers, the next sector while threads run, and the flags above.
    std::mutex m_Lock;
    std::condition_variable m_DataReady;
    std::condition_variable m_SpaceFree;
    // Reads of a wrapped device that cannot be read from several threads at once are made under
    // this lock, from any thread: such a device may position and read in two steps.
    std::mutex m_DeviceLock;
};
