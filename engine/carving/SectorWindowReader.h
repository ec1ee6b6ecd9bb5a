// Reads a carved candidate's bytes by offset from its first byte, through a window of 512 KiB
// (1,024 sectors) over a sector device. Every length rule of the carving reads through it, so a
// byte-by-byte walk costs one device read per 512 KiB.
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

    // ullBaseSector: the candidate's start sector; offsets count from its first byte.
    SectorWindowReader(IStorageDevice* pDevice, uint64_t ullBaseSector);

    // Pointer to the byte at ullOffset, or null when the window holding it cannot be read or the
    // device ends before that byte. pnValid, when given, receives the number of device bytes from
    // the pointer to the end of what the buffer holds (at least 1). The pointer stays valid until
    // the next read of any reader; up to 512 bytes beyond it may be read (zeros past the device's
    // end).
    const uint8_t* Read(uint64_t ullOffset, size_t* pnValid = nullptr);
    // Pointer to nLength contiguous device bytes from ullOffset (nLength at most WINDOW_BYTES), for
    // records longer than the 512 bytes that Read guarantees (long names, directories, tables):
    // the window is re-based at ullOffset's sector when the span does not lie within it. Null when
    // the device cannot supply all nLength bytes.
    const uint8_t* ReadSpan(uint64_t ullOffset, size_t nLength);

    uint64_t GetBaseSector() const { return m_ullBaseSector; }

private:
    bool HoldsWindow() const;
    // Loads BUFFER_SECTORS sectors from the candidate-relative sector ullRelSector.
    bool Load(uint64_t ullRelSector);
    uint64_t DeviceEndSector();

    IStorageDevice* m_pDevice;
    uint64_t m_ullBaseSector;
    const uint8_t* m_pWindow;    // the shared buffer, or the view's memory read in place
    uint64_t m_ullWindowOffset;  // candidate byte offset of the buffer's first byte
    size_t m_nValid;             // device bytes held from the buffer's start
    uint64_t m_ullGeneration;    // the buffer load this reader's window came from; 0 = none
};
