// Names for the copies. Every file and folder name comes from a damaged or hostile disk: it may
// hold '/', '\', NUL and control characters, be empty, be "." or "..", or be longer than a
// Linux file system takes. Each one is made into a single harmless path component here before
// it reaches the target.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessary {

// Longest component (in bytes) that Linux file systems take.
constexpr size_t MAX_COMPONENT_BYTES = 255;

// One path component, UTF-8: '/', '\', NUL, the C0 and C1 control characters, DEL and unpaired
// surrogates become '_'; "" becomes "_", "." and ".." get a '_' in front; the result is cut to
// MAX_COMPONENT_BYTES at a character boundary, keeping a short extension.
std::string SanitiseComponent(std::u16string_view strName);

// The name with " (n)" before its extension, still within MAX_COMPONENT_BYTES: the form a name
// takes when another entry of the folder already has it. strName is a SanitiseComponent result.
std::string NumberedName(const std::string& strName, unsigned nNumber);

// The first nMaxBytes bytes of valid UTF-8 text, less any partial character at the end.
std::string CutUtf8(std::string_view strText, size_t nMaxBytes);

} // namespace tessary
