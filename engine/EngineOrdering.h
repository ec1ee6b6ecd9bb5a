// Strict "less than" rules of the engine's sorted containers that are not tied to one record
// type (the carved-file and candidate rules sit beside their records).
#pragma once

#include <cstdint>
#include <string>

// Maps keyed by a sector number: unsigned 64-bit ascending.
struct SectorNumberLess {
    bool operator()(uint64_t a, uint64_t b) const { return a < b; }
};

// Wide names compared without regard to case. File-type extensions are ASCII, so only A-Z
// fold; other code units compare by value.
struct WideNameLessNoCase {
    static char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; }
    bool operator()(const std::u16string& a, const std::u16string& b) const
    {
        size_t n = a.size() < b.size() ? a.size() : b.size();
        for (size_t i = 0; i < n; ++i) {
            char16_t ca = Fold(a[i]), cb = Fold(b[i]);
            if (ca != cb)
                return ca < cb;
        }
        return a.size() < b.size();
    }
};
