// The read-ahead cache of the block scan: wraps the disk or partition being scanned, and a
// thread of its own reads the area block after block into a queue while the scan analyses the
// current block (the window). The scan moves the window forward with LoadBlock and then reads
// through the cache as through any device; reads outside the window go to the wrapped device.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "EngineMemory.h"
#include "IStorageDevice.h"

class CStorageDeviceWithCache : public IStorageDevice, public CEngineObject {
public:
    // pDevice is not owned and must outlive the cache.
    explicit CStorageDeviceWithCache(IStorageDevice* pDevice);
    // Stops the read-ahead thread when it still runs.
    ~CStorageDeviceWithCache() override;

    // Sectors per block; allocates a zeroed window and forgets the current one. Not to be called
    // while the read-ahead runs. Returns 1.
    int SetCacheSize(uint32_t nSectors);
    uint32_t GetCacheSize() const { return m_nBlockSize; }
    // Starts reading ahead from the block that holds ullFromSector (clamped to the device): up to
    // two blocks are read on the calling thread, then the thread keeps at most three queued.
    // Returns false when nothing can be read ahead (no device, no blocks, or already running).
    bool StartPrefetch(uint64_t ullFromSector);
    // The same from the engine's start-position override.
    bool StartPrefetch();
    // Ends the thread and frees whatever is queued. Safe to call more than once.
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

    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;
    uint64_t GetTotalSectors() override;
    int GetSectorSize() override;
    int Open() override { return 1; }
    int Close() override { return 1; }

    // Blocks read ahead but not yet loaded (for tests and diagnostics).
    size_t GetQueuedCount();

private:
    struct QueuedBlock {
        uint8_t* pData;
        uint64_t ullFirstSector;
    };

    void PrefetchThread();
    // Reads n sectors of the wrapped device under the device lock; a failed read leaves zeros.
    int ReadDevice(uint8_t* pBuffer, uint64_t ullStart, uint64_t ullCount);
    // Reads one block (clamped to the device's end, the rest zero) into a buffer of block size.
    void ReadBlock(uint8_t* pBuffer, uint64_t ullFirstSector);
    uint8_t* TakeBuffer();
    void GiveBackBuffer(uint8_t* pBuffer);
    void FreeQueue();

    IStorageDevice* m_pDevice;
    uint8_t* m_pWindow;
    uint32_t m_nBlockSize;
    int64_t m_llWindowBlock;
    bool m_bRunning;
    // Set by the thread when it has queued its last block or stopped.
    bool m_bProducerDone;
    std::deque<QueuedBlock, CEngineAllocator<QueuedBlock>> m_Queue;
    std::vector<uint8_t*, CEngineAllocator<uint8_t*>> m_FreeBuffers;
    std::thread m_Thread;
    int m_nMaxQueued;
    uint64_t m_ullNextSector;
    uint64_t m_ullTotalSectors;
    // Guards the queue, the free buffers and the two flags above.
    std::mutex m_Lock;
    std::condition_variable m_DataReady;
    std::condition_variable m_SpaceFree;
    // Every read of the wrapped device, from either thread, is made under this lock: a device
    // may position and read in two steps.
    std::mutex m_DeviceLock;
};
