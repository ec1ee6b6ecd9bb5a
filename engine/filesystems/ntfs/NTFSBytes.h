// Little-endian field access for the NTFS reader's on-disk structures. Callers check that the
// field lies inside their buffer before reading it.
#pragma once

#include <cstdint>

#include "ByteOrder.h"

namespace ntfsbytes {

inline uint16_t U16(const uint8_t* p) { return rvd::LoadLE16(p); }
inline uint32_t U32(const uint8_t* p) { return rvd::LoadLE32(p); }
inline uint64_t U48(const uint8_t* p) { return rvd::LoadLE48(p); }
inline uint64_t U64(const uint8_t* p) { return rvd::LoadLE64(p); }
inline void Put16(uint8_t* p, uint16_t v) { rvd::StoreLE16(p, v); }

} // namespace ntfsbytes
