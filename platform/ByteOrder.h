// Little- and big-endian field access for bytes read from a disk. Disk buffers are never cast
// to structs: a field may sit at any offset (FILE records, VBLK records and directory entries
// put 32- and 64-bit fields at odd places) and the on-disk order is fixed whatever the host's
// is, so every field is put together byte by byte. Callers check that the field lies inside
// their buffer before reading or writing it.
#pragma once

#include <cstdint>

namespace rvd {

constexpr uint16_t LoadLE16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

constexpr uint32_t LoadLE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// NTFS file references keep the record number in their low six bytes.
constexpr uint64_t LoadLE48(const uint8_t* p)
{
    return static_cast<uint64_t>(LoadLE32(p)) | (static_cast<uint64_t>(LoadLE16(p + 4)) << 32);
}

constexpr uint64_t LoadLE64(const uint8_t* p)
{
    return static_cast<uint64_t>(LoadLE32(p)) | (static_cast<uint64_t>(LoadLE32(p + 4)) << 32);
}

// The low nBytes bytes of a little-endian number, nBytes in 0..8 (NTFS mapping pairs store
// lengths and offsets in as few bytes as they need). 0 bytes read as 0.
constexpr uint64_t LoadLEBytes(const uint8_t* p, unsigned nBytes)
{
    uint64_t v = 0;
    for (unsigned i = 0; i < nBytes; ++i)
        v |= static_cast<uint64_t>(p[i]) << (8 * i);
    return v;
}

constexpr void StoreLE16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

constexpr void StoreLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr void StoreLE64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The dynamic-disk database and SCSI answers are big-endian.
constexpr uint16_t LoadBE16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

constexpr uint32_t LoadBE32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

constexpr uint64_t LoadBE64(const uint8_t* p)
{
    return (static_cast<uint64_t>(LoadBE32(p)) << 32) | LoadBE32(p + 4);
}

} // namespace rvd
