// Reads a carved candidate's bytes by offset from its first byte, through windows of up to
// 512 KiB (1,024 sectors) over a sector device. Every length rule of the carving reads through it,
// so a byte-by-byte walk costs one device read per 512 KiB.
//
// A window starts at the sector of the byte asked for. A reader's first window is a few sectors
// and each later one twice the last, up to 512 KiB: most hits of a crowded or hostile disk are
// measured from their first bytes, and a disk on which every sector is a hit must not cost a
// 512 KiB copy per hit; a long walk soon reads full windows.
//
// One window buffer of 1,025 sectors serves every reader of the process (the window plus the
// sector after it, so at least 512 addressable bytes follow any pointer that a read returns). A
// reader never hands out bytes of another window: a reader's window is forgotten as soon as any
// reader loads the buffer again, a window that the device can fill only in part is zero-filled
// behind the bytes read and knows how many are valid, and a read beyond them returns null.
// Length measurements run one after the other on one thread; the buffer is not locked. Through
// the scan's view of its runs (CarvingRingView.h), a window lying in one piece of memory is read
// in place instead of being copied into the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

class IStorageDevice;

class SectorWindowReader {
public:
    static const uint64_t WINDOW_BYTES = 0x80000;
    static const uint32_t WINDOW_SECTORS = 1024;
    static const uint32_t BUFFER_SECTORS = WINDOW_SECTORS + 1;
    static const size_t BUFFER_BYTES = static_cast<size_t>(BUFFER_SECTORS) * 512;
    // Sectors of a reader's first window.
    static const uint32_t FIRST_WINDOW_SECTORS = 8;

    // ullBaseSector: the candidate's start sector; offsets count from its first byte.
    SectorWindowReader(IStorageDevice* pDevice, uint64_t ullBaseSector);

    // Pointer to the byte at ullOffset, or null when the window holding it cannot be read or the
    // device ends before that byte. pnValid, when given, receives the number of device bytes from
    // the pointer to the end of what the buffer holds (at least 1); pnWindow the number of bytes
    // from the pointer to the window's end, which a read of any of them answers from the buffer
    // (a scan over them may look 512 bytes further: the sector after the window is held too).
    // The pointer stays valid until the next read of any reader; up to 512 bytes beyond it may be
    // read (zeros past the device's end).
    const uint8_t* Read(uint64_t ullOffset, size_t* pnValid = nullptr, size_t* pnWindow = nullptr);
    // Pointer to nLength contiguous device bytes from ullOffset (nLength at most WINDOW_BYTES), for
    // records longer than the 512 bytes that Read guarantees (long names, directories, tables):
    // the window is re-based at ullOffset's sector when the span does not lie within it. Null when
    // the device cannot supply all nLength bytes.
    const uint8_t* ReadSpan(uint64_t ullOffset, size_t nLength);

    uint64_t GetBaseSector() const { return m_ullBaseSector; }

private:
    bool HoldsWindow() const;
    // Loads nSectors sectors (at most BUFFER_SECTORS) from the candidate-relative sector
    // ullRelSector; the window is all but the last of them.
    bool Load(uint64_t ullRelSector, uint32_t nSectors);
    // Window sectors of the next load; doubles the size of the one after, up to WINDOW_SECTORS.
    uint32_t NextWindowSectors();
    uint64_t DeviceEndSector();

    IStorageDevice* m_pDevice;
    uint64_t m_ullBaseSector;
    const uint8_t* m_pWindow;    // the shared buffer, or the view's memory read in place
    uint64_t m_ullWindowOffset;  // candidate byte offset of the buffer's first byte
    size_t m_nValid;             // device bytes held from the buffer's start
    size_t m_nWindowBytes;       // bytes from the buffer's start that Read serves (the window)
    uint32_t m_nGrowSectors;     // window sectors of the next load
    uint64_t m_ullGeneration;    // the buffer load this reader's window came from; 0 = none
};
