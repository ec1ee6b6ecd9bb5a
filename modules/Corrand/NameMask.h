// The name test of the result store's search. The search dialog's field takes "a file name, part
// of a file name or a file mask": a text with "*" or "?" is a mask that must match the whole
// name, any other text matches every name that contains it. Letters compare without regard to
// case, as names do on the Windows file systems the results come from.
#pragma once

#include <string>
#include <string_view>

namespace corrand {

class CNameMask {
public:
    // An empty mask, "*" and "*.*" match every name.
    explicit CNameMask(std::u16string_view strMask);

    bool Matches(std::u16string_view strName) const;

private:
    enum MASK_KIND { MASK_ALL, MASK_PART, MASK_WILDCARD };
    MASK_KIND m_nKind;
    std::u16string m_strFolded;  // the mask with its letters folded
};

// Simple case folding of one UTF-16 unit for the scripts whose letters have a one-to-one
// upper/lower pair inside the basic plane (Latin, Greek, Cyrillic, Armenian, full-width Latin).
// Other units are returned unchanged.
char16_t FoldCase(char16_t ch);

} // namespace corrand
