// One NTFS compression unit decompressed: the LZNT1 chunks that a compressed unit's clusters
// hold, each giving up to 4096 bytes of the unit in turn, decoded by libfwnt.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessary {

// Bytes of the unit each LZNT1 chunk stands for.
constexpr size_t LZNT1_CHUNK_BYTES = 4096;

// Fills pOut (nOut bytes, the unit's size) from the nIn bytes of a compressed unit. The chunks
// follow each other from the start; a chunk header of 0, or the end of the input, ends them,
// and what no chunk gives (the rest of a short chunk's 4096 bytes, the chunks after the last)
// is zeros. False when a chunk runs past the input, does not decode, or gives more than 4096
// bytes; pOut then holds the chunks decoded before it, zeros for the rest.
bool DecompressLznt1Unit(const uint8_t* pIn, size_t nIn, uint8_t* pOut, size_t nOut);

} // namespace tessary
