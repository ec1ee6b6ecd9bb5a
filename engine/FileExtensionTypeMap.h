// The built-in file types as the file-system readers see them: a name's extension mapped to the
// type number that the signature carving writes into its carved-file records, so that a named
// file found in a directory can be compared with a file carved at the same sector.
#pragma once

#include <cstddef>
#include <cstdint>

// Highest built-in type number; 0 means no type.
const uint16_t FILE_TYPE_BUILTIN_LAST = 72;

// The extension of a built-in type (upper case, at most 5 characters), "Raw" for 0, or null
// past the table.
const char* GetBuiltinFileTypeExtension(uint16_t wTypeId);

// The type number of the name's extension (case ignored), or 0. Only extensions of 1 to 4
// characters after a dot that is not the name's first character count.
uint16_t GetFileTypeIdFromName(const char* pszName, uint8_t byLength);
uint16_t GetFileTypeIdFromWideName(const char16_t* pwszName, uint8_t byLength);
