// Text conversion between the program's two text forms: narrow text is UTF-8 (it plays the part
// of the system's ANSI code page) and wide text is UTF-16 in char16_t units.
//
// Valid input always converts without loss and round-trips exactly. Invalid input never fails
// and never stops a conversion: each maximal ill-formed subsequence of UTF-8 (the Unicode
// recommended practice: a lead byte with the continuation bytes that could still have belonged
// to it) and each unpaired UTF-16 surrogate becomes one replacement, by default U+FFFD. Overlong
// UTF-8 forms, encoded surrogates (ED A0..BF xx) and values above U+10FFFF are ill-formed, so a
// name read from a damaged disk can never smuggle a NUL or a '/' past a check in a disguised form.
//
// The single-byte decoders are for bytes that were written by DOS-era software (FAT short names,
// raw sector views), where every byte stands for one character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rvd {

inline constexpr char16_t kReplacementChar = 0xFFFD;
inline constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// UTF-8 -> UTF-16; ill-formed subsequences become chReplacement.
std::u16string Utf8ToUtf16(std::string_view strUtf8, char16_t chReplacement = kReplacementChar);

// Bytes that are UTF-8 where they can be (names of file systems that store bytes in whatever
// encoding their system used) -> UTF-16: well-formed sequences decode as UTF-8, and each byte of
// an ill-formed subsequence becomes the ISO 8859-1 character of its value (U+0080 to U+00FF, or
// the byte itself below 0x80), so names that differ only in such bytes stay apart and a Latin-1
// name reads as written. Like the replacement, no such byte turns into NUL or '/'.
std::u16string Utf8OrLatin1ToUtf16(std::string_view strBytes);

// UTF-16 -> UTF-8; unpaired surrogates become strReplacement (e.g. "_" where a name must stay
// plain text).
std::string Utf16ToUtf8(std::u16string_view strUtf16,
                        std::string_view strReplacement = kReplacementUtf8);

// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view strBytes);

// True when every surrogate in the units is part of a well-ordered pair.
bool IsValidUtf16(std::u16string_view strUnits);

// ISO 8859-1: each byte is the code point of the same value.
std::u16string Latin1ToUtf16(std::string_view strBytes);

// Code page 437 (the OEM code page of DOS). Bytes 0x00-0x1F and 0x7F are the control characters
// of the same value unless bGlyphsForControls is set, in which case they become the glyphs that
// the PC character set draws for them (smileys, arrows, the house for 0x7F), as a byte viewer
// shows them. Byte 0x00 stays U+0000 either way.
std::u16string Cp437ToUtf16(std::string_view strBytes, bool bGlyphsForControls = false);

// Length of a zero-terminated wide text (no more than nMax units are examined).
size_t WideLength(const char16_t* pszText, size_t nMax = static_cast<size_t>(-1));

} // namespace rvd
