// Little-endian field access for the FAT reader's on-disk structures. Callers check that the
// field lies inside their buffer before reading it.
#pragma once

#include <cstdint>

#include "ByteOrder.h"

namespace fatbytes {

inline uint16_t U16(const uint8_t* p) { return rvd::LoadLE16(p); }
inline uint32_t U32(const uint8_t* p) { return rvd::LoadLE32(p); }

} // namespace fatbytes
