// The ring of the most recent chunks that the carving scan has read: a sector device over
// memory, so that the carving analysers can measure a file that starts in an older chunk by
// reading on through the chunks after it, without touching the disk again.
//
// Sectors are 512-byte units here as everywhere (the ring stores 512 bytes per sector, whatever
// sector size the device reports). The held range is [GetWindowStart(), GetWindowStart() +
// GetTotalSectors()); a read outside it fails and copies nothing.
#pragma once

#include <cstdint>

#include "EngineMemory.h"
#include "IStorageDevice.h"
#include "WinTypes.h"

class CBufferStorageDevice : public IStorageDevice, public CEngineObject {
public:
    CBufferStorageDevice();
    ~CBufferStorageDevice() override;

    // Allocates a ring of nChunkSectors x nChunkCount sectors (readable only where chunks were
    // appended) whose oldest sector will be ullFirstSector; forgets anything held before, so it
    // may be called again to restart the ring at another sector. nSectorSize <= 0 is taken as
    // 512. FALSE (nothing held) when a size is 0 or the ring would be larger than 4 GiB sectors.
    BOOL Init(uint64_t ullFirstSector, int nSectorSize, uint32_t nChunkSectors, uint32_t nChunkCount);
    // Copies one chunk (nChunkSectors x 512 bytes) in: the held range grows by one chunk while
    // the ring fills, then slides on by one chunk and the oldest chunk is overwritten.
    void Append(const uint8_t* pChunk);
    // Copies nCount sectors (at most the ring's size) in after those held, the same way: the
    // ring may then hold a part of a chunk at either end.
    void AppendSectors(const uint8_t* pSectors, uint32_t nCount);
    bool IsFull() const;
    bool IsInitialized() const { return m_bInitialized != 0; }
    // First held sector.
    uint64_t GetWindowStart() const { return m_llWindowStart; }
    uint32_t GetChunkSectors() const { return m_nChunkSectors; }
    // Sector just after the held range.
    uint64_t GetWindowEnd() const { return m_llWindowStart + m_llHeldSectors; }

    // The held range's bytes in place, when it lies wholly among the held sectors and does not
    // wrap round the ring's end; null otherwise. Valid until the next Append or Init.
    const uint8_t* PeekSectors(uint64_t u64StartSector, uint64_t u64SectorCount) const;
    // 1 only for a range that lies wholly among the held sectors.
    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;
    // Number of sectors held (not the number of the last one + 1).
    uint64_t GetTotalSectors() override { return m_llHeldSectors; }
    int GetSectorSize() override { return m_nSectorSize > 0 ? m_nSectorSize : 512; }
    int Open() override { return 1; }
    // Frees the ring; nothing is held afterwards.
    int Close() override;

private:
    void Release();

    uint8_t* m_pRing;
    int32_t m_bInitialized;
    uint64_t m_llWindowStart;
    uint64_t m_llHeldSectors;
    uint32_t m_nWritePos;
    uint32_t m_nChunkSectors;
    uint32_t m_nChunkCount;
    uint32_t m_nRingSectors;
};
