// Little-endian field access for the NTFS reader's on-disk structures. Callers check that the
// field lies inside their buffer before reading it.
#pragma once

#include <cstdint>

namespace ntfsbytes {

inline uint16_t U16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t U32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t U48(const uint8_t* p)
{
    return static_cast<uint64_t>(U32(p)) | (static_cast<uint64_t>(U16(p + 4)) << 32);
}

inline uint64_t U64(const uint8_t* p)
{
    return static_cast<uint64_t>(U32(p)) | (static_cast<uint64_t>(U32(p + 4)) << 32);
}

inline void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

} // namespace ntfsbytes
