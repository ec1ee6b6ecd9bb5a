#include "Lznt1Unit.h"

#include <cstring>

#include <libfwnt.h>

namespace tessary {

namespace {

// libfwnt may store one byte at the end of the room it is given before it notices that the
// room is used up, so its output buffer has a little more than it is told.
constexpr size_t OUTPUT_SLACK = 16;

} // namespace

bool DecompressLznt1Unit(const uint8_t* pIn, size_t nIn, uint8_t* pOut, size_t nOut)
{
    std::memset(pOut, 0, nOut);
    uint8_t abyChunk[LZNT1_CHUNK_BYTES + OUTPUT_SLACK];
    size_t nPos = 0;
    for (size_t nOutPos = 0; nOutPos < nOut && nPos + 2 <= nIn; nOutPos += LZNT1_CHUNK_BYTES) {
        const uint16_t wHeader = static_cast<uint16_t>(pIn[nPos] | (pIn[nPos + 1] << 8));
        if (wHeader == 0)
            break;
        const size_t nChunk = 2 + (wHeader & 0x0FFFu) + 1;
        if (nChunk > nIn - nPos)
            return false;
        size_t nDecoded = LZNT1_CHUNK_BYTES;
        libfwnt_error_t* pError = nullptr;
        if (libfwnt_lznt1_decompress(pIn + nPos, nChunk, abyChunk, &nDecoded, &pError) != 1) {
            libfwnt_error_free(&pError);
            return false;
        }
        if (nDecoded > LZNT1_CHUNK_BYTES)
            return false;
        const size_t nRoom = nOut - nOutPos;
        std::memcpy(pOut + nOutPos, abyChunk, nDecoded < nRoom ? nDecoded : nRoom);
        nPos += nChunk;
    }
    return true;
}

} // namespace tessary
