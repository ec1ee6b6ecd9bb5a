// Little-endian field access for the FAT reader's on-disk structures. Callers check that the
// field lies inside their buffer before reading it.
#pragma once

#include <cstdint>

namespace fatbytes {

inline uint16_t U16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t U32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace fatbytes
