// Name conversions of the EXT2/EXT3 reader: UTF-8 as stored on disk, UTF-16 with surrogate
// pairs, and the system's ANSI code page, which on this platform is UTF-8 itself (so a name's
// UTF-8 -> UTF-16 -> ANSI round trip gives back the stored bytes of every valid name).
//
// All routines take counted input (no terminator is looked for), never write more than the
// output size given and write no terminating zero. Null buffers or zero counts give 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "XCharError.h"

namespace dnc {

// UTF-8 -> UTF-16. Returns the number of units written, 0 for invalid input: a stray
// continuation byte, a bad trailing byte, an overlong form, an encoded surrogate or a value
// past U+10FFFF (the reader then keeps the name's stored bytes). Conversion stops early, with
// the units so far, at a sequence cut off by the end of the input or at a character that no
// longer fits the output.
size_t Utf8ToUtf16(const char* pIn, size_t nInCount, char16_t* pOut, size_t nOutCount);

// UTF-16 -> UTF-8. Returns the number of bytes written; stops at the first character that does
// not fit, or at a high surrogate that ends the input. An unpaired surrogate is written as
// U+FFFD, and the unit after an unpaired high surrogate is converted on its own.
size_t Utf16ToUtf8(const char16_t* pIn, size_t nInCount, char* pOut, size_t nOutSize);

// UTF-8 -> UTF-16 -> ANSI code page; 0 on invalid input or when the result does not fit.
size_t Utf8ToAnsi(const char* pIn, size_t nInCount, char* pOut, size_t nOutSize);

// ANSI code page -> UTF-16 -> UTF-8; 0 on failure.
size_t AnsiToUtf8(const char* pIn, size_t nInCount, char* pOut, size_t nOutSize);

// ANSI bytes -> UTF-16 units, as MultiByteToWideChar: invalid bytes become U+FFFD; an output
// size of 0 asks for the units needed; a result that does not fit gives -1, as does no input.
int AnsiToWide(const char* pIn, size_t nInCount, char16_t* pOut, size_t nOutSize);

// UTF-16 units -> ANSI bytes, as WideCharToMultiByte: unpaired surrogates become U+FFFD; an
// output size of 0 asks for the bytes needed; a result that does not fit gives 0.
int WideToAnsi(const char16_t* pIn, size_t nInCount, char* pOut, size_t nOutSize);

// Writes the UTF-8 form of a 31-bit value (1 to 6 bytes; pOut must hold 6) and returns its
// length. Throws XCharError with the value for one above 0x7FFFFFFF.
int EncodeUtf8Char(uint32_t uCodePoint, char* pOut);

} // namespace dnc
